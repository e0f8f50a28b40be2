// The periodic update: feature-file requests and periodic saves, acquisition state,
// missing-frame watchdog, forced power, hardware reset and shut-down; with the camera
// thread where the path needs one.
#include <gmock/gmock.h>

#include "location_support.h"

using ::testing::HasSubstr;
using ::testing::Not;
using namespace location_test;

namespace {

// Records the error code at every publication of the error (update thread only).
class RecordingLocation : public EqFctPylon {
public:
    using EqFctPylon::cam_error_set;
    char* cam_error_set() override
    {
        codes.push_back(err_code);
        return EqFctPylon::cam_error_set();
    }
    std::vector<int> codes;
};

// A location that the host regards as set up and on line, without a camera: update runs
// its bookkeeping and starts no thread (the feature-file operations fail at once and
// mark their request with -1).
class UpdateBookkeeping : public LocationFixture {
protected:
    void SetUp() override
    {
        LocationFixture::SetUp();
        loc = add_location("UPD");
        loc->setup_done = true;
        loc->g_sts_.online(1);
        loc->power_.set_value(loc->power_value);
    }
    EqFctPylon* loc = nullptr;
};

TEST_F(UpdateBookkeeping, SaveAndLoadRequestsAreServed)
{
    loc->save_config_.set_value(1);
    loc->load_config_.set_value(1);
    update(loc);
    EXPECT_EQ(loc->save_config_.value(), -1);  // attempted (no camera to save)
    EXPECT_EQ(loc->load_config_.value(), -1);
}

TEST_F(UpdateBookkeeping, HoldParamBlocksSaveAndLoad)
{
    loc->hold_param_.set_value(1);
    loc->save_config_.set_value(1);
    loc->load_config_.set_value(1);
    loc->config_save_period_.set_value(1);
    loc->last_config_save = time(nullptr) - 100;
    const time_t last = loc->last_config_save;
    update(loc);
    EXPECT_EQ(loc->save_config_.value(), 1);
    EXPECT_EQ(loc->load_config_.value(), 1);
    EXPECT_EQ(loc->last_config_save, last);
}

TEST_F(UpdateBookkeeping, PeriodicSaveComesOnceThePeriodHasPassed)
{
    // The first periodic save is due one period after construction, not at once.
    EXPECT_LE(time(nullptr) - loc->last_config_save, 2);
    loc->config_save_period_.set_value(10);
    const time_t recent = time(nullptr) - 5;
    loc->last_config_save = recent;
    update(loc);
    EXPECT_EQ(loc->last_config_save, recent);
    EXPECT_EQ(loc->save_config_.value(), 0);

    loc->last_config_save = time(nullptr) - 11;
    update(loc);
    EXPECT_GE(loc->last_config_save, time(nullptr) - 1);
    EXPECT_EQ(loc->save_config_.value(), -1);
}

TEST_F(UpdateBookkeeping, AcquisitionStateIsNormalised)
{
    loc->acq_state_.set_value(5);
    update(loc);
    EXPECT_EQ(loc->acq_state_.value(), 3);
    loc->acq_state_.set_value(-2);
    update(loc);
    EXPECT_EQ(loc->acq_state_.value(), 0);
}

TEST_F(UpdateBookkeeping, ForcedPowerIsReasserted)
{
    loc->power_value = 7;
    loc->power_.set_value(0);
    update(loc);
    EXPECT_EQ(loc->power_.value(), 7);
}

TEST_F(UpdateBookkeeping, WatchdogWarnsEveryFourCyclesAndRecoversAtTwelve)
{
    loc->start_.set_value(1);
    Stderr err;
    for (int i = 0; i < 11; ++i)
        update(loc);
    EXPECT_EQ(loc->missing_frames, 11);
    EXPECT_EQ(loc->g_sts_.online(), 1);
    EXPECT_TRUE(loc->setup_done);
    loc->frame_rate_.set_value(12.5f);

    update(loc);
    const std::string text = err.text();
    EXPECT_EQ(count_of(text, "UPD: update() NO triggers on input !!! ..."), 3);
    EXPECT_EQ(loc->missing_frames, 0);
    EXPECT_EQ(loc->frame_rate_.value(), 0.0f);
    EXPECT_EQ(loc->g_sts_.online(), 0);
    EXPECT_FALSE(loc->setup_done);
}

TEST_F(UpdateBookkeeping, WatchdogIdlesWhileTriggersArePresentOrNoStartIsWanted)
{
    loc->trigger_present = 1;
    loc->start_.set_value(1);
    for (int i = 0; i < 13; ++i)
        update(loc);
    EXPECT_EQ(loc->missing_frames, 0);
    EXPECT_TRUE(loc->setup_done);

    loc->trigger_present = 0;
    loc->start_.set_value(0);
    for (int i = 0; i < 13; ++i)
        update(loc);
    EXPECT_EQ(loc->missing_frames, 0);
    EXPECT_TRUE(loc->setup_done);
}

TEST_F(UpdateBookkeeping, SwitchedOffLocationIsShutDownWithCodesThreeThenFour)
{
    auto* rec = add_location<RecordingLocation>("REC");
    rec->setup_done = true;
    rec->start_.set_value(1);
    ASSERT_EQ(rec->g_sts_.client_write(mirva::ClientValue{int64_t{0}}).code, mirva::WriteResult::ok);
    Stderr err;
    update(rec);
    EXPECT_THAT(err.text(), HasSubstr("REC: Shutdowning,  ..."));
    EXPECT_EQ(rec->codes, (std::vector<int>{3, 4}));
    EXPECT_EQ(rec->start_.value(), 0);
    EXPECT_EQ(rec->err_code, 4);
    EXPECT_FALSE(rec->setup_done);
    EXPECT_EQ(rec->cam_status_.value(), "Offline");
}

// With a camera: the camera thread starts on update and stops for the reset.
class UpdateWithCamera : public LocationFixture {
protected:
    void SetUp() override
    {
        LocationFixture::SetUp();
        plug("1001");
        loc = add_location("UPD", {{"SERIAL", "0"}});
        loc->find_cameras_of_type(1);
        start(loc);
        ASSERT_TRUE(loc->setup_done);
    }
    EqFctPylon* loc = nullptr;
};

TEST_F(UpdateWithCamera, ResetRequestStopsTheThreadShutsDownAndResetsOnce)
{
    update(loc);
    EXPECT_NE(loc->cam_thread.load(), pthread_t{0});
    // Running: a second cycle finds the thread alive.
    const pthread_t first = loc->cam_thread.load();
    update(loc);
    EXPECT_EQ(loc->cam_thread.load(), first);

    loc->cam_reset_.set_value(1);
    update(loc);  // stops the thread, off line
    EXPECT_EQ(loc->g_sts_.online(), 0);
    ASSERT_TRUE(loc->wait_camera_thread_end(10));
    // The thread ended with a reset pending: features stay, the camera stays.
    EXPECT_NE(loc->pCamera, nullptr);
    EXPECT_FALSE(loc->pylon_prop_.empty());

    update(loc);  // shut-down
    EXPECT_EQ(loc->err_code, 4);
    EXPECT_FALSE(loc->setup_done);

    Stderr err;
    update(loc);  // not set up: the reset
    update(loc);
    const std::string text = err.text();
    EXPECT_EQ(count_of(text, "UPD: camera_rest() HW reset done"), 1);
    EXPECT_EQ(loc->pCamera, nullptr);
    EXPECT_EQ(loc->cam_reset_.value(), 0);
}

TEST_F(UpdateWithCamera, SwitchedOffLocationStopsItsThreadAndReleasesTheCamera)
{
    update(loc);
    ASSERT_NE(loc->cam_thread.load(), pthread_t{0});
    loc->g_sts_.online(0);
    Stderr err;
    update(loc);
    const std::string text = err.text();
    EXPECT_EQ(loc->cam_thread.load(), pthread_t{0});
    EXPECT_THAT(text, HasSubstr("UPD: Camera  THREAD finished"));
    EXPECT_EQ(loc->err_code, 4);
    EXPECT_FALSE(loc->setup_done);
    EXPECT_EQ(loc->pCamera, nullptr);
    EXPECT_TRUE(loc->pylon_prop_.empty());
    EXPECT_EQ(EqFctPylon::booked, (std::vector<int>{0}));

    // Set up again on the same camera.
    {
        std::lock_guard lk(loc->lifecycle_mutex());
        loc->online();
    }
    EXPECT_TRUE(loc->setup_done);
}

TEST_F(UpdateWithCamera, ALocationSetUpAgainGetsTheWatchdogsWholeTwelveCycles)
{
    // Cycles without a frame counted while the camera before was being lost.
    loc->missing_frames = 9;
    loc->g_sts_.online(0);
    update(loc);  // shut-down
    ASSERT_FALSE(loc->setup_done);
    {
        std::lock_guard lk(loc->lifecycle_mutex());
        loc->online();
    }
    ASSERT_TRUE(loc->setup_done);
    EXPECT_EQ(loc->missing_frames, 0);
}

TEST_F(UpdateWithCamera, SavedStartRequestComesBackAfterTwoIdlePasses)
{
    loc->saved_start = 1;
    Stderr err;
    update(loc);
    EXPECT_TRUE(eventually([&] { return loc->start_.value() == 1; }));
    loc->cancel();
    EXPECT_EQ(loc->cam_thread.load(), pthread_t{0});
    EXPECT_THAT(err.text(), HasSubstr("UPD: OLD start is back"));
}

TEST_F(UpdateWithCamera, SettingWrittenTogetherWithStartReachesTheCamera)
{
    // A client sets the exposure and switches acquisition on before the thread has
    // applied the exposure: the start must not drop the pending write.
    auto* exposure = dynamic_cast<D_cam_param_int*>(loc->find_property("EXPOSURETIMERAW"));
    ASSERT_NE(exposure, nullptr);
    const int64_t before = loc->pCamera->ExposureTimeRaw.GetValue();
    const int64_t wanted = before == 5000 ? 6000 : 5000;
    ASSERT_EQ(exposure->client_write(mirva::ClientValue{wanted}).code, mirva::WriteResult::ok);
    loc->start_.set_value(1);
    update(loc);
    ASSERT_TRUE(eventually([&] { return loc->frame_counter_.value() > 0; }));
    EXPECT_EQ(loc->pCamera->ExposureTimeRaw.GetValue(), wanted);
    EXPECT_EQ(exposure->value(), wanted);
}

TEST_F(UpdateWithCamera, RegionChangeWhileAcquiringRestartsTheStreamWithIt)
{
    loc->start_.set_value(1);
    update(loc);
    ASSERT_TRUE(eventually([&] { return loc->frame_counter_.value() > 0; }));
    auto* width = dynamic_cast<D_cam_param_int*>(loc->find_property("WIDTH.PYLON"));
    ASSERT_NE(width, nullptr);
    ASSERT_EQ(width->client_write(mirva::ClientValue{int64_t{640}}).code, mirva::WriteResult::ok);
    // The thread stops the stream, writes the width and starts again; frames go on.
    ASSERT_TRUE(eventually([&] { return loc->roi_x_end_.value() == 640 + loc->roi_x_start_.value() - 1; }));
    const int counted = loc->frame_counter_.value();
    EXPECT_TRUE(eventually([&] { return loc->frame_counter_.value() > counted + 2; }));
    EXPECT_EQ(loc->pCamera->Width.GetValue(), 640);
    EXPECT_EQ(width->value(), 640);
    EXPECT_EQ(loc->start_.value(), 1);
}

TEST_F(UpdateWithCamera, UnplugWhileAcquiringEndsTheThreadAndTheNextUpdateShutsDown)
{
    loc->start_.set_value(1);
    update(loc);
    ASSERT_TRUE(eventually([&] { return loc->frame_counter_.value() > 0; }));
    Stderr err;
    ASSERT_TRUE(Pylon::Emulator::Instance().Unplug("1001"));
    EXPECT_TRUE(eventually([&] { return loc->g_sts_.online() == 0; }));
    ASSERT_TRUE(loc->wait_camera_thread_end(10));
    update(loc);
    EXPECT_FALSE(loc->setup_done);
    EXPECT_EQ(loc->pCamera, nullptr);
    EXPECT_TRUE(loc->pylon_prop_.empty());
    EXPECT_EQ(loc->start_.value(), 1) << "kept for the recovery";
    EXPECT_THAT(err.text(), HasSubstr("UPD: Camera  THREAD finished"));
}

TEST_F(UpdateWithCamera, DestroyingARunningLocationEndsItsThreadAndClosesTheCamera)
{
    update(loc);
    ASSERT_NE(loc->cam_thread.load(), pthread_t{0});
    loc->camera_stop_host_threads();
    std::unique_ptr<EqFct> owned = mirva::LocationList::instance().remove(loc);
    locations_.clear();
    owned.reset();  // no cancel first: the destructor stops the thread and waits for it
    EXPECT_EQ(EqFctPylon::booked, (std::vector<int>{0}));
    const auto cameras = Pylon::Emulator::Instance().List();
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_FALSE(cameras[0].open);
}

class CameraGroup : public LocationFixture {};

TEST_F(CameraGroup, StartingOneLocationSwitchesOffTheOthersOfItsGroup)
{
    plug("1001");
    plug("1002");
    plug("1003");
    EqFctPylon* a = add_location("GA", {{"SERIAL", "0"}, {"GROUP", "5"}});
    EqFctPylon* b = add_location("GB", {{"SERIAL", "0"}, {"GROUP", "5"}});
    EqFctPylon* alone = add_location("G0", {{"SERIAL", "0"}, {"GROUP", "0"}});
    a->find_cameras_of_type(1);
    for (EqFctPylon* loc : {a, b, alone}) {
        start(loc);
        ASSERT_TRUE(loc->setup_done) << loc->name();
    }
    alone->start_.set_value(1);  // group 0 takes part in no exclusion
    a->start_.set_value(1);
    update(a);
    ASSERT_TRUE(eventually([&] { return a->frame_counter_.value() > 0; }));

    b->start_.set_value(1);
    update(b);
    EXPECT_TRUE(eventually([&] { return a->start_.value() == 0; }));
    EXPECT_TRUE(eventually([&] { return b->frame_counter_.value() > 0; }));
    EXPECT_EQ(b->start_.value(), 1);
    EXPECT_EQ(alone->start_.value(), 1);
}

} // namespace
