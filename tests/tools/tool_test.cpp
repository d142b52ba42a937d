// The mpfix command-line tool, run as a user would: WAV and raw output equal
// to what the library decodes, stream info, BMP pixels equal to the
// converter's, and every error with its exit code and no output left behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/wait.h>

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

    // Runs the tool with the given arguments (already quoted as needed).
    ToolRun run(const std::string &args) const {
        const std::string out = path("stdout.txt"), err = path("stderr.txt");
        const std::string command = std::string(MPFIX_TOOL_EMULATOR) + " '" + MPFIX_TOOL_PATH + "' " + args + " >'" +
                                    out + "' 2>'" + err + "'";
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
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
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

const char *const kFixtures[] = {"mpeg1_44k_joint_cbr128", "mpeg2_24k_mono_vbr", "mpeg25_11k_stereo_cbr64"};

TEST_F(ToolTest, DecodeWritesWavOfTheLibraryOutput) {
    for (const char *stem : kFixtures) {
        const std::string input = fixtureDir() + "/" + stem + ".mp3";
        const auto expected = decodeStream(loadBytes(input));
        const ToolRun r = run("decode '" + input + "' '" + path("out.wav") + "'");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.err.find("frames"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(std::to_string(expected.sampleRate) + " Hz"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("real time"), std::string::npos) << r.err;

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
}

TEST_F(ToolTest, DecodeSkipsAnId3v2Tag) {
    const std::string input = fixtureDir() + "/mpeg2_22k_joint_cbr64.mp3";
    auto tagged = std::vector<uint8_t>{'I', 'D', '3', 4, 0, 0, 0, 0, 1, 0};  // 128-byte body
    for (int i = 0; i < 128; ++i) tagged.push_back(i % 2 ? 0xFB : 0xFF);  // sync-like bytes inside the tag
    const auto mp3 = loadBytes(input);
    tagged.insert(tagged.end(), mp3.begin(), mp3.end());
    writeFile(path("tagged.mp3"), tagged);
    const ToolRun r = run("decode '" + path("tagged.mp3") + "' -");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<uint8_t> raw(r.out.begin(), r.out.end());
    EXPECT_EQ(mpfix::test::pcmFromBytes(raw), decodeStream(mp3).pcm);
}

TEST_F(ToolTest, InfoDescribesTheStream) {
    const ToolRun r = run("info '" + fixtureDir() + "/mpeg25_11k_stereo_cbr64.mp3'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char *line : {"version: MPEG-2.5 Layer III\n", "sample rate: 11025 Hz\n", "channels: 2\n",
                             "bitrate: 64 kbit/s", "frames: 19\n", "duration: 0.993 s\n"}) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
    }
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
    struct Case {
        std::string args;
        int exitCode;
        std::string message;
    };
    const Case cases[] = {
        {"decode '" + path("missing.mp3") + "' '" + path("out.wav") + "'", 1, "cannot open"},
        {"decode '" + path("text.mp3") + "' '" + path("out.wav") + "'", 1, "no MPEG audio Layer III frames found"},
        {"decode '" + path("text.mp3") + "' -", 1, "no MPEG audio Layer III frames found"},
        {"info '" + path("text.mp3") + "'", 1, "no MPEG audio Layer III frames found"},
        {"yuv2bmp '" + path("short.yuv") + "' 16 16 '" + path("out.bmp") + "'", 1, "too short"},
        {"yuv2bmp '" + path("short.yuv") + "' 0 16 '" + path("out.bmp") + "'", 1, "bad dimension"},
        {"decode '" + path("text.mp3") + "'", 2, "usage:"},
        {"", 2, "usage:"},
        {"frobnicate", 2, "usage:"},
    };
    for (const Case &c : cases) {
        const ToolRun r = run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.exitCode == 2 ? 4 : 1) << r.err;
        EXPECT_TRUE(r.out.empty()) << c.args;
        EXPECT_EQ(fileCount(), 2u) << c.args;  // the two inputs only
    }
}

}  // namespace
