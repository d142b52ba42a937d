// The packed Huffman tables, rebuilt here from the code list of Table B.7 by
// the construction rule and compared entry for entry with what the decoder uses.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "audio/parse/huffman_tables.h"
#include "parse/huffman_codes.h"

using namespace mpfix;

namespace {

using mpfix::test::CodeList;
using mpfix::test::PairCode;

struct Node {
    bool leaf = false;
    int x = 0, y = 0;
    std::unique_ptr<Node> child[2];
    int index = -1;  // position in the node area
};

std::unique_ptr<Node> buildTree(const std::vector<PairCode> &codes) {
    auto root = std::make_unique<Node>();
    for (const PairCode &c : codes) {
        Node *node = root.get();
        for (char bit : c.code) {
            auto &next = node->child[bit == '1'];
            if (!next) next = std::make_unique<Node>();
            node = next.get();
        }
        node->leaf = true, node->x = c.x, node->y = c.y;
    }
    return root;
}

// Depth first: internal node = 2 x index of its 1-child, 0-child right after it.
void serialize(Node *node, bool large, std::vector<int> &area) {
    node->index = static_cast<int>(area.size());
    if (node->leaf) {
        const int x = large && node->x >= 8 ? node->x - 16 : node->x;
        area.push_back(large ? ((x * 64 + node->y * 4 + 1) & 0xFFFF) : node->x * 32 + node->y * 4 + 1);
        return;
    }
    area.push_back(0);
    serialize(node->child[0].get(), large, area);
    area[static_cast<size_t>(node->index)] = 2 * static_cast<int>(area.size());
    serialize(node->child[1].get(), large, area);
}

int field(int value, bool large) { return value & (large ? 15 : 3); }

std::vector<int> buildTable(const std::vector<PairCode> &codes, bool large) {
    auto root = buildTree(codes);
    std::vector<int> area;
    serialize(root.get(), large, area);
    const int xShift = large ? 8 : 6;
    std::vector<int> table;
    bool anyPointer = false;
    for (int p = 0; p < 16; ++p) {
        Node *node = root.get();
        int k = 0;
        while (k < 4 && !node->leaf) node = node->child[(p >> (3 - k++)) & 1].get();
        if (!node->leaf) {
            table.push_back(2 * node->index);
            anyPointer = true;
            continue;
        }
        const int x = node->x, y = node->y, s = (x != 0) + (y != 0);
        int signBit = 3 - k;  // next bit of p after the codeword
        auto nextSign = [&]() { return signBit >= 0 ? (p >> signBit--) & 1 : 0; };
        int kind, X, Y;
        if (k + s <= 4) {
            kind = 4 - (k + s);
            const int sx = x != 0 && nextSign() ? -x : x;
            const int sy = y != 0 && nextSign() ? -y : y;
            X = field(sx, large), Y = field(sy, large);
        } else if (s == 2 && k == 3) {
            kind = 6, X = field(nextSign() ? -x : x, large), Y = y;
        } else if (s == 2) {
            kind = 7, X = x, Y = y;
        } else {
            kind = y == 0 ? 4 : 5, X = y == 0 ? x : 0, Y = y == 0 ? 0 : y;
        }
        table.push_back(X << xShift | Y << 4 | kind << 1 | 1);
    }
    if (anyPointer) table.insert(table.end(), area.begin(), area.end());
    return table;
}

std::vector<int> stored(int tableSelect) {
    std::vector<int> out;
    const int entries = MP3_HuffTableEntries[tableSelect];
    for (int i = 0; i < entries; ++i)
        out.push_back(tableSelect <= 12 ? MP3_HuffSmallTables[tableSelect][i]
                                        : MP3_HuffLargeTables[tableSelect - 13][i]);
    return out;
}

class HuffmanTables : public ::testing::Test {
protected:
    static void SetUpTestSuite() { codes_ = new CodeList(mpfix::test::loadCodeList()); }
    static void TearDownTestSuite() { delete codes_; }
    static CodeList *codes_;
};
CodeList *HuffmanTables::codes_ = nullptr;

TEST_F(HuffmanTables, CodeListIsCompleteAndPrefixFree) {
    // Kraft sum 1 and no codeword a prefix of another: every bit string decodes.
    auto check = [](const std::vector<std::string> &words, const std::string &name) {
        double kraft = 0;
        for (const auto &w : words) kraft += 1.0 / static_cast<double>(1u << w.size());
        EXPECT_DOUBLE_EQ(kraft, 1.0) << name;
        for (const auto &a : words)
            for (const auto &b : words)
                if (&a != &b) {
                    EXPECT_NE(b.rfind(a, 0), 0u) << name << " " << a << " " << b;
                }
    };
    for (const auto &[t, list] : codes_->pairs) {
        std::vector<std::string> words;
        for (const auto &p : list) words.push_back(p.code);
        check(words, (testing::Message() << "table " << t).GetString());
    }
    for (int q = 0; q < 2; ++q) {
        std::vector<std::string> words;
        for (const auto &c : codes_->quads[q]) words.push_back(c.code);
        EXPECT_EQ(words.size(), 16u);
        check(words, q ? "B" : "A");
    }
    EXPECT_EQ(codes_->pairs.size(), 15u);
}

TEST_F(HuffmanTables, EveryTableEqualsTheRuleAppliedToTheCodeList) {
    for (int t = 0; t < 32; ++t) {
        SCOPED_TRACE(testing::Message() << "table_select " << t);
        const int set = mpfix::test::codeSetOf(t);
        const void *data = t <= 12 ? static_cast<const void *>(MP3_HuffSmallTables[t])
                                   : static_cast<const void *>(MP3_HuffLargeTables[t - 13]);
        if (set == 0) {
            EXPECT_EQ(data, nullptr);
            EXPECT_EQ(MP3_HuffTableEntries[t], 0);
            continue;
        }
        ASSERT_NE(data, nullptr);
        const std::vector<int> expected = buildTable(codes_->pairs.at(set), t >= 13);
        EXPECT_EQ(stored(t), expected);
        // Tables sharing codes share the data itself.
        if (set != t) {
            EXPECT_EQ(data, static_cast<const void *>(MP3_HuffLargeTables[set - 13]));
        }
        if (t >= 13) {
            EXPECT_EQ(MP3_HuffLinbits[t - 13], codes_->linbits[t]);
        }
    }
}

TEST_F(HuffmanTables, EntryCountsFollowTheValueRange) {
    // A full code tree over v x v pairs has 2 v^2 - 1 nodes; table 1 stores none.
    const int values[32] = {0, 2, 3, 3, 0, 4, 4, 6, 6, 6, 8, 8, 8, 16, 0, 16,
                            16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
    for (int t = 0; t < 32; ++t) {
        const int v = values[t];
        const int expected = v == 0 ? 0 : (t == 1 ? 16 : 16 + 2 * v * v - 1);
        EXPECT_EQ(MP3_HuffTableEntries[t], expected) << t;
    }
}

TEST_F(HuffmanTables, WorkedExamples) {
    const std::vector<int> table1 = {93, 221, 17, 49, 67, 67, 195, 195, 7, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_EQ(stored(1), table1);
    const std::vector<int> table2Nodes = {32, 26, 24, 18, 16, 14, 73, 9, 41, 22, 69, 65, 37, 30, 5, 33, 1};
    const std::vector<int> table2 = stored(2);
    EXPECT_EQ(std::vector<int>(table2.begin() + 16, table2.end()), table2Nodes);
    EXPECT_EQ(table2[0], 8);
    EXPECT_EQ(table2[1], 18);
    // Table 24: bits 0011 are the 4-bit code of (15, 15), kind 7 with X = 15.
    EXPECT_EQ(MP3_HuffLargeTables[24 - 13][3], 15 << 8 | 15 << 4 | 7 << 1 | 1);
    // Table 15: the 3-bit code 111 of (0, 0) is kind 1 (three bits taken) for 1110 and 1111.
    EXPECT_EQ(MP3_HuffLargeTables[15 - 13][14], 1 << 1 | 1);
    EXPECT_EQ(MP3_HuffLargeTables[15 - 13][15], 1 << 1 | 1);
}

// Count1 table A by its rule: six-bit lookups, the five-bit codes' pairs in 32..51.
TEST_F(HuffmanTables, Count1TableAEqualsTheRuleAppliedToTheCodeList) {
    auto pack = [](const int *q) {
        int packed = 0;
        for (int k = 0; k < 4; ++k) packed |= (q[k] & 3) << (6 - 2 * k);
        return packed;
    };
    std::vector<int> expected(52, -1);
    auto entry = [&](int index) -> int & { return expected[static_cast<size_t>(index)]; };
    for (int p = 0; p < 32; ++p) {
        const std::string bits = [&] {
            std::string s;
            for (int b = 5; b >= 0; --b) s += static_cast<char>('0' + ((p >> b) & 1));
            return s;
        }();
        const mpfix::test::QuadCode *code = nullptr;
        for (const auto &c : codes_->quads[0])
            if (bits.rfind(c.code, 0) == 0) code = &c;
        ASSERT_NE(code, nullptr) << p;
        const int *m = code->v;
        const size_t length = code->code.size();
        if (length == 6) {
            const int ones = m[0] + m[1] + m[2] + m[3];
            const bool pair = m[0] == 0 && m[1] == 1 && m[2] == 0 && m[3] == 1;
            const int kind = ones == 4 ? 4 : (pair ? 2 : 3);
            entry(p) = m[0] << 6 | m[1] << 5 | m[2] << 4 | m[3] << 3 | kind;
        } else if (length == 5) {
            entry(p) = 32 + 2 * (p - 6);
            for (int second = 0; second < 2; ++second) {
                int signs[2] = {p & 1, second}, used = 0, q[4];
                for (int k = 0; k < 4; ++k) q[k] = m[k] == 0 ? 0 : (signs[used++] ? -1 : 1);
                entry(entry(p) + second) = pack(q);
            }
        } else {
            ASSERT_EQ(length, 4u);
            int q[4];
            for (int k = 0; k < 4; ++k) q[k] = m[k] == 0 ? 0 : ((p >> 1) & 1 ? -1 : 1);
            entry(p) = pack(q);
        }
    }
    EXPECT_EQ(std::vector<int>(MP3_Count1TableA, MP3_Count1TableA + 52), expected);
    const std::vector<int> published = {91, 124, 107, 115, 59, 42, 32, 34, 36, 38, 40, 42, 44, 46, 48, 50,
                                        4, 4, 12, 12, 1, 1, 3, 3, 16, 16, 48, 48, 64, 64, 192, 192,
                                        65, 67, 193, 195, 20, 28, 52, 60, 5, 7, 13, 15, 68, 76, 196, 204,
                                        80, 112, 208, 240};
    EXPECT_EQ(expected, published);
}

TEST(HuffmanMasks, AreTwoToTheNMinusOne) {
    for (int n = 0; n < 16; ++n) EXPECT_EQ(MP3_BitMasks[n], (1 << n) - 1);
}

}  // namespace
