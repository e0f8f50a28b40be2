// Fault soak: the server core with two emulated cameras acquiring, driven in-process
// through random cycles of unplug and plug, stalls, failed grabs, client writes,
// START switching and feature-file saves and loads. After every cycle each location
// must be back on line with frames within a bounded time, the last value a client
// wrote must be in force (in the property and in the camera), and the process must be
// back to its baseline number of threads.
//
// The seed comes from MIRVA_SOAK_SEED (default fixed) and is printed with every failure;
// it fixes the sequence of faults, locations, pauses and written values (a write that
// races a set-up finds its feature there or not as timing has it). MIRVA_SOAK_SECONDS
// bounds the time spent in cycles (default 45), MIRVA_SOAK_CYCLES their number.
// Client writes also land while a location sets itself up again after a plug;
// MIRVA_SOAK_SETUP_WRITES=0 leaves those out.
#include <gtest/gtest.h>

#include <dirent.h>
#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <mirva/bcam_base.h>
#include <mirva/server/camera_server.h>
#include <pylon/PylonIncludes.h>
#include <pylon/emulator/Emulator.h>

#include "eq_pylon.h"
#include "pylon_lock.h"

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

namespace {

namespace emu = Pylon::Emulator;

uint64_t env_number(const char* name, uint64_t fallback)
{
    const char* text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    return (end && *end == '\0') ? v : fallback;
}

// The thread name of one task of this process.
std::string task_name(const char* task)
{
    std::string name;
    if (FILE* f = std::fopen(("/proc/self/task/" + std::string(task) + "/comm").c_str(), "r")) {
        char buf[64] = {};
        if (std::fgets(buf, sizeof buf, f))
            name = buf;
        std::fclose(f);
    }
    while (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name;
}

// The process's threads, less the SDK's one callback thread (started at the first
// device removal and kept for the process's life; a second one would count).
int thread_count()
{
    int n = 0;
    bool callback_seen = false;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            if (!callback_seen && task_name(e->d_name) == "pylon_callback") {
                callback_seen = true;
                continue;
            }
            ++n;
        }
        closedir(d);
    }
    return n;
}

// The names of the process's threads, for a failure message.
std::string thread_names()
{
    std::map<std::string, int> names;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            const std::string name = task_name(e->d_name);
            ++names[name];
        }
        closedir(d);
    }
    std::string out;
    for (const auto& [name, n] : names)
        out += (out.empty() ? "" : ", ") + name + " x" + std::to_string(n);
    return out;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto end = clock_type::now() + timeout;
    while (!condition()) {
        if (clock_type::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string text_of(const mirva::ClientValue& v)
{
    if (auto* i = std::get_if<int64_t>(&v))
        return std::to_string(*i);
    if (auto* s = std::get_if<std::string>(&v))
        return *s;
    if (auto* d = std::get_if<double>(&v)) {
        std::ostringstream o;
        o << *d;
        return o.str();
    }
    return "?";
}

// A camera feature the soak writes: its property and its node.
struct Feature {
    const char* property;
    const char* node;
    int64_t cap;  // highest value written (long exposures would slow the frames down)
};
constexpr Feature numeric_features[] = {
    {"GAINRAW", "GainRaw", 1 << 30},
    {"BLACKLEVELRAW", "BlackLevelRaw", 1 << 30},
    {"EXPOSURETIMERAW", "ExposureTimeRaw", 20000},
    {"WIDTH.PYLON", "Width", 1 << 30},  // inside the acquisition set-up: restarts the stream
};
constexpr Feature enum_feature{"TESTIMAGESELECTOR", "TestImageSelector", 0};

enum Kind { unplug, unplug_with_writes, stall, failed_grab, writes, start_switch, save_load, n_kinds };
const char* const kind_names[n_kinds] = {"unplug",        "unplug+writes", "stall", "failed grab",
                                         "writes",        "START 0/1",     "save+load"};

struct Site {
    std::string serial;
    std::string model;
    EqFctPylon* loc = nullptr;
    std::map<std::string, mirva::ClientValue> expected;  // last accepted client write per property
};

class FaultSoak : public ::testing::Test {
protected:
    void SetUp() override
    {
        seed_ = env_number("MIRVA_SOAK_SEED", 20261207);
        budget_ = std::chrono::seconds(env_number("MIRVA_SOAK_SECONDS", 45));
        max_cycles_ = env_number("MIRVA_SOAK_CYCLES", 100000);
        setup_writes_ = env_number("MIRVA_SOAK_SETUP_WRITES", 1) != 0;
        rng_.seed(seed_);
        dir_ = fs::temp_directory_path() / ("mirva_soak_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        // Feature files are written to the working directory.
        old_cwd_ = fs::current_path();
        fs::current_path(dir_);
        Pylon::PylonInitialize();
        emu::Instance().Reset();
    }

    void TearDown() override
    {
        if (server_) {
            server_->stop();
            if (updater_.joinable())
                updater_.join();
            server_->shutdown();
            server_.reset();
        }
        emu::Instance().Reset();
        {
            std::lock_guard lk(EqFctPylon::registry_mx);
            EqFctPylon::devices.clear();
            EqFctPylon::booked.clear();
            EqFctPylon::cameras.clear();
            EqFctPylon::n_cameras = 0;
        }
        Pylon::PylonTerminate();
        fs::current_path(old_cwd_);
        fs::remove_all(dir_);
    }

    // ---- client side, as the HTTP API does it ----

    static std::optional<mirva::WriteResult> write(EqFct* loc, const std::string& name, const mirva::ClientValue& v)
    {
        std::optional<mirva::WriteResult> r;
        loc->with_property(name, [&](D_fct& p) { r = p.client_write(v); });
        return r;
    }

    static std::optional<mirva::PropertySnapshot> read(EqFct* loc, const std::string& name)
    {
        std::optional<mirva::PropertySnapshot> s;
        loc->with_property(name, [&](D_fct& p) { s = p.snapshot(); });
        return s;
    }

    static std::optional<double> number(EqFct* loc, const std::string& name)
    {
        auto s = read(loc, name);
        if (!s)
            return std::nullopt;
        if (auto* i = std::get_if<int64_t>(&s->value))
            return static_cast<double>(*i);
        if (auto* d = std::get_if<double>(&s->value))
            return *d;
        return std::nullopt;
    }

    // The node's value as the camera holds it; nothing while the camera is not there.
    // Under clup_mx the camera cannot be torn down, under registry_mx pCamera is stable.
    static std::optional<std::string> camera_value(EqFctPylon* loc, const char* node)
    {
        PthreadLock cleanup(loc->clup_mx);
        std::lock_guard lk(EqFctPylon::registry_mx);
        if (!loc->pCamera || loc->exeption)
            return std::nullopt;
        try {
            GenApi::CValuePtr v(loc->pCamera->GetDevice()->GetNodeMap()->GetNode(node));
            if (!v.IsValid())
                return std::nullopt;
            return std::string(v->ToString());
        } catch (const GenICam::GenericException&) {
            return std::nullopt;
        }
    }

    // Records a write the location accepted as the value that must be in force.
    void client_writes(Site& s, int count, std::ostringstream& log)
    {
        for (int i = 0; i < count; ++i) {
            std::string name;
            mirva::ClientValue value;
            const int pick = std::uniform_int_distribution<int>(0, 5)(rng_);
            if (pick == 5) {
                name = "FORMAT.OUT";
                value = int64_t{std::uniform_int_distribution<int>(0, 2)(rng_)};
            } else if (pick == 4) {
                name = enum_feature.property;
                auto sl = read(s.loc, name + ".SL");
                if (!sl)
                    continue;  // the camera is away: its features answer 503
                std::vector<std::string> entries;
                std::stringstream in(std::get<std::string>(sl->value));
                for (std::string item; std::getline(in, item, ';');)
                    entries.push_back(item.substr(0, item.rfind('|')));
                value = entries[std::uniform_int_distribution<size_t>(0, entries.size() - 1)(rng_)];
            } else {
                const Feature& f = numeric_features[pick];
                name = f.property;
                auto p = read(s.loc, name);
                auto inc = number(s.loc, std::string(f.property).substr(0, name.find(".PYLON")) + ".INC");
                if (!p || !p->min || !p->max || !inc || *inc <= 0)
                    continue;
                const int64_t lo = static_cast<int64_t>(*p->min);
                const int64_t hi = std::min(static_cast<int64_t>(*p->max), f.cap);
                const int64_t steps = (hi - lo) / static_cast<int64_t>(*inc);
                value = lo + std::uniform_int_distribution<int64_t>(0, steps)(rng_) * static_cast<int64_t>(*inc);
            }
            auto r = write(s.loc, name, value);
            log << " " << name << "=" << text_of(value) << (r ? (r->code == mirva::WriteResult::ok ? "" : "(refused)") : "(absent)");
            if (r && r->code == mirva::WriteResult::ok)
                s.expected[name] = value;
        }
    }

    // ---- invariants ----

    // What is wrong with the site now ("" when nothing).
    std::string site_problem(Site& s, int& frames_seen)
    {
        EqFctPylon* loc = s.loc;
        if (loc->g_sts_.online() != 1 || !loc->setup_done)
            return "off line (CAMERA.STATUS \"" + loc->cam_status_.value() + "\", ERROR.TEXT \"" +
                   loc->err_text_.value() + "\")";
        const int counter = loc->frame_counter_.value();
        if (frames_seen < 0 || counter < frames_seen) {
            frames_seen = counter;
            return "waiting for frames";
        }
        if (counter < frames_seen + 3)
            return "no frames (FRAME.COUNTER " + std::to_string(counter) + ")";
        for (const auto& [name, value] : s.expected) {
            auto p = read(loc, name);
            if (!p)
                return name + " is missing";
            if (text_of(p->value) != text_of(value))
                return name + " shows " + text_of(p->value) + ", the client wrote " + text_of(value);
            bool pending = false;
            loc->with_property(name, [&](D_fct& d) { pending = d.pending_write().has_value(); });
            if (pending)
                return name + " still pending";
            const char* node = nullptr;
            for (const Feature& f : numeric_features)
                if (name == f.property)
                    node = f.node;
            if (name == enum_feature.property)
                node = enum_feature.node;
            if (node) {
                auto in_camera = camera_value(loc, node);
                if (!in_camera)
                    return std::string("camera value of ") + node + " unreadable";
                if (*in_camera != text_of(value))
                    return std::string("camera holds ") + node + " = " + *in_camera + ", the client wrote " + text_of(value);
            }
        }
        return "";
    }

    // Bounded wait until every site is on line with frames and its written values; then
    // until the thread count is back to the baseline. The problem on failure, else "".
    std::string settle(std::chrono::milliseconds timeout)
    {
        std::vector<int> frames(sites_.size(), -1);
        std::string problem;
        const bool ok = eventually(
            [&] {
                for (size_t i = 0; i < sites_.size(); ++i) {
                    problem = site_problem(sites_[i], frames[i]);
                    if (!problem.empty()) {
                        problem = std::string(sites_[i].loc->name()) + ": " + problem;
                        return false;
                    }
                }
                return true;
            },
            timeout);
        if (!ok)
            return problem;
        int threads = 0;
        if (!eventually([&] { return (threads = thread_count()) == baseline_threads_; }, timeout))
            return "thread count " + std::to_string(threads) + ", baseline " + std::to_string(baseline_threads_) +
                   " (" + baseline_names_ + "); now: " + thread_names();
        return "";
    }

    uint64_t seed_ = 0;
    std::chrono::seconds budget_{45};
    uint64_t max_cycles_ = 0;
    bool setup_writes_ = false;  // MIRVA_SOAK_SETUP_WRITES
    std::mt19937_64 rng_;
    fs::path dir_, old_cwd_;
    std::unique_ptr<mirva::server::CameraServer> server_;
    std::thread updater_;
    std::vector<Site> sites_;
    int baseline_threads_ = 0;
    std::string baseline_names_;
};

TEST_F(FaultSoak, LocationsRecoverAndKeepTheirSettingsThroughRandomFaults)
{
    const std::string replay = "MIRVA_SOAK_SEED=" + std::to_string(seed_);
    sites_ = {{"31000001", "mono_area_1280x1024.xml", nullptr, {}}, {"31000002", "color_area_1920x1200.xml", nullptr, {}}};
    mirva::server::ServerConfig config;
    config.source = "soak";
    config.update_period = std::chrono::milliseconds(100);
    config.state_file = dir_ / "soak.state";
    config.state_save_period = std::chrono::seconds(2);
    config.image_directory = dir_;
    for (size_t i = 0; i < sites_.size(); ++i) {
        emu::Instance().Plug({sites_[i].serial, sites_[i].model, "", "", "", emu::EPattern::Counter, {}});
        config.locations.push_back({"SOAK" + std::to_string(i + 1),
                                    CODE_PYLON,
                                    {{"SERIAL", sites_[i].serial},
                                     {"RESTORE_OLD", "1"},
                                     {"START", "1"},
                                     {"INTERFACE", "127.0.0.1"}}});
    }
    server_ = std::make_unique<mirva::server::CameraServer>(
        config, [](int code) -> std::unique_ptr<EqFct> {
            if (code == CODE_PYLON)
                return std::make_unique<EqFctPylon>();
            return nullptr;
        });
    server_->start();
    for (size_t i = 0; i < sites_.size(); ++i) {
        sites_[i].loc = dynamic_cast<EqFctPylon*>(server_->locations()[i]);
        ASSERT_NE(sites_[i].loc, nullptr);
        sites_[i].loc->set_recovery_period(std::chrono::milliseconds(200));
    }
    updater_ = std::thread([this] { server_->run(); });

    // Baseline: both locations acquiring, every host thread started.
    baseline_threads_ = -1;
    {
        std::vector<int> frames(sites_.size(), -1);
        ASSERT_TRUE(eventually(
            [&] {
                for (size_t i = 0; i < sites_.size(); ++i)
                    if (!site_problem(sites_[i], frames[i]).empty())
                        return false;
                return true;
            },
            std::chrono::seconds(60)))
            << "the locations did not come on line with frames at the start; " << replay;
        // Let the count settle: the same number twice, a second apart.
        int last = -1;
        ASSERT_TRUE(eventually(
            [&] {
                const int now = thread_count();
                const bool same = now == last;
                last = now;
                if (!same)
                    std::this_thread::sleep_for(std::chrono::milliseconds(500));
                return same;
            },
            std::chrono::seconds(30)));
        baseline_threads_ = last;
        baseline_names_ = thread_names();
    }

    int faults[n_kinds] = {};
    uint64_t cycle = 0;
    const auto t0 = clock_type::now();
    auto ms = [&](int lo, int hi) { return std::chrono::milliseconds(std::uniform_int_distribution<int>(lo, hi)(rng_)); };
    int both_sites = 0, writes_in_set_up = 0;
    for (; cycle < max_cycles_ && clock_type::now() - t0 < budget_; ++cycle) {
        std::ostringstream log;
        const Kind kind = static_cast<Kind>(std::uniform_int_distribution<int>(0, n_kinds - 1)(rng_));
        ++faults[kind];
        // One location, or (but for save and load) both at once.
        std::vector<Site*> hit{&sites_[std::uniform_int_distribution<size_t>(0, sites_.size() - 1)(rng_)]};
        if (kind != save_load && std::bernoulli_distribution(0.2)(rng_)) {
            hit = {&sites_[0], &sites_[1]};
            ++both_sites;
        }
        log << "cycle " << cycle << " " << kind_names[kind] << " on";
        for (Site* s : hit)
            log << " " << s->loc->name();
        log << ":";
        switch (kind) {
        case unplug:
        case unplug_with_writes: {
            for (Site* s : hit) {
                if (kind == unplug_with_writes)
                    client_writes(*s, 3, log);  // just before the loss: the thread may not have applied them
                ASSERT_TRUE(emu::Instance().Unplug(s->serial));
            }
            if (std::bernoulli_distribution(0.5)(rng_)) {
                // Let the locations notice and go through their shut-down before the plug.
                for (Site* s : hit)
                    ASSERT_TRUE(eventually([&] { return !s->loc->setup_done; }, std::chrono::seconds(20)))
                        << log.str() << "; " << replay;
            }
            std::this_thread::sleep_for(ms(0, 300));
            for (Site* s : hit) {
                if (kind == unplug_with_writes)
                    client_writes(*s, 3, log);  // while away: features refused, own properties kept
                emu::Instance().Plug({s->serial, s->model, "", "", "", emu::EPattern::Counter, {}});
            }
            if (kind == unplug_with_writes && setup_writes_ && std::bernoulli_distribution(0.5)(rng_)) {
                // Writes while the locations set themselves up again: each feature either
                // is not there yet (refused) or takes the write, which must then survive.
                ++writes_in_set_up;
                log << " [set-up]";
                const auto until = clock_type::now() + ms(100, 1500);
                while (clock_type::now() < until) {
                    for (Site* s : hit)
                        client_writes(*s, 1, log);
                    std::this_thread::sleep_for(ms(5, 60));
                }
            }
            break;
        }
        case stall: {
            for (Site* s : hit)
                ASSERT_TRUE(emu::Instance().Stall(s->serial, true));
            const auto held = ms(100, 2000);  // past 1.2 s (12 update cycles) the watchdog sets the location up again
            log << " " << held.count() << " ms";
            std::this_thread::sleep_for(held);
            for (Site* s : hit)
                ASSERT_TRUE(emu::Instance().Stall(s->serial, false));
            break;
        }
        case failed_grab:
            for (Site* s : hit)
                ASSERT_TRUE(emu::Instance().FailNextGrab(s->serial, 0xE1000014u, "soak: failed grab"));
            break;
        case writes:
            for (Site* s : hit)
                client_writes(*s, std::uniform_int_distribution<int>(1, 6)(rng_), log);
            break;
        case start_switch: {
            for (Site* s : hit)
                ASSERT_EQ(write(s->loc, "START", int64_t{0})->code, mirva::WriteResult::ok);
            std::this_thread::sleep_for(ms(0, 300));
            for (Site* s : hit)
                ASSERT_EQ(write(s->loc, "START", int64_t{1})->code, mirva::WriteResult::ok);
            break;
        }
        case save_load: {
            // Saved and loaded with nothing pending, the values stay what the clients wrote.
            Site& s = *hit[0];
            ASSERT_EQ(write(s.loc, "CONF.SAVE", int64_t{1})->code, mirva::WriteResult::ok);
            ASSERT_TRUE(eventually([&] { return number(s.loc, "CONF.SAVE") == 0.0; }, std::chrono::seconds(20)))
                << log.str() << "; CONF.SAVE " << number(s.loc, "CONF.SAVE").value_or(-99) << "; " << replay;
            ASSERT_EQ(write(s.loc, "CONF.LOAD", int64_t{1})->code, mirva::WriteResult::ok);
            ASSERT_TRUE(eventually([&] { return number(s.loc, "CONF.LOAD") == 0.0; }, std::chrono::seconds(20)))
                << log.str() << "; CONF.LOAD " << number(s.loc, "CONF.LOAD").value_or(-99) << "; " << replay;
            break;
        }
        case n_kinds:
            break;
        }
        const std::string problem = settle(std::chrono::seconds(30));
        ASSERT_EQ(problem, "") << log.str() << "\nreplay with " << replay << " (cycle " << cycle << ")";
    }
    const double seconds = std::chrono::duration<double>(clock_type::now() - t0).count();
    std::printf("fault soak: seed %llu, %llu cycles in %.1f s;", static_cast<unsigned long long>(seed_),
                static_cast<unsigned long long>(cycle), seconds);
    for (int k = 0; k < n_kinds; ++k)
        std::printf(" %s %d;", kind_names[k], faults[k]);
    std::printf(" both locations at once %d; writes during set-up %d; threads %d\n", both_sites, writes_in_set_up,
                baseline_threads_);
    EXPECT_GT(cycle, 0u);
}

} // namespace
