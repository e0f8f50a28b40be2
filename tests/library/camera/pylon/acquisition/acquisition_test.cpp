// Acquisition start/stop and frame delivery of a camera location against an emulated
// GigE camera. Each test brings a location up the way the host does (camera discovery,
// camera_init, image buffers) and then drives the camera thread's calls itself, playing
// the image-output thread where a hand-over must be taken.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <mirva/eq_fct.h>
#include <mirva/image_files.h>
#include <mirva/server.h>
#include <pylon/PylonIncludes.h>
#include <pylon/emulator/Emulator.h>

#include "eq_pylon.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr const char* kSerial = "21700101";
constexpr const char* kModel = "mono_area_1280x1024.xml";

// Sets the global debug mask for a scope.
class DebugMask {
public:
    explicit DebugMask(int mask) : saved_(MIRVA_debug.exchange(mask)) {}
    ~DebugMask() { MIRVA_debug = saved_; }

private:
    int saved_;
};

// Captures what the location prints for a scope.
class Stderr {
public:
    Stderr() { ::testing::internal::CaptureStderr(); }
    ~Stderr()
    {
        if (!taken_)
            ::testing::internal::GetCapturedStderr();
    }
    std::string text()
    {
        taken_ = true;
        return ::testing::internal::GetCapturedStderr();
    }

private:
    bool taken_ = false;
};

void set_pending(D_cam_param_int& p, int v)
{
    p.set_new_value(v);
    p.set_changed(true);
}

void set_now(D_cam_param_int& p, int v)
{
    p.set_value(v);
    p.reset_new_val();
}

class PylonAcquisition : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Pylon::PylonInitialize();
        // Calibration images are written as files: keep them out of the source tree.
        mirva::set_image_directory(::testing::TempDir());
        Pylon::Emulator::Instance().Reset();
        Pylon::Emulator::Instance().Plug({kSerial, kModel, "acq", "", "", Pylon::Emulator::EPattern::Counter, {}});
    }
    static void TearDownTestSuite()
    {
        Pylon::Emulator::Instance().Reset();
        Pylon::PylonTerminate();
    }

    void SetUp() override
    {
        Pylon::Emulator::Instance().Stall(kSerial, false);
        {
            mirva::LocationCreation scope("ACQ_TEST", {});
            loc = std::make_unique<EqFctPylon>();
        }
        loc->find_cameras_of_type(1);
        loc->serial_.set_value(0);
        ASSERT_FALSE(loc->camera_init()) << "the emulated camera must come up";
        ASSERT_NE(loc->pCamera, nullptr);
        width = loc->img_width.load();
        height = loc->img_height.load();
        ASSERT_GT(width, 0);
        ASSERT_GT(height, 0);
        ASSERT_FALSE(loc->camera_create_all_buffers(width, height, 3));
        // No image-output thread runs here: the test takes the hand-overs itself.
        std::lock_guard lk(loc->out_mx);
        loc->out_free = true;
        loc->new_image = false;
    }

    void TearDown() override
    {
        if (!loc)
            return;
        loc->camera_stop_acquisition();
        loc->camera_cleanup(true);
        loc.reset();
    }

    // Full sensor, Mono8, continuous, no triggers, written into the camera while idle.
    void camera_defaults()
    {
        Pylon::Camera_t& cam = *loc->pCamera;
        cam.PixelFormat.FromString("Mono8");
        cam.OffsetX.SetValue(0);
        cam.OffsetY.SetValue(0);
        cam.Width.SetValue(cam.WidthMax.GetValue());
        cam.Height.SetValue(cam.HeightMax.GetValue());
        cam.AcquisitionMode.FromString("Continuous");
    }

    // The image-output thread's part: take a handed-over image, free the output.
    bool take_handover(int* w = nullptr, int* h = nullptr)
    {
        std::lock_guard lk(loc->out_mx);
        if (!loc->new_image)
            return false;
        if (w)
            *w = loc->out_width;
        if (h)
            *h = loc->out_height;
        loc->new_image = false;
        loc->out_free = true;
        return true;
    }

    int deliver() { return loc->camera_save_data(nullptr); }

    // Retrieves `count` grabbed results without queuing them again; their handles.
    std::set<Pylon::StreamBufferHandle> collect_without_requeue(int count)
    {
        std::set<Pylon::StreamBufferHandle> handles;
        for (int i = 0; i < count; ++i) {
            if (!loc->StreamGrabber->GetWaitObject().Wait(3000))
                break;
            Pylon::GrabResult r;
            if (!loc->StreamGrabber->RetrieveResult(r))
                break;
            EXPECT_EQ(r.m_Status, Pylon::Grabbed);
            handles.insert(r.m_hBuffer);
        }
        return handles;
    }

    std::set<Pylon::StreamBufferHandle> registered_handles()
    {
        std::set<Pylon::StreamBufferHandle> handles;
        for (CGrabBuffer* b : loc->BufferList)
            handles.insert(b->GetBufferHandle());
        return handles;
    }

    std::unique_ptr<EqFctPylon> loc;
    int width = 0;
    int height = 0;
};

// ---- Start and stop ----

TEST_F(PylonAcquisition, StartQueuesTenBuffersAndStopReleasesThem)
{
    camera_defaults();
    loc->run_mode = 3;
    loc->format_changed = true;
    ASSERT_EQ(loc->camera_start_acquisition(), 0);

    EXPECT_TRUE(loc->camera_is_acquisition_started());
    EXPECT_FALSE(loc->format_changed);
    EXPECT_EQ(loc->run_state_.value(), 3);
    ASSERT_EQ(loc->BufferList.size(), 10u);
    EXPECT_EQ(registered_handles().size(), 10u);
    EXPECT_EQ(loc->StreamGrabber->MaxNumBuffer.GetValue(), 10);
    EXPECT_EQ(loc->StreamGrabber->MaxBufferSize.GetValue(), loc->pCamera->PayloadSize.GetValue());

    // All ten buffers were queued and AcquisitionStart ran: ten frames come back, one in each.
    EXPECT_EQ(collect_without_requeue(10), registered_handles());

    ASSERT_EQ(loc->camera_stop_acquisition(), 0);
    EXPECT_TRUE(loc->BufferList.empty());
    EXPECT_EQ(loc->StreamGrabber, nullptr);
    EXPECT_FALSE(loc->camera_is_acquisition_started());
    EXPECT_EQ(loc->run_state_.value(), -1);

    // A stop without a stream only sets the run state.
    loc->run_state_.set_value(7);
    EXPECT_EQ(loc->camera_stop_acquisition(), 0);
    EXPECT_EQ(loc->run_state_.value(), -1);
}

TEST_F(PylonAcquisition, StartWhileStartedIsRefusedAndChangesNothing)
{
    camera_defaults();
    ASSERT_EQ(loc->camera_start_acquisition(), 0);
    const auto before = registered_handles();
    Stderr err;
    EXPECT_NE(loc->camera_start_acquisition(), 0);
    EXPECT_THAT(err.text(), HasSubstr("camera_start_acquisition() previous not stopped"));
    EXPECT_EQ(registered_handles(), before);
    EXPECT_TRUE(loc->camera_is_acquisition_started());
}

// The run state is set under its own lock, released before cbk_mx is taken: a start that
// waits for cbk_mx must not hold the run-state lock meanwhile.
TEST_F(PylonAcquisition, RunStateLockIsNotHeldWhileWaitingForTheCallbackLock)
{
    camera_defaults();
    loc->run_mode = 4;
    loc->run_state_.set_value(0);
    pthread_mutex_lock(&loc->cbk_mx);
    auto started = std::async(std::launch::async, [this] { return loc->camera_start_acquisition(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (loc->run_state_.value() != 4 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_EQ(loc->run_state_.value(), 4);
    bool free = false;
    while (!free && std::chrono::steady_clock::now() < deadline) {
        std::unique_lock lk(loc->run_state_mx, std::try_to_lock);
        free = lk.owns_lock();
    }
    EXPECT_TRUE(free) << "the start holds the run-state lock while it waits for cbk_mx";
    EXPECT_EQ(started.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    pthread_mutex_unlock(&loc->cbk_mx);
    ASSERT_EQ(started.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(started.get(), 0);
}

TEST_F(PylonAcquisition, WithoutCameraNothingStartsOrStops)
{
    mirva::LocationCreation scope("ACQ_EMPTY", {});
    EqFctPylon empty;
    Stderr err;
    EXPECT_NE(empty.camera_start_acquisition(), 0);
    EXPECT_EQ(empty.camera_stop_acquisition(), 1);
    EXPECT_EQ(empty.camera_save_data(nullptr), 1);
    EXPECT_FALSE(empty.camera_is_acquisition_started());
    EXPECT_EQ(empty.is_trigger_mode_available(), 0);
    EXPECT_TRUE(empty.camera_status(nullptr));
    zenta_image_ext_frame_head head{};
    EXPECT_EQ(empty.camera_set_image_header(&head), 1);
    EXPECT_EQ(empty.camera_make_calibr(), 1);
    const std::string text = err.text();
    EXPECT_THAT(text, HasSubstr("AcquisitionStart is not yet done ... trying AcquisitionStartStop"));
    EXPECT_THAT(text, HasSubstr("camera_save_data() cmaera is not initialized"));
}

TEST_F(PylonAcquisition, RejectedOffsetIsRepairedAndTheStartRetried)
{
    camera_defaults();
    loc->pCamera->Width.SetValue(640);
    loc->pCamera->OffsetX.SetValue(16);
    set_now(loc->roi_x_start_, 16);
    ASSERT_TRUE(Pylon::Emulator::Instance().RefuseNextWrite(kSerial, "OffsetX"));

    {
        Stderr err;
        EXPECT_NE(loc->camera_start_acquisition(), 0);
        EXPECT_THAT(err.text(), HasSubstr("EXCEPTION: Trying to fix image geometry"));
    }
    EXPECT_EQ(loc->roi_x_start_.value(), 0);
    EXPECT_FALSE(loc->roi_x_start_.is_changed());
    EXPECT_EQ(loc->pCamera->OffsetX.GetValue(), 0);
    EXPECT_TRUE(loc->BufferList.empty());
    ASSERT_NE(loc->StreamGrabber, nullptr);
    EXPECT_FALSE(loc->camera_is_acquisition_started());

    {
        Stderr err;
        EXPECT_NE(loc->camera_start_acquisition(), 0);
        EXPECT_THAT(err.text(), HasSubstr("previous not stopped"));
    }
    EXPECT_EQ(loc->camera_stop_acquisition(), 0);
    EXPECT_EQ(loc->StreamGrabber, nullptr);
    EXPECT_EQ(loc->camera_start_acquisition(), 0);
    EXPECT_EQ(deliver(), 0);
}

TEST_F(PylonAcquisition, ChangeTestSeesTriggerAndTruncationButNotOutputFormat)
{
    EXPECT_FALSE(loc->camera_is_acq_feature_changed());
    set_pending(loc->format_out_, 1);
    EXPECT_FALSE(loc->camera_is_acq_feature_changed());
    set_pending(loc->truncate_out_, 2);
    EXPECT_TRUE(loc->camera_is_acq_feature_changed());
    set_now(loc->truncate_out_, 2);
    EXPECT_FALSE(loc->camera_is_acq_feature_changed());
    loc->exeption = true;
    EXPECT_TRUE(loc->camera_is_acq_feature_changed());
    loc->exeption = false;

    loc->no_daq = 1;
    EXPECT_EQ(loc->is_trigger_mode_available(), 1);
    EXPECT_EQ(loc->no_daq.load(), 0);
}

// ---- Frame delivery ----

TEST_F(PylonAcquisition, ContinuousDeliversFreshFramesWithTheirRegion)
{
    camera_defaults();
    Pylon::Camera_t& cam = *loc->pCamera;
    cam.Width.SetValue(640);
    cam.Height.SetValue(480);
    cam.OffsetX.SetValue(16);
    cam.OffsetY.SetValue(8);
    ASSERT_EQ(loc->camera_start_acquisition(), 0);

    std::vector<uint8_t> previous;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(deliver(), 0);
        int w = 0, h = 0;
        ASSERT_TRUE(take_handover(&w, &h));
        EXPECT_EQ(w, 640);
        EXPECT_EQ(h, 480);
        const size_t bytes = 640u * 480u;
        std::vector<uint8_t> out(loc->output_buffer, loc->output_buffer + bytes);
        EXPECT_EQ(std::memcmp(loc->copy_buffer, out.data(), bytes), 0);
        EXPECT_NE(loc->output_buffer, loc->image_buffer);
        EXPECT_NE(loc->copy_buffer, loc->image_buffer);
        if (!previous.empty()) {
            EXPECT_NE(out, previous) << "frame " << i << " repeats the one before";
        }
        previous = std::move(out);
    }
    EXPECT_EQ(loc->roi_x_start_.value(), 16);
    EXPECT_EQ(loc->roi_x_end_.value(), 655);
    EXPECT_EQ(loc->roi_y_start_.value(), 8);
    EXPECT_EQ(loc->roi_y_end_.value(), 487);
    EXPECT_EQ(loc->grab_width, 640);
    EXPECT_EQ(loc->grab_height, 480);
    EXPECT_EQ(loc->ebits_.value(), 8);
    EXPECT_EQ(loc->ebit_mask.load() & 0xFF, 0xFF);
    EXPECT_EQ(loc->trig_gate_.value(), 0);
    {
        std::lock_guard lk(loc->sw_trig_mx);
        EXPECT_TRUE(loc->cycle_done);
    }
}

TEST_F(PylonAcquisition, SingleFrameModeDeliversOneFrame)
{
    camera_defaults();
    loc->pCamera->AcquisitionMode.FromString("SingleFrame");
    ASSERT_EQ(loc->camera_start_acquisition(), 0);
    ASSERT_EQ(deliver(), 0);
    EXPECT_TRUE(take_handover());
    // The camera sent its one frame; nothing follows.
    EXPECT_FALSE(loc->StreamGrabber->GetWaitObject().Wait(300));
}

TEST_F(PylonAcquisition, BothSoftwareTriggersFireBeforeTheWait)
{
    camera_defaults();
    if (loc->acq_trig_on_.get_max() < 1 || loc->frame_trig_on_.get_max() < 1)
        GTEST_SKIP() << "the model offers no acquisition and frame triggers";
    set_pending(loc->acq_trig_on_, 1);
    set_pending(loc->acq_trig_sel_, 0);
    set_pending(loc->frame_trig_on_, 1);
    set_pending(loc->frame_trig_sel_, 0);
    ASSERT_EQ(loc->camera_start_acquisition(), 0);
    EXPECT_EQ(loc->trig_gate_.value(), 0) << "a source index of 0 does not gate";

    DebugMask debug(0x10);
    Stderr err;
    EXPECT_EQ(deliver(), 0);
    const std::string text = err.text();
    EXPECT_THAT(text, HasSubstr("Sending software trigger (1)"));
    EXPECT_THAT(text, HasSubstr("Sending software trigger (2)"));
    EXPECT_THAT(text, HasSubstr("Just before WAIT"));
    EXPECT_THAT(text, HasSubstr("Image to MIRVA  "));
    EXPECT_TRUE(take_handover());
}

TEST_F(PylonAcquisition, UserSoftwareTriggerWaitsForTheClientsRequest)
{
    camera_defaults();
    if (loc->frame_trig_on_.get_max() < 1)
        GTEST_SKIP() << "the model offers no frame trigger";
    if (loc->acq_trig_on_.get_max() >= 0)
        set_pending(loc->acq_trig_on_, 0);
    set_pending(loc->frame_trig_on_, 1);
    set_pending(loc->frame_trig_sel_, 0);
    loc->trig_enable = 1;
    ASSERT_EQ(loc->camera_start_acquisition(), 0);
    EXPECT_EQ(loc->trig_gate_.value(), 1) << "the user software trigger gates";

    auto result = std::async(std::launch::async, [this] { return deliver(); });
    EXPECT_EQ(result.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
        << "no frame may be triggered before the client asks";
    {
        std::lock_guard lk(loc->sw_trig_mx);
        loc->sw_trig_request = true;
    }
    loc->sw_trig_cond.notify_all();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(result.get(), 0);
    {
        std::lock_guard lk(loc->sw_trig_mx);
        EXPECT_FALSE(loc->sw_trig_request);
    }
    EXPECT_TRUE(take_handover());

    // Switching the user trigger off releases a waiting delivery too.
    auto second = std::async(std::launch::async, [this] { return deliver(); });
    loc->trig_enable = 0;
    loc->sw_trig_cond.notify_all();
    ASSERT_EQ(second.wait_for(std::chrono::seconds(8)), std::future_status::ready);
    EXPECT_EQ(second.get(), 0);
    loc->trig_enable = 0;
}

TEST_F(PylonAcquisition, StalledCameraTimesOutAndCancelsTheGrab)
{
    camera_defaults();
    ASSERT_EQ(loc->camera_start_acquisition(), 0);
    ASSERT_TRUE(Pylon::Emulator::Instance().Stall(kSerial, true));
    {
        std::lock_guard lk(loc->sw_trig_mx);
        loc->cycle_done = false;
    }
    // Frames already in flight are taken first; then the 6 s wait runs out.
    DebugMask debug(0x10);
    int r = 0;
    std::string text;
    for (int i = 0; i < 12 && r == 0; ++i) {
        Stderr err;
        r = deliver();
        take_handover();
        text = err.text();
    }
    EXPECT_EQ(r, 1);
    EXPECT_THAT(text, HasSubstr("Timeout occured"));
    {
        std::lock_guard lk(loc->sw_trig_mx);
        EXPECT_TRUE(loc->cycle_done);
    }
    EXPECT_FALSE(loc->StreamGrabber->GetWaitObject().Wait(0)) << "the output queue is drained";
    Pylon::Emulator::Instance().Stall(kSerial, false);
    EXPECT_EQ(loc->camera_stop_acquisition(), 0);
}

TEST_F(PylonAcquisition, ThreadStopEndsTheFrameWaitWithoutCancellingTheGrab)
{
    camera_defaults();
    ASSERT_EQ(loc->camera_start_acquisition(), 0);
    ASSERT_TRUE(Pylon::Emulator::Instance().Stall(kSerial, true));
    loc->cam_thread_stop = true;
    DebugMask debug(0x10);
    int r = 0;
    std::string text;
    for (int i = 0; i < 12 && r == 0; ++i) {
        Stderr err;
        r = deliver();
        take_handover();
        text = err.text();
    }
    loc->cam_thread_stop = false;
    EXPECT_EQ(r, 1);
    EXPECT_THAT(text, HasSubstr("Wait for a frame ended by the thread stop"));
    EXPECT_THAT(text, Not(HasSubstr("Timeout occured")));
    {
        std::lock_guard lk(loc->sw_trig_mx);
        EXPECT_TRUE(loc->cycle_done);
    }
    // Every buffer is still queued: the camera fills all ten once it sends again.
    ASSERT_TRUE(Pylon::Emulator::Instance().Stall(kSerial, false));
    EXPECT_EQ(collect_without_requeue(10), registered_handles());
    EXPECT_EQ(loc->camera_stop_acquisition(), 0);
}

TEST_F(PylonAcquisition, FailedGrabIsReportedAndItsBufferQueuedAgain)
{
    camera_defaults();
    ASSERT_TRUE(Pylon::Emulator::Instance().FailNextGrab(kSerial, 0xE1000014u, "packets lost"));
    ASSERT_EQ(loc->camera_start_acquisition(), 0);
    DebugMask debug(0x10);
    {
        Stderr err;
        EXPECT_EQ(deliver(), 1);
        const std::string text = err.text();
        EXPECT_THAT(text, HasSubstr("No image acquired! Error code : 0xe1000014"));
        EXPECT_THAT(text, HasSubstr("Error description packets lost"));
    }
    EXPECT_FALSE(take_handover());
    // All ten buffers still circulate.
    EXPECT_EQ(collect_without_requeue(10), registered_handles());
}

TEST_F(PylonAcquisition, BusyOutputDropsTheImage)
{
    camera_defaults();
    ASSERT_EQ(loc->camera_start_acquisition(), 0);
    {
        std::lock_guard lk(loc->out_mx);
        loc->out_free = false;
        loc->out_width = -5;
    }
    // The image the output thread has not taken yet stays where it is, untouched.
    const size_t n = static_cast<size_t>(loc->image_buffer_size);
    uint8_t* const output = loc->output_buffer;
    uint8_t* const image = loc->image_buffer;
    std::memset(output, 0x5a, n);
    std::memset(loc->copy_buffer, 0xa5, n);
    DebugMask debug(0x10);
    Stderr err;
    EXPECT_EQ(deliver(), 0);
    EXPECT_THAT(err.text(), HasSubstr("(BUSY)"));
    std::lock_guard lk(loc->out_mx);
    EXPECT_FALSE(loc->new_image);
    EXPECT_EQ(loc->out_width, -5);
    EXPECT_EQ(loc->output_buffer, output);
    EXPECT_EQ(loc->image_buffer, image);
    EXPECT_EQ(std::count(output, output + n, 0x5a), static_cast<std::ptrdiff_t>(n));
    EXPECT_EQ(std::count(loc->copy_buffer, loc->copy_buffer + n, 0xa5), static_cast<std::ptrdiff_t>(n));
}

TEST_F(PylonAcquisition, OutputExactlyTheSizeOfTheImageBufferIsAccepted)
{
    camera_defaults();
    ASSERT_FALSE(loc->camera_create_all_buffers(width, height, 1));
    {
        std::lock_guard lk(loc->out_mx);
        loc->out_free = true;
    }
    ASSERT_EQ(loc->pCamera->PayloadSize.GetValue(), static_cast<int64_t>(loc->image_buffer_size));
    ASSERT_EQ(loc->camera_start_acquisition(), 0);
    EXPECT_EQ(deliver(), 0);
    EXPECT_TRUE(take_handover());

    // One line less of image buffer: the frame is refused and its buffer goes back.
    ASSERT_FALSE(loc->camera_create_all_buffers(width, height - 1, 1));
    {
        Stderr err;
        EXPECT_EQ(deliver(), 1);
        EXPECT_THAT(err.text(), HasSubstr("IMAGE size is too big:"));
    }
    EXPECT_FALSE(take_handover());
    EXPECT_EQ(collect_without_requeue(10), registered_handles());
}

// What must fit is the converted image, not the camera's payload: a 12-bit frame whose
// payload is twice the 8-bit image buffer still goes through as Mono8.
TEST_F(PylonAcquisition, WidePayloadFitsWhenItsOutputFits)
{
    camera_defaults();
    loc->pCamera->PixelFormat.FromString("Mono12");
    ASSERT_FALSE(loc->camera_create_all_buffers(width, height, 1));
    ASSERT_GT(loc->pCamera->PayloadSize.GetValue(), static_cast<int64_t>(loc->image_buffer_size));
    ASSERT_EQ(loc->camera_start_acquisition(), 0);
    EXPECT_EQ(deliver(), 0);
    int w = 0, h = 0;
    EXPECT_TRUE(take_handover(&w, &h));
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
    EXPECT_EQ(loc->ebits_.value(), 8);

    // Mono16 output would not fit into one byte per pixel: refused, nothing written.
    set_now(loc->format_out_, 1);
    Stderr err;
    EXPECT_EQ(deliver(), 1);
    EXPECT_THAT(err.text(), HasSubstr("IMAGE size is too big:"));
    EXPECT_FALSE(take_handover());
}

TEST_F(PylonAcquisition, RgbOutputFillsTheHeader)
{
    camera_defaults();
    set_now(loc->format_out_, 2);
    ASSERT_EQ(loc->camera_start_acquisition(), 0);
    ASSERT_EQ(deliver(), 0);
    ASSERT_TRUE(take_handover());
    EXPECT_EQ(loc->ebits_.value(), 24);

    zenta_image_ext_frame_head head{};
    ASSERT_EQ(loc->camera_set_image_header(&head), 0);
    EXPECT_EQ(head.bpp, 3);
    EXPECT_EQ(head.ebitpp, 24);
    EXPECT_EQ(head.image_format, 1);
    EXPECT_EQ(head.source_format, 0);
    EXPECT_EQ(head.image_flags, 18);
    EXPECT_FLOAT_EQ(head.scale_x, -1.0f);
    EXPECT_FLOAT_EQ(head.image_rotation, 0.0f);

    // A grey source gives equal channels.
    const uint8_t* px = loc->output_buffer;
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(px[3 * i], px[3 * i + 1]);
        ASSERT_EQ(px[3 * i], px[3 * i + 2]);
    }

    set_now(loc->format_out_, 1);
    loc->scale_x_enable_.set_value(1);
    loc->scale_x_.set_value(2.5f);
    ASSERT_EQ(deliver(), 0);
    ASSERT_TRUE(take_handover());
    EXPECT_EQ(loc->ebits_.value(), 16);
    ASSERT_EQ(loc->camera_set_image_header(&head), 0);
    EXPECT_EQ(head.bpp, 2);
    EXPECT_EQ(head.ebitpp, 8) << "never more bits than the camera's pixel format has";
    EXPECT_EQ(head.image_format, 0);
    EXPECT_FLOAT_EQ(head.scale_x, 2.5f);
    EXPECT_FLOAT_EQ(head.scale_y, -1.0f);
}

TEST_F(PylonAcquisition, CalibrationTakesAFullFrameAndRestoresTheRegion)
{
    camera_defaults();
    Pylon::Camera_t& cam = *loc->pCamera;
    cam.Width.SetValue(640);
    cam.Height.SetValue(480);
    cam.OffsetX.SetValue(16);
    cam.OffsetY.SetValue(8);
    ASSERT_EQ(loc->camera_start_acquisition(), 0);
    ASSERT_EQ(deliver(), 0);
    ASSERT_TRUE(take_handover());

    set_pending(loc->calib_, 1);
    loc->calib_done_.set_value(5);
    ASSERT_EQ(deliver(), 0);
    int w = 0, h = 0;
    ASSERT_TRUE(take_handover(&w, &h));
    EXPECT_EQ(w, cam.WidthMax.GetValue());
    EXPECT_EQ(h, cam.HeightMax.GetValue());
    EXPECT_EQ(loc->calib_.value(), 0);
    EXPECT_FALSE(loc->calib_.is_changed());
    EXPECT_EQ(loc->calib_done_.value(), 0);
    EXPECT_TRUE(loc->format_changed);
    EXPECT_EQ(loc->StreamGrabber, nullptr) << "the stream stops for the restart";
    EXPECT_EQ(cam.Width.GetValue(), 640);
    EXPECT_EQ(cam.Height.GetValue(), 480);
    EXPECT_EQ(cam.OffsetX.GetValue(), 16);
    EXPECT_EQ(cam.OffsetY.GetValue(), 8);

    // The camera thread restarts with the restored region.
    ASSERT_EQ(loc->camera_start_acquisition(), 0);
    ASSERT_EQ(deliver(), 0);
    ASSERT_TRUE(take_handover(&w, &h));
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
}

// A camera whose image width is fixed (its Width read-only): the calibration sets what the
// camera lets it set (the full height from the top row) and leaves the width, and the
// region comes back afterwards.
class PylonAcquisitionFixedWidth : public PylonAcquisition {
protected:
    static void SetUpTestSuite()
    {
        std::ifstream in(std::string(MIRVA_SOURCE_DIR) + "/platform/pylon/models/" + kModel);
        std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string width = "<Integer Name=\"Width\" NameSpace=\"Standard\">";
        const size_t at = xml.find(width);
        ASSERT_NE(at, std::string::npos);
        xml.insert(at + width.size(), "\n    <ImposedAccessMode>RO</ImposedAccessMode>");
        model_path() = (std::filesystem::path(::testing::TempDir()) / "fixed_width_1280x1024.xml").string();
        std::ofstream(model_path()) << xml;
        Pylon::PylonInitialize();
        mirva::set_image_directory(::testing::TempDir());
        Pylon::Emulator::Instance().Reset();
        Pylon::Emulator::Instance().Plug({kSerial, model_path(), "acq", "", "", Pylon::Emulator::EPattern::Counter, {}});
    }
    static void TearDownTestSuite()
    {
        PylonAcquisition::TearDownTestSuite();
        std::error_code ignored;
        std::filesystem::remove(model_path(), ignored);
    }
    static std::string& model_path()
    {
        static std::string path;
        return path;
    }
};

TEST_F(PylonAcquisitionFixedWidth, CalibrationSetsWhatTheCameraLetsItSet)
{
    Pylon::Camera_t& cam = *loc->pCamera;
    ASSERT_FALSE(GenApi::IsWritable(cam.Width));
    const int64_t fixed_width = cam.Width.GetValue();
    cam.PixelFormat.FromString("Mono8");
    cam.AcquisitionMode.FromString("Continuous");
    cam.Height.SetValue(480);
    cam.OffsetY.SetValue(8);
    ASSERT_EQ(loc->camera_start_acquisition(), 0);
    ASSERT_EQ(deliver(), 0);
    ASSERT_TRUE(take_handover());

    set_pending(loc->calib_, 1);
    ASSERT_EQ(deliver(), 0);
    int w = 0, h = 0;
    ASSERT_TRUE(take_handover(&w, &h));
    EXPECT_EQ(w, fixed_width);
    EXPECT_EQ(h, cam.HeightMax.GetValue());
    EXPECT_FALSE(loc->exeption.load());
    EXPECT_EQ(loc->calib_.value(), 0);
    EXPECT_FALSE(loc->calib_.is_changed());
    EXPECT_TRUE(loc->format_changed);
    EXPECT_EQ(cam.Width.GetValue(), fixed_width);
    EXPECT_EQ(cam.Height.GetValue(), 480);
    EXPECT_EQ(cam.OffsetY.GetValue(), 8);
}

TEST_F(PylonAcquisition, SourceFormatCodesFollowThePixelTable)
{
    EXPECT_EQ(loc->camera_pylon_format_to_daq_format(Pylon::PixelType_Mono8), 0);
    EXPECT_EQ(loc->camera_pylon_format_to_daq_format(Pylon::PixelType_Mono12packed), 0);
    EXPECT_EQ(loc->camera_pylon_format_to_daq_format(Pylon::PixelType_BGR10V2packed), 1);
    EXPECT_EQ(loc->camera_pylon_format_to_daq_format(Pylon::PixelType_RGB16planar), 1);
    EXPECT_EQ(loc->camera_pylon_format_to_daq_format(Pylon::PixelType_BGRA8packed), 2);
    EXPECT_EQ(loc->camera_pylon_format_to_daq_format(Pylon::PixelType_YUV411packed), 7);
    EXPECT_EQ(loc->camera_pylon_format_to_daq_format(Pylon::PixelType_YUV422_YUYV_Packed), 8);
    EXPECT_EQ(loc->camera_pylon_format_to_daq_format(Pylon::PixelType_YUV444packed), 9);
    EXPECT_EQ(loc->camera_pylon_format_to_daq_format(Pylon::PixelType_BayerRG8), 12);
    EXPECT_EQ(loc->camera_pylon_format_to_daq_format(Pylon::PixelType_BayerBG12Packed), 12);
    EXPECT_EQ(loc->camera_pylon_format_to_daq_format(Pylon::PixelType_Mono12p), -1);
    EXPECT_EQ(loc->camera_pylon_format_to_daq_format(Pylon::PixelType_RGB16packed), -1);
    EXPECT_EQ(loc->camera_pylon_format_to_daq_format(Pylon::PixelType_BayerGR10p), -1);
    EXPECT_EQ(loc->camera_pylon_format_to_daq_format(Pylon::PixelType_Undefined), -1);
}

TEST_F(PylonAcquisition, EffectiveBitsAreTheSmallerOfPropertyAndPixelFormat)
{
    loc->pCamera->PixelFormat.FromString("Mono12");
    loc->ebits_.set_value(8);
    EXPECT_EQ(loc->camera_get_ebit(), 8);
    loc->ebits_.set_value(16);
    EXPECT_EQ(loc->camera_get_ebit(), 12);
    // clup_mx was released on the way out.
    EXPECT_EQ(pthread_mutex_trylock(&loc->clup_mx), 0);
    pthread_mutex_unlock(&loc->clup_mx);
}

TEST_F(PylonAcquisition, BackgroundSubtractionFollowsItsProperty)
{
    loc->camera_bkg_subst_on();  // the process's first call publishes in any case
    set_pending(loc->bkg_sub_, 1);
    EXPECT_EQ(loc->camera_bkg_subst_on(), 0);
    EXPECT_TRUE(loc->bkg_subtract);
    EXPECT_EQ(loc->bkg_sub_.value(), 1);
    EXPECT_FALSE(loc->bkg_sub_.is_changed());
    EXPECT_EQ(loc->bkg_status_.value(), "On");

    // Without a pending change nothing is touched.
    loc->bkg_status_.set_value("x");
    EXPECT_EQ(loc->camera_bkg_subst_on(), 0);
    EXPECT_EQ(loc->bkg_status_.value(), "x");

    set_pending(loc->bkg_sub_, 0);
    EXPECT_EQ(loc->camera_bkg_subst_off(), 0);
    EXPECT_FALSE(loc->bkg_subtract);
    EXPECT_EQ(loc->bkg_status_.value(), "Off");
}

} // namespace
