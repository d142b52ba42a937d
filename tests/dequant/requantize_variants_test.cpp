// Every requantization variant this machine can run, called explicitly,
// against the reference, bit for bit: outputs, untouched positions after a
// magnitude above 8206, results, in place and into a separate array.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "audio/dequant/requantize.h"
#include "mpfix.h"
#include "support/random.h"

namespace {

using mpfix::test::SplitMix64;

// Mostly the small magnitudes of real spectra, some escapes, and rarely a
// value past 8206 or an extreme word.
int32_t quantized(SplitMix64 &rng) {
    const uint64_t r = rng.next();
    int32_t v;
    switch (r % 16) {
        case 0: v = static_cast<int32_t>((r >> 8) % 8207); break;
        case 1: v = static_cast<int32_t>((r >> 8) % 129); break;
        case 2: v = (r >> 8) % 64 == 0 ? 8207 + static_cast<int32_t>((r >> 16) % 4) : 15; break;
        case 3: v = (r >> 8) % 128 == 0 ? INT32_MIN : 16; break;
        default: v = static_cast<int32_t>((r >> 8) % 16); break;
    }
    return (r >> 40) & 1 ? static_cast<int32_t>(0u - static_cast<uint32_t>(v)) : v;
}

int32_t attenuation(SplitMix64 &rng) {
    static constexpr int32_t kEdges[] = {0, 1, 2, 3, 4, 5, 26, 120, 127, 128, 200, 400, -1, -4, -130, INT32_MIN, INT32_MAX};
    const uint64_t r = rng.next();
    return r % 4 == 0 ? kEdges[(r >> 8) % std::size(kEdges)] : static_cast<int32_t>((r >> 8) % 401);
}

TEST(RequantizeBandVariants, ReferenceComesFirst) {
    const auto variants = mpfix::RequantizeBandVariants();
    ASSERT_FALSE(variants.empty());
    EXPECT_STREQ(variants[0].name, "ref");
#if MPFIX_PLAIN_KERNELS
    EXPECT_EQ(variants.size(), 1u);
#else
    EXPECT_GE(variants.size(), 2u);
#endif
}

TEST(RequantizeBandVariants, MatchReference) {
    const auto reference = mpfix::RequantizeBandVariants()[0];
    for (const auto &variant : mpfix::RequantizeBandVariants()) {
        SplitMix64 rng{42};
        for (int run = 0; run < 600; ++run) {
            std::array<int32_t, 64> in{};
            for (auto &v : in) v = quantized(rng);
            // Clean runs too, so the vector paths are taken.
            if (run % 3 == 0)
                for (auto &v : in) v = static_cast<int32_t>(static_cast<uint32_t>(v) % 16) - 8;
            const int32_t count = 1 + static_cast<int32_t>(rng.next() % 64);
            const int32_t code = attenuation(rng);
            std::array<int32_t, 64> refOut, fastOut;
            refOut.fill(0x55555555);
            fastOut.fill(0x55555555);
            const int32_t refResult = reference.fn(in.data(), refOut.data(), count, code);
            const int32_t fastResult = variant.fn(in.data(), fastOut.data(), count, code);
            const std::string where = std::string(variant.name) + " run " + std::to_string(run) + " code " +
                                      std::to_string(code) + " count " + std::to_string(count);
            ASSERT_EQ(refResult, fastResult) << where;
            ASSERT_EQ(refOut, fastOut) << where;
            // In place.
            std::array<int32_t, 64> inPlace = in;
            ASSERT_EQ(variant.fn(inPlace.data(), inPlace.data(), count, code), refResult) << where;
            for (int32_t i = 0; i < 64; ++i) {
                const int32_t expected = refOut[static_cast<size_t>(i)] == 0x55555555 ? in[static_cast<size_t>(i)]
                                                                                       : refOut[static_cast<size_t>(i)];
                ASSERT_EQ(inPlace[static_cast<size_t>(i)], expected) << where << " index " << i;
            }
        }
    }
}

}  // namespace
