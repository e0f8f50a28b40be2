// Which nodes become features, and the property group each kind gets.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include <mirva/d_cam_param.h>

#include "test_support.h"

using namespace feature_test;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

class PropModel : public PropFixture {};

TEST_F(PropModel, IntegerGetsItsGroupInCreationOrderWithNodeLimitsAndUnit)
{
    pylon_prop* f = Make("Width", "AOIControls");
    ASSERT_EQ(f->type, PYLON_TYPE_INT);
    EXPECT_EQ(f->node_name, "Width");
    EXPECT_THAT(PropertyNames(), ElementsAre("WIDTH", "WIDTH.TYPE", "WIDTH.ACCESS", "WIDTH.EGU", "WIDTH.INC",
                                             "WIDTH.DESC", "WIDTH.CATEG"));
    for (const char* n : {"WIDTH", "WIDTH.TYPE", "WIDTH.CATEG"})
        EXPECT_EQ(loc->property_group(Prop(n)), 2) << n;

    auto* main = PropAs<D_cam_param_int>("WIDTH");
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main, f->d_fct.ival);
    EXPECT_EQ(main->description(), "Width of the image");
    EXPECT_EQ(main->get_min(), 16);
    EXPECT_EQ(main->get_max(), 1280);
    EXPECT_EQ(f->incVal.ival, 4);
    EXPECT_EQ(PropAs<D_cam_param_int_const>("WIDTH.TYPE")->value(), PYLON_TYPE_INT);
    EXPECT_EQ(PropAs<D_cam_param_int_const>("WIDTH.ACCESS")->value(), 1);
    auto* egu = PropAs<D_ustr>("WIDTH.EGU");
    EXPECT_EQ(egu->f1(), 16.0f);
    EXPECT_EQ(egu->f2(), 1280.0f);
    EXPECT_EQ(egu->str(), "px");
    auto* inc = PropAs<D_cam_param_int_const>("WIDTH.INC");
    EXPECT_EQ(inc->description(), "allowed increment in px");
    EXPECT_EQ(inc->value(), 4);
    EXPECT_EQ(PropAs<D_cam_param_text_const>("WIDTH.DESC")->value(), "Width of the image");
    EXPECT_EQ(PropAs<D_cam_param_text_const>("WIDTH.CATEG")->value(), "AOI Controls");
    EXPECT_EQ(f->acq_restart, 1);
    EXPECT_TRUE(f->first);
    EXPECT_FALSE(f->locally_changed);
    // The property, not the node (640), is the reference for the first write.
    EXPECT_EQ(f->currentVal.ival, 0);
}

TEST_F(PropModel, StoredIntegerValueBecomesCurrentValue)
{
    MakeLocation({{"WIDTH", "320"}});
    pylon_prop* f = Make("Width", "AOIControls");
    EXPECT_EQ(f->currentVal.ival, 320);
    EXPECT_EQ(f->d_fct.ival->orig_value(), 320);
    EXPECT_EQ(f->d_fct.ival->new_value(), 320);
}

TEST_F(PropModel, ReadOnlyIntegerStillGetsAWritableMainPropertyAndAccessZero)
{
    pylon_prop* f = Make("SensorWidth", "MiscControls");
    ASSERT_EQ(f->type, PYLON_TYPE_INT);
    EXPECT_NE(PropAs<D_cam_param_int>("SENSORWIDTH"), nullptr);
    EXPECT_EQ(PropAs<D_cam_param_int_const>("SENSORWIDTH.ACCESS")->value(), 0);
    EXPECT_EQ(f->access, GenApi::RO);
}

TEST_F(PropModel, UnpublishedNodesLeaveNothingAndSaySoOnlyWhenTheySkipByKind)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(Make("TLParamsLocked", "AOIControls")->type, PYLON_TYPE_UNDEF);  // black list
    EXPECT_EQ(Make("Unavailable")->type, PYLON_TYPE_UNDEF);
    EXPECT_EQ(Make("Unimplemented")->type, PYLON_TYPE_UNDEF);
    pylon_prop* empty = Make("NoSuchNode");
    EXPECT_FALSE(empty->implemented);
    EXPECT_EQ(empty->type, PYLON_TYPE_UNDEF);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(props[0]->acq_restart, 0);  // a black-listed node in an acquisition category
    EXPECT_TRUE(props[1]->implemented);
    EXPECT_FALSE(props[1]->available);
    EXPECT_FALSE(props[2]->implemented);

    testing::internal::CaptureStderr();
    EXPECT_EQ(Make("MiscControls")->type, PYLON_TYPE_UNDEF);  // a category is no feature
    EXPECT_EQ(Make("EnumEntry_ExposureAuto_Off")->type, PYLON_TYPE_UNDEF);
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_THAT(out, HasSubstr("pylon: MiscControls UNKNOWN TYPE !!! will be skipped"));
    EXPECT_THAT(out, HasSubstr("pylon: EnumEntry_ExposureAuto_Off UNKNOWN TYPE !!! will be skipped"));
    EXPECT_THAT(PropertyNames(), IsEmpty());
}

TEST_F(PropModel, RegisterIsKeptWithoutProperties)
{
    testing::internal::CaptureStderr();
    pylon_prop* f = Make("RawRegister", "MiscControls");
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                HasSubstr("pylon: RawRegister PYLON_TYPE_REGISTER NOT YET SUPPORTED will be skipped"));
    EXPECT_EQ(f->type, PYLON_TYPE_REGISTER);
    EXPECT_EQ(f->node_name, "RawRegister");
    EXPECT_THAT(PropertyNames(), IsEmpty());
}

TEST_F(PropModel, EnumerationStoresAvailableEntriesWithoutGapsAndListsThem)
{
    pylon_prop* f = Make("ExposureAuto", "MiscControls");
    ASSERT_EQ(f->type, PYLON_TYPE_ENUMER);
    EXPECT_THAT(PropertyNames(), ElementsAre("EXPOSUREAUTO", "EXPOSUREAUTO.NUM", "EXPOSUREAUTO.TYPE",
                                             "EXPOSUREAUTO.ACCESS", "EXPOSUREAUTO.SL", "EXPOSUREAUTO.DESC",
                                             "EXPOSUREAUTO.CATEG"));
    EXPECT_EQ(f->maxVal.ival, 3);
    EXPECT_EQ(*f->defaultVal.sval[0], "Off");
    EXPECT_EQ(*f->defaultVal.sval[1], "Continuous");
    EXPECT_EQ(*f->defaultVal.sval[2], "Single");
    EXPECT_EQ(*f->svaldescr[0], "Switched off");
    EXPECT_EQ(PropAs<D_cam_param_text_const>("EXPOSUREAUTO.SL")->value(), "Off|0;Continuous|1;Single|2");
    auto* num = PropAs<D_cam_param_int>("EXPOSUREAUTO.NUM");
    ASSERT_NE(num, nullptr);
    EXPECT_EQ(num->description(), "selection as a number (0...2)");
    EXPECT_EQ(num->get_min(), 0);
    EXPECT_EQ(num->get_max(), 2);
    // A fresh ".NUM" (0) is a valid index: it wins over the camera's entry (Continuous).
    EXPECT_EQ(PropAs<D_cam_param_text>("EXPOSUREAUTO")->value(), "Off");
    EXPECT_EQ(*f->currentVal.sval, "Off");
}

TEST_F(PropModel, EnumerationNumberRestoredInRangeSelectsItsEntry)
{
    MakeLocation({{"EXPOSUREAUTO.NUM", "2"}});
    pylon_prop* f = Make("ExposureAuto", "MiscControls");
    EXPECT_EQ(PropAs<D_cam_param_text>("EXPOSUREAUTO")->value(), "Single");
    EXPECT_EQ(*f->currentVal.sval, "Single");
}

TEST_F(PropModel, EnumerationNumberOutOfRangeTakesTheCamerasEntry)
{
    MakeLocation({{"EXPOSUREAUTO.NUM", "7"}, {"EXPOSUREAUTO", "Typed"}});
    pylon_prop* f = Make("ExposureAuto", "MiscControls");
    EXPECT_EQ(f->d_fct_inc.ival->value(), 1);  // Continuous
    EXPECT_EQ(f->d_fct_inc.ival->orig_value(), 1);
    EXPECT_EQ(*f->currentVal.sval, "Continuous");
    EXPECT_EQ(PropAs<D_cam_param_text>("EXPOSUREAUTO")->value(), "Typed");  // not written in this branch
}

TEST_F(PropModel, EnumerationKeepsAtMost64EntriesAndSaysSoAt64)
{
    for (int entries : {70, 64, 63}) {
        SCOPED_TRACE(entries);
        LoadXml(EnumerationXml(entries));
        MakeLocation();
        testing::internal::CaptureStderr();
        pylon_prop* f = Make("Big");
        const std::string out = testing::internal::GetCapturedStderr();
        const int stored = std::min(entries, 64);
        EXPECT_EQ(f->maxVal.ival, stored);
        EXPECT_EQ(*f->defaultVal.sval[stored - 1], "E" + std::to_string(stored - 1));
        EXPECT_EQ(PropAs<D_cam_param_int>("BIG.NUM")->get_max(), stored - 1);
        const std::string msg = "Big maximum number of selections:64 exeeded !!!";
        if (entries >= 64) {
            EXPECT_THAT(out, HasSubstr(msg));
            EXPECT_EQ(out.find(msg), out.rfind(msg));
        } else {
            EXPECT_THAT(out, Not(HasSubstr(msg)));
        }
    }
}

TEST_F(PropModel, EnumerationWithoutAvailableEntryIsKeptWithoutProperties)
{
    testing::internal::CaptureStderr();
    pylon_prop* f = Make("NoEntries", "MiscControls");
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                HasSubstr("pylon: NoEntries NO VALUE FOR SELECTION TO WRITE !!! will be skipped"));
    EXPECT_EQ(f->type, PYLON_TYPE_ENUMER);
    EXPECT_EQ(f->maxVal.ival, 0);
    EXPECT_THAT(PropertyNames(), IsEmpty());
    // The passes leave it alone.
    EXPECT_TRUE(f->set_feature());
    EXPECT_FALSE(f->update());
    EXPECT_FALSE(f->is_changed());
    EXPECT_EQ(f->get_value_as_float(), -1.0f);
}

TEST_F(PropModel, TakenMainNameGetsPylonSuffixButSubPropertiesKeepTheBaseName)
{
    D_int taken("WIDTH something else", loc.get());
    testing::internal::CaptureStderr();
    pylon_prop* f = Make("Width", "AOIControls");
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                HasSubstr("pylon: WIDTH WE HAVE TO APPEND PYLON TO GET UNIQUE PROP NAME"));
    EXPECT_EQ(f->d_fct.ival->name(), "WIDTH.PYLON");
    EXPECT_EQ(f->d_fct.ival->description(), "Width of the image");
    EXPECT_EQ(f->type_->name(), "WIDTH.TYPE");
    EXPECT_EQ(f->descr_->name(), "WIDTH.DESC");
    RemoveAll();
}

TEST_F(PropModel, LongTextsAreCut)
{
    pylon_prop* f = Make("LongText", "MiscControls");
    // Main text: 62 characters, name and blank included.
    const std::string main_text = f->d_fct.ival->name() + " " + f->d_fct.ival->description();
    EXPECT_EQ(main_text.size(), 62u);
    EXPECT_EQ(main_text, std::string("LONGTEXT A description far longer than the sixty-two characters a main "
                                     "property text may hold")
                             .substr(0, 62));
    // Sub-property texts: 63 characters.
    const std::string inc_text = f->d_fct_inc.ivalc->name() + " " + f->d_fct_inc.ivalc->description();
    EXPECT_EQ(inc_text.size(), 63u);
    EXPECT_EQ(inc_text.substr(0, 34), "LONGTEXT.INC allowed increment in ");
    EXPECT_EQ(f->egu_->str(), "units-with-a-name-longer-than-any-sub-property-text-may-hold");  // values are not cut
}

TEST_F(PropModel, CategoryTextDecidesAcquisitionRestartExactly)
{
    EXPECT_EQ(Make("Width", "AOIControls")->acq_restart, 1);
    pylon_prop* lower = Make("LowerInt", "LowerCaseControls");
    EXPECT_EQ(lower->acq_restart, 0);
    EXPECT_EQ(lower->category_->value(), "aoi controls");
    EXPECT_EQ(Make("Gain", "MiscControls")->acq_restart, 0);
    pylon_prop* none = Make("OffsetX");
    EXPECT_EQ(none->acq_restart, 0);
    EXPECT_EQ(none->category_->value(), "Category is not readable");
}

TEST_F(PropModel, FloatLimitsNeverFallBelowTheNodeAndMissingIncrementIsZero)
{
    pylon_prop* gain = Make("Gain", "MiscControls");
    ASSERT_EQ(gain->type, PYLON_TYPE_FLOAT);
    EXPECT_GE(static_cast<double>(gain->minVal.fval), 0.1);
    // The smallest float not below the node's minimum.
    EXPECT_LT(static_cast<double>(std::nextafterf(gain->minVal.fval, -1.0f)), 0.1);
    EXPECT_EQ(gain->d_fct.fval->get_min(), gain->minVal.fval);
    EXPECT_EQ(gain->d_fct.fval->get_max(), 10.0f);
    EXPECT_EQ(gain->incVal.fval, 0.0f);
    EXPECT_EQ(gain->d_fct_inc.fvalc->value(), 0.0f);
    EXPECT_EQ(gain->d_fct_inc.fvalc->description(), "allowed increment in dB");
    EXPECT_EQ(gain->egu_->str(), "dB");
    EXPECT_EQ(Make("GainStep")->d_fct_inc.fvalc->value(), 0.5f);
}

TEST_F(PropModel, BooleanStringAndCommandGroups)
{
    pylon_prop* b = Make("ReverseX", "MiscControls");
    ASSERT_EQ(b->type, PYLON_TYPE_BOOL);
    EXPECT_EQ(b->d_fct.ival->get_min(), 0);
    EXPECT_EQ(b->d_fct.ival->get_max(), 1);
    EXPECT_EQ(b->d_fct_inc.ivalc->description(), "allowed increment in boolean");
    EXPECT_EQ(b->d_fct_inc.ivalc->value(), 1);
    EXPECT_EQ(b->egu_->f2(), 1.0f);

    MakeLocation({{"DEVICEUSERID", "restored"}});
    pylon_prop* s = Make("DeviceUserID", "MiscControls");
    ASSERT_EQ(s->type, PYLON_TYPE_STRING);
    EXPECT_EQ(*s->currentVal.sval, "restored");  // the property's text, not the camera's
    EXPECT_EQ(s->maxVal.ival, 16);
    EXPECT_EQ(s->egu_->description(), "f1->min size, f2->max size, str->units");
    EXPECT_EQ(s->egu_->f2(), 16.0f);
    EXPECT_EQ(s->d_fct_inc.svalc->value(), "char");
    EXPECT_EQ(s->d_fct_inc.svalc->name(), "DEVICEUSERID.INC");

    pylon_prop* c = Make("AcquisitionStart", "AOIControls");
    ASSERT_EQ(c->type, PYLON_TYPE_COMMAND);
    EXPECT_EQ(c->d_fct.ival->get_min(), 0);
    EXPECT_EQ(c->d_fct.ival->get_max(), 1);
    EXPECT_EQ(c->d_fct.ival->value(), 0);
    EXPECT_FALSE(c->d_fct.ival->is_changed());
    EXPECT_EQ(c->egu_, nullptr);
    EXPECT_EQ(c->d_fct_inc.ivalc, nullptr);
    EXPECT_NE(Prop("ACQUISITIONSTART.CATEG"), nullptr);
    EXPECT_EQ(Prop("ACQUISITIONSTART.EGU"), nullptr);
}

} // namespace
