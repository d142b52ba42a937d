// Decodes every Layer III conformance stream through the public API and
// compares it with the reference decoder's PCM. Skipped when the vectors are
// not there.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/memory_source.h"
#include "support/pcm_compare.h"

namespace {

using mpfix::test::comparePcm;
using mpfix::test::decodeStream;
using mpfix::test::loadBytes;
using mpfix::test::loadPcm16;

struct Vector {
    const char *name;
    double minPsnr;   // floor just under the measured figure
    int maxDiff;      // largest absolute difference allowed
};

// Floors just under the figures measured (PSNR dB, largest difference), so any
// change in the output shows. l3-he_free is free format: its frame length is
// learnt from the distance between its sync patterns, and every frame decodes.
const Vector kVectors[] = {
    {"l3-compl", 109.0, 1},            {"l3-he_32khz", 108.0, 1},          {"l3-he_44khz", 108.0, 1},
    {"l3-he_free", 108.3, 1},         {"l3-he_mode", 108.8, 1},           {"l3-hecommon", 108.2, 1},
    {"l3-si", 110.0, 1},               {"l3-si_block", 108.8, 1},          {"l3-si_huff", 106.0, 3},
    {"l3-sin1k0db", 105.8, 1},         {"M2L3_bitrate_22_all", 108.1, 1}, {"M2L3_bitrate_24_all", 108.0, 1},
    {"M2L3_compl24", 109.0, 1},
};

TEST(Conformance, VectorsMatchReference) {
    const std::filesystem::path dir = MPFIX_VECTORS_DIR;
    if (!std::filesystem::exists(dir / "l3-compl.bit")) GTEST_SKIP() << "no conformance vectors at " << dir;
    std::printf("%-22s %10s %8s %10s %10s\n", "stream", "PSNR dB", "maxdiff", "samples", "reference");
    for (const Vector &v : kVectors) {
        const auto bits = loadBytes((dir / (std::string(v.name) + ".bit")).string());
        const auto reference = loadPcm16((dir / (std::string(v.name) + ".pcm")).string());
        ASSERT_FALSE(bits.empty()) << v.name;
        const auto decoded = decodeStream(bits);
        const auto cmp = comparePcm(decoded.pcm, reference);
        std::printf("%-22s %10.2f %8d %10zu %10zu\n", v.name, cmp.psnr, cmp.maxAbsDiff, decoded.pcm.size(),
                    reference.size());
        EXPECT_GE(cmp.psnr, v.minPsnr) << v.name;
        EXPECT_GE(decoded.pcm.size(), reference.size()) << v.name << ": every frame decodes";
        EXPECT_LE(cmp.maxAbsDiff, v.maxDiff) << v.name;
    }
}

}  // namespace
