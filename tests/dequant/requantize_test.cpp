// Requantization against exact arithmetic: sign(x) |x|^(4/3) 2^(-c/4) 2^26.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "audio/dequant/requantize.h"
#include "mpfix.h"

using namespace mpfix;

namespace {

constexpr int32_t kMax = 0x7FFFFFFF;

int32_t requantize(int32_t x, int32_t code) {
    int32_t out = 0x55555555;
    EXPECT_EQ(MP3_RequantizeBand(&x, &out, 1, code), 0);
    return out;
}

long double roundHalfUp(long double v) { return std::floor(v + 0.5L); }

// |x|^(4/3) for every quantized magnitude, in long double.
const std::vector<long double> &exactPowers() {
    static const std::vector<long double> powers = [] {
        std::vector<long double> p(MP3_MAX_QUANTIZED + 1);
        for (size_t a = 0; a < p.size(); ++a) p[a] = std::pow(static_cast<long double>(a), 4.0L / 3.0L);
        return p;
    }();
    return powers;
}

long double exactPower(int32_t a) { return exactPowers()[static_cast<size_t>(a)]; }

// ---- Tables from their rules ------------------------------------------------

TEST(RequantizeTables, QuarterStepGainFromRule) {
    EXPECT_EQ(quarterStepGain[0], kMax);
    for (int k = 1; k < 4; ++k) {
        EXPECT_EQ(quarterStepGain[k], static_cast<int32_t>(roundHalfUp(std::ldexp(std::exp2(-k / 4.0L), 31)))) << k;
    }
}

TEST(RequantizeTables, SmallPowTableFromRule) {
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(smallPowTable[k][0], 0);
        for (int m = 1; m < 16; ++m) {
            const int bits = m < 4 ? 28 : 25;
            const long double v = exactPower(m) * std::exp2(-k / 4.0L);
            EXPECT_EQ(smallPowTable[k][m], static_cast<int32_t>(roundHalfUp(std::ldexp(v, bits)))) << k << " " << m;
        }
    }
    // Telling entries.
    EXPECT_EQ(smallPowTable[0][3], 0x453A5CDB);
    EXPECT_EQ(smallPowTable[0][4], 0x0CB2FF53);
    EXPECT_EQ(smallPowTable[2][1], 0x0B504F33);
}

TEST(RequantizeTables, MidPowTableFromRule) {
    for (int m = 16; m <= 128; ++m) {
        const int bits = m < 64 ? 23 : 21;
        EXPECT_EQ(midPowTable[m - 16], static_cast<int32_t>(roundHalfUp(std::ldexp(exactPower(m), bits)))) << m;
    }
    EXPECT_EQ(midPowTable[0], 0x1428A2FA);
    EXPECT_EQ(midPowTable[128 - 16], 0x50A28BE6);
}

TEST(RequantizeTables, OctaveGainAndShiftFromRule) {
    for (int e = 0; e < 7; ++e) {
        const int thirds = 4 * (e + 8);  // |x|^(4/3) = m^(4/3) 2^(thirds / 3)
        const int whole = thirds / 3;
        const bool integral = thirds % 3 == 0;
        const long double f = (thirds % 3) / 3.0L;
        // f = 0 carries one more bit (1.0 as 0x7FFFFFFF), so its result shift is one less.
        EXPECT_EQ(powOctaveGain[e], integral ? kMax : static_cast<int32_t>(std::floor(std::ldexp(std::exp2(f), 30))))
            << e;
        const int j = whole - (integral ? 4 : 3);
        EXPECT_EQ(powOctaveShift[e], 27 - j) << e;
    }
}

// The polynomial, evaluated by Horner's rule on high products, stays within 3
// units of m^(4/3) 2^27 for the mantissa of every magnitude 129..8206.
TEST(RequantizeTables, PolynomialWithinThreeUnits) {
    long double worst = 0;
    for (int32_t a = 129; a <= MP3_MAX_QUANTIZED; ++a) {
        const int e = static_cast<int>(std::floor(std::log2(static_cast<double>(a)))) - 7;
        const int64_t v = static_cast<int64_t>(a) << (31 - (e + 8));  // m = a / 2^(e+8), 31 fraction bits
        int64_t p = 0;
        for (int i = 0; i < 7; ++i) p = (v * static_cast<int32_t>(p + powPolyCoef[i])) >> 32;
        p += powPolyCoef[7];
        const long double m = std::ldexp(static_cast<long double>(a), -(e + 8));
        const long double exact = std::ldexp(std::pow(m, 4.0L / 3.0L), 27);
        worst = std::max(worst, std::fabs(static_cast<long double>(p) - exact));
    }
    EXPECT_LE(worst, 3.0L);
}

// ---- Listed values ----------------------------------------------------------

struct Case {
    int32_t x;
    int32_t code;
    int32_t expected;
};

TEST(RequantizeBand, ListedValues) {
    const Case cases[] = {
        {0, 0, 0},           {0, 77, 0},           {0, -20, 0},           {1, 0, 0x04000000},
        {1, 4, 0x02000000},  {1, 5, 0x01AE89F9},   {-1, 0, -0x04000000},  {8, 0, 0x40000000},
        {13, 0, 0x7A44F7A6}, {14, 0, kMax},        {15, 0, kMax},         {-5, 4, -0x111989D6},
        {15, 4, 0x49FC823C}, {16, 4, 0x50A28BE0},  {16, 0, kMax},         {64, 0, kMax},
        {129, 0, kMax},      {8206, 0, kMax},      {-8206, 0, -kMax},     {64, 26, 0x0B504F33},
        {129, 26, 0x1CCE5D46}, {1, 120, 0},        {2, 120, 0},           {3, 120, 0},
        {4, 120, 0},         {15, 120, 2},         {16, 120, 2},          {129, 120, 0x28},
        {8206, 120, 0x2868}, {8206, 200, 0},       {8206, 400, 0},
        // Negative codes amplify: code -4 doubles, code -8 quadruples.
        {1, -4, 0x08000000}, {1, -8, 0x10000000},  {8, -4, kMax},         {-2, -45, -kMax},
    };
    for (const Case &c : cases) EXPECT_EQ(requantize(c.x, c.code), c.expected) << c.x << " code " << c.code;
}

// Every magnitude at a spread of codes: within 1e-7 relative or 2 units of the
// exact value, or saturated where the exact value reaches 0x7FFFFFFF; -x gives
// exactly the negation.
TEST(RequantizeBand, MatchesExactArithmetic) {
    const int32_t codes[] = {-45, -31, -17, -9, -6, -3, -2, -1, 0,  1,  2,  3,   5,   7,   9,   14,  26,
                             39,  52,  63,  80, 97, 118, 120, 150, 181, 200, 233, 262, 300, 341, 399, 400};
    std::vector<int32_t> input(MP3_MAX_QUANTIZED + 1);
    std::vector<int32_t> output(input.size());
    std::vector<int32_t> negated(input.size());
    for (size_t a = 0; a < input.size(); ++a) input[a] = static_cast<int32_t>(a);
    for (int32_t code : codes) {
        ASSERT_EQ(MP3_RequantizeBand(input.data(), output.data(), static_cast<int32_t>(input.size()), code), 0);
        for (auto &v : input) v = -v;
        ASSERT_EQ(MP3_RequantizeBand(input.data(), negated.data(), static_cast<int32_t>(input.size()), code), 0);
        for (auto &v : input) v = -v;
        const long double gain = std::exp2(-code / 4.0L + 26);
        int failures = 0;
        for (size_t a = 0; a < input.size() && failures < 5; ++a) {
            const long double exact = exactPowers()[a] * gain;
            const long double tolerance = std::max(2.0L, exact * 1e-7L);
            const long double got = output[a];
            const bool ok = output[a] == kMax ? exact >= kMax - tolerance : std::fabs(got - exact) <= tolerance;
            if (!ok || negated[a] != -output[a]) {
                ++failures;
                ADD_FAILURE() << "magnitude " << a << " code " << code << ": got " << output[a] << " / "
                              << negated[a] << ", exact " << static_cast<double>(exact);
            }
        }
    }
}

TEST(RequantizeBand, StopsAtMagnitudeAbove8206) {
    const int32_t sentinel = 0x12345678;
    const int32_t input[3] = {5, 8207, 3};
    int32_t output[3] = {sentinel, sentinel, sentinel};
    EXPECT_EQ(MP3_RequantizeBand(input, output, 3, 0), MP3_ERR_PARAM);
    EXPECT_EQ(output[0], requantize(5, 0));
    EXPECT_EQ(output[1], sentinel);
    EXPECT_EQ(output[2], sentinel);

    // The most negative integer is a magnitude above 8206 too, not an overflow.
    const int32_t extreme[2] = {-8206, INT32_MIN};
    EXPECT_EQ(MP3_RequantizeBand(extreme, output, 2, 0), MP3_ERR_PARAM);
    EXPECT_EQ(output[0], -kMax);
    EXPECT_EQ(output[1], sentinel);
}

TEST(RequantizeBand, InPlaceEqualsSeparateOutput) {
    std::vector<int32_t> values = {0, 1, -2, 3, 4, -15, 16, 63, -64, 128, 129, -1000, 8206, 7, -7, 2};
    std::vector<int32_t> separate(values.size());
    const int32_t n = static_cast<int32_t>(values.size());
    ASSERT_EQ(MP3_RequantizeBand(values.data(), separate.data(), n, 37), 0);
    ASSERT_EQ(MP3_RequantizeBand(values.data(), values.data(), n, 37), 0);
    EXPECT_EQ(values, separate);
}

}  // namespace
