// The feature tree of a location on an emulated monochrome camera: building and removing
// it, the passes over all features, lookups, the node callback and the feature file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <mirva/server.h>
#include <pylon/FeaturePersistence.h>
#include <pylon/PylonIncludes.h>
#include <pylon/emulator/Emulator.h>

#include "eq_pylon.h"

using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;

namespace {

struct FreeText {
    void operator()(char* p) const { std::free(p); }
};

std::string Str(char* p)
{
    std::unique_ptr<char, FreeText> t(p);
    return t ? std::string(t.get()) : std::string("<null>");
}

bool Published(const GenApi::INode* n)
{
    // Independent of pylon_prop: what the publishing rules let through.
    const GenApi::EAccessMode m = n->GetAccessMode();
    if (m == GenApi::NI || m == GenApi::NA || !(GenApi::IsReadable(m) || GenApi::IsWritable(m)))
        return false;
    for (int i = 0; i < PYLON_FEATURES_BLACK_LIST_SIZE; ++i)
        if (n->GetName() == PYLON_FEATURES_BLACK_LIST[i])
            return false;
    auto* b = const_cast<GenApi::INode*>(n);
    return dynamic_cast<GenApi::IInteger*>(b) || dynamic_cast<GenApi::IFloat*>(b) ||
           dynamic_cast<GenApi::IEnumeration*>(b) || dynamic_cast<GenApi::IBoolean*>(b) ||
           dynamic_cast<GenApi::IString*>(b) || dynamic_cast<GenApi::ICommand*>(b) ||
           dynamic_cast<GenApi::IRegister*>(b);
}

void Walk(GenApi::INode* n, std::vector<std::string>& out)
{
    if (auto* c = dynamic_cast<GenApi::ICategory*>(n)) {
        GenApi::FeatureList_t children;
        c->GetFeatures(children);
        for (GenApi::IValue* v : children)
            Walk(v->GetNode(), out);
        return;
    }
    out.push_back(n->GetName());
}

class FeatureTree : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Feature files are written to the working directory: give the suite its own.
        old_cwd_ = fs::current_path();
        dir_ = fs::temp_directory_path() / ("mirva_feature_tree_" + std::to_string(getpid()));
        fs::create_directories(dir_);
        fs::current_path(dir_);
        Pylon::Emulator::Instance().SetModelsDirectory(MIRVA_SOURCE_DIR "/platform/pylon/models");
    }
    static void TearDownTestSuite()
    {
        fs::current_path(old_cwd_);
        fs::remove_all(dir_);
    }

    void SetUp() override
    {
        for (const auto& e : fs::directory_iterator(dir_))
            fs::remove_all(e.path());
        serial_ = "FT" + std::to_string(++counter_);
        Pylon::Emulator::Instance().Plug({serial_, "mono_area_1280x1024.xml", "", "", "", Pylon::Emulator::EPattern::Counter, {}});
        {
            mirva::LocationCreation scope("CAM1", {});
            loc = std::make_unique<EqFctPylon>();
        }
        Pylon::DeviceInfoList_t list;
        Pylon::CTlFactory::GetInstance().EnumerateDevices(list, false);
        for (const auto& info : list) {
            if (info.GetSerialNumber() == serial_) {
                camera_ = new Pylon::Camera_t();
                camera_->Attach(Pylon::CTlFactory::GetInstance().CreateDevice(info), true);
                camera_->Open();
            }
        }
        ASSERT_NE(camera_, nullptr);
        loc->pCamera = camera_;
        loc->g_sts_.online(1);
        map = dynamic_cast<GenApi::NodeMap*>(camera_->GetDevice()->GetNodeMap());
        ASSERT_NE(map, nullptr);
    }

    void TearDown() override
    {
        if (loc) {
            loc->pCamera = camera_;
            loc->camera_remove_features();
            loc->pCamera = nullptr;
            loc.reset();
        }
        if (camera_) {
            camera_->Close();
            delete camera_;
            camera_ = nullptr;
        }
        Pylon::Emulator::Instance().Unplug(serial_);
        MIRVA_debug = 0;
    }

    // Creation and read-back, as camera initialisation does them.
    void Build()
    {
        ASSERT_FALSE(loc->camera_create_features());
        loc->camera_readback_all_features();
    }
    pylon_prop* Feature(const char* name)
    {
        for (pylon_prop* f : loc->pylon_prop_)
            if (f->node_name == name)
                return f;
        return nullptr;
    }
    int Index(const char* name)
    {
        for (size_t i = 0; i < loc->pylon_prop_.size(); ++i)
            if (loc->pylon_prop_[i]->node_name == name)
                return static_cast<int>(i);
        return -1;
    }
    static void Write(D_fct* p, mirva::ClientValue v) { ASSERT_EQ(p->client_write(v).code, mirva::WriteResult::ok); }
    std::vector<std::string> NamesOfGroup(int group)
    {
        std::vector<std::string> names;
        loc->for_each_property([&](D_fct& p) {
            if (loc->property_group(&p) == group)
                names.push_back(p.name());
        });
        return names;
    }
    int GroupCount(int group)
    {
        int n = 0;
        loc->for_each_property([&](D_fct& p) { n += loc->property_group(&p) == group ? 1 : 0; });
        return n;
    }

    std::unique_ptr<EqFctPylon> loc;
    GenApi::NodeMap* map = nullptr;

private:
    Pylon::Camera_t* camera_ = nullptr;

protected:
    std::string serial_;

private:
    static inline int counter_ = 0;
    static inline fs::path dir_;
    static inline fs::path old_cwd_;
};

TEST_F(FeatureTree, ListFollowsTheCategoryTreeDepthFirstAndHoldsOnlyPublishedNodes)
{
    Build();
    const auto& list = loc->pylon_prop_;
    ASSERT_GT(list.size(), 100u);

    std::vector<std::string> walk;
    Walk(map->GetNode("Root"), walk);
    std::vector<std::string> expected;
    for (const std::string& n : walk)
        if (Published(map->GetNode(n)))
            expected.push_back(n);
    std::vector<std::string> got;
    for (pylon_prop* f : list) {
        EXPECT_NE(f, nullptr);
        EXPECT_NE(f->type, PYLON_TYPE_UNDEF);
        got.push_back(f->node_name);
    }
    EXPECT_EQ(got, expected);

    // Registers and enumerations without an available entry are kept without properties;
    // every other feature has its main property in the feature group.
    for (pylon_prop* f : list) {
        SCOPED_TRACE(f->node_name);
        const bool bare = f->type == PYLON_TYPE_REGISTER || (f->type == PYLON_TYPE_ENUMER && f->maxVal.ival == 0);
        if (bare) {
            EXPECT_EQ(f->d_fct.ival, nullptr);
            EXPECT_EQ(f->type_, nullptr);
        } else {
            ASSERT_NE(f->type_, nullptr);
            EXPECT_EQ(loc->property_group(f->type_), 2);
            EXPECT_EQ(f->type_->value(), f->type);
        }
    }

    EXPECT_EQ(Index("TLParamsLocked"), -1);
    EXPECT_EQ(Index("LUTSelector"), -1);
    ASSERT_NE(Feature("LUTValueAll"), nullptr);
    EXPECT_EQ(Feature("LUTValueAll")->type, PYLON_TYPE_REGISTER);
    EXPECT_EQ(Feature("Width")->acq_restart, 1);
    EXPECT_EQ(Feature("DeviceUserID")->acq_restart, 0);
    EXPECT_LT(Index("GainRaw"), Index("Width"));
    // The location has a WIDTH property of its own: the feature's main property is
    // WIDTH.PYLON, its sub-properties keep the plain base name.
    EXPECT_EQ(Feature("Width")->d_fct.ival->name(), "WIDTH.PYLON");
    EXPECT_EQ(loc->property_group(loc->find_property("WIDTH.PYLON")), 2);
    EXPECT_EQ(loc->property_group(loc->find_property("WIDTH.TYPE")), 2);
    EXPECT_EQ(loc->property_group(loc->find_property("WIDTH")), 0);
}

TEST_F(FeatureTree, MainPropertiesCarryTheCamerasDisplayNameLevelNotationAndCategoryPath)
{
    Build();
    auto presentation = [&](const char* node) -> mirva::FeaturePresentation {
        pylon_prop* f = Feature(node);
        EXPECT_NE(f, nullptr) << node;
        if (!f)
            return {};
        D_fct* main = f->type == PYLON_TYPE_FLOAT ? static_cast<D_fct*>(f->d_fct.fval)
                      : (f->type == PYLON_TYPE_ENUMER || f->type == PYLON_TYPE_STRING)
                          ? static_cast<D_fct*>(f->d_fct.sval)
                          : static_cast<D_fct*>(f->d_fct.ival);
        auto s = main->snapshot();
        EXPECT_TRUE(s.presentation.has_value()) << node;
        return s.presentation.value_or(mirva::FeaturePresentation{});
    };
    using V = std::vector<std::string>;
    auto exposure = presentation("ExposureTimeRaw");
    EXPECT_EQ(exposure.display_name, "Exposure Time (Raw)");
    EXPECT_EQ(exposure.visibility, "Beginner");
    EXPECT_EQ(exposure.representation, "PureNumber");  // the description names none
    EXPECT_EQ(exposure.category_path, V{"Acquisition Controls"});

    auto ip = presentation("GevCurrentIPAddress");
    EXPECT_EQ(ip.display_name, "Current IP Address");
    EXPECT_EQ(ip.representation, "IPV4Address");
    EXPECT_EQ(ip.category_path, V{"Transport Layer"});
    auto mac = presentation("GevMACAddress");
    EXPECT_EQ(mac.visibility, "Expert");
    EXPECT_EQ(mac.representation, "MACAddress");

    // A category inside a category: the path names both, outermost first.
    EXPECT_EQ(presentation("EventExposureEnd").category_path, (V{"Event Generation", "Exposure End Event Data"}));
    EXPECT_EQ(presentation("ChunkEnable").category_path, V{"Chunk Data Streams"});

    // Texts and enumerations have no numeric notation; sub-properties carry nothing.
    auto user = presentation("DeviceUserID");
    EXPECT_EQ(user.display_name, "Device User ID");
    EXPECT_EQ(user.representation, "");
    EXPECT_FALSE(Feature("ExposureTimeRaw")->type_->snapshot().presentation.has_value());
}

TEST_F(FeatureTree, RemovalTakesEveryFeaturePropertyAndRebuildingStartsClean)
{
    Build();
    const size_t features = loc->pylon_prop_.size();
    const std::vector<std::string> before = NamesOfGroup(2);
    ASSERT_GT(before.size(), features);

    ASSERT_FALSE(loc->camera_create_features());  // the old list goes first
    EXPECT_EQ(loc->pylon_prop_.size(), features);
    EXPECT_EQ(NamesOfGroup(2), before);  // no name taken twice, so no new PYLON suffix

    testing::internal::CaptureStderr();
    EXPECT_FALSE(loc->camera_remove_features());
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_THAT(out, HasSubstr("CAM1: camera_remove_features() called"));
    EXPECT_THAT(out, HasSubstr("CAM1: let's go"));
    EXPECT_TRUE(loc->pylon_prop_.empty());
    EXPECT_EQ(GroupCount(2), 0);
}

TEST_F(FeatureTree, WithoutCameraNothingIsBuiltOrRemoved)
{
    Build();
    const size_t features = loc->pylon_prop_.size();
    Pylon::Camera_t* cam = loc->pCamera;
    loc->pCamera = nullptr;
    EXPECT_FALSE(loc->camera_remove_features());
    EXPECT_EQ(loc->pylon_prop_.size(), features);
    EXPECT_TRUE(loc->camera_create_features());
    EXPECT_EQ(loc->camera_update_features(1), -1);
    EXPECT_EQ(loc->camera_find_feature_by_name("Width"), nullptr);
    loc->pCamera = cam;
}

TEST_F(FeatureTree, WritePassCountsWritesAndHonoursTheMode)
{
    Build();
    EXPECT_GT(loc->camera_update_features(1), 0);  // first pass writes every valid feature
    EXPECT_EQ(loc->camera_update_features(1), 0);

    pylon_prop* exposure = Feature("ExposureTimeRaw");
    pylon_prop* user = Feature("DeviceUserID");
    ASSERT_NE(exposure, nullptr);
    ASSERT_NE(user, nullptr);
    ASSERT_EQ(exposure->acq_restart, 1);
    ASSERT_EQ(user->acq_restart, 0);
    Write(exposure->d_fct.ival, int64_t{7000});
    Write(user->d_fct.sval, std::string("left camera"));

    EXPECT_EQ(loc->camera_update_features(2), 1);  // outside the acquisition categories only
    EXPECT_EQ(map->GetStringUnchecked("DeviceUserID"), "left camera");
    EXPECT_TRUE(exposure->is_changed());
    EXPECT_EQ(loc->camera_update_features(3), 1);
    EXPECT_EQ(map->GetIntegerUnchecked("ExposureTimeRaw"), 7000);
    EXPECT_EQ(exposure->d_fct.ival->value(), 7000);
    EXPECT_EQ(loc->camera_update_features(1), 0);
}

TEST_F(FeatureTree, WritePassRejectsUnknownModesAndIsQuietWhenNothingIsWritten)
{
    Build();
    MIRVA_debug = 64;
    testing::internal::CaptureStderr();
    EXPECT_EQ(loc->camera_update_features(0), -1);
    EXPECT_EQ(loc->camera_update_features(4), -1);
    const std::string bad = testing::internal::GetCapturedStderr();
    EXPECT_THAT(bad, HasSubstr("CAM1: Invalid update mode 0 must be between 1 3"));
    EXPECT_THAT(bad, HasSubstr("CAM1: Invalid update mode 4 must be between 1 3"));

    loc->camera_update_features(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(loc->camera_update_features(1), 0);
    const std::string idle = testing::internal::GetCapturedStderr();
    EXPECT_THAT(idle, HasSubstr("WE ARE UPDATING"));
    EXPECT_THAT(idle, Not(HasSubstr("WE ARE UPDATING FEATURES FINISHED")));
}

TEST_F(FeatureTree, RefusedWriteEndsThePassLatchesTheFailureAndTakesTheLocationOffLine)
{
    Build();
    loc->camera_update_features(1);
    pylon_prop* exposure = Feature("ExposureTimeRaw");
    Write(exposure->d_fct.ival, int64_t{7001});  // off the increment of 5
    testing::internal::CaptureStderr();
    EXPECT_EQ(loc->camera_update_features(1), -2);
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_THAT(out, HasSubstr("CAM1: ExposureTimeRaw [" + std::to_string(Index("ExposureTimeRaw")) +
                               "] !!!!!! updateing limit after catching exception _. "));
    EXPECT_TRUE(loc->exeption);
    EXPECT_EQ(loc->g_sts_.online(), 0);
    EXPECT_EQ(pthread_mutex_trylock(&loc->cbk_mx), 0);  // released on the failure path
    pthread_mutex_unlock(&loc->cbk_mx);

    // Everything returns at once until the location is set up again.
    EXPECT_EQ(loc->camera_update_features(1), 1);
    EXPECT_EQ(loc->camera_find_feature_by_name("Width"), nullptr);
    EXPECT_EQ(loc->camera_get_feature_by_name("Width", true), nullptr);
    EXPECT_TRUE(loc->camera_reset_feature_value("Width"));
    EXPECT_TRUE(loc->camera_save_features());
    EXPECT_TRUE(loc->camera_load_features());
    EXPECT_FALSE(fs::exists("CAM1.pfs"));
    loc->exeption = false;
}

TEST_F(FeatureTree, LimitPassFollowsLimitsThatDependOnOtherFeatures)
{
    Build();
    loc->camera_update_features(1);
    pylon_prop* width = Feature("Width");
    pylon_prop* offset = Feature("OffsetX");
    const int full = width->d_fct.ival->value();
    ASSERT_EQ(width->d_fct.ival->get_max(), full);

    ASSERT_NE(offset, nullptr);
    map->SetIntegerUnchecked("OffsetX", full / 2 + 64);  // moved on the camera's side
    loc->camera_update_limits();
    // Width's maximum fell below the shown width: the limit pass clamps the shown value
    // and leaves it pending, and the next write pass sends it.
    const int max = width->d_fct.ival->get_max();
    EXPECT_EQ(max, full / 2 - 64);
    EXPECT_EQ(width->d_fct.ival->value(), max);
    EXPECT_EQ(width->egu_->f2(), static_cast<float>(max));
    EXPECT_TRUE(width->is_changed());
    EXPECT_EQ(loc->camera_update_features(1), 1);
    EXPECT_EQ(map->GetIntegerUnchecked("Width"), max);

    loc->exeption = true;  // a latched failure stops the limit pass
    map->SetIntegerUnchecked("OffsetX", 0);
    loc->camera_update_limits();
    EXPECT_EQ(width->d_fct.ival->get_max(), max);
    loc->exeption = false;
}

TEST_F(FeatureTree, WriteToARemovedCameraEndsThePass)
{
    Build();
    loc->camera_update_features(1);
    ASSERT_TRUE(Pylon::Emulator::Instance().Unplug(serial_));
    Write(Feature("GainRaw")->d_fct.ival, int64_t{Feature("GainRaw")->d_fct.ival->value() + 1});
    testing::internal::CaptureStderr();
    EXPECT_EQ(loc->camera_update_features(1), -2);
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                HasSubstr("CAM1: GainRaw [" + std::to_string(Index("GainRaw")) +
                          "] !!!!!! updateing limit after catching exception _."));
    EXPECT_TRUE(loc->exeption);
    EXPECT_EQ(loc->g_sts_.online(), 0);
}

TEST_F(FeatureTree, LookupIsByExactNodeName)
{
    Build();
    pylon_prop* w = loc->camera_find_feature_by_name("Width");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->node_name, "Width");
    EXPECT_EQ(loc->camera_find_feature_by_name("width"), nullptr);
    EXPECT_EQ(loc->camera_find_feature_by_name("WIDTH"), nullptr);
    EXPECT_EQ(Str(loc->camera_get_feature_by_name("Width", true)), std::to_string(map->GetIntegerUnchecked("Width")));
    EXPECT_EQ(loc->camera_get_feature_by_name("NoSuchFeature", true), nullptr);

    const int width = w->d_fct.ival->value();
    Write(w->d_fct.ival, int64_t{640});
    EXPECT_FALSE(loc->camera_reset_feature_value("Width"));  // the request is dropped
    EXPECT_FALSE(w->d_fct.ival->is_changed());
    EXPECT_EQ(w->d_fct.ival->value(), width);
    EXPECT_TRUE(loc->camera_reset_feature_value("NoSuchFeature"));
}

TEST_F(FeatureTree, NodeCallbackRefreshesUnlessTheChangeWasLocal)
{
    Build();
    pylon_prop* w = Feature("Width");
    Write(w->d_fct.ival, int64_t{640});
    testing::internal::CaptureStderr();
    loc->camera_staticcallback(w->node.get());
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("CAM1: WE HAVE TO CHANGE Width"));
    EXPECT_FALSE(w->d_fct.ival->is_changed());

    w->locally_changed = true;
    testing::internal::CaptureStderr();
    loc->camera_staticcallback(w->node.get());
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("CAM1: WE DON'T HAVE TO CHANGE Width"));
    EXPECT_FALSE(w->locally_changed);
}

TEST_F(FeatureTree, WritePassAndNodeCallbackNeverInterleave)
{
    Build();
    loc->camera_update_features(1);
    pylon_prop* gain = Feature("GainRaw");
    const int lo = gain->d_fct.ival->get_min();
    std::thread callbacks([&] {
        for (int i = 0; i < 200; ++i)
            loc->camera_staticcallback(gain->node.get());
    });
    testing::internal::CaptureStderr();
    for (int i = 0; i < 200; ++i) {
        Write(gain->d_fct.ival, int64_t{lo + i % 2});
        EXPECT_GE(loc->camera_update_features(1), 0);
    }
    callbacks.join();
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(loc->exeption);
}

TEST_F(FeatureTree, SaveChangeLoadGivesBackTheSavedValues)
{
    Build();
    loc->camera_update_features(1);
    const int64_t exposure = map->GetIntegerUnchecked("ExposureTimeRaw");
    const int64_t gain = map->GetIntegerUnchecked("GainRaw");
    loc->config_file_.set_value("");
    EXPECT_FALSE(loc->camera_save_features());
    EXPECT_EQ(loc->save_config_.value(), 0);
    EXPECT_TRUE(fs::is_regular_file("CAM1.pfs"));

    Write(Feature("ExposureTimeRaw")->d_fct.ival, int64_t{exposure + 35});
    Write(Feature("GainRaw")->d_fct.ival, int64_t{gain + 1});
    EXPECT_EQ(loc->camera_update_features(1), 2);
    ASSERT_EQ(map->GetIntegerUnchecked("ExposureTimeRaw"), exposure + 35);

    testing::internal::CaptureStderr();
    EXPECT_FALSE(loc->camera_load_features());
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("CAM1: Configurstion from CAM1.pfs has been loaded"));
    EXPECT_EQ(loc->load_config_.value(), 0);
    EXPECT_EQ(map->GetIntegerUnchecked("ExposureTimeRaw"), exposure);
    EXPECT_EQ(map->GetIntegerUnchecked("GainRaw"), gain);
    // Every writable feature shows the loaded value and has nothing pending.
    EXPECT_EQ(Feature("ExposureTimeRaw")->d_fct.ival->value(), exposure);
    EXPECT_EQ(Feature("GainRaw")->d_fct.ival->value(), gain);
    EXPECT_EQ(loc->camera_update_features(1), 0);
}

TEST_F(FeatureTree, FileNameComesFromTheLocationAndConfFile)
{
    Build();
    loc->config_file_.set_value("day");
    EXPECT_FALSE(loc->camera_save_features());
    EXPECT_TRUE(fs::is_regular_file("CAM1_day"));
    EXPECT_FALSE(fs::exists("CAM1.pfs"));
    EXPECT_FALSE(loc->camera_load_features());
    EXPECT_EQ(loc->load_config_.value(), 0);
    // The save leaves no temporary file behind.
    int files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(fs::current_path()))
        ++files;
    EXPECT_EQ(files, 1);
}

TEST_F(FeatureTree, MissingOrBrokenFileFailsTheLoadAndLeavesTheCameraAlone)
{
    Build();
    loc->camera_update_features(1);
    const int64_t exposure = map->GetIntegerUnchecked("ExposureTimeRaw");

    loc->config_file_.set_value("missing");
    testing::internal::CaptureStderr();
    EXPECT_TRUE(loc->camera_load_features());
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                HasSubstr("CAM1: Problem with conf. file CAM1_missing ... loading will be skipped"));
    EXPECT_EQ(loc->load_config_.value(), -1);

    {
        std::ofstream f("CAM1_broken");
        f << "# {05D8C294-F295-4dfb-9D01-096BD04049F4}\nExposureTimeRaw\t35\nGainRaw\tnot-a-number\nWidth";
    }
    loc->config_file_.set_value("broken");
    testing::internal::CaptureStderr();
    EXPECT_TRUE(loc->camera_load_features());
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("CAM1: camera_load_fatures() An exception occurred! "));
    EXPECT_EQ(loc->load_config_.value(), -1);
    EXPECT_EQ(map->GetIntegerUnchecked("ExposureTimeRaw"), exposure);
    EXPECT_FALSE(loc->exeption);  // a failed load keeps the location on line
    EXPECT_EQ(loc->g_sts_.online(), 1);
}

TEST_F(FeatureTree, EmptyOrFeaturelessFileFailsTheLoadAndAnotherModelsFileWarns)
{
    Build();
    loc->camera_update_features(1);
    for (const char* text : {"", "# {05D8C294-F295-4dfb-9D01-096BD04049F4}\n# Device = x\n\n"}) {
        std::ofstream("CAM1_empty") << text;
        loc->config_file_.set_value("empty");
        testing::internal::CaptureStderr();
        EXPECT_TRUE(loc->camera_load_features());
        EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("CAM1_empty: the file holds no feature to load"));
        EXPECT_EQ(loc->load_config_.value(), -1);
    }

    loc->config_file_.set_value("");
    ASSERT_FALSE(loc->camera_save_features());
    std::string saved;
    {
        std::ifstream in("CAM1.pfs");
        saved.assign(std::istreambuf_iterator<char>(in), {});
    }
    const auto at = saved.find("# Device = ");
    ASSERT_NE(at, std::string::npos);
    const auto end = saved.find('\n', at);
    const std::string model = saved.substr(at + 11, end - at - 11);
    std::ofstream("CAM1.pfs") << saved.substr(0, at) << "# Device = other_model" << saved.substr(end);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(loc->camera_load_features());
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                HasSubstr("warning: feature file CAM1.pfs was made for model other_model, this camera is model " + model));
    EXPECT_EQ(loc->load_config_.value(), 0);
    // Its own file loads without the warning.
    std::ofstream("CAM1.pfs") << saved;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(loc->camera_load_features());
    EXPECT_THAT(testing::internal::GetCapturedStderr(), Not(HasSubstr("warning")));
}

TEST_F(FeatureTree, ConfFileThatWouldLeaveTheWorkingDirectoryIsRefused)
{
    Build();
    const std::string texts[] = {"../escape", "sub/dir", "a..b", std::string("nul\0x", 5), "line\nbreak", "tab\there"};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        loc->config_file_.set_value(text);
        if (loc->config_file_.value() != text)
            continue;  // the host keeps no such text
        loc->save_config_.set_value(1);
        loc->load_config_.set_value(1);
        testing::internal::CaptureStderr();
        EXPECT_TRUE(loc->camera_save_features());
        EXPECT_TRUE(loc->camera_load_features());
        const std::string out = testing::internal::GetCapturedStderr();
        EXPECT_THAT(out, HasSubstr("refused CONF.FILE"));
        EXPECT_EQ(loc->save_config_.value(), -1);
        EXPECT_EQ(loc->load_config_.value(), -1);
        EXPECT_FALSE(loc->exeption);
    }
    EXPECT_TRUE(fs::is_empty(fs::current_path()));
    EXPECT_FALSE(fs::exists(fs::current_path().parent_path() / "CAM1_../escape"));
}

TEST_F(FeatureTree, FailedSaveLatchesTheFailureAndSaveWithoutCameraStillStamps)
{
    Build();
    fs::create_directory("CAM1_dir");  // a directory where the file should go
    loc->config_file_.set_value("dir");
    testing::internal::CaptureStderr();
    EXPECT_TRUE(loc->camera_save_features());
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                HasSubstr("CAM1: camera_save_fatures() An exception occurred! file name: CAM1_dir error: "));
    EXPECT_TRUE(loc->exeption);
    EXPECT_EQ(loc->g_sts_.online(), 0);
    EXPECT_EQ(loc->save_config_.value(), -1);
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(fs::current_path()))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"CAM1_dir"});  // no temporary file left behind
    EXPECT_TRUE(fs::is_empty("CAM1_dir"));
    loc->exeption = false;

    Pylon::Camera_t* cam = loc->pCamera;
    loc->pCamera = nullptr;
    loc->last_config_save = 0;
    EXPECT_TRUE(loc->camera_save_features());
    EXPECT_EQ(loc->save_config_.value(), -1);
    EXPECT_GT(loc->last_config_save.load(), 0);
    EXPECT_TRUE(loc->camera_load_features());
    EXPECT_EQ(loc->load_config_.value(), -1);
    loc->pCamera = cam;
}

} // namespace
