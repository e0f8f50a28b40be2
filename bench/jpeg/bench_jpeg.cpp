// JPEG encoding of one frame, as the live view and the MJPEG streams do it (quality 80, and
// half scale), against PNG of the same frame (the image endpoint's default) and memcpy of
// its bytes. The frames look like a camera watching a beam: a Gaussian spot on a dark
// background with shot and read noise. The targets are per frame on one core: read the CPU
// column, since the Time column also counts waits for a core when the machine is shared.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "frame_encoding.h"
#include "png_encode.h"

namespace {

using mirva::DeliveredImage;
using namespace mirva::camserver;

// A beam: peak about 3/4 of full scale, sigma 1/12 of the width, dark level 12 counts.
std::shared_ptr<const DeliveredImage> beam_image(int width, int height, int bytes_per_pixel) {
    auto img = std::make_shared<DeliveredImage>();
    img->width = width;
    img->height = height;
    img->bytes_per_pixel = bytes_per_pixel;
    img->sequence = 1;
    img->header.img_ext_prm.ebitpp = 8;
    img->pixels.resize(size_t(width) * height * bytes_per_pixel);
    std::mt19937 rng(7);
    std::normal_distribution<double> read_noise(0.0, 2.0);
    const double cx = width * 0.45, cy = height * 0.55, sigma = width / 12.0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double r2 = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (2 * sigma * sigma);
            const double signal = 190.0 * std::exp(-r2);
            // shot noise ~ sqrt(signal), as a Gaussian (cheaper than Poisson for a benchmark set-up)
            const double v = 12.0 + signal + std::sqrt(signal) * read_noise(rng) * 0.5 + read_noise(rng);
            const uint8_t p = static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
            uint8_t* d = img->pixels.data() + (size_t(y) * width + x) * bytes_per_pixel;
            if (bytes_per_pixel == 1) {
                d[0] = p;
            } else {  // a reddish beam on a colour sensor
                d[0] = p;
                d[1] = static_cast<uint8_t>(p * 3 / 4);
                d[2] = static_cast<uint8_t>(p / 2);
            }
        }
    }
    return img;
}

void run_encoding(benchmark::State& state, int width, int height, int bytes_per_pixel, Encoding encoding, int scale_permille) {
    const auto img = beam_image(width, height, bytes_per_pixel);
    FrameFormat format;
    format.encoding = encoding;
    format.quality = 80;
    format.scale_permille = scale_permille;
    size_t bytes = 0;
    for (auto _ : state) {
        auto e = encode_frame(img, format);
        bytes = e.size();
        benchmark::DoNotOptimize(e.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(img->pixels.size()));
    state.counters["out_bytes"] = double(bytes);
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_jpeg_rgb_1920x1200(benchmark::State& s) { run_encoding(s, 1920, 1200, 3, Encoding::jpeg, 1000); }
void BM_jpeg_rgb_1920x1200_half(benchmark::State& s) { run_encoding(s, 1920, 1200, 3, Encoding::jpeg, 500); }
void BM_png_rgb_1920x1200(benchmark::State& s) { run_encoding(s, 1920, 1200, 3, Encoding::png, 1000); }
void BM_jpeg_mono8_1280x1024(benchmark::State& s) { run_encoding(s, 1280, 1024, 1, Encoding::jpeg, 1000); }
void BM_jpeg_mono8_1280x1024_half(benchmark::State& s) { run_encoding(s, 1280, 1024, 1, Encoding::jpeg, 500); }
void BM_png_mono8_1280x1024(benchmark::State& s) { run_encoding(s, 1280, 1024, 1, Encoding::png, 1000); }
BENCHMARK(BM_jpeg_rgb_1920x1200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_jpeg_rgb_1920x1200_half)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_png_rgb_1920x1200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_jpeg_mono8_1280x1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_jpeg_mono8_1280x1024_half)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_png_mono8_1280x1024)->Unit(benchmark::kMillisecond);

template <int W, int H, int BPP>
void BM_memcpy_frame(benchmark::State& state) {
    std::vector<uint8_t> in(static_cast<size_t>(W) * H * BPP, 1);
    std::vector<uint8_t> out(in.size());
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), in.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_memcpy_frame<1920, 1200, 3>)->Name("BM_memcpy_rgb_1920x1200")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_memcpy_frame<1280, 1024, 1>)->Name("BM_memcpy_mono8_1280x1024")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
