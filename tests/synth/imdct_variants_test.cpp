// Every alias-reduction variant this machine can run, called explicitly,
// against the reference bit for bit over all 576 lines: random lines of
// real-signal size, full words and words near +-2^31 (where the doubling
// wraps), and subband counts from below 0 to above 32.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "audio/synth/imdct.h"
#include "support/random.h"

using namespace mpfix;

namespace {

using mpfix::test::SplitMix64;

int32_t line(SplitMix64 &rng, int kind) {
    const uint64_t r = rng.next();
    switch (kind) {
    case 0: return static_cast<int32_t>(static_cast<int64_t>(r % (1u << 29)) - (1 << 28));
    case 1: return static_cast<int32_t>(static_cast<uint32_t>(r));
    default: {
        const int32_t near = static_cast<int32_t>(r % 4);
        return (r >> 8) % 2 != 0 ? INT32_MAX - near : INT32_MIN + near;
    }
    }
}

TEST(AliasReduceVariants, MatchTheReferenceBitForBit) {
    SplitMix64 rng{99};
    for (int round = 0; round < 90; ++round) {
        const int kind = round % 3;
        const int32_t subbands = static_cast<int32_t>(rng.next() % 36) - 1;  // -1 .. 34
        std::array<int32_t, 576> in;
        for (auto &v : in) v = line(rng, kind);
        std::array<int32_t, 576> ref = in;
        MP3_AliasReduce_ref(ref.data(), subbands);
        for (const auto &variant : AliasReduceVariants()) {
            SCOPED_TRACE(testing::Message() << variant.name << ", subbands " << subbands);
            std::array<int32_t, 576> got = in;
            variant.fn(got.data(), subbands);
            ASSERT_EQ(got, ref);
        }
    }
}

TEST(AliasReduceVariants, ListStartsWithTheReference) {
    const auto variants = AliasReduceVariants();
    ASSERT_FALSE(variants.empty());
    EXPECT_STREQ(variants[0].name, "ref");
    EXPECT_EQ(variants[0].fn, &MP3_AliasReduce_ref);
#if !MPFIX_PLAIN_KERNELS && defined(__ARM_NEON)
    ASSERT_EQ(variants.size(), 2u);
    EXPECT_STREQ(variants[1].name, "neon");
#endif
}

}  // namespace
