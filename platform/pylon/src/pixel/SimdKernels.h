// Hand-vectorised line kernels for the conversions whose layouts the compiler cannot
// vectorise by itself (three-byte pixels, two pixels in three bytes). Each function does
// the leading part of a line that fits its vector width and returns the number of pixels
// done; the caller finishes the line with the scalar kernel. The functions check the CPU
// once and return 0 when it lacks the instructions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Pylon::pixel::simd {

// Whether the CPU has AVX2 (checked once).
bool has_avx2() noexcept;

// Two pixels in three bytes to 16-bit values; low = bits of a pixel in the shared byte (2 or 4).
uint32_t unpack_two_in_three(const uint8_t* src, uint32_t w, uint16_t* out, unsigned low) noexcept;

// LSB-first bit stream of 10- or 12-bit pixels to 16-bit values (a multiple of the pixel
// group: 4 pixels for 10 bits, 2 for 12).
uint32_t unpack_lsb_stream(const uint8_t* src, uint32_t w, uint16_t* out, unsigned depth) noexcept;

// Interleaved 8-bit colour to RGB: step 3 or 4 bytes per source pixel, swap = source is BGR(A).
uint32_t colour8_to_rgb(const uint8_t* src, uint32_t w, uint8_t* out, unsigned step, bool swap) noexcept;

// Bilinear demosaicing (see Demosaic.h) of an 8-bit line that starts with an X site;
// the lines carry valid samples at index -1 and w.
uint32_t demosaic8_x_first(const uint8_t* a, const uint8_t* c, const uint8_t* b, uint32_t w, uint8_t* out,
                           bool x_is_red) noexcept;

// Luminance (R*77 + G*150 + B*29 + 128) >> 8 of the bilinear demosaicing of an 8-bit line
// that starts with an X site, bit for bit as demosaic_luma_line; lines as above.
uint32_t demosaic8_luma_x_first(const uint8_t* a, const uint8_t* c, const uint8_t* b, uint32_t w, uint8_t* out,
                                bool x_is_red) noexcept;

// The same for 16-bit lines (any 16-bit values).
uint32_t demosaic16_luma_x_first(const uint16_t* a, const uint16_t* c, const uint16_t* b, uint32_t w,
                                 uint16_t* out, bool x_is_red) noexcept;

// Luminance (R*77 + G*150 + B*29 + 128) >> 8 of an interleaved 8-bit colour line: step 3
// or 4 bytes per pixel, swap = blue first.
uint32_t colour8_to_luma(const uint8_t* src, uint32_t w, uint8_t* out, unsigned step, bool swap) noexcept;

// YUV 4:2:2 to RGB (see LineKernels.h); offsets: bytes of Y0, Y1, U, V in a 4-byte pair.
uint32_t yuv422_to_rgb(const uint8_t* src, uint32_t w, uint8_t* out, const uint8_t offsets[4]) noexcept;

// min(value >> s, 255) for 16-bit values; does nothing for s = 0.
size_t u16_shr_to_u8(const uint16_t* in, size_t n, uint8_t* out, unsigned s) noexcept;

// Grey to RGB by repetition.
uint32_t grey8_to_rgb(const uint8_t* src, uint32_t w, uint8_t* out) noexcept;

} // namespace Pylon::pixel::simd
