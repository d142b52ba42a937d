// Scalefactor band boundaries, rebuilt from the band widths that ISO/IEC
// 11172-3 Table B.8 and ISO/IEC 13818-3 list (MPEG-2.5 at 8000 Hz from its
// published widths), plus the shape every row must have.
#include <gtest/gtest.h>

#include <vector>

#include "audio/band_tables.h"

using namespace mpfix;

namespace {

// Boundaries are the running sums of the widths, starting at 0.
std::vector<int> boundaries(const std::vector<int> &widths) {
    std::vector<int> b{0};
    for (int w : widths) b.push_back(b.back() + w);
    return b;
}

template <size_t N>
std::vector<int> row(const uint16_t (&values)[N]) {
    return std::vector<int>(values, values + N);
}

// Long-block widths, 22 bands.
const std::vector<int> kLong22050 = {6, 6, 6, 6, 6, 6, 8, 10, 12, 14, 16, 20, 24, 28, 32, 38, 46, 52, 60, 68, 58, 54};
const std::vector<int> kLong24000 = {6, 6, 6, 6, 6, 6, 8, 10, 12, 14, 16, 18, 22, 26, 32, 38, 46, 54, 62, 70, 76, 36};
const std::vector<int> kLong16000 = kLong22050;
const std::vector<int> kLong44100 = {4, 4, 4, 4, 4, 4, 6, 6, 8, 8, 10, 12, 16, 20, 24, 28, 34, 42, 50, 54, 76, 158};
const std::vector<int> kLong48000 = {4, 4, 4, 4, 4, 4, 6, 6, 6, 8, 10, 12, 16, 18, 22, 28, 34, 40, 46, 54, 54, 192};
const std::vector<int> kLong32000 = {4, 4, 4, 4, 4, 4, 6, 6, 8, 10, 12, 16, 20, 24, 30, 38, 46, 56, 68, 84, 102, 26};
const std::vector<int> kLong8000 = {12, 12, 12, 12, 12, 12, 16, 20, 24, 28, 32, 40, 48, 56, 64, 76, 90, 2, 2, 2, 2, 2};
// Short-block widths, 13 bands of one window.
const std::vector<int> kShort22050 = {4, 4, 4, 6, 6, 8, 10, 14, 18, 26, 32, 42, 18};
const std::vector<int> kShort24000 = {4, 4, 4, 6, 8, 10, 12, 14, 18, 24, 32, 44, 12};
const std::vector<int> kShort16000 = {4, 4, 4, 6, 8, 10, 12, 14, 18, 24, 30, 40, 18};
const std::vector<int> kShort44100 = {4, 4, 4, 4, 6, 8, 10, 12, 14, 18, 22, 30, 56};
const std::vector<int> kShort48000 = {4, 4, 4, 4, 6, 6, 10, 12, 14, 16, 20, 26, 66};
const std::vector<int> kShort32000 = {4, 4, 4, 4, 6, 8, 12, 16, 20, 26, 34, 42, 12};
const std::vector<int> kShort8000 = {8, 8, 8, 12, 16, 20, 24, 28, 36, 2, 2, 2, 26};

TEST(BandTables, RowsMatchTheStandardWidths) {
    const std::vector<int> *longFirst[6] = {&kLong22050, &kLong24000, &kLong16000,
                                            &kLong44100, &kLong48000, &kLong32000};
    const std::vector<int> *shortFirst[6] = {&kShort22050, &kShort24000, &kShort16000,
                                             &kShort44100, &kShort48000, &kShort32000};
    // MPEG-2.5: 11025 and 12000 Hz take the 16000 Hz widths.
    const std::vector<int> *long25[6] = {&kLong16000, &kLong16000, &kLong8000, &kLong44100, &kLong48000, &kLong32000};
    const std::vector<int> *short25[6] = {&kShort16000, &kShort16000, &kShort8000,
                                          &kShort44100, &kShort48000, &kShort32000};
    for (int r = 0; r < MP3_BAND_ROWS; ++r) {
        SCOPED_TRACE(testing::Message() << "row " << r);
        EXPECT_EQ(row(MP3_SfbLongTable[r]), boundaries(*longFirst[r]));
        EXPECT_EQ(row(MP3_SfbShortTable[r]), boundaries(*shortFirst[r]));
        EXPECT_EQ(row(MP3_SfbLongTable25[r]), boundaries(*long25[r]));
        EXPECT_EQ(row(MP3_SfbShortTable25[r]), boundaries(*short25[r]));
    }
}

TEST(BandTables, EveryRowAscendsFromZeroToTheGranuleEnd) {
    const uint16_t(*longSets[2])[MP3_LONG_BOUNDARIES] = {MP3_SfbLongTable, MP3_SfbLongTable25};
    const uint16_t(*shortSets[2])[MP3_SHORT_BOUNDARIES] = {MP3_SfbShortTable, MP3_SfbShortTable25};
    for (int set = 0; set < 2; ++set) {
        for (int r = 0; r < MP3_BAND_ROWS; ++r) {
            SCOPED_TRACE(testing::Message() << "set " << set << " row " << r);
            EXPECT_EQ(longSets[set][r][0], 0);
            EXPECT_EQ(longSets[set][r][MP3_LONG_BOUNDARIES - 1], 576);
            for (int k = 1; k < MP3_LONG_BOUNDARIES; ++k) EXPECT_LT(longSets[set][r][k - 1], longSets[set][r][k]);
            EXPECT_EQ(shortSets[set][r][0], 0);
            EXPECT_EQ(shortSets[set][r][MP3_SHORT_BOUNDARIES - 1], 192);
            for (int k = 1; k < MP3_SHORT_BOUNDARIES; ++k) EXPECT_LT(shortSets[set][r][k - 1], shortSets[set][r][k]);
            // Region boundaries fall on band boundaries and big_values
            // counts pairs of lines, so every long boundary is even.
            for (int k = 0; k < MP3_LONG_BOUNDARIES; ++k) EXPECT_EQ(longSets[set][r][k] % 2, 0);
        }
    }
}

TEST(BandTables, RowsServingTheSameRateAgree) {
    for (int r = 3; r < MP3_BAND_ROWS; ++r) {
        EXPECT_EQ(row(MP3_SfbLongTable25[r]), row(MP3_SfbLongTable[r]));
        EXPECT_EQ(row(MP3_SfbShortTable25[r]), row(MP3_SfbShortTable[r]));
    }
    // 16000 Hz long row equals the 22050 Hz one; the short rows differ.
    EXPECT_EQ(row(MP3_SfbLongTable[2]), row(MP3_SfbLongTable[0]));
    EXPECT_NE(row(MP3_SfbShortTable[2]), row(MP3_SfbShortTable[0]));
}

TEST(BandTables, ListedBoundaries) {
    EXPECT_EQ(MP3_SfbLongTable[1][12], 114);    // MPEG-2, 24000 Hz
    EXPECT_EQ(MP3_SfbLongTable[1][18], 332);    // ISO/IEC 13818-3: band 17 is 54 lines, band 18 is 62
    EXPECT_EQ(MP3_SfbLongTable[1][18] - MP3_SfbLongTable[1][17], 54);
    EXPECT_EQ(MP3_SfbLongTable[1][19] - MP3_SfbLongTable[1][18], 62);
    EXPECT_EQ(MP3_SfbLongTable25[1][12], 116);  // MPEG-2.5, 12000 Hz
    EXPECT_EQ(MP3_SfbShortTable25[1][11], 134);
    EXPECT_EQ(MP3_SfbLongTable25[2][17], 566);  // MPEG-2.5, 8000 Hz
    EXPECT_EQ(MP3_SfbShortTable25[2][9], 160);
}

// The driver's choice: the set by the sync pattern, the row by ID and
// sampling_frequency; no row for fields outside the tables.
TEST(BandRows, ChosenBySyncAndHeader) {
    for (int32_t sync : {MP3_SYNC_FFF, MP3_SYNC_FFE}) {
        const bool mpeg25 = sync == MP3_SYNC_FFE;
        for (int32_t id = 0; id <= 1; ++id) {
            for (int32_t rate = 0; rate <= 2; ++rate) {
                MP3_FrameHeader h{};
                h.ID = id, h.sampling_frequency = rate;
                const MP3_BandRows rows = MP3_SelectBandRows(&h, sync);
                const int32_t r = 3 * id + rate;
                EXPECT_EQ(rows.longRow, mpeg25 ? MP3_SfbLongTable25[r] : MP3_SfbLongTable[r]) << sync << " " << r;
                EXPECT_EQ(rows.shortRow, mpeg25 ? MP3_SfbShortTable25[r] : MP3_SfbShortTable[r]) << sync << " " << r;
            }
        }
    }
    const int32_t outside[][2] = {{0, 3}, {1, 3}, {2, 0}, {-1, 1}, {1, -1}};
    for (const auto &f : outside) {
        MP3_FrameHeader h{};
        h.ID = f[0], h.sampling_frequency = f[1];
        const MP3_BandRows rows = MP3_SelectBandRows(&h, MP3_SYNC_FFF);
        EXPECT_EQ(rows.longRow, nullptr) << f[0] << " " << f[1];
        EXPECT_EQ(rows.shortRow, nullptr) << f[0] << " " << f[1];
    }
}

}  // namespace
