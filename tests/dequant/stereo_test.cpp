// Mid/side and intensity stereo, and the stereo bounds.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "audio/band_tables.h"
#include "audio/dequant/requantize.h"
#include "audio/dequant/stereo.h"

using namespace mpfix;

namespace {

constexpr int32_t kSentinel = 55;
using Row = std::array<int32_t, 576>;
using Slot = std::array<uint8_t, 40>;

const uint16_t *longRow(int32_t id) { return MP3_SfbLongTable[id == 1 ? 3 : 0]; }   // band 0: 4 or 6 values
const uint16_t *shortRow(int32_t id) { return MP3_SfbShortTable[id == 1 ? 3 : 0]; }  // band 0: 4 values

// The joint-stereo setting of a granule with the rows above.
MP3_JointStereo setting(const uint8_t *positions, int32_t ms, int32_t is, int32_t id, int32_t scale = 0,
                        int32_t mixed = 0) {
    return {positions, ms, is, id, scale, mixed, longRow(id), shortRow(id)};
}

struct Pair {
    int32_t left;
    int32_t right;
};

// Intensity on long band 0 (isBoundLong 0, limit 1), left value v, right sentinel.
Pair intensityLong(int32_t id, int32_t position, int32_t v, int32_t ms, int32_t scale, int32_t *result = nullptr) {
    Row left{}, right{};
    left[0] = v;
    right[0] = kSentinel;
    Slot positions{};
    positions[0] = static_cast<uint8_t>(position);
    const MP3_JointStereo stereo = setting(positions.data(), ms, 1, id, scale);
    const int32_t r = MP3_JointStereoLong(left.data(), right.data(), &stereo, 0, 1);
    if (result != nullptr) *result = r;
    return {left[0], right[0]};
}

// Intensity on short band 0 of window 0 (slot byte 0).
Pair intensityShort(int32_t id, int32_t position, int32_t v, int32_t ms, int32_t scale, int32_t *result = nullptr) {
    Row left{}, right{};
    left[0] = v;
    right[0] = kSentinel;
    Slot positions{};
    positions[0] = static_cast<uint8_t>(position);
    const int32_t bound[3] = {0, 0, 0};
    const int32_t end[3] = {1, 0, 0};
    const MP3_JointStereo stereo = setting(positions.data(), ms, 1, id, scale);
    const int32_t r = MP3_JointStereoShort(left.data(), right.data(), &stereo, bound, end);
    if (result != nullptr) *result = r;
    return {left[0], right[0]};
}

TEST(StereoTables, IsRatioFromRule) {
    const long double pi = std::acos(-1.0L);
    for (int p = 0; p < 6; ++p) {
        const long double t = std::tan(p * pi / 12);
        EXPECT_EQ(isRatioTable[p], static_cast<int32_t>(std::floor(std::ldexp(t / (1 + t), 31) + 0.5L))) << p;
    }
    EXPECT_EQ(isRatioTable[6], 0x7FFFFFFF);
}

TEST(JointStereo, MidSide) {
    Row left{}, right{};
    left[0] = 3;
    right[0] = 1;
    left[5] = -8;
    right[5] = 20;
    left[6] = 0x7FFFFFFF;  // wraps as 32-bit arithmetic
    right[6] = 1;
    Slot positions{};
    // isBoundLong 3: values below L[3] = 12 are combined, none above.
    left[12] = 9;
    right[12] = 4;
    const MP3_JointStereo stereo = setting(positions.data(), 1, 0, 1);
    EXPECT_EQ(MP3_JointStereoLong(left.data(), right.data(), &stereo, 3, 576), 0);
    EXPECT_EQ(left[0], 4);
    EXPECT_EQ(right[0], 2);
    EXPECT_EQ(left[5], 12);
    EXPECT_EQ(right[5], -28);
    EXPECT_EQ(left[6], INT32_MIN);
    EXPECT_EQ(right[6], 0x7FFFFFFE);
    EXPECT_EQ(left[12], 9);
    EXPECT_EQ(right[12], 4);
}

struct IntensityCase {
    int32_t id;
    int32_t position;
    int32_t value;
    int32_t ms;
    int32_t scale;
    Pair longResult;
    Pair shortResult;
};

TEST(JointStereo, IntensityListedValues) {
    const IntensityCase cases[] = {
        // MPEG-1
        {1, 3, 5, 0, 0, {2, 3}, {2, 3}},
        {1, 3, -5, 0, 0, {-3, -2}, {-3, -2}},
        {1, 0, 5, 0, 0, {0, 5}, {0, 5}},
        {1, 6, 100, 0, 0, {99, 1}, {99, 1}},
        {1, 6, -100, 0, 0, {-100, 0}, {-100, 0}},
        {1, 1, 100, 0, 0, {21, 79}, {21, 79}},
        {1, 7, 100, 0, 0, {100, kSentinel}, {99, 1}},  // illegal, ms clear
        {1, 7, 100, 1, 0, {100, 100}, {100, 100}},     // illegal, ms set: a copy
        // Low sampling frequency
        {0, 0, 100, 0, 0, {100, 99}, {100, 99}},
        {0, 1, 100, 0, 0, {84, 100}, {84, 100}},
        {0, 2, 100, 0, 0, {100, 84}, {100, 84}},
        {0, 8, 100, 0, 0, {100, 49}, {100, 49}},
        {0, 1, 100, 0, 1, {70, 100}, {70, 100}},
        {0, 3, 100, 0, 1, {49, 100}, {49, 100}},
        {0, 8, 100, 0, 1, {100, 24}, {100, 24}},
        {0, 1, -100, 0, 0, {-85, -100}, {-85, -100}},
        {0, -7, 100, 0, 0, {100, kSentinel}, {100, 0}},  // illegal, ms clear
        {0, -7, 100, 1, 0, {100, 99}, {100, 99}},        // illegal, ms set: position 0
        {0, 127, 100, 0, 1, {0, 100}, {0, 100}},         // far beyond any coded position: no undefined shift
    };
    for (const IntensityCase &c : cases) {
        const Pair l = intensityLong(c.id, c.position, c.value, c.ms, c.scale);
        const Pair s = intensityShort(c.id, c.position, c.value, c.ms, c.scale);
        EXPECT_EQ(l.left, c.longResult.left) << c.id << " p " << c.position << " v " << c.value << " ms " << c.ms;
        EXPECT_EQ(l.right, c.longResult.right) << c.id << " p " << c.position << " v " << c.value << " ms " << c.ms;
        EXPECT_EQ(s.left, c.shortResult.left) << c.id << " p " << c.position << " v " << c.value << " ms " << c.ms;
        EXPECT_EQ(s.right, c.shortResult.right) << c.id << " p " << c.position << " v " << c.value << " ms " << c.ms;
    }
}

// Against exact maths: MPEG-1 splits v into v tan/(1 + tan) and the rest, summing
// exactly to v; the low-sampling-frequency rule scales one side by 2^(-e/4).
TEST(JointStereo, IntensityMatchesExactSplit) {
    const long double pi = std::acos(-1.0L);
    const int32_t values[] = {1, -1, 7, -100, 12345, -987654, 0x3FFFFFFF, -0x40000000};
    for (int32_t v : values) {
        for (int32_t p = 0; p <= 6; ++p) {
            const Pair r = intensityLong(1, p, v, 0, 0);
            const long double t = p == 6 ? 1.0L : std::tan(p * pi / 12) / (1 + std::tan(p * pi / 12));
            EXPECT_NEAR(static_cast<double>(r.left), static_cast<double>(v * t), 1.0 + std::fabs(v) * 1e-9) << v << " " << p;
            EXPECT_EQ(static_cast<int64_t>(r.left) + r.right, v);
        }
        for (int32_t scale = 0; scale <= 1; ++scale) {
            for (int32_t p = 0; p <= 30; ++p) {
                const Pair r = intensityLong(0, p, v, 0, scale);
                const int32_t e = ((p + 1) >> 1) << scale;
                const long double scaled = v * std::exp2(-e / 4.0L);
                const int32_t kept = (p & 1) == 0 ? r.left : r.right;
                const int32_t changed = (p & 1) == 0 ? r.right : r.left;
                EXPECT_EQ(kept, v);
                EXPECT_NEAR(static_cast<double>(changed), static_cast<double>(scaled), 1.0 + std::fabs(v) * 1e-9)
                    << v << " p " << p << " scale " << scale;
            }
        }
    }
}

TEST(JointStereo, Mpeg1PositionAboveSevenFails) {
    int32_t result = 0;
    intensityLong(1, 8, 100, 0, 0, &result);
    EXPECT_EQ(result, MP3_ERR_PARAM);
    intensityShort(1, 15, 100, 1, 0, &result);
    EXPECT_EQ(result, MP3_ERR_PARAM);

    // Earlier bands stay processed; a bad position beyond the limit is never visited.
    Row left{}, right{};
    for (size_t i = 0; i < 16; ++i) left[i] = 100;
    Slot positions{};
    positions[0] = 3;
    positions[1] = 9;
    positions[5] = 12;
    const MP3_JointStereo stereo = setting(positions.data(), 0, 1, 1);
    EXPECT_EQ(MP3_JointStereoLong(left.data(), right.data(), &stereo, 0, 8), MP3_ERR_PARAM);
    EXPECT_EQ(left[0], 50);
    EXPECT_EQ(left[4], 100);
    positions[1] = 3;
    EXPECT_EQ(MP3_JointStereoLong(left.data(), right.data(), &stereo, 0, 8), 0);
}

// Long intensity covers the bands from isBoundLong while they start below the
// limit; mid/side covers everything below isBoundLong.
TEST(JointStereo, LongRegions) {
    Row left, right;
    left.fill(100);
    right.fill(10);
    Slot positions{};
    positions.fill(3);
    // ID 1 at 44.1 kHz: L = 0 4 8 12 16 20 24 30 36 ...; bound 2 (value 8), limit 20 (band 4 ends at 20).
    const MP3_JointStereo stereo = setting(positions.data(), 1, 1, 1);
    ASSERT_EQ(MP3_JointStereoLong(left.data(), right.data(), &stereo, 2, 17), 0);
    for (size_t i = 0; i < 576; ++i) {
        if (i < 8) {
            EXPECT_EQ(left[i], 110) << i;
            EXPECT_EQ(right[i], 90) << i;
        } else if (i < 20) {
            EXPECT_EQ(left[i], 50) << i;
            EXPECT_EQ(right[i], 50) << i;
        } else {
            EXPECT_EQ(left[i], 100) << i;
            EXPECT_EQ(right[i], 10) << i;
        }
    }
}

// Short bands: mid/side per window below isBoundShort, intensity from it to the
// window's band end, positions from slot byte mixedLongBands + 3 (b - first) + w.
TEST(JointStereo, ShortRegionsMixed) {
    Row left, right;
    left.fill(100);
    right.fill(10);
    Slot positions{};
    positions.fill(9);  // an error wherever it is read, except the bytes set below
    const int32_t first = 3, mixedLong = 8;
    const int32_t bound[3] = {4, 3, 5};
    const int32_t end[3] = {5, 4, 5};
    positions[mixedLong + 3 * (4 - first) + 0] = 0;  // band 4, window 0
    positions[mixedLong + 3 * (3 - first) + 1] = 6;  // band 3, window 1
    const uint16_t *s = shortRow(1);
    const MP3_JointStereo stereo = setting(positions.data(), 1, 1, 1, 0, /*mixed=*/1);  // 8 long bands, then band 3
    ASSERT_EQ(MP3_JointStereoShort(left.data(), right.data(), &stereo, bound, end), 0);
    for (int32_t b = first; b < 13; ++b) {
        const int32_t width = s[b + 1] - s[b];
        for (int32_t w = 0; w < 3; ++w) {
            for (int32_t j = 0; j < width; ++j) {
                const auto i = static_cast<size_t>(3 * s[b] + w * width + j);
                Pair expected{100, 10};
                if (b < bound[w]) expected = {110, 90};
                else if (b < end[w]) expected = w == 0 ? Pair{0, 100} : Pair{99, 1};
                EXPECT_EQ(left[i], expected.left) << b << " " << w;
                EXPECT_EQ(right[i], expected.right) << b << " " << w;
            }
        }
    }
    for (size_t i = 0; i < 36; ++i) EXPECT_EQ(left[i], 100);  // the long part is not touched here
}

// ---- Bounds ------------------------------------------------------------------

struct LongBoundsCase {
    int32_t ms, is, nz0, nz1, blockType, mixed, id;
    int32_t bound;
};

TEST(StereoBounds, LongBoundAndMarks) {
    const LongBoundsCase cases[] = {
        {1, 0, 100, 50, 0, 0, 1, 14},  // max 100: L[13] = 90 < 100 <= L[14] = 110
        {1, 1, 100, 50, 0, 0, 1, 10},  // second channel's 50: L[9] = 44 < 50 <= L[10] = 52
        {0, 1, 300, 0, 0, 0, 1, 0},    // second channel all zero: intensity from band 0
        {1, 0, 576, 576, 0, 0, 1, 22},
        {1, 0, 300, 300, 2, 1, 1, 8},  // mixed: limit 36 and no band above 8 (ID 1) ...
        {1, 0, 300, 300, 2, 1, 0, 6},  // ... or 6 (ID 0)
        {1, 0, 300, 300, 1, 1, 1, 20}, // block type 1 with the flag set is a long block
        {0, 1, 20, 9, 2, 1, 1, 3},
    };
    for (const LongBoundsCase &c : cases) {
        uint8_t msOffset[2][40] = {};
        Slot positions{};
        positions.fill(c.id == 1 ? 7 : 0xF9);  // illegal everywhere
        const int32_t nz[2] = {c.nz0, c.nz1};
        int32_t bound = -1;
        const uint16_t *l = longRow(c.id);
        const MP3_JointStereo stereo = {positions.data(), c.ms, c.is, c.id, 0,
                                        c.blockType == 2 && c.mixed == 1 ? 1 : 0, l, shortRow(c.id)};
        MP3_StereoBoundsLong(msOffset, &stereo, nz, &bound);
        EXPECT_EQ(bound, c.bound) << c.nz0 << " " << c.nz1;
        const bool mixedBlock = c.blockType == 2 && c.mixed == 1;
        const int32_t bandCount = mixedBlock ? (c.id == 1 ? 8 : 6) : 22;
        for (int32_t b = 0; b < 40; ++b) {
            const bool midSide = c.ms == 1 && b < bound;
            const bool illegal = c.ms == 1 && c.is == 1 && b >= bound && b < bandCount;
            EXPECT_EQ(msOffset[0][b], midSide || illegal ? 2 : 0) << b;
            EXPECT_EQ(msOffset[1][b], midSide ? 2 : 0) << b;
        }
    }
}

TEST(StereoBounds, LongMarksOnlyIllegalPositions) {
    uint8_t msOffset[2][40] = {};
    Slot positions{};
    positions[12] = 7;
    positions[13] = 6;
    positions[14] = 8;  // an error later, not an illegal mark
    const int32_t nz[2] = {576, 40};
    int32_t bound = 0;
    const MP3_JointStereo stereo = setting(positions.data(), 1, 1, 1);
    MP3_StereoBoundsLong(msOffset, &stereo, nz, &bound);
    EXPECT_EQ(bound, 9);
    EXPECT_EQ(msOffset[0][12], 2);
    EXPECT_EQ(msOffset[0][13], 0);
    EXPECT_EQ(msOffset[0][14], 0);
    EXPECT_EQ(msOffset[1][12], 0);
}

TEST(StereoBounds, ShortBoundsAndMarks) {
    const int32_t ends[2][3] = {{7, 3, 12}, {5, 4, 3}};
    for (int32_t is = 0; is <= 1; ++is) {
        for (int32_t mixed = 0; mixed <= 1; ++mixed) {
            const int32_t first = mixed ? 3 : 0;
            const int32_t mixedLong = mixed ? 6 : 0;
            uint8_t msOffset[2][40] = {};
            Slot positions{};
            // Illegal marks (ID 0: negative) on band 6 of every window.
            for (int32_t w = 0; w < 3; ++w) positions[static_cast<size_t>(mixedLong + w + 3 * (6 - first))] = 0xFF;
            int32_t bound[3] = {-1, -1, -1};
            int32_t clamped[2][3];
            for (int32_t ch = 0; ch < 2; ++ch) {
                for (int32_t w = 0; w < 3; ++w) clamped[ch][w] = std::max(ends[ch][w], first);
            }
            const MP3_JointStereo stereo = setting(positions.data(), 1, is, 0, 0, mixed);  // 6 long bands when mixed
            MP3_StereoBoundsShort(msOffset, &stereo, clamped, bound);
            for (int32_t w = 0; w < 3; ++w) {
                EXPECT_EQ(bound[w], is ? clamped[1][w] : std::max(clamped[0][w], clamped[1][w]));
            }
            uint8_t expected[2][40] = {};
            for (int32_t w = 0; w < 3; ++w) {
                for (int32_t b = first; b < 13; ++b) {
                    const int32_t x = mixedLong + w + 3 * (b - first);
                    if (b < bound[w]) expected[0][x] = expected[1][x] = 2;
                    else if (is && b == 6 && b < clamped[0][w]) expected[0][x] = 2;
                }
            }
            EXPECT_EQ(std::memcmp(msOffset, expected, sizeof expected), 0) << is << " " << mixed;
        }
    }
    // ms clear: bounds only, no marks.
    uint8_t msOffset[2][40] = {};
    int32_t bound[3];
    const Slot none{};
    const MP3_JointStereo stereo = setting(none.data(), 0, 1, 1);
    MP3_StereoBoundsShort(msOffset, &stereo, ends, bound);
    EXPECT_EQ(bound[0], 5);
    EXPECT_EQ(bound[2], 3);
    const uint8_t zero[2][40] = {};
    EXPECT_EQ(std::memcmp(msOffset, zero, sizeof zero), 0);
}

}  // namespace
