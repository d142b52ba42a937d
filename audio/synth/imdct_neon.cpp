// Alias reduction on 32-bit ARM (NEON): the eight butterflies of one subband
// boundary in four pairs of lanes, the lines above the boundary reversed into
// lane order. Exact 64-bit sums of products (vmull/vmlal.s32), their high
// words doubled with wrapping: the reference's results bit for bit.
#include "audio/synth/imdct.h"

#if !MPFIX_PLAIN_KERNELS && defined(__ARM_NEON)

#include <arm_neon.h>

#include "mpfix.h"

namespace mpfix {

namespace {

// Lanes in reverse order.
__attribute__((always_inline)) inline int32x4_t reversed(int32x4_t v) {
    const int32x4_t r = vrev64q_s32(v);
    return vcombine_s32(vget_high_s32(r), vget_low_s32(r));
}

// 2 x the high words of a * b + c * d (plus) or a * b - c * d (minus), two lanes.
__attribute__((always_inline)) inline int32x2_t butterfly(int32x2_t a, int32x2_t b, int32x2_t c, int32x2_t d,
                                                          bool minus) {
    const int64x2_t s = minus ? vmlsl_s32(vmull_s32(a, b), c, d) : vmlal_s32(vmull_s32(a, b), c, d);
    return vshl_n_s32(vshrn_n_s64(s, 32), 1);
}

}  // namespace

void MP3_AliasReduce_neon(int32_t *spectrum, int32_t subbands) {
    if (subbands > MP3_SUBBANDS) subbands = MP3_SUBBANDS;
    int32_t c[2][8];
    for (int i = 0; i < 8; ++i) c[0][i] = aliasCoef[i][0], c[1][i] = aliasCoef[i][1];
    const int32x4_t cs[2] = {vld1q_s32(c[0]), vld1q_s32(c[0] + 4)};
    const int32x4_t ca[2] = {vld1q_s32(c[1]), vld1q_s32(c[1] + 4)};
    for (int32_t k = 1; k < subbands; ++k) {
        int32_t *lower = spectrum + MP3_SLOTS * k;  // lines 18k .. 18k + 7
        int32_t *upper = lower - 8;                 // lines 18k - 8 .. 18k - 1, reversed
        const int32x4_t lo[2] = {vld1q_s32(lower), vld1q_s32(lower + 4)};
        const int32x4_t up[2] = {reversed(vld1q_s32(upper + 4)), reversed(vld1q_s32(upper))};
        int32x4_t newLo[2], newUp[2];
        for (int h = 0; h < 2; ++h) {
            const int32x2_t csL = vget_low_s32(cs[h]), csH = vget_high_s32(cs[h]);
            const int32x2_t caL = vget_low_s32(ca[h]), caH = vget_high_s32(ca[h]);
            const int32x2_t loL = vget_low_s32(lo[h]), loH = vget_high_s32(lo[h]);
            const int32x2_t upL = vget_low_s32(up[h]), upH = vget_high_s32(up[h]);
            newLo[h] = vcombine_s32(butterfly(csL, loL, caL, upL, false), butterfly(csH, loH, caH, upH, false));
            newUp[h] = vcombine_s32(butterfly(csL, upL, caL, loL, true), butterfly(csH, upH, caH, loH, true));
        }
        vst1q_s32(lower, newLo[0]);
        vst1q_s32(lower + 4, newLo[1]);
        vst1q_s32(upper + 4, reversed(newUp[0]));
        vst1q_s32(upper, reversed(newUp[1]));
    }
}

}  // namespace mpfix

#endif
