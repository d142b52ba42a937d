// Pins the exact output of the decoder and of the exported kernels: a 64-bit
// hash of the PCM of every fixture (and conformance vector, when present) and
// of each kernel's output on a fixed pseudo-random input set. Speed work must
// not change one bit; a change of the arithmetic on purpose updates these.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "mpfix.h"
#include "support/memory_source.h"
#include "support/random.h"
#include "support/pcm_compare.h"

namespace {

// FNV-1a, 64 bits, over the little-endian bytes of the values.
class Hash64 {
public:
    void add(const void *data, size_t bytes) {
        const auto *p = static_cast<const uint8_t *>(data);
        for (size_t i = 0; i < bytes; ++i) value_ = (value_ ^ p[i]) * 0x100000001B3ull;
    }
    template <typename T>
    void addValues(const T *values, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const auto u = static_cast<std::make_unsigned_t<T>>(values[i]);
            for (size_t b = 0; b < sizeof(T); ++b) {
                const uint8_t byte = static_cast<uint8_t>(u >> (8 * b));
                add(&byte, 1);
            }
        }
    }
    uint64_t value() const { return value_; }

private:
    uint64_t value_ = 0xCBF29CE484222325ull;
};

uint64_t hashPcm(const std::vector<int16_t> &pcm) {
    Hash64 h;
    h.addValues(pcm.data(), pcm.size());
    return h.value();
}

// The same numbers on every platform and library.
struct Random : mpfix::test::SplitMix64 {
    explicit Random(uint64_t seed) : SplitMix64{seed} {}
    // Uniform in [-range, range).
    int32_t symmetric(int32_t range) {
        return static_cast<int32_t>(static_cast<int64_t>(next() % (2 * static_cast<uint64_t>(range))) - range);
    }
};

struct Pinned {
    const char *name;
    uint64_t hash;
};

// On a mismatch the message carries the new value in the form of the tables.
void expectHash(const char *name, uint64_t actual, uint64_t pinned) {
    char line[96];
    std::snprintf(line, sizeof line, "{\"%s\", 0x%016llXull}", name, static_cast<unsigned long long>(actual));
    EXPECT_EQ(actual, pinned) << line;
}

TEST(BitExact, Fixtures) {
    const Pinned pinned[] = {
        {"mpeg1_44k_joint_cbr128", 0x32CCF16FB5763780ull},   {"mpeg1_48k_stereo_vbr", 0x339BB91AF2ABE99Dull},  {"mpeg1_32k_mono_crc", 0xF0EABC5CA74E63D7ull},
        {"mpeg2_22k_joint_cbr64", 0x7CD283E8641473DEull},    {"mpeg2_24k_mono_vbr", 0x15ABFA908B7D47ACull},    {"mpeg2_16k_stereo_crc", 0x73ABDE7297D16850ull},
        {"mpeg25_8k_mono_transients", 0xDD6AB5A05DD1C215ull}, {"mpeg25_11k_stereo_cbr64", 0x8152F103BB9EBF11ull}, {"mpeg25_12k_joint_vbr", 0x8EF39E684903BE88ull},
        {"mpeg1_44k_stereo_free200", 0x9F0F8D9A9BDBC186ull}, {"mpeg2_22k_mono_free50", 0x336DFDB754763CC7ull},
        {"sample", 0x78168894CA7E9DA4ull},
    };
    for (const Pinned &p : pinned) {
        const std::string file = std::string(p.name) == "sample"
                                     ? std::string(MPFIX_SOURCE_DIR) + "/samples/sample.mp3"
                                     : mpfix::test::fixtureDir() + "/" + p.name + ".mp3";
        const auto bytes = mpfix::test::loadBytes(file);
        ASSERT_FALSE(bytes.empty()) << file;
        expectHash(p.name, hashPcm(mpfix::test::decodeStream(bytes).pcm), p.hash);
    }
}

TEST(BitExact, ConformanceVectors) {
    const std::filesystem::path dir = MPFIX_VECTORS_DIR;
    if (!std::filesystem::exists(dir / "l3-compl.bit")) GTEST_SKIP() << "no conformance vectors at " << dir;
    const Pinned pinned[] = {
        {"l3-compl", 0x725214A29B10EE47ull},    {"l3-he_32khz", 0x57B3410E4FB86C4Eull}, {"l3-he_44khz", 0x2B8F94F57351B44Eull},         {"l3-he_free", 0x0AE70383A1C12F5Bull},
        {"l3-he_mode", 0x779074324A1AE49Cull},  {"l3-hecommon", 0xCBE5D4BB6C3630F3ull}, {"l3-si", 0x6E55E19EA1F0C0FEull},               {"l3-si_block", 0x9DD5A54C5AC67240ull},
        {"l3-si_huff", 0x1FF0E3AAE52C3439ull},  {"l3-sin1k0db", 0xDBC195BF48C8E67Cull}, {"M2L3_bitrate_22_all", 0x493BF5CFA4CF6492ull}, {"M2L3_bitrate_24_all", 0x62ACA1A37AE6ABA4ull},
        {"M2L3_compl24", 0x34158B0E7BEFC51Cull},
    };
    for (const Pinned &p : pinned) {
        const auto bytes = mpfix::test::loadBytes((dir / (std::string(p.name) + ".bit")).string());
        ASSERT_FALSE(bytes.empty()) << p.name;
        expectHash(p.name, hashPcm(mpfix::test::decodeStream(bytes).pcm), p.hash);
    }
}

TEST(BitExact, Kernels) {
    Random random(0x6D70666978ull);

    // Synthesis: 2000 slots over both strides, inputs up to +-1.0 and a few far beyond.
    {
        Hash64 h;
        std::vector<int32_t> history(MP3_SYNTH_HISTORY, 0);
        int32_t position = 0;
        for (int slot = 0; slot < 2000; ++slot) {
            int32_t samples[32];
            const int32_t range = slot % 97 == 0 ? 0x7FFFFFFF : 1 << 24;
            for (int32_t &s : samples) s = random.symmetric(range);
            int16_t pcm[64] = {};
            MP3_SynthPQMF(samples, pcm, history.data(), &position, slot % 2 ? 2 : 1);
            h.addValues(pcm, 64);
        }
        h.addValues(history.data(), history.size());
        expectHash("MP3_SynthPQMF", h.value(), 0xD612E6241946F422ull);
    }
    // Inverse DCT: 1000 blocks, half of them sparse.
    {
        Hash64 h;
        for (int b = 0; b < 1000; ++b) {
            int16_t block[64];
            const int32_t range = b % 3 == 0 ? 32768 : (b % 3 == 1 ? 1024 : 256);
            for (int k = 0; k < 64; ++k) {
                const bool zero = b % 2 == 0 && (k % 8) + (k / 8) > 3;
                block[k] = zero ? 0 : static_cast<int16_t>(random.symmetric(range));
            }
            MPG_DCTInv_8x8(block);
            h.addValues(block, 64);
        }
        expectHash("MPG_DCTInv_8x8", h.value(), 0x18C8FDDC4B92996Dull);
    }
    // Colour conversion: a 37 x 23 picture with padded strides.
    {
        const int32_t width = 37, height = 23, ch = 12;  // chroma: 19 x 12
        std::vector<uint8_t> y(static_cast<size_t>(40 * height)), u(static_cast<size_t>(21 * ch)),
            v(static_cast<size_t>(22 * ch));
        for (auto *plane : {&y, &u, &v})
            for (auto &b : *plane) b = static_cast<uint8_t>(random.next());
        std::vector<uint16_t> out(static_cast<size_t>(41 * height), 0xABCD);
        const MPG_YUVPlanes planes = {y.data(), u.data(), v.data()};
        const MPG_YUVStrides strides = {40, 21, 22};
        MPG_YUV420ToBGR565(&planes, &strides, out.data(), 41 * 2, width, height);
        Hash64 h;
        h.addValues(out.data(), out.size());
        expectHash("MPG_YUV420ToBGR565", h.value(), 0x88F75AD61CC46274ull);
    }
    // Copy and clear at every alignment.
    {
        Hash64 h;
        std::vector<uint16_t> source(64), destination(80);
        for (auto &s : source) s = static_cast<uint16_t>(random.next());
        for (int from = 0; from < 4; ++from) {
            for (int to = 0; to < 4; ++to) {
                for (int32_t count = 0; count <= 40; count += 3) {
                    std::fill(destination.begin(), destination.end(), uint16_t{0x5A5A});
                    MPG_MemCopy16(source.data() + from, destination.data() + to, count);
                    MPG_MemZero16(destination.data() + to + count / 2, count / 3);
                    h.addValues(destination.data(), destination.size());
                }
            }
        }
        expectHash("MPG_MemCopy16/MPG_MemZero16", h.value(), 0x1F8C6EB12CB202D5ull);
    }
}

}  // namespace
