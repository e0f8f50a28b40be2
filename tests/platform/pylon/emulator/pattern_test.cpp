// The frames' test pattern: frame number in every pixel format, movement, brightness.
#include "GrabFixture.h"

#include <cstring>
#include <numeric>

#include <pylon/emulator/TestPattern.h>

using namespace Pylon;
using pylon_test::GrabTest;

namespace {

class Pattern : public GrabTest {
protected:
    // Grabs frames in continuous mode and checks the frame number each carries.
    void CheckFormat(const std::string& format, int frames = 3)
    {
        SCOPED_TRACE(format);
        camera->PixelFormat.FromString(format);
        const EPixelType type = CPixelTypeMapper::GetPylonPixelTypeByName(format);
        ASSERT_TRUE(Emulator::IsPatternSupported(type));
        PrepareGrab(frames);
        camera->AcquisitionStart.Execute();
        std::vector<std::vector<uint8_t>> images;
        for (int i = 0; i < frames; ++i) {
            GrabResult r;
            ASSERT_TRUE(Next(r));
            ASSERT_EQ(r.Status(), Grabbed) << r.GetErrorDescription();
            EXPECT_EQ(r.GetPixelType(), type);
            EXPECT_EQ(static_cast<size_t>(r.GetPayloadSize()),
                      ComputeBufferSize(type, static_cast<uint32_t>(r.GetSizeX()), static_cast<uint32_t>(r.GetSizeY())));
            const auto number = Emulator::DecodeFrameNumber(r.Buffer(), static_cast<size_t>(r.GetPayloadSize()), type,
                                                            static_cast<uint32_t>(r.GetSizeX()));
            ASSERT_TRUE(number.has_value());
            EXPECT_EQ(*number, r.GetBlockID());
            const auto* bytes = static_cast<const uint8_t*>(r.Buffer());
            images.emplace_back(bytes, bytes + r.GetPayloadSize());
        }
        camera->AcquisitionStop.Execute();
        StopGrab();
        // The picture beside the frame number moves from frame to frame.
        const size_t skip = Emulator::FrameNumberBits(static_cast<uint32_t>(camera->Width.GetValue())) * BitPerPixel(type) / 8;
        for (size_t i = 1; i < images.size(); ++i) {
            ASSERT_GT(images[i].size(), skip);
            EXPECT_NE(std::memcmp(images[i].data() + skip, images[i - 1].data() + skip, images[i].size() - skip), 0);
        }
    }

    std::vector<std::string> Formats()
    {
        StringList_t symbolics;
        camera->PixelFormat.GetSymbolics(symbolics);
        return {symbolics.begin(), symbolics.end()};
    }
};

TEST_F(Pattern, MonoModelCarriesTheFrameNumberInEachFormat)
{
    OpenCamera();
    SmallFastFrames(64, 32);
    const auto formats = Formats();
    EXPECT_GE(formats.size(), 3u);
    for (const auto& f : formats)
        CheckFormat(f);
}

TEST_F(Pattern, ColourModelCarriesTheFrameNumberInEachFormat)
{
    OpenCamera("color_area_1920x1200.xml");
    SmallFastFrames(64, 16);
    const auto formats = Formats();
    EXPECT_GE(formats.size(), 4u);
    for (const auto& f : formats)
        CheckFormat(f);
}

TEST_F(Pattern, LineCameraSendsOneLineFrames)
{
    OpenCamera("line_scan_4096.xml");
    camera->Width = 512;
    for (const auto& f : Formats())
        CheckFormat(f, 2);
}

TEST_F(Pattern, WidthNotAMultipleOfFourWithPackedPixels)
{
    OpenCamera();
    SmallFastFrames(66, 18);
    CheckFormat("Mono12Packed");
}

// Mean grey value of a Mono8 frame at the given exposure and gain.
class Brightness : public GrabTest {
protected:
    double Mean(int64_t exposure, int64_t gain)
    {
        camera->ExposureTimeRaw = exposure;
        camera->GainRaw = gain;
        camera->AcquisitionMode.SetValue(AcquisitionMode_SingleFrame);
        camera->AcquisitionStart.Execute();
        GrabResult r;
        EXPECT_TRUE(Next(r));
        EXPECT_EQ(r.Status(), Grabbed);
        const auto* p = static_cast<const uint8_t*>(r.Buffer());
        const size_t size = static_cast<size_t>(r.GetPayloadSize());
        const size_t skip = static_cast<size_t>(r.GetSizeX()); // the first line carries the frame number
        const double sum = std::accumulate(p + skip, p + size, 0.0);
        grabber.QueueBuffer(r.Handle());
        return sum / static_cast<double>(size - skip);
    }
};

TEST_F(Brightness, FollowsExposureTimeAndGain)
{
    OpenCamera();
    camera->Width = 256;
    camera->Height = 64;
    camera->PixelFormat = PixelFormat_Mono8;
    PrepareGrab(2);
    const int64_t gain0 = camera->GainRaw.GetMin();
    // The model's default exposure (3500 us) gives full brightness.
    const double dim = Mean(700, gain0);
    const double twice = Mean(1400, gain0);
    const double gained = Mean(700, gain0 + 200);
    EXPECT_GT(dim, 2.0);
    EXPECT_NEAR(twice / dim, 2.0, 0.2);
    EXPECT_GT(gained, dim * 1.5);
}

} // namespace
