// Reset of the decoder state record and its input stream.
#ifndef MPFIX_AUDIO_FRAME_DECODER_STATE_H
#define MPFIX_AUDIO_FRAME_DECODER_STATE_H

#include <cstdint>

#include "mpfix.h"

namespace mpfix {

// Clears everything the decoder carries between frames (header fields except
// copyright, original_home and emphasis; granules, scalefactors, scfsi, every
// working array, the filterbank memories, the reservoir and its fill,
// channels, frameSamples) and drains the stream: readIndex = writeIndex = 0,
// size = MP3_RING_SIZE. sideInfoBytes, syncType and the stream's buffer,
// readFn and userData are left as they are. Returns 1.
int32_t MP3_ResetDecoder(MP3_Decoder *decoder, MP3_Stream *stream);

}  // namespace mpfix

#endif  // MPFIX_AUDIO_FRAME_DECODER_STATE_H
