// Every copy and clear variant moves exactly the reference's bytes: counts
// 0..140 (past the 128 elements up to which the fast variants copy inline)
// at every 2-byte alignment of source and destination, with guard bytes on
// both sides and an untouched source.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "video/block_copy.h"
#include "support/random.h"

namespace {

constexpr size_t kGuard = 32;
constexpr int kMaxCount = 140;
constexpr size_t kSpan = kGuard + 16 + 2 * kMaxCount + kGuard;

struct alignas(16) Bytes {
    uint8_t b[kSpan];
};

void fill(Bytes &x, uint64_t seed) {
    mpfix::test::SplitMix64 rng{seed};
    for (uint8_t &v : x.b) v = static_cast<uint8_t>(rng.next());
}

TEST(BlockCopyVariants, ListsStartWithTheReference) {
    ASSERT_FALSE(mpfix::MemCopy16Variants().empty());
    ASSERT_FALSE(mpfix::MemZero16Variants().empty());
    EXPECT_STREQ(mpfix::MemCopy16Variants().front().name, "ref");
    EXPECT_STREQ(mpfix::MemZero16Variants().front().name, "ref");
}

TEST(BlockCopyVariants, CopyMatchesReferenceAtEveryAlignmentAndCount) {
    for (const auto &variant : mpfix::MemCopy16Variants())
        for (size_t from = 0; from < 16; from += 2)
            for (size_t to = 0; to < 16; to += 2)
                for (int32_t count = 0; count <= kMaxCount; ++count) {
                    Bytes src, want, got;
                    fill(src, 1);
                    fill(want, 2);
                    got = want;
                    mpfix::MPG_MemCopy16_ref(src.b + kGuard + from, want.b + kGuard + to, count);
                    variant.fn(src.b + kGuard + from, got.b + kGuard + to, count);
                    ASSERT_EQ(std::memcmp(got.b, want.b, kSpan), 0)
                        << variant.name << " source+" << from << " destination+" << to << " count " << count;
                    Bytes untouched;
                    fill(untouched, 1);
                    ASSERT_EQ(std::memcmp(src.b, untouched.b, kSpan), 0) << variant.name;
                }
}

TEST(BlockCopyVariants, ClearMatchesReferenceAtEveryAlignmentAndCount) {
    for (const auto &variant : mpfix::MemZero16Variants())
        for (size_t to = 0; to < 16; to += 2)
            for (int32_t count = 0; count <= kMaxCount; ++count) {
                Bytes want, got;
                fill(want, 3);
                got = want;
                mpfix::MPG_MemZero16_ref(want.b + kGuard + to, count);
                variant.fn(got.b + kGuard + to, count);
                ASSERT_EQ(std::memcmp(got.b, want.b, kSpan), 0)
                    << variant.name << " destination+" << to << " count " << count;
            }
}

// Null pointers are refused and nothing is written.
TEST(BlockCopyVariants, ExportedFunctionsRefuseNullPointers) {
    Bytes x;
    fill(x, 4);
    const Bytes before = x;
    EXPECT_EQ(MPG_MemCopy16(nullptr, x.b, 8), MP3_ERR_PARAM);
    EXPECT_EQ(MPG_MemCopy16(x.b, nullptr, 8), MP3_ERR_PARAM);
    EXPECT_EQ(MPG_MemCopy16(nullptr, nullptr, 0), MP3_ERR_PARAM);
    EXPECT_EQ(MPG_MemZero16(nullptr, 8), MP3_ERR_PARAM);
    EXPECT_EQ(std::memcmp(x.b, before.b, kSpan), 0);
}

}  // namespace
