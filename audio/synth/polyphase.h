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

}  // namespace mpfix

#endif  // MPFIX_AUDIO_SYNTH_POLYPHASE_H
