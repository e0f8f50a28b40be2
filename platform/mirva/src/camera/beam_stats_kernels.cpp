// The one pass of the beam statistics. The vector path keeps the column sums in narrow lanes
// (16-bit for 8-bit samples, 32-bit for 16-bit samples) that live in the first-level cache and
// are widened into the 64-bit sums before they could overflow; row sums, row maxima and
// saturated counts stay in registers for the row. The peak's column is found afterwards in the
// one row that holds it.
#include "camera/beam_stats_kernels.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace mirva::stats_kernels {

namespace {

uint32_t sample(const Window& w, const uint8_t* row, int x, bool& saturated)
{
    switch (w.bytes_per_pixel) {
    case 1: {
        const uint32_t v = row[x];
        saturated = v == 255;
        return v;
    }
    case 2: {
        const uint32_t v = row[2 * x] | (uint32_t{row[2 * x + 1]} << 8);
        saturated = v >= w.full_scale;
        return v;
    }
    default: {
        const uint32_t r = row[3 * x], g = row[3 * x + 1], b = row[3 * x + 2];
        saturated = r == 255 || g == 255 || b == 255;
        return luminance(r, g, b);
    }
    }
}

const uint8_t* row_of(const Window& w, int y)
{
    return w.first + static_cast<size_t>(y) * w.stride;
}

// First column of row `y` holding `value`.
int first_column_of(const Window& w, int y, uint32_t value)
{
    const uint8_t* row = row_of(w, y);
    bool saturated = false;
    for (int x = 0; x < w.width; ++x)
        if (sample(w, row, x, saturated) == value)
            return x;
    return 0;
}

void reset(const Window& w, Projections& out)
{
    out.columns.assign(static_cast<size_t>(w.width), 0);
    out.rows.assign(static_cast<size_t>(w.height), 0);
    out.peak = 0;
    out.peak_x = out.peak_y = 0;
    out.saturated = 0;
}

bool has_avx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

// ---- AVX2 ----

__attribute__((target("avx2"))) inline uint64_t sum_u64(__m256i v)
{
    const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return static_cast<uint64_t>(_mm_cvtsi128_si64(s)) + static_cast<uint64_t>(_mm_extract_epi64(s, 1));
}

__attribute__((target("avx2"))) inline uint32_t max_u8(__m256i v)
{
    __m128i m = _mm_max_epu8(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    m = _mm_max_epu8(m, _mm_srli_si128(m, 8));
    m = _mm_max_epu8(m, _mm_srli_si128(m, 4));
    m = _mm_max_epu8(m, _mm_srli_si128(m, 2));
    m = _mm_max_epu8(m, _mm_srli_si128(m, 1));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(m)) & 0xff;
}

__attribute__((target("avx2"))) inline uint32_t max_u16(__m256i v)
{
    __m128i m = _mm_max_epu16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    m = _mm_max_epu16(m, _mm_srli_si128(m, 8));
    m = _mm_max_epu16(m, _mm_srli_si128(m, 4));
    m = _mm_max_epu16(m, _mm_srli_si128(m, 2));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(m)) & 0xffff;
}

// Byte shuffles that gather one channel of 16 RGB pixels (48 bytes in three registers) into
// 16 bytes: kChannelMasks[channel][register].
constexpr std::array<std::array<std::array<uint8_t, 16>, 3>, 3> make_channel_masks()
{
    std::array<std::array<std::array<uint8_t, 16>, 3>, 3> masks{};
    for (int channel = 0; channel < 3; ++channel)
        for (int reg = 0; reg < 3; ++reg)
            for (int i = 0; i < 16; ++i) {
                const int source = 3 * i + channel;
                masks[channel][reg][i] = source / 16 == reg ? static_cast<uint8_t>(source % 16) : uint8_t{0x80};
            }
    return masks;
}
constexpr auto kChannelMasks = make_channel_masks();

// Adds 32 values (already luminance for RGB) to the narrow column sums at `columns`.
__attribute__((target("avx2"))) inline void add_block8(__m256i v, __m256i saturated_mask, __m256i threshold,
                                                      uint16_t* columns, __m256i& sum, __m256i& peak,
                                                      __m256i& saturated)
{
    const __m256i w = _mm256_subs_epu8(v, threshold);
    const __m256i lo = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(w));
    const __m256i hi = _mm256_cvtepu8_epi16(_mm256_extracti128_si256(w, 1));
    auto* c = reinterpret_cast<__m256i*>(columns);
    _mm256_storeu_si256(c, _mm256_add_epi16(_mm256_loadu_si256(c), lo));
    _mm256_storeu_si256(c + 1, _mm256_add_epi16(_mm256_loadu_si256(c + 1), hi));
    sum = _mm256_add_epi64(sum, _mm256_sad_epu8(w, _mm256_setzero_si256()));
    peak = _mm256_max_epu8(peak, v);
    saturated = _mm256_sub_epi8(saturated, saturated_mask);
}

__attribute__((target("avx2"))) inline __m256i load_two(const uint8_t* low, const uint8_t* high)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

// (77 R + 150 G + 29 B) >> 8 of 16-bit channels: at most 256 * 255, so no lane overflows.
__attribute__((target("avx2"))) inline __m256i luma(__m256i r, __m256i g, __m256i b)
{
    const __m256i weighted = _mm256_add_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(r, _mm256_set1_epi16(77)), _mm256_mullo_epi16(g, _mm256_set1_epi16(150))),
        _mm256_mullo_epi16(b, _mm256_set1_epi16(29)));
    return _mm256_srli_epi16(weighted, 8);
}

// One channel of 32 RGB pixels, from the registers `load8` fills.
__attribute__((target("avx2"))) inline __m256i gather(const __m256i (&masks)[3], __m256i a, __m256i b, __m256i c)
{
    return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(a, masks[0]), _mm256_shuffle_epi8(b, masks[1])),
                           _mm256_shuffle_epi8(c, masks[2]));
}

// 32 values of an 8-bit row at column x (luminance for RGB); for RGB also each pixel's largest
// channel, which tells whether it is saturated.
template <bool Rgb>
__attribute__((target("avx2"))) inline __m256i load8(const uint8_t* row, int x, const __m256i (&masks)[3][3],
                                                    __m256i& largest_channel)
{
    const __m256i zero = _mm256_setzero_si256();
    if constexpr (Rgb) {
        const uint8_t* p = row + 3 * static_cast<size_t>(x);
        // Pixels 0..15 in the low lanes, 16..31 in the high lanes.
        const __m256i a = load_two(p, p + 48), b = load_two(p + 16, p + 64), c = load_two(p + 32, p + 80);
        const __m256i r = gather(masks[0], a, b, c), g = gather(masks[1], a, b, c), bl = gather(masks[2], a, b, c);
        const __m256i lo =
            luma(_mm256_unpacklo_epi8(r, zero), _mm256_unpacklo_epi8(g, zero), _mm256_unpacklo_epi8(bl, zero));
        const __m256i hi =
            luma(_mm256_unpackhi_epi8(r, zero), _mm256_unpackhi_epi8(g, zero), _mm256_unpackhi_epi8(bl, zero));
        largest_channel = _mm256_max_epu8(_mm256_max_epu8(r, g), bl);
        return _mm256_packus_epi16(lo, hi);
    } else {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x));
        largest_channel = v;
        return v;
    }
}

// Rows of 32 columns from x, of a group of `Rows` rows (1..4) that share the loads and stores
// of the column sums. The narrow column sums of a 32-column block hold, in this order, columns
// 0-7, 16-23, 8-15, 24-31 of the block (the order the byte pairs widen in). Saturated pixels
// are not counted here: only rows whose largest sample (for RGB: channel) is 255 hold any, and
// `count_saturated8` counts them afterwards, which keeps the common rows' loop short.
template <bool Rgb, int Rows>
__attribute__((target("avx2"))) void group8(const uint8_t* const* rows, int vector_end, __m256i threshold,
                                           const __m256i (&masks)[3][3], uint16_t* narrow, uint64_t* row_sums,
                                           uint32_t* row_peaks, uint32_t* row_largest)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ones = _mm256_set1_epi8(1);
    __m256i sum[Rows], peak[Rows], largest[Rows];
    for (int k = 0; k < Rows; ++k)
        sum[k] = peak[k] = largest[k] = zero;
    for (int x = 0; x < vector_end; x += 32) {
        __m256i value[4] = {zero, zero, zero, zero};
        for (int k = 0; k < Rows; ++k) {
            __m256i largest_channel;
            const __m256i v = load8<Rgb>(rows[k], x, masks, largest_channel);
            value[k] = _mm256_subs_epu8(v, threshold);
            sum[k] = _mm256_add_epi64(sum[k], _mm256_sad_epu8(value[k], zero));
            peak[k] = _mm256_max_epu8(peak[k], v);
            if constexpr (Rgb)
                largest[k] = _mm256_max_epu8(largest[k], largest_channel);
        }
        __m256i lo = _mm256_maddubs_epi16(_mm256_unpacklo_epi8(value[0], value[1]), ones);
        __m256i hi = _mm256_maddubs_epi16(_mm256_unpackhi_epi8(value[0], value[1]), ones);
        if constexpr (Rows > 2) {
            lo = _mm256_add_epi16(lo, _mm256_maddubs_epi16(_mm256_unpacklo_epi8(value[2], value[3]), ones));
            hi = _mm256_add_epi16(hi, _mm256_maddubs_epi16(_mm256_unpackhi_epi8(value[2], value[3]), ones));
        }
        auto* c = reinterpret_cast<__m256i*>(narrow + x);
        _mm256_storeu_si256(c, _mm256_add_epi16(_mm256_loadu_si256(c), lo));
        _mm256_storeu_si256(c + 1, _mm256_add_epi16(_mm256_loadu_si256(c + 1), hi));
    }
    for (int k = 0; k < Rows; ++k) {
        row_sums[k] = sum_u64(sum[k]);
        row_peaks[k] = max_u8(peak[k]);
        row_largest[k] = Rgb ? max_u8(largest[k]) : row_peaks[k];
    }
}

// Saturated pixels among a row's first `vector_end` pixels.
template <bool Rgb>
__attribute__((target("avx2"))) uint64_t count_saturated8(const uint8_t* row, int vector_end,
                                                          const __m256i (&masks)[3][3])
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i all = _mm256_set1_epi8(-1);
    __m256i count = zero;
    for (int x = 0; x < vector_end; x += 32) {
        __m256i largest_channel;
        load8<Rgb>(row, x, masks, largest_channel);
        const __m256i saturated = _mm256_and_si256(_mm256_cmpeq_epi8(largest_channel, all), _mm256_set1_epi8(1));
        count = _mm256_add_epi64(count, _mm256_sad_epu8(saturated, zero));
    }
    return sum_u64(count);
}

// Column of the image for entry j of a block's narrow column sums.
constexpr int block_column(int j)
{
    return j < 8 ? j : j < 16 ? j + 8 : j < 24 ? j - 8 : j;
}

// Mono8 and RGB8: 8-bit values, 16-bit column sums flushed every 256 rows (255 * 256 < 65536).
template <bool Rgb>
__attribute__((target("avx2"))) void project8_avx2(const Window& w, Projections& out)
{
    const int n = w.width, h = w.height;
    const int vector_end = n / 32 * 32;
    std::vector<uint16_t> narrow(static_cast<size_t>(n), 0);
    const __m256i threshold = _mm256_set1_epi8(static_cast<char>(w.threshold));
    __m256i masks[3][3];
    for (int channel = 0; channel < 3; ++channel)
        for (int reg = 0; reg < 3; ++reg)
            masks[channel][reg] = _mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(kChannelMasks[channel][reg].data())));
    // RGB needs the registers for its shuffles: two rows at a time.
    constexpr int kGroup = Rgb ? 2 : 4;
    uint32_t peak = 0;
    for (int band = 0; band < h; band += 256) {
        const int band_end = std::min(h, band + 256);
        for (int y = band; y < band_end; y += kGroup) {
            const int count = std::min(kGroup, band_end - y);
            const uint8_t* rows[4];
            uint64_t row_sums[4];
            uint32_t row_peaks[4], row_largest[4];
            for (int k = 0; k < count; ++k)
                rows[k] = row_of(w, y + k);
            switch (count) {
            case 4:
                group8<Rgb, 4>(rows, vector_end, threshold, masks, narrow.data(), row_sums, row_peaks, row_largest);
                break;
            case 3:
                group8<Rgb, 3>(rows, vector_end, threshold, masks, narrow.data(), row_sums, row_peaks, row_largest);
                break;
            case 2:
                group8<Rgb, 2>(rows, vector_end, threshold, masks, narrow.data(), row_sums, row_peaks, row_largest);
                break;
            default:
                group8<Rgb, 1>(rows, vector_end, threshold, masks, narrow.data(), row_sums, row_peaks, row_largest);
                break;
            }
            for (int k = 0; k < count; ++k) {
                uint64_t row_sum = row_sums[k];
                uint64_t saturated_count = row_largest[k] == 255 ? count_saturated8<Rgb>(rows[k], vector_end, masks) : 0;
                uint32_t row_max = row_peaks[k];
                for (int x = vector_end; x < n; ++x) {
                    bool is_saturated = false;
                    const uint32_t v = sample(w, rows[k], x, is_saturated);
                    const uint32_t value = v > w.threshold ? v - w.threshold : 0;
                    narrow[static_cast<size_t>(x)] = static_cast<uint16_t>(narrow[static_cast<size_t>(x)] + value);
                    row_sum += value;
                    row_max = std::max(row_max, v);
                    saturated_count += is_saturated ? 1 : 0;
                }
                out.rows[static_cast<size_t>(y + k)] = row_sum;
                out.saturated += saturated_count;
                if (y + k == 0 || row_max > peak) {
                    peak = row_max;
                    out.peak_y = y + k;
                }
            }
        }
        for (int x = 0; x < vector_end; x += 32)
            for (int j = 0; j < 32; ++j) {
                out.columns[static_cast<size_t>(x + block_column(j))] += narrow[static_cast<size_t>(x + j)];
                narrow[static_cast<size_t>(x + j)] = 0;
            }
        for (int x = vector_end; x < n; ++x) {
            out.columns[static_cast<size_t>(x)] += narrow[static_cast<size_t>(x)];
            narrow[static_cast<size_t>(x)] = 0;
        }
    }
    out.peak = peak;
}

// Samples at or above full scale among a Mono16 row's first `vector_end` samples.
__attribute__((target("avx2"))) uint64_t count_saturated16(const uint8_t* row, int vector_end, __m256i full)
{
    __m256i count = _mm256_setzero_si256();
    for (int x = 0; x < vector_end; x += 16) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 2 * static_cast<size_t>(x)));
        count = _mm256_sub_epi16(count, _mm256_cmpeq_epi16(_mm256_max_epu16(v, full), v));
    }
    // At most 4096 blocks: the 16-bit counters hold them.
    const __m256i count32 = _mm256_madd_epi16(count, _mm256_set1_epi16(1));
    return sum_u64(_mm256_add_epi64(_mm256_cvtepu32_epi64(_mm256_castsi256_si128(count32)),
                                    _mm256_cvtepu32_epi64(_mm256_extracti128_si256(count32, 1))));
}

// Mono16: 32-bit column sums flushed every 65536 rows (65535 * 65536 < 2^32).
__attribute__((target("avx2"))) void project16_avx2(const Window& w, Projections& out)
{
    const int n = w.width, h = w.height;
    const int vector_end = n / 16 * 16;
    std::vector<uint32_t> narrow(static_cast<size_t>(n), 0);
    const __m256i threshold = _mm256_set1_epi16(static_cast<short>(w.threshold));
    const __m256i full = _mm256_set1_epi16(static_cast<short>(w.full_scale));
    const __m256i zero = _mm256_setzero_si256();
    uint32_t peak = 0;
    int pending = 0;
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = row_of(w, y);
        // A row holds at most 4096 blocks: the 32-bit row sum lanes (n / 8 values below 2^16
        // each) cannot overflow.
        __m256i sum = zero, row_peak = zero;
        int x = 0;
        for (; x < vector_end; x += 16) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 2 * static_cast<size_t>(x)));
            const __m256i value = _mm256_subs_epu16(v, threshold);
            const __m256i lo = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(value));
            const __m256i hi = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(value, 1));
            auto* c = reinterpret_cast<__m256i*>(narrow.data() + x);
            _mm256_storeu_si256(c, _mm256_add_epi32(_mm256_loadu_si256(c), lo));
            _mm256_storeu_si256(c + 1, _mm256_add_epi32(_mm256_loadu_si256(c + 1), hi));
            sum = _mm256_add_epi32(sum, _mm256_add_epi32(lo, hi));
            row_peak = _mm256_max_epu16(row_peak, v);
        }
        const __m256i sum64 = _mm256_add_epi64(_mm256_cvtepu32_epi64(_mm256_castsi256_si128(sum)),
                                               _mm256_cvtepu32_epi64(_mm256_extracti128_si256(sum, 1)));
        uint64_t row_sum = sum_u64(sum64);
        uint32_t row_max = max_u16(row_peak);
        // Only rows that reach full scale hold saturated pixels: counted in a second look.
        uint64_t saturated_count = row_max >= w.full_scale ? count_saturated16(row, vector_end, full) : 0;
        for (; x < n; ++x) {
            bool is_saturated = false;
            const uint32_t v = sample(w, row, x, is_saturated);
            const uint32_t value = v > w.threshold ? v - w.threshold : 0;
            narrow[static_cast<size_t>(x)] += value;
            row_sum += value;
            row_max = std::max(row_max, v);
            saturated_count += is_saturated ? 1 : 0;
        }
        out.rows[static_cast<size_t>(y)] = row_sum;
        out.saturated += saturated_count;
        if (y == 0 || row_max > peak) {
            peak = row_max;
            out.peak_y = y;
        }
        if (++pending == 65536 || y == h - 1) {
            for (int i = 0; i < n; ++i) {
                out.columns[static_cast<size_t>(i)] += narrow[static_cast<size_t>(i)];
                narrow[static_cast<size_t>(i)] = 0;
            }
            pending = 0;
        }
    }
    out.peak = peak;
}

} // namespace

void project_plain(const Window& w, Projections& out)
{
    reset(w, out);
    bool has_peak = false;
    for (int y = 0; y < w.height; ++y) {
        const uint8_t* row = row_of(w, y);
        for (int x = 0; x < w.width; ++x) {
            bool saturated = false;
            const uint32_t v = sample(w, row, x, saturated);
            const uint32_t value = v > w.threshold ? v - w.threshold : 0;
            out.columns[static_cast<size_t>(x)] += value;
            out.rows[static_cast<size_t>(y)] += value;
            if (!has_peak || v > out.peak) {
                has_peak = true;
                out.peak = v;
                out.peak_x = x;
                out.peak_y = y;
            }
            out.saturated += saturated ? 1 : 0;
        }
    }
}

bool project_vector(const Window& w, Projections& out)
{
    if (!has_avx2())
        return false;
    reset(w, out);
    if (w.bytes_per_pixel == 2)
        project16_avx2(w, out);
    else if (w.bytes_per_pixel == 3)
        project8_avx2<true>(w, out);
    else
        project8_avx2<false>(w, out);
    out.peak_x = first_column_of(w, out.peak_y, out.peak);
    return true;
}

} // namespace mirva::stats_kernels
