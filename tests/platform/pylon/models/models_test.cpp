// The shipped camera models: they load, describe what the camera server and the emulator
// rely on, and their formulas give the dependent limits and sizes a real camera has.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <GenApi/GenApi.h>

namespace {

using namespace GenApi;
using ::testing::ElementsAre;

std::string ModelPath(const std::string& file) { return MIRVA_SOURCE_DIR "/platform/pylon/models/" + file; }

std::unique_ptr<NodeMap> LoadModel(const std::string& file) { return CNodeMapFactory::LoadFromFile(ModelPath(file)); }

const std::vector<std::string> kModels = {"mono_area_1280x1024.xml", "color_area_1920x1200.xml", "minimal_area.xml",
                                          "line_scan_4096.xml"};

// What acquisition start, frame delivery and camera set-up find on every model.
const std::vector<std::string> kEveryModelHas = {
    "Width",           "Height",           "OffsetX",      "OffsetY",        "WidthMax",        "HeightMax",
    "PixelFormat",     "PayloadSize",      "AcquisitionMode", "AcquisitionStart", "AcquisitionStop",
    "TriggerSelector", "TriggerMode",      "TriggerSoftware", "ExposureTimeRaw", "TLParamsLocked",
    "DeviceModelName", "DeviceVendorName"};

std::vector<std::string> AvailableSymbolics(INodeMap& map, const char* name) {
    CEnumerationPtr e = map.GetNode(name);
    StringList_t symbolics;
    e->GetSymbolics(symbolics);
    return symbolics;
}

// Names of all nodes reachable from Root through the categories, in walk order.
void WalkCategories(INode* node, std::vector<INode*>& out, std::set<INode*>& seen) {
    if (!seen.insert(node).second)
        return;
    out.push_back(node);
    if (auto* category = dynamic_cast<ICategory*>(node)) {
        FeatureList_t children;
        category->GetFeatures(children);
        for (IValue* child : children)
            WalkCategories(child->GetNode(), out, seen);
    }
}

// ---------------------------------------------------------------------------------------
// Every model

class EveryModel : public ::testing::TestWithParam<std::string> {};

TEST_P(EveryModel, LoadsWithDescriptionHeaderAndBoundFeatures) {
    std::unique_ptr<NodeMap> map;
    ASSERT_NO_THROW(map = LoadModel(GetParam()));

    // The root element carries the attributes a GenICam description must have.
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(ModelPath(GetParam()).c_str()));
    const pugi::xml_node root = doc.child("RegisterDescription");
    ASSERT_TRUE(root);
    for (const char* attribute : {"ModelName", "VendorName", "ToolTip", "StandardNameSpace", "SchemaMajorVersion",
                                  "SchemaMinorVersion", "SchemaSubMinorVersion", "MajorVersion", "MinorVersion",
                                  "SubMinorVersion", "ProductGuid", "VersionGuid"})
        EXPECT_TRUE(root.attribute(attribute)) << attribute;
    EXPECT_STREQ(root.attribute("xmlns").value(), "http://www.genicam.org/GenApi/Version_1_1");
    EXPECT_EQ(root.attribute("SchemaMajorVersion").as_int(), 1);
    EXPECT_EQ(root.attribute("SchemaMinorVersion").as_int(), 1);

    EXPECT_EQ(map->GetDeviceName(), root.attribute("ModelName").value());
    CStringPtr model = map->GetNode("DeviceModelName");
    EXPECT_EQ(model->GetValue(), root.attribute("ModelName").value());
    EXPECT_FALSE(IsWritable(model));

    for (const auto& name : kEveryModelHas)
        EXPECT_NE(map->GetNode(name), nullptr) << name;
    EXPECT_TRUE(CCategoryPtr(map->GetNode("Root")).IsValid());
}

TEST_P(EveryModel, EveryPublishedNodeIsReadableOrWritableOrAnEnumerationOrCommandStaysConsistent) {
    auto map = LoadModel(GetParam());
    std::vector<INode*> nodes;
    std::set<INode*> seen;
    WalkCategories(map->GetNode("Root"), nodes, seen);
    ASSERT_GT(nodes.size(), 10u);
    for (INode* node : nodes) {
        SCOPED_TRACE(node->GetName());
        if (dynamic_cast<ICategory*>(node)) {
            EXPECT_NE(node->GetDisplayName(), "");
            continue;
        }
        const EAccessMode mode = node->GetAccessMode();
        if (!IsAvailable(mode))
            continue;
        // Reading an available value never fails, and integer values lie inside their limits.
        if (auto* i = dynamic_cast<IInteger*>(node); i && IsReadable(mode) && !dynamic_cast<IRegister*>(node)) {
            const int64_t v = i->GetValue();
            EXPECT_LE(i->GetMin(), v);
            EXPECT_LE(v, i->GetMax());
            if (IsWritable(mode) && i->GetInc() > 1) {
                EXPECT_EQ((v - i->GetMin()) % i->GetInc(), 0);
            }
        }
        if (auto* f = dynamic_cast<IFloat*>(node); f && IsReadable(mode)) {
            const double v = f->GetValue();
            EXPECT_LE(f->GetMin(), v);
            EXPECT_LE(v, f->GetMax());
        }
        if (auto* e = dynamic_cast<IEnumeration*>(node); e && IsReadable(mode)) {
            NodeList_t entries;
            e->GetEntries(entries);
            EXPECT_FALSE(entries.empty());
            EXPECT_NO_THROW(e->ToString());
        }
    }
}

TEST_P(EveryModel, PayloadSizeIsWidthTimesHeightTimesBytesPerPixel) {
    auto map = LoadModel(GetParam());
    CIntegerPtr width = map->GetNode("Width"), height = map->GetNode("Height"), payload = map->GetNode("PayloadSize");
    CEnumerationPtr format = map->GetNode("PixelFormat");
    StringList_t formats;
    format->GetSymbolics(formats);
    for (const auto& f : formats) {
        format->FromString(f);
        const int64_t pixels = width->GetValue() * height->GetValue();
        // Mono12Packed: 12 bits, Mono12/BayerRG12/YUV422: 16 bits, RGB/BGR: 24 bits.
        const int64_t bits = f == "Mono12Packed" ? 12
                             : (f == "Mono12" || f == "BayerRG12" || f == "YUV422Packed") ? 16
                             : (f == "RGB8Packed" || f == "BGR8Packed")                    ? 24
                                                                                          : 8;
        EXPECT_EQ(payload->GetValue(), pixels * bits / 8) << f;
    }
}

INSTANTIATE_TEST_SUITE_P(Models, EveryModel, ::testing::ValuesIn(kModels),
                         [](const auto& info) { return info.param.substr(0, info.param.find('_')); });

// ---------------------------------------------------------------------------------------
// Monochrome area camera

class MonoModel : public ::testing::Test {
protected:
    void SetUp() override { map = LoadModel("mono_area_1280x1024.xml"); }
    INode* Node(const char* name) {
        INode* n = map->GetNode(name);
        EXPECT_NE(n, nullptr) << name;
        return n;
    }
    std::unique_ptr<NodeMap> map;
};

TEST_F(MonoModel, HasAFewHundredNodes) {
    NodeList_t nodes;
    map->GetNodes(nodes);
    EXPECT_GE(nodes.size(), 300u);
}

TEST_F(MonoModel, CategoriesUnderRootCarryTheFieldsDisplayNames) {
    CCategoryPtr root = map->GetNode("Root");
    FeatureList_t children;
    root->GetFeatures(children);
    std::vector<std::string> names;
    for (IValue* child : children) {
        ASSERT_NE(dynamic_cast<ICategory*>(child), nullptr) << child->GetNode()->GetName();
        EXPECT_EQ(child->ToString(), child->GetNode()->GetDisplayName());
        names.push_back(child->ToString());
    }
    for (const char* expected :
         {"Analog Controls", "Image Format Controls", "AOI Controls", "Acquisition Controls", "Digital I/O Controls",
          "Counter and Timer Controls", "Transport Layer", "Configuration Sets", "Device Information",
          "Chunk Data Streams", "Event Generation", "LUT Controls", "User Defined Values", "File Access",
          "Auto Functions"})
        EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << expected;

    // Node names are the short ones; the display name is what the category's text shows.
    EXPECT_EQ(CCategoryPtr(map->GetNode("AOI"))->ToString(), "AOI Controls");
    EXPECT_EQ(CCategoryPtr(map->GetNode("AcquisitionTrigger"))->ToString(), "Acquisition Controls");
    // A category inside a category.
    EXPECT_EQ(CCategoryPtr(map->GetNode("ChunkData"))->ToString(), "Chunk Data");
}

TEST_F(MonoModel, OffersTheSensorFormatsAndMarksOthersUnavailable) {
    EXPECT_THAT(AvailableSymbolics(*map, "PixelFormat"), ElementsAre("Mono8", "Mono12", "Mono12Packed"));
    CEnumerationPtr format = map->GetNode("PixelFormat");
    EXPECT_EQ(format->GetEntryByName("YUV422Packed")->GetNode()->GetAccessMode(), NA);
    EXPECT_EQ(format->GetEntryByName("Mono16")->GetNode()->GetAccessMode(), NI);
    EXPECT_ANY_THROW(format->FromString("YUV422Packed"));
    EXPECT_EQ(format->ToString(), "Mono8");

    // An enumeration whose entries are all unavailable (kept by the back-end without properties).
    CEnumerationPtr light = map->GetNode("LightSourceSelector");
    ASSERT_TRUE(light);
    EXPECT_TRUE(AvailableSymbolics(*map, "LightSourceSelector").empty());
    NodeList_t entries;
    light->GetEntries(entries);
    EXPECT_EQ(entries.size(), 5u);
}

TEST_F(MonoModel, HasTheFullTriggerSet) {
    EXPECT_THAT(AvailableSymbolics(*map, "TriggerSelector"), ElementsAre("AcquisitionStart", "FrameStart"));
    EXPECT_EQ(CEnumerationPtr(map->GetNode("TriggerSelector"))->GetEntryByName("LineStart")->GetNode()->GetAccessMode(),
              NA);
    EXPECT_THAT(AvailableSymbolics(*map, "TriggerMode"), ElementsAre("Off", "On"));
    EXPECT_THAT(AvailableSymbolics(*map, "TriggerSource"), ElementsAre("Software", "Line1", "Line2"));
    EXPECT_THAT(AvailableSymbolics(*map, "TriggerActivation"), ElementsAre("RisingEdge", "FallingEdge"));
    EXPECT_THAT(AvailableSymbolics(*map, "AcquisitionMode"), ElementsAre("SingleFrame", "MultiFrame", "Continuous"));
    EXPECT_THAT(AvailableSymbolics(*map, "ExposureMode"), ElementsAre("Timed", "TriggerWidth"));
    EXPECT_TRUE(CCommandPtr(map->GetNode("TriggerSoftware")).IsValid());
    EXPECT_TRUE(CCommandPtr(map->GetNode("DeviceReset")).IsValid());
    EXPECT_TRUE(CFloatPtr(map->GetNode("TriggerDelayAbs")).IsValid());
}

TEST_F(MonoModel, TriggerSettingsAreKeptPerTriggerSelectorEntry) {
    CEnumerationPtr selector = map->GetNode("TriggerSelector"), mode = map->GetNode("TriggerMode"),
                    source = map->GetNode("TriggerSource"), activation = map->GetNode("TriggerActivation");
    CFloatPtr delay = map->GetNode("TriggerDelayAbs");

    selector->FromString("FrameStart");
    mode->FromString("On");
    source->FromString("Software");
    activation->FromString("FallingEdge");
    delay->SetValue(250.0);

    selector->FromString("AcquisitionStart");
    EXPECT_EQ(mode->ToString(), "Off");
    EXPECT_EQ(source->ToString(), "Line1");
    EXPECT_EQ(activation->ToString(), "RisingEdge");
    EXPECT_EQ(delay->GetValue(), 0.0);
    mode->FromString("On");
    source->FromString("Line2");

    selector->FromString("FrameStart");
    EXPECT_EQ(mode->ToString(), "On");
    EXPECT_EQ(source->ToString(), "Software");
    EXPECT_EQ(activation->ToString(), "FallingEdge");
    EXPECT_EQ(delay->GetValue(), 250.0);
    selector->FromString("AcquisitionStart");
    EXPECT_EQ(source->ToString(), "Line2");

    // The emulator reads one trigger's settings without touching the selector.
    EXPECT_EQ(map->GetIntegerUnchecked("TriggerModeVal", 1), 1);
}

TEST_F(MonoModel, SizeLimitsFollowOffsetsAndBinning) {
    CIntegerPtr width = Node("Width"), height = Node("Height"), ox = Node("OffsetX"), oy = Node("OffsetY"),
                wmax = Node("WidthMax"), hmax = Node("HeightMax"), bh = Node("BinningHorizontal"),
                bv = Node("BinningVertical");
    EXPECT_EQ(width->GetValue(), 1280);
    EXPECT_EQ(height->GetValue(), 1024);
    EXPECT_EQ(width->GetMax(), 1280);
    EXPECT_EQ(ox->GetMax(), 0);

    width->SetValue(1000);
    EXPECT_EQ(ox->GetMax(), 280);
    ox->SetValue(200);
    EXPECT_EQ(width->GetMax(), 1080); // WidthMax - OffsetX
    EXPECT_THROW(width->SetValue(1200), GenICam::OutOfRangeException);
    EXPECT_THROW(ox->SetValue(300), GenICam::OutOfRangeException);
    EXPECT_THROW(width->SetValue(1001), GenICam::InvalidArgumentException); // increment 2

    height->SetValue(512);
    oy->SetValue(100);
    EXPECT_EQ(height->GetMax(), 924);
    EXPECT_EQ(oy->GetMax(), 512);

    // WidthMax is the sensor width over the binning; the full sensor is WidthMax x binning.
    ox->SetValue(0);
    oy->SetValue(0);
    for (int64_t b : {1, 2, 4}) {
        bh->SetValue(b);
        bv->SetValue(b);
        EXPECT_EQ(wmax->GetValue(), 1280 / b);
        EXPECT_EQ(hmax->GetValue(), 1024 / b);
        EXPECT_EQ(wmax->GetValue() * bh->GetValue(), 1280);
        EXPECT_EQ(hmax->GetValue() * bv->GetValue(), 1024);
    }
    EXPECT_THROW(bh->SetValue(5), GenICam::OutOfRangeException);
}

TEST_F(MonoModel, StreamingLocksTheImageLayoutButNotTheOffsets) {
    CIntegerPtr locked = Node("TLParamsLocked");
    locked->SetValue(1);
    for (const char* name : {"Width", "Height", "PixelFormat", "BinningHorizontal", "BinningVertical"}) {
        EXPECT_EQ(Node(name)->GetAccessMode(), RO) << name;
    }
    EXPECT_EQ(Node("OffsetX")->GetAccessMode(), RW);
    EXPECT_EQ(Node("ExposureTimeRaw")->GetAccessMode(), RW);
    locked->SetValue(0);
    EXPECT_EQ(Node("Width")->GetAccessMode(), RW);
}

TEST_F(MonoModel, ExposureHasARawValueOnAnIncrementAndATimeInMicroseconds) {
    CIntegerPtr raw = Node("ExposureTimeRaw");
    CFloatPtr base = Node("ExposureTimeBaseAbs"), time = Node("ExposureTimeAbs");
    EXPECT_GT(raw->GetInc(), 1);
    EXPECT_EQ(raw->GetInc(), 5);
    EXPECT_EQ(raw->GetMin(), 35);
    EXPECT_EQ(raw->GetMax(), 999985);
    EXPECT_THROW(raw->SetValue(81), GenICam::InvalidArgumentException);
    raw->SetValue(700);
    EXPECT_DOUBLE_EQ(time->GetValue(), 700.0);
    base->SetValue(20.0);
    EXPECT_DOUBLE_EQ(time->GetValue(), 14000.0);
    EXPECT_DOUBLE_EQ(time->GetMax(), 999985.0 * 20.0);
    EXPECT_FALSE(IsWritable(time));

    // The resulting frame rate falls once the exposure is longer than a frame period.
    CFloatPtr rate = Node("ResultingFrameRateAbs");
    base->SetValue(1.0);
    raw->SetValue(1050);
    EXPECT_NEAR(rate->GetValue(), 30.5, 1e-9);
    raw->SetValue(70000);
    EXPECT_NEAR(rate->GetValue(), 1e6 / 70000.0, 1e-9);
    CBooleanPtr(Node("AcquisitionFrameRateEnable"))->SetValue(true);
    CFloatPtr(Node("AcquisitionFrameRateAbs"))->SetValue(5.0);
    EXPECT_NEAR(rate->GetValue(), 5.0, 1e-9);
}

TEST_F(MonoModel, TransportAndDeviceFeatures) {
    CIntegerPtr packet = Node("GevSCPSPacketSize");
    EXPECT_EQ(packet->GetMin(), 220);
    EXPECT_EQ(packet->GetMax(), 16404);
    EXPECT_EQ(packet->GetInc(), 4);
    EXPECT_EQ(packet->GetValue(), 1500);
    EXPECT_NO_THROW(packet->SetValue(9000));
    EXPECT_THROW(packet->SetValue(9001), GenICam::InvalidArgumentException);

    CStringPtr user_id = Node("DeviceUserID");
    EXPECT_TRUE(IsWritable(user_id));
    EXPECT_EQ(user_id->GetMaxLength(), 15);
    for (const char* name : {"DeviceVendorName", "DeviceModelName", "DeviceManufacturerInfo", "DeviceVersion",
                             "DeviceFirmwareVersion", "DeviceID"}) {
        CStringPtr s = Node(name);
        ASSERT_TRUE(s) << name;
        EXPECT_EQ(s->GetAccessMode(), RO) << name;
    }
    EXPECT_EQ(CEnumerationPtr(Node("DeviceScanType"))->ToString(), "Areascan");
    EXPECT_EQ(CIntegerPtr(Node("SensorWidth"))->GetValue(), 1280);
    EXPECT_EQ(CIntegerPtr(Node("SensorHeight"))->GetValue(), 1024);

    // Block features are registers (recognised, never published by the back-end).
    CRegisterPtr lut = Node("LUTValueAll");
    ASSERT_TRUE(lut);
    EXPECT_FALSE(CIntegerPtr(Node("LUTValueAll")).IsValid());
    EXPECT_GT(lut->GetLength(), 0);
}

TEST_F(MonoModel, CarriesFeaturesTheBackEndKeepsUnpublished) {
    // A sample of the black list: the camera has them, the back-end skips them by name.
    for (const char* name : {"GevCurrentIPConfiguration", "GevPersistentIPAddress", "GevSCPHostPort",
                             "GevHeartbeatTimeout", "GevSCDA", "LineMode", "TLParamsLocked", "AutoTargetValue",
                             "DigitalShift", "TimerSelector", "TimerDelayAbs", "TimerDurationRaw", "CounterSelector",
                             "CounterEventSource", "CounterResetSource", "LUTSelector", "LUTEnable", "LUTIndex",
                             "LUTValue", "UserDefinedValueSelector", "UserDefinedValue", "ChunkModeActive",
                             "EventSelector", "EventNotification", "UserSetSelector", "UserSetLoad", "UserSetSave",
                             "UserSetDefaultSelector", "FileAccessOffset", "FileAccessLength",
                             "ExpertFeatureAccessSelector", "ExpertFeatureAccessKey"})
        EXPECT_NE(map->GetNode(name), nullptr) << name;
}

TEST_F(MonoModel, AvailabilityFollowsOtherFeatures) {
    // Gamma only applies with gamma on and the user gamma selected.
    EXPECT_EQ(Node("Gamma")->GetAccessMode(), NA);
    CBooleanPtr(Node("GammaEnable"))->SetValue(true);
    EXPECT_EQ(Node("Gamma")->GetAccessMode(), RW);
    CEnumerationPtr(Node("GammaSelector"))->FromString("sRGB");
    EXPECT_EQ(Node("Gamma")->GetAccessMode(), NA);

    // Outputs have a source, inputs a debouncer.
    CEnumerationPtr line = Node("LineSelector");
    EXPECT_EQ(Node("LineSource")->GetAccessMode(), NA);
    EXPECT_EQ(Node("LineDebouncerTimeAbs")->GetAccessMode(), RW);
    line->FromString("Out1");
    EXPECT_EQ(Node("LineSource")->GetAccessMode(), RW);
    EXPECT_EQ(Node("LineDebouncerTimeAbs")->GetAccessMode(), NA);
    EXPECT_EQ(CEnumerationPtr(Node("LineMode"))->ToString(), "Output");

    // Chunk data exists only with chunk mode on.
    EXPECT_EQ(Node("ChunkTimestamp")->GetAccessMode(), NA);
    CBooleanPtr(Node("ChunkModeActive"))->SetValue(true);
    EXPECT_EQ(Node("ChunkTimestamp")->GetAccessMode(), RO);
}

// ---------------------------------------------------------------------------------------
// The other models

TEST(ColorModel, OffersColourFormatsAndWhiteBalance) {
    auto map = LoadModel("color_area_1920x1200.xml");
    EXPECT_THAT(AvailableSymbolics(*map, "PixelFormat"),
                ::testing::IsSupersetOf({"BayerRG8", "BayerRG12", "RGB8Packed", "BGR8Packed", "YUV422Packed"}));
    EXPECT_EQ(CIntegerPtr(map->GetNode("SensorWidth"))->GetValue(), 1920);
    EXPECT_EQ(CIntegerPtr(map->GetNode("SensorHeight"))->GetValue(), 1200);
    EXPECT_EQ(CIntegerPtr(map->GetNode("WidthMax"))->GetValue(), 1920);
    EXPECT_EQ(CEnumerationPtr(map->GetNode("PixelColorFilter"))->ToString(), "BayerRG");

    CEnumerationPtr selector = map->GetNode("BalanceRatioSelector");
    CFloatPtr ratio = map->GetNode("BalanceRatioAbs");
    EXPECT_THAT(AvailableSymbolics(*map, "BalanceRatioSelector"), ElementsAre("Red", "Green", "Blue"));
    selector->FromString("Blue");
    ratio->SetValue(1.25);
    selector->FromString("Red");
    EXPECT_NE(ratio->GetValue(), 1.25);
    selector->FromString("Blue");
    EXPECT_EQ(ratio->GetValue(), 1.25);
    EXPECT_FALSE(AvailableSymbolics(*map, "LightSourceSelector").empty());
}

TEST(MinimalModel, LacksWhatTheBackEndMustDoWithout) {
    auto map = LoadModel("minimal_area.xml");
    for (const char* name : {"BinningHorizontal", "BinningVertical", "TriggerSource", "DeviceReset",
                             "GevSCPSPacketSize", "TriggerActivation", "TriggerDelayAbs", "AcquisitionFrameCount",
                             "ExposureMode", "GainRaw"})
        EXPECT_EQ(map->GetNode(name), nullptr) << name;
    CEnumerationPtr selector = map->GetNode("TriggerSelector");
    EXPECT_EQ(selector->GetEntryByName("AcquisitionStart"), nullptr);
    ASSERT_NE(selector->GetEntryByName("FrameStart"), nullptr);
    EXPECT_THAT(AvailableSymbolics(*map, "TriggerSelector"), ElementsAre("FrameStart"));
    EXPECT_THAT(AvailableSymbolics(*map, "PixelFormat"), ElementsAre("Mono8"));
    EXPECT_TRUE(CCommandPtr(map->GetNode("TriggerSoftware")).IsValid());

    // Without binning the maximum size is the sensor.
    CIntegerPtr width = map->GetNode("Width"), ox = map->GetNode("OffsetX");
    EXPECT_EQ(CIntegerPtr(map->GetNode("WidthMax"))->GetValue(), width->GetValue());
    width->SetValue(320);
    ox->SetValue(160);
    EXPECT_EQ(width->GetMax(), CIntegerPtr(map->GetNode("WidthMax"))->GetValue() - 160);
}

TEST(LineScanModel, DeliversOneLinePerImage) {
    auto map = LoadModel("line_scan_4096.xml");
    CIntegerPtr height = map->GetNode("Height"), hmax = map->GetNode("HeightMax"), width = map->GetNode("Width");
    EXPECT_EQ(height->GetMin(), 1);
    EXPECT_EQ(height->GetMax(), 1);
    EXPECT_EQ(height->GetValue(), 1);
    EXPECT_EQ(hmax->GetValue(), 1);
    EXPECT_EQ(width->GetValue(), 4096);
    EXPECT_EQ(CEnumerationPtr(map->GetNode("DeviceScanType"))->ToString(), "Linescan");
    EXPECT_THAT(AvailableSymbolics(*map, "PixelFormat"), ElementsAre("Mono8", "Mono12"));
    EXPECT_THAT(AvailableSymbolics(*map, "TriggerSelector"), ElementsAre("AcquisitionStart", "FrameStart", "LineStart"));
    CIntegerPtr(map->GetNode("BinningHorizontal"))->SetValue(2);
    EXPECT_EQ(CIntegerPtr(map->GetNode("WidthMax"))->GetValue(), 2048);
}

} // namespace
