// Access modes computed at run time, and per-selector values (pIndex / ValueIndexed).
#include <gtest/gtest.h>

#include <algorithm>

#include "genapi_test_util.h"

using namespace GenApi;
using genapi_test::Load;

namespace {

TEST(Access, ImplementedAvailableLockedAndImposed) {
    auto map = Load(R"(
<Integer Name="Implemented"><Value>1</Value></Integer>
<Integer Name="Available"><Value>1</Value></Integer>
<Integer Name="TLParamsLocked"><Value>0</Value></Integer>
<Integer Name="Width"><pIsImplemented>Implemented</pIsImplemented><pIsAvailable>Available</pIsAvailable>
  <pIsLocked>TLParamsLocked</pIsLocked><Value>64</Value></Integer>
<Integer Name="ReadOnly"><ImposedAccessMode>RO</ImposedAccessMode><pIsLocked>TLParamsLocked</pIsLocked><Value>1</Value></Integer>
<Integer Name="WriteOnly"><ImposedAccessMode>WO</ImposedAccessMode><Value>1</Value></Integer>
<Integer Name="Front"><pValue>ReadOnly</pValue></Integer>
<Command Name="Start"><ImposedAccessMode>WO</ImposedAccessMode><pIsLocked>TLParamsLocked</pIsLocked></Command>
)");
    CIntegerPtr width = map->GetNode("Width");
    EXPECT_EQ(width->GetAccessMode(), RW);
    map->SetIntegerUnchecked("TLParamsLocked", 1);
    EXPECT_EQ(width->GetAccessMode(), RO);
    EXPECT_EQ(CNodePtr(map->GetNode("ReadOnly"))->GetAccessMode(), RO);      // locking keeps RO
    EXPECT_EQ(CNodePtr(map->GetNode("Start"))->GetAccessMode(), NA);         // WO locked: nothing left
    map->SetIntegerUnchecked("Available", 0);
    EXPECT_EQ(width->GetAccessMode(), NA);
    map->SetIntegerUnchecked("Implemented", 0);
    EXPECT_EQ(width->GetAccessMode(), NI);
    map->SetIntegerUnchecked("Implemented", 1);
    map->SetIntegerUnchecked("Available", 1);
    map->SetIntegerUnchecked("TLParamsLocked", 0);
    EXPECT_EQ(width->GetAccessMode(), RW);

    EXPECT_EQ(CNodePtr(map->GetNode("WriteOnly"))->GetAccessMode(), WO);
    // A node reading its value from a read-only node is read-only itself.
    EXPECT_EQ(CNodePtr(map->GetNode("Front"))->GetAccessMode(), RO);
    EXPECT_EQ(CIntegerPtr(map->GetNode("Front"))->GetValue(), 1);
}

TEST(Access, EnumEntryAvailabilityFollowsItsNode) {
    auto map = Load(R"(
<Integer Name="ColorSensor"><Value>0</Value></Integer>
<Enumeration Name="PixelFormat">
  <EnumEntry Name="EnumEntry_PixelFormat_Mono8"><Value>1</Value></EnumEntry>
  <EnumEntry Name="EnumEntry_PixelFormat_BayerRG8"><pIsAvailable>ColorSensor</pIsAvailable><Value>2</Value></EnumEntry>
  <Value>1</Value>
</Enumeration>)");
    CEnumerationPtr format = map->GetNode("PixelFormat");
    StringList_t symbolics;
    format->GetSymbolics(symbolics);
    EXPECT_EQ(symbolics, StringList_t{"Mono8"});
    EXPECT_EQ(genapi_test::DescriptionOf<GenICam::AccessException>([&] { format->FromString("BayerRG8"); }),
              "Entry 'BayerRG8' of node 'PixelFormat' is not available");
    map->SetIntegerUnchecked("ColorSensor", 1);
    format->FromString("BayerRG8");
    EXPECT_EQ(format->ToString(), "BayerRG8");
}

const char* const kTrigger = R"(
<Enumeration Name="TriggerSelector">
  <EnumEntry Name="EnumEntry_TriggerSelector_AcquisitionStart"><Value>0</Value></EnumEntry>
  <EnumEntry Name="EnumEntry_TriggerSelector_FrameStart"><Value>1</Value></EnumEntry>
  <EnumEntry Name="EnumEntry_TriggerSelector_LineStart"><Value>2</Value></EnumEntry>
  <Value>1</Value>
  <pSelected>TriggerMode</pSelected><pSelected>TriggerSource</pSelected><pSelected>TriggerDelay</pSelected>
</Enumeration>
<Enumeration Name="TriggerMode">
  <EnumEntry Name="EnumEntry_TriggerMode_Off"><Value>0</Value></EnumEntry>
  <EnumEntry Name="EnumEntry_TriggerMode_On"><Value>1</Value></EnumEntry>
  <pIndex>TriggerSelector</pIndex>
  <ValueIndexed Index="0">0</ValueIndexed>
  <ValueIndexed Index="1">1</ValueIndexed>
  <ValueDefault>0</ValueDefault>
</Enumeration>
<Enumeration Name="TriggerSource">
  <EnumEntry Name="EnumEntry_TriggerSource_Software"><Value>0</Value></EnumEntry>
  <EnumEntry Name="EnumEntry_TriggerSource_Line1"><Value>1</Value></EnumEntry>
  <pIndex>TriggerSelector</pIndex>
  <ValueDefault>0</ValueDefault>
</Enumeration>
<Float Name="TriggerDelay"><pIndex>TriggerSelector</pIndex><ValueIndexed Index="1">2.5</ValueIndexed>
  <ValueDefault>0</ValueDefault><Min>0</Min><Max>1000</Max></Float>
)";

TEST(Selector, IndexedValuesFollowTheSelector) {
    auto map = Load(kTrigger);
    CEnumerationPtr selector = map->GetNode("TriggerSelector");
    CEnumerationPtr mode = map->GetNode("TriggerMode");
    CEnumerationPtr source = map->GetNode("TriggerSource");
    CFloatPtr delay = map->GetNode("TriggerDelay");

    EXPECT_EQ(mode->ToString(), "On");
    EXPECT_DOUBLE_EQ(delay->GetValue(), 2.5);
    selector->FromString("AcquisitionStart");
    EXPECT_EQ(mode->ToString(), "Off");
    EXPECT_DOUBLE_EQ(delay->GetValue(), 0);
    source->FromString("Line1");
    mode->FromString("On");
    selector->FromString("LineStart"); // never written: the default
    EXPECT_EQ(mode->ToString(), "Off");
    EXPECT_EQ(source->ToString(), "Software");
    selector->FromString("AcquisitionStart");
    EXPECT_EQ(mode->ToString(), "On");
    EXPECT_EQ(source->ToString(), "Line1");

    // The camera side reads any selector entry's value without switching the selector.
    EXPECT_EQ(map->GetStringUnchecked("TriggerMode", 1), "On");
    EXPECT_EQ(map->GetStringUnchecked("TriggerSource", 1), "Software");
    map->SetStringUnchecked("TriggerSource", "Line1", 2);
    EXPECT_EQ(map->GetIntegerUnchecked("TriggerSource", 2), 1);
    EXPECT_EQ(selector->ToString(), "AcquisitionStart");
    EXPECT_THROW(map->GetIntegerUnchecked("TriggerSelector", 0), GenICam::LogicalErrorException);
}

TEST(Selector, SelectedFeaturesAreToldWhenTheSelectorChanges) {
    auto map = Load(kTrigger);
    std::vector<std::string> changed;
    for (const char* name : {"TriggerMode", "TriggerSource", "TriggerDelay"})
        map->GetNode(name)->RegisterCallback([&](INode* node) { changed.push_back(node->GetName()); });
    CEnumerationPtr(map->GetNode("TriggerSelector"))->FromString("LineStart");
    std::sort(changed.begin(), changed.end());
    EXPECT_EQ(changed, (std::vector<std::string>{"TriggerDelay", "TriggerMode", "TriggerSource"}));

    NodeList_t children;
    map->GetNode("TriggerMode")->GetChildren(children);
    EXPECT_NE(std::find(children.begin(), children.end(), map->GetNode("TriggerSelector")), children.end());
}

} // namespace
