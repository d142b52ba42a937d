// Scalar variant of the polyphase synthesis slot, written for 32-bit cores
// without a vector unit: the window is 30 dot products over contiguous rows,
// two columns at a time, so that each product is one 32x32->64
// multiply-accumulate (ARM smlal) and each pair of operands one load.
#include "audio/synth/polyphase.h"

#if defined(__ARM_FEATURE_SAT) && defined(__ARM_FEATURE_QBIT)
#include <arm_acle.h>
#endif

namespace mpfix {
namespace {

// synth::toPcm in two instructions where the core has them: a saturating add
// of the rounding step (the high word only saturates where the clamp gives
// 32767 anyway), then a saturating shift to 16 bits.
inline int16_t roundToPcm(uint64_t sum) {
#if defined(__ARM_FEATURE_SAT) && defined(__ARM_FEATURE_QBIT)
    const auto high = static_cast<int32_t>(static_cast<uint32_t>(sum >> 32));
    return static_cast<int16_t>(__builtin_arm_ssat(__qadd(high, 64) >> 7, 16));
#else
    return synth::toPcm(sum);
#endif
}

struct Pair {
    int32_t first, second;
};

// The next two words at p, then p advances past them. On Thumb-2 one ldrd
// with post-increment (compilers for generic ARMv7 tuning split such loads in
// two).
inline Pair loadPair(const int32_t *&p) {
#if defined(__thumb2__)
    int32_t first, second;
    asm("ldrd %0, %1, [%2], #8" : "=r"(first), "=r"(second), "+r"(p) : "m"(*reinterpret_cast<const int32_t(*)[2]>(p)));
    return {first, second};
#else
    const Pair v = {p[0], p[1]};
    p += 2;
    return v;
#endif
}

}  // namespace

int32_t MP3_SynthPQMF_scalar(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride) {
    if (*position < 0 || *position > 15) return MP3_ERR_PARAM;
    const int step = (stride == 1) ? 1 : 2;
    const int32_t p = synth::startSlot(samples, pcm, history, position, step);
    const int32_t *row = synth::windowRegion(history, p);
    // The coefficients of the columns 0..15 at position p start at 16 - p.
    const int32_t *ca = synthWindowRows.a(0) + 16 - p;
    const int32_t *cb = synthWindowRows.b(0) + 16 - p;
    int16_t *outA = pcm + 15 * step;
    int16_t *outB = pcm + 17 * step;
    for (int r = 0; r < 15; ++r) {
        uint64_t accA = 0, accB = 0;
#pragma GCC unroll 8
        for (int c = 0; c < 16; c += 2) {
            const Pair v = loadPair(row), a = loadPair(ca);
            accA += static_cast<uint64_t>(mul64(a.first, v.first));
            accA += static_cast<uint64_t>(mul64(a.second, v.second));
            const Pair b = loadPair(cb);
            accB += static_cast<uint64_t>(mul64(b.first, v.first));
            accB += static_cast<uint64_t>(mul64(b.second, v.second));
        }
        *outA = roundToPcm(accA);
        *outB = roundToPcm(accB);
        outA -= step;
        outB += step;
        // row has reached the next row; the coefficients step to theirs.
        ca += SynthWindowRows::kWidth - 16;
        cb += SynthWindowRows::kWidth - 16;
    }
    return 0;
}

}  // namespace mpfix
