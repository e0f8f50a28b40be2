// Moving values between a feature's node and its properties.
#include <functional>
#include <memory>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mirva/d_cam_param.h>

#include "test_support.h"

using namespace feature_test;
using ::testing::HasSubstr;

namespace {

class PropSync : public PropFixture {
protected:
    // A feature as camera initialisation leaves it: created, then read back.
    pylon_prop* Published(const char* name, const char* categ = "MiscControls")
    {
        pylon_prop* f = Make(name, categ);
        EXPECT_FALSE(f->update());
        return f;
    }
    static void Write(D_fct* p, mirva::ClientValue v) { ASSERT_EQ(p->client_write(v).code, mirva::WriteResult::ok); }
    int64_t NodeInt(const char* name) { return map->GetIntegerUnchecked(name); }
};

TEST_F(PropSync, HostSettersClearTheChangedFlagOnlyWhenTheValueMeetsThePendingValue)
{
    D_cam_param_int i("I test", 0, 10, loc.get());
    i.set_new_value(5);
    i.set_changed(true);
    i.set_value(4);
    EXPECT_TRUE(i.changed());
    EXPECT_EQ(i.new_value(), 5);  // the pending value is left as it was
    i.set_value(5);
    EXPECT_FALSE(i.changed());

    D_cam_param_float f("F test", 0, 10, loc.get());
    f.set_new_value(2.5f);
    f.set_changed(true);
    f.set_value(2.5f);
    EXPECT_FALSE(f.changed());
    EXPECT_EQ(f.value(), 2.5f);
}

TEST_F(PropSync, IntegerWriteIsClampedToThePropertyLimitsAndShown)
{
    pylon_prop* f = Published("Width", "AOIControls");
    D_cam_param_int* p = f->d_fct.ival;
    EXPECT_EQ(p->value(), 640);
    EXPECT_TRUE(p->get_valid());

    Write(p, int64_t{1500});
    EXPECT_TRUE(f->is_changed());
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(NodeInt("Width"), 1280);
    EXPECT_EQ(p->value(), 1280);
    EXPECT_FALSE(p->is_changed());
    EXPECT_EQ(f->currentVal.ival, 1280);
    EXPECT_FALSE(f->is_changed());

    Write(p, int64_t{8});
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(NodeInt("Width"), 16);

    // Nothing pending: nothing written.
    EXPECT_TRUE(f->set_feature());

    // Limits that are not a range do not clamp: the write goes to the node as given.
    p->set_limits(5, 5);
    Write(p, int64_t{1000});
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(NodeInt("Width"), 1000);
    EXPECT_EQ(p->value(), 1000);
}

TEST_F(PropSync, FirstPassWritesAValidPropertyEvenWithoutARequest)
{
    MakeLocation({{"WIDTH", "320"}});  // a restored value counts as valid
    pylon_prop* f = Make("Width", "AOIControls");
    EXPECT_FALSE(f->d_fct.ival->is_changed());
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(NodeInt("Width"), 320);
    EXPECT_FALSE(f->first);
    EXPECT_TRUE(f->set_feature());
}

TEST_F(PropSync, PropertyNeverReadWritesNothingAndKeepsTheRequest)
{
    pylon_prop* f = Make("Width", "AOIControls");
    Write(f->d_fct.ival, int64_t{400});
    EXPECT_TRUE(f->set_feature());
    EXPECT_EQ(NodeInt("Width"), 640);
    EXPECT_TRUE(f->d_fct.ival->is_changed());
    EXPECT_FALSE(f->first);
}

TEST_F(PropSync, ValueOffTheIncrementIsNotRoundedAndTheNodesRefusalPropagates)
{
    pylon_prop* f = Published("Width", "AOIControls");
    Write(f->d_fct.ival, int64_t{641});
    EXPECT_THROW(f->set_feature(), GenICam::InvalidArgumentException);
    EXPECT_EQ(NodeInt("Width"), 640);
    EXPECT_TRUE(f->d_fct.ival->is_changed());
}

TEST_F(PropSync, FloatWriteBelowTheMinimumWritesTheMinimumEvenWhenLimitsAreInverted)
{
    pylon_prop* f = Published("GainStep");
    D_cam_param_float* p = f->d_fct.fval;
    Write(p, 20.0);
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(map->GetFloatUnchecked("GainStep"), 10.0);
    EXPECT_EQ(p->value(), 10.0f);
    EXPECT_EQ(f->currentVal.fval, 10.0f);

    p->set_limits(5.0f, 2.0f);
    Write(p, 1.0);
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(map->GetFloatUnchecked("GainStep"), 5.0);
}

TEST_F(PropSync, BooleanAndStringWrites)
{
    pylon_prop* b = Published("ReverseX");
    Write(b->d_fct.ival, int64_t{1});
    EXPECT_FALSE(b->set_feature());
    EXPECT_EQ(NodeInt("ReverseX"), 1);
    EXPECT_EQ(b->currentVal.ival, 1);
    EXPECT_FALSE(b->is_changed());

    pylon_prop* s = Published("DeviceUserID");
    EXPECT_EQ(s->d_fct.sval->value(), "cam one");
    EXPECT_TRUE(s->set_feature());  // text equals the camera's: nothing to write
    Write(s->d_fct.sval, std::string("cam two"));
    EXPECT_TRUE(s->is_changed());
    EXPECT_FALSE(s->set_feature());
    EXPECT_EQ(map->GetStringUnchecked("DeviceUserID"), "cam two");
    EXPECT_EQ(*s->currentVal.sval, "cam two");
    EXPECT_FALSE(s->is_changed());
}

TEST_F(PropSync, EnumerationNumberReachesTheCameraInTheFollowingPass)
{
    pylon_prop* f = Published("ExposureAuto");
    D_cam_param_text* p = f->d_fct.sval;
    D_cam_param_int* num = f->d_fct_inc.ival;
    EXPECT_EQ(p->value(), "Continuous");
    EXPECT_EQ(num->value(), 1);
    EXPECT_TRUE(num->get_valid());
    f->first = false;

    Write(num, int64_t{2});
    EXPECT_TRUE(f->is_changed());
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(p->value(), "Single");  // shown at once
    EXPECT_EQ(map->GetStringUnchecked("ExposureAuto"), "Continuous");
    EXPECT_TRUE(f->is_changed());
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(map->GetStringUnchecked("ExposureAuto"), "Single");
    EXPECT_EQ(*f->currentVal.sval, "Single");
    EXPECT_FALSE(f->is_changed());
    EXPECT_TRUE(f->set_feature());
}

TEST_F(PropSync, EnumerationTextThatIsNoEntryIsReplacedAndNothingIsWritten)
{
    pylon_prop* f = Published("ExposureAuto");
    D_cam_param_text* p = f->d_fct.sval;
    Write(p, std::string("Bogus"));
    EXPECT_TRUE(f->set_feature());
    EXPECT_EQ(p->value(), "Continuous");
    EXPECT_EQ(map->GetStringUnchecked("ExposureAuto"), "Continuous");

    Write(p, std::string("Off"));
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(map->GetStringUnchecked("ExposureAuto"), "Off");
    EXPECT_EQ(f->d_fct_inc.ival->value(), 0);
}

TEST_F(PropSync, EnumerationNumberOutsideTheEntriesIsHeldToThem)
{
    pylon_prop* f = Published("ExposureAuto");
    f->first = false;
    Write(f->d_fct_inc.ival, int64_t{9});
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(f->d_fct.sval->value(), "Single");
    EXPECT_EQ(f->d_fct_inc.ival->value(), 2);
}

TEST_F(PropSync, EnumerationRefusedEntryIsReportedAndNotCounted)
{
    pylon_prop* f = Published("ExposureAuto");
    map->FailNextWrite("ExposureAuto", GenApi::EWriteFault::InvalidArgument);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(f->set_feature());  // first pass: text unchanged branch
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("pylon: Setting ExposureAuto failed"));
}

TEST_F(PropSync, CommandRunsOnlyWhenThePreviousOneIsDone)
{
    map->SetCommandAutoComplete("AcquisitionStart", false);
    int executes = 0;
    map->SetWriteHook([&](GenApi::INode& n, GenApi::EWritePhase phase) {
        if (phase == GenApi::EWritePhase::BeforeWrite && n.GetName() == "AcquisitionStart")
            ++executes;
    });
    pylon_prop* c = Published("AcquisitionStart", "AOIControls");
    D_cam_param_int* p = c->d_fct.ival;
    EXPECT_EQ(p->value(), 0);

    Write(p, int64_t{0});  // a write of 0 executes nothing
    EXPECT_TRUE(c->is_changed());
    EXPECT_TRUE(c->set_feature());
    EXPECT_EQ(executes, 0);

    Write(p, int64_t{1});
    testing::internal::CaptureStderr();
    EXPECT_TRUE(c->set_feature());  // a command never counts as written
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("pylon: AcquisitionStart (Execute) "));
    EXPECT_EQ(executes, 1);
    EXPECT_EQ(p->value(), 0);
    EXPECT_FALSE(p->is_changed());

    EXPECT_FALSE(c->update());
    EXPECT_EQ(p->value(), 1);  // still running

    Write(p, int64_t{1});
    testing::internal::CaptureStderr();
    EXPECT_TRUE(c->set_feature());
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                HasSubstr("pylon: Previous command for AcquisitionStart is not yet finished. Ignoring the new one"));
    EXPECT_EQ(executes, 1);
    EXPECT_EQ(p->value(), 0);

    map->CompleteCommand("AcquisitionStart");
    EXPECT_FALSE(c->update());
    EXPECT_EQ(p->value(), 0);
    map->SetWriteHook({});
}

TEST_F(PropSync, ReadOnlyAndWriteOnlyFeaturesFollowTheirOwnPaths)
{
    pylon_prop* ro = Published("SensorWidth");
    EXPECT_FALSE(ro->d_fct.ival->get_valid());  // update leaves a read-only property alone
    EXPECT_EQ(ro->currentVal.ival, 1280);
    EXPECT_FALSE(ro->update_readonly());
    EXPECT_EQ(ro->d_fct.ival->value(), 1280);
    EXPECT_TRUE(ro->d_fct.ival->get_valid());
    Write(ro->d_fct.ival, int64_t{5});
    EXPECT_FALSE(ro->is_changed());  // not writable: no request counts
    EXPECT_TRUE(ro->set_feature());
    EXPECT_TRUE(ro->change_limits());

    pylon_prop* rw = Published("Width", "AOIControls");
    Write(rw->d_fct.ival, int64_t{400});
    EXPECT_FALSE(rw->update_readonly());  // writable now: left to set_feature
    EXPECT_TRUE(rw->d_fct.ival->is_changed());
    EXPECT_FALSE(rw->update());           // and update drops the request
    EXPECT_FALSE(rw->d_fct.ival->is_changed());
    EXPECT_EQ(rw->d_fct.ival->value(), 640);

    pylon_prop* wo = Make("WriteOnly", "MiscControls");
    Write(wo->d_fct.ival, int64_t{9});
    EXPECT_FALSE(wo->update());
    EXPECT_FALSE(wo->d_fct.ival->is_changed());
    EXPECT_TRUE(wo->update_readonly());

    pylon_prop* reg = Make("RawRegister");
    EXPECT_TRUE(reg->update());
    EXPECT_TRUE(reg->update_readonly());
    EXPECT_TRUE(reg->set_feature());
    EXPECT_FALSE(reg->is_changed());
}

TEST_F(PropSync, LimitPassClampsTheShownValueAndMarksItForTheNextWrite)
{
    pylon_prop* f = Published("Width", "AOIControls");
    EXPECT_TRUE(f->change_limits());  // nothing to do
    map->SetIntegerUnchecked("OffsetX", 1000);  // Width's maximum falls to 280
    EXPECT_FALSE(f->change_limits());
    D_cam_param_int* p = f->d_fct.ival;
    EXPECT_EQ(p->get_max(), 280);
    EXPECT_EQ(p->value(), 280);
    EXPECT_EQ(p->new_value(), 280);
    EXPECT_TRUE(p->changed());
    EXPECT_EQ(f->egu_->f2(), 280.0f);
    EXPECT_TRUE(f->is_changed());
    f->first = false;
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(NodeInt("Width"), 280);
    EXPECT_TRUE(f->change_limits());
}

// A client's write can arrive while the write pass writes the camera (the pass runs on the
// camera thread, clients write from theirs). The node's callback runs inside that camera
// write, so a write made there lands exactly in that window.
TEST_F(PropSync, AClientWriteArrivingWhileThePassWritesTheCameraIsAppliedInTheNextPass)
{
    auto during_next_camera_write = [](pylon_prop* f, std::function<void()> client) {
        auto once = std::make_shared<bool>(true);
        f->node->RegisterCallback([once, client](GenApi::INode*) {
            if (*once) {
                *once = false;
                client();
            }
        });
    };
    {
        pylon_prop* f = Published("Width", "AOIControls");
        D_cam_param_int* p = f->d_fct.ival;
        f->first = false;
        Write(p, int64_t{400});
        during_next_camera_write(f, [&] { Write(p, int64_t{800}); });
        EXPECT_FALSE(f->set_feature());
        EXPECT_EQ(NodeInt("Width"), 400);
        EXPECT_EQ(p->value(), 400);
        EXPECT_EQ(p->new_value(), 800);  // still pending, not overwritten by the applied 400
        EXPECT_TRUE(f->is_changed());
        EXPECT_FALSE(f->set_feature());
        EXPECT_EQ(NodeInt("Width"), 800);
        EXPECT_FALSE(f->is_changed());
    }
    {
        pylon_prop* f = Published("Gain");
        D_cam_param_float* p = f->d_fct.fval;
        f->first = false;
        Write(p, 2.0);
        during_next_camera_write(f, [&] { Write(p, 3.0); });
        EXPECT_FALSE(f->set_feature());
        EXPECT_TRUE(f->is_changed());
        EXPECT_FALSE(f->set_feature());
        EXPECT_EQ(map->GetFloatUnchecked("Gain"), 3.0);
        EXPECT_FALSE(f->is_changed());
    }
    {
        pylon_prop* f = Published("ReverseX");
        D_cam_param_int* p = f->d_fct.ival;
        f->first = false;
        Write(p, int64_t{1});
        during_next_camera_write(f, [&] { Write(p, int64_t{0}); });
        EXPECT_FALSE(f->set_feature());
        EXPECT_EQ(NodeInt("ReverseX"), 1);
        EXPECT_TRUE(f->is_changed());
        EXPECT_FALSE(f->set_feature());
        EXPECT_EQ(NodeInt("ReverseX"), 0);
    }
    {
        // An enumeration's number written while its entry goes to the camera.
        pylon_prop* f = Published("ExposureAuto");
        D_cam_param_int* num = f->d_fct_inc.ival;
        f->first = false;
        Write(f->d_fct.sval, std::string("Off"));
        during_next_camera_write(f, [&] { Write(num, int64_t{2}); });
        EXPECT_FALSE(f->set_feature());
        EXPECT_EQ(map->GetStringUnchecked("ExposureAuto"), "Off");
        EXPECT_TRUE(f->is_changed());
        f->set_feature();  // shows the entry of the number
        f->set_feature();  // and writes it
        EXPECT_EQ(map->GetStringUnchecked("ExposureAuto"), "Single");
        EXPECT_FALSE(f->is_changed());
    }
}

TEST_F(PropSync, LimitPassKeepsAClientsPendingWriteForTheCamera)
{
    pylon_prop* f = Published("Width", "AOIControls");
    D_cam_param_int* p = f->d_fct.ival;
    f->first = false;
    Write(p, int64_t{200});
    EXPECT_FALSE(f->set_feature());
    Write(p, int64_t{240});                     // arrives after the write pass
    map->SetIntegerUnchecked("OffsetX", 1000);  // Width's maximum falls to 280: 200 stays inside
    EXPECT_FALSE(f->change_limits());
    EXPECT_EQ(p->get_max(), 280);
    EXPECT_EQ(p->value(), 200);                 // not shown as applied
    EXPECT_TRUE(f->is_changed());
    EXPECT_TRUE(f->change_limits());            // same limits: nothing more to do
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(NodeInt("Width"), 240);
    EXPECT_FALSE(f->is_changed());
}

TEST_F(PropSync, LimitsThatCutTheValueKeepAClientsPendingWrite)
{
    pylon_prop* f = Published("Width", "AOIControls");
    D_cam_param_int* p = f->d_fct.ival;
    f->first = false;
    Write(p, int64_t{1000});
    EXPECT_FALSE(f->set_feature());
    Write(p, int64_t{100});                     // arrives after the write pass
    map->SetIntegerUnchecked("OffsetX", 1000);  // Width's maximum falls to 280: 1000 is cut
    EXPECT_FALSE(f->change_limits());
    EXPECT_EQ(p->value(), 280);
    EXPECT_EQ(p->new_value(), 100);             // the client's write, not the bound
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(NodeInt("Width"), 100);
    EXPECT_FALSE(f->is_changed());
}

} // namespace
