// NEON variant of the polyphase synthesis slot (32-bit ARM). The DCT runs its
// four stage-1 groups, then its four eight-point blocks, as the four lanes of
// one vector; the high product is vqdmulh (floor(2cv / 2^32), exact since no
// coefficient is -2^31) halved by an arithmetic shift, which floors again to
// floor(cv / 2^32). The window multiply-accumulates pairs into exact 64-bit
// lanes (vmlal.s32).
#include "audio/synth/polyphase.h"

#if !MPFIX_PLAIN_KERNELS && defined(__ARM_NEON)

#include <arm_neon.h>

namespace mpfix {
namespace {

inline int32x4_t mulHigh4(int32x4_t c, int32x4_t v) { return vshrq_n_s32(vqdmulhq_s32(c, v), 1); }
inline int32x4_t mh4s1(int32x4_t c, int32x4_t v) { return mulHigh4(c, vshlq_n_s32(v, 1)); }
// Per-lane wrapping left shift, then the high product.
inline int32x4_t mh4(int32x4_t c, int32x4_t v, int32x4_t shifts) { return mulHigh4(c, vshlq_s32(v, shifts)); }
inline int32x4_t reverse4(int32x4_t v) {
    const int32x4_t r = vrev64q_s32(v);
    return vcombine_s32(vget_high_s32(r), vget_low_s32(r));
}
inline int32x4_t set4(int32_t a, int32_t b, int32_t c, int32_t d) {
    const int32_t v[4] = {a, b, c, d};
    return vld1q_s32(v);
}
inline void transpose4(int32x4_t &a, int32x4_t &b, int32x4_t &c, int32x4_t &d) {
    const int32x4x2_t ab = vtrnq_s32(a, b), cd = vtrnq_s32(c, d);
    a = vcombine_s32(vget_low_s32(ab.val[0]), vget_low_s32(cd.val[0]));
    b = vcombine_s32(vget_low_s32(ab.val[1]), vget_low_s32(cd.val[1]));
    c = vcombine_s32(vget_high_s32(ab.val[0]), vget_high_s32(cd.val[0]));
    d = vcombine_s32(vget_high_s32(ab.val[1]), vget_high_s32(cd.val[1]));
}

// Stages 1 and 2 of the 32-point DCT in place over x[0..31].
void dct32Blocks(int32_t *x) {
    const int32_t *k1 = synthDctCoef1;
    const int32_t *k2 = synthDctCoef2;
    const int32x4_t a = vld1q_s32(x), b = reverse4(vld1q_s32(x + 28));
    const int32x4_t c = reverse4(vld1q_s32(x + 12)), d = vld1q_s32(x + 16);
    const int32x4_t e = reverse4(vld1q_s32(x + 4)), f = vld1q_s32(x + 24);
    const int32x4_t g = vld1q_s32(x + 8), h = reverse4(vld1q_s32(x + 20));
    const int32x4_t sum1 = vaddq_s32(a, b), sum2 = vaddq_s32(c, d);
    const int32x4_t sum3 = vaddq_s32(e, f), sum4 = vaddq_s32(g, h);
    const int32x4_t P = mh4s1(set4(k1[0], k1[4], k1[8], k1[12]), vsubq_s32(a, b));
    const int32x4_t Q = mh4(set4(k1[1], k1[5], k1[9], k1[13]), vsubq_s32(c, d), set4(5, 3, 3, 3));
    const int32x4_t R = mh4s1(set4(k1[2], k1[6], k1[10], k1[14]), vsubq_s32(e, f));
    const int32x4_t T = mh4(set4(k1[3], k1[7], k1[11], k1[15]), vsubq_s32(g, h), set4(1, 1, 1, 3));
    const int32x4_t k2even = set4(k2[0], k2[2], k2[4], k2[6]);
    const int32x4_t k2odd = set4(k2[1], k2[3], k2[5], k2[7]);
    const int32x4_t oddShift = set4(4, 4, 4, 1);

    int32x4_t y0 = vaddq_s32(sum1, sum2);                         // x[0..3]
    int32x4_t y7 = vaddq_s32(sum3, sum4);                         // x[7..4]
    int32x4_t y1 = mh4s1(k2even, vsubq_s32(sum1, sum2));          // x[8..11]
    int32x4_t y6 = mh4(k2odd, vsubq_s32(sum3, sum4), oddShift);   // x[15..12]
    int32x4_t y2 = vaddq_s32(P, Q);                               // x[16..19]
    int32x4_t y5 = vaddq_s32(R, T);                               // x[23..20]
    int32x4_t y3 = mh4s1(k2even, vsubq_s32(P, Q));                // x[24..27]
    int32x4_t y4 = mh4(k2odd, vsubq_s32(R, T), oddShift);         // x[31..28]
    transpose4(y0, y1, y2, y3);  // lanes are the blocks: y_j = x[8b + j]
    transpose4(y7, y6, y5, y4);

    const int32_t *k3 = synthDctCoef3;
    const int32x4_t s07 = vaddq_s32(y0, y7), s34 = vaddq_s32(y3, y4);
    const int32x4_t s16 = vaddq_s32(y1, y6), s25 = vaddq_s32(y2, y5);
    const int32x4_t d0 = mh4s1(vdupq_n_s32(k3[0]), vsubq_s32(y0, y7));
    const int32x4_t d1 = mulHigh4(vdupq_n_s32(k3[1]), vshlq_n_s32(vsubq_s32(y3, y4), 3));
    const int32x4_t d2 = mh4s1(vdupq_n_s32(k3[2]), vsubq_s32(y1, y6));
    const int32x4_t d3 = mh4s1(vdupq_n_s32(k3[3]), vsubq_s32(y2, y5));
    const int32x4_t e0 = vaddq_s32(s07, s34), e1 = vsubq_s32(s07, s34);
    const int32x4_t f0 = vaddq_s32(s16, s25), f1 = vsubq_s32(s16, s25);
    const int32x4_t gg = vaddq_s32(d0, d1), hh = vsubq_s32(d0, d1);
    const int32x4_t kk = vaddq_s32(d2, d3), ll = vsubq_s32(d2, d3);
    const int32x4_t k4 = vdupq_n_s32(k3[4]), k5 = vdupq_n_s32(k3[5]);
    const int32x4_t k6 = vdupq_n_s32(k3[6]), k7 = vdupq_n_s32(k3[7]);
    const int32x4_t n = mh4s1(k5, vsubq_s32(e1, f1));
    const int32x4_t o = mh4s1(k5, vsubq_s32(hh, ll));
    const int32x4_t m = mh4s1(k4, vsubq_s32(gg, kk));
    int32x4_t r0 = vaddq_s32(e0, f0);
    int32x4_t r4 = mh4s1(k4, vsubq_s32(e0, f0));
    int32x4_t r6 = vaddq_s32(mh4s1(k6, e1), n);
    int32x4_t r2 = vaddq_s32(mulHigh4(k7, vshlq_n_s32(f1, 2)), n);
    int32x4_t r7 = vaddq_s32(mh4s1(k6, hh), o);
    int32x4_t r5 = vaddq_s32(m, r7);
    const int32x4_t q = vaddq_s32(mulHigh4(k7, vshlq_n_s32(ll, 2)), o);
    int32x4_t r3 = vaddq_s32(q, m);
    int32x4_t r1 = vaddq_s32(vaddq_s32(gg, kk), q);

    transpose4(r0, r1, r2, r3);
    transpose4(r4, r5, r6, r7);
    vst1q_s32(x + 0, r0);
    vst1q_s32(x + 4, r4);
    vst1q_s32(x + 8, r1);
    vst1q_s32(x + 12, r5);
    vst1q_s32(x + 16, r2);
    vst1q_s32(x + 20, r6);
    vst1q_s32(x + 24, r3);
    vst1q_s32(x + 28, r7);
}

// {sum of a's lanes, sum of b's lanes}, then their high words.
inline int32x2_t pairHighWords(int64x2_t a, int64x2_t b) {
    const int64x2_t sums = vcombine_s64(vadd_s64(vget_low_s64(a), vget_high_s64(a)),
                                        vadd_s64(vget_low_s64(b), vget_high_s64(b)));
    return vshrn_n_s64(sums, 32);
}

}  // namespace

int32_t MP3_SynthPQMF_neon(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride) {
    if (*position < 0 || *position > 15) return MP3_ERR_PARAM;
    const int32_t p = synth::advancePosition(position);
    dct32Blocks(samples);
    synth::storeSlot(samples, history, p);

    const int step = (stride == 1) ? 1 : 2;
    synth::windowEdgeSamples(history, p, pcm, step);
    const int32_t *region = synth::windowRegion(history, p);
    const SynthWindowRows &w = synthWindowRows;
    // The high words of the sums of output pair (15 - r, 17 + r).
    const auto rowWords = [&](int r) {
        const int32_t *row = region + 16 * r;
        const int32_t *ca = w.a(r) + 16 - p;
        const int32_t *cb = w.b(r) + 16 - p;
        int64x2_t accA = vdupq_n_s64(0), accB = vdupq_n_s64(0);
        for (int c = 0; c < 16; c += 4) {
            const int32x4_t v = vld1q_s32(row + c);
            const int32x4_t wa = vld1q_s32(ca + c), wb = vld1q_s32(cb + c);
            accA = vmlal_s32(accA, vget_low_s32(v), vget_low_s32(wa));
            accA = vmlal_s32(accA, vget_high_s32(v), vget_high_s32(wa));
            accB = vmlal_s32(accB, vget_low_s32(v), vget_low_s32(wb));
            accB = vmlal_s32(accB, vget_high_s32(v), vget_high_s32(wb));
        }
        return pairHighWords(accA, accB);
    };
    // (high word + 64) >> 7 clamped to 16 bits is one rounding, saturating
    // narrow (vqrshrn), exact for every high word; two rows at a time.
    for (int r = 0; r < 14; r += 2) {
        const int16x4_t out = vqrshrn_n_s32(vcombine_s32(rowWords(r), rowWords(r + 1)), 7);
        pcm[(15 - r) * step] = vget_lane_s16(out, 0);
        pcm[(17 + r) * step] = vget_lane_s16(out, 1);
        pcm[(14 - r) * step] = vget_lane_s16(out, 2);
        pcm[(18 + r) * step] = vget_lane_s16(out, 3);
    }
    const int32x2_t last = rowWords(14);
    const int16x4_t out = vqrshrn_n_s32(vcombine_s32(last, last), 7);
    pcm[1 * step] = vget_lane_s16(out, 0);
    pcm[31 * step] = vget_lane_s16(out, 1);
    return 0;
}

}  // namespace mpfix

#endif
