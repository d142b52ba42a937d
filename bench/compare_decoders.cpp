// Decodes one MP3 file from memory to 16-bit PCM with mpfix and, when built
// with them, libmpg123 (its default decoder) and libmad (low-level API,
// rounded and clipped to 16 bits as a player does), and prints wall times.
//
//   compare_decoders FILE [ROUNDS]       interleaved rounds of every decoder:
//                                        medians, ratios to mpfix, speed
//   compare_decoders FILE --only NAME    one decode by NAME (mpfix, mpg123,
//                                        mad, or none to load the file only),
//                                        for instruction counters
//
// Build flags: MPFIX_WITH_MPG123, MPFIX_WITH_MAD (scripts/bench_audio.sh).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "memory_reader.h"
#include "mpfix.h"

#if MPFIX_WITH_MPG123
#include <mpg123.h>
#endif
#if MPFIX_WITH_MAD
#include <mad.h>
#endif

namespace {

// What a decoding run delivered; the PCM itself only passes through the
// buffer, as in a player that hands it on.
struct Result {
    uint64_t samples = 0;  // 16-bit samples, all channels
    // The compiler must assume the PCM is read.
    void add(const void *pcm, size_t n) {
        asm volatile("" : : "r"(pcm) : "memory");
        samples += n;
    }
};

using mpfix_bench::Memory;
using mpfix_bench::readMemory;

}  // namespace

// Not inlined and with C names, so that instruction counters can find them.
extern "C" __attribute__((noinline)) Result decode_mpfix(const std::vector<uint8_t> &bytes) {
    Result result;
    auto stream = std::make_unique<MP3_Stream>();
    auto decoder = std::make_unique<MP3_Decoder>();
    Memory memory{&bytes, 0};
    stream->readFn = readMemory;
    stream->userData = &memory;
    int32_t bufferBytes = 0, rate = 0, channels = 0;
    MP3_InitDecoder(stream.get(), decoder.get(), &bufferBytes, &rate, &channels);
    memory.position = 0;
    std::vector<int16_t> pcm(25 * 2304);
    for (;;) {
        int32_t samples = 0;
        const int32_t status = MP3_DecodeFrame(stream.get(), pcm.data(), &samples, 25, decoder.get());
        result.add(pcm.data(), static_cast<size_t>(samples));
        if (status == MP3_INPUT_EXHAUSTED) break;
    }
    return result;
}

#if MPFIX_WITH_MPG123
extern "C" __attribute__((noinline)) Result decode_mpg123(const std::vector<uint8_t> &bytes) {
    Result result;
    int error = 0;
    mpg123_handle *handle = mpg123_new(nullptr, &error);
    if (!handle) return result;
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    mpg123_format_none(handle);
    for (long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
        mpg123_format(handle, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mpg123_open_feed(handle);
    std::vector<unsigned char> out(1 << 16);
    size_t done = 0;
    int status = mpg123_decode(handle, bytes.data(), bytes.size(), out.data(), out.size(), &done);
    for (;;) {
        result.add(out.data(), done / 2);
        if (status == MPG123_ERR || status == MPG123_NEED_MORE || status == MPG123_DONE) break;
        status = mpg123_decode(handle, nullptr, 0, out.data(), out.size(), &done);
    }
    mpg123_delete(handle);
    return result;
}
#endif

#if MPFIX_WITH_MAD
namespace {
// 28 fraction bits to 16-bit PCM: round, clip.
int16_t madToPcm(mad_fixed_t v) {
    v += 1L << (MAD_F_FRACBITS - 16);
    if (v >= MAD_F_ONE) v = MAD_F_ONE - 1;
    if (v < -MAD_F_ONE) v = -MAD_F_ONE;
    return static_cast<int16_t>(v >> (MAD_F_FRACBITS + 1 - 16));
}
}  // namespace

extern "C" __attribute__((noinline)) Result decode_mad(const std::vector<uint8_t> &bytes) {
    Result result;
    // libmad needs MAD_BUFFER_GUARD zero bytes after the last frame.
    std::vector<uint8_t> padded(bytes);
    padded.resize(bytes.size() + MAD_BUFFER_GUARD, 0);
    mad_stream stream;
    mad_frame frame;
    mad_synth synth;
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_synth_init(&synth);
    mad_stream_buffer(&stream, padded.data(), padded.size());
    std::vector<int16_t> pcm(2 * 1152);
    for (;;) {
        if (mad_frame_decode(&frame, &stream) != 0) {
            if (MAD_RECOVERABLE(stream.error)) continue;
            break;
        }
        mad_synth_frame(&synth, &frame);
        const unsigned channels = synth.pcm.channels, length = synth.pcm.length;
        for (unsigned i = 0; i < length; ++i)
            for (unsigned ch = 0; ch < channels; ++ch) pcm[i * channels + ch] = madToPcm(synth.pcm.samples[ch][i]);
        result.add(pcm.data(), static_cast<size_t>(length) * channels);
    }
    mad_synth_finish(&synth);
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
    return result;
}
#endif

namespace {

struct Decoder {
    const char *name;
    Result (*fn)(const std::vector<uint8_t> &);
};

const Decoder kDecoders[] = {
    {"mpfix", decode_mpfix},
#if MPFIX_WITH_MPG123
    {"mpg123", decode_mpg123},
#endif
#if MPFIX_WITH_MAD
    {"mad", decode_mad},
#endif
};

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [ROUNDS | --only mpfix|mpg123|mad|none]\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }

    if (argc >= 4 && std::strcmp(argv[2], "--only") == 0) {
        if (std::strcmp(argv[3], "none") == 0) return 0;
        for (const Decoder &d : kDecoders) {
            if (std::strcmp(d.name, argv[3]) != 0) continue;
            const Result r = d.fn(bytes);
            std::printf("%s: %llu samples\n", d.name, static_cast<unsigned long long>(r.samples));
            return r.samples ? 0 : 1;
        }
        std::fprintf(stderr, "decoder %s is not built in\n", argv[3]);
        return 2;
    }

    const int rounds = argc >= 3 ? std::max(1, std::atoi(argv[2])) : 11;
    const size_t n = std::size(kDecoders);
    std::vector<std::vector<double>> times(n);
    std::vector<Result> results(n);
    for (int round = 0; round < rounds; ++round) {
        // Interleaved, starting with a different decoder each round.
        for (size_t k = 0; k < n; ++k) {
            const size_t i = (k + static_cast<size_t>(round)) % n;
            const auto start = std::chrono::steady_clock::now();
            results[i] = kDecoders[i].fn(bytes);
            times[i].push_back(seconds(std::chrono::steady_clock::now() - start));
        }
    }
    // The audio length from mpfix's output (44.1 kHz stereo expected; rate and
    // channels come from the probe).
    int32_t bufferBytes = 0, rate = 0, channels = 0;
    {
        auto stream = std::make_unique<MP3_Stream>();
        auto decoder = std::make_unique<MP3_Decoder>();
        Memory memory{&bytes, 0};
        stream->readFn = readMemory;
        stream->userData = &memory;
        MP3_InitDecoder(stream.get(), decoder.get(), &bufferBytes, &rate, &channels);
    }
    const double audio = (rate > 0 && channels > 0)
                             ? static_cast<double>(results[0].samples) / (static_cast<double>(rate) * channels)
                             : 0.0;
    const double base = median(times[0]);
    std::printf("%d interleaved rounds, %.1f s of audio (%d Hz, %d channels), %zu bytes\n\n", rounds, audio, rate,
                channels, bytes.size());
    std::printf("| decoder | median ms | min ms | time / mpfix | x real time |\n|---|---|---|---|---|\n");
    for (size_t i = 0; i < n; ++i) {
        const double m = median(times[i]);
        std::printf("| %s | %.1f | %.1f | %.2f | %.0f |\n", kDecoders[i].name, 1e3 * m,
                    1e3 * *std::min_element(times[i].begin(), times[i].end()), m / base, audio / m);
    }
    return 0;
}
