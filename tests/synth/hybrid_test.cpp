// The hybrid filterbank stage over sequences of granules: subband limits,
// overlap-add and flush, mixed blocks, frequency inversion and argument
// checks, measured against a double-precision model of ISO/IEC 11172-3.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>

#include "audio/synth/hybrid.h"
#include "audio/synth/imdct.h"
#include "mpfix.h"
#include "synth/imdct_model.h"

using namespace mpfix;

namespace {

using mpfix::test::kPi;
using mpfix::test::modelLong;
using mpfix::test::modelShort;

// One channel's slice of the decoder record, as the frame driver hands it over.
struct Channel {
    int32_t spectrum[576] = {};
    int32_t output[576] = {};
    int32_t overlap[576] = {};
    int32_t prevSubbands = 0;

    int32_t run(int32_t bound, int32_t blockType, int32_t mixed) {
        return MP3_HybridSynthesis(spectrum, output, overlap, bound, &prevSubbands, blockType, mixed);
    }
    int32_t out(int slot, int sb) const { return output[32 * slot + sb]; }
};

// 36 outputs of the long transform of an impulse of `value` at line `line`.
std::array<int32_t, 36> longImpulse(int line, int32_t value, int32_t blockType) {
    int32_t x[18] = {};
    x[line] = value;
    std::array<int32_t, 36> z{};
    MP3_IMDCTLong(x, z.data(), blockType);
    return z;
}

// ---- Double-precision model --------------------------------------------------

// The stage written from the standard's definitions: real butterflies, direct
// IMDCT sums, overlap-add and inversion, with the same subband limits.
struct Model {
    double overlap[576] = {};
    int prevSubbands = 0;
    double output[576] = {};

    static int limit(int bound, int blockType, int mixed) {
        int l = blockType != 2 ? (bound + 8) / 18 + 1 : static_cast<int>(std::ceil(bound / 18.0));
        if (blockType == 2 && mixed == 1) l = std::max(l, 2);
        return std::min(l, 32);
    }

    void run(const int32_t *spectrum, int bound, int blockType, int mixed) {
        const double c[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
        double x[576];
        std::copy(spectrum, spectrum + 576, x);
        const int l = limit(bound, blockType, mixed);
        const int aliasCount = blockType != 2 ? l : mixed == 1 ? std::min(l, 2) : 0;
        for (int k = 1; k < aliasCount; ++k) {
            for (int i = 0; i < 8; ++i) {
                const double cs = 1.0 / std::sqrt(1 + c[i] * c[i]);
                const double ca = c[i] * cs;
                const double lo = x[18 * k + i];
                const double up = x[18 * k - 1 - i];
                x[18 * k + i] = cs * lo + ca * up;
                x[18 * k - 1 - i] = cs * up - ca * lo;
            }
        }
        const int count = std::max(prevSubbands, l);
        for (int sb = 0; sb < 32; ++sb) {
            double z[36] = {};
            if (sb < l) {
                const bool lowMixed = sb < 2 && mixed == 1;
                if (blockType != 2 || lowMixed) {
                    modelLong(x + 18 * sb, lowMixed ? 0 : blockType, z);
                } else {
                    modelShort(x + 18 * sb, z);
                }
            }
            for (int k = 0; k < 18; ++k) {
                const double v = sb < count ? z[k] + overlap[18 * sb + k] : 0.0;
                output[32 * k + sb] = (sb & 1) && (k & 1) ? -v : v;
                if (sb < count) overlap[18 * sb + k] = z[18 + k];
            }
        }
        prevSubbands = l;
    }
};

// ---- Tests -------------------------------------------------------------------

TEST(HybridSynthesis, FirstGranuleAfterResetThenFlush) {
    Channel ch;
    ch.spectrum[0] = 0x04000000;
    std::fill(ch.output, ch.output + 576, 0x7777);
    const auto z = longImpulse(0, 0x04000000, 0);
    ASSERT_EQ(ch.run(1, 0, 0), 0);
    EXPECT_EQ(ch.prevSubbands, 1);
    EXPECT_EQ(ch.out(0, 0), 494404);
    EXPECT_EQ(ch.out(17, 0), -11323733);
    for (int k = 0; k < 18; ++k) {
        EXPECT_EQ(ch.out(k, 0), z[static_cast<size_t>(k)]) << k;
        EXPECT_EQ(ch.overlap[k], z[static_cast<size_t>(18 + k)]) << k;
        for (int sb = 1; sb < 32; ++sb) EXPECT_EQ(ch.out(k, sb), 0) << k << "," << sb;
    }
    EXPECT_EQ(ch.overlap[0], -12357690);
    for (int i = 18; i < 576; ++i) EXPECT_EQ(ch.overlap[i], 0) << i;

    // Next granule is silent: the stored half comes out and the memory clears.
    std::fill(ch.spectrum, ch.spectrum + 576, 0);
    std::fill(ch.output, ch.output + 576, 0x7777);
    ASSERT_EQ(ch.run(0, 0, 0), 0);
    EXPECT_EQ(ch.prevSubbands, 1);
    EXPECT_EQ(ch.out(0, 0), -12357690);
    for (int k = 0; k < 18; ++k) {
        EXPECT_EQ(ch.out(k, 0), z[static_cast<size_t>(18 + k)]) << k;
        for (int sb = 1; sb < 32; ++sb) EXPECT_EQ(ch.out(k, sb), 0) << k << "," << sb;
    }
    for (int i = 0; i < 576; ++i) EXPECT_EQ(ch.overlap[i], 0) << i;
}

// Every bound 0..576 with each block layout: the subband count recorded is the
// number of subbands that can be nonzero, and every output word is written.
TEST(HybridSynthesis, SubbandLimitForEveryBound) {
    struct Layout {
        int32_t blockType;
        int32_t mixed;
    };
    const Layout layouts[] = {{0, 0}, {1, 0}, {3, 0}, {2, 0}, {2, 1}, {1, 1}, {3, 1}};
    for (const Layout &layout : layouts) {
        for (int32_t bound = 0; bound <= 576; ++bound) {
            Channel ch;
            std::fill(ch.output, ch.output + 576, -5);
            ASSERT_EQ(ch.run(bound, layout.blockType, layout.mixed), 0);
            ASSERT_EQ(ch.prevSubbands, Model::limit(bound, layout.blockType, layout.mixed))
                << layout.blockType << "/" << layout.mixed << " bound " << bound;
            ASSERT_TRUE(std::all_of(ch.output, ch.output + 576, [](int32_t v) { return v == 0; })) << bound;
        }
    }
    struct Listed {
        int32_t bound, blockType, mixed, limit;
    };
    const Listed listed[] = {{576, 0, 0, 32}, {10, 0, 0, 2}, {9, 0, 0, 1}, {0, 0, 0, 1},
                             {0, 2, 0, 0},    {0, 2, 1, 2},  {1, 2, 0, 1}, {19, 2, 0, 2}, {576, 2, 0, 32}};
    for (const Listed &c : listed) {
        Channel ch;
        ch.run(c.bound, c.blockType, c.mixed);
        EXPECT_EQ(ch.prevSubbands, c.limit) << c.bound << "," << c.blockType << "," << c.mixed;
    }
}

// A sequence of granules switching between block layouts and bounds follows
// the model, and overlap above the recorded subband count stays zero.
TEST(HybridSynthesis, TracksTheDefinitionOverASequenceOfGranules) {
    struct Granule {
        int32_t blockType, mixed, bound;
    };
    const Granule sequence[] = {
        {0, 0, 576}, {1, 0, 300}, {2, 0, 200}, {2, 0, 0},   {3, 0, 100}, {0, 0, 9},   {0, 0, 0},
        {1, 1, 400}, {2, 1, 50},  {2, 1, 576}, {3, 1, 250}, {0, 0, 576}, {2, 0, 576}, {3, 0, 1},
        {0, 0, 0},   {2, 1, 0},   {0, 0, 37},  {2, 0, 19},  {1, 0, 576}, {3, 1, 30},  {0, 0, 0},
    };
    std::mt19937 rng(31);
    std::uniform_int_distribution<int32_t> value(-(1 << 24), 1 << 24);
    Channel ch;
    Model model;
    double worst = 0;
    for (const Granule &g : sequence) {
        for (int i = 0; i < 576; ++i) ch.spectrum[i] = i < g.bound ? value(rng) : 0;
        model.run(ch.spectrum, g.bound, g.blockType, g.mixed);
        ASSERT_EQ(ch.run(g.bound, g.blockType, g.mixed), 0);
        ASSERT_EQ(ch.prevSubbands, model.prevSubbands);
        for (int i = 0; i < 576; ++i) {
            worst = std::max(worst, std::fabs(ch.output[i] - model.output[i]));
            worst = std::max(worst, std::fabs(ch.overlap[i] - model.overlap[i]));
        }
        for (int i = 18 * ch.prevSubbands; i < 576; ++i) ASSERT_EQ(ch.overlap[i], 0) << i;
    }
    // Alias rounding (3 units a line) through the transform plus its own 16,
    // on both halves of the overlap-add.
    EXPECT_LE(worst, 64.0);
}

// With the mixed flag, subbands 0 and 1 take the normal window whatever the
// block type; subband 2 takes the block type's own. Impulses sit on lines the
// alias butterflies leave alone (offsets 8 and 9).
TEST(HybridSynthesis, MixedBlocksUseTheNormalWindowBelowSubbandTwo) {
    constexpr int32_t kOne = 0x04000000;
    for (int32_t blockType : {1, 3}) {
        Channel ch;
        ch.spectrum[8] = kOne;
        ch.spectrum[18 + 9] = kOne;
        ch.spectrum[36 + 8] = kOne;
        ASSERT_EQ(ch.run(45, blockType, 1), 0);
        ASSERT_EQ(ch.prevSubbands, 3);
        const auto sb0 = longImpulse(8, kOne, 0);
        const auto sb1 = longImpulse(9, kOne, 0);
        const auto sb2 = longImpulse(8, kOne, blockType);
        for (int k = 0; k < 18; ++k) {
            const size_t i = static_cast<size_t>(k);
            EXPECT_EQ(ch.out(k, 0), sb0[i]) << blockType << "," << k;
            EXPECT_EQ(ch.out(k, 1), (k & 1) ? -sb1[i] : sb1[i]) << blockType << "," << k;
            EXPECT_EQ(ch.out(k, 2), sb2[i]) << blockType << "," << k;
            EXPECT_EQ(ch.overlap[18 * 2 + k], sb2[i + 18]) << blockType << "," << k;
        }
        // The stop window starts at zero; the normal one does not.
        EXPECT_NE(ch.out(0, 0), 0);
        if (blockType == 3) {
            EXPECT_EQ(ch.out(0, 2), 0);
        }
    }
}

// Odd slots of odd subbands are negated on output, never in the overlap,
// for long and short blocks alike.
TEST(HybridSynthesis, OddSlotsOfOddSubbandsAreInverted) {
    constexpr int32_t kOne = 0x04000000;
    Channel lng;
    lng.spectrum[18 * 5 + 9] = kOne;  // subband 5, away from the butterflies
    lng.overlap[18 * 5 + 3] = 1000;
    lng.prevSubbands = 6;
    ASSERT_EQ(lng.run(18 * 5 + 10, 0, 0), 0);
    const auto z = longImpulse(9, kOne, 0);
    for (int k = 0; k < 18; ++k) {
        const int32_t sum = z[static_cast<size_t>(k)] + (k == 3 ? 1000 : 0);
        EXPECT_EQ(lng.out(k, 5), (k & 1) ? -sum : sum) << k;
        EXPECT_EQ(lng.overlap[18 * 5 + k], z[static_cast<size_t>(18 + k)]) << k;
    }

    Channel shrt;
    shrt.spectrum[18 * 3] = shrt.spectrum[18 * 3 + 6] = shrt.spectrum[18 * 3 + 12] = kOne;
    ASSERT_EQ(shrt.run(18 * 3 + 13, 2, 0), 0);
    int32_t x[18] = {};
    x[0] = x[6] = x[12] = kOne;
    int32_t zs[36];
    MP3_IMDCTShort(x, zs);
    for (int k = 0; k < 18; ++k) {
        EXPECT_EQ(shrt.out(k, 3), (k & 1) ? -zs[k] : zs[k]) << k;
        EXPECT_EQ(shrt.overlap[18 * 3 + k], zs[18 + k]) << k;
    }
}

// Short blocks with nothing coded: only the subbands of the previous granule
// are flushed (with inversion), and the count drops to zero.
TEST(HybridSynthesis, EmptyShortGranuleFlushesPreviousSubbands) {
    Channel ch;
    for (int i = 0; i < 18 * 5; ++i) ch.overlap[i] = 100 + i;
    ch.prevSubbands = 5;
    std::fill(ch.output, ch.output + 576, -9);
    ASSERT_EQ(ch.run(0, 2, 0), 0);
    EXPECT_EQ(ch.prevSubbands, 0);
    for (int k = 0; k < 18; ++k) {
        for (int sb = 0; sb < 32; ++sb) {
            const int32_t stored = sb < 5 ? 100 + 18 * sb + k : 0;
            EXPECT_EQ(ch.out(k, sb), (sb & 1) && (k & 1) ? -stored : stored) << k << "," << sb;
        }
    }
    EXPECT_TRUE(std::all_of(ch.overlap, ch.overlap + 576, [](int32_t v) { return v == 0; }));
}

TEST(HybridSynthesis, RejectsArgumentsOutOfRangeWithoutWriting) {
    struct Case {
        int32_t bound, prev, blockType, mixed;
    };
    const Case cases[] = {
        {577, 0, 0, 0}, {-1, 0, 0, 0}, {0, 33, 0, 0}, {0, -1, 0, 0}, {0, 0, 4, 0},
        {0, 0, -1, 0},  {0, 0, 0, 2},  {0, 0, 0, -1}, {INT32_MIN, 0, 0, 0}, {0, INT32_MAX, 0, 0},
    };
    std::mt19937 rng(3);
    Channel ch;
    for (auto *row : {ch.spectrum, ch.output, ch.overlap}) {
        for (int i = 0; i < 576; ++i) row[i] = static_cast<int32_t>(rng());
    }
    for (const Case &c : cases) {
        Channel before = ch;
        ch.prevSubbands = c.prev;
        EXPECT_EQ(ch.run(c.bound, c.blockType, c.mixed), MP3_ERR_PARAM) << c.bound << "," << c.prev;
        EXPECT_EQ(ch.prevSubbands, c.prev);
        EXPECT_TRUE(std::equal(ch.spectrum, ch.spectrum + 576, before.spectrum));
        EXPECT_TRUE(std::equal(ch.output, ch.output + 576, before.output));
        EXPECT_TRUE(std::equal(ch.overlap, ch.overlap + 576, before.overlap));
    }
    int32_t prev = 0;
    EXPECT_EQ(MP3_HybridSynthesis(nullptr, ch.output, ch.overlap, 0, &prev, 0, 0), MP3_ERR_PARAM);
    EXPECT_EQ(MP3_HybridSynthesis(ch.spectrum, ch.output, ch.overlap, 0, nullptr, 0, 0), MP3_ERR_PARAM);
}

// Corrupt streams can hand over any 32-bit values: the stage wraps, stays
// defined (checked by the sanitizer build) and keeps the overlap invariant.
TEST(HybridSynthesis, FullRangeValuesStayDefined) {
    std::mt19937 rng(17);
    Channel ch;
    const int32_t layouts[][2] = {{0, 0}, {1, 1}, {2, 0}, {2, 1}, {3, 0}, {3, 1}};
    for (const auto &layout : layouts) {
        for (auto &v : ch.spectrum) v = static_cast<int32_t>(rng());
        ASSERT_EQ(ch.run(576, layout[0], layout[1]), 0);
        EXPECT_EQ(ch.prevSubbands, 32);
    }
    for (auto &v : ch.spectrum) v = 0;
    ASSERT_EQ(ch.run(0, 2, 0), 0);
    EXPECT_TRUE(std::all_of(ch.overlap, ch.overlap + 576, [](int32_t v) { return v == 0; }));
}

}  // namespace
