// A camera whose description cannot be evaluated fails its own set-up with the node and
// the formula in its error text; the other locations come up as usual.
#include <gmock/gmock.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "location_support.h"

using ::testing::HasSubstr;
using namespace location_test;

namespace {

// The full model with one text replaced, written to the test's temporary directory.
std::string broken_model(const std::string& file, const std::string& from, const std::string& to)
{
    const std::filesystem::path source = std::filesystem::path(MIRVA_SOURCE_DIR) / "platform/pylon/models" / kFullModel;
    std::ifstream in(source);
    std::stringstream text;
    text << in.rdbuf();
    std::string xml = text.str();
    const size_t at = xml.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        xml.replace(at, from.size(), to);
    const std::filesystem::path path = std::filesystem::temp_directory_path() / file;
    std::ofstream(path) << xml;
    return path.string();
}

class BrokenModel : public LocationFixture {};

TEST_F(BrokenModel, FormulaDividingByZeroFailsOnlyItsOwnLocation)
{
    plug("1001");
    plug("1002", broken_model("mirva_divide_by_zero.xml", "<Formula>SW / BH</Formula>", "<Formula>SW / (BH - BH)</Formula>"));
    EqFctPylon* good = add_location("GOOD", {{"SERIAL", "1001"}});
    EqFctPylon* bad = add_location("BAD", {{"SERIAL", "1002"}});
    Stderr err;
    good->find_cameras_of_type(1);
    ASSERT_NO_THROW(start(good));
    ASSERT_NO_THROW(start(bad));
    const std::string text = err.text();

    EXPECT_TRUE(good->setup_done.load());
    EXPECT_FALSE(bad->setup_done.load()) << text;
    EXPECT_THAT(bad->err_text_.value(), HasSubstr("WidthMaxCalc"));
    EXPECT_THAT(bad->err_text_.value(), HasSubstr("division by zero in formula 'SW / (BH - BH)'"));
    EXPECT_THAT(text, HasSubstr("BAD: online() Failed to init camera: Error: camera 1002: "));
}

TEST_F(BrokenModel, SensorWidthZeroDoesNotEscapeTheSetUp)
{
    plug("1002", broken_model("mirva_sensor_width_0.xml", "<Value>1280</Value>\n    <Min>1280</Min>\n    <Max>1280</Max>",
                              "<Value>0</Value>\n    <Min>0</Min>\n    <Max>0</Max>"));
    EqFctPylon* bad = add_location("BAD", {{"SERIAL", "1002"}});
    Stderr err;
    bad->find_cameras_of_type(1);
    ASSERT_NO_THROW(start(bad));
    EXPECT_FALSE(bad->setup_done.load());
}

} // namespace
