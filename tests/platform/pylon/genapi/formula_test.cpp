// SwissKnife formulas: operators, precedence, functions, variables, and limits that follow
// other features through pMin/pMax.
#include <gtest/gtest.h>

#include <cmath>

#include "genapi_test_util.h"

using namespace GenApi;
using genapi_test::Load;

namespace {

std::string XmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : std::string(1, c);
    return out;
}

// An IntSwissKnife and a SwissKnife over X = 7, Y = -3, F = 2.5 computing `formula`.
std::unique_ptr<NodeMap> WithFormula(const std::string& text) {
    const std::string formula = XmlEscaped(text);
    return Load(R"(
<Integer Name="X"><Value>7</Value></Integer>
<Integer Name="Y"><Value>-3</Value></Integer>
<Float Name="F"><Value>2.5</Value></Float>
<IntSwissKnife Name="I">
  <pVariable Name="X">X</pVariable><pVariable Name="Y">Y</pVariable><pVariable Name="F">F</pVariable>
  <Constant Name="C">100</Constant><Expression Name="TWOX">X*2</Expression>
  <Formula>)" + formula + R"(</Formula>
</IntSwissKnife>
<SwissKnife Name="S">
  <pVariable Name="X">X</pVariable><pVariable Name="Y">Y</pVariable><pVariable Name="F">F</pVariable>
  <Constant Name="C">100</Constant><Expression Name="TWOX">X*2</Expression>
  <Formula>)" + formula + R"(</Formula>
</SwissKnife>)");
}

int64_t IntOf(const std::string& formula) {
    auto map = WithFormula(formula);
    return CIntegerPtr(map->GetNode("I"))->GetValue();
}

double FloatOf(const std::string& formula) {
    auto map = WithFormula(formula);
    return CFloatPtr(map->GetNode("S"))->GetValue();
}

TEST(Formula, IntegerOperatorsAndPrecedence) {
    const std::pair<const char*, int64_t> cases[] = {
        {"X + Y * 2", 1},      {"(X + Y) * 2", 8},   {"X / 2", 3},          {"X % 4", 3},
        {"2 ** 10", 1024},     {"-2 ** 2", -4},      {"X & 3", 3},          {"X | 8", 15},
        {"X ^ 1", 6},          {"~0", -1},           {"1 << 4", 16},        {"256 >> 4", 16},
        {"X = 7", 1},          {"X <> 7", 0},        {"Y < 0", 1},          {"X >= 8", 0},
        {"X > 1 && Y > 1", 0}, {"X > 1 || Y > 1", 1}, {"!0", 1},            {"X > 5 ? C : 0", 100},
        {"Y < 0 ? X < 0 ? 1 : 2 : 3", 2},            {"TWOX + 1", 15},      {"0x10 + 1", 17},
        {"ABS(Y)", 3},         {"NEG(X)", -7},       {"SGN(Y)", -1},        {"X + 2 * 3 - 4 / 2", 11},
        {"1 + 2 = 3", 1},      {"5 & 3 = 1", 0},     {"3 ** 4", 81},        {"(-1) ** 65", -1},
    };
    for (const auto& [formula, expected] : cases)
        EXPECT_EQ(IntOf(formula), expected) << formula;
}

TEST(Formula, FloatArithmeticAndFunctions) {
    const std::pair<const char*, double> cases[] = {
        {"X / 2", 3.5},       {"F * 2", 5.0},       {"SQRT(16)", 4.0},     {"TRUNC(-2.7)", -2.0},
        {"FLOOR(-2.5)", -3.0}, {"CEIL(2.1)", 3.0},  {"ROUND(2.5)", 3.0},   {"ROUND(3.14159, 2)", 3.14},
        {"PI()", M_PI},       {"E()", M_E},         {"2 * PI", 2 * M_PI},  {"1.5e2 + 0.5", 150.5},
        {"ABS(-F)", 2.5},     {"F > 2 ? 1.25 : 0", 1.25},
    };
    for (const auto& [formula, expected] : cases)
        EXPECT_NEAR(FloatOf(formula), expected, 1e-12) << formula;
    // An IntSwissKnife keeps the float variable's fraction until the end.
    EXPECT_EQ(IntOf("F * 2"), 5);
}

TEST(Formula, DivisionByZeroIsARuntimeErrorNamingTheNode) {
    auto map = WithFormula("X / (Y + 3)");
    CIntegerPtr node = map->GetNode("I");
    const std::string text = genapi_test::DescriptionOf<GenICam::RuntimeException>([&] { node->GetValue(); });
    EXPECT_NE(text.find("'I'"), std::string::npos) << text;
    EXPECT_NE(text.find("division by zero"), std::string::npos) << text;
}

TEST(Formula, LimitsFollowOtherFeatures) {
    auto map = Load(R"(
<Integer Name="WidthMax"><Value>1280</Value><ImposedAccessMode>RO</ImposedAccessMode></Integer>
<Integer Name="OffsetX"><Value>0</Value><Min>0</Min><pMax>OffsetXMax</pMax><Inc>2</Inc></Integer>
<Integer Name="Width"><Value>1280</Value><Min>16</Min><pMax>WidthLimit</pMax><Inc>2</Inc></Integer>
<IntSwissKnife Name="WidthLimit">
  <pVariable Name="WMAX">WidthMax</pVariable><pVariable Name="OX">OffsetX</pVariable>
  <Formula>WMAX - OX</Formula>
</IntSwissKnife>
<IntSwissKnife Name="OffsetXMax">
  <pVariable Name="WMAX">WidthMax</pVariable><pVariable Name="W">Width</pVariable>
  <Formula>WMAX - W</Formula>
</IntSwissKnife>)");
    CIntegerPtr width = map->GetNode("Width");
    CIntegerPtr offset = map->GetNode("OffsetX");
    EXPECT_EQ(width->GetMax(), 1280);
    EXPECT_EQ(offset->GetMax(), 0);
    width->SetValue(640);
    EXPECT_EQ(offset->GetMax(), 640);
    offset->SetValue(100);
    EXPECT_EQ(width->GetMax(), 1180);
    EXPECT_THROW(width->SetValue(1200), GenICam::OutOfRangeException);
    // The camera changes the sensor limit: both limits follow.
    map->SetIntegerUnchecked("WidthMax", 1000);
    EXPECT_EQ(width->GetMax(), 900);
    EXPECT_EQ(offset->GetMax(), 360);
    EXPECT_EQ(CIntegerPtr(map->GetNode("WidthMax"))->GetValue(), 1000);
}

} // namespace
