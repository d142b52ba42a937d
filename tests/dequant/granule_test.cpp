// The granule driver on constructed granules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "audio/band_tables.h"
#include "audio/dequant/granule.h"
#include "audio/dequant/requantize.h"
#include "mpfix.h"

using namespace mpfix;

namespace {

// The parts of the decoder record the driver works on.
struct Granule {
    int32_t spectrum[2][576] = {};
    int32_t nonzeroCount[2] = {};
    uint8_t scalefactors[2][40] = {};
    MP3_GranuleInfo info[2] = {};
    MP3_FrameHeader header = {};
    int32_t scratch[576] = {};

    Granule() {
        header.ID = 1;               // MPEG-1, 44.1 kHz: long row 0 4 8 ..., short row 0 4 8 12 16 22 30 ...
        header.mode = 3;             // single channel unless a test says otherwise
        for (auto &g : info) g.global_gain = 210;  // unity gain
    }
    void set(int32_t ch, int32_t index, int32_t value) {
        spectrum[ch][index] = value;
        if (index + 1 > nonzeroCount[ch]) nonzeroCount[ch] = index + 1;
    }
    // With the band rows of the header's frame, found with the given sync.
    int32_t run(int32_t syncType = MP3_SYNC_FFF) {
        const MP3_GranuleContext context = MP3_OpenGranuleContext(&header, syncType, nullptr, nullptr);
        return MP3_DequantizeGranule(&context, spectrum, nonzeroCount, scalefactors, info, scratch);
    }
};

int32_t requantized(int32_t x, int32_t code) {
    int32_t out = 0;
    EXPECT_EQ(MP3_RequantizeBand(&x, &out, 1, code), 0);
    return out;
}

// Subband-order index of frequency line f of window w.
int32_t shortIndex(int32_t line, int32_t window) { return 18 * (line / 6) + 6 * window + line % 6; }

TEST(DequantizeGranule, LongBlockGains) {
    struct Case {
        int32_t gain, scale, preflag, band, scalefactor, subtractedCode;
    };
    const Case cases[] = {
        {210, 0, 0, 0, 0, 0},     {210, 0, 0, 3, 5, 10},    {210, 1, 0, 3, 5, 20},
        {200, 0, 1, 15, 2, 18},   // (2 + 2) << 1 = 8 on top of 210 - 200
        {210, 1, 1, 15, 2, 16},   {210, 0, 0, 2, 0xF9, 14}, // a -7 mark attenuates like 7
        {214, 0, 0, 1, 0, -4},    // negative codes amplify
        {255, 0, 0, 21, 0, -45},
    };
    for (const Case &c : cases) {
        Granule g;
        g.info[0].global_gain = c.gain;
        g.info[0].scalefac_scale = c.scale;
        g.info[0].preflag = c.preflag;
        g.scalefactors[0][c.band] = static_cast<uint8_t>(c.scalefactor);
        const int32_t start = MP3_SfbLongTable[3][c.band];
        g.set(0, start, 3);
        g.set(0, start + 1, -1);
        ASSERT_EQ(g.run(), 0);
        EXPECT_EQ(g.spectrum[0][start], requantized(3, c.subtractedCode)) << c.band;
        EXPECT_EQ(g.spectrum[0][start + 1], requantized(-1, c.subtractedCode)) << c.band;
        EXPECT_EQ(g.nonzeroCount[0], start + 2);
    }
}

TEST(DequantizeGranule, LongBlockCounts) {
    Granule empty;
    ASSERT_EQ(empty.run(), 0);
    EXPECT_EQ(empty.nonzeroCount[0], 0);

    // Everything requantizes to 0 under a large attenuation: the trim leaves 0.
    Granule quiet;
    quiet.info[0].global_gain = 0;
    for (int32_t i = 0; i < 10; ++i) quiet.set(0, i, 1);
    ASSERT_EQ(quiet.run(), 0);
    EXPECT_EQ(quiet.nonzeroCount[0], 0);

    // Block type 1 with the mixed flag set is a long block: lines above 36 count.
    Granule start;
    start.info[0].block_type = 1;
    start.info[0].mixed_block_flag = 1;
    start.set(0, 400, 2);
    ASSERT_EQ(start.run(), 0);
    EXPECT_EQ(start.spectrum[0][400], requantized(2, 0));
    EXPECT_EQ(start.nonzeroCount[0], 401);
}

TEST(DequantizeGranule, TableSets) {
    // MPEG-2.5 at 8 kHz: long band 17 starts at 566.
    Granule g;
    g.header.ID = 0;
    g.header.sampling_frequency = 2;
    g.scalefactors[0][17] = 3;
    g.scalefactors[0][16] = 9;
    g.set(0, 567, 5);
    ASSERT_EQ(g.run(MP3_SYNC_FFE), 0);
    EXPECT_EQ(g.spectrum[0][567], requantized(5, 6));
    // The same frame found with the 12-bit sync uses the 16 kHz row: line 567 is in band 21.
    Granule h;
    h.header = g.header;
    h.scalefactors[0][21] = 1;
    h.set(0, 567, 5);
    ASSERT_EQ(h.run(), 0);
    EXPECT_EQ(h.spectrum[0][567], requantized(5, 2));
}

TEST(DequantizeGranule, ShortBandExtentListed) {
    const uint16_t *s = MP3_SfbShortTable[3];
    int32_t values[576] = {};
    int32_t ends[3] = {-1, -1, -1};
    int32_t lineEnd = -1;
    MP3_ShortBandExtent(values, ends, &lineEnd, s, 0, 0);
    EXPECT_EQ(ends[0] + ends[1] + ends[2], 0);
    EXPECT_EQ(lineEnd, 0);
    MP3_ShortBandExtent(values, ends, &lineEnd, s, 100, 3);  // mixed, all zero
    EXPECT_EQ(ends[0], 3);
    EXPECT_EQ(ends[2], 3);
    EXPECT_EQ(lineEnd, 12);
    values[82] = -4;  // band 5, window 2, line 22
    MP3_ShortBandExtent(values, ends, &lineEnd, s, 83, 0);
    EXPECT_EQ(ends[0], 0);
    EXPECT_EQ(ends[1], 0);
    EXPECT_EQ(ends[2], 6);
    EXPECT_EQ(lineEnd, 23);
    values[3 * 40 + 12 + 5] = 1;  // band 7 (40..51, width 12), window 1, line 45
    MP3_ShortBandExtent(values, ends, &lineEnd, s, 200, 0);
    EXPECT_EQ(ends[1], 8);
    EXPECT_EQ(ends[2], 6);
    EXPECT_EQ(lineEnd, 46);
}

TEST(DequantizeGranule, ShortBlocks) {
    // All zero, pure short and mixed: nothing left.
    for (int32_t mixed = 0; mixed <= 1; ++mixed) {
        Granule g;
        g.info[0].block_type = 2;
        g.info[0].mixed_block_flag = mixed;
        g.nonzeroCount[0] = 300;
        ASSERT_EQ(g.run(), 0);
        EXPECT_EQ(g.nonzeroCount[0], 0) << mixed;
        for (int32_t i = 0; i < 72; ++i) EXPECT_EQ(g.spectrum[0][i], 0);
    }
    // One value at bitstream index 82: line 22 of window 2 lands at 70.
    Granule g;
    g.info[0].block_type = 2;
    g.info[0].subblock_gain[2] = 1;
    g.scalefactors[0][3 * 5 + 2] = 3;
    g.set(0, 82, 9);
    ASSERT_EQ(g.run(), 0);
    EXPECT_EQ(g.nonzeroCount[0], 71);
    for (int32_t i = 0; i < 72; ++i) EXPECT_EQ(g.spectrum[0][i], i == 70 ? requantized(9, 8 + 6) : 0) << i;
}

TEST(DequantizeGranule, MixedBlockLayout) {
    Granule g;
    g.info[0].block_type = 2;
    g.info[0].mixed_block_flag = 1;
    g.scalefactors[0][7] = 1;       // long band 7 (30..35)
    g.scalefactors[0][8 + 1] = 2;   // short band 3, window 1
    g.set(0, 31, 4);
    g.set(0, 36 + 4 + 1, -6);       // short band 3 (lines 12..15), window 1, line 13
    ASSERT_EQ(g.run(), 0);
    EXPECT_EQ(g.spectrum[0][31], requantized(4, 2));
    EXPECT_EQ(g.spectrum[0][shortIndex(13, 1)], requantized(-6, 4));
    EXPECT_EQ(g.nonzeroCount[0], shortIndex(13, 1) + 1);

    // 8 kHz MPEG-2.5 follows the same steps: short band 3 (lines 24..35) starts at 36.
    Granule e;
    e.header.ID = 0;
    e.header.sampling_frequency = 2;
    e.info[0] = g.info[0];
    e.set(0, 72, 5);
    ASSERT_EQ(e.run(MP3_SYNC_FFE), 0);
    EXPECT_EQ(e.spectrum[0][36], requantized(5, 0));
}

// Fills a channel with a pattern of short-block values and side information.
void fillShortChannel(Granule &g, int32_t ch, int32_t seed, int32_t mixed) {
    g.info[ch].block_type = 2;
    g.info[ch].mixed_block_flag = mixed;
    g.info[ch].global_gain = 190 + seed;
    g.info[ch].scalefac_scale = seed & 1;
    for (int32_t w = 0; w < 3; ++w) g.info[ch].subblock_gain[w] = (seed + w) % 8;
    for (int32_t i = 0; i < 39; ++i) g.scalefactors[ch][i] = static_cast<uint8_t>((i * 7 + seed) % 16);
    const int32_t top = 300 + 40 * seed;
    for (int32_t i = 0; i < top; i += 1 + (i * seed) % 5) g.set(ch, i, ((i * 37 + seed) % 41) - 20);
}

void fillLongChannel(Granule &g, int32_t ch, int32_t seed) {
    g.info[ch].global_gain = 180 + seed;
    g.info[ch].preflag = 1;
    for (int32_t i = 0; i < 22; ++i) g.scalefactors[ch][i] = static_cast<uint8_t>((i * 5 + seed) % 16);
    for (int32_t i = 0; i < 250; i += 3) g.set(ch, i, ((i * 29 + seed) % 301) - 150);
}

// Processes channel ch of a two-channel granule on its own, as a mono granule.
Granule alone(const Granule &pair, int32_t ch) {
    Granule g;
    std::memcpy(g.spectrum[0], pair.spectrum[ch], sizeof g.spectrum[0]);
    std::memcpy(g.scalefactors[0], pair.scalefactors[ch], sizeof g.scalefactors[0]);
    g.info[0] = pair.info[ch];
    g.nonzeroCount[0] = pair.nonzeroCount[ch];
    g.header = pair.header;
    g.header.mode = 3;
    EXPECT_EQ(g.run(), 0);
    return g;
}

// Without joint stereo each channel is processed on its own, whatever the
// other channel is and wherever the scratch row leads.
TEST(DequantizeGranule, ChannelsWithoutJointStereoMatchEachAlone) {
    enum Kind { Long, Short, Mixed };
    const Kind pairs[][2] = {{Short, Short}, {Mixed, Short}, {Short, Long}, {Long, Short}, {Mixed, Mixed}};
    for (int32_t mode : {0, 2, 1}) {  // stereo, dual channel, joint stereo with mode_extension 0
        for (const auto &kinds : pairs) {
            Granule g;
            g.header.mode = mode;
            for (int32_t ch = 0; ch < 2; ++ch) {
                if (kinds[ch] == Long) fillLongChannel(g, ch, ch + 1);
                else fillShortChannel(g, ch, ch + 1, kinds[ch] == Mixed);
            }
            const Granule first = alone(g, 0);
            const Granule second = alone(g, 1);
            ASSERT_EQ(g.run(), 0);
            EXPECT_EQ(g.nonzeroCount[0], first.nonzeroCount[0]);
            EXPECT_EQ(g.nonzeroCount[1], second.nonzeroCount[0]);
            // Values below the next multiple of 18 of the count are defined.
            const size_t end0 = static_cast<size_t>(18 * ((first.nonzeroCount[0] + 17) / 18));
            const size_t end1 = static_cast<size_t>(18 * ((second.nonzeroCount[0] + 17) / 18));
            EXPECT_EQ(std::memcmp(g.spectrum[0], first.spectrum[0], 4 * end0), 0) << mode << kinds[0] << kinds[1];
            EXPECT_EQ(std::memcmp(g.spectrum[1], second.spectrum[0], 4 * end1), 0) << mode << kinds[0] << kinds[1];
            EXPECT_GT(g.nonzeroCount[0], 100);
        }
    }
}

TEST(DequantizeGranule, ValidationFailuresWriteNothing) {
    Granule base;
    base.header.mode = 1;
    base.header.mode_extension = 2;
    fillShortChannel(base, 0, 1, 0);
    fillShortChannel(base, 1, 2, 0);
    using Mutation = void (*)(Granule &);
    const Mutation mutations[] = {
        [](Granule &g) { g.header.ID = 2; },
        [](Granule &g) { g.header.sampling_frequency = 3; },
        [](Granule &g) { g.header.mode = 4; },
        [](Granule &g) { g.header.mode_extension = 4; },
        [](Granule &g) { g.nonzeroCount[0] = 577; },
        [](Granule &g) { g.nonzeroCount[1] = 577; },
        [](Granule &g) { g.nonzeroCount[1] = -1; },
        [](Granule &g) { g.info[0].block_type = 4; },
        [](Granule &g) { g.info[1].block_type = -1; },
        [](Granule &g) { g.info[1].mixed_block_flag = 2; },
        [](Granule &g) { g.info[0].global_gain = 256; },
        [](Granule &g) { g.info[1].scalefac_scale = 2; },
        [](Granule &g) { g.info[0].preflag = 2; },
        [](Granule &g) { g.info[1].block_type = 1; },        // joint stereo, block types differ
        [](Granule &g) { g.info[1].mixed_block_flag = 1; },  // joint stereo, mixed and pure short
        [](Granule &g) { g.header.mode = 3; g.nonzeroCount[0] = 600; },
    };
    for (size_t m = 0; m < sizeof mutations / sizeof mutations[0]; ++m) {
        Granule g = base;
        mutations[m](g);
        const Granule before = g;
        EXPECT_EQ(g.run(), MP3_ERR_PARAM) << m;
        EXPECT_EQ(std::memcmp(&g, &before, sizeof g), 0) << m;
    }
    // Accepted: a mono frame ignores channel 1; block types may differ without
    // joint stereo; the mixed flag of a long block is no difference.
    const Mutation accepted[] = {
        [](Granule &g) { g.header.mode = 3; g.nonzeroCount[1] = 577; g.info[1].block_type = 9; },
        [](Granule &g) { g.header.mode_extension = 0; g.info[1].block_type = 0; },
        [](Granule &g) {
            g.info[0].block_type = g.info[1].block_type = 1;
            g.info[1].mixed_block_flag = 1;
        },
    };
    for (Mutation m : accepted) {
        Granule g = base;
        m(g);
        EXPECT_EQ(g.run(), 0);
    }
}

TEST(DequantizeGranule, LateFailuresLeaveCountsInRange) {
    Granule g;
    g.header.mode = 0;
    fillShortChannel(g, 0, 1, 0);
    fillShortChannel(g, 1, 2, 0);
    g.info[1].subblock_gain[1] = 8;
    const int32_t counts[2] = {g.nonzeroCount[0], g.nonzeroCount[1]};
    EXPECT_EQ(g.run(), MP3_ERR_PARAM);
    EXPECT_EQ(g.nonzeroCount[0], counts[0]);
    EXPECT_EQ(g.nonzeroCount[1], counts[1]);

    Granule h;
    fillLongChannel(h, 0, 1);
    h.set(0, 100, 8207);
    EXPECT_EQ(h.run(), MP3_ERR_PARAM);
}

// Mid/side: both channels 1/sqrt(2) lower, then sum and difference, against
// exact maths; the counts of both become the larger one.
TEST(DequantizeGranule, MidSideLongAgainstExactMaths) {
    Granule g;
    g.header.mode = 1;
    g.header.mode_extension = 2;
    g.info[0].global_gain = g.info[1].global_gain = 170;  // 2^-10: the sums stay far below 16.0
    const int32_t mid[4] = {3, -20, 200, 1};
    const int32_t side[4] = {1, 7, -150, 0};
    const int32_t index[4] = {0, 5, 40, 130};
    for (int32_t i = 0; i < 4; ++i) {
        g.set(0, index[i], mid[i]);
        if (side[i] != 0) g.set(1, index[i], side[i]);
    }
    ASSERT_EQ(g.run(), 0);
    auto p43 = [](int32_t x) { return std::copysign(std::pow(std::fabs(x), 4.0 / 3.0), x); };
    for (int32_t i = 0; i < 4; ++i) {
        const double m = p43(mid[i]) * std::ldexp(1.0, 16) / std::sqrt(2.0);
        const double s = p43(side[i]) * std::ldexp(1.0, 16) / std::sqrt(2.0);
        EXPECT_NEAR(g.spectrum[0][index[i]], m + s, 4 + std::fabs(m + s) * 2e-7) << i;
        EXPECT_NEAR(g.spectrum[1][index[i]], m - s, 4 + std::fabs(m - s) * 2e-7) << i;
    }
    EXPECT_EQ(g.nonzeroCount[0], 131);
    EXPECT_EQ(g.nonzeroCount[1], 131);
}

// Short blocks in joint stereo: mid/side per window below the second channel's
// band end, intensity above it, both counts from the larger line end.
TEST(DequantizeGranule, JointStereoShortAgainstExactMaths) {
    Granule g;
    g.header.mode = 1;
    g.header.mode_extension = 3;
    for (int32_t ch = 0; ch < 2; ++ch) {
        g.info[ch].block_type = 2;
        g.info[ch].global_gain = 170;
    }
    // 44.1 kHz short row 0 4 8 12 16 22 ...: band 1 of window 1 starts at 3 * 4 + 4.
    g.set(0, 16, 9);
    g.set(1, 16, -5);
    g.set(0, 3 * 12 + 2 * 4 + 1, 6);  // band 3, window 2, line 13: above the second channel
    g.scalefactors[1][3 * 3 + 2] = 3;  // position 3: an even split
    ASSERT_EQ(g.run(), 0);
    auto p43 = [](int32_t x) { return std::copysign(std::pow(std::fabs(x), 4.0 / 3.0), x) * std::ldexp(1.0, 16); };
    const double m = p43(9) / std::sqrt(2.0);
    const double s = p43(-5) / std::sqrt(2.0);
    EXPECT_NEAR(g.spectrum[0][shortIndex(4, 1)], m + s, 4);
    EXPECT_NEAR(g.spectrum[1][shortIndex(4, 1)], m - s, 4);
    EXPECT_NEAR(g.spectrum[0][shortIndex(13, 2)], p43(6) / 2, 2);
    EXPECT_NEAR(g.spectrum[1][shortIndex(13, 2)], p43(6) / 2, 2);
    EXPECT_EQ(g.nonzeroCount[0], shortIndex(13, 2) + 1);
    EXPECT_EQ(g.nonzeroCount[1], shortIndex(13, 2) + 1);
}

// Intensity above the second channel's last value: the split of each band by
// its position, an illegal position with mid/side giving M/sqrt(2) to both.
TEST(DequantizeGranule, IntensityLong) {
    Granule g;
    g.header.mode = 1;
    g.header.mode_extension = 3;
    g.set(1, 2, 5);  // second channel ends in band 0 (0..3)
    g.set(0, 2, 4);
    g.set(0, 5, 4);   // band 1: position 3
    g.set(0, 9, 4);   // band 2: illegal, mid/side
    g.scalefactors[1][1] = 3;
    g.scalefactors[1][2] = 7;
    ASSERT_EQ(g.run(), 0);
    const int32_t v = requantized(4, 0);
    EXPECT_EQ(g.spectrum[0][5], v / 2);
    EXPECT_EQ(g.spectrum[1][5], v - v / 2);
    EXPECT_EQ(g.spectrum[0][9], requantized(4, 2));
    EXPECT_EQ(g.spectrum[1][9], requantized(4, 2));
    EXPECT_EQ(g.nonzeroCount[0], 10);
    EXPECT_EQ(g.nonzeroCount[1], 10);
}

// A mixed block in joint stereo: intensity in the long part stops at 36 and
// the short part follows its own per-window bounds.
TEST(DequantizeGranule, IntensityMixed) {
    Granule g;
    g.header.mode = 1;
    g.header.mode_extension = 1;
    for (int32_t ch = 0; ch < 2; ++ch) {
        g.info[ch].block_type = 2;
        g.info[ch].mixed_block_flag = 1;
    }
    g.set(0, 20, 4);           // long band 5: position 3 (byte 5)
    g.set(0, 36 + 8, 4);       // short band 3, window 2, line 12: position 0 (byte 8 + 2)
    g.scalefactors[1][5] = 3;
    g.scalefactors[1][8] = 6;  // long band 8 would start at 36: a long pass there would leave a trace
    ASSERT_EQ(g.run(), 0);
    const int32_t v = requantized(4, 0);
    EXPECT_EQ(g.spectrum[0][20], v / 2);
    EXPECT_EQ(g.spectrum[1][20], v / 2);
    EXPECT_EQ(g.spectrum[0][shortIndex(12, 2)], 0);
    EXPECT_EQ(g.spectrum[1][shortIndex(12, 2)], v);
    EXPECT_EQ(g.nonzeroCount[0], 21);  // position 0 moved the short value to the right channel
    EXPECT_EQ(g.nonzeroCount[1], shortIndex(12, 2) + 1);
}

}  // namespace
