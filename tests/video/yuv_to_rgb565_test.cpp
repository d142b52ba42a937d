// YUV 4:2:0 to RGB565 against the per-pixel formula, with padded strides and
// guard bytes around every written pixel.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "mpfix.h"
#include "video/yuv_to_rgb565.h"

using namespace mpfix;

namespace {

// Per-pixel model: floor((Y * 2^16 + chroma terms) / 2^shift), clamped, packed
// 5-6-5. Computed in double (exact at these magnitudes) with the constants
// taken from their real-valued factors, not from the library's table.
struct Indexes { int red, green, blue; };

Indexes modelIndexes(int y, int cb, int cr) {
    const double u = cb - 128, v = cr - 128, luma = y * 65536.0;
    const double kr = std::round(1.140 * 65536), kgu = std::round(-0.394 * 65536);
    const double kgv = std::round(-0.581 * 65536), kb = std::round(2.032 * 65536);
    return {static_cast<int>(std::floor((luma + v * kr) / 524288.0)),
            static_cast<int>(std::floor((luma + u * kgu + v * kgv) / 262144.0)),
            static_cast<int>(std::floor((luma + u * kb) / 524288.0))};
}

uint16_t modelPixel(int y, int cb, int cr) {
    const Indexes i = modelIndexes(y, cb, cr);
    auto clamp = [](int value, int hi) { return value < 0 ? 0 : (value > hi ? hi : value); };
    return static_cast<uint16_t>(clamp(i.red, 31) << 11 | clamp(i.green, 63) << 5 | clamp(i.blue, 31));
}

uint16_t convertOne(uint8_t y, uint8_t u, uint8_t v) {
    const MPG_YUVPlanes planes{&y, &u, &v};
    const MPG_YUVStrides strides{1, 1, 1};
    uint16_t out = 0x1234;
    EXPECT_EQ(MPG_YUV420ToBGR565(&planes, &strides, &out, 2, 1, 1), 0);
    return out;
}

TEST(YuvTables, CoefficientsDerivedFromFactors) {
    const double factors[4] = {1.140, -0.394, -0.581, 2.032};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(MPG_YUVCoefficients[i], std::lround(factors[i] * 65536)) << i;
}

TEST(YuvTables, ClampTablesHoldClampedIndexes) {
    ASSERT_EQ(MPG_YUVClamp5.size(), static_cast<size_t>(MPG_CLAMP5_HIGH - MPG_CLAMP5_LOW + 1));
    ASSERT_EQ(MPG_YUVClamp6.size(), static_cast<size_t>(MPG_CLAMP6_HIGH - MPG_CLAMP6_LOW + 1));
    for (int i = MPG_CLAMP5_LOW; i <= MPG_CLAMP5_HIGH; ++i)
        EXPECT_EQ(MPG_YUVClamp5[static_cast<size_t>(i - MPG_CLAMP5_LOW)], std::min(std::max(i, 0), 31)) << i;
    for (int i = MPG_CLAMP6_LOW; i <= MPG_CLAMP6_HIGH; ++i)
        EXPECT_EQ(MPG_YUVClamp6[static_cast<size_t>(i - MPG_CLAMP6_LOW)], std::min(std::max(i, 0), 63)) << i;
}

// Each index is a floor of an affine function of Y, U and V, so its extremes
// lie at the corners of the 0..255 cube: they must match the stated reachable
// ranges and sit inside the tables.
TEST(YuvTables, CornerInputsStayInsideClampTables) {
    int lo[3] = {1000, 1000, 1000}, hi[3] = {-1000, -1000, -1000};
    for (int corner = 0; corner < 8; ++corner) {
        const Indexes i = modelIndexes(corner & 1 ? 255 : 0, corner & 2 ? 255 : 0, corner & 4 ? 255 : 0);
        const int values[3] = {i.red, i.green, i.blue};
        for (int c = 0; c < 3; ++c) {
            lo[c] = std::min(lo[c], values[c]);
            hi[c] = std::max(hi[c], values[c]);
        }
    }
    EXPECT_EQ(lo[0], -19); EXPECT_EQ(hi[0], 49);
    EXPECT_EQ(lo[1], -31); EXPECT_EQ(hi[1], 94);
    EXPECT_EQ(lo[2], -33); EXPECT_EQ(hi[2], 64);
    for (int c : {0, 2}) {
        EXPECT_GE(lo[c], MPG_CLAMP5_LOW);
        EXPECT_LE(hi[c], MPG_CLAMP5_HIGH);
    }
    EXPECT_GE(lo[1], MPG_CLAMP6_LOW);
    EXPECT_LE(hi[1], MPG_CLAMP6_HIGH);
}

TEST(YuvConvert, SinglePixelExamples) {
    struct Case { uint8_t y, u, v; uint16_t pixel; };
    const Case cases[] = {
        {0, 128, 128, 0x0000},   {255, 128, 128, 0xFFFF}, {128, 128, 128, 0x8410},
        {232, 128, 128, 0xEF5D}, {255, 255, 255, 0xFC1F}, {0, 0, 0, 0x03E0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(convertOne(c.y, c.u, c.v), c.pixel) << int{c.y} << "," << int{c.u} << "," << int{c.v};
}

// A lattice over the whole (Y, U, V) cube, corners included, agrees with the
// model, so the clamps at both ends of every component are exercised.
TEST(YuvConvert, LatticeOverSampleCubeAgreesWithModel) {
    for (int y = 0; y < 256; y += 5)
        for (int u = 0; u < 256; u += 5)
            for (int v = 0; v < 256; v += 5)
                ASSERT_EQ(convertOne(static_cast<uint8_t>(y), static_cast<uint8_t>(u), static_cast<uint8_t>(v)),
                          modelPixel(y, u, v))
                    << y << "," << u << "," << v;
}

// A picture of random planes whose rows are padded; writes into a destination
// pre-filled with a marker so that any byte outside the rectangle shows.
struct Picture {
    int width, height, lumaPad, chromaPad, destPad;
};

void checkPicture(const Picture &p, std::mt19937 &rng, bool bottomUp) {
    const int cw = (p.width + 1) / 2, ch = (p.height + 1) / 2;
    const int sy = p.width + p.lumaPad, su = cw + p.chromaPad, sv = cw + p.chromaPad + 1;
    const int ds = 2 * p.width + p.destPad;  // bytes
    std::vector<uint8_t> y(static_cast<size_t>(sy * p.height)), u(static_cast<size_t>(su * ch)),
        v(static_cast<size_t>(sv * ch));
    for (auto *plane : {&y, &u, &v})
        for (uint8_t &s : *plane) s = static_cast<uint8_t>(rng());
    constexpr size_t kGuard = 16;
    constexpr uint8_t kMarker = 0xA5;
    std::vector<uint8_t> dest(kGuard + static_cast<size_t>(ds * p.height) + kGuard, kMarker);
    uint8_t *const first = dest.data() + kGuard;

    // Top-down, or bottom-up: first row at the end and negative strides.
    MPG_YUVPlanes planes{y.data(), u.data(), v.data()};
    MPG_YUVStrides strides{sy, su, sv};
    uint8_t *destRow0 = first;
    int destStride = ds;
    if (bottomUp) {
        planes = {y.data() + sy * (p.height - 1), u.data() + su * (ch - 1), v.data() + sv * (ch - 1)};
        strides = {-sy, -su, -sv};
        destRow0 = first + ds * (p.height - 1);
        destStride = -ds;
    }
    ASSERT_EQ(MPG_YUV420ToBGR565(&planes, &strides, reinterpret_cast<uint16_t *>(destRow0), destStride, p.width,
                                 p.height),
              0);

    std::vector<bool> written(dest.size(), false);
    for (int r = 0; r < p.height; ++r)
        for (int x = 0; x < p.width; ++x) {
            const uint8_t *yr = planes.y + static_cast<ptrdiff_t>(r) * strides.y;
            const uint8_t *ur = planes.u + static_cast<ptrdiff_t>(r / 2) * strides.u;
            const uint8_t *vr = planes.v + static_cast<ptrdiff_t>(r / 2) * strides.v;
            const uint8_t *at = destRow0 + static_cast<ptrdiff_t>(r) * destStride + 2 * x;
            uint16_t got;
            std::memcpy(&got, at, 2);
            ASSERT_EQ(got, modelPixel(yr[x], ur[x / 2], vr[x / 2]))
                << p.width << "x" << p.height << " at " << x << "," << r << (bottomUp ? " bottom-up" : "");
            const size_t offset = static_cast<size_t>(at - dest.data());
            written[offset] = written[offset + 1] = true;
        }
    for (size_t i = 0; i < dest.size(); ++i) {
        if (!written[i]) {
            ASSERT_EQ(dest[i], kMarker) << "byte " << i << " outside the rectangle was written";
        }
    }
}

TEST(YuvConvert, RandomPicturesWithOddSizesAndPaddedStrides) {
    std::mt19937 rng(7u);
    std::vector<Picture> pictures;
    for (int w = 1; w <= 6; ++w)
        for (int h = 1; h <= 5; ++h) pictures.push_back({w, h, (w * h) % 3, (w + h) % 2, 2 * ((w + h) % 3)});
    pictures.push_back({3, 3, 0, 0, 0});    // the third column and row reuse the second chroma
    pictures.push_back({17, 13, 5, 3, 6});  // odd both ways, padded
    pictures.push_back({16, 16, 0, 0, 0});  // tight, even
    pictures.push_back({33, 2, 1, 1, 2});
    for (const Picture &p : pictures) {
        checkPicture(p, rng, false);
        checkPicture(p, rng, true);
    }
}

TEST(YuvConvert, NonPositiveSizesWriteNothing) {
    const uint8_t samples[4] = {200, 100, 50, 25};
    const MPG_YUVPlanes planes{samples, samples, samples};
    const MPG_YUVStrides strides{2, 1, 1};
    const int sizes[][2] = {{0, 1}, {1, 0}, {0, 0}, {-1, 2}, {2, -1}, {INT32_MIN, INT32_MIN}};
    for (const auto &s : sizes) {
        uint16_t out[4] = {0x5A5A, 0x5A5A, 0x5A5A, 0x5A5A};
        EXPECT_EQ(MPG_YUV420ToBGR565(&planes, &strides, out, 4, s[0], s[1]), 0);
        for (uint16_t px : out) EXPECT_EQ(px, 0x5A5A) << s[0] << "x" << s[1];
    }
}

}  // namespace
