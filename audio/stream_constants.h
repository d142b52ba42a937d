// The shape of a Layer III stream that every stage shares (ISO/IEC 11172-3,
// ISO/IEC 13818-3): granules, subbands and time slots, the scalefactor bands,
// and what the header's mode and ID imply. The granule sizes themselves are
// public (MP3_GRANULE_LINES, MP3_SUBBANDS, MP3_SLOTS in mpfix.h).
#ifndef MPFIX_AUDIO_STREAM_CONSTANTS_H
#define MPFIX_AUDIO_STREAM_CONSTANTS_H

#include <cstdint>

#include "mpfix.h"

namespace mpfix {

static_assert(MP3_GRANULE_LINES == MP3_SUBBANDS * MP3_SLOTS, "a granule is 32 subbands of 18 lines");

constexpr int32_t MP3_MAX_CHANNELS = 2;
constexpr int32_t MP3_WINDOWS = 3;             // short windows of a block_type 2 granule
constexpr int32_t MP3_WINDOW_LINES = 192;      // frequency lines of one short window
constexpr int32_t MP3_LONG_BANDS = 22;         // long scalefactor bands of a granule
constexpr int32_t MP3_SHORT_BANDS = 13;        // short scalefactor bands of one window
constexpr int32_t MP3_MIXED_LONG_VALUES = 36;  // long lines of a mixed block: its first two subbands
constexpr int32_t MP3_MIXED_FIRST_SHORT_BAND = 3;  // the short part of a mixed block starts with band 3

// Band table shape: six rows (3 ID + sampling_frequency) of 23 long and 14
// short boundaries.
constexpr int32_t MP3_BAND_ROWS = 6;
constexpr int32_t MP3_LONG_BOUNDARIES = MP3_LONG_BANDS + 1;
constexpr int32_t MP3_SHORT_BOUNDARIES = MP3_SHORT_BANDS + 1;

// Header modes that change the decoding.
constexpr int32_t MP3_MODE_JOINT_STEREO = 1;
constexpr int32_t MP3_MODE_SINGLE_CHANNEL = 3;

// Channels of a frame: one for single channel, two for every other mode.
constexpr int32_t channelsOfMode(int32_t mode) { return mode == MP3_MODE_SINGLE_CHANNEL ? 1 : 2; }

// Granules of a frame: two in MPEG-1 (ID 1), one at the low sampling frequencies.
constexpr int32_t granulesOfVersion(int32_t id) { return id == 1 ? 2 : 1; }

// Subbands that lines 0 .. lines - 1 touch: ceil(lines / 18). Multiplying by
// 3641 and shifting by 16 divides by 18 exactly for counts up to 32000.
constexpr int32_t subbandsOfLines(int32_t lines) { return ((lines + MP3_SLOTS - 1) * 3641) >> 16; }
static_assert(subbandsOfLines(0) == 0 && subbandsOfLines(18) == 1 && subbandsOfLines(19) == 2 &&
              subbandsOfLines(576) == 32 && subbandsOfLines(585) == 33);

// Scalefactor bands of the long part of a mixed block: 8 in MPEG-1, 6 at the
// low sampling frequencies.
constexpr int32_t mixedLongBandsOf(int32_t id) { return id == 1 ? 8 : 6; }

}  // namespace mpfix

#endif  // MPFIX_AUDIO_STREAM_CONSTANTS_H
