// libFuzzer target: any byte string through MP3_InitDecoder and MP3_DecodeFrame,
// delivered in pieces whose sizes come from the input itself (first byte).
// Inputs are capped at a few frames' worth so that a run tries hundreds of
// inputs a second; longer streams and the ring's wrap-around are the damage
// sweep's (tests/frame/real_files_test.cpp). Built with clang:
//   scripts/fuzz.sh [seconds] [decode|kernel ...]
// The committed corpus in tests/corpus/decode is replayed by CTest.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "mpfix.h"

namespace {

struct Source {
    const uint8_t *data;
    size_t size;
    size_t position;
    uint8_t piece;  // 0: as much as asked
};

int32_t readSource(uint8_t *destination, int32_t maxBytes, void *userData) {
    auto *s = static_cast<Source *>(userData);
    size_t n = std::min(static_cast<size_t>(maxBytes), s->size - s->position);
    if (s->piece != 0) n = std::min(n, static_cast<size_t>(s->piece));
    std::memcpy(destination, s->data + s->position, n);
    s->position += n;
    return static_cast<int32_t>(n);
}

// One control byte and up to 4 KiB of stream.
constexpr size_t kMaxInput = 1 + 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    size = std::min(size, kMaxInput);
    static auto stream = std::make_unique<MP3_Stream>();
    static auto decoder = std::make_unique<MP3_Decoder>();
    static std::vector<int16_t> pcm(4 * 2304);
    Source source{data + 1, size - 1, 0, static_cast<uint8_t>(data[0] & 0x0F ? data[0] : 0)};
    stream->readFn = readSource;
    stream->userData = &source;
    int32_t bufferBytes, rate, channels;
    MP3_InitDecoder(stream.get(), decoder.get(), &bufferBytes, &rate, &channels);
    source.position = 0;
    for (int calls = 0; calls < 10000; ++calls) {
        int32_t samples = 0;
        if (MP3_DecodeFrame(stream.get(), pcm.data(), &samples, 4, decoder.get()) == MP3_INPUT_EXHAUSTED) break;
    }
    return 0;
}
