// Every requantization variant this machine can run, called explicitly,
// against the reference, bit for bit: outputs, untouched positions after a
// magnitude above 8206, results, in place and into a separate array, over
// runs of bands with their own codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "audio/dequant/requantize.h"
#include "mpfix.h"
#include "support/random.h"

namespace {

using mpfix::MP3_RequantizeRun;
using mpfix::test::SplitMix64;

constexpr int32_t kUnwritten = 0x55555555;

// Mostly the small magnitudes of real spectra, some escapes up to 8206, and
// rarely a value past 8206 or an extreme word.
int32_t quantized(SplitMix64 &rng) {
    const uint64_t r = rng.next();
    int32_t v;
    switch (r % 16) {
        case 0: v = static_cast<int32_t>((r >> 8) % 8207); break;
        case 1: v = static_cast<int32_t>((r >> 8) % 129); break;
        case 2: v = (r >> 8) % 64 == 0 ? 8207 + static_cast<int32_t>((r >> 16) % 4) : 8206; break;
        case 3: v = (r >> 8) % 128 == 0 ? INT32_MIN : 16; break;
        default: v = static_cast<int32_t>((r >> 8) % 16); break;
    }
    return (r >> 40) & 1 ? static_cast<int32_t>(0u - static_cast<uint32_t>(v)) : v;
}

int32_t attenuation(SplitMix64 &rng) {
    static constexpr int32_t kEdges[] = {0, 1, 2, 3, 4, 5, 7, 8, 26, 120, 127, 128, 129, 131, 132, 200, 400,
                                         -1, -4, -130, INT32_MIN, INT32_MAX};
    const uint64_t r = rng.next();
    return r % 4 == 0 ? kEdges[(r >> 8) % std::size(kEdges)] : static_cast<int32_t>((r >> 8) % 401);
}

// Runs the variant and the reference on the same input and runs, into a
// separate array and in place, and compares everything they leave.
void expectSameAsReference(const mpfix::RequantizeRunsVariant &variant, const std::vector<int32_t> &in,
                           const std::vector<MP3_RequantizeRun> &runs, const std::string &where) {
    const auto reference = mpfix::RequantizeRunsVariants()[0];
    const int32_t n = static_cast<int32_t>(runs.size());
    std::vector<int32_t> refOut(in.size(), kUnwritten);
    std::vector<int32_t> fastOut(in.size(), kUnwritten);
    const int32_t refResult = reference.fn(in.data(), refOut.data(), runs.data(), n);
    ASSERT_EQ(variant.fn(in.data(), fastOut.data(), runs.data(), n), refResult) << where;
    ASSERT_EQ(refOut, fastOut) << where;
    std::vector<int32_t> refInPlace = in;
    std::vector<int32_t> fastInPlace = in;
    ASSERT_EQ(reference.fn(refInPlace.data(), refInPlace.data(), runs.data(), n), refResult) << where;
    ASSERT_EQ(variant.fn(fastInPlace.data(), fastInPlace.data(), runs.data(), n), refResult) << where;
    ASSERT_EQ(refInPlace, fastInPlace) << where << " in place";
}

TEST(RequantizeRunsVariants, ReferenceComesFirst) {
    const auto variants = mpfix::RequantizeRunsVariants();
    ASSERT_FALSE(variants.empty());
    EXPECT_STREQ(variants[0].name, "ref");
#if MPFIX_PLAIN_KERNELS
    EXPECT_EQ(variants.size(), 1u);
#else
    EXPECT_GE(variants.size(), 2u);
#endif
}

// The reference run by run is the reference band by band.
TEST(RequantizeRunsVariants, ReferenceIsBandByBand) {
    SplitMix64 rng{7};
    std::vector<int32_t> in(64);
    for (auto &v : in) v = quantized(rng) % 200;
    const std::vector<MP3_RequantizeRun> runs = {{0, 4, 0}, {4, 10, 37}, {14, 50, 3}};
    std::vector<int32_t> byRuns(in.size()), byBands(in.size());
    ASSERT_EQ(mpfix::MP3_RequantizeRuns_ref(in.data(), byRuns.data(), runs.data(), 3), 0);
    for (const auto &r : runs) {
        ASSERT_EQ(mpfix::MP3_RequantizeBand_ref(in.data() + r.start, byBands.data() + r.start, r.count, r.attenuation), 0);
    }
    EXPECT_EQ(byRuns, byBands);
}

// Random values in runs of random widths (odd ones and single values too)
// over a granule row, neighbours often sharing their code; some runs all
// zero, some all below 16 so the vector paths are taken.
TEST(RequantizeRunsVariants, MatchReferenceOnRandomRuns) {
    for (const auto &variant : mpfix::RequantizeRunsVariants()) {
        SplitMix64 rng{42};
        for (int trial = 0; trial < 300; ++trial) {
            std::vector<int32_t> in(576);
            std::vector<MP3_RequantizeRun> runs;
            int32_t code = attenuation(rng);
            for (int32_t start = 0; start < 576;) {
                const uint64_t r = rng.next();
                const int32_t width = std::min<int32_t>(576 - start, 1 + static_cast<int32_t>(r % 40));
                if ((r >> 8) % 3 != 0) code = attenuation(rng);
                const uint64_t kind = (r >> 16) % 4;
                for (int32_t i = start; i < start + width; ++i) {
                    const int32_t v = quantized(rng);
                    in[static_cast<size_t>(i)] = kind == 0 ? 0 : kind == 1 ? v % 16 : v;
                }
                runs.push_back({start, width, code});
                start += width;
            }
            ASSERT_NO_FATAL_FAILURE(expectSameAsReference(variant, in, runs,
                                                          std::string(variant.name) + " trial " + std::to_string(trial)));
        }
    }
}

// Every magnitude 0..8206 of both signs (the small ones first, in full
// vector groups) at every code from amplification to full attenuation.
TEST(RequantizeRunsVariants, MatchReferenceOnEveryMagnitudeAndCode) {
    std::vector<int32_t> in;
    for (int32_t repeat = 0; repeat < 8; ++repeat)
        for (int32_t x = -15; x <= 15; ++x) in.push_back((x + 7 * repeat + 15) % 31 - 15);
    for (int32_t a = 16; a <= mpfix::MP3_MAX_QUANTIZED; ++a) {
        in.push_back(a);
        in.push_back(-a);
    }
    std::vector<int32_t> codes = {INT32_MIN, -130, -45, -9, -8, -5, -4, -1, 400, 1000, INT32_MAX};
    for (int32_t code = 0; code <= 140; ++code) codes.push_back(code);
    for (const auto &variant : mpfix::RequantizeRunsVariants().subspan(1)) {
        for (int32_t code : codes) {
            std::vector<MP3_RequantizeRun> runs;
            for (int32_t start = 0, width = 2; start < static_cast<int32_t>(in.size()); start += width, width = width % 12 + 2) {
                runs.push_back({start, std::min<int32_t>(width, static_cast<int32_t>(in.size()) - start), code});
            }
            ASSERT_NO_FATAL_FAILURE(
                expectSameAsReference(variant, in, runs, std::string(variant.name) + " code " + std::to_string(code)));
        }
    }
}

// A magnitude above 8206 stops the pass where it stands, in any lane of a
// group and in any run: the earlier values are stored, it and the rest not.
TEST(RequantizeRunsVariants, StopAtMagnitudeAbove8206) {
    for (const auto &variant : mpfix::RequantizeRunsVariants()) {
        for (int32_t bad = 0; bad < 24; ++bad) {
            for (int32_t word : {8207, -8207, INT32_MIN, INT32_MAX}) {
                std::vector<int32_t> in(24);
                for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<int32_t>(i % 5) - 2;
                in[static_cast<size_t>(bad)] = word;
                const std::vector<MP3_RequantizeRun> runs = {{0, 8, 20}, {8, 12, 20}, {20, 4, 33}};
                ASSERT_NO_FATAL_FAILURE(expectSameAsReference(
                    variant, in, runs, std::string(variant.name) + " bad " + std::to_string(bad)));
            }
        }
    }
}

}  // namespace
