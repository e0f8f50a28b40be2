// The conversion engine behind CImageFormatConverter: picks the line kernels for a
// source/output pair once, then runs them line by line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <pylon/PixelFormatTable.h>
#include <pylon/PixelType.h>

namespace Pylon::pixel {

// How the converter reads a source type.
struct SourceReader {
    enum class Samples : uint8_t { U8, S8, U16, TwoInThree10, TwoInThree12, Lsb10, Lsb12 };
    enum class Colour : uint8_t { RGB8, BGR8, RGBA8, BGRA8, UYVY, YUYV };
    enum class Kind : uint8_t { Mono, Bayer, Colour };

    Kind kind = Kind::Mono;
    Samples samples = Samples::U8; // Mono and Bayer
    Colour colour = Colour::RGB8;  // Colour
    unsigned depth = 8;            // significant bits per sample
    EBayerPattern bayer = EBayerPattern::None;
};

// False when the converter cannot read the type.
bool describe_source(EPixelType type, SourceReader& reader) noexcept;

struct ConvertJob {
    uint8_t* dst = nullptr;       // width * height pixels of `output`, no padding
    const uint8_t* src = nullptr; // height lines of `src_stride` bytes
    size_t src_stride = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    EPixelType output = PixelType_Mono8; // Mono8, Mono16 or RGB8packed
    int shift = 0;                       // additional left shift
};

// Line buffers are taken from `bytes` and `words`, grown as needed.
void convert_image(const SourceReader& reader, const ConvertJob& job, std::vector<uint8_t>& bytes,
                   std::vector<uint16_t>& words);

} // namespace Pylon::pixel
