// Converts images of a camera pixel type into Mono8, Mono16 or RGB8packed.
//
// Use:
//   CImageFormatConverter conv;
//   conv.Initialize(PixelType_Mono12packed);     // AccessException for an unsupported source
//   conv.OutputPixelFormat = PixelType_Mono8;    // Mono8, Mono16 or RGB8packed
//   conv.AdditionalLeftShift = 0;
//   conv.Convert(dst, dstSize, image);           // image: any IImage of the initialised type
//
// Values. Let d be the source's significant bits per channel (BitDepth) and s the
// AdditionalLeftShift:
//   Mono8 and RGB8packed outputs take the 8 most significant of the d bits after shifting
//   the value left by s: out = min(value << s >> (d - 8), 255); a negative s shifts right.
//   So s = 0 maps Mono12 bits 11..4 to the output, s = 4 takes bits 7..0 and saturates
//   brighter pixels, making faint signals visible.
//   Mono16 output holds the raw value, LSB-aligned (Mono12 gives 0..4095, 8-bit colour
//   sources give their 8-bit luminance), shifted by s and saturated at 65535.
// Colour to mono gives the luminance (R*77 + G*150 + B*29 + 128) / 256 (YUV sources: their
// Y); mono to RGB repeats the grey value in the three channels. Bayer sources are demosaiced
// bilinearly (edges mirrored); their mono output is the luminance of the demosaiced colour.
// YUV to RGB uses the full-range BT.601 equations. The alpha channel of RGBA/BGRA is dropped.
//
// Supported sources: Mono8, Mono8signed (offset by 128), Mono10, Mono10packed, Mono10p,
// Mono12, Mono12packed, Mono12p, Mono16, Bayer GR/RG/GB/BG in 8, 10, 10p, 12, 12p, 12Packed
// and 16 bits, RGB8packed, BGR8packed, RGBA8packed, BGRA8packed, YUV422packed (UYVY) and
// YUV422_YUYV_Packed. Output lines have no padding.
//
// Not thread-safe: one thread converts at a time (the converter keeps line buffers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <GenICam/GCException.h>
#include <pylon/Image.h>
#include <pylon/PixelType.h>

namespace Pylon {

// The output pixel format parameter: PixelType_Mono8 (default), PixelType_Mono16 or
// PixelType_RGB8packed. Assigning another type throws InvalidArgumentException.
class COutputPixelFormatParameter {
public:
    COutputPixelFormatParameter& operator=(EPixelType value)
    {
        SetValue(value);
        return *this;
    }
    void SetValue(EPixelType value);
    EPixelType GetValue() const noexcept { return value_; }
    operator EPixelType() const noexcept { return value_; }
    static bool IsSupported(EPixelType value) noexcept;
    // SDK name of the present value, e.g. "Mono8".
    GenICam::gcstring ToString() const;

private:
    EPixelType value_ = PixelType_Mono8;
};

// An integer parameter with inclusive limits; assigning a value outside them throws
// OutOfRangeException naming the parameter and the limits.
class CIntegerParameterValue {
public:
    CIntegerParameterValue(const char* name, int64_t min, int64_t max, int64_t value) noexcept
        : name_(name), min_(min), max_(max), value_(value) {}
    CIntegerParameterValue& operator=(int64_t value)
    {
        SetValue(value);
        return *this;
    }
    void SetValue(int64_t value);
    int64_t GetValue() const noexcept { return value_; }
    int64_t GetMin() const noexcept { return min_; }
    int64_t GetMax() const noexcept { return max_; }
    operator int64_t() const noexcept { return value_; }

private:
    const char* name_;
    int64_t min_;
    int64_t max_;
    int64_t value_;
};

class CImageFormatConverter {
public:
    CImageFormatConverter() = default;
    CImageFormatConverter(const CImageFormatConverter&) = delete;
    CImageFormatConverter& operator=(const CImageFormatConverter&) = delete;
    ~CImageFormatConverter() = default;

    // Prepares the converter for sources of one pixel type. Throws AccessException naming
    // the type when the converter cannot read it.
    void Initialize(EPixelType sourcePixelType);
    // True when initialised for exactly this source type.
    bool IsInitialized(EPixelType sourcePixelType) const noexcept;
    bool IsInitialized() const noexcept { return source_ != PixelType_Undefined; }
    void Uninitialize() noexcept;
    // Whether Initialize accepts the type.
    static bool IsSupportedInputFormat(EPixelType sourcePixelType) noexcept;

    // Output bytes for a source of this size in the present output format.
    size_t GetBufferSizeForConversion(EPixelType sourcePixelType, uint32_t width, uint32_t height) const;
    size_t GetBufferSizeForConversion(const IImage& source) const;

    // Converts into `dst`, which holds `dstSize` bytes. Throws LogicalErrorException when the
    // converter is not initialised or the source's type differs from the initialised one,
    // InvalidArgumentException for an invalid image, OutOfRangeException (naming both
    // sizes) when `dst` or the source buffer is too small. Never writes past dstSize.
    void Convert(void* dst, size_t dstSize, const IImage& source);
    void Convert(void* dst, size_t dstSize, const void* src, size_t srcSize, EPixelType sourcePixelType,
                 uint32_t width, uint32_t height, size_t paddingX);

    COutputPixelFormatParameter OutputPixelFormat;
    // Extra left shift before the output's bits are taken (negative: right shift), -31..31.
    CIntegerParameterValue AdditionalLeftShift{"AdditionalLeftShift", -31, 31, 0};

private:
    // Used by one thread at a time, like the whole converter.
    EPixelType source_ = PixelType_Undefined;
    std::vector<uint8_t> bytes_;  // 8-bit line buffers, reused between conversions
    std::vector<uint16_t> words_; // 16-bit line buffers, reused between conversions
};

} // namespace Pylon
