// Whole-stream decoding through the public API: frames per second of the
// demo sample, from memory, one MP3_DecodeFrame call per 25 frames.
// Run: build/release/bench/decode_bench
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "memory_reader.h"
#include "mpfix.h"

namespace {

using mpfix_bench::Memory;
using mpfix_bench::readMemory;

void BM_DecodeSample(benchmark::State &state) {
    std::ifstream in(MPFIX_SOURCE_DIR "/samples/sample.mp3", std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty()) {
        state.SkipWithError("samples/sample.mp3 not found");
        return;
    }
    auto stream = std::make_unique<MP3_Stream>();
    auto decoder = std::make_unique<MP3_Decoder>();
    std::vector<int16_t> pcm(25 * 2304);
    int64_t frames = 0;
    for (auto _ : state) {
        Memory memory{&bytes, 0};
        stream->readFn = readMemory;
        stream->userData = &memory;
        int32_t bufferBytes, rate, channels;
        MP3_InitDecoder(stream.get(), decoder.get(), &bufferBytes, &rate, &channels);
        memory.position = 0;
        for (;;) {
            int32_t samples = 0;
            const int32_t result = MP3_DecodeFrame(stream.get(), pcm.data(), &samples, 25, decoder.get());
            frames += samples / (2 * channels * 576);
            benchmark::DoNotOptimize(pcm.data());
            if (result == MP3_INPUT_EXHAUSTED) break;
        }
    }
    state.SetItemsProcessed(frames);
}
BENCHMARK(BM_DecodeSample)->Unit(benchmark::kMillisecond);

}  // namespace
