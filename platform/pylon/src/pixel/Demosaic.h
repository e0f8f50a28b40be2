// Bilinear demosaicing of one line of a Bayer image.
//
// A line of a Bayer image alternates two colours: X (red or blue) and green. The line
// above and below alternate green and Y (the other of red and blue), with green above X.
//   at X:     X = c,           G = mean of the 4 neighbours,   Y = mean of the 4 diagonals
//   at green: X = mean of left and right,   G = c,            Y = mean of above and below
// Means are rounded to nearest. The three input lines carry one valid sample before index
// 0 and one after index w-1 (the caller mirrors the image there), so the loops need no
// edge tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "SimdKernels.h"

namespace Pylon::pixel {

// x_is_red: X of this line is red (Y blue). x_first: the line starts with X (else green).
template <typename T, bool x_is_red, bool x_first>
void demosaic_line(const T* a, const T* c, const T* b, uint32_t w, T* out) noexcept
{
    using Acc = std::conditional_t<sizeof(T) == 1, uint16_t, uint32_t>;
    constexpr unsigned ix = x_is_red ? 0 : 2;
    constexpr unsigned iy = 2 - ix;

    auto at_x = [&](size_t x, T* o) {
        o[ix] = c[x];
        o[1] = static_cast<T>((Acc(c[x - 1]) + c[x + 1] + a[x] + b[x] + 2) >> 2);
        o[iy] = static_cast<T>((Acc(a[x - 1]) + a[x + 1] + b[x - 1] + b[x + 1] + 2) >> 2);
    };
    auto at_green = [&](size_t x, T* o) {
        o[ix] = static_cast<T>((Acc(c[x - 1]) + c[x + 1] + 1) >> 1);
        o[1] = c[x];
        o[iy] = static_cast<T>((Acc(a[x]) + b[x] + 1) >> 1);
    };
    auto one = [&](size_t x) {
        if (((x & 1) == 0) == x_first)
            at_x(x, out + 3 * x);
        else
            at_green(x, out + 3 * x);
    };

    size_t x = 0;
    if constexpr (sizeof(T) == 1) {
        // The vector kernel starts at an X site.
        if constexpr (x_first) {
            x = simd::demosaic8_x_first(a, c, b, w, out, x_is_red);
        } else if (w > 1) {
            at_green(0, out);
            x = 1 + simd::demosaic8_x_first(a + 1, c + 1, b + 1, w - 1, out + 3, x_is_red);
        }
    }
    if (x < w && (x & 1) != 0)
        one(x++);
    for (; x + 1 < w; x += 2) {
        T* o = out + 3 * x;
        if constexpr (x_first) {
            at_x(x, o);
            at_green(x + 1, o + 3);
        } else {
            at_green(x, o);
            at_x(x + 1, o + 3);
        }
    }
    if (x < w)
        one(x);
}

// The luminance (R*77 + G*150 + B*29 + 128) >> 8 of the demosaiced line, without storing the
// colour first: the same values as demosaic_line followed by the luminance of each pixel.
template <typename T, bool x_is_red, bool x_first>
void demosaic_luma_line(const T* a, const T* c, const T* b, uint32_t w, T* out) noexcept
{
    constexpr uint32_t wx = x_is_red ? 77 : 29;
    constexpr uint32_t wy = x_is_red ? 29 : 77;

    auto at_x = [&](size_t x) {
        const uint32_t g = (uint32_t{c[x - 1]} + c[x + 1] + a[x] + b[x] + 2) >> 2;
        const uint32_t y = (uint32_t{a[x - 1]} + a[x + 1] + b[x - 1] + b[x + 1] + 2) >> 2;
        out[x] = static_cast<T>((wx * c[x] + 150 * g + wy * y + 128) >> 8);
    };
    auto at_green = [&](size_t x) {
        const uint32_t xv = (uint32_t{c[x - 1]} + c[x + 1] + 1) >> 1;
        const uint32_t y = (uint32_t{a[x]} + b[x] + 1) >> 1;
        out[x] = static_cast<T>((wx * xv + 150 * uint32_t{c[x]} + wy * y + 128) >> 8);
    };

    auto one = [&](size_t x) {
        if (((x & 1) == 0) == x_first)
            at_x(x);
        else
            at_green(x);
    };

    // The vector kernels start at an X site.
    auto vector_part = [&](size_t from) -> size_t {
        const auto n = static_cast<uint32_t>(w - from);
        if constexpr (sizeof(T) == 1)
            return simd::demosaic8_luma_x_first(a + from, c + from, b + from, n, out + from, x_is_red);
        else
            return simd::demosaic16_luma_x_first(a + from, c + from, b + from, n, out + from, x_is_red);
    };
    size_t x = 0;
    if constexpr (x_first) {
        x = vector_part(0);
    } else if (w > 1) {
        at_green(0);
        x = 1 + vector_part(1);
    }
    if (x < w && (x & 1) != 0)
        one(x++);
    for (; x + 1 < w; x += 2) {
        if constexpr (x_first) {
            at_x(x);
            at_green(x + 1);
        } else {
            at_green(x);
            at_x(x + 1);
        }
    }
    if (x < w)
        one(x);
}

template <typename T>
using DemosaicLineFn = void (*)(const T*, const T*, const T*, uint32_t, T*) noexcept;

template <typename T>
DemosaicLineFn<T> demosaic_luma_line_for(char first, char second) noexcept
{
    if (first == 'R')
        return &demosaic_luma_line<T, true, true>;
    if (first == 'B')
        return &demosaic_luma_line<T, false, true>;
    return second == 'R' ? &demosaic_luma_line<T, true, false> : &demosaic_luma_line<T, false, false>;
}

// The line function for a line whose first two pixels are `first` and `second`
// (one of them green): 'R', 'G' or 'B'.
template <typename T>
DemosaicLineFn<T> demosaic_line_for(char first, char second) noexcept
{
    if (first == 'R')
        return &demosaic_line<T, true, true>;
    if (first == 'B')
        return &demosaic_line<T, false, true>;
    return second == 'R' ? &demosaic_line<T, true, false> : &demosaic_line<T, false, false>;
}

} // namespace Pylon::pixel
