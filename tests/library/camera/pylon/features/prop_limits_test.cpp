// Node limits that the properties' 32-bit integers and single floats cannot hold as they
// are: the limit and write passes must keep such a feature steady and writable.
#include <gtest/gtest.h>

#include <climits>

#include <mirva/d_cam_param.h>

#include "test_support.h"

using namespace feature_test;

namespace {

const char* const kLimitsXml = R"(<?xml version="1.0" encoding="utf-8"?>
<RegisterDescription ModelName="LimitTest" VendorName="MIRVA">
  <Category Name="Root"><pFeature>Misc</pFeature></Category>
  <Category Name="Misc">
    <pFeature>Unbounded</pFeature>
    <pFeature>Wide</pFeature>
    <pFeature>Gain</pFeature>
    <pFeature>Destination</pFeature>
    <pFeature>Pinned</pFeature>
  </Category>
  <Integer Name="Pinned">
    <Description>An offset at full width: 0 is its only value</Description>
    <Value>0</Value>
    <Min>0</Min>
    <Max>0</Max>
    <Inc>2</Inc>
  </Integer>
  <Integer Name="Unbounded">
    <Description>An integer register without limits</Description>
    <Value>5</Value>
  </Integer>
  <Integer Name="Wide">
    <Description>A 64-bit counter</Description>
    <Value>8589934599</Value>
    <Min>-8589934592</Min>
    <Max>1099511627776</Max>
    <Inc>4294967296</Inc>
  </Integer>
  <Integer Name="Destination">
    <Description>An IPv4 address a client sets</Description>
    <Value>0</Value>
    <Min>0</Min>
    <Max>4294967295</Max>
    <Representation>IPV4Address</Representation>
  </Integer>
  <Float Name="Gain">
    <Description>Limits that single floats round outward</Description>
    <Value>1.0</Value>
    <Min>0.7</Min>
    <Max>10.1</Max>
  </Float>
</RegisterDescription>
)";

class PropLimits : public PropFixture {
protected:
    void SetUp() override
    {
        PropFixture::SetUp();
        LoadXml(kLimitsXml);
    }

    // A feature as camera initialisation leaves it: created, then read back.
    pylon_prop* Published(const char* name)
    {
        pylon_prop* f = Make(name, "Misc");
        EXPECT_FALSE(f->update());
        return f;
    }
};

// Limits of one value: a write of another is held to it, not sent to a node that would
// refuse it (and take the location off line with the write still pending).
TEST_F(PropLimits, IntegerWriteIsHeldToANodeThatAllowsOneValue)
{
    pylon_prop* f = Published("Pinned");
    D_cam_param_int* p = f->d_fct.ival;
    ASSERT_EQ(p->get_min(), 0);
    ASSERT_EQ(p->get_max(), 0);
    f->first = false;
    ASSERT_EQ(p->client_write(int64_t{2}).code, mirva::WriteResult::ok);
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(map->GetIntegerUnchecked("Pinned"), 0);
    EXPECT_EQ(p->value(), 0);
    EXPECT_FALSE(f->is_changed());
}

TEST_F(PropLimits, IntegerBeyond32BitsSaturatesInLimitsValueAndIncrement)
{
    pylon_prop* f = Published("Wide");
    D_cam_param_int* p = f->d_fct.ival;
    EXPECT_EQ(p->get_min(), INT_MIN);
    EXPECT_EQ(p->get_max(), INT_MAX);
    EXPECT_EQ(p->value(), INT_MAX);  // 2^33 + 7 shown as the largest value a property holds
    EXPECT_EQ(f->d_fct_inc.ivalc->value(), INT_MAX);
    EXPECT_EQ(f->minVal.ival, INT_MIN);
    EXPECT_EQ(f->maxVal.ival, INT_MAX);
}

// Beside the saturated 32-bit value clients get the node's whole value and limits, and a
// client's whole value reaches the node exactly.
TEST_F(PropLimits, IntegerBeyond32BitsShowsAndTakesItsWholeValue)
{
    pylon_prop* f = Published("Wide");
    D_cam_param_int* p = f->d_fct.ival;
    mirva::PropertySnapshot s = p->snapshot();
    EXPECT_EQ(s.whole_value, 8589934599);
    EXPECT_EQ(s.whole_pending, 8589934599);
    EXPECT_EQ(s.min, -8589934592.0);
    EXPECT_EQ(s.max, 1099511627776.0);
    EXPECT_EQ(std::get<int64_t>(s.value), INT_MAX);
    EXPECT_FALSE(f->is_changed());
    f->set_feature();  // the first pass: the saturated value does not overwrite the whole one
    EXPECT_EQ(map->GetIntegerUnchecked("Wide"), 8589934599);
    EXPECT_TRUE(f->set_feature());  // nothing asked for: nothing written

    ASSERT_EQ(p->client_write(int64_t{4294967296 * 3}).code, mirva::WriteResult::ok);
    EXPECT_EQ(p->snapshot().whole_pending, 4294967296 * 3);
    // The limit pass may take the saturated pending value first: the whole write still waits.
    f->change_limits();
    EXPECT_TRUE(f->is_changed());
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(map->GetIntegerUnchecked("Wide"), 4294967296 * 3);
    EXPECT_EQ(p->snapshot().whole_value, 4294967296 * 3);
    EXPECT_FALSE(p->whole_pending());
    EXPECT_FALSE(f->is_changed());
    EXPECT_EQ(p->value(), INT_MAX);

    // Digits as text arrive exact (a JSON number past 2^53 would not); beyond the node's
    // limits the write is clamped to them, not to the property's 32-bit ones.
    ASSERT_EQ(p->client_write(std::string("-8589934592")).code, mirva::WriteResult::ok);
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(map->GetIntegerUnchecked("Wide"), -8589934592);
    EXPECT_EQ(p->value(), INT_MIN);
    ASSERT_EQ(p->client_write(int64_t{1} << 50).code, mirva::WriteResult::ok);
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(map->GetIntegerUnchecked("Wide"), 1099511627776);
    EXPECT_EQ(p->client_write(1.5).code, mirva::WriteResult::bad_value);
    EXPECT_EQ(p->client_write(std::string("ten")).code, mirva::WriteResult::bad_value);
}

// An IPv4 address from 128.0.0.0 up does not fit the property's signed 32 bits: written as
// its whole number (the server's reading of "192.168.1.5"), it reaches the node exactly.
TEST_F(PropLimits, Ipv4AddressAbove127ReachesTheNodeExactly)
{
    pylon_prop* f = Published("Destination");
    D_cam_param_int* p = f->d_fct.ival;
    ASSERT_EQ(p->client_write(int64_t{3232235781}).code, mirva::WriteResult::ok);
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(map->GetIntegerUnchecked("Destination"), 3232235781);
    EXPECT_EQ(p->snapshot().whole_value, 3232235781);
    ASSERT_EQ(p->client_write(int64_t{4294967295}).code, mirva::WriteResult::ok);
    EXPECT_FALSE(f->set_feature());
    EXPECT_EQ(map->GetIntegerUnchecked("Destination"), 4294967295);
}

// The state file keeps the saturated value: restored, it must not overwrite the camera's
// whole value, while a value inside 32 bits is written as before.
TEST_F(PropLimits, RestoredSaturatedValueLeavesTheWholeValueAlone)
{
    MakeLocation({{"WIDE", "2147483647"}});
    pylon_prop* f = Make("Wide", "Misc");
    f->set_feature();
    EXPECT_EQ(map->GetIntegerUnchecked("Wide"), 8589934599);
    EXPECT_EQ(f->d_fct.ival->snapshot().whole_value, 8589934599);

    RemoveAll();
    MakeLocation({{"WIDE", "0"}});  // on the node's increment of 2^32
    f = Make("Wide", "Misc");
    f->set_feature();
    EXPECT_EQ(map->GetIntegerUnchecked("Wide"), 0);
    EXPECT_EQ(f->d_fct.ival->snapshot().whole_value, 0);
}

// An unbounded node once got the limits [0, -1]: the limit pass clamped the value to -1,
// the write pass sent it, the next limit pass clamped it to 0, and so on for ever.
TEST_F(PropLimits, UnboundedIntegerStaysPutThroughLimitAndWritePasses)
{
    pylon_prop* f = Published("Unbounded");
    D_cam_param_int* p = f->d_fct.ival;
    EXPECT_EQ(p->get_min(), INT_MIN);
    EXPECT_EQ(p->get_max(), INT_MAX);
    for (int pass = 0; pass < 3; ++pass) {
        f->change_limits();
        EXPECT_FALSE(f->is_changed()) << "pass " << pass;
        f->set_feature();
        EXPECT_EQ(map->GetIntegerUnchecked("Unbounded"), 5) << "pass " << pass;
        EXPECT_EQ(p->value(), 5) << "pass " << pass;
    }
}

// Float limits rounded outward let a clamped write fall outside the node's range, which
// the node refuses; the limit pass must keep the inward rounding of construction.
TEST_F(PropLimits, FloatLimitsStayInsideTheNodeRangeAndClampedWritesAreAccepted)
{
    pylon_prop* f = Published("Gain");
    D_cam_param_float* p = f->d_fct.fval;
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_GE(static_cast<double>(p->get_min()), 0.7) << "pass " << pass;
        EXPECT_LE(static_cast<double>(p->get_max()), 10.1) << "pass " << pass;
        EXPECT_GE(static_cast<double>(f->egu_->f1()), 0.7) << "pass " << pass;
        EXPECT_LE(static_cast<double>(f->egu_->f2()), 10.1) << "pass " << pass;
        f->change_limits();
    }

    ASSERT_EQ(p->client_write(0.5).code, mirva::WriteResult::ok);
    EXPECT_NO_THROW(EXPECT_FALSE(f->set_feature()));
    EXPECT_EQ(p->value(), p->get_min());
    EXPECT_GE(map->GetFloatUnchecked("Gain"), 0.7);

    ASSERT_EQ(p->client_write(20.0).code, mirva::WriteResult::ok);
    EXPECT_NO_THROW(EXPECT_FALSE(f->set_feature()));
    EXPECT_EQ(p->value(), p->get_max());
    EXPECT_LE(map->GetFloatUnchecked("Gain"), 10.1);
}

} // namespace
