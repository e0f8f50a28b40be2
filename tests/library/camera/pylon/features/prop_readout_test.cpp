// A feature's value as text or number, the reset to the original value, the print line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include <mirva/d_cam_param.h>

#include "test_support.h"

using namespace feature_test;
using ::testing::HasSubstr;

namespace {

struct FreeText {
    void operator()(char* p) const { std::free(p); }
};
using Text = std::unique_ptr<char, FreeText>;

std::string Str(char* p)
{
    Text t(p);
    return t ? std::string(t.get()) : std::string("<null>");
}

class PropReadout : public PropFixture {
protected:
    pylon_prop* Published(const char* name)
    {
        pylon_prop* f = Make(name, "MiscControls");
        f->update();
        return f;
    }
};

TEST_F(PropReadout, HeldAndCameraTextsOfEachKind)
{
    pylon_prop* i = Published("Width");
    EXPECT_EQ(Str(i->get_value_as_string(false)), "640");
    map->SetIntegerUnchecked("Width", 800);
    EXPECT_EQ(Str(i->get_value_as_string(true)), "800");
    EXPECT_EQ(Str(i->get_value_as_string(false)), "640");

    pylon_prop* fl = Published("GainStep");
    fl->d_fct.fval->set_value(12.5f);
    EXPECT_EQ(Str(fl->get_value_as_string(false)), "12.500000");
    map->SetFloatUnchecked("GainStep", 2.5);
    const std::string from_camera = Str(fl->get_value_as_string(true));
    EXPECT_NE(from_camera, "<null>");
    EXPECT_EQ(std::stod(from_camera), 2.5);
    EXPECT_EQ(fl->get_value_as_float(), 12.5f);

    pylon_prop* e = Published("ExposureAuto");
    EXPECT_EQ(Str(e->get_value_as_string(false)), "Continuous");
    EXPECT_EQ(Str(e->get_value_as_string(true)), "Continuous");
    EXPECT_EQ(e->get_value_as_float(), 1.0f);  // the entry's index, not its value (2)

    pylon_prop* b = Published("ReverseX");
    EXPECT_EQ(Str(b->get_value_as_string(false)), "0");

    pylon_prop* s = Published("DeviceUserID");
    map->SetStringUnchecked("DeviceUserID", "a fairly long camera name");
    EXPECT_EQ(Str(s->get_value_as_string(true)), "a fairly long camera name");
    EXPECT_EQ(Str(s->get_value_as_string(false)), "cam one");
    EXPECT_EQ(s->get_value_as_float(), 0.0f);
}

TEST_F(PropReadout, CommandTellsWhetherItIsStillRunning)
{
    map->SetCommandAutoComplete("AcquisitionStart", false);
    pylon_prop* c = Published("AcquisitionStart");
    EXPECT_EQ(Str(c->get_value_as_string(true)), "0");
    EXPECT_EQ(c->get_value_as_float(), 0.0f);
    GenApi::CCommandPtr(map->GetNode("AcquisitionStart"))->Execute(true);
    EXPECT_EQ(Str(c->get_value_as_string(true)), "1");
    EXPECT_EQ(c->get_value_as_float(), 1.0f);
    map->CompleteCommand("AcquisitionStart");
    EXPECT_EQ(Str(c->get_value_as_string(true)), "0");
}

TEST_F(PropReadout, UnreadableFeaturesAndRegistersGiveNothing)
{
    pylon_prop* wo = Make("WriteOnly", "MiscControls");
    EXPECT_EQ(wo->get_value_as_string(true), nullptr);
    EXPECT_EQ(wo->get_value_as_string(false), nullptr);
    EXPECT_EQ(wo->get_value_as_float(), -1.0f);

    pylon_prop* reg = Make("RawRegister", "MiscControls");
    EXPECT_EQ(reg->get_value_as_string(true), nullptr);
    EXPECT_EQ(reg->get_value_as_float(), -1.0f);

    pylon_prop* skipped = Make("Unavailable");
    EXPECT_EQ(skipped->get_value_as_string(true), nullptr);
    EXPECT_EQ(skipped->get_value_as_float(), 0.0f);
}

TEST_F(PropReadout, HeldTextIsCutTo63Characters)
{
    pylon_prop* s = Make("DeviceUserID", "MiscControls");
    *s->currentVal.sval = std::string(100, 'x');
    EXPECT_EQ(Str(s->get_value_as_string(false)), std::string(63, 'x'));
}

TEST_F(PropReadout, OriginalValueIsWrittenBackOnlyForIntegers)
{
    MakeLocation({{"WIDTH", "320"}});
    pylon_prop* i = Make("Width", "AOIControls");
    i->first = false;
    i->d_fct.ival->set_value(500);
    i->d_fct.ival->reset_new_val();
    EXPECT_FALSE(i->set_orig_value());  // 320 restored at start-up goes to the camera
    EXPECT_EQ(map->GetIntegerUnchecked("Width"), 320);
    EXPECT_EQ(i->d_fct.ival->value(), 320);

    pylon_prop* b = Published("ReverseX");
    b->d_fct.ival->set_value(1);
    EXPECT_TRUE(b->set_orig_value());
    EXPECT_EQ(map->GetIntegerUnchecked("ReverseX"), 0);
    EXPECT_TRUE(Published("GainStep")->set_orig_value());
}

TEST_F(PropReadout, PrintShowsTheStateOfIntegersOnly)
{
    pylon_prop* i = Published("Width");
    pylon_prop* g = Published("Gain");
    testing::internal::CaptureStderr();
    i->print();
    g->print();
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_THAT(out, HasSubstr("pylon: Width  type:1 access:4 first:1  is_changed:0  changed:0 value:640 new_value:640"));
    EXPECT_THAT(out, HasSubstr("pylon: Gain not set"));
}

} // namespace
