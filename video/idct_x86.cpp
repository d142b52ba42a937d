// x86-64 variants of the 8x8 inverse DCT. The row pass forms its products
// with pmaddwd: every product of a 16-bit coefficient and an 11-bit constant,
// and every sum of two of them, is exact in 32 bits, and no sum before the
// rotation leaves the 32-bit range, so the results equal the reference's
// wrapping arithmetic. From the rotation on, and in the column pass, lanes
// wrap modulo 2^32 as the reference does.
#include "video/idct.h"

#if defined(MPFIX_VIDEO_X86)
#include <immintrin.h>

#include "video/idct_lanes.h"

#define MPFIX_SSE41 __attribute__((target("sse4.1")))
#define MPFIX_AVX2 __attribute__((target("avx2")))
#define MPFIX_SSE41_INLINE __attribute__((target("sse4.1"), always_inline)) inline
#define MPFIX_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

// The helpers below are always inlined into the functions built for their
// extension, so no wide vector crosses a call.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace mpfix {
namespace {

using U4 = uint32_t __attribute__((vector_size(16)));
using S4 = int32_t __attribute__((vector_size(16)));
using U8 = uint32_t __attribute__((vector_size(32)));
using S8 = int32_t __attribute__((vector_size(32)));

// pmaddwd multiplier pair: lo scales the lower 16-bit element of each pair.
constexpr int32_t pairOf(int32_t lo, int32_t hi) {
    return static_cast<int32_t>(static_cast<uint32_t>(hi) << 16 | (static_cast<uint32_t>(lo) & 0xFFFFu));
}
constexpr int32_t kE0 = pairOf(MPG_IDCT_C4, MPG_IDCT_C4), kE1 = pairOf(MPG_IDCT_C4, -MPG_IDCT_C4);
constexpr int32_t kP = pairOf(MPG_IDCT_C2, MPG_IDCT_C6), kQ = pairOf(MPG_IDCT_C6, -MPG_IDCT_C2);
constexpr int32_t kF = pairOf(MPG_IDCT_C1, MPG_IDCT_C7), kG = pairOf(MPG_IDCT_C7, -MPG_IDCT_C1);
constexpr int32_t kH = pairOf(MPG_IDCT_C3, MPG_IDCT_C5), kK = pairOf(-MPG_IDCT_C5, MPG_IDCT_C3);

// The shared part's constants as lanes in memory, read through a pointer the
// compiler cannot see through, so that they stay memory operands instead of
// being rebuilt in registers at every use.
#define MPFIX_SPLAT(v) {v, v, v, v, v, v, v, v}
alignas(32) constexpr uint32_t kLaneConstants[14][8] = {
    MPFIX_SPLAT(IdctScalarConstants::c1),         MPFIX_SPLAT(IdctScalarConstants::c2),
    MPFIX_SPLAT(IdctScalarConstants::c3),         MPFIX_SPLAT(IdctScalarConstants::c4),
    MPFIX_SPLAT(IdctScalarConstants::c5),         MPFIX_SPLAT(IdctScalarConstants::c6),
    MPFIX_SPLAT(IdctScalarConstants::c7),         MPFIX_SPLAT(IdctScalarConstants::minusC5),
    MPFIX_SPLAT(IdctScalarConstants::rotation),   MPFIX_SPLAT(IdctScalarConstants::rowBias),
    MPFIX_SPLAT(IdctScalarConstants::rowRotationBias), MPFIX_SPLAT(IdctScalarConstants::columnBias),
    MPFIX_SPLAT(IdctScalarConstants::columnRotationBias), MPFIX_SPLAT(IdctScalarConstants::columnPreBias)};
#undef MPFIX_SPLAT

template <typename U>
struct LaneConstants {
    U c1, c2, c3, c4, c5, c6, c7, minusC5, rotation, rowBias, rowRotationBias, columnBias, columnRotationBias,
        columnPreBias;
};

// Always inlined, also in unoptimised builds, so no wide vector crosses a call.
template <typename U>
[[gnu::always_inline]] inline U laneAt(const uint32_t (*t)[8], int i) {
    return *reinterpret_cast<const U *>(t[i]);
}

template <typename U>
[[gnu::always_inline]] inline LaneConstants<U> laneConstants() {
    const uint32_t(*t)[8] = kLaneConstants;
    asm volatile("" : "+r"(t));  // opaque, once per use: loads are neither folded nor merged
    return {laneAt<U>(t, 0), laneAt<U>(t, 1), laneAt<U>(t, 2),  laneAt<U>(t, 3),  laneAt<U>(t, 4),
            laneAt<U>(t, 5), laneAt<U>(t, 6), laneAt<U>(t, 7),  laneAt<U>(t, 8),  laneAt<U>(t, 9),
            laneAt<U>(t, 10), laneAt<U>(t, 11), laneAt<U>(t, 12), laneAt<U>(t, 13)};
}

// Byte shuffle of one row (per 128-bit lane) into the word order c0 c4 c2 c6
// c1 c7 c3 c5: its four dwords are then the pairs the products take.
#define MPFIX_IDCT_PAIR_ORDER 0, 1, 8, 9, 4, 5, 12, 13, 2, 3, 14, 15, 6, 7, 10, 11

// ---- AVX2: all eight rows at once, rows i and i + 4 in the two halves -----

MPFIX_AVX2_INLINE U8 madd8(__m256i pairs, int32_t k) { return (U8)_mm256_madd_epi16(pairs, _mm256_set1_epi32(k)); }

// Rows i and i + 4 side by side, for i = 0..3.
MPFIX_AVX2_INLINE void loadRows8(const int16_t *block, __m256i x[4]) {
    for (int i = 0; i < 4; ++i) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 8 * i));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 8 * (i + 4)));
        x[i] = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
    }
}

// The row pass's products for rows 0..7 (lane j: row j).
MPFIX_AVX2_INLINE IdctProducts<U8> rowProducts8(const __m256i rows[4]) {
    const __m256i order = _mm256_setr_epi8(MPFIX_IDCT_PAIR_ORDER, MPFIX_IDCT_PAIR_ORDER);
    __m256i x[4];
    for (int i = 0; i < 4; ++i) x[i] = _mm256_shuffle_epi8(rows[i], order);
    // 4x4 transpose of dwords within each half: one vector per pair.
    const __m256i t0 = _mm256_unpacklo_epi32(x[0], x[1]), t1 = _mm256_unpacklo_epi32(x[2], x[3]);
    const __m256i t2 = _mm256_unpackhi_epi32(x[0], x[1]), t3 = _mm256_unpackhi_epi32(x[2], x[3]);
    const __m256i d04 = _mm256_unpacklo_epi64(t0, t1), d26 = _mm256_unpackhi_epi64(t0, t1);
    const __m256i d17 = _mm256_unpacklo_epi64(t2, t3), d35 = _mm256_unpackhi_epi64(t2, t3);
    return {madd8(d04, kE0), madd8(d04, kE1), madd8(d26, kP), madd8(d26, kQ),
            madd8(d17, kF),  madd8(d17, kG),  madd8(d35, kH), madd8(d35, kK)};
}

// 8x8 transpose of 32-bit lanes: in[k] lane j becomes out[j] lane k.
MPFIX_AVX2_INLINE void transpose8(const U8 in[8], U8 out[8]) {
    __m256i s[8], q[8];
    for (int i = 0; i < 8; i += 2) {
        s[i] = _mm256_unpacklo_epi32((__m256i)in[i], (__m256i)in[i + 1]);
        s[i + 1] = _mm256_unpackhi_epi32((__m256i)in[i], (__m256i)in[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
        q[i] = _mm256_unpacklo_epi64(s[i], s[i + 2]);
        q[i + 1] = _mm256_unpackhi_epi64(s[i], s[i + 2]);
        q[i + 2] = _mm256_unpacklo_epi64(s[i + 1], s[i + 3]);
        q[i + 3] = _mm256_unpackhi_epi64(s[i + 1], s[i + 3]);
    }
    for (int j = 0; j < 4; ++j) {
        out[j] = (U8)_mm256_permute2x128_si256(q[j], q[j + 4], 0x20);
        out[j + 4] = (U8)_mm256_permute2x128_si256(q[j], q[j + 4], 0x31);
    }
}

// High 16 bits of each lane of two rows (the column pass's unshifted
// results), stored as rows i and i + 1.
MPFIX_AVX2_INLINE void storeRows8(int16_t *block, int i, const U8 &a, const U8 &b) {
    const __m256i packed = _mm256_packus_epi32(_mm256_srli_epi32((__m256i)a, 16), _mm256_srli_epi32((__m256i)b, 16));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(block + 8 * i), _mm256_permute4x64_epi64(packed, 0xD8));
}

// ---- SSE4.1: four rows, then four columns at a time ------------------------

MPFIX_SSE41_INLINE U4 madd4(__m128i pairs, int32_t k) { return (U4)_mm_madd_epi16(pairs, _mm_set1_epi32(k)); }

// The row pass's products for rows first..first + 3.
MPFIX_SSE41_INLINE IdctProducts<U4> rowProducts4(const int16_t *block, int first) {
    const __m128i order = _mm_setr_epi8(MPFIX_IDCT_PAIR_ORDER);
    __m128i x[4];
    for (int i = 0; i < 4; ++i)
        x[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 8 * (first + i))), order);
    const __m128i t0 = _mm_unpacklo_epi32(x[0], x[1]), t1 = _mm_unpacklo_epi32(x[2], x[3]);
    const __m128i t2 = _mm_unpackhi_epi32(x[0], x[1]), t3 = _mm_unpackhi_epi32(x[2], x[3]);
    const __m128i d04 = _mm_unpacklo_epi64(t0, t1), d26 = _mm_unpackhi_epi64(t0, t1);
    const __m128i d17 = _mm_unpacklo_epi64(t2, t3), d35 = _mm_unpackhi_epi64(t2, t3);
    return {madd4(d04, kE0), madd4(d04, kE1), madd4(d26, kP), madd4(d26, kQ),
            madd4(d17, kF),  madd4(d17, kG),  madd4(d35, kH), madd4(d35, kK)};
}

// 4x4 transpose of 32-bit lanes: in[k] lane j becomes out[j] lane k.
MPFIX_SSE41_INLINE void transpose4(const U4 *in, U4 *out) {
    const __m128i s0 = _mm_unpacklo_epi32((__m128i)in[0], (__m128i)in[1]);
    const __m128i s1 = _mm_unpackhi_epi32((__m128i)in[0], (__m128i)in[1]);
    const __m128i s2 = _mm_unpacklo_epi32((__m128i)in[2], (__m128i)in[3]);
    const __m128i s3 = _mm_unpackhi_epi32((__m128i)in[2], (__m128i)in[3]);
    out[0] = (U4)_mm_unpacklo_epi64(s0, s2);
    out[1] = (U4)_mm_unpackhi_epi64(s0, s2);
    out[2] = (U4)_mm_unpacklo_epi64(s1, s3);
    out[3] = (U4)_mm_unpackhi_epi64(s1, s3);
}

}  // namespace

MPFIX_AVX2 void MPG_DCTInv_8x8_avx2(int16_t *block) {
    __m256i x[4];
    loadRows8(block, x);
    const __m256i any = _mm256_or_si256(_mm256_or_si256(x[0], x[1]), _mm256_or_si256(x[2], x[3]));
    const __m128i lower = _mm256_extracti128_si256(any, 1);  // rows 4..7
    U8 mid[8], rows[8], out[8];
    idctFinish<U8, S8, false>(rowProducts8(x), mid, laneConstants<U8>());  // mid[k] lane j: row j, column k
    transpose8(mid, rows);                                                 // rows[j] lane k: row j, column k
    const IdctProducts<U8> p = _mm_testz_si128(lower, lower) ? idctColumnProductsTop(rows, laneConstants<U8>())
                                                              : idctColumnProducts(rows, laneConstants<U8>());
    idctFinish<U8, S8, true, LaneConstants<U8>, false>(p, out, laneConstants<U8>());
    for (int i = 0; i < 8; i += 2) storeRows8(block, i, out[i], out[i + 1]);
}

MPFIX_SSE41 void MPG_DCTInv_8x8_sse41(int16_t *block) {
    const LaneConstants<U4> k = laneConstants<U4>();
    U4 mid[2][8];  // mid[h][k] lane j: row 4h + j, column k
    idctFinish<U4, S4, false>(rowProducts4(block, 0), mid[0], k);
    __m128i lower = _mm_setzero_si128();
    for (int i = 4; i < 8; ++i) lower = _mm_or_si128(lower, _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 8 * i)));
    const bool sparse = _mm_testz_si128(lower, lower);  // rows 4..7 zero
    if (!sparse) idctFinish<U4, S4, false>(rowProducts4(block, 4), mid[1], k);
    U4 out[2][8];  // out[g][i] lane j: row i, column 4g + j
    for (int g = 0; g < 2; ++g) {
        U4 rows[8];
        transpose4(&mid[0][4 * g], &rows[0]);
        if (sparse) {
            idctFinish<U4, S4, true, LaneConstants<U4>, false>(idctColumnProductsTop(rows, k), out[g], k);
        } else {
            transpose4(&mid[1][4 * g], &rows[4]);
            idctFinish<U4, S4, true, LaneConstants<U4>, false>(idctColumnProducts(rows, k), out[g], k);
        }
    }
    // High 16 bits of each unshifted result.
    for (int i = 0; i < 8; ++i)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(block + 8 * i),
                         _mm_packus_epi32(_mm_srli_epi32((__m128i)out[0][i], 16), _mm_srli_epi32((__m128i)out[1][i], 16)));
}

}  // namespace mpfix

#endif  // MPFIX_VIDEO_X86
