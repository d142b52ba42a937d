// Per-call cost of the exported kernels: one synthesis slot, one IDCT block.
// Run: build/release/bench/kernels_bench
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>

#include "mpfix.h"

namespace {

void BM_SynthPQMF(benchmark::State &state) {
    std::mt19937 rng(1);
    std::uniform_int_distribution<int32_t> dist(-(1 << 22), 1 << 22);
    int32_t slots[64][32];
    for (auto &slot : slots)
        for (auto &s : slot) s = dist(rng);
    static int32_t history[MP3_SYNTH_HISTORY];
    int32_t position = 0;
    int32_t samples[32];
    int16_t pcm[64];
    const int32_t stride = static_cast<int32_t>(state.range(0));
    size_t i = 0;
    for (auto _ : state) {
        std::memcpy(samples, slots[i++ & 63], sizeof samples);
        MP3_SynthPQMF(samples, pcm, history, &position, stride);
        benchmark::DoNotOptimize(pcm);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SynthPQMF)->Arg(1)->Arg(2);

void BM_DCTInv8x8(benchmark::State &state) {
    std::mt19937 rng(2);
    std::uniform_int_distribution<int> dist(-256, 255);
    int16_t blocks[64][64];
    for (auto &block : blocks)
        for (int k = 0; k < 64; ++k)
            // Typical MPEG blocks: energy in the low frequencies, zeros above.
            block[k] = static_cast<int16_t>((k % 8) + (k / 8) < state.range(0) ? dist(rng) : 0);
    int16_t block[64];
    size_t i = 0;
    for (auto _ : state) {
        std::memcpy(block, blocks[i++ & 63], sizeof block);
        MPG_DCTInv_8x8(block);
        benchmark::DoNotOptimize(block);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DCTInv8x8)->Arg(3)->Arg(15);

}  // namespace
