// PNG encoding of one 1280 x 1024 Mono8 frame, as the image endpoint does it, against
// memcpy of the frame bytes; a frame like the emulator's (gradient with noise) and
// settings from the fastest to the default of zlib.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "png_encode.h"

namespace {

constexpr int width = 1280, height = 1024;

std::vector<uint8_t> frame() {
    std::vector<uint8_t> px(size_t(width) * height);
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            px[size_t(y) * width + x] = static_cast<uint8_t>(std::clamp((x + y) / 9 + 40 + noise(rng), 0, 255));
    return px;
}

void BM_png_mono8(benchmark::State& state) {
    const auto px = frame();
    mirva::camserver::PngSettings settings;
    settings.compression_level = static_cast<int>(state.range(0));
    settings.sub_filter = state.range(1) != 0;
    size_t bytes = 0;
    for (auto _ : state) {
        auto png = mirva::camserver::encode_png(width, height, 1, px.data(), settings);
        bytes = png.size();
        benchmark::DoNotOptimize(png.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(px.size()));
    state.counters["png_bytes"] = double(bytes);
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_png_mono8)->ArgNames({"level", "sub"})->Args({1, 1})->Args({1, 0})->Args({3, 1})->Args({6, 1})->Unit(benchmark::kMillisecond);

void BM_memcpy_frame(benchmark::State& state) {
    const auto px = frame();
    std::vector<uint8_t> out(px.size());
    for (auto _ : state) {
        std::memcpy(out.data(), px.data(), px.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(px.size()));
}
BENCHMARK(BM_memcpy_frame)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
