// x86-64 variants of the colour conversion, in 16-bit lanes. Each chroma
// product splits exactly into a multiple of 65536 and a 16-bit high product,
// so the shifted sums become small 16-bit values:
//   (Y * 65536 + v * 74711) >> 19 = (Y + v + (v * 9175 >> 16)) >> 3
//   (Y * 65536 + u * -25821 + v * -38076) >> 18 = (Y - v + ((u * -25821 + v * 27460) >> 16)) >> 2
//   (Y * 65536 + u * 133169) >> 19 = (Y + 2u + (u * 2097 >> 16)) >> 3
// (74711 = 65536 + 9175, -38076 = -65536 + 27460, 133169 = 2 * 65536 + 2097;
// floor(floor(a / 2^16) / 2^k) = floor(a / 2^(16 + k))). Minimum and maximum
// then clamp exactly as the tables do.
#include "video/yuv_to_rgb565.h"

#if defined(MPFIX_VIDEO_X86)
#include <immintrin.h>

#define MPFIX_AVX2 __attribute__((target("avx2")))
#define MPFIX_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

namespace mpfix {
namespace {

constexpr int16_t kRedHigh = 9175, kBlueHigh = 2097;
constexpr int32_t kGreenPair = static_cast<int32_t>(static_cast<uint32_t>(27460) << 16 |
                                                    (static_cast<uint32_t>(-25821) & 0xFFFFu));

// ---- SSE2: 16 pixels of each row from 8 chroma samples ---------------------

// Red, green and blue offsets of 8 chroma samples (lane i: sample i).
struct Chroma8 {
    __m128i red, green, blue;
};

inline Chroma8 chroma8(const uint8_t *u, const uint8_t *v) {
    const __m128i zero = _mm_setzero_si128(), centre = _mm_set1_epi16(128);
    const __m128i cu = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(u)), zero), centre);
    const __m128i cv = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(v)), zero), centre);
    const __m128i pair = _mm_set1_epi32(kGreenPair);
    const __m128i gLo = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(cu, cv), pair), 16);
    const __m128i gHi = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(cu, cv), pair), 16);
    return {_mm_add_epi16(cv, _mm_mulhi_epi16(cv, _mm_set1_epi16(kRedHigh))),
            _mm_sub_epi16(_mm_packs_epi32(gLo, gHi), cv),
            _mm_add_epi16(_mm_add_epi16(cu, cu), _mm_mulhi_epi16(cu, _mm_set1_epi16(kBlueHigh)))};
}

// Eight pixels from eight luma samples (16-bit lanes) and their offsets.
inline __m128i pixels8(__m128i luma, __m128i red, __m128i green, __m128i blue) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i r = _mm_min_epi16(_mm_max_epi16(_mm_srai_epi16(_mm_add_epi16(luma, red), 3), zero), _mm_set1_epi16(31));
    const __m128i g = _mm_min_epi16(_mm_max_epi16(_mm_srai_epi16(_mm_add_epi16(luma, green), 2), zero), _mm_set1_epi16(63));
    const __m128i b = _mm_min_epi16(_mm_max_epi16(_mm_srai_epi16(_mm_add_epi16(luma, blue), 3), zero), _mm_set1_epi16(31));
    return _mm_or_si128(_mm_or_si128(_mm_slli_epi16(r, 11), _mm_slli_epi16(g, 5)), b);
}

// Sixteen pixels of one row at x, whose chroma offsets c covers.
inline void row16(const uint8_t *y, uint8_t *d, const Chroma8 &c) {
    const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i *>(y));
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = _mm_unpacklo_epi8(luma, zero), hi = _mm_unpackhi_epi8(luma, zero);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(d),
                     pixels8(lo, _mm_unpacklo_epi16(c.red, c.red), _mm_unpacklo_epi16(c.green, c.green),
                             _mm_unpacklo_epi16(c.blue, c.blue)));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(d + 16),
                     pixels8(hi, _mm_unpackhi_epi16(c.red, c.red), _mm_unpackhi_epi16(c.green, c.green),
                             _mm_unpackhi_epi16(c.blue, c.blue)));
}

// Columns x..x + 15 of the row pair (or single row).
inline void block16(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v, uint8_t *d0,
                    uint8_t *d1, int32_t x) {
    const Chroma8 c = chroma8(u + x / 2, v + x / 2);
    row16(y0 + x, d0 + 2 * static_cast<ptrdiff_t>(x), c);
    if (y1 != nullptr) row16(y1 + x, d1 + 2 * static_cast<ptrdiff_t>(x), c);
}

void rows_sse2(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v, uint8_t *d0, uint8_t *d1,
               int32_t first, int32_t width) {
    int32_t x = first;
    for (; x + 16 <= width; x += 16) block16(y0, y1, u, v, d0, d1, x);
    MPG_YUVRows_ref(y0, y1, u, v, d0, d1, x, width);
}

// ---- AVX2: 32 pixels of each row from 16 chroma samples --------------------

struct Chroma16 {
    __m256i red, green, blue;  // lanes in pixel order after the duplication below
};

MPFIX_AVX2_INLINE Chroma16 chroma16(const uint8_t *u, const uint8_t *v) {
    const __m256i centre = _mm256_set1_epi16(128);
    const __m256i cu = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(u))), centre);
    const __m256i cv = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(v))), centre);
    const __m256i pair = _mm256_set1_epi32(kGreenPair);
    // Per 128-bit half: samples 0..3 (8..11) in the low products, 4..7 (12..15) in the high.
    const __m256i gLo = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(cu, cv), pair), 16);
    const __m256i gHi = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(cu, cv), pair), 16);
    return {_mm256_add_epi16(cv, _mm256_mulhi_epi16(cv, _mm256_set1_epi16(kRedHigh))),
            _mm256_sub_epi16(_mm256_packs_epi32(gLo, gHi), cv),
            _mm256_add_epi16(_mm256_add_epi16(cu, cu), _mm256_mulhi_epi16(cu, _mm256_set1_epi16(kBlueHigh)))};
}

MPFIX_AVX2_INLINE __m256i pixels16(__m256i luma, __m256i red, __m256i green, __m256i blue) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i r = _mm256_min_epi16(_mm256_max_epi16(_mm256_srai_epi16(_mm256_add_epi16(luma, red), 3), zero),
                                       _mm256_set1_epi16(31));
    const __m256i g = _mm256_min_epi16(_mm256_max_epi16(_mm256_srai_epi16(_mm256_add_epi16(luma, green), 2), zero),
                                       _mm256_set1_epi16(63));
    const __m256i b = _mm256_min_epi16(_mm256_max_epi16(_mm256_srai_epi16(_mm256_add_epi16(luma, blue), 3), zero),
                                       _mm256_set1_epi16(31));
    return _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(r, 11), _mm256_slli_epi16(g, 5)), b);
}

// Each offset twice, for the two pixels of its column pair: lo for pixels
// 0..15, hi for 16..31 (the 64-bit permute puts samples 0..3 and 4..7 in
// separate halves before the in-half unpacks).
MPFIX_AVX2_INLINE void duplicate(__m256i c, __m256i &lo, __m256i &hi) {
    const __m256i p = _mm256_permute4x64_epi64(c, 0xD8);
    lo = _mm256_unpacklo_epi16(p, p);
    hi = _mm256_unpackhi_epi16(p, p);
}

MPFIX_AVX2_INLINE void row32(const uint8_t *y, uint8_t *d, const __m256i c[6]) {
    const __m256i lo = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(y)));
    const __m256i hi = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(y + 16)));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(d), pixels16(lo, c[0], c[2], c[4]));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + 32), pixels16(hi, c[1], c[3], c[5]));
}

MPFIX_AVX2 void rows_avx2(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v, uint8_t *d0,
                          uint8_t *d1, int32_t first, int32_t width) {
    int32_t x = first;
    for (; x + 32 <= width; x += 32) {
        const Chroma16 c = chroma16(u + x / 2, v + x / 2);
        __m256i dup[6];
        duplicate(c.red, dup[0], dup[1]);
        duplicate(c.green, dup[2], dup[3]);
        duplicate(c.blue, dup[4], dup[5]);
        row32(y0 + x, d0 + 2 * static_cast<ptrdiff_t>(x), dup);
        if (y1 != nullptr) row32(y1 + x, d1 + 2 * static_cast<ptrdiff_t>(x), dup);
    }
    if (x + 16 <= width) {
        block16(y0, y1, u, v, d0, d1, x);
        x += 16;
    }
    MPG_YUVRows_ref(y0, y1, u, v, d0, d1, x, width);
}

}  // namespace

void MPG_YUV420ToBGR565_sse2(const MPG_YUVPlanes *planes, const MPG_YUVStrides *strides, uint16_t *destination,
                             int32_t destinationStride, int32_t width, int32_t height) {
    MPG_YUVWalk(planes, strides, destination, destinationStride, width, height, rows_sse2);
}

void MPG_YUV420ToBGR565_avx2(const MPG_YUVPlanes *planes, const MPG_YUVStrides *strides, uint16_t *destination,
                             int32_t destinationStride, int32_t width, int32_t height) {
    MPG_YUVWalk(planes, strides, destination, destinationStride, width, height, rows_avx2);
}

}  // namespace mpfix

#endif  // MPFIX_VIDEO_X86
