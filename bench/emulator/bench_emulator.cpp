// Cost of producing one emulated frame (pattern copy plus frame number) against memcpy of
// the same bytes, for the pixel formats of the camera models at two sensor sizes. The
// counter "x_memcpy" compares the fastest iterations (1.0 = as fast as memcpy).
//
// Target: a frame of the counter pattern costs no more than 1.5x memcpy of its bytes, so the
// emulator stays far below the cost of delivering and converting it. The beam ("beam/") costs
// one copy without noise ("beam-clean/"); with noise every sample is computed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include <pylon/PixelFormatTable.h>

#include "emulator/FramePattern.h"

namespace {

using Clock = std::chrono::steady_clock;

// Frames written by `pattern`, each against memcpy of the same bytes in the same iteration;
// "x_memcpy" compares the fastest of each.
template <class Pattern>
void measure_frames(benchmark::State& state, const Pattern& pattern)
{
    const size_t size = pattern.FrameSize();
    std::vector<uint8_t> dst(size), copy_src(size, 1), copy_dst(size);
    double frame_min = 1e9, memcpy_min = 1e9;
    uint64_t frame = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        benchmark::DoNotOptimize(pattern.Write(++frame, dst.data(), dst.size()));
        auto t1 = Clock::now();
        std::memcpy(copy_dst.data(), copy_src.data(), size);
        benchmark::ClobberMemory();
        auto t2 = Clock::now();
        frame_min = std::min(frame_min, std::chrono::duration<double>(t1 - t0).count());
        memcpy_min = std::min(memcpy_min, std::chrono::duration<double>(t2 - t1).count());
    }
    state.counters["x_memcpy"] = frame_min / memcpy_min;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void frame_benchmark(benchmark::State& state, Pylon::EPixelType type, uint32_t w, uint32_t h)
{
    Pylon::Emulator::CFramePattern pattern;
    Pylon::Emulator::PatternKey key;
    key.type = type;
    key.width = w;
    key.height = h;
    pattern.Prepare(key);
    measure_frames(state, pattern);
}

void beam_benchmark(benchmark::State& state, Pylon::EPixelType type, uint32_t w, uint32_t h, bool noise)
{
    Pylon::Emulator::CBeamPattern pattern;
    Pylon::Emulator::PatternKey key;
    key.type = type;
    key.width = w;
    key.height = h;
    Pylon::Emulator::BeamSettings beam;
    beam.x = w / 2.0;
    beam.y = h / 2.0;
    beam.sigmaX = w / 16.0;
    beam.sigmaY = h / 16.0;
    beam.noise = noise;
    pattern.Prepare(key, beam);
    measure_frames(state, pattern);
}

void register_all()
{
    using namespace Pylon;
    for (auto [w, h] : {std::pair<uint32_t, uint32_t>{1280, 1024}, {1920, 1200}})
        for (EPixelType t : {PixelType_Mono8, PixelType_Mono12, PixelType_Mono12packed, PixelType_BayerRG8,
                             PixelType_BayerRG12, PixelType_RGB8packed, PixelType_YUV422packed}) {
            const std::string name = std::string("frame/") + std::string(FindPixelFormat(t)->name) + "/" +
                                     std::to_string(w) + "x" + std::to_string(h);
            benchmark::RegisterBenchmark(name.c_str(), frame_benchmark, t, w, h)->Unit(benchmark::kMicrosecond);
            for (bool noise : {true, false}) {
                const std::string beam_name = std::string(noise ? "beam/" : "beam-clean/") +
                                              std::string(FindPixelFormat(t)->name) + "/" + std::to_string(w) + "x" +
                                              std::to_string(h);
                benchmark::RegisterBenchmark(beam_name.c_str(), beam_benchmark, t, w, h, noise)
                    ->Unit(benchmark::kMicrosecond);
            }
        }
}

} // namespace

int main(int argc, char** argv)
{
    register_all();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
