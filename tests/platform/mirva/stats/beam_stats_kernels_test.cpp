// The vector pass of the beam statistics against the plain one: identical column and row sums,
// peak, peak position and saturated count on random images of every width up to 1281, odd
// strides and start addresses, all thresholds, Mono16 of every effective bit depth and RGB (its
// luminance for every red and green value), and on images that would overflow the narrow sums
// or counters without their flushes. Both passes run here whatever the processor: the plain one
// is called directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "camera/beam_stats_kernels.h"

using mirva::stats_kernels::Projections;
using mirva::stats_kernels::Window;

namespace {

// A window of `width` x `height` pixels inside a buffer whose rows are `pad` bytes longer, the
// first pixel at an odd address when `odd` is set; pixels from `fill`.
struct Image {
    std::vector<uint8_t> bytes;
    Window window;
};

template <class Fill>
Image make_image(int width, int height, int bytes_per_pixel, int pad, bool odd, Fill&& fill)
{
    Image image;
    const size_t stride = static_cast<size_t>(width) * bytes_per_pixel + static_cast<size_t>(pad);
    image.bytes.resize(stride * static_cast<size_t>(height) + 1);
    uint8_t* first = image.bytes.data() + (odd ? 1 : 0);
    for (int y = 0; y < height; ++y)
        for (size_t i = 0; i < stride; ++i)
            first[static_cast<size_t>(y) * stride + i] = fill();
    image.window.first = first;
    image.window.stride = stride;
    image.window.width = width;
    image.window.height = height;
    image.window.bytes_per_pixel = bytes_per_pixel;
    return image;
}

// Runs both passes; false when this processor has no vector path.
bool expect_same(const Window& window, const std::string& what)
{
    Projections plain, vector;
    mirva::stats_kernels::project_plain(window, plain);
    if (!mirva::stats_kernels::project_vector(window, vector))
        return false;
    SCOPED_TRACE(what);
    EXPECT_EQ(vector.columns, plain.columns);
    EXPECT_EQ(vector.rows, plain.rows);
    EXPECT_EQ(vector.peak, plain.peak);
    EXPECT_EQ(vector.peak_x, plain.peak_x);
    EXPECT_EQ(vector.peak_y, plain.peak_y);
    EXPECT_EQ(vector.saturated, plain.saturated);
    return true;
}

std::string describe(int width, int height, int pad, bool odd, uint32_t threshold)
{
    return std::to_string(width) + "x" + std::to_string(height) + " pad " + std::to_string(pad) +
           (odd ? " odd" : "") + " threshold " + std::to_string(threshold);
}

// Random bytes, mostly small with a share of large and saturated ones, so that thresholds cut
// through them and peaks repeat.
struct Bytes {
    std::mt19937 random{12345};
    uint8_t operator()()
    {
        const uint32_t r = random();
        switch (r % 8) {
        case 0:
            return 255;
        case 1:
        case 2:
            return static_cast<uint8_t>(r >> 8);
        default:
            return static_cast<uint8_t>((r >> 8) % 40);
        }
    }
};

TEST(BeamStatsKernels, Mono8EveryWidthAndThreshold)
{
    Bytes bytes;
    for (int width = 1; width <= 1281; ++width) {
        const int height = 1 + width % 5;
        const int pad = width % 7;
        const bool odd = width % 2 == 1;
        Image image = make_image(width, height, 1, pad, odd, bytes);
        image.window.threshold = static_cast<uint32_t>(width * 37 % 256);
        if (!expect_same(image.window, describe(width, height, pad, odd, image.window.threshold)))
            GTEST_SKIP() << "no vector path on this processor";
    }
}

TEST(BeamStatsKernels, RgbEveryWidthAndThreshold)
{
    Bytes bytes;
    for (int width = 1; width <= 1281; ++width) {
        const int height = 1 + width % 4;
        const int pad = width % 5;
        const bool odd = width % 3 == 1;
        Image image = make_image(width, height, 3, pad, odd, bytes);
        image.window.threshold = static_cast<uint32_t>(width * 53 % 256);
        if (!expect_same(image.window, describe(width, height, pad, odd, image.window.threshold)))
            GTEST_SKIP() << "no vector path on this processor";
    }
}

TEST(BeamStatsKernels, Mono16EveryWidthBitDepthAndThreshold)
{
    Bytes bytes;
    for (int width = 1; width <= 1281; ++width) {
        const int height = 1 + width % 4;
        const int pad = 2 * (width % 3) + (width % 11 == 0 ? 1 : 0);
        const bool odd = width % 2 == 0;
        Image image = make_image(width, height, 2, pad, odd, bytes);
        const int bits = 9 + width % 8;
        image.window.full_scale = (1u << bits) - 1;
        // Thresholds over the whole 16-bit range, most of them inside the effective bits.
        image.window.threshold = width % 10 == 0 ? static_cast<uint32_t>(width * 51 % 65536)
                                                 : static_cast<uint32_t>(width * 97) % (1u << bits);
        if (!expect_same(image.window,
                         describe(width, height, pad, odd, image.window.threshold) + " bits " + std::to_string(bits)))
            GTEST_SKIP() << "no vector path on this processor";
    }
}

// Every red and green value with a range of blue ones: the vector luminance weighs the
// interleaved bytes in pairs, and must round as the plain one does for all of them.
TEST(BeamStatsKernels, RgbLuminanceOfEveryRedGreenPair)
{
    for (const int blue : {0, 1, 28, 29, 100, 127, 128, 200, 254, 255}) {
        int at = 0;
        // Row r holds the 256 green values with red r, in an order that differs per row.
        Image image = make_image(256, 256, 3, 0, false, [&] {
            const int pixel = at / 3, channel = at % 3;
            ++at;
            const int red = pixel / 256, green = (pixel % 256 + 37 * red) % 256;
            return static_cast<uint8_t>(channel == 0 ? red : channel == 1 ? green : blue);
        });
        if (!expect_same(image.window, "blue " + std::to_string(blue)))
            GTEST_SKIP() << "no vector path on this processor";
    }
}

// Full-scale images tall enough to overflow the narrow column sums (Mono16's 32-bit ones
// included), and rows wide enough to overflow the 8-bit saturated counters, unless they are
// flushed in time.
TEST(BeamStatsKernels, NarrowSumsAndCountersFlushInTime)
{
    auto full = [] { return uint8_t{255}; };
    struct Case {
        int width, height, bytes_per_pixel;
    };
    for (const Case c : {Case{97, 1000, 1}, Case{9000, 3, 1}, Case{33, 700, 3}, Case{8300, 2, 3}, Case{4103, 5, 2},
                         Case{17, 65600, 2}}) {
        Image image = make_image(c.width, c.height, c.bytes_per_pixel, 0, false, full);
        image.window.full_scale = 65535;
        if (!expect_same(image.window, describe(c.width, c.height, 0, false, 0) + " bpp " +
                                           std::to_string(c.bytes_per_pixel)))
            GTEST_SKIP() << "no vector path on this processor";
    }
}

// Saturated pixels few and far between: most rows hold none, some only in the columns after
// the last full vector block.
TEST(BeamStatsKernels, SparseSaturatedPixelsAreAllCounted)
{
    std::mt19937 random(777);
    auto sparse = [&] {
        const uint32_t r = random();
        return r % 4000 == 0 ? uint8_t{255} : static_cast<uint8_t>(r % 60);
    };
    for (const int bytes_per_pixel : {1, 2, 3})
        for (const int width : {31, 45, 200, 1000}) {
            Image image = make_image(width, 300, bytes_per_pixel, 0, false, sparse);
            image.window.threshold = 20;
            image.window.full_scale = 0xff00;  // Mono16: a 255 high byte saturates
            if (!expect_same(image.window, "sparse " + std::to_string(width) + " bpp " + std::to_string(bytes_per_pixel)))
                GTEST_SKIP() << "no vector path on this processor";
        }
}

// The first pixel in row order holds the peak, wherever the equal ones are: later in its row,
// later rows of its group of rows, the next group, and a lower maximum in an earlier row.
TEST(BeamStatsKernels, PeakIsTheFirstInRowOrder)
{
    for (const int bytes_per_pixel : {1, 2, 3}) {
        for (const int peak_row : {0, 3, 4, 6}) {
            for (const int target : {0, 31, 32, 33, 64, 95, 96}) {
                Image image = make_image(97, 13, bytes_per_pixel, 0, false, [] { return uint8_t{7}; });
                uint8_t* first = const_cast<uint8_t*>(image.window.first);
                auto put = [&](int y, int x, uint8_t value) {
                    std::fill_n(first + static_cast<size_t>(y * 97 + x) * bytes_per_pixel, bytes_per_pixel, value);
                };
                put(peak_row, target, 200);
                put(peak_row, 96, 200);
                put(peak_row + 1, 5, 200);
                put(7, 2, 200);
                put(9, 40, 200);
                if (peak_row > 0)
                    put(peak_row - 1, 50, 150);
                image.window.full_scale = 65535;
                if (!expect_same(image.window, "peak at " + std::to_string(target) + ", " + std::to_string(peak_row) +
                                                   " bpp " + std::to_string(bytes_per_pixel)))
                    GTEST_SKIP() << "no vector path on this processor";
                Projections vector;
                mirva::stats_kernels::project_vector(image.window, vector);
                EXPECT_EQ(vector.peak_x, target);
                EXPECT_EQ(vector.peak_y, peak_row);
            }
        }
    }
}

} // namespace
