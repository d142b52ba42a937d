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

__attribute__((target("avx2"), always_inline)) inline __m256i load8(const int32_t *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

MPFIX_AVX2 int32_t synthAvx2(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position,
                             int32_t stride) {
    if (*position < 0 || *position > 15) return MP3_ERR_PARAM;
    const int step = (stride == 1) ? 1 : 2;
    const int32_t p = begin(samples, pcm, history, position, step);
    const int32_t *region = synth::windowRegion(history, p);
    const SynthWindowRows &w = synthWindowRows;
    const auto rowSums = [&](int r) __attribute__((target("avx2"))) {
        const int32_t *row = region + 16 * r;
        const int32_t *ca = w.a(r) + 16 - p;
        const int32_t *cb = w.b(r) + 16 - p;
        __m256i accA = _mm256_setzero_si256(), accB = _mm256_setzero_si256();
        for (int c = 0; c < 16; c += 8) {
            const __m256i v = load8(row + c);
            const __m256i vOdd = _mm256_srli_epi64(v, 32);
            accA = _mm256_add_epi64(accA, _mm256_mul_epi32(v, load8(ca + c)));
            accA = _mm256_add_epi64(accA, _mm256_mul_epi32(vOdd, load8(ca + c + 1)));
            accB = _mm256_add_epi64(accB, _mm256_mul_epi32(v, load8(cb + c)));
            accB = _mm256_add_epi64(accB, _mm256_mul_epi32(vOdd, load8(cb + c + 1)));
        }
        const __m256i halves = _mm256_add_epi64(_mm256_unpacklo_epi64(accA, accB), _mm256_unpackhi_epi64(accA, accB));
        return _mm_add_epi64(_mm256_castsi256_si128(halves), _mm256_extracti128_si256(halves, 1));
    };
    for (int r = 0; r < 14; r += 2) storeRowPair(pcm, step, r, rowSums(r), rowSums(r + 1));
    storeRowPair(pcm, step, 14, rowSums(14), _mm_setzero_si128());
    return 0;
}

}  // namespace

int32_t MP3_SynthPQMF_sse41(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride) {
    return synthSse41(samples, pcm, history, position, stride);
}
int32_t MP3_SynthPQMF_avx2(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride) {
    return synthAvx2(samples, pcm, history, position, stride);
}

}  // namespace mpfix

#endif
