// The part of the 1-D inverse DCT that SIMD variants share: everything after
// the eight products (E0, E1, P, Q, F, G, H, K), written once for any GCC
// vector of 32-bit lanes. Lanes are unsigned so that +, - and * wrap modulo
// 2^32 exactly like the reference; shifts go through the signed lane type.
#ifndef MPFIX_VIDEO_IDCT_LANES_H
#define MPFIX_VIDEO_IDCT_LANES_H

#include <cstdint>

#include "video/idct.h"

// Always inlined into their SIMD callers, so no vector crosses a call: the
// ABI note about wide vectors in functions built without AVX does not apply.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace mpfix {

template <typename U, typename S>
[[gnu::always_inline]] inline U idctAsr(const U &v, int shift) {
    return (U)((S)v >> shift);  // vector casts reinterpret the lanes
}

// The eight products of one pass, one lane per row (row pass) or column.
template <typename U>
struct IdctProducts {
    U e0, e1, p, q, f, g, h, k;
};

// Butterflies, the rotation of the odd part and the pass's rounding: y[0..7]
// get the rounded pass results ((y + 128) >> 8 in the row pass, (y + 32768)
// >> 16 in the column pass, not yet narrowed).
template <typename U, typename S, bool kColumnPass>
[[gnu::always_inline]] inline void idctFinish(const IdctProducts<U> &m, U y[8]) {
    // The pass's rounding bias rides on E0 and E1, so every output gets it
    // once (sums wrap modulo 2^32, so the order does not matter).
    constexpr uint32_t kBias = kColumnPass ? 32768u : 128u;
    constexpr int kShift = kColumnPass ? 16 : 8;
    const U e0 = m.e0 + kBias, e1 = m.e1 + kBias;
    const U a0 = e0 + m.p, a3 = e0 - m.p, a1 = e1 + m.q, a2 = e1 - m.q;
    const U b0 = m.f + m.h, b3 = m.g + m.k;
    const U fh = m.f - m.h, gk = m.g - m.k;
    const U u = fh + gk, w = fh - gk;
    constexpr uint32_t kRot = MPG_IDCT_ROTATION;
    U b1, b2;
    if constexpr (kColumnPass) {
        b1 = idctAsr<U, S>(idctAsr<U, S>(u + 16u, 5) * kRot + 4u, 3);
        b2 = idctAsr<U, S>(idctAsr<U, S>(w + 16u, 5) * kRot + 4u, 3);
    } else {
        b1 = idctAsr<U, S>(idctAsr<U, S>(u, 1) * kRot + 64u, 7);
        b2 = idctAsr<U, S>(idctAsr<U, S>(w, 1) * kRot + 64u, 7);
    }
    y[0] = idctAsr<U, S>(a0 + b0, kShift);
    y[1] = idctAsr<U, S>(a1 + b1, kShift);
    y[2] = idctAsr<U, S>(a2 + b2, kShift);
    y[3] = idctAsr<U, S>(a3 + b3, kShift);
    y[4] = idctAsr<U, S>(a3 - b3, kShift);
    y[5] = idctAsr<U, S>(a2 - b2, kShift);
    y[6] = idctAsr<U, S>(a1 - b1, kShift);
    y[7] = idctAsr<U, S>(a0 - b0, kShift);
}

// The column pass's products from the eight rows r[0..7] of row-pass results
// (one lane per column); 32-bit wrapping multiplications, as in the reference.
template <typename U>
[[gnu::always_inline]] inline IdctProducts<U> idctColumnProducts(const U r[8]) {
    constexpr uint32_t c1 = MPG_IDCT_C1, c2 = MPG_IDCT_C2, c3 = MPG_IDCT_C3, c4 = MPG_IDCT_C4;
    constexpr uint32_t c5 = MPG_IDCT_C5, c6 = MPG_IDCT_C6, c7 = MPG_IDCT_C7;
    return {(r[0] + r[4]) * c4,      (r[0] - r[4]) * c4,      r[2] * c2 + r[6] * c6, r[2] * c6 - r[6] * c2,
            r[1] * c1 + r[7] * c7, r[1] * c7 - r[7] * c1, r[3] * c3 + r[5] * c5, r[5] * c3 - r[3] * c5};
}

// The same when rows 4..7 are zero (sparse blocks: their row-pass results
// are zero too), with the products of the zero rows left out.
template <typename U>
[[gnu::always_inline]] inline IdctProducts<U> idctColumnProductsTop(const U r[4]) {
    constexpr uint32_t c1 = MPG_IDCT_C1, c2 = MPG_IDCT_C2, c3 = MPG_IDCT_C3, c4 = MPG_IDCT_C4;
    constexpr uint32_t c5 = MPG_IDCT_C5, c6 = MPG_IDCT_C6, c7 = MPG_IDCT_C7;
    const U e = r[0] * c4;
    return {e, e, r[2] * c2, r[2] * c6, r[1] * c1, r[1] * c7, r[3] * c3, r[3] * (0u - c5)};
}

}  // namespace mpfix

#pragma GCC diagnostic pop

#endif  // MPFIX_VIDEO_IDCT_LANES_H
