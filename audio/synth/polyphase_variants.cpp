#include "audio/synth/polyphase.h"

#include <iterator>

namespace mpfix {

// The reference DCT, then the window as 32 dot products over contiguous rows
// with plain 64-bit accumulators: one 32x32->64 multiply-accumulate per
// product on 32-bit ARM, with no index arithmetic in the loop.
int32_t MP3_SynthPQMF_scalar(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride) {
    if (*position < 0 || *position > 15) return MP3_ERR_PARAM;
    const int step = (stride == 1) ? 1 : 2;
    const int32_t p = synth::startSlot(samples, pcm, history, position, step);
    const int32_t *region = synth::windowRegion(history, p);
    const SynthWindowRows &w = synthWindowRows;
    for (int r = 0; r < 15; ++r) {
        const int32_t *row = region + 16 * r;
        // One pointer reaches both coefficient rows (b at a fixed offset),
        // which keeps the loop within the registers of a 32-bit core.
        const int32_t *coef = w.a(r) + 16 - p;
        uint64_t accA = 0, accB = 0;
#pragma GCC unroll 4
        for (int c = 0; c < 16; ++c) {
            const int32_t v = row[c];
            accA += static_cast<uint64_t>(mul64(coef[c], v));
            accB += static_cast<uint64_t>(mul64(coef[c + SynthWindowRows::kB], v));
        }
        pcm[(15 - r) * step] = synth::toPcm(accA);
        pcm[(17 + r) * step] = synth::toPcm(accB);
    }
    return 0;
}

namespace {

constexpr SynthPQMFVariant kAll[] = {
    {"ref", MP3_SynthPQMF_ref},
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

// The variants after the reference need ever more of the processor, so the
// runnable ones are a prefix of the list.
size_t runnableCount() noexcept {
    size_t n = std::size(kAll);
#if !MPFIX_PLAIN_KERNELS && (defined(__x86_64__) || defined(__i386__))
    if (!__builtin_cpu_supports("avx2")) n = 3;
    if (!__builtin_cpu_supports("sse4.1")) n = 2;
#endif
    return n;
}

}  // namespace

std::span<const SynthPQMFVariant> SynthPQMFVariants() noexcept { return {kAll, runnableCount()}; }

}  // namespace mpfix
