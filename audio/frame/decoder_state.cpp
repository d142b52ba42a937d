#include "audio/frame/decoder_state.h"

#include <cstring>

namespace mpfix {

namespace {

template <typename Field>
void clear(Field &field) {
    std::memset(&field, 0, sizeof field);
}

// copyright, original_home and emphasis are never read, so they are kept.
void clearHeader(MP3_FrameHeader &h) {
    h.ID = 0;
    h.layer = 0;
    h.protection_bit = 0;
    h.bitrate_index = 0;
    h.sampling_frequency = 0;
    h.padding_bit = 0;
    h.private_bit = 0;
    h.mode = 0;
    h.mode_extension = 0;
    h.crc_check = 0;
}

}  // namespace

int32_t MP3_ResetDecoder(MP3_Decoder *decoder, MP3_Stream *stream) {
    clearHeader(decoder->header);
    clear(decoder->granules);
    clear(decoder->scalefactors);
    clear(decoder->scfsi);
    clear(decoder->spectrum);
    clear(decoder->nonzeroCount);
    clear(decoder->reorderScratch);
    clear(decoder->hybridOut);
    clear(decoder->overlap);
    clear(decoder->prevSubbands);
    clear(decoder->synthV);
    clear(decoder->synthIndex);
    clear(decoder->reservoir);
    decoder->reservoirFill = 0;
    decoder->channels = 0;
    decoder->frameSamples = 0;
    // The ring is drained; bytes already taken from the host are dropped.
    stream->readIndex = 0;
    stream->writeIndex = 0;
    stream->size = MP3_RING_SIZE;
    return 1;
}

}  // namespace mpfix
