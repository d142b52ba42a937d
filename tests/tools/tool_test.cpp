// The mpfix command-line tool, run as a user would: WAV and raw output equal
// to what the library decodes, from files and from pipes, gapless lengths
// equal to what lame and mpg123 give, outputs that are not regular files,
// stream info without decoding, BMP pixels equal to the converter's, and
// every error with its exit code and no output left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mpfix.h"
#include "support/memory_source.h"
#include "support/pcm_compare.h"

namespace {

namespace fs = std::filesystem;
using mpfix::test::decodeStream;
using mpfix::test::fixtureDir;
using mpfix::test::loadBytes;

struct ToolRun {
    int exitCode;
    std::string out;
    std::string err;
};

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("mpfix_tool_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string &name) const { return (dir_ / name).string(); }

    // Runs the tool with the given arguments (already quoted as needed);
    // `before` and `after` are shell text around the command (a pipe into it,
    // a reader started in the background).
    ToolRun run(const std::string &args, const std::string &before = "", const std::string &after = "") const {
        const std::string out = path("stdout.txt"), err = path("stderr.txt");
        const std::string command = before + std::string(MPFIX_TOOL_EMULATOR) + " '" + MPFIX_TOOL_PATH + "' " + args +
                                    " >'" + out + "' 2>'" + err + "'" + after;
        const int status = std::system(command.c_str());
        ToolRun r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(out), readText(err)};
        fs::remove(out);
        fs::remove(err);
        return r;
    }

    static std::string readText(const std::string &file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    static void writeFile(const std::string &file, const std::vector<uint8_t> &bytes) {
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    // Files in the scratch folder other than the tool's captured output.
    size_t fileCount() const {
        size_t n = 0;
        for (const auto &entry : fs::directory_iterator(dir_)) n += entry.is_regular_file() ? 1u : 0u;
        return n;
    }

    fs::path dir_;
};

uint32_t le32(const std::vector<uint8_t> &b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}
uint16_t le16(const std::vector<uint8_t> &b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

const char *const kFixtures[] = {"mpeg1_44k_joint_cbr128", "mpeg2_24k_mono_vbr", "mpeg25_11k_stereo_cbr64",
                                 "mpeg1_44k_stereo_free200"};

TEST_F(ToolTest, DecodeWritesWavOfTheLibraryOutput) {
    for (const char *stem : kFixtures) {
        const std::string input = fixtureDir() + "/" + stem + ".mp3";
        const auto expected = decodeStream(loadBytes(input));
        const ToolRun r = run("decode '" + input + "' '" + path("out.wav") + "'");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        // The summary goes to standard output when the audio does not.
        EXPECT_EQ(r.err, "");
        EXPECT_NE(r.out.find(input + ": "), std::string::npos) << r.out;
        const size_t frames =
            expected.pcm.size() / static_cast<size_t>(expected.channels) / (expected.sampleRate >= 32000 ? 1152 : 576);
        EXPECT_NE(r.out.find(": " + std::to_string(frames) + " frames"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(std::to_string(expected.sampleRate) + " Hz"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("real time"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("gapless"), std::string::npos) << "no LAME tag, nothing trimmed: " << r.out;

        const auto wav = loadBytes(path("out.wav"));
        ASSERT_GE(wav.size(), 44u);
        const uint32_t dataBytes = static_cast<uint32_t>(expected.pcm.size() * 2);
        EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
        EXPECT_EQ(le32(wav, 4), 36 + dataBytes);
        EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
        EXPECT_EQ(le32(wav, 16), 16u);
        EXPECT_EQ(le16(wav, 20), 1);  // PCM
        EXPECT_EQ(le16(wav, 22), expected.channels);
        EXPECT_EQ(le32(wav, 24), static_cast<uint32_t>(expected.sampleRate));
        EXPECT_EQ(le32(wav, 28), static_cast<uint32_t>(expected.sampleRate * expected.channels * 2));
        EXPECT_EQ(le16(wav, 32), expected.channels * 2);
        EXPECT_EQ(le16(wav, 34), 16);
        EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data");
        EXPECT_EQ(le32(wav, 40), dataBytes);
        ASSERT_EQ(wav.size(), 44u + dataBytes);
        const auto pcm = mpfix::test::pcmFromBytes(std::span(wav).subspan(44));
        EXPECT_EQ(pcm, expected.pcm) << stem;
        fs::remove(path("out.wav"));
    }
}

TEST_F(ToolTest, DecodeToStdoutWritesRawPcm) {
    const std::string input = fixtureDir() + "/mpeg1_32k_mono_crc.mp3";
    const ToolRun r = run("decode '" + input + "' -");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<uint8_t> raw(r.out.begin(), r.out.end());
    EXPECT_EQ(mpfix::test::pcmFromBytes(raw), decodeStream(loadBytes(input)).pcm);
    EXPECT_NE(r.err.find("real time"), std::string::npos) << "the summary moves to stderr: " << r.err;
}

TEST_F(ToolTest, DecodeSkipsAnId3v2Tag) {
    const std::string input = fixtureDir() + "/mpeg2_22k_joint_cbr64.mp3";
    auto tagged = std::vector<uint8_t>{'I', 'D', '3', 4, 0, 0, 0, 0, 1, 0};  // 128-byte body
    for (int i = 0; i < 128; ++i) tagged.push_back(i % 2 ? 0xFB : 0xFF);     // sync-like bytes inside the tag
    const auto mp3 = loadBytes(input);
    tagged.insert(tagged.end(), mp3.begin(), mp3.end());
    writeFile(path("tagged.mp3"), tagged);
    const ToolRun r = run("decode '" + path("tagged.mp3") + "' -");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<uint8_t> raw(r.out.begin(), r.out.end());
    EXPECT_EQ(mpfix::test::pcmFromBytes(raw), decodeStream(mp3).pcm);
}

// Average bitrates: bytes x 8 / (frames x samples per frame / rate), the
// bytes being the file's (a header scan) or the information frame's count.
TEST_F(ToolTest, InfoDescribesTheStream) {
    struct Case {
        std::string file;
        std::string expected;
    };
    const Case cases[] = {
        {"mpeg25_11k_stereo_cbr64.mp3",
         "version: MPEG-2.5 Layer III\nsample rate: 11025 Hz\nchannels: 2\nmode: stereo\n"
         "bitrate: 64 kbit/s (CBR)\nframes: 19\nduration: 0.993 s\n"},
        {"mpeg1_48k_stereo_vbr.mp3",  // 14808 bytes in 0.888 s
         "version: MPEG-1 Layer III\nsample rate: 48000 Hz\nchannels: 2\nmode: stereo\n"
         "bitrate: 133 kbit/s average (VBR, 32-320 kbit/s)\nframes: 37\nduration: 0.888 s\n"},
        {"mpeg2_22k_mono_free50.mp3",  // 163- and 164-byte frames, no bitrate in the headers
         "version: MPEG-2 Layer III\nsample rate: 22050 Hz\nchannels: 1\nmode: single channel\n"
         "bitrate: 50 kbit/s (free format)\nframes: 37\nduration: 0.967 s\n"},
        {"gapless_mpeg1_44k_stereo_vbr.mp3",  // 8798 bytes in 50 x 1152 / 44100 s
         "version: MPEG-1 Layer III\nsample rate: 44100 Hz\nchannels: 2\nmode: joint stereo\n"
         "bitrate: 54 kbit/s average (VBR)\nframes: 50\nduration: 1.264 s\n"
         "samples: 55729 per channel (encoder delay and padding left out; every frame: 1.306 s)\n"
         "information frame: Xing (frame count and size from it)\n"
         "encoder: LAME3.100, delay 576 samples, padding 1295 samples\n"},
        {"gapless_mpeg2_22k_mono_cbr64.mp3",
         "version: MPEG-2 Layer III\nsample rate: 22050 Hz\nchannels: 1\nmode: single channel\n"
         "bitrate: 64 kbit/s (CBR)\nframes: 37\nduration: 0.910 s\n"
         "samples: 20068 per channel (encoder delay and padding left out; every frame: 0.967 s)\n"
         "information frame: Info (frame count and size from it)\n"
         "encoder: LAME3.100, delay 576 samples, padding 668 samples\n"},
    };
    for (const Case &c : cases) {
        const ToolRun r = run("info '" + fixtureDir() + "/" + c.file + "'");
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, c.expected) << c.file;
        EXPECT_EQ(r.err, "") << c.file;
    }
}

// Junk in front holding false sync patterns (one of them a whole header of
// another bitrate) is not taken for frames, and an ID3v2 tag is skipped.
TEST_F(ToolTest, InfoAfterJunkAndTags) {
    const std::string input = fixtureDir() + "/mpeg1_44k_joint_cbr128.mp3";
    const ToolRun plain = run("info '" + input + "'");
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_NE(plain.out.find("bitrate: 128 kbit/s (CBR)\nframes: 34\n"), std::string::npos) << plain.out;

    std::vector<uint8_t> junk = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
    for (int i = 0; i < 20; ++i) junk.push_back(0xFF);
    uint32_t seed = 99;
    for (int i = 0; i < 3000; ++i) junk.push_back(static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24));
    for (const size_t at : {size_t{100}, size_t{1500}, size_t{2990}}) {
        const uint8_t header[4] = {0xFF, 0xFB, 0x50, 0x64};  // MPEG-1, 64 kbit/s, 44.1 kHz
        std::copy(header, header + 4, junk.begin() + static_cast<std::ptrdiff_t>(at));
    }
    const auto mp3 = loadBytes(input);
    junk.insert(junk.end(), mp3.begin(), mp3.end());
    writeFile(path("junk.mp3"), junk);
    const ToolRun r = run("info '" + path("junk.mp3") + "'");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, plain.out);
    const ToolRun piped = run("info -", "cat '" + path("junk.mp3") + "' | ");
    EXPECT_EQ(piped.out, plain.out);
}

TEST_F(ToolTest, Yuv2BmpWritesTheConvertersPixels) {
    const int32_t width = 7, height = 5;  // odd sizes: padded BMP rows, a lone chroma column and row
    const int32_t cw = 4, ch = 3;
    std::vector<uint8_t> yuv(static_cast<size_t>(width * height + 2 * cw * ch));
    uint32_t seed = 12345;
    for (auto &b : yuv) b = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    writeFile(path("in.yuv"), yuv);
    const ToolRun r = run("yuv2bmp '" + path("in.yuv") + "' 7 5 '" + path("out.bmp") + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;

    std::vector<uint16_t> expected(static_cast<size_t>(width * height));
    const MPG_YUVPlanes planes = {yuv.data(), yuv.data() + width * height, yuv.data() + width * height + cw * ch};
    const MPG_YUVStrides strides = {width, cw, cw};
    MPG_YUV420ToBGR565(&planes, &strides, expected.data(), width * 2, width, height);

    const auto bmp = loadBytes(path("out.bmp"));
    ASSERT_GE(bmp.size(), 66u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(le32(bmp, 2), bmp.size());
    const uint32_t offset = le32(bmp, 10);
    EXPECT_EQ(le32(bmp, 14), 40u);
    EXPECT_EQ(static_cast<int32_t>(le32(bmp, 18)), width);
    const int32_t bmpHeight = static_cast<int32_t>(le32(bmp, 22));
    EXPECT_EQ(std::abs(bmpHeight), height);
    EXPECT_EQ(le16(bmp, 28), 16);
    EXPECT_EQ(le32(bmp, 30), 3u);  // bit fields
    EXPECT_EQ(le32(bmp, 54), 0xF800u);
    EXPECT_EQ(le32(bmp, 58), 0x07E0u);
    EXPECT_EQ(le32(bmp, 62), 0x001Fu);
    const size_t rowBytes = (static_cast<size_t>(width) * 2 + 3) & ~size_t{3};
    ASSERT_EQ(bmp.size(), offset + rowBytes * height);
    for (int32_t y = 0; y < height; ++y) {
        const int32_t fileRow = bmpHeight < 0 ? y : height - 1 - y;
        for (int32_t x = 0; x < width; ++x) {
            EXPECT_EQ(le16(bmp, offset + static_cast<size_t>(fileRow) * rowBytes + static_cast<size_t>(x) * 2),
                      expected[static_cast<size_t>(y * width + x)])
                << x << "," << y;
        }
    }
}

TEST_F(ToolTest, ErrorsExitNonZeroAndLeaveNoOutput) {
    writeFile(path("text.mp3"), std::vector<uint8_t>(5000, 'a'));
    writeFile(path("short.yuv"), std::vector<uint8_t>(100, 0x80));
    const std::string usage = run("--help").out;
    ASSERT_EQ(usage.rfind("usage: mpfix decode", 0), 0u) << usage;
    struct Case {
        std::string args;
        int exitCode;
        std::string message;  // the first line of stderr; a usage error adds the usage after it
    };
    const std::string text = "'" + path("text.mp3") + "'";
    const Case cases[] = {
        {"decode '" + path("missing.mp3") + "' '" + path("out.wav") + "'", 1,
         "mpfix: cannot open " + path("missing.mp3") + ": No such file or directory"},
        {"decode " + text + " '" + path("out.wav") + "'", 1,
         "mpfix: " + path("text.mp3") + ": no MPEG audio Layer III frames found"},
        {"decode " + text + " -", 1, "mpfix: " + path("text.mp3") + ": no MPEG audio Layer III frames found"},
        {"info " + text, 1, "mpfix: " + path("text.mp3") + ": no MPEG audio Layer III frames found"},
        {"decode '" + dir_.string() + "' '" + path("out.wav") + "'", 1,
         "mpfix: " + dir_.string() + " is a directory, not an MPEG audio file"},
        {"info '" + dir_.string() + "'", 1, "mpfix: " + dir_.string() + " is a directory, not an MPEG audio file"},
        {"decode -o '" + path("nowhere") + "' " + text, 1,
         "mpfix: cannot write into " + path("nowhere") + ": not a directory"},
        {"yuv2bmp '" + path("short.yuv") + "' 16 16 '" + path("out.bmp") + "'", 1,
         "mpfix: " + path("short.yuv") + " is too short for a 16x16 YUV 4:2:0 frame (100 of 384 bytes)"},
        {"yuv2bmp '" + path("short.yuv") + "' 0 16 '" + path("out.bmp") + "'", 1, "mpfix: bad dimension: 0"},
        {"decode " + text, 2, "mpfix: decode needs IN and OUT (or -o DIR and inputs)"},
        {"decode " + text + " " + text + " '" + path("out.wav") + "'", 2,
         "mpfix: decode takes one IN and one OUT; for several inputs use -o DIR"},
        {"decode --frobnicate " + text + " '" + path("out.wav") + "'", 2, "mpfix: unknown option --frobnicate"},
        {"info -x " + text, 2, "mpfix: unknown option -x"},
        {"info --no-gapless " + text, 2, "mpfix: the options -o, -q and --no-gapless belong to decode"},
        {"decode -o", 2, "mpfix: -o needs a directory"},
        {"", 2, "mpfix: no command given"},
        {"frobnicate", 2, "mpfix: unknown command frobnicate"},
    };
    for (const Case &c : cases) {
        const ToolRun r = run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args;
        EXPECT_EQ(r.err, c.message + "\n" + (c.exitCode == 2 ? usage : "")) << c.args;
        EXPECT_TRUE(r.out.empty()) << c.args;
        EXPECT_EQ(fileCount(), 2u) << c.args;  // the two inputs only
    }
}

TEST_F(ToolTest, VersionAndQuiet) {
    const ToolRun version = run("--version");
    EXPECT_EQ(version.exitCode, 0);
    const std::string first = version.out.substr(0, version.out.find('\n'));
    EXPECT_EQ(first.rfind("mpfix ", 0), 0u) << first;
    EXPECT_EQ(first.find_first_not_of("0123456789.", 6), std::string::npos) << first;
    EXPECT_EQ(std::count(first.begin(), first.end(), '.'), 2) << first;

    const ToolRun quiet =
        run("decode -q '" + fixtureDir() + "/gapless_mpeg1_44k_stereo_vbr.mp3' '" + path("q.wav") + "'");
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, "");
    EXPECT_TRUE(fs::exists(path("q.wav")));
}

// Standard input and any other non-seekable input: the bytes the decoder's
// probe consumed are delivered again, so a pipe gives what the file gives.
TEST_F(ToolTest, PipeEqualsFile) {
    for (const char *stem : {"mpeg1_44k_joint_cbr128", "mpeg25_12k_joint_vbr", "gapless_mpeg1_44k_stereo_vbr"}) {
        const std::string input = fixtureDir() + "/" + stem + ".mp3";
        const ToolRun file = run("decode '" + input + "' '" + path("file.wav") + "'");
        ASSERT_EQ(file.exitCode, 0) << file.err;
        for (const char *in : {"-", "/dev/stdin"}) {
            const ToolRun pipe =
                run(std::string("decode ") + in + " '" + path("pipe.wav") + "'", "cat '" + input + "' | ");
            ASSERT_EQ(pipe.exitCode, 0) << pipe.err;
            EXPECT_EQ(pipe.err, "") << in;
            EXPECT_EQ(loadBytes(path("pipe.wav")), loadBytes(path("file.wav"))) << stem << " through " << in;
        }
        const ToolRun raw = run("decode - -", "cat '" + input + "' | ");
        ASSERT_EQ(raw.exitCode, 0) << raw.err;
        const auto wav = loadBytes(path("file.wav"));
        EXPECT_EQ(std::vector<uint8_t>(raw.out.begin(), raw.out.end()),
                  std::vector<uint8_t>(wav.begin() + 44, wav.end()))
            << stem;
    }
}

// Lame files with an information frame: decoded to the length of their
// source, as `lame --decode` and mpg123 do (tests/data/gapless.txt).
TEST_F(ToolTest, GaplessLengthEqualsTheSource) {
    struct Case {
        const char *stem;
        size_t channels;
        size_t infoFrameBytes;  // the Xing or Info frame, first in the file
        size_t frames;          // audio frames the tag counts
        size_t samplesPerFrame;
        size_t delay, padding;  // from the LAME tag
        size_t sourceSamples;   // per channel; lame --decode and mpg123 give the same
    };
    const Case cases[] = {
        {"gapless_mpeg1_44k_stereo_vbr", 2, 417, 50, 1152, 576, 1295, 55729},
        {"gapless_mpeg2_22k_mono_cbr64", 1, 208, 37, 576, 576, 668, 20068},
    };
    for (const Case &c : cases) {
        const std::string input = fixtureDir() + "/" + c.stem + ".mp3";
        const auto mp3 = loadBytes(input);
        ASSERT_GT(mp3.size(), c.infoFrameBytes);
        // Every sample of every audio frame: what the library decodes without the information frame.
        const auto all =
            decodeStream(std::vector<uint8_t>(mp3.begin() + static_cast<std::ptrdiff_t>(c.infoFrameBytes), mp3.end())).pcm;
        ASSERT_EQ(all.size(), c.frames * c.samplesPerFrame * c.channels) << c.stem;

        const ToolRun every = run("decode --no-gapless '" + input + "' -");
        ASSERT_EQ(every.exitCode, 0) << every.err;
        EXPECT_EQ(mpfix::test::pcmFromBytes(std::vector<uint8_t>(every.out.begin(), every.out.end())), all) << c.stem;

        const ToolRun gapless = run("decode '" + input + "' '" + path("out.wav") + "'");
        ASSERT_EQ(gapless.exitCode, 0) << gapless.err;
        EXPECT_NE(gapless.out.find("gapless"), std::string::npos) << gapless.out;
        const auto wav = loadBytes(path("out.wav"));
        ASSERT_GE(wav.size(), 44u);
        EXPECT_EQ(le32(wav, 40), c.sourceSamples * c.channels * 2) << c.stem;
        const auto pcm = mpfix::test::pcmFromBytes(std::span(wav).subspan(44));
        ASSERT_EQ(pcm.size(), c.sourceSamples * c.channels) << c.stem;
        // The encoder delay and the decoder's 529 samples go at the start, the padding at the end.
        const auto start = all.begin() + static_cast<std::ptrdiff_t>((c.delay + 529) * c.channels);
        EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), start)) << c.stem;
        EXPECT_EQ(c.frames * c.samplesPerFrame - c.delay - c.padding, c.sourceSamples);
    }
}

TEST_F(ToolTest, OutputFollowsSymlinksAndKeepsModeAndLinks) {
    const std::string input = fixtureDir() + "/mpeg2_24k_mono_vbr.mp3";
    ASSERT_EQ(run("decode '" + input + "' '" + path("plain.wav") + "'").exitCode, 0);
    const auto expected = loadBytes(path("plain.wav"));
    writeFile(path("target.wav"), {1, 2, 3});
    ASSERT_EQ(::chmod(path("target.wav").c_str(), 0600), 0);
    fs::create_hard_link(path("target.wav"), path("hardlink.wav"));
    fs::create_symlink("target.wav", path("link.wav"));
    const ToolRun r = run("decode '" + input + "' '" + path("link.wav") + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(path("link.wav")));
    EXPECT_EQ(loadBytes(path("target.wav")), expected);
    EXPECT_EQ(loadBytes(path("hardlink.wav")), expected);
    EXPECT_EQ(fs::hard_link_count(path("target.wav")), 2u);
    EXPECT_EQ(fs::status(path("target.wav")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // A link to a file that does not exist yet creates that file.
    fs::create_symlink("new.wav", path("dangling.wav"));
    ASSERT_EQ(run("decode '" + input + "' '" + path("dangling.wav") + "'").exitCode, 0);
    EXPECT_TRUE(fs::is_symlink(path("dangling.wav")));
    EXPECT_EQ(loadBytes(path("new.wav")), expected);
}

TEST_F(ToolTest, OutputIntoFifoAndDevicesIsWrittenStraight) {
    const std::string input = fixtureDir() + "/mpeg1_32k_mono_crc.mp3";
    ASSERT_EQ(run("decode '" + input + "' '" + path("plain.wav") + "'").exitCode, 0);
    const auto expected = loadBytes(path("plain.wav"));
    ASSERT_GT(expected.size(), 44u);

    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    const ToolRun r = run("decode '" + input + "' '" + path("fifo") + "'",
                          "cat '" + path("fifo") + "' >'" + path("got.wav") + "' & ", "; s=$?; wait; exit $s");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_fifo(path("fifo")));
    const auto got = loadBytes(path("got.wav"));
    ASSERT_EQ(got.size(), expected.size());
    // A FIFO cannot be rewound: the sizes in the header stay "unknown".
    EXPECT_EQ(le32(got, 4), 0xFFFFFFFFu);
    EXPECT_EQ(le32(got, 40), 0xFFFFFFFFu);
    EXPECT_TRUE(std::equal(got.begin() + 44, got.end(), expected.begin() + 44));

    for (const char *device : {"/dev/null", "/dev/stdout"}) {
        const ToolRun d = run("decode -q '" + input + "' " + device);
        EXPECT_EQ(d.exitCode, 0) << device << ": " << d.err;
        EXPECT_EQ(d.err, "") << device;
        if (std::string(device) == "/dev/stdout") {
            // Here standard output is a regular file: the header gets its sizes.
            EXPECT_EQ(std::vector<uint8_t>(d.out.begin(), d.out.end()), expected);
        }
    }
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST_F(ToolTest, TruncatedLastFrameWarnsAndExitsZero) {
    const auto mp3 = loadBytes(fixtureDir() + "/mpeg1_44k_joint_cbr128.mp3");
    const std::vector<uint8_t> cut(mp3.begin(), mp3.end() - 200);  // the last frame has 417 or 418 bytes
    writeFile(path("cut.mp3"), cut);
    const ToolRun r = run("decode '" + path("cut.mp3") + "' -");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("mpfix: warning: " + path("cut.mp3") + ": the last frame is cut short ("), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(" bytes) and was not decoded\n"), std::string::npos) << r.err;
    EXPECT_EQ(mpfix::test::pcmFromBytes(std::vector<uint8_t>(r.out.begin(), r.out.end())), decodeStream(cut).pcm);

    const ToolRun info = run("info '" + path("cut.mp3") + "'");
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("frames: 33\n"), std::string::npos) << "34 frames, the last cut short: " << info.out;
    EXPECT_NE(info.err.find("the last frame is cut short ("), std::string::npos) << info.err;
    EXPECT_NE(info.err.find(" bytes) and is not counted\n"), std::string::npos) << info.err;

    const ToolRun whole = run("decode '" + fixtureDir() + "/mpeg1_44k_joint_cbr128.mp3' -");
    EXPECT_EQ(whole.err.find("warning"), std::string::npos) << whole.err;
}

TEST_F(ToolTest, SeveralInputs) {
    const std::string a = fixtureDir() + "/mpeg2_16k_stereo_crc.mp3",
                      b = fixtureDir() + "/mpeg25_8k_mono_transients.mp3";
    fs::create_directories(path("outdir"));
    const ToolRun r = run("decode -o '" + path("outdir") + "' '" + a + "' '" + path("missing.mp3") + "' '" + b + "'");
    EXPECT_EQ(r.exitCode, 1) << "one input failed";
    EXPECT_NE(r.err.find("cannot open " + path("missing.mp3")), std::string::npos) << r.err;
    EXPECT_NE(r.out.find(a + ": "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(b + ": "), std::string::npos) << r.out;
    for (const std::string &in : {a, b}) {
        const std::string stem = fs::path(in).stem().string();
        ASSERT_EQ(run("decode '" + in + "' '" + path("one.wav") + "'").exitCode, 0);
        EXPECT_EQ(loadBytes(path("outdir") + "/" + stem + ".wav"), loadBytes(path("one.wav"))) << stem;
    }
    EXPECT_FALSE(fs::exists(path("outdir/missing.wav")));

    const ToolRun info = run("info '" + a + "' '" + b + "'");
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_EQ(info.out.find("file: " + a + "\nversion: MPEG-2 Layer III\n"), 0u) << info.out;
    EXPECT_NE(info.out.find("\n\nfile: " + b + "\nversion: MPEG-2.5 Layer III\n"), std::string::npos) << info.out;
}

}  // namespace
