// Test side of the Layer III Huffman codes: the code list of ISO/IEC 11172-3
// Table B.7 read from data/huffman_b7.txt, and an encoder built straight from
// it (the other direction from the decoder's packed tables).
#ifndef MPFIX_TESTS_PARSE_HUFFMAN_CODES_H
#define MPFIX_TESTS_PARSE_HUFFMAN_CODES_H

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/bit_writer.h"

namespace mpfix::test {

struct PairCode {
    int x, y;
    std::string code;
};

struct QuadCode {
    int v[4];
    std::string code;
};

struct CodeList {
    std::map<int, std::vector<PairCode>> pairs;  // by code set: 1 2 3 5..13 15 16 24
    std::vector<QuadCode> quads[2];               // count1 tables A and B
    int linbits[32] = {};                         // by table_select
};

inline CodeList loadCodeList() {
    std::ifstream in(std::string(MPFIX_SOURCE_DIR) + "/data/huffman_b7.txt");
    if (!in) throw std::runtime_error("data/huffman_b7.txt not found");
    CodeList list;
    std::string line;
    while (std::getline(in, line)) {
        // The escape widths are stated in the header: "linbits per table_select 16..23: ...;  24..31: ...".
        static const std::string kLinbits = "linbits per table_select 16..23:";
        const auto at = line.find(kLinbits);
        if (at != std::string::npos) {
            std::string rest = line.substr(at + kLinbits.size());
            for (char &c : rest)
                if (c == ';') c = ' ';
            std::istringstream fields(rest);
            std::string word;
            int t = 16;
            while (fields >> word && t < 32) {
                if (word == "24..31:") continue;
                if (word.find_first_not_of("0123456789") != std::string::npos) break;
                list.linbits[t++] = std::atoi(word.c_str());
            }
            continue;
        }
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string table;
        fields >> table;
        if (table == "A" || table == "B") {
            QuadCode q{};
            int length = 0;
            fields >> q.v[0] >> q.v[1] >> q.v[2] >> q.v[3] >> length >> q.code;
            list.quads[table == "B"].push_back(q);
        } else {
            PairCode p{};
            int length = 0;
            fields >> p.x >> p.y >> length >> p.code;
            list.pairs[std::atoi(table.c_str())].push_back(p);
        }
    }
    return list;
}

// The code set a table_select uses (0 for the tables without codes).
inline int codeSetOf(int tableSelect) {
    if (tableSelect == 0 || tableSelect == 4 || tableSelect == 14) return 0;
    if (tableSelect >= 16 && tableSelect <= 23) return 16;
    if (tableSelect >= 24) return 24;
    return tableSelect;
}

// Largest magnitude a table can code (escapes included).
inline int maxValueOf(const CodeList &list, int tableSelect) {
    int largest = 0;
    for (const PairCode &p : list.pairs.at(codeSetOf(tableSelect))) largest = std::max(largest, p.x);
    return largest + (list.linbits[tableSelect] > 0 ? (1 << list.linbits[tableSelect]) - 1 : 0);
}

// Appends the codeword of (x, y) for table_select t, then for x and for y its
// escape (value 15 and above in a table with linbits) and its sign.
inline void encodePair(BitWriter &w, const CodeList &list, int t, int x, int y) {
    const int lin = list.linbits[t];
    const int ax = std::abs(x), ay = std::abs(y);
    const int cx = lin > 0 && ax >= 15 ? 15 : ax, cy = lin > 0 && ay >= 15 ? 15 : ay;
    for (const PairCode &p : list.pairs.at(codeSetOf(t))) {
        if (p.x != cx || p.y != cy) continue;
        w.putCode(p.code);
        if (cx == 15 && lin > 0) w.put(static_cast<uint32_t>(ax - 15), lin);
        if (ax != 0) w.putBit(x < 0);
        if (cy == 15 && lin > 0) w.put(static_cast<uint32_t>(ay - 15), lin);
        if (ay != 0) w.putBit(y < 0);
        return;
    }
    throw std::runtime_error("value pair outside the table");
}

// Appends the count1 codeword of q (values -1..1) and the signs of its nonzero values.
inline void encodeQuad(BitWriter &w, const CodeList &list, int table, const int *q) {
    for (const QuadCode &c : list.quads[table]) {
        bool match = true;
        for (int k = 0; k < 4; ++k) match = match && c.v[k] == std::abs(q[k]);
        if (!match) continue;
        w.putCode(c.code);
        for (int k = 0; k < 4; ++k)
            if (q[k] != 0) w.putBit(q[k] < 0);
        return;
    }
    throw std::runtime_error("quadruple outside the table");
}

}  // namespace mpfix::test

#endif  // MPFIX_TESTS_PARSE_HUFFMAN_CODES_H
