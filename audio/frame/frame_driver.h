// One Layer III frame from the input ring to PCM, through the bit reservoir.
#ifndef MPFIX_AUDIO_FRAME_FRAME_DRIVER_H
#define MPFIX_AUDIO_FRAME_FRAME_DRIVER_H

#include <cstdint>

#include "mpfix.h"

namespace mpfix {

// Finds the next frame in the ring (skipping ID3v2 tags; a frame that does not
// begin where the last accepted one ended is taken only when the next header
// confirms it, and then starts an empty reservoir), appends its main data to
// the reservoir and, when the reservoir reaches back far enough, decodes it:
// frameSamples interleaved samples at pcm. A channel the stages reject is
// silent in its granule, and the next one starts part2_3_length bits after
// its start; a frame with faulty side information is silence. Returns
// MP3_FRAME_DECODED, MP3_FRAME_NO_SYNC, MP3_FRAME_NEED_DATA,
// MP3_FRAME_NOT_DECODED or MP3_FRAME_BAD_HEADER (also for a candidate the
// stream does not confirm).
int32_t MP3_DecodeOneFrame(MP3_Stream *stream, int16_t *pcm, MP3_Decoder *decoder);

// Bytes of a frame without padding: the MPEG-1, MPEG-2 or MPEG-2.5 table by
// ID and syncType; 0 for free format and indexes outside the tables.
int32_t MP3_FrameBytes(const MP3_FrameHeader *header, int32_t syncType);

}  // namespace mpfix

#endif  // MPFIX_AUDIO_FRAME_FRAME_DRIVER_H
