// Queue semantics of the stream grabber.
#include "GrabFixture.h"

using namespace Pylon;
using pylon_test::GrabTest;

namespace {

using StreamGrabberQueue = GrabTest;

TEST_F(StreamGrabberQueue, EnforcesTheOrderOfUse)
{
    OpenCamera("minimal_area.xml");
    IStreamGrabber* g = camera->GetStreamGrabber(0);
    EXPECT_EQ(g, camera->GetStreamGrabber(0)); // one per channel
    EXPECT_THROW(camera->GetStreamGrabber(1), GenICam::OutOfRangeException);
    grabber.Attach(g);
    uint8_t memory[64];
    EXPECT_THROW(grabber.PrepareGrab(), GenICam::LogicalErrorException); // not open
    grabber.Open();
    EXPECT_TRUE(grabber.IsOpen());
    EXPECT_THROW(grabber.Open(), GenICam::LogicalErrorException);
    EXPECT_THROW(grabber.RegisterBuffer(memory, sizeof memory), GenICam::LogicalErrorException); // not prepared
    grabber.MaxBufferSize = 64;
    grabber.MaxNumBuffer = 2;
    grabber.PrepareGrab();
    EXPECT_FALSE(GenApi::IsWritable(grabber.MaxNumBuffer)); // locked while prepared
    EXPECT_THROW(grabber.PrepareGrab(), GenICam::LogicalErrorException);

    uint8_t other[64], third[64], big[128];
    EXPECT_THROW(grabber.RegisterBuffer(big, sizeof big), GenICam::LogicalErrorException);
    EXPECT_THROW(grabber.RegisterBuffer(nullptr, 64), GenICam::InvalidArgumentException);
    StreamBufferHandle a = grabber.RegisterBuffer(memory, sizeof memory);
    EXPECT_THROW(grabber.RegisterBuffer(memory, sizeof memory), GenICam::LogicalErrorException);
    StreamBufferHandle b = grabber.RegisterBuffer(other, sizeof other);
    EXPECT_THROW(grabber.RegisterBuffer(third, sizeof third), GenICam::LogicalErrorException); // MaxNumBuffer
    EXPECT_NE(a, b);

    grabber.QueueBuffer(a);
    EXPECT_THROW(grabber.QueueBuffer(a), GenICam::LogicalErrorException);
    EXPECT_THROW(grabber.QueueBuffer(reinterpret_cast<StreamBufferHandle>(&third)), GenICam::LogicalErrorException);
    EXPECT_THROW(grabber.DeregisterBuffer(a), GenICam::LogicalErrorException); // still queued
    EXPECT_EQ(grabber.DeregisterBuffer(b), other);
    EXPECT_THROW(grabber.DeregisterBuffer(b), GenICam::LogicalErrorException); // gone

    GrabResult r;
    EXPECT_FALSE(grabber.RetrieveResult(r));
    EXPECT_FALSE(grabber.GetWaitObject().Wait(0));
    grabber.CancelGrab();
    EXPECT_TRUE(grabber.GetWaitObject().Wait(0));
    ASSERT_TRUE(grabber.RetrieveResult(r));
    EXPECT_EQ(r.Status(), Canceled);
    EXPECT_EQ(r.Handle(), a);
    EXPECT_EQ(r.Buffer(), memory);
    EXPECT_FALSE(grabber.GetWaitObject().Wait(0));
    EXPECT_EQ(grabber.DeregisterBuffer(a), memory);
    grabber.FinishGrab();
    EXPECT_TRUE(GenApi::IsWritable(grabber.MaxNumBuffer));
    grabber.Close();
    EXPECT_FALSE(grabber.IsOpen());
}

TEST_F(StreamGrabberQueue, CancelReturnsEveryQueuedBufferInOrderWithItsContext)
{
    OpenCamera("minimal_area.xml");
    PrepareGrab(3);
    grabber.CancelGrab();
    for (int i = 0; i < 3; ++i) {
        GrabResult r;
        ASSERT_TRUE(grabber.RetrieveResult(r));
        EXPECT_EQ(r.Status(), Canceled);
        EXPECT_EQ(r.Handle(), handles[static_cast<size_t>(i)]);
        EXPECT_EQ(r.Context(), reinterpret_cast<const void*>(static_cast<intptr_t>(i + 1)));
    }
    GrabResult none;
    EXPECT_FALSE(grabber.RetrieveResult(none));
    // Buffers can go round again.
    grabber.QueueBuffer(handles[0]);
}

TEST_F(StreamGrabberQueue, FrameFillsTheOldestQueuedBuffer)
{
    OpenCamera("minimal_area.xml");
    SmallFastFrames();
    PrepareGrab(2);
    camera->AcquisitionStart.Execute();
    GrabResult r;
    ASSERT_TRUE(Next(r));
    EXPECT_TRUE(r.Succeeded());
    EXPECT_EQ(r.Handle(), handles[0]);
    EXPECT_EQ(r.m_pBuffer, buffers[0].get());
    EXPECT_EQ(r.GetPayloadSize(), static_cast<int64_t>(payload));
    EXPECT_EQ(r.GetSizeX(), 64);
    EXPECT_EQ(r.GetSizeY(), 32);
    EXPECT_EQ(r.GetPixelType(), PixelType_Mono8);
    EXPECT_EQ(r.GetBlockID(), 1u);
    ASSERT_TRUE(Next(r));
    EXPECT_EQ(r.Handle(), handles[1]);
    EXPECT_EQ(r.GetBlockID(), 2u);
}

TEST_F(StreamGrabberQueue, FinishGrabForgetsBuffersStillRegistered)
{
    OpenCamera("minimal_area.xml");
    SmallFastFrames();
    PrepareGrab(4);
    camera->AcquisitionStart.Execute();
    GrabResult r;
    ASSERT_TRUE(Next(r));
    // Free the memory without deregistering, as a caller cleaning up after a failure does.
    grabber.FinishGrab();
    handles.clear();
    buffers.clear();
    grabber.Close();
    camera->AcquisitionStop.Execute();
}

} // namespace
