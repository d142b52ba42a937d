// mpfix: decode MPEG audio Layer III files to WAV, describe them, and convert
// YUV 4:2:0 frames to BMP. A plain host of the shared library: it decodes
// through the public header's functions only, as any application would, and
// reads what the library leaves to hosts (tags, the information frame and its
// gapless data) itself.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "failure.h"
#include "input.h"
#include "mpfix.h"
#include "output.h"
#include "stream_scan.h"

#ifndef MPFIX_VERSION
#define MPFIX_VERSION "0.0.0"
#endif

namespace mpfix::tool {
namespace {

const char kUsage[] =
    "usage: mpfix decode [-q] [--no-gapless] IN OUT      decode to a 16-bit PCM WAV file\n"
    "       mpfix decode [-q] [--no-gapless] -o DIR IN...\n"
    "                                                   decode each input to DIR/NAME.wav\n"
    "       mpfix info IN...                            describe each stream without decoding it\n"
    "       mpfix yuv2bmp IN.yuv WIDTH HEIGHT OUT.bmp   convert a planar YUV 4:2:0 frame to a 16-bit RGB565 BMP\n"
    "       mpfix --version | --help\n"
    "IN '-' reads standard input; OUT '-' writes raw 16-bit little-endian PCM to standard output.\n"
    "Decoding is gapless: the encoder delay and padding a LAME tag records are left out\n"
    "(--no-gapless keeps every sample). -q prints neither progress nor the summary.\n";

// Largest frame: MPEG-1 stereo, 2 granules x 576 samples x 2 channels. The
// tool decodes one frame per call, so this buffer fits every stream, also
// one whose channel count changes between frames.
constexpr int32_t kMaxFrameSamples = 2304;
// Decoders delay their output by 529 samples (the synthesis filterbank and
// the overlap of the hybrid filterbank); encoders count their delay and
// padding without it.
constexpr uint64_t kDecoderDelay = 529;
// Bytes searched for the first frame and its information frame.
constexpr size_t kHeadBytes = 65536;

struct UsageError {
    std::string message;
};

// ---- The start of a stream: tags and the information frame -----------------

struct StreamStart {
    bool hasInfoFrame = false;
    InfoFrame info;
    FrameHeader header;  // of the information frame
};

// Skips ID3v2 tags and reads the information frame, which holds no audio:
// the decoder is given the stream from the frame after it.
StreamStart readStart(Input &in) {
    StreamStart start;
    in.skipId3v2();
    const auto head = in.peek(kHeadBytes);
    size_t offset = 0;
    if (!findFirstFrame(head.data(), head.size(), head.size() < kHeadBytes, offset, start.header)) return start;
    const size_t frameBytes = static_cast<size_t>(start.header.frameBytes);
    if (offset + frameBytes > head.size()) return start;
    if (parseInfoFrame(head.data() + offset, frameBytes, start.header, start.info)) {
        start.hasInfoFrame = true;
        in.skip(offset + frameBytes);
    }
    return start;
}

// ---- Decoding -----------------------------------------------------------------

// Records are large (the ring alone is 64 KiB): keep them off the stack.
struct Decoder {
    MP3_Stream stream{};
    MP3_Decoder decoder{};
};

struct Feed {
    Input *input;
    FrameScanner scanner;  // follows what the decoder is given, to spot a cut-off last frame
    bool probing = true;
};

int32_t readCallback(uint8_t *destination, int32_t maxBytes, void *userData) {
    auto *feed = static_cast<Feed *>(userData);
    if (maxBytes <= 0) return 0;
    const size_t n = feed->input->read(destination, static_cast<size_t>(maxBytes));
    if (!feed->probing) feed->scanner.feed(destination, n);
    return static_cast<int32_t>(n);
}

struct StreamInfo {
    int32_t rate = 0;
    int32_t channels = 0;
    int32_t bufferBytes = 0;
    int32_t granuleSamples = 0;  // samples per channel of one frame
};

// The probe of MP3_InitDecoder consumes input; the input keeps those bytes
// and delivers them again, so no rewind is needed and pipes work.
StreamInfo initDecoder(Decoder &d, Feed &feed) {
    StreamInfo info;
    d.stream.readFn = readCallback;
    d.stream.userData = &feed;
    feed.input->beginReplay();
    MP3_InitDecoder(&d.stream, &d.decoder, &info.bufferBytes, &info.rate, &info.channels);
    feed.input->replay();
    feed.probing = false;
    info.granuleSamples = info.rate >= 32000 ? 1152 : 576;
    return info;
}

// The samples per channel to keep: [skip, end) of what the decoder produces.
struct Trim {
    uint64_t skip = 0;
    uint64_t end = UINT64_MAX;
    bool active() const { return skip != 0 || end != UINT64_MAX; }
};

Trim gaplessTrim(const StreamStart &start) {
    Trim trim;
    if (!start.hasInfoFrame || !start.info.hasLameTag) return trim;
    trim.skip = static_cast<uint64_t>(start.info.delay) + kDecoderDelay;
    if (start.info.hasFrames) {
        const uint64_t all = uint64_t{start.info.frames} * static_cast<uint64_t>(start.header.samples);
        trim.end = std::max(trim.skip,
                            all + kDecoderDelay - std::min<uint64_t>(all, static_cast<uint64_t>(start.info.padding)));
    }
    return trim;
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

struct DecodeTotals {
    long frames = 0;
    long converted = 0;              // frames whose channel count differed from the output's
    uint64_t decodedPerChannel = 0;  // samples per channel the decoder produced
    uint64_t keptPerChannel = 0;     // of those, written out
    double seconds = 0;              // wall-clock time spent decoding
};

class Progress {
public:
    Progress(bool enabled, int64_t inputBytes) : enabled_(enabled), size_(inputBytes) {}
    void update(const Input &in, const DecodeTotals &totals, int32_t rate) {
        if (!enabled_) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(200)) return;
        last_ = now;
        const double audio = static_cast<double>(totals.decodedPerChannel) / rate;
        if (size_ > 0) {
            const double done = std::min(1.0, static_cast<double>(in.consumed()) / static_cast<double>(size_));
            const double elapsed = std::chrono::duration<double>(now - begin_).count();
            const double left = done > 0 ? elapsed * (1 - done) / done : 0;
            std::fprintf(stderr, "\r%3.0f%%  %.1f s decoded, %.0f s left\033[K", 100 * done, audio, left);
        } else {
            std::fprintf(stderr, "\r%ld frames, %.1f s decoded\033[K", totals.frames, audio);
        }
    }
    void end() {
        if (enabled_) std::fprintf(stderr, "\r\033[K");
    }

private:
    bool enabled_;
    int64_t size_;
    std::chrono::steady_clock::time_point begin_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point last_ = begin_;
};

// Decodes the whole stream one frame per call; sink(samples, count) receives
// the kept PCM in the output's channel layout.
template <typename Sink>
DecodeTotals decodeAll(Decoder &d, const StreamInfo &info, const Trim &trim, const Input &in, Progress &progress,
                       Sink &&sink) {
    DecodeTotals totals;
    std::vector<int16_t> pcm(kMaxFrameSamples);
    std::vector<int16_t> converted;
    const auto begin = std::chrono::steady_clock::now();
    for (;;) {
        int32_t samples = 0;
        const int32_t result = MP3_DecodeFrame(&d.stream, pcm.data(), &samples, 1, &d.decoder);
        if (samples > 0) {
            const int16_t *out = pcm.data();
            const int32_t frameChannels = samples / info.granuleSamples;
            if (frameChannels != info.channels) {
                convertChannels(pcm.data(), info.granuleSamples, frameChannels > 0 ? frameChannels : 1, info.channels,
                                converted);
                ++totals.converted;
                out = converted.data();
            }
            const uint64_t first = totals.decodedPerChannel;
            const uint64_t last = first + static_cast<uint64_t>(info.granuleSamples);
            const uint64_t from = std::clamp(trim.skip, first, last), to = std::clamp(trim.end, first, last);
            if (to > from) {
                const auto channels = static_cast<size_t>(info.channels);
                sink(out + (from - first) * channels, static_cast<size_t>(to - from) * channels);
                totals.keptPerChannel += to - from;
            }
            ++totals.frames;
            totals.decodedPerChannel = last;
            progress.update(in, totals, info.rate);
        }
        if (result == MP3_INPUT_EXHAUSTED) break;
    }
    totals.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    progress.end();
    return totals;
}

// A last frame that the input cuts short: mpg123 warns about it too.
void warnIfCutShort(const Input &in, const FrameScanner &scanner, const char *consequence) {
    if (!scanner.truncated()) return;
    std::fflush(stdout);
    std::fprintf(stderr, "mpfix: warning: %s: the last frame is cut short (%llu of %d bytes) and %s\n", in.name().c_str(),
                 static_cast<unsigned long long>(scanner.truncatedHave()), scanner.truncatedNeed(), consequence);
}

struct DecodeOptions {
    bool quiet = false;
    bool gapless = true;
};

void decodeOne(const std::string &inPath, const std::string &outPath, const DecodeOptions &options) {
    Input in(inPath);
    const StreamStart start = readStart(in);
    const Trim trim = options.gapless ? gaplessTrim(start) : Trim{};
    auto d = std::make_unique<Decoder>();
    auto feed = std::make_unique<Feed>();
    feed->input = &in;
    const StreamInfo info = initDecoder(*d, *feed);
    Progress progress(!options.quiet && isatty(STDERR_FILENO) != 0, in.size());

    Output out(outPath);
    DecodeTotals totals;
    if (out.isStdout()) {
        std::vector<uint8_t> bytes;
        totals = decodeAll(*d, info, trim, in, progress,
                           [&](const int16_t *pcm, size_t count) { writePcm16le(out, pcm, count, bytes); });
    } else {
        WavWriter wav(out, info.rate, info.channels);
        totals =
            decodeAll(*d, info, trim, in, progress, [&](const int16_t *pcm, size_t count) { wav.samples(pcm, count); });
        if (totals.frames > 0) wav.finish();
    }
    if (in.readError()) fail("cannot read " + in.name() + ": " + std::strerror(in.errorNumber()));
    if (totals.frames == 0) fail(in.name() + ": no MPEG audio Layer III frames found");
    out.commit();

    feed->scanner.finish();
    warnIfCutShort(in, feed->scanner, "was not decoded");
    if (options.quiet) return;
    const double duration = static_cast<double>(totals.keptPerChannel) / info.rate;
    std::string notes;
    if (trim.active()) {
        notes += ", gapless (" + std::to_string(totals.decodedPerChannel - totals.keptPerChannel) +
                 " samples of encoder delay and padding left out)";
    }
    if (totals.converted > 0) {
        notes += ", " + std::to_string(totals.converted) + " frames with another channel count " +
                 (info.channels == 1 ? "mixed down" : "duplicated to both channels");
    }
    // The summary goes to standard output unless the audio does.
    std::fprintf(out.isStdout() ? stderr : stdout, "%s: %ld frames, %.3f s, %d Hz, %d channel%s%s, %.1fx real time\n",
                 in.name().c_str(), totals.frames, duration, info.rate, info.channels, info.channels == 1 ? "" : "s",
                 notes.c_str(), totals.seconds > 0 ? duration / totals.seconds : 0.0);
}

// DIR/NAME.wav for IN = .../NAME.mp3.
std::string outputInDirectory(const std::string &dir, const std::string &in) {
    if (in == "-") fail("standard input needs an output name: mpfix decode - OUT");
    std::string name = in.substr(in.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return dir + (dir.empty() || dir.back() == '/' ? "" : "/") + name + ".wav";
}

// ---- info -------------------------------------------------------------------

void infoOne(const std::string &path) {
    Input in(path);
    const StreamStart start = readStart(in);
    const InfoFrame &tag = start.info;
    FrameHeader first = start.header;
    uint64_t frames = 0;
    double kbps = 0;
    bool vbr = false;
    std::string range;
    if (start.hasInfoFrame && tag.hasFrames) {
        // The encoder counted the frames: nothing to read beyond the first one.
        frames = tag.frames;
    } else {
        // Follow the headers from frame to frame (the information frame, if
        // any, has been skipped).
        FrameScanner scanner;
        std::vector<uint8_t> chunk(65536);
        for (size_t n; (n = in.read(chunk.data(), chunk.size())) > 0;) scanner.feed(chunk.data(), n);
        scanner.finish();
        warnIfCutShort(in, scanner, "is not counted");
        if (in.readError()) fail("cannot read " + in.name() + ": " + std::strerror(in.errorNumber()));
        if (scanner.frames() == 0) fail(in.name() + ": no MPEG audio Layer III frames found");
        frames = static_cast<uint64_t>(scanner.frames());
        if (!start.hasInfoFrame) first = scanner.first();
        vbr = scanner.minKbps() != scanner.maxKbps();
        kbps = static_cast<double>(scanner.frameBytes()) * 8 * first.sampleRate /
               (static_cast<double>(frames) * first.samples * 1000);
        if (vbr) range = ", " + std::to_string(scanner.minKbps()) + "-" + std::to_string(scanner.maxKbps()) + " kbit/s";
    }
    const double seconds = static_cast<double>(frames) * first.samples / first.sampleRate;
    if (start.hasInfoFrame) {
        vbr = tag.vbr;
        const double bytes = tag.hasBytes ? tag.bytes : static_cast<double>(in.size());
        if (!vbr) {
            kbps = first.bitrateKbps;  // an Info frame has the stream's bitrate
        } else if (tag.hasFrames && bytes > 0 && seconds > 0) {
            kbps = bytes * 8 / seconds / 1000;
        }
    }
    std::printf("version: %s Layer III\n", versionName(first.version));
    std::printf("sample rate: %d Hz\n", first.sampleRate);
    std::printf("channels: %d\n", first.channels);
    std::printf("mode: %s\n", modeName(first.mode));
    if (first.freeFormat) {
        std::printf("bitrate: %.0f kbit/s (free format)\n", kbps);
    } else if (vbr) {
        std::printf("bitrate: %.0f kbit/s average (VBR%s)\n", kbps, range.c_str());
    } else {
        std::printf("bitrate: %.0f kbit/s (CBR)\n", kbps);
    }
    std::printf("frames: %llu\n", static_cast<unsigned long long>(frames));
    const Trim trim = gaplessTrim(start);
    if (trim.end != UINT64_MAX) {
        const uint64_t samples = trim.end - trim.skip;
        std::printf("duration: %.3f s\n", static_cast<double>(samples) / first.sampleRate);
        std::printf("samples: %llu per channel (encoder delay and padding left out; every frame: %.3f s)\n",
                    static_cast<unsigned long long>(samples), seconds);
    } else {
        std::printf("duration: %.3f s\n", seconds);
    }
    if (start.hasInfoFrame) {
        std::printf("information frame: %s%s\n", tag.vbr ? "Xing" : "Info",
                    tag.hasFrames ? " (frame count and size from it)" : "");
    }
    if (tag.hasLameTag) {
        std::printf("encoder: %s, delay %d samples, padding %d samples\n",
                    tag.encoder.empty() ? "unknown" : tag.encoder.c_str(), tag.delay, tag.padding);
    }
}

// ---- yuv2bmp ----------------------------------------------------------------

int32_t parseDimension(const std::string &text) {
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v < 1 || v > 16384) fail("bad dimension: " + text);
    return static_cast<int32_t>(v);
}

void yuv2bmp(const std::string &inPath, const std::string &widthText, const std::string &heightText,
             const std::string &outPath) {
    const int32_t width = parseDimension(widthText);
    const int32_t height = parseDimension(heightText);
    Input in(inPath);
    const size_t lumaBytes = static_cast<size_t>(width) * static_cast<size_t>(height);
    const size_t chromaWidth = static_cast<size_t>((width + 1) / 2);
    const size_t chromaBytes = chromaWidth * static_cast<size_t>((height + 1) / 2);
    std::vector<uint8_t> yuv(lumaBytes + 2 * chromaBytes);
    const size_t got = in.read(yuv.data(), yuv.size());
    if (got < yuv.size()) {
        fail(in.name() + " is too short for a " + widthText + "x" + heightText + " YUV 4:2:0 frame (" +
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
    for (uint16_t p : pixels) put16(h, p);

    Output out(outPath);
    out.write(h.data(), h.size());
    out.commit();
}

// ---- Command line -------------------------------------------------------------

struct CommandLine {
    std::string command;
    std::vector<std::string> args;
    DecodeOptions decode;
    std::string outputDir;
    bool hasOutputDir = false;
};

CommandLine parse(int argc, char **argv) {
    CommandLine line;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (optionsEnded || a == "-" || a.empty() || a[0] != '-') {
            if (line.command.empty()) {
                line.command = a;
            } else {
                line.args.push_back(a);
            }
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
        } else if (a == "--version" || a == "--help" || a == "-h") {
            line.command = a;
            return line;
        } else if (a == "-q" || a == "--quiet") {
            line.decode.quiet = true;
        } else if (a == "--no-gapless") {
            line.decode.gapless = false;
        } else if (a == "-o" || a == "--output-dir") {
            if (i + 1 >= argc) throw UsageError{a + " needs a directory"};
            line.outputDir = argv[++i];
            line.hasOutputDir = true;
        } else {
            throw UsageError{"unknown option " + a};
        }
    }
    return line;
}

// Runs fn for each input, going on after a failure; 1 when any failed.
template <typename Fn>
int forEach(const std::vector<std::string> &inputs, Fn &&fn) {
    int status = 0;
    for (const std::string &in : inputs) {
        try {
            fn(in);
        } catch (const Failure &failure) {
            std::fflush(stdout);
            std::fprintf(stderr, "mpfix: %s\n", failure.message.c_str());
            status = 1;
        }
    }
    return status;
}

int run(const CommandLine &line) {
    const auto &args = line.args;
    if (line.command == "--version") {
        std::printf("mpfix %s\n", MPFIX_VERSION);
        std::printf("fixed-point MPEG audio Layer III decoder and video block primitives\n");
        return 0;
    }
    if (line.command == "--help" || line.command == "-h" || line.command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (line.command.empty()) throw UsageError{"no command given"};
    if (line.command == "decode") {
        if (line.hasOutputDir) {
            if (args.empty()) throw UsageError{"decode -o DIR needs at least one input"};
            struct stat st {};
            if (stat(line.outputDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
                fail("cannot write into " + line.outputDir + ": not a directory");
            }
            return forEach(args, [&](const std::string &in) {
                decodeOne(in, outputInDirectory(line.outputDir, in), line.decode);
            });
        }
        if (args.size() != 2) {
            throw UsageError{args.size() < 2 ? "decode needs IN and OUT (or -o DIR and inputs)"
                                             : "decode takes one IN and one OUT; for several inputs use -o DIR"};
        }
        return forEach({args[0]}, [&](const std::string &in) { decodeOne(in, args[1], line.decode); });
    }
    if (line.hasOutputDir || !line.decode.gapless || line.decode.quiet) {
        throw UsageError{"the options -o, -q and --no-gapless belong to decode"};
    }
    if (line.command == "info") {
        if (args.empty()) throw UsageError{"info needs at least one input"};
        bool firstBlock = true;
        return forEach(args, [&](const std::string &in) {
            if (args.size() > 1) {
                std::printf("%sfile: %s\n", firstBlock ? "" : "\n", in.c_str());
                firstBlock = false;
            }
            infoOne(in);
        });
    }
    if (line.command == "yuv2bmp") {
        if (args.size() != 4) throw UsageError{"yuv2bmp needs IN.yuv WIDTH HEIGHT OUT.bmp"};
        return forEach({args[0]}, [&](const std::string &in) { yuv2bmp(in, args[1], args[2], args[3]); });
    }
    throw UsageError{"unknown command " + line.command};
}

}  // namespace
}  // namespace mpfix::tool

int main(int argc, char **argv) {
    using namespace mpfix::tool;
    try {
        return run(parse(argc, argv));
    } catch (const UsageError &error) {
        std::fprintf(stderr, "mpfix: %s\n%s", error.message.c_str(), kUsage);
        return 2;
    } catch (const Failure &failure) {
        std::fprintf(stderr, "mpfix: %s\n", failure.message.c_str());
        return 1;
    }
}
