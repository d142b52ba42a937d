// 8x8 inverse DCT against the exact orthonormal transform in double precision.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>

#include "mpfix.h"
#include "video/idct.h"

using namespace mpfix;

namespace {

using Block = std::array<int16_t, 64>;
constexpr double kPi = 3.14159265358979323846;

// f(x, y) = 1/4 sum_u sum_v C(u) C(v) F(u, v) cos((2x+1)u pi/16) cos((2y+1)v pi/16),
// element 8v+u of the input is F(u, v), element 8y+x of the output is f(x, y).
std::array<double, 64> exactIdct(const Block &in) {
    double basis[8][8];  // basis[x][u] = C(u)/2 * cos((2x+1) u pi / 16)
    for (int x = 0; x < 8; ++x)
        for (int u = 0; u < 8; ++u)
            basis[x][u] = (u == 0 ? std::sqrt(0.5) : 1.0) / 2.0 * std::cos((2 * x + 1) * u * kPi / 16.0);
    std::array<double, 64> out{};
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double sum = 0.0;
            for (int v = 0; v < 8; ++v)
                for (int u = 0; u < 8; ++u) sum += basis[y][v] * basis[x][u] * in[static_cast<size_t>(8 * v + u)];
            out[static_cast<size_t>(8 * y + x)] = sum;
        }
    return out;
}

Block transformed(Block b) {
    EXPECT_EQ(MPG_DCTInv_8x8(b.data()), 0);
    return b;
}

TEST(IdctConstants, DerivedFromCosines) {
    const int32_t table[8] = {0, MPG_IDCT_C1, MPG_IDCT_C2, MPG_IDCT_C3, MPG_IDCT_C4,
                              MPG_IDCT_C5, MPG_IDCT_C6, MPG_IDCT_C7};
    for (int k = 1; k <= 7; ++k)
        EXPECT_EQ(table[k], std::lround(2048.0 * std::cos(k * kPi / 16.0))) << "k=" << k;
    EXPECT_EQ(MPG_IDCT_C4, std::lround(2048.0 / std::sqrt(2.0)));
    EXPECT_EQ(MPG_IDCT_ROTATION, std::lround(256.0 * std::cos(kPi / 4.0)));
}

TEST(Idct, ZeroBlockStaysZero) {
    const Block out = transformed(Block{});
    for (int16_t s : out) EXPECT_EQ(s, 0);
}

TEST(Idct, DcOnlyGivesFlatBlock) {
    struct Case { int16_t dc; int16_t sample; };
    // F(0,0)/8 rounded; -32768 lands one above the exact -4096 (within the bound of 2).
    const Case cases[] = {{8, 1}, {64, 8}, {-8, -1}, {1000, 125}, {0, 0}, {-32768, -4095}};
    for (const Case &c : cases) {
        Block b{};
        b[0] = c.dc;
        const Block out = transformed(b);
        for (size_t i = 0; i < 64; ++i) ASSERT_EQ(out[i], c.sample) << "dc=" << c.dc << " i=" << i;
    }
}

TEST(Idct, SingleFirstHarmonic) {
    const int16_t ramp[8] = {17, 15, 10, 3, -3, -10, -15, -17};
    Block horizontal{};
    horizontal[1] = 100;  // F(1, 0): varies along x, same in every row
    Block vertical{};
    vertical[8] = 100;  // F(0, 1): varies along y, every row constant
    const Block h = transformed(horizontal);
    const Block v = transformed(vertical);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(h[static_cast<size_t>(8 * y + x)], ramp[x]) << "x=" << x << " y=" << y;
            EXPECT_EQ(v[static_cast<size_t>(8 * y + x)], ramp[y]) << "x=" << x << " y=" << y;
        }
}

// Random blocks of varying density (sparse blocks exercise the zero-row path)
// stay within the stated distance of the exact transform.
TEST(Idct, RandomBlocksWithinBoundOfExactTransform) {
    struct Range { int lo, hi; double bound; };
    const Range ranges[] = {{-256, 255, 1.0}, {-1024, 1023, 2.0}};
    std::mt19937 rng(20240611u);
    for (const Range &range : ranges) {
        std::uniform_int_distribution<int> value(range.lo, range.hi);
        std::uniform_int_distribution<int> density(1, 64);
        double worst = 0.0;
        long exactMatches = 0;
        constexpr int kBlocks = 3000;
        for (int n = 0; n < kBlocks; ++n) {
            Block in{};
            const int nonzero = density(rng);
            for (size_t i = 0; i < 64; ++i)
                if (static_cast<int>(rng() % 64) < nonzero) in[i] = static_cast<int16_t>(value(rng));
            if (n < 8) in[n % 2 == 0 ? 0 : 63] = static_cast<int16_t>(n % 4 < 2 ? range.lo : range.hi);
            const std::array<double, 64> want = exactIdct(in);
            const Block got = transformed(in);
            for (size_t i = 0; i < 64; ++i) {
                const double diff = std::fabs(got[i] - want[i]);
                worst = std::max(worst, diff);
                if (got[i] == std::lround(want[i])) ++exactMatches;
            }
        }
        EXPECT_LE(worst, range.bound) << "coefficients " << range.lo << ".." << range.hi;
        // Most samples are the correctly rounded value.
        EXPECT_GT(exactMatches, kBlocks * 64L * 9 / 10) << "coefficients " << range.lo << ".." << range.hi;
    }
}

// Extreme coefficients wrap the 32-bit arithmetic; that must stay defined
// (the sanitizer build checks) and leave the call deterministic and in place.
TEST(Idct, ExtremeCoefficientsAreDefined) {
    // Which coefficients take -32768 (the rest 32767): none, alternate
    // columns, a checkerboard, every third.
    const auto negative = [](int pattern, int i) {
        switch (pattern) {
            case 1: return i % 2 == 1;
            case 2: return (i / 8 + i) % 2 == 1;
            case 3: return i % 3 == 0;
            default: return false;
        }
    };
    for (int pattern = 0; pattern < 4; ++pattern) {
        Block in{};
        for (size_t i = 0; i < 64; ++i) in[i] = negative(pattern, static_cast<int>(i)) ? int16_t{-32768} : int16_t{32767};
        const Block first = transformed(in);
        const Block second = transformed(in);
        EXPECT_EQ(first, second) << "pattern " << pattern;
    }
}

}  // namespace
