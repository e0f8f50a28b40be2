// The test pattern of the emulated cameras, as far as a receiver needs it.
//
// Every frame shows a gradient that moves 4 pixels per frame, in four horizontal bands of
// 64 sensor rows (grey, red, green, blue), scaled by exposure time and gain. The first
// min(64, width) pixels of the first line (a multiple of 4) carry the frame's block ID in
// binary, most significant bit first: full scale for 1, zero for 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include <pylon/PixelType.h>

namespace Pylon::Emulator {

// Pixels the gradient moves from one frame to the next.
inline constexpr uint32_t kPatternStep = 4;
// Length of one gradient period in pixels.
inline constexpr uint32_t kPatternPeriod = 256;

// True for the pixel types the emulated cameras can send.
bool IsPatternSupported(EPixelType type);

// The frame number a frame carries in its first line; nothing when the format is not
// supported or the buffer is too small. Only the low min(64, width rounded down to 4)
// bits are carried.
std::optional<uint64_t> DecodeFrameNumber(const void* buffer, size_t size, EPixelType type, uint32_t width);

// Bits of the frame number a frame of that width carries.
uint32_t FrameNumberBits(uint32_t width);

} // namespace Pylon::Emulator
