// 8x8 inverse DCT of MPEG video in 32-bit integer arithmetic (the exported
// MPG_DCTInv_8x8 of mpfix.h). Both passes use the same 1-D transform with
// constants scaled by 2048; the row pass scales by 8, the column pass by 1/32,
// which together give the factor 1/4 of the orthonormal 2-D transform.
//
// MPG_DCTInv_8x8_ref is the plain reference; the variants beside it give the
// same 64 outputs for every input, bit for bit.
#ifndef MPFIX_VIDEO_IDCT_H
#define MPFIX_VIDEO_IDCT_H

#include <cstdint>
#include <span>

#include "mpfix.h"
#include "video/kernel_variants.h"

namespace mpfix {

constexpr int32_t MPG_IDCT_C1 = 2009;  // round(2048 * cos(1 * pi / 16))
constexpr int32_t MPG_IDCT_C2 = 1892;  // round(2048 * cos(2 * pi / 16))
constexpr int32_t MPG_IDCT_C3 = 1703;  // round(2048 * cos(3 * pi / 16))
constexpr int32_t MPG_IDCT_C4 = 1448;  // round(2048 * cos(4 * pi / 16)) = 2048 / sqrt(2)
constexpr int32_t MPG_IDCT_C5 = 1138;  // round(2048 * cos(5 * pi / 16))
constexpr int32_t MPG_IDCT_C6 = 784;   // round(2048 * cos(6 * pi / 16))
constexpr int32_t MPG_IDCT_C7 = 400;   // round(2048 * cos(7 * pi / 16))
constexpr int32_t MPG_IDCT_ROTATION = 181;  // round(256 * cos(pi / 4)), rotates the odd part

// One block of 64 coefficients, transformed in place.
using DCTInv_8x8Fn = void (*)(int16_t *block);

void MPG_DCTInv_8x8_ref(int16_t *block);
#if defined(MPFIX_VIDEO_X86)
void MPG_DCTInv_8x8_sse41(int16_t *block);
void MPG_DCTInv_8x8_avx2(int16_t *block);
#endif
#if defined(MPFIX_VIDEO_NEON)
void MPG_DCTInv_8x8_neon(int16_t *block);
#endif

struct DCTInv_8x8Variant {
    const char *name;
    DCTInv_8x8Fn fn;
};

// Every variant this processor runs, the reference first and the fastest last.
std::span<const DCTInv_8x8Variant> DCTInv_8x8Variants() noexcept;

}  // namespace mpfix

#endif  // MPFIX_VIDEO_IDCT_H
