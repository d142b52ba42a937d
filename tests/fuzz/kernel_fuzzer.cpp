// libFuzzer target for the five exported kernels with fuzzed arguments. Every
// destination sits between guard elements, and each call must write only the
// elements its arguments allow: the synthesis' 32 samples at its stride, the
// 64 coefficients of the IDCT block, the width x height rectangle of the
// colour conversion (not the bytes between rows), exactly count elements of a
// copy or clear. A violation aborts. Built with clang by scripts/fuzz.sh; the
// committed corpus in tests/corpus/kernels is replayed by CTest.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mpfix.h"

namespace {

// The fuzzer's bytes as a stream of values; zeros once they run out.
class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(byte() | (byte() << 8)); }
    uint32_t u32() { return static_cast<uint32_t>(u16()) | (static_cast<uint32_t>(u16()) << 16); }
    int32_t i32() { return static_cast<int32_t>(u32()); }

private:
    const uint8_t *data_;
    size_t size_;
    size_t position_ = 0;
};

constexpr uint16_t kGuard = 0xA5C3;
constexpr int32_t kGuardElements = 16;

[[noreturn]] void fail(const char *what, long index) {
    std::fprintf(stderr, "kernel fuzzer: %s (element %ld)\n", what, index);
    std::abort();
}

// Synthesis: any position and stride. A valid position writes 32 samples at
// stride 1 or at every second element; an invalid one writes nothing at all.
void synthesis(Input &in) {
    int32_t samples[32];
    for (int32_t &s : samples) s = in.byte() & 1 ? in.i32() : static_cast<int16_t>(in.u16()) * 256;
    std::vector<int32_t> history(MP3_SYNTH_HISTORY);
    const bool cleanHistory = in.byte() & 1;
    for (int32_t &h : history) h = cleanHistory ? 0 : in.i32();
    const uint8_t choice = in.byte();
    int32_t position = choice & 0x80 ? in.i32() : choice & 15;
    int32_t stride = choice & 0x40 ? in.i32() : 1 + ((choice >> 4) & 3);
    for (int call = 0; call < 2; ++call) {
        std::vector<uint16_t> pcm(64 + 2 * kGuardElements, kGuard);
        const auto historyBefore = history;
        int32_t samplesBefore[32];
        std::memcpy(samplesBefore, samples, sizeof samples);
        const int32_t positionBefore = position;
        const int32_t result = MP3_SynthPQMF(samples, reinterpret_cast<int16_t *>(pcm.data() + kGuardElements),
                                             history.data(), &position, stride);
        const bool valid = positionBefore >= 0 && positionBefore <= 15;
        if (result != (valid ? 0 : MP3_ERR_PARAM)) fail("synthesis result", result);
        const int32_t step = stride == 1 ? 1 : 2;
        for (long i = 0; i < static_cast<long>(pcm.size()); ++i) {
            const long k = i - kGuardElements;
            const bool allowed = valid && k >= 0 && k % step == 0 && k / step < 32;
            if (!allowed && pcm[static_cast<size_t>(i)] != kGuard) fail("synthesis wrote outside its samples", k);
        }
        if (!valid) {
            if (position != positionBefore || history != historyBefore ||
                std::memcmp(samples, samplesBefore, sizeof samples) != 0) {
                fail("synthesis changed its records on an invalid position", positionBefore);
            }
            return;
        }
        if (position < 0 || position > 15) fail("synthesis position out of range", position);
        for (int32_t &s : samples) s = in.i32();
    }
}

void idct(Input &in) {
    std::vector<uint16_t> buffer(64 + 2 * kGuardElements, kGuard);
    const uint8_t shape = in.byte();
    for (int k = 0; k < 64; ++k) {
        uint16_t value = in.u16();
        if (shape & 1) value = static_cast<uint16_t>(static_cast<int16_t>(value) >> (shape >> 4));
        if (shape & 2 && k % 8 + k / 8 > (shape >> 2) % 8) value = 0;  // sparse blocks
        buffer[static_cast<size_t>(kGuardElements + k)] = value;
    }
    MPG_DCTInv_8x8(reinterpret_cast<int16_t *>(buffer.data() + kGuardElements));
    for (long i = 0; i < kGuardElements; ++i) {
        if (buffer[static_cast<size_t>(i)] != kGuard) fail("IDCT wrote before the block", i);
        if (buffer[static_cast<size_t>(kGuardElements + 64 + i)] != kGuard) fail("IDCT wrote after the block", i);
    }
}

// Sizes 1..70, strides at least the row length; planes exactly as large as
// the call may read (the sanitizer sees any read beyond), the destination
// guarded before, after and between its rows.
void colour(Input &in) {
    const int32_t width = 1 + in.byte() % 70;
    const int32_t height = 1 + in.byte() % 70;
    const int32_t chromaWidth = (width + 1) / 2;
    const int32_t chromaHeight = (height + 1) / 2;
    const MPG_YUVStrides strides = {width + in.byte() % 9, chromaWidth + in.byte() % 5,
                                    chromaWidth + in.byte() % 5};
    const int32_t rowElements = width + in.byte() % 7;  // destination stride in elements
    auto plane = [&in](int32_t stride, int32_t w, int32_t h) {
        std::vector<uint8_t> p(static_cast<size_t>(stride * (h - 1) + w));
        for (auto &b : p) b = in.byte();
        return p;
    };
    const auto y = plane(strides.y, width, height);
    const auto u = plane(strides.u, chromaWidth, chromaHeight);
    const auto v = plane(strides.v, chromaWidth, chromaHeight);
    const MPG_YUVPlanes planes = {y.data(), u.data(), v.data()};
    std::vector<uint16_t> out(static_cast<size_t>(rowElements * (height - 1) + width + 2 * kGuardElements), kGuard);
    MPG_YUV420ToBGR565(&planes, &strides, out.data() + kGuardElements, rowElements * 2, width, height);
    for (long i = 0; i < static_cast<long>(out.size()); ++i) {
        const long k = i - kGuardElements;
        const bool inside = k >= 0 && k / rowElements < height && k % rowElements < width;
        if (!inside && out[static_cast<size_t>(i)] != kGuard) fail("colour conversion wrote outside its rows", k);
    }
}

// Copy and clear: counts 0..100 at every 2-byte alignment up to 16 bytes.
void copyAndClear(Input &in) {
    alignas(16) uint16_t source[128];
    alignas(16) uint16_t destination[128 + 2 * kGuardElements];
    for (auto &s : source) s = in.u16();
    const int32_t count = in.byte() % 101;
    const int32_t from = in.byte() % 8;
    const int32_t to = in.byte() % 8;
    const bool clear = in.byte() & 1;
    for (auto &d : destination) d = kGuard;
    uint16_t *target = destination + kGuardElements + to;
    if (clear) {
        MPG_MemZero16(target, count);
    } else {
        MPG_MemCopy16(source + from, target, count);
    }
    for (long i = 0; i < static_cast<long>(sizeof destination / 2); ++i) {
        const long k = i - kGuardElements - to;
        const uint16_t expected = k < 0 || k >= count ? kGuard : clear ? 0 : source[from + k];
        if (destination[i] != expected) fail(clear ? "clear wrote the wrong elements" : "copy wrote the wrong elements", k);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input in(data, size);
    switch (in.byte() % 4) {
    case 0: synthesis(in); break;
    case 1: idct(in); break;
    case 2: colour(in); break;
    default: copyAndClear(in); break;
    }
    return 0;
}
