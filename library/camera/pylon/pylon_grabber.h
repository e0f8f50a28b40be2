// One grab buffer registered with a location's stream grabber.
#pragma once

#include <cstddef>
#include <cstdint>

#include <pylon/PylonIncludes.h>

class CGrabBuffer {
public:
    explicit CGrabBuffer(size_t size);
    ~CGrabBuffer();
    CGrabBuffer(const CGrabBuffer&) = delete;
    CGrabBuffer& operator=(const CGrabBuffer&) = delete;

    uint8_t* GetBufferPointer() { return m_pBuffer; }
    Pylon::StreamBufferHandle GetBufferHandle() { return m_hBuffer; }
    void SetBufferHandle(Pylon::StreamBufferHandle hBuffer) { m_hBuffer = hBuffer; }

protected:
    uint8_t* m_pBuffer = nullptr;
    Pylon::StreamBufferHandle m_hBuffer = nullptr;
};
