// Short-block reordering: from bitstream order (band, window, line) into the
// subband order of the hybrid filterbank (subband, window, 6 lines).
#ifndef MPFIX_AUDIO_DEQUANT_REORDER_H
#define MPFIX_AUDIO_DEQUANT_REORDER_H

#include <cstdint>

#include "audio/stream_constants.h"

namespace mpfix {

// 18 * ceil(count / 18) for count 0..576, without a division.
constexpr int32_t MP3_RoundUpToSubband(int32_t count) { return MP3_SLOTS * subbandsOfLines(count); }

// Moves the short-window values of one channel into subband order: frequency
// line f of window w goes to 18 (f div 6) + 6 w + f mod 6, the 36 long values
// of a mixed block (mixedBlockFlag 1) are copied to 0..35 and the short part
// follows from 36, beginning with short band 3. bandEnd[w] is one past the
// last short band moved in window w; every index below 18 * ceil(count / 18)
// is written (zero where no band was moved). source and destination must not
// overlap; shortRow is a 14-entry short band row.
void MP3_ReorderShortBlocks(const int32_t *source, int32_t *destination, const uint16_t *shortRow,
                            int32_t mixedBlockFlag, const int32_t bandEnd[3], int32_t count);

}  // namespace mpfix

#endif  // MPFIX_AUDIO_DEQUANT_REORDER_H
