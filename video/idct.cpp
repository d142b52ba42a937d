#include "video/idct.h"

namespace mpfix {
namespace {

// A 32-bit register: +, - and * wrap modulo 2^32 as the transform requires,
// and stay defined whatever the coefficients.
using Word = uint32_t;

constexpr Word asr(Word v, int shift) { return static_cast<Word>(static_cast<int32_t>(v) >> shift); }

constexpr Word kC1 = MPG_IDCT_C1, kC2 = MPG_IDCT_C2, kC3 = MPG_IDCT_C3, kC4 = MPG_IDCT_C4;
constexpr Word kC5 = MPG_IDCT_C5, kC6 = MPG_IDCT_C6, kC7 = MPG_IDCT_C7, kRot = MPG_IDCT_ROTATION;

// One 1-D transform of c[0..7] (c[k] = frequency k) into y[0..7] before the
// pass's final rounding. The passes differ only in how the rotation of the
// odd part is rounded: the column pass pre-shifts u and w by 5 so the product
// with 181 keeps headroom for the larger row-pass results.
template <bool kColumnPass>
void transform1d(const Word c[8], Word y[8]) {
    const Word e0 = kC4 * (c[0] + c[4]);
    const Word e1 = kC4 * (c[0] - c[4]);
    const Word p = kC2 * c[2] + kC6 * c[6];
    const Word q = kC6 * c[2] - kC2 * c[6];
    const Word a0 = e0 + p, a3 = e0 - p, a1 = e1 + q, a2 = e1 - q;

    const Word f = kC1 * c[1] + kC7 * c[7];
    const Word g = kC7 * c[1] - kC1 * c[7];
    const Word h = kC3 * c[3] + kC5 * c[5];
    const Word k = kC3 * c[5] - kC5 * c[3];
    const Word b0 = f + h, b3 = g + k;
    const Word u = (f - h) + (g - k);
    const Word w = (f - h) - (g - k);
    Word b1, b2;
    if constexpr (kColumnPass) {
        b1 = asr(kRot * asr(u + 16, 5) + 4, 3);
        b2 = asr(kRot * asr(w + 16, 5) + 4, 3);
    } else {
        b1 = asr(kRot * asr(u, 1) + 64, 7);
        b2 = asr(kRot * asr(w, 1) + 64, 7);
    }

    y[0] = a0 + b0; y[1] = a1 + b1; y[2] = a2 + b2; y[3] = a3 + b3;
    y[4] = a3 - b3; y[5] = a2 - b2; y[6] = a1 - b1; y[7] = a0 - b0;
}

}  // namespace

void MPG_DCTInv_8x8_ref(int16_t *block) {
    Word mid[8][8];  // row-pass results, scale 8

    for (int r = 0; r < 8; ++r) {
        const int16_t *row = block + 8 * r;
        Word c[8];
        Word any = 0;
        for (int i = 0; i < 8; ++i) {
            c[i] = static_cast<Word>(static_cast<int32_t>(row[i]));
            any |= c[i];
        }
        // All-zero rows are common in MPEG blocks; the formulas give zeros too.
        if (any == 0) {
            for (int i = 0; i < 8; ++i) mid[r][i] = 0;
            continue;
        }
        Word y[8];
        transform1d<false>(c, y);
        for (int i = 0; i < 8; ++i) mid[r][i] = asr(y[i] + 128, 8);
    }

    for (int col = 0; col < 8; ++col) {
        Word c[8];
        for (int i = 0; i < 8; ++i) c[i] = mid[i][col];
        Word y[8];
        transform1d<true>(c, y);
        // Low 16 bits of the rounded result; no clamping.
        for (int i = 0; i < 8; ++i)
            block[8 * i + col] = static_cast<int16_t>(static_cast<uint16_t>(asr(y[i] + 32768, 16)));
    }
}

// The lists are constant data (no initialisation at run time); the processor
// picks one.
std::span<const DCTInv_8x8Variant> DCTInv_8x8Variants() noexcept {
    static constexpr DCTInv_8x8Variant kRef = {"ref", MPG_DCTInv_8x8_ref};
#if defined(MPFIX_VIDEO_X86)
    static constexpr DCTInv_8x8Variant kSse41 = {"sse41", MPG_DCTInv_8x8_sse41};
    static constexpr DCTInv_8x8Variant kAvx2 = {"avx2", MPG_DCTInv_8x8_avx2};
    static constexpr DCTInv_8x8Variant kAll[] = {kRef, kSse41, kAvx2}, kNoSse41[] = {kRef, kAvx2};
    const bool sse41 = __builtin_cpu_supports("sse4.1"), avx2 = __builtin_cpu_supports("avx2");
    using List = std::span<const DCTInv_8x8Variant>;
    if (avx2) return sse41 ? List(kAll) : List(kNoSse41);
    return List(kAll).first(sse41 ? 2 : 1);
#elif defined(MPFIX_VIDEO_NEON)
    static constexpr DCTInv_8x8Variant kAll[] = {kRef, {"neon", MPG_DCTInv_8x8_neon}};
    return kAll;
#else
    return std::span(&kRef, 1);
#endif
}

}  // namespace mpfix

MPFIX_API int32_t MPG_DCTInv_8x8(int16_t *block) {
    if (block == nullptr) return MP3_ERR_PARAM;
    static const mpfix::DCTInv_8x8Fn best = mpfix::DCTInv_8x8Variants().back().fn;
    best(block);
    return 0;
}
