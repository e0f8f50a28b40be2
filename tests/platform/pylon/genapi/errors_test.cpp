// Every refusal names what failed: verified writes (access, range, increment, entry names,
// texts) and descriptions with errors (file, line, problem).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "genapi_test_util.h"

using namespace GenApi;
using genapi_test::DescriptionOf;
using genapi_test::Load;

namespace {

const char* const kNodes = R"(
<Integer Name="Width"><Value>64</Value><Min>16</Min><Max>1280</Max><Inc>4</Inc></Integer>
<Integer Name="SensorWidth"><Value>1280</Value><ImposedAccessMode>RO</ImposedAccessMode></Integer>
<Float Name="ExposureTime"><Value>100</Value><Min>10</Min><Max>1000</Max><Inc>0.5</Inc></Float>
<Enumeration Name="GainAuto">
  <EnumEntry Name="EnumEntry_GainAuto_Off"><Value>0</Value></EnumEntry>
  <EnumEntry Name="EnumEntry_GainAuto_Once"><Value>1</Value></EnumEntry>
</Enumeration>
<Boolean Name="ReverseX"><Value>0</Value></Boolean>
<String Name="DeviceUserID"><Value></Value><MaxLength>4</MaxLength></String>
<Integer Name="Hidden"><pIsAvailable>Zero</pIsAvailable><Value>1</Value></Integer>
<Integer Name="Zero"><Value>0</Value></Integer>
)";

TEST(VerifiedWrites, RefusalsNameFeatureValueAndLimits) {
    auto map = Load(kNodes);
    CIntegerPtr width = map->GetNode("Width");
    CFloatPtr exposure = map->GetNode("ExposureTime");

    EXPECT_EQ(DescriptionOf<GenICam::AccessException>([&] { CIntegerPtr(map->GetNode("SensorWidth"))->SetValue(5); }),
              "Node 'SensorWidth' is not writable");
    EXPECT_EQ(DescriptionOf<GenICam::AccessException>([&] { CIntegerPtr(map->GetNode("Hidden"))->GetValue(); }),
              "Node 'Hidden' is not readable");
    EXPECT_EQ(DescriptionOf<GenICam::OutOfRangeException>([&] { width->SetValue(2000); }),
              "Value 2000 of node 'Width' is out of range: minimum 16, maximum 1280");
    EXPECT_EQ(DescriptionOf<GenICam::OutOfRangeException>([&] { exposure->SetValue(5.5); }),
              "Value 5.5 of node 'ExposureTime' is out of range: minimum 10, maximum 1000");
    EXPECT_EQ(DescriptionOf<GenICam::InvalidArgumentException>([&] { width->SetValue(18); }),
              "Value 18 of node 'Width' does not fit the increment 4 from the minimum 16");
    EXPECT_EQ(DescriptionOf<GenICam::InvalidArgumentException>([&] { exposure->SetValue(10.25); }),
              "Value 10.25 of node 'ExposureTime' does not fit the increment 0.5 from the minimum 10");
    EXPECT_EQ(DescriptionOf<GenICam::InvalidArgumentException>([&] { map->GetNode("GainAuto"); 
                  CEnumerationPtr(map->GetNode("GainAuto"))->FromString("Continuous"); }),
              "Node 'GainAuto' has no entry 'Continuous'");
    EXPECT_EQ(DescriptionOf<GenICam::OutOfRangeException>([&] { CStringPtr(map->GetNode("DeviceUserID"))->SetValue("abcde"); }),
              "Value 'abcde' of node 'DeviceUserID' is longer than the maximum length 4");
    EXPECT_EQ(width->GetValue(), 64);
    EXPECT_DOUBLE_EQ(exposure->GetValue(), 100);

    // Unverified writes skip the checks (the camera's own limits are not ours to judge).
    width->SetValue(18, false);
    EXPECT_EQ(width->GetValue(), 18);
}

TEST(VerifiedWrites, TextsThatAreNoValueNameTheFeature) {
    auto map = Load(kNodes);
    EXPECT_EQ(DescriptionOf<GenICam::InvalidArgumentException>([&] { CValuePtr(map->GetNode("Width"))->FromString("12px"); }),
              "Node 'Width': '12px' is not an integer");
    EXPECT_EQ(DescriptionOf<GenICam::InvalidArgumentException>([&] { CValuePtr(map->GetNode("ExposureTime"))->FromString("fast"); }),
              "Node 'ExposureTime': 'fast' is not a number");
    EXPECT_NE(DescriptionOf<GenICam::InvalidArgumentException>([&] { CValuePtr(map->GetNode("ReverseX"))->FromString("yes"); }),
              "");
}

TEST(Exceptions, WhatCarriesTheKindAndDescriptionStandsAlone) {
    const GenICam::OutOfRangeException e("Value 3 of node 'X' is out of range", "file.cpp", 12);
    EXPECT_STREQ(e.GetDescription(), "Value 3 of node 'X' is out of range");
    EXPECT_STREQ(e.what(), "OutOfRangeException: Value 3 of node 'X' is out of range");
    EXPECT_STREQ(e.GetSourceFileName(), "file.cpp");
    EXPECT_EQ(e.GetSourceLine(), 12u);
    const auto made = RUNTIME_EXCEPTION("Node '%s' failed with %d", "Gain", 7);
    EXPECT_STREQ(made.GetDescription(), "Node 'Gain' failed with 7");
    EXPECT_STREQ(AccessModeName(RW), "RW");
    EXPECT_STREQ(AccessModeName(NI), "NI");
}

// Loads a description whose nodes are `body` (Root first on line 3) and returns the error text.
std::string LoadError(const std::string& body, bool with_root = true) {
    const std::string xml = "<?xml version=\"1.0\"?>\n<RegisterDescription ModelName=\"M\">\n" +
                            std::string(with_root ? "<Category Name=\"Root\"><pFeature>Width</pFeature></Category>\n"
                                                  : "<Integer Name=\"Width\"><Value>1</Value></Integer>\n") +
                            body + "\n</RegisterDescription>\n";
    return DescriptionOf<GenICam::RuntimeException>([&] { CNodeMapFactory::LoadFromString(xml, "cam.xml"); });
}

TEST(Loader, ErrorsNameFileLineAndProblem) {
    const std::string width = "<Integer Name=\"Width\"><Value>1</Value></Integer>\n";
    EXPECT_EQ(LoadError(width + "<Integer><Value>1</Value></Integer>"), "cam.xml:5: <Integer> without Name attribute");
    EXPECT_EQ(LoadError(width + "<Integer Name=\"Width\"><Value>2</Value></Integer>"),
              "cam.xml:5: duplicate node name 'Width' (first defined at line 4)");
    EXPECT_EQ(LoadError("<Integer Name=\"Width\">\n<pValue>Missing</pValue></Integer>"),
              "cam.xml:5: node 'Width': <pValue> refers to unknown node 'Missing'");
    EXPECT_EQ(LoadError(width + "<Category Name=\"C\"><pFeature>Nope</pFeature></Category>"),
              "cam.xml:5: node 'C': <pFeature> refers to unknown node 'Nope'");
    EXPECT_EQ(LoadError("<Integer Name=\"Width\">\n<Value>12a</Value></Integer>"),
              "cam.xml:5: node 'Width': bad integer '12a' in <Value>");
    EXPECT_EQ(LoadError(width + "<IntSwissKnife Name=\"K\"><pVariable Name=\"W\">Width</pVariable>\n"
                                "<Formula>W + * 2</Formula></IntSwissKnife>"),
              "cam.xml:6: node 'K': unexpected '*' in formula 'W + * 2'");
    EXPECT_EQ(LoadError(width + "<IntSwissKnife Name=\"K\">\n<Formula>Q + 1</Formula></IntSwissKnife>"),
              "cam.xml:6: node 'K': unknown variable 'Q' in formula 'Q + 1'");
    EXPECT_EQ(LoadError("<Integer Name=\"Width\"><pValue>Other</pValue></Integer>\n"
                        "<Integer Name=\"Other\"><pValue>Width</pValue></Integer>"),
              "cam.xml:4: circular value reference: Width -> Other -> Width");
    EXPECT_EQ(LoadError(width + "<Integer Name=\"Bad\"><Value>1</Value>\n</Integr>"),
              "cam.xml:6: XML error: Start-end tags mismatch");
    EXPECT_EQ(LoadError("", false), "cam.xml:2: no 'Root' category");
    // Standard elements we do not interpret are accepted.
    EXPECT_EQ(LoadError(width + "<Integer Name=\"H\"><Value>1</Value><pInvalidator>Width</pInvalidator>"
                                "<PollingTime>100</PollingTime><Extension><Any/></Extension></Integer>"),
              "");
}

TEST(Loader, FileNamesAppearInErrorsAndMissingFilesAreRefused) {
    const std::string path = ::testing::TempDir() + "genapi_loader_test.xml";
    {
        std::ofstream file(path);
        file << genapi_test::Description("<Integer Name=\"Width\">\n<pMax>Nothing</pMax></Integer>", "");
    }
    const std::string text = DescriptionOf<GenICam::RuntimeException>([&] { CNodeMapFactory::LoadFromFile(path); });
    EXPECT_EQ(text, path + ":5: node 'Width': <pMax> refers to unknown node 'Nothing'");
    std::remove(path.c_str());
    EXPECT_NE(DescriptionOf<GenICam::RuntimeException>([&] { CNodeMapFactory::LoadFromFile(path); }).find(path),
              std::string::npos);
}

} // namespace
