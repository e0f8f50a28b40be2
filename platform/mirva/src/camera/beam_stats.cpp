// Beam statistics in one pass over the window (camera/beam_stats_kernels.cpp): per-column and
// per-row sums of the values above the threshold; centroid and widths then come exactly from
// the two projections, which hold a few thousand values.
#include <mirva/beam_stats.h>

#include "camera/beam_stats_kernels.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace mirva {

namespace {

// Widest window the narrow column sums of the pass are sized for.
constexpr int kMaxColumns = 65536;

// Mean and RMS width of a projection, in its own indices; false when it holds nothing.
bool moments(const std::vector<uint64_t>& projection, double& mean, double& rms, double& total)
{
    double sum = 0, first = 0;
    for (size_t i = 0; i < projection.size(); ++i) {
        const double v = static_cast<double>(projection[i]);
        sum += v;
        first += v * static_cast<double>(i);
    }
    total = sum;
    if (!(sum > 0))
        return false;
    mean = first / sum;
    double second = 0;  // about the mean: no cancellation
    for (size_t i = 0; i < projection.size(); ++i) {
        const double d = static_cast<double>(i) - mean;
        second += static_cast<double>(projection[i]) * d * d;
    }
    rms = std::sqrt(second / sum);
    return true;
}

// The window's first and end image index along one axis: pixels whose first sensor pixel lies
// inside [start, start + size).
void window_range(int start, int size, int offset, int binning, int count, int& begin, int& end)
{
    if (size <= 0) {
        begin = 0;
        end = count;
        return;
    }
    const int64_t b = std::max(1, binning);
    auto ceil_div = [](int64_t a, int64_t d) { return a >= 0 ? (a + d - 1) / d : -((-a) / d); };
    const int64_t first = ceil_div(start, b) - offset;
    const int64_t last = ceil_div(int64_t{start} + size, b) - offset;
    begin = static_cast<int>(std::clamp<int64_t>(first, 0, count));
    end = static_cast<int>(std::clamp<int64_t>(last, begin, count));
}

} // namespace

BeamStats compute_beam_stats(const StatsImage& image, const StatsOptions& options)
{
    BeamStats stats;
    const int bpp = image.bytes_per_pixel;
    if (!image.pixels || image.width <= 0 || image.height <= 0 || (bpp != 1 && bpp != 2 && bpp != 3))
        return stats;
    int x0, x1, y0, y1;
    window_range(options.win_x, options.win_w, image.x_start, image.hbin, image.width, x0, x1);
    window_range(options.win_y, options.win_h, image.y_start, image.vbin, image.height, y0, y1);
    x1 = std::min(x1, x0 + kMaxColumns);
    const int n = x1 - x0, h = y1 - y0;
    if (n <= 0 || h <= 0)
        return stats;
    const size_t stride = static_cast<size_t>(image.width) * static_cast<size_t>(bpp);
    const uint8_t* first = image.pixels + static_cast<size_t>(y0) * stride + static_cast<size_t>(x0) * static_cast<size_t>(bpp);
    const int threshold = std::max(0, options.threshold);

    stats_kernels::Window window;
    window.first = first;
    window.stride = stride;
    window.width = n;
    window.height = h;
    window.bytes_per_pixel = bpp;
    if (bpp == 2) {
        // Values above the effective bits count as saturated as well.
        const int bits = image.effective_bits > 8 && image.effective_bits <= 16 ? image.effective_bits : 16;
        window.full_scale = (1u << bits) - 1;
        window.threshold = static_cast<uint32_t>(std::min(threshold, 65535));
    } else {
        window.full_scale = 255;
        window.threshold = static_cast<uint32_t>(std::min(threshold, 255));
    }
    stats_kernels::Projections pass;
    if (!stats_kernels::project_vector(window, pass))
        stats_kernels::project_plain(window, pass);

    double mx = 0, my = 0, rx = 0, ry = 0, total = 0, total_y = 0;
    const bool any = moments(pass.columns, mx, rx, total) && moments(pass.rows, my, ry, total_y);
    const double bh = std::max(1, image.hbin), bv = std::max(1, image.vbin);
    // Image index -> sensor coordinate of the pixel's centre.
    const double ox = (static_cast<double>(image.x_start) + x0) * bh + (bh - 1) / 2;
    const double oy = (static_cast<double>(image.y_start) + y0) * bv + (bv - 1) / 2;
    stats.sum = total;
    stats.peak = pass.peak;
    stats.peak_x = static_cast<uint32_t>(std::max(0.0, ox + pass.peak_x * bh));
    stats.peak_y = static_cast<uint32_t>(std::max(0.0, oy + pass.peak_y * bv));
    stats.saturated = static_cast<uint32_t>(std::min<uint64_t>(pass.saturated, std::numeric_limits<uint32_t>::max()));
    if (any) {
        stats.valid = true;
        stats.cx = ox + mx * bh;
        stats.cy = oy + my * bv;
        stats.sx = rx * bh;
        stats.sy = ry * bv;
    }
    return stats;
}

bool parse_stats_window(const std::string& text, StatsOptions& options, std::string& error)
{
    if (text.find_first_not_of(" \t") == std::string::npos) {
        options.win_x = options.win_y = options.win_w = options.win_h = 0;
        return true;
    }
    // Four integers and nothing else but blanks; each is read whole, so that a number past
    // 32 bits is refused instead of wrapping into another window.
    long long v[4] = {};
    const char* at = text.c_str();
    bool fits = true;
    for (long long& x : v) {
        char* end = nullptr;
        errno = 0;
        x = std::strtoll(at, &end, 10);
        if (end == at) {
            at = nullptr;
            break;
        }
        if (errno == ERANGE || x < std::numeric_limits<int>::min() || x > std::numeric_limits<int>::max())
            fits = false;
        at = end;
    }
    if (at)
        at += std::strspn(at, " \t\n\r");
    if (!at || *at != '\0' || v[2] < 0 || v[3] < 0) {
        error = "STATS.WINDOW '" + text + "' refused: four integers x y w h (sensor pixels, w and h >= 0), or empty";
        return false;
    }
    if (!fits) {
        error = "STATS.WINDOW '" + text + "' refused: x and y from -2147483648 to 2147483647, w and h from 0 to "
                "2147483647 (sensor pixels)";
        return false;
    }
    options.win_x = static_cast<int>(v[0]);
    options.win_y = static_cast<int>(v[1]);
    options.win_w = static_cast<int>(v[2]);
    options.win_h = static_cast<int>(v[3]);
    return true;
}

} // namespace mirva
