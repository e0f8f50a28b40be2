// Shared pieces of the feature-property tests: a small camera description, a bare
// location that owns the properties, and a fixture that builds pylon_prop objects
// directly from nodes of that description.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <GenApi/GenApi.h>
#include <mirva/eq_fct.h>

#include "pylon_prop.h"

namespace feature_test {

// Every kind of node, published or not, with the categories the rules look at.
inline const char* const kCameraXml = R"(<?xml version="1.0" encoding="utf-8"?>
<RegisterDescription ModelName="FeatureTest" VendorName="MIRVA">
  <Category Name="Root" NameSpace="Standard">
    <pFeature>AOIControls</pFeature>
    <pFeature>MiscControls</pFeature>
    <pFeature>LowerCaseControls</pFeature>
  </Category>
  <Category Name="AOIControls" NameSpace="Standard">
    <DisplayName>AOI Controls</DisplayName>
    <pFeature>Width</pFeature>
    <pFeature>OffsetX</pFeature>
    <pFeature>TLParamsLocked</pFeature>
    <pFeature>AcquisitionStart</pFeature>
  </Category>
  <Category Name="MiscControls">
    <DisplayName>Misc Controls</DisplayName>
    <pFeature>Gain</pFeature>
    <pFeature>GainStep</pFeature>
    <pFeature>ExposureAuto</pFeature>
    <pFeature>ReverseX</pFeature>
    <pFeature>DeviceUserID</pFeature>
    <pFeature>SensorWidth</pFeature>
    <pFeature>WriteOnly</pFeature>
    <pFeature>Unavailable</pFeature>
    <pFeature>Unimplemented</pFeature>
    <pFeature>NoEntries</pFeature>
    <pFeature>RawRegister</pFeature>
    <pFeature>LongText</pFeature>
  </Category>
  <Category Name="LowerCaseControls">
    <DisplayName>aoi controls</DisplayName>
    <pFeature>LowerInt</pFeature>
  </Category>

  <Integer Name="Width" NameSpace="Standard">
    <Description>Width of the image</Description>
    <Value>640</Value>
    <Min>16</Min>
    <pMax>WidthMax</pMax>
    <Inc>4</Inc>
    <Unit>px</Unit>
  </Integer>
  <IntSwissKnife Name="WidthMax">
    <pVariable Name="OX">OffsetX</pVariable>
    <Formula>1280 - OX</Formula>
  </IntSwissKnife>
  <Integer Name="OffsetX">
    <Description>Horizontal offset</Description>
    <Value>0</Value>
    <Min>0</Min>
    <Max>1264</Max>
    <Inc>4</Inc>
  </Integer>
  <Integer Name="TLParamsLocked">
    <Value>0</Value>
  </Integer>
  <Command Name="AcquisitionStart">
    <Description>Starts the acquisition</Description>
    <pValue>AcquisitionStartValue</pValue>
    <CommandValue>1</CommandValue>
  </Command>
  <Integer Name="AcquisitionStartValue">
    <Value>0</Value>
  </Integer>
  <Float Name="Gain">
    <Description>Analog gain</Description>
    <Value>1.0</Value>
    <Min>0.1</Min>
    <Max>10.0</Max>
    <Unit>dB</Unit>
  </Float>
  <Float Name="GainStep">
    <Value>1.0</Value>
    <Min>0.0</Min>
    <Max>10.0</Max>
    <Inc>0.5</Inc>
  </Float>
  <Enumeration Name="ExposureAuto">
    <Description>Automatic exposure</Description>
    <EnumEntry Name="EnumEntry_ExposureAuto_Off">
      <DisplayName>Switched off</DisplayName>
      <Value>0</Value>
    </EnumEntry>
    <EnumEntry Name="EnumEntry_ExposureAuto_Once">
      <pIsAvailable>Zero</pIsAvailable>
      <Value>1</Value>
    </EnumEntry>
    <EnumEntry Name="EnumEntry_ExposureAuto_Continuous">
      <Value>2</Value>
    </EnumEntry>
    <EnumEntry Name="EnumEntry_ExposureAuto_Hidden">
      <pIsImplemented>Zero</pIsImplemented>
      <Value>4</Value>
    </EnumEntry>
    <EnumEntry Name="EnumEntry_ExposureAuto_Single">
      <Value>3</Value>
    </EnumEntry>
    <Value>2</Value>
  </Enumeration>
  <Boolean Name="ReverseX">
    <Value>0</Value>
  </Boolean>
  <String Name="DeviceUserID">
    <Value>cam one</Value>
    <MaxLength>16</MaxLength>
  </String>
  <Integer Name="SensorWidth">
    <ImposedAccessMode>RO</ImposedAccessMode>
    <Value>1280</Value>
  </Integer>
  <Integer Name="WriteOnly">
    <ImposedAccessMode>WO</ImposedAccessMode>
    <Value>3</Value>
  </Integer>
  <Integer Name="Unavailable">
    <pIsAvailable>Zero</pIsAvailable>
    <Value>1</Value>
  </Integer>
  <Integer Name="Unimplemented">
    <pIsImplemented>Zero</pIsImplemented>
    <Value>1</Value>
  </Integer>
  <Enumeration Name="NoEntries">
    <EnumEntry Name="EnumEntry_NoEntries_A">
      <pIsAvailable>Zero</pIsAvailable>
      <Value>0</Value>
    </EnumEntry>
    <Value>0</Value>
  </Enumeration>
  <Register Name="RawRegister">
    <Address>4096</Address>
    <Length>4</Length>
    <AccessMode>RW</AccessMode>
  </Register>
  <Integer Name="LongText">
    <Description>A description far longer than the sixty-two characters a main property text may hold</Description>
    <Value>1</Value>
    <Unit>units-with-a-name-longer-than-any-sub-property-text-may-hold</Unit>
  </Integer>
  <Integer Name="LowerInt">
    <Value>7</Value>
  </Integer>
  <Integer Name="Zero">
    <Value>0</Value>
  </Integer>
</RegisterDescription>
)";

// A camera description with one enumeration of `entries` available entries E0, E1, ...
std::string EnumerationXml(int entries);

// A location with nothing but its property registry.
class TestLocation : public EqFct {
public:
    int fct_code() override { return 4711; }
};

// Builds features from a node map into a test location and removes them afterwards.
class PropFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Replaces the location (and its features) by one restored from `stored`.
    void MakeLocation(const std::map<std::string, std::string>& stored = {});
    void LoadXml(const std::string& xml);
    // Builds the feature of node `name`; `categ` names the category node (may be null).
    pylon_prop* Make(const char* name, const char* categ = nullptr);
    void RemoveAll();

    D_fct* Prop(const std::string& name) { return loc->find_property(name.c_str()); }
    template <class T>
    T* PropAs(const std::string& name) { return dynamic_cast<T*>(Prop(name)); }
    // Names of the properties of the location in registration order.
    std::vector<std::string> PropertyNames() const;

    std::unique_ptr<GenApi::NodeMap> map;
    std::unique_ptr<TestLocation> loc;
    std::vector<pylon_prop*> props;
};

} // namespace feature_test
