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
  </Category>
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
