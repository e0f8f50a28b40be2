// Produces the frames of an emulated camera. The lines of a geometry, pixel format and
// brightness are prepared once; a frame is then one copy per line plus the few bytes
// that carry the frame number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <GenICam/GCException.h>
#include <pylon/PixelFormatTable.h>

namespace Pylon::Emulator {

struct PatternKey {
    EPixelType type = PixelType_Undefined;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t offsetX = 0;
    uint32_t offsetY = 0;
    uint32_t binningH = 1;
    uint32_t binningV = 1;
    uint32_t brightness = 1000; // per mille of the reference exposure
    bool operator==(const PatternKey&) const = default;
};

class CFramePattern {
public:
    // Prepares the lines for `key` (nothing when the key is unchanged). Throws
    // InvalidArgumentException for a pixel type the pattern cannot produce.
    void Prepare(const PatternKey& key);
    const PatternKey& Key() const { return key_; }
    // Bytes of one frame.
    size_t FrameSize() const { return stride_ * key_.height; }
    // Writes frame `frameNumber` into `destination`; returns the bytes written (cut at capacity).
    size_t Write(uint64_t frameNumber, uint8_t* destination, size_t capacity) const;

private:
    PatternKey key_;
    const SPixelFormatInfo* info_ = nullptr;
    size_t stride_ = 0;
    std::vector<std::vector<uint8_t>> lines_; // doubled lines (width + period pixels), by line kind
    uint32_t number_pixels_ = 0;              // pixels of the first line that carry the frame number
};

} // namespace Pylon::Emulator
