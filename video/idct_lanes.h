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

// The constants the shared part uses, as compile-time scalars. SIMD callers
// may pass a record of the same names holding vectors loaded from memory
// instead, so that the compiler does not rebuild each constant in registers.
struct IdctScalarConstants {
    static constexpr uint32_t c1 = MPG_IDCT_C1, c2 = MPG_IDCT_C2, c3 = MPG_IDCT_C3, c4 = MPG_IDCT_C4;
    static constexpr uint32_t c5 = MPG_IDCT_C5, c6 = MPG_IDCT_C6, c7 = MPG_IDCT_C7;
    static constexpr uint32_t minusC5 = 0u - static_cast<uint32_t>(MPG_IDCT_C5);
    static constexpr uint32_t rotation = MPG_IDCT_ROTATION;
    static constexpr uint32_t rowBias = 128, rowRotationBias = 64;        // (y + 128) >> 8, (181 t + 64) >> 7
    static constexpr uint32_t columnBias = 32768, columnRotationBias = 4;  // (y + 32768) >> 16, (181 t + 4) >> 3
    static constexpr uint32_t columnPreBias = 16;                         // (u + 16) >> 5
};

// The eight products of one pass, one lane per row (row pass) or column.
template <typename U>
struct IdctProducts {
    U e0, e1, p, q, f, g, h, k;
};

// Butterflies, the rotation of the odd part and the pass's rounding: y[0..7]
// get the rounded pass results ((y + 128) >> 8 in the row pass, (y + 32768)
// >> 16 in the column pass). The column pass may leave out its final shift
// (kShiftColumn false): the output is then the high 16 bits of each lane,
// which the caller takes while narrowing.
template <typename U, typename S, bool kColumnPass, typename K = IdctScalarConstants, bool kShiftColumn = true>
[[gnu::always_inline]] inline void idctFinish(const IdctProducts<U> &m, U y[8], const K &k = K{}) {
    // The pass's rounding bias rides on E0 and E1, so every output gets it
    // once (sums wrap modulo 2^32, so the order does not matter).
    constexpr int kShift = kColumnPass ? (kShiftColumn ? 16 : 0) : 8;
    const U e0 = m.e0 + (kColumnPass ? k.columnBias : k.rowBias);
    const U e1 = m.e1 + (kColumnPass ? k.columnBias : k.rowBias);
    const U a0 = e0 + m.p, a3 = e0 - m.p, a1 = e1 + m.q, a2 = e1 - m.q;
    const U b0 = m.f + m.h, b3 = m.g + m.k;
    const U fh = m.f - m.h, gk = m.g - m.k;
    const U u = fh + gk, w = fh - gk;
    U b1, b2;
    if constexpr (kColumnPass) {
        b1 = idctAsr<U, S>(idctAsr<U, S>(u + k.columnPreBias, 5) * k.rotation + k.columnRotationBias, 3);
        b2 = idctAsr<U, S>(idctAsr<U, S>(w + k.columnPreBias, 5) * k.rotation + k.columnRotationBias, 3);
    } else {
        b1 = idctAsr<U, S>(idctAsr<U, S>(u, 1) * k.rotation + k.rowRotationBias, 7);
        b2 = idctAsr<U, S>(idctAsr<U, S>(w, 1) * k.rotation + k.rowRotationBias, 7);
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
template <typename U, typename K = IdctScalarConstants>
[[gnu::always_inline]] inline IdctProducts<U> idctColumnProducts(const U r[8], const K &k = K{}) {
    return {(r[0] + r[4]) * k.c4,        (r[0] - r[4]) * k.c4,        r[2] * k.c2 + r[6] * k.c6,
            r[2] * k.c6 - r[6] * k.c2,   r[1] * k.c1 + r[7] * k.c7,   r[1] * k.c7 - r[7] * k.c1,
            r[3] * k.c3 + r[5] * k.c5,   r[5] * k.c3 - r[3] * k.c5};
}

// The same when rows 4..7 are zero (sparse blocks: their row-pass results
// are zero too), with the products of the zero rows left out.
template <typename U, typename K = IdctScalarConstants>
[[gnu::always_inline]] inline IdctProducts<U> idctColumnProductsTop(const U r[4], const K &k = K{}) {
    const U e = r[0] * k.c4;
    return {e, e, r[2] * k.c2, r[2] * k.c6, r[1] * k.c1, r[1] * k.c7, r[3] * k.c3, r[3] * k.minusC5};
}

}  // namespace mpfix

#pragma GCC diagnostic pop

#endif  // MPFIX_VIDEO_IDCT_LANES_H
