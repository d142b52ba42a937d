// Planar YUV 4:2:0 to 16-bit RGB565 (the exported MPG_YUV420ToBGR565 of
// mpfix.h): 16.16 fixed-point chroma terms, shared by each 2x2 block, and
// byte tables that clamp the shifted sums without comparisons.
#ifndef MPFIX_VIDEO_YUV_TO_RGB565_H
#define MPFIX_VIDEO_YUV_TO_RGB565_H

#include <array>
#include <cstddef>
#include <cstdint>

#include "mpfix.h"

// entry = round(k * 65536) for k = 1.140 (red from V), -0.394 (green from U),
// -0.581 (green from V), 2.032 (blue from U); full-range samples, chroma centred on 128.
constexpr int32_t MPG_YUVCoefficients[4] = {74711, -25821, -38076, 133169};

// Index ranges of the clamp tables. Reachable: red -19..49, blue -33..64
// (5-bit), green -31..94 (6-bit); the margins need no index check.
constexpr int32_t MPG_CLAMP5_LOW = -52;
constexpr int32_t MPG_CLAMP5_HIGH = 95;
constexpr int32_t MPG_CLAMP6_LOW = -100;
constexpr int32_t MPG_CLAMP6_HIGH = 191;

// Entry i - low holds i clamped to 0..maxValue, for i = low..high.
template <int32_t kLow, int32_t kHigh, int32_t kMax>
constexpr std::array<uint8_t, static_cast<size_t>(kHigh - kLow + 1)> MPG_MakeClampTable() {
    std::array<uint8_t, static_cast<size_t>(kHigh - kLow + 1)> table{};
    for (int32_t i = kLow; i <= kHigh; ++i)
        table[static_cast<size_t>(i - kLow)] = static_cast<uint8_t>(i < 0 ? 0 : (i > kMax ? kMax : i));
    return table;
}

// clamp(i, 0, 31) at entry i + 52, i = -52..95 (red and blue).
constexpr auto MPG_YUVClamp5 = MPG_MakeClampTable<MPG_CLAMP5_LOW, MPG_CLAMP5_HIGH, 31>();
// clamp(i, 0, 63) at entry i + 100, i = -100..191 (green).
constexpr auto MPG_YUVClamp6 = MPG_MakeClampTable<MPG_CLAMP6_LOW, MPG_CLAMP6_HIGH, 63>();

#endif  // MPFIX_VIDEO_YUV_TO_RGB565_H
