// Speed of the whole delivery of one frame by a camera location: camera_save_data from a
// grab result that is already waiting to the hand-over of the image to the image output
// (conversion into the image buffer, region and bit-depth properties, re-queue, the
// hand-over: image and output buffers exchanged, one copy into the copy buffer).
// Mono8 1280 x 1024 delivered as Mono8. Conversion and copy are two passes over the
// frame, so 2x memcpy is the floor; what lies above it is the per-frame bookkeeping.
//
// The location is brought up on an emulated camera as the host does it; its stream
// grabber is then replaced by one that always has a frame ready, so the camera's frame
// rate does not limit the measurement. Each iteration also times memcpy of the frame's
// bytes; the counter "x_memcpy" is delivery time / memcpy time (target: within 2x), and
// "frames/s" the delivery rate on one core (target: at least 1000). Times are the thread's
// CPU time, so a busy machine disturbs them less.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include <mirva/eq_fct.h>
#include <mirva/server.h>
#include <pylon/PylonIncludes.h>
#include <pylon/emulator/Emulator.h>

#include "eq_pylon.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;

// A stream grabber whose output queue never runs dry: every retrieve hands out the same
// grabbed Mono8 frame, and queuing it again costs nothing.
class ReadyGrabber final : public Pylon::IStreamGrabber {
public:
    ReadyGrabber() : state_(std::make_shared<Pylon::detail::WaitState>()), wait_(state_), frame_(kWidth * kHeight)
    {
        for (size_t i = 0; i < frame_.size(); ++i)
            frame_[i] = static_cast<uint8_t>((i * 7u) ^ (i >> 11));
        state_->ready = 1;
    }

    void Open() override {}
    void Close() override {}
    bool IsOpen() const override { return true; }
    Pylon::StreamBufferHandle RegisterBuffer(void* buffer, size_t) override { return buffer; }
    const void* DeregisterBuffer(Pylon::StreamBufferHandle handle) override { return handle; }
    void PrepareGrab() override {}
    void FinishGrab() override {}
    void QueueBuffer(Pylon::StreamBufferHandle, const void*) override {}
    void CancelGrab() override {}
    bool RetrieveResult(Pylon::GrabResult& r) override
    {
        r.m_Status = Pylon::Grabbed;
        r.m_hBuffer = frame_.data();
        r.m_pBuffer = frame_.data();
        r.m_PixelType = Pylon::PixelType_Mono8;
        r.m_SizeX = kWidth;
        r.m_SizeY = kHeight;
        r.m_OffsetX = 0;
        r.m_OffsetY = 0;
        r.m_PayloadSize = static_cast<int64_t>(frame_.size());
        return true;
    }
    Pylon::WaitObject& GetWaitObject() override { return wait_; }
    GenApi::INodeMap* GetNodeMap() override { return nullptr; }

private:
    std::shared_ptr<Pylon::detail::WaitState> state_;
    Pylon::WaitObject wait_;
    std::vector<uint8_t> frame_;
};

// One location on one emulated 1280 x 1024 camera, streaming Mono8 into Mono8.
class Bench {
public:
    Bench()
    {
        Pylon::PylonInitialize();
        Pylon::Emulator::Instance().Plug({"21799901", "mono_area_1280x1024.xml", "bench", "", "", Pylon::Emulator::EPattern::Counter, {}});
        {
            mirva::LocationCreation scope("DELIVERY_BENCH", {});
            loc = std::make_unique<EqFctPylon>();
        }
        loc->find_cameras_of_type(1);
        loc->serial_.set_value(0);
        if (loc->camera_init())
            throw std::runtime_error("camera_init failed");
        Pylon::Camera_t& cam = *loc->pCamera;
        cam.PixelFormat.FromString("Mono8");
        cam.OffsetX.SetValue(0);
        cam.OffsetY.SetValue(0);
        cam.Width.SetValue(kWidth);
        cam.Height.SetValue(kHeight);
        if (loc->camera_create_all_buffers(kWidth, kHeight, 1))
            throw std::runtime_error("camera_create_all_buffers failed");
        if (loc->camera_start_acquisition() != 0)
            throw std::runtime_error("camera_start_acquisition failed");
        real_ = loc->StreamGrabber;
        ready_wrapper_ = std::make_unique<Pylon::StreamGrabber_t>(&ready_);
        loc->StreamGrabber = ready_wrapper_.get();
    }
    ~Bench()
    {
        loc->StreamGrabber = real_;
        loc->camera_stop_acquisition();
        loc->camera_cleanup(true);
        loc.reset();
        Pylon::Emulator::Instance().Reset();
        Pylon::PylonTerminate();
    }

    // The image-output thread's part: take the image so the next one is handed over.
    void take()
    {
        std::lock_guard lk(loc->out_mx);
        loc->new_image = false;
        loc->out_free = true;
    }

    std::unique_ptr<EqFctPylon> loc;

private:
    ReadyGrabber ready_;
    std::unique_ptr<Pylon::StreamGrabber_t> ready_wrapper_;
    Pylon::StreamGrabber_t* real_ = nullptr;
};

// CPU time of the calling thread, so that other processes on a busy machine do not count.
double thread_seconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// handed_over: the output thread has taken the previous image, so the frame is handed over;
// otherwise it is dropped as busy (conversion and bookkeeping only).
void deliver_benchmark(benchmark::State& state, bool handed_over)
{
    Bench bench;
    if (!handed_over) {
        std::lock_guard lk(bench.loc->out_mx);
        bench.loc->out_free = false;
    }
    const size_t bytes = static_cast<size_t>(kWidth) * kHeight;
    std::vector<uint8_t> src(bytes, 1), dst(bytes);
    double deliver_s = 0, memcpy_s = 0;
    double deliver_min = 1e9, memcpy_min = 1e9;
    for (auto _ : state) {
        const double t0 = thread_seconds();
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::ClobberMemory();
        const double t1 = thread_seconds();
        if (bench.loc->camera_save_data(nullptr) != 0) {
            state.SkipWithError("camera_save_data failed");
            break;
        }
        benchmark::ClobberMemory();
        const double t2 = thread_seconds();
        if (handed_over)
            bench.take();
        deliver_s += t2 - t1;
        memcpy_s += t1 - t0;
        deliver_min = std::min(deliver_min, t2 - t1);
        memcpy_min = std::min(memcpy_min, t1 - t0);
        state.SetIterationTime(t2 - t1);
    }
    benchmark::DoNotOptimize(dst.data());
    // Mean over all iterations, and the fastest iteration of each (least disturbed).
    state.counters["x_memcpy"] = memcpy_s > 0 ? deliver_s / memcpy_s : 0.0;
    state.counters["x_memcpy_best"] = memcpy_min > 0 ? deliver_min / memcpy_min : 0.0;
    state.counters["memcpy_us"] = memcpy_s * 1e6 / static_cast<double>(std::max<int64_t>(state.iterations(), 1));
    state.counters["frames/s"] = deliver_s > 0 ? static_cast<double>(state.iterations()) / deliver_s : 0.0;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

} // namespace

void BM_DeliverMono8(benchmark::State& state)
{
    deliver_benchmark(state, true);
}
void BM_DeliverMono8_OutputBusy(benchmark::State& state)
{
    deliver_benchmark(state, false);
}

BENCHMARK(BM_DeliverMono8)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_DeliverMono8_OutputBusy)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);

BENCHMARK_MAIN();
