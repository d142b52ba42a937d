// Scalefactor band boundaries of Layer III. Row r = 3 * ID + sampling_frequency:
// rows 0..2 the low sampling frequencies, rows 3..5 MPEG-1 (44100, 48000, 32000 Hz).
// Long rows: first line of long band k (k = 0..21), then 576. Short rows: first
// line of short band k within one 192-line window (k = 0..12), then 192.
#ifndef MPFIX_AUDIO_FRAME_BAND_TABLES_H
#define MPFIX_AUDIO_FRAME_BAND_TABLES_H

#include <cstdint>

namespace mpfix {

constexpr int MP3_BAND_ROWS = 6;
constexpr int MP3_LONG_BOUNDARIES = 23;
constexpr int MP3_SHORT_BOUNDARIES = 14;

// Set for the 12-bit sync 0xFFF (MPEG-1 and MPEG-2).
extern const uint16_t MP3_SfbLongTable[MP3_BAND_ROWS][MP3_LONG_BOUNDARIES];
extern const uint16_t MP3_SfbShortTable[MP3_BAND_ROWS][MP3_SHORT_BOUNDARIES];
// Set for the sync 0xFFE (MPEG-2.5); rows 3..5 repeat the MPEG-1 rows.
extern const uint16_t MP3_SfbLongTable25[MP3_BAND_ROWS][MP3_LONG_BOUNDARIES];
extern const uint16_t MP3_SfbShortTable25[MP3_BAND_ROWS][MP3_SHORT_BOUNDARIES];

}  // namespace mpfix

#endif  // MPFIX_AUDIO_FRAME_BAND_TABLES_H
