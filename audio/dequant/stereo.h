// Joint stereo of Layer III: mid/side and intensity stereo (the MPEG-1 rule
// and the low-sampling-frequency rule of ISO/IEC 13818-3).
#ifndef MPFIX_AUDIO_DEQUANT_STEREO_H
#define MPFIX_AUDIO_DEQUANT_STEREO_H

#include <cstdint>

#include "mpfix.h"

namespace mpfix {

// Left share of an MPEG-1 intensity position p with 31 fraction bits:
// round(2^31 tan(p pi/12) / (1 + tan(p pi/12))) for p = 0..5, 0x7FFFFFFF for p = 6.
extern const int32_t isRatioTable[7];

// Finds the first long band of the intensity region and marks in msOffset
// (extra attenuation per channel and slot byte, 0 or 2 quarter steps) the long
// bands that mid/side will combine. positions is the second channel's
// scalefactor slot. Returns 0.
int32_t MP3_StereoBoundsLong(uint8_t msOffset[2][MP3_SCALEFACTOR_BYTES], const uint8_t *positions, int32_t ms, int32_t is,
                             const int32_t nonzeroCount[2], int32_t *isBoundLong, int32_t blockType,
                             int32_t mixedBlockFlag, int32_t id, const uint16_t *longRow);

// The same for the short bands, per window, from both channels' short band ends.
int32_t MP3_StereoBoundsShort(uint8_t msOffset[2][MP3_SCALEFACTOR_BYTES], const uint8_t *positions, int32_t ms, int32_t is,
                              const int32_t shortBandEnd[2][3], int32_t isBoundShort[3], int32_t id,
                              int32_t mixedLongBands, int32_t firstShortBand);

// Mid/side below long band isBoundLong, intensity from it up to limit, on the
// requantized rows (bitstream order). Returns 0, or MP3_ERR_PARAM for an
// MPEG-1 position above 7 (earlier bands already processed).
int32_t MP3_JointStereoLong(int32_t *left, int32_t *right, const uint8_t *positions, int32_t ms, int32_t is,
                            int32_t isBoundLong, int32_t limit, int32_t id, const uint16_t *longRow,
                            int32_t intensityScale);

// Mid/side and intensity on the short bands, per window up to bandEnd[w].
int32_t MP3_JointStereoShort(int32_t *left, int32_t *right, const uint8_t *positions, int32_t ms, int32_t is,
                             const int32_t isBoundShort[3], int32_t id, const uint16_t *shortRow,
                             int32_t mixedLongBands, int32_t firstShortBand, const int32_t bandEnd[3],
                             int32_t intensityScale);

}  // namespace mpfix

#endif  // MPFIX_AUDIO_DEQUANT_STEREO_H
