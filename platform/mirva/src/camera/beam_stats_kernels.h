// The one pass of the beam statistics over the window's pixels: per-column and per-row sums of
// the values above the threshold, the peak and the saturated count. Two implementations give
// identical results: a plain one that states what is computed, and a vectorised one (AVX2) used
// whenever the processor has it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mirva::stats_kernels {

// The window: `height` rows of `width` pixels, `stride` bytes apart, starting at `first`.
struct Window {
    const uint8_t* first = nullptr;
    size_t stride = 0;
    int width = 0, height = 0;    // width at most 65536, both > 0
    int bytes_per_pixel = 1;      // 1 Mono8, 2 Mono16 (little endian, any alignment), 3 RGB8
    uint32_t threshold = 0;       // already clamped to the sample's range
    uint32_t full_scale = 255;    // Mono16: samples at or above it are saturated
};

struct Projections {
    std::vector<uint64_t> columns;  // per column of the window
    std::vector<uint64_t> rows;     // per row of the window
    uint32_t peak = 0;              // largest value (luminance for RGB), first in row order
    int peak_x = 0, peak_y = 0;
    uint64_t saturated = 0;
};

void project_plain(const Window& window, Projections& out);

// False, with `out` untouched, when this processor has no vector path.
bool project_vector(const Window& window, Projections& out);

// RGB luminance as the statistics count it.
inline uint32_t luminance(uint32_t r, uint32_t g, uint32_t b)
{
    return (77 * r + 150 * g + 29 * b) >> 8;
}

} // namespace mirva::stats_kernels
