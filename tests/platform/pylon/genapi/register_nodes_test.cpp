// Register-backed nodes over a port, and converters: the forms camera descriptions use for
// features that live in device registers.
#include <gtest/gtest.h>

#include <cstring>

#include "genapi_test_util.h"

using namespace GenApi;
using genapi_test::DescriptionOf;
using genapi_test::Load;

namespace {

const char* const kRegisters = R"(
<Port Name="Device"/>
<IntReg Name="WidthReg"><Address>0x100</Address><Length>4</Length><AccessMode>RW</AccessMode>
  <pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>BigEndian</Endianess></IntReg>
<IntReg Name="OffsetReg"><Address>0x200</Address><Length>2</Length><AccessMode>RW</AccessMode>
  <pPort>Device</pPort><Sign>Signed</Sign><Endianess>LittleEndian</Endianess></IntReg>
<MaskedIntReg Name="ReverseXBit"><Address>0x300</Address><Length>4</Length><AccessMode>RW</AccessMode>
  <pPort>Device</pPort><Bit>3</Bit><Endianess>LittleEndian</Endianess></MaskedIntReg>
<MaskedIntReg Name="ModeField"><Address>0x300</Address><Length>4</Length><AccessMode>RW</AccessMode>
  <pPort>Device</pPort><LSB>31</LSB><MSB>24</MSB><Endianess>BigEndian</Endianess></MaskedIntReg>
<FloatReg Name="GainReg"><Address>0x400</Address><Length>4</Length><AccessMode>RW</AccessMode>
  <pPort>Device</pPort><Endianess>BigEndian</Endianess><Unit>dB</Unit></FloatReg>
<StringReg Name="UserName"><Address>0x500</Address><Length>8</Length><AccessMode>RW</AccessMode><pPort>Device</pPort></StringReg>
<IntReg Name="SensorTempReg"><Address>0x600</Address><Length>4</Length><AccessMode>RO</AccessMode><pPort>Device</pPort></IntReg>
<Integer Name="Width"><pValue>WidthReg</pValue><Min>16</Min><Max>4096</Max></Integer>
<Integer Name="TimeBase"><Value>20</Value></Integer>
<Converter Name="ExposureTimeAbs">
  <pVariable Name="BASE">TimeBase</pVariable>
  <FormulaTo>FROM / BASE</FormulaTo><FormulaFrom>TO * BASE</FormulaFrom>
  <pValue>ExposureTimeRaw</pValue><Unit>us</Unit>
</Converter>
<Integer Name="ExposureTimeRaw"><Value>100</Value><Min>1</Min><Max>1000</Max></Integer>
<IntConverter Name="Inverted">
  <FormulaTo>100 - FROM</FormulaTo><FormulaFrom>100 - TO</FormulaFrom>
  <pValue>ExposureTimeRaw</pValue><Slope>Decreasing</Slope>
</IntConverter>
)";

TEST(RegisterNodes, ValuesLiveInPortBytesWithByteOrderAndSign) {
    auto map = Load(kRegisters);
    CIntegerPtr width = map->GetNode("Width");
    width->SetValue(0x0500);
    uint8_t bytes[4] = {};
    CRegisterPtr(map->GetNode("WidthReg"))->Get(bytes, 4);
    EXPECT_EQ(std::memcmp(bytes, "\x00\x00\x05\x00", 4), 0); // big endian
    EXPECT_EQ(CIntegerPtr(map->GetNode("WidthReg"))->GetMax(), 0xFFFFFFFFll);

    CIntegerPtr offset = map->GetNode("OffsetReg");
    offset->SetValue(-2);
    CRegisterPtr(map->GetNode("OffsetReg"))->Get(bytes, 2);
    EXPECT_EQ(bytes[0], 0xFE);
    EXPECT_EQ(bytes[1], 0xFF);
    EXPECT_EQ(offset->GetValue(), -2);
    EXPECT_EQ(offset->GetMin(), -32768);
    EXPECT_THROW(offset->SetValue(40000), GenICam::OutOfRangeException);

    // Two fields of one register do not disturb each other.
    CIntegerPtr bit = map->GetNode("ReverseXBit");
    CIntegerPtr field = map->GetNode("ModeField");
    field->SetValue(0xA5);
    bit->SetValue(1);
    EXPECT_EQ(field->GetValue(), 0xA5);
    EXPECT_EQ(bit->GetValue(), 1);
    EXPECT_EQ(bit->GetMax(), 1);
    EXPECT_EQ(map->GetStringUnchecked("ReverseXBit"), "1");
    CRegisterPtr(map->GetNode("ReverseXBit"))->Get(bytes, 4);
    EXPECT_EQ(bytes[0], 0x08); // little endian: bit 3 is in the first byte
    EXPECT_EQ(bytes[3], 0xA5); // big endian: bits 31..24 are the least significant, the last byte
}

TEST(RegisterNodes, FloatStringAndAccess) {
    auto map = Load(kRegisters);
    CFloatPtr gain = map->GetNode("GainReg");
    gain->SetValue(6.5);
    EXPECT_DOUBLE_EQ(gain->GetValue(), 6.5);
    EXPECT_EQ(gain->GetUnit(), "dB");
    CStringPtr user = map->GetNode("UserName");
    user->SetValue("cam1");
    EXPECT_EQ(user->GetValue(), "cam1");
    EXPECT_EQ(user->GetMaxLength(), 8);
    EXPECT_THROW(user->SetValue("much too long"), GenICam::OutOfRangeException);

    EXPECT_EQ(CNodePtr(map->GetNode("SensorTempReg"))->GetAccessMode(), RO);
    map->SetIntegerUnchecked("SensorTempReg", 42);
    EXPECT_EQ(CIntegerPtr(map->GetNode("SensorTempReg"))->GetValue(), 42);
    EXPECT_EQ(DescriptionOf<GenICam::AccessException>([&] { CIntegerPtr(map->GetNode("SensorTempReg"))->SetValue(1); }),
              "Node 'SensorTempReg' is not writable");
}

TEST(Converters, ConvertBothWaysWithConvertedLimits) {
    auto map = Load(kRegisters);
    CFloatPtr exposure = map->GetNode("ExposureTimeAbs");
    EXPECT_DOUBLE_EQ(exposure->GetValue(), 2000);
    EXPECT_DOUBLE_EQ(exposure->GetMin(), 20);
    EXPECT_DOUBLE_EQ(exposure->GetMax(), 20000);
    exposure->SetValue(500);
    EXPECT_EQ(map->GetIntegerUnchecked("ExposureTimeRaw"), 25);
    EXPECT_THROW(exposure->SetValue(30000), GenICam::OutOfRangeException);
    map->SetIntegerUnchecked("TimeBase", 10);
    EXPECT_DOUBLE_EQ(exposure->GetValue(), 250);

    CIntegerPtr inverted = map->GetNode("Inverted");
    EXPECT_EQ(inverted->GetValue(), 75);
    EXPECT_EQ(inverted->GetMin(), -900);
    EXPECT_EQ(inverted->GetMax(), 99);
    inverted->SetValue(90);
    EXPECT_EQ(map->GetIntegerUnchecked("ExposureTimeRaw"), 10);
}

TEST(RegisterNodes, StructEntriesShareTheirRegister) {
    auto map = Load(R"(
<Port Name="Device"/>
<StructReg Comment="Control">
  <Address>0x10</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
  <Endianess>LittleEndian</Endianess>
  <StructEntry Name="EnableA" NameSpace="Standard"><Bit>0</Bit></StructEntry>
  <StructEntry Name="Mode"><Description>Mode bits</Description><LSB>4</LSB><MSB>7</MSB></StructEntry>
</StructReg>)");
    CIntegerPtr enable = map->GetNode("EnableA");
    CIntegerPtr mode = map->GetNode("Mode");
    ASSERT_TRUE(enable.IsValid());
    ASSERT_TRUE(mode.IsValid());
    enable->SetValue(1);
    mode->SetValue(9);
    EXPECT_EQ(enable->GetValue(), 1);
    EXPECT_EQ(mode->GetValue(), 9);
    EXPECT_EQ(mode->GetMax(), 15);
    EXPECT_EQ(CRegisterPtr(map->GetNode("Mode"))->GetAddress(), 0x10);
    EXPECT_EQ(map->GetNode("Mode")->GetDescription(), "Mode bits");
    EXPECT_EQ(map->GetNode("EnableA")->GetNameSpace(), Standard);
    uint8_t bytes[4] = {};
    CRegisterPtr(map->GetNode("EnableA"))->Get(bytes, 4);
    EXPECT_EQ(bytes[0], 0x91);
}

TEST(RegisterNodes, DescriptionErrors) {
    EXPECT_NE(DescriptionOf<GenICam::RuntimeException>([] {
                  Load("<IntReg Name=\"R\"><Address>0</Address><Length>4</Length></IntReg>");
              }).find("IntReg 'R' has no <pPort>"),
              std::string::npos);
    EXPECT_NE(DescriptionOf<GenICam::RuntimeException>([] {
                  Load("<Integer Name=\"P\"><Value>1</Value></Integer>"
                       "<IntReg Name=\"R\"><Address>0</Address><Length>4</Length><pPort>P</pPort></IntReg>");
              }).find("<pPort> refers to 'P', which is no Port"),
              std::string::npos);
    EXPECT_NE(DescriptionOf<GenICam::RuntimeException>([] {
                  Load("<Converter Name=\"C\"><FormulaTo>FROM</FormulaTo><pValue>C</pValue></Converter>");
              }).find("<FormulaFrom> missing"),
              std::string::npos);
}

} // namespace
