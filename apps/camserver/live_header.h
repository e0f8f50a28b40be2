// The 128-byte little-endian header in front of each live-view message (layout in API.md).
#pragma once

#include <array>
#include <cstdint>

#include "frame_encoding.h"

namespace mirva::camserver {

constexpr size_t live_header_bytes = 128;

// frame's header for a client that has missed `dropped` images since its socket opened.
std::array<uint8_t, live_header_bytes> live_header(const EncodedFrame& frame, uint32_t dropped);

} // namespace mirva::camserver
