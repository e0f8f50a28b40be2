// A camera whose description cannot be evaluated fails its own set-up with the node and
// the problem in its error text and log; the other locations come up as usual, and the
// failed location holds neither the camera nor its booking.
#include <gmock/gmock.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "location_support.h"

using ::testing::HasSubstr;
using namespace location_test;

namespace {

class BrokenModel : public LocationFixture {
protected:
    void SetUp() override
    {
        LocationFixture::SetUp();
        // A directory of this test alone: a shared path in /tmp is rewritten by every
        // other run of the suite (the other sanitizer build, other checkouts) meanwhile.
        std::string pattern = (std::filesystem::path(::testing::TempDir()) / "mirva_broken_model_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        LocationFixture::TearDown();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // The full model with texts replaced, as a model file of this test.
    std::string broken_model(const std::string& file, const std::vector<std::pair<std::string, std::string>>& changes)
    {
        const std::filesystem::path source = std::filesystem::path(MIRVA_SOURCE_DIR) / "platform/pylon/models" / kFullModel;
        std::ifstream in(source);
        std::stringstream text;
        text << in.rdbuf();
        std::string xml = text.str();
        for (const auto& [from, to] : changes) {
            const size_t at = xml.find(from);
            // Without the replacement the test would run on a sound model.
            if (at == std::string::npos) {
                ADD_FAILURE() << "the model no longer holds: " << from;
                return {};
            }
            xml.replace(at, from.size(), to);
        }
        const std::filesystem::path path = dir_ / file;
        std::ofstream(path) << xml;
        return path.string();
    }

    std::filesystem::path dir_;
};

TEST_F(BrokenModel, FormulaDividingByZeroFailsOnlyItsOwnLocation)
{
    const std::string model =
        broken_model("divide_by_zero.xml", {{"<Formula>SW / BH</Formula>", "<Formula>SW / (BH - BH)</Formula>"}});
    ASSERT_FALSE(model.empty());
    plug("1001");
    plug("1002", model);
    EqFctPylon* good = add_location("GOOD", {{"SERIAL", "1001"}});
    EqFctPylon* bad = add_location("BAD", {{"SERIAL", "1002"}, {"RESTORE_OLD", "1"}});
    Stderr err;
    good->find_cameras_of_type(1);
    ASSERT_NO_THROW(start(good));
    ASSERT_NO_THROW(start(bad));
    const std::string text = err.text();

    EXPECT_TRUE(good->setup_done.load());
    EXPECT_FALSE(bad->setup_done.load()) << text;
    EXPECT_EQ(bad->setup_result, 2);
    EXPECT_THAT(bad->err_text_.value(), HasSubstr("WidthMaxCalc"));
    EXPECT_THAT(bad->err_text_.value(), HasSubstr("division by zero in formula 'SW / (BH - BH)'"));
    EXPECT_THAT(text, HasSubstr("BAD: camera_init() camera 1002 ("));
    EXPECT_THAT(text, HasSubstr("BAD: online() Failed to init camera: Error: camera 1002 ("));
    // The failed location lets its camera and booking go.
    EXPECT_EQ(bad->pCamera, nullptr);
    EXPECT_EQ(bad->n_device, -1);
    EXPECT_EQ(EqFctPylon::booked, (std::vector<int>{1, 0}));
}

// A sensor 0 pixels wide gives an image of no pixels: the set-up must fail and say why,
// not come up with a camera that cannot stream. The width is the camera's own answer
// here (a formula): a plain value of 0 is what descriptions without values carry, and
// the emulator gives such a sensor a size of its own.
TEST_F(BrokenModel, SensorWidthZeroFailsTheSetUpNamingTheFeature)
{
    const std::string model = broken_model(
        "sensor_width_0.xml",
        {{"<Value>1280</Value>\n    <Min>1280</Min>\n    <Max>1280</Max>",
          "<pValue>SensorWidthReported</pValue>\n    <Min>0</Min>\n    <Max>0</Max>"},
         {"</RegisterDescription>",
          "  <IntSwissKnife Name=\"SensorWidthReported\">\n    <Formula>0</Formula>\n  </IntSwissKnife>\n"
          "</RegisterDescription>"}});
    ASSERT_FALSE(model.empty());
    plug("1002", model);
    EqFctPylon* bad = add_location("BAD", {{"SERIAL", "1002"}});
    Stderr err;
    bad->find_cameras_of_type(1);
    ASSERT_NO_THROW(start(bad));
    const std::string text = err.text();
    EXPECT_FALSE(bad->setup_done.load()) << text;
    EXPECT_EQ(bad->setup_result, 2);
    EXPECT_EQ(bad->g_sts_.online(), 0);
    EXPECT_EQ(bad->err_text_.value(), "WidthMax is 0: the camera has no image to stream");
    EXPECT_THAT(text, HasSubstr("BAD: camera_get_size() WidthMax is 0: the camera has no image to stream"));
    EXPECT_THAT(text, HasSubstr("BAD: camera_init() Failed to obtain max image size"));
    EXPECT_EQ(bad->pCamera, nullptr);
    EXPECT_EQ(EqFctPylon::booked, (std::vector<int>{0}));
}

} // namespace
