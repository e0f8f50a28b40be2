#include "test_support.h"

namespace feature_test {

std::string EnumerationXml(int entries)
{
    std::string xml = R"(<?xml version="1.0" encoding="utf-8"?>
<RegisterDescription ModelName="EnumTest" VendorName="MIRVA">
  <Category Name="Root"><pFeature>Big</pFeature></Category>
  <Enumeration Name="Big">
)";
    for (int i = 0; i < entries; ++i) {
        xml += "    <EnumEntry Name=\"EnumEntry_Big_E" + std::to_string(i) + "\"><Value>" + std::to_string(i) +
               "</Value></EnumEntry>\n";
    }
    xml += "    <Value>0</Value>\n  </Enumeration>\n</RegisterDescription>\n";
    return xml;
}

void PropFixture::SetUp()
{
    LoadXml(kCameraXml);
    MakeLocation();
}

void PropFixture::TearDown()
{
    RemoveAll();
    loc.reset();
    map.reset();
}

void PropFixture::MakeLocation(const std::map<std::string, std::string>& stored)
{
    RemoveAll();
    loc.reset();
    mirva::LocationCreation scope("TESTLOC", stored);
    loc = std::make_unique<TestLocation>();
}

void PropFixture::LoadXml(const std::string& xml)
{
    RemoveAll();
    map = GenApi::CNodeMapFactory::LoadFromString(xml, "feature test");
}

pylon_prop* PropFixture::Make(const char* name, const char* categ)
{
    GenApi::CNodePtr node(map->GetNode(name));
    GenApi::CCategoryPtr category;
    if (categ)
        category = map->GetNode(categ);
    auto* f = new pylon_prop(node, category, map.get(), loc.get());
    props.push_back(f);
    return f;
}

void PropFixture::RemoveAll()
{
    for (pylon_prop* f : props) {
        f->remove_properties();
        delete f;
    }
    props.clear();
}

std::vector<std::string> PropFixture::PropertyNames() const
{
    std::vector<std::string> names;
    loc->for_each_property([&](D_fct& p) { names.push_back(p.name()); });
    return names;
}

} // namespace feature_test
