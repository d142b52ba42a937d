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

std::string bitString(uint32_t value, int width) {
    std::string bits;
    for (int b = width - 1; b >= 0; --b) bits += ((value >> b) & 1u) != 0 ? '1' : '0';
    return bits;
}

// The leaf entry of a codeword that starts a lookup level whose bits are
// `bits` (the codeword's bits in it first): signs folded in when they fit and
// no escape comes first, else the magnitudes and the codeword's bits.
uint32_t expectedLeaf(const mpfix::test::PairCode &code, const std::string &bits, size_t used, bool escapes) {
    const size_t signs = size_t{code.x != 0} + size_t{code.y != 0};
    if (used + signs <= bits.size() && !(escapes && (code.x == 15 || code.y == 15))) {
        size_t next = used;
        const int x = code.x != 0 && bits[next++] == '1' ? -code.x : code.x;
        const int y = code.y != 0 && bits[next++] == '1' ? -code.y : code.y;
        return ((static_cast<uint32_t>(y) & 31u) << 11) | ((static_cast<uint32_t>(x) & 31u) << 6) |
               static_cast<uint32_t>(next);
    }
    return (static_cast<uint32_t>(code.y) << 12) | (static_cast<uint32_t>(code.x) << 8) | 0x20u |
           static_cast<uint32_t>(used);
}

// The codeword that the bit string starts with, if any.
const mpfix::test::PairCode *codeAt(const std::vector<mpfix::test::PairCode> &pairs, const std::string &bits) {
    for (const auto &p : pairs)
        if (p.code.size() <= bits.size() && bits.compare(0, p.code.size(), p.code) == 0) return &p;
    return nullptr;
}

TEST(HuffmanLookup, EveryEntryFollowsFromTheCodeList) {
    for (int t = 0; t < 32; ++t) {
        SCOPED_TRACE(testing::Message() << "table_select " << t);
        if (!hasCodes(t)) {
            EXPECT_EQ(MP3_HuffLookup[t], nullptr);
            EXPECT_EQ(MP3_HuffLookupEntries[t], 0);
            continue;
        }
        const auto &pairs = codes().pairs.at(mpfix::test::codeSetOf(t));
        const bool escapes = codes().linbits[t] > 0;
        const int k = t <= 12 ? MP3_HUFF_SMALL_LOOKUP_BITS : MP3_HUFF_LARGE_LOOKUP_BITS;
        const uint16_t *lookup = MP3_HuffLookup[t];
        const size_t entries = MP3_HuffLookupEntries[t];
        std::vector<int> visits(entries, 0);  // every subtable entry is reached exactly once
        for (uint32_t index = 0; index < (1u << k); ++index) {
            const std::string bits = bitString(index, k);
            const uint32_t e = lookup[index];
            ++visits[index];
            if (const auto *hit = codeAt(pairs, bits)) {
                ASSERT_EQ(e, expectedLeaf(*hit, bits, hit->code.size(), escapes)) << bits;
                continue;
            }
            // A longer codeword: the subtable is as wide as the longest rest under this prefix.
            size_t longest = 0;
            for (const auto &p : pairs)
                if (p.code.compare(0, bits.size(), bits) == 0) longest = std::max(longest, p.code.size());
            const int m = static_cast<int>(longest) - k;
            ASSERT_EQ(e & 0x7Fu, 0x60u | static_cast<uint32_t>(m)) << bits;
            const size_t base = (1u << k) + 2 * (e >> 7);
            ASSERT_LE(base + (1u << m), entries) << bits;
            for (uint32_t rest = 0; rest < (1u << m); ++rest) {
                const std::string more = bitString(rest, m);
                const auto *hit = codeAt(pairs, bits + more);
                ASSERT_NE(hit, nullptr) << bits << more;
                ASSERT_EQ(lookup[base + rest], expectedLeaf(*hit, more, hit->code.size() - bits.size(), escapes))
                    << bits << " " << more;
                ++visits[base + rest];
            }
        }
        EXPECT_EQ(std::count(visits.begin(), visits.end(), 1), static_cast<ptrdiff_t>(entries));
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
            const std::string bits = bitString(index, k);
            int matches = 0;
            for (const auto &q : codes().quads[table]) {
                if (bits.compare(0, q.code.size(), q.code) != 0) continue;
                ++matches;
                size_t next = q.code.size();
                int32_t values[4];
                for (int v = 0; v < 4; ++v) values[v] = q.v[v] != 0 && bits[next++] == '1' ? -q.v[v] : q.v[v];
                ASSERT_EQ(lookup[index] & 15u, next) << table << " " << bits;
                const int32_t *row = MP3_Count1Quads[lookup[index] >> 4];
                ASSERT_EQ(std::vector<int32_t>(row, row + 4), std::vector<int32_t>(values, values + 4)) << bits;
            }
            ASSERT_EQ(matches, 1) << bits;
        }
    }
    // The rows: every quadruple of -1, 0 and 1 once, in base-3 order.
    for (int r = 0; r < 81; ++r) {
        const int32_t expected[4] = {r / 27 - 1, r / 9 % 3 - 1, r / 3 % 3 - 1, r % 3 - 1};
        for (int v = 0; v < 4; ++v) ASSERT_EQ(MP3_Count1Quads[r][v], expected[v]) << r;
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

// A granule's worth on one reader: three regions, then count1, each step by
// a variant picked at random, so every variant takes over the reader from
// every other mid-stream (and near the end of the bytes); the same values,
// bound and final position as the reference throughout.
TEST(HuffmanVariants, VariantsTakeOverEachOthersReader) {
    SplitMix64 rng{13};
    const auto big = DecodeBigValuesVariants();
    const auto quads = DecodeCount1Variants();
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> bytes(rng.below(900));
        for (auto &b : bytes) b = static_cast<uint8_t>(rng.below(3) == 0 ? rng.next() | rng.next() : rng.next());
        const int32_t bit = bytes.empty() ? 0 : static_cast<int32_t>(rng.below(8));
        int32_t tables[3], counts[3], total = 0;
        for (int r = 0; r < 3; ++r) {
            tables[r] = static_cast<int32_t>(rng.below(32));
            counts[r] = 2 * static_cast<int32_t>(rng.below(static_cast<uint32_t>(289 - total / 2) / 2 + 1));
            total += counts[r];
        }
        const int32_t table1 = static_cast<int32_t>(rng.below(2));
        const int32_t budget = static_cast<int32_t>(rng.below(2000)) - 20;
        auto run = [&](bool reference, SplitMix64 picks) {
            auto pick = [&](auto list) { return list[picks.below(static_cast<uint32_t>(list.size()))].fn; };
            Count1Run r{std::vector<int32_t>(576, 0x5A5A5A5A), 0, 0};
            MP3_BitReader reader;
            MP3_ReaderOpen(&reader, bytes.data(), bit, bytes.data() + bytes.size());
            int32_t *at = r.out.data();
            for (int k = 0; k < 3; ++k) {
                const auto fn = reference ? MP3_DecodeBigValues_ref : pick(big);
                if (counts[k] > 0) fn(&reader, tables[k], &at, counts[k]);
            }
            const auto fn1 = reference ? MP3_DecodeCount1_ref : pick(quads);
            r.bound = fn1(&reader, table1, r.out.data(), total, budget);
            r.position = MP3_ReaderPosition(&reader);
            return r;
        };
        const Count1Run ref = run(true, rng);
        const SplitMix64 picks{rng.next()};
        ASSERT_TRUE(run(false, picks) == ref) << "round " << round;
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
    EXPECT_EQ(variants.size(), 3u);
    EXPECT_EQ(DecodeCount1Variants().size(), 3u);
#endif
}

}  // namespace
