// One Layer III frame from the input ring to PCM, through the bit reservoir.
#ifndef MPFIX_AUDIO_FRAME_FRAME_DRIVER_H
#define MPFIX_AUDIO_FRAME_FRAME_DRIVER_H

#include <cstdint>

#include "mpfix.h"

namespace mpfix {

// Finds the next frame in the ring, appends its main data to the reservoir and,
// when the reservoir reaches back far enough, decodes it: frameSamples
// interleaved samples at pcm. Returns MP3_FRAME_DECODED, MP3_FRAME_NO_SYNC,
// MP3_FRAME_NEED_DATA, MP3_FRAME_NOT_DECODED or MP3_FRAME_BAD_HEADER.
int32_t MP3_DecodeOneFrame(MP3_Stream *stream, int16_t *pcm, MP3_Decoder *decoder);

// Bytes of a frame without padding: the MPEG-1, MPEG-2 or MPEG-2.5 table by
// ID and syncType; 0 for free format and indexes outside the tables.
int32_t MP3_FrameBytes(const MP3_FrameHeader *header, int32_t syncType);

}  // namespace mpfix

#endif  // MPFIX_AUDIO_FRAME_FRAME_DRIVER_H
