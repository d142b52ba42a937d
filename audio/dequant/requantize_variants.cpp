#include <iterator>

#include "audio/dequant/requantize.h"

namespace mpfix {

int32_t MP3_RequantizeBand_scalar(const int32_t *input, int32_t *output, int32_t count, int32_t attenuation) {
    int32_t magnitudes[16];
    MP3_SmallMagnitudes(attenuation, magnitudes);
    for (int32_t i = 0; i < count; ++i) {
        const int32_t x = input[i];
        const uint32_t a = x < 0 ? 0u - static_cast<uint32_t>(x) : static_cast<uint32_t>(x);
        if (a < 16) {
            const int32_t m = magnitudes[a];
            output[i] = x < 0 ? -m : m;
        } else {
            // Larger magnitudes are rare: the reference converts them (and
            // reports one above 8206 without writing it).
            const int32_t result = MP3_RequantizeBand_ref(input + i, output + i, 1, attenuation);
            if (result != 0) return result;
        }
    }
    return 0;
}

namespace {

constexpr RequantizeBandVariant kAll[] = {
    {"ref", MP3_RequantizeBand_ref},
#if !MPFIX_PLAIN_KERNELS
    {"scalar", MP3_RequantizeBand_scalar},
#if defined(__x86_64__)
    {"avx2", MP3_RequantizeBand_avx2},
#endif
#endif
};

size_t runnableCount() noexcept {
    size_t n = std::size(kAll);
#if !MPFIX_PLAIN_KERNELS && defined(__x86_64__)
    if (!__builtin_cpu_supports("avx2")) n = 2;
#endif
    return n;
}

}  // namespace

std::span<const RequantizeBandVariant> RequantizeBandVariants() noexcept { return {kAll, runnableCount()}; }

int32_t MP3_RequantizeBand(const int32_t *input, int32_t *output, int32_t count, int32_t attenuation) {
#if MPFIX_PLAIN_KERNELS
    return MP3_RequantizeBand_ref(input, output, count, attenuation);
#elif defined(__x86_64__)
    static const RequantizeBandFn best = RequantizeBandVariants().back().fn;
    return best(input, output, count, attenuation);
#else
    return MP3_RequantizeBand_scalar(input, output, count, attenuation);
#endif
}

}  // namespace mpfix
