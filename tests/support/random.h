// The seeded generator of the tests (SplitMix64): the same numbers on every
// platform, compiler and run, so a failure found anywhere repeats everywhere.
#ifndef MPFIX_TESTS_SUPPORT_RANDOM_H
#define MPFIX_TESTS_SUPPORT_RANDOM_H

#include <cstdint>

namespace mpfix::test {

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
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
    uint8_t byte() { return static_cast<uint8_t>(next() >> 56); }
    int32_t word() { return static_cast<int32_t>(static_cast<uint32_t>(next())); }
};

}  // namespace mpfix::test

#endif  // MPFIX_TESTS_SUPPORT_RANDOM_H
