#include "audio/synth/polyphase_variants.h"

#include <array>

namespace mpfix {

const SynthWindowRows &synthWindowRows() {
    // Derived once from synthWindow and never written again.
    static const SynthWindowRows rows = [] {
        SynthWindowRows w{};
        for (int r = 0; r < 15; ++r) {
            const int32_t *d = synthWindow + 16 + 16 * r;
            for (int age = 0; age < 16; ++age) {
                int32_t a, b;
                if (age < 8) {
                    a = d[2 * age];
                    b = (age & 1) ? d[2 * age + 1] : wrapNeg(d[2 * age + 1]);
                } else {
                    const int t = 15 - age;
                    a = wrapNeg(d[2 * t + 1]);
                    b = (t & 1) ? d[2 * t] : wrapNeg(d[2 * t]);
                }
                for (int i = age; i < 36; i += 16) {
                    w.a[r][i] = a;
                    w.b[r][i] = b;
                }
            }
        }
        return w;
    }();
    return rows;
}

namespace synth {

namespace {
inline int32_t add3(int32_t a, int32_t b, int32_t c) { return wrapAdd(wrapAdd(a, b), c); }
}  // namespace

void storeSlot(const int32_t *x, int32_t *history, int32_t p) {
    history[p] = x[4];  // V_0
    // low receives V_{15-r}, high V_{47-r}, one word per row of 16.
    int32_t *low = history + ((p & 1) ? 24 : 272) + p;
    int32_t *high = history + ((p & 1) ? 272 : 24) + p;
    history[(p & 1) ? 264 + (p >> 1) : 16 + (p >> 1)] = wrapNeg(x[0]);  // V_48
    low[16 * 0] = x[31];
    low[16 * 1] = x[15];
    low[16 * 2] = wrapAdd(x[31], x[23]);
    low[16 * 3] = x[7];
    low[16 * 4] = add3(x[31], x[30], x[23]);
    low[16 * 5] = wrapAdd(x[15], x[14]);
    low[16 * 6] = add3(x[31], x[30], x[22]);
    low[16 * 7] = x[6];
    low[16 * 8] = add3(x[30], x[29], x[22]);
    low[16 * 9] = wrapAdd(x[14], x[13]);
    low[16 * 10] = add3(x[30], x[29], x[21]);
    low[16 * 11] = x[5];
    low[16 * 12] = add3(x[29], x[28], x[21]);
    low[16 * 13] = wrapAdd(x[13], x[12]);
    low[16 * 14] = add3(x[29], x[28], x[20]);

    high[16 * 0] = wrapNeg(add3(x[25], x[24], x[16]));
    high[16 * 1] = wrapNeg(wrapAdd(x[9], x[8]));
    high[16 * 2] = wrapNeg(add3(x[25], x[24], x[17]));
    high[16 * 3] = wrapNeg(x[1]);
    high[16 * 4] = wrapNeg(add3(x[26], x[25], x[17]));
    high[16 * 5] = wrapNeg(wrapAdd(x[10], x[9]));
    high[16 * 6] = wrapNeg(add3(x[26], x[25], x[18]));
    high[16 * 7] = wrapNeg(x[2]);
    high[16 * 8] = wrapNeg(add3(x[27], x[26], x[18]));
    high[16 * 9] = wrapNeg(wrapAdd(x[11], x[10]));
    high[16 * 10] = wrapNeg(add3(x[27], x[26], x[19]));
    high[16 * 11] = wrapNeg(x[3]);
    high[16 * 12] = wrapNeg(add3(x[28], x[27], x[19]));
    high[16 * 13] = wrapNeg(wrapAdd(x[12], x[11]));
    high[16 * 14] = wrapNeg(add3(x[28], x[27], x[20]));
}

}  // namespace synth

// The reference DCT, then the window as 32 dot products over contiguous rows
// with plain 64-bit accumulators: one 32x32->64 multiply-accumulate per
// product on 32-bit ARM, with no index arithmetic in the loop.
int32_t MP3_SynthPQMF_scalar(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride) {
    if (*position < 0 || *position > 15) return MP3_ERR_PARAM;
    const int32_t p = (*position + 15) & 15;
    *position = p;
    MP3_SynthDCT32(samples, history, p);

    const int step = (stride == 1) ? 1 : 2;
    pcm[0] = synth::windowSample0(history, p);
    pcm[16 * step] = synth::windowSample16(history, p);
    const int32_t *region = synth::windowRegion(history, p);
    const SynthWindowRows &w = synthWindowRows();
    for (int r = 0; r < 15; ++r) {
        const int32_t *row = region + 16 * r;
        const int32_t *ca = w.a[r] + 16 - p;
        const int32_t *cb = w.b[r] + 16 - p;
        uint64_t accA = 0, accB = 0;
        for (int c = 0; c < 16; ++c) {
            accA += static_cast<uint64_t>(mul64(ca[c], row[c]));
            accB += static_cast<uint64_t>(mul64(cb[c], row[c]));
        }
        pcm[(15 - r) * step] = synth::toPcm(accA);
        pcm[(17 + r) * step] = synth::toPcm(accB);
    }
    return 0;
}

namespace {

constexpr SynthPQMFVariant kAll[] = {
    {"ref", MP3_SynthPQMF},
#if !MPFIX_PLAIN_KERNELS
    {"scalar", MP3_SynthPQMF_scalar},
#if defined(__x86_64__) || defined(__i386__)
    {"sse41", MP3_SynthPQMF_sse41},
    {"avx2", MP3_SynthPQMF_avx2},
#endif
#if defined(__ARM_NEON)
    {"neon", MP3_SynthPQMF_neon},
#endif
#endif
};

bool canRun(const SynthPQMFVariant &v) {
#if !MPFIX_PLAIN_KERNELS && (defined(__x86_64__) || defined(__i386__))
    if (v.fn == MP3_SynthPQMF_sse41) return __builtin_cpu_supports("sse4.1");
    if (v.fn == MP3_SynthPQMF_avx2) return __builtin_cpu_supports("avx2");
#endif
    (void)v;
    return true;
}

}  // namespace

std::span<const SynthPQMFVariant> SynthPQMFVariants() {
    static const auto runnable = [] {
        struct List {
            std::array<SynthPQMFVariant, std::size(kAll)> items{};
            size_t count = 0;
        } list;
        for (const SynthPQMFVariant &v : kAll)
            if (canRun(v)) list.items[list.count++] = v;
        return list;
    }();
    return {runnable.items.data(), runnable.count};
}

}  // namespace mpfix
