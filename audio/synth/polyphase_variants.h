// Variants of the polyphase synthesis slot (MP3_SynthPQMF): the plain
// reference first, then reordered scalar code and SIMD versions. Every
// variant gives the same PCM, history, position and scratch contents, bit for
// bit: the window sums are exact 64-bit sums (wrapping modulo 2^64), so the
// order of the multiply-accumulates does not matter.
#ifndef MPFIX_AUDIO_SYNTH_POLYPHASE_VARIANTS_H
#define MPFIX_AUDIO_SYNTH_POLYPHASE_VARIANTS_H

#include <cstdint>
#include <span>

#include "audio/fixed_point.h"
#include "audio/synth/polyphase.h"

namespace mpfix {

using SynthPQMFFn = int32_t (*)(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position,
                                int32_t stride);
struct SynthPQMFVariant {
    const char *name;
    SynthPQMFFn fn;
};
// Every variant this machine can run, the reference first.
std::span<const SynthPQMFVariant> SynthPQMFVariants();

int32_t MP3_SynthPQMF_scalar(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride);
#if !MPFIX_PLAIN_KERNELS && (defined(__x86_64__) || defined(__i386__))
int32_t MP3_SynthPQMF_sse41(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride);
int32_t MP3_SynthPQMF_avx2(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride);
#endif
#if !MPFIX_PLAIN_KERNELS && defined(__ARM_NEON)
int32_t MP3_SynthPQMF_neon(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride);
#endif

// The windowing of output pair (15 - r, 17 + r) as two dot products over the
// 16 words of history row r. With a = (c - p) mod 16 the age of column c:
//   a[r][a]      = a < 8 ? D0(r, a) : -D1(r, 15 - a)
//   b[r][a]      = a < 8 ? (-1)^(a+1) D1(r, a) : (-1)^(16-a) D0(r, 15 - a)
// (D0(r, t) = synthWindow[16 + 16r + 2t], D1(r, t) = synthWindow[17 + 16r + 2t]),
// each stored periodically (entry i = coefficient of age i mod 16), so that
// the 16 coefficients of the columns 0..15 at position p are the contiguous
// run starting at 16 - p; the rows are 36 wide so that vector loads one word
// further on stay inside them.
struct SynthWindowRows {
    int32_t a[15][36];
    int32_t b[15][36];
};
const SynthWindowRows &synthWindowRows();

// The steps every variant shares with the reference.
namespace synth {

// Rounds a window sum (54 fraction bits) to a 16-bit sample. The high word
// is widened first so the rounding step itself can never wrap.
inline int16_t toPcm(uint64_t sum) {
    const int64_t high = static_cast<int64_t>(sum) >> 32;
    return static_cast<int16_t>(clamp16(static_cast<int32_t>((high + 64) >> 7)));
}

// Sample 0 reads V_0 of the last 15 slots; the pairs are 32-bit sums.
inline int16_t windowSample0(const int32_t *history, int32_t p) {
    Acc64 acc;
    for (int t = 1; t <= 7; ++t) {
        const int32_t older = history[(p + 16 - t) & 15];
        const int32_t newer = history[(p + t) & 15];
        acc.mac(synthWindow[t - 1], (t & 1) ? wrapSub(older, newer) : wrapAdd(older, newer));
    }
    acc.mac(synthWindow[7], history[(p + 8) & 15]);
    return toPcm(acc.bits);
}

// Sample 16 reads V_48 of the slots of the other parity.
inline int16_t windowSample16(const int32_t *history, int32_t p) {
    const int32_t *m = history + ((p & 1) ? 16 : 264);
    const int32_t j0 = (((p + 1) >> 1) + 7) & 7;
    Acc64 acc;
    for (int j = 0; j < 8; ++j) acc.mac(synthWindow[8 + j], m[(j0 - j) & 7]);
    return toPcm(acc.bits);
}

// Region of the rows that the output pairs read at position p.
inline const int32_t *windowRegion(const int32_t *history, int32_t p) { return history + ((p & 1) ? 24 : 272); }

// Stage 3 of the DCT and the store of the slot under position p: the 32
// matrixing values are 32-bit sums of the block outputs x[0..31].
void storeSlot(const int32_t *x, int32_t *history, int32_t p);

}  // namespace synth
}  // namespace mpfix

#endif  // MPFIX_AUDIO_SYNTH_POLYPHASE_VARIANTS_H
