// What the tool reads from a Layer III stream without decoding it: frame
// headers (ISO/IEC 11172-3 2.4.2.3, ISO/IEC 13818-3), the Xing/Info
// information frame with its LAME tag (encoder delay and padding), and a
// header scan that follows confirmed frames through a stream fed in pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mpfix::tool {

enum class MpegVersion { Mpeg1, Mpeg2, Mpeg25 };

const char *versionName(MpegVersion version);
const char *modeName(int mode);

struct FrameHeader {
    MpegVersion version = MpegVersion::Mpeg1;
    int sampleRate = 0;  // Hz
    int mode = 0;        // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int channels = 0;
    int bitrateKbps = 0;
    int frameBytes = 0;     // whole frame, header included
    int samples = 0;        // per channel: 1152 (MPEG-1) or 576
    int sideInfoBytes = 0;  // 32 or 17 (MPEG-1), 17 or 9
    bool crc = false;       // a CRC word follows the header
    bool freeFormat = false;  // bitrate_index 0: the size is the distance to the next header
    int padding = 0;          // 1 when the frame has the padding slot
};

// Parses the four header bytes at h. False unless they begin a Layer III
// frame with a sample rate and a bitrate that give its size; with allowFree,
// free-format headers pass too (bitrateKbps and frameBytes 0: the size is
// learnt from the distance between two of them).
bool parseHeader(const uint8_t *h, FrameHeader &out, bool allowFree = false);

// Frames of one stream share version, sample rate and free format or not.
bool sameStream(const FrameHeader &a, const FrameHeader &b);

// The Xing ("Xing": VBR) or Info ("Info": CBR) frame an encoder puts first,
// and the LAME tag behind it.
struct InfoFrame {
    bool vbr = false;
    bool hasFrames = false;
    uint32_t frames = 0;  // audio frames, the information frame not included
    bool hasBytes = false;
    uint32_t bytes = 0;  // bytes of the stream, the information frame included
    bool hasLameTag = false;
    std::string encoder;  // e.g. "LAME3.100"
    int delay = 0;        // encoder delay in samples per channel
    int padding = 0;      // samples per channel added at the end
};

// Reads the information frame from the bytes of one whole frame (frame[0]
// is its header). False when the frame is ordinary audio.
bool parseInfoFrame(const uint8_t *frame, size_t size, const FrameHeader &header, InfoFrame &out);

// The first frame of data[0..size) whose successor follows at the offset its
// size gives (or that ends exactly at the end of the input, when atEnd).
bool findFirstFrame(const uint8_t *data, size_t size, bool atEnd, size_t &offset, FrameHeader &header);

// Follows frames through a stream fed in pieces. A frame counts when the
// frame before it led to it or when its successor confirms it, so a false
// sync pattern in junk is not taken for a frame. finish() reports a last
// frame that the input cut short.
class FrameScanner {
public:
    void feed(const uint8_t *data, size_t size);
    void finish();

    long frames() const { return frames_; }
    uint64_t frameBytes() const { return bytes_; }  // sum of the counted frames' sizes
    int minKbps() const { return minKbps_; }
    int maxKbps() const { return maxKbps_; }
    const FrameHeader &first() const { return first_; }  // of the first counted frame
    uint64_t firstOffset() const { return firstOffset_; }

    bool truncated() const { return truncated_; }
    uint64_t truncatedHave() const { return truncatedHave_; }  // bytes present of the cut frame
    int truncatedNeed() const { return truncatedNeed_; }       // its size

private:
    struct Frame {
        uint64_t offset;
        FrameHeader header;
        uint64_t end() const { return offset + static_cast<uint64_t>(header.frameBytes); }
    };
    void count(const Frame &frame);
    void header(uint64_t at);
    void sized(FrameHeader &h) const;  // a free-format frame's size, once learnt


    uint64_t position_ = 0;  // offset of the next byte fed
    uint32_t window_ = 0;    // the last four bytes
    bool locked_ = false;    // following a chain of frames: current_ is its newest
    Frame current_{};
    std::vector<Frame> candidates_;  // unconfirmed frames, while not locked
    int freeBytes_ = 0;              // size of an unpadded free-format frame, once learnt
    long frames_ = 0;
    uint64_t bytes_ = 0;
    int minKbps_ = 0, maxKbps_ = 0;
    FrameHeader first_{};
    uint64_t firstOffset_ = 0;
    bool truncated_ = false;
    uint64_t truncatedHave_ = 0;
    int truncatedNeed_ = 0;
};

}  // namespace mpfix::tool
