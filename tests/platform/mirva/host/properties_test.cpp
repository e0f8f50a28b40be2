// Client-write rules, snapshots and state-file texts of the property classes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>

#include <mirva/d_cam_param.h>
#include <mirva/d_fct.h>

#include "test_support.h"

using mirva::ClientValue;
using mirva::WriteResult;
using testing::AllOf;
using testing::HasSubstr;

namespace {

class PropertiesTest : public testing::Test {
protected:
    mirva::test::PlainLocation loc;
};

TEST_F(PropertiesTest, NameIsFirstWordAndRestIsDescription) {
    D_int p("  EXPOSURE.TIME   exposure time in us", &loc);
    EXPECT_EQ(p.name(), "EXPOSURE.TIME");
    EXPECT_EQ(p.description(), "exposure time in us");
    D_int bare("BARE", &loc);
    EXPECT_EQ(bare.name(), "BARE");
    EXPECT_EQ(bare.description(), "");
}

TEST_F(PropertiesTest, CamParamIntWriteRecordsPendingValueAndLeavesValue) {
    D_cam_param_int p("GAIN gain", 0, 100, &loc);
    p.mirva::D_value<int>::set_value(10);
    p.reset_new_val();

    EXPECT_EQ(p.client_write(ClientValue{int64_t{42}}).code, WriteResult::ok);
    EXPECT_EQ(p.value(), 10);
    EXPECT_EQ(p.new_value(), 42);
    EXPECT_TRUE(p.changed());
    EXPECT_TRUE(p.is_changed());

    // Out of the limits: recorded as pending, the back-end clamps it.
    EXPECT_EQ(p.client_write(ClientValue{int64_t{1000}}).code, WriteResult::ok);
    EXPECT_EQ(p.new_value(), 1000);
    // Whole-number doubles, booleans and numeric texts are numbers too.
    EXPECT_EQ(p.client_write(ClientValue{7.0}).code, WriteResult::ok);
    EXPECT_EQ(p.new_value(), 7);
    EXPECT_EQ(p.client_write(ClientValue{true}).code, WriteResult::ok);
    EXPECT_EQ(p.new_value(), 1);
    EXPECT_EQ(p.client_write(ClientValue{std::string(" -3 ")}).code, WriteResult::ok);
    EXPECT_EQ(p.new_value(), -3);

    // The back-end's setter confirms the pending value and clears the flag.
    p.set_value(-3);
    EXPECT_FALSE(p.changed());
    EXPECT_FALSE(p.is_changed());
}

TEST_F(PropertiesTest, CamParamIntRefusesValuesThatAreNotA32BitInteger) {
    D_cam_param_int p("GAIN gain", 0, 100, &loc);
    p.mirva::D_value<int>::set_value(5);
    p.reset_new_val();
    struct Case {
        ClientValue value;
        const char* shown;
        const char* reason;
    } cases[] = {
        {std::string("abc"), "\"abc\"", "a number is needed"},
        {std::vector<double>{1, 2, 3}, "a spectrum of 3 points", "not a spectrum"},
        {std::numeric_limits<double>::quiet_NaN(), "nan", "NaN"},
        {std::numeric_limits<double>::infinity(), "inf", "infinite"},
        {1.5, "1.5", "integral"},
        {int64_t{2147483648LL}, "2147483648", "32-bit"},
        {int64_t{-2147483649LL}, "-2147483649", "32-bit"},
        {ClientValue{}, "nothing", "no value"},
    };
    for (const auto& c : cases) {
        WriteResult r = p.client_write(c.value);
        EXPECT_EQ(r.code, WriteResult::bad_value) << c.shown;
        EXPECT_THAT(r.message, AllOf(HasSubstr("GAIN"), HasSubstr(c.shown), HasSubstr(c.reason)));
    }
    EXPECT_EQ(p.new_value(), 5);
    EXPECT_FALSE(p.changed());
    // The extremes of the range are fine.
    EXPECT_EQ(p.client_write(ClientValue{int64_t{2147483647LL}}).code, WriteResult::ok);
    EXPECT_EQ(p.client_write(ClientValue{int64_t{-2147483648LL}}).code, WriteResult::ok);
}

// A camera feature wider than 32 bits: the 32-bit members hold the value saturated, the whole
// value a client writes waits beside them, and a location that keeps pending writes keeps it whole.
TEST_F(PropertiesTest, CamParamIntOfAWideFeatureKeepsTheWholeValue) {
    D_cam_param_int p("MAC address", 0, 2147483647, &loc);
    EXPECT_FALSE(p.snapshot().whole_value);  // not before the back-end says so
    p.set_whole_limits(0, 281474976710655);
    p.set_whole_value(0x003053123456);
    p.mirva::D_value<int>::set_value(D_cam_param_int::saturate(0x003053123456));
    p.reset_new_val();
    EXPECT_FALSE(p.pending_write());

    EXPECT_EQ(p.client_write(ClientValue{int64_t{0x003053654321}}).code, WriteResult::ok);
    EXPECT_EQ(p.whole_pending(), 0x003053654321);
    EXPECT_EQ(p.new_value(), 2147483647);
    EXPECT_TRUE(p.changed());
    EXPECT_EQ(p.pending_write(), ClientValue{int64_t{0x003053654321}});
    mirva::PropertySnapshot s = p.snapshot();
    EXPECT_EQ(s.whole_value, 0x003053123456);
    EXPECT_EQ(s.whole_pending, 0x003053654321);
    EXPECT_EQ(s.max, 281474976710655.0);

    // Only the write that was applied is cleared; a newer one stays.
    EXPECT_EQ(p.client_write(ClientValue{std::string("-5")}).code, WriteResult::ok);
    p.clear_whole_pending(0x003053654321);
    EXPECT_EQ(p.whole_pending(), -5);
    EXPECT_EQ(p.new_value(), -5);
    p.clear_whole_pending(-5);
    EXPECT_FALSE(p.whole_pending());
    EXPECT_EQ(p.client_write(ClientValue{std::string("12ab")}).code, WriteResult::bad_value);
    EXPECT_EQ(p.client_write(ClientValue{1e19}).code, WriteResult::bad_value);
    EXPECT_EQ(p.stored_text(), "2147483647");  // the state file keeps its format
}

TEST_F(PropertiesTest, CamParamFloatAcceptsFiniteNumbersInFloatRange) {
    D_cam_param_float p("EXPOSURE exposure", 10.0f, 1000.0f, &loc);
    EXPECT_EQ(p.client_write(ClientValue{2.5}).code, WriteResult::ok);
    EXPECT_FLOAT_EQ(p.new_value(), 2.5f);
    EXPECT_FLOAT_EQ(p.value(), 0.0f);
    EXPECT_TRUE(p.changed());
    EXPECT_EQ(p.client_write(ClientValue{int64_t{5000}}).code, WriteResult::ok);
    EXPECT_FLOAT_EQ(p.new_value(), 5000.0f);

    WriteResult big = p.client_write(ClientValue{1e39});
    EXPECT_EQ(big.code, WriteResult::bad_value);
    EXPECT_THAT(big.message, HasSubstr("32-bit float"));
    EXPECT_EQ(p.client_write(ClientValue{-std::numeric_limits<double>::infinity()}).code, WriteResult::bad_value);
    EXPECT_EQ(p.client_write(ClientValue{std::string("1.0x")}).code, WriteResult::bad_value);
    EXPECT_FLOAT_EQ(p.new_value(), 5000.0f);
}

TEST_F(PropertiesTest, TextWritesReplaceTheTextUpToTheLimit) {
    D_cam_param_text p("PIXELFORMAT pixel format", &loc);
    p.set_value("Mono8");
    EXPECT_EQ(p.client_write(ClientValue{std::string("Mono16")}).code, WriteResult::ok);
    EXPECT_EQ(p.value(), "Mono16");

    std::string too_long(D_string::max_length() + 1, 'x');
    WriteResult r = p.client_write(ClientValue{too_long});
    EXPECT_EQ(r.code, WriteResult::bad_value);
    EXPECT_THAT(r.message, AllOf(HasSubstr("PIXELFORMAT"), HasSubstr(std::to_string(too_long.size())),
                                 HasSubstr(std::to_string(D_string::max_length()))));
    EXPECT_EQ(p.value(), "Mono16");
    EXPECT_EQ(p.client_write(ClientValue{std::string(D_string::max_length(), 'y')}).code, WriteResult::ok);

    WriteResult num = p.client_write(ClientValue{int64_t{3}});
    EXPECT_EQ(num.code, WriteResult::bad_value);
    EXPECT_THAT(num.message, HasSubstr("a text is needed"));
}

TEST_F(PropertiesTest, ConstVariantsAndSpectraRefuseClientWrites) {
    D_cam_param_int_const ci("A.TYPE type", &loc);
    D_cam_param_float_const cf("A.INC increment", &loc);
    D_cam_param_double_const cd("A.D double", &loc);
    D_cam_param_text_const ct("A.DESC description", &loc);
    D_spectrum sp("A.SPECT spectrum", 4, &loc, false);
    D_ustr limits("A.EGU limits and unit", &loc);
    ci.set_value(3);
    ct.set_value("text");
    for (D_fct* p : std::initializer_list<D_fct*>{&ci, &cf, &cd, &ct, &sp, &limits}) {
        WriteResult r = p->client_write(ClientValue{int64_t{1}});
        EXPECT_EQ(r.code, WriteResult::read_only) << p->name();
        EXPECT_THAT(r.message, AllOf(HasSubstr(p->name()), HasSubstr("read-only")));
        EXPECT_FALSE(p->snapshot().writable) << p->name();
        EXPECT_FALSE(p->stored_text().has_value()) << p->name();
    }
    EXPECT_EQ(ci.value(), 3);
    EXPECT_EQ(ct.value(), "text");
    EXPECT_EQ(ct.client_write(ClientValue{std::string("other")}).code, WriteResult::read_only);
}

TEST_F(PropertiesTest, PlainPropertiesTakeClientValuesDirectly) {
    D_int i("COUNT count", &loc);
    D_double d("RATIO ratio", &loc);
    D_float f("SCALE scale", &loc);
    D_string s("NOTE note", &loc);
    D_gen_sts g("ONLINE status", &loc);

    EXPECT_EQ(i.client_write(ClientValue{int64_t{12}}).code, WriteResult::ok);
    EXPECT_EQ(i.value(), 12);
    EXPECT_EQ(i.client_write(ClientValue{0.5}).code, WriteResult::bad_value);
    EXPECT_EQ(i.value(), 12);
    EXPECT_EQ(d.client_write(ClientValue{0.125}).code, WriteResult::ok);
    EXPECT_DOUBLE_EQ(d.value(), 0.125);
    EXPECT_EQ(f.client_write(ClientValue{1.5}).code, WriteResult::ok);
    EXPECT_FLOAT_EQ(f.value(), 1.5f);
    EXPECT_EQ(s.client_write(ClientValue{std::string("hello")}).code, WriteResult::ok);
    EXPECT_EQ(s.value(), "hello");

    EXPECT_EQ(g.client_write(ClientValue{int64_t{1}}).code, WriteResult::ok);
    EXPECT_EQ(g.online(), 1);
    EXPECT_EQ(g.client_write(ClientValue{false}).code, WriteResult::ok);
    EXPECT_EQ(g.online(), 0);
    WriteResult two = g.client_write(ClientValue{int64_t{2}});
    EXPECT_EQ(two.code, WriteResult::bad_value);
    EXPECT_THAT(two.message, AllOf(HasSubstr("ONLINE"), HasSubstr("2")));
    EXPECT_EQ(g.online(), 0);
}

TEST_F(PropertiesTest, SnapshotShowsPendingStateLimitsAndGroup) {
    D_cam_param_int p("GAIN gain in dB", -5, 50, &loc);
    loc.add_property(&p, 2);
    p.mirva::D_value<int>::set_value(4);
    ASSERT_EQ(p.client_write(ClientValue{int64_t{9}}).code, WriteResult::ok);
    p.set_valid(true);
    mirva::PropertySnapshot s = p.snapshot();
    EXPECT_EQ(s.name, "GAIN");
    EXPECT_EQ(s.description, "gain in dB");
    EXPECT_EQ(s.class_name, "D_cam_param_int");
    EXPECT_EQ(std::get<int64_t>(s.value), 4);
    ASSERT_TRUE(s.pending.has_value());
    EXPECT_EQ(std::get<int64_t>(*s.pending), 9);
    EXPECT_EQ(s.changed, std::optional<bool>(true));
    EXPECT_EQ(s.min, std::optional<double>(-5));
    EXPECT_EQ(s.max, std::optional<double>(50));
    EXPECT_TRUE(s.writable);
    EXPECT_TRUE(s.valid);
    EXPECT_EQ(s.group, 2);
    EXPECT_GT(s.timestamp, 0);
}

TEST_F(PropertiesTest, SpectrumKeepsTheNewestPointsOldestFirst) {
    D_spectrum sp("TIMES cycle times", 3, &loc, false);
    for (float v : {1.f, 2.f, 3.f, 4.f, 5.f}) sp.fill(v);
    EXPECT_THAT(sp.points(), testing::ElementsAre(3.f, 4.f, 5.f));
    auto s = sp.snapshot();
    EXPECT_THAT(std::get<std::vector<double>>(s.value), testing::ElementsAre(3.0, 4.0, 5.0));
}

TEST_F(PropertiesTest, ParameterHelpersResetAndRecordTheOriginalValue) {
    D_cam_param_int p("WIDTH.X width", 0, 4096, &loc);
    p.mirva::D_value<int>::set_value(640);
    p.new_init();
    EXPECT_EQ(p.orig_value(), 640);
    EXPECT_EQ(p.new_value(), 640);
    ASSERT_EQ(p.client_write(ClientValue{int64_t{320}}).code, WriteResult::ok);
    p.reset_new_val();
    EXPECT_EQ(p.new_value(), 640);
    EXPECT_FALSE(p.changed());
    EXPECT_FALSE(p.is_changed());
}

TEST_F(PropertiesTest, StoredTextsRoundTrip) {
    D_cam_param_float f("EXPO exposure", &loc);
    D_double d("RATIO ratio", &loc);
    D_string s("NOTE note", &loc);
    f.mirva::D_value<float>::set_value(0.1f);
    d.set_value(1.0 / 3.0);
    s.set_value("a b  c");

    D_cam_param_float f2("EXPO exposure", &loc);
    D_double d2("RATIO ratio", &loc);
    D_string s2("NOTE note", &loc);
    ASSERT_TRUE(f2.restore_text(*f.stored_text()));
    ASSERT_TRUE(d2.restore_text(*d.stored_text()));
    ASSERT_TRUE(s2.restore_text(*s.stored_text()));
    EXPECT_EQ(f2.value(), 0.1f);
    EXPECT_EQ(d2.value(), 1.0 / 3.0);
    EXPECT_EQ(s2.value(), "a b  c");
    // A restored parameter is confirmed and marked valid for the back-end to apply.
    EXPECT_EQ(f2.new_value(), 0.1f);
    EXPECT_FALSE(f2.changed());
    EXPECT_TRUE(f2.get_valid());

    D_int i("COUNT count", &loc);
    EXPECT_FALSE(i.restore_text("12abc"));
    EXPECT_FALSE(i.restore_text("1e12"));
    EXPECT_FALSE(i.restore_text(""));
}

TEST_F(PropertiesTest, SetValueStampsTimeAndReportsChangesWhenAsked) {
    D_double quiet("QUIET value", &loc);
    D_double loud("LOUD value", &loc);
    loud.dmsg_supported();
    time_t before = std::time(nullptr);
    testing::internal::CaptureStderr();
    quiet.set_value(2.0);
    loud.set_value(3.5);
    loud.set_value(3.5);  // no change, no message
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_GE(loud.time_stamp(), before);
    EXPECT_THAT(err, HasSubstr("LOUD changed from 0 to 3.5"));
    EXPECT_THAT(err, testing::Not(HasSubstr("QUIET")));
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);

    quiet.set_value(7.0, 1234);
    EXPECT_EQ(quiet.time_stamp(), 1234);
}

} // namespace
