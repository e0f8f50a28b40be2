// Line kernels of the image format converter: each turns one line of samples into another
// with a loop free of format branches, so that the compiler can vectorise it. Format
// decisions are taken once per conversion, when the kernels are chosen.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "SimdKernels.h"

namespace Pylon::pixel {

// 16-bit little-endian words at any address (the host is little-endian x86-64).
inline uint16_t load_u16(const uint8_t* p) noexcept
{
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store_u16(uint8_t* p, uint16_t v) noexcept { std::memcpy(p, &v, sizeof v); }

// ---- Source lines to 16-bit raw values -------------------------------------------------

inline void widen_u8(const uint8_t* src, uint32_t w, uint16_t* out) noexcept
{
    for (uint32_t x = 0; x < w; ++x)
        out[x] = src[x];
}

// Mono8signed: -128..127 moved to 0..255 so that black stays darkest.
inline void widen_s8(const uint8_t* src, uint32_t w, uint16_t* out) noexcept
{
    for (uint32_t x = 0; x < w; ++x)
        out[x] = static_cast<uint16_t>(src[x] ^ 0x80u);
}

inline void flip_sign_u8(const uint8_t* src, uint32_t w, uint8_t* out) noexcept
{
    for (uint32_t x = 0; x < w; ++x)
        out[x] = static_cast<uint8_t>(src[x] ^ 0x80u);
}

inline void copy_u16(const uint8_t* src, uint32_t w, uint16_t* out) noexcept
{
    std::memcpy(out, src, size_t{w} * 2);
}

// Two pixels in three bytes; `depth` is 12 (nibbles in the middle byte) or 10 (bits 1..0
// and 5..4 of the middle byte).
template <unsigned depth>
inline void unpack_two_in_three(const uint8_t* src, uint32_t w, uint16_t* out) noexcept
{
    static_assert(depth == 10 || depth == 12);
    constexpr unsigned low = depth - 8;              // bits of each pixel in the middle byte
    constexpr unsigned mask = (1u << low) - 1;
    uint32_t x = simd::unpack_two_in_three(src, w, out, low); // even
    size_t i = size_t{x} / 2 * 3;
    // Four pixels from six bytes per step, read as one 64-bit word (8 bytes available
    // while at least 8 source bytes remain in the line).
    const uint32_t pairs_bytes = (w / 2) * 3;
    for (; i + 8 <= pairs_bytes; i += 6, x += 4) {
        uint64_t v;
        std::memcpy(&v, src + i, sizeof v);
        const uint32_t b0 = v & 0xFF, b1 = (v >> 8) & 0xFF, b2 = (v >> 16) & 0xFF;
        const uint32_t b3 = (v >> 24) & 0xFF, b4 = (v >> 32) & 0xFF, b5 = (v >> 40) & 0xFF;
        out[x + 0] = static_cast<uint16_t>((b0 << low) | (b1 & mask));
        out[x + 1] = static_cast<uint16_t>((b2 << low) | ((b1 >> 4) & mask));
        out[x + 2] = static_cast<uint16_t>((b3 << low) | (b4 & mask));
        out[x + 3] = static_cast<uint16_t>((b5 << low) | ((b4 >> 4) & mask));
    }
    for (; x + 1 < w; x += 2, i += 3) {
        const uint32_t b0 = src[i], b1 = src[i + 1], b2 = src[i + 2];
        out[x] = static_cast<uint16_t>((b0 << low) | (b1 & mask));
        out[x + 1] = static_cast<uint16_t>((b2 << low) | ((b1 >> 4) & mask));
    }
    if (x < w) // odd width: the last pixel has its two bytes alone
        out[x] = static_cast<uint16_t>((uint32_t{src[i]} << low) | (src[i + 1] & mask));
}

// Continuous bit stream, LSB first (Mono10p, Mono12p).
template <unsigned depth>
inline void unpack_lsb_stream(const uint8_t* src, uint32_t w, uint16_t* out) noexcept
{
    constexpr uint32_t mask = (1u << depth) - 1;
    const size_t line_bytes = (size_t{w} * depth + 7) / 8;
    // Whole groups of pixels that end on a byte boundary (10 bits: 4 pixels in 5 bytes,
    // 12 bits: 2 in 3), each read as one 64-bit word while 8 bytes remain.
    constexpr unsigned group = depth % 8 == 0 ? 1 : (depth % 4 == 0 ? 2 : (depth % 2 == 0 ? 4 : 8));
    constexpr unsigned group_bytes = group * depth / 8;
    static_assert(group * depth <= 64);
    uint32_t x = simd::unpack_lsb_stream(src, w, out, depth); // whole groups
    for (size_t byte = size_t{x} / group * group_bytes; x + group <= w && byte + 8 <= line_bytes;
         x += group, byte += group_bytes) {
        uint64_t v;
        std::memcpy(&v, src + byte, sizeof v);
        for (unsigned j = 0; j < group; ++j)
            out[x + j] = static_cast<uint16_t>((v >> (j * depth)) & mask);
    }
    for (; x < w; ++x) {
        const size_t bit = size_t{x} * depth;
        const size_t byte = bit / 8;
        uint32_t v = src[byte];
        if (byte + 1 < line_bytes)
            v |= uint32_t{src[byte + 1]} << 8;
        if (byte + 2 < line_bytes)
            v |= uint32_t{src[byte + 2]} << 16;
        out[x] = static_cast<uint16_t>((v >> (bit % 8)) & mask);
    }
}

// ---- Scaling with saturation ------------------------------------------------------------
// k > 0 shifts left and saturates at the output maximum, k < 0 shifts right.

inline void scale_u8(const uint8_t* in, size_t n, uint8_t* out, int k) noexcept
{
    if (k == 0) {
        if (in != out)
            std::memmove(out, in, n);
    } else if (k > 0) {
        const unsigned s = static_cast<unsigned>(std::min(k, 8));
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<uint8_t>(std::min<uint32_t>(uint32_t{in[i]} << s, 255u));
    } else {
        const unsigned s = static_cast<unsigned>(std::min(-k, 8));
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<uint8_t>(in[i] >> s);
    }
}

inline void scale_u16_to_u8(const uint16_t* in, size_t n, uint8_t* out, int k) noexcept
{
    if (k >= 0) {
        const unsigned s = static_cast<unsigned>(std::min(k, 8));
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<uint8_t>(std::min<uint32_t>(uint32_t{in[i]} << s, 255u));
    } else {
        const unsigned s = static_cast<unsigned>(std::min(-k, 16));
        for (size_t i = simd::u16_shr_to_u8(in, n, out, s); i < n; ++i)
            out[i] = static_cast<uint8_t>(std::min<uint32_t>(uint32_t{in[i]} >> s, 255u));
    }
}

inline void scale_u16_inplace(uint16_t* v, size_t n, int k) noexcept
{
    if (k > 0) {
        const unsigned s = static_cast<unsigned>(std::min(k, 16));
        for (size_t i = 0; i < n; ++i)
            v[i] = static_cast<uint16_t>(std::min<uint32_t>(uint32_t{v[i]} << s, 65535u));
    } else if (k < 0) {
        const unsigned s = static_cast<unsigned>(std::min(-k, 16));
        for (size_t i = 0; i < n; ++i)
            v[i] = static_cast<uint16_t>(v[i] >> s);
    }
}

inline void scale_u8_to_u16(const uint8_t* in, size_t n, uint16_t* out, int k) noexcept
{
    if (k == 0) {
        for (size_t i = 0; i < n; ++i)
            out[i] = in[i];
    } else if (k > 0) {
        const unsigned s = static_cast<unsigned>(std::min(k, 16));
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<uint16_t>(std::min<uint32_t>(uint32_t{in[i]} << s, 65535u));
    } else {
        const unsigned s = static_cast<unsigned>(std::min(-k, 8));
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<uint16_t>(in[i] >> s);
    }
}

// ---- Colour lines ---------------------------------------------------------------------

// Grey to RGB: the value in all three channels.
template <typename T>
inline void grey_to_rgb(const T* in, uint32_t w, T* out) noexcept
{
    uint32_t x = 0;
    if constexpr (std::is_same_v<T, uint8_t>)
        x = simd::grey8_to_rgb(in, w, out);
    for (; x < w; ++x) {
        out[3 * x] = in[x];
        out[3 * x + 1] = in[x];
        out[3 * x + 2] = in[x];
    }
}

// Interleaved 8-bit colour to RGB. `step` is the bytes per source pixel (3 or 4); r and b
// are the byte offsets of red and blue in a source pixel.
template <unsigned step, unsigned r, unsigned b>
inline void colour8_to_rgb(const uint8_t* src, uint32_t w, uint8_t* out) noexcept
{
    if constexpr (step == 3 && r == 0) {
        std::memcpy(out, src, size_t{w} * 3);
    } else {
        for (uint32_t x = simd::colour8_to_rgb(src, w, out, step, r != 0); x < w; ++x) {
            const uint8_t* p = src + size_t{step} * x;
            out[3 * x] = p[r];
            out[3 * x + 1] = p[1];
            out[3 * x + 2] = p[b];
        }
    }
}

// The Y bytes of a YUV 4:2:2 line (every second byte from `offset`): its luminance.
template <unsigned offset>
inline void yuv422_luma(const uint8_t* src, uint32_t w, uint8_t* out) noexcept
{
    for (uint32_t x = 0; x < w; ++x)
        out[x] = src[2 * size_t{x} + offset];
}

// Luminance of an interleaved 8-bit colour line (layout as for colour8_to_rgb).
template <unsigned step, unsigned r, unsigned b>
inline void colour8_to_luma(const uint8_t* src, uint32_t w, uint8_t* out) noexcept
{
    for (uint32_t x = simd::colour8_to_luma(src, w, out, step, r != 0); x < w; ++x) {
        const uint8_t* p = src + size_t{step} * x;
        out[x] = static_cast<uint8_t>((77u * p[r] + 150u * p[1] + 29u * p[b] + 128u) >> 8);
    }
}

// Full-range BT.601 YUV to RGB, in 16.16 fixed point.
struct YuvToRgb {
    static uint8_t clamp8(int v) noexcept { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }
    static void pixel(int y, int ur, int ug, int ub, uint8_t* out) noexcept
    {
        out[0] = clamp8(y + ur);
        out[1] = clamp8(y + ug);
        out[2] = clamp8(y + ub);
    }
    // Chroma terms shared by the two pixels of a pair.
    static void chroma(int u, int v, int& ur, int& ug, int& ub) noexcept
    {
        const int d = u - 128, e = v - 128;
        ur = (91881 * e + 32768) >> 16;
        ug = (-22554 * d - 46802 * e + 32768) >> 16;
        ub = (116130 * d + 32768) >> 16;
    }
};

// YUV 4:2:2 to RGB. yo0, yo1, uo, vo: byte offsets of Y0, Y1, U and V in a 4-byte pair
// (UYVY: 1, 3, 0, 2; YUYV: 0, 2, 1, 3). An odd last pixel has only Y and U in the line and
// borrows V from the pair before it (128 when there is none).
template <unsigned yo0, unsigned yo1, unsigned uo, unsigned vo>
inline void yuv422_to_rgb(const uint8_t* src, uint32_t w, uint8_t* out) noexcept
{
    static constexpr uint8_t offsets[4] = {yo0, yo1, uo, vo};
    uint32_t x = simd::yuv422_to_rgb(src, w, out, offsets); // even
    for (; x + 1 < w; x += 2) {
        const uint8_t* p = src + 2 * size_t{x};
        int ur, ug, ub;
        YuvToRgb::chroma(p[uo], p[vo], ur, ug, ub);
        YuvToRgb::pixel(p[yo0], ur, ug, ub, out + 3 * size_t{x});
        YuvToRgb::pixel(p[yo1], ur, ug, ub, out + 3 * size_t{x} + 3);
    }
    if (x < w) {
        const uint8_t* p = src + 2 * size_t{x};
        const int v = x >= 2 ? src[2 * size_t{x} - 4 + vo] : 128;
        // In the last two bytes Y sits at the lower of Y0/U offsets' place in the pair.
        const int y = p[yo0 < uo ? 0 : 1];
        const int u = p[yo0 < uo ? 1 : 0];
        int ur, ug, ub;
        YuvToRgb::chroma(u, v, ur, ug, ub);
        YuvToRgb::pixel(y, ur, ug, ub, out + 3 * size_t{x});
    }
}

} // namespace Pylon::pixel
