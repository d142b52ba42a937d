// Every polyphase synthesis variant this machine can run, called explicitly,
// against the reference, bit for bit: PCM (and the elements a stride of 2
// leaves alone), history, position and the scratch contents of the samples,
// on random and extreme inputs and histories.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "audio/synth/polyphase.h"
#include "mpfix.h"
#include "support/random.h"

namespace {

using mpfix::test::SplitMix64;

// Kinds of values: in the decoder's range, any 32-bit word, and the extremes
// where sums and shifts wrap.
enum class Kind { Typical, Any, Extreme };

int32_t value(SplitMix64 &rng, Kind kind) {
    switch (kind) {
        case Kind::Typical:
            return static_cast<int32_t>(rng.next() % (1u << 25)) - (1 << 24);
        case Kind::Any:
            return rng.word();
        case Kind::Extreme: {
            static constexpr int32_t kEdges[] = {INT32_MIN, INT32_MIN + 1, INT32_MAX, INT32_MAX - 1, 0, -1, 1,
                                                 1 << 30, -(1 << 30), 1 << 24, -(1 << 24)};
            return kEdges[rng.next() % std::size(kEdges)];
        }
    }
    return 0;
}

struct Channel {
    std::array<int32_t, MP3_SYNTH_HISTORY> history{};
    int32_t position = 0;
};

// Runs `calls` slots through the reference and through `fn` from the same
// state and compares everything each call leaves behind.
void compareRun(const mpfix::SynthPQMFVariant &variant, uint64_t seed, Kind kind, bool randomHistory, int calls) {
    SplitMix64 rng{seed};
    Channel ref, fast;
    if (randomHistory)
        for (auto &h : ref.history) h = value(rng, kind);
    ref.position = static_cast<int32_t>(rng.next() % 16);
    fast = ref;
    for (int call = 0; call < calls; ++call) {
        std::array<int32_t, 32> in{};
        for (auto &s : in) s = value(rng, kind);
        const int32_t stride = (rng.next() & 1) ? 1 : 2;
        std::array<int32_t, 32> refSamples = in, fastSamples = in;
        std::array<int16_t, 64> refPcm, fastPcm;
        refPcm.fill(0x5A5A);
        fastPcm.fill(0x5A5A);
        const auto &reference = mpfix::SynthPQMFVariants()[0];
        ASSERT_EQ(reference.fn(refSamples.data(), refPcm.data(), ref.history.data(), &ref.position, stride), 0);
        ASSERT_EQ(variant.fn(fastSamples.data(), fastPcm.data(), fast.history.data(), &fast.position, stride), 0);
        const std::string where = std::string(variant.name) + " seed " + std::to_string(seed) + " call " +
                                  std::to_string(call) + " stride " + std::to_string(stride);
        ASSERT_EQ(refPcm, fastPcm) << where;
        ASSERT_EQ(refSamples, fastSamples) << where;
        ASSERT_EQ(ref.position, fast.position) << where;
        ASSERT_EQ(ref.history, fast.history) << where;
    }
}

TEST(SynthPQMFVariants, ReferenceComesFirst) {
    const auto variants = mpfix::SynthPQMFVariants();
    ASSERT_FALSE(variants.empty());
    EXPECT_STREQ(variants[0].name, "ref");
#if MPFIX_PLAIN_KERNELS
    EXPECT_EQ(variants.size(), 1u);
#else
    EXPECT_GE(variants.size(), 2u);
#endif
}

TEST(SynthPQMFVariants, WindowRowsFollowTheirRule) {
    // Row r, age g: the factor of u(g) in accA and accB of the windowing
    // step, accA = sum_t (D0 u(t) - D1 u(15 - t)) and
    // accB = sum_t (-1)^(t+1) (D1 u(t) + D0 u(15 - t)), repeated every 16.
    for (int r = 0; r < 15; ++r) {
        for (int i = 0; i < 36; ++i) {
            const int g = i % 16;
            const int t = g < 8 ? g : 15 - g;
            const int64_t d0 = mpfix::synthWindow[16 + 16 * r + 2 * t];
            const int64_t d1 = mpfix::synthWindow[17 + 16 * r + 2 * t];
            const int64_t sign = (t % 2) ? 1 : -1;
            EXPECT_EQ(mpfix::synthWindowRows.a(r)[i], g < 8 ? d0 : -d1) << r << " " << i;
            EXPECT_EQ(mpfix::synthWindowRows.b(r)[i], sign * (g < 8 ? d1 : d0)) << r << " " << i;
        }
    }
}

TEST(SynthPQMFVariants, MatchReferenceOnRandomAndExtremeInput) {
    struct Case {
        Kind kind;
        bool randomHistory;
        int calls;
    };
    // 40 calls cover every position at both parities more than twice.
    const Case cases[] = {
        {Kind::Typical, false, 40}, {Kind::Typical, true, 40}, {Kind::Any, true, 40}, {Kind::Extreme, true, 40},
        {Kind::Extreme, false, 40},
    };
    for (const auto &variant : mpfix::SynthPQMFVariants()) {
        uint64_t seed = 1;
        for (const Case &c : cases) {
            for (int repeat = 0; repeat < 3; ++repeat) compareRun(variant, seed++, c.kind, c.randomHistory, c.calls);
        }
    }
}

TEST(SynthPQMFVariants, ConstantFullScaleInput) {
    // Largest window sums of the decoder's range, both signs, every position.
    for (const auto &variant : mpfix::SynthPQMFVariants()) {
        for (const int32_t level : {0x01000000, -0x01000000, INT32_MAX, INT32_MIN}) {
            Channel ref, fast;
            for (int call = 0; call < 20; ++call) {
                std::array<int32_t, 32> a{}, b{};
                a[0] = b[0] = level;
                std::array<int16_t, 32> pa{}, pb{};
                mpfix::SynthPQMFVariants()[0].fn(a.data(), pa.data(), ref.history.data(), &ref.position, 1);
                variant.fn(b.data(), pb.data(), fast.history.data(), &fast.position, 1);
                ASSERT_EQ(pa, pb) << variant.name << " level " << level << " call " << call;
                ASSERT_EQ(ref.history, fast.history) << variant.name;
            }
        }
    }
}

TEST(SynthPQMFVariants, EveryStrideButOneWritesEveryOtherElement) {
    // A variant must test stride == 1, not stride == 2: the reference at
    // stride 2 is the model for any other value.
    for (const auto &variant : mpfix::SynthPQMFVariants()) {
        for (const int32_t stride : {0, 3, -1, INT32_MIN, INT32_MAX}) {
            SplitMix64 rng{static_cast<uint64_t>(stride) ^ 0x5157};
            Channel ref, fast;
            for (int call = 0; call < 17; ++call) {
                std::array<int32_t, 32> a{}, b{};
                for (auto &s : a) s = value(rng, Kind::Typical);
                b = a;
                std::array<int16_t, 64> pa, pb;
                pa.fill(0x5A5A);
                pb.fill(0x5A5A);
                mpfix::SynthPQMFVariants()[0].fn(a.data(), pa.data(), ref.history.data(), &ref.position, 2);
                ASSERT_EQ(variant.fn(b.data(), pb.data(), fast.history.data(), &fast.position, stride), 0);
                ASSERT_EQ(pa, pb) << variant.name << " stride " << stride << " call " << call;
            }
        }
    }
}

TEST(SynthPQMFVariants, Sample16CoefficientsFollowTheirRule) {
    for (int i = 0; i < 16; ++i) EXPECT_EQ(mpfix::synthSample16Coef[i], mpfix::synthWindow[8 + (7 - i % 8)]) << i;
}

// A granule of nch channels in the decoder's layout, with guard elements
// after the PCM.
struct Granule {
    std::array<int32_t, 2 * MP3_SLOTS * 32> slots{};
    std::array<int16_t, 2 * 576 + 16> pcm{};
    std::array<int32_t, 2 * MP3_SYNTH_HISTORY> history{};
    std::array<int32_t, 2> position{};
    bool operator==(const Granule &) const = default;
};

// The reference: 18 calls per channel with stride nch.
int32_t granuleByReferenceSlots(Granule &g, int32_t nch) {
    int32_t result = 0;
    for (int32_t ch = 0; ch < nch; ++ch) {
        for (int32_t s = 0; s < MP3_SLOTS; ++s) {
            const int32_t r = mpfix::MP3_SynthPQMF_ref(g.slots.data() + 32 * (MP3_SLOTS * ch + s),
                                                       g.pcm.data() + 32 * nch * s + ch,
                                                       g.history.data() + MP3_SYNTH_HISTORY * ch,
                                                       g.position.data() + ch, nch);
            if (r != 0) result = r;
        }
    }
    return result;
}

TEST(SynthGranuleVariants, ReferenceComesFirst) {
    const auto variants = mpfix::SynthGranuleVariants();
    ASSERT_FALSE(variants.empty());
    EXPECT_STREQ(variants[0].name, "ref");
}

TEST(SynthGranuleVariants, MatchSlotCallsOnRandomAndExtremeInput) {
    const Kind kinds[] = {Kind::Typical, Kind::Any, Kind::Extreme};
    for (const auto &variant : mpfix::SynthGranuleVariants()) {
        uint64_t seed = 100;
        for (const int32_t nch : {1, 2}) {
            for (const Kind kind : kinds) {
                // Every start position in each channel; three granules each
                // cross the ring more than three times.
                for (int32_t start = 0; start < 16; ++start) {
                    SplitMix64 rng{seed++};
                    Granule ref;
                    if (kind != Kind::Typical)
                        for (auto &h : ref.history) h = value(rng, kind);
                    ref.position = {start, (start * 7 + 3) & 15};
                    for (auto &v : ref.pcm) v = static_cast<int16_t>(rng.next());
                    Granule fast = ref;
                    for (int granule = 0; granule < 3; ++granule) {
                        for (auto &v : ref.slots) v = value(rng, kind);
                        fast.slots = ref.slots;
                        ASSERT_EQ(granuleByReferenceSlots(ref, nch), 0);
                        ASSERT_EQ(variant.fn(fast.slots.data(), fast.pcm.data(), fast.history.data(),
                                             fast.position.data(), nch),
                                  0);
                        ASSERT_TRUE(ref == fast) << variant.name << " nch " << nch << " start " << start
                                                 << " granule " << granule;
                    }
                }
            }
        }
    }
}

TEST(SynthGranuleVariants, LeaveChannelsWithBadPositionsUntouched) {
    for (const auto &variant : mpfix::SynthGranuleVariants()) {
        for (const int32_t bad : {-1, 16, INT32_MIN}) {
            for (const int32_t nch : {1, 2}) {
                for (int32_t badChannel = 0; badChannel < nch; ++badChannel) {
                    SplitMix64 rng{static_cast<uint64_t>(nch * 10 + badChannel)};
                    Granule ref;
                    for (auto &v : ref.slots) v = value(rng, Kind::Typical);
                    ref.position = {5, 10};
                    ref.position[static_cast<size_t>(badChannel)] = bad;
                    Granule fast = ref;
                    EXPECT_EQ(granuleByReferenceSlots(ref, nch), MP3_ERR_PARAM);
                    EXPECT_EQ(variant.fn(fast.slots.data(), fast.pcm.data(), fast.history.data(), fast.position.data(),
                                         nch),
                              MP3_ERR_PARAM);
                    EXPECT_TRUE(ref == fast) << variant.name << " nch " << nch << " bad channel " << badChannel;
                }
            }
            // A channel count other than 1 or 2 touches nothing.
            Granule g;
            g.position = {3, 4};
            const Granule before = g;
            EXPECT_EQ(variant.fn(g.slots.data(), g.pcm.data(), g.history.data(), g.position.data(), 3), MP3_ERR_PARAM);
            EXPECT_TRUE(g == before) << variant.name;
        }
    }
}

TEST(SynthPQMFVariants, RejectPositionsOutsideTheRing) {
    for (const auto &variant : mpfix::SynthPQMFVariants()) {
        for (const int32_t bad : {-1, 16, INT32_MIN, INT32_MAX}) {
            std::array<int32_t, 32> samples;
            samples.fill(7);
            std::array<int32_t, MP3_SYNTH_HISTORY> history;
            history.fill(3);
            std::array<int16_t, 64> pcm;
            pcm.fill(9);
            int32_t position = bad;
            EXPECT_EQ(variant.fn(samples.data(), pcm.data(), history.data(), &position, 1), MP3_ERR_PARAM)
                << variant.name;
            EXPECT_EQ(position, bad);
            for (int32_t s : samples) ASSERT_EQ(s, 7);
            for (int32_t h : history) ASSERT_EQ(h, 3);
            for (int16_t v : pcm) ASSERT_EQ(v, 9);
        }
    }
}

}  // namespace
