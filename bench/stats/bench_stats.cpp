// Cost of the beam statistics of one delivered image (computed once per image by the
// image-output thread) against memcpy of the same bytes in the same iterations, for the three
// output formats at the demo cameras' sizes. The images are noisy emulated beams. The counter
// "x_memcpy" compares the fastest iterations (1.0 = as fast as memcpy), "x_memcpy_mean" the
// means.
//
// Target: at most 0.5x memcpy of the image (Release build).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <mirva/beam_stats.h>
#include <pylon/PixelFormatTable.h>

#include "emulator/FramePattern.h"

namespace {

using Clock = std::chrono::steady_clock;

void stats_benchmark(benchmark::State& state, Pylon::EPixelType type, int bytes_per_pixel, uint32_t w, uint32_t h,
                     bool window)
{
    Pylon::Emulator::PatternKey key;
    key.type = type;
    key.width = w;
    key.height = h;
    Pylon::Emulator::BeamSettings beam;
    beam.x = w * 0.45;
    beam.y = h * 0.55;
    beam.sigmaX = w / 16.0;
    beam.sigmaY = h / 20.0;
    Pylon::Emulator::CBeamPattern pattern;
    pattern.Prepare(key, beam);
    std::vector<uint8_t> image(pattern.FrameSize());
    pattern.Write(1, image.data(), image.size());
    const size_t size = image.size();
    std::vector<uint8_t> copy_src(size, 1), copy_dst(size);

    mirva::StatsImage view;
    view.pixels = image.data();
    view.width = static_cast<int>(w);
    view.height = static_cast<int>(h);
    view.bytes_per_pixel = bytes_per_pixel;
    view.effective_bits = static_cast<int>(Pylon::BitDepth(type));
    mirva::StatsOptions options;
    options.threshold = bytes_per_pixel == 2 ? 300 : 12;
    if (window) {
        options.win_x = static_cast<int>(w / 4);
        options.win_y = static_cast<int>(h / 4);
        options.win_w = static_cast<int>(w / 2);
        options.win_h = static_cast<int>(h / 2);
    }

    double stats_s = 0, memcpy_s = 0, stats_min = 1e9, memcpy_min = 1e9;
    mirva::BeamStats result;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        std::memcpy(copy_dst.data(), copy_src.data(), size);
        benchmark::ClobberMemory();
        const auto t1 = Clock::now();
        result = mirva::compute_beam_stats(view, options);
        benchmark::DoNotOptimize(result);
        const auto t2 = Clock::now();
        const double s = std::chrono::duration<double>(t2 - t1).count();
        const double m = std::chrono::duration<double>(t1 - t0).count();
        stats_s += s;
        memcpy_s += m;
        stats_min = std::min(stats_min, s);
        memcpy_min = std::min(memcpy_min, m);
        state.SetIterationTime(s);
    }
    benchmark::DoNotOptimize(copy_dst.data());
    state.counters["x_memcpy"] = memcpy_min > 0 ? stats_min / memcpy_min : 0.0;
    state.counters["x_memcpy_mean"] = memcpy_s > 0 ? stats_s / memcpy_s : 0.0;
    state.counters["cx"] = result.cx;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void register_all()
{
    using namespace Pylon;
    struct Format {
        EPixelType type;
        int bytes;
        const char* name;
    };
    for (auto [w, h] : {std::pair<uint32_t, uint32_t>{1280, 1024}, {1920, 1200}})
        for (const Format f : {Format{PixelType_Mono8, 1, "Mono8"}, Format{PixelType_Mono12, 2, "Mono16"},
                               Format{PixelType_RGB8packed, 3, "RGB8"}})
            for (bool window : {false, true}) {
                const std::string name = std::string("stats/") + f.name + "/" + std::to_string(w) + "x" +
                                         std::to_string(h) + (window ? "/window" : "");
                benchmark::RegisterBenchmark(name.c_str(), stats_benchmark, f.type, f.bytes, w, h, window)
                    ->UseManualTime()
                    ->Unit(benchmark::kMicrosecond);
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
