#include <mirva/server/state_store.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using mirva::server::PropertyValues;
using mirva::server::StateStore;

namespace {

struct StateStoreTest : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("mirva_state_" + std::to_string(::getpid()) + "_" +
                                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::vector<std::string> lines;
    StateStore::Report report = [this](const std::string& l) { lines.push_back(l); };
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
};

} // namespace

TEST_F(StateStoreTest, MissingFileStartsFromConfiguration) {
    StateStore s(dir / "a.state", report);
    EXPECT_TRUE(s.load());
    PropertyValues conf{{"SERIAL", "5"}};
    EXPECT_EQ(s.initial_values("CAM1", conf), conf);
}

TEST_F(StateStoreTest, ClientSettingSurvivesRestartUnlessConfigurationWasEdited) {
    PropertyValues conf{{"SERIAL", "5"}, {"RESTORE_OLD", "1"}};
    {
        StateStore s(dir / "a.state", report);
        s.load();
        s.record("CAM1", {{"EXPOSURETIMERAW", "5000"}, {"SERIAL", "5"}, {"RESTORE_OLD", "0"}}, conf);
        ASSERT_TRUE(s.save());
    }
    StateStore s(dir / "a.state", report);
    ASSERT_TRUE(s.load());
    auto v = s.initial_values("CAM1", conf);
    EXPECT_EQ(v.at("EXPOSURETIMERAW"), "5000");
    EXPECT_EQ(v.at("RESTORE_OLD"), "0");  // a client changed it, the configuration did not
    conf["RESTORE_OLD"] = "1";
    conf["SERIAL"] = "7";                 // the configuration was edited: it wins
    v = s.initial_values("CAM1", conf);
    EXPECT_EQ(v.at("SERIAL"), "7");
    EXPECT_EQ(v.at("EXPOSURETIMERAW"), "5000");
}

TEST_F(StateStoreTest, RecordKeepsValuesOfPropertiesThatAreGoneForNow) {
    StateStore s(dir / "a.state", report);
    s.record("CAM1", {{"GAINRAW", "300"}, {"START", "1"}}, {});
    s.record("CAM1", {{"START", "0"}}, {});  // the camera was unplugged: its features are not published
    ASSERT_TRUE(s.save());
    StateStore t(dir / "a.state", report);
    ASSERT_TRUE(t.load());
    auto v = t.initial_values("CAM1", {});
    EXPECT_EQ(v.at("GAINRAW"), "300");
    EXPECT_EQ(v.at("START"), "0");
}

TEST_F(StateStoreTest, CorruptFileIsKeptAsideAndReported) {
    {
        std::ofstream(dir / "a.state") << "[locations.CAM1.values\nGAIN = ";
    }
    StateStore s(dir / "a.state", report);
    EXPECT_FALSE(s.load());
    EXPECT_FALSE(fs::exists(dir / "a.state"));
    int aside = 0;
    for (auto& e : fs::directory_iterator(dir))
        aside += e.path().filename().string().rfind("a.state.corrupt-", 0) == 0;
    EXPECT_EQ(aside, 1);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("is corrupt"), std::string::npos) << lines.back();
    EXPECT_EQ(s.initial_values("CAM1", {{"A", "1"}}).at("A"), "1");
}

TEST_F(StateStoreTest, EmptyFileIsCorruptToo) {
    std::ofstream(dir / "a.state").close();
    StateStore s(dir / "a.state", report);
    EXPECT_FALSE(s.load());
    EXPECT_FALSE(fs::exists(dir / "a.state"));
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("is corrupt (the file is empty)"), std::string::npos) << lines.back();
}

TEST_F(StateStoreTest, SaveLeavesNoTemporaryFileAndReportsUnwritableDirectory) {
    StateStore s(dir / "a.state", report);
    s.record("CAM1", {{"A", "quoted \"text\" with = and #"}}, {});
    ASSERT_TRUE(s.save());
    EXPECT_FALSE(fs::exists(dir / "a.state.tmp"));
    StateStore t(dir / "a.state", report);
    ASSERT_TRUE(t.load());
    EXPECT_EQ(t.initial_values("CAM1", {}).at("A"), "quoted \"text\" with = and #");

    StateStore bad(dir / "missing-dir" / "b.state", report);
    bad.record("CAM1", {{"A", "1"}}, {});
    EXPECT_FALSE(bad.save());
    EXPECT_NE(lines.back().find("state file not saved"), std::string::npos);
}
