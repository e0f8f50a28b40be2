// In-memory JPEG encoding with libturbojpeg (fast DCT; 4:2:0 chroma for colour): the
// live view, MJPEG streams and /image?format=jpeg.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace mirva::camserver {

// Encodes width x height pixels of 8-bit grey (channels 1) or RGB (channels 3), rows
// `pitch` bytes apart, at quality 1..100. Any thread (each has its own encoder).
// Throws std::runtime_error naming the reason.
std::string encode_jpeg(int width, int height, int channels, const uint8_t* pixels, int pitch, int quality);

} // namespace mirva::camserver
