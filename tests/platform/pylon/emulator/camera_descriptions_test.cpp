// The emulator plays a camera from a real camera's own description (the folder named by
// MIRVA_GENICAM_XML_DIR): its registers in memory, and frames through the node map.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "GrabFixture.h"
#include "support/description_files.h"

using namespace Pylon;

namespace {


class ForeignDescription : public pylon_test::GrabTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(ForeignDescription, EmulatorStreamsFromTheFile)
{
    const std::string path = GetParam();
    OpenCamera(path);
    GenApi::INodeMap& map = *camera->GetNodeMap();
    for (const char* name : {"Width", "Height"}) {
        GenApi::CIntegerPtr value = map.GetNode(name);
        ASSERT_TRUE(value.IsValid()) << name;
        // The emulator fills the status registers the file leaves to the camera
        // (implemented, available): the geometry of every real camera's file is there.
        ASSERT_TRUE(GenApi::IsReadable(value)) << name << " is not available in the emulator for " << path;
        if (GenApi::IsWritable(value))
            value->SetValue(std::clamp<int64_t>(64, value->GetMin(), value->GetMax()) / value->GetInc() *
                            value->GetInc());
    }
    const int64_t width = GenApi::CIntegerPtr(map.GetNode("Width"))->GetValue();
    const int64_t height = GenApi::CIntegerPtr(map.GetNode("Height"))->GetValue();
    EXPECT_GT(width, 0);
    EXPECT_GT(height, 0);
    PrepareGrab(2);
    GenApi::CCommandPtr start = map.GetNode("AcquisitionStart");
    ASSERT_TRUE(start.IsValid());
    // Real cameras' files lock AcquisitionStart until the grabber holds TLParamsLocked.
    ASSERT_TRUE(GenApi::IsWritable(start)) << "AcquisitionStart is locked in the emulator for " << path;
    start->Execute();
    GrabResult r;
    ASSERT_TRUE(Next(r));
    EXPECT_TRUE(r.Succeeded()) << r.GetErrorDescription();
    EXPECT_EQ(r.GetSizeX(), width);
    EXPECT_EQ(r.GetSizeY(), height);
    std::printf("%s: frame %dx%d\n", std::filesystem::path(path).filename().c_str(), r.GetSizeX(), r.GetSizeY());
}

INSTANTIATE_TEST_SUITE_P(Files, ForeignDescription, ::testing::ValuesIn(pylon_test::DescriptionFiles()),
                         pylon_test::DescriptionTestName());
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ForeignDescription);

} // namespace
