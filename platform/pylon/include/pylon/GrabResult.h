// Result of one grab: the buffer that came back from the stream with its status and
// the frame's geometry.
#pragma once

#include <cstdint>

#include <pylon/PixelType.h>
#include <pylon/PylonBase.h>

namespace Pylon {

using StreamBufferHandle = void*;

enum EGrabStatus { _UndefinedGrabStatus = -1, Idle, Queued, Grabbed, Canceled, Failed };

class GrabResult {
public:
    EGrabStatus Status() const { return m_Status; }
    bool Succeeded() const { return m_Status == Grabbed; }
    StreamBufferHandle Handle() const { return m_hBuffer; }
    const void* Context() const { return m_pContext; }
    void* Buffer() const { return m_pBuffer; }
    EPixelType GetPixelType() const { return m_PixelType; }
    int32_t GetSizeX() const { return m_SizeX; }
    int32_t GetSizeY() const { return m_SizeY; }
    int32_t GetOffsetX() const { return m_OffsetX; }
    int32_t GetOffsetY() const { return m_OffsetY; }
    int32_t GetPaddingX() const { return m_PaddingX; }
    int64_t GetPayloadSize() const { return m_PayloadSize; }
    uint32_t GetErrorCode() const { return m_ErrorCode; }
    String_t GetErrorDescription() const { return m_ErrorDescription; }
    uint64_t GetBlockID() const { return m_BlockID; }
    uint64_t GetTimeStamp() const { return m_TimeStamp; }

    EGrabStatus m_Status = _UndefinedGrabStatus;
    StreamBufferHandle m_hBuffer = nullptr;
    const void* m_pContext = nullptr;
    void* m_pBuffer = nullptr;
    EPixelType m_PixelType = PixelType_Undefined;
    int32_t m_SizeX = 0;
    int32_t m_SizeY = 0;
    int32_t m_OffsetX = 0;
    int32_t m_OffsetY = 0;
    int32_t m_PaddingX = 0;
    int64_t m_PayloadSize = 0; // bytes written into the buffer
    uint32_t m_ErrorCode = 0;
    String_t m_ErrorDescription;
    uint64_t m_BlockID = 0;    // frame number, counting from 1 since acquisition start
    uint64_t m_TimeStamp = 0;  // ns of the camera clock
};

} // namespace Pylon
