// Scalefactor decoding, checked against the layouts of ISO/IEC 11172-3 and
// ISO/IEC 13818-3 written from the encoder's side.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "audio/bit_reader.h"
#include "audio/parse/scalefactors.h"
#include "support/bit_writer.h"

using namespace mpfix;

namespace {

using mpfix::test::BitWriter;
using Slot = std::array<uint8_t, MP3_SCALEFACTOR_BYTES>;
constexpr uint8_t kUntouched = 0xEE;

// ISO/IEC 11172-3 scalefac_compress -> (slen1, slen2).
constexpr int kMpeg1Slen[16][2] = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {3, 0}, {1, 1}, {1, 2}, {1, 3},
                                   {2, 1}, {2, 2}, {2, 3}, {3, 1}, {3, 2}, {3, 3}, {4, 2}, {4, 3}};

// ISO/IEC 13818-3 nr_of_sfb_block [range][long, short, mixed][group].
constexpr int kBandCounts[6][3][4] = {
    {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},     {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
    {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}}, {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
    {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},   {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}},
};

struct LsfCoding {
    int range;
    std::array<int, 4> slen;
};

// scalefac_compress of every (range, slen) as an ISO/IEC 13818-3 encoder forms
// it; the intensity-stereo variant codes i = scalefac_compress >> 1.
std::map<int, LsfCoding> lsfCodings(bool intensity) {
    std::map<int, LsfCoding> m;
    auto add = [&](int value, int range, std::array<int, 4> slen) {
        if (intensity) {
            m[2 * value] = {range, slen};
            m[2 * value + 1] = {range, slen};
        } else {
            m[value] = {range, slen};
        }
    };
    if (!intensity) {
        for (int a = 0; a < 5; ++a)
            for (int b = 0; b < 5; ++b)
                for (int c = 0; c < 4; ++c) {
                    for (int d = 0; d < 4; ++d) add(((a * 5 + b) << 4) + (c << 2) + d, 0, {a, b, c, d});
                    add(400 + ((a * 5 + b) << 2) + c, 1, {a, b, c, 0});
                }
        for (int a = 0; a < 4; ++a)
            for (int b = 0; b < 3; ++b) add(500 + a * 3 + b, 2, {a, b, 0, 0});
    } else {
        for (int a = 0; a < 5; ++a)
            for (int b = 0; b < 6; ++b)
                for (int c = 0; c < 6; ++c) add(a * 36 + b * 6 + c, 3, {a, b, c, 0});
        for (int a = 0; a < 4; ++a)
            for (int b = 0; b < 4; ++b)
                for (int c = 0; c < 4; ++c) add(180 + (a << 4) + (b << 2) + c, 4, {a, b, c, 0});
        for (int a = 0; a < 4; ++a)
            for (int b = 0; b < 3; ++b) add(244 + a * 3 + b, 5, {a, b, 0, 0});
    }
    return m;
}

struct Outcome {
    int32_t code;
    Slot slot;
    int consumed;
};

// MP3_DecodeScalefactors at the cursor (byte, bit) of granule gr; the cursor is written back.
int32_t decodeAt(const uint8_t **byte, int32_t *bit, const uint8_t *end, uint8_t *slot, MP3_GranuleInfo &g,
                 const int32_t *scfsi, const MP3_FrameHeader &h, int gr, int ch) {
    MP3_GranuleContext context = MP3_OpenGranuleContext(&h, MP3_SYNC_FFF, *byte, end);
    context.cursor.bit = *bit;
    context.gr = gr;
    const int32_t code = MP3_DecodeScalefactors(&context, slot, &g, scfsi, ch);
    *byte = context.cursor.byte;
    *bit = context.cursor.bit;
    return code;
}

Outcome run(const std::vector<uint8_t> &bytes, int lead, Slot slot, MP3_GranuleInfo &g, const int32_t *scfsi,
            const MP3_FrameHeader &h, int gr, int ch) {
    const uint8_t *byte = bytes.data() + lead / 8;
    int32_t bit = lead % 8;
    const int32_t code = decodeAt(&byte, &bit, bytes.data() + bytes.size(), slot.data(), g, scfsi, h, gr, ch);
    return {code, slot, MP3_CursorBitsBetween(bytes.data(), 0, byte, bit) - lead};
}

Slot untouchedSlot() {
    Slot s;
    s.fill(kUntouched);
    return s;
}

// Writes (value, width) pairs after `lead` zero bits, with stray bits behind.
std::vector<uint8_t> encode(const std::vector<std::pair<int, int>> &fields, int lead, std::mt19937 &rng) {
    BitWriter w;
    w.put(0, lead);
    for (const auto &[value, width] : fields) w.put(static_cast<uint32_t>(value), width);
    std::vector<uint8_t> bytes = w.bytes();
    for (int k = 0; k < 6; ++k) bytes.push_back(static_cast<uint8_t>(rng()));
    if (!bytes.empty() && w.bitCount() % 8) {  // stray bits in the last written byte too
        bytes[w.bitCount() / 8] |= static_cast<uint8_t>(rng() & (0xFFu >> (w.bitCount() % 8)));
    }
    return bytes;
}

int randomOf(std::mt19937 &rng, int width) {
    const int max = (1 << width) - 1;
    // The all-ones value often, as it is the intensity mark.
    return rng() % 3 == 0 ? max : static_cast<int>(rng() % static_cast<unsigned>(max + 1));
}

TEST(Scalefactors, Mpeg1LayoutsForEveryCompressIndex) {
    std::mt19937 rng(41);
    const int32_t scfsi[4] = {1, 1, 1, 1};  // granule 0 reads every group anyway
    MP3_FrameHeader h{};
    h.ID = 1;
    struct Layout {
        const char *name;
        int blockType, mixed;
        int slen1Count, slen2Count, zeros;
    };
    const Layout layouts[] = {{"long", 0, 0, 11, 10, 1}, {"start", 1, 0, 11, 10, 1}, {"stop", 3, 0, 11, 10, 1},
                              {"short", 2, 0, 18, 18, 3}, {"mixed", 2, 1, 17, 18, 3}};
    for (const Layout &l : layouts) {
        for (int c = 0; c < 16; ++c) {
            SCOPED_TRACE(testing::Message() << l.name << " scalefac_compress " << c);
            std::vector<std::pair<int, int>> fields;
            for (int k = 0; k < l.slen1Count + l.slen2Count; ++k) {
                const int width = kMpeg1Slen[c][k < l.slen1Count ? 0 : 1];
                fields.push_back({randomOf(rng, width), width});
            }
            const int lead = c % 8;
            const auto bytes = encode(fields, lead, rng);
            MP3_GranuleInfo g{};
            g.block_type = l.blockType, g.mixed_block_flag = l.mixed, g.scalefac_compress = c, g.preflag = 1;
            const Outcome o = run(bytes, lead, untouchedSlot(), g, scfsi, h, 0, 0);
            ASSERT_EQ(o.code, 0);
            const size_t values = fields.size();
            const size_t zerosEnd = values + static_cast<size_t>(l.zeros);
            for (size_t k = 0; k < values; ++k) EXPECT_EQ(o.slot[k], fields[k].first) << k;
            for (size_t k = values; k < zerosEnd; ++k) EXPECT_EQ(o.slot[k], 0) << k;
            for (size_t k = zerosEnd; k < o.slot.size(); ++k) EXPECT_EQ(o.slot[k], kUntouched) << k;
            int bits = 0;
            for (const auto &f : fields) bits += f.second;
            EXPECT_EQ(o.consumed, bits);
            EXPECT_EQ(g.preflag, 1);  // MPEG-1 leaves preflag to the side information
        }
    }
    // The worked sizes: a mixed granule with slen (4, 3) takes 17 x 4 + 18 x 3 bits; compress 0 none.
    std::vector<uint8_t> ones(32, 0xFF);
    MP3_GranuleInfo g{};
    g.block_type = 2, g.mixed_block_flag = 1, g.scalefac_compress = 15;
    EXPECT_EQ(run(ones, 0, untouchedSlot(), g, scfsi, h, 0, 0).consumed, 122);
    g.block_type = 0, g.mixed_block_flag = 0, g.scalefac_compress = 0;
    const Outcome none = run(ones, 3, untouchedSlot(), g, scfsi, h, 0, 0);
    EXPECT_EQ(none.consumed, 0);
    for (size_t k = 0; k < 22; ++k) EXPECT_EQ(none.slot[k], 0);
}

TEST(Scalefactors, Mpeg1GranuleOneReusesTheGroupsScfsiMarks) {
    std::mt19937 rng(43);
    MP3_FrameHeader h{};
    h.ID = 1;
    MP3_GranuleInfo g{};
    g.scalefac_compress = 11;  // slen (3, 1)
    const int groupStart[5] = {0, 6, 11, 16, 21};
    for (int mask = 0; mask < 16; ++mask) {
        const int32_t scfsi[4] = {mask >> 3 & 1, mask >> 2 & 1, mask >> 1 & 1, mask & 1};
        Slot granule0 = untouchedSlot();
        for (size_t k = 0; k < 21; ++k) granule0[k] = static_cast<uint8_t>(100 + k);
        // Granule 1 transmits only the groups not marked.
        std::vector<std::pair<int, int>> fields;
        Slot expected = granule0;
        expected[21] = 0;
        for (int grp = 0; grp < 4; ++grp) {
            if (scfsi[grp]) continue;
            for (int k = groupStart[grp]; k < groupStart[grp + 1]; ++k) {
                const int width = grp < 2 ? 3 : 1;
                fields.push_back({randomOf(rng, width), width});
                expected[static_cast<size_t>(k)] = static_cast<uint8_t>(fields.back().first);
            }
        }
        const auto bytes = encode(fields, 5, rng);
        const Outcome o = run(bytes, 5, granule0, g, scfsi, h, 1, 1);
        ASSERT_EQ(o.code, 0);
        EXPECT_EQ(o.slot, expected) << "scfsi mask " << mask;
        int bits = 0;
        for (const auto &f : fields) bits += f.second;
        EXPECT_EQ(o.consumed, bits);
        // The same flags in granule 0 read all four groups.
        EXPECT_EQ(run(bytes, 5, granule0, g, scfsi, h, 0, 1).consumed, 6 * 3 + 5 * 3 + 5 + 5);
    }
    // Short blocks never consult scfsi, not even values outside 0..1.
    const int32_t odd[4] = {7, -1, 1, 1};
    g.block_type = 2;
    std::vector<uint8_t> ones(32, 0xFF);
    const Outcome o = run(ones, 0, untouchedSlot(), g, odd, h, 1, 0);
    EXPECT_EQ(o.code, 0);
    EXPECT_EQ(o.consumed, 18 * 3 + 18 * 1);
}

TEST(Scalefactors, LowSamplingFrequencyLayoutsForEveryCompressIndex) {
    std::mt19937 rng(47);
    const int32_t scfsi[4] = {0, 0, 0, 0};
    const int zerosAfter = 3;
    for (int modeExtension = 0; modeExtension < 4; ++modeExtension) {
        for (int ch = 0; ch < 2; ++ch) {
            const bool intensity = ch == 1 && (modeExtension & 1);
            const auto codings = lsfCodings(intensity);
            ASSERT_EQ(codings.size(), 512u);
            MP3_FrameHeader h{};
            h.ID = 0, h.mode_extension = modeExtension;
            for (const auto &[c, coding] : codings) {
                for (int kind = 0; kind < 3; ++kind) {
                    SCOPED_TRACE(testing::Message() << "mode_extension " << modeExtension << " ch " << ch
                                                    << " scalefac_compress " << c << " kind " << kind);
                    std::vector<std::pair<int, int>> fields;
                    for (int grp = 0; grp < 4; ++grp) {
                        const int width = coding.slen[static_cast<size_t>(grp)];
                        for (int k = 0; k < kBandCounts[coding.range][kind][grp]; ++k)
                            fields.push_back({randomOf(rng, width), width});
                    }
                    const int lead = (c + kind) % 8;
                    const auto bytes = encode(fields, lead, rng);
                    MP3_GranuleInfo g{};
                    g.block_type = kind == 0 ? (c % 2 ? 1 : 3) : 2, g.mixed_block_flag = kind == 2;
                    g.scalefac_compress = c, g.preflag = 7;
                    const Outcome o = run(bytes, lead, untouchedSlot(), g, scfsi, h, 0, ch);
                    ASSERT_EQ(o.code, 0);
                    const size_t values = fields.size();
                    ASSERT_EQ(values, kind == 0 ? 21u : (kind == 1 ? 36u : 33u));
                    int bits = 0;
                    for (size_t k = 0; k < values; ++k) {
                        const auto [v, width] = fields[k];
                        const int expected = intensity && width > 0 && v == (1 << width) - 1 ? -v : v;
                        ASSERT_EQ(static_cast<int8_t>(o.slot[k]), expected) << k;
                        bits += width;
                    }
                    const size_t zerosEnd = values + static_cast<size_t>(zerosAfter);
                    for (size_t k = values; k < zerosEnd; ++k) ASSERT_EQ(o.slot[k], 0) << k;
                    for (size_t k = zerosEnd; k < o.slot.size(); ++k) ASSERT_EQ(o.slot[k], kUntouched);
                    EXPECT_EQ(o.consumed, bits);
                    EXPECT_EQ(g.preflag, !intensity && c >= 500 ? 1 : 0);
                }
            }
        }
    }
}

TEST(Scalefactors, IntensityMarkOnlyInTheRightChannelOfIntensityFrames) {
    // A 3-bit 7: stored as -7 in the intensity variant, as 7 elsewhere.
    MP3_FrameHeader h{};
    h.ID = 0, h.mode_extension = 1;
    const int32_t scfsi[4] = {0, 0, 0, 0};
    MP3_GranuleInfo g{};
    g.scalefac_compress = 2 * (3 * 36);  // intensity: slen (3, 0, 0, 0); ordinary: (2, 3, 2, 0)
    std::vector<uint8_t> ones(16, 0xFF);
    const Outcome right = run(ones, 0, untouchedSlot(), g, scfsi, h, 0, 1);
    EXPECT_EQ(static_cast<int8_t>(right.slot[0]), -7);
    const Outcome left = run(ones, 0, untouchedSlot(), g, scfsi, h, 0, 0);
    for (size_t k = 0; k < 21; ++k) EXPECT_GE(static_cast<int8_t>(left.slot[k]), 0);
    // c = 0: every width 0, nothing negated.
    g.scalefac_compress = 0;
    const Outcome zero = run(ones, 0, untouchedSlot(), g, scfsi, h, 0, 1);
    EXPECT_EQ(zero.consumed, 0);
    for (size_t k = 0; k < 24; ++k) EXPECT_EQ(zero.slot[k], 0);
}

TEST(Scalefactors, FieldsOutOfRangeTouchNothing) {
    struct Bad {
        const char *name;
        int id, blockType, mixed, compress, modeExtension;
        int32_t scfsi0;
    };
    const Bad cases[] = {
        {"ID 2", 2, 0, 0, 0, 0, 0},
        {"ID -1", -1, 0, 0, 0, 0, 0},
        {"mixed_block_flag 2", 1, 2, 2, 0, 0, 0},
        {"block_type 4", 1, 4, 0, 0, 0, 0},
        {"block_type -1", 0, -1, 0, 0, 0, 0},
        {"scfsi 2 with long blocks", 1, 0, 0, 5, 0, 2},
        {"MPEG-1 scalefac_compress 16", 1, 0, 0, 16, 0, 0},
        {"MPEG-1 scalefac_compress -1", 1, 2, 0, -1, 0, 0},
        {"scalefac_compress 512", 0, 0, 0, 512, 0, 0},
        {"scalefac_compress -1", 0, 2, 1, -1, 0, 0},
        {"mode_extension 4", 0, 0, 0, 10, 4, 0},
    };
    const std::vector<uint8_t> bytes(16, 0x96);
    for (const Bad &c : cases) {
        SCOPED_TRACE(c.name);
        MP3_FrameHeader h{};
        h.ID = c.id, h.mode_extension = c.modeExtension;
        MP3_GranuleInfo g{};
        g.block_type = c.blockType, g.mixed_block_flag = c.mixed, g.scalefac_compress = c.compress, g.preflag = 9;
        const int32_t scfsi[4] = {c.scfsi0, 0, 0, 0};
        const Outcome o = run(bytes, 3, untouchedSlot(), g, scfsi, h, 1, 1);
        EXPECT_EQ(o.code, MP3_ERR_PARAM);
        EXPECT_EQ(o.slot, untouchedSlot());
        EXPECT_EQ(o.consumed, 0);
        EXPECT_EQ(g.preflag, 9);
    }
}

TEST(Scalefactors, ReadsPastTheReservoirEndYieldZero) {
    // A heap block of exactly the reservoir's size: the sanitizer build sees any
    // read past it.
    auto reservoir = std::make_unique<uint8_t[]>(MP3_RESERVOIR_BYTES);
    for (size_t i = 0; i < MP3_RESERVOIR_BYTES; ++i) reservoir[i] = 0xFF;
    const uint8_t *end = reservoir.get() + MP3_RESERVOIR_BYTES;
    const uint8_t *byte = end - 1;
    int32_t bit = 2;
    MP3_FrameHeader h{};
    h.ID = 1;
    MP3_GranuleInfo g{};
    g.block_type = 2, g.scalefac_compress = 15;  // 18 x 4 + 18 x 3 bits
    const int32_t scfsi[4] = {0, 0, 0, 0};
    Slot slot = untouchedSlot();
    ASSERT_EQ(decodeAt(&byte, &bit, end, slot.data(), g, scfsi, h, 0, 0), 0);
    EXPECT_EQ(slot[0], 15);  // the six bits left in the last byte, then zeros
    EXPECT_EQ(slot[1], 12);
    for (size_t k = 2; k < 39; ++k) EXPECT_EQ(slot[k], 0) << k;
    EXPECT_EQ(byte, end);
    EXPECT_EQ(bit, 0);
    // From the end itself: all zeros, the cursor stays.
    ASSERT_EQ(decodeAt(&byte, &bit, end, slot.data(), g, scfsi, h, 0, 0), 0);
    EXPECT_EQ(byte, end);
    // A cursor beyond the end or a bit offset outside 0..7 is refused.
    const uint8_t *before = end - 4;
    bit = 8;
    EXPECT_EQ(decodeAt(&before, &bit, end, slot.data(), g, scfsi, h, 0, 0), MP3_ERR_PARAM);
    bit = 0;
    EXPECT_EQ(decodeAt(&byte, &bit, end - 1, slot.data(), g, scfsi, h, 0, 0), MP3_ERR_PARAM);
}

TEST(Scalefactors, BandCountTablesHoldTheirLayouts) {
    // Every range: 21 long values, 36 short (whole bands of three windows),
    // mixed = 6 long bands in place of the first three short bands.
    for (int r = 0; r < 6; ++r) {
        int sums[3] = {0, 0, 0};
        for (int kind = 0; kind < 3; ++kind)
            for (int grp = 0; grp < 4; ++grp) sums[kind] += nr_of_sfb[r][kind][grp];
        EXPECT_EQ(sums[0], 21) << r;
        EXPECT_EQ(sums[1], 36) << r;
        EXPECT_EQ(sums[2], 33) << r;
        EXPECT_EQ(nr_of_sfb[r][2][0] + nr_of_sfb[r][2][1], nr_of_sfb[r][1][0] + nr_of_sfb[r][1][1] - 3) << r;
        for (int grp = 0; grp < 4; ++grp) {
            EXPECT_EQ(nr_of_sfb[r][1][grp] % 3, 0) << r;
            if (grp >= 2) {
                EXPECT_EQ(nr_of_sfb[r][2][grp], nr_of_sfb[r][1][grp]) << r;
            }
            EXPECT_EQ(nr_of_sfb[r][0][grp], kBandCounts[r][0][grp]);
            EXPECT_EQ(nr_of_sfb[r][1][grp], kBandCounts[r][1][grp]);
            EXPECT_EQ(nr_of_sfb[r][2][grp], kBandCounts[r][2][grp]);
        }
        // The first mixed group starts with the 6 long bands, then whole short bands.
        EXPECT_GE(nr_of_sfb[r][2][0], 6);
        EXPECT_EQ((nr_of_sfb[r][2][0] - 6) % 3, 0) << r;
    }
    for (int c = 0; c < 16; ++c) {
        EXPECT_EQ(MP3_ScalefacSlen[0][c], kMpeg1Slen[c][0]);
        EXPECT_EQ(MP3_ScalefacSlen[1][c], kMpeg1Slen[c][1]);
    }
}

}  // namespace
