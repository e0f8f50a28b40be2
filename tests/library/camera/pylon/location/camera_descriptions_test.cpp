// A location on an emulated camera that plays a real camera's own description (the folder
// named by MIRVA_GENICAM_XML_DIR; skipped when unset): the camera is booked, the location
// comes on line and frames arrive after START, whatever generation of feature names the
// camera follows. What stood in for a feature the camera lacks is printed per file.
#include <gmock/gmock.h>

#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "location_support.h"
#include "support/description_files.h"

using namespace location_test;

namespace {


// The lines of `text` that hold `what`.
std::vector<std::string> lines_with(const std::string& text, const std::string& what)
{
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.find(what) != std::string::npos)
            found.push_back(line);
    return found;
}

class CameraDescription : public LocationFixture, public ::testing::WithParamInterface<std::string> {
protected:
    void SetUp() override
    {
        // The location saves its feature file beside the process when it lets the camera
        // go: each test works in a folder of its own.
        std::string pattern = (std::filesystem::path(::testing::TempDir()) / "mirva_camera_description_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        old_cwd_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        LocationFixture::SetUp();
    }
    void TearDown() override
    {
        LocationFixture::TearDown();
        if (!old_cwd_.empty())
            std::filesystem::current_path(old_cwd_);
        std::error_code ignored;
        if (!dir_.empty())
            std::filesystem::remove_all(dir_, ignored);
    }
    std::filesystem::path dir_, old_cwd_;
};

TEST_P(CameraDescription, LocationComesOnLineAndDeliversFrames)
{
    const std::string path = GetParam();
    const std::string file = std::filesystem::path(path).filename().string();
    plug("1001", path);
    EqFctPylon* loc = add_location("DESC", {{"SERIAL", "1001"}});
    Stderr err;
    loc->find_cameras_of_type(1);
    start(loc);
    const bool on_line = loc->setup_done.load() && loc->g_sts_.online() == 1;
    bool delivered = false;
    if (on_line) {
        loc->start_.set_value(1);
        update(loc);  // starts the camera thread
        delivered = eventually([&] { return loc->frame_counter_.value() > 0; }, std::chrono::seconds(30));
    }
    const std::string error = loc->err_text_.value();
    loc->cancel();
    const std::string text = err.text();

    std::printf("%s: %s\n", file.c_str(), !on_line ? "NOT ON LINE" : delivered ? "on line, frames" : "on line, NO FRAME");
    for (const std::string& line : lines_with(text, "stands in"))
        std::printf("  %s\n", line.c_str());
    for (const std::string& line : lines_with(text, "nothing to set"))
        std::printf("  %s\n", line.c_str());
    ASSERT_TRUE(on_line) << file << ": " << error << "\n" << text;
    EXPECT_TRUE(delivered) << file << ": " << error << "\n" << text;
}

// A calibration image while acquiring, on every camera: the full-frame geometry is written
// where the camera lets it be written (some cameras fix Width or Height), the image comes,
// and the location goes on streaming.
TEST_P(CameraDescription, CalibrationTakesAnImageAndStreamingGoesOn)
{
    const std::string file = std::filesystem::path(GetParam()).filename().string();
    plug("1002", GetParam());
    EqFctPylon* loc = add_location("CALIB", {{"SERIAL", "1002"}});
    Stderr err;
    loc->find_cameras_of_type(1);
    start(loc);
    ASSERT_TRUE(loc->setup_done.load() && loc->g_sts_.online() == 1) << file << ": " << loc->err_text_.value();
    // Before the camera thread runs: frames keep coming (a camera may start in single-frame
    // mode), and the region before the calibration, which its full frame holds at least.
    Pylon::Camera_t& camera = *loc->pCamera;
    if (GenApi::IsWritable(camera.AcquisitionMode))
        camera.AcquisitionMode.FromString("Continuous");
    const int64_t width_before = camera.Width.GetValue();
    const int64_t height_before = camera.Height.GetValue();
    const int64_t full_width = loc->camera_largest_size(true);
    const int64_t full_height = loc->camera_largest_size(false);
    loc->start_.set_value(1);
    update(loc);  // starts the camera thread
    ASSERT_TRUE(eventually([&] { return loc->frame_counter_.value() > 0; }, std::chrono::seconds(30))) << file;

    loc->calib_.set_new_value(1);
    loc->calib_.set_changed(true);
    const bool calibrated = eventually(
        [&] { return loc->calib_image() != nullptr && loc->calib_.value() == 0 && !loc->calib_.is_changed(); },
        std::chrono::seconds(30));
    const int frames = loc->frame_counter_.value();
    const bool streaming = calibrated && eventually([&] { return loc->frame_counter_.value() >= frames + 2; },
                                                    std::chrono::seconds(30));
    const bool on_line = loc->g_sts_.online() == 1 && !loc->exeption.load();
    const auto image = loc->calib_image();
    const std::string error = loc->err_text_.value();
    loc->cancel();
    const std::string text = err.text();

    ASSERT_TRUE(calibrated) << file << ": " << error << "\n" << text;
    EXPECT_TRUE(on_line) << file << ": " << error << "\n" << text;
    EXPECT_TRUE(streaming) << file << ": " << error << "\n" << text;
    ASSERT_NE(image, nullptr);
    EXPECT_GE(image->width, width_before) << file;
    EXPECT_LE(image->width, full_width) << file;
    EXPECT_GE(image->height, height_before) << file;
    EXPECT_LE(image->height, full_height) << file;
}

INSTANTIATE_TEST_SUITE_P(Files, CameraDescription, ::testing::ValuesIn(pylon_test::DescriptionFiles()),
                         pylon_test::DescriptionTestName());
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CameraDescription);

} // namespace
