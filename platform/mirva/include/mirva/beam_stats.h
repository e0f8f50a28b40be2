// Beam statistics of one delivered image: computed once per image by the host when the image
// is delivered, read by every client of it (properties, live view) without recomputing.
//
// Coordinates are sensor pixels of the unbinned sensor, the centre of pixel (0, 0) at (0, 0):
// image pixel i of a region that starts at x_start (in binned pixels, as the camera reports
// OffsetX) with binning b covers sensor pixels (x_start + i) * b .. (x_start + i) * b + b - 1,
// so its centre is at (x_start + i) * b + (b - 1) / 2. Widths are the image's RMS widths times
// the binning (a binned pixel adds its own width: sigma^2 + (b^2 - 1) / 12 for a beam of RMS
// width sigma).
//
// Each pixel counts with its value above the threshold (value - threshold, or 0): a threshold
// just above the background keeps the dark level and its noise out of centroid and widths.
// RGB images count with their luminance (77 R + 150 G + 29 B) / 256.
#pragma once

#include <cstdint>
#include <string>

namespace mirva {

struct BeamStats {
    bool valid = false;       // false until computed, or when the window holds no signal
    double cx = 0, cy = 0;    // centroid in sensor pixels (region offset included)
    double sx = 0, sy = 0;    // RMS width in pixels
    double peak = 0;          // largest pixel value (luminance for RGB)
    uint32_t peak_x = 0, peak_y = 0;
    double sum = 0;           // sum of pixel values above the threshold in the window
    uint32_t saturated = 0;   // pixels at the image's largest value (for RGB: any channel at 255)
};

// One image as the statistics see it.
struct StatsImage {
    const uint8_t* pixels = nullptr;  // rows of width * bytes_per_pixel bytes, no padding
    int width = 0, height = 0;
    int bytes_per_pixel = 1;          // 1 Mono8, 2 Mono16 (little endian), 3 RGB8
    int effective_bits = 8;           // Mono16: its full scale is 2^bits - 1 (16 when outside 9..16)
    int x_start = 0, y_start = 0;     // region offset, binned pixels
    int hbin = 1, vbin = 1;
};

// Where and how to count.
struct StatsOptions {
    int threshold = 0;                      // in pixel values; negative counts as 0
    int win_x = 0, win_y = 0, win_w = 0, win_h = 0;  // analysis window in sensor pixels; w or h 0: the whole image
};

// The statistics of one image; one pass over the pixels inside the window.
BeamStats compute_beam_stats(const StatsImage& image, const StatsOptions& options);

// "x y w h" (four integers, w and h >= 0) or an empty text for the whole image. False, with
// `error` naming the value, for anything else.
bool parse_stats_window(const std::string& text, StatsOptions& options, std::string& error);

} // namespace mirva
