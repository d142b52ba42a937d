// Huffman decoding of the spectral values, checked against an encoder built
// straight from the Table B.7 code list: values go in, a bitstream comes out,
// and the decoder must give the values back with the cursor exactly at the
// end of the granule's bits.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <random>
#include <vector>

#include "audio/band_tables.h"
#include "audio/parse/huffman_decode.h"
#include "parse/huffman_codes.h"

using namespace mpfix;

namespace {

using mpfix::test::BitWriter;
using mpfix::test::CodeList;
using Spectrum = std::array<int32_t, 576>;
using LongTable = const uint16_t (*)[23];

constexpr int32_t kSentinel = 0x5A5A5A5A;

const CodeList &codes() {
    static const CodeList list = mpfix::test::loadCodeList();
    return list;
}

MP3_FrameHeader header(int id, int sf) {
    MP3_FrameHeader h{};
    h.ID = id, h.layer = 1, h.sampling_frequency = sf;
    return h;
}

MP3_GranuleInfo longGranule(int bigValues, int t0, int t1, int t2, int r0, int r1, int count1) {
    MP3_GranuleInfo g{};
    g.big_values = bigValues;
    g.table_select[0] = t0, g.table_select[1] = t1, g.table_select[2] = t2;
    g.region0_count = r0, g.region1_count = r1, g.count1table_select = count1;
    return g;
}

MP3_GranuleInfo switchedGranule(int bigValues, int blockType, int mixed, int t0, int t1, int count1) {
    MP3_GranuleInfo g{};
    g.big_values = bigValues, g.window_switching_flag = 1, g.block_type = blockType, g.mixed_block_flag = mixed;
    g.table_select[0] = t0, g.table_select[1] = t1, g.table_select[2] = 31;
    g.region0_count = blockType == 2 && !mixed ? 8 : 7, g.region1_count = 20 - g.region0_count;
    g.count1table_select = count1;
    return g;
}

// A random value a table can code: mostly small, some up to 15, some escapes.
int randomValue(std::mt19937 &rng, int max) {
    if (max == 0) return 0;
    int m = max;
    const int pick = static_cast<int>(rng() % 10);
    if (pick < 5) m = std::min(max, 2);
    else if (pick < 8) m = std::min(max, 15);
    const int v = static_cast<int>(rng() % static_cast<unsigned>(m + 1));
    return rng() & 1 ? -v : v;
}

// Encodes values[0..n) as pairs (table by region boundary b1, b2) and then
// `quads` random count1 quadruples after n; returns the granule's bit count.
struct Encoded {
    std::vector<uint8_t> bytes;
    int bits = 0;
    Spectrum values{};
    int bigBits = 0;
};

Encoded encodeGranule(const MP3_GranuleInfo &g, int b1, int b2, int quads, std::mt19937 &rng, int lead = 0,
                      bool fillTail = true) {
    Encoded e;
    BitWriter w;
    w.put(0, lead);
    const int n = 2 * g.big_values;
    for (int i = 0; i < n; i += 2) {
        const int t = g.table_select[i < b1 ? 0 : (i < b2 ? 1 : 2)];
        const int max = mpfix::test::codeSetOf(t) == 0 ? 0 : mpfix::test::maxValueOf(codes(), t);
        e.values[static_cast<size_t>(i)] = randomValue(rng, max);
        e.values[static_cast<size_t>(i + 1)] = randomValue(rng, max);
        if (max > 0) mpfix::test::encodePair(w, codes(), t, e.values[static_cast<size_t>(i)], e.values[static_cast<size_t>(i + 1)]);
    }
    e.bigBits = static_cast<int>(w.bitCount()) - lead;
    for (int q = 0; q < quads; ++q) {
        int *v = &e.values[static_cast<size_t>(n + 4 * q)];
        for (int k = 0; k < 4; ++k) v[k] = static_cast<int>(rng() % 3) - 1;
        mpfix::test::encodeQuad(w, codes(), g.count1table_select, v);
    }
    e.bits = static_cast<int>(w.bitCount()) - lead;
    e.bytes = w.bytes();
    // Bytes after the granule: what the next granule would hold.
    for (int k = 0; k < 8; ++k) e.bytes.push_back(fillTail ? static_cast<uint8_t>(rng()) : 0);
    return e;
}

int boundOf(const Spectrum &v) {
    size_t i = v.size();
    while (i > 0 && v[i - 1] == 0) --i;
    return static_cast<int>(i);
}

struct Result {
    int32_t code;
    Spectrum out;
    int32_t bound;
    int consumed;  // bits from the entry position to the cursor afterwards
};

// MP3_DecodeSpectrum at the cursor (byte, bit) with the band rows of a frame
// with header h found with syncType; the cursor is written back.
int32_t decodeAt(const uint8_t **byte, int32_t *bit, const uint8_t *end, int32_t *out, int32_t *bound,
                 const MP3_GranuleInfo &g, const MP3_FrameHeader &h, int32_t huffmanBits,
                 int32_t syncType = MP3_SYNC_FFF) {
    MP3_GranuleContext context = MP3_OpenGranuleContext(&h, syncType, *byte, end);
    context.cursor.bit = *bit;
    const int32_t code = MP3_DecodeSpectrum(&context, out, bound, &g, huffmanBits);
    *byte = context.cursor.byte;
    *bit = context.cursor.bit;
    return code;
}

Result decode(const std::vector<uint8_t> &bytes, int lead, const MP3_GranuleInfo &g, const MP3_FrameHeader &h,
              int huffmanBits, int32_t syncType = MP3_SYNC_FFF) {
    Result r;
    r.out.fill(kSentinel);
    r.bound = kSentinel;
    const uint8_t *byte = bytes.data() + lead / 8;
    int32_t bit = lead % 8;
    const uint8_t *end = bytes.data() + bytes.size();
    r.code = decodeAt(&byte, &bit, end, r.out.data(), &r.bound, g, h, huffmanBits, syncType);
    r.consumed = MP3_CursorBitsBetween(bytes.data(), 0, byte, bit) - lead;
    return r;
}

// ---- Every codeword of every table ---------------------------------------

TEST(Spectrum, EveryPairOfEveryTableRoundTrips) {
    std::mt19937 rng(7);
    for (int t = 1; t < 32; ++t) {
        if (mpfix::test::codeSetOf(t) == 0) continue;
        SCOPED_TRACE(testing::Message() << "table_select " << t);
        const int lin = codes().linbits[t];
        const int maxValue = mpfix::test::maxValueOf(codes(), t);
        BitWriter w;
        Spectrum values{};
        int i = 0;
        // Each codeword once, with random signs; 15 in an escape table takes a
        // random escape, the largest one for the first pair that has it.
        for (const auto &p : codes().pairs.at(mpfix::test::codeSetOf(t))) {
            auto pick = [&](int v) {
                if (v == 15 && lin > 0) v = i == 0 || rng() % 4 == 0 ? maxValue : 15 + static_cast<int>(rng() % (1u << lin));
                return v != 0 && (rng() & 1) ? -v : v;
            };
            values[static_cast<size_t>(i)] = pick(p.x);
            values[static_cast<size_t>(i + 1)] = pick(p.y);
            if (p.x == 15 && p.y == 15 && lin > 0) values[static_cast<size_t>(i)] = -maxValue, values[static_cast<size_t>(i + 1)] = maxValue;
            mpfix::test::encodePair(w, codes(), t, values[static_cast<size_t>(i)], values[static_cast<size_t>(i + 1)]);
            i += 2;
        }
        const MP3_GranuleInfo g = longGranule(i / 2, t, t, t, 7, 7, 0);
        MP3_GranuleInfo withLength = g;
        withLength.part2_3_length = static_cast<int>(w.bitCount());
        std::vector<uint8_t> bytes = w.bytes();
        bytes.resize(bytes.size() + 8, 0xFF);
        const Result r = decode(bytes, 0, withLength, header(1, 0), static_cast<int>(w.bitCount()));
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.out, values);
        EXPECT_EQ(r.bound, boundOf(values));
        EXPECT_EQ(r.consumed, static_cast<int>(w.bitCount()));
    }
}

// ---- Region boundaries ----------------------------------------------------

struct RegionCase {
    const char *name;
    int id, sf;
    bool mpeg25;
    int blockType, mixed;  // window switching when blockType > 0
    int expectedB1;        // window switching only
};

TEST(Spectrum, WindowSwitchingRegionBoundaryFollowsTheBandTables) {
    // Region 0 of a switched granule: three short bands of each window for
    // block_type 2, long bands 0..7 otherwise; 8 kHz MPEG-2.5 has wider bands.
    const RegionCase cases[] = {
        {"MPEG-1 44.1 kHz short", 1, 0, false, 2, 0, 36},   {"MPEG-1 48 kHz start", 1, 1, false, 1, 0, 36},
        {"MPEG-1 32 kHz stop", 1, 2, false, 3, 0, 36},      {"MPEG-1 mixed", 1, 0, false, 2, 1, 36},
        {"MPEG-2 22.05 kHz short", 0, 0, false, 2, 0, 36},  {"MPEG-2 24 kHz start", 0, 1, false, 1, 0, 54},
        {"MPEG-2 16 kHz stop", 0, 2, false, 3, 0, 54},      {"MPEG-2.5 11.025 kHz short", 0, 0, true, 2, 0, 36},
        {"MPEG-2.5 12 kHz stop", 0, 1, true, 3, 0, 54},     {"MPEG-2.5 8 kHz short", 0, 2, true, 2, 0, 72},
        {"MPEG-2.5 8 kHz mixed", 0, 2, true, 2, 1, 72},     {"MPEG-2.5 8 kHz start", 0, 2, true, 1, 0, 108},
        {"MPEG-2.5 8 kHz stop", 0, 2, true, 3, 0, 108},
    };
    std::mt19937 rng(11);
    for (const RegionCase &c : cases) {
        SCOPED_TRACE(c.name);
        for (int bigValues : {150, 20}) {  // 20: the boundary is cut to n = 40
            // Region 0 with a small table, region 1 with escapes: a misplaced
            // boundary desynchronises the stream.
            MP3_GranuleInfo g = switchedGranule(bigValues, c.blockType, c.mixed, 6, 24, bigValues & 1);
            const int n = 2 * bigValues;
            const int b1 = std::min(c.expectedB1, n);
            const Encoded e = encodeGranule(g, b1, n, 10, rng, 5);
            g.part2_3_length = e.bits;
            const Result r = decode(e.bytes, 5, g, header(c.id, c.sf), e.bits, c.mpeg25 ? MP3_SYNC_FFE : MP3_SYNC_FFF);
            ASSERT_EQ(r.code, 0);
            EXPECT_EQ(r.out, e.values);
            EXPECT_EQ(r.bound, boundOf(e.values));
            EXPECT_EQ(r.consumed, e.bits);
        }
    }
}

TEST(Spectrum, LongBlockRegionsFollowRegionCounts) {
    struct LongCase {
        int id, sf;
        bool mpeg25;
        int r0, r1, bigValues;
    };
    const LongCase cases[] = {
        {1, 0, false, 3, 4, 200}, {1, 1, false, 15, 5, 288}, {1, 2, false, 0, 0, 120}, {0, 1, false, 10, 6, 250},
        {0, 0, true, 7, 7, 180},  {0, 2, true, 5, 3, 200},   {0, 2, true, 15, 5, 287}, {1, 0, false, 8, 2, 30},
    };
    std::mt19937 rng(5);
    for (const LongCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "ID " << c.id << " sf " << c.sf << " r0 " << c.r0 << " r1 " << c.r1);
        const LongTable table = c.mpeg25 ? MP3_SfbLongTable25 : MP3_SfbLongTable;
        const int row = 3 * c.id + c.sf, n = 2 * c.bigValues;
        const int b1 = std::min<int>(table[row][c.r0 + 1], n), b2 = std::min<int>(table[row][c.r0 + c.r1 + 2], n);
        MP3_GranuleInfo g = longGranule(c.bigValues, 2, 24, 13, c.r0, c.r1, 1);
        const Encoded e = encodeGranule(g, b1, b2, (576 - n) / 4, rng, 3);
        g.part2_3_length = e.bits;
        const Result r = decode(e.bytes, 3, g, header(c.id, c.sf), e.bits, c.mpeg25 ? MP3_SYNC_FFE : MP3_SYNC_FFF);
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.out, e.values);
        EXPECT_EQ(r.consumed, e.bits);
    }
}

TEST(Spectrum, Mpeg12VariantUsesTheTwelveBitSyncTables) {
    std::mt19937 rng(3);
    // MPEG-2 at 24 kHz: long band 12 starts at line 114 in this set only.
    MP3_GranuleInfo g = longGranule(200, 7, 15, 24, 11, 2, 0);
    const Encoded e = encodeGranule(g, 114, MP3_SfbLongTable[1][15], 20, rng, 0);
    g.part2_3_length = e.bits;
    Spectrum out;
    out.fill(kSentinel);
    int32_t bound = 0, bit = 0;
    const uint8_t *byte = e.bytes.data();
    const MP3_FrameHeader h = header(0, 1);
    ASSERT_EQ(decodeAt(&byte, &bit, e.bytes.data() + e.bytes.size(), out.data(), &bound, g, h, e.bits), 0);
    EXPECT_EQ(out, e.values);
    EXPECT_EQ(MP3_CursorBitsBetween(e.bytes.data(), 0, byte, bit), e.bits);
}

// ---- Count1 region and the bit budget -------------------------------------

TEST(Spectrum, Count1QuadruplesRoundTripInBothTables) {
    std::mt19937 rng(13);
    for (int table = 0; table < 2; ++table) {
        for (int lead = 0; lead < 8; lead += 3) {
            MP3_GranuleInfo g = longGranule(0, 0, 0, 0, 0, 0, table);
            const Encoded e = encodeGranule(g, 0, 0, 143, rng, lead);  // indexes 0..571
            g.part2_3_length = e.bits;
            const Result r = decode(e.bytes, lead, g, header(1, 0), e.bits);
            ASSERT_EQ(r.code, 0);
            EXPECT_EQ(r.out, e.values);
            EXPECT_EQ(r.bound, boundOf(e.values));
            EXPECT_EQ(r.consumed, e.bits);
        }
    }
}

TEST(Spectrum, LastQuadrupleEndingPastTheBudgetIsDropped) {
    std::mt19937 rng(17);
    for (int table = 0; table < 2; ++table) {
        MP3_GranuleInfo g = longGranule(20, 1, 1, 1, 2, 2, table);
        Encoded e = encodeGranule(g, 40, 40, 6, rng, 2);
        // Make the last quadruple (1, -1, 1, -1): its codeword and four signs.
        BitWriter tail;
        const int last[4] = {1, -1, 1, -1};
        mpfix::test::encodeQuad(tail, codes(), table, last);
        const int lastBits = static_cast<int>(tail.bitCount());
        // Rebuild the stream with the chosen last quadruple.
        BitWriter w;
        w.put(0, 2);
        for (size_t i = 0; i < 40; i += 2) mpfix::test::encodePair(w, codes(), 1, e.values[i], e.values[i + 1]);
        for (int q = 0; q < 5; ++q) mpfix::test::encodeQuad(w, codes(), table, &e.values[static_cast<size_t>(40 + 4 * q)]);
        const int before = static_cast<int>(w.bitCount()) - 2;
        mpfix::test::encodeQuad(w, codes(), table, last);
        std::vector<uint8_t> bytes = w.bytes();
        bytes.resize(bytes.size() + 8, 0);  // never decoded: the budget ends before
        Spectrum expected = e.values;
        for (size_t k = 0; k < 4; ++k) expected[60 + k] = 0;
        for (int cut = 1; cut < lastBits; ++cut) {
            SCOPED_TRACE(testing::Message() << "table " << table << " cut " << cut);
            const int budget = before + lastBits - cut;
            g.part2_3_length = budget + 100;
            const Result r = decode(bytes, 2, g, header(1, 0), budget);
            ASSERT_EQ(r.code, 0);
            EXPECT_EQ(r.out, expected);
            EXPECT_EQ(r.bound, boundOf(expected));
            EXPECT_EQ(r.consumed, budget);
        }
        // The whole quadruple fits: kept, and the tail after it is zero.
        Spectrum kept = expected;
        for (size_t k = 0; k < 4; ++k) kept[60 + k] = last[k];
        const Result r = decode(bytes, 2, g, header(1, 0), before + lastBits);
        EXPECT_EQ(r.out, kept);
        EXPECT_EQ(r.bound, 64);
        EXPECT_EQ(r.consumed, before + lastBits);
    }
}

TEST(Spectrum, BudgetEdges) {
    std::mt19937 rng(19);
    const MP3_FrameHeader h = header(1, 0);
    {
        SCOPED_TRACE("big_values 288: no quadruple, cursor moved over the stuffing");
        MP3_GranuleInfo g = longGranule(288, 24, 7, 16, 6, 6, 0);
        const Encoded e = encodeGranule(g, MP3_SfbLongTable[3][7], MP3_SfbLongTable[3][14], 0, rng, 1);
        g.part2_3_length = e.bits + 13;
        const Result r = decode(e.bytes, 1, g, h, e.bits + 13);
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.out, e.values);
        EXPECT_EQ(r.bound, boundOf(e.values));
        EXPECT_EQ(r.consumed, e.bits + 13);
    }
    {
        SCOPED_TRACE("big_values 287 (n = 574): no quadruple, 574 and 575 zero");
        MP3_GranuleInfo g = longGranule(287, 9, 9, 9, 6, 6, 1);
        const Encoded e = encodeGranule(g, 576, 576, 0, rng, 0);
        g.part2_3_length = e.bits + 20;
        const Result r = decode(e.bytes, 0, g, h, e.bits + 20);
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.out, e.values);
        EXPECT_EQ(r.out[574], 0);
        EXPECT_EQ(r.out[575], 0);
        EXPECT_EQ(r.consumed, e.bits + 20);
    }
    {
        SCOPED_TRACE("Huffman bit count 0: all zero, nothing read");
        MP3_GranuleInfo g = longGranule(100, 5, 5, 5, 3, 3, 0);
        g.part2_3_length = 50;
        const std::vector<uint8_t> bytes(16, 0xA5);
        const Result r = decode(bytes, 3, g, h, 0);
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.out, Spectrum{});
        EXPECT_EQ(r.bound, 0);
        EXPECT_EQ(r.consumed, 0);
    }
    {
        SCOPED_TRACE("big values overrun the budget: -2, cursor past them, count1 untouched");
        MP3_GranuleInfo g = longGranule(60, 15, 15, 15, 3, 3, 0);
        const Encoded e = encodeGranule(g, 120, 120, 5, rng, 4);
        g.part2_3_length = 4000;
        const Result r = decode(e.bytes, 4, g, h, e.bigBits - 1);
        EXPECT_EQ(r.code, MP3_ERR_PARAM);
        for (size_t i = 0; i < 120; ++i) EXPECT_EQ(r.out[i], e.values[i]) << i;
        for (size_t i = 120; i < 576; ++i) ASSERT_EQ(r.out[i], kSentinel) << i;
        EXPECT_EQ(r.bound, kSentinel);
        EXPECT_EQ(r.consumed, e.bigBits);
    }
    {
        SCOPED_TRACE("regions with tables 0, 4, 14 write zeros and read nothing");
        for (int empty : {0, 4, 14}) {
            MP3_GranuleInfo g = longGranule(100, empty, 3, empty, 2, 3, 0);
            const int b1 = MP3_SfbLongTable[3][3], b2 = MP3_SfbLongTable[3][7];
            const Encoded e = encodeGranule(g, b1, b2, 4, rng, 6);
            g.part2_3_length = e.bits;
            const Result r = decode(e.bytes, 6, g, h, e.bits);
            ASSERT_EQ(r.code, 0);
            EXPECT_EQ(r.out, e.values);
            EXPECT_EQ(r.consumed, e.bits);
        }
    }
    {
        SCOPED_TRACE("coded zeros at the end do not extend the bound");
        BitWriter w;
        const int pairs[][2] = {{1, -1}, {0, 1}, {0, 0}, {0, 0}};
        for (const auto &p : pairs) mpfix::test::encodePair(w, codes(), 1, p[0], p[1]);
        const int zero[4] = {0, 0, 0, 0};
        mpfix::test::encodeQuad(w, codes(), 0, zero);
        mpfix::test::encodeQuad(w, codes(), 0, zero);
        std::vector<uint8_t> bytes = w.bytes();
        bytes.resize(bytes.size() + 8, 0);
        MP3_GranuleInfo g = longGranule(4, 1, 1, 1, 0, 0, 0);
        g.part2_3_length = static_cast<int>(w.bitCount());
        const Result r = decode(bytes, 0, g, h, static_cast<int>(w.bitCount()));
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.bound, 4);
    }
}

// ---- Validation ------------------------------------------------------------

TEST(Spectrum, FieldsOutOfRangeWriteNothingAndKeepTheCursor) {
    struct Bad {
        const char *name;
        void (*spoil)(MP3_GranuleInfo &, MP3_FrameHeader &, int &bits);
    };
    const Bad cases[] = {
        {"big_values 289", [](MP3_GranuleInfo &g, MP3_FrameHeader &, int &) { g.big_values = 289; }},
        {"big_values -1", [](MP3_GranuleInfo &g, MP3_FrameHeader &, int &) { g.big_values = -1; }},
        {"block_type 4", [](MP3_GranuleInfo &g, MP3_FrameHeader &, int &) { g.block_type = 4; }},
        {"ID 2", [](MP3_GranuleInfo &, MP3_FrameHeader &h, int &) { h.ID = 2; }},
        {"window_switching_flag 2", [](MP3_GranuleInfo &g, MP3_FrameHeader &, int &) { g.window_switching_flag = 2; }},
        {"switched block_type 0", [](MP3_GranuleInfo &g, MP3_FrameHeader &, int &) { g.window_switching_flag = 1; }},
        {"layer 2", [](MP3_GranuleInfo &, MP3_FrameHeader &h, int &) { h.layer = 2; }},
        {"count1table_select 2", [](MP3_GranuleInfo &g, MP3_FrameHeader &, int &) { g.count1table_select = 2; }},
        {"sampling_frequency 3", [](MP3_GranuleInfo &, MP3_FrameHeader &h, int &) { h.sampling_frequency = 3; }},
        {"bits over part2_3_length", [](MP3_GranuleInfo &g, MP3_FrameHeader &, int &b) { b = g.part2_3_length + 1; }},
        {"bits -1", [](MP3_GranuleInfo &, MP3_FrameHeader &, int &b) { b = -1; }},
        {"table_select[0] 32", [](MP3_GranuleInfo &g, MP3_FrameHeader &, int &) { g.table_select[0] = 32; }},
        {"table_select[1] -1", [](MP3_GranuleInfo &g, MP3_FrameHeader &, int &) { g.table_select[1] = -1; }},
        {"region counts 15 + 7", [](MP3_GranuleInfo &g, MP3_FrameHeader &, int &) { g.region0_count = 15, g.region1_count = 7; }},
        {"region0_count -1", [](MP3_GranuleInfo &g, MP3_FrameHeader &, int &) { g.region0_count = -1; }},
        {"bits 0, table_select[2] 32", [](MP3_GranuleInfo &g, MP3_FrameHeader &, int &b) { b = 0, g.table_select[2] = 32; }},
        {"bits 0, region counts 15 + 7", [](MP3_GranuleInfo &g, MP3_FrameHeader &, int &b) { b = 0, g.region0_count = 15, g.region1_count = 7; }},
    };
    const std::vector<uint8_t> bytes(64, 0x3C);
    for (const Bad &c : cases) {
        SCOPED_TRACE(c.name);
        MP3_GranuleInfo g = longGranule(50, 5, 6, 7, 3, 3, 0);
        g.part2_3_length = 300;
        MP3_FrameHeader h = header(1, 0);
        int bits = 200;
        c.spoil(g, h, bits);
        const Result r = decode(bytes, 5, g, h, bits);
        EXPECT_EQ(r.code, MP3_ERR_PARAM);
        EXPECT_EQ(r.bound, kSentinel);
        EXPECT_EQ(r.consumed, 0);
        for (size_t i = 0; i < 576; ++i) ASSERT_EQ(r.out[i], kSentinel) << i;
    }
}

TEST(Spectrum, BadTableSelectTwoIsFoundAfterRegionsZeroAndOne) {
    std::mt19937 rng(23);
    MP3_GranuleInfo g = longGranule(100, 5, 6, 7, 3, 3, 0);
    const int b1 = MP3_SfbLongTable[3][4], b2 = MP3_SfbLongTable[3][8];
    Encoded e = encodeGranule(g, b1, b2, 0, rng, 0);
    g.table_select[2] = 40;
    g.part2_3_length = e.bits;
    const Result r = decode(e.bytes, 0, g, header(1, 0), e.bits);
    EXPECT_EQ(r.code, MP3_ERR_PARAM);
    for (size_t i = 0; i < static_cast<size_t>(b2); ++i) EXPECT_EQ(r.out[i], e.values[i]) << i;
    EXPECT_EQ(r.out[static_cast<size_t>(b2)], kSentinel);
    EXPECT_EQ(r.bound, kSentinel);
    EXPECT_GT(r.consumed, 0);
}

TEST(Spectrum, MalformedCursorIsRejected) {
    std::vector<uint8_t> bytes(16, 0);
    MP3_GranuleInfo g = longGranule(4, 1, 1, 1, 0, 0, 0);
    g.part2_3_length = 8;
    const MP3_FrameHeader h = header(1, 0);
    Spectrum out{};
    int32_t bound = 0;
    for (int32_t badBit : {-1, 8}) {
        const uint8_t *byte = bytes.data();
        int32_t bit = badBit;
        EXPECT_EQ(decodeAt(&byte, &bit, bytes.data() + 16, out.data(), &bound, g, h, 8), MP3_ERR_PARAM);
    }
    const uint8_t *byte = bytes.data() + 8;
    int32_t bit = 0;
    EXPECT_EQ(decodeAt(&byte, &bit, bytes.data() + 4, out.data(), &bound, g, h, 8), MP3_ERR_PARAM);
}

// ---- The end of the reservoir ---------------------------------------------

// Invariants of any decode: cursor inside the reservoir, values in range and,
// on success, a correct bound over a zero tail.
void checkInvariants(int32_t code, const Spectrum &out, int32_t bound, const uint8_t *base, const uint8_t *byte,
                     int32_t bit) {
    ASSERT_GE(byte, base);
    ASSERT_LE(byte, base + MP3_RESERVOIR_BYTES);
    ASSERT_GE(bit, 0);
    ASSERT_LE(bit, 7);
    if (byte == base + MP3_RESERVOIR_BYTES) {
        ASSERT_EQ(bit, 0);
    }
    ASSERT_TRUE(code == 0 || code == MP3_ERR_PARAM);
    for (int32_t v : out) {
        if (v != kSentinel) {
            ASSERT_LE(std::abs(v), 8206);
        }
    }
    if (code == 0) {
        ASSERT_GE(bound, 0);
        ASSERT_LE(bound, 576);
        for (auto i = static_cast<size_t>(bound); i < 576; ++i) ASSERT_EQ(out[i], 0);
        if (bound > 0) {
            ASSERT_NE(out[static_cast<size_t>(bound - 1)], 0);
        }
    }
}

TEST(SpectrumReservoirEnd, CorruptGranulesNearTheEndStayInside) {
    // A heap block of exactly the reservoir's size: the sanitizer build sees any
    // read past it.
    auto reservoir = std::make_unique<uint8_t[]>(MP3_RESERVOIR_BYTES);
    uint8_t *base = reservoir.get();
    const uint8_t *end = base + MP3_RESERVOIR_BYTES;
    std::mt19937 rng(29);
    for (int i = 0; i < MP3_RESERVOIR_BYTES; ++i) base[i] = i < 3000 ? static_cast<uint8_t>(rng()) : 0xFF;
    // Escape-heavy all-ones data: table 23 reads up to 36 bits per pair.
    MP3_GranuleInfo g = longGranule(288, 23, 23, 23, 7, 7, 0);
    g.part2_3_length = 4095;
    const MP3_FrameHeader h = header(1, 0);
    const uint8_t *byte = base + 3900;
    int32_t bit = 3;
    // One granule after another, as a driver would run them, until the cursor
    // is pinned at the end.
    for (int granule = 0; granule < 8; ++granule) {
        Spectrum out;
        out.fill(kSentinel);
        int32_t bound = kSentinel;
        const int32_t code = decodeAt(&byte, &bit, end, out.data(), &bound, g, h, 4095);
        checkInvariants(code, out, bound, base, byte, bit);
    }
    EXPECT_EQ(byte, end);
    EXPECT_EQ(bit, 0);
}

TEST(SpectrumReservoirEnd, RandomGranulesNearTheEnd) {
    auto reservoir = std::make_unique<uint8_t[]>(MP3_RESERVOIR_BYTES);
    uint8_t *base = reservoir.get();
    const uint8_t *end = base + MP3_RESERVOIR_BYTES;
    std::mt19937 rng(31);
    for (int i = 0; i < MP3_RESERVOIR_BYTES; ++i) base[i] = static_cast<uint8_t>(rng());
    for (int iteration = 0; iteration < 300; ++iteration) {
        MP3_GranuleInfo g{};
        g.big_values = static_cast<int>(rng() % 289);
        g.window_switching_flag = static_cast<int>(rng() % 2);
        g.block_type = g.window_switching_flag ? 1 + static_cast<int>(rng() % 3) : 0;
        g.mixed_block_flag = static_cast<int>(rng() % 2);
        for (int &t : g.table_select) t = static_cast<int>(rng() % 32);
        g.region0_count = static_cast<int>(rng() % 16);
        g.region1_count = static_cast<int>(rng() % static_cast<uint32_t>(std::max(1, 21 - g.region0_count)));
        g.count1table_select = static_cast<int>(rng() % 2);
        g.part2_3_length = static_cast<int>(rng() % 4096);
        const bool mpeg25 = rng() & 1;
        const MP3_FrameHeader h = header(mpeg25 ? 0 : static_cast<int>(rng() % 2), static_cast<int>(rng() % 3));
        const uint8_t *byte = end - rng() % 200;
        int32_t bit = byte == end ? 0 : static_cast<int32_t>(rng() % 8);
        const uint8_t *startByte = byte;
        const int32_t startBit = bit;
        const int32_t bits = static_cast<int32_t>(rng() % static_cast<unsigned>(g.part2_3_length + 1));
        Spectrum out;
        out.fill(kSentinel);
        int32_t bound = kSentinel;
        const int32_t code =
            decodeAt(&byte, &bit, end, out.data(), &bound, g, h, bits, mpeg25 ? MP3_SYNC_FFE : MP3_SYNC_FFF);
        checkInvariants(code, out, bound, base, byte, bit);
        if (code == 0) {  // exactly the granule's bits, or the end of the reservoir if that comes first.
            const int32_t target = MP3_CursorBitsBetween(base, 0, startByte, startBit) + bits;
            EXPECT_EQ(MP3_CursorBitsBetween(base, 0, byte, bit), std::min(target, 8 * MP3_RESERVOIR_BYTES));
        }
    }
}

}  // namespace
