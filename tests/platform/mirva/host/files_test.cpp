// Image, region and calibration files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <png.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <mirva/bcam_base.h>
#include <mirva/image_files.h>

#include "test_support.h"

namespace {

using mirva::test::bytes_of;
using mirva::test::FakeCamera;
using mirva::test::TempDir;

// Reads a PNG with libpng's own reader: bit depth, colour type and samples (16-bit in host order).
struct ReadBack {
    int width = 0, height = 0, depth = 0, color = -1;
    std::vector<uint8_t> pixels;
};

ReadBack read_with_libpng(const std::string& path) {
    ReadBack out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return out;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        fclose(f);
        out.width = -1;
        return out;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    out.width = static_cast<int>(png_get_image_width(png, info));
    out.height = static_cast<int>(png_get_image_height(png, info));
    out.depth = png_get_bit_depth(png, info);
    out.color = png_get_color_type(png, info);
    if (out.depth == 16) png_set_swap(png);
    png_read_update_info(png, info);
    size_t stride = png_get_rowbytes(png, info);
    out.pixels.resize(stride * static_cast<size_t>(out.height));
    for (int y = 0; y < out.height; ++y) png_read_row(png, out.pixels.data() + stride * static_cast<size_t>(y), nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(f);
    return out;
}

std::vector<uint8_t> pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 37 + 11);
    return v;
}

class FilesTest : public testing::Test {
protected:
    void SetUp() override { mirva::set_image_directory(dir.path()); }
    void TearDown() override { mirva::set_image_directory("."); }
    TempDir dir;
};

TEST_F(FilesTest, ImagesAreWrittenAsPngForOneTwoAndThreeBytesPerPixel) {
    mirva::LocationCreation scope("CAMF", {});
    FakeCamera cam;
    struct Kind {
        int bpp, depth, color;
    } kinds[] = {{1, 8, PNG_COLOR_TYPE_GRAY}, {2, 16, PNG_COLOR_TYPE_GRAY}, {3, 8, PNG_COLOR_TYPE_RGB}};
    for (const auto& k : kinds) {
        const int w = 13, h = 5;
        auto pixels = pattern(static_cast<size_t>(w * h * k.bpp));
        std::string name = "img" + std::to_string(k.bpp) + ".png";
        ASSERT_EQ(cam.camera_write_image_to_file(w, h, k.bpp, pixels.data(), name.c_str()), 0);
        ReadBack r = read_with_libpng(dir.path() + "/" + name);
        EXPECT_EQ(r.width, w);
        EXPECT_EQ(r.height, h);
        EXPECT_EQ(r.depth, k.depth);
        EXPECT_EQ(r.color, k.color);
        EXPECT_EQ(r.pixels, pixels) << k.bpp << " bytes per pixel";
    }
    // 16-bit samples are big-endian in the file: 0x0102 must read back as 0x0102.
    uint16_t one = 0x0102;
    ASSERT_EQ(cam.camera_write_image_to_file(1, 1, 2, reinterpret_cast<uint8_t*>(&one), "one.png"), 0);
    ReadBack r = read_with_libpng(dir.path() + "/one.png");
    ASSERT_EQ(r.pixels.size(), 2u);
    uint16_t back;
    std::memcpy(&back, r.pixels.data(), 2);
    EXPECT_EQ(back, 0x0102);
}

TEST_F(FilesTest, DefaultFileNameIsLocationAndFrame) {
    mirva::LocationCreation scope("CAMF", {});
    FakeCamera cam;
    cam.frame_counter_.set_value(77);
    auto pixels = pattern(4);
    ASSERT_EQ(cam.camera_write_image_to_file(2, 2, 1, pixels.data(), nullptr), 0);
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/CAMF_77.png"));
}

TEST_F(FilesTest, FailuresAreReportedNotThrown) {
    FakeCamera cam;
    auto pixels = pattern(4);
    testing::internal::CaptureStderr();
    EXPECT_NE(cam.camera_write_image_to_file(2, 2, 1, pixels.data(), "/nonexistent-dir/x.png"), 0);
    EXPECT_NE(cam.camera_write_image_to_file(2, 2, 4, pixels.data(), "four.png"), 0);
    EXPECT_NE(cam.camera_write_image_to_file(0, 2, 1, pixels.data(), "zero.png"), 0);
    EXPECT_NE(cam.camera_write_rois_to_file("/nonexistent-dir/x.roi"), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 4) << err;
    EXPECT_THAT(err, testing::HasSubstr("/nonexistent-dir/x.png"));
}

TEST_F(FilesTest, RegionFileListsTheRegionParameters) {
    mirva::LocationCreation scope("CAMF", {});
    FakeCamera cam;
    cam.roi_x_start_.mirva::D_value<int>::set_value(10);
    cam.roi_x_end_.mirva::D_value<int>::set_value(329);
    ASSERT_EQ(cam.camera_write_rois_to_file("r.roi"), 0);
    std::ifstream in(dir.path() + "/r.roi");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_THAT(text.str(), testing::HasSubstr("ROI.X.START 10\n"));
    EXPECT_THAT(text.str(), testing::HasSubstr("ROI.X.END 329\n"));
    EXPECT_THAT(text.str(), testing::HasSubstr("BINNING.Y 1\n"));
}

TEST_F(FilesTest, CalibrationImageIsStoredOnceAndLoadedByANewLocation) {
    auto pixels = pattern(6 * 4 * 2);
    {
        mirva::LocationCreation scope("CAMC", {});
        FakeCamera cam;
        cam.camera_load_calib_image();  // nothing stored yet
        EXPECT_EQ(cam.calib_image(), nullptr);
        cam.camera_set_calib_image(6, 4, 2, pixels.data());
        cam.camera_load_calib_image();  // must not replace the unstored new image
        cam.camera_store_calib_image();
        const std::string path = dir.path() + "/CAMC_calib.png";
        ASSERT_TRUE(std::filesystem::exists(path));
        auto stamp = std::filesystem::last_write_time(path);
        cam.camera_store_calib_image();  // nothing new: the file stays
        cam.camera_load_calib_image();   // same file: the image in memory stays
        EXPECT_EQ(std::filesystem::last_write_time(path), stamp);
        auto img = cam.calib_image();
        ASSERT_NE(img, nullptr);
        EXPECT_EQ(bytes_of(img->pixels), pixels);
    }
    mirva::LocationCreation scope("CAMC", {});
    FakeCamera again;
    again.post_init();  // loads the stored image
    auto img = again.calib_image();
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->width, 6);
    EXPECT_EQ(img->height, 4);
    EXPECT_EQ(img->bytes_per_pixel, 2);
    EXPECT_EQ(bytes_of(img->pixels), pixels);
}

} // namespace
