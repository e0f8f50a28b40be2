// Client writes across an unplugged camera: a write the host accepted reaches the camera
// once it is back (or is reported as dropped), whether it was made while the camera was
// away or just before the camera thread noticed the loss.
#include <gmock/gmock.h>

#include "location_support.h"
#include "pylon_lock.h"

using ::testing::HasSubstr;
using namespace location_test;

namespace {

class Reconnect : public LocationFixture {
protected:
    // A location on camera 1001 with its camera thread running, idle.
    EqFctPylon* running_location(int restore_old)
    {
        plug("1001");
        EqFctPylon* loc = add_location("REC", {{"SERIAL", "1001"}, {"RESTORE_OLD", std::to_string(restore_old)}});
        loc->find_cameras_of_type(1);
        start(loc);
        EXPECT_TRUE(loc->setup_done);
        update(loc);
        EXPECT_NE(loc->cam_thread.load(), pthread_t{0});
        return loc;
    }

    // Unplugs the camera and lets the location go through its shut-down; `before_thread_ends`
    // runs after the loss is latched and before the camera thread may end.
    void lose_camera(EqFctPylon* loc, const std::function<void()>& before_thread_ends = {})
    {
        ASSERT_TRUE(Pylon::Emulator::Instance().Unplug("1001"));
        ASSERT_TRUE(eventually([&] { return loc->g_sts_.online() == 0 && loc->exeption; }));
        if (before_thread_ends)
            before_thread_ends();
        ASSERT_TRUE(loc->wait_camera_thread_end(10));
        update(loc);  // shut-down
        ASSERT_FALSE(loc->setup_done);
        ASSERT_TRUE(loc->pylon_prop_.empty());
    }

    // The camera comes back (power-cycled: its own values are the model's defaults).
    void camera_returns(EqFctPylon* loc, const std::string& model = kFullModel)
    {
        plug("1001", model);
        std::lock_guard lk(loc->lifecycle_mutex());
        loc->online();
    }

    static mirva::WriteResult write(EqFctPylon* loc, const std::string& name, mirva::ClientValue value)
    {
        mirva::WriteResult result = mirva::WriteResult::refuse(mirva::WriteResult::read_only, "no such property");
        loc->with_property(name, [&](D_fct& p) { result = p.client_write(value); });
        return result;
    }

    static std::optional<mirva::ClientValue> value_of(EqFctPylon* loc, const std::string& name)
    {
        std::optional<mirva::ClientValue> v;
        loc->with_property(name, [&](D_fct& p) { v = p.snapshot().value; });
        return v;
    }

    // Writes made while the camera thread cannot apply them (it waits for the write-pass
    // lock), then the camera goes away before it could.
    void write_just_before_the_loss(EqFctPylon* loc)
    {
        pthread_mutex_lock(&loc->cbk_mx);
        EXPECT_EQ(write(loc, "GAINRAW", int64_t{172}).code, mirva::WriteResult::ok);
        EXPECT_EQ(write(loc, "TESTIMAGESELECTOR", std::string("Testimage2")).code, mirva::WriteResult::ok);
        bool unlocked = false;
        lose_camera(loc, [&] {
            pthread_mutex_unlock(&loc->cbk_mx);
            unlocked = true;
        });
        if (!unlocked)
            pthread_mutex_unlock(&loc->cbk_mx);
    }

    void expect_writes_in_the_camera(EqFctPylon* loc)
    {
        ASSERT_TRUE(loc->setup_done);
        ASSERT_NE(loc->pCamera, nullptr);
        EXPECT_EQ(loc->pCamera->GainRaw.GetValue(), 172);
        EXPECT_EQ(std::string(loc->pCamera->TestImageSelector.ToString()), "Testimage2");
        EXPECT_EQ(value_of(loc, "GAINRAW"), mirva::ClientValue{int64_t{172}});
        EXPECT_EQ(value_of(loc, "TESTIMAGESELECTOR"), mirva::ClientValue{std::string("Testimage2")});
        // Applied, so no longer pending: the next loss does not write them again.
        loc->with_property("GAINRAW", [](D_fct& p) { EXPECT_FALSE(p.pending_write()); });
        loc->with_property("TESTIMAGESELECTOR", [](D_fct& p) { EXPECT_FALSE(p.pending_write()); });
    }
};

TEST_F(Reconnect, OutputFormatWrittenWhileUnpluggedIsInForceOnceTheCameraIsBack)
{
    EqFctPylon* loc = running_location(1);
    ASSERT_EQ(loc->format_out_.value(), 0);
    lose_camera(loc);

    ASSERT_EQ(write(loc, "FORMAT.OUT", int64_t{2}).code, mirva::WriteResult::ok);
    EXPECT_TRUE(loc->format_out_.is_changed());

    camera_returns(loc);
    ASSERT_TRUE(loc->setup_done);
    // Initialisation keeps the pending value; the camera thread applies it.
    EXPECT_EQ(loc->format_out_.new_value(), 2);
    update(loc);
    EXPECT_TRUE(eventually([&] { return loc->format_out_.value() == 2; }, std::chrono::seconds(5)));
}

TEST_F(Reconnect, FeatureWritesNotYetAppliedAtTheLossReachTheCameraWithStoredValues)
{
    EqFctPylon* loc = running_location(1);
    write_just_before_the_loss(loc);
    camera_returns(loc);
    expect_writes_in_the_camera(loc);
}

TEST_F(Reconnect, FeatureWritesNotYetAppliedAtTheLossReachTheCameraWithItsOwnValues)
{
    // Without restoring, the camera's values are published as they are, but a client's
    // pending write still goes to the camera.
    EqFctPylon* loc = running_location(0);
    write_just_before_the_loss(loc);
    camera_returns(loc);
    expect_writes_in_the_camera(loc);
}

TEST_F(Reconnect, PendingWriteToAFeatureTheReturningCameraLacksIsReported)
{
    EqFctPylon* loc = running_location(1);
    pthread_mutex_lock(&loc->cbk_mx);
    ASSERT_EQ(write(loc, "GAINRAW", int64_t{172}).code, mirva::WriteResult::ok);
    lose_camera(loc, [&] { pthread_mutex_unlock(&loc->cbk_mx); });

    Stderr err;
    camera_returns(loc, kMinimalModel);  // same serial number, a model without GainRaw
    ASSERT_TRUE(loc->setup_done);
    const std::string dropped =
        "the write of 172 to GAINRAW, made while the camera was away, is dropped: the property is not there any more";
    EXPECT_THAT(err.text(), HasSubstr("REC: " + dropped));
    EXPECT_EQ(loc->err_text_.value(), dropped);
}

TEST_F(Reconnect, WriteArrivingJustBeforeAnAcquisitionStartOutlivesItsReadBack)
{
    // The start reads every feature back; a write that came after the thread's last
    // write pass is still pending afterwards, so the next pass writes it.
    plug("1001");
    EqFctPylon* loc = add_location("REC", {{"SERIAL", "1001"}});
    loc->find_cameras_of_type(1);
    start(loc);
    ASSERT_TRUE(loc->setup_done);
    ASSERT_EQ(write(loc, "GAINRAW", int64_t{172}).code, mirva::WriteResult::ok);
    ASSERT_EQ(write(loc, "TESTIMAGESELECTOR", std::string("Testimage2")).code, mirva::WriteResult::ok);
    ASSERT_EQ(loc->camera_start_acquisition(), 0);
    loc->with_property("GAINRAW", [](D_fct& p) { EXPECT_EQ(p.pending_write(), mirva::ClientValue{int64_t{172}}); });
    EXPECT_EQ(value_of(loc, "TESTIMAGESELECTOR"), mirva::ClientValue{std::string("Testimage2")});
    EXPECT_TRUE(loc->camera_is_acq_feature_changed());  // the thread restarts and writes them
    loc->camera_stop_acquisition();
    EXPECT_GT(loc->camera_update_features(1), 0);
    EXPECT_EQ(loc->pCamera->GainRaw.GetValue(), 172);
    EXPECT_EQ(std::string(loc->pCamera->TestImageSelector.ToString()), "Testimage2");
}

} // namespace
