// Fault injection: stall, failed grab, refused write, unplug while acquiring.
#include "GrabFixture.h"

#include <future>

using namespace Pylon;
using pylon_test::GrabTest;

namespace {

using Faults = GrabTest;

TEST_F(Faults, StalledCameraSendsNothingUntilReleased)
{
    OpenCamera("minimal_area.xml");
    SmallFastFrames();
    PrepareGrab(2);
    camera->AcquisitionStart.Execute();
    GrabResult r;
    ASSERT_TRUE(Next(r));
    grabber.QueueBuffer(r.Handle());
    ASSERT_TRUE(Emulator::Instance().Stall(kSerial, true));
    while (grabber.RetrieveResult(r)) // frames sent before the stall
        grabber.QueueBuffer(r.Handle());
    EXPECT_FALSE(grabber.GetWaitObject().Wait(150));
    EXPECT_TRUE(Emulator::Instance().List().at(0).stalled);
    ASSERT_TRUE(Emulator::Instance().Stall(kSerial, false));
    ASSERT_TRUE(Next(r));
    EXPECT_TRUE(r.Succeeded());
}

TEST_F(Faults, FailedGrabCarriesCodeAndText)
{
    OpenCamera("minimal_area.xml");
    SmallFastFrames();
    PrepareGrab(2);
    ASSERT_TRUE(Emulator::Instance().FailNextGrab(kSerial, 0xE1000014u, "The buffer was incompletely grabbed"));
    camera->AcquisitionStart.Execute();
    GrabResult r;
    ASSERT_TRUE(Next(r));
    EXPECT_EQ(r.Status(), Failed);
    EXPECT_FALSE(r.Succeeded());
    EXPECT_EQ(r.GetErrorCode(), 0xE1000014u);
    EXPECT_EQ(r.GetErrorDescription(), "The buffer was incompletely grabbed");
    EXPECT_EQ(r.Handle(), handles[0]);
    grabber.QueueBuffer(r.Handle());
    ASSERT_TRUE(Next(r));
    EXPECT_EQ(r.Status(), Grabbed);
}

TEST_F(Faults, RefusedWriteNamesTheFeatureOnce)
{
    OpenCamera();
    ASSERT_TRUE(Emulator::Instance().RefuseNextWrite(kSerial, "Width"));
    try {
        camera->Width = 640;
        FAIL() << "the write must be refused";
    } catch (const GenICam::AccessException& e) {
        EXPECT_NE(std::string(e.GetDescription()).find("Width"), std::string::npos) << e.GetDescription();
    }
    camera->Width = 640;
    EXPECT_EQ(camera->Width.GetValue(), 640);
    EXPECT_THROW(Emulator::Instance().RefuseNextWrite(kSerial, "NoSuchFeature"), GenICam::LogicalErrorException);
    EXPECT_FALSE(Emulator::Instance().RefuseNextWrite("unknown", "Width"));
}

TEST_F(Faults, UnplugWhileWaitingCancelsTheQueuedBuffers)
{
    OpenCamera();
    SmallFastFrames();
    camera->TriggerSelector = TriggerSelector_FrameStart;
    camera->TriggerMode = TriggerMode_On; // no trigger comes: the waiter blocks
    PrepareGrab(3);
    camera->AcquisitionStart.Execute();
    auto waiter = std::async(std::launch::async, [this] { return grabber.GetWaitObject().Wait(5000); });
    ASSERT_TRUE(Emulator::Instance().Unplug(kSerial));
    EXPECT_TRUE(waiter.get());
    int canceled = 0;
    GrabResult r;
    while (grabber.RetrieveResult(r)) {
        EXPECT_EQ(r.Status(), Canceled);
        ++canceled;
    }
    EXPECT_EQ(canceled, 3);
    EXPECT_THROW(grabber.QueueBuffer(handles[0]), GenICam::RuntimeException);
    EXPECT_THROW(camera->AcquisitionStop.Execute(), GenICam::RuntimeException);
    // Release works after the removal.
    for (auto h : handles)
        grabber.DeregisterBuffer(h);
    handles.clear();
    grabber.FinishGrab();
    grabber.Close();
    grabber.Attach(nullptr);
    camera.reset(); // destroys the removed device and its grabber
}

TEST_F(Faults, UnplugWhileStreamingStopsFramesAndFreesEverything)
{
    OpenCamera("minimal_area.xml");
    SmallFastFrames();
    PrepareGrab(4);
    camera->AcquisitionStart.Execute();
    GrabResult r;
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(Next(r));
        grabber.QueueBuffer(r.Handle());
    }
    Emulator::Instance().Unplug(kSerial);
    // Buffers and device are released without deregistration, as after a failed stop.
    grabber.FinishGrab();
    handles.clear();
    buffers.clear();
    grabber.Attach(nullptr);
    CTlFactory::GetInstance().DestroyDevice(camera->GetDevice());
    EXPECT_FALSE(camera->IsAttached());
}

TEST_F(Faults, ClosingWhileAcquiringStopsTheCamera)
{
    OpenCamera("minimal_area.xml");
    SmallFastFrames();
    PrepareGrab(4);
    camera->AcquisitionStart.Execute();
    GrabResult r;
    ASSERT_TRUE(Next(r));
    camera->Close();
    EXPECT_FALSE(Emulator::Instance().List().at(0).acquiring);
    EXPECT_FALSE(Emulator::Instance().List().at(0).open);
    handles.clear();
    grabber.Attach(nullptr);
}

// An unplugged camera stays in the list with what it reported: its model name and addresses.
TEST_F(Faults, AnUnpluggedCameraIsListedWithWhatItReported)
{
    OpenCamera("minimal_area.xml");
    const Emulator::CameraState plugged = Emulator::Instance().List().at(0);
    ASSERT_FALSE(plugged.modelName.empty());
    ASSERT_FALSE(plugged.config.ipAddress.empty());
    ASSERT_TRUE(Emulator::Instance().Unplug(kSerial));
    const Emulator::CameraState away = Emulator::Instance().List().at(0);
    EXPECT_FALSE(away.plugged);
    EXPECT_FALSE(away.open);
    EXPECT_FALSE(away.acquiring);
    EXPECT_EQ(away.modelName, plugged.modelName);
    EXPECT_EQ(away.config.ipAddress, plugged.config.ipAddress);
    EXPECT_EQ(away.config.macAddress, plugged.config.macAddress);
}

} // namespace
