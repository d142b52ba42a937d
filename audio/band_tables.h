// Scalefactor band boundaries of Layer III. Row r = 3 * ID + sampling_frequency:
// rows 0..2 the low sampling frequencies, rows 3..5 MPEG-1 (44100, 48000, 32000 Hz).
// Long rows: first line of long band k (k = 0..21), then 576. Short rows: first
// line of short band k within one 192-line window (k = 0..12), then 192.
// The frame driver picks the two rows of a frame once; every stage reads them.
#ifndef MPFIX_AUDIO_BAND_TABLES_H
#define MPFIX_AUDIO_BAND_TABLES_H

#include <cstdint>

#include "audio/stream_constants.h"
#include "mpfix.h"

namespace mpfix {

// Set for the 12-bit sync 0xFFF (MPEG-1 and MPEG-2).
extern const uint16_t MP3_SfbLongTable[MP3_BAND_ROWS][MP3_LONG_BOUNDARIES];
extern const uint16_t MP3_SfbShortTable[MP3_BAND_ROWS][MP3_SHORT_BOUNDARIES];
// Set for the sync 0xFFE (MPEG-2.5); rows 3..5 repeat the MPEG-1 rows.
extern const uint16_t MP3_SfbLongTable25[MP3_BAND_ROWS][MP3_LONG_BOUNDARIES];
extern const uint16_t MP3_SfbShortTable25[MP3_BAND_ROWS][MP3_SHORT_BOUNDARIES];

// The band rows of one frame.
struct MP3_BandRows {
    const uint16_t *longRow;   // MP3_LONG_BOUNDARIES entries
    const uint16_t *shortRow;  // MP3_SHORT_BOUNDARIES entries
};

// The rows of a frame: the set by syncType (the MPEG-2.5 set for
// MP3_SYNC_FFE, else the MPEG-1 / MPEG-2 set), row 3 ID + sampling_frequency.
// Both null when ID is not 0 or 1 or sampling_frequency not 0..2.
MP3_BandRows MP3_SelectBandRows(const MP3_FrameHeader *header, int32_t syncType);

}  // namespace mpfix

#endif  // MPFIX_AUDIO_BAND_TABLES_H
