// NEON variant of the 8x8 inverse DCT (32-bit ARM). The row pass multiplies
// 16-bit coefficients into 32-bit lanes with vmull/vmlal, exactly; from the
// rotation on, and in the column pass, 32-bit lanes wrap modulo 2^32 as the
// reference does (vmul.i32 keeps the low word of each product).
#include "video/idct.h"

#if defined(MPFIX_VIDEO_NEON)
#include <arm_neon.h>

#include "video/idct_lanes.h"

namespace mpfix {
namespace {

using U4 = uint32_t __attribute__((vector_size(16)));
using S4 = int32_t __attribute__((vector_size(16)));

// Row pass products of four rows; c[k] lane j holds coefficient k of row j.
inline IdctProducts<U4> rowProducts(const int16x4_t c[8]) {
    const int16_t c1 = MPG_IDCT_C1, c2 = MPG_IDCT_C2, c3 = MPG_IDCT_C3, c4 = MPG_IDCT_C4;
    const int16_t c5 = MPG_IDCT_C5, c6 = MPG_IDCT_C6, c7 = MPG_IDCT_C7;
    const int32x4_t e = vmull_n_s16(c[0], c4);
    return {(U4)vmlal_n_s16(e, c[4], c4),
            (U4)vmlsl_n_s16(e, c[4], c4),
            (U4)vmlal_n_s16(vmull_n_s16(c[2], c2), c[6], c6),
            (U4)vmlsl_n_s16(vmull_n_s16(c[2], c6), c[6], c2),
            (U4)vmlal_n_s16(vmull_n_s16(c[1], c1), c[7], c7),
            (U4)vmlsl_n_s16(vmull_n_s16(c[1], c7), c[7], c1),
            (U4)vmlal_n_s16(vmull_n_s16(c[3], c3), c[5], c5),
            (U4)vmlsl_n_s16(vmull_n_s16(c[5], c3), c[3], c5)};
}

// Transposes rows r[0..7] of the block into t[h][k]: lane j = coefficient k of row 4h + j.
inline void transposeRows(const int16x8_t r[8], int16x4_t t[2][8]) {
    for (int h = 0; h < 2; ++h) {
        const int16x8x2_t a = vtrnq_s16(r[4 * h], r[4 * h + 1]);
        const int16x8x2_t b = vtrnq_s16(r[4 * h + 2], r[4 * h + 3]);
        const int32x4x2_t even = vtrnq_s32(vreinterpretq_s32_s16(a.val[0]), vreinterpretq_s32_s16(b.val[0]));
        const int32x4x2_t odd = vtrnq_s32(vreinterpretq_s32_s16(a.val[1]), vreinterpretq_s32_s16(b.val[1]));
        t[h][0] = vreinterpret_s16_s32(vget_low_s32(even.val[0]));
        t[h][4] = vreinterpret_s16_s32(vget_high_s32(even.val[0]));
        t[h][2] = vreinterpret_s16_s32(vget_low_s32(even.val[1]));
        t[h][6] = vreinterpret_s16_s32(vget_high_s32(even.val[1]));
        t[h][1] = vreinterpret_s16_s32(vget_low_s32(odd.val[0]));
        t[h][5] = vreinterpret_s16_s32(vget_high_s32(odd.val[0]));
        t[h][3] = vreinterpret_s16_s32(vget_low_s32(odd.val[1]));
        t[h][7] = vreinterpret_s16_s32(vget_high_s32(odd.val[1]));
    }
}

}  // namespace

void MPG_DCTInv_8x8_neon(int16_t *block) {
    int16x8_t r[8];
    for (int i = 0; i < 8; ++i) r[i] = vld1q_s16(block + 8 * i);
    const int16x8_t lower = vorrq_s16(vorrq_s16(r[4], r[5]), vorrq_s16(r[6], r[7]));
    const uint64x1_t folded = vreinterpret_u64_s16(vorr_s16(vget_low_s16(lower), vget_high_s16(lower)));
    const bool sparse = vget_lane_u64(folded, 0) == 0;  // rows 4..7 zero: so are their results

    int16x4_t t[2][8];
    transposeRows(r, t);
    // Row-pass results, t[g][i] = row i, columns 4g..4g + 3. The interleaving
    // store transposes each 4x4 quarter on its way to memory, so the column
    // pass loads whole rows and only one pass's values live in registers.
    alignas(16) uint32_t mid[2][8][4];
    for (int h = 0; h < (sparse ? 1 : 2); ++h) {
        U4 y[8];  // y[k] lane j: row 4h + j, column k
        idctFinish<U4, S4, false>(rowProducts(t[h]), y);
        for (int g = 0; g < 2; ++g) {
            const uint32x4x4_t quarter = {{(uint32x4_t)y[4 * g], (uint32x4_t)y[4 * g + 1], (uint32x4_t)y[4 * g + 2],
                                          (uint32x4_t)y[4 * g + 3]}};
            vst4q_u32(&mid[g][4 * h][0], quarter);
        }
    }

    for (int g = 0; g < 2; ++g) {
        U4 rows[8], out[8];  // lane j: column 4g + j
        for (int i = 0; i < (sparse ? 4 : 8); ++i) rows[i] = (U4)vld1q_u32(&mid[g][i][0]);
        if (sparse)
            idctFinish<U4, S4, true, IdctScalarConstants, false>(idctColumnProductsTop(rows), out);
        else
            idctFinish<U4, S4, true, IdctScalarConstants, false>(idctColumnProducts(rows), out);
        // High 16 bits of each unshifted result.
        for (int i = 0; i < 8; ++i) vst1_s16(block + 8 * i + 4 * g, vreinterpret_s16_u16(vshrn_n_u32((uint32x4_t)out[i], 16)));
    }
}

}  // namespace mpfix

#endif  // MPFIX_VIDEO_NEON
