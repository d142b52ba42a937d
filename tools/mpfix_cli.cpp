// mpfix: decode MPEG audio Layer III files to WAV, describe them, and convert
// YUV 4:2:0 frames to BMP. A plain host of the shared library: it uses only
// the public header, as any application would.
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "mpfix.h"

namespace {

const char kUsage[] =
    "usage: mpfix decode IN.mp3 OUT.wav   decode to a 16-bit PCM WAV file ('-' writes raw PCM to stdout)\n"
    "       mpfix info IN.mp3             describe the stream\n"
    "       mpfix yuv2bmp IN.yuv WIDTH HEIGHT OUT.bmp\n"
    "                                     convert a planar YUV 4:2:0 frame to a 16-bit RGB565 BMP\n";

// Largest frame: MPEG-1 stereo, 2 granules x 576 samples x 2 channels. The
// tool decodes one frame per call, so this buffer fits every stream, also
// one whose channel count changes between frames.
constexpr int32_t kMaxFrameSamples = 2304;

struct Failure {
    std::string message;
};

[[noreturn]] void fail(const std::string &message) { throw Failure{message}; }

// ---- Input ------------------------------------------------------------------

struct Source {
    FILE *file = nullptr;
    long start = 0;  // first byte after an ID3v2 tag
};

int32_t readCallback(uint8_t *destination, int32_t maxBytes, void *userData) {
    auto *source = static_cast<Source *>(userData);
    if (maxBytes <= 0) return 0;
    return static_cast<int32_t>(std::fread(destination, 1, static_cast<size_t>(maxBytes), source->file));
}

// Size of an ID3v2 tag at the start of the file (0 when there is none): tags
// are not audio, and skipping them is the host's job.
long id3v2Size(FILE *file) {
    uint8_t h[10];
    if (std::fread(h, 1, sizeof h, file) != sizeof h) return 0;
    if (h[0] != 'I' || h[1] != 'D' || h[2] != '3' || h[3] == 0xFF || h[4] == 0xFF) return 0;
    if ((h[6] | h[7] | h[8] | h[9]) & 0x80) return 0;  // not a syncsafe size
    long size = (long{h[6]} << 21) | (long{h[7]} << 14) | (long{h[8]} << 7) | long{h[9]};
    size += 10;
    if (h[5] & 0x10) size += 10;  // footer
    return size;
}

Source openSource(const char *path) {
    Source source;
    source.file = std::fopen(path, "rb");
    if (source.file == nullptr) fail(std::string("cannot open ") + path + ": " + std::strerror(errno));
    source.start = id3v2Size(source.file);
    if (std::fseek(source.file, source.start, SEEK_SET) != 0) source.start = 0;
    std::fseek(source.file, source.start, SEEK_SET);
    return source;
}

// ---- Output -------------------------------------------------------------------

void put16(std::vector<uint8_t> &out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t> &out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// An output file written under a temporary name and renamed when complete,
// so a failure never leaves a partial file behind.
class OutputFile {
public:
    explicit OutputFile(const std::string &path) : path_(path), temp_(path + ".partial") {
        file_ = std::fopen(temp_.c_str(), "wb");
        if (file_ == nullptr) fail("cannot write " + path + ": " + std::strerror(errno));
    }
    ~OutputFile() {
        if (file_ != nullptr) {
            std::fclose(file_);
            std::remove(temp_.c_str());
        }
    }
    FILE *get() { return file_; }
    void commit() {
        const bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
        std::fclose(file_);
        file_ = nullptr;
        if (!ok || std::rename(temp_.c_str(), path_.c_str()) != 0) {
            std::remove(temp_.c_str());
            fail("cannot write " + path_ + ": " + std::strerror(errno));
        }
    }

private:
    std::string path_;
    std::string temp_;
    FILE *file_ = nullptr;
};

void writeAll(FILE *file, const void *data, size_t bytes) {
    if (bytes != 0 && std::fwrite(data, 1, bytes, file) != bytes) fail(std::string("write failed: ") + std::strerror(errno));
}

std::vector<uint8_t> wavHeader(int32_t rate, int32_t channels, uint32_t dataBytes) {
    std::vector<uint8_t> h;
    const char *riff = "RIFF", *wave = "WAVEfmt ", *data = "data";
    h.insert(h.end(), riff, riff + 4);
    put32(h, 36 + dataBytes);
    h.insert(h.end(), wave, wave + 8);
    put32(h, 16);
    put16(h, 1);  // PCM
    put16(h, static_cast<uint32_t>(channels));
    put32(h, static_cast<uint32_t>(rate));
    put32(h, static_cast<uint32_t>(rate * channels * 2));
    put16(h, static_cast<uint32_t>(channels * 2));
    put16(h, 16);
    h.insert(h.end(), data, data + 4);
    put32(h, dataBytes);
    return h;
}

// ---- Decoding -----------------------------------------------------------------

struct StreamInfo {
    int32_t rate = 0;
    int32_t channels = 0;
    int32_t bufferBytes = 0;
    int32_t granuleSamples = 0;  // samples per channel of one frame
};

struct DecodeTotals {
    long frames = 0;
    long converted = 0;  // frames whose channel count differed from the output's
    long long samplesPerChannel = 0;
    double seconds = 0;  // wall-clock time spent decoding
};

// Records are large (the ring alone is 64 KiB): keep them off the stack.
struct Decoder {
    MP3_Stream stream{};
    MP3_Decoder decoder{};
};

StreamInfo initDecoder(Decoder &d, Source &source) {
    StreamInfo info;
    d.stream.readFn = readCallback;
    d.stream.userData = &source;
    MP3_InitDecoder(&d.stream, &d.decoder, &info.bufferBytes, &info.rate, &info.channels);
    // The probe consumed input: start again at the first frame.
    if (std::fseek(source.file, source.start, SEEK_SET) != 0) fail("cannot reposition the input");
    info.granuleSamples = info.rate >= 32000 ? 1152 : 576;
    return info;
}

// Brings a frame to the output's other channel count (a stream may switch
// between mono and stereo): mono is duplicated, stereo mixed down.
void convertChannels(const int16_t *in, int32_t frames, int32_t inChannels, int32_t outChannels,
                     std::vector<int16_t> &out) {
    out.resize(static_cast<size_t>(frames * outChannels));
    for (int32_t i = 0; i < frames; ++i) {
        if (inChannels == 1) {
            out[static_cast<size_t>(2 * i)] = out[static_cast<size_t>(2 * i + 1)] = in[i];
        } else {
            out[static_cast<size_t>(i)] = static_cast<int16_t>((in[2 * i] + in[2 * i + 1]) >> 1);
        }
    }
}

// Decodes the whole stream one frame per call; sink(samples, count) receives
// each frame's PCM in the output's channel layout.
template <typename Sink>
DecodeTotals decodeAll(Decoder &d, const StreamInfo &info, Sink &&sink, bool progress) {
    DecodeTotals totals;
    std::vector<int16_t> pcm(kMaxFrameSamples);
    std::vector<int16_t> converted;
    const auto begin = std::chrono::steady_clock::now();
    for (;;) {
        int32_t samples = 0;
        const int32_t result = MP3_DecodeFrame(&d.stream, pcm.data(), &samples, 1, &d.decoder);
        if (samples > 0) {
            const int32_t frameChannels = samples / info.granuleSamples;
            if (frameChannels == info.channels) {
                sink(pcm.data(), static_cast<size_t>(samples));
            } else {
                convertChannels(pcm.data(), info.granuleSamples, frameChannels > 0 ? frameChannels : 1,
                                info.channels, converted);
                ++totals.converted;
                sink(converted.data(), converted.size());
            }
            ++totals.frames;
            totals.samplesPerChannel += info.granuleSamples;
            if (progress && totals.frames % 200 == 0) {
                std::fprintf(stderr, "\r%ld frames, %.1f s", totals.frames,
                             static_cast<double>(totals.samplesPerChannel) / info.rate);
            }
        }
        if (result == MP3_INPUT_EXHAUSTED) break;
    }
    totals.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    if (progress) std::fprintf(stderr, "\r\033[K");
    return totals;
}

void requireFrames(const DecodeTotals &totals) {
    if (totals.frames == 0) fail("no MPEG audio Layer III frames found");
}

int commandDecode(const char *inPath, const char *outPath) {
    Source source = openSource(inPath);
    auto d = std::make_unique<Decoder>();
    const StreamInfo info = initDecoder(*d, source);
    const bool toStdout = std::strcmp(outPath, "-") == 0;
    const bool progress = isatty(STDERR_FILENO) != 0;

    DecodeTotals totals;
    if (toStdout) {
        totals = decodeAll(*d, info, [](const int16_t *pcm, size_t count) {
            writeAll(stdout, pcm, count * sizeof(int16_t));
        }, progress);
        std::fflush(stdout);
        std::fclose(source.file);
        requireFrames(totals);
    } else {
        OutputFile out(outPath);
        writeAll(out.get(), wavHeader(info.rate, info.channels, 0).data(), 44);
        uint64_t dataBytes = 0;
        std::vector<uint8_t> bytes(2 * kMaxFrameSamples);
        totals = decodeAll(*d, info, [&](const int16_t *pcm, size_t count) {
            // WAV samples are little-endian, whatever the host's order.
            for (size_t i = 0; i < count; ++i) {
                const auto v = static_cast<uint16_t>(pcm[i]);
                bytes[2 * i] = static_cast<uint8_t>(v);
                bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
            }
            writeAll(out.get(), bytes.data(), 2 * count);
            dataBytes += 2 * count;
        }, progress);
        std::fclose(source.file);
        requireFrames(totals);
        if (dataBytes > 0xFFFFFFFFull - 36) fail("output too large for a WAV file");
        std::fseek(out.get(), 0, SEEK_SET);
        writeAll(out.get(), wavHeader(info.rate, info.channels, static_cast<uint32_t>(dataBytes)).data(), 44);
        out.commit();
    }
    const double duration = static_cast<double>(totals.samplesPerChannel) / info.rate;
    std::string note;
    if (totals.converted > 0) {
        note = " (" + std::to_string(totals.converted) + " frames with another channel count " +
               (info.channels == 1 ? "mixed down)" : "duplicated to both channels)");
    }
    std::fprintf(stderr, "%ld frames, %.2f s, %d Hz, %d channel%s%s, %.1fx real time\n", totals.frames, duration,
                 info.rate, info.channels, info.channels == 1 ? "" : "s", note.c_str(),
                 totals.seconds > 0 ? duration / totals.seconds : 0.0);
    return 0;
}

// ---- info -------------------------------------------------------------------

// Bitrate in kbit/s of the first Layer III frame header in the file.
int32_t firstFrameBitrate(FILE *file, long start) {
    static const int32_t kMpeg1[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int32_t kMpeg2[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    std::fseek(file, start, SEEK_SET);
    int prev = -1;
    for (int c; (c = std::fgetc(file)) != EOF; prev = c) {
        if (prev != 0xFF || (c & 0xE0) != 0xE0 || ((c >> 1) & 3) != 1) continue;
        const int b2 = std::fgetc(file);
        if (b2 == EOF) break;
        const int index = b2 >> 4;
        if (index == 15 || ((b2 >> 2) & 3) == 3) {
            std::ungetc(b2, file);
            continue;
        }
        const bool mpeg1 = (c & 0x18) == 0x18;
        return mpeg1 ? kMpeg1[index] : kMpeg2[index];
    }
    return 0;
}

int commandInfo(const char *inPath) {
    Source source = openSource(inPath);
    auto d = std::make_unique<Decoder>();
    const StreamInfo info = initDecoder(*d, source);
    const DecodeTotals totals = decodeAll(*d, info, [](const int16_t *, size_t) {}, false);
    requireFrames(totals);
    const int32_t bitrate = firstFrameBitrate(source.file, source.start);
    std::fclose(source.file);
    const char *version = info.rate >= 32000 ? "MPEG-1" : (info.rate >= 16000 ? "MPEG-2" : "MPEG-2.5");
    std::printf("version: %s Layer III\n", version);
    std::printf("sample rate: %d Hz\n", info.rate);
    std::printf("channels: %d\n", info.channels);
    if (bitrate > 0)
        std::printf("bitrate: %d kbit/s (first frame)\n", bitrate);
    else
        std::printf("bitrate: free format (first frame)\n");
    std::printf("frames: %ld\n", totals.frames);
    std::printf("duration: %.3f s\n", static_cast<double>(totals.samplesPerChannel) / info.rate);
    return 0;
}

// ---- yuv2bmp ----------------------------------------------------------------

int32_t parseDimension(const char *text) {
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < 1 || v > 16384) fail(std::string("bad dimension: ") + text);
    return static_cast<int32_t>(v);
}

int commandYuv2Bmp(const char *inPath, const char *widthText, const char *heightText, const char *outPath) {
    const int32_t width = parseDimension(widthText);
    const int32_t height = parseDimension(heightText);
    FILE *in = std::fopen(inPath, "rb");
    if (in == nullptr) fail(std::string("cannot open ") + inPath + ": " + std::strerror(errno));
    const size_t lumaBytes = static_cast<size_t>(width) * static_cast<size_t>(height);
    const size_t chromaWidth = static_cast<size_t>((width + 1) / 2);
    const size_t chromaBytes = chromaWidth * static_cast<size_t>((height + 1) / 2);
    std::vector<uint8_t> yuv(lumaBytes + 2 * chromaBytes);
    const size_t got = std::fread(yuv.data(), 1, yuv.size(), in);
    std::fclose(in);
    if (got < yuv.size()) {
        fail(std::string(inPath) + " is too short for a " + widthText + "x" + heightText + " YUV 4:2:0 frame (" +
             std::to_string(got) + " of " + std::to_string(yuv.size()) + " bytes)");
    }

    // BMP rows are padded to 4 bytes; convert straight into that layout.
    const int32_t rowBytes = (width * 2 + 3) & ~3;
    std::vector<uint16_t> pixels(static_cast<size_t>(rowBytes / 2) * static_cast<size_t>(height));
    const MPG_YUVPlanes planes = {yuv.data(), yuv.data() + lumaBytes, yuv.data() + lumaBytes + chromaBytes};
    const MPG_YUVStrides strides = {width, static_cast<int32_t>(chromaWidth), static_cast<int32_t>(chromaWidth)};
    MPG_YUV420ToBGR565(&planes, &strides, pixels.data(), rowBytes, width, height);

    const uint32_t imageBytes = static_cast<uint32_t>(rowBytes) * static_cast<uint32_t>(height);
    const uint32_t offset = 14 + 40 + 12;
    std::vector<uint8_t> h;
    h.push_back('B');
    h.push_back('M');
    put32(h, offset + imageBytes);
    put32(h, 0);
    put32(h, offset);
    put32(h, 40);  // BITMAPINFOHEADER
    put32(h, static_cast<uint32_t>(width));
    put32(h, static_cast<uint32_t>(-height));  // negative: rows top to bottom
    put16(h, 1);
    put16(h, 16);
    put32(h, 3);  // BI_BITFIELDS
    put32(h, imageBytes);
    put32(h, 2835);  // 72 dpi
    put32(h, 2835);
    put32(h, 0);
    put32(h, 0);
    put32(h, 0xF800);  // red mask
    put32(h, 0x07E0);  // green
    put32(h, 0x001F);  // blue

    std::vector<uint8_t> image;
    image.reserve(imageBytes);
    for (uint16_t p : pixels) put16(image, p);

    OutputFile out(outPath);
    writeAll(out.get(), h.data(), h.size());
    writeAll(out.get(), image.data(), image.size());
    out.commit();
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    try {
        const std::string command = argc > 1 ? argv[1] : "";
        if (command == "decode" && argc == 4) return commandDecode(argv[2], argv[3]);
        if (command == "info" && argc == 3) return commandInfo(argv[2]);
        if (command == "yuv2bmp" && argc == 6) return commandYuv2Bmp(argv[2], argv[3], argv[4], argv[5]);
        if (command == "-h" || command == "--help" || command == "help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        std::fputs(kUsage, stderr);
        return 2;
    } catch (const Failure &failure) {
        std::fprintf(stderr, "mpfix: %s\n", failure.message.c_str());
        return 1;
    }
}
