// Granule dequantization: requantization of every band of both channels,
// mid/side and intensity stereo, and short blocks into subband order.
#ifndef MPFIX_AUDIO_DEQUANT_GRANULE_H
#define MPFIX_AUDIO_DEQUANT_GRANULE_H

#include <cstdint>

#include "audio/granule_context.h"
#include "mpfix.h"

namespace mpfix {

// Preemphasis of long bands 0..20 (ISO/IEC 11172-3), and 0 for band 21.
extern const uint8_t pretab[MP3_LONG_BANDS];

// For one short-block channel's quantized values (bitstream order) with
// nonzeroCount: per window one past the last short band holding a nonzero
// value (at least firstShortBand), and the largest one-past-last nonzero
// frequency line over the windows (at least shortRow[firstShortBand]).
void MP3_ShortBandExtent(const int32_t *values, int32_t shortBandEnd[3], int32_t *shortLineEnd,
                         const uint16_t *shortRow, int32_t nonzeroCount, int32_t firstShortBand);

// Dequantizes one granule of both channels (one in single-channel frames) in
// place: spectrum rows in, requantized values after stereo out (short blocks
// in subband order), nonzeroCount tightened to one past the last nonzero
// value. granule is channel 0's record, channel 1's follows it. The context
// gives the header and the band rows. Returns 0, or MP3_ERR_PARAM (nothing
// written when the header or granule fields are out of range).
int32_t MP3_DequantizeGranule(const MP3_GranuleContext *context, int32_t spectrum[2][MP3_GRANULE_LINES],
                              int32_t nonzeroCount[2], const uint8_t scalefactors[2][MP3_SCALEFACTOR_BYTES],
                              const MP3_GranuleInfo *granule, int32_t *reorderScratch);

}  // namespace mpfix

#endif  // MPFIX_AUDIO_DEQUANT_GRANULE_H
