// Acquisition modes, triggers and the locking of the image format while acquiring.
#include "GrabFixture.h"

#include <pylon/emulator/TestPattern.h>

using namespace Pylon;
using pylon_test::GrabTest;

namespace {

// A negative check: nothing may arrive within this time.
constexpr unsigned kQuietMs = 150;

class Acquisition : public GrabTest {
protected:
    // Frames until `count` arrived, re-queuing each buffer; their block IDs.
    std::vector<uint64_t> Collect(int count)
    {
        std::vector<uint64_t> ids;
        for (int i = 0; i < count; ++i) {
            GrabResult r;
            if (!Next(r))
                break;
            EXPECT_EQ(r.Status(), Grabbed) << r.GetErrorDescription();
            ids.push_back(r.GetBlockID());
            grabber.QueueBuffer(r.Handle());
        }
        return ids;
    }

    bool Quiet() { return !grabber.GetWaitObject().Wait(kQuietMs); }
};

TEST_F(Acquisition, ContinuousDeliversFreshFramesUntilStopped)
{
    OpenCamera("minimal_area.xml");
    SmallFastFrames();
    camera->AcquisitionMode.FromString("Continuous");
    PrepareGrab(4);
    camera->AcquisitionStart.Execute();
    const auto ids = Collect(20);
    ASSERT_EQ(ids.size(), 20u);
    EXPECT_EQ(ids.front(), 1u);
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end()); // each frame once
    camera->AcquisitionStop.Execute();
    // Drain what was under way; then nothing more comes.
    GrabResult r;
    while (grabber.RetrieveResult(r))
        grabber.QueueBuffer(r.Handle());
    EXPECT_TRUE(Quiet());
}

TEST_F(Acquisition, SingleFrameDeliversOneFrameAndUnlocks)
{
    OpenCamera();
    SmallFastFrames();
    camera->AcquisitionMode.SetValue(AcquisitionMode_SingleFrame);
    PrepareGrab(4);
    camera->AcquisitionStart.Execute();
    EXPECT_EQ(Collect(1), (std::vector<uint64_t>{1}));
    EXPECT_TRUE(Quiet());
    EXPECT_TRUE(GenApi::IsWritable(camera->Width)); // acquisition has ended by itself
    // A new start gives the next single frame.
    camera->AcquisitionStart.Execute();
    EXPECT_EQ(Collect(1), (std::vector<uint64_t>{1}));
}

TEST_F(Acquisition, MultiFrameDeliversTheFrameCount)
{
    OpenCamera();
    SmallFastFrames();
    camera->AcquisitionMode.SetValue(AcquisitionMode_MultiFrame);
    camera->AcquisitionFrameCount = 3;
    PrepareGrab(4);
    camera->AcquisitionStart.Execute();
    EXPECT_EQ(Collect(3), (std::vector<uint64_t>{1, 2, 3}));
    EXPECT_TRUE(Quiet());
}

TEST_F(Acquisition, ImageFormatIsLockedWhileAcquiring)
{
    OpenCamera();
    SmallFastFrames();
    PrepareGrab(2);
    for (auto* p : std::initializer_list<GenApi::IBase*>{&camera->Width, &camera->Height,
                                                          &camera->PixelFormat, &camera->BinningHorizontal})
        EXPECT_TRUE(GenApi::IsWritable(p));
    camera->AcquisitionStart.Execute();
    EXPECT_EQ(camera->TLParamsLocked.GetValue(), 1);
    for (auto* p : std::initializer_list<GenApi::IBase*>{&camera->Width, &camera->Height,
                                                          &camera->PixelFormat, &camera->BinningHorizontal})
        EXPECT_FALSE(GenApi::IsWritable(p));
    EXPECT_THROW(camera->Width.SetValue(32), GenICam::AccessException);
    EXPECT_THROW(camera->PixelFormat.SetValue(PixelFormat_Mono12), GenICam::AccessException);
    EXPECT_TRUE(GenApi::IsWritable(camera->ExposureTimeRaw)); // exposure stays free
    camera->AcquisitionStop.Execute();
    EXPECT_EQ(camera->TLParamsLocked.GetValue(), 0);
    camera->Width.SetValue(32);
}

class Triggers : public Acquisition {
protected:
    void SetUpTrigger(TriggerSelectorEnums selector, TriggerSourceEnums source,
                      TriggerActivationEnums activation = TriggerActivation_RisingEdge)
    {
        camera->TriggerSelector = selector;
        camera->TriggerMode = TriggerMode_On;
        camera->TriggerSource = source;
        camera->TriggerActivation = activation;
    }
};

TEST_F(Triggers, SoftwareFrameTriggerGivesOneFramePerTrigger)
{
    OpenCamera();
    SmallFastFrames();
    SetUpTrigger(TriggerSelector_FrameStart, TriggerSource_Software);
    PrepareGrab(4);
    camera->AcquisitionStart.Execute();
    EXPECT_TRUE(Quiet());
    camera->TriggerSoftware.Execute();
    EXPECT_EQ(Collect(1), (std::vector<uint64_t>{1}));
    camera->TriggerSoftware.Execute();
    camera->TriggerSoftware.Execute();
    EXPECT_EQ(Collect(2), (std::vector<uint64_t>{2, 3}));
    EXPECT_TRUE(Quiet());
}

TEST_F(Triggers, MinimalModelTriggersWithoutSourceFeature)
{
    OpenCamera("minimal_area.xml");
    SmallFastFrames();
    camera->TriggerSelector = TriggerSelector_FrameStart;
    camera->TriggerMode = TriggerMode_On;
    PrepareGrab(2);
    camera->AcquisitionStart.Execute();
    EXPECT_TRUE(Quiet());
    camera->TriggerSoftware.Execute();
    EXPECT_EQ(Collect(1).size(), 1u);
}

TEST_F(Triggers, LinePulseTriggersOnlyTheSelectedLine)
{
    OpenCamera();
    SmallFastFrames();
    SetUpTrigger(TriggerSelector_FrameStart, TriggerSource_Line1);
    PrepareGrab(4);
    camera->AcquisitionStart.Execute();
    EXPECT_TRUE(Emulator::Instance().PulseLine(kSerial, 2));
    camera->TriggerSoftware.Execute(); // not the selected source either
    EXPECT_TRUE(Quiet());
    EXPECT_TRUE(Emulator::Instance().PulseLine(kSerial, 1));
    EXPECT_EQ(Collect(1), (std::vector<uint64_t>{1}));
    EXPECT_FALSE(Emulator::Instance().PulseLine("no such camera", 1));
}

TEST_F(Triggers, FallingEdgeActivationAlsoFiresOnAPulse)
{
    OpenCamera();
    SmallFastFrames();
    SetUpTrigger(TriggerSelector_FrameStart, TriggerSource_Line1, TriggerActivation_FallingEdge);
    PrepareGrab(2);
    camera->AcquisitionStart.Execute();
    Emulator::Instance().PulseLine(kSerial, 1);
    EXPECT_EQ(Collect(1).size(), 1u);
    EXPECT_TRUE(Quiet()); // one pulse, one falling edge
}

TEST_F(Triggers, AcquisitionStartTriggerArmsFreeRunning)
{
    OpenCamera();
    SmallFastFrames();
    SetUpTrigger(TriggerSelector_AcquisitionStart, TriggerSource_Software);
    PrepareGrab(4);
    camera->AcquisitionStart.Execute();
    EXPECT_TRUE(Quiet());
    camera->TriggerSoftware.Execute();
    EXPECT_EQ(Collect(3), (std::vector<uint64_t>{1, 2, 3}));
}

TEST_F(Triggers, BothTriggersNeedTwoSoftwareTriggersForTheFirstFrame)
{
    OpenCamera();
    SmallFastFrames();
    SetUpTrigger(TriggerSelector_AcquisitionStart, TriggerSource_Software);
    SetUpTrigger(TriggerSelector_FrameStart, TriggerSource_Software);
    PrepareGrab(4);
    camera->AcquisitionStart.Execute();
    camera->TriggerSoftware.Execute(); // arms the acquisition
    EXPECT_TRUE(Quiet());
    camera->TriggerSoftware.Execute(); // starts the frame
    EXPECT_EQ(Collect(1), (std::vector<uint64_t>{1}));
}

TEST_F(Triggers, TriggerDelayPostponesTheFrame)
{
    OpenCamera();
    SmallFastFrames();
    SetUpTrigger(TriggerSelector_FrameStart, TriggerSource_Software);
    camera->TriggerDelayAbs = 400000.0; // 0.4 s
    PrepareGrab(2);
    camera->AcquisitionStart.Execute();
    camera->TriggerSoftware.Execute();
    EXPECT_TRUE(Quiet());
    EXPECT_EQ(Collect(1).size(), 1u);
}

} // namespace
