// In-memory PNG encoding of delivered images for the HTTP API (fast settings: the
// images go to a viewer on the same machine or network, not into an archive).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace mirva::camserver {

struct PngSettings {
    int compression_level = 1;  // zlib level 0..9
    bool sub_filter = true;     // SUB filter on every row (else NONE)
};

// Encodes width x height pixels: 1 byte per pixel 8-bit grey, 2 bytes 16-bit grey
// (host order in memory), 3 bytes RGB, 4 bytes RGBA. Throws std::runtime_error
// naming the reason on bad sizes or an encoder failure.
std::string encode_png(int width, int height, int bytes_per_pixel, const uint8_t* pixels,
                       const PngSettings& settings = {});

} // namespace mirva::camserver
