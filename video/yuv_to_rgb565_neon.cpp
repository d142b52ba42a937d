// NEON variant of the colour conversion (32-bit ARM), in 16-bit lanes, with
// the exact splitting of the chroma products described in
// yuv_to_rgb565_x86.cpp: 74711 = 65536 + 9175, -38076 = -65536 + 27460,
// 133169 = 2 * 65536 + 2097. vqdmulh gives floor(a * b / 2^15), one more
// shift gives the high product; vqshrun shifts and clamps at 0.
#include "video/yuv_to_rgb565.h"

#if defined(MPFIX_VIDEO_NEON)
#include <arm_neon.h>

#include <cstddef>

namespace mpfix {
namespace {

struct Offsets {
    int16x8x2_t red, green, blue;  // per pixel: val[0] pixels 0..7, val[1] pixels 8..15
};

// Offsets of 8 chroma samples, each repeated for the two pixels of its column pair.
inline Offsets offsets(const uint8_t *u, const uint8_t *v) {
    const uint8x8_t centre = vdup_n_u8(128);
    const int16x8_t cu = vreinterpretq_s16_u16(vsubl_u8(vld1_u8(u), centre));
    const int16x8_t cv = vreinterpretq_s16_u16(vsubl_u8(vld1_u8(v), centre));
    const int16x8_t red = vaddq_s16(cv, vshrq_n_s16(vqdmulhq_n_s16(cv, 9175), 1));
    const int16x8_t blue = vaddq_s16(vaddq_s16(cu, cu), vshrq_n_s16(vqdmulhq_n_s16(cu, 2097), 1));
    const int32x4_t gLo = vmlal_n_s16(vmull_n_s16(vget_low_s16(cu), -25821), vget_low_s16(cv), 27460);
    const int32x4_t gHi = vmlal_n_s16(vmull_n_s16(vget_high_s16(cu), -25821), vget_high_s16(cv), 27460);
    const int16x8_t green = vsubq_s16(vcombine_s16(vshrn_n_s32(gLo, 16), vshrn_n_s32(gHi, 16)), cv);
    return {vzipq_s16(red, red), vzipq_s16(green, green), vzipq_s16(blue, blue)};
}

inline uint16x8_t pixels8(int16x8_t luma, int16x8_t red, int16x8_t green, int16x8_t blue) {
    const uint8x8_t r = vmin_u8(vqshrun_n_s16(vaddq_s16(luma, red), 3), vdup_n_u8(31));
    const uint8x8_t g = vmin_u8(vqshrun_n_s16(vaddq_s16(luma, green), 2), vdup_n_u8(63));
    const uint8x8_t b = vmin_u8(vqshrun_n_s16(vaddq_s16(luma, blue), 3), vdup_n_u8(31));
    return vsliq_n_u16(vsliq_n_u16(vmovl_u8(b), vmovl_u8(g), 5), vmovl_u8(r), 11);
}

// Sixteen pixels of one row; byte stores keep any destination alignment valid.
inline void row16(const uint8_t *y, uint8_t *d, const Offsets &o) {
    const uint8x16_t luma = vld1q_u8(y);
    const int16x8_t lo = vreinterpretq_s16_u16(vmovl_u8(vget_low_u8(luma)));
    const int16x8_t hi = vreinterpretq_s16_u16(vmovl_u8(vget_high_u8(luma)));
    vst1q_u8(d, vreinterpretq_u8_u16(pixels8(lo, o.red.val[0], o.green.val[0], o.blue.val[0])));
    vst1q_u8(d + 16, vreinterpretq_u8_u16(pixels8(hi, o.red.val[1], o.green.val[1], o.blue.val[1])));
}

void rows_neon(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v, uint8_t *d0, uint8_t *d1,
               int32_t first, int32_t width) {
    int32_t x = first;
    for (; x + 16 <= width; x += 16) {
        const Offsets o = offsets(u + x / 2, v + x / 2);
        row16(y0 + x, d0 + 2 * static_cast<ptrdiff_t>(x), o);
        if (y1 != nullptr) row16(y1 + x, d1 + 2 * static_cast<ptrdiff_t>(x), o);
    }
    MPG_YUVRows_ref(y0, y1, u, v, d0, d1, x, width);
}

}  // namespace

void MPG_YUV420ToBGR565_neon(const MPG_YUVPlanes *planes, const MPG_YUVStrides *strides, uint16_t *destination,
                             int32_t destinationStride, int32_t width, int32_t height) {
    MPG_YUVWalk(planes, strides, destination, destinationStride, width, height, rows_neon);
}

}  // namespace mpfix

#endif  // MPFIX_VIDEO_NEON
