// x86-64 variants of the polyphase synthesis slot. The DCT runs its four
// stage-1 groups, then its four eight-point blocks, as the four lanes of one
// vector; the window multiplies 32-bit pairs into exact 64-bit lanes
// (pmuldq). Compiled per function for the instruction set, so the library
// still runs on baseline x86-64.
#include "audio/synth/polyphase.h"

#if !MPFIX_PLAIN_KERNELS && (defined(__x86_64__) || defined(__i386__))

#include <immintrin.h>

namespace mpfix {
namespace {

#define MPFIX_SSE41 __attribute__((target("sse4.1"), always_inline)) inline
#define MPFIX_AVX2 __attribute__((target("avx2")))

// High product of each lane: floor(c * v / 2^32).
MPFIX_SSE41 __m128i mulHigh4(__m128i c, __m128i v) {
    const __m128i even = _mm_mul_epi32(c, v);
    const __m128i odd = _mm_mul_epi32(_mm_srli_epi64(c, 32), _mm_srli_epi64(v, 32));
    return _mm_blend_epi16(_mm_srli_epi64(even, 32), odd, 0xCC);
}
MPFIX_SSE41 __m128i reverse4(__m128i v) { return _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3)); }
MPFIX_SSE41 __m128i load4(const int32_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
MPFIX_SSE41 void store4(int32_t *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }
MPFIX_SSE41 __m128i set4(int32_t a, int32_t b, int32_t c, int32_t d) { return _mm_setr_epi32(a, b, c, d); }
MPFIX_SSE41 __m128i splat(int32_t a) { return _mm_set1_epi32(a); }
MPFIX_SSE41 void transpose4(__m128i &a, __m128i &b, __m128i &c, __m128i &d) {
    const __m128i ab0 = _mm_unpacklo_epi32(a, b), ab1 = _mm_unpackhi_epi32(a, b);
    const __m128i cd0 = _mm_unpacklo_epi32(c, d), cd1 = _mm_unpackhi_epi32(c, d);
    a = _mm_unpacklo_epi64(ab0, cd0);
    b = _mm_unpackhi_epi64(ab0, cd0);
    c = _mm_unpacklo_epi64(ab1, cd1);
    d = _mm_unpackhi_epi64(ab1, cd1);
}
// The wrapping left shift of the reference as a multiplication by 2^s per lane.
MPFIX_SSE41 __m128i mh4(__m128i coef, __m128i v, __m128i scale) { return mulHigh4(coef, _mm_mullo_epi32(v, scale)); }
MPFIX_SSE41 __m128i mh4s1(__m128i coef, __m128i v) { return mulHigh4(coef, _mm_slli_epi32(v, 1)); }

// Stages 1 and 2 of the 32-point DCT in place over x[0..31] (the block
// outputs X of the reference).
MPFIX_SSE41 void dct32Blocks(int32_t *x) {
    const int32_t *k1 = synthDctCoef1;
    const int32_t *k2 = synthDctCoef2;
    // Lane i is group i of stage 1.
    const __m128i a = load4(x), b = reverse4(load4(x + 28));
    const __m128i c = reverse4(load4(x + 12)), d = load4(x + 16);
    const __m128i e = reverse4(load4(x + 4)), f = load4(x + 24);
    const __m128i g = load4(x + 8), h = reverse4(load4(x + 20));
    const __m128i sum1 = _mm_add_epi32(a, b), sum2 = _mm_add_epi32(c, d);
    const __m128i sum3 = _mm_add_epi32(e, f), sum4 = _mm_add_epi32(g, h);
    const __m128i P = mh4s1(set4(k1[0], k1[4], k1[8], k1[12]), _mm_sub_epi32(a, b));
    const __m128i Q = mh4(set4(k1[1], k1[5], k1[9], k1[13]), _mm_sub_epi32(c, d), set4(32, 8, 8, 8));
    const __m128i R = mh4s1(set4(k1[2], k1[6], k1[10], k1[14]), _mm_sub_epi32(e, f));
    const __m128i T = mh4(set4(k1[3], k1[7], k1[11], k1[15]), _mm_sub_epi32(g, h), set4(2, 2, 2, 8));
    const __m128i k2even = set4(k2[0], k2[2], k2[4], k2[6]);
    const __m128i k2odd = set4(k2[1], k2[3], k2[5], k2[7]);
    const __m128i oddScale = set4(16, 16, 16, 2);

    // Row j of a block: lanes are the four blocks b = 0..3 (x[8b + j]).
    __m128i y0 = _mm_add_epi32(sum1, sum2);                              // x[0..3]
    __m128i y7 = _mm_add_epi32(sum3, sum4);                              // x[7..4]
    __m128i y1 = mh4s1(k2even, _mm_sub_epi32(sum1, sum2));               // x[8..11]
    __m128i y6 = mh4(k2odd, _mm_sub_epi32(sum3, sum4), oddScale);       // x[15..12]
    __m128i y2 = _mm_add_epi32(P, Q);                                    // x[16..19]
    __m128i y5 = _mm_add_epi32(R, T);                                    // x[23..20]
    __m128i y3 = mh4s1(k2even, _mm_sub_epi32(P, Q));                     // x[24..27]
    __m128i y4 = mh4(k2odd, _mm_sub_epi32(R, T), oddScale);             // x[31..28]
    transpose4(y0, y1, y2, y3);  // y_j = x[8b + j], j = 0..3
    transpose4(y7, y6, y5, y4);  // y7 = x[8b + 7] ... y4 = x[8b + 4]

    // Stage 2 on the four blocks at once.
    const int32_t *k3 = synthDctCoef3;
    const __m128i s07 = _mm_add_epi32(y0, y7), s34 = _mm_add_epi32(y3, y4);
    const __m128i s16 = _mm_add_epi32(y1, y6), s25 = _mm_add_epi32(y2, y5);
    const __m128i d0 = mh4s1(splat(k3[0]), _mm_sub_epi32(y0, y7));
    const __m128i d1 = mulHigh4(splat(k3[1]), _mm_slli_epi32(_mm_sub_epi32(y3, y4), 3));
    const __m128i d2 = mh4s1(splat(k3[2]), _mm_sub_epi32(y1, y6));
    const __m128i d3 = mh4s1(splat(k3[3]), _mm_sub_epi32(y2, y5));
    const __m128i e0 = _mm_add_epi32(s07, s34), e1 = _mm_sub_epi32(s07, s34);
    const __m128i f0 = _mm_add_epi32(s16, s25), f1 = _mm_sub_epi32(s16, s25);
    const __m128i gg = _mm_add_epi32(d0, d1), hh = _mm_sub_epi32(d0, d1);
    const __m128i kk = _mm_add_epi32(d2, d3), ll = _mm_sub_epi32(d2, d3);
    const __m128i k5 = splat(k3[5]), k4 = splat(k3[4]), k6 = splat(k3[6]), k7 = splat(k3[7]);
    const __m128i n = mh4s1(k5, _mm_sub_epi32(e1, f1));
    const __m128i o = mh4s1(k5, _mm_sub_epi32(hh, ll));
    const __m128i m = mh4s1(k4, _mm_sub_epi32(gg, kk));
    __m128i r0 = _mm_add_epi32(e0, f0);
    __m128i r4 = mh4s1(k4, _mm_sub_epi32(e0, f0));
    __m128i r6 = _mm_add_epi32(mh4s1(k6, e1), n);
    __m128i r2 = _mm_add_epi32(mulHigh4(k7, _mm_slli_epi32(f1, 2)), n);
    __m128i r7 = _mm_add_epi32(mh4s1(k6, hh), o);
    __m128i r5 = _mm_add_epi32(m, r7);
    const __m128i q = _mm_add_epi32(mulHigh4(k7, _mm_slli_epi32(ll, 2)), o);
    __m128i r3 = _mm_add_epi32(q, m);
    __m128i r1 = _mm_add_epi32(_mm_add_epi32(gg, kk), q);

    transpose4(r0, r1, r2, r3);  // r_b = x[8b .. 8b + 3]
    transpose4(r4, r5, r6, r7);  // r_{4+b} = x[8b + 4 .. 8b + 7]
    store4(x + 0, r0);
    store4(x + 4, r4);
    store4(x + 8, r1);
    store4(x + 12, r5);
    store4(x + 16, r2);
    store4(x + 20, r6);
    store4(x + 24, r3);
    store4(x + 28, r7);
}

// The steps before the window, shared by the variants below.
MPFIX_SSE41 int32_t begin(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int step) {
    const int32_t p = synth::advancePosition(position);
    dct32Blocks(samples);
    synth::storeSlot(samples, history, p);
    synth::windowEdgeSamples(history, p, pcm, step);
    return p;
}

// Sum of the two 64-bit lanes of a and of b: {sum a, sum b}.
MPFIX_SSE41 __m128i pairSums(__m128i a, __m128i b) {
    return _mm_add_epi64(_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b));
}
// PCM of the output pairs of rows r and r + 1 from their sums {accA, accB}:
// the high words clamped to +-2^30 (which changes no clamped result) so that
// + 64 cannot wrap, shifted, and saturated to 16 bits by packssdw.
MPFIX_SSE41 void storeRowPair(int16_t *pcm, int step, int r, __m128i sums0, __m128i sums1) {
    __m128i h = _mm_castps_si128(
        _mm_shuffle_ps(_mm_castsi128_ps(sums0), _mm_castsi128_ps(sums1), _MM_SHUFFLE(3, 1, 3, 1)));
    h = _mm_min_epi32(_mm_max_epi32(h, _mm_set1_epi32(-(1 << 30))), _mm_set1_epi32(1 << 30));
    const __m128i out = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(h, _mm_set1_epi32(64)), 7), h);
    pcm[(15 - r) * step] = static_cast<int16_t>(_mm_extract_epi16(out, 0));
    pcm[(17 + r) * step] = static_cast<int16_t>(_mm_extract_epi16(out, 1));
    if (r < 14) {
        pcm[(14 - r) * step] = static_cast<int16_t>(_mm_extract_epi16(out, 2));
        pcm[(18 + r) * step] = static_cast<int16_t>(_mm_extract_epi16(out, 3));
    }
}

__attribute__((target("sse4.1"))) int32_t synthSse41(int32_t *samples, int16_t *pcm, int32_t *history,
                                                      int32_t *position, int32_t stride) {
    if (*position < 0 || *position > 15) return MP3_ERR_PARAM;
    const int step = (stride == 1) ? 1 : 2;
    const int32_t p = begin(samples, pcm, history, position, step);
    const int32_t *region = synth::windowRegion(history, p);
    const SynthWindowRows &w = synthWindowRows;
    const auto rowSums = [&](int r) __attribute__((target("sse4.1"))) {
        const int32_t *row = region + 16 * r;
        const int32_t *ca = w.a(r) + 16 - p;
        const int32_t *cb = w.b(r) + 16 - p;
        __m128i accA = _mm_setzero_si128(), accB = _mm_setzero_si128();
        for (int c = 0; c < 16; c += 4) {
            const __m128i v = load4(row + c);
            const __m128i vOdd = _mm_srli_epi64(v, 32);
            // pmuldq reads the low word of each 64-bit lane: loading the
            // coefficients one word further on lines them up with vOdd.
            accA = _mm_add_epi64(accA, _mm_mul_epi32(v, load4(ca + c)));
            accA = _mm_add_epi64(accA, _mm_mul_epi32(vOdd, load4(ca + c + 1)));
            accB = _mm_add_epi64(accB, _mm_mul_epi32(v, load4(cb + c)));
            accB = _mm_add_epi64(accB, _mm_mul_epi32(vOdd, load4(cb + c + 1)));
        }
        return pairSums(accA, accB);
    };
    for (int r = 0; r < 14; r += 2) storeRowPair(pcm, step, r, rowSums(r), rowSums(r + 1));
    storeRowPair(pcm, step, 14, rowSums(14), _mm_setzero_si128());
    return 0;
}

#define MPFIX_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

MPFIX_AVX2_INLINE __m256i load8(const int32_t *p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }
MPFIX_AVX2_INLINE __m256i set8(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t f, int32_t g,
                               int32_t h) {
    return _mm256_setr_epi32(a, b, c, d, e, f, g, h);
}

// The DCT of two slots at once: lanes 0..3 run the groups (then blocks) of
// the slot at x0, lanes 4..7 those of the slot at x1, in the steps of
// dct32Blocks above.
MPFIX_AVX2_INLINE __m256i both(int32_t a, int32_t b, int32_t c, int32_t d) { return set8(a, b, c, d, a, b, c, d); }
MPFIX_AVX2_INLINE __m256i loadPair(const int32_t *x0, const int32_t *x1, int offset) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(load4(x0 + offset)), load4(x1 + offset), 1);
}
MPFIX_AVX2_INLINE void storePair(int32_t *x0, int32_t *x1, int offset, __m256i v) {
    store4(x0 + offset, _mm256_castsi256_si128(v));
    store4(x1 + offset, _mm256_extracti128_si256(v, 1));
}
MPFIX_AVX2_INLINE __m256i mulHigh8(__m256i c, __m256i v) {
    const __m256i even = _mm256_mul_epi32(c, v);
    const __m256i odd = _mm256_mul_epi32(_mm256_srli_epi64(c, 32), _mm256_srli_epi64(v, 32));
    return _mm256_blend_epi32(_mm256_srli_epi64(even, 32), odd, 0xAA);
}
MPFIX_AVX2_INLINE __m256i mh8(__m256i coef, __m256i v, __m256i shifts) {
    return mulHigh8(coef, _mm256_sllv_epi32(v, shifts));
}
template <int S>
MPFIX_AVX2_INLINE __m256i mh8s(__m256i coef, __m256i v) {
    return mulHigh8(coef, _mm256_slli_epi32(v, S));
}
MPFIX_AVX2_INLINE __m256i add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
MPFIX_AVX2_INLINE __m256i sub(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }
MPFIX_AVX2_INLINE __m256i reverse(__m256i v) { return _mm256_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3)); }
MPFIX_AVX2_INLINE void transpose(__m256i &a, __m256i &b, __m256i &c, __m256i &d) {
    const __m256i ab0 = _mm256_unpacklo_epi32(a, b), ab1 = _mm256_unpackhi_epi32(a, b);
    const __m256i cd0 = _mm256_unpacklo_epi32(c, d), cd1 = _mm256_unpackhi_epi32(c, d);
    a = _mm256_unpacklo_epi64(ab0, cd0);
    b = _mm256_unpackhi_epi64(ab0, cd0);
    c = _mm256_unpacklo_epi64(ab1, cd1);
    d = _mm256_unpackhi_epi64(ab1, cd1);
}

MPFIX_AVX2_INLINE void dct32BlocksPair(int32_t *x0, int32_t *x1) {
    const int32_t *k1 = synthDctCoef1;
    const int32_t *k2 = synthDctCoef2;
    const __m256i a = loadPair(x0, x1, 0), b = reverse(loadPair(x0, x1, 28));
    const __m256i c = reverse(loadPair(x0, x1, 12)), d = loadPair(x0, x1, 16);
    const __m256i e = reverse(loadPair(x0, x1, 4)), f = loadPair(x0, x1, 24);
    const __m256i g = loadPair(x0, x1, 8), h = reverse(loadPair(x0, x1, 20));
    const __m256i sum1 = add(a, b), sum2 = add(c, d), sum3 = add(e, f), sum4 = add(g, h);
    const __m256i P = mh8s<1>(both(k1[0], k1[4], k1[8], k1[12]), sub(a, b));
    const __m256i Q = mh8(both(k1[1], k1[5], k1[9], k1[13]), sub(c, d), both(5, 3, 3, 3));
    const __m256i R = mh8s<1>(both(k1[2], k1[6], k1[10], k1[14]), sub(e, f));
    const __m256i T = mh8(both(k1[3], k1[7], k1[11], k1[15]), sub(g, h), both(1, 1, 1, 3));
    const __m256i k2even = both(k2[0], k2[2], k2[4], k2[6]);
    const __m256i k2odd = both(k2[1], k2[3], k2[5], k2[7]);
    const __m256i oddShifts = both(4, 4, 4, 1);
    __m256i y0 = add(sum1, sum2);
    __m256i y7 = add(sum3, sum4);
    __m256i y1 = mh8s<1>(k2even, sub(sum1, sum2));
    __m256i y6 = mh8(k2odd, sub(sum3, sum4), oddShifts);
    __m256i y2 = add(P, Q);
    __m256i y5 = add(R, T);
    __m256i y3 = mh8s<1>(k2even, sub(P, Q));
    __m256i y4 = mh8(k2odd, sub(R, T), oddShifts);
    transpose(y0, y1, y2, y3);
    transpose(y7, y6, y5, y4);

    const int32_t *k3 = synthDctCoef3;
    const __m256i s07 = add(y0, y7), s34 = add(y3, y4);
    const __m256i s16 = add(y1, y6), s25 = add(y2, y5);
    const __m256i d0 = mh8s<1>(both(k3[0], k3[0], k3[0], k3[0]), sub(y0, y7));
    const __m256i d1 = mh8s<3>(both(k3[1], k3[1], k3[1], k3[1]), sub(y3, y4));
    const __m256i d2 = mh8s<1>(both(k3[2], k3[2], k3[2], k3[2]), sub(y1, y6));
    const __m256i d3 = mh8s<1>(both(k3[3], k3[3], k3[3], k3[3]), sub(y2, y5));
    const __m256i e0 = add(s07, s34), e1 = sub(s07, s34);
    const __m256i f0 = add(s16, s25), f1 = sub(s16, s25);
    const __m256i gg = add(d0, d1), hh = sub(d0, d1);
    const __m256i kk = add(d2, d3), ll = sub(d2, d3);
    const __m256i k4 = _mm256_set1_epi32(k3[4]), k5 = _mm256_set1_epi32(k3[5]);
    const __m256i k6 = _mm256_set1_epi32(k3[6]), k7 = _mm256_set1_epi32(k3[7]);
    const __m256i n = mh8s<1>(k5, sub(e1, f1));
    const __m256i o = mh8s<1>(k5, sub(hh, ll));
    const __m256i m = mh8s<1>(k4, sub(gg, kk));
    __m256i r0 = add(e0, f0);
    __m256i r4 = mh8s<1>(k4, sub(e0, f0));
    __m256i r6 = add(mh8s<1>(k6, e1), n);
    __m256i r2 = add(mh8s<2>(k7, f1), n);
    __m256i r7 = add(mh8s<1>(k6, hh), o);
    __m256i r5 = add(m, r7);
    const __m256i q = add(mh8s<2>(k7, ll), o);
    __m256i r3 = add(q, m);
    __m256i r1 = add(add(gg, kk), q);
    transpose(r0, r1, r2, r3);
    transpose(r4, r5, r6, r7);
    storePair(x0, x1, 0, r0);
    storePair(x0, x1, 4, r4);
    storePair(x0, x1, 8, r1);
    storePair(x0, x1, 12, r5);
    storePair(x0, x1, 16, r2);
    storePair(x0, x1, 20, r6);
    storePair(x0, x1, 24, r3);
    storePair(x0, x1, 28, r7);
}

// Lane k of v to d[k]; lane 0 only with kLane0.
template <bool kLane0 = true>
MPFIX_AVX2_INLINE void storeLanes(__m256i v, int32_t *d0, int32_t *d1, int32_t *d2, int32_t *d3, int32_t *d4,
                                  int32_t *d5, int32_t *d6, int32_t *d7) {
    const __m128i lo = _mm256_castsi256_si128(v), hi = _mm256_extracti128_si256(v, 1);
    if constexpr (kLane0) *d0 = _mm_cvtsi128_si32(lo);
    *d1 = _mm_extract_epi32(lo, 1);
    *d2 = _mm_extract_epi32(lo, 2);
    *d3 = _mm_extract_epi32(lo, 3);
    *d4 = _mm_cvtsi128_si32(hi);
    *d5 = _mm_extract_epi32(hi, 1);
    *d6 = _mm_extract_epi32(hi, 2);
    *d7 = _mm_extract_epi32(hi, 3);
}

// synth::storeSlot with the sums of stage 3 formed eight at a time. The
// values of the rows r = 3, 7, 11 and V_0, V_48 are single block outputs
// (signed), those of the rows r = 1 mod 4 sums of neighbours, and those of
// the even rows sums of up to three.
MPFIX_AVX2_INLINE void storeSlotAvx2(const int32_t *x, int32_t *history, int32_t p) {
    int32_t *low = history + ((p & 1) ? MP3_HISTORY_REGION_A : MP3_HISTORY_REGION_B) + p;   // V_{15-r}
    int32_t *high = history + ((p & 1) ? MP3_HISTORY_REGION_B : MP3_HISTORY_REGION_A) + p;  // V_{47-r}
    int32_t *v48 = history + ((p & 1) ? MP3_HISTORY_V48_ODD : MP3_HISTORY_V48_EVEN) + (p >> 1);
    const __m256i mid = load8(x + 16), hi = load8(x + 24);
    // {-X0, -X1, -X2, -X3, X4, X5, X6, X7}: V_48, -Q_3, -Q_7, -Q_11, V_0, P_11, P_7, P_3.
    const __m256i singles = _mm256_sign_epi32(load8(x), set8(-1, -1, -1, -1, 1, 1, 1, 1));
    storeLanes(singles, v48, high + 16 * 3, high + 16 * 7, high + 16 * 11, history + MP3_HISTORY_V0 + p,
               low + 16 * 11, low + 16 * 7, low + 16 * 3);
    // Lane k: X[7+k] + X[8+k]: -Q_1, -Q_5, -Q_9, -Q_13, P_13, P_9, P_5.
    const __m256i pairs = _mm256_sign_epi32(add(load8(x + 7), load8(x + 8)), set8(0, -1, -1, -1, -1, 1, 1, 1));
    storeLanes<false>(pairs, nullptr, high + 16 * 1, high + 16 * 5, high + 16 * 9, high + 16 * 13, low + 16 * 13,
               low + 16 * 9, low + 16 * 5);
    low[16 * 1] = x[15];
    // P of the even rows 0, 2 .. 14.
    const __m256i p1 = _mm256_permutevar8x32_epi32(hi, set8(7, 7, 7, 7, 6, 6, 5, 5));
    const __m256i p2 = _mm256_and_si256(_mm256_permutevar8x32_epi32(hi, set8(0, 0, 6, 6, 5, 5, 4, 4)),
                                        set8(0, 0, -1, -1, -1, -1, -1, -1));
    const __m256i p3 = _mm256_and_si256(_mm256_permutevar8x32_epi32(mid, set8(0, 7, 7, 6, 6, 5, 5, 4)),
                                        set8(0, -1, -1, -1, -1, -1, -1, -1));
    const __m256i evenP = add(add(p1, p2), p3);
    storeLanes(evenP, low, low + 16 * 2, low + 16 * 4, low + 16 * 6, low + 16 * 8, low + 16 * 10, low + 16 * 12,
               low + 16 * 14);
    // -Q of the even rows: lane k of sums is X[23+k] + X[24+k].
    const __m256i sums = add(load8(x + 23), hi);
    const __m256i evenQ = add(_mm256_permutevar8x32_epi32(sums, set8(1, 1, 2, 2, 3, 3, 4, 4)),
                              _mm256_permutevar8x32_epi32(mid, set8(0, 1, 1, 2, 2, 3, 3, 4)));
    storeLanes(sub(_mm256_setzero_si256(), evenQ), high, high + 16 * 2, high + 16 * 4, high + 16 * 6,
               high + 16 * 8, high + 16 * 10, high + 16 * 12, high + 16 * 14);
}

// Exact products of the eight words v with the eight coefficients at c, as
// four 64-bit partial sums: pmuldq reads the low word of each 64-bit lane,
// so the odd words are shifted down and met by the coefficients one further.
MPFIX_AVX2_INLINE __m256i dot8(__m256i v, const int32_t *c) {
    return _mm256_add_epi64(_mm256_mul_epi32(v, load8(c)), _mm256_mul_epi32(_mm256_srli_epi64(v, 32), load8(c + 1)));
}

// The four full sums of the partial sums in a, b, c, d: {sum a, sum b, sum c, sum d}.
MPFIX_AVX2_INLINE __m256i sum4(__m256i a, __m256i b, __m256i c, __m256i d) {
    const __m256i ab = _mm256_add_epi64(_mm256_unpacklo_epi64(a, b), _mm256_unpackhi_epi64(a, b));
    const __m256i cd = _mm256_add_epi64(_mm256_unpacklo_epi64(c, d), _mm256_unpackhi_epi64(c, d));
    return _mm256_add_epi64(_mm256_blend_epi32(ab, cd, 0xF0), _mm256_permute2x128_si256(ab, cd, 0x21));
}

// Eight samples from the sums {q0 .. q3} and {q4 .. q7}, in the order
// q0 q1 q4 q5 q2 q3 q6 q7, as toPcm rounds them: the high words clamped to
// +-2^30 (which changes no clamped result) so that + 64 cannot wrap; the
// final saturation to 16 bits is left to packssdw.
MPFIX_AVX2_INLINE __m256i samples8(__m256i s0, __m256i s1) {
    __m256i h = _mm256_castps_si256(
        _mm256_shuffle_ps(_mm256_castsi256_ps(s0), _mm256_castsi256_ps(s1), _MM_SHUFFLE(3, 1, 3, 1)));
    h = _mm256_min_epi32(_mm256_max_epi32(h, _mm256_set1_epi32(-(1 << 30))), _mm256_set1_epi32(1 << 30));
    return _mm256_srai_epi32(add(h, _mm256_set1_epi32(64)), 7);
}

// Sample 16: the V_48 values of the other parity against the coefficients
// of synthSample16Coef read from (7 - j0) mod 8.
MPFIX_AVX2_INLINE __m256i sample16Products(const int32_t *history, int32_t p) {
    const int32_t *m = history + ((p & 1) ? MP3_HISTORY_V48_EVEN : MP3_HISTORY_V48_ODD);
    const int32_t j0 = (((p + 1) >> 1) + 7) & 7;
    return dot8(load8(m), synthSample16Coef + ((7 - j0) & 7));
}

// Sample 0: lane k pairs e(15 - k) with e(k + 1) (e(a) = V_0 of the slot a
// calls ago), as the wrapping difference for odd t = k + 1 and sum for even
// t; lane 7 is e(8) alone.
MPFIX_AVX2_INLINE __m256i ringWords(__m256i e0, __m256i e1, __m256i index) {
    const __m256i fromE1 = _mm256_slli_epi32(index, 28);  // bit 3 of the index to the sign
    return _mm256_castps_si256(_mm256_blendv_ps(_mm256_castsi256_ps(_mm256_permutevar8x32_epi32(e0, index)),
                                                _mm256_castsi256_ps(_mm256_permutevar8x32_epi32(e1, index)),
                                                _mm256_castsi256_ps(fromE1)));
}
MPFIX_AVX2_INLINE __m256i sample0Products(const int32_t *history, int32_t p) {
    const __m256i e0 = load8(history + MP3_HISTORY_V0), e1 = load8(history + MP3_HISTORY_V0 + 8);
    const __m256i pos = _mm256_set1_epi32(p), mask = _mm256_set1_epi32(15);
    const __m256i older = ringWords(e0, e1, _mm256_and_si256(add(pos, set8(15, 14, 13, 12, 11, 10, 9, 8)), mask));
    const __m256i newer = ringWords(e0, e1, _mm256_and_si256(add(pos, set8(1, 2, 3, 4, 5, 6, 7, 8)), mask));
    const __m256i pairs = add(older, _mm256_sign_epi32(newer, set8(-1, 1, -1, 1, -1, 1, -1, 0)));
    return dot8(pairs, synthWindow);
}

// The 32 samples of the slot stored under position p: low = 0..15, high = 16..31.
struct SlotPcm {
    __m256i low, high;
};
MPFIX_AVX2_INLINE SlotPcm windowSlot(const int32_t *history, int32_t p) {
    const int32_t *region = synth::windowRegion(history, p);
    const int32_t *coef = synthWindowRows.a(0) + 16 - p;
    // One base register for every coefficient load (the rows are at fixed
    // offsets from it), rather than an index recomputed per row.
    __asm__("" : "+r"(coef));
    // a[r], b[r]: partial sums of samples 15 - r and 17 + r; a[15], b[15]
    // those of samples 0 and 16.
    __m256i a[16], b[16];
    const auto row = [&](int r) __attribute__((target("avx2"), always_inline)) {
        const __m256i v0 = load8(region + 16 * r), v1 = load8(region + 16 * r + 8);
        const int32_t *ca = coef + SynthWindowRows::kWidth * r, *cb = ca + SynthWindowRows::kB;
        a[r] = _mm256_add_epi64(dot8(v0, ca), dot8(v1, ca + 8));
        b[r] = _mm256_add_epi64(dot8(v0, cb), dot8(v1, cb + 8));
    };
    // packssdw interleaves the four-sample halves of its two operands: the
    // sums are grouped so that the samples come out in order, and the rows
    // run in an order that completes groups early.
    a[15] = sample0Products(history, p);
    b[15] = sample16Products(history, p);
    row(0);
    row(7);
    row(8);
    const __m256i b0 = sum4(b[15], b[0], b[7], b[8]);
    row(14);
    row(6);
    const __m256i a0 = sum4(a[15], a[14], a[7], a[6]);
    row(1);
    row(9);
    const __m256i a3 = sum4(a[9], a[8], a[1], a[0]);
    row(2);
    row(10);
    const __m256i b1 = sum4(b[1], b[2], b[9], b[10]);
    row(3);
    row(11);
    const __m256i a2 = sum4(a[11], a[10], a[3], a[2]);
    row(4);
    row(12);
    const __m256i b2 = sum4(b[3], b[4], b[11], b[12]);
    row(5);
    row(13);
    const __m256i a1 = sum4(a[13], a[12], a[5], a[4]);
    const __m256i b3 = sum4(b[5], b[6], b[13], b[14]);
    return {_mm256_packs_epi32(samples8(a0, a1), samples8(a2, a3)),
            _mm256_packs_epi32(samples8(b0, b1), samples8(b2, b3))};
}

MPFIX_AVX2_INLINE void storeConsecutive(int16_t *pcm, const SlotPcm &s) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(pcm), s.low);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(pcm + 16), s.high);
}
// Every second element; the ones between belong to another channel.
MPFIX_AVX2_INLINE void storeEverySecond(int16_t *pcm, const SlotPcm &s) {
    alignas(32) int16_t v[32];
    storeConsecutive(v, s);
    for (int j = 0; j < 32; ++j) pcm[2 * j] = v[j];
}
// Two channels' slots interleaved: 64 consecutive elements.
MPFIX_AVX2_INLINE void storeInterleaved(int16_t *pcm, const SlotPcm &left, const SlotPcm &right) {
    const auto put = [pcm](int at, __m256i l, __m256i r) __attribute__((target("avx2"), always_inline)) {
        const __m256i lo = _mm256_unpacklo_epi16(l, r), hi = _mm256_unpackhi_epi16(l, r);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(pcm + at), _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(pcm + at + 16), _mm256_permute2x128_si256(lo, hi, 0x31));
    };
    put(0, left.low, right.low);
    put(32, left.high, right.high);
}

MPFIX_AVX2 int32_t synthAvx2(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position,
                             int32_t stride) {
    if (*position < 0 || *position > 15) return MP3_ERR_PARAM;
    const int32_t p = synth::advancePosition(position);
    dct32Blocks(samples);
    storeSlotAvx2(samples, history, p);
    const SlotPcm out = windowSlot(history, p);
    if (stride == 1)
        storeConsecutive(pcm, out);
    else
        storeEverySecond(pcm, out);
    return 0;
}

// A granule: the slots of one channel in pairs, or the two channels' slots
// side by side, through the two-slot DCT; each slot is then stored and
// windowed in the order the single calls would run.
MPFIX_AVX2 int32_t synthGranuleAvx2(int32_t *slots, int16_t *pcm, int32_t *history, int32_t *position,
                                    int32_t nch) {
    const bool stereo = nch == 2;
    for (int32_t s = 0; s < MP3_SLOTS; s += stereo ? 1 : 2) {
        int32_t *x[2] = {slots + MP3_SUBBANDS * s, slots + MP3_SUBBANDS * (stereo ? MP3_SLOTS + s : s + 1)};
        dct32BlocksPair(x[0], x[1]);
        SlotPcm out[2];
        for (int k = 0; k < 2; ++k) {
            const int ch = stereo ? k : 0;
            int32_t *h = history + MP3_SYNTH_HISTORY * ch;
            const int32_t p = synth::advancePosition(position + ch);
            storeSlotAvx2(x[k], h, p);
            out[k] = windowSlot(h, p);
        }
        if (stereo) {
            storeInterleaved(pcm + 2 * MP3_SUBBANDS * s, out[0], out[1]);
        } else {
            storeConsecutive(pcm + MP3_SUBBANDS * s, out[0]);
            storeConsecutive(pcm + MP3_SUBBANDS * (s + 1), out[1]);
        }
    }
    return 0;
}

}  // namespace

int32_t MP3_SynthPQMF_sse41(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride) {
    return synthSse41(samples, pcm, history, position, stride);
}
int32_t MP3_SynthPQMF_avx2(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride) {
    return synthAvx2(samples, pcm, history, position, stride);
}
int32_t MP3_SynthGranule_avx2(int32_t *slots, int16_t *pcm, int32_t *history, int32_t *position, int32_t nch) {
    if (!synth::granulePositionsValid(position, nch))
        return synth::granuleBySlots<MP3_SynthPQMF_avx2>(slots, pcm, history, position, nch);
    return synthGranuleAvx2(slots, pcm, history, position, nch);
}

}  // namespace mpfix

#endif
