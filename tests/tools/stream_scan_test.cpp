// The tool's header scan and information-frame reader on their own: frame
// counts equal the independent frame walker's (tests/data/fixtures.txt) however
// the stream is cut into pieces, junk and a cut-off end are handled, and the
// LAME tag gives the delay and padding recorded in tests/data/gapless.txt.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/pcm_compare.h"
#include "tools/stream_scan.cpp"

namespace {

using mpfix::test::fixtureDir;
using mpfix::test::loadBytes;
using mpfix::tool::FrameHeader;
using mpfix::tool::FrameScanner;
using mpfix::tool::InfoFrame;
using mpfix::tool::MpegVersion;

FrameScanner scan(const std::vector<uint8_t> &bytes, size_t piece) {
    FrameScanner scanner;
    for (size_t at = 0; at < bytes.size(); at += piece) {
        scanner.feed(bytes.data() + at, std::min(piece, bytes.size() - at));
    }
    scanner.finish();
    return scanner;
}

TEST(StreamScan, HeadersGiveTheFrameSizes) {
    struct Case {
        uint8_t header[4];
        MpegVersion version;
        int rate, channels, kbps, bytes, samples, sideInfo;
    };
    const Case cases[] = {
        {{0xFF, 0xFB, 0x90, 0x64}, MpegVersion::Mpeg1, 44100, 2, 128, 417, 1152, 32},
        {{0xFF, 0xFB, 0x92, 0x64}, MpegVersion::Mpeg1, 44100, 2, 128, 418, 1152, 32},  // padded
        {{0xFF, 0xFA, 0x58, 0xC4}, MpegVersion::Mpeg1, 32000, 1, 64, 288, 1152, 17},   // CRC word
        {{0xFF, 0xF3, 0x14, 0xC4}, MpegVersion::Mpeg2, 24000, 1, 8, 24, 576, 9},
        {{0xFF, 0xE3, 0x80, 0x00}, MpegVersion::Mpeg25, 11025, 2, 64, 417, 576, 17},  // 72 x 64000 / 11025
        {{0xFF, 0xE3, 0x88, 0x00}, MpegVersion::Mpeg25, 8000, 2, 64, 576, 576, 17},
    };
    for (const Case &c : cases) {
        FrameHeader h;
        ASSERT_TRUE(mpfix::tool::parseHeader(c.header, h)) << int{c.header[1]} << " " << int{c.header[2]};
        EXPECT_TRUE(h.version == c.version);
        EXPECT_EQ(h.sampleRate, c.rate);
        EXPECT_EQ(h.channels, c.channels);
        EXPECT_EQ(h.bitrateKbps, c.kbps);
        EXPECT_EQ(h.frameBytes, c.bytes);
        EXPECT_EQ(h.samples, c.samples);
        EXPECT_EQ(h.sideInfoBytes, c.sideInfo);
        EXPECT_EQ(h.crc, c.header[1] == 0xFA);
    }
    const uint8_t rejected[][4] = {
        {0xFF, 0xFB, 0x00, 0x64},  // free format: no size to follow
        {0xFF, 0xFB, 0xF0, 0x64},  // bitrate index 15
        {0xFF, 0xFB, 0x9C, 0x64},  // reserved sample rate
        {0xFF, 0xFD, 0x90, 0x64},  // Layer II
        {0xFF, 0xEB, 0x90, 0x64},  // reserved version
        {0xFE, 0xFB, 0x90, 0x64},  // no sync
    };
    for (const auto &header : rejected) {
        FrameHeader h;
        EXPECT_FALSE(mpfix::tool::parseHeader(header, h)) << int{header[1]} << " " << int{header[2]};
    }
}

TEST(StreamScan, CountsTheWalkersFramesInAnyPieces) {
    const auto fixtures = mpfix::test::loadFixtureList();
    ASSERT_FALSE(fixtures.empty());
    for (const auto &f : fixtures) {
        const auto bytes = loadBytes(fixtureDir() + "/" + f.file);
        ASSERT_FALSE(bytes.empty()) << f.file;
        const FrameScanner whole = scan(bytes, bytes.size());
        EXPECT_EQ(whole.frames(), f.frames) << f.file;
        EXPECT_EQ(whole.frameBytes(), bytes.size()) << f.file << ": the frames fill the file";
        EXPECT_EQ(whole.first().sampleRate, f.sampleRate) << f.file;
        EXPECT_EQ(whole.first().channels, f.channels) << f.file;
        EXPECT_FALSE(whole.truncated()) << f.file;
        for (const size_t piece : {size_t{1}, size_t{3}, size_t{417}, size_t{4096}}) {
            const FrameScanner pieces = scan(bytes, piece);
            EXPECT_EQ(pieces.frames(), whole.frames()) << f.file << " in pieces of " << piece;
            EXPECT_EQ(pieces.frameBytes(), whole.frameBytes()) << f.file << " in pieces of " << piece;
            EXPECT_EQ(pieces.minKbps(), whole.minKbps()) << f.file;
            EXPECT_EQ(pieces.maxKbps(), whole.maxKbps()) << f.file;
        }
    }
}

TEST(StreamScan, JunkAndACutOffEnd) {
    const auto bytes = loadBytes(fixtureDir() + "/mpeg1_44k_joint_cbr128.mp3");  // 34 frames
    ASSERT_FALSE(bytes.empty());
    size_t frame10 = 0;  // where frame 10 starts
    for (int i = 0; i < 10; ++i) {
        FrameHeader h;
        ASSERT_TRUE(mpfix::tool::parseHeader(bytes.data() + frame10, h));
        frame10 += static_cast<size_t>(h.frameBytes);
    }

    // Junk with a false sync pattern in front and between two frames: every real frame counts.
    std::vector<uint8_t> junk(300, 0x55);
    junk[100] = 0xFF, junk[101] = 0xFB, junk[102] = 0x50, junk[103] = 0x64;
    const auto split = bytes.begin() + static_cast<std::ptrdiff_t>(frame10);
    std::vector<uint8_t> mixed(2 * junk.size() + bytes.size());
    auto at = std::copy(junk.begin(), junk.end(), mixed.begin());
    at = std::copy(bytes.begin(), split, at);
    at = std::copy(junk.begin(), junk.end(), at);
    std::copy(split, bytes.end(), at);
    for (const size_t piece : {size_t{1}, mixed.size()}) {
        const FrameScanner s = scan(mixed, piece);
        EXPECT_EQ(s.frames(), 34) << piece;
        EXPECT_EQ(s.frameBytes(), bytes.size()) << piece;
        EXPECT_EQ(s.firstOffset(), junk.size()) << piece;
        EXPECT_EQ(s.minKbps(), 128) << "the false header's 64 kbit/s is not taken";
    }

    const std::vector<uint8_t> cut(bytes.begin(), bytes.end() - 100);
    const FrameScanner s = scan(cut, 1000);
    EXPECT_EQ(s.frames(), 33);
    ASSERT_TRUE(s.truncated());
    EXPECT_EQ(s.truncatedHave() + 100, static_cast<uint64_t>(s.truncatedNeed()));
}

TEST(StreamScan, LameTagGivesDelayAndPadding) {
    struct Case {
        const char *file;
        bool vbr;
        uint32_t frames, bytes;
        int delay, padding;
    };
    const Case cases[] = {
        {"gapless_mpeg1_44k_stereo_vbr.mp3", true, 50, 8798, 576, 1295},
        {"gapless_mpeg2_22k_mono_cbr64.mp3", false, 37, 7940, 576, 668},
    };
    for (const Case &c : cases) {
        auto bytes = loadBytes(fixtureDir() + "/" + c.file);
        ASSERT_FALSE(bytes.empty()) << c.file;
        size_t offset = 1;
        FrameHeader h;
        ASSERT_TRUE(mpfix::tool::findFirstFrame(bytes.data(), bytes.size(), true, offset, h)) << c.file;
        EXPECT_EQ(offset, 0u);
        const auto size = static_cast<size_t>(h.frameBytes);
        InfoFrame info;
        ASSERT_TRUE(mpfix::tool::parseInfoFrame(bytes.data(), size, h, info)) << c.file;
        EXPECT_EQ(info.vbr, c.vbr);
        EXPECT_TRUE(info.hasFrames && info.hasBytes);
        EXPECT_EQ(info.frames, c.frames);
        EXPECT_EQ(info.bytes, c.bytes);
        EXPECT_EQ(info.bytes, bytes.size());
        ASSERT_TRUE(info.hasLameTag);
        EXPECT_EQ(info.encoder, "LAME3.100");
        EXPECT_EQ(info.delay, c.delay);
        EXPECT_EQ(info.padding, c.padding);
        // The scan sees the information frame as one more frame.
        EXPECT_EQ(scan(bytes, 4096).frames(), static_cast<long>(c.frames) + 1) << c.file;

        // An unknown encoder name fails the tag's CRC: no delay or padding is taken from it.
        const size_t name = std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)).find("LAME");
        ASSERT_NE(name, std::string::npos);
        bytes[name] = 'X';
        InfoFrame damaged;
        ASSERT_TRUE(mpfix::tool::parseInfoFrame(bytes.data(), size, h, damaged));
        EXPECT_FALSE(damaged.hasLameTag) << c.file;
        EXPECT_EQ(damaged.frames, c.frames) << "the Xing fields stay";

        // An ordinary audio frame is no information frame.
        const size_t second = size;
        FrameHeader next;
        ASSERT_TRUE(mpfix::tool::parseHeader(bytes.data() + second, next));
        InfoFrame none;
        EXPECT_FALSE(mpfix::tool::parseInfoFrame(bytes.data() + second, static_cast<size_t>(next.frameBytes), next, none));
    }
}

}  // namespace
