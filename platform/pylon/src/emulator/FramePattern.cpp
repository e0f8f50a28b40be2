#include "FramePattern.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include <pylon/emulator/TestPattern.h>

namespace Pylon::Emulator {

namespace {

struct Rgb {
    uint32_t r, g, b; // 0..65535
};

constexpr uint32_t kFull = 65535;

uint32_t Luma(const Rgb& p) { return (77 * p.r + 150 * p.g + 29 * p.b) >> 8; }

// Sample (16-bit scale) of the Bayer filter colour at (x, row parity).
uint32_t BayerSample(EBayerPattern pattern, uint32_t x, uint32_t y, const Rgb& p)
{
    // Colour of the first two pixels of even rows; odd rows hold the other pair.
    const bool odd_x = x & 1, odd_y = y & 1;
    char c = 'G';
    switch (pattern) {
    case EBayerPattern::GR: c = !odd_y ? (odd_x ? 'R' : 'G') : (odd_x ? 'G' : 'B'); break;
    case EBayerPattern::RG: c = !odd_y ? (odd_x ? 'G' : 'R') : (odd_x ? 'B' : 'G'); break;
    case EBayerPattern::GB: c = !odd_y ? (odd_x ? 'B' : 'G') : (odd_x ? 'G' : 'R'); break;
    case EBayerPattern::BG: c = !odd_y ? (odd_x ? 'G' : 'B') : (odd_x ? 'R' : 'G'); break;
    case EBayerPattern::None: break;
    }
    return c == 'R' ? p.r : c == 'B' ? p.b : p.g;
}

uint32_t Scale(uint32_t sample16, uint32_t depth) { return depth >= 16 ? sample16 : sample16 >> (16 - depth); }

void PutWord(uint8_t* out, uint32_t v, bool wide)
{
    if (wide) {
        out[0] = static_cast<uint8_t>(v & 0xFF);
        out[1] = static_cast<uint8_t>(v >> 8);
    } else {
        out[0] = static_cast<uint8_t>(v);
    }
}

// Encodes n pixels (n a multiple of 4) of row parity y into `out` in the wire format of `info`.
void EncodeLine(const SPixelFormatInfo& info, const Rgb* px, uint32_t n, uint32_t y, uint8_t* out)
{
    const uint32_t depth = info.bitDepth;
    auto mono = [&](uint32_t x) {
        return info.colour == EPixelColour::Bayer ? BayerSample(info.bayer, x, y, px[x]) : Luma(px[x]);
    };
    switch (info.packing) {
    case EPixelPacking::None: {
        if (info.colour == EPixelColour::Mono || info.colour == EPixelColour::Bayer) {
            const bool wide = depth > 8;
            for (uint32_t x = 0; x < n; ++x)
                PutWord(out + x * (wide ? 2 : 1), Scale(mono(x), depth), wide);
            return;
        }
        if (info.colour == EPixelColour::RGB || info.colour == EPixelColour::BGR || info.colour == EPixelColour::RGBA ||
            info.colour == EPixelColour::BGRA) {
            const bool wide = depth > 8;
            const uint32_t bytes = wide ? 2 : 1;
            const bool bgr = info.colour == EPixelColour::BGR || info.colour == EPixelColour::BGRA;
            for (uint32_t x = 0; x < n; ++x) {
                uint8_t* p = out + x * info.channels * bytes;
                const uint32_t c0 = bgr ? px[x].b : px[x].r, c2 = bgr ? px[x].r : px[x].b;
                PutWord(p, Scale(c0, depth), wide);
                PutWord(p + bytes, Scale(px[x].g, depth), wide);
                PutWord(p + 2 * bytes, Scale(c2, depth), wide);
                if (info.channels == 4)
                    PutWord(p + 3 * bytes, Scale(kFull, depth), wide);
            }
            return;
        }
        // YUV, 8 bits per sample, full-range BT.601.
        auto yuv = [](const Rgb& p, int& Y, int& U, int& V) {
            const int r = static_cast<int>(p.r >> 8), g = static_cast<int>(p.g >> 8), b = static_cast<int>(p.b >> 8);
            Y = std::clamp((77 * r + 150 * g + 29 * b) >> 8, 0, 255);
            U = std::clamp(((-43 * r - 85 * g + 128 * b) >> 8) + 128, 0, 255);
            V = std::clamp(((128 * r - 107 * g - 21 * b) >> 8) + 128, 0, 255);
        };
        if (info.colour == EPixelColour::YUV444) {
            for (uint32_t x = 0; x < n; ++x) {
                int Y, U, V;
                yuv(px[x], Y, U, V);
                out[3 * x] = static_cast<uint8_t>(U);
                out[3 * x + 1] = static_cast<uint8_t>(Y);
                out[3 * x + 2] = static_cast<uint8_t>(V);
            }
            return;
        }
        if (info.colour == EPixelColour::YUV422_UYVY || info.colour == EPixelColour::YUV422_YUYV) {
            const bool uyvy = info.colour == EPixelColour::YUV422_UYVY;
            for (uint32_t x = 0; x + 1 < n; x += 2) {
                int Y0, U0, V0, Y1, U1, V1;
                yuv(px[x], Y0, U0, V0);
                yuv(px[x + 1], Y1, U1, V1);
                uint8_t* p = out + 2 * x;
                const auto U = static_cast<uint8_t>((U0 + U1) / 2), V = static_cast<uint8_t>((V0 + V1) / 2);
                if (uyvy) {
                    p[0] = U, p[1] = static_cast<uint8_t>(Y0), p[2] = V, p[3] = static_cast<uint8_t>(Y1);
                } else {
                    p[0] = static_cast<uint8_t>(Y0), p[1] = U, p[2] = static_cast<uint8_t>(Y1), p[3] = V;
                }
            }
            return;
        }
        if (info.colour == EPixelColour::YUV411) {
            // U Y0 Y1 V Y2 Y3 per 4 pixels
            for (uint32_t x = 0; x + 3 < n; x += 4) {
                int Y[4], U[4], V[4];
                for (int k = 0; k < 4; ++k)
                    yuv(px[x + k], Y[k], U[k], V[k]);
                uint8_t* p = out + x * 3 / 2;
                p[0] = static_cast<uint8_t>((U[0] + U[1] + U[2] + U[3]) / 4);
                p[1] = static_cast<uint8_t>(Y[0]);
                p[2] = static_cast<uint8_t>(Y[1]);
                p[3] = static_cast<uint8_t>((V[0] + V[1] + V[2] + V[3]) / 4);
                p[4] = static_cast<uint8_t>(Y[2]);
                p[5] = static_cast<uint8_t>(Y[3]);
            }
            return;
        }
        break;
    }
    case EPixelPacking::TwoInThree:
        for (uint32_t x = 0; x + 1 < n; x += 2) {
            const uint32_t p0 = Scale(mono(x), depth), p1 = Scale(mono(x + 1), depth);
            const uint32_t low = depth - 8, mask = (1u << low) - 1;
            uint8_t* p = out + x / 2 * 3;
            p[0] = static_cast<uint8_t>(p0 >> low);
            p[1] = static_cast<uint8_t>((p0 & mask) | ((p1 & mask) << 4));
            p[2] = static_cast<uint8_t>(p1 >> low);
        }
        return;
    case EPixelPacking::LsbStream:
        if (info.channels == 1) {
            std::memset(out, 0, (static_cast<size_t>(n) * info.bitsPerPixel + 7) / 8);
            uint64_t bit = 0;
            for (uint32_t x = 0; x < n; ++x) {
                const uint32_t v = Scale(mono(x), depth);
                for (uint32_t b = 0; b < depth; ++b, ++bit)
                    if (v & (1u << b))
                        out[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
            }
            return;
        }
        break;
    default:
        break;
    }
    throw INVALID_ARGUMENT_EXCEPTION("The emulated camera cannot send pixel format '%s'", std::string(info.name).c_str());
}

bool Encodable(const SPixelFormatInfo& info)
{
    switch (info.packing) {
    case EPixelPacking::None:
        return info.type != PixelType_Double && info.type != PixelType_Mono8signed;
    case EPixelPacking::TwoInThree:
        return true;
    case EPixelPacking::LsbStream:
        return info.channels == 1 && info.bitDepth >= 8;
    default:
        return false;
    }
}

// The format of frames of `key`, and their line stride; throws InvalidArgumentException for
// a format or size the emulated camera cannot send.
const SPixelFormatInfo& SendableFormat(const PatternKey& key, size_t& stride)
{
    const SPixelFormatInfo* info = FindPixelFormat(key.type);
    if (!info || !Encodable(*info))
        throw INVALID_ARGUMENT_EXCEPTION("The emulated camera cannot send pixel format 0x%08x",
                                         static_cast<unsigned>(key.type));
    if (key.width == 0 || key.height == 0 || !ComputeStride(stride, key.type, key.width))
        throw INVALID_ARGUMENT_EXCEPTION("The emulated camera cannot send a frame of %ux%u", key.width, key.height);
    return *info;
}

// Reads the raw sample of the first channel (Y for YUV) of pixel x in a line.
uint32_t ReadSample(const SPixelFormatInfo& info, const uint8_t* line, uint32_t x)
{
    const uint32_t depth = info.bitDepth;
    switch (info.packing) {
    case EPixelPacking::None: {
        switch (info.colour) {
        case EPixelColour::YUV422_UYVY: return line[2 * x + 1];
        case EPixelColour::YUV422_YUYV: return line[2 * x];
        case EPixelColour::YUV444: return line[3 * x + 1];
        case EPixelColour::YUV411: return line[(x / 4) * 6 + (x % 4 < 2 ? 1 + x % 4 : 2 + x % 4)];
        default: break;
        }
        const uint32_t bytes = depth > 8 ? 2 : 1;
        const uint8_t* p = line + static_cast<size_t>(x) * info.channels * bytes;
        return bytes == 2 ? static_cast<uint32_t>(p[0] | (p[1] << 8)) : p[0];
    }
    case EPixelPacking::TwoInThree: {
        const uint8_t* p = line + x / 2 * 3;
        const uint32_t low = depth - 8, mask = (1u << low) - 1;
        return x % 2 == 0 ? (static_cast<uint32_t>(p[0]) << low) | (p[1] & mask)
                          : (static_cast<uint32_t>(p[2]) << low) | ((p[1] >> 4) & mask);
    }
    case EPixelPacking::LsbStream: {
        uint32_t v = 0;
        uint64_t bit = static_cast<uint64_t>(x) * info.bitsPerPixel;
        for (uint32_t b = 0; b < depth; ++b, ++bit)
            if (line[bit / 8] & (1u << (bit % 8)))
                v |= 1u << b;
        return v;
    }
    default:
        return 0;
    }
}

} // namespace

bool IsPatternSupported(EPixelType type)
{
    const SPixelFormatInfo* info = FindPixelFormat(type);
    return info && Encodable(*info);
}

uint32_t FrameNumberBits(uint32_t width) { return std::min<uint32_t>(64, width) / 4 * 4; }

std::optional<uint64_t> DecodeFrameNumber(const void* buffer, size_t size, EPixelType type, uint32_t width)
{
    const SPixelFormatInfo* info = FindPixelFormat(type);
    size_t stride = 0;
    if (!info || !Encodable(*info) || !buffer || !ComputeStride(stride, type, width) || size < stride)
        return std::nullopt;
    const uint32_t bits = FrameNumberBits(width);
    const uint32_t half = info->colour == EPixelColour::YUV422_UYVY || info->colour == EPixelColour::YUV422_YUYV ||
                                  info->colour == EPixelColour::YUV444 || info->colour == EPixelColour::YUV411
                              ? 128
                              : 1u << (info->bitDepth - 1);
    uint64_t value = 0;
    for (uint32_t i = 0; i < bits; ++i)
        value = (value << 1) | (ReadSample(*info, static_cast<const uint8_t*>(buffer), i) >= half ? 1 : 0);
    return value;
}

void CFramePattern::Prepare(const PatternKey& key)
{
    if (info_ && key == key_)
        return;
    size_t stride = 0;
    const SPixelFormatInfo* info = &SendableFormat(key, stride);

    const bool bayer = info->colour == EPixelColour::Bayer;
    const uint32_t doubled = (key.width + kPatternPeriod + 3) / 4 * 4;
    const uint32_t ox = key.offsetX / std::max(1u, key.binningH);
    std::vector<Rgb> pixels(doubled);
    std::vector<std::vector<uint8_t>> lines;
    for (uint32_t band = 0; band < 4; ++band) {
        for (uint32_t parity = 0; parity < (bayer ? 2u : 1u); ++parity) {
            for (uint32_t x = 0; x < doubled; ++x) {
                // Sawtooth gradient over one period, scaled by the brightness.
                const uint64_t level = static_cast<uint64_t>((x + ox) % kPatternPeriod) * kFull / (kPatternPeriod - 1);
                const auto v = static_cast<uint32_t>(std::min<uint64_t>(kFull, level * key.brightness / 1000));
                const uint32_t q = v / 4;
                switch (band) {
                case 0: pixels[x] = {v, v, v}; break;
                case 1: pixels[x] = {v, q, q}; break;
                case 2: pixels[x] = {q, v, q}; break;
                default: pixels[x] = {q, q, v}; break;
                }
            }
            std::vector<uint8_t> line((static_cast<size_t>(doubled) * info->bitsPerPixel + 7) / 8 + 8, 0);
            EncodeLine(*info, pixels.data(), doubled, parity, line.data());
            lines.push_back(std::move(line));
        }
    }
    key_ = key;
    info_ = info;
    stride_ = stride;
    lines_ = std::move(lines);
    number_pixels_ = FrameNumberBits(key.width);
}

size_t CFramePattern::Write(uint64_t frameNumber, uint8_t* destination, size_t capacity) const
{
    if (!info_)
        return 0;
    const bool bayer = info_->colour == EPixelColour::Bayer;
    const size_t shift_bytes =
        static_cast<size_t>((frameNumber * kPatternStep) % kPatternPeriod) * info_->bitsPerPixel / 8;
    const uint32_t by = std::max(1u, key_.binningV);
    size_t written = 0;
    for (uint32_t y = 0; y < key_.height && written < capacity; ++y) {
        const uint32_t band = ((key_.offsetY + y * by) / 64) % 4;
        const auto& line = lines_[bayer ? band * 2 + (y & 1) : band];
        const size_t n = std::min(stride_, capacity - written);
        std::memcpy(destination + written, line.data() + shift_bytes, n);
        written += n;
    }
    // The frame number in the first pixels of the first line.
    if (number_pixels_ > 0) {
        std::array<Rgb, 64> bits{};
        for (uint32_t i = 0; i < number_pixels_; ++i) {
            const bool one = (frameNumber >> (number_pixels_ - 1 - i)) & 1;
            bits[i] = one ? Rgb{kFull, kFull, kFull} : Rgb{0, 0, 0};
        }
        std::array<uint8_t, 64 * 8 + 8> encoded{};
        EncodeLine(*info_, bits.data(), number_pixels_, 0, encoded.data());
        const size_t bytes = static_cast<size_t>(number_pixels_) * info_->bitsPerPixel / 8;
        std::memcpy(destination, encoded.data(), std::min({bytes, capacity, stride_}));
    }
    return written;
}

} // namespace Pylon::Emulator

namespace Pylon::Emulator {

std::optional<EPattern> PatternFromName(const std::string& name)
{
    if (name == "beam")
        return EPattern::Beam;
    if (name == "counter")
        return EPattern::Counter;
    return std::nullopt;
}

const char* PatternName(EPattern pattern) { return pattern == EPattern::Counter ? "counter" : "beam"; }

namespace {

// Normal deviates in units of 1/kNoiseUnit; a line reads a run of them from a random start.
constexpr size_t kNoiseStarts = size_t{1} << 16;
constexpr size_t kNoiseRun = size_t{1} << 16;   // longest run one start serves
constexpr float kNoiseUnit = 1024.0f;
constexpr double kReadNoise = 0.003;            // of full scale
constexpr double kShotNoiseAtFullScale = 0.01;  // of full scale
constexpr uint32_t kNoiseLines = 16;            // background lines to draw from
constexpr uint32_t kNoiseShift = 64;            // pixels a background line may start into its own

const int16_t* NoiseTable()
{
    static const std::vector<int16_t> table = [] {
        std::vector<int16_t> t(kNoiseStarts + kNoiseRun);
        std::mt19937 engine(20261207u); // fixed: frames are reproducible
        std::normal_distribution<float> normal(0.0f, kNoiseUnit);
        for (auto& v : t)
            v = static_cast<int16_t>(std::clamp(std::lround(normal(engine)), -32767L, 32767L));
        return t;
    }();
    return table.data();
}

uint64_t NextRandom(uint64_t& state)
{
    // splitmix64: cheap and good enough to pick table offsets
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Profile of a Gaussian of centre c and RMS width sigma over `count` binned pixels that start
// at binned pixel `offset`; each is the mean over the `binning` sensor pixels it covers.
std::vector<float> Profile(uint32_t count, uint32_t offset, uint32_t binning, double c, double sigma)
{
    std::vector<float> p(count);
    const double k = -0.5 / (sigma * sigma);
    for (uint32_t i = 0; i < count; ++i) {
        double sum = 0;
        for (uint32_t b = 0; b < binning; ++b) {
            const double d = static_cast<double>((static_cast<uint64_t>(offset) + i) * binning + b) - c;
            sum += std::exp(k * d * d);
        }
        p[i] = static_cast<float>(sum / binning);
    }
    return p;
}

// One line of samples: background + a * gx + noise, `channels` samples per pixel (a fourth
// channel is alpha at full scale). `n1` and `n2` are runs of normal deviates or null.
template <class T, uint32_t channels>
void BeamLineOf(T* out, uint32_t width, const float* gx, const float* sqrt_gx, float background, float a, float read,
                float shot, const int16_t* n1, const int16_t* n2, float max_value)
{
    constexpr uint32_t colour = std::min(channels, 3u);
    for (uint32_t x = 0; x < width; ++x) {
        const float clean = background + a * gx[x];
        const float shot_x = shot * sqrt_gx[x];
        for (uint32_t c = 0; c < colour; ++c) {
            float v = clean;
            if (n1) {
                const uint32_t s = x * colour + c;
                v += read * static_cast<float>(n1[s]) + shot_x * static_cast<float>(n2[s]);
            }
            v = std::clamp(v + 0.5f, 0.0f, max_value);
            out[x * channels + c] = static_cast<T>(v);
        }
        if constexpr (channels == 4)
            out[x * channels + 3] = static_cast<T>(max_value);
    }
}

template <class T>
void BeamLine(T* out, uint32_t width, uint32_t channels, const float* gx, const float* sqrt_gx, float background,
              float a, float read, float shot, const int16_t* n1, const int16_t* n2, float max_value)
{
    switch (channels) {
    case 1: return BeamLineOf<T, 1>(out, width, gx, sqrt_gx, background, a, read, shot, n1, n2, max_value);
    case 3: return BeamLineOf<T, 3>(out, width, gx, sqrt_gx, background, a, read, shot, n1, n2, max_value);
    default: return BeamLineOf<T, 4>(out, width, gx, sqrt_gx, background, a, read, shot, n1, n2, max_value);
    }
}

} // namespace

void CBeamPattern::Prepare(const PatternKey& key, const BeamSettings& beam)
{
    if (info_ && key == key_ && beam == beam_)
        return;
    size_t stride = 0;
    const SPixelFormatInfo* info = &SendableFormat(key, stride);
    if (!(beam.sigmaX >= kMinBeamSigma && beam.sigmaY >= kMinBeamSigma))
        throw INVALID_ARGUMENT_EXCEPTION("The beam's widths %g x %g are below %g pixels", beam.sigmaX, beam.sigmaY,
                                         kMinBeamSigma);

    // Plain 8- and 16-bit samples are written directly; other packings go through the encoder.
    Path path = Path::Generic;
    uint32_t channels = 1;
    if (info->packing == EPixelPacking::None && (info->bitDepth == 8 || (info->bitDepth > 8 && info->bitDepth <= 16))) {
        const bool plain_colour = info->colour == EPixelColour::RGB || info->colour == EPixelColour::BGR ||
                                  info->colour == EPixelColour::RGBA || info->colour == EPixelColour::BGRA;
        if (info->colour == EPixelColour::Mono || info->colour == EPixelColour::Bayer || plain_colour) {
            path = info->bitDepth == 8 ? Path::Narrow : Path::Wide;
            channels = plain_colour ? info->channels : 1;
        }
    }
    const double full = path == Path::Generic ? 65535.0 : static_cast<double>((1u << info->bitDepth) - 1);

    key_ = key;
    beam_ = beam;
    info_ = info;
    stride_ = stride;
    path_ = path;
    channels_ = channels;
    max_value_ = static_cast<float>(full);
    const uint32_t bh = std::max(1u, key.binningH), bv = std::max(1u, key.binningV);
    gx_ = Profile(key.width, key.offsetX, bh, beam.x, beam.sigmaX);
    gy_ = Profile(key.height, key.offsetY, bv, beam.y, beam.sigmaY);
    sqrt_gx_.resize(gx_.size());
    for (size_t i = 0; i < gx_.size(); ++i)
        sqrt_gx_[i] = std::sqrt(gx_[i]);
    peak_ = static_cast<float>(beam.intensity * key.brightness / 1000.0 * full);
    background_ = static_cast<float>(beam.background * full);
    // Shot noise: variance proportional to the signal, kShotNoiseAtFullScale at full scale.
    shot_factor_ = static_cast<float>(kShotNoiseAtFullScale * kShotNoiseAtFullScale * full);
    read_sigma_ = static_cast<float>(
        std::sqrt(kReadNoise * full * kReadNoise * full + static_cast<double>(shot_factor_) * background_));
    clean_.clear();
    noise_lines_.clear();
    spot_begin_.assign(key.height, 0);
    spot_end_.assign(key.height, key.width);
    if (beam.noise && path != Path::Generic) {
        // Background lines: the profile is 0 there, so only the read noise varies.
        const uint32_t wide = key.width + kNoiseShift;
        const std::vector<float> zero(wide, 0.0f);
        const size_t bytes = static_cast<size_t>(wide) * channels * (path == Path::Wide ? 2 : 1);
        uint64_t seed = 0x6A09E667F3BCC909ull;
        for (uint32_t k = 0; k < kNoiseLines; ++k) {
            std::vector<uint8_t> line(bytes);
            std::vector<uint16_t> wide_line(path == Path::Wide ? bytes / 2 : 0);
            for (uint32_t x0 = 0; x0 < wide; x0 += 4096) {
                const uint32_t n = std::min(4096u, wide - x0);
                const uint64_t r = NextRandom(seed);
                const int16_t* n1 = NoiseTable() + (r & (kNoiseStarts - 1));
                const float read = read_sigma_ / kNoiseUnit;
                if (path == Path::Narrow)
                    BeamLine(line.data() + static_cast<size_t>(x0) * channels, n, channels, zero.data(), zero.data(),
                             background_, 0.0f, read, 0.0f, n1, n1, max_value_);
                else
                    BeamLine(wide_line.data() + static_cast<size_t>(x0) * channels, n, channels, zero.data(),
                             zero.data(), background_, 0.0f, read, 0.0f, n1, n1, max_value_);
            }
            if (path == Path::Wide)
                std::memcpy(line.data(), wide_line.data(), bytes);
            noise_lines_.push_back(std::move(line));
        }
        // The spot shows where it adds a quarter of a step or more.
        for (uint32_t y = 0; y < key.height; ++y) {
            const float a = peak_ * gy_[y];
            uint32_t begin = 0, end = key.width;
            while (begin < end && a * gx_[begin] < 0.25f)
                ++begin;
            while (end > begin && a * gx_[end - 1] < 0.25f)
                --end;
            spot_begin_[y] = begin;
            spot_end_[y] = end;
        }
    }
    if (!beam.noise) {
        clean_.resize(FrameSize());
        uint64_t unused = 0;
        for (uint32_t y = 0; y < key.height; ++y)
            Line(y, unused, clean_.data() + y * stride_);
    }
}

void CBeamPattern::Line(uint32_t y, uint64_t& seed, uint8_t* out) const
{
    if (!noise_lines_.empty()) {
        // Background and read noise from a prepared line, the spot computed where it shows.
        const uint64_t r = NextRandom(seed);
        const size_t pixel_bytes = static_cast<size_t>(channels_) * (path_ == Path::Wide ? 2 : 1);
        const auto& line = noise_lines_[r % kNoiseLines];
        std::memcpy(out, line.data() + ((r >> 32) % kNoiseShift) * pixel_bytes, stride_);
        const uint32_t begin = spot_begin_[y], end = spot_end_[y];
        if (begin < end)
            Spot(y, begin, end, seed, out + begin * pixel_bytes);
        return;
    }
    Spot(y, 0, key_.width, seed, out);
}

void CBeamPattern::Spot(uint32_t y, uint32_t first, uint32_t last, uint64_t& seed, uint8_t* out) const
{
    const uint32_t width = last - first;
    const float a = peak_ * gy_[y];
    const float shot = std::sqrt(shot_factor_ * a) / kNoiseUnit;
    const float read = read_sigma_ / kNoiseUnit;
    const int16_t* n1 = nullptr;
    const int16_t* n2 = nullptr;
    const uint32_t samples_per_pixel = std::min(channels_, 3u);
    // One run of deviates serves kNoiseRun samples; wider lines take several runs.
    const uint32_t pixels_per_run = static_cast<uint32_t>(kNoiseRun / samples_per_pixel);
    for (uint32_t x0 = 0; x0 < width; x0 += pixels_per_run) {
        const uint32_t n = std::min(pixels_per_run, width - x0);
        if (beam_.noise) {
            const uint64_t r = NextRandom(seed);
            n1 = NoiseTable() + (r & (kNoiseStarts - 1));
            n2 = NoiseTable() + ((r >> 32) & (kNoiseStarts - 1));
        }
        switch (path_) {
        case Path::Narrow:
            BeamLine(out + static_cast<size_t>(x0) * channels_, n, channels_, gx_.data() + first + x0,
                     sqrt_gx_.data() + first + x0, background_, a, read, shot, n1, n2, max_value_);
            break;
        case Path::Wide: {
            std::vector<uint16_t> line(static_cast<size_t>(n) * channels_);
            BeamLine(line.data(), n, channels_, gx_.data() + first + x0, sqrt_gx_.data() + first + x0, background_, a,
                     read, shot, n1, n2, max_value_);
            std::memcpy(out + static_cast<size_t>(x0) * channels_ * 2, line.data(), line.size() * 2); // little endian
            break;
        }
        case Path::Generic: {
            // Grey light: every colour sample and the luma are the same level; chroma is neutral.
            std::vector<uint16_t> level(n);
            BeamLine(level.data(), n, 1, gx_.data() + first + x0, sqrt_gx_.data() + first + x0, background_, a, read, shot, n1, n2,
                     max_value_);
            const uint32_t padded = (n + 3) / 4 * 4;
            std::vector<Rgb> pixels(padded, Rgb{0, 0, 0});
            for (uint32_t x = 0; x < n; ++x)
                pixels[x] = Rgb{level[x], level[x], level[x]};
            std::vector<uint8_t> encoded((static_cast<size_t>(padded) * info_->bitsPerPixel + 7) / 8 + 8, 0);
            EncodeLine(*info_, pixels.data(), padded, y, encoded.data());
            // Runs hold whole bytes only for byte-aligned pixel groups: copy the line at once.
            const size_t begin = static_cast<size_t>(x0) * info_->bitsPerPixel / 8;
            const size_t bytes = std::min(stride_ - begin, encoded.size());
            std::memcpy(out + begin, encoded.data(), bytes);
            break;
        }
        }
    }
}

size_t CBeamPattern::Write(uint64_t frameNumber, uint8_t* destination, size_t capacity) const
{
    if (!info_)
        return 0;
    const size_t size = std::min(FrameSize(), capacity);
    if (!beam_.noise) {
        std::memcpy(destination, clean_.data(), size);
        return size;
    }
    uint64_t seed = frameNumber * 0x2545F4914F6CDD1Dull;
    std::vector<uint8_t> partial;
    size_t written = 0;
    for (uint32_t y = 0; y < key_.height && written < capacity; ++y) {
        if (capacity - written >= stride_) {
            Line(y, seed, destination + written);
            written += stride_;
        } else {
            partial.resize(stride_);
            Line(y, seed, partial.data());
            std::memcpy(destination + written, partial.data(), capacity - written);
            written = capacity;
        }
    }
    return written;
}

} // namespace Pylon::Emulator
