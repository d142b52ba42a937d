// The decoder interface through the public API: probe and stream parameters,
// the decode loop and its refill policy, on constructed streams and on the
// committed fixtures (compared with the reference decoder's PCM).
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "audio/frame/decoder_api.h"
#include "audio/frame/decoder_state.h"
#include "audio/frame/ring_buffer.h"
#include "support/frame_builder.h"
#include "support/memory_source.h"
#include "support/pcm_compare.h"

using namespace mpfix;

namespace {

using mpfix::test::buildFrames;
using mpfix::test::comparePcm;
using mpfix::test::decodeStream;
using mpfix::test::DecodeResult;
using mpfix::test::fixtureDir;
using mpfix::test::FixtureInfo;
using mpfix::test::FrameFields;
using mpfix::test::Host;
using mpfix::test::loadBytes;
using mpfix::test::loadFixtureList;
using mpfix::test::loadPcm16;

std::vector<uint8_t> fixtureBytes(const FixtureInfo &f) { return loadBytes(fixtureDir() + "/" + f.file); }

struct Params {
    int32_t bufferBytes = -1, sampleRate = -1, channels = -1;
};

Params init(Host &host) {
    Params p;
    EXPECT_EQ(MP3_InitDecoder(&host.stream, &host.decoder, &p.bufferBytes, &p.sampleRate, &p.channels), 1);
    return p;
}

// ---- Probe and stream parameters -------------------------------------------

TEST(DecoderInit, EmptyInputMakesOneCallAndReportsDefaults) {
    Host host({});
    host.decoder.syncType = MP3_SYNC_FFF;  // whatever the host's record held
    const Params p = init(host);
    ASSERT_EQ(host.source.calls.size(), 1u);
    EXPECT_EQ(host.source.calls[0].offset, 0);
    EXPECT_EQ(host.source.calls[0].maxBytes, 65536);
    EXPECT_EQ(p.channels, 2);
    EXPECT_EQ(p.bufferBytes, 57600);
    EXPECT_EQ(p.sampleRate, 11025);
}

TEST(DecoderInit, ProbeWithoutBufferReportsDefaults) {
    auto host = std::make_unique<Host>(buildFrames(FrameFields{}, 10));
    Params p;
    EXPECT_EQ(MP3_InitDecoderWithProbe(&host->stream, &host->decoder, &p.bufferBytes, &p.sampleRate, &p.channels,
                                       nullptr),
              1);
    EXPECT_TRUE(host->source.calls.empty());  // no probe ran
    EXPECT_EQ(p.sampleRate, 11025);
    EXPECT_EQ(p.channels, 2);
    EXPECT_EQ(p.bufferBytes, 57600);
}

TEST(DecoderInit, RingIsDrainedAfterInit) {
    Host host(buildFrames(FrameFields{}, 200));
    init(host);
    EXPECT_EQ(host.stream.readIndex, 0u);
    EXPECT_EQ(host.stream.writeIndex, 0u);
    EXPECT_EQ(host.source.position, 65536u);  // the probe's bytes are gone
    EXPECT_EQ(host.decoder.reservoirFill, 0);
    // The first refill after it starts a fresh ring: no byte of the probe's
    // ring (here the 0xFF a frame begins with) is kept in front.
    host.source.position = 0;
    host.source.calls.clear();
    std::vector<int16_t> pcm(2304);
    int32_t samples = 0;
    EXPECT_EQ(MP3_DecodeFrame(&host.stream, pcm.data(), &samples, 1, &host.decoder), MP3_OK);
    ASSERT_FALSE(host.source.calls.empty());
    EXPECT_EQ(host.source.calls[0].offset, 0);
    EXPECT_EQ(host.source.calls[0].maxBytes, 65536);
    EXPECT_EQ(samples, 2304);
}

TEST(DecoderInit, ParametersOfConstructedStreams) {
    struct Case {
        FrameFields fields;
        int32_t rate, channels, bufferBytes;
    };
    FrameFields mpeg1;  // stereo 44.1 kHz
    FrameFields mpeg2;  // mono 22.05 kHz
    mpeg2.id = 0;
    mpeg2.bitrateIndex = 8;
    mpeg2.mode = 3;
    FrameFields mpeg25 = mpeg2;  // stereo 11.025 kHz
    mpeg25.mpeg25 = true;
    mpeg25.mode = 1;
    FrameFields mpeg25at8k = mpeg25;
    mpeg25at8k.samplingFrequency = 2;
    mpeg25at8k.mode = 3;
    const Case cases[] = {{mpeg1, 44100, 2, 115200},
                          {mpeg2, 22050, 1, 28800},
                          {mpeg25, 11025, 2, 57600},
                          {mpeg25at8k, 8000, 1, 28800}};
    for (const Case &c : cases) {
        // Few frames followed by bytes without any sync pattern: the probe's
        // last search fails, yet the last header's own sync decides the version.
        auto bytes = buildFrames(c.fields, 3);
        bytes.insert(bytes.end(), 500, 0x00);
        Host host(bytes);
        const Params p = init(host);
        EXPECT_EQ(p.sampleRate, c.rate);
        EXPECT_EQ(p.channels, c.channels);
        EXPECT_EQ(p.bufferBytes, c.bufferBytes);
    }
}

TEST(DecoderInit, ReservedSamplingFrequencyReportsRateZero) {
    Host host({0x00, 0xFF, 0xFB, 0x9C, 0x00, 0x00, 0x00, 0x00});
    const Params p = init(host);
    EXPECT_EQ(p.sampleRate, 0);
    EXPECT_EQ(p.channels, 2);
}

// ---- The decode loop ---------------------------------------------------------

struct Decoded {
    int32_t status;
    int32_t samples;
};

Decoded decodeCall(Host &host, std::vector<int16_t> &pcm, int32_t count) {
    Decoded d{};
    d.status = MP3_DecodeFrame(&host.stream, pcm.data(), &d.samples, count, &host.decoder);
    return d;
}

TEST(DecodeFrame, CountsOfFrames) {
    struct Case {
        int frames;  // in the stream
        int32_t count;
        int32_t status;
        int32_t samples;
    };
    const Case cases[] = {
        {40, 3, MP3_OK, 3 * 2304},
        {12, 20, MP3_INPUT_EXHAUSTED, 12 * 2304},
        {4, 0, MP3_INPUT_EXHAUSTED, 4 * 2304},  // a count never met: everything is decoded
        {4, -1, MP3_INPUT_EXHAUSTED, 4 * 2304},  // any count below 1 alike
    };
    for (const Case &c : cases) {
        Host host(buildFrames(FrameFields{}, c.frames));
        init(host);
        host.source.position = 0;
        std::vector<int16_t> pcm(static_cast<size_t>(c.frames) * 2304 + 1, 0x1111);
        const Decoded d = decodeCall(host, pcm, c.count);
        EXPECT_EQ(d.status, c.status) << c.count;
        EXPECT_EQ(d.samples, c.samples) << c.count;
        EXPECT_EQ(pcm[static_cast<size_t>(c.samples) - 1], 0);
        EXPECT_EQ(pcm[static_cast<size_t>(c.samples)], 0x1111);  // nothing beyond
    }
}

TEST(DecodeFrame, RefillBelowThresholdOnly) {
    // After the first frame (417 bytes) the ring holds N - 418 further bytes:
    // 2879 makes a refill, 2880 does not.
    for (const auto &[first, calls] : {std::pair{3297u, 2u}, std::pair{3298u, 1u}}) {
        Host host(buildFrames(FrameFields{}, 20));
        MP3_ResetDecoder(&host.decoder, &host.stream);
        host.source.pieceBytes = static_cast<int32_t>(first);
        ASSERT_EQ(MP3_Refill(&host.stream), static_cast<int32_t>(first));
        host.source.pieceBytes = 0;
        host.source.calls.clear();
        std::vector<int16_t> pcm(2304);
        const Decoded d = decodeCall(host, pcm, 1);
        EXPECT_EQ(d.status, MP3_OK);
        EXPECT_EQ(host.source.calls.size(), calls - 1) << first;
    }
}

TEST(DecodeFrame, StoppingAtFirstExhaustedLosesNoFrame) {
    // A host that stops at the first MP3_INPUT_EXHAUSTED gets every frame,
    // whatever count it asks for.
    for (int32_t count : {1, 3, 7, 25}) {
        const DecodeResult r = decodeStream(buildFrames(FrameFields{}, 29), 0, count);
        EXPECT_EQ(r.pcm.size(), 29u * 2304u) << count;
    }
}

// ---- Committed fixtures ------------------------------------------------------

// PSNR floors (dB) just under the figures measured against the reference PCM.
double psnrFloor(const std::string &stem) {
    static const std::pair<const char *, double> kFloors[] = {
        {"mpeg1_44k_joint_cbr128", 108.0}, {"mpeg1_48k_stereo_vbr", 107.9}, {"mpeg1_32k_mono_crc", 107.9},
        {"mpeg2_22k_joint_cbr64", 108.0},  {"mpeg2_24k_mono_vbr", 107.8},   {"mpeg2_16k_stereo_crc", 108.0},
        {"mpeg25_8k_mono_transients", 108.5}, {"mpeg25_11k_stereo_cbr64", 108.2}, {"mpeg25_12k_joint_vbr", 107.5},
        {"mpeg1_44k_stereo_free200", 108.0}, {"mpeg2_22k_mono_free50", 108.5},
    };
    for (const auto &[name, floor] : kFloors)
        if (stem == name) return floor;
    return 1e9;  // a fixture without a floor fails
}

TEST(Fixtures, DecodeLikeTheReference) {
    const auto fixtures = loadFixtureList();
    ASSERT_EQ(fixtures.size(), 11u);
    std::printf("%-28s %8s %9s %8s\n", "fixture", "PSNR dB", "max diff", "samples");
    for (const FixtureInfo &f : fixtures) {
        const auto bytes = fixtureBytes(f);
        ASSERT_FALSE(bytes.empty()) << f.file;
        const DecodeResult r = decodeStream(bytes);
        const auto reference = loadPcm16(fixtureDir() + "/" + f.stem() + ".pcm");
        EXPECT_EQ(r.sampleRate, f.sampleRate) << f.file;
        EXPECT_EQ(r.channels, f.channels) << f.file;
        EXPECT_EQ(r.bufferBytes, (f.version == "1" ? 57600 : 28800) * f.channels) << f.file;
        EXPECT_EQ(r.pcm.size(), f.pcmValues) << f.file;
        const auto cmp = comparePcm(r.pcm, reference);
        std::printf("%-28s %8.2f %9d %8zu\n", f.stem().c_str(), cmp.psnr, cmp.maxAbsDiff, r.pcm.size());
        EXPECT_GE(cmp.psnr, psnrFloor(f.stem())) << f.file;
    }
}

TEST(Fixtures, SameOutputWhateverThePieceSize) {
    for (const FixtureInfo &f : loadFixtureList()) {
        if (f.file != "mpeg1_44k_joint_cbr128.mp3" && f.file != "mpeg25_11k_stereo_cbr64.mp3") continue;
        const auto bytes = fixtureBytes(f);
        const DecodeResult whole = decodeStream(bytes);
        ASSERT_EQ(whole.pcm.size(), f.pcmValues);
        for (int32_t piece : {1, 7, 417, 4096}) {
            const DecodeResult r = decodeStream(bytes, piece);
            EXPECT_EQ(r.pcm, whole.pcm) << f.file << " in pieces of " << piece;
        }
    }
}

TEST(Fixtures, SameOutputWhetherTheInputEndsOrGoesOn) {
    // The last frame's main data ends on the held-back byte when the input
    // ends right after it; it must decode as when more input follows.
    for (const FixtureInfo &f : loadFixtureList()) {
        const auto bytes = fixtureBytes(f);
        auto longer = bytes;
        longer.insert(longer.end(), bytes.begin(), bytes.end());
        const DecodeResult alone = decodeStream(bytes);
        const DecodeResult followed = decodeStream(longer);
        ASSERT_GE(followed.pcm.size(), alone.pcm.size());
        EXPECT_TRUE(std::equal(alone.pcm.begin(), alone.pcm.end(), followed.pcm.begin())) << f.file;
    }
}

TEST(Fixtures, LeadingJunkChangesNothing) {
    // 65436 zero bytes fill the first refill all but one frame's worth: the
    // first frame no longer fits in the full ring.
    for (const FixtureInfo &f : loadFixtureList()) {
        if (f.version != "1") continue;
        const auto bytes = fixtureBytes(f);
        std::vector<uint8_t> junk(65436, 0x00);
        junk.insert(junk.end(), bytes.begin(), bytes.end());
        EXPECT_EQ(decodeStream(junk).pcm, decodeStream(bytes).pcm) << f.file;
    }
}

}  // namespace
