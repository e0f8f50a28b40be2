// Test fixture: a clean emulator with the models of the source tree.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <pylon/PylonIncludes.h>
#include <pylon/emulator/Emulator.h>

namespace pylon_test {

class EmulatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Pylon::Emulator::Instance().Reset();
        Pylon::Emulator::Instance().SetModelsDirectory(MIRVA_SOURCE_DIR "/platform/pylon/models");
    }
    void TearDown() override { Pylon::Emulator::Instance().Reset(); }

    static void Plug(const std::string& serial, const std::string& model = "mono_area_1280x1024.xml",
                     const std::string& user = {})
    {
        Pylon::Emulator::CameraConfig config;
        config.serialNumber = serial;
        config.model = model;
        config.userName = user;
        config.pattern = Pylon::Emulator::EPattern::Counter; // these tests read the frame numbers
        Pylon::Emulator::Instance().Plug(config);
    }

    static Pylon::CDeviceInfo InfoOf(const std::string& serial)
    {
        Pylon::DeviceInfoList_t list;
        Pylon::CTlFactory::GetInstance().EnumerateDevices(list);
        for (const auto& info : list)
            if (info.GetSerialNumber() == serial)
                return info;
        ADD_FAILURE() << "camera " << serial << " not enumerated";
        return {};
    }

private:
    Pylon::PylonAutoInitTerm init_;
};

// Records calls of a removal callback for a waiting test.
struct RemovalRecorder {
    void OnRemoved(Pylon::IPylonDevice* device)
    {
        std::lock_guard lock(mutex);
        ++calls;
        last = device;
        thread = std::this_thread::get_id();
        cond.notify_all();
    }
    bool WaitForCalls(int n, int timeout_ms = 2000)
    {
        std::unique_lock lock(mutex);
        return cond.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return calls >= n; });
    }
    int Calls()
    {
        std::lock_guard lock(mutex);
        return calls;
    }

    std::mutex mutex;
    std::condition_variable cond;
    int calls = 0;
    Pylon::IPylonDevice* last = nullptr;
    std::thread::id thread;
};

} // namespace pylon_test
