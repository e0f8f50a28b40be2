#include <mirva/server/camera_server.h>

#include <mirva/d_fct.h>
#include <mirva/location_list.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace fs = std::filesystem;
using namespace mirva::server;

namespace {

std::vector<std::string> g_calls;  // lifecycle calls of the fake locations, main thread only

class FakeLocation : public EqFct {
public:
    D_int value_{"VALUE a setting a client may change", this};
    D_string text_{"TEXT a text setting", this};
    std::atomic<int> updates{0};
    static inline std::mutex update_mx;
    static inline std::condition_variable update_cv;

    int fct_code() override { return 900; }
    void init() override { g_calls.push_back(std::string(name()) + ".init"); }
    void post_init() override { g_calls.push_back(std::string(name()) + ".post_init"); }
    void update() override {
        {
            std::lock_guard lk(update_mx);
            ++updates;
        }
        update_cv.notify_all();
    }
    void cancel() override { g_calls.push_back(std::string(name()) + ".cancel"); }
    ~FakeLocation() override { g_calls.push_back(std::string(name()) + ".destroyed"); }
};

struct CameraServerTest : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("mirva_server_" + std::to_string(::getpid()));
    ServerConfig config;
    void SetUp() override {
        g_calls.clear();
        fs::create_directories(dir);
        config.source = "test.toml";
        config.state_file = dir / "server.state";
        config.update_period = std::chrono::milliseconds(10);
        config.locations = {{"LOC1", 900, {{"VALUE", "7"}}}, {"LOC2", 900, {{"TEXT", "configured"}}}};
    }
    void TearDown() override { fs::remove_all(dir); }
    static std::unique_ptr<EqFct> factory(int code) {
        return code == 900 ? std::make_unique<FakeLocation>() : nullptr;
    }
};

} // namespace

TEST_F(CameraServerTest, LifecycleInOrderAndConfiguredValuesRestored) {
    {
        CameraServer server(config, factory);
        server.start();
        ASSERT_EQ(server.locations().size(), 2u);
        auto* loc1 = dynamic_cast<FakeLocation*>(server.locations()[0]);
        EXPECT_STREQ(loc1->name(), "LOC1");
        EXPECT_EQ(loc1->value_.value(), 7);
        EXPECT_EQ(dynamic_cast<FakeLocation*>(server.locations()[1])->text_.value(), "configured");
        server.update_cycle();
        server.update_cycle();
        EXPECT_EQ(loc1->updates, 2);
        server.shutdown();
    }
    std::vector<std::string> expected{"LOC1.init",   "LOC2.init",      "LOC1.post_init", "LOC2.post_init",
                                      "LOC1.cancel", "LOC2.cancel",    "LOC1.destroyed", "LOC2.destroyed"};
    EXPECT_EQ(g_calls, expected);
}

TEST_F(CameraServerTest, ConfiguredNameNoPropertyTakesIsReportedOnce) {
    config.locations[0].properties["VALEU"] = "3";
    CameraServer server(config, factory);
    testing::internal::CaptureStderr();
    server.start();
    server.update_cycle();
    server.update_cycle();
    const std::string log = testing::internal::GetCapturedStderr();
    server.shutdown();
    const std::string line = "location LOC1: configured property VALEU = 3 is not a property of this location";
    const auto first = log.find(line);
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find(line, first + 1), std::string::npos) << log;
    EXPECT_EQ(log.find("configured property VALUE "), std::string::npos) << log;
    EXPECT_EQ(log.find("configured property TEXT "), std::string::npos) << log;
}

TEST_F(CameraServerTest, ClientValuesSurviveRestart) {
    {
        CameraServer server(config, factory);
        server.start();
        auto* loc2 = dynamic_cast<FakeLocation*>(server.locations()[1]);
        loc2->value_.set_value(42);
        server.shutdown();  // saves the state first
    }
    CameraServer server(config, factory);
    server.start();
    EXPECT_EQ(dynamic_cast<FakeLocation*>(server.locations()[1])->value_.value(), 42);
    EXPECT_EQ(dynamic_cast<FakeLocation*>(server.locations()[0])->value_.value(), 7);
}

TEST_F(CameraServerTest, RunStopsPromptlyFromAnotherThread) {
    CameraServer server(config, factory);
    server.start();
    std::thread stopper([&] {
        // Let a few cycles pass, then stop: run() returns once the stop is seen.
        auto* loc = dynamic_cast<FakeLocation*>(server.locations()[0]);
        std::unique_lock lk(FakeLocation::update_mx);
        FakeLocation::update_cv.wait_for(lk, std::chrono::seconds(10), [&] { return loc->updates >= 3; });
        lk.unlock();
        server.stop();
    });
    server.run();
    stopper.join();
    EXPECT_GE(dynamic_cast<FakeLocation*>(server.locations()[0])->updates, 3);
}

TEST_F(CameraServerTest, UnknownTypeCodeIsRefused) {
    config.locations[1].type_code = 901;
    CameraServer server(config, factory);
    EXPECT_THROW(server.start(), ConfigError);
}
