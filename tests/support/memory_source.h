// Test host: a read callback over bytes in memory that records every call and
// can deliver in pieces, and a decode loop through the public API.
#ifndef MPFIX_TESTS_SUPPORT_MEMORY_SOURCE_H
#define MPFIX_TESTS_SUPPORT_MEMORY_SOURCE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "mpfix.h"

namespace mpfix::test {

struct CallbackCall {
    std::ptrdiff_t offset;  // destination - start of the ring
    int32_t maxBytes;
};

struct MemorySource {
    std::vector<uint8_t> data;
    size_t position = 0;
    int32_t pieceBytes = 0;  // at most this many bytes a call; 0 = no limit
    const uint8_t *ring = nullptr;
    std::vector<CallbackCall> calls;

    static int32_t read(uint8_t *destination, int32_t maxBytes, void *userData) {
        auto *self = static_cast<MemorySource *>(userData);
        self->calls.push_back({self->ring != nullptr ? destination - self->ring : 0, maxBytes});
        size_t n = std::min(static_cast<size_t>(std::max(maxBytes, 0)), self->data.size() - self->position);
        if (self->pieceBytes > 0) n = std::min(n, static_cast<size_t>(self->pieceBytes));
        if (n > 0) std::memcpy(destination, self->data.data() + self->position, n);
        self->position += n;
        return static_cast<int32_t>(n);
    }
};

// The two host records with a memory source attached (heap: the ring is 64 KiB).
struct Host {
    MP3_Stream stream{};
    MP3_Decoder decoder{};
    MemorySource source;

    explicit Host(std::vector<uint8_t> bytes, int32_t pieceBytes = 0) {
        source.data = std::move(bytes);
        source.pieceBytes = pieceBytes;
        source.ring = stream.buffer;
        stream.readFn = &MemorySource::read;
        stream.userData = &source;
    }
};

struct DecodeResult {
    int32_t bufferBytes = 0;
    int32_t sampleRate = 0;
    int32_t channels = 0;
    std::vector<int16_t> pcm;
    int calls = 0;  // MP3_DecodeFrame calls
};

// What a host does: MP3_InitDecoder, reposition the source to its start, then
// MP3_DecodeFrame with `count` frames per call until it returns
// MP3_INPUT_EXHAUSTED.
inline DecodeResult decodeStream(const std::vector<uint8_t> &bytes, int32_t pieceBytes = 0, int32_t count = 25) {
    auto host = std::make_unique<Host>(bytes, pieceBytes);
    DecodeResult result;
    MP3_InitDecoder(&host->stream, &host->decoder, &result.bufferBytes, &result.sampleRate, &result.channels);
    host->source.position = 0;
    std::vector<int16_t> buffer(static_cast<size_t>(count) * 2304);
    for (;;) {
        int32_t samples = 0;
        const int32_t status = MP3_DecodeFrame(&host->stream, buffer.data(), &samples, count, &host->decoder);
        ++result.calls;
        result.pcm.insert(result.pcm.end(), buffer.begin(), buffer.begin() + samples);
        if (status == MP3_INPUT_EXHAUSTED) break;
    }
    return result;
}

}  // namespace mpfix::test

#endif  // MPFIX_TESTS_SUPPORT_MEMORY_SOURCE_H
