// x86-64 SSSE3/AVX2 versions of the layout-shuffling line kernels, chosen at run time.
#include "SimdKernels.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace Pylon::pixel::simd {

#if defined(__x86_64__)

namespace {

bool cpu_has_avx2() noexcept
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

bool cpu_has_ssse3() noexcept
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}

__attribute__((target("avx2"))) uint32_t unpack_two_in_three_avx2(const uint8_t* src, uint32_t w, uint16_t* out,
                                                                   unsigned low) noexcept
{
    // Per 128-bit lane: 8 pixels from 12 bytes. Word 2j = bytes (3j+1, 3j) = b0 << 8 | b1,
    // word 2j+1 = bytes (3j+1, 3j+2) = b2 << 8 | b1.
    const __m256i shuffle = _mm256_setr_epi8(1, 0, 1, 2, 4, 3, 4, 5, 7, 6, 7, 8, 10, 9, 10, 11,
                                             1, 0, 1, 2, 4, 3, 4, 5, 7, 6, 7, 8, 10, 9, 10, 11);
    const short lowmask = static_cast<short>((1u << low) - 1);
    const __m256i high = _mm256_set1_epi16(static_cast<short>(0xFFu << low));
    const __m256i even_low = _mm256_setr_epi16(lowmask, 0, lowmask, 0, lowmask, 0, lowmask, 0, lowmask, 0, lowmask, 0,
                                               lowmask, 0, lowmask, 0);
    const __m256i odd_low = _mm256_setr_epi16(0, lowmask, 0, lowmask, 0, lowmask, 0, lowmask, 0, lowmask, 0, lowmask,
                                              0, lowmask, 0, lowmask);
    const __m128i hi_shift = _mm_cvtsi32_si128(static_cast<int>(8 - low));
    const size_t line_bytes = (size_t{w} * 12 + 7) / 8;
    uint32_t x = 0;
    size_t i = 0;
    // Reads 28 bytes per step (the second lane starts at byte 12).
    for (; x + 16 <= w && i + 28 <= line_bytes; x += 16, i += 24) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 12));
        const __m256i v = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), shuffle);
        const __m256i a = _mm256_and_si256(_mm256_srl_epi16(v, hi_shift), high);
        const __m256i b = _mm256_and_si256(_mm256_srli_epi16(v, 4), odd_low);
        const __m256i r = _mm256_or_si256(_mm256_or_si256(a, b), _mm256_and_si256(v, even_low));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), r);
    }
    return x;
}

__attribute__((target("avx2"))) uint32_t colour8_to_rgb_avx2(const uint8_t* src, uint32_t w, uint8_t* out,
                                                              unsigned step, bool swap) noexcept
{
    // Eight pixels per step: each 128-bit lane takes four source pixels and gives 12 bytes.
    // The low lane's 16-byte store runs 4 bytes into the high lane's, which is stored after
    // it; the loop stops while both stores fit in the output line.
    const __m128i m = step == 3 ? (swap ? _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, -1, -1, -1, -1)
                                        : _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, -1, -1, -1, -1))
                                : (swap ? _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1)
                                        : _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    const __m256i shuffle = _mm256_broadcastsi128_si256(m);
    const size_t in_bytes = size_t{w} * step;
    const size_t out_bytes = size_t{w} * 3;
    const size_t lane_in = size_t{step} * 4;
    uint32_t x = 0;
    for (; size_t{x} * step + lane_in + 16 <= in_bytes && size_t{x} * 3 + 28 <= out_bytes; x += 8) {
        const uint8_t* p = src + size_t{x} * step;
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + lane_in));
        const __m256i v = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), shuffle);
        uint8_t* o = out + size_t{x} * 3;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 12), _mm256_extracti128_si256(v, 1));
    }
    return x;
}

__attribute__((target("avx2"))) uint32_t unpack_lsb_stream_avx2(const uint8_t* src, uint32_t w, uint16_t* out,
                                                                 unsigned depth) noexcept
{
    // Per 128-bit lane 8 pixels: each word gets the two bytes that hold its pixel, is shifted
    // left (multiply) so the pixel's top bit lands in bit 15, then right to bit depth-1.
    //   12 bits: pixel 2j+k from bytes (3j+k, 3j+k+1), bit offset 4k
    //   10 bits: pixel 4j+k from bytes (5j+k, 5j+k+1), bit offset 2k
    const unsigned group = depth == 12 ? 2 : 4;
    const unsigned group_bytes = depth == 12 ? 3 : 5;
    alignas(32) int8_t mask[32];
    alignas(32) int16_t mul[16];
    for (unsigned lane = 0; lane < 2; ++lane)
        for (unsigned px = 0; px < 8; ++px) {
            const unsigned j = px / group, k = px % group;
            const unsigned byte = j * group_bytes + (k * depth) / 8;
            const unsigned offset = (k * depth) % 8;
            mask[16 * lane + 2 * px] = static_cast<int8_t>(byte);
            mask[16 * lane + 2 * px + 1] = static_cast<int8_t>(byte + 1);
            mul[8 * lane + px] = static_cast<int16_t>(1u << (16 - depth - offset));
        }
    const __m256i shuffle = _mm256_load_si256(reinterpret_cast<const __m256i*>(mask));
    const __m256i multiplier = _mm256_load_si256(reinterpret_cast<const __m256i*>(mul));
    const __m128i down = _mm_cvtsi32_si128(static_cast<int>(16 - depth));
    const size_t lane_bytes = size_t{8} * depth / 8; // 10 or 12
    const size_t line_bytes = (size_t{w} * depth + 7) / 8;
    uint32_t x = 0;
    size_t i = 0;
    for (; x + 16 <= w && i + lane_bytes + 16 <= line_bytes; x += 16, i += 2 * lane_bytes) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + lane_bytes));
        const __m256i v = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), shuffle);
        const __m256i r = _mm256_srl_epi16(_mm256_mullo_epi16(v, multiplier), down);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), r);
    }
    return x;
}

__attribute__((target("ssse3"))) uint32_t colour8_to_rgb_ssse3(const uint8_t* src, uint32_t w, uint8_t* out,
                                                               unsigned step, bool swap) noexcept
{
    // Four pixels per step; the 16-byte store runs 4 bytes past the 12 written, which the
    // next step overwrites, so the loop stops while 16 bytes still fit in the output line.
    __m128i shuffle;
    if (step == 3)
        shuffle = swap ? _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15)
                       : _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    else
        shuffle = swap ? _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1)
                       : _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const size_t in_bytes = size_t{w} * step;
    const size_t out_bytes = size_t{w} * 3;
    uint32_t x = 0;
    for (; size_t{x} * step + 16 <= in_bytes && size_t{x} * 3 + 16 <= out_bytes; x += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + size_t{x} * step));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + size_t{x} * 3), _mm_shuffle_epi8(v, shuffle));
    }
    return x;
}

__attribute__((target("ssse3"))) uint32_t grey8_to_rgb_ssse3(const uint8_t* src, uint32_t w, uint8_t* out) noexcept
{
    const __m128i s0 = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m128i s1 = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m128i s2 = _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    uint32_t x = 0;
    for (; x + 16 <= w; x += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
        uint8_t* o = out + size_t{x} * 3;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_shuffle_epi8(v, s0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16), _mm_shuffle_epi8(v, s1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 32), _mm_shuffle_epi8(v, s2));
    }
    return x;
}


// Byte-shuffle masks that interleave three planes of 16 bytes into 48 bytes of RGB:
// kInterleave[part][channel] picks channel `channel` bytes for output bytes 16*part...
struct InterleaveMasks {
    alignas(16) int8_t m[3][3][16];
};
constexpr InterleaveMasks make_interleave_masks()
{
    InterleaveMasks t{};
    for (int part = 0; part < 3; ++part)
        for (int ch = 0; ch < 3; ++ch)
            for (int i = 0; i < 16; ++i) {
                const int byte = 16 * part + i;
                t.m[part][ch][i] = static_cast<int8_t>(byte % 3 == ch ? byte / 3 : -1);
            }
    return t;
}
constexpr InterleaveMasks kInterleave = make_interleave_masks();

__attribute__((target("sse4.1"))) inline void store_rgb(uint8_t* o, __m128i r, __m128i g, __m128i b) noexcept
{
    for (int part = 0; part < 3; ++part) {
        const __m128i mr = _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.m[part][0]));
        const __m128i mg = _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.m[part][1]));
        const __m128i mb = _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.m[part][2]));
        const __m128i v = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(r, mr), _mm_shuffle_epi8(g, mg)),
                                       _mm_shuffle_epi8(b, mb));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16 * part), v);
    }
}

__attribute__((target("sse4.1"))) inline __m128i ld(const uint8_t* p) noexcept
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Rounded mean of four vectors of bytes, exact (in 16 bits).
__attribute__((target("sse4.1"))) inline __m128i mean4(__m128i p, __m128i q, __m128i r, __m128i s) noexcept
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i two = _mm_set1_epi16(2);
    const __m128i lo = _mm_srli_epi16(
        _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(p, zero), _mm_unpacklo_epi8(q, zero)),
                      _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(r, zero), _mm_unpacklo_epi8(s, zero)), two)),
        2);
    const __m128i hi = _mm_srli_epi16(
        _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(p, zero), _mm_unpackhi_epi8(q, zero)),
                      _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(r, zero), _mm_unpackhi_epi8(s, zero)), two)),
        2);
    return _mm_packus_epi16(lo, hi);
}

// Luminance of four pixels as 32-bit values: one multiply-add over (R, G) word pairs, one
// over (B, 0), summed. The masks pick the bytes for the source layout.
struct LumaMasks {
    __m128i rg;
    __m128i b;
};

__attribute__((target("sse4.1"))) inline LumaMasks luma_masks(unsigned step, bool swap) noexcept
{
    alignas(16) int8_t rg[16], b[16];
    for (int px = 0; px < 4; ++px) {
        const int base = px * static_cast<int>(step);
        const int r = base + (swap ? 2 : 0), bl = base + (swap ? 0 : 2);
        const int8_t rg_bytes[4] = {static_cast<int8_t>(r), -1, static_cast<int8_t>(base + 1), -1};
        const int8_t b_bytes[4] = {static_cast<int8_t>(bl), -1, -1, -1};
        for (int k = 0; k < 4; ++k) {
            rg[4 * px + k] = rg_bytes[k];
            b[4 * px + k] = b_bytes[k];
        }
    }
    return {_mm_load_si128(reinterpret_cast<const __m128i*>(rg)), _mm_load_si128(reinterpret_cast<const __m128i*>(b))};
}

__attribute__((target("sse4.1"))) inline __m128i luma4(const uint8_t* p, const LumaMasks& m) noexcept
{
    const __m128i rg_weights = _mm_setr_epi16(77, 150, 77, 150, 77, 150, 77, 150);
    const __m128i b_weights = _mm_setr_epi16(29, 0, 29, 0, 29, 0, 29, 0);
    const __m128i v = ld(p);
    const __m128i s = _mm_add_epi32(_mm_madd_epi16(_mm_shuffle_epi8(v, m.rg), rg_weights),
                                    _mm_madd_epi16(_mm_shuffle_epi8(v, m.b), b_weights));
    return _mm_srli_epi32(_mm_add_epi32(s, _mm_set1_epi32(128)), 8);
}

__attribute__((target("sse4.1"))) uint32_t demosaic8_x_first_sse41(const uint8_t* a, const uint8_t* c,
                                                                    const uint8_t* b, uint32_t w, uint8_t* out,
                                                                    bool x_is_red) noexcept
{
    // All candidates for all 16 pixels, then the X-site values picked at even offsets.
    const __m128i even = _mm_set1_epi16(0x00FF);
    uint32_t x = 0;
    for (; x + 16 <= w; x += 16) {
        const __m128i cl = ld(c + x - 1), c0 = ld(c + x), cr = ld(c + x + 1);
        const __m128i a0 = ld(a + x), b0 = ld(b + x);
        const __m128i g4 = mean4(cl, cr, a0, b0);
        const __m128i d4 = mean4(ld(a + x - 1), ld(a + x + 1), ld(b + x - 1), ld(b + x + 1));
        const __m128i xs = _mm_blendv_epi8(_mm_avg_epu8(cl, cr), c0, even);
        const __m128i gs = _mm_blendv_epi8(c0, g4, even);
        const __m128i ys = _mm_blendv_epi8(_mm_avg_epu8(a0, b0), d4, even);
        if (x_is_red)
            store_rgb(out + 3 * size_t{x}, xs, gs, ys);
        else
            store_rgb(out + 3 * size_t{x}, ys, gs, xs);
    }
    return x;
}

__attribute__((target("sse4.1"))) uint32_t colour8_to_luma_sse41(const uint8_t* src, uint32_t w, uint8_t* out,
                                                                  unsigned step, bool swap) noexcept
{
    // Eight pixels per step; each 16-byte load serves four pixels (three-byte pixels leave
    // four bytes unused, so the loads stop while 16 bytes still fit in the line).
    const LumaMasks masks = luma_masks(step, swap);
    const size_t in_bytes = size_t{w} * step;
    const size_t quad = size_t{step} * 4;
    uint32_t x = 0;
    for (; size_t{x} * step + quad + 16 <= in_bytes; x += 8) {
        const uint8_t* p = src + size_t{x} * step;
        const __m128i words = _mm_packs_epi32(luma4(p, masks), luma4(p + quad, masks));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(words, words));
    }
    return x;
}

__attribute__((target("sse4.1"))) inline __m128i chroma_term(__m128i lo, __m128i hi, int coefficient) noexcept
{
    // (coefficient * value + 32768) >> 16 on 32-bit lanes, packed back to 16 bits.
    const __m128i c = _mm_set1_epi32(coefficient);
    const __m128i round = _mm_set1_epi32(32768);
    return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(_mm_mullo_epi32(lo, c), round), 16),
                           _mm_srai_epi32(_mm_add_epi32(_mm_mullo_epi32(hi, c), round), 16));
}

__attribute__((target("sse4.1"))) uint32_t yuv422_to_rgb_sse41(const uint8_t* src, uint32_t w, uint8_t* out,
                                                                const uint8_t offsets[4]) noexcept
{
    // Eight pixels (four pairs, 16 bytes) per step; the same integer equations as the
    // scalar kernel, so both give identical bytes.
    const char y0 = static_cast<char>(offsets[0]), y1 = static_cast<char>(offsets[1]);
    const char u = static_cast<char>(offsets[2]), v = static_cast<char>(offsets[3]);
    const __m128i ys = _mm_setr_epi8(y0, -1, y1, -1, y0 + 4, -1, y1 + 4, -1, y0 + 8, -1, y1 + 8, -1, y0 + 12, -1,
                                     y1 + 12, -1);
    const __m128i us = _mm_setr_epi8(u, -1, u, -1, u + 4, -1, u + 4, -1, u + 8, -1, u + 8, -1, u + 12, -1, u + 12, -1);
    const __m128i vs = _mm_setr_epi8(v, -1, v, -1, v + 4, -1, v + 4, -1, v + 8, -1, v + 8, -1, v + 12, -1, v + 12, -1);
    const __m128i bias = _mm_set1_epi16(128);
    uint32_t x = 0;
    for (; x + 8 <= w; x += 8) {
        const __m128i p = ld(src + 2 * size_t{x});
        const __m128i y = _mm_shuffle_epi8(p, ys);
        const __m128i d = _mm_sub_epi16(_mm_shuffle_epi8(p, us), bias);
        const __m128i e = _mm_sub_epi16(_mm_shuffle_epi8(p, vs), bias);
        const __m128i d_lo = _mm_cvtepi16_epi32(d), d_hi = _mm_cvtepi16_epi32(_mm_srli_si128(d, 8));
        const __m128i e_lo = _mm_cvtepi16_epi32(e), e_hi = _mm_cvtepi16_epi32(_mm_srli_si128(e, 8));
        const __m128i ur = chroma_term(e_lo, e_hi, 91881);
        const __m128i ub = chroma_term(d_lo, d_hi, 116130);
        // -22554 d - 46802 e in one rounding, like the scalar kernel.
        const __m128i c1 = _mm_set1_epi32(-22554), c2 = _mm_set1_epi32(-46802), round = _mm_set1_epi32(32768);
        const __m128i ug = _mm_packs_epi32(
            _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(_mm_mullo_epi32(d_lo, c1), _mm_mullo_epi32(e_lo, c2)), round), 16),
            _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(_mm_mullo_epi32(d_hi, c1), _mm_mullo_epi32(e_hi, c2)), round), 16));
        const __m128i r = _mm_packus_epi16(_mm_add_epi16(y, ur), _mm_setzero_si128());
        const __m128i g = _mm_packus_epi16(_mm_add_epi16(y, ug), _mm_setzero_si128());
        const __m128i b = _mm_packus_epi16(_mm_add_epi16(y, ub), _mm_setzero_si128());
        // 24 output bytes: the first interleave part and half of the second.
        uint8_t* o = out + 3 * size_t{x};
        for (int part = 0; part < 2; ++part) {
            const __m128i mr = _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.m[part][0]));
            const __m128i mg = _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.m[part][1]));
            const __m128i mb = _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.m[part][2]));
            const __m128i rgb = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(r, mr), _mm_shuffle_epi8(g, mg)),
                                             _mm_shuffle_epi8(b, mb));
            if (part == 0)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o), rgb);
            else
                _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 16), rgb);
        }
    }
    return x;
}

__attribute__((target("avx2"))) inline __m256i ld256(const uint8_t* p) noexcept
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2"))) inline __m256i mean4_avx2(__m256i p, __m256i q, __m256i r, __m256i s) noexcept
{
    // Unpack and pack both work within 128-bit lanes, so the byte order comes back intact.
    const __m256i zero = _mm256_setzero_si256();
    const __m256i two = _mm256_set1_epi16(2);
    const __m256i lo = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_add_epi16(_mm256_unpacklo_epi8(p, zero), _mm256_unpacklo_epi8(q, zero)),
                         _mm256_add_epi16(_mm256_add_epi16(_mm256_unpacklo_epi8(r, zero), _mm256_unpacklo_epi8(s, zero)), two)),
        2);
    const __m256i hi = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_add_epi16(_mm256_unpackhi_epi8(p, zero), _mm256_unpackhi_epi8(q, zero)),
                         _mm256_add_epi16(_mm256_add_epi16(_mm256_unpackhi_epi8(r, zero), _mm256_unpackhi_epi8(s, zero)), two)),
        2);
    return _mm256_packus_epi16(lo, hi);
}

__attribute__((target("avx2"))) inline void store_rgb_avx2(uint8_t* o, __m128i r, __m128i g, __m128i b) noexcept
{
    for (int part = 0; part < 3; ++part) {
        const __m128i mr = _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.m[part][0]));
        const __m128i mg = _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.m[part][1]));
        const __m128i mb = _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.m[part][2]));
        const __m128i v = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(r, mr), _mm_shuffle_epi8(g, mg)),
                                       _mm_shuffle_epi8(b, mb));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16 * part), v);
    }
}

__attribute__((target("avx2"))) uint32_t demosaic8_x_first_avx2(const uint8_t* a, const uint8_t* c,
                                                                 const uint8_t* b, uint32_t w, uint8_t* out,
                                                                 bool x_is_red) noexcept
{
    // As the SSE4.1 kernel, 32 pixels per step.
    const __m256i even = _mm256_set1_epi16(0x00FF);
    uint32_t x = 0;
    for (; x + 32 <= w; x += 32) {
        const __m256i cl = ld256(c + x - 1), c0 = ld256(c + x), cr = ld256(c + x + 1);
        const __m256i a0 = ld256(a + x), b0 = ld256(b + x);
        const __m256i g4 = mean4_avx2(cl, cr, a0, b0);
        const __m256i d4 = mean4_avx2(ld256(a + x - 1), ld256(a + x + 1), ld256(b + x - 1), ld256(b + x + 1));
        const __m256i xs = _mm256_blendv_epi8(_mm256_avg_epu8(cl, cr), c0, even);
        const __m256i gs = _mm256_blendv_epi8(c0, g4, even);
        const __m256i ys = _mm256_blendv_epi8(_mm256_avg_epu8(a0, b0), d4, even);
        const __m256i rs = x_is_red ? xs : ys;
        const __m256i bs = x_is_red ? ys : xs;
        uint8_t* o = out + 3 * size_t{x};
        store_rgb_avx2(o, _mm256_castsi256_si128(rs), _mm256_castsi256_si128(gs), _mm256_castsi256_si128(bs));
        store_rgb_avx2(o + 48, _mm256_extracti128_si256(rs, 1), _mm256_extracti128_si256(gs, 1),
                       _mm256_extracti128_si256(bs, 1));
    }
    return x;
}

// Luminance of the demosaiced line without forming the colours as bytes. A vector of bytes
// read as 16-bit words holds an X site in the low byte of each word (the line starts with
// X) and a green site in the high byte, so both kinds of site are computed on words side
// by side and the two results go back into the low and high bytes of the same words:
//   X site:     c[x]           (c[x-1] + c[x+1] + a[x] + b[x] + 2) >> 2 as G,
//               (a[x-1] + a[x+1] + b[x-1] + b[x+1] + 2) >> 2 as Y
//   green site: (c[x-1] + c[x+1] + 1) >> 1 as X,   c[x] as G,   (a[x] + b[x] + 1) >> 1 as Y
// Word i of the load at x holds the X site 2i (low) and its right neighbour, the green
// site 2i+1 (high). The left neighbour of the X site is the low byte of word i of the load
// at x-1; the right neighbour of the green site the high byte of word i of the load at x+1.
// The weighted sum is at most 255 * 256 + 128, so unsigned 16-bit arithmetic is exact.
inline __m128i luma_words_x_first(const uint8_t* a, const uint8_t* c, const uint8_t* b, __m128i wx,
                                  __m128i wy) noexcept
{
    auto load = [](const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    const __m128i low = _mm_set1_epi16(0x00FF);
    const __m128i c0 = load(c), a0 = load(a), b0 = load(b);
    const __m128i c_x = _mm_and_si128(c0, low), c_g = _mm_srli_epi16(c0, 8);
    const __m128i a_x = _mm_and_si128(a0, low), a_g = _mm_srli_epi16(a0, 8);
    const __m128i b_x = _mm_and_si128(b0, low), b_g = _mm_srli_epi16(b0, 8);
    const __m128i c_left = _mm_and_si128(load(c - 1), low); // left of each X site
    const __m128i c_right = _mm_srli_epi16(load(c + 1), 8); // right of each green site
    const __m128i a_left = _mm_and_si128(load(a - 1), low);
    const __m128i b_left = _mm_and_si128(load(b - 1), low);
    const __m128i two = _mm_set1_epi16(2);
    const __m128i g4 =
        _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(c_left, c_g), _mm_add_epi16(_mm_add_epi16(a_x, b_x), two)), 2);
    const __m128i y4 =
        _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(a_left, a_g), _mm_add_epi16(_mm_add_epi16(b_left, b_g), two)), 2);
    const __m128i x2 = _mm_avg_epu16(c_x, c_right);
    const __m128i y2 = _mm_avg_epu16(a_g, b_g);
    const __m128i wg = _mm_set1_epi16(150), round = _mm_set1_epi16(128);
    const __m128i at_x = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(c_x, wx), _mm_mullo_epi16(g4, wg)),
                                       _mm_add_epi16(_mm_mullo_epi16(y4, wy), round));
    const __m128i at_g = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(x2, wx), _mm_mullo_epi16(c_g, wg)),
                                       _mm_add_epi16(_mm_mullo_epi16(y2, wy), round));
    // (sum >> 8) into the low byte for X sites, into the high byte for green sites.
    return _mm_or_si128(_mm_srli_epi16(at_x, 8), _mm_andnot_si128(low, at_g));
}

// SSE2 (part of x86-64): 16 pixels per step.
uint32_t demosaic8_luma_x_first_sse2(const uint8_t* a, const uint8_t* c, const uint8_t* b, uint32_t w,
                                     uint8_t* out, bool x_is_red) noexcept
{
    const __m128i wx = _mm_set1_epi16(x_is_red ? 77 : 29), wy = _mm_set1_epi16(x_is_red ? 29 : 77);
    uint32_t x = 0;
    for (; x + 16 <= w; x += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), luma_words_x_first(a + x, c + x, b + x, wx, wy));
    return x;
}

// As the SSE2 kernel, 32 pixels per step; the words never cross the 128-bit lanes.
__attribute__((target("avx2"))) uint32_t demosaic8_luma_x_first_avx2(const uint8_t* a, const uint8_t* c,
                                                                      const uint8_t* b, uint32_t w, uint8_t* out,
                                                                      bool x_is_red) noexcept
{
    const __m256i wx = _mm256_set1_epi16(x_is_red ? 77 : 29), wy = _mm256_set1_epi16(x_is_red ? 29 : 77);
    const __m256i low = _mm256_set1_epi16(0x00FF);
    const __m256i two = _mm256_set1_epi16(2);
    const __m256i wg = _mm256_set1_epi16(150), round = _mm256_set1_epi16(128);
    uint32_t x = 0;
    for (; x + 32 <= w; x += 32) {
        const __m256i c0 = ld256(c + x), a0 = ld256(a + x), b0 = ld256(b + x);
        const __m256i c_x = _mm256_and_si256(c0, low), c_g = _mm256_srli_epi16(c0, 8);
        const __m256i a_x = _mm256_and_si256(a0, low), a_g = _mm256_srli_epi16(a0, 8);
        const __m256i b_x = _mm256_and_si256(b0, low), b_g = _mm256_srli_epi16(b0, 8);
        const __m256i c_left = _mm256_and_si256(ld256(c + x - 1), low);
        const __m256i c_right = _mm256_srli_epi16(ld256(c + x + 1), 8);
        const __m256i a_left = _mm256_and_si256(ld256(a + x - 1), low);
        const __m256i b_left = _mm256_and_si256(ld256(b + x - 1), low);
        const __m256i g4 = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_add_epi16(c_left, c_g), _mm256_add_epi16(_mm256_add_epi16(a_x, b_x), two)), 2);
        const __m256i y4 = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_add_epi16(a_left, a_g), _mm256_add_epi16(_mm256_add_epi16(b_left, b_g), two)), 2);
        const __m256i x2 = _mm256_avg_epu16(c_x, c_right);
        const __m256i y2 = _mm256_avg_epu16(a_g, b_g);
        const __m256i at_x = _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(c_x, wx), _mm256_mullo_epi16(g4, wg)),
                                              _mm256_add_epi16(_mm256_mullo_epi16(y4, wy), round));
        const __m256i at_g = _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(x2, wx), _mm256_mullo_epi16(c_g, wg)),
                                              _mm256_add_epi16(_mm256_mullo_epi16(y2, wy), round));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                            _mm256_or_si256(_mm256_srli_epi16(at_x, 8), _mm256_andnot_si256(low, at_g)));
    }
    return x;
}

__attribute__((target("avx2"))) inline __m256i ld256(const uint16_t* p) noexcept
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The same for 16-bit lines: X sites in the low and green sites in the high word of each
// 32-bit lane, 16 pixels per step. The weighted sum is below 2^24.
__attribute__((target("avx2"))) uint32_t demosaic16_luma_x_first_avx2(const uint16_t* a, const uint16_t* c,
                                                                       const uint16_t* b, uint32_t w, uint16_t* out,
                                                                       bool x_is_red) noexcept
{
    const __m256i wx = _mm256_set1_epi32(x_is_red ? 77 : 29), wy = _mm256_set1_epi32(x_is_red ? 29 : 77);
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    const __m256i one = _mm256_set1_epi32(1), two = _mm256_set1_epi32(2);
    const __m256i wg = _mm256_set1_epi32(150), round = _mm256_set1_epi32(128);
    uint32_t x = 0;
    for (; x + 16 <= w; x += 16) {
        const __m256i c0 = ld256(c + x), a0 = ld256(a + x), b0 = ld256(b + x);
        const __m256i c_x = _mm256_and_si256(c0, low), c_g = _mm256_srli_epi32(c0, 16);
        const __m256i a_x = _mm256_and_si256(a0, low), a_g = _mm256_srli_epi32(a0, 16);
        const __m256i b_x = _mm256_and_si256(b0, low), b_g = _mm256_srli_epi32(b0, 16);
        const __m256i c_left = _mm256_and_si256(ld256(c + x - 1), low);
        const __m256i c_right = _mm256_srli_epi32(ld256(c + x + 1), 16);
        const __m256i a_left = _mm256_and_si256(ld256(a + x - 1), low);
        const __m256i b_left = _mm256_and_si256(ld256(b + x - 1), low);
        const __m256i g4 = _mm256_srli_epi32(
            _mm256_add_epi32(_mm256_add_epi32(c_left, c_g), _mm256_add_epi32(_mm256_add_epi32(a_x, b_x), two)), 2);
        const __m256i y4 = _mm256_srli_epi32(
            _mm256_add_epi32(_mm256_add_epi32(a_left, a_g), _mm256_add_epi32(_mm256_add_epi32(b_left, b_g), two)), 2);
        const __m256i x2 = _mm256_srli_epi32(_mm256_add_epi32(_mm256_add_epi32(c_x, c_right), one), 1);
        const __m256i y2 = _mm256_srli_epi32(_mm256_add_epi32(_mm256_add_epi32(a_g, b_g), one), 1);
        const __m256i at_x = _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(c_x, wx), _mm256_mullo_epi32(g4, wg)),
                                              _mm256_add_epi32(_mm256_mullo_epi32(y4, wy), round));
        const __m256i at_g = _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(x2, wx), _mm256_mullo_epi32(c_g, wg)),
                                              _mm256_add_epi32(_mm256_mullo_epi32(y2, wy), round));
        // (sum >> 8) into the low word for X sites, into the high word for green sites.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                            _mm256_or_si256(_mm256_srli_epi32(at_x, 8),
                                            _mm256_andnot_si256(low, _mm256_slli_epi32(at_g, 8))));
    }
    return x;
}

bool cpu_has_sse41() noexcept
{
    static const bool has = __builtin_cpu_supports("sse4.1");
    return has;
}

} // namespace

uint32_t demosaic8_x_first(const uint8_t* a, const uint8_t* c, const uint8_t* b, uint32_t w, uint8_t* out,
                           bool x_is_red) noexcept
{
    if (cpu_has_avx2()) {
        // The wide kernel leaves up to 31 pixels; the narrow one takes 16 of them when it can.
        const uint32_t x = demosaic8_x_first_avx2(a, c, b, w, out, x_is_red);
        return x + demosaic8_x_first_sse41(a + x, c + x, b + x, w - x, out + 3 * size_t{x}, x_is_red);
    }
    return cpu_has_sse41() ? demosaic8_x_first_sse41(a, c, b, w, out, x_is_red) : 0;
}

uint32_t demosaic8_luma_x_first(const uint8_t* a, const uint8_t* c, const uint8_t* b, uint32_t w, uint8_t* out,
                                bool x_is_red) noexcept
{
    // The rest of a line is done by one more step that ends at the line end (or one pixel
    // before it, as a step starts at an X site), overlapping pixels already done: they get
    // the same values again. This leaves at most one pixel to the scalar code. Lines too
    // short for the wide kernel take the narrow one.
    const bool wide = cpu_has_avx2() && w >= 32;
    const uint32_t step = wide ? 32 : 16;
    auto run = [&](uint32_t from, uint32_t n) {
        return wide ? demosaic8_luma_x_first_avx2(a + from, c + from, b + from, n, out + from, x_is_red)
                    : demosaic8_luma_x_first_sse2(a + from, c + from, b + from, n, out + from, x_is_red);
    };
    uint32_t x = run(0, w);
    if (x < w && w >= step) {
        const uint32_t last = (w - step) & ~1u;
        x = last + run(last, step);
    }
    return x;
}

uint32_t demosaic16_luma_x_first(const uint16_t* a, const uint16_t* c, const uint16_t* b, uint32_t w,
                                 uint16_t* out, bool x_is_red) noexcept
{
    // As the 8-bit one, with a last step that overlaps pixels already done.
    if (!cpu_has_avx2() || w < 16)
        return 0;
    uint32_t x = demosaic16_luma_x_first_avx2(a, c, b, w, out, x_is_red);
    if (x < w) {
        const uint32_t last = (w - 16) & ~1u;
        x = last + demosaic16_luma_x_first_avx2(a + last, c + last, b + last, 16, out + last, x_is_red);
    }
    return x;
}

uint32_t colour8_to_luma(const uint8_t* src, uint32_t w, uint8_t* out, unsigned step, bool swap) noexcept
{
    return cpu_has_sse41() ? colour8_to_luma_sse41(src, w, out, step, swap) : 0;
}

uint32_t yuv422_to_rgb(const uint8_t* src, uint32_t w, uint8_t* out, const uint8_t offsets[4]) noexcept
{
    return cpu_has_sse41() ? yuv422_to_rgb_sse41(src, w, out, offsets) : 0;
}

bool has_avx2() noexcept { return cpu_has_avx2(); }

uint32_t unpack_lsb_stream(const uint8_t* src, uint32_t w, uint16_t* out, unsigned depth) noexcept
{
    return cpu_has_avx2() && (depth == 10 || depth == 12) ? unpack_lsb_stream_avx2(src, w, out, depth) : 0;
}

uint32_t unpack_two_in_three(const uint8_t* src, uint32_t w, uint16_t* out, unsigned low) noexcept
{
    return cpu_has_avx2() ? unpack_two_in_three_avx2(src, w, out, low) : 0;
}

uint32_t colour8_to_rgb(const uint8_t* src, uint32_t w, uint8_t* out, unsigned step, bool swap) noexcept
{
    if (cpu_has_avx2()) {
        const uint32_t x = colour8_to_rgb_avx2(src, w, out, step, swap);
        return x + colour8_to_rgb_ssse3(src + size_t{x} * step, w - x, out + size_t{x} * 3, step, swap);
    }
    return cpu_has_ssse3() ? colour8_to_rgb_ssse3(src, w, out, step, swap) : 0;
}

size_t u16_shr_to_u8(const uint16_t* in, size_t n, uint8_t* out, unsigned s) noexcept
{
    // SSE2 is part of x86-64. With s >= 1 every shifted word is below 0x8000, so the
    // signed-to-unsigned saturating pack is exactly min(value, 255).
    if (s == 0)
        return 0;
    const __m128i count = _mm_cvtsi32_si128(static_cast<int>(s));
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i lo = _mm_srl_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)), count);
        const __m128i hi = _mm_srl_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 8)), count);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(lo, hi));
    }
    return i;
}

uint32_t grey8_to_rgb(const uint8_t* src, uint32_t w, uint8_t* out) noexcept
{
    return cpu_has_ssse3() ? grey8_to_rgb_ssse3(src, w, out) : 0;
}

#else

bool has_avx2() noexcept { return false; }
uint32_t unpack_lsb_stream(const uint8_t*, uint32_t, uint16_t*, unsigned) noexcept { return 0; }
uint32_t demosaic8_x_first(const uint8_t*, const uint8_t*, const uint8_t*, uint32_t, uint8_t*, bool) noexcept { return 0; }
uint32_t demosaic8_luma_x_first(const uint8_t*, const uint8_t*, const uint8_t*, uint32_t, uint8_t*, bool) noexcept
{
    return 0;
}
uint32_t demosaic16_luma_x_first(const uint16_t*, const uint16_t*, const uint16_t*, uint32_t, uint16_t*, bool) noexcept
{
    return 0;
}
uint32_t colour8_to_luma(const uint8_t*, uint32_t, uint8_t*, unsigned, bool) noexcept { return 0; }
uint32_t yuv422_to_rgb(const uint8_t*, uint32_t, uint8_t*, const uint8_t[4]) noexcept { return 0; }
uint32_t unpack_two_in_three(const uint8_t*, uint32_t, uint16_t*, unsigned) noexcept { return 0; }
uint32_t colour8_to_rgb(const uint8_t*, uint32_t, uint8_t*, unsigned, bool) noexcept { return 0; }
uint32_t grey8_to_rgb(const uint8_t*, uint32_t, uint8_t*) noexcept { return 0; }
size_t u16_shr_to_u8(const uint16_t*, size_t, uint8_t*, unsigned) noexcept { return 0; }

#endif

} // namespace Pylon::pixel::simd
