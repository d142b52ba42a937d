#include "stream_scan.h"

#include <algorithm>
#include <cstring>

namespace mpfix::tool {

namespace {

// Layer III bitrates in kbit/s by bitrate_index (ISO/IEC 11172-3 Table 2.4.2.3,
// ISO/IEC 13818-3 Table 2.4.2.3 for the low sampling frequencies); index 0 is
// free format, 15 is forbidden.
constexpr int kBitrateMpeg1[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int kBitrateLow[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr int kRateMpeg1[3] = {44100, 48000, 32000};  // halved for MPEG-2, quartered for MPEG-2.5

uint32_t be32(const uint8_t *p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

// CRC-16 with the reflected polynomial 0xA001, initial value 0: the checksum
// the LAME tag carries over the frame's bytes in front of it.
uint16_t crc16Arc(const uint8_t *data, size_t size) {
    uint32_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return static_cast<uint16_t>(crc);
}

bool knownEncoder(const char *name) {
    for (const char *prefix : {"LAME", "Lavf", "Lavc", "L3.99"}) {
        if (std::strncmp(name, prefix, std::strlen(prefix)) == 0) return true;
    }
    return false;
}

// The LAME tag begins right after the Xing fields. Its 36 bytes: encoder
// name (9), revision and VBR method, lowpass, peak (4), two replay gains (2
// each), flags, bitrate, delay and padding (12 bits each), misc, MP3 gain,
// preset (2), music length (4), music CRC (2), tag CRC (2).
void parseLameTag(const uint8_t *frame, size_t size, size_t at, InfoFrame &out) {
    constexpr size_t kTagBytes = 36;
    if (at + kTagBytes > size) return;
    const uint8_t *tag = frame + at;
    char name[10] = {};
    std::memcpy(name, tag, 9);
    const bool crcMatches = crc16Arc(frame, at + 34) == (tag[34] << 8 | tag[35]);
    if (!crcMatches && !knownEncoder(name)) return;
    out.hasLameTag = true;
    size_t length = 0;
    while (length < 9 && name[length] >= 0x20 && name[length] < 0x7F) ++length;
    out.encoder.assign(name, length);
    while (!out.encoder.empty() && out.encoder.back() == ' ') out.encoder.pop_back();
    out.delay = tag[21] << 4 | tag[22] >> 4;
    out.padding = (tag[22] & 0x0F) << 8 | tag[23];
}

}  // namespace

const char *versionName(MpegVersion version) {
    switch (version) {
        case MpegVersion::Mpeg1:
            return "MPEG-1";
        case MpegVersion::Mpeg2:
            return "MPEG-2";
        case MpegVersion::Mpeg25:
            return "MPEG-2.5";
    }
    return "?";
}

const char *modeName(int mode) {
    static const char *const kNames[4] = {"stereo", "joint stereo", "dual channel", "single channel"};
    return kNames[mode & 3];
}

bool parseHeader(const uint8_t *h, FrameHeader &out, bool allowFree) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
    const int versionBits = (h[1] >> 3) & 3;  // 0 MPEG-2.5, 1 reserved, 2 MPEG-2, 3 MPEG-1
    const int layerBits = (h[1] >> 1) & 3;    // 1 = Layer III
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (versionBits == 1 || layerBits != 1 || bitrateIndex == 15 || rateIndex == 3) return false;
    if (bitrateIndex == 0 && !allowFree) return false;
    FrameHeader f;
    f.version = versionBits == 3 ? MpegVersion::Mpeg1 : versionBits == 2 ? MpegVersion::Mpeg2 : MpegVersion::Mpeg25;
    const bool mpeg1 = f.version == MpegVersion::Mpeg1;
    f.sampleRate = kRateMpeg1[rateIndex] >> (mpeg1 ? 0 : f.version == MpegVersion::Mpeg2 ? 1 : 2);
    f.mode = h[3] >> 6;
    f.channels = f.mode == 3 ? 1 : 2;
    f.bitrateKbps = mpeg1 ? kBitrateMpeg1[bitrateIndex] : kBitrateLow[bitrateIndex];
    f.samples = mpeg1 ? 1152 : 576;
    // Bytes per frame: samples / 8 x bitrate / sample rate, plus the padding slot.
    f.padding = (h[2] >> 1) & 1;
    f.freeFormat = bitrateIndex == 0;
    f.frameBytes = f.freeFormat ? 0 : (mpeg1 ? 144000 : 72000) * f.bitrateKbps / f.sampleRate + f.padding;
    f.sideInfoBytes = mpeg1 ? (f.channels == 1 ? 17 : 32) : (f.channels == 1 ? 9 : 17);
    f.crc = (h[1] & 1) == 0;
    out = f;
    return true;
}

bool sameStream(const FrameHeader &a, const FrameHeader &b) {
    return a.version == b.version && a.sampleRate == b.sampleRate && a.freeFormat == b.freeFormat;
}

bool parseInfoFrame(const uint8_t *frame, size_t size, const FrameHeader &header, InfoFrame &out) {
    // The tag stands where the side information ends; look behind a CRC word too.
    const size_t plain = 4 + static_cast<size_t>(header.sideInfoBytes);
    for (const size_t at : {plain + (header.crc ? 2 : 0), plain}) {
        if (at + 8 > size) continue;
        const bool xing = std::memcmp(frame + at, "Xing", 4) == 0;
        if (!xing && std::memcmp(frame + at, "Info", 4) != 0) continue;
        InfoFrame info;
        info.vbr = xing;
        const uint32_t flags = be32(frame + at + 4);
        size_t p = at + 8;
        if (flags & 1) {
            if (p + 4 > size) return false;
            info.hasFrames = true;
            info.frames = be32(frame + p);
            p += 4;
        }
        if (flags & 2) {
            if (p + 4 > size) return false;
            info.hasBytes = true;
            info.bytes = be32(frame + p);
            p += 4;
        }
        if (flags & 4) p += 100;  // seek table
        if (flags & 8) p += 4;    // quality
        parseLameTag(frame, size, p, info);
        out = info;
        return true;
    }
    return false;
}

bool findFirstFrame(const uint8_t *data, size_t size, bool atEnd, size_t &offset, FrameHeader &header) {
    for (size_t i = 0; i + 4 <= size; ++i) {
        FrameHeader h, next;
        if (!parseHeader(data + i, h)) continue;
        const size_t end = i + static_cast<size_t>(h.frameBytes);
        const bool confirmed =
            end + 4 <= size ? parseHeader(data + end, next) && sameStream(h, next) : atEnd && end == size;
        if (confirmed) {
            offset = i;
            header = h;
            return true;
        }
    }
    return false;
}

void FrameScanner::count(const Frame &frame) {
    if (frames_ == 0) {
        first_ = frame.header;
        firstOffset_ = frame.offset;
        minKbps_ = maxKbps_ = frame.header.bitrateKbps;
    }
    ++frames_;
    bytes_ += static_cast<uint64_t>(frame.header.frameBytes);
    minKbps_ = std::min(minKbps_, frame.header.bitrateKbps);
    maxKbps_ = std::max(maxKbps_, frame.header.bitrateKbps);
}

void FrameScanner::sized(FrameHeader &h) const {
    if (!h.freeFormat || freeBytes_ == 0) return;
    h.frameBytes = freeBytes_ + h.padding;
    h.bitrateKbps = (h.frameBytes - h.padding) * h.sampleRate / (h.samples == 1152 ? 144000 : 72000);
}

// The four bytes in window_ begin at offset `at`.
void FrameScanner::header(uint64_t at) {
    uint8_t h[4];
    for (int i = 0; i < 4; ++i) h[i] = static_cast<uint8_t>(window_ >> (24 - 8 * i));
    FrameHeader next;
    const bool valid = parseHeader(h, next, true);
    if (valid) sized(next);
    if (locked_) {
        if (at != current_.end()) return;  // inside the current frame
        count(current_);                   // it led here, and all of it has arrived
        if (valid && sameStream(current_.header, next) && next.frameBytes > 0) {
            current_ = {at, next};
        } else {
            locked_ = false;  // junk or another stream after the frame: search again from here
            if (valid) candidates_.push_back({at, next});
        }
        return;
    }
    // A free-format candidate waits for the next free-format header as long
    // as the largest frame could be (320 kbit/s at 8 kHz, padded).
    constexpr uint64_t kLongestFree = 2881;
    std::erase_if(candidates_, [at](const Frame &c) {
        return c.header.frameBytes > 0 ? c.end() < at : at - c.offset > kLongestFree;
    });
    if (!valid) return;
    for (Frame &c : candidates_) {
        if (!sameStream(c.header, next)) continue;
        if (c.header.frameBytes == 0 && at - c.offset >= 24) {
            // Two free-format headers of one stream: the distance is the frame size.
            freeBytes_ = static_cast<int>(at - c.offset) - c.header.padding;
            sized(c.header);
            sized(next);
        }
        if (c.header.frameBytes > 0 && c.end() == at) {
            count(c);
            current_ = {at, next};
            locked_ = true;
            candidates_.clear();
            return;
        }
    }
    if (candidates_.size() >= 64) candidates_.erase(candidates_.begin());
    candidates_.push_back({at, next});
}

void FrameScanner::feed(const uint8_t *data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        window_ = window_ << 8 | data[i];
        ++position_;
        // Only a sync pattern can begin a frame, but a locked scan must also
        // see the byte where the current frame ends.
        if (position_ >= 4 && ((window_ >> 21) == 0x7FF || (locked_ && position_ - 4 == current_.end()))) {
            header(position_ - 4);
        }
    }
}

void FrameScanner::finish() {
    if (locked_) {
        if (current_.end() <= position_) {
            count(current_);
        } else {
            truncated_ = true;
            truncatedHave_ = position_ - current_.offset;
            truncatedNeed_ = current_.header.frameBytes;
        }
        locked_ = false;
    } else if (frames_ == 0) {
        // A stream of one frame has no successor to confirm it: it must fill the input exactly.
        for (const Frame &c : candidates_) {
            if (c.offset == 0 && c.end() == position_) {
                count(c);
                break;
            }
        }
    }
    candidates_.clear();
}

}  // namespace mpfix::tool
