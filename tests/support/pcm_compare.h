// Helpers for tests that compare decoded PCM with a reference: load files,
// load 16-bit little-endian PCM, and measure PSNR and the largest difference.
// Also reads tests/data/fixtures.txt, the list of the committed test streams.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <span>
#include <sstream>
#include <string>
#include <vector>

namespace mpfix::test {

// The whole file; empty when it cannot be read (callers assert non-empty).
inline std::vector<std::uint8_t> loadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

// Signed 16-bit little-endian samples, whatever the host's byte order; an odd
// trailing byte is ignored.
inline std::vector<std::int16_t> pcmFromBytes(std::span<const std::uint8_t> bytes) {
    std::vector<std::int16_t> pcm(bytes.size() / 2);
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        const auto bits = static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        pcm[i] = static_cast<std::int16_t>(bits);  // modular since C++20
    }
    return pcm;
}

inline std::vector<std::int16_t> loadPcm16(const std::string& path) {
    const std::vector<std::uint8_t> bytes = loadBytes(path);
    return pcmFromBytes(bytes);
}

struct PcmComparison {
    std::size_t compared = 0;  // samples compared: the shorter of the two lengths
    double mse = 0.0;          // mean squared difference
    double psnr = 0.0;         // dB; +infinity when identical, 0 when nothing was compared
    int maxAbsDiff = 0;        // largest absolute sample difference
};

// PSNR = 10 log10(32767^2 / MSE) over the shorter length, both aligned at sample 0.
// Comparing nothing gives 0 dB, so an empty decode never passes a PSNR floor.
inline PcmComparison comparePcm(std::span<const std::int16_t> decoded,
                                std::span<const std::int16_t> reference) {
    PcmComparison result;
    result.compared = std::min(decoded.size(), reference.size());
    if (result.compared == 0) return result;
    std::uint64_t sumSquares = 0;  // exact: at most 65535^2 per sample
    for (std::size_t i = 0; i < result.compared; ++i) {
        const int diff = std::abs(int{decoded[i]} - int{reference[i]});
        result.maxAbsDiff = std::max(result.maxAbsDiff, diff);
        sumSquares += static_cast<std::uint64_t>(diff) * static_cast<std::uint64_t>(diff);
    }
    result.mse = static_cast<double>(sumSquares) / static_cast<double>(result.compared);
    result.psnr = sumSquares == 0 ? std::numeric_limits<double>::infinity()
                                  : 10.0 * std::log10(32767.0 * 32767.0 / result.mse);
    return result;
}

// One line of tests/data/fixtures.txt.
struct FixtureInfo {
    std::string file;        // NAME.mp3; the reference is NAME.pcm beside it
    std::string version;     // "1", "2" or "2.5"
    int sampleRate = 0;      // Hz
    int channels = 0;        // 1 or 2
    std::string mode;        // stereo, joint, dual or mono
    int frames = 0;          // Layer III frames in the file
    std::size_t pcmValues = 0;  // 16-bit values in the reference: frames x samples x channels
    std::string bitrate;     // kbit/s, or vbr:MIN-MAX
    bool crc = false;        // every frame carries a CRC word
    std::array<int, 4> blockTypes{};  // granule-channels of block_type 0, 1, 2, 3
    int msFrames = 0;        // frames that use M/S stereo
    std::string notes;

    int samplesPerFrame() const { return version == "1" ? 1152 : 576; }
    std::string stem() const { return file.substr(0, file.rfind('.')); }
};

inline std::string fixtureDir() { return std::string(MPFIX_SOURCE_DIR) + "/tests/data"; }

// The fixtures listed in the manifest; empty when it cannot be read.
inline std::vector<FixtureInfo> loadFixtureList(const std::string& path = fixtureDir() +
                                                                          "/fixtures.txt") {
    std::vector<FixtureInfo> list;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        FixtureInfo info;
        std::string crc, blocks;
        fields >> info.file >> info.version >> info.sampleRate >> info.channels >> info.mode >>
            info.frames >> info.pcmValues >> info.bitrate >> crc >> blocks >> info.msFrames;
        if (!fields) continue;  // a malformed line is left out; tests check the count
        info.crc = crc == "yes";
        std::istringstream types(blocks);
        for (int& count : info.blockTypes) {
            types >> count;
            types.ignore(1, '/');
        }
        std::getline(fields >> std::ws, info.notes);
        list.push_back(info);
    }
    return list;
}

}  // namespace mpfix::test
