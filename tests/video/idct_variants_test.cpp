// Every inverse DCT variant this machine runs gives the reference's 64
// outputs bit for bit: random blocks over the whole 16-bit range and at every
// density, and the extremes where the 32-bit arithmetic wraps.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "video/idct.h"
#include "support/random.h"

namespace {

using Block = std::array<int16_t, 64>;
using mpfix::test::SplitMix64;

// Blocks to try: each a function of a generator and the index of the block.
std::vector<Block> inputBlocks() {
    std::vector<Block> blocks;
    SplitMix64 rng{20261210};
    // Uniform over the whole range, at densities from one coefficient to all 64.
    for (int n = 0; n < 1500; ++n) {
        Block b{};
        const int density = 1 + n % 64;
        for (size_t i = 0; i < 64; ++i)
            if (rng.range(0, 63) < density) b[i] = static_cast<int16_t>(rng.range(-32768, 32767));
        blocks.push_back(b);
    }
    // The range of MPEG coefficients, and the low-frequency corner that typical blocks fill.
    for (int n = 0; n < 500; ++n) {
        Block b{};
        const int reach = 1 + n % 15;
        for (size_t i = 0; i < 64; ++i)
            if (static_cast<int>(i % 8 + i / 8) < reach) b[i] = static_cast<int16_t>(rng.range(-2048, 2047));
        blocks.push_back(b);
    }
    // Only the extremes -32768 and 32767, and 0: products and sums wrap in every pass.
    const int16_t extremes[3] = {-32768, 32767, 0};
    for (int n = 0; n < 300; ++n) {
        Block b{};
        for (int16_t &c : b) c = extremes[rng.range(0, n < 100 ? 1 : 2)];
        blocks.push_back(b);
    }
    // One coefficient at an extreme in every position, alone and over a full -32768 block.
    for (size_t i = 0; i < 64; ++i)
        for (int16_t v : {int16_t{-32768}, int16_t{32767}, int16_t{-1}, int16_t{1}}) {
            Block alone{};
            alone[i] = v;
            blocks.push_back(alone);
            Block full;
            full.fill(-32768);
            full[i] = v;
            blocks.push_back(full);
        }
    return blocks;
}

TEST(IdctVariants, ListStartsWithTheReference) {
    const auto variants = mpfix::DCTInv_8x8Variants();
    ASSERT_FALSE(variants.empty());
    EXPECT_STREQ(variants.front().name, "ref");
    EXPECT_EQ(variants.front().fn, &mpfix::MPG_DCTInv_8x8_ref);
    for (const auto &v : variants) std::printf("IDCT variant: %s\n", v.name);
}

TEST(IdctVariants, EveryVariantMatchesTheReferenceBitForBit) {
    const std::vector<Block> blocks = inputBlocks();
    for (const auto &variant : mpfix::DCTInv_8x8Variants()) {
        for (size_t n = 0; n < blocks.size(); ++n) {
            Block want = blocks[n], got = blocks[n];
            mpfix::MPG_DCTInv_8x8_ref(want.data());
            variant.fn(got.data());
            ASSERT_EQ(got, want) << variant.name << " block " << n;
        }
    }
}

// The exported entry gives what the reference gives, and refuses a null block.
TEST(IdctVariants, ExportedEntryMatchesReference) {
    const std::vector<Block> blocks = inputBlocks();
    for (size_t n = 0; n < blocks.size(); n += 7) {
        Block want = blocks[n], got = blocks[n];
        mpfix::MPG_DCTInv_8x8_ref(want.data());
        ASSERT_EQ(MPG_DCTInv_8x8(got.data()), 0);
        ASSERT_EQ(got, want) << "block " << n;
    }
    EXPECT_EQ(MPG_DCTInv_8x8(nullptr), MP3_ERR_PARAM);
}

}  // namespace
