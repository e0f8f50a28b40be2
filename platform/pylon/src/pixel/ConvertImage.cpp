// Conversion engine: format decisions are made here once per image; the per-line work is
// done by the kernels of LineKernels.h and Demosaic.h.
#include "ConvertImage.h"

#include <cstring>

#include "Demosaic.h"
#include "LineKernels.h"

namespace Pylon::pixel {

namespace {

using RawLineFn = void (*)(const uint8_t*, uint32_t, uint16_t*) noexcept;
using ColourLineFn = void (*)(const uint8_t*, uint32_t, uint8_t*) noexcept;

RawLineFn raw_reader(SourceReader::Samples samples) noexcept
{
    using S = SourceReader::Samples;
    switch (samples) {
    case S::U8: return &widen_u8;
    case S::S8: return &widen_s8;
    case S::U16: return &copy_u16;
    case S::TwoInThree10: return &unpack_two_in_three<10>;
    case S::TwoInThree12: return &unpack_two_in_three<12>;
    case S::Lsb10: return &unpack_lsb_stream<10>;
    case S::Lsb12: return &unpack_lsb_stream<12>;
    }
    return &widen_u8;
}

ColourLineFn colour_reader(SourceReader::Colour colour) noexcept
{
    using C = SourceReader::Colour;
    switch (colour) {
    case C::RGB8: return &colour8_to_rgb<3, 0, 2>;
    case C::BGR8: return &colour8_to_rgb<3, 2, 0>;
    case C::RGBA8: return &colour8_to_rgb<4, 0, 2>;
    case C::BGRA8: return &colour8_to_rgb<4, 2, 0>;
    case C::UYVY: return &yuv422_to_rgb<1, 3, 0, 2>;
    case C::YUYV: return &yuv422_to_rgb<0, 2, 1, 3>;
    }
    return &colour8_to_rgb<3, 0, 2>;
}

// Luminance straight from the source line (YUV carries it as Y).
ColourLineFn colour_luma_reader(SourceReader::Colour colour) noexcept
{
    using C = SourceReader::Colour;
    switch (colour) {
    case C::RGB8: return &colour8_to_luma<3, 0, 2>;
    case C::BGR8: return &colour8_to_luma<3, 2, 0>;
    case C::RGBA8: return &colour8_to_luma<4, 0, 2>;
    case C::BGRA8: return &colour8_to_luma<4, 2, 0>;
    case C::UYVY: return &yuv422_luma<1>;
    case C::YUYV: return &yuv422_luma<0>;
    }
    return &colour8_to_luma<3, 0, 2>;
}

template <typename T>
T* grow(std::vector<T>& v, size_t n)
{
    if (v.size() < n)
        v.resize(n);
    return v.data();
}

// Output lines of 16-bit words go straight to the caller's buffer when it is aligned for
// them, else through a line buffer.
struct WordLineSink {
    uint16_t* line_buffer;
    bool aligned;
    uint16_t* line(uint8_t* row) const noexcept
    {
        return aligned ? reinterpret_cast<uint16_t*>(row) : line_buffer;
    }
    void commit(uint8_t* row, const uint16_t* words, uint32_t w) const noexcept
    {
        if (words != reinterpret_cast<const uint16_t*>(row))
            std::memcpy(row, words, size_t{w} * 2);
    }
};

// ---- Mono sources ----------------------------------------------------------------------

void convert_mono(const SourceReader& r, const ConvertJob& job, std::vector<uint8_t>& bytes,
                  std::vector<uint16_t>& words)
{
    const uint32_t w = job.width;
    const RawLineFn raw = raw_reader(r.samples);
    const int d = static_cast<int>(r.depth);
    uint16_t* tmp16 = grow(words, 2 * size_t{w});

    if (job.output == PixelType_Mono16) {
        const WordLineSink sink{tmp16 + w, reinterpret_cast<uintptr_t>(job.dst) % alignof(uint16_t) == 0};
        for (uint32_t y = 0; y < job.height; ++y) {
            uint8_t* row = job.dst + size_t{y} * w * 2;
            uint16_t* o = sink.line(row);
            raw(job.src + y * job.src_stride, w, o);
            scale_u16_inplace(o, w, job.shift);
            sink.commit(row, o, w);
        }
        return;
    }

    // Mono8 and RGB8: the 8 most significant of the d bits after the shift.
    const int k = job.shift + 8 - d;
    const bool rgb = job.output == PixelType_RGB8packed;
    if (!rgb && k == 0 && r.samples == SourceReader::Samples::U8 && job.src_stride == w) {
        // Unchanged gapless 8-bit lines: one copy of the whole image.
        std::memmove(job.dst, job.src, size_t{w} * job.height);
        return;
    }
    uint8_t* tmp8 = grow(bytes, w);
    for (uint32_t y = 0; y < job.height; ++y) {
        const uint8_t* line = job.src + y * job.src_stride;
        uint8_t* o = rgb ? tmp8 : job.dst + size_t{y} * w;
        if (r.samples == SourceReader::Samples::U8) {
            scale_u8(line, w, o, k);
        } else if (r.samples == SourceReader::Samples::S8) {
            flip_sign_u8(line, w, o);
            scale_u8(o, w, o, k);
        } else if (r.samples == SourceReader::Samples::U16 && reinterpret_cast<uintptr_t>(line) % 2 == 0) {
            // Aligned 16-bit lines are read in place.
            scale_u16_to_u8(reinterpret_cast<const uint16_t*>(line), w, o, k);
        } else {
            raw(line, w, tmp16);
            scale_u16_to_u8(tmp16, w, o, k);
        }
        if (rgb)
            grey_to_rgb(tmp8, w, job.dst + size_t{y} * w * 3);
    }
}

// ---- Bayer sources -------------------------------------------------------------------

char bayer_colour(EBayerPattern p, unsigned x, unsigned y) noexcept
{
    // Colours of (0,0), (1,0), (0,1), (1,1).
    const char* quad = "RGGB";
    switch (p) {
    case EBayerPattern::GR: quad = "GRBG"; break;
    case EBayerPattern::RG: quad = "RGGB"; break;
    case EBayerPattern::GB: quad = "GBRG"; break;
    case EBayerPattern::BG: quad = "BGGR"; break;
    case EBayerPattern::None: break;
    }
    return quad[(y & 1) * 2 + (x & 1)];
}

// Mirrors an out-of-image line index onto one of the same colour parity.
uint32_t mirror(int64_t i, uint32_t n) noexcept
{
    if (i < 0)
        return n > 1 ? 1 : 0;
    if (i >= n)
        return n > 1 ? n - 2 : 0;
    return static_cast<uint32_t>(i);
}

// T: sample type of the demosaiced values (uint8_t for Mono8/RGB8 outputs, uint16_t for
// Mono16). The source lines are scaled into the output range before demosaicing.
template <typename T>
void convert_bayer(const SourceReader& r, const ConvertJob& job, std::vector<uint8_t>& bytes,
                   std::vector<uint16_t>& words)
{
    const uint32_t w = job.width;
    const size_t ring_stride = size_t{w} + 2;
    const RawLineFn raw = raw_reader(r.samples);
    const int k = sizeof(T) == 1 ? job.shift + 8 - static_cast<int>(r.depth) : job.shift;

    // The ring of three mirrored lines in T; a raw 16-bit line; for T = uint16_t also the
    // luminance line (Mono16 output goes through it when the output is not aligned).
    T* ring;
    uint16_t* raw_line;
    uint16_t* luma16;
    if constexpr (sizeof(T) == 1) {
        ring = grow(bytes, 3 * ring_stride);
        raw_line = grow(words, size_t{w});
        luma16 = nullptr;
    } else {
        uint16_t* b = grow(words, 3 * ring_stride + 2 * size_t{w});
        ring = b;
        raw_line = b + 3 * ring_stride;
        luma16 = raw_line + w;
    }
    const WordLineSink sink{luma16, reinterpret_cast<uintptr_t>(job.dst) % alignof(uint16_t) == 0};

    int64_t loaded[3] = {-1, -1, -1};
    auto load = [&](uint32_t row) -> const T* {
        const unsigned slot = row % 3;
        T* L = ring + slot * ring_stride;
        if (loaded[slot] != row) {
            loaded[slot] = row;
            const uint8_t* line = job.src + row * job.src_stride;
            if constexpr (sizeof(T) == 1) {
                if (r.samples == SourceReader::Samples::U8) {
                    scale_u8(line, w, L + 1, k);
                } else {
                    raw(line, w, raw_line);
                    scale_u16_to_u8(raw_line, w, L + 1, k);
                }
            } else {
                raw(line, w, L + 1);
                scale_u16_inplace(L + 1, w, k);
            }
            if (w >= 2) {
                L[0] = L[2];
                L[w + 1] = L[w - 1];
            } else {
                L[0] = L[w + 1] = L[1];
            }
        }
        return L + 1;
    };

    const bool rgb_out = job.output == PixelType_RGB8packed;
    // Mono outputs take the luminance straight from the mosaic.
    auto line_fn = [rgb_out](char first, char second) {
        return rgb_out ? demosaic_line_for<T>(first, second) : demosaic_luma_line_for<T>(first, second);
    };
    const DemosaicLineFn<T> even_line = line_fn(bayer_colour(r.bayer, 0, 0), bayer_colour(r.bayer, 1, 0));
    const DemosaicLineFn<T> odd_line = line_fn(bayer_colour(r.bayer, 0, 1), bayer_colour(r.bayer, 1, 1));

    for (uint32_t y = 0; y < job.height; ++y) {
        const T* a = load(mirror(int64_t{y} - 1, job.height));
        const T* c = load(y);
        const T* b = load(mirror(int64_t{y} + 1, job.height));
        const DemosaicLineFn<T> fn = (y & 1) ? odd_line : even_line;
        if constexpr (sizeof(T) == 1) {
            fn(a, c, b, w, job.dst + size_t{y} * w * (rgb_out ? 3 : 1));
        } else {
            uint8_t* row = job.dst + size_t{y} * w * 2;
            uint16_t* o = sink.line(row);
            fn(a, c, b, w, o);
            sink.commit(row, o, w);
        }
    }
}

// ---- 8-bit colour sources ----------------------------------------------------------------

void convert_colour(const SourceReader& r, const ConvertJob& job, std::vector<uint8_t>& bytes,
                    std::vector<uint16_t>& words)
{
    const uint32_t w = job.width;
    const ColourLineFn to_rgb = colour_reader(r.colour);
    const ColourLineFn to_luma = colour_luma_reader(r.colour);
    uint8_t* luma = grow(bytes, size_t{w});
    const WordLineSink sink{grow(words, size_t{w}), reinterpret_cast<uintptr_t>(job.dst) % alignof(uint16_t) == 0};

    for (uint32_t y = 0; y < job.height; ++y) {
        const uint8_t* line = job.src + y * job.src_stride;
        if (job.output == PixelType_RGB8packed) {
            uint8_t* o = job.dst + size_t{y} * w * 3;
            to_rgb(line, w, o);
            scale_u8(o, 3 * size_t{w}, o, job.shift);
        } else if (job.output == PixelType_Mono8) {
            uint8_t* o = job.dst + size_t{y} * w;
            to_luma(line, w, o);
            scale_u8(o, w, o, job.shift);
        } else {
            uint8_t* row = job.dst + size_t{y} * w * 2;
            uint16_t* o = sink.line(row);
            to_luma(line, w, luma);
            scale_u8_to_u16(luma, w, o, job.shift);
            sink.commit(row, o, w);
        }
    }
}

} // namespace

bool describe_source(EPixelType type, SourceReader& reader) noexcept
{
    using S = SourceReader::Samples;
    using K = SourceReader::Kind;
    using Col = SourceReader::Colour;
    const SPixelFormatInfo* info = FindPixelFormat(type);
    if (info == nullptr)
        return false;
    reader = SourceReader{};
    reader.depth = info->bitDepth;
    reader.bayer = info->bayer;

    switch (info->colour) {
    case EPixelColour::Mono:
    case EPixelColour::Bayer:
        reader.kind = info->colour == EPixelColour::Mono ? K::Mono : K::Bayer;
        if (type == PixelType_Double)
            return false;
        switch (info->packing) {
        case EPixelPacking::None:
            if (info->bitsPerPixel == 8)
                reader.samples = type == PixelType_Mono8signed ? S::S8 : S::U8;
            else if (info->bitsPerPixel == 16)
                reader.samples = S::U16;
            else
                return false;
            return true;
        case EPixelPacking::TwoInThree:
            reader.samples = info->bitDepth == 10 ? S::TwoInThree10 : S::TwoInThree12;
            return true;
        case EPixelPacking::LsbStream:
            if (info->bitDepth == 10)
                reader.samples = S::Lsb10;
            else if (info->bitDepth == 12)
                reader.samples = S::Lsb12;
            else
                return false;
            return true;
        default:
            return false;
        }
    case EPixelColour::RGB:
    case EPixelColour::BGR:
    case EPixelColour::RGBA:
    case EPixelColour::BGRA:
        if (info->bitDepth != 8 || info->packing != EPixelPacking::None)
            return false;
        reader.kind = K::Colour;
        reader.colour = info->colour == EPixelColour::RGB   ? Col::RGB8
                        : info->colour == EPixelColour::BGR ? Col::BGR8
                        : info->colour == EPixelColour::RGBA ? Col::RGBA8
                                                             : Col::BGRA8;
        return true;
    case EPixelColour::YUV422_UYVY:
        reader.kind = K::Colour;
        reader.colour = Col::UYVY;
        return true;
    case EPixelColour::YUV422_YUYV:
        reader.kind = K::Colour;
        reader.colour = Col::YUYV;
        return true;
    default:
        return false;
    }
}

void convert_image(const SourceReader& reader, const ConvertJob& job, std::vector<uint8_t>& bytes,
                   std::vector<uint16_t>& words)
{
    if (job.width == 0 || job.height == 0)
        return;
    switch (reader.kind) {
    case SourceReader::Kind::Mono:
        convert_mono(reader, job, bytes, words);
        break;
    case SourceReader::Kind::Bayer:
        if (job.output == PixelType_Mono16)
            convert_bayer<uint16_t>(reader, job, bytes, words);
        else
            convert_bayer<uint8_t>(reader, job, bytes, words);
        break;
    case SourceReader::Kind::Colour:
        convert_colour(reader, job, bytes, words);
        break;
    }
}

} // namespace Pylon::pixel
