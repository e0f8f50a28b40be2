// The feature tree of a location on the emulated monochrome camera: the idle write pass
// (run every 50 ms by the camera thread while acquisition is not requested; target < 1 ms)
// and building plus removing the whole tree (camera initialisation; target < 50 ms).
//
//   bench_features [--benchmark_filter=...]
// Diagnostic lines of the library go to /dev/null while a benchmark runs.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <string>

#include <pylon/PylonIncludes.h>
#include <pylon/emulator/Emulator.h>

#include "eq_pylon.h"

namespace {

// Silences standard error for its lifetime.
class QuietStderr {
public:
    QuietStderr() : saved_(dup(STDERR_FILENO))
    {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        close(null);
    }
    ~QuietStderr()
    {
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_;
};

// A location with the mono camera open and attached, as camera initialisation leaves it.
class Setup {
public:
    explicit Setup(const std::string& serial) : serial_(serial)
    {
        Pylon::Emulator::Instance().Plug({serial_, "mono_area_1280x1024.xml", "", "", "", Pylon::Emulator::EPattern::Counter, {}});
        {
            mirva::LocationCreation scope("BENCH", {});
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
        if (!camera_)
            throw std::runtime_error("emulated camera not found");
        loc->pCamera = camera_;
    }
    ~Setup()
    {
        loc->camera_remove_features();
        loc->pCamera = nullptr;
        loc.reset();
        camera_->Close();
        delete camera_;
        Pylon::Emulator::Instance().Unplug(serial_);
    }
    Setup(const Setup&) = delete;
    Setup& operator=(const Setup&) = delete;

    std::unique_ptr<EqFctPylon> loc;

private:
    std::string serial_;
    Pylon::Camera_t* camera_ = nullptr;
};

void BM_WritePassIdle(benchmark::State& state)
{
    QuietStderr quiet;
    Setup s("BENCH-W");
    s.loc->camera_create_features();
    s.loc->camera_readback_all_features();
    s.loc->camera_update_features(1);  // the first pass writes every feature once
    for (auto _ : state) {
        const int n = s.loc->camera_update_features(1);
        if (n != 0) {
            state.SkipWithError("the idle pass wrote features");
            break;
        }
    }
    state.counters["features"] = static_cast<double>(s.loc->pylon_prop_.size());
}
BENCHMARK(BM_WritePassIdle)->Unit(benchmark::kMicrosecond);

void BM_ReadBackPass(benchmark::State& state)
{
    QuietStderr quiet;
    Setup s("BENCH-R");
    s.loc->camera_create_features();
    for (auto _ : state)
        s.loc->camera_readback_all_features();
    state.counters["features"] = static_cast<double>(s.loc->pylon_prop_.size());
}
BENCHMARK(BM_ReadBackPass)->Unit(benchmark::kMicrosecond);

void BM_CreateAndRemoveTree(benchmark::State& state)
{
    QuietStderr quiet;
    Setup s("BENCH-C");
    size_t features = 0;
    for (auto _ : state) {
        s.loc->camera_create_features();
        features = s.loc->pylon_prop_.size();
        s.loc->camera_remove_features();
    }
    state.counters["features"] = static_cast<double>(features);
}
BENCHMARK(BM_CreateAndRemoveTree)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
