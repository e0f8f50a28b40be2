// The location's lifecycle: construction, init, post_init/online with success, failure and
// retry, the removal callback, error codes and texts.
#include <gmock/gmock.h>

#include "location_support.h"

using ::testing::HasSubstr;
using namespace location_test;

namespace {

class Lifecycle : public LocationFixture {};

TEST_F(Lifecycle, ConstructionPublishesTheControlProperties)
{
    EqFctPylon* a = add_location("A");
    EXPECT_EQ(a->fct_code(), 812);
    for (const char* name : {"CAMRESET", "IMGRATE", "UPDSETS", "WHILERATE", "ACQ.TRIGGER.MODE", "ACQ.TRIGGER.SEL",
                             "FRAME.TRIGGER.MODE", "FRAME.TRIGGER.SEL", "RESTORE_OLD", "CONF.FILE", "CONF.SAVE",
                             "CONF.LOAD", "CONF.SAVE.PERIOD", "FORMAT.OUT", "FORMAT.OUT.GAMMA", "FORMAT.OUT.TRUNCATE",
                             "HOLD.PARAM"})
        EXPECT_NE(a->find_property(name), nullptr) << name;
    EXPECT_EQ(a->acq_trig_on_.name(), "ACQ.TRIGGER.MODE");
    EXPECT_EQ(a->acq_trig_on_.get_min(), -1);
    EXPECT_EQ(a->acq_trig_on_.get_max(), -1);
    EXPECT_EQ(a->format_out_.get_max(), 2);
    EXPECT_EQ(a->truncate_out_.get_min(), -32);
    EXPECT_EQ(a->truncate_out_.get_max(), 31);
    EXPECT_EQ(a->image_rate_.max_points(), 8192);
    EXPECT_EQ(a->gamma_out_.value(), 0.0);
    EXPECT_EQ(a->n_device, -1);
    EXPECT_EQ(a->pCamera, nullptr);
    EXPECT_FALSE(a->exeption);
}

TEST_F(Lifecycle, InitKeepsTheStartRequestForLater)
{
    EqFctPylon* a = add_location("A", {{"START", "1"}, {"SERIAL", "0"}});
    a->init();
    EXPECT_EQ(a->start_.value(), 0);
    EXPECT_EQ(a->saved_start, 1);
    EXPECT_EQ(a->bpp_.value(), 24);
}

TEST_F(Lifecycle, SuccessfulSetUpBringsTheLocationOnLine)
{
    plug("1001");
    EqFctPylon* a = add_location("A", {{"SERIAL", "0"}});
    a->find_cameras_of_type(1);
    Stderr err;
    start(a);
    const std::string text = err.text();
    EXPECT_THAT(text, HasSubstr("A: online() g_sts():0  up:0"));
    EXPECT_THAT(text, HasSubstr("A: WE are ONLINE"));
    EXPECT_TRUE(a->setup_done);
    EXPECT_EQ(a->setup_result, 1);
    EXPECT_EQ(a->g_sts_.online(), 1);
    EXPECT_EQ(a->err_code, 0);
    EXPECT_EQ(a->width_.value(), 1280);
    EXPECT_EQ(a->height_.value(), 1024);
    EXPECT_EQ(a->ebits_.value(), 16);
    EXPECT_EQ(a->ebit_mask & 0xffff, 0xffff);
    // 24 bits per pixel: three bytes per pixel in each buffer.
    EXPECT_EQ(a->image_buffer_size, 1280 * 1024 * 3);
    EXPECT_EQ(a->image_rate_.descr_value(), "Frame period (ms)");
    EXPECT_EQ(a->update_settings_.descr_value(), "Parameters settings time (ms)");
    EXPECT_EQ(a->while_rate_.descr_value(), "While time (ms)");

    // A client switching it off and on again: online only switches it back.
    a->g_sts_.online(0);
    a->online();
    EXPECT_EQ(a->g_sts_.online(), 1);
    EXPECT_EQ(a->cam_status_.value(), "Online");
}

TEST_F(Lifecycle, FailedSetUpIsRetriedWithANewDiscovery)
{
    EqFctPylon* a = add_location("A", {{"SERIAL", "0"}});
    a->find_cameras_of_type(1);
    a->err_text_.set_value("before");
    {
        Stderr err;
        start(a);
        const std::string text = err.text();
        EXPECT_THAT(text, HasSubstr("A: online() Failed to init camera: Error: No Pylon camera on the computer"));
    }
    EXPECT_FALSE(a->setup_done);
    EXPECT_EQ(a->setup_result, 2);
    EXPECT_EQ(a->g_sts_.online(), 0);
    EXPECT_EQ(a->err_code, 5);
    EXPECT_EQ(a->err_code_.value(), 5);
    EXPECT_EQ(a->cam_status_.value(), "Setting UP");

    plug("1001");
    Stderr err;
    {
        std::lock_guard lk(a->lifecycle_mutex());
        a->online();
    }
    const std::string text = err.text();
    EXPECT_THAT(text, HasSubstr("A: find cameras of type called"));
    EXPECT_THAT(text, HasSubstr("A: WE are ONLINE"));
    EXPECT_EQ(a->setup_result, 1);
    EXPECT_TRUE(a->setup_done);
    // Clients see the cleared error, not the code of the failed attempt.
    EXPECT_EQ(a->err_code, 0);
    EXPECT_EQ(a->err_code_.value(), 0);
}

TEST_F(Lifecycle, RemovedCameraTakesTheLocationOffLine)
{
    plug("1001");
    EqFctPylon* a = add_location("A", {{"SERIAL", "0"}});
    a->find_cameras_of_type(1);
    start(a);
    ASSERT_TRUE(a->setup_done);

    Stderr err;
    ASSERT_TRUE(Pylon::Emulator::Instance().Unplug("1001"));
    // The callback runs on the SDK's thread; it prints before it marks the location.
    EXPECT_TRUE(eventually([&] { return a->g_sts_.online() == 0 && a->exeption; }));
    EXPECT_THAT(err.text(), HasSubstr("A: Removed"));
    // Feature operations now return at once.
    EXPECT_EQ(a->camera_update_settings_local(true), 1);
}

TEST_F(Lifecycle, RemovalThenUpdateShutsTheLocationDown)
{
    plug("1001");
    EqFctPylon* a = add_location("A", {{"SERIAL", "0"}});
    a->find_cameras_of_type(1);
    start(a);
    ASSERT_TRUE(a->setup_done);
    a->start_.set_value(1);  // acquisition requested when the camera goes away

    ASSERT_TRUE(Pylon::Emulator::Instance().Unplug("1001"));
    ASSERT_TRUE(eventually([&] { return a->g_sts_.online() == 0 && a->exeption; }));

    Stderr err;
    update(a);
    const std::string text = err.text();
    EXPECT_THAT(text, HasSubstr("A: Shutdowning,  ..."));
    EXPECT_EQ(a->err_code, 4);
    EXPECT_FALSE(a->setup_done);
    EXPECT_EQ(a->cam_status_.value(), "Offline");
    EXPECT_EQ(a->start_.value(), 1);  // not a client's switch-off: the request is kept for recovery
    {
        std::lock_guard lk(a->lifecycle_mutex());
        a->online();  // still unplugged: the set-up fails, the request stays saved
    }
    EXPECT_FALSE(a->setup_done);

    // Plugged in again, the next set-up finds it and clears the removal mark.
    plug("1001");
    {
        std::lock_guard lk(a->lifecycle_mutex());
        a->online();
    }
    EXPECT_FALSE(a->exeption);
    EXPECT_TRUE(a->setup_done);
    EXPECT_EQ(a->g_sts_.online(), 1);
    EXPECT_EQ(a->saved_start, 1);  // the camera thread restores it after its start-up passes
}

TEST_F(Lifecycle, ErrorCodeSetterPublishesTheCodeAndReturnsTheText)
{
    EqFctPylon* a = add_location("A");
    a->err_text_.set_value("some text");
    EXPECT_STREQ(a->cam_error_set(7), "some text");
    EXPECT_EQ(a->err_code, 7);
    EXPECT_EQ(a->err_code_.value(), 7);
    // The library stores a code and then calls the plain form, which publishes it too.
    a->err_code = 9;
    EXPECT_STREQ(a->cam_error_set(), "some text");
    EXPECT_EQ(a->err_code_.value(), 9);
}

TEST_F(Lifecycle, TriggerFlagsCommitPendingValues)
{
    EqFctPylon* a = add_location("A");
    for (D_cam_param_int* p : {&a->acq_trig_on_, &a->frame_trig_on_, &a->acq_trig_sel_, &a->frame_trig_sel_}) {
        p->set_limits(0, 5);
        p->set_new_value(3);
        p->set_changed(true);
    }
    a->camera_update_trigger_flags();
    for (D_cam_param_int* p : {&a->acq_trig_on_, &a->frame_trig_on_, &a->acq_trig_sel_, &a->frame_trig_sel_}) {
        EXPECT_EQ(p->value(), 3);
        EXPECT_FALSE(p->is_changed());
    }
}

} // namespace
