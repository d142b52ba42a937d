// Speed of the video primitives against what a player would otherwise call:
// FFmpeg's AVDCT inverse DCT and libyuv's I420ToRGB565 (when built with them),
// glibc's memcpy and memset. Every entry runs once per round, rounds
// interleave the entries, and the table shows medians and their ratios, all
// from this one run; times are CPU time of the benchmark thread (the machine
// may be shared: compare ratios, not times).
// Run: build/release/bench/video_bench [rounds [filter]]  (filter: run only entries whose name has it)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <time.h>

#include "mpfix.h"
#include "video/idct.h"
#include "video/yuv_to_rgb565.h"

#if defined(MPFIX_HAVE_AVCODEC)
extern "C" {
#include <libavcodec/avdct.h>
#include <libavutil/mem.h>
}
#endif
#if defined(MPFIX_HAVE_LIBYUV)
#include <libyuv.h>
#endif

namespace {

// CPU time of this thread: time spent waiting while other processes run on
// a shared machine is not counted.
double threadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Entry {
    std::string name;
    double units;                 // blocks, pixels or bytes per call of run
    std::function<void()> run;    // one timed batch
    std::vector<double> samples;  // ns per unit, one per round
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// Repeats a batch for about 10 ms of CPU time; returns ns per unit.
double timeEntry(Entry &e) {
    long reps = 0;
    const double start = threadSeconds();
    double now = start;
    do {
        e.run();
        ++reps;
        now = threadSeconds();
    } while (now - start < 0.010);
    return 1e9 * (now - start) / (static_cast<double>(reps) * e.units);
}

uint64_t nextRandom(uint64_t &s) {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

constexpr int kBlocks = 256;

// Blocks whose coefficients k (row k / 8, column k % 8) with k % 8 + k / 8 <
// reach hold values in -256..255; reach 15 fills the block.
std::vector<int16_t> idctInputs(int reach) {
    std::vector<int16_t> blocks(64 * kBlocks);
    uint64_t s = 99;
    for (int b = 0; b < kBlocks; ++b)
        for (int k = 0; k < 64; ++k)
            blocks[static_cast<size_t>(64 * b + k)] =
                static_cast<int16_t>(k % 8 + k / 8 < reach ? static_cast<int>(nextRandom(s) % 512) - 256 : 0);
    return blocks;
}

struct alignas(32) Block {
    int16_t c[64];
};

// One batch: every input block copied into place and transformed. The copy
// alone is measured as its own entry and taken off.
template <typename Transform>
std::function<void()> idctBatch(const std::vector<int16_t> &inputs, Transform transform) {
    return [&inputs, transform] {
        static Block work;
        for (int b = 0; b < kBlocks; ++b) {
            std::memcpy(work.c, inputs.data() + 64 * b, sizeof work.c);
            transform(work.c);
            benchmark::ClobberMemory();
        }
    };
}

}  // namespace

int main(int argc, char **argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    std::vector<Entry> entries;
    auto add = [&](std::string name, double units, std::function<void()> run) {
        entries.push_back({std::move(name), units, std::move(run), {}});
    };

    // ---- 8x8 inverse DCT ----
    const std::vector<int16_t> dense = idctInputs(15), sparse = idctInputs(3);
    add("idct copy only", kBlocks, idctBatch(dense, [](int16_t *) {}));
    for (const auto *inputs : {&dense, &sparse}) {
        const std::string kind = inputs == &dense ? "dense" : "sparse";
        add("idct " + kind + " mpfix", kBlocks, idctBatch(*inputs, [](int16_t *b) { MPG_DCTInv_8x8(b); }));
        for (const auto &v : mpfix::DCTInv_8x8Variants())
            add("idct " + kind + " mpfix " + v.name, kBlocks, idctBatch(*inputs, v.fn));
    }
#if defined(MPFIX_HAVE_AVCODEC)
    AVDCT *dct = avcodec_dct_alloc();
    avcodec_dct_init(dct);
    // FFmpeg's idct takes its coefficients in its own permuted order.
    static std::vector<int16_t> denseFf(dense.size()), sparseFf(sparse.size());
    for (int b = 0; b < kBlocks; ++b)
        for (int k = 0; k < 64; ++k) {
            denseFf[64 * b + dct->idct_permutation[k]] = dense[64 * b + k];
            sparseFf[64 * b + dct->idct_permutation[k]] = sparse[64 * b + k];
        }
    void (*ffIdct)(int16_t *) = dct->idct;
    add("idct dense ffmpeg", kBlocks, idctBatch(denseFf, ffIdct));
    add("idct sparse ffmpeg", kBlocks, idctBatch(sparseFf, ffIdct));
#endif

    // ---- YUV 4:2:0 -> RGB565, 1920x1080 ----
    constexpr int kW = 1920, kH = 1080;
    static std::vector<uint8_t> lumaPlane(kW * kH), uPlane(kW * kH / 4), vPlane(kW * kH / 4);
    static std::vector<uint16_t> rgb(kW * kH);
    uint64_t s = 7;
    for (auto *p : {&lumaPlane, &uPlane, &vPlane})
        for (uint8_t &x : *p) x = static_cast<uint8_t>(nextRandom(s));
    static const MPG_YUVPlanes planes{lumaPlane.data(), uPlane.data(), vPlane.data()};
    static const MPG_YUVStrides strides{kW, kW / 2, kW / 2};
    add("yuv mpfix", double{kW} * kH, [] { MPG_YUV420ToBGR565(&planes, &strides, rgb.data(), 2 * kW, kW, kH); });
    for (const auto &v : mpfix::YUV420ToBGR565Variants()) {
        const auto fn = v.fn;
        add(std::string("yuv mpfix ") + v.name, double{kW} * kH,
            [fn] { fn(&planes, &strides, rgb.data(), 2 * kW, kW, kH); });
    }
#if defined(MPFIX_HAVE_LIBYUV)
    add("yuv libyuv", double{kW} * kH, [] {
        libyuv::I420ToRGB565(lumaPlane.data(), kW, uPlane.data(), kW / 2, vPlane.data(), kW / 2,
                             reinterpret_cast<uint8_t *>(rgb.data()), 2 * kW, kW, kH);
    });
#endif

    // ---- copy and clear of 64, 8192 and 1 M elements (bytes as units) ----
    static std::vector<int16_t> from(1 << 20), to(1 << 20);
    for (int32_t n : {64, 8192, 1 << 20}) {
        const double bytes = 2.0 * n;
        const int repeat = n < 8192 ? 64 : 1;  // short copies in bursts, so the clock is not what is timed
        const std::string size = std::to_string(n);
        add("copy " + size + " mpfix", bytes * repeat, [n, repeat] {
            for (int i = 0; i < repeat; ++i) MPG_MemCopy16(from.data(), to.data(), n), benchmark::ClobberMemory();
        });
        add("copy " + size + " memcpy", bytes * repeat, [n, repeat] {
            for (int i = 0; i < repeat; ++i)
                std::memcpy(to.data(), from.data(), 2 * static_cast<size_t>(n)), benchmark::ClobberMemory();
        });
        add("zero " + size + " mpfix", bytes * repeat, [n, repeat] {
            for (int i = 0; i < repeat; ++i) MPG_MemZero16(to.data(), n), benchmark::ClobberMemory();
        });
        add("zero " + size + " memset", bytes * repeat, [n, repeat] {
            for (int i = 0; i < repeat; ++i)
                std::memset(to.data(), 0, 2 * static_cast<size_t>(n)), benchmark::ClobberMemory();
        });
    }

    const std::string filter = argc > 2 ? argv[2] : "";
    for (int r = 0; r < rounds; ++r)
        for (Entry &e : entries)
            if (e.name.find(filter) != std::string::npos) e.samples.push_back(timeEntry(e));

    auto find = [&](const std::string &name) -> double {
        for (const Entry &e : entries)
            if (e.name == name) return median(e.samples);
        return -1.0;
    };
    std::printf("All entries, medians of %d interleaved rounds:\n", rounds);
    for (const Entry &e : entries) std::printf("  %-28s %10.4f ns/unit\n", e.name.c_str(), median(e.samples));

    const double copyOnly = find("idct copy only");
    auto row = [&](const char *label, double ours, double anchor, const char *anchorName, const char *unit) {
        if (anchor > 0)
            std::printf("| %s | %.3g %s | %s %.3g | %.2f |\n", label, ours, unit, anchorName, anchor, ours / anchor);
        else
            std::printf("| %s | %.3g %s | %s not built | - |\n", label, ours, unit, anchorName);
    };
    std::printf("\n| primitive | mpfix | anchor | ratio |\n|---|---|---|---|\n");
    const double ffDense = find("idct dense ffmpeg"), ffSparse = find("idct sparse ffmpeg");
    row("8x8 inverse DCT, dense blocks in -256..255", find("idct dense mpfix") - copyOnly,
        ffDense > 0 ? ffDense - copyOnly : -1, "FFmpeg", "ns/block");
    row("8x8 inverse DCT, sparse blocks (DC + 5 low coefficients)", find("idct sparse mpfix") - copyOnly,
        ffSparse > 0 ? ffSparse - copyOnly : -1, "FFmpeg", "ns/block");
    row("YUV 4:2:0 -> RGB565, 1920x1080", find("yuv mpfix"), find("yuv libyuv"), "libyuv", "ns/pixel");
    for (const char *op : {"copy", "zero"})
        for (const char *n : {"64", "8192", "1048576"}) {
            const std::string base = std::string(op) + " " + n;
            const std::string label = std::string(op[0] == 'c' ? "`MPG_MemCopy16`, " : "`MPG_MemZero16`, ") + n +
                                      " elements";
            row(label.c_str(), find(base + " mpfix"), find(base + (op[0] == 'c' ? " memcpy" : " memset")),
                op[0] == 'c' ? "memcpy" : "memset", "ns/byte");
        }
    std::printf("\n(IDCT times exclude the 128-byte copy of each input block, %.2f ns, measured alongside.)\n",
                copyOnly);
    // One row per variant name of either list; "-" where a kernel has no such variant.
    std::vector<std::string> names;
    for (const auto &v : mpfix::DCTInv_8x8Variants()) names.push_back(v.name);
    for (const auto &v : mpfix::YUV420ToBGR565Variants())
        if (std::find(names.begin(), names.end(), v.name) == names.end()) names.push_back(v.name);
    auto cell = [&](const std::string &name, double offset) {
        const double t = find(name);
        return t < 0 ? std::string("-") : std::to_string(t - offset).substr(0, 5);
    };
    std::printf("\n| variant | IDCT dense ns/block | IDCT sparse ns/block | YUV ns/pixel |\n|---|---|---|---|\n");
    for (const std::string &n : names)
        std::printf("| %s | %s | %s | %s |\n", n.c_str(), cell("idct dense mpfix " + n, copyOnly).c_str(),
                    cell("idct sparse mpfix " + n, copyOnly).c_str(), cell("yuv mpfix " + n, 0).c_str());
#if defined(MPFIX_HAVE_AVCODEC)
    av_free(dct);
#endif
    return 0;
}
