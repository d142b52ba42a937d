#include "audio/frame/frame_driver.h"

#include "audio/dequant/granule.h"
#include "audio/frame/frame_header.h"
#include "audio/frame/ring_buffer.h"
#include "audio/granule_context.h"
#include "audio/parse/huffman_decode.h"
#include "audio/parse/scalefactors.h"
#include "audio/stream_constants.h"
#include "audio/synth/hybrid.h"
#include "audio/synth/polyphase.h"

namespace mpfix {

namespace {

constexpr uint32_t kRingMask = MP3_RING_SIZE - 1;

// Puts the read position back after an incomplete frame so the bytes are
// searched again after a refill. When that would leave the ring full, the
// refill could never make room and decoding would stall for good; the bytes
// before the sync pattern hold no pattern, so restart at its 0xFF byte.
int32_t needData(MP3_Stream *stream, uint32_t entryIndex, uint32_t syncIndex) {
    stream->readIndex = entryIndex;
    if (MP3_BytesAvailable(stream) >= MP3_RING_SIZE) stream->readIndex = syncIndex;
    return MP3_FRAME_NEED_DATA;
}

// Appends the frame's main data to the reservoir. The last byte may be the
// held-back byte at writeIndex, which the reader does not deliver; it is in
// the ring all the same, so it is taken from there and the ring left drained.
void readMainData(MP3_Stream *stream, uint8_t *destination, int32_t length) {
    if (length <= 0) return;
    const int32_t got = MP3_ReadBytes(stream, destination, length);
    if (got == length - 1 && stream->readIndex == stream->writeIndex) {
        destination[length - 1] = stream->buffer[stream->writeIndex & kRingMask];
    }
}

// One granule through every stage: per channel the scalefactors and the
// Huffman-coded values from the main data, once the dequantization and stereo
// of both channels, then per channel the hybrid filterbank and the 18 slots
// of polyphase synthesis, which interleave the granule's PCM at pcm.
void decodeGranule(MP3_Decoder *d, MP3_GranuleContext *context, int16_t *pcm, int32_t nch) {
    MP3_GranuleInfo *first = &d->granules[context->gr * nch];
    for (int32_t ch = 0; ch < nch; ++ch) {
        MP3_GranuleInfo *granule = first + ch;
        const MP3_BitCursor start = context->cursor;
        MP3_DecodeScalefactors(context, d->scalefactors[ch], granule, d->scfsi[ch], ch);
        const int32_t budget = granule->part2_3_length - MP3_CursorBitsBetween(start, context->cursor);
        MP3_DecodeSpectrum(context, d->spectrum[ch], &d->nonzeroCount[ch], granule, budget);
    }
    MP3_DequantizeGranule(context, d->spectrum, d->nonzeroCount, d->scalefactors, first, d->reorderScratch);
    for (int32_t ch = 0; ch < nch; ++ch) {
        const MP3_GranuleInfo *granule = first + ch;
        MP3_HybridSynthesis(d->spectrum[ch], &d->hybridOut[ch][0][0], d->overlap[ch], d->nonzeroCount[ch],
                            &d->prevSubbands[ch], granule->block_type, granule->mixed_block_flag);
        for (int32_t s = 0; s < MP3_SLOTS; ++s) {
            MP3_SynthPQMF(d->hybridOut[ch][s], pcm + s * MP3_SUBBANDS * nch + ch, d->synthV[ch], &d->synthIndex[ch],
                          nch);
        }
    }
}

}  // namespace

int32_t MP3_FrameBytes(const MP3_FrameHeader *header, int32_t syncType) {
    const int32_t rate = header->sampling_frequency;
    const int32_t index = header->bitrate_index;
    if (rate < 0 || rate > 2 || index < 0 || index > 14) return 0;
    if (header->ID == 1) return MP3_FrameBytesMpeg1[rate][index];
    return syncType == MP3_SYNC_FFE ? MP3_FrameBytesMpeg25[rate][index] : MP3_FrameBytesMpeg2[rate][index];
}

int32_t MP3_DecodeOneFrame(MP3_Stream *stream, int16_t *pcm, MP3_Decoder *decoder) {
    const uint32_t entryIndex = stream->readIndex;
    if (stream->readIndex == stream->writeIndex) return MP3_FRAME_NEED_DATA;
    if (!MP3_FindSync(stream, &decoder->syncType)) return MP3_FRAME_NO_SYNC;
    const uint32_t syncIndex = stream->readIndex;

    if (MP3_ReadBytes(stream, decoder->sideInfoBytes, 6) < 6) return needData(stream, entryIndex, syncIndex);
    const uint8_t *cursor = decoder->sideInfoBytes;
    MP3_ParseHeader(&cursor, &decoder->header);

    // Layer III only, a known sampling frequency, and a frame size: free
    // format (bitrate_index 0) has none, so it is rejected like a bad header.
    const MP3_FrameHeader &h = decoder->header;
    if (h.layer != 1 || h.bitrate_index < 1 || h.bitrate_index > 14 || h.sampling_frequency < 0 ||
        h.sampling_frequency > 2) {
        stream->readIndex = (stream->readIndex - 5) & kRingMask;
        return MP3_FRAME_BAD_HEADER;
    }

    const int32_t nch = channelsOfMode(h.mode);
    const int32_t ngr = granulesOfVersion(h.ID);
    decoder->channels = nch;
    decoder->frameSamples = ngr * nch * MP3_GRANULE_LINES;
    const int32_t sideLength = MP3_SideInfoLength(&h);

    const int32_t rest = h.protection_bit == 0 ? sideLength : sideLength - 2;
    if (MP3_ReadBytes(stream, decoder->sideInfoBytes + 6, rest) < rest) {
        return needData(stream, entryIndex, syncIndex);
    }
    int32_t mainDataBegin = 0;
    int32_t privateBits = 0;
    MP3_ParseSideInfo(&cursor, decoder->granules, &mainDataBegin, &privateBits, &decoder->scfsi[0][0], &h);

    const int32_t length = MP3_FrameBytes(&h, decoder->syncType) - 4 - sideLength + h.padding_bit -
                           (h.protection_bit == 0 ? 2 : 0);
    if (MP3_BytesAvailable(stream) < length) return needData(stream, entryIndex, syncIndex);

    // Bit reservoir: keep the main_data_begin bytes of earlier frames in front.
    int32_t fill = decoder->reservoirFill;
    const bool decodable = fill >= mainDataBegin;
    if (decodable) {
        uint8_t *reservoir = decoder->reservoir;
        for (int32_t i = 0; i < mainDataBegin; ++i) reservoir[i] = reservoir[fill - mainDataBegin + i];
        fill = mainDataBegin;
    }
    readMainData(stream, decoder->reservoir + fill, length);
    decoder->reservoirFill = fill + length;
    if (!decodable) return MP3_FRAME_NOT_DECODED;

    // The main data starts with the bytes kept from earlier frames; the band
    // rows are the frame's. The readers yield zero bits past the reservoir,
    // whatever the side information says.
    MP3_GranuleContext context = MP3_OpenGranuleContext(&decoder->header, decoder->syncType, decoder->reservoir,
                                                        decoder->reservoir + MP3_RESERVOIR_BYTES);
    for (int32_t gr = 0; gr < ngr; ++gr) {
        context.gr = gr;
        decodeGranule(decoder, &context, pcm + gr * MP3_GRANULE_LINES * nch, nch);
    }
    return MP3_FRAME_DECODED;
}

}  // namespace mpfix
