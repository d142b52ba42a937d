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

// The joint-stereo setting of one granule, shared by the four steps below.
// Both channels of a joint-stereo granule have the same block layout.
struct MP3_JointStereo {
    const uint8_t *positions;  // intensity positions: the second channel's scalefactor slot
    int32_t ms;                // mid/side stereo: bit 1 of mode_extension
    int32_t is;                // intensity stereo: bit 0 of mode_extension
    int32_t id;                // the frame's ID: the MPEG-1 or the low-sampling-frequency rules
    int32_t intensityScale;    // intensity_scale: low bit of the second channel's scalefac_compress
    int32_t mixed;             // 1 for block_type 2 with mixed_block_flag 1
    const uint16_t *longRow;   // the frame's band rows
    const uint16_t *shortRow;
};

// Finds the first long band of the intensity region and marks in msOffset
// (extra attenuation per channel and slot byte, 0 or 2 quarter steps) the long
// bands that mid/side will combine.
void MP3_StereoBoundsLong(uint8_t msOffset[2][MP3_SCALEFACTOR_BYTES], const MP3_JointStereo *stereo,
                          const int32_t nonzeroCount[2], int32_t *isBoundLong);

// The same for the short bands, per window, from both channels' short band ends.
void MP3_StereoBoundsShort(uint8_t msOffset[2][MP3_SCALEFACTOR_BYTES], const MP3_JointStereo *stereo,
                           const int32_t shortBandEnd[2][3], int32_t isBoundShort[3]);

// Mid/side below long band isBoundLong, intensity from it up to limit, on the
// requantized rows (bitstream order). Returns 0, or MP3_ERR_PARAM for an
// MPEG-1 position above 7 (earlier bands already processed).
int32_t MP3_JointStereoLong(int32_t *left, int32_t *right, const MP3_JointStereo *stereo, int32_t isBoundLong,
                            int32_t limit);

// Mid/side and intensity on the short bands, per window up to bandEnd[w].
int32_t MP3_JointStereoShort(int32_t *left, int32_t *right, const MP3_JointStereo *stereo,
                             const int32_t isBoundShort[3], const int32_t bandEnd[3]);

}  // namespace mpfix

#endif  // MPFIX_AUDIO_DEQUANT_STEREO_H
