// What the stages of one granule share: where its main data continues, the
// frame's header and the band table rows of the frame. The frame driver sets
// it up once per frame; the main-data parsers advance its cursor, the other
// stages only read it.
#ifndef MPFIX_AUDIO_GRANULE_CONTEXT_H
#define MPFIX_AUDIO_GRANULE_CONTEXT_H

#include <cstdint>

#include "audio/band_tables.h"
#include "audio/bit_reader.h"
#include "mpfix.h"

namespace mpfix {

struct MP3_GranuleContext {
    MP3_BitCursor cursor;           // main-data position; reads past cursor.end yield 0
    const MP3_FrameHeader *header;  // the frame's header
    MP3_BandRows bands;             // the frame's band rows (MP3_SelectBandRows)
    int32_t gr;                     // granule index: 0, or 1 in the second granule of MPEG-1
};

// The context of granule 0 of a frame whose main data runs from mainData up
// to end, with the band rows the header and syncType select.
inline MP3_GranuleContext MP3_OpenGranuleContext(const MP3_FrameHeader *header, int32_t syncType,
                                                 const uint8_t *mainData, const uint8_t *end) {
    return {{mainData, 0, end}, header, MP3_SelectBandRows(header, syncType), 0};
}

}  // namespace mpfix

#endif  // MPFIX_AUDIO_GRANULE_CONTEXT_H
