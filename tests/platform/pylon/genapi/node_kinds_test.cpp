// Each node kind read from a description: values, limits, texts and the interfaces offered.
#include <gtest/gtest.h>

#include <cstring>

#include "genapi_test_util.h"

using namespace GenApi;
using genapi_test::Load;

namespace {

const char* const kNodes = R"(
<Category Name="AOI" NameSpace="Standard">
  <DisplayName>AOI Controls</DisplayName>
  <pFeature>Width</pFeature>
  <pFeature>Gain</pFeature>
</Category>
<Integer Name="Width" NameSpace="Standard">
  <ToolTip>Width of the image</ToolTip>
  <Description>Width of the region of interest</Description>
  <DisplayName>Width</DisplayName>
  <Visibility>Beginner</Visibility>
  <Streamable>Yes</Streamable>
  <Value>640</Value><Min>16</Min><Max>1280</Max><Inc>4</Inc>
  <Unit>px</Unit>
</Integer>
<Integer Name="Address" NameSpace="Custom"><Value>0x1F</Value><Representation>HexNumber</Representation></Integer>
<Float Name="Gain">
  <Visibility>Expert</Visibility>
  <Value>1.5</Value><Min>0</Min><Max>24</Max><Unit>dB</Unit>
  <DisplayNotation>Fixed</DisplayNotation><DisplayPrecision>2</DisplayPrecision>
</Float>
<Float Name="Ratio"><Value>0.1</Value></Float>
<Enumeration Name="PixelFormat" NameSpace="Standard">
  <EnumEntry Name="EnumEntry_PixelFormat_Mono8"><DisplayName>Mono 8</DisplayName><Value>17301505</Value></EnumEntry>
  <EnumEntry Name="EnumEntry_PixelFormat_Mono12"><Value>17825797</Value><NumericValue>12</NumericValue></EnumEntry>
  <EnumEntry Name="EnumEntry_PixelFormat_Odd"><Value>3</Value><Symbolic>Special</Symbolic><IsSelfClearing>Yes</IsSelfClearing></EnumEntry>
  <Value>17825797</Value>
</Enumeration>
<Boolean Name="ReverseX"><Value>5</Value><OnValue>5</OnValue><OffValue>7</OffValue></Boolean>
<String Name="DeviceUserID"><Value>cam one</Value><MaxLength>16</MaxLength></String>
<Command Name="TriggerSoftware"><CommandValue>1</CommandValue></Command>
<Register Name="Lut"><Address>0x4000</Address><Length>4</Length><pPort>Device</pPort></Register>
<Port Name="Device"/>
)";

TEST(NodeKinds, IntegerValueLimitsAndTexts) {
    auto map = Load(kNodes, "<pFeature>AOI</pFeature>");
    CIntegerPtr width = map->GetNode("Width");
    ASSERT_TRUE(width.IsValid());
    EXPECT_EQ(width->GetValue(), 640);
    EXPECT_EQ(width->GetMin(), 16);
    EXPECT_EQ(width->GetMax(), 1280);
    EXPECT_EQ(width->GetInc(), 4);
    EXPECT_EQ(width->GetUnit(), "px");
    width->SetValue(1024);
    EXPECT_EQ(width->ToString(), "1024");
    width->FromString("0x100");
    EXPECT_EQ(width->GetValue(), 256);

    CNodePtr node = map->GetNode("Width");
    EXPECT_EQ(node->GetName(), "Width");
    EXPECT_EQ(node->GetName(true), "Std::Width");
    EXPECT_EQ(node->GetNameSpace(), Standard);
    EXPECT_EQ(node->GetDescription(), "Width of the region of interest");
    EXPECT_EQ(node->GetToolTip(), "Width of the image");
    EXPECT_TRUE(node->IsStreamable());
    EXPECT_EQ(node->GetPrincipalInterfaceType(), intfIInteger);
    EXPECT_EQ(node->GetNodeMap(), map.get());
    EXPECT_EQ(node->GetAccessMode(), RW);

    CIntegerPtr address = map->GetNode("Address");
    EXPECT_EQ(address->GetValue(), 31);
    EXPECT_EQ(address->ToString(), "0x1f");
    EXPECT_EQ(CNodePtr(map->GetNode("Address"))->GetNameSpace(), Custom);
    EXPECT_EQ(map->GetDeviceName(), "TestCam");
}

TEST(NodeKinds, FloatRoundTripsThroughText) {
    auto map = Load(kNodes);
    CFloatPtr gain = map->GetNode("Gain");
    ASSERT_TRUE(gain.IsValid());
    EXPECT_DOUBLE_EQ(gain->GetValue(), 1.5);
    EXPECT_EQ(gain->GetMax(), 24);
    EXPECT_FALSE(gain->HasInc());
    EXPECT_EQ(gain->GetDisplayNotation(), fnFixed);
    EXPECT_EQ(gain->GetDisplayPrecision(), 2);
    EXPECT_EQ(CNodePtr(map->GetNode("Gain"))->GetVisibility(), Expert);

    CFloatPtr ratio = map->GetNode("Ratio");
    EXPECT_EQ(ratio->ToString(), "0.1");
    for (double v : {1.0 / 3.0, 123456.789, 1e-9, -2.5e10}) {
        ratio->SetValue(v);
        const gcstring text = ratio->ToString();
        ratio->FromString(text);
        EXPECT_EQ(ratio->GetValue(), v) << text;
    }
}

TEST(NodeKinds, EnumerationEntriesAndSymbolics) {
    auto map = Load(kNodes);
    CEnumerationPtr format = map->GetNode("PixelFormat");
    ASSERT_TRUE(format.IsValid());
    EXPECT_EQ(format->ToString(), "Mono12");
    EXPECT_EQ(format->GetIntValue(), 17825797);

    NodeList_t entries;
    format->GetEntries(entries);
    ASSERT_EQ(entries.size(), 3u);
    CEnumEntryPtr first = entries[0];
    EXPECT_EQ(first->GetSymbolic(), "Mono8");
    EXPECT_EQ(CNodePtr(entries[0])->GetDisplayName(), "Mono 8");
    EXPECT_EQ(CNodePtr(entries[0])->GetName(), "EnumEntry_PixelFormat_Mono8");
    EXPECT_EQ(CEnumEntryPtr(entries[2])->GetSymbolic(), "Special");
    EXPECT_TRUE(CEnumEntryPtr(entries[2])->IsSelfClearing());
    EXPECT_EQ(CEnumEntryPtr(entries[1])->GetNumericValue(), 12);

    StringList_t symbolics;
    format->GetSymbolics(symbolics);
    EXPECT_EQ(symbolics, (StringList_t{"Mono8", "Mono12", "Special"}));

    format->FromString("Mono8");
    EXPECT_EQ(format->GetCurrentEntry()->GetSymbolic(), "Mono8");
    format->SetIntValue(3);
    EXPECT_EQ(format->ToString(), "Special");
    *format = "Mono12";
    EXPECT_EQ(format->GetIntValue(), 17825797);
    EXPECT_EQ(format->GetEntryByName("Nope"), nullptr);
    EXPECT_EQ(format->GetEntry(17301505)->GetSymbolic(), "Mono8");
    // Entries are nodes of the map too.
    EXPECT_NE(map->GetNode("EnumEntry_PixelFormat_Mono12"), nullptr);
}

TEST(NodeKinds, BooleanUsesOnAndOffValues) {
    auto map = Load(kNodes);
    CBooleanPtr reverse = map->GetNode("ReverseX");
    EXPECT_TRUE(reverse->GetValue());
    reverse->SetValue(false);
    EXPECT_EQ(map->GetIntegerUnchecked("ReverseX"), 0);
    EXPECT_EQ(reverse->ToString(), "0");
    for (const char* text : {"true", "1", "TRUE"}) {
        reverse->SetValue(false);
        reverse->FromString(text);
        EXPECT_TRUE(reverse->GetValue()) << text;
    }
    reverse->FromString("false");
    EXPECT_FALSE((*reverse)());
}

TEST(NodeKinds, StringAndCommandAndRegister) {
    auto map = Load(kNodes);
    CStringPtr id = map->GetNode("DeviceUserID");
    EXPECT_EQ(id->GetValue(), "cam one");
    EXPECT_EQ(id->GetMaxLength(), 16);
    id->FromString("second");
    EXPECT_EQ(id->ToString(), "second");

    CCommandPtr trigger = map->GetNode("TriggerSoftware");
    EXPECT_TRUE(trigger->IsDone());
    trigger->Execute();
    EXPECT_TRUE(trigger->IsDone());

    CRegisterPtr lut = map->GetNode("Lut");
    ASSERT_TRUE(lut.IsValid());
    EXPECT_EQ(lut->GetAddress(), 0x4000);
    EXPECT_EQ(lut->GetLength(), 4);
    const uint8_t in[4] = {1, 2, 0xab, 0xff};
    lut->Set(in, 4);
    uint8_t out[4] = {};
    lut->Get(out, 4);
    EXPECT_EQ(std::memcmp(in, out, 4), 0);
    EXPECT_EQ(lut->ToString(), "0x0102abff");
    lut->FromString("0x00000001");
    lut->Get(out, 4);
    EXPECT_EQ(out[3], 1);
}

TEST(NodeKinds, CategoriesWalkInDescriptionOrderAndMarkFeatures) {
    auto map = Load(kNodes, "<pFeature>AOI</pFeature><pFeature>PixelFormat</pFeature>");
    CCategoryPtr root = map->GetNode("Root");
    ASSERT_TRUE(root.IsValid());
    FeatureList_t features;
    root->GetFeatures(features);
    ASSERT_EQ(features.size(), 2u);
    EXPECT_EQ(features[0]->GetNode()->GetName(), "AOI");
    EXPECT_EQ(features[1]->GetNode()->GetName(), "PixelFormat");

    CCategoryPtr aoi = map->GetNode("AOI");
    EXPECT_EQ(aoi->ToString(), "AOI Controls");
    EXPECT_TRUE(IsReadable(aoi));
    EXPECT_FALSE(IsWritable(aoi));
    aoi->GetFeatures(features);
    ASSERT_EQ(features.size(), 2u);
    EXPECT_EQ(features[0]->GetNode()->GetName(), "Width");
    EXPECT_EQ(features[1]->GetNode()->GetName(), "Gain");

    EXPECT_TRUE(map->GetNode("Width")->IsFeature());
    EXPECT_TRUE(map->GetNode("AOI")->IsFeature());
    EXPECT_FALSE(map->GetNode("Address")->IsFeature());
    EXPECT_FALSE(map->GetNode("EnumEntry_PixelFormat_Mono8")->IsFeature());
}

TEST(NodeKinds, PointersCastOrStayEmpty) {
    auto map = Load(kNodes);
    CFloatPtr not_a_float = map->GetNode("Width");
    EXPECT_FALSE(not_a_float.IsValid());
    EXPECT_FALSE(IsReadable(not_a_float));
    EXPECT_TRUE(not_a_float == nullptr);
    EXPECT_EQ(genapi_test::DescriptionOf<GenICam::LogicalErrorException>([&] { not_a_float->GetValue(); }),
              "NULL pointer dereferenced");
    CNodePtr missing = map->GetNode("NoSuchNode");
    EXPECT_FALSE(missing.IsValid());

    CIntegerPtr width = map->GetNode("Width");
    CValuePtr value = width;
    CNodePtr node(value);
    EXPECT_EQ(node->GetName(), "Width");
    EXPECT_EQ(value->ToString(), "640");
    NodeList_t nodes;
    CNodeMapPtr node_map(map.get());
    ASSERT_TRUE(node_map.IsValid());
    node_map->GetNodes(nodes);
    EXPECT_EQ(nodes.size(), 15u); // 12 nodes + 3 entries
    CCategoryPtr root(CValuePtr(map->GetNode("Root")).get());
    EXPECT_TRUE(root.IsValid());
}

} // namespace
