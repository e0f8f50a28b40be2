// Feature files: what a save writes, that a load gives every value back in a safe order, and
// that a broken or missing file is refused with a description naming line and feature while
// the camera keeps the values it had.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <GenApi/GenApi.h>
#include <pylon/FeaturePersistence.h>

namespace {

using namespace GenApi;
using Pylon::CFeaturePersistence;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

std::unique_ptr<NodeMap> LoadModel(const std::string& file) {
    return CNodeMapFactory::LoadFromFile(MIRVA_SOURCE_DIR "/platform/pylon/models/" + file);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void Spit(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// A fresh directory per test, removed with its files afterwards.
class TempDir {
public:
    TempDir() {
        std::string pattern = ::testing::TempDir() + "pylon_persistence_XXXXXX";
        path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempDir() {
        for (const auto& f : Files())
            ::unlink((path_ + "/" + f).c_str());
        ::rmdir(path_.c_str());
    }
    const std::string& path() const { return path_; }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        if (DIR* d = ::opendir(path_.c_str())) {
            while (dirent* e = ::readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    names.push_back(e->d_name);
            ::closedir(d);
        }
        return names;
    }

private:
    std::string path_;
};

class Persistence : public ::testing::Test {
protected:
    void SetUp() override {
        map = LoadModel("mono_area_1280x1024.xml");
        ASSERT_FALSE(dir.path().empty());
    }
    std::string Save() {
        std::string text;
        CFeaturePersistence::SaveToString(text, map.get());
        return text;
    }
    template <class P>
    P Get(const char* name) {
        P p = map->GetNode(name);
        EXPECT_TRUE(p.IsValid()) << name;
        return p;
    }
    std::string File(const char* name) const { return dir.path() + "/" + name; }

    std::unique_ptr<NodeMap> map;
    TempDir dir;
};

// Sets every saved value to another valid one, through the node interfaces, and returns how
// many values changed.
int ChangeEverySavedValue(INodeMap& map, const std::string& saved) {
    int changed = 0;
    for (const auto& line : Lines(saved)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::istringstream in(line);
        for (std::string f; std::getline(in, f, '\t');)
            fields.push_back(f);
        if (fields.size() == 1)
            fields.push_back(""); // an empty string value
        // Binning is changed with the sizes it limits, by the caller: changed alone it would
        // leave a width above the maximum, which no camera shows.
        if (fields[0] == "BinningHorizontal" || fields[0] == "BinningVertical")
            continue;
        INode* node = map.GetNode(fields[0]);
        CEnumerationPtr selector;
        std::string old_entry;
        if (fields.size() == 3) {
            const std::string sel = fields[1].substr(1, fields[1].size() - 2);
            selector = map.GetNode(sel.substr(0, sel.find('=')));
            old_entry = selector->ToString();
            selector->FromString(sel.substr(sel.find('=') + 1));
        }
        try {
            if (CEnumerationPtr e = node) {
                StringList_t symbolics;
                e->GetSymbolics(symbolics);
                for (const auto& s : symbolics)
                    if (s != e->ToString()) {
                        e->FromString(s);
                        break;
                    }
            } else if (CBooleanPtr b = node) {
                b->SetValue(!b->GetValue());
            } else if (CIntegerPtr i = node) {
                const int64_t v = i->GetValue();
                i->SetValue(v + i->GetInc() <= i->GetMax() ? v + i->GetInc() : v - i->GetInc());
            } else if (CFloatPtr f = node) {
                f->SetValue(f->GetValue() < f->GetMax() - 1 ? (f->GetValue() + f->GetMax()) / 2
                                                             : (f->GetValue() + f->GetMin()) / 2);
            } else if (CStringPtr s = node) {
                s->SetValue("changed");
            }
            ++changed;
        } catch (const GenICam::GenericException&) {
            // Limits set by features changed before; the value stays as it was.
        }
        if (selector)
            selector->FromString(old_entry);
    }
    return changed;
}

// ---------------------------------------------------------------------------------------
// Saving

TEST_F(Persistence, FileStartsWithTheFormatHeader) {
    CFeaturePersistence::Save(File("cam.pfs"), map.get());
    const auto lines = Lines(Slurp(File("cam.pfs")));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "# {05D8C294-F295-4dfb-9D01-096BD04049F4}");
    EXPECT_EQ(lines[1], "# GenApi persistence file (version 3.0.0)");
    EXPECT_EQ(lines[2], "# Device = acA1300-30gm-emu");
    EXPECT_EQ(Slurp(File("cam.pfs")), Save());
    // Only the file itself is left in the directory, no temporary file.
    EXPECT_THAT(dir.Files(), ::testing::ElementsAre("cam.pfs"));
}

TEST_F(Persistence, SavesStreamableReadWriteValuesInCategoryOrder) {
    const std::string text = Save();
    const auto lines = Lines(text);
    auto index_of = [&](const std::string& prefix) {
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i].rfind(prefix, 0) == 0)
                return static_cast<int>(i);
        return -1;
    };
    for (const char* present : {"Width\t1280", "Height\t1024", "OffsetX\t0", "PixelFormat\tMono8",
                                "ExposureTimeRaw\t3500", "GainRaw\t0", "GevSCPSPacketSize\t1500",
                                "BinningHorizontal\t1", "AcquisitionMode\tContinuous", "DeviceUserID\t",
                                "ExposureTimeBaseAbs\t1", "GrayValueAdjustmentDampingAbs\t0.68359375"})
        EXPECT_GE(index_of(present), 0) << present;
    // Category order: Analog Controls, Image Format Controls, AOI Controls, Acquisition Controls ...
    EXPECT_LT(index_of("GainRaw\t"), index_of("PixelFormat\t"));
    EXPECT_LT(index_of("PixelFormat\t"), index_of("Width\t"));
    EXPECT_LT(index_of("Width\t"), index_of("ExposureTimeRaw\t"));
    EXPECT_LT(index_of("ExposureTimeRaw\t"), index_of("GevSCPSPacketSize\t"));

    // Never: commands, read-only or non-streamable features, unavailable ones, an
    // enumeration without an available entry.
    for (const char* absent :
         {"AcquisitionStart\t", "TriggerSoftware\t", "DeviceReset\t", "PayloadSize\t", "WidthMax\t",
          "DeviceModelName\t", "ExposureTimeAbs\t", "ResultingFrameRateAbs\t", "TLParamsLocked\t",
          "GevHeartbeatTimeout\t", "Gamma\t", "LightSourceSelector\t", "LUTValueAll\t", "SensorWidth\t"})
        EXPECT_EQ(index_of(absent), -1) << absent;
}

TEST_F(Persistence, SelectorDependentFeaturesAreSavedOncePerAvailableEntry) {
    auto selector = Get<CEnumerationPtr>("TriggerSelector");
    selector->FromString("FrameStart");
    Get<CEnumerationPtr>("TriggerMode")->FromString("On");
    Get<CEnumerationPtr>("TriggerSource")->FromString("Software");
    Get<CFloatPtr>("TriggerDelayAbs")->SetValue(12.5);
    selector->FromString("AcquisitionStart");

    const std::string text = Save();
    EXPECT_THAT(text, HasSubstr("TriggerSelector\tAcquisitionStart\n"));
    EXPECT_THAT(text, HasSubstr("TriggerMode\t{TriggerSelector=AcquisitionStart}\tOff\n"));
    EXPECT_THAT(text, HasSubstr("TriggerMode\t{TriggerSelector=FrameStart}\tOn\n"));
    EXPECT_THAT(text, HasSubstr("TriggerSource\t{TriggerSelector=FrameStart}\tSoftware\n"));
    EXPECT_THAT(text, HasSubstr("TriggerSource\t{TriggerSelector=AcquisitionStart}\tLine1\n"));
    EXPECT_THAT(text, HasSubstr("TriggerDelayAbs\t{TriggerSelector=FrameStart}\t12.5\n"));
    EXPECT_THAT(text, Not(HasSubstr("LineStart")));
    // Only entries where the feature is available: outputs have a source, inputs do not.
    EXPECT_THAT(text, HasSubstr("LineSource\t{LineSelector=Out1}\tExposureActive\n"));
    EXPECT_THAT(text, Not(HasSubstr("LineSource\t{LineSelector=Line1}")));
    // The selector is back where it was.
    EXPECT_EQ(selector->ToString(), "AcquisitionStart");
    EXPECT_EQ(Get<CEnumerationPtr>("LineSelector")->ToString(), "Line1");
}

TEST_F(Persistence, NothingElseRunsBetweenASelectorSwitchAndItsRead) {
    auto selector = Get<CEnumerationPtr>("TriggerSelector");
    selector->FromString("FrameStart");
    Get<CEnumerationPtr>("TriggerMode")->FromString("On");
    // Whoever reacts to a selector change (the emulator, a node callback) puts the frame
    // trigger back at once; that must not happen in the middle of the save.
    bool reacting = false;
    map->SetWriteHook([&](INode& node, EWritePhase phase) {
        if (phase == EWritePhase::AfterWrite && node.GetName() == "TriggerSelector" && !reacting) {
            reacting = true;
            selector->FromString("FrameStart");
            reacting = false;
        }
    });
    const std::string text = Save();
    map->SetWriteHook({});
    EXPECT_THAT(text, HasSubstr("TriggerMode\t{TriggerSelector=AcquisitionStart}\tOff\n"));
    EXPECT_THAT(text, HasSubstr("TriggerMode\t{TriggerSelector=FrameStart}\tOn\n"));
}

// ---------------------------------------------------------------------------------------
// Loading

TEST_F(Persistence, LoadGivesBackEveryValueThatWasSaved) {
    CFeaturePersistence::Save(File("before.pfs"), map.get());
    const std::string before = Slurp(File("before.pfs"));
    EXPECT_GT(ChangeEverySavedValue(*map, before), 80);
    Get<CIntegerPtr>("OffsetX")->SetValue(0);
    Get<CIntegerPtr>("OffsetY")->SetValue(0);
    Get<CIntegerPtr>("Width")->SetValue(600);
    Get<CIntegerPtr>("Height")->SetValue(500);
    Get<CIntegerPtr>("BinningHorizontal")->SetValue(2);
    Get<CIntegerPtr>("BinningVertical")->SetValue(2);
    Get<CIntegerPtr>("OffsetX")->SetValue(40);
    Get<CIntegerPtr>("OffsetY")->SetValue(12);
    const std::string changed = Save();
    EXPECT_THAT(changed, HasSubstr("BinningHorizontal\t2\n"));
    ASSERT_NE(changed, before);

    CFeaturePersistence::Load(File("before.pfs"), map.get(), true);
    EXPECT_EQ(Save(), before);

    // And the other way round, from the string form.
    CFeaturePersistence::LoadFromString(changed, map.get());
    EXPECT_EQ(Save(), changed);
}

TEST_F(Persistence, EveryModelLoadsItsOwnSave) {
    for (const char* model : {"color_area_1920x1200.xml", "minimal_area.xml", "line_scan_4096.xml"}) {
        SCOPED_TRACE(model);
        auto other = LoadModel(model);
        std::string before;
        CFeaturePersistence::SaveToString(before, other.get());
        ChangeEverySavedValue(*other, before);
        CFeaturePersistence::LoadFromString(before, other.get());
        std::string after;
        CFeaturePersistence::SaveToString(after, other.get());
        EXPECT_EQ(after, before);
    }
}

TEST_F(Persistence, SelectorLinesWriteTheirEntryAndLeaveTheSelectorAlone) {
    CFeaturePersistence::LoadFromString("TriggerMode\t{TriggerSelector=FrameStart}\tOn\n"
                                        "TriggerActivation\t{TriggerSelector=FrameStart}\tFallingEdge\n",
                                        map.get());
    auto selector = Get<CEnumerationPtr>("TriggerSelector");
    EXPECT_EQ(selector->ToString(), "AcquisitionStart");
    EXPECT_EQ(Get<CEnumerationPtr>("TriggerMode")->ToString(), "Off");
    selector->FromString("FrameStart");
    EXPECT_EQ(Get<CEnumerationPtr>("TriggerMode")->ToString(), "On");
    EXPECT_EQ(Get<CEnumerationPtr>("TriggerActivation")->ToString(), "FallingEdge");
}

TEST_F(Persistence, LoadOrdersBinningSizesAndOffsetsWhateverTheFileOrder) {
    auto width = Get<CIntegerPtr>("Width"), height = Get<CIntegerPtr>("Height"), ox = Get<CIntegerPtr>("OffsetX"),
         oy = Get<CIntegerPtr>("OffsetY"), bh = Get<CIntegerPtr>("BinningHorizontal"),
         bv = Get<CIntegerPtr>("BinningVertical");

    // Small region at the far corner; the file wants the full sensor (the offset must go
    // to 0 before the width can grow).
    width->SetValue(320);
    ox->SetValue(960);
    height->SetValue(256);
    oy->SetValue(768);
    CFeaturePersistence::LoadFromString("OffsetX\t0\nOffsetY\t0\nWidth\t1280\nHeight\t1024\n", map.get());
    EXPECT_EQ(width->GetValue(), 1280);
    EXPECT_EQ(height->GetValue(), 1024);
    EXPECT_EQ(ox->GetValue(), 0);

    // Full sensor; the file wants a region far right, offsets listed first.
    CFeaturePersistence::LoadFromString("OffsetX\t1000\nWidth\t200\nOffsetY\t900\nHeight\t100\n", map.get());
    EXPECT_EQ(width->GetValue(), 200);
    EXPECT_EQ(ox->GetValue(), 1000);
    EXPECT_EQ(height->GetValue(), 100);
    EXPECT_EQ(oy->GetValue(), 900);

    // Binning listed last still comes first: the width of 320 needs WidthMax = 1280 / 4.
    width->SetValue(1280 - 1000);
    CFeaturePersistence::LoadFromString("Width\t320\nHeight\t256\nOffsetX\t0\nOffsetY\t0\n"
                                        "BinningHorizontal\t4\nBinningVertical\t4\n",
                                        map.get());
    EXPECT_EQ(bh->GetValue(), 4);
    EXPECT_EQ(bv->GetValue(), 4);
    EXPECT_EQ(width->GetValue(), 320);
    EXPECT_EQ(height->GetValue(), 256);

    // And back to binning 1 at full size.
    CFeaturePersistence::LoadFromString("Width\t1280\nHeight\t1024\nBinningHorizontal\t1\nBinningVertical\t1\n",
                                        map.get());
    EXPECT_EQ(width->GetValue(), 1280);
    EXPECT_EQ(bh->GetValue(), 1);

    // A feature made available by another one is written after it.
    CFeaturePersistence::LoadFromString("Gamma\t0.5\nGammaEnable\t1\n", map.get());
    EXPECT_DOUBLE_EQ(Get<CFloatPtr>("Gamma")->GetValue(), 0.5);
}

TEST_F(Persistence, AcceptsCommentsBlankLinesAndWindowsLineEnds) {
    CFeaturePersistence::LoadFromString("\xEF\xBB\xBF# a comment\r\n\r\n   \nGainRaw\t100\r\n  # indented comment\n"
                                        "PixelFormat\t Mono12 \nDeviceUserID\tline\\tcam\n",
                                        map.get());
    EXPECT_EQ(Get<CIntegerPtr>("GainRaw")->GetValue(), 100);
    EXPECT_EQ(Get<CEnumerationPtr>("PixelFormat")->ToString(), "Mono12");
    EXPECT_EQ(Get<CStringPtr>("DeviceUserID")->GetValue(), "line\tcam");
    // Strings with characters that would break a line are saved escaped and come back.
    EXPECT_THAT(Save(), HasSubstr("DeviceUserID\tline\\tcam\n"));
    Get<CStringPtr>("DeviceUserID")->SetValue("");
    CFeaturePersistence::LoadFromString(Save(), map.get());
    EXPECT_EQ(Get<CStringPtr>("DeviceUserID")->GetValue(), "");
}

TEST_F(Persistence, RegisterLinesCarryTheBytesInHex) {
    auto lut = Get<CRegisterPtr>("LUTValueAll");
    const auto length = static_cast<std::size_t>(lut->GetLength());
    std::string hex = "0x";
    for (std::size_t i = 0; i < length; ++i)
        hex += i == 1 ? "A5" : "00";
    CFeaturePersistence::LoadFromString("LUTValueAll\t" + hex + "\n", map.get());
    std::vector<uint8_t> bytes(length);
    lut->Get(bytes.data(), static_cast<int64_t>(length));
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[1], 0xA5);
    // A block of the wrong length is refused before anything is written.
    try {
        CFeaturePersistence::LoadFromString("GainRaw\t5\nLUTValueAll\t0x0102\n", map.get());
        FAIL() << "no exception";
    } catch (const GenICam::InvalidArgumentException& e) {
        EXPECT_THAT(e.GetDescription(), HasSubstr("line 2: feature 'LUTValueAll'"));
    }
    EXPECT_EQ(Get<CIntegerPtr>("GainRaw")->GetValue(), 0);
}

// ---------------------------------------------------------------------------------------
// Broken files

struct BrokenCase {
    const char* name;
    const char* bad_line;          // inserted as line 4, after two good lines and a comment
    const char* expected_feature;  // named in the description
    bool raised_before_writing;    // refused by the text check (InvalidArgumentException)
};

const BrokenCase kBroken[] = {
    {"Truncated", "Width", "Width", true},
    {"TruncatedSelector", "TriggerMode\t{TriggerSelector=FrameSt", "TriggerMode", true},
    {"SelectorWithoutValue", "TriggerMode\t{TriggerSelector=FrameStart}", "TriggerMode", true},
    {"UnknownFeature", "NoSuchFeature\t12", "NoSuchFeature", true},
    {"UnknownEntry", "PixelFormat\tMono99", "PixelFormat", true},
    {"UnknownSelectorEntry", "TriggerMode\t{TriggerSelector=Bogus}\tOn", "TriggerMode", true},
    {"NotANumber", "ExposureTimeRaw\t35x", "ExposureTimeRaw", true},
    {"NotAFloat", "TriggerDelayAbs\t{TriggerSelector=FrameStart}\tfast", "TriggerDelayAbs", true},
    {"NotABoolean", "ReverseX\tmaybe", "ReverseX", true},
    {"Command", "AcquisitionStart\t1", "AcquisitionStart", true},
    {"Garbage", "\x01\x02\xff\xfe garbage", "", true},
    {"OutOfRange", "Width\t4000", "Width", false},
    {"OffIncrement", "ExposureTimeRaw\t101", "ExposureTimeRaw", false},
    {"UnavailableEntry", "PixelFormat\tYUV422Packed", "PixelFormat", false},
    {"ReadOnly", "PayloadSize\t100", "PayloadSize", false},
    {"UnavailableFeature", "Gamma\t2.0", "Gamma", false},
};

class BrokenFile : public Persistence, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenFile, IsRefusedNamingLineAndFeatureAndChangesNothing) {
    const BrokenCase& c = GetParam();
    const std::string before = Save();
    // Good lines before and after the bad one: the ones before must not stay written.
    const std::string text = std::string("GainRaw\t200\nBlackLevelRaw\t7\n# comment\n") + c.bad_line +
                             "\nDigitalShift\t2\nTriggerMode\t{TriggerSelector=FrameStart}\tOn\n";
    Spit(File("broken.pfs"), text);

    try {
        CFeaturePersistence::Load(File("broken.pfs"), map.get(), true);
        FAIL() << "no exception";
    } catch (const GenICam::GenericException& e) {
        const std::string description = e.GetDescription();
        EXPECT_THAT(description, HasSubstr(File("broken.pfs")));
        EXPECT_THAT(description, HasSubstr("line 4"));
        EXPECT_THAT(description, HasSubstr(c.expected_feature));
        if (c.raised_before_writing) {
            EXPECT_NE(dynamic_cast<const GenICam::InvalidArgumentException*>(&e), nullptr) << e.what();
        } else {
            EXPECT_THAT(description, HasSubstr("written back"));
        }
    }
    EXPECT_EQ(Save(), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, BrokenFile, ::testing::ValuesIn(kBroken),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Persistence, OutOfRangeKeepsTheNodesExceptionKind) {
    EXPECT_THROW(CFeaturePersistence::LoadFromString("Width\t4000\n", map.get()), GenICam::OutOfRangeException);
    EXPECT_THROW(CFeaturePersistence::LoadFromString("PayloadSize\t1\n", map.get()), GenICam::AccessException);
    try {
        CFeaturePersistence::LoadFromString("GainRaw\t1\nWidth\t4000\n", map.get());
    } catch (const GenICam::GenericException& e) {
        EXPECT_THAT(e.GetDescription(), StartsWith("<string>: line 2: feature 'Width'"));
    }
}

TEST_F(Persistence, MissingFileRaisesNamingTheFile) {
    const std::string before = Save();
    const std::string missing = File("does_not_exist.pfs");
    try {
        CFeaturePersistence::Load(missing, map.get(), true);
        FAIL() << "no exception";
    } catch (const GenICam::RuntimeException& e) {
        EXPECT_THAT(e.GetDescription(), HasSubstr(missing));
    }
    // A directory is no feature file either.
    EXPECT_THROW(CFeaturePersistence::Load(dir.path(), map.get(), true), GenICam::RuntimeException);
    EXPECT_EQ(Save(), before);
}

TEST_F(Persistence, FailedWriteBackIsReported) {
    // The camera refuses BlackLevelRaw in the load, and then GainRaw in the write-back.
    map->FailNextWrite("BlackLevelRaw", EWriteFault::Runtime, "camera busy");
    int gain_writes = 0;
    map->SetWriteHook([&](INode& node, EWritePhase phase) {
        if (phase == EWritePhase::BeforeWrite && node.GetName() == "GainRaw" && ++gain_writes == 2)
            throw GenICam::RuntimeException("link lost");
    });
    try {
        CFeaturePersistence::LoadFromString("GainRaw\t200\nBlackLevelRaw\t7\n", map.get());
        FAIL() << "no exception";
    } catch (const GenICam::RuntimeException& e) {
        EXPECT_THAT(e.GetDescription(), HasSubstr("line 2: feature 'BlackLevelRaw'"));
        EXPECT_THAT(e.GetDescription(), HasSubstr("camera busy"));
        EXPECT_THAT(e.GetDescription(), HasSubstr("partly loaded: could not write back GainRaw"));
    }
    map->SetWriteHook({});
    EXPECT_EQ(gain_writes, 2);
    EXPECT_EQ(Get<CIntegerPtr>("GainRaw")->GetValue(), 200);
    EXPECT_EQ(Get<CIntegerPtr>("BlackLevelRaw")->GetValue(), 32);
}

TEST_F(Persistence, ValuesInForceAreNotWrittenAgain) {
    const std::string settings = Save();
    int writes = 0;
    map->SetWriteHook([&](INode& node, EWritePhase phase) {
        const std::string name = node.GetName();
        const bool selector = name.size() > 8 && name.compare(name.size() - 8, 8, "Selector") == 0;
        writes += phase == EWritePhase::BeforeWrite && !selector;
    });
    // While streaming the layout is locked: loading the settings in force still succeeds ...
    Get<CIntegerPtr>("TLParamsLocked")->SetValue(1);
    writes = 0;
    CFeaturePersistence::LoadFromString(settings, map.get());
    // ... and writes nothing (the selectors are only switched to compare per-entry values) ...
    EXPECT_EQ(writes, 0);
    // ... while a new width is refused and nothing else stays changed.
    const std::string other = "GainRaw\t50\nWidth\t640\n";
    EXPECT_THROW(CFeaturePersistence::LoadFromString(other, map.get()), GenICam::AccessException);
    map->SetWriteHook({});
    Get<CIntegerPtr>("TLParamsLocked")->SetValue(0);
    EXPECT_EQ(Save(), settings);
}

TEST_F(Persistence, WithoutVerificationRefusedValuesAreSkipped) {
    CFeaturePersistence::LoadFromString("Width\t4000\nGainRaw\t123\n", map.get(), false);
    EXPECT_EQ(Get<CIntegerPtr>("GainRaw")->GetValue(), 123);
    EXPECT_EQ(Get<CIntegerPtr>("Width")->GetValue(), 1280);
    // Text errors are refused all the same.
    EXPECT_THROW(CFeaturePersistence::LoadFromString("Width\n", map.get(), false), GenICam::InvalidArgumentException);
}

// ---------------------------------------------------------------------------------------
// Writing the file

TEST_F(Persistence, SaveReplacesAnOldFileWhole) {
    Spit(File("cam.pfs"), std::string(100000, 'x'));
    CFeaturePersistence::Save(File("cam.pfs"), map.get());
    EXPECT_EQ(Slurp(File("cam.pfs")), Save());
    EXPECT_THAT(dir.Files(), ::testing::ElementsAre("cam.pfs"));
}

TEST_F(Persistence, SaveThatCannotReadTheCameraKeepsTheOldFile) {
    Spit(File("cam.pfs"), "old content\n");
    // Switching the trigger selector to read the per-trigger values fails.
    map->FailNextWrite("TriggerSelector", EWriteFault::Timeout, "no answer");
    try {
        CFeaturePersistence::Save(File("cam.pfs"), map.get());
        FAIL() << "no exception";
    } catch (const GenICam::TimeoutException& e) {
        EXPECT_THAT(e.GetDescription(), HasSubstr(File("cam.pfs")));
        EXPECT_THAT(e.GetDescription(), HasSubstr("no answer"));
    }
    EXPECT_EQ(Slurp(File("cam.pfs")), "old content\n");
    EXPECT_THAT(dir.Files(), ::testing::ElementsAre("cam.pfs"));
    EXPECT_EQ(Get<CEnumerationPtr>("TriggerSelector")->ToString(), "AcquisitionStart");
}

TEST_F(Persistence, SaveIntoAMissingDirectoryRaisesAndLeavesNothing) {
    const std::string target = dir.path() + "/no/such/dir/cam.pfs";
    try {
        CFeaturePersistence::Save(target, map.get());
        FAIL() << "no exception";
    } catch (const GenICam::RuntimeException& e) {
        EXPECT_THAT(e.GetDescription(), HasSubstr(target));
    }
    EXPECT_TRUE(dir.Files().empty());
}

TEST_F(Persistence, NoNodeMapIsALogicalError) {
    std::string text;
    EXPECT_THROW(CFeaturePersistence::SaveToString(text, nullptr), GenICam::LogicalErrorException);
    EXPECT_THROW(CFeaturePersistence::LoadFromString("Width\t640\n", nullptr), GenICam::LogicalErrorException);
}

} // namespace
