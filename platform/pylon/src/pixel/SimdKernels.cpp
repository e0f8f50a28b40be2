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

} // namespace

uint32_t unpack_two_in_three(const uint8_t* src, uint32_t w, uint16_t* out, unsigned low) noexcept
{
    return cpu_has_avx2() ? unpack_two_in_three_avx2(src, w, out, low) : 0;
}

uint32_t colour8_to_rgb(const uint8_t* src, uint32_t w, uint8_t* out, unsigned step, bool swap) noexcept
{
    return cpu_has_ssse3() ? colour8_to_rgb_ssse3(src, w, out, step, swap) : 0;
}

uint32_t grey8_to_rgb(const uint8_t* src, uint32_t w, uint8_t* out) noexcept
{
    return cpu_has_ssse3() ? grey8_to_rgb_ssse3(src, w, out) : 0;
}

#else

uint32_t unpack_two_in_three(const uint8_t*, uint32_t, uint16_t*, unsigned) noexcept { return 0; }
uint32_t colour8_to_rgb(const uint8_t*, uint32_t, uint8_t*, unsigned, bool) noexcept { return 0; }
uint32_t grey8_to_rgb(const uint8_t*, uint32_t, uint8_t*) noexcept { return 0; }

#endif

} // namespace Pylon::pixel::simd
