#include "audio/frame/decoder_api.h"

#include <cstdlib>

#include "audio/frame/decoder_state.h"
#include "audio/frame/frame_driver.h"
#include "audio/frame/frame_header.h"
#include "audio/frame/ring_buffer.h"
#include "audio/frame/sync_search.h"
#include "audio/stream_constants.h"

namespace mpfix {

namespace {

// MPEG-1 sampling rates by sampling_frequency; MPEG-2 halves them, MPEG-2.5 quarters them.
constexpr int32_t kMpeg1Rates[4] = {44100, 48000, 32000, 0};

// The recommended PCM buffer: 25 frames of 16-bit samples per channel, 57600
// bytes for MPEG-1 (two granules a frame), 28800 for MPEG-2 and MPEG-2.5.
constexpr int32_t kBufferFrames = 25;
constexpr int32_t bufferBytesPerChannel(int32_t version) {
    const int32_t granules = version == 1 ? 2 : 1;
    return kBufferFrames * granules * MP3_GRANULE_LINES * static_cast<int32_t>(sizeof(int16_t));
}
static_assert(bufferBytesPerChannel(1) == 57600 && bufferBytesPerChannel(0) == 28800);

// Bytes the ring holds beyond the read position; a drained ring counts 0.
int32_t fillLevel(const MP3_Stream *stream) {
    const uint32_t r = stream->readIndex;
    const uint32_t w = stream->writeIndex;
    if (w > r) return static_cast<int32_t>(w - r);
    if (w < r) return static_cast<int32_t>(w - r + MP3_RING_SIZE);
    return 0;
}

void setInputEnded(MP3_Decoder *decoder, bool ended) {
    MP3_SyncMemory memory = MP3_LoadSyncMemory(decoder);
    memory.inputEnded = ended ? 1 : 0;
    MP3_StoreSyncMemory(decoder, memory);
}

}  // namespace

void MP3_GetStreamInfo(const MP3_Decoder *decoder, int32_t *version, int32_t *sampleRate, int32_t *channels) {
    const MP3_FrameHeader &h = decoder->header;
    const int32_t rate = (h.sampling_frequency >= 0 && h.sampling_frequency <= 3) ? kMpeg1Rates[h.sampling_frequency] : 0;
    if (h.ID == 1) {
        *version = 1;
        *sampleRate = rate;
    } else {
        // The sync pattern of the last parsed header, when its bytes are still
        // in sideInfoBytes, tells MPEG-2 (0xFFF) from MPEG-2.5 (0xFFE) even if
        // a later search found nothing; otherwise the last search decides.
        int32_t syncType = decoder->syncType;
        const uint8_t nibble = static_cast<uint8_t>(decoder->sideInfoBytes[1] >> 4);
        if (decoder->sideInfoBytes[0] == 0xFF && (nibble == 0xF || nibble == 0xE)) {
            syncType = nibble == 0xF ? MP3_SYNC_FFF : MP3_SYNC_FFE;
        }
        *version = syncType == MP3_SYNC_FFF ? 0 : 2;
        *sampleRate = syncType == MP3_SYNC_FFF ? rate / 2 : rate / 4;
    }
    *channels = channelsOfMode(h.mode);
}

int32_t MP3_DecodeFrames(MP3_Stream *stream, int16_t *pcm, int32_t *samplesOut, int32_t count,
                         MP3_Decoder *decoder) {
    *samplesOut = 0;
    int32_t result = MP3_OK;
    int32_t decoded = 0;
    // The end of the input is not remembered between calls: a later call asks
    // the callback again.
    setInputEnded(decoder, false);
    for (;;) {
        const int32_t r = MP3_DecodeOneFrame(stream, pcm, decoder);
        if (r == MP3_FRAME_DECODED) {
            const int32_t n = decoder->frameSamples;
            pcm += n;
            *samplesOut += n;
            if (fillLevel(stream) < MP3_REFILL_THRESHOLD) {
                result = MP3_Refill(stream) == 0 ? MP3_INPUT_EXHAUSTED : MP3_OK;
                if (result == MP3_OK) setInputEnded(decoder, false);
            }
            if (++decoded == count) {
                setInputEnded(decoder, false);
                // Frames may still wait in the ring after a refill that got
                // nothing: report exhaustion only once the ring is empty, so a
                // host that stops at the first MP3_INPUT_EXHAUSTED loses none.
                if (result == MP3_INPUT_EXHAUSTED && stream->readIndex != stream->writeIndex) return MP3_OK;
                return result;
            }
        } else if (r == MP3_FRAME_NO_SYNC || r == MP3_FRAME_NEED_DATA) {
            if (MP3_Refill(stream) == 0) {
                // The input has ended: one more pass over what the ring holds,
                // in which a frame that ends exactly at its end is confirmed.
                if (stream->readIndex != stream->writeIndex && MP3_LoadSyncMemory(decoder).inputEnded == 0) {
                    setInputEnded(decoder, true);
                    continue;
                }
                setInputEnded(decoder, false);
                return MP3_INPUT_EXHAUSTED;
            }
            setInputEnded(decoder, false);
            result = MP3_OK;
        }
        // MP3_FRAME_NOT_DECODED and MP3_FRAME_BAD_HEADER: go on at once.
    }
}

namespace {

// Resets both records and the driver's memory of the stream. The drained
// ring's held-back byte is then no stream data: clear it, so the first refill
// does not keep a stale 0xFF in front.
void resetRecords(MP3_Decoder *decoder, MP3_Stream *stream) {
    MP3_ResetDecoder(decoder, stream);
    MP3_ClearSyncMemory(decoder);
    stream->buffer[0] = 0;
}

// The parameters of the most recently accepted frame, whose header the
// driver keeps; without one, those of the most recently parsed header.
void probedStreamInfo(const MP3_Decoder *decoder, int32_t *version, int32_t *sampleRate, int32_t *channels) {
    const MP3_SyncMemory memory = MP3_LoadSyncMemory(decoder);
    if (memory.accepted != 1) {
        MP3_GetStreamInfo(decoder, version, sampleRate, channels);
        return;
    }
    const uint8_t bytes[6] = {memory.acceptedHeader[0], memory.acceptedHeader[1], memory.acceptedHeader[2],
                              memory.acceptedHeader[3], 0, 0};
    const uint8_t *cursor = bytes;
    MP3_FrameHeader header{};
    MP3_ParseHeader(&cursor, &header);
    const int32_t rate = kMpeg1Rates[header.sampling_frequency & 3];
    const bool fff = (bytes[1] & 0x10) != 0;
    *version = header.ID == 1 ? 1 : (fff ? 0 : 2);
    *sampleRate = header.ID == 1 ? rate : (fff ? rate / 2 : rate / 4);
    *channels = header.mode == 3 ? 1 : 2;
}

}  // namespace

int32_t MP3_InitDecoderWithProbe(MP3_Stream *stream, MP3_Decoder *decoder, int32_t *bufferBytes,
                                 int32_t *sampleRate, int32_t *channels, int16_t *probe) {
    if (stream == nullptr || decoder == nullptr || bufferBytes == nullptr || sampleRate == nullptr ||
        channels == nullptr) {
        return MP3_ERR_PARAM;
    }
    resetRecords(decoder, stream);
    // Defined values before the probe, so the parameters never come from
    // whatever the host's record held.
    decoder->syncType = MP3_SYNC_FFE;
    decoder->sideInfoBytes[0] = 0;
    decoder->sideInfoBytes[1] = 0;

    // Without a probe buffer no probe runs and the defaults are reported.
    if (probe != nullptr) {
        int32_t samples = 0;
        MP3_DecodeFrames(stream, probe, &samples, MP3_PROBE_FRAMES, decoder);
    }

    int32_t version = 0;
    int32_t rate = 0;
    int32_t nch = 0;
    probedStreamInfo(decoder, &version, &rate, &nch);
    *sampleRate = rate;
    *channels = nch;
    *bufferBytes = bufferBytesPerChannel(version) * nch;

    // Everything the probe built up is discarded; the source is not rewound.
    resetRecords(decoder, stream);
    return 1;
}

}  // namespace mpfix

// ---- Exported functions (C linkage, declared in mpfix.h) ----

int32_t MP3_DecodeFrame(MP3_Stream *stream, int16_t *pcm, int32_t *samplesOut, int32_t count,
                        MP3_Decoder *decoder) {
    if (stream == nullptr || pcm == nullptr || samplesOut == nullptr || decoder == nullptr) return MP3_ERR_PARAM;
    return mpfix::MP3_DecodeFrames(stream, pcm, samplesOut, count, decoder);
}

int32_t MP3_InitDecoder(MP3_Stream *stream, MP3_Decoder *decoder, int32_t *bufferBytes, int32_t *sampleRate,
                        int32_t *channels) {
    if (stream == nullptr || decoder == nullptr || bufferBytes == nullptr || sampleRate == nullptr ||
        channels == nullptr) {
        return MP3_ERR_PARAM;
    }
    // The one allocation of the library: scratch PCM for the probe.
    void *probe = std::malloc(MP3_PROBE_BYTES);
    const int32_t result = mpfix::MP3_InitDecoderWithProbe(stream, decoder, bufferBytes, sampleRate, channels,
                                                           static_cast<int16_t *>(probe));
    std::free(probe);
    return result;
}
