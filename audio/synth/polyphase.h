// Polyphase synthesis filterbank of Layer III (ISO/IEC 11172-3, synthesis
// subband filter): one time slot of 32 subband samples to 32 PCM samples.
//
// The history of a channel is a ring of 16 slots in 512 words. Only the 32
// distinct matrixing values of a slot are stored (V_16 = 0, V_{32-i} = -V_i,
// V_{48+j} = V_{48-j}), arranged so that each output pair reads one
// contiguous row of 16 words:
//   0..15     V_0 of the slot stored at position p, entry p
//   16..23    V_48 of the slots at even positions, entry 16 + p/2
//   24..263   region A: 15 rows of 16, entry 24 + 16r + p
//   264..271  V_48 of the slots at odd positions, entry 264 + (p-1)/2
//   272..511  region B: 15 rows of 16, entry 272 + 16r + p
// A slot at an even position puts V_{15-r} in row r of B and V_{47-r} in row r
// of A; a slot at an odd position the other way round.
#ifndef MPFIX_AUDIO_SYNTH_POLYPHASE_H
#define MPFIX_AUDIO_SYNTH_POLYPHASE_H

#include <cstdint>
#include <span>

#include "audio/fixed_point.h"
#include "mpfix.h"

namespace mpfix {

// The history layout above.
constexpr int32_t MP3_HISTORY_SLOTS = 16;        // ring positions 0..15
constexpr int32_t MP3_HISTORY_ROW = 16;          // words of one region row, one per ring position
constexpr int32_t MP3_HISTORY_V0 = 0;            // V_0 by position
constexpr int32_t MP3_HISTORY_V48_EVEN = 16;     // V_48 of the even positions
constexpr int32_t MP3_HISTORY_REGION_A = 24;     // 15 rows
constexpr int32_t MP3_HISTORY_V48_ODD = 264;     // V_48 of the odd positions
constexpr int32_t MP3_HISTORY_REGION_B = 272;    // 15 rows
static_assert(MP3_HISTORY_REGION_A + 15 * MP3_HISTORY_ROW == MP3_HISTORY_V48_ODD &&
              MP3_HISTORY_REGION_B + 15 * MP3_HISTORY_ROW == MP3_SYNTH_HISTORY, "history layout");

// Factors of the fast 32-point DCT: entry = round(2^(32-s) * m) for an
// operand shifted left by s before the high product (values in polyphase.cpp).
extern const int32_t synthDctCoef1[16];
extern const int32_t synthDctCoef2[8];
extern const int32_t synthDctCoef3[8];
// Window D[i] of ISO/IEC 11172-3 Table B.3 with 30 fraction bits, in the
// order the windowing step reads it.
extern const int32_t synthWindow[256];

// Matrixing of one slot: runs the DCT in place over samples[0..31] (24
// fraction bits; on return the intermediate values X[0..31]) and stores the
// 32 matrixing values under ring position position (0..15) of history.
void MP3_SynthDCT32(int32_t *samples, int32_t *history, int32_t position);

// MP3_SynthPQMF, the slot, has the plain reference MP3_SynthPQMF_ref and
// variants beside it (reordered scalar code, SIMD). Every variant gives the
// same PCM, history, position and scratch contents, bit for bit: the window
// sums are exact 64-bit sums (wrapping modulo 2^64), so the order of the
// multiply-accumulates does not matter.
int32_t MP3_SynthPQMF_ref(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride);

using SynthPQMFFn = int32_t (*)(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position,
                                int32_t stride);
struct SynthPQMFVariant {
    const char *name;
    SynthPQMFFn fn;
};
// Every variant this machine can run, the reference first.
std::span<const SynthPQMFVariant> SynthPQMFVariants() noexcept;

int32_t MP3_SynthPQMF_scalar(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride);
#if !MPFIX_PLAIN_KERNELS && (defined(__x86_64__) || defined(__i386__))
int32_t MP3_SynthPQMF_sse41(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride);
int32_t MP3_SynthPQMF_avx2(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride);
#endif
#if !MPFIX_PLAIN_KERNELS && defined(__ARM_NEON)
int32_t MP3_SynthPQMF_neon(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride);
#endif

// The windowing of output pair (15 - r, 17 + r) as two dot products over the
// 16 words of history row r. With g = (c - p) mod 16 the age of column c:
//   a[r][g] = g < 8 ? D0(r, g) : -D1(r, 15 - g)
//   b[r][g] = g < 8 ? (-1)^(g+1) D1(r, g) : (-1)^g D0(r, 15 - g)
// (D0(r, t) = synthWindow[16 + 16r + 2t], D1(r, t) = synthWindow[17 + 16r + 2t]),
// each stored periodically (entry i = coefficient of age i mod 16), so that
// the 16 coefficients of the columns 0..15 at position p are the contiguous
// run starting at 16 - p; the rows are 36 wide so that vector loads one word
// further on stay inside them.
// One flat array: the b rows follow the a rows at offset kB.
struct SynthWindowRows {
    static constexpr int kWidth = 36;
    static constexpr int kB = 15 * kWidth;
    int32_t coef[2 * kB];
    constexpr const int32_t *a(int r) const { return coef + kWidth * r; }
    constexpr const int32_t *b(int r) const { return coef + kB + kWidth * r; }
};
extern const SynthWindowRows synthWindowRows;

// Coefficients of sample 16 for a vector load: entry i = synthWindow[8 + (7 - i) mod 8],
// so that the eight entries from (7 - j0) mod 8 meet the V_48 words 0..7.
extern const int32_t synthSample16Coef[16];

// MP3_SynthGranule, the 18 slots of a granule for nch = 1 or 2 channels, as
// the frame driver lays them out: slot s of channel ch at slots + 32 (18 ch + s),
// its history at history + 512 ch, its position at position[ch], its PCM
// interleaved by channel (slot s at pcm + 32 nch s + ch). Every variant leaves
// PCM, histories, positions and slots exactly as the 18 nch calls of
// MP3_SynthPQMF with stride nch would, in time order, and returns 0, or
// MP3_ERR_PARAM when a channel's position is outside 0..15 (that channel is
// left untouched) or nch is neither 1 nor 2 (nothing is touched).
int32_t MP3_SynthGranule(int32_t *slots, int16_t *pcm, int32_t *history, int32_t *position, int32_t nch);
int32_t MP3_SynthGranule_ref(int32_t *slots, int16_t *pcm, int32_t *history, int32_t *position, int32_t nch);
// The best per-slot kernel of this build, slot by slot.
int32_t MP3_SynthGranule_slots(int32_t *slots, int16_t *pcm, int32_t *history, int32_t *position, int32_t nch);
#if !MPFIX_PLAIN_KERNELS && (defined(__x86_64__) || defined(__i386__))
int32_t MP3_SynthGranule_avx2(int32_t *slots, int16_t *pcm, int32_t *history, int32_t *position, int32_t nch);
#endif

using SynthGranuleFn = int32_t (*)(int32_t *slots, int16_t *pcm, int32_t *history, int32_t *position,
                                   int32_t nch);
struct SynthGranuleVariant {
    const char *name;
    SynthGranuleFn fn;
};
// Every granule variant this machine can run, the reference first.
std::span<const SynthGranuleVariant> SynthGranuleVariants() noexcept;

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
        const int32_t older = history[MP3_HISTORY_V0 + ((p + 16 - t) & 15)];
        const int32_t newer = history[MP3_HISTORY_V0 + ((p + t) & 15)];
        acc.mac(synthWindow[t - 1], (t & 1) ? wrapSub(older, newer) : wrapAdd(older, newer));
    }
    acc.mac(synthWindow[7], history[MP3_HISTORY_V0 + ((p + 8) & 15)]);
    return toPcm(acc.bits);
}

// Sample 16 reads V_48 of the slots of the other parity.
inline int16_t windowSample16(const int32_t *history, int32_t p) {
    const int32_t *m = history + ((p & 1) ? MP3_HISTORY_V48_EVEN : MP3_HISTORY_V48_ODD);
    const int32_t j0 = (((p + 1) >> 1) + 7) & 7;
    Acc64 acc;
    for (int j = 0; j < 8; ++j) acc.mac(synthWindow[8 + j], m[(j0 - j) & 7]);
    return toPcm(acc.bits);
}

// The ring position of the next slot: the history steps back one slot per call.
inline int32_t advancePosition(int32_t *position) {
    const int32_t p = (*position + 15) & 15;
    *position = p;
    return p;
}

// Samples 0 and 16, the two that no row pair yields, once the slot is stored.
inline void windowEdgeSamples(const int32_t *history, int32_t p, int16_t *pcm, int step) {
    pcm[0] = windowSample0(history, p);
    pcm[16 * step] = windowSample16(history, p);
}

// The steps of the reference before the row pairs: the next position, the
// DCT and store of the slot, samples 0 and 16. Returns the position.
int32_t startSlot(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int step);

// Region of the rows that the output pairs read at position p.
inline const int32_t *windowRegion(const int32_t *history, int32_t p) {
    return history + ((p & 1) ? MP3_HISTORY_REGION_A : MP3_HISTORY_REGION_B);
}

// Stage 3 of the DCT and the store of the slot under position p: the 32
// matrixing values are 32-bit sums of the block outputs x[0..31].
void storeSlot(const int32_t *x, int32_t *history, int32_t p);

// Whether a granule call can run every channel: nch is 1 or 2 and each
// position lies in 0..15.
inline bool granulePositionsValid(const int32_t *position, int32_t nch) {
    if (nch != 1 && nch != 2) return false;
    for (int32_t ch = 0; ch < nch; ++ch)
        if (position[ch] < 0 || position[ch] > 15) return false;
    return true;
}

// A granule as 18 nch calls of a slot kernel.
template <SynthPQMFFn slot>
int32_t granuleBySlots(int32_t *slots, int16_t *pcm, int32_t *history, int32_t *position, int32_t nch) {
    if (nch != 1 && nch != 2) return MP3_ERR_PARAM;
    int32_t result = 0;
    for (int32_t ch = 0; ch < nch; ++ch) {
        for (int32_t s = 0; s < MP3_SLOTS; ++s) {
            const int32_t r = slot(slots + MP3_SUBBANDS * (MP3_SLOTS * ch + s), pcm + MP3_SUBBANDS * nch * s + ch,
                                   history + MP3_SYNTH_HISTORY * ch, position + ch, nch);
            if (r != 0) result = r;
        }
    }
    return result;
}

}  // namespace synth

}  // namespace mpfix

#endif  // MPFIX_AUDIO_SYNTH_POLYPHASE_H
