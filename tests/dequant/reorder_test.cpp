// Short-block reordering and the word primitives.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "audio/dequant/reorder.h"
#include "audio/words.h"
#include "audio/band_tables.h"

using namespace mpfix;

namespace {

constexpr int32_t kUnwritten = 0x5A5A5A5A;
using Row = std::array<int32_t, 576>;

Row filled(int32_t value) {
    Row row;
    row.fill(value);
    return row;
}

// Source values that name their own bitstream index (never zero).
Row numberedSource() {
    Row row;
    for (size_t i = 0; i < row.size(); ++i) row[i] = 1000 + static_cast<int32_t>(i);
    return row;
}

// Where frequency line f of window w lands, the short part of a mixed block
// shifted to begin at index 36.
size_t destinationOf(int32_t line, int32_t window) {
    return static_cast<size_t>(18 * (line / 6) + 6 * window + line % 6);
}

TEST(ReorderShortBlocks, ListedCases) {
    const Row source = numberedSource();
    const uint16_t *rowS = MP3_SfbShortTable[3];  // 0 4 8 12 16 22 30 ...

    // Not mixed, band ends (0, 0, 0), count 0: nothing written.
    Row out = filled(kUnwritten);
    const int32_t none[3] = {0, 0, 0};
    MP3_ReorderShortBlocks(source.data(), out.data(), rowS, 0, none, 0);
    EXPECT_EQ(out, filled(kUnwritten));

    // Mixed, (3, 3, 3), count 36: the long values only.
    out = filled(kUnwritten);
    const int32_t three[3] = {3, 3, 3};
    MP3_ReorderShortBlocks(source.data(), out.data(), rowS, 1, three, 36);
    for (size_t i = 0; i < 576; ++i) EXPECT_EQ(out[i], i < 36 ? source[i] : kUnwritten) << i;

    // Not mixed, (1, 0, 0), count 12 (end 18): band 0 of window 0, then zeros up to 18.
    out = filled(kUnwritten);
    const int32_t one[3] = {1, 0, 0};
    MP3_ReorderShortBlocks(source.data(), out.data(), rowS, 0, one, 12);
    for (size_t i = 0; i < 576; ++i) EXPECT_EQ(out[i], i < 4 ? source[i] : (i < 18 ? 0 : kUnwritten)) << i;

    // Source index 82 (band 5, window 2, line 22) lands at 70.
    Row sparse = filled(0);
    sparse[82] = 7;
    out = filled(kUnwritten);
    const int32_t six[3] = {6, 6, 6};
    MP3_ReorderShortBlocks(sparse.data(), out.data(), rowS, 0, six, 69);
    EXPECT_EQ(out[70], 7);
    for (size_t i = 0; i < 72; ++i) EXPECT_EQ(out[i], i == 70 ? 7 : 0) << i;

    // Counts from 559 up write every index.
    for (int32_t count : {559, 570, 576}) {
        out = filled(kUnwritten);
        MP3_ReorderShortBlocks(source.data(), out.data(), rowS, 0, none, count);
        EXPECT_EQ(out, filled(0)) << count;
    }
}

// Every value moves to 18 (f div 6) + 6 w + f mod 6, in every table row, plain
// and mixed; the mixed short part starts at 36 with line S[3] = 12.
TEST(ReorderShortBlocks, EveryLineLandsInItsSubband) {
    const Row source = numberedSource();
    const int32_t all[3] = {13, 13, 13};
    for (int32_t r = 0; r < 6; ++r) {
        const uint16_t *rowS = MP3_SfbShortTable[r];
        for (int32_t mixed = 0; mixed <= 1; ++mixed) {
            Row out = filled(kUnwritten);
            MP3_ReorderShortBlocks(source.data(), out.data(), rowS, mixed, all, 576);
            Row seen = filled(0);
            for (size_t i = 0; i < static_cast<size_t>(36 * mixed); ++i) {
                EXPECT_EQ(out[i], source[i]);
                seen[i] = 1;
            }
            for (int32_t b = 3 * mixed; b < 13; ++b) {
                const int32_t width = rowS[b + 1] - rowS[b];
                for (int32_t w = 0; w < 3; ++w) {
                    for (int32_t j = 0; j < width; ++j) {
                        const size_t d = destinationOf(rowS[b] + j, w);
                        EXPECT_EQ(out[d], source[static_cast<size_t>(3 * rowS[b] + w * width + j)])
                            << r << " " << mixed << " " << b;
                        ++seen[d];
                    }
                }
            }
            EXPECT_EQ(seen, filled(1)) << "row " << r << " mixed " << mixed;  // a permutation
        }
    }
}

// Band ends below 13 move whole bands and zero the rest up to the rounded count.
TEST(ReorderShortBlocks, PartialBandsAndZeroFill) {
    const Row source = numberedSource();
    const uint16_t *rowS = MP3_SfbShortTable[0];  // 0 4 8 12 18 24 32 ...
    const int32_t ends[3] = {5, 2, 4};
    Row out = filled(kUnwritten);
    MP3_ReorderShortBlocks(source.data(), out.data(), rowS, 0, ends, 3 * 24);  // end = 72
    Row expected = filled(kUnwritten);
    for (size_t i = 0; i < 72; ++i) expected[i] = 0;
    for (int32_t w = 0; w < 3; ++w) {
        for (int32_t b = 0; b < ends[w]; ++b) {
            const int32_t width = rowS[b + 1] - rowS[b];
            for (int32_t j = 0; j < width; ++j) {
                expected[destinationOf(rowS[b] + j, w)] = source[static_cast<size_t>(3 * rowS[b] + w * width + j)];
            }
        }
    }
    EXPECT_EQ(out, expected);
}

TEST(RoundUpToSubband, EqualsCeilingForEveryCount) {
    for (int32_t count = 0; count <= 576; ++count) {
        EXPECT_EQ(MP3_RoundUpToSubband(count), 18 * ((count + 17) / 18)) << count;
    }
}

// Counts around the eight-word step, with guards on both sides.
TEST(Words, FillAndCopyExactlyCountWords) {
    for (int32_t count = 0; count <= 19; ++count) {
        std::array<int32_t, 24> fill;
        fill.fill(kUnwritten);
        MP3_FillWords(-7, fill.data() + 1, count);
        std::array<int32_t, 24> source;
        for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<int32_t>(i) * 3 + 1;
        std::array<int32_t, 24> copy;
        copy.fill(kUnwritten);
        MP3_CopyWords(source.data() + 2, copy.data() + 1, count);
        for (size_t i = 0; i < 24; ++i) {
            const bool inside = i >= 1 && i <= static_cast<size_t>(count);
            EXPECT_EQ(fill[i], inside ? -7 : kUnwritten) << count << " " << i;
            EXPECT_EQ(copy[i], inside ? source[i + 1] : kUnwritten) << count << " " << i;
        }
    }
}

}  // namespace
