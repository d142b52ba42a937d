// Shared by the variant checks of the video kernels: a seeded SplitMix64
// generator, so every run and every platform sees the same inputs.
#ifndef MPFIX_TESTS_VIDEO_VARIANT_CHECK_H
#define MPFIX_TESTS_VIDEO_VARIANT_CHECK_H

#include <cstdint>

namespace mpfix_test {

struct SplitMix64 {
    uint64_t state;

    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in lo..hi (inclusive); the bias of the modulo is irrelevant here.
    int32_t range(int32_t lo, int32_t hi) {
        const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(hi) - lo + 1);
        return static_cast<int32_t>(lo + static_cast<int64_t>(next() % span));
    }
};

}  // namespace mpfix_test

#endif  // MPFIX_TESTS_VIDEO_VARIANT_CHECK_H
