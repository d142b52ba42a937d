#include "audio/synth/polyphase.h"

#include <iterator>

namespace mpfix {

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
