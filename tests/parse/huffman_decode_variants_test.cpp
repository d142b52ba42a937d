// The big-value decoders: the wide lookups derived again from the Table B.7
// code list, and every variant called explicitly against the reference bit
// for bit (values, words past the region, reader position) on streams encoded
// from random values and on random bytes ending at a random place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/parse/huffman_decode.h"
#include "audio/parse/huffman_tables.h"
#include "parse/huffman_codes.h"
#include "support/random.h"

using namespace mpfix;
using mpfix::test::BitWriter;
using mpfix::test::CodeList;

namespace {

using mpfix::test::SplitMix64;

const CodeList &codes() {
    static const CodeList list = mpfix::test::loadCodeList();
    return list;
}

bool hasCodes(int t) { return t != 0 && t != 4 && t != 14; }

// Walks the packed tree (node area) from its root along bits.
uint32_t nodeAfter(int t, const std::string &bits) {
    uint32_t q = 0;
    for (char c : bits) {
        const uint32_t node = t <= 12 ? MP3_HuffSmallTables[t][16 + q] : MP3_HuffLargeTables[t - 13][16 + q];
        if ((node & 1u) != 0) ADD_FAILURE() << "leaf before the end of " << bits;
        q = c == '1' ? node >> 1 : q + 1;
    }
    return q;
}

TEST(HuffmanLookup, EveryEntryFollowsFromTheCodeList) {
    for (int t = 0; t < 32; ++t) {
        SCOPED_TRACE(testing::Message() << "table_select " << t);
        if (!hasCodes(t)) {
            EXPECT_EQ(MP3_HuffLookup[t], nullptr);
            EXPECT_EQ(MP3_HuffLookupBits[t], 0);
            continue;
        }
        const auto &pairs = codes().pairs.at(mpfix::test::codeSetOf(t));
        size_t longest = 0;
        for (const auto &p : pairs) longest = std::max(longest, p.code.size());
        const int k = static_cast<int>(std::min<size_t>(longest, t <= 12 ? 8 : 10));
        ASSERT_EQ(MP3_HuffLookupBits[t], k);
        for (uint32_t index = 0; index < (1u << k); ++index) {
            std::string bits;
            for (int b = k - 1; b >= 0; --b) bits += ((index >> b) & 1u) != 0 ? '1' : '0';
            const uint32_t e = MP3_HuffLookup[t][index];
            const auto hit = std::find_if(pairs.begin(), pairs.end(), [&](const auto &p) {
                return p.code.size() <= bits.size() && bits.compare(0, p.code.size(), p.code) == 0;
            });
            if (hit != pairs.end()) {
                // Signs are folded in when they fit and no escape comes first.
                const size_t length = hit->code.size();
                const size_t signs = size_t{hit->x != 0} + size_t{hit->y != 0};
                const bool escape = codes().linbits[t] > 0 && (hit->x == 15 || hit->y == 15);
                uint32_t expected;
                if (length + signs <= bits.size() && !escape) {
                    size_t next = length;
                    const int x = hit->x != 0 && bits[next++] == '1' ? -hit->x : hit->x;
                    const int y = hit->y != 0 && bits[next++] == '1' ? -hit->y : hit->y;
                    expected = ((static_cast<uint32_t>(y) & 31u) << 10) | ((static_cast<uint32_t>(x) & 31u) << 5) |
                               static_cast<uint32_t>(next << 1) | 1u;
                } else {
                    expected = 0x8000u | (static_cast<uint32_t>(hit->y) << 10) | (static_cast<uint32_t>(hit->x) << 5) |
                               static_cast<uint32_t>(length << 1) | 1u;
                }
                ASSERT_EQ(e, expected) << bits;
            } else {
                ASSERT_EQ(e & 1u, 0u) << bits;
                ASSERT_EQ(e >> 1, nodeAfter(t, bits)) << bits;
            }
        }
    }
}

// Runs one decoder on bytes (readable up to end) from bit `bit`; returns the
// values written (with sentinels past the region) and the reader position.
struct Decoded {
    std::vector<int32_t> out;
    int32_t position;
    bool operator==(const Decoded &) const = default;
};

Decoded decode(DecodeBigValuesFn fn, const std::vector<uint8_t> &bytes, int32_t bit, int32_t table, int32_t count) {
    Decoded r{std::vector<int32_t>(static_cast<size_t>(count) + 4, 0x5A5A5A5A), 0};
    MP3_BitReader reader;
    MP3_ReaderOpen(&reader, bytes.data(), bit, bytes.data() + bytes.size());
    int32_t *at = r.out.data();
    fn(&reader, table, &at, count);
    EXPECT_EQ(at, r.out.data() + count);
    r.position = MP3_ReaderPosition(&reader);
    return r;
}

int randomValue(SplitMix64 &rng, int max) {
    int m = max;
    switch (rng.below(8)) {
    case 0: case 1: case 2: m = 0; break;
    case 3: case 4: m = std::min(max, 1); break;
    case 5: m = std::min(max, 15); break;
    default: break;
    }
    const int v = static_cast<int>(rng.below(static_cast<uint32_t>(m) + 1));
    return rng.below(2) != 0 ? -v : v;
}

TEST(HuffmanVariants, EncodedRandomValuesDecodeAlikeAndExactly) {
    SplitMix64 rng{7};
    for (int t = 0; t < 32; ++t) {
        SCOPED_TRACE(testing::Message() << "table_select " << t);
        for (int round = 0; round < 6; ++round) {
            const int32_t count = 2 * static_cast<int32_t>(1 + rng.below(288));
            const int32_t bit = static_cast<int32_t>(rng.below(8));
            std::vector<int32_t> values(static_cast<size_t>(count), 0);
            BitWriter w;
            w.put(0, bit);
            if (hasCodes(t)) {
                const int max = mpfix::test::maxValueOf(codes(), t);
                for (auto &v : values) v = randomValue(rng, max);
                for (size_t i = 0; i < values.size(); i += 2)
                    mpfix::test::encodePair(w, codes(), t, values[i], values[i + 1]);
            }
            const int32_t end = static_cast<int32_t>(w.bitCount());
            w.put(static_cast<uint32_t>(rng.next()), 32);  // whatever follows the region
            const Decoded ref = decode(MP3_DecodeBigValues_ref, w.bytes(), bit, t, count);
            ASSERT_EQ(std::vector<int32_t>(ref.out.begin(), ref.out.begin() + static_cast<ptrdiff_t>(count)), values);
            ASSERT_EQ(ref.position, end);
            for (const auto &variant : DecodeBigValuesVariants()) {
                SCOPED_TRACE(variant.name);
                ASSERT_TRUE(decode(variant.fn, w.bytes(), bit, t, count) == ref);
            }
        }
    }
}

// Corrupt main data: random bytes (mostly ones, so the long codewords and
// the escapes come up), stopping anywhere, even before the first bit, so
// the readers run past the end and read zeros there.
TEST(HuffmanVariants, RandomBytesWithRandomEndsDecodeAlike) {
    SplitMix64 rng{11};
    for (int round = 0; round < 400; ++round) {
        const int32_t t = static_cast<int32_t>(rng.below(32));
        const int32_t count = 2 * static_cast<int32_t>(1 + rng.below(288));
        std::vector<uint8_t> bytes(rng.below(200));
        const bool dense = rng.below(2) != 0;
        for (auto &b : bytes) b = static_cast<uint8_t>(dense ? rng.next() | rng.next() : rng.next());
        const int32_t bit = bytes.empty() ? 0 : static_cast<int32_t>(rng.below(8));
        const Decoded ref = decode(MP3_DecodeBigValues_ref, bytes, bit, t, count);
        for (const auto &variant : DecodeBigValuesVariants()) {
            SCOPED_TRACE(testing::Message() << variant.name << ", table_select " << t);
            ASSERT_TRUE(decode(variant.fn, bytes, bit, t, count) == ref);
        }
    }
}

// All ones: the longest codeword of every table, then the largest escapes.
TEST(HuffmanVariants, AllOnesDecodeAlike) {
    const std::vector<uint8_t> ones(1400, 0xFF);
    for (int32_t t = 0; t < 32; ++t) {
        const Decoded ref = decode(MP3_DecodeBigValues_ref, ones, 3, t, 576);
        for (const auto &variant : DecodeBigValuesVariants())
            ASSERT_TRUE(decode(variant.fn, ones, 3, t, 576) == ref) << variant.name << ", table_select " << t;
    }
}

// Count1: every lookup entry from the code list, then the variants against
// the reference on encoded quadruples and on random bytes, with budgets that
// end exactly, cut a codeword, or leave stuffing, and starts near 576.
TEST(HuffmanLookup, Count1EntriesFollowFromTheCodeList) {
    for (int table = 0; table < 2; ++table) {
        const int k = table == 0 ? 10 : 8;
        const uint16_t *lookup = table == 0 ? MP3_Count1LookupA : MP3_Count1LookupB;
        for (uint32_t index = 0; index < (1u << k); ++index) {
            std::string bits;
            for (int b = k - 1; b >= 0; --b) bits += ((index >> b) & 1u) != 0 ? '1' : '0';
            int matches = 0;
            for (const auto &q : codes().quads[table]) {
                if (bits.compare(0, q.code.size(), q.code) != 0) continue;
                ++matches;
                size_t next = q.code.size();
                uint32_t expected = 0;
                for (int v = 0; v < 4; ++v) {
                    const int value = q.v[v] != 0 && bits[next++] == '1' ? -q.v[v] : q.v[v];
                    expected |= (static_cast<uint32_t>(value) & 3u) << (10 - 2 * v);
                }
                ASSERT_EQ(lookup[index], expected | static_cast<uint32_t>(next)) << table << " " << bits;
            }
            ASSERT_EQ(matches, 1) << bits;
        }
    }
}

struct Count1Run {
    std::vector<int32_t> out;
    int32_t bound, position;
    bool operator==(const Count1Run &) const = default;
};

Count1Run count1(DecodeCount1Fn fn, const std::vector<uint8_t> &bytes, int32_t bit, int32_t table, int32_t start,
                 int32_t budget) {
    Count1Run r{std::vector<int32_t>(576, 0x5A5A5A5A), 0, 0};
    MP3_BitReader reader;
    MP3_ReaderOpen(&reader, bytes.data(), bit, bytes.data() + bytes.size());
    r.bound = fn(&reader, table, r.out.data(), start, budget);
    r.position = MP3_ReaderPosition(&reader);
    return r;
}

TEST(HuffmanVariants, Count1DecodesAlike) {
    SplitMix64 rng{5};
    for (int round = 0; round < 600; ++round) {
        const int32_t table = static_cast<int32_t>(rng.below(2));
        const int32_t start =
            round % 5 == 0 ? static_cast<int32_t>(560 + rng.below(20)) : 2 * static_cast<int32_t>(rng.below(289));
        const int32_t bit = static_cast<int32_t>(rng.below(8));
        BitWriter w;
        w.put(0, bit);
        if (round % 2 == 0) {  // encoded quadruples
            for (int n = 0; n < 150; ++n) {
                int q[4];
                for (int &v : q) v = rng.below(3) == 0 ? (rng.below(2) != 0 ? -1 : 1) : 0;
                mpfix::test::encodeQuad(w, codes(), table, q);
            }
        } else {
            for (int n = 0; n < 40; ++n) w.put(static_cast<uint32_t>(rng.next()), 32);
        }
        std::vector<uint8_t> bytes = w.bytes();
        bytes.resize(rng.below(static_cast<uint32_t>(bytes.size()) + 1));
        const int32_t budget = static_cast<int32_t>(rng.below(1400)) - 20;
        const Count1Run ref = count1(MP3_DecodeCount1_ref, bytes, bytes.empty() ? 0 : bit, table, start, budget);
        for (const auto &variant : DecodeCount1Variants()) {
            SCOPED_TRACE(testing::Message() << variant.name << ", round " << round);
            ASSERT_TRUE(count1(variant.fn, bytes, bytes.empty() ? 0 : bit, table, start, budget) == ref);
        }
    }
}

TEST(HuffmanVariants, ListStartsWithTheReference) {
    const auto variants = DecodeBigValuesVariants();
    ASSERT_FALSE(variants.empty());
    EXPECT_STREQ(variants[0].name, "ref");
    EXPECT_EQ(variants[0].fn, &MP3_DecodeBigValues_ref);
    ASSERT_FALSE(DecodeCount1Variants().empty());
    EXPECT_EQ(DecodeCount1Variants()[0].fn, &MP3_DecodeCount1_ref);
#if !MPFIX_PLAIN_KERNELS
    EXPECT_EQ(variants.size(), 2u);
    EXPECT_EQ(DecodeCount1Variants().size(), 2u);
#endif
}

}  // namespace
