// Where the host writes image, region and calibration files, and the PNG reader/writer
// behind them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mirva {

// Directory for image, region and calibration files (default: the current directory).
void set_image_directory(const std::string& path);
std::string image_directory();

// Writes a PNG: 1 byte per pixel 8-bit grey, 2 bytes 16-bit grey (host order in
// memory), 3 bytes RGB. Empty string on success, else the reason.
std::string write_png(const std::string& path, int width, int height, int bytes_per_pixel, const uint8_t* pixels);

// Reads a PNG written by write_png back (16-bit samples into host order).
struct PngImage {
    int width = 0, height = 0, bytes_per_pixel = 0;
    std::vector<uint8_t> pixels;
};
std::string read_png(const std::string& path, PngImage* out);

} // namespace mirva
