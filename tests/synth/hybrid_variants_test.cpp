// Every variant of the four-subband long-block kernel this machine can run,
// called explicitly, against the reference bit for bit: slot-major outputs
// (and the words around them untouched) and the overlap kept for the next
// granule, on random lines of real-signal size, on words near +-2^31 where
// the transform wraps, and at every even subband position.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "audio/synth/hybrid.h"
#include "support/random.h"

using namespace mpfix;

namespace {

using mpfix::test::SplitMix64;

// Requantized lines up to about +-2^25 (real values up to 1/2), full words,
// or words next to the extremes.
int32_t line(SplitMix64 &rng, int kind) {
    const uint64_t r = rng.next();
    switch (kind) {
    case 0: return static_cast<int32_t>(static_cast<int64_t>(r % (1u << 26)) - (1 << 25));
    case 1: return static_cast<int32_t>(static_cast<uint32_t>(r));
    default: {
        const int32_t near = static_cast<int32_t>(r % 4);
        return (r >> 8) % 2 != 0 ? INT32_MAX - near : INT32_MIN + near;
    }
    }
}

struct Channel {
    std::array<int32_t, 576> lines, output, overlap;
};

TEST(HybridLong4Variants, MatchTheReferenceBitForBit) {
    SplitMix64 rng{2024};
    for (int round = 0; round < 120; ++round) {
        const int kind = round % 3;
        const int32_t sb = 2 * static_cast<int32_t>(rng.next() % 15);  // 0, 2 .. 28
        const int32_t blockType = static_cast<int32_t>(rng.next() % 4);
        Channel in;
        for (auto &v : in.lines) v = line(rng, kind);
        for (auto &v : in.overlap) v = line(rng, kind == 2 ? 1 : kind);
        for (auto &v : in.output) v = static_cast<int32_t>(rng.next());
        Channel ref = in;
        MP3_HybridLong4_ref(ref.lines.data() + 18 * sb, ref.output.data(), ref.overlap.data() + 18 * sb, sb,
                            blockType);
        for (const auto &variant : HybridLong4Variants()) {
            SCOPED_TRACE(testing::Message() << variant.name << ", round " << round);
            Channel got = in;
            variant.fn(got.lines.data() + 18 * sb, got.output.data(), got.overlap.data() + 18 * sb, sb, blockType);
            ASSERT_EQ(got.output, ref.output);
            ASSERT_EQ(got.overlap, ref.overlap);
        }
    }
}

TEST(HybridLong4Variants, ListStartsWithTheReference) {
    const auto variants = HybridLong4Variants();
    ASSERT_FALSE(variants.empty());
    EXPECT_STREQ(variants[0].name, "ref");
    EXPECT_EQ(variants[0].fn, &MP3_HybridLong4_ref);
#if !MPFIX_PLAIN_KERNELS && defined(__ARM_NEON)
    ASSERT_EQ(variants.size(), 2u);
    EXPECT_STREQ(variants[1].name, "neon");
#endif
}

}  // namespace
