// Scalefactors of one granule and channel (part 2 of the Layer III main data).
#ifndef MPFIX_AUDIO_PARSE_SCALEFACTORS_H
#define MPFIX_AUDIO_PARSE_SCALEFACTORS_H

#include <cstdint>

#include "audio/granule_context.h"
#include "mpfix.h"

namespace mpfix {

// MPEG-1 field widths (slen1, slen2) by scalefac_compress 0..15.
extern const uint8_t MP3_ScalefacSlen[2][16];
// Low-sampling-frequency scalefactor band counts [range][block kind][group].
extern const uint8_t nr_of_sfb[6][3][4];

// Reads the scalefactors of channel ch at the context's cursor into the
// channel's 40-byte block, one byte per band and window in bitstream order
// (signed values as two's complement bytes), followed by zero bytes. MPEG-1
// granule 1 (context->gr) keeps the groups that scfsi marks; the
// low-sampling-frequency syntax writes granule->preflag. The cursor advances
// past the scalefactors on success only; reads past its end yield 0 and the
// cursor stops there.
// Returns 0, or MP3_ERR_PARAM (nothing read or written) for a field out of range.
int32_t MP3_DecodeScalefactors(MP3_GranuleContext *context, uint8_t *scalefactors, MP3_GranuleInfo *granule,
                               const int32_t *scfsi, int32_t ch);

}  // namespace mpfix

#endif  // MPFIX_AUDIO_PARSE_SCALEFACTORS_H
