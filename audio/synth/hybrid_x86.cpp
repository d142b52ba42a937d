// Four long-block subbands at a time on x86-64 (AVX2): the long IMDCT of
// imdct.cpp with each subband in one lane, 32-bit values in 128-bit
// registers, the exact 64-bit sums in 256-bit ones (vpmuldq), then the
// overlap-add and frequency inversion, whose four outputs per slot lie side
// by side in the slot-major output. Every step wraps as the reference's
// does, so the results match it bit for bit.
#if !MPFIX_PLAIN_KERNELS && defined(__x86_64__)

#include <immintrin.h>

#include "audio/synth/hybrid.h"
#include "audio/synth/imdct.h"
#include "mpfix.h"

namespace mpfix {

namespace {

#define MPFIX_AVX2 __attribute__((target("avx2"), always_inline)) inline

using V = __m128i;  // four 32-bit values, one per subband
using W = __m256i;  // four 64-bit sums

MPFIX_AVX2 W wide(V a) { return _mm256_cvtepi32_epi64(a); }
// Exact products of a constant with four widened values.
MPFIX_AVX2 W mul(int32_t c, W a) { return _mm256_mul_epi32(_mm256_set1_epi64x(c), a); }
MPFIX_AVX2 V oddWords(W s) {
    return _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(s, _mm256_setr_epi32(1, 3, 5, 7, 1, 3, 5, 7)));
}
MPFIX_AVX2 V evenWords(W s) {
    return _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(s, _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6)));
}
// floor(S / 2^32) and floor(S / 2^n) reduced to 32 bits: bits 32..63 and n..n + 31.
MPFIX_AVX2 V high(W s) { return oddWords(s); }
template <int N>
MPFIX_AVX2 V lowWord(W s) {
    return evenWords(_mm256_srli_epi64(s, N));
}
template <int N>
MPFIX_AVX2 W startAt(V v) {
    return _mm256_slli_epi64(wide(v), N);
}
MPFIX_AVX2 V mulHigh(int32_t c, V a) { return high(mul(c, wide(a))); }
MPFIX_AVX2 V add(V a, V b) { return _mm_add_epi32(a, b); }
MPFIX_AVX2 V sub(V a, V b) { return _mm_sub_epi32(a, b); }
MPFIX_AVX2 W add(W a, W b) { return _mm256_add_epi64(a, b); }
MPFIX_AVX2 W sub(W a, W b) { return _mm256_sub_epi64(a, b); }

struct Sums {
    W s0, s5;
};

// The nine-point transform of imdct.cpp on a_n = t[p + 2n].
template <int P>
MPFIX_AVX2 Sums ninePoint(const V *t, V *f) {
    const int32_t *c = imdctCos9;
    V a[9];
    W wa[9];
    for (int n = 0; n < 9; ++n) a[n] = t[P + 2 * n], wa[n] = wide(a[n]);

    const V twiceA0 = _mm_slli_epi32(a[0], 1);
    const V s = add(twiceA0, a[6]);
    const W s0 = add(add(add(startAt<30>(s), mul(c[0], wa[2])), mul(c[1], wa[4])), mul(c[2], wa[8]));
    f[0] = high(s0);
    f[1] = _mm_srai_epi32(sub(sub(add(sub(twiceA0, _mm_slli_epi32(a[6], 1)), a[2]), a[4]), a[8]), 2);
    const W quarter = startAt<32>(_mm_srai_epi32(s, 2));
    f[2] = high(add(sub(sub(quarter, mul(c[2], wa[2])), mul(c[0], wa[4])), mul(c[1], wa[8])));
    f[3] = high(sub(add(sub(quarter, mul(c[1], wa[2])), mul(c[2], wa[4])), mul(c[0], wa[8])));
    const V r = add(sub(add(sub(_mm_srai_epi32(twiceA0, 1), a[6]), a[4]), a[2]), a[8]);
    f[4] = P == 0 ? _mm_srai_epi32(r, 2) : mulHigh(c[7], r);
    const V h = mulHigh(c[6], a[3]);
    const W s5 = add(add(add(startAt<32>(h), mul(c[3], wa[1])), mul(c[4], wa[5])), mul(c[5], wa[7]));
    f[5] = high(s5);
    f[6] = mulHigh(c[6], sub(sub(a[1], a[5]), a[7]));
    const W minusH = startAt<32>(sub(_mm_setzero_si128(), h));
    f[7] = high(add(sub(add(minusH, mul(c[4], wa[1])), mul(c[5], wa[5])), mul(c[3], wa[7])));
    f[8] = high(sub(add(add(minusH, mul(c[5], wa[1])), mul(c[3], wa[5])), mul(c[4], wa[7])));
    return {s0, s5};
}

MPFIX_AVX2 V shl2(V a) { return _mm_slli_epi32(a, 2); }

}  // namespace

__attribute__((target("avx2"))) void MP3_HybridLong4_avx2(int32_t *lines, int32_t *output, int32_t *overlap,
                                                          int32_t sb, int32_t blockType) {
    const int32_t *w = imdctWindow[blockType == 1 ? 1 : (blockType == 2 || blockType == 3 ? 2 : 0)];
    const int32_t *d = imdctTwiddle;
    V x[18];
    for (int k = 0; k < 18; ++k) x[k] = _mm_setr_epi32(lines[k], lines[18 + k], lines[36 + k], lines[54 + k]);

    V t[18];
    t[0] = x[0];
    t[1] = add(x[0], x[1]);
    for (int k = 1; k <= 8; ++k) {
        t[2 * k] = add(x[2 * k - 1], x[2 * k]);
        t[2 * k + 1] = add(add(x[2 * k - 2], x[2 * k - 1]), add(x[2 * k], x[2 * k + 1]));
    }
    V e[9], o[9];
    const Sums even = ninePoint<0>(t, e);
    const Sums odd = ninePoint<1>(t, o);

    V z[36];
    const W bigE = add(even.s0, even.s5);
    const W bigF = sub(even.s0, even.s5);
    const W dOp = mul(d[0], wide(lowWord<30>(add(odd.s0, odd.s5))));
    const W dOm = mul(d[1], wide(lowWord<28>(sub(odd.s0, odd.s5))));
    const V bigX = lowWord<30>(add(bigE, dOp));
    const V bigY = lowWord<28>(sub(bigE, dOp));
    const V bigP = lowWord<30>(add(bigF, dOm));
    const V bigQ = lowWord<30>(sub(bigF, dOm));
    z[26] = mulHigh(w[26], bigX), z[27] = mulHigh(w[27], bigX);
    z[8] = mulHigh(w[8], bigY), z[9] = mulHigh(w[9], bigY);
    z[18] = mulHigh(w[18], bigP), z[35] = mulHigh(w[35], bigP);
    z[0] = mulHigh(w[0], bigQ), z[17] = mulHigh(w[17], bigQ);
    for (int k = 1; k <= 3; ++k) {
        const V ek = add(e[k], e[k + 5]);
        const V dk = sub(e[k], e[k + 5]);
        const V ok = mulHigh(d[2 * k], shl2(add(o[k], o[k + 5])));
        const V pk = mulHigh(d[2 * k + 1], shl2(sub(o[k], o[k + 5])));
        const V va = shl2(add(ek, ok)), vb = shl2(sub(ek, ok));
        const V vc = shl2(add(dk, pk)), vd = shl2(sub(dk, pk));
        z[26 - k] = mulHigh(w[26 - k], va), z[27 + k] = mulHigh(w[27 + k], va);
        z[8 - k] = mulHigh(w[8 - k], vb), z[9 + k] = mulHigh(w[9 + k], vb);
        z[18 + k] = mulHigh(w[18 + k], vc), z[35 - k] = mulHigh(w[35 - k], vc);
        z[k] = mulHigh(w[k], vd), z[17 - k] = mulHigh(w[17 - k], vd);
    }
    const V va = shl2(add(e[4], o[4])), vb = shl2(sub(e[4], o[4]));
    z[22] = mulHigh(w[22], va), z[31] = mulHigh(w[31], va);
    z[4] = mulHigh(w[4], vb), z[13] = mulHigh(w[13], vb);

    // Overlap-add; sb is even, so lanes 1 and 3 are the odd subbands.
    const V oddLanes = _mm_setr_epi32(0, -1, 0, -1);
    for (int k = 0; k < 18; ++k) {
        V v = add(z[k], _mm_setr_epi32(overlap[k], overlap[18 + k], overlap[36 + k], overlap[54 + k]));
        if ((k & 1) != 0) v = sub(_mm_xor_si128(v, oddLanes), oddLanes);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(output + MP3_SUBBANDS * k + sb), v);
        overlap[k] = _mm_cvtsi128_si32(z[18 + k]);
        overlap[18 + k] = _mm_extract_epi32(z[18 + k], 1);
        overlap[36 + k] = _mm_extract_epi32(z[18 + k], 2);
        overlap[54 + k] = _mm_extract_epi32(z[18 + k], 3);
    }
}

}  // namespace mpfix

#endif
