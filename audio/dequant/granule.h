// Granule dequantization: requantization of every band of both channels,
// mid/side and intensity stereo, and short blocks into subband order.
#ifndef MPFIX_AUDIO_DEQUANT_GRANULE_H
#define MPFIX_AUDIO_DEQUANT_GRANULE_H

#include <cstdint>

#include "audio/frame/band_tables.h"
#include "mpfix.h"

namespace mpfix {

// Preemphasis of long bands 0..20 (ISO/IEC 11172-3), and 0 for band 21.
extern const uint8_t pretab[22];

// For one short-block channel's quantized values (bitstream order) with
// nonzeroCount: per window one past the last short band holding a nonzero
// value (at least firstShortBand), and the largest one-past-last nonzero
// frequency line over the windows (at least shortRow[firstShortBand]). Returns 0.
int32_t MP3_ShortBandExtent(const int32_t *values, int32_t shortBandEnd[3], int32_t *shortLineEnd,
                            const uint16_t *shortRow, int32_t nonzeroCount, int32_t firstShortBand);

// Dequantizes one granule of both channels (one in single-channel frames) in
// place: spectrum rows in, requantized values after stereo out (short blocks
// in subband order), nonzeroCount tightened to one past the last nonzero
// value. granule is channel 0's record, channel 1's follows it. The band
// tables are a set of six rows, row 3 ID + sampling_frequency. Returns 0, or
// MP3_ERR_PARAM (nothing written when the header or granule fields are out
// of range).
int32_t MP3_DequantizeGranule(int32_t spectrum[2][MP3_GRANULE_LINES], int32_t nonzeroCount[2],
                              const uint8_t scalefactors[2][MP3_SCALEFACTOR_BYTES], const MP3_GranuleInfo *granule,
                              const MP3_FrameHeader *header, int32_t *reorderScratch,
                              const uint16_t longTables[MP3_BAND_ROWS][MP3_LONG_BOUNDARIES],
                              const uint16_t shortTables[MP3_BAND_ROWS][MP3_SHORT_BOUNDARIES]);

// The same with the MPEG-1 / MPEG-2 band tables (12-bit sync 0xFFF).
int32_t MP3_DequantizeGranuleMpeg12(int32_t spectrum[2][MP3_GRANULE_LINES], int32_t nonzeroCount[2],
                                    const uint8_t scalefactors[2][MP3_SCALEFACTOR_BYTES],
                                    const MP3_GranuleInfo *granule, const MP3_FrameHeader *header,
                                    int32_t *reorderScratch);

}  // namespace mpfix

#endif  // MPFIX_AUDIO_DEQUANT_GRANULE_H
