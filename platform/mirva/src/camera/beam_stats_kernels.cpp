// The one pass of the beam statistics. The vector path keeps the column sums in narrow lanes
// (16-bit for 8-bit samples, 32-bit for 16-bit samples) that live in the first-level cache and
// are widened into the 64-bit sums before they could overflow; row sums stay in registers for
// the row. 8-bit rows go four at a time, sharing the loads and stores of the column sums, and
// RGB luminance comes from the interleaved bytes with one multiply-add. A frame just delivered
// comes from memory: the pass asks for the next rows in memory order while it works (Ahead).
// Only the largest value of each group of rows is kept: the first pixel holding the peak is
// looked for afterwards in the one group that first reached it, and saturated pixels are
// counted only in rows of groups that reach full scale.
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

// The first pixel in row order holding `value` among `rows` rows from `first_row`, into
// out.peak_x and out.peak_y.
void find_first(const Window& w, int first_row, int rows, uint32_t value, Projections& out)
{
    bool saturated = false;
    for (int y = first_row; y < first_row + rows; ++y) {
        const uint8_t* row = row_of(w, y);
        for (int x = 0; x < w.width; ++x)
            if (sample(w, row, x, saturated) == value) {
                out.peak_x = x;
                out.peak_y = y;
                return;
            }
    }
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

__attribute__((target("avx2"))) inline __m256i load_two(const uint8_t* low, const uint8_t* high)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

// One channel of 16 RGB pixels per lane, from three registers of 48 bytes per lane.
__attribute__((target("avx2"))) inline __m256i gather(const __m256i (&masks)[3], __m256i a, __m256i b, __m256i c)
{
    return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(a, masks[0]), _mm256_shuffle_epi8(b, masks[1])),
                           _mm256_shuffle_epi8(c, masks[2]));
}

// Largest channel of each of the 32 RGB pixels at `p` (96 bytes): 255 tells a saturated pixel.
__attribute__((target("avx2"))) inline __m256i largest_channel32(const uint8_t* p, const __m256i (&masks)[3][3])
{
    // Pixels 0..15 in the low lanes, 16..31 in the high lanes.
    const __m256i a = load_two(p, p + 48), b = load_two(p + 16, p + 64), c = load_two(p + 32, p + 80);
    return _mm256_max_epu8(_mm256_max_epu8(gather(masks[0], a, b, c), gather(masks[1], a, b, c)),
                           gather(masks[2], a, b, c));
}

// The luminance of RGB pixels from the interleaved bytes, without separating the channels: one
// byte shuffle turns four pixels (12 bytes of a lane) into their (R, G) pairs, then their
// (G, B) pairs, and one multiply-add of byte pairs weighs them. 77 R + 150 G + 29 B splits into
// 77 R + 51 G and 99 G + 29 B, pairs of weights that sum to 128: each product is at most
// 128 * 255 = 32640, which the signed 16-bit results hold; their sum, at most 65280, is exact
// in unsigned 16-bit lanes.
struct LumaConstants {
    __m256i pairs, weights;
    __m256i pairs_last;  // the same for a block's last quad, which is loaded four bytes early
};

__attribute__((target("avx2"))) inline LumaConstants luma_constants()
{
    const __m128i pairs = _mm_setr_epi8(0, 1, 3, 4, 6, 7, 9, 10, 1, 2, 4, 5, 7, 8, 10, 11);
    const __m128i weights = _mm_setr_epi8(77, 51, 77, 51, 77, 51, 77, 51, 99, 29, 99, 29, 99, 29, 99, 29);
    const __m128i four = _mm_set1_epi8(4);
    return {_mm256_broadcastsi128_si256(pairs), _mm256_broadcastsi128_si256(weights),
            _mm256_setr_m128i(pairs, _mm_add_epi8(pairs, four))};
}

// Luminance of the 32 RGB pixels at `p` (96 bytes), in pixel order. `largest` gets the largest
// byte, which is below 255 when no pixel is saturated.
__attribute__((target("avx2"))) inline __m256i luma32(const uint8_t* p, const LumaConstants& c, __m256i& largest)
{
    // Quad q (pixels 4q .. 4q + 3) in the low lane, quad q + 4 in the high lane, so that the
    // halves below come together in pixel order. The last quad's 16 bytes start four bytes
    // early, so as not to read past the block.
    __m256i parts[4];
    for (int q = 0; q < 4; ++q) {
        const bool last = q == 3;
        const __m256i bytes = load_two(p + 12 * q, p + 12 * (q + 4) - (last ? 4 : 0));
        largest = q == 0 ? bytes : _mm256_max_epu8(largest, bytes);
        parts[q] = _mm256_maddubs_epi16(_mm256_shuffle_epi8(bytes, last ? c.pairs_last : c.pairs), c.weights);
    }
    // Words 0-3 of a lane hold the (R, G) parts of its quad, words 4-7 the (G, B) parts.
    const __m256i low = _mm256_add_epi16(_mm256_unpacklo_epi64(parts[0], parts[1]),
                                         _mm256_unpackhi_epi64(parts[0], parts[1]));  // pixels 0-7 | 16-23
    const __m256i high = _mm256_add_epi16(_mm256_unpacklo_epi64(parts[2], parts[3]),
                                          _mm256_unpackhi_epi64(parts[2], parts[3]));  // pixels 8-15 | 24-31
    return _mm256_packus_epi16(_mm256_srli_epi16(low, 8), _mm256_srli_epi16(high, 8));
}

// The rows of the next group of rows, asked of the memory a few lines at a time while the
// current group is worked on, in the order they lie in memory: the processor then sees one
// stream of lines, which it follows well, where the interleaved rows of the group would keep
// its own prefetching from running ahead.
struct Ahead {
    const uint8_t* const* rows;
    int count;
    size_t row_bytes;  // bytes of a row to fetch
    int row = 0;
    size_t offset = 0;

    void fetch(int lines)
    {
        for (int i = 0; i < lines && row < count; ++i) {
            _mm_prefetch(reinterpret_cast<const char*>(rows[row] + offset), _MM_HINT_T0);
            offset += 64;
            if (offset >= row_bytes) {
                offset = 0;
                ++row;
            }
        }
    }
};

// What one pass over 8-bit rows keeps in registers.
struct Constants8 {
    __m256i threshold;
    LumaConstants luma;
};

// Rows of 32 columns from x, of a group of `Rows` rows (1..4) that share the loads and stores
// of the column sums. The narrow column sums of a 32-column block hold, in this order, columns
// 0-7, 16-23, 8-15, 24-31 of the block (the order the bytes widen in). Neither the peak's row
// nor saturated pixels are looked for here, to keep the loop short: the group gives its largest
// value (`group_peak`) and its largest sample (for RGB: any byte it read, `group_largest`);
// only groups that reach 255 hold saturated pixels, and `count_saturated8` counts them
// afterwards. `ahead` are the rows of the next group (see Ahead).
template <bool Rgb, int Rows>
__attribute__((target("avx2"))) void group8(const uint8_t* const* rows, const uint8_t* const* ahead, int vector_end,
                                           const Constants8& c, uint16_t* narrow, uint64_t* row_sums,
                                           uint32_t& group_peak, uint32_t& group_largest)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ones = _mm256_set1_epi8(1);
    constexpr int kBlockBytes = Rgb ? 96 : 32;
    constexpr int kLinesPerBlock = (Rows * kBlockBytes + 63) / 64;  // the next group's lines by the end
    Ahead next{ahead, Rows, static_cast<size_t>(vector_end / 32 * kBlockBytes)};
    __m256i sum[Rows], peak = zero, largest = zero;
    for (int k = 0; k < Rows; ++k)
        sum[k] = zero;
    for (int x = 0; x < vector_end; x += 32) {
        next.fetch(kLinesPerBlock);
        __m256i value[4] = {zero, zero, zero, zero};
        __m256i block_peak = zero, block_largest = zero;
        for (int k = 0; k < Rows; ++k) {
            __m256i v;
            if constexpr (Rgb) {
                __m256i bytes_largest;
                v = luma32(rows[k] + 3 * static_cast<size_t>(x), c.luma, bytes_largest);
                block_largest = _mm256_max_epu8(block_largest, bytes_largest);
            } else {
                v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k] + x));
            }
            value[k] = _mm256_subs_epu8(v, c.threshold);
            sum[k] = _mm256_add_epi64(sum[k], _mm256_sad_epu8(value[k], zero));
            block_peak = _mm256_max_epu8(block_peak, v);
        }
        peak = _mm256_max_epu8(peak, block_peak);
        if constexpr (Rgb)
            largest = _mm256_max_epu8(largest, block_largest);
        // One row: its bytes widened; more: byte pairs of two rows, one from each, added into
        // 16-bit lanes by one multiply-add.
        __m256i lo, hi;
        if constexpr (Rows == 1) {
            lo = _mm256_unpacklo_epi8(value[0], zero);
            hi = _mm256_unpackhi_epi8(value[0], zero);
        } else {
            lo = _mm256_maddubs_epi16(_mm256_unpacklo_epi8(value[0], value[1]), ones);
            hi = _mm256_maddubs_epi16(_mm256_unpackhi_epi8(value[0], value[1]), ones);
        }
        if constexpr (Rows > 2) {
            lo = _mm256_add_epi16(lo, _mm256_maddubs_epi16(_mm256_unpacklo_epi8(value[2], value[3]), ones));
            hi = _mm256_add_epi16(hi, _mm256_maddubs_epi16(_mm256_unpackhi_epi8(value[2], value[3]), ones));
        }
        auto* columns = reinterpret_cast<__m256i*>(narrow + x);
        _mm256_storeu_si256(columns, _mm256_add_epi16(_mm256_loadu_si256(columns), lo));
        _mm256_storeu_si256(columns + 1, _mm256_add_epi16(_mm256_loadu_si256(columns + 1), hi));
    }
    for (int k = 0; k < Rows; ++k)
        row_sums[k] = sum_u64(sum[k]);
    group_peak = max_u8(peak);
    group_largest = Rgb ? max_u8(largest) : group_peak;
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
        const __m256i largest_channel =
            Rgb ? largest_channel32(row + 3 * static_cast<size_t>(x), masks)
                : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x));
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
// Returns how many rows from out.peak_y may hold the first peak (the group that first reached
// it).
template <bool Rgb>
__attribute__((target("avx2"))) int project8_avx2(const Window& w, Projections& out)
{
    const int n = w.width, h = w.height;
    const int vector_end = n / 32 * 32;
    std::vector<uint16_t> narrow(static_cast<size_t>(n), 0);
    Constants8 constants;
    constants.threshold = _mm256_set1_epi8(static_cast<char>(w.threshold));
    constants.luma = luma_constants();
    __m256i masks[3][3];
    for (int channel = 0; channel < 3; ++channel)
        for (int reg = 0; reg < 3; ++reg)
            masks[channel][reg] = _mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(kChannelMasks[channel][reg].data())));
    constexpr int kGroup = 4;
    uint32_t peak = 0;
    int peak_rows = 0;
    for (int band = 0; band < h; band += 256) {
        const int band_end = std::min(h, band + 256);
        for (int y = band; y < band_end; y += kGroup) {
            const int count = std::min(kGroup, band_end - y);
            const uint8_t *rows[4], *ahead[4];
            uint64_t row_sums[4];
            uint32_t group_peak = 0, group_largest = 0;
            for (int k = 0; k < count; ++k) {
                rows[k] = row_of(w, y + k);
                ahead[k] = y + count + k < h ? row_of(w, y + count + k) : rows[k];
            }
            switch (count) {
            case 4:
                group8<Rgb, 4>(rows, ahead, vector_end, constants, narrow.data(), row_sums, group_peak, group_largest);
                break;
            case 3:
                group8<Rgb, 3>(rows, ahead, vector_end, constants, narrow.data(), row_sums, group_peak, group_largest);
                break;
            case 2:
                group8<Rgb, 2>(rows, ahead, vector_end, constants, narrow.data(), row_sums, group_peak, group_largest);
                break;
            default:
                group8<Rgb, 1>(rows, ahead, vector_end, constants, narrow.data(), row_sums, group_peak, group_largest);
                break;
            }
            for (int k = 0; k < count; ++k) {
                uint64_t row_sum = row_sums[k];
                uint64_t saturated_count = group_largest == 255 ? count_saturated8<Rgb>(rows[k], vector_end, masks) : 0;
                for (int x = vector_end; x < n; ++x) {
                    bool is_saturated = false;
                    const uint32_t v = sample(w, rows[k], x, is_saturated);
                    const uint32_t value = v > w.threshold ? v - w.threshold : 0;
                    narrow[static_cast<size_t>(x)] = static_cast<uint16_t>(narrow[static_cast<size_t>(x)] + value);
                    row_sum += value;
                    group_peak = std::max(group_peak, v);
                    saturated_count += is_saturated ? 1 : 0;
                }
                out.rows[static_cast<size_t>(y + k)] = row_sum;
                out.saturated += saturated_count;
            }
            if (y == 0 || group_peak > peak) {
                peak = group_peak;
                out.peak_y = y;
                peak_rows = count;
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
    return peak_rows;
}

// One Mono16 row into the 32-bit column sums. A 32-bit lane of a 16-sample block holds two
// samples: a mask and a shift split it into the even and the odd one without shuffles, so the
// narrow sums of a block hold its even columns, then its odd ones (block_column16). `ahead` is
// the next row, as for group8.
__attribute__((target("avx2"))) void row16(const uint8_t* row, const uint8_t* ahead, int vector_end,
                                          __m256i threshold, uint32_t* narrow, uint64_t& row_sum,
                                          uint32_t& row_peak)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low_half = _mm256_set1_epi32(0xffff);
    // A row holds at most 4096 blocks: its 32-bit sum lanes (n / 8 values below 2^16 each)
    // cannot overflow.
    __m256i sum = zero, peak = zero;
    for (int x = 0; x < vector_end; x += 16) {
        _mm_prefetch(reinterpret_cast<const char*>(ahead + 2 * static_cast<size_t>(x)), _MM_HINT_T0);
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 2 * static_cast<size_t>(x)));
        const __m256i value = _mm256_subs_epu16(v, threshold);
        const __m256i even = _mm256_and_si256(value, low_half), odd = _mm256_srli_epi32(value, 16);
        sum = _mm256_add_epi32(sum, _mm256_add_epi32(even, odd));
        peak = _mm256_max_epu16(peak, v);
        auto* columns = reinterpret_cast<__m256i*>(narrow + x);
        _mm256_storeu_si256(columns, _mm256_add_epi32(_mm256_loadu_si256(columns), even));
        _mm256_storeu_si256(columns + 1, _mm256_add_epi32(_mm256_loadu_si256(columns + 1), odd));
    }
    row_sum = sum_u64(_mm256_add_epi64(_mm256_cvtepu32_epi64(_mm256_castsi256_si128(sum)),
                                       _mm256_cvtepu32_epi64(_mm256_extracti128_si256(sum, 1))));
    row_peak = max_u16(peak);
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

// Column of the image for entry j of a Mono16 block's narrow column sums.
constexpr int block_column16(int j)
{
    return j < 8 ? 2 * j : 2 * (j - 8) + 1;
}

// Mono16: 32-bit column sums flushed every 65536 rows (65535 * 65536 < 2^32). Returns 1: the
// row out.peak_y holds the first peak.
__attribute__((target("avx2"))) int project16_avx2(const Window& w, Projections& out)
{
    const int n = w.width, h = w.height;
    const int vector_end = n / 16 * 16;
    std::vector<uint32_t> narrow(static_cast<size_t>(n), 0);
    const __m256i threshold = _mm256_set1_epi16(static_cast<short>(w.threshold));
    const __m256i full = _mm256_set1_epi16(static_cast<short>(w.full_scale));
    uint32_t peak = 0;
    int pending = 0;  // rows in the narrow sums
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = row_of(w, y);
        uint64_t row_sum = 0;
        uint32_t row_max = 0;
        row16(row, y + 1 < h ? row_of(w, y + 1) : row, vector_end, threshold, narrow.data(), row_sum, row_max);
        // Only rows that reach full scale hold saturated pixels: counted in a second look.
        uint64_t saturated_count = row_max >= w.full_scale ? count_saturated16(row, vector_end, full) : 0;
        for (int x = vector_end; x < n; ++x) {
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
            for (int x = 0; x < vector_end; x += 16)
                for (int j = 0; j < 16; ++j) {
                    out.columns[static_cast<size_t>(x + block_column16(j))] += narrow[static_cast<size_t>(x + j)];
                    narrow[static_cast<size_t>(x + j)] = 0;
                }
            for (int x = vector_end; x < n; ++x) {
                out.columns[static_cast<size_t>(x)] += narrow[static_cast<size_t>(x)];
                narrow[static_cast<size_t>(x)] = 0;
            }
            pending = 0;
        }
    }
    out.peak = peak;
    return 1;
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
    const int peak_rows = w.bytes_per_pixel == 2   ? project16_avx2(w, out)
                          : w.bytes_per_pixel == 3 ? project8_avx2<true>(w, out)
                                                   : project8_avx2<false>(w, out);
    find_first(w, out.peak_y, peak_rows, out.peak, out);
    return true;
}

} // namespace mirva::stats_kernels
