// Speed of the image format converter for every supported source and output at two
// sensor sizes. Each benchmark also times memcpy of the same number of output bytes in the
// same iterations and reports the ratio as the counter "x_memcpy" (1.0 = as fast as memcpy).
// The ratio compares the fastest iteration of each, which is robust against the machine
// being busy with other work; "x_memcpy_mean" compares the means.
//
// Targets: 8-bit to 8-bit within 2x, 12-bit packed to 16-bit within 4x, Bayer 8 to RGB
// within 6x, Bayer 8 to Mono8 within 8x (its memcpy of one byte a pixel stays in the
// cache; in time it is below Bayer 8 to RGB) (Release build).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <pylon/ImageFormatConverter.h>
#include <pylon/PixelFormatTable.h>
#include <pylon/PixelTypeMapper.h>

namespace {

using Clock = std::chrono::steady_clock;

void convert_benchmark(benchmark::State& state, Pylon::EPixelType source, Pylon::EPixelType output, uint32_t w,
                       uint32_t h)
{
    Pylon::CImageFormatConverter conv;
    conv.Initialize(source);
    conv.OutputPixelFormat = output;
    conv.AdditionalLeftShift = 0;

    std::vector<uint8_t> src(Pylon::ComputeBufferSize(source, w, h));
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<uint8_t>((i * 131u) ^ (i >> 7));
    const size_t out_size = conv.GetBufferSizeForConversion(source, w, h);
    std::vector<uint8_t> dst(out_size), copy_src(out_size, 1), copy_dst(out_size);

    double convert_s = 0, memcpy_s = 0;
    double convert_min = 1e9, memcpy_min = 1e9;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        std::memcpy(copy_dst.data(), copy_src.data(), out_size);
        benchmark::ClobberMemory();
        const auto t1 = Clock::now();
        conv.Convert(dst.data(), dst.size(), src.data(), src.size(), source, w, h, 0);
        benchmark::ClobberMemory();
        const auto t2 = Clock::now();
        const double c = std::chrono::duration<double>(t2 - t1).count();
        const double m = std::chrono::duration<double>(t1 - t0).count();
        convert_s += c;
        memcpy_s += m;
        convert_min = std::min(convert_min, c);
        memcpy_min = std::min(memcpy_min, m);
        state.SetIterationTime(c);
    }
    benchmark::DoNotOptimize(dst.data());
    benchmark::DoNotOptimize(copy_dst.data());
    state.counters["x_memcpy"] = memcpy_min > 0 ? convert_min / memcpy_min : 0.0;
    state.counters["x_memcpy_mean"] = memcpy_s > 0 ? convert_s / memcpy_s : 0.0;
    state.counters["min_us"] = convert_min * 1e6;
    state.counters["memcpy_min_us"] = memcpy_min * 1e6;
    state.counters["Mpix/s"] = benchmark::Counter(static_cast<double>(w) * h, benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(out_size));
}

void register_all()
{
    const Pylon::EPixelType outputs[] = {Pylon::PixelType_Mono8, Pylon::PixelType_Mono16, Pylon::PixelType_RGB8packed};
    const std::pair<uint32_t, uint32_t> sizes[] = {{1280, 1024}, {1920, 1200}};
    for (const auto& info : Pylon::kPixelFormatTable) {
        if (!Pylon::CImageFormatConverter::IsSupportedInputFormat(info.type))
            continue;
        for (Pylon::EPixelType out : outputs)
            for (auto [w, h] : sizes) {
                const std::string name = std::string(info.name) + "->" +
                                         Pylon::CPixelTypeMapper::GetNameByPixelType(out) + "/" +
                                         std::to_string(w) + "x" + std::to_string(h);
                benchmark::RegisterBenchmark(name.c_str(), convert_benchmark, info.type, out, w, h)
                    ->UseManualTime()
                    ->Unit(benchmark::kMicrosecond)
                    ->MinTime(0.1);
            }
    }
}

} // namespace

int main(int argc, char** argv)
{
    register_all();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
