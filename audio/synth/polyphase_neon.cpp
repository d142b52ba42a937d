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
// Per-lane constants, loaded from memory in one instruction: the operand
// shifts of the stage-1 factors for the four groups, and the signs of the
// sample-0 pairs.
alignas(16) constexpr int32_t kShiftQ[4] = {5, 3, 3, 3};
alignas(16) constexpr int32_t kShiftT[4] = {1, 1, 1, 3};
alignas(16) constexpr int32_t kShiftOdd[4] = {4, 4, 4, 1};
alignas(16) constexpr int32_t kPairSigns[4] = {-1, 1, -1, 1};
inline void transpose4(int32x4_t &a, int32x4_t &b, int32x4_t &c, int32x4_t &d) {
    const int32x4x2_t ab = vtrnq_s32(a, b), cd = vtrnq_s32(c, d);
    a = vcombine_s32(vget_low_s32(ab.val[0]), vget_low_s32(cd.val[0]));
    b = vcombine_s32(vget_low_s32(ab.val[1]), vget_low_s32(cd.val[1]));
    c = vcombine_s32(vget_high_s32(ab.val[0]), vget_high_s32(cd.val[0]));
    d = vcombine_s32(vget_high_s32(ab.val[1]), vget_high_s32(cd.val[1]));
}

// The block outputs X[0..31] in eight vectors, q[i] = X[4i .. 4i + 3].
struct BlockOutputs {
    int32x4_t q[8];
};

// Stages 1 and 2 of the 32-point DCT in place over x[0..31].
inline BlockOutputs dct32Blocks(int32_t *x) {
    // Lane i of k1.val[j] is entry 4i + j, lane i of k2.val[j] entry 2i + j.
    const int32x4x4_t k1 = vld4q_s32(synthDctCoef1);
    const int32x4x2_t k2 = vld2q_s32(synthDctCoef2);
    const int32x4_t a = vld1q_s32(x), b = reverse4(vld1q_s32(x + 28));
    const int32x4_t c = reverse4(vld1q_s32(x + 12)), d = vld1q_s32(x + 16);
    const int32x4_t e = reverse4(vld1q_s32(x + 4)), f = vld1q_s32(x + 24);
    const int32x4_t g = vld1q_s32(x + 8), h = reverse4(vld1q_s32(x + 20));
    const int32x4_t sum1 = vaddq_s32(a, b), sum2 = vaddq_s32(c, d);
    const int32x4_t sum3 = vaddq_s32(e, f), sum4 = vaddq_s32(g, h);
    const int32x4_t P = mh4s1(k1.val[0], vsubq_s32(a, b));
    const int32x4_t Q = mh4(k1.val[1], vsubq_s32(c, d), vld1q_s32(kShiftQ));
    const int32x4_t R = mh4s1(k1.val[2], vsubq_s32(e, f));
    const int32x4_t T = mh4(k1.val[3], vsubq_s32(g, h), vld1q_s32(kShiftT));
    const int32x4_t k2even = k2.val[0];
    const int32x4_t k2odd = k2.val[1];
    const int32x4_t oddShift = vld1q_s32(kShiftOdd);

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
    return {{r0, r4, r1, r5, r2, r6, r3, r7}};
}

// Lanes 0 .. n - 1 of v to p, p + step, p + 2 step ... (step in bytes, may be
// negative), one lane store each with the step in the store.
template <int N>
inline void storeColumn(int32_t *p, int32x4_t v, int32_t step) {
    static_assert(N == 3 || N == 4);
    if constexpr (N == 4) {
        asm volatile("vst1.32 {%e[v][0]}, [%[p]], %[step]\n\t"
                     "vst1.32 {%e[v][1]}, [%[p]], %[step]\n\t"
                     "vst1.32 {%f[v][0]}, [%[p]], %[step]\n\t"
                     "vst1.32 {%f[v][1]}, [%[p]]"
                     : [p] "+r"(p)
                     : [v] "w"(v), [step] "r"(step)
                     : "memory");
    } else {
        asm volatile("vst1.32 {%e[v][0]}, [%[p]], %[step]\n\t"
                     "vst1.32 {%e[v][1]}, [%[p]], %[step]\n\t"
                     "vst1.32 {%f[v][0]}, [%[p]]"
                     : [p] "+r"(p)
                     : [v] "w"(v), [step] "r"(step)
                     : "memory");
    }
}

// synth::storeSlot from the block outputs in registers. The 15 values of a
// region are four columns of rows r = k, k + 4, k + 8 (, k + 12): the sums
// of the table of stage 3 line up as lanes, those of V_{15-r} with the rows
// in falling order.
inline void storeSlotLanes(const BlockOutputs &b, int32_t *history, int32_t p) {
    const int32x4_t *X = b.q;  // X[k] holds X[4k .. 4k + 3]
    const int32x4_t zero = vdupq_n_s32(0);
    history[MP3_HISTORY_V0 + p] = vgetq_lane_s32(X[1], 0);
    history[((p & 1) ? MP3_HISTORY_V48_ODD : MP3_HISTORY_V48_EVEN) + (p >> 1)] = wrapNeg(vgetq_lane_s32(X[0], 0));
    int32_t *low = history + ((p & 1) ? MP3_HISTORY_REGION_A : MP3_HISTORY_REGION_B) + p;
    int32_t *high = history + ((p & 1) ? MP3_HISTORY_REGION_B : MP3_HISTORY_REGION_A) + p;
    constexpr int32_t kRow = MP3_HISTORY_ROW;
    constexpr int32_t kDown = -4 * kRow * static_cast<int32_t>(sizeof(int32_t));  // four rows back
    constexpr int32_t kUp = -kDown;

    // V_{15-r}: lanes for the rows 12, 8, 4, 0 / 14, 10, 6, 2 / 13, 9, 5, 1 / 11, 7, 3.
    const int32x4_t s = vaddq_s32(X[7], vextq_s32(X[7], zero, 1));  // X28+X29, X29+X30, X30+X31, X31
    storeColumn<4>(low + 12 * kRow, vaddq_s32(s, vextq_s32(X[5], zero, 1)), kDown);
    storeColumn<4>(low + 14 * kRow, vaddq_s32(s, X[5]), kDown);
    storeColumn<4>(low + 13 * kRow, vaddq_s32(X[3], vextq_s32(X[3], zero, 1)), kDown);
    storeColumn<3>(low + 11 * kRow, vextq_s32(X[1], X[1], 1), kDown);  // X5, X6, X7

    // V_{47-r} = -Q_r: lanes for the rows 0, 4, 8, 12 / 2, 6, 10, 14 / 1, 5, 9, 13 / 3, 7, 11.
    const int32x4_t u = vaddq_s32(X[6], vextq_s32(X[6], X[7], 1));  // X24+X25 .. X27+X28
    storeColumn<4>(high, vnegq_s32(vaddq_s32(u, X[4])), kUp);
    storeColumn<4>(high + 2 * kRow, vnegq_s32(vaddq_s32(u, vextq_s32(X[4], X[5], 1))), kUp);
    storeColumn<4>(high + kRow, vnegq_s32(vaddq_s32(X[2], vextq_s32(X[2], X[3], 1))), kUp);
    storeColumn<3>(high + 3 * kRow, vnegq_s32(vextq_s32(X[0], X[0], 1)), kUp);  // -X1, -X2, -X3
}

// {high word of the sum of a's lanes, high word of the sum of b's lanes}.
inline int32x2_t sumHighs(int64x2_t a, int64x2_t b) {
    const int64x2_t sums = vaddq_s64(vcombine_s64(vget_low_s64(a), vget_low_s64(b)),
                                     vcombine_s64(vget_high_s64(a), vget_high_s64(b)));
    return vshrn_n_s64(sums, 32);
}

inline int64x2_t mull2(int32x4_t v, int32x4_t w) {
    return vmlal_s32(vmull_s32(vget_low_s32(v), vget_low_s32(w)), vget_high_s32(v), vget_high_s32(w));
}
inline int64x2_t mlal2(int64x2_t acc, int32x4_t v, int32x4_t w) {
    return vmlal_s32(vmlal_s32(acc, vget_low_s32(v), vget_low_s32(w)), vget_high_s32(v), vget_high_s32(w));
}

// The sums of output pair (15 - r, 17 + r) in two lanes each: the 16 words
// of row r against the coefficient rows a and b from column 0. vld2 splits
// even and odd columns alike for words and coefficients, so the products
// still pair up, and each load fetches eight words.
struct RowSums {
    int64x2_t a, b;
};
struct WindowCursor {
    const int32_t *row, *ca, *cb;
    // vld2q_s32 of the eight words at p, and p steps past them in the same
    // instruction (compilers otherwise spend an add on the address of each
    // load of the unrolled rows).
    static int32x4x2_t load8(const int32_t *&p) {
        int32x4x2_t v;
        asm("vld2.32 %h0, [%1]!" : "=w"(v), "+r"(p) : "m"(*reinterpret_cast<const int32_t(*)[8]>(p)));
        return v;
    }
    RowSums next() {
        const int32x4x2_t v0 = load8(row), a0 = load8(ca), b0 = load8(cb);
        int64x2_t sa = mull2(v0.val[0], a0.val[0]);
        int64x2_t sb = mull2(v0.val[0], b0.val[0]);
        sa = mlal2(sa, v0.val[1], a0.val[1]);
        sb = mlal2(sb, v0.val[1], b0.val[1]);
        const int32x4x2_t v1 = load8(row), a1 = load8(ca), b1 = load8(cb);
        sa = mlal2(sa, v1.val[0], a1.val[0]);
        sb = mlal2(sb, v1.val[0], b1.val[0]);
        sa = mlal2(sa, v1.val[1], a1.val[1]);
        sb = mlal2(sb, v1.val[1], b1.val[1]);
        // row is now at the next row, the coefficients step to theirs.
        ca += SynthWindowRows::kWidth - 16;
        cb += SynthWindowRows::kWidth - 16;
        return {sa, sb};
    }
};

// A ring of N words held twice, so that the N words from any start are
// contiguous.
template <size_t N>
struct RingCopy {
    alignas(16) int32_t words[2 * N];
    explicit RingCopy(const int32_t *ring) {
        for (size_t i = 0; i < N; i += 4) {
            const int32x4_t v = vld1q_s32(ring + i);
            vst1q_s32(words + i, v);
            vst1q_s32(words + N + i, v);
        }
    }
};

// Samples 0 and 16 in two lanes each, as synth::windowSample0 and
// windowSample16 form them: sample 0 pairs e(16 - t) and e(t) into 32-bit sums
// first (signs (-1)^t), with e(8) alone in the last lane; sample 16 reads the
// V_48 values from j0 down.
struct EdgeSums {
    int64x2_t s0, s16;
};
inline EdgeSums edgeSums(const int32_t *history, int32_t p) {
    const RingCopy<16> e(history + MP3_HISTORY_V0);
    const int32x4_t older0 = reverse4(vld1q_s32(e.words + p + 12));  // e(15) .. e(12)
    const int32x4_t older1 = reverse4(vld1q_s32(e.words + p + 8));   // e(11) .. e(8)
    const int32x4_t newer0 = vld1q_s32(e.words + p + 1);             // e(1) .. e(4)
    const int32x4_t newer1 = vsetq_lane_s32(0, vld1q_s32(e.words + p + 5), 3);  // e(5) .. e(7), 0
    const int32x4_t sign = vld1q_s32(kPairSigns);
    const int32x4_t pair0 = vmlaq_s32(older0, newer0, sign), pair1 = vmlaq_s32(older1, newer1, sign);
    const int64x2_t s0 = mlal2(mull2(pair0, vld1q_s32(synthWindow)), pair1, vld1q_s32(synthWindow + 4));

    const RingCopy<8> m(history + ((p & 1) ? MP3_HISTORY_V48_EVEN : MP3_HISTORY_V48_ODD));
    const int32_t j0 = (((p + 1) >> 1) + 7) & 7;
    const int32x4_t m0 = reverse4(vld1q_s32(m.words + j0 + 5));  // M[j0], M[j0 - 1] .. M[j0 - 3]
    const int32x4_t m1 = reverse4(vld1q_s32(m.words + j0 + 1));  // M[j0 - 4] .. M[j0 - 7]
    const int64x2_t s16 = mlal2(mull2(m0, vld1q_s32(synthWindow + 8)), m1, vld1q_s32(synthWindow + 12));
    return {s0, s16};
}

// (high word + 64) >> 7 clamped to 16 bits is one rounding, saturating
// narrow (vqrshrn), exact for every high word.
inline int16x4_t round4(int32x2_t lo, int32x2_t hi) { return vqrshrn_n_s32(vcombine_s32(lo, hi), 7); }

// The eight samples of v to every second element from dst on (the elements
// in between untouched), dst stepping past them: one lane store each, the
// step in the store (compilers otherwise add an address per lane).
inline void storeEveryOther(int16_t *&dst, int16x8_t v) {
    asm("vst1.16 {%e[v][0]}, [%[dst]], %[step]\n\t"
        "vst1.16 {%e[v][1]}, [%[dst]], %[step]\n\t"
        "vst1.16 {%e[v][2]}, [%[dst]], %[step]\n\t"
        "vst1.16 {%e[v][3]}, [%[dst]], %[step]\n\t"
        "vst1.16 {%f[v][0]}, [%[dst]], %[step]\n\t"
        "vst1.16 {%f[v][1]}, [%[dst]], %[step]\n\t"
        "vst1.16 {%f[v][2]}, [%[dst]], %[step]\n\t"
        "vst1.16 {%f[v][3]}, [%[dst]], %[step]"
        : [dst] "+r"(dst), "+m"(*reinterpret_cast<int16_t(*)[16]>(dst))
        : [v] "w"(v), [step] "r"(2 * sizeof(int16_t)));
}

}  // namespace

int32_t MP3_SynthPQMF_neon(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride) {
    if (*position < 0 || *position > 15) return MP3_ERR_PARAM;
    const int32_t p = synth::advancePosition(position);
    storeSlotLanes(dct32Blocks(samples), history, p);

    // Row r gives samples 15 - r (A) and 17 + r (B); the rows are taken four
    // at a time, the last group with samples 0 and 16 in place of row 15.
    WindowCursor w{synth::windowRegion(history, p), synthWindowRows.a(0) + 16 - p, synthWindowRows.b(0) + 16 - p};
    int16x4_t a[4], b[4];
    for (int g = 0; g < 3; ++g) {
        const RowSums r0 = w.next(), r1 = w.next(), r2 = w.next(), r3 = w.next();
        a[g] = round4(sumHighs(r0.a, r1.a), sumHighs(r2.a, r3.a));
        b[g] = round4(sumHighs(r0.b, r1.b), sumHighs(r2.b, r3.b));
    }
    {
        const RowSums r12 = w.next(), r13 = w.next(), r14 = w.next();
        const EdgeSums edge = edgeSums(history, p);
        a[3] = round4(sumHighs(r12.a, r13.a), sumHighs(r14.a, edge.s0));   // samples 3, 2, 1, 0
        b[3] = round4(sumHighs(r12.b, r13.b), sumHighs(r14.b, edge.s16));  // samples 29, 30, 31, 16
    }
    const int16x8_t b01 = vcombine_s16(b[0], b[1]), b23 = vcombine_s16(b[2], b[3]);
    const int16x8_t out[4] = {
        vrev64q_s16(vcombine_s16(a[3], a[2])),  // samples 0 .. 7
        vrev64q_s16(vcombine_s16(a[1], a[0])),  // 8 .. 15
        vextq_s16(b23, b01, 7),                 // 16 .. 23
        vextq_s16(b01, b23, 7),                 // 24 .. 31
    };
    if (stride == 1) {
        for (int i = 0; i < 4; ++i) vst1q_s16(pcm + 8 * i, out[i]);
    } else {
        for (const int16x8_t v : out) storeEveryOther(pcm, v);
    }
    return 0;
}

}  // namespace mpfix

#endif
