// Frames per second over the last second of frame arrival times.
#include <mirva/frame_rate_meter.h>

#include <gtest/gtest.h>

namespace {

using mirva::FrameRateMeter;
using namespace std::chrono_literals;

TEST(FrameRateMeter, SteadyRateIsMeasuredAndFallsToZeroWhenFramesStop) {
    FrameRateMeter m;
    const auto t0 = FrameRateMeter::clock::now();
    EXPECT_EQ(m.fps(t0), 0);
    m.frame(t0);
    EXPECT_EQ(m.fps(t0 + 10ms), 1);
    // 26 frames a second for three seconds: the reading is the rate, not one cycle.
    auto t = t0;
    for (int i = 1; i <= 78; ++i) {
        t = t0 + std::chrono::microseconds(i * 1000000 / 26);
        m.frame(t);
    }
    EXPECT_NEAR(m.fps(t), 26.0, 0.05);
    EXPECT_NEAR(m.fps(t + 500ms), 26.0, 0.1);  // half a second later, 13 frames are left
    EXPECT_EQ(m.fps(t + 1100ms), 0);
}

TEST(FrameRateMeter, HighRatesStayRightPastTheStoredFrames) {
    FrameRateMeter m;
    const auto t0 = FrameRateMeter::clock::now();
    auto t = t0;
    for (int i = 0; i < 20000; ++i) {  // 20000 frames a second
        t = t0 + std::chrono::microseconds(i * 50);
        m.frame(t);
    }
    EXPECT_NEAR(m.fps(t), 20000.0, 1.0);
}

} // namespace
