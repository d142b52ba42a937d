// 16-bit copy and clear at every relative alignment, with guard bytes on both
// sides of the destination and an untouched source.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "mpfix.h"
#include "video/block_copy.h"

using namespace mpfix;

namespace {

constexpr size_t kGuard = 24;
constexpr int kMaxCount = 40;
constexpr uint8_t kMarker = 0xC3;

// 16-byte aligned storage, so that byte offsets 0..7 give every address
// residue modulo 4 and modulo 8 of source and destination.
struct alignas(16) Arena {
    uint8_t bytes[kGuard + 2 * kMaxCount + 16 + kGuard];
};

uint8_t sourcePattern(size_t i) { return static_cast<uint8_t>(i * 37u + 11u); }

// Offsets 0, 2, 4, 6 are the valid 2-byte-aligned cases; odd offsets are
// checked too since every access is a byte-safe transfer.
TEST(MemCopy16, EveryAlignmentAndCountTouchesExactlyTheElements) {
    for (size_t sourceOffset = 0; sourceOffset < 8; ++sourceOffset)
        for (size_t destOffset = 0; destOffset < 8; ++destOffset)
            for (int count = 0; count <= kMaxCount; ++count) {
                Arena src, dst;
                for (size_t i = 0; i < sizeof src.bytes; ++i) src.bytes[i] = sourcePattern(i);
                std::memset(dst.bytes, kMarker, sizeof dst.bytes);
                const size_t from = kGuard + sourceOffset, to = kGuard + destOffset;
                const size_t length = 2 * static_cast<size_t>(count);

                ASSERT_EQ(MPG_MemCopy16(src.bytes + from, dst.bytes + to, count), 0);

                for (size_t i = 0; i < sizeof dst.bytes; ++i) {
                    const bool inside = i >= to && i < to + length;
                    ASSERT_EQ(dst.bytes[i], inside ? src.bytes[from + (i - to)] : kMarker)
                        << "source+" << sourceOffset << " destination+" << destOffset << " count " << count
                        << " byte " << i;
                }
                for (size_t i = 0; i < sizeof src.bytes; ++i) ASSERT_EQ(src.bytes[i], sourcePattern(i));
            }
}

TEST(MemZero16, EveryAlignmentAndCountTouchesExactlyTheElements) {
    for (size_t destOffset = 0; destOffset < 8; ++destOffset)
        for (int count = 0; count <= kMaxCount; ++count) {
            Arena dst;
            std::memset(dst.bytes, kMarker, sizeof dst.bytes);
            const size_t to = kGuard + destOffset, length = 2 * static_cast<size_t>(count);

            ASSERT_EQ(MPG_MemZero16(dst.bytes + to, count), 0);

            for (size_t i = 0; i < sizeof dst.bytes; ++i) {
                const bool inside = i >= to && i < to + length;
                ASSERT_EQ(dst.bytes[i], inside ? 0 : kMarker)
                    << "destination+" << destOffset << " count " << count << " byte " << i;
            }
        }
}

// A negative count is not a valid call: it is treated as 0.
TEST(MemCopy16, NegativeCountsTouchNothing) {
    for (int32_t count : {-1, -8, -9, INT32_MIN}) {
        for (size_t offset : {0u, 2u}) {
            Arena src, dst;
            std::memset(src.bytes, 0x11, sizeof src.bytes);
            std::memset(dst.bytes, kMarker, sizeof dst.bytes);
            EXPECT_EQ(MPG_MemCopy16(src.bytes + kGuard + offset, dst.bytes + kGuard + offset, count), 0);
            EXPECT_EQ(MPG_MemZero16(dst.bytes + kGuard + offset, count), 0);
            for (uint8_t b : dst.bytes) ASSERT_EQ(b, kMarker) << "count " << count;
        }
    }
}

// Typed use as a host would call it: an int16_t array copied, then cleared.
TEST(MemCopy16, CopiesAndClearsTypedArrays) {
    std::vector<int16_t> a(64), b(64, 7);
    for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<int16_t>(1000 - 37 * static_cast<int>(i));
    EXPECT_EQ(MPG_MemCopy16(a.data() + 1, b.data() + 3, 57), 0);
    for (size_t i = 0; i < b.size(); ++i) EXPECT_EQ(b[i], (i >= 3 && i < 60) ? a[i - 2] : 7) << i;
    EXPECT_EQ(MPG_MemZero16(b.data() + 5, 50), 0);
    for (size_t i = 5; i < 55; ++i) EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(b[55], a[53]);
}

}  // namespace
