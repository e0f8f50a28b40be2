// The checks a client write passes before it reaches a property, on a location built
// by hand with the property groups that a camera set-up publishes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <mirva/d_cam_param.h>
#include <mirva/eq_fct.h>

#include "write_check.h"

namespace {

using mirva::ClientValue;
using mirva::camserver::absent_feature;
using mirva::camserver::check_property_name;
using mirva::camserver::check_write;
using ::testing::AllOf;
using ::testing::HasSubstr;

class Location : public EqFct {
public:
    int fct_code() override { return 812; }
};

// A location with its own limited properties, one status property and a few features
// whose sub-properties hold what the camera reported.
class WriteCheck : public ::testing::Test {
protected:
    WriteCheck() {
        own<D_cam_param_int>("FORMAT.OUT output format", 0, 2);
        own<D_cam_param_int>("START acquisition start", 0, 1);
        own<D_cam_param_int>("ACQ.TRIGGER.SEL trigger source", 0, 2);
        own<D_cam_param_int>("FRAME.TRIGGER.SEL trigger source", -1, -1);  // the camera offers none
        own<D_cam_param_int>("FORMAT.OUT.TRUNCATE bit shift", -32, 31);
        own<D_cam_param_int>("TRIGGER.GATE trigger gate", 0, 1);
        props_.push_back(std::make_unique<D_int>("TCP.PORT port", &loc_));
        props_.push_back(std::make_unique<D_int>("SERIAL serial", &loc_));
        props_.push_back(std::make_unique<D_int>("FRAME.COUNTER frames", &loc_, mirva::not_persisted));
        props_.push_back(std::make_unique<D_string>("CONF.FILE file name", &loc_));
        set_up_camera();
        loc_.publish_properties();
    }

    template <class P, class... A>
    P* own(const char* text, A... a) {
        auto p = std::make_unique<P>(text, a..., &loc_);
        P* raw = p.get();
        props_.push_back(std::move(p));
        return raw;
    }
    template <class P, class... A>
    P* feature(const std::string& text, A... a) {
        auto p = std::make_unique<P>(text.c_str(), a..., &loc_);
        P* raw = p.get();
        loc_.add_property(raw, 2);
        features_.push_back(std::move(p));
        return raw;
    }
    void subs(const std::string& base, int kind, int access) {
        feature<D_cam_param_int_const>(base + ".TYPE type")->set_value(kind);
        feature<D_cam_param_int_const>(base + ".ACCESS access")->set_value(access);
    }
    void set_up_camera() {
        feature<D_cam_param_int>("EXPOSURETIMERAW exposure", 35, 999985);
        subs("EXPOSURETIMERAW", 1, 1);
        feature<D_cam_param_int_const>("EXPOSURETIMERAW.INC increment")->set_value(5);

        feature<D_cam_param_float>("GAMMA gamma", 0.25f, 4.0f);
        subs("GAMMA", 2, 1);
        feature<D_cam_param_float_const>("GAMMA.INC increment")->set_value(0.25f);

        feature<D_cam_param_text>("DEVICEUSERID user name");
        subs("DEVICEUSERID", 5, 1);
        auto* egu = feature<D_ustr>("DEVICEUSERID.EGU sizes");
        egu->set_f1(0);
        egu->set_f2(15);

        feature<D_cam_param_text>("PIXELFORMAT pixel format");
        subs("PIXELFORMAT", 3, 1);
        feature<D_cam_param_text_const>("PIXELFORMAT.SL list")->set_value("Mono8|0;Mono12|1");

        feature<D_cam_param_int>("SENSORWIDTH sensor width", 0, 4096);
        subs("SENSORWIDTH", 1, 0);
    }
    void remove_camera() {
        for (auto& p : features_)
            loc_.rem_property(p.get());
        features_.clear();
    }

    mirva::camserver::WriteVerdict write(const std::string& name, ClientValue v) { return check_write(loc_, name, v); }

    Location loc_;
    std::vector<std::unique_ptr<D_fct>> props_;
    std::vector<std::unique_ptr<D_fct>> features_;
};

TEST_F(WriteCheck, OwnPropertiesRefuseValuesOutsideTheirRange) {
    EXPECT_TRUE(write("FORMAT.OUT", int64_t{2}).ok());
    EXPECT_EQ(write("FORMAT.OUT", int64_t{3}).status, 400);
    EXPECT_THAT(write("FORMAT.OUT", int64_t{-1}).message, AllOf(HasSubstr("-1"), HasSubstr("0..2")));
    EXPECT_TRUE(write("START", true).ok());
    EXPECT_EQ(write("START", int64_t{2}).status, 400);
    EXPECT_EQ(write("START", std::string("5")).status, 400);  // numeric text counts as the number
    EXPECT_TRUE(write("TCP.PORT", int64_t{65535}).ok());
    EXPECT_THAT(write("TCP.PORT", int64_t{65536}).message, HasSubstr("0..65535"));
    EXPECT_EQ(write("SERIAL", int64_t{-1}).status, 400);
    EXPECT_TRUE(write("SERIAL", int64_t{21000901}).ok());
}

// Parameters whose limits the location sets from what the camera offers (its trigger
// sources): a value outside them would stop acquisition, so it is refused naming them.
TEST_F(WriteCheck, OwnParametersRefuseValuesOutsideTheLimitsTheyShow) {
    EXPECT_TRUE(write("ACQ.TRIGGER.SEL", int64_t{2}).ok());
    auto v = write("ACQ.TRIGGER.SEL", int64_t{99});
    EXPECT_EQ(v.status, 400);
    EXPECT_THAT(v.message, AllOf(HasSubstr("ACQ.TRIGGER.SEL"), HasSubstr("99"), HasSubstr("0..2")));
    EXPECT_EQ(write("ACQ.TRIGGER.SEL", std::string("-7")).status, 400);
    EXPECT_THAT(write("FORMAT.OUT.TRUNCATE", int64_t{99}).message, HasSubstr("-32..31"));
    EXPECT_TRUE(write("FORMAT.OUT.TRUNCATE", int64_t{-32}).ok());
    EXPECT_THAT(write("TRIGGER.GATE", int64_t{5}).message, AllOf(HasSubstr("TRIGGER.GATE"), HasSubstr("0..1")));
    EXPECT_TRUE(write("TRIGGER.GATE", int64_t{1}).ok());
    // Limits that are no range say nothing: the write goes to the property.
    EXPECT_TRUE(write("FRAME.TRIGGER.SEL", int64_t{1}).ok());
}

TEST_F(WriteCheck, StatusPropertiesAndReadOnlyFeaturesAre403) {
    EXPECT_EQ(write("FRAME.COUNTER", int64_t{5}).status, 403);
    auto v = write("SENSORWIDTH", int64_t{100});
    EXPECT_EQ(v.status, 403);
    EXPECT_THAT(v.message, HasSubstr("SENSORWIDTH.ACCESS 0"));
}

TEST_F(WriteCheck, FileNamesAndNulCharactersAreRefused) {
    EXPECT_TRUE(write("CONF.FILE", std::string("good_name")).ok());
    EXPECT_THAT(write("CONF.FILE", std::string("sub/x")).message, HasSubstr("\"/\""));
    EXPECT_THAT(write("CONF.FILE", std::string("..x")).message, HasSubstr("\"..\""));
    EXPECT_THAT(write("CONF.FILE", std::string("a\tb")).message, HasSubstr("control character 9"));
    // The feature file "<location>_<CONF.FILE>" must be a name the file system takes (255 bytes):
    // a failed save takes the location off line.
    EXPECT_TRUE(write("CONF.FILE", std::string(200, 'f')).ok());
    auto too_long = write("CONF.FILE", std::string(300, 'f'));
    EXPECT_EQ(too_long.status, 400);
    EXPECT_THAT(too_long.message, AllOf(HasSubstr("300"), HasSubstr("255")));
    auto nul = write("CONF.FILE", std::string("x\0y", 3));
    EXPECT_EQ(nul.status, 400);
    EXPECT_THAT(nul.message, HasSubstr("NUL"));
    EXPECT_EQ(write("DEVICEUSERID", std::string("a\0b", 3)).status, 400);
    EXPECT_EQ(write(std::string("START\0", 6), int64_t{1}).status, 400);
    EXPECT_TRUE(check_property_name(std::string("START\0", 6)));
    EXPECT_FALSE(check_property_name("START"));
    // The registry does not take a name with a NUL or a blank for START either.
    EXPECT_FALSE(loc_.with_property(std::string("START\0", 6), [](D_fct&) {}));
    EXPECT_FALSE(loc_.with_property("START x", [](D_fct&) {}));
}

TEST_F(WriteCheck, NumbersOffTheIncrementAreRefusedAndOutOfLimitsClamped) {
    auto off = write("EXPOSURETIMERAW", int64_t{3501});
    EXPECT_EQ(off.status, 400);
    EXPECT_THAT(off.message, AllOf(HasSubstr("3501"), HasSubstr("increment 5"), HasSubstr("3500 and 3505")));
    auto on = write("EXPOSURETIMERAW", int64_t{3500});
    EXPECT_TRUE(on.ok());
    EXPECT_EQ(on.message, "");
    auto low = write("EXPOSURETIMERAW", int64_t{1});
    EXPECT_TRUE(low.ok());
    EXPECT_THAT(low.message, AllOf(HasSubstr("minimum 35"), HasSubstr("clamped to 35")));
    auto high = write("EXPOSURETIMERAW", 5e6);
    EXPECT_TRUE(high.ok());
    EXPECT_THAT(high.message, HasSubstr("clamped to 999985"));

    EXPECT_TRUE(write("GAMMA", 1.5).ok());
    EXPECT_THAT(write("GAMMA", 1.6).message, AllOf(HasSubstr("increment 0.25"), HasSubstr("1.5 and 1.75")));
    EXPECT_THAT(write("GAMMA", 9.0).message, HasSubstr("clamped to 4"));
}

TEST_F(WriteCheck, TextsLongerThanTheFeatureAndUnknownEntriesAreRefused) {
    EXPECT_TRUE(write("DEVICEUSERID", std::string(15, 'u')).ok());
    auto longer = write("DEVICEUSERID", std::string(300, 'u'));
    EXPECT_EQ(longer.status, 400);
    EXPECT_THAT(longer.message, AllOf(HasSubstr("300"), HasSubstr("maximum length 15")));
    EXPECT_TRUE(write("PIXELFORMAT", std::string("Mono12")).ok());
    auto bad = write("PIXELFORMAT", std::string("Mono16"));
    EXPECT_EQ(bad.status, 400);
    EXPECT_THAT(bad.message, AllOf(HasSubstr("Mono16"), HasSubstr("Mono8, Mono12")));
}

TEST_F(WriteCheck, FeaturesOfTheAbsentCameraAre503AndTyposNot) {
    EXPECT_FALSE(absent_feature(loc_, "NOSUCHFEATURE"));
    remove_camera();
    auto absent = absent_feature(loc_, "EXPOSURETIMERAW");
    ASSERT_TRUE(absent);
    EXPECT_EQ(absent->status, 503);
    EXPECT_THAT(absent->message, AllOf(HasSubstr("off line"), HasSubstr("return with the camera")));
    EXPECT_TRUE(absent_feature(loc_, "PIXELFORMAT.SL"));
    EXPECT_FALSE(absent_feature(loc_, "EXPOSURETIMERA"));
    EXPECT_FALSE(absent_feature(loc_, "START"));
    // A camera set up again with other features: the old names are forgotten.
    feature<D_cam_param_int>("GAINRAW gain", 0, 100);
    EXPECT_FALSE(absent_feature(loc_, "EXPOSURETIMERAW"));
}

} // namespace
