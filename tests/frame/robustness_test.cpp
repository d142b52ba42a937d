// Corrupt and hostile input: damaged copies of the fixtures and random bytes
// decode without reading or writing outside the records (the sanitizer build
// checks every access), and the output keeps its frame structure.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/memory_source.h"
#include "support/pcm_compare.h"

namespace {

using mpfix::test::decodeStream;
using mpfix::test::fixtureDir;
using mpfix::test::loadBytes;
using mpfix::test::loadFixtureList;

class Lcg {
public:
    explicit Lcg(uint32_t seed) : state_(seed) {}
    uint32_t next() { return state_ = state_ * 1664525u + 1013904223u; }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>((uint64_t{next()} * n) >> 32); }

private:
    uint32_t state_;
};

void expectWholeFrames(const std::vector<uint8_t> &bytes, const char *what) {
    const auto r = decodeStream(bytes, 0, 3);
    EXPECT_EQ(r.pcm.size() % 576, 0u) << what;
    EXPECT_GE(r.channels, 1) << what;
    EXPECT_LE(r.channels, 2) << what;
}

TEST(Robustness, DamagedFixtures) {
    Lcg random(2026);
    for (const auto &f : loadFixtureList()) {
        const auto original = loadBytes(fixtureDir() + "/" + f.file);
        ASSERT_FALSE(original.empty());
        for (int round = 0; round < 12; ++round) {
            auto bytes = original;
            switch (round % 4) {
            case 0:  // scattered byte errors
                for (int i = 0; i < 40; ++i) bytes[random.below(static_cast<uint32_t>(bytes.size()))] ^= static_cast<uint8_t>(random.next() >> 24);
                break;
            case 1:  // a burst of garbage
                for (uint32_t at = random.below(static_cast<uint32_t>(bytes.size())), i = 0; i < 300 && at + i < bytes.size(); ++i)
                    bytes[at + i] = static_cast<uint8_t>(random.next() >> 24);
                break;
            case 2:  // cut anywhere
                bytes.resize(random.below(static_cast<uint32_t>(bytes.size())));
                break;
            default:  // all-ones runs: sync patterns everywhere
                for (uint32_t at = random.below(static_cast<uint32_t>(bytes.size())), i = 0; i < 200 && at + i < bytes.size(); ++i)
                    bytes[at + i] = 0xFF;
                break;
            }
            expectWholeFrames(bytes, f.file.c_str());
        }
    }
}

TEST(Robustness, RandomBytesWithPlantedHeaders) {
    // Random data with valid-looking headers every few hundred bytes: the
    // side information and main data are noise, so every field takes wild values.
    Lcg random(7);
    const uint8_t headers[][4] = {{0xFF, 0xFB, 0x90, 0x00}, {0xFF, 0xF3, 0x80, 0xC0}, {0xFF, 0xE3, 0x88, 0x40},
                                  {0xFF, 0xFA, 0xE2, 0x44}, {0xFF, 0xE2, 0x18, 0x80}};
    for (int round = 0; round < 20; ++round) {
        std::vector<uint8_t> bytes(20000);
        for (auto &b : bytes) b = static_cast<uint8_t>(random.next() >> 24);
        for (size_t at = 0; at + 4 < bytes.size(); at += 100 + random.below(400)) {
            const auto &h = headers[random.below(5)];
            std::copy(h, h + 4, bytes.begin() + static_cast<long>(at));
        }
        expectWholeFrames(bytes, "planted headers");
    }
}

}  // namespace
