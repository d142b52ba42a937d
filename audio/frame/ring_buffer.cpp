#include "audio/frame/ring_buffer.h"

#include <cstring>

namespace mpfix {

namespace {

constexpr uint32_t kIndexMask = MP3_RING_SIZE - 1;

// One callback call into the ring at offset. A result outside 0..maxBytes
// breaks the callback's contract; it is clamped so that the indexes derived
// from it stay meaningful.
int32_t readFromHost(MP3_Stream *stream, uint32_t offset, int32_t maxBytes) {
    const int32_t got = stream->readFn(stream->buffer + (offset & kIndexMask), maxBytes, stream->userData);
    if (got < 0) return 0;
    return got > maxBytes ? maxBytes : got;
}

// r < w: the free space runs from w + 1 to the end of the ring, then from 0 to
// r - 1. The second call happens only when the first filled its stretch.
int32_t refillWrapping(MP3_Stream *stream, uint32_t r, uint32_t w) {
    const int32_t tail = static_cast<int32_t>(kIndexMask - w);
    const int32_t m = readFromHost(stream, w + 1, tail);
    if (m == tail && r > 0) {
        const int32_t k = readFromHost(stream, 0, static_cast<int32_t>(r));
        // With k = 0 the last stored byte is the one at 65535.
        stream->writeIndex = (static_cast<uint32_t>(k) - 1u) & kIndexMask;
        return m + k;
    }
    stream->writeIndex = w + static_cast<uint32_t>(m);
    return m;
}

// r > w: one contiguous free stretch from w + 1 to r - 1.
int32_t refillGap(MP3_Stream *stream, uint32_t r, uint32_t w) {
    const int32_t m = readFromHost(stream, w + 1, static_cast<int32_t>(r - w - 1));
    stream->writeIndex = w + static_cast<uint32_t>(m);
    return m;
}

// Drained: the whole ring is free; restart at index 0. A held-back 0xFF may be
// the first byte of a sync pattern whose second byte is still to come (a scan
// or a frame stopped just before it), and a held-back 'I' the first byte of an
// ID3v2 tag: it is kept as the first byte of the restarted ring, or a frame
// (or the tag's end) would be lost wherever the input arrives in pieces. Any
// other held-back byte can begin neither and is dropped. (The frame driver
// clears a held-back byte it consumed, so that is never kept.)
int32_t refillDrained(MP3_Stream *stream, uint32_t w) {
    stream->readIndex = 0;
    const uint8_t held = stream->buffer[w];
    if (held == 0xFF || held == 'I') {
        stream->buffer[0] = held;
        const int32_t n = readFromHost(stream, 1, MP3_RING_SIZE - 1);
        stream->writeIndex = static_cast<uint32_t>(n);
        return n;
    }
    const int32_t n = readFromHost(stream, 0, MP3_RING_SIZE);
    stream->writeIndex = n > 0 ? static_cast<uint32_t>(n - 1) : 0u;
    return n;
}

}  // namespace

int32_t MP3_Refill(MP3_Stream *stream) {
    if (stream->readFn == nullptr) return 0;
    const uint32_t r = stream->readIndex & kIndexMask;
    const uint32_t w = stream->writeIndex & kIndexMask;
    if (r < w) return refillWrapping(stream, r, w);
    if (r > w) return refillGap(stream, r, w);
    return refillDrained(stream, w);
}

int32_t MP3_ReadBytes(MP3_Stream *stream, uint8_t *destination, int32_t count) {
    const uint32_t r = stream->readIndex & kIndexMask;
    const uint32_t w = stream->writeIndex & kIndexMask;
    // The byte at writeIndex is held back; the rest is copied in at most two
    // stretches (up to the ring's end, then from its start).
    const uint32_t held = (w - r) & kIndexMask;
    const uint32_t wanted = count <= 0 ? 0u : static_cast<uint32_t>(count);
    const uint32_t n = wanted < held ? wanted : held;
    const uint32_t toEnd = MP3_RING_SIZE - r;
    const uint32_t first = n < toEnd ? n : toEnd;
    if (first > 0) std::memcpy(destination, stream->buffer + r, first);
    if (n > first) std::memcpy(destination + first, stream->buffer, n - first);
    stream->readIndex = (r + n) & kIndexMask;
    return static_cast<int32_t>(n);
}

int32_t MP3_BytesAvailable(const MP3_Stream *stream) {
    const uint32_t r = stream->readIndex & kIndexMask;
    const uint32_t w = stream->writeIndex & kIndexMask;
    // Modulo the ring size, plus the held-back byte: 1..65536.
    return static_cast<int32_t>(((w - r) & kIndexMask) + 1u);
}

int32_t MP3_FindSync(MP3_Stream *stream, int32_t *syncType) {
    const uint32_t w = stream->writeIndex & kIndexMask;
    uint32_t pos = stream->readIndex & kIndexMask;
    // prev starts at 0, so a 0xFF just before readIndex does not count.
    uint32_t prev = 0;
    for (;;) {
        const uint32_t b = stream->buffer[pos];
        const uint32_t window = ((prev << 8) | b) & 0xFFF0u;
        if (window == 0xFFF0u || window == 0xFFE0u) {
            stream->readIndex = (pos - 1u) & kIndexMask;  // the 0xFF byte
            *syncType = window == 0xFFF0u ? MP3_SYNC_FFF : MP3_SYNC_FFE;
            return 1;
        }
        // The held-back byte takes part as a second byte, then the scan ends.
        if (pos == w) {
            stream->readIndex = w;
            *syncType = MP3_SYNC_FFE;
            return 0;
        }
        prev = b;
        pos = (pos + 1) & kIndexMask;
    }
}

}  // namespace mpfix
