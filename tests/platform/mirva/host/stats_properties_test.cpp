// The beam statistics of every delivered image: computed by the image-output thread, carried
// by the image and published as read-only properties that the state file does not keep.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "test_support.h"

using mirva::test::FakeCamera;
using namespace std::chrono_literals;

namespace {

// Hands an image to the output thread the way frame delivery does.
void hand_over(bcam_base& cam, const std::vector<uint8_t>& pixels, int w, int h, int bpp) {
    std::lock_guard lk(cam.out_mx);
    ASSERT_TRUE(cam.out_free);
    std::memcpy(cam.output_buffer, pixels.data(), pixels.size());
    cam.out_width = w;
    cam.out_height = h;
    cam.out_bpp = bpp;
    cam.out_free = false;
    cam.new_image = true;
    cam.out_cond.notify_all();
}

// A 64x48 Mono8 image with one bright 2x2 block at (x, y) and a dim background of 3.
std::vector<uint8_t> block_at(int x, int y) {
    std::vector<uint8_t> p(64 * 48, 3);
    for (int j = y; j < y + 2; ++j)
        for (int i = x; i < x + 2; ++i) p[static_cast<size_t>(j * 64 + i)] = 255;
    return p;
}

TEST(StatsProperties, EveryImageCarriesItsStatisticsAndPublishesThem) {
    FakeCamera cam;
    ASSERT_FALSE(cam.camera_create_all_buffers(64, 48, 1));
    cam.roi_x_start_.mirva::D_value<int>::set_value(10);  // region offset, binned pixels
    cam.bin_x_.mirva::D_value<int>::set_value(2);
    EXPECT_FALSE(cam.stats_cx_.get_valid());
    ASSERT_EQ(cam.stats_threshold_.client_write(int64_t{3}).code, mirva::WriteResult::ok);
    ASSERT_FALSE(cam.camera_start_mirva_output_thread());

    hand_over(cam, block_at(20, 30), 64, 48, 1);
    auto img = cam.wait_for_image(0, 5s);
    ASSERT_NE(img, nullptr);
    // Centre of the block: image (20.5, 30.5); x in sensor pixels: (10 + 20.5) * 2 + 0.5.
    ASSERT_TRUE(img->stats.valid);
    EXPECT_DOUBLE_EQ(img->stats.cx, 61.5);
    EXPECT_DOUBLE_EQ(img->stats.cy, 30.5);
    EXPECT_DOUBLE_EQ(img->stats.sx, 1.0);
    EXPECT_DOUBLE_EQ(img->stats.sy, 0.5);
    EXPECT_DOUBLE_EQ(img->stats.sum, 4 * 252);
    EXPECT_EQ(img->stats.saturated, 4u);
    EXPECT_DOUBLE_EQ(cam.stats_cx_.value(), 61.5);
    EXPECT_DOUBLE_EQ(cam.stats_cy_.value(), 30.5);
    EXPECT_DOUBLE_EQ(cam.stats_peak_.value(), 255);
    EXPECT_EQ(cam.stats_peak_x_.value(), 60);
    EXPECT_EQ(cam.stats_peak_y_.value(), 30);
    EXPECT_EQ(cam.stats_saturated_.value(), 4);
    EXPECT_TRUE(cam.stats_cx_.get_valid());

    // A window in sensor pixels that leaves the block out: no centroid, the last one invalid.
    ASSERT_EQ(cam.stats_window_.client_write(std::string("0 0 40 48")).code, mirva::WriteResult::ok);
    hand_over(cam, block_at(20, 30), 64, 48, 1);
    img = cam.wait_for_image(1, 5s);
    ASSERT_NE(img, nullptr);
    EXPECT_FALSE(img->stats.valid);
    EXPECT_FALSE(cam.stats_cx_.get_valid());
    EXPECT_TRUE(cam.stats_peak_.get_valid());
    EXPECT_DOUBLE_EQ(cam.stats_peak_.value(), 3);
    cam.camera_stop_mirva_output_thread();
}

TEST(StatsProperties, StatisticsAreReadOnlyRunTimeStateAndTheSettingsAreChecked) {
    FakeCamera cam;
    for (const char* name : {"STATS.CX", "STATS.CY", "STATS.SX", "STATS.SY", "STATS.PEAK", "STATS.PEAK.X",
                             "STATS.PEAK.Y", "STATS.SUM", "STATS.SATURATED"}) {
        D_fct* p = cam.find_property(name);
        ASSERT_NE(p, nullptr) << name;
        EXPECT_EQ(p->client_write(int64_t{1}).code, mirva::WriteResult::read_only) << name;
        EXPECT_FALSE(p->stored_text().has_value()) << name;
        EXPECT_FALSE(p->snapshot().writable) << name;
    }
    auto r = cam.stats_threshold_.client_write(int64_t{70000});
    EXPECT_EQ(r.code, mirva::WriteResult::bad_value);
    EXPECT_THAT(r.message, testing::HasSubstr("STATS.THRESHOLD 70000 refused"));
    EXPECT_EQ(cam.stats_threshold_.value(), 0);
    // The limit holds for a number sent as a text as well.
    for (const char* text : {"70000", "-5", " 65536 "}) {
        r = cam.stats_threshold_.client_write(std::string(text));
        EXPECT_EQ(r.code, mirva::WriteResult::bad_value) << text;
        EXPECT_THAT(r.message, testing::HasSubstr("0 to 65535")) << text;
    }
    EXPECT_EQ(cam.stats_threshold_.value(), 0);
    ASSERT_EQ(cam.stats_threshold_.client_write(std::string("65535")).code, mirva::WriteResult::ok);
    EXPECT_EQ(cam.stats_threshold_.value(), 65535);
    r = cam.stats_window_.client_write(std::string("1 2 x 4"));
    EXPECT_EQ(r.code, mirva::WriteResult::bad_value);
    EXPECT_EQ(cam.stats_window_.value(), "");
    // Numbers past 32 bits are refused naming the limit, not wrapped into another window.
    for (const char* text : {"99999999999 0 10 10", "0 0 2147483648 10", "0 -2147483649 10 10"}) {
        r = cam.stats_window_.client_write(std::string(text));
        EXPECT_EQ(r.code, mirva::WriteResult::bad_value) << text;
        EXPECT_THAT(r.message, testing::HasSubstr("2147483647")) << text;
    }
    EXPECT_EQ(cam.stats_window_.value(), "");
    ASSERT_EQ(cam.stats_window_.client_write(std::string("-2147483648 0 2147483647 10")).code, mirva::WriteResult::ok);
    ASSERT_EQ(cam.stats_threshold_.client_write(int64_t{12}).code, mirva::WriteResult::ok);
    ASSERT_EQ(cam.stats_window_.client_write(std::string("")).code, mirva::WriteResult::ok);
    EXPECT_EQ(cam.stats_threshold_.stored_text(), "12");
    EXPECT_TRUE(cam.stats_window_.stored_text().has_value());
}

} // namespace
