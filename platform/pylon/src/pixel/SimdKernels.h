// Hand-vectorised line kernels for the conversions whose layouts the compiler cannot
// vectorise by itself (three-byte pixels, two pixels in three bytes). Each function does
// the leading part of a line that fits its vector width and returns the number of pixels
// done; the caller finishes the line with the scalar kernel. The functions check the CPU
// once and return 0 when it lacks the instructions.
#pragma once

#include <cstdint>

namespace Pylon::pixel::simd {

// Two pixels in three bytes to 16-bit values; low = bits of a pixel in the shared byte (2 or 4).
uint32_t unpack_two_in_three(const uint8_t* src, uint32_t w, uint16_t* out, unsigned low) noexcept;

// Interleaved 8-bit colour to RGB: step 3 or 4 bytes per source pixel, swap = source is BGR(A).
uint32_t colour8_to_rgb(const uint8_t* src, uint32_t w, uint8_t* out, unsigned step, bool swap) noexcept;

// Grey to RGB by repetition.
uint32_t grey8_to_rgb(const uint8_t* src, uint32_t w, uint8_t* out) noexcept;

} // namespace Pylon::pixel::simd
