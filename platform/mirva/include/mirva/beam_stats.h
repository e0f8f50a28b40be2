// Beam statistics of one delivered image: computed once per image by the host when the image
// is delivered, read by every client of it (properties, live view) without recomputing.
#pragma once

#include <cstdint>

namespace mirva {

struct BeamStats {
    bool valid = false;       // false until computed, or when the window holds no signal
    double cx = 0, cy = 0;    // centroid in sensor pixels (region offset included)
    double sx = 0, sy = 0;    // RMS width in pixels
    double peak = 0;          // largest pixel value (luminance for RGB)
    uint32_t peak_x = 0, peak_y = 0;
    double sum = 0;           // sum of pixel values in the window
    uint32_t saturated = 0;   // pixels at the image's largest value
};

} // namespace mirva
