// Four long-block subbands at a time on 32-bit ARM (NEON): the long IMDCT of
// imdct.cpp with each subband in one lane, the exact 64-bit sums in two
// registers of two lanes (vmlal.s32), then the overlap-add and frequency
// inversion, whose four outputs per slot lie side by side in the slot-major
// output. Every step wraps as the reference's does: the same results bit for
// bit.
#include "audio/synth/hybrid.h"

#if !MPFIX_PLAIN_KERNELS && defined(__ARM_NEON)

#include <arm_neon.h>

#include "audio/synth/imdct.h"
#include "mpfix.h"

namespace mpfix {

namespace {

#define MPFIX_NEON __attribute__((always_inline)) inline

using V = int32x4_t;  // four 32-bit values, one per subband
struct W {            // four 64-bit sums: lanes 0, 1 and 2, 3
    int64x2_t lo, hi;
};

MPFIX_NEON W mul(int32_t c, V a) { return {vmull_n_s32(vget_low_s32(a), c), vmull_n_s32(vget_high_s32(a), c)}; }
MPFIX_NEON W mac(W s, int32_t c, V a) {
    return {vmlal_n_s32(s.lo, vget_low_s32(a), c), vmlal_n_s32(s.hi, vget_high_s32(a), c)};
}
MPFIX_NEON W msub(W s, int32_t c, V a) {
    return {vmlsl_n_s32(s.lo, vget_low_s32(a), c), vmlsl_n_s32(s.hi, vget_high_s32(a), c)};
}
MPFIX_NEON W add(W a, W b) { return {vaddq_s64(a.lo, b.lo), vaddq_s64(a.hi, b.hi)}; }
MPFIX_NEON W sub(W a, W b) { return {vsubq_s64(a.lo, b.lo), vsubq_s64(a.hi, b.hi)}; }
// floor(S / 2^n) reduced to 32 bits (n = 32: the high word).
template <int N>
MPFIX_NEON V lowWord(W s) {
    return vcombine_s32(vshrn_n_s64(s.lo, N), vshrn_n_s64(s.hi, N));
}
MPFIX_NEON V high(W s) { return lowWord<32>(s); }
template <int N>
MPFIX_NEON W startAt(V v) {
    return {vshlq_n_s64(vmovl_s32(vget_low_s32(v)), N), vshlq_n_s64(vmovl_s32(vget_high_s32(v)), N)};
}
MPFIX_NEON V mulHigh(int32_t c, V a) { return high(mul(c, a)); }
MPFIX_NEON V add(V a, V b) { return vaddq_s32(a, b); }
MPFIX_NEON V sub(V a, V b) { return vsubq_s32(a, b); }
MPFIX_NEON V shl2(V a) { return vshlq_n_s32(a, 2); }

struct Sums {
    W s0, s5;
};

// The nine-point transform of imdct.cpp on a_n = t[p + 2n].
template <int P>
MPFIX_NEON Sums ninePoint(const V *t, V *f) {
    const int32_t *c = imdctCos9;
    V a[9];
    for (int n = 0; n < 9; ++n) a[n] = t[P + 2 * n];

    const V twiceA0 = vshlq_n_s32(a[0], 1);
    const V s = add(twiceA0, a[6]);
    const W s0 = mac(mac(mac(startAt<30>(s), c[0], a[2]), c[1], a[4]), c[2], a[8]);
    f[0] = high(s0);
    f[1] = vshrq_n_s32(sub(sub(add(sub(twiceA0, vshlq_n_s32(a[6], 1)), a[2]), a[4]), a[8]), 2);
    const W quarter = startAt<32>(vshrq_n_s32(s, 2));
    f[2] = high(mac(msub(msub(quarter, c[2], a[2]), c[0], a[4]), c[1], a[8]));
    f[3] = high(msub(mac(msub(quarter, c[1], a[2]), c[2], a[4]), c[0], a[8]));
    const V r = add(sub(add(sub(vshrq_n_s32(twiceA0, 1), a[6]), a[4]), a[2]), a[8]);
    f[4] = P == 0 ? vshrq_n_s32(r, 2) : mulHigh(c[7], r);
    const V h = mulHigh(c[6], a[3]);
    const W s5 = mac(mac(mac(startAt<32>(h), c[3], a[1]), c[4], a[5]), c[5], a[7]);
    f[5] = high(s5);
    f[6] = mulHigh(c[6], sub(sub(a[1], a[5]), a[7]));
    const W minusH = startAt<32>(vnegq_s32(h));
    f[7] = high(mac(msub(mac(minusH, c[4], a[1]), c[5], a[5]), c[3], a[7]));
    f[8] = high(msub(mac(mac(minusH, c[5], a[1]), c[3], a[5]), c[4], a[7]));
    return {s0, s5};
}

// Lane i from p[18 i].
MPFIX_NEON V gather(const int32_t *p) {
    V v = vdupq_n_s32(p[0]);
    v = vsetq_lane_s32(p[18], v, 1);
    v = vsetq_lane_s32(p[36], v, 2);
    return vsetq_lane_s32(p[54], v, 3);
}

}  // namespace

void MP3_HybridLong4_neon(int32_t *lines, int32_t *output, int32_t *overlap, int32_t sb, int32_t blockType) {
    const int32_t *w = imdctWindow[blockType == 1 ? 1 : (blockType == 2 || blockType == 3 ? 2 : 0)];
    const int32_t *d = imdctTwiddle;
    V x[18];
    for (int k = 0; k < 18; ++k) x[k] = gather(lines + k);

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
    const W dOp = mul(d[0], lowWord<30>(add(odd.s0, odd.s5)));
    const W dOm = mul(d[1], lowWord<28>(sub(odd.s0, odd.s5)));
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
    const int32_t oddPattern[4] = {0, -1, 0, -1};
    const V oddLanes = vld1q_s32(oddPattern);
    for (int k = 0; k < 18; ++k) {
        V v = add(z[k], gather(overlap + k));
        if ((k & 1) != 0) v = sub(veorq_s32(v, oddLanes), oddLanes);
        vst1q_s32(output + MP3_SUBBANDS * k + sb, v);
        overlap[k] = vgetq_lane_s32(z[18 + k], 0);
        overlap[18 + k] = vgetq_lane_s32(z[18 + k], 1);
        overlap[36 + k] = vgetq_lane_s32(z[18 + k], 2);
        overlap[54 + k] = vgetq_lane_s32(z[18 + k], 3);
    }
}

}  // namespace mpfix

#endif
