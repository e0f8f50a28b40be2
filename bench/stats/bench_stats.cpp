// Cost of the beam statistics of one delivered image (computed once per image by the
// image-output thread) against memcpy of the same image's bytes in the same iterations, for the
// three output formats at the demo cameras' sizes, over the whole image and over an analysis
// window of a quarter of it. The images are noisy emulated beams.
//
// Each case runs twice:
//   .../hot       the same image again and again: it stays in the caches, and so do memcpy's
//                 source and destination. The statistics' arithmetic shows here.
//   .../arriving  frames as a camera delivers them: a ring of frames four times larger than the
//                 last-level cache (the largest cache size the system reports), so each frame
//                 comes from memory when it is read. memcpy copies one frame of the ring into a
//                 reused destination (as a delivered image takes a recently returned buffer
//                 of the image pool), the statistics read another one; both start cold.
// The counter "x_memcpy" compares the fastest iterations (1.0 = as fast as memcpy),
// "x_memcpy_mean" the means; "pool_MiB" is the ring's size (0 for hot). The "floor/..." rows
// time, in place of the statistics, a bare pass that reads every byte of the image once and
// adds them up: no pass over the image can cost less. With the image in the caches it costs
// about half a memcpy; coming from memory, about one memcpy (memcpy then waits on the same
// reads, and its writes stay in the caches).
//
// Target: at most 0.5x memcpy of the image (Release build).
#include <benchmark/benchmark.h>

#include <emmintrin.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <mirva/beam_stats.h>
#include <pylon/PixelFormatTable.h>

#include "emulator/FramePattern.h"

namespace {

using Clock = std::chrono::steady_clock;

// Bytes of a cache size as /sys writes it ("32768K", "1M" or plain bytes); 0 when unreadable.
size_t parse_cache_size(const std::string& text)
{
    size_t value = 0, used = 0;
    try {
        value = std::stoull(text, &used);
    } catch (const std::exception&) {
        return 0;
    }
    const char unit = used < text.size() ? text[used] : ' ';
    return unit == 'K' ? value << 10 : unit == 'M' ? value << 20 : unit == 'G' ? value << 30 : value;
}

// The largest cache the system reports: the C library's level-3 size and every cache of CPU 0
// in /sys. They can differ (a virtual machine may be told the whole host's cache); the larger
// one keeps the ring out of either.
size_t last_level_cache_bytes()
{
    size_t largest = 0;
    const long from_libc = sysconf(_SC_LEVEL3_CACHE_SIZE);
    if (from_libc > 0)
        largest = static_cast<size_t>(from_libc);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/devices/system/cpu/cpu0/cache", error)) {
        std::ifstream file(entry.path() / "size");
        std::string text;
        if (file >> text)
            largest = std::max(largest, parse_cache_size(text));
    }
    return largest > 0 ? largest : size_t{64} << 20;  // unknown: larger than most
}

// The ring of frames, shared by the cases so that it is allocated once.
std::vector<uint8_t>& ring_storage()
{
    static std::vector<uint8_t> storage;
    return storage;
}

// Sum of the image's bytes, 64 at a time in four independent sums (baseline x86-64 vectors):
// what reading it costs.
uint64_t read_every_byte(const uint8_t* bytes, size_t size)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i sums[4] = {zero, zero, zero, zero};
    size_t i = 0;
    for (; i + 64 <= size; i += 64)
        for (int k = 0; k < 4; ++k) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i + 16 * k));
            sums[k] = _mm_add_epi64(sums[k], _mm_sad_epu8(v, zero));
        }
    const __m128i total = _mm_add_epi64(_mm_add_epi64(sums[0], sums[1]), _mm_add_epi64(sums[2], sums[3]));
    uint64_t sum = static_cast<uint64_t>(_mm_cvtsi128_si64(total)) +
                   static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(total, total)));
    for (; i < size; ++i)
        sum += bytes[i];
    return sum;
}

void stats_benchmark(benchmark::State& state, Pylon::EPixelType type, int bytes_per_pixel, uint32_t w, uint32_t h,
                     bool window, bool arriving, bool floor)
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

    // Hot: memcpy between two buffers of their own, the statistics over `image`. Arriving:
    // an even number of frames in the ring, memcpy from the even ones, statistics over the odd
    // ones, so that no frame is read twice within a turn of the ring.
    size_t frames = 0;
    if (arriving) {
        frames = (4 * last_level_cache_bytes() + size - 1) / size;
        frames += frames % 2;
        std::vector<uint8_t>& ring = ring_storage();
        if (ring.size() < frames * size)
            ring.resize(frames * size);
        for (size_t i = 0; i < frames; ++i)
            std::memcpy(ring.data() + i * size, image.data(), size);
    }
    std::vector<uint8_t> copy_src(arriving ? 0 : size, 1), copy_dst(size);
    auto copy_source = [&](size_t iteration) {
        return arriving ? ring_storage().data() + (2 * iteration % frames) * size : copy_src.data();
    };
    auto stats_source = [&](size_t iteration) {
        return arriving ? ring_storage().data() + ((2 * iteration + 1) % frames) * size : image.data();
    };

    mirva::StatsImage view;
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
    uint64_t byte_sum = 0;
    size_t iteration = 0;
    for (auto _ : state) {
        const uint8_t* source = copy_source(iteration);
        view.pixels = stats_source(iteration);
        ++iteration;
        const auto t0 = Clock::now();
        std::memcpy(copy_dst.data(), source, size);
        benchmark::ClobberMemory();
        const auto t1 = Clock::now();
        if (floor) {
            byte_sum += read_every_byte(view.pixels, size);
            benchmark::DoNotOptimize(byte_sum);
        } else {
            result = mirva::compute_beam_stats(view, options);
            benchmark::DoNotOptimize(result);
        }
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
    state.counters["pool_MiB"] = static_cast<double>(frames * size) / (1 << 20);
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
            for (const char* what : {"stats", "floor"})
                for (bool window : {false, true})
                    for (bool arriving : {false, true}) {
                        const bool floor = what == std::string("floor");
                        if (floor && window)
                            continue;
                        const std::string name = std::string(what) + "/" + f.name + "/" + std::to_string(w) + "x" +
                                                 std::to_string(h) + (window ? "/window" : "") +
                                                 (arriving ? "/arriving" : "/hot");
                        benchmark::RegisterBenchmark(name.c_str(), stats_benchmark, f.type, f.bytes, w, h, window,
                                                     arriving, floor)
                            ->UseManualTime()
                            ->Unit(benchmark::kMicrosecond);
                    }
}

} // namespace

int main(int argc, char** argv)
{
    register_all();
    benchmark::AddCustomContext("last_level_cache_MiB", std::to_string(last_level_cache_bytes() >> 20));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
