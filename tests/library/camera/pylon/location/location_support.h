// Test support for camera locations: emulated cameras, locations registered in the
// server's list as the host does it, captured diagnostics and condition waits.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <mirva/location_list.h>
#include <mirva/server.h>
#include <pylon/PylonIncludes.h>
#include <pylon/emulator/Emulator.h>

#include "eq_pylon.h"

namespace location_test {

constexpr const char* kFullModel = "mono_area_1280x1024.xml";
constexpr const char* kMinimalModel = "minimal_area.xml";

// Captures what the locations print for a scope.
class Stderr {
public:
    Stderr() { ::testing::internal::CaptureStderr(); }
    ~Stderr()
    {
        if (!taken_)
            ::testing::internal::GetCapturedStderr();
    }
    std::string text()
    {
        taken_ = true;
        return ::testing::internal::GetCapturedStderr();
    }

private:
    bool taken_ = false;
};

inline int count_of(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + what.size()))
        ++n;
    return n;
}

// Polls a condition until it holds or the timeout passes.
inline bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Emulated cameras and locations of one test; everything goes at its end.
class LocationFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        Pylon::PylonInitialize();
        Pylon::Emulator::Instance().Reset();
    }

    void TearDown() override
    {
        // The server's order: host threads, cancel, out of the list, destruction.
        for (auto it = locations_.rbegin(); it != locations_.rend(); ++it) {
            EqFctPylon* loc = *it;
            loc->camera_stop_host_threads();
            loc->cancel();
            std::unique_ptr<EqFct> owned = mirva::LocationList::instance().remove(loc);
            owned.reset();
        }
        locations_.clear();
        Pylon::Emulator::Instance().Reset();
        {
            // Forget the devices of this test.
            std::lock_guard lk(EqFctPylon::registry_mx);
            EqFctPylon::devices.clear();
            EqFctPylon::booked.clear();
            EqFctPylon::cameras.clear();
            EqFctPylon::n_cameras = 0;
        }
        Pylon::PylonTerminate();
    }

    void plug(const std::string& serial, const std::string& model = kFullModel)
    {
        Pylon::Emulator::Instance().Plug({serial, model, "", "", "", Pylon::Emulator::EPattern::Counter, {}});
    }

    // A location as the server creates it, with stored property values.
    template <class Location = EqFctPylon>
    Location* add_location(const std::string& name, std::map<std::string, std::string> stored = {})
    {
        std::unique_ptr<Location> loc;
        {
            mirva::LocationCreation scope(name, std::move(stored));
            loc = std::make_unique<Location>();
        }
        // No recovery attempt in the middle of a test.
        loc->set_recovery_period(std::chrono::hours(1));
        auto* raw = static_cast<Location*>(mirva::LocationList::instance().add(std::move(loc)));
        locations_.push_back(raw);
        return raw;
    }

    // init and post_init under the location's lifecycle lock, as the server calls them.
    void start(EqFctPylon* loc)
    {
        std::lock_guard lk(loc->lifecycle_mutex());
        loc->init();
        loc->post_init();
    }

    void update(EqFctPylon* loc)
    {
        std::lock_guard lk(loc->lifecycle_mutex());
        loc->update();
    }

    std::vector<EqFctPylon*> locations_;
};

} // namespace location_test
