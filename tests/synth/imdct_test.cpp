// Alias reduction and the long and short IMDCT against their real-valued
// definitions (ISO/IEC 11172-3, 2.4.3.4) in double precision, plus the tables
// derived from their rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "audio/synth/imdct.h"
#include "synth/imdct_model.h"

using namespace mpfix;

namespace {

using mpfix::test::kPi;
using mpfix::test::longWindow;
using mpfix::test::modelLong;
using mpfix::test::modelShort;
constexpr double kTwo31 = 2147483648.0;

// Nearest integer, halves away from zero.
int64_t roundHalfAway(double v) { return static_cast<int64_t>(std::llround(v)); }
// The constant rounded to single precision, then scaled by 2^31 (exact).
int32_t singleTimes2To31(double c) { return static_cast<int32_t>(static_cast<double>(static_cast<float>(c)) * kTwo31); }

const double kAliasC[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};

// The models over integer inputs.
std::array<double, 36> longReference(const int32_t *x, int blockType) {
    double in[18];
    std::copy(x, x + 18, in);
    std::array<double, 36> z{};
    modelLong(in, blockType, z.data());
    return z;
}

std::array<double, 36> shortReference(const int32_t *x) {
    double in[18];
    std::copy(x, x + 18, in);
    std::array<double, 36> z{};
    modelShort(in, z.data());
    return z;
}

double maxError(const int32_t *z, const std::array<double, 36> &ref) {
    double worst = 0;
    for (size_t i = 0; i < 36; ++i) worst = std::max(worst, std::fabs(z[i] - ref[i]));
    return worst;
}

// ---- Tables ------------------------------------------------------------------

TEST(ImdctTables, AliasCoefficientsFollowTheirRule) {
    // ISO/IEC 11172-3 Table B.9 values as listed for this decoder.
    const int32_t listed[8][2] = {
        {0x6DC25404, static_cast<int32_t>(0xBE2500CAu)}, {0x70DCEBF9, static_cast<int32_t>(0xC39E496Fu)},
        {0x798D6E7C, static_cast<int32_t>(0xD7E33F61u)}, {0x7DDD40A8, static_cast<int32_t>(0xE8B7117Au)},
        {0x7F6D20B7, static_cast<int32_t>(0xF3E4FE2Cu)}, {0x7FE47E40, static_cast<int32_t>(0xFAC1A3C9u)},
        {0x7FFCB263, static_cast<int32_t>(0xFE2EBDC6u)}, {0x7FFFC695, static_cast<int32_t>(0xFF86C25Du)},
    };
    for (int i = 0; i < 8; ++i) {
        const double norm = std::sqrt(1.0 + kAliasC[i] * kAliasC[i]);
        EXPECT_EQ(aliasCoef[i][0], roundHalfAway(kTwo31 / norm)) << i;
        EXPECT_EQ(aliasCoef[i][1], roundHalfAway(kTwo31 * kAliasC[i] / norm)) << i;
        EXPECT_EQ(aliasCoef[i][0], listed[i][0]) << i;
        EXPECT_EQ(aliasCoef[i][1], listed[i][1]) << i;
    }
}

TEST(ImdctTables, NinePointConstantsAreSinglePrecisionValues) {
    const double cos9[8] = {std::cos(kPi / 9),      std::cos(2 * kPi / 9),  std::cos(4 * kPi / 9),
                            std::cos(kPi / 18),     std::cos(5 * kPi / 18), std::cos(7 * kPi / 18),
                            std::cos(kPi / 6),      std::sqrt(2.0) / 4};
    const int twiddleAngle[8] = {1, 17, 3, 15, 5, 13, 7, 11};
    const int32_t listedCos9[8] = {0x7847D900, 0x620DBE80, 0x163A1A80, 0x7E0E2E00,
                                   0x5246DD80, 0x2BC75100, 0x6ED9EB80, 0x2D413CC0};
    const int32_t listedTwiddle[8] = {0x201F4AC0, 0x5BCA2A00, 0x2120FB80, 0x7BA37500,
                                      0x234EDF40, 0x4BB7EC80, 0x271095C0, 0x37CA5100};
    for (int i = 0; i < 8; ++i) {
        // d1 carries 1/16 instead of 1/4 to stay inside 31 fraction bits.
        const double scale = i == 1 ? 16.0 : 4.0;
        const double twiddle = 1.0 / (scale * std::cos(twiddleAngle[i] * kPi / 36));
        EXPECT_EQ(imdctCos9[i], singleTimes2To31(cos9[i])) << i;
        EXPECT_EQ(imdctTwiddle[i], singleTimes2To31(twiddle)) << i;
        EXPECT_EQ(imdctCos9[i], listedCos9[i]) << i;
        EXPECT_EQ(imdctTwiddle[i], listedTwiddle[i]) << i;
    }
    // sqrt(2)/4 is also 1 / (4 cos(9 pi/36)).
    EXPECT_EQ(imdctCos9[7], singleTimes2To31(1.0 / (4 * std::cos(9 * kPi / 36))));
}

TEST(ImdctTables, LongWindowsCarryTheOutputScaling) {
    const int blockTypes[3] = {0, 1, 3};
    for (int row = 0; row < 3; ++row) {
        for (int i = 0; i < 36; ++i) {
            const double g = static_cast<float>(1.0 / std::cos((2 * i + 19) * kPi / 72));
            const double m = (i == 4 || i == 13 || i == 22 || i == 31) ? 2.0 : (i == 8 || i == 9) ? 0.25 : 1.0;
            const double expected = longWindow(blockTypes[row], i) * (g * m / 8) * kTwo31;
            EXPECT_EQ(imdctWindow[row][i], roundHalfAway(expected)) << row << "," << i;
        }
    }
    EXPECT_EQ(imdctWindow[0][0], 17331497);
    EXPECT_EQ(imdctWindow[0][4], 536870935);
    EXPECT_EQ(imdctWindow[0][8], 1039402258);
    EXPECT_EQ(imdctWindow[0][9], -1134308520);
    EXPECT_EQ(imdctWindow[0][22], -536870920);
    EXPECT_EQ(imdctWindow[0][35], -15881392);
    for (int i = 0; i < 36; ++i) {
        if (i < 18) { EXPECT_EQ(imdctWindow[1][i], imdctWindow[0][i]) << i; }
        if (i >= 30) { EXPECT_EQ(imdctWindow[1][i], 0) << i; }
        if (i < 6) { EXPECT_EQ(imdctWindow[2][i], 0) << i; }
        if (i >= 18) { EXPECT_EQ(imdctWindow[2][i], imdctWindow[0][i]) << i; }
    }
}

TEST(ImdctTables, ShortCosinesAreTruncatedAndWindowRounded) {
    for (int j = 0; j < 3; ++j) {
        for (int m = 0; m < 6; ++m) {
            EXPECT_EQ(imdctShortCos[6 * j + m], static_cast<int32_t>(std::trunc(
                                                    kTwo31 * std::cos(kPi / 24 * (13 + 2 * j) * (2 * m + 1)))));
            EXPECT_EQ(imdctShortCos[18 + 6 * j + m], static_cast<int32_t>(std::trunc(
                                                         kTwo31 * std::cos(kPi / 24 * (19 + 2 * j) * (2 * m + 1)))));
        }
    }
    EXPECT_EQ(imdctShortCos[0], -280302863);
    EXPECT_EQ(imdctShortCos[1], 821806413);
    EXPECT_EQ(imdctShortCos[4], -1984016188);
    EXPECT_EQ(imdctShortCos[5], 2129111627);
    EXPECT_EQ(imdctShortCos[18], -1703713325);
    EXPECT_EQ(imdctShortCos[35], -280302863);

    const int32_t listed[6] = {280302863, 821806413, 1307305214, 1703713325, 1984016189, 2129111628};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(imdctShortWindow[i], roundHalfAway(kTwo31 * std::sin(kPi / 12 * (i + 0.5)))) << i;
        EXPECT_EQ(imdctShortWindow[i], listed[i < 6 ? i : 11 - i]) << i;
    }
}

// ---- Alias reduction ---------------------------------------------------------

TEST(AliasReduce, ImpulsePairAcrossTheFirstBoundary) {
    int32_t x[576] = {};
    x[17] = 0x04000000;
    x[18] = 0x04000000;
    MP3_AliasReduce(x, 2);
    for (int i = 0; i < 576; ++i) {
        const int32_t expected = i == 17 ? 92072600 : i == 18 ? 23018150 : 0;
        EXPECT_EQ(x[i], expected) << i;
    }
}

TEST(AliasReduce, MatchesTheButterflyFormulaForEachCount) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int32_t> value(-(1 << 28), 1 << 28);
    for (int32_t count : {0, 1, 2, 32}) {
        int32_t x[576];
        double model[576];
        for (int i = 0; i < 576; ++i) model[i] = x[i] = value(rng);
        for (int k = 1; k < count; ++k) {
            for (int i = 0; i < 8; ++i) {
                const double norm = std::sqrt(1.0 + kAliasC[i] * kAliasC[i]);
                const double cs = 1.0 / norm;
                const double ca = kAliasC[i] / norm;
                const double lo = model[18 * k + i];
                const double up = model[18 * k - 1 - i];
                model[18 * k + i] = cs * lo + ca * up;
                model[18 * k - 1 - i] = cs * up - ca * lo;
            }
        }
        int32_t original[576];
        std::copy(x, x + 576, original);
        MP3_AliasReduce(x, count);
        for (int i = 0; i < 576; ++i) {
            const int offset = i % 18;
            const bool touched = count >= 2 && ((offset >= 10 && i / 18 + 1 < count) || (offset < 8 && i >= 18 && i / 18 < count));
            if (touched) {
                // Floor of the high word, then doubled: at most 2 units low, and
                // the coefficient rounding adds well under one unit more.
                EXPECT_NEAR(x[i], model[i], 3.0) << count << ":" << i;
                EXPECT_EQ(x[i] & 1, 0) << count << ":" << i;
            } else {
                EXPECT_EQ(x[i], original[i]) << count << ":" << i;
            }
        }
    }
}

TEST(AliasReduce, CountsOutsideTheGranuleStayInBounds) {
    // Guard words on both sides catch any access outside the 576 lines.
    constexpr int32_t kGuard = 0x5A5A5A5A;
    std::mt19937 rng(5);
    std::array<int32_t, 576> input{};
    for (auto &v : input) v = static_cast<int32_t>(rng());
    std::array<int32_t, 576> reference = input;
    MP3_AliasReduce(reference.data(), 32);
    for (int32_t count : {33, 64, 1000, std::numeric_limits<int32_t>::max(), -1, std::numeric_limits<int32_t>::min()}) {
        std::array<int32_t, 578> buffer;
        buffer.front() = kGuard;
        buffer.back() = kGuard;
        std::copy(input.begin(), input.end(), buffer.begin() + 1);
        MP3_AliasReduce(buffer.data() + 1, count);
        EXPECT_EQ(buffer.front(), kGuard);
        EXPECT_EQ(buffer.back(), kGuard);
        const auto &expected = count > 0 ? reference : input;
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin() + 1)) << count;
    }
}

// ---- Long transform ----------------------------------------------------------

TEST(ImdctLong, ImpulseAtLineZero) {
    struct Case {
        int blockType;
        int index;
        int32_t value;
    };
    // Outputs of x[0] = 1.0 for the three windows.
    const Case cases[] = {
        {0, 0, 494404},    {0, 4, 2456966},    {0, 8, 494408},     {0, 9, -539552},    {0, 13, -5931643},
        {0, 17, -11323733}, {0, 18, -12357690}, {0, 22, -14320250}, {0, 26, -12357689}, {0, 27, -11323736},
        {0, 31, -5931642}, {0, 35, -539549},    {1, 24, -16239400}, {1, 25, -15367521}, {1, 26, -13297593},
        {1, 27, -10203602}, {1, 28, -6365436},  {1, 29, -2137958},  {3, 6, 473973},     {3, 7, 838025},
    };
    int32_t normal[36];
    {
        int32_t x[18] = {0x04000000};
        MP3_IMDCTLong(x, normal, 0);
        const int32_t scratch[18] = {33554432, 33554432, 33554432, 33554432, 16777216, 0,        0,        0,        0,
                                     33554432, 33554432, 33554432, 33554432, 11863283, 33044664, 29058990, 21568374, 11476292};
        for (int i = 0; i < 18; ++i) EXPECT_EQ(x[i], scratch[i]) << i;
    }
    int32_t start[36];
    int32_t stop[36];
    {
        int32_t x[18] = {0x04000000};
        MP3_IMDCTLong(x, start, 1);
        int32_t y[18] = {0x04000000};
        MP3_IMDCTLong(y, stop, 3);
    }
    const int32_t *byType[4] = {normal, start, nullptr, stop};
    for (const Case &c : cases) EXPECT_EQ(byType[c.blockType][c.index], c.value) << c.blockType << "," << c.index;
    for (int i = 0; i < 36; ++i) {
        if (i < 18) { EXPECT_EQ(start[i], normal[i]) << i; }
        if (i >= 30) { EXPECT_EQ(start[i], 0) << i; }
        if (i < 6) { EXPECT_EQ(stop[i], 0) << i; }
        if (i >= 18) { EXPECT_EQ(stop[i], normal[i]) << i; }
    }
}

TEST(ImdctLong, ZeroInGivesZeroOut) {
    for (int blockType : {0, 1, 3}) {
        int32_t x[18] = {};
        int32_t z[36];
        std::fill(z, z + 36, -1);
        MP3_IMDCTLong(x, z, blockType);
        for (int i = 0; i < 36; ++i) EXPECT_EQ(z[i], 0) << blockType << "," << i;
    }
}

// The fast algorithm stays within 16 units of the definition for any input
// of magnitude up to 2^25: random values and extreme sign patterns.
TEST(ImdctLong, WithinSixteenUnitsOfTheDefinition) {
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int32_t> value(-(1 << 25), 1 << 25);
    for (int blockType : {0, 1, 3}) {
        double worst = 0;
        for (int trial = 0; trial < 400; ++trial) {
            int32_t x[18];
            if (trial < 200) {
                for (auto &v : x) v = value(rng);
            } else {
                // Full-scale signs: all equal, alternating, and random patterns.
                const uint32_t pattern = trial == 200 ? 0u : trial == 201 ? 0x3FFFFu : trial == 202 ? 0x15555u : static_cast<uint32_t>(rng());
                for (int k = 0; k < 18; ++k) x[k] = (pattern >> k) & 1u ? -(1 << 25) : (1 << 25);
            }
            const auto ref = longReference(x, blockType);
            int32_t z[36];
            MP3_IMDCTLong(x, z, blockType);
            worst = std::max(worst, maxError(z, ref));
        }
        EXPECT_LE(worst, 16.0) << "block type " << blockType;
    }
}

// Window row selection for values the stage never passes: no table overrun.
TEST(ImdctLong, OtherBlockTypesPickAnExistingWindow) {
    int32_t z[36];
    int32_t ref[36];
    for (int32_t blockType : {-1, 4, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()}) {
        int32_t x[18] = {0x04000000};
        MP3_IMDCTLong(x, z, blockType);
        int32_t y[18] = {0x04000000};
        MP3_IMDCTLong(y, ref, 0);
        EXPECT_TRUE(std::equal(z, z + 36, ref)) << blockType;
    }
}

// ---- Short transform ---------------------------------------------------------

TEST(ImdctShort, ImpulseInEachWindow) {
    int32_t x[18] = {};
    x[0] = x[6] = x[12] = 0x04000000;
    int32_t z[36];
    std::fill(z, z + 36, -1);
    MP3_IMDCTShort(x, z);
    const int32_t head[6] = {1333106, 2456966, 1333106, -1737338, -5931642, -10125946};
    const int32_t tail[6] = {-13196390, -14320250, -13196390, -10125946, -5931642, -1737338};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(z[i], 0) << i;
        EXPECT_EQ(z[6 + i], head[i]) << i;
        EXPECT_EQ(z[24 + i], tail[i]) << i;
        EXPECT_EQ(z[30 + i], 0) << i;
    }
    for (int i = 12; i < 24; ++i) EXPECT_EQ(z[i], -11863284) << i;
    for (int i = 0; i < 18; ++i) EXPECT_EQ(x[i], i % 6 == 0 ? 0x04000000 : 0) << i;
}

TEST(ImdctShort, MatchesTheDefinitionAndLeavesInputAlone) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int32_t> value(-(1 << 25), 1 << 25);
    double worst = 0;
    for (int trial = 0; trial < 300; ++trial) {
        int32_t x[18];
        for (auto &v : x) v = value(rng);
        if (trial == 0) std::fill(x, x + 18, 0);
        if (trial == 1) std::fill(x, x + 18, 1 << 25);
        int32_t copy[18];
        std::copy(x, x + 18, copy);
        const auto ref = shortReference(x);
        int32_t z[36];
        MP3_IMDCTShort(x, z);
        worst = std::max(worst, maxError(z, ref));
        EXPECT_TRUE(std::equal(x, x + 18, copy));
    }
    EXPECT_LE(worst, 4.0);
}

// ---- Corrupt-stream magnitudes -------------------------------------------------

// Inputs near 2^31 make the intermediates wrap; the kernels must stay defined
// (the sanitizer build checks) and keep to their arrays.
TEST(ImdctKernels, FullRangeInputsStayDefined) {
    std::mt19937 rng(99);
    const int32_t extremes[4] = {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), -1, 1};
    for (int trial = 0; trial < 64; ++trial) {
        int32_t x[18];
        for (int k = 0; k < 18; ++k) x[k] = trial < 16 ? extremes[(trial + k * (trial / 4 + 1)) % 4] : static_cast<int32_t>(rng());
        int32_t z[38];
        z[0] = z[37] = 0x13572468;
        int32_t copy[18];
        std::copy(x, x + 18, copy);
        MP3_IMDCTShort(x, z + 1);
        EXPECT_TRUE(std::equal(x, x + 18, copy));
        for (int blockType : {0, 1, 3}) {
            std::copy(copy, copy + 18, x);
            MP3_IMDCTLong(x, z + 1, blockType);
        }
        EXPECT_EQ(z[0], 0x13572468);
        EXPECT_EQ(z[37], 0x13572468);
    }
    int32_t spectrum[576];
    for (int i = 0; i < 576; ++i) spectrum[i] = extremes[i % 4];
    MP3_AliasReduce(spectrum, 32);
    for (auto &v : spectrum) v = static_cast<int32_t>(rng());
    MP3_AliasReduce(spectrum, 32);
}

}  // namespace
