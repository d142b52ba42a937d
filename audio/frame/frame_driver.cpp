#include "audio/frame/frame_driver.h"

#include "audio/dequant/granule.h"
#include "audio/frame/frame_header.h"
#include "audio/frame/ring_buffer.h"
#include "audio/frame/sync_search.h"
#include "audio/granule_context.h"
#include "audio/parse/huffman_decode.h"
#include "audio/parse/scalefactors.h"
#include "audio/stream_constants.h"
#include "audio/synth/hybrid.h"
#include "audio/synth/polyphase.h"
#include "audio/words.h"

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
        const uint32_t w = stream->writeIndex & kRingMask;
        destination[length - 1] = stream->buffer[w];
        stream->buffer[w] = 0;  // consumed: the drained refill must not keep it as a 0xFF
    }
}

// The cursor part2_3_length bits after a channel's start, where the next
// channel or granule begins whatever the stages did (at most the end).
MP3_BitCursor channelEnd(const MP3_BitCursor &start, int32_t bits) {
    const int64_t position = static_cast<int64_t>(start.bit) + bits;
    if (position >= 8 * static_cast<int64_t>(start.end - start.byte)) return {start.end, 0, start.end};
    return {start.byte + (position >> 3), static_cast<int32_t>(position & 7), start.end};
}

// A channel the stages rejected is silent in this granule.
void silenceChannel(MP3_Decoder *d, int32_t ch) {
    MP3_FillWords(0, d->spectrum[ch], MP3_GRANULE_LINES);
    d->nonzeroCount[ch] = 0;
}

// One granule through every stage: per channel the scalefactors and the
// Huffman-coded values from the main data, once the dequantization and stereo
// of both channels, then per channel the hybrid filterbank, and the 18 slots
// of polyphase synthesis of every channel, which interleave the granule's PCM
// at pcm. A
// channel whose stages report a fault is silent, and the next channel starts
// part2_3_length bits after its start whatever they did; with `silent` (the
// frame's side information is faulty) no main data is parsed at all.
void decodeGranule(MP3_Decoder *d, MP3_GranuleContext *context, int16_t *pcm, int32_t nch, bool silent) {
    MP3_GranuleInfo *first = &d->granules[context->gr * nch];
    for (int32_t ch = 0; ch < nch; ++ch) {
        MP3_GranuleInfo *granule = first + ch;
        if (silent) {
            silenceChannel(d, ch);
            continue;
        }
        const MP3_BitCursor start = context->cursor;
        int32_t fault = MP3_DecodeScalefactors(context, d->scalefactors[ch], granule, d->scfsi[ch], ch);
        if (fault == 0) {
            const int32_t budget = granule->part2_3_length - MP3_CursorBitsBetween(start, context->cursor);
            fault = MP3_DecodeSpectrum(context, d->spectrum[ch], &d->nonzeroCount[ch], granule, budget);
        }
        if (fault != 0) silenceChannel(d, ch);
        context->cursor = channelEnd(start, granule->part2_3_length);
    }
    MP3_DequantizeGranule(context, d->spectrum, d->nonzeroCount, d->scalefactors, first, d->reorderScratch);
    for (int32_t ch = 0; ch < nch; ++ch) {
        const MP3_GranuleInfo *granule = first + ch;
        MP3_HybridSynthesis(d->spectrum[ch], &d->hybridOut[ch][0][0], d->overlap[ch], d->nonzeroCount[ch],
                            &d->prevSubbands[ch], granule->block_type, granule->mixed_block_flag);
    }
    // The 18 slots of every channel, as 18 calls of MP3_SynthPQMF per channel would run them.
    MP3_SynthGranule(&d->hybridOut[0][0][0], pcm, &d->synthV[0][0], d->synthIndex, nch);
}

// A header the scan found but the stream does not bear out: resume one byte
// after its 0xFF byte.
int32_t rejectHeader(MP3_Stream *stream, uint32_t syncIndex, MP3_SyncMemory *memory) {
    stream->readIndex = (syncIndex + 1u) & kRingMask;
    memory->linked = 0;
    return MP3_FRAME_BAD_HEADER;
}

// Frame length in bytes, padding included, for a header that passed the
// checks: from the tables, or for free format the learnt length, measured
// anew whenever the frame does not follow the one the length came from.
// Returns 0 with *length set, or the driver result that ends this call.
int32_t frameLength(MP3_Stream *stream, MP3_Decoder *decoder, MP3_SyncMemory *memory, uint32_t syncIndex,
                    bool linked, int32_t overhead, int32_t *length, bool *measured) {
    const MP3_FrameHeader &h = decoder->header;
    *measured = false;
    if (h.bitrate_index != 0) {
        *length = MP3_FrameBytes(&h, decoder->syncType) + h.padding_bit;
        return 0;
    }
    const uint8_t key = MP3_FreeFormatKey(decoder->sideInfoBytes);
    if (linked && memory->freeKey == key && memory->freeBytes > 0) {
        *length = memory->freeBytes + h.padding_bit;
        return 0;
    }
    // Main data of at most a whole reservoir.
    int32_t bytes = 0;
    const MP3_Confirmation c = MP3_MeasureFreeFormat(stream, syncIndex, decoder->sideInfoBytes, overhead,
                                                     overhead + MP3_RESERVOIR_BYTES, memory->inputEnded != 0, &bytes);
    if (c == MP3_Confirmation::kNeedData) return MP3_FRAME_NEED_DATA;
    if (c == MP3_Confirmation::kRejected) return MP3_FRAME_BAD_HEADER;
    memory->freeKey = key;
    memory->freeBytes = static_cast<uint16_t>(bytes);
    *length = bytes + h.padding_bit;
    *measured = true;
    return 0;
}

int32_t decodeFrame(MP3_Stream *stream, int16_t *pcm, MP3_Decoder *decoder, MP3_SyncMemory *memory,
                    uint32_t entryIndex) {
    bool skipped = false;
    const MP3_ScanResult scan = MP3_ScanForSync(stream, memory, &decoder->syncType, &skipped);
    if (skipped) memory->linked = 0;
    if (scan == MP3_ScanResult::kDrained) return MP3_FRAME_NO_SYNC;
    if (scan == MP3_ScanResult::kNeedData) return MP3_FRAME_NEED_DATA;
    const uint32_t syncIndex = stream->readIndex;
    // Bytes before the pattern are searched again after a refill (and found
    // to hold nothing again), unless the ring is full: then they are dropped.
    auto incomplete = [&]() {
        const int32_t r = needData(stream, entryIndex, syncIndex);
        if (stream->readIndex != entryIndex) memory->linked = 0;
        return r;
    };
    const bool linked = memory->linked != 0;

    if (MP3_ReadBytes(stream, decoder->sideInfoBytes, 6) < 6) return incomplete();
    const uint8_t *cursor = decoder->sideInfoBytes;
    MP3_ParseHeader(&cursor, &decoder->header);

    // Layer III only, a known version and sampling frequency, a bitrate_index
    // other than 15 (0 is free format).
    const MP3_FrameHeader &h = decoder->header;
    const bool reservedVersion = decoder->syncType == MP3_SYNC_FFE && h.ID == 1;
    if (h.layer != 1 || reservedVersion || h.bitrate_index < 0 || h.bitrate_index > 14 || h.sampling_frequency < 0 ||
        h.sampling_frequency > 2) {
        return rejectHeader(stream, syncIndex, memory);
    }

    const int32_t nch = channelsOfMode(h.mode);
    const int32_t ngr = granulesOfVersion(h.ID);
    decoder->channels = nch;
    decoder->frameSamples = ngr * nch * MP3_GRANULE_LINES;
    const int32_t sideLength = MP3_SideInfoLength(&h);

    const int32_t rest = h.protection_bit == 0 ? sideLength : sideLength - 2;
    if (MP3_ReadBytes(stream, decoder->sideInfoBytes + 6, rest) < rest) return incomplete();
    int32_t mainDataBegin = 0;
    int32_t privateBits = 0;
    const int32_t sideInfo =
        MP3_ParseSideInfo(&cursor, decoder->granules, &mainDataBegin, &privateBits, &decoder->scfsi[0][0], &h);

    const int32_t overhead = 4 + sideLength + (h.protection_bit == 0 ? 2 : 0);
    int32_t frameBytes = 0;
    bool measured = false;
    const int32_t lengthResult =
        frameLength(stream, decoder, memory, syncIndex, linked, overhead, &frameBytes, &measured);
    if (lengthResult == MP3_FRAME_NEED_DATA) return incomplete();
    if (lengthResult != 0) return rejectHeader(stream, syncIndex, memory);
    // The main data and the bytes it refers back to must fit the reservoir
    // (only a free-format length can come near it).
    const int32_t length = frameBytes - overhead;
    if (length < 0 || mainDataBegin + length > MP3_RESERVOIR_BYTES) return rejectHeader(stream, syncIndex, memory);

    // A frame that does not follow the last accepted one directly is trusted
    // only when the stream bears it out.
    if (!linked && !measured) {
        const MP3_Confirmation c = MP3_ConfirmFrame(stream, syncIndex, frameBytes, decoder->sideInfoBytes,
                                                    memory->inputEnded != 0);
        if (c == MP3_Confirmation::kNeedData) return incomplete();
        if (c == MP3_Confirmation::kRejected) return rejectHeader(stream, syncIndex, memory);
    }
    if (MP3_BytesAvailable(stream) < length) return incomplete();

    // After a gap the reservoir's bytes are not the ones this frame's
    // main_data_begin counts back over: start it empty, as after a reset.
    if (!linked) decoder->reservoirFill = 0;
    memory->linked = 1;
    memory->accepted = 1;
    for (int i = 0; i < 4; ++i) memory->acceptedHeader[i] = decoder->sideInfoBytes[i];

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
    // whatever the side information says. Faulty side information: the frame
    // is silence, and the filterbanks run on, so the sound fades out.
    MP3_GranuleContext context = MP3_OpenGranuleContext(&decoder->header, decoder->syncType, decoder->reservoir,
                                                        decoder->reservoir + MP3_RESERVOIR_BYTES);
    for (int32_t gr = 0; gr < ngr; ++gr) {
        context.gr = gr;
        decodeGranule(decoder, &context, pcm + gr * MP3_GRANULE_LINES * nch, nch, sideInfo != 0);
    }
    return MP3_FRAME_DECODED;
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
    MP3_SyncMemory memory = MP3_LoadSyncMemory(decoder);
    const int32_t result = decodeFrame(stream, pcm, decoder, &memory, entryIndex);
    MP3_StoreSyncMemory(decoder, memory);
    return result;
}

}  // namespace mpfix
