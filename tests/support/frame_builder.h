// Test-only Layer III frames built from chosen header fields: side information
// with every granule empty (part2_3_length 0, so the frame decodes to
// silence) and main data of chosen bytes.
#ifndef MPFIX_TESTS_SUPPORT_FRAME_BUILDER_H
#define MPFIX_TESTS_SUPPORT_FRAME_BUILDER_H

#include <cstdint>
#include <vector>

#include "support/bit_writer.h"

namespace mpfix::test {

struct FrameFields {
    bool mpeg25 = false;        // sync 0xFFE
    int id = 1;                 // 1 MPEG-1, 0 MPEG-2 / 2.5
    int bitrateIndex = 9;       // 128 kbit/s in MPEG-1
    int samplingFrequency = 0;  // 44100 Hz in MPEG-1
    int padding = 0;
    int mode = 0;               // 3 = single channel
    bool crc = false;
    int mainDataBegin = 0;
    uint8_t fill = 0;           // value of every main-data byte
};

inline int frameBytes(const FrameFields &f) {
    static const int kMpeg1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int kMpeg2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int kRates[] = {44100, 48000, 32000};
    const int divisor = f.id == 1 ? 1 : (f.mpeg25 ? 4 : 2);
    const int rate = kRates[f.samplingFrequency] / divisor;
    const int kbps = f.id == 1 ? kMpeg1[f.bitrateIndex] : kMpeg2[f.bitrateIndex];
    return (f.id == 1 ? 144 : 72) * kbps * 1000 / rate + f.padding;
}

inline int sideInfoBytes(const FrameFields &f) {
    if (f.id == 1) return f.mode == 3 ? 17 : 32;
    return f.mode == 3 ? 9 : 17;
}

inline int mainDataBytes(const FrameFields &f) { return frameBytes(f) - 4 - (f.crc ? 2 : 0) - sideInfoBytes(f); }

inline std::vector<uint8_t> buildFrame(const FrameFields &f) {
    BitWriter w;
    w.put(f.mpeg25 ? 0xFFE : 0xFFF, 12);
    w.put(static_cast<uint32_t>(f.id), 1);
    w.put(1, 2);  // Layer III
    w.put(f.crc ? 0 : 1, 1);
    w.put(static_cast<uint32_t>(f.bitrateIndex), 4);
    w.put(static_cast<uint32_t>(f.samplingFrequency), 2);
    w.put(static_cast<uint32_t>(f.padding), 1);
    w.put(0, 1);
    w.put(static_cast<uint32_t>(f.mode), 2);
    w.put(0, 6);
    if (f.crc) w.put(0x1234, 16);
    const int nch = f.mode == 3 ? 1 : 2;
    if (f.id == 1) {
        w.put(static_cast<uint32_t>(f.mainDataBegin), 9);
        w.put(0, nch == 1 ? 5 : 3);
        w.put(0, 4 * nch);
    } else {
        w.put(static_cast<uint32_t>(f.mainDataBegin), 8);
        w.put(0, nch);
    }
    const int granules = f.id == 1 ? 2 : 1;
    const int recordBits = f.id == 1 ? 59 : 63;
    for (int i = 0; i < granules * nch * recordBits; ++i) w.putBit(0);
    w.align();
    std::vector<uint8_t> frame = w.bytes();
    frame.resize(static_cast<size_t>(frameBytes(f)), f.fill);
    return frame;
}

inline std::vector<uint8_t> buildFrames(const FrameFields &f, int count) {
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) {
        const auto frame = buildFrame(f);
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return out;
}

}  // namespace mpfix::test

#endif  // MPFIX_TESTS_SUPPORT_FRAME_BUILDER_H
