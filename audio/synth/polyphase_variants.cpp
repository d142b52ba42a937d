#include "audio/synth/polyphase.h"

#include <iterator>

namespace mpfix {

int32_t MP3_SynthGranule_slots(int32_t *slots, int16_t *pcm, int32_t *history, int32_t *position, int32_t nch) {
    return synth::granuleBySlots<::MP3_SynthPQMF>(slots, pcm, history, position, nch);
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

constexpr SynthGranuleVariant kGranule[] = {
    {"ref", MP3_SynthGranule_ref},
#if !MPFIX_PLAIN_KERNELS
    {"slots", MP3_SynthGranule_slots},
#if defined(__x86_64__) || defined(__i386__)
    {"avx2", MP3_SynthGranule_avx2},
#endif
#endif
};

size_t runnableGranuleCount() noexcept {
    size_t n = std::size(kGranule);
#if !MPFIX_PLAIN_KERNELS && (defined(__x86_64__) || defined(__i386__))
    if (!__builtin_cpu_supports("avx2")) n = 2;
#endif
    return n;
}

}  // namespace

std::span<const SynthPQMFVariant> SynthPQMFVariants() noexcept { return {kAll, runnableCount()}; }
std::span<const SynthGranuleVariant> SynthGranuleVariants() noexcept { return {kGranule, runnableGranuleCount()}; }

}  // namespace mpfix
