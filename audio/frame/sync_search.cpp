#include "audio/frame/sync_search.h"

#include <cstring>

namespace mpfix {

namespace {

constexpr uint32_t kMask = MP3_RING_SIZE - 1;

uint8_t at(const MP3_Stream *stream, uint32_t index) { return stream->buffer[index & kMask]; }

// Bytes stored from index (at or after readIndex) through writeIndex, the
// held-back byte included: 1..65536.
uint32_t storedFrom(const MP3_Stream *stream, uint32_t index) {
    return ((stream->writeIndex - index) & kMask) + 1u;
}

// Every stored byte belongs to what is being skipped: drain the ring. Its
// held-back byte is skipped too, so clear it (a drained refill keeps a
// held-back 0xFF as the start of a pattern).
void skipAllStored(MP3_Stream *stream) {
    const uint32_t w = stream->writeIndex & kMask;
    stream->buffer[w] = 0;
    stream->readIndex = w;
}

// Whether the bytes at index, of which `stored` are in the ring, may begin an
// ID3v2 header that the ring does not yet hold whole.
bool mayBeTagStart(const MP3_Stream *stream, uint32_t index, uint32_t stored) {
    static const uint8_t kId[3] = {'I', 'D', '3'};
    for (uint32_t i = 0; i < stored && i < 10; ++i) {
        const uint8_t b = at(stream, index + i);
        if (i < 3 && b != kId[i]) return false;
        if ((i == 3 || i == 4) && b == 0xFF) return false;
        if (i >= 6 && b >= 0x80) return false;
    }
    return true;
}

// The header checks a confirming header must pass, and agreement with the
// candidate: same sync (0xFFF or 0xFFE), ID, Layer III, sampling_frequency,
// and free format (bitrate_index 0) on both or neither.
bool headerMatches(const MP3_Stream *stream, uint32_t index, const uint8_t *candidate) {
    const uint8_t b0 = at(stream, index);
    const uint8_t b1 = at(stream, index + 1);
    const uint8_t b2 = at(stream, index + 2);
    if (b0 != 0xFF || (b1 & 0xE0) != 0xE0) return false;
    if ((b1 & 0x18) == 0x08) return false;                    // reserved version
    if ((b1 & 0x1E) != (candidate[1] & 0x1E)) return false;  // sync, ID, layer
    if ((b1 & 0x06) != 0x02) return false;                    // Layer III
    const uint8_t index2 = static_cast<uint8_t>(b2 >> 4);
    if (index2 == 15 || ((b2 >> 2) & 3) == 3) return false;
    if ((b2 & 0x0C) != (candidate[2] & 0x0C)) return false;   // sampling_frequency
    return (index2 == 0) == ((candidate[2] >> 4) == 0);
}

}  // namespace

MP3_SyncMemory MP3_LoadSyncMemory(const MP3_Decoder *decoder) {
    MP3_SyncMemory memory;
    std::memcpy(&memory, decoder->sideInfoBytes + MP3_SYNC_MEMORY_OFFSET, sizeof memory);
    return memory;
}

void MP3_StoreSyncMemory(MP3_Decoder *decoder, const MP3_SyncMemory &memory) {
    std::memcpy(decoder->sideInfoBytes + MP3_SYNC_MEMORY_OFFSET, &memory, sizeof memory);
}

void MP3_ClearSyncMemory(MP3_Decoder *decoder) {
    std::memset(decoder->sideInfoBytes + MP3_SYNC_MEMORY_OFFSET, 0, sizeof(MP3_SyncMemory));
}

uint32_t MP3_Id3v2TagBytes(const uint8_t *b) {
    if (b[0] != 'I' || b[1] != 'D' || b[2] != '3' || b[3] == 0xFF || b[4] == 0xFF) return 0;
    if ((b[6] | b[7] | b[8] | b[9]) & 0x80) return 0;
    const uint32_t size = (uint32_t{b[6]} << 21) | (uint32_t{b[7]} << 14) | (uint32_t{b[8]} << 7) | b[9];
    return 10u + size + ((b[5] & 0x10) ? 10u : 0u);
}

MP3_ScanResult MP3_ScanForSync(MP3_Stream *stream, MP3_SyncMemory *memory, int32_t *syncType, bool *skipped) {
    uint32_t p = stream->readIndex & kMask;
    *skipped = false;
    if (memory->tagRemaining > 0) {
        *skipped = true;
        const uint32_t stored = storedFrom(stream, p);
        if (memory->tagRemaining >= stored) {
            memory->tagRemaining -= stored;
            skipAllStored(stream);
            *syncType = MP3_SYNC_FFE;
            return MP3_ScanResult::kDrained;
        }
        p = (p + memory->tagRemaining) & kMask;
        memory->tagRemaining = 0;
    }
    const uint32_t entry = p;
    for (;;) {
        const uint32_t stored = storedFrom(stream, p);
        const uint8_t b = at(stream, p);
        if (b == 0xFF && stored > 1) {
            const uint8_t next = at(stream, p + 1);
            if ((next & 0xE0) == 0xE0) {
                stream->readIndex = p;
                *syncType = (next & 0x10) ? MP3_SYNC_FFF : MP3_SYNC_FFE;
                *skipped = *skipped || p != entry;
                return MP3_ScanResult::kFound;
            }
        } else if (b == 'I') {
            if (stored < 10) {
                if (mayBeTagStart(stream, p, stored)) {
                    stream->readIndex = p;
                    *skipped = *skipped || p != entry;
                    return MP3_ScanResult::kNeedData;
                }
            } else {
                uint8_t head[10];
                for (uint32_t i = 0; i < 10; ++i) head[i] = at(stream, p + i);
                const uint32_t tag = MP3_Id3v2TagBytes(head);
                if (tag > 0) {
                    *skipped = true;
                    if (tag >= stored) {  // the rest of the tag arrives with later refills
                        memory->tagRemaining = tag - stored;
                        skipAllStored(stream);
                        *syncType = MP3_SYNC_FFE;
                        return MP3_ScanResult::kDrained;
                    }
                    p = (p + tag) & kMask;
                    continue;
                }
            }
        }
        if (stored == 1) {  // p is writeIndex: a held-back 0xFF survives the refill
            stream->readIndex = p;
            *syncType = MP3_SYNC_FFE;
            *skipped = true;
            return MP3_ScanResult::kDrained;
        }
        p = (p + 1) & kMask;
    }
}

uint8_t MP3_FreeFormatKey(const uint8_t *header) {
    const uint32_t id = (header[1] >> 3) & 1u;
    const uint32_t fff = (header[1] >> 4) & 1u;
    const uint32_t rate = (header[2] >> 2) & 3u;
    return static_cast<uint8_t>(1u + id + 2u * fff + 4u * rate);
}

MP3_Confirmation MP3_ConfirmFrame(const MP3_Stream *stream, uint32_t syncIndex, int32_t frameBytes,
                                  const uint8_t *header, bool inputEnded) {
    const uint32_t stored = storedFrom(stream, syncIndex);
    const uint32_t length = static_cast<uint32_t>(frameBytes);
    if (stored >= length + 4u) {
        return headerMatches(stream, syncIndex + length, header) ? MP3_Confirmation::kConfirmed
                                                                  : MP3_Confirmation::kRejected;
    }
    if (!inputEnded) return MP3_Confirmation::kNeedData;
    return stored == length ? MP3_Confirmation::kConfirmed : MP3_Confirmation::kRejected;
}

MP3_Confirmation MP3_MeasureFreeFormat(const MP3_Stream *stream, uint32_t syncIndex, const uint8_t *header,
                                       int32_t minBytes, int32_t maxBytes, bool inputEnded, int32_t *frameBytes) {
    const uint32_t stored = storedFrom(stream, syncIndex);
    const uint32_t padding = (header[2] >> 1) & 1u;
    for (uint32_t d = static_cast<uint32_t>(minBytes) + padding; d <= static_cast<uint32_t>(maxBytes) + padding; ++d) {
        if (d + 4u > stored) break;
        if (!headerMatches(stream, syncIndex + d, header)) continue;
        const uint32_t base = d - padding;
        const uint32_t next = base + ((at(stream, syncIndex + d + 2) >> 1) & 1u);
        if (d + next + 4u <= stored) {
            if (!headerMatches(stream, syncIndex + d + next, header)) continue;
        } else if (!inputEnded) {
            return MP3_Confirmation::kNeedData;
        } else if (d + next != stored) {
            continue;
        }
        *frameBytes = static_cast<int32_t>(base);
        return MP3_Confirmation::kConfirmed;
    }
    // A length no second and third header bear out is not taken, not even at
    // the end of the input, where any false candidate would reach to the end.
    const uint32_t reach = static_cast<uint32_t>(maxBytes) + padding + 4u;
    if (stored < reach && !inputEnded) return MP3_Confirmation::kNeedData;
    return MP3_Confirmation::kRejected;
}

}  // namespace mpfix
