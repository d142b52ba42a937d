// Every colour conversion variant this machine runs writes the reference's
// pixels bit for bit and nothing else: odd and even widths and heights
// around the vector widths, padded and negative strides, every alignment of
// the planes, and the extreme samples where the clamps act.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "support/random.h"
#include "video/yuv_to_rgb565.h"

namespace {

using mpfix::test::SplitMix64;

struct Case {
    int width, height;
    int lumaPad, chromaPad, destPad;  // bytes after each row
    int offset;                       // start of the planes past an aligned address
    bool bottomUp;                    // first row last, negative strides
    int samples;                      // 0 random, 1 only 0 and 255, 2 luma random, chroma at the ends
};

constexpr size_t kGuard = 64;
constexpr uint8_t kMarker = 0xA5;

uint8_t sample(SplitMix64 &rng, int kind, bool chroma) {
    if (kind == 1 || (kind == 2 && chroma)) return rng.next() & 1 ? 255 : 0;
    return static_cast<uint8_t>(rng.next());
}

// Runs fn on one picture and returns the whole destination, guards included.
std::vector<uint8_t> convert(const Case &c, mpfix::YUV420ToBGR565Fn fn, uint64_t seed) {
    SplitMix64 rng{seed};
    const int cw = (c.width + 1) / 2, ch = (c.height + 1) / 2;
    const int sy = c.width + c.lumaPad, su = cw + c.chromaPad, sv = cw + c.chromaPad + 3;
    const int ds = 2 * c.width + c.destPad;
    // Each plane sits between guards at the chosen misalignment.
    auto plane = [&](int stride, int rows, bool chroma) {
        std::vector<uint8_t> p(kGuard + static_cast<size_t>(c.offset) + static_cast<size_t>(stride * rows) + kGuard);
        for (uint8_t &s : p) s = sample(rng, c.samples, chroma);
        return p;
    };
    std::vector<uint8_t> y = plane(sy, c.height, false), u = plane(su, ch, true), v = plane(sv, ch, true);
    std::vector<uint8_t> dest(kGuard + static_cast<size_t>(ds * c.height) + kGuard, kMarker);
    const size_t at = kGuard + static_cast<size_t>(c.offset);

    MPG_YUVPlanes planes{y.data() + at, u.data() + at, v.data() + at};
    MPG_YUVStrides strides{sy, su, sv};
    uint8_t *row0 = dest.data() + kGuard + static_cast<size_t>(c.offset & ~1);
    int32_t destStride = ds;
    if (c.bottomUp) {
        planes = {planes.y + sy * (c.height - 1), planes.u + su * (ch - 1), planes.v + sv * (ch - 1)};
        strides = {-sy, -su, -sv};
        row0 += ds * (c.height - 1);
        destStride = -ds;
    }
    fn(&planes, &strides, reinterpret_cast<uint16_t *>(row0), destStride, c.width, c.height);
    return dest;
}

std::vector<Case> cases() {
    std::vector<Case> list;
    int n = 0;
    for (int w : {1, 2, 3, 7, 8, 15, 16, 17, 31, 32, 33, 47, 48, 63, 64, 65, 66, 95, 97, 130})
        for (int h : {1, 2, 3, 4, 5}) {
            ++n;
            list.push_back({w, h, n % 5, n % 3, 2 * (n % 4), n % 16, n % 2 == 1, n % 3});
        }
    // Every misalignment of the planes and padding of each stride at one size.
    for (int offset = 0; offset < 32; ++offset)
        list.push_back({37, 3, offset % 7, offset % 5, 2 * (offset % 9), offset, offset % 3 == 0, 0});
    list.push_back({1920, 2, 0, 0, 0, 0, false, 0});  // a full high-definition row pair
    return list;
}

TEST(YuvVariants, ListStartsWithTheReference) {
    const auto variants = mpfix::YUV420ToBGR565Variants();
    ASSERT_FALSE(variants.empty());
    EXPECT_STREQ(variants.front().name, "ref");
    for (const auto &v : variants) std::printf("YUV variant: %s\n", v.name);
}

TEST(YuvVariants, EveryVariantWritesTheReferencePixelsAndNothingElse) {
    const std::vector<Case> list = cases();
    for (const auto &variant : mpfix::YUV420ToBGR565Variants())
        for (size_t n = 0; n < list.size(); ++n) {
            const Case &c = list[n];
            const std::vector<uint8_t> want = convert(c, mpfix::MPG_YUV420ToBGR565_ref, 1000 + n);
            const std::vector<uint8_t> got = convert(c, variant.fn, 1000 + n);
            ASSERT_EQ(got, want) << variant.name << " " << c.width << "x" << c.height << " offset " << c.offset
                                 << (c.bottomUp ? " bottom-up" : "") << " samples " << c.samples;
        }
}

// The exported entry agrees with the reference and refuses null pointers
// without writing.
TEST(YuvVariants, ExportedEntryMatchesReferenceAndRefusesNulls) {
    const Case c{65, 5, 3, 1, 4, 5, false, 0};
    const auto exported = [](const MPG_YUVPlanes *p, const MPG_YUVStrides *s, uint16_t *d, int32_t ds, int32_t w,
                             int32_t h) { ASSERT_EQ(MPG_YUV420ToBGR565(p, s, d, ds, w, h), 0); };
    EXPECT_EQ(convert(c, exported, 7), convert(c, mpfix::MPG_YUV420ToBGR565_ref, 7));

    uint8_t samples[4] = {10, 20, 30, 40};
    const MPG_YUVPlanes planes{samples, samples, samples};
    const MPG_YUVStrides strides{2, 1, 1};
    uint16_t out[4] = {0x5A5A, 0x5A5A, 0x5A5A, 0x5A5A};
    const MPG_YUVPlanes missing[3] = {{nullptr, samples, samples}, {samples, nullptr, samples}, {samples, samples, nullptr}};
    EXPECT_EQ(MPG_YUV420ToBGR565(nullptr, &strides, out, 4, 2, 2), MP3_ERR_PARAM);
    EXPECT_EQ(MPG_YUV420ToBGR565(&planes, nullptr, out, 4, 2, 2), MP3_ERR_PARAM);
    EXPECT_EQ(MPG_YUV420ToBGR565(&planes, &strides, nullptr, 4, 2, 2), MP3_ERR_PARAM);
    for (const MPG_YUVPlanes &p : missing) EXPECT_EQ(MPG_YUV420ToBGR565(&p, &strides, out, 4, 2, 2), MP3_ERR_PARAM);
    for (uint16_t px : out) EXPECT_EQ(px, 0x5A5A);
}

}  // namespace
