// Beam statistics of emulated beam images: centroid, widths, peak, sum and saturation against
// the beam the emulator was told to show, for Mono8, Mono16 and RGB, with region, binning,
// threshold and window.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <mirva/beam_stats.h>
#include <pylon/PixelType.h>

#include "emulator/FramePattern.h"

using namespace Pylon;

namespace {

struct Shot {
    std::vector<uint8_t> pixels;
    mirva::StatsImage image;
};

Emulator::BeamSettings Beam(double x, double y, double sx, double sy, bool noise, double background = 0,
                            double intensity = 0.8)
{
    Emulator::BeamSettings b;
    b.x = x, b.y = y, b.sigmaX = sx, b.sigmaY = sy;
    b.noise = noise;
    b.background = background;
    b.intensity = intensity;
    return b;
}

// One emulated frame, and the image the statistics see (the emulator's frame is the delivered
// image for these three formats).
Shot Take(EPixelType type, uint32_t w, uint32_t h, const Emulator::BeamSettings& beam, uint64_t frame = 1,
          uint32_t offset_x = 0, uint32_t offset_y = 0, uint32_t binning = 1)
{
    Emulator::PatternKey key;
    key.type = type;
    key.width = w;
    key.height = h;
    key.offsetX = offset_x;
    key.offsetY = offset_y;
    key.binningH = key.binningV = binning;
    Emulator::CBeamPattern pattern;
    pattern.Prepare(key, beam);
    Shot s;
    s.pixels.resize(pattern.FrameSize());
    pattern.Write(frame, s.pixels.data(), s.pixels.size());
    s.image.pixels = s.pixels.data();
    s.image.width = static_cast<int>(w);
    s.image.height = static_cast<int>(h);
    s.image.bytes_per_pixel = type == PixelType_Mono8 ? 1 : type == PixelType_RGB8packed ? 3 : 2;
    s.image.effective_bits = static_cast<int>(BitDepth(type));
    s.image.x_start = static_cast<int>(offset_x);
    s.image.y_start = static_cast<int>(offset_y);
    s.image.hbin = s.image.vbin = static_cast<int>(binning);
    return s;
}

mirva::BeamStats Stats(const Shot& s, int threshold = 0)
{
    mirva::StatsOptions o;
    o.threshold = threshold;
    return mirva::compute_beam_stats(s.image, o);
}

TEST(BeamStats, WithoutNoiseCentroidAndWidthsAreTheBeams)
{
    for (EPixelType type : {PixelType_Mono8, PixelType_Mono12, PixelType_RGB8packed}) {
        SCOPED_TRACE(type);
        const auto st = Stats(Take(type, 640, 480, Beam(300.4, 200.7, 25, 15, false)));
        ASSERT_TRUE(st.valid);
        EXPECT_NEAR(st.cx, 300.4, 0.1);
        EXPECT_NEAR(st.cy, 200.7, 0.1);
        EXPECT_NEAR(st.sx, 25, 0.25);
        EXPECT_NEAR(st.sy, 15, 0.15);
        // Neighbours of the brightest pixel may round to the same value: the first one counts.
        EXPECT_NEAR(st.peak_x, 300.4, 1);
        EXPECT_NEAR(st.peak_y, 200.7, 1);
        const double full = type == PixelType_Mono12 ? 4095 : 255;
        EXPECT_NEAR(st.peak, 0.8 * full, 2);
        // The sum of a sampled Gaussian: peak * 2 pi sx sy.
        EXPECT_NEAR(st.sum, 0.8 * full * 2 * M_PI * 25 * 15, 0.01 * 0.8 * full * 2 * M_PI * 25 * 15);
        EXPECT_EQ(st.saturated, 0u);
    }
}

TEST(BeamStats, WithNoiseAndAThresholdTheCentroidStaysWithinHalfAPixel)
{
    // Background 2 % of full scale with its noise; the threshold sits a few deviations above it.
    struct Case {
        EPixelType type;
        int threshold;
    };
    for (const Case c : {Case{PixelType_Mono8, 12}, Case{PixelType_Mono12, 180}, Case{PixelType_RGB8packed, 12}}) {
        SCOPED_TRACE(c.type);
        for (uint64_t frame = 1; frame <= 3; ++frame) {
            const auto st = Stats(Take(c.type, 640, 480, Beam(250.3, 260.8, 30, 20, true, 0.02), frame), c.threshold);
            ASSERT_TRUE(st.valid);
            EXPECT_NEAR(st.cx, 250.3, 0.5);
            EXPECT_NEAR(st.cy, 260.8, 0.5);
            // The threshold cuts the far wings: the widths come out a little narrower.
            EXPECT_NEAR(st.sx, 30, 30 * 0.15);
            EXPECT_NEAR(st.sy, 20, 20 * 0.15);
        }
    }
}

TEST(BeamStats, RegionAndBinningGiveSensorCoordinates)
{
    // Region from binned pixel (60, 40), 2x2 binning: image pixel i covers sensor pixels
    // 2 (60 + i) and 2 (60 + i) + 1.
    const auto st = Stats(Take(PixelType_Mono8, 200, 160, Beam(321.3, 170.6, 16, 12, false), 1, 60, 40, 2));
    ASSERT_TRUE(st.valid);
    EXPECT_NEAR(st.cx, 321.3, 0.1);
    EXPECT_NEAR(st.cy, 170.6, 0.1);
    // A binned pixel adds its own width: sigma^2 + (b^2 - 1) / 12.
    EXPECT_NEAR(st.sx, std::sqrt(16 * 16 + 3.0 / 12), 0.2);
    EXPECT_NEAR(st.sy, std::sqrt(12 * 12 + 3.0 / 12), 0.2);
    EXPECT_NEAR(st.peak_x, 321.3, 2.0);
    EXPECT_NEAR(st.peak_y, 170.6, 2.0);
}

TEST(BeamStats, SaturatedPixelsAreCountedAtFullScale)
{
    // Intensity 3x full scale: every pixel where the spot reaches full scale is clipped there.
    const double x = 100, y = 80, sx = 10, sy = 8, peak = 3.0;
    size_t expected = 0;
    for (int j = 0; j < 160; ++j)
        for (int i = 0; i < 200; ++i) {
            const double g = peak * std::exp(-0.5 * ((i - x) * (i - x) / (sx * sx) + (j - y) * (j - y) / (sy * sy)));
            expected += g >= 1.0 ? 1 : 0;
        }
    ASSERT_GT(expected, 100u);
    for (EPixelType type : {PixelType_Mono8, PixelType_Mono12, PixelType_Mono16, PixelType_RGB8packed}) {
        SCOPED_TRACE(type);
        const auto st = Stats(Take(type, 200, 160, Beam(x, y, sx, sy, false, 0, peak)));
        EXPECT_NEAR(static_cast<double>(st.saturated), static_cast<double>(expected), expected * 0.03);
        EXPECT_EQ(st.peak, type == PixelType_Mono12 ? 4095 : type == PixelType_Mono16 ? 65535 : 255);
    }
}

TEST(BeamStats, WindowAndThresholdSelectWhatCounts)
{
    const Shot s = Take(PixelType_Mono8, 400, 300, Beam(200, 150, 20, 20, false));
    mirva::StatsOptions o;
    std::string error;
    // The right half of the spot only: its centroid lies right of the beam's.
    ASSERT_TRUE(mirva::parse_stats_window("200 100 100 100", o, error)) << error;
    auto st = mirva::compute_beam_stats(s.image, o);
    ASSERT_TRUE(st.valid);
    EXPECT_NEAR(st.cx, 200 + 20 * std::sqrt(2 / M_PI), 0.5);
    EXPECT_NEAR(st.cy, 150, 0.1);
    // Far from the spot there is nothing above the threshold: no centroid.
    ASSERT_TRUE(mirva::parse_stats_window("0 0 50 50", o, error));
    o.threshold = 1;
    st = mirva::compute_beam_stats(s.image, o);
    EXPECT_FALSE(st.valid);
    EXPECT_EQ(st.sum, 0);
    // A window outside the image is empty; an empty text is the whole image.
    ASSERT_TRUE(mirva::parse_stats_window("1000 1000 10 10", o, error));
    EXPECT_FALSE(mirva::compute_beam_stats(s.image, o).valid);
    ASSERT_TRUE(mirva::parse_stats_window("", o, error));
    EXPECT_NEAR(mirva::compute_beam_stats(s.image, o).cx, 200, 0.1);

    for (const char* bad : {"1 2 3", "a b c d", "1 2 -3 4", "1 2 3 4 5"}) {
        EXPECT_FALSE(mirva::parse_stats_window(bad, o, error)) << bad;
        EXPECT_NE(error.find(std::string("'") + bad + "'"), std::string::npos) << error;
    }
}

TEST(BeamStats, EmptyOrUnknownImagesGiveNoStatistics)
{
    mirva::StatsImage image;
    EXPECT_FALSE(mirva::compute_beam_stats(image, {}).valid);
    std::vector<uint8_t> pixels(16, 7);
    image.pixels = pixels.data();
    image.width = image.height = 2;
    image.bytes_per_pixel = 4;
    EXPECT_FALSE(mirva::compute_beam_stats(image, {}).valid);
    // A flat image: the centroid is its centre.
    image.bytes_per_pixel = 1;
    const auto st = mirva::compute_beam_stats(image, {});
    ASSERT_TRUE(st.valid);
    EXPECT_DOUBLE_EQ(st.cx, 0.5);
    EXPECT_DOUBLE_EQ(st.sum, 28);
}

} // namespace
