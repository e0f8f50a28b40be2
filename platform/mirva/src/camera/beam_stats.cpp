// Beam statistics in one pass: every row adds its pixels above the threshold to narrow
// column sums and gives its own sum; centroid and widths then come from the two projections,
// which hold a few thousand values. The row loops are plain loops over contiguous samples
// that the compiler vectorises.
#include <mirva/beam_stats.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace mirva {

namespace {

// Widest window a row's 32-bit sum of 16-bit values holds.
constexpr int kMaxColumns = 65536;

// Adds the values of one row above the threshold to the column sums; returns their sum.
template <class P, class C>
uint32_t add_row(const P* row, int n, P threshold, C* columns)
{
    uint32_t sum = 0;
    for (int i = 0; i < n; ++i) {
        const P v = row[i];
        const P w = v > threshold ? static_cast<P>(v - threshold) : P{0};
        columns[i] = static_cast<C>(columns[i] + w);
        sum += w;
    }
    return sum;
}

template <class P>
P row_max(const P* row, int n)
{
    P m = 0;
    for (int i = 0; i < n; ++i)
        m = std::max(m, row[i]);
    return m;
}

template <class P>
uint32_t count_equal(const P* row, int n, P value)
{
    uint32_t count = 0;
    for (int i = 0; i < n; ++i)
        count += row[i] == value ? 1u : 0u;
    return count;
}

// Projections and extremes of the window, in image pixels of the window.
struct Pass {
    std::vector<uint64_t> columns;   // per column of the window
    std::vector<uint64_t> rows;      // per row of the window
    uint32_t peak = 0;
    int peak_x = 0, peak_y = 0;
    bool has_peak = false;
    uint64_t saturated = 0;
};

// Runs over rows given by `row_at(y)` (samples of type P, n of them). C: narrow column sums,
// flushed into the 64-bit ones every `flush_rows` rows before they could overflow.
template <class P, class C, class RowAt, class Saturated>
void run(Pass& pass, int n, int h, P threshold, int flush_rows, RowAt&& row_at, Saturated&& saturated_in_row)
{
    pass.columns.assign(static_cast<size_t>(n), 0);
    pass.rows.assign(static_cast<size_t>(h), 0);
    std::vector<C> narrow(static_cast<size_t>(n), 0);
    int pending = 0;
    for (int y = 0; y < h; ++y) {
        const P* row = row_at(y);
        pass.rows[static_cast<size_t>(y)] = add_row(row, n, threshold, narrow.data());
        const P m = row_max(row, n);
        if (!pass.has_peak || m > pass.peak) {
            pass.has_peak = true;
            pass.peak = m;
            pass.peak_x = static_cast<int>(std::find(row, row + n, m) - row);
            pass.peak_y = y;
        }
        pass.saturated += saturated_in_row(y, row);
        if (++pending == flush_rows || y == h - 1) {
            for (int i = 0; i < n; ++i) {
                pass.columns[static_cast<size_t>(i)] += narrow[static_cast<size_t>(i)];
                narrow[static_cast<size_t>(i)] = 0;
            }
            pending = 0;
        }
    }
}

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

    Pass pass;
    if (bpp == 1) {
        const auto t = static_cast<uint8_t>(std::min(threshold, 255));
        run<uint8_t, uint16_t>(pass, n, h, t, 256, [&](int y) { return first + static_cast<size_t>(y) * stride; },
                               [&](int, const uint8_t* row) { return count_equal<uint8_t>(row, n, 255); });
    } else if (bpp == 2) {
        const int bits = image.effective_bits > 8 && image.effective_bits <= 16 ? image.effective_bits : 16;
        const auto full = static_cast<uint16_t>((1u << bits) - 1);
        const auto t = static_cast<uint16_t>(std::min(threshold, 65535));
        // Rows of 16-bit samples: copied when the buffer is not aligned for them.
        std::vector<uint16_t> line(static_cast<size_t>(n));
        const bool aligned = reinterpret_cast<uintptr_t>(first) % alignof(uint16_t) == 0 && stride % 2 == 0;
        auto row_at = [&](int y) -> const uint16_t* {
            const uint8_t* p = first + static_cast<size_t>(y) * stride;
            if (aligned)
                return reinterpret_cast<const uint16_t*>(p);
            std::memcpy(line.data(), p, line.size() * 2);
            return line.data();
        };
        // Values above the effective bits count as saturated as well.
        run<uint16_t, uint32_t>(pass, n, h, t, kMaxColumns, row_at, [&](int, const uint16_t* row) {
            uint32_t count = 0;
            for (int i = 0; i < n; ++i)
                count += row[i] >= full ? 1u : 0u;
            return count;
        });
    } else {
        const auto t = static_cast<uint8_t>(std::min(threshold, 255));
        std::vector<uint8_t> luma(static_cast<size_t>(n));
        std::vector<uint32_t> saturated_rows(static_cast<size_t>(h), 0);
        auto row_at = [&](int y) -> const uint8_t* {
            const uint8_t* p = first + static_cast<size_t>(y) * stride;
            uint32_t saturated = 0;
            for (int i = 0; i < n; ++i) {
                const uint32_t r = p[3 * i], g = p[3 * i + 1], b = p[3 * i + 2];
                luma[static_cast<size_t>(i)] = static_cast<uint8_t>((77 * r + 150 * g + 29 * b) >> 8);
                saturated += std::max({r, g, b}) == 255 ? 1u : 0u;
            }
            saturated_rows[static_cast<size_t>(y)] = saturated;
            return luma.data();
        };
        run<uint8_t, uint16_t>(pass, n, h, t, 256, row_at,
                               [&](int y, const uint8_t*) { return saturated_rows[static_cast<size_t>(y)]; });
    }

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
    int x = 0, y = 0, w = 0, h = 0, used = 0;
    if (std::sscanf(text.c_str(), " %d %d %d %d %n", &x, &y, &w, &h, &used) != 4 ||
        static_cast<size_t>(used) != text.size() || w < 0 || h < 0) {
        error = "STATS.WINDOW '" + text + "' refused: four integers x y w h (sensor pixels, w and h >= 0), or empty";
        return false;
    }
    options.win_x = x;
    options.win_y = y;
    options.win_w = w;
    options.win_h = h;
    return true;
}

} // namespace mirva
