// The decoder interface: probe and stream parameters, and the decode loop
// with its refill policy. MP3_InitDecoder and MP3_DecodeFrame are declared in
// the public header.
#ifndef MPFIX_AUDIO_FRAME_DECODER_API_H
#define MPFIX_AUDIO_FRAME_DECODER_API_H

#include <cstdint>

#include "mpfix.h"

namespace mpfix {

// Stream parameters of the most recently parsed header: version 1 (MPEG-1),
// 0 (MPEG-2) or 2 (MPEG-2.5), sample rate in Hz (0 for the reserved
// sampling_frequency 3) and channel count.
void MP3_GetStreamInfo(const MP3_Decoder *decoder, int32_t *version, int32_t *sampleRate, int32_t *channels);

// MP3_DecodeFrame with its arguments checked.
int32_t MP3_DecodeFrames(MP3_Stream *stream, int16_t *pcm, int32_t *samplesOut, int32_t count,
                         MP3_Decoder *decoder);

// MP3_InitDecoder with the probe's scratch PCM given (MP3_PROBE_BYTES bytes);
// a null buffer skips the probe, as when the allocation fails.
int32_t MP3_InitDecoderWithProbe(MP3_Stream *stream, MP3_Decoder *decoder, int32_t *bufferBytes,
                                 int32_t *sampleRate, int32_t *channels, int16_t *probe);

}  // namespace mpfix

#endif  // MPFIX_AUDIO_FRAME_DECODER_API_H
