// 8x8 inverse DCT against the exact orthonormal transform in double precision.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

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

// IEEE 1180-1990 accuracy: blocks from the standard's generator in -L..H,
// forward-transformed in double precision, rounded and clipped to
// -2048..2047, then inverse-transformed by the function under test and by
// the exact transform (both rounded and clipped to -256..255). The figures
// are printed for the reference and the exported entry, which must agree.
struct Ieee1180Figures {
    int peak = 0;
    double worstPixelMse = 0, overallMse = 0, worstPixelMean = 0, overallMean = 0;
    bool operator==(const Ieee1180Figures &) const = default;
};

struct Ieee1180Random {
    uint32_t x = 1;
    int next(int lo, int hi) {  // the standard's generator, on 32-bit words
        x = x * 1103515245u + 12345u;
        const double unit = static_cast<double>(x & 0x7FFFFFFEu) / static_cast<double>(0x7FFFFFFF);
        return static_cast<int>(unit * (hi - lo + 1)) + lo;
    }
};

// Separable, with the basis computed once: c[u][x] = C(u) / 2 * cos((2x + 1) u pi / 16).
struct DctBasis {
    double c[8][8];
    DctBasis() {
        for (int u = 0; u < 8; ++u)
            for (int x = 0; x < 8; ++x) c[u][x] = (u == 0 ? std::sqrt(0.5) : 1.0) / 2 * std::cos((2 * x + 1) * u * kPi / 16);
    }
    // Forward (inverse = false) or inverse transform of 8x8 doubles.
    std::array<double, 64> apply(const std::array<double, 64> &in, bool inverse) const {
        std::array<double, 64> mid{}, out{};
        for (size_t r = 0; r < 8; ++r)
            for (size_t k = 0; k < 8; ++k)
                for (size_t j = 0; j < 8; ++j) mid[8 * r + k] += in[8 * r + j] * (inverse ? c[j][k] : c[k][j]);
        for (size_t k = 0; k < 8; ++k)
            for (size_t col = 0; col < 8; ++col)
                for (size_t j = 0; j < 8; ++j) out[8 * k + col] += mid[8 * j + col] * (inverse ? c[j][k] : c[k][j]);
        return out;
    }
};

// The standard's test set for one range and sign: coefficient blocks and the
// exact transform's outputs, rounded and clipped to -256..255.
struct Ieee1180Set {
    std::vector<Block> coefficients;
    std::vector<std::array<long, 64>> want;
};

long clipTo(long v, long low, long high) { return std::min(std::max(v, low), high); }

Ieee1180Set ieee1180Set(int lo, int hi, int sign) {
    static const DctBasis basis;
    constexpr int kBlocksPerRun = 10000;
    Ieee1180Random rng;
    Ieee1180Set set;
    for (int n = 0; n < kBlocksPerRun; ++n) {
        std::array<double, 64> pixels;
        for (double &p : pixels) p = static_cast<double>(sign * rng.next(lo, hi));
        const std::array<double, 64> dct = basis.apply(pixels, false);
        Block coefficients;
        std::array<double, 64> rounded;
        for (size_t i = 0; i < 64; ++i) {
            coefficients[i] = static_cast<int16_t>(clipTo(std::lround(dct[i]), -2048, 2047));
            rounded[i] = coefficients[i];
        }
        const std::array<double, 64> exact = basis.apply(rounded, true);
        std::array<long, 64> want;
        for (size_t i = 0; i < 64; ++i) want[i] = clipTo(std::lround(exact[i]), -256, 255);
        set.coefficients.push_back(coefficients);
        set.want.push_back(want);
    }
    return set;
}

template <typename Idct>
Ieee1180Figures ieee1180(const Ieee1180Set &set, Idct idct) {
    const double blocks = static_cast<double>(set.coefficients.size());
    double sumErr[64] = {}, sumSq[64] = {};
    Ieee1180Figures fig;
    for (size_t n = 0; n < set.coefficients.size(); ++n) {
        Block got = set.coefficients[n];
        idct(got.data());
        for (size_t i = 0; i < 64; ++i) {
            const long err = clipTo(got[i], -256, 255) - set.want[n][i];
            fig.peak = std::max(fig.peak, static_cast<int>(std::labs(err)));
            sumErr[i] += static_cast<double>(err);
            sumSq[i] += static_cast<double>(err * err);
        }
    }
    for (size_t i = 0; i < 64; ++i) {
        fig.worstPixelMse = std::max(fig.worstPixelMse, sumSq[i] / blocks);
        fig.worstPixelMean = std::max(fig.worstPixelMean, std::fabs(sumErr[i]) / blocks);
        fig.overallMse += sumSq[i] / (64.0 * blocks);
        fig.overallMean += sumErr[i] / (64.0 * blocks);
    }
    fig.overallMean = std::fabs(fig.overallMean);
    return fig;
}

TEST(Idct, Ieee1180FiguresOfTheExportedEntryAreTheReferences) {
    struct Range { int lo, hi; };
    for (const Range r : {Range{-256, 255}, Range{-5, 5}, Range{-300, 300}})
        for (int sign : {1, -1}) {
            const Ieee1180Set set = ieee1180Set(r.lo, r.hi, sign);
            const Ieee1180Figures ref = ieee1180(set, mpfix::MPG_DCTInv_8x8_ref);
            const Ieee1180Figures exported = ieee1180(set, [](int16_t *b) { MPG_DCTInv_8x8(b); });
            std::printf("IEEE 1180 L=%d H=%d sign %+d: peak %d, pixel mse %.4f, overall mse %.4f, "
                        "pixel mean %.4f, overall mean %.5f\n",
                        -r.lo, r.hi, sign, ref.peak, ref.worstPixelMse, ref.overallMse, ref.worstPixelMean,
                        ref.overallMean);
            EXPECT_EQ(exported, ref) << "L=" << -r.lo << " H=" << r.hi << " sign " << sign;
            // The standard's limits.
            EXPECT_LE(ref.peak, 1);
            EXPECT_LE(ref.worstPixelMse, 0.06);
            EXPECT_LE(ref.overallMse, 0.02);
            EXPECT_LE(ref.worstPixelMean, 0.015);
            EXPECT_LE(ref.overallMean, 0.0015);
        }
}

}  // namespace
