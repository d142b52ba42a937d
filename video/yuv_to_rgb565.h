// Planar YUV 4:2:0 to 16-bit RGB565 (the exported MPG_YUV420ToBGR565 of
// mpfix.h): 16.16 fixed-point chroma terms, shared by each 2x2 block, and
// byte tables that clamp the shifted sums without comparisons.
//
// MPG_YUV420ToBGR565_ref is the plain reference; the variants beside it write
// the same pixels for every input, bit for bit.
#ifndef MPFIX_VIDEO_YUV_TO_RGB565_H
#define MPFIX_VIDEO_YUV_TO_RGB565_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "mpfix.h"
#include "video/kernel_variants.h"

namespace mpfix {

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

// One picture with valid arguments (non-null, width and height at least 1).
using YUV420ToBGR565Fn = void (*)(const MPG_YUVPlanes *planes, const MPG_YUVStrides *strides,
                                      uint16_t *destination, int32_t destinationStride, int32_t width,
                                      int32_t height);

// Columns first..width - 1 (first even) of a row pair, whose rows share the
// chroma rows u and v; y1 and d1 are null for the last row of an odd height.
using YUVRowsFn = void (*)(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                               uint8_t *d0, uint8_t *d1, int32_t first, int32_t width);

// The plain rows; the variants finish each row with it.
void MPG_YUVRows_ref(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v, uint8_t *d0,
                     uint8_t *d1, int32_t first, int32_t width);

// Walks the picture by row pairs, then the odd last row, converting each with rows.
void MPG_YUVWalk(const MPG_YUVPlanes *planes, const MPG_YUVStrides *strides, uint16_t *destination,
                 int32_t destinationStride, int32_t width, int32_t height, YUVRowsFn rows);

void MPG_YUV420ToBGR565_ref(const MPG_YUVPlanes *planes, const MPG_YUVStrides *strides, uint16_t *destination,
                            int32_t destinationStride, int32_t width, int32_t height);
#if defined(MPFIX_VIDEO_X86)
void MPG_YUV420ToBGR565_sse2(const MPG_YUVPlanes *planes, const MPG_YUVStrides *strides, uint16_t *destination,
                             int32_t destinationStride, int32_t width, int32_t height);
void MPG_YUV420ToBGR565_avx2(const MPG_YUVPlanes *planes, const MPG_YUVStrides *strides, uint16_t *destination,
                             int32_t destinationStride, int32_t width, int32_t height);
#endif
#if defined(MPFIX_VIDEO_NEON)
void MPG_YUV420ToBGR565_neon(const MPG_YUVPlanes *planes, const MPG_YUVStrides *strides, uint16_t *destination,
                             int32_t destinationStride, int32_t width, int32_t height);
#endif

struct YUV420ToBGR565Variant {
    const char *name;
    YUV420ToBGR565Fn fn;
};

// Every variant this processor runs, the reference first and the fastest last.
std::span<const YUV420ToBGR565Variant> YUV420ToBGR565Variants() noexcept;

}  // namespace mpfix

#endif  // MPFIX_VIDEO_YUV_TO_RGB565_H
