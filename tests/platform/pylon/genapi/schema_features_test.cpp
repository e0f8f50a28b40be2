// Parts of the GenICam schema that real cameras' descriptions use: entry names per
// enumeration, skipped and legacy parts, lengths from other nodes, chunk ports.
#include <gmock/gmock.h>

#include <GenICam/GCException.h>

#include "genapi_test_util.h"

using namespace GenApi;
using namespace genapi_test;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

TEST(Schema, EntryNamesBelongToTheirEnumeration) {
    // "Off" in two enumerations, and an entry named like a command.
    auto map = Load(R"(
<Enumeration Name="GainAuto"><EnumEntry Name="Off"><Value>0</Value></EnumEntry>
  <EnumEntry Name="Once"><Value>1</Value></EnumEntry><Value>1</Value></Enumeration>
<Enumeration Name="ExposureAuto"><EnumEntry Name="Off"><Value>0</Value></EnumEntry>
  <EnumEntry Name="Continuous"><Value>2</Value></EnumEntry></Enumeration>
<Enumeration Name="TriggerSelector"><EnumEntry Name="AcquisitionStart"><Value>0</Value></EnumEntry></Enumeration>
<Command Name="AcquisitionStart"><Value>0</Value><CommandValue>1</CommandValue></Command>
)",
                    "<pFeature>GainAuto</pFeature><pFeature>ExposureAuto</pFeature>");
    CEnumerationPtr gain = map->GetNode("GainAuto");
    CEnumerationPtr exposure = map->GetNode("ExposureAuto");
    EXPECT_EQ(gain->ToString(), "Once");
    EXPECT_EQ(exposure->ToString(), "Off");
    gain->FromString("Off");
    EXPECT_EQ(gain->GetIntValue(), 0);
    EXPECT_EQ(CNodePtr(gain->GetEntryByName("Off"))->GetName(), "EnumEntry_GainAuto_Off");
    EXPECT_EQ(CNodePtr(exposure->GetEntryByName("Off"))->GetName(), "EnumEntry_ExposureAuto_Off");
    EXPECT_TRUE(CCommandPtr(map->GetNode("AcquisitionStart")).IsValid());
}

TEST(Schema, UnknownPartsAreSkippedWithOneWarningPerKind) {
    auto map = Load(R"(
<Integer Name="Width"><Value>8</Value><Maximum>3</Maximum><Maximum>4</Maximum></Integer>
<Integer Name="Height"><Value>6</Value><Maximum>3</Maximum></Integer>
<Intger Name="Typo"/>
<Extension><Anything Name="x"/></Extension>
<ConfRom Name="Rom"><Address>0</Address></ConfRom>
<Integer Name="Gain"><pIsImplemented>Rom</pIsImplemented><Value>1</Value></Integer>
)",
                    "<pFeature>Width</pFeature>");
    EXPECT_EQ(CIntegerPtr(map->GetNode("Width"))->GetValue(), 8);
    EXPECT_EQ(CIntegerPtr(map->GetNode("Height"))->GetValue(), 6);
    EXPECT_EQ(map->GetNode("Typo"), nullptr);
    // A legacy node stands in as not implemented, and so is what depends on it.
    EXPECT_EQ(map->GetNode("Rom")->GetAccessMode(), NI);
    EXPECT_EQ(map->GetNode("Gain")->GetAccessMode(), NI);
    const auto& warnings = map->GetLoadWarnings();
    ASSERT_EQ(warnings.size(), 3u);
    EXPECT_EQ(warnings[0], "test.xml:5: unknown element <Maximum> in Integer 'Width' skipped");
    EXPECT_EQ(warnings[1], "test.xml:7: node 'Typo': unknown node type <Intger> skipped");
    EXPECT_EQ(warnings[2], "test.xml:9: node 'Rom': node type <ConfRom> is published as not implemented");
}

TEST(Schema, AccessModeLettersAndLengthFromAnotherNode) {
    auto map = Load(R"(
<Port Name="Device"/>
<Integer Name="BufferLength"><Value>4</Value></Integer>
<Register Name="Buffer"><Address>0x100</Address><pLength>BufferLength</pLength><AccessMode>RW</AccessMode>
  <pPort>Device</pPort></Register>
<IntReg Name="Status"><Address>0x200</Address><Length>4</Length><AccessMode>R</AccessMode><pPort>Device</pPort>
  <Endianess>BigEndian</Endianess></IntReg>
)",
                    "<pFeature>Buffer</pFeature><pFeature>Status</pFeature>");
    EXPECT_EQ(map->GetNode("Status")->GetAccessMode(), RO);
    CRegisterPtr buffer = map->GetNode("Buffer");
    EXPECT_EQ(buffer->GetLength(), 4);
    EXPECT_EQ(CValuePtr(buffer)->ToString(), "0x00000000");
    map->SetIntegerUnchecked("BufferLength", 2);
    EXPECT_EQ(buffer->GetLength(), 2);
    const uint8_t bytes[2] = {0xab, 0xcd};
    buffer->Set(bytes, 2);
    EXPECT_EQ(CValuePtr(buffer)->ToString(), "0xabcd");
    EXPECT_THROW(buffer->Set(bytes, 3), GenICam::OutOfRangeException);
    // An empty buffer is a buffer; a negative length is the camera's fault, named.
    map->SetIntegerUnchecked("BufferLength", 0);
    EXPECT_EQ(CValuePtr(buffer)->ToString(), "0x");
    map->SetIntegerUnchecked("BufferLength", -1);
    EXPECT_THAT(DescriptionOf<GenICam::OutOfRangeException>([&] { buffer->GetLength(); }),
                HasSubstr("length -1 from 'BufferLength' is outside 0 .. 1048576"));
}

TEST(Schema, NodesOnAChunkPortAreNotAvailable) {
    auto map = Load(R"(
<Port Name="ChunkPort"><ChunkID>c91613db</ChunkID></Port>
<IntReg Name="ChunkBits"><Address>0</Address><Length>4</Length><AccessMode>RO</AccessMode><pPort>ChunkPort</pPort></IntReg>
<IntSwissKnife Name="ChunkField"><pVariable Name="V">ChunkBits</pVariable><pVariable Name="N">Zero</pVariable>
  <Formula>V / N</Formula></IntSwissKnife>
<Integer Name="Zero"><Value>0</Value></Integer>
<Integer Name="ChunkValue"><pValue>ChunkField</pValue></Integer>
)",
                    "<pFeature>ChunkValue</pFeature>");
    EXPECT_EQ(map->GetNode("ChunkBits")->GetAccessMode(), NA);
    // Without chunk data the formula has no value: not available, never evaluated.
    EXPECT_EQ(map->GetNode("ChunkField")->GetAccessMode(), NA);
    EXPECT_FALSE(IsReadable(map->GetNode("ChunkValue")));
}

} // namespace
