#include <iterator>

#include "audio/dequant/requantize.h"
#include "audio/dequant/requantize_kernel.h"
#include "mpfix.h"

namespace mpfix {

int32_t MP3_RequantizeRuns_ref(const int32_t *input, int32_t *output, const MP3_RequantizeRun *runs,
                               int32_t runCount) {
    for (int32_t r = 0; r < runCount; ++r) {
        const MP3_RequantizeRun &run = runs[r];
        const int32_t result =
            MP3_RequantizeBand_ref(input + run.start, output + run.start, run.count, run.attenuation);
        if (result != 0) return result;
    }
    return 0;
}

namespace {

// One value with a magnitude 16..8206.
__attribute__((noinline)) int32_t largeValue(int32_t x, int32_t attenuation) {
    const int32_t m =
        requantize::largeMagnitude(requantize::magnitudeOf(x), quarterStepGain[attenuation & 3], attenuation >> 2);
    return x < 0 ? -m : m;
}

}  // namespace

int32_t MP3_RequantizeRuns_scalar(const int32_t *input, int32_t *output, const MP3_RequantizeRun *runs,
                                  int32_t runCount) {
    // The results for x = -15..15 at index x + 15: one unsigned compare and
    // one load per value, no magnitude or sign to apply.
    int32_t results[31];
    for (int32_t r = 0; r < runCount; ++r) {
        const MP3_RequantizeRun run = runs[r];  // a copy: stores to output cannot change it
        // Neighbouring bands often share their code (scalefactor 0).
        if (r == 0 || run.attenuation != runs[r - 1].attenuation) {
            int32_t small[16];
            MP3_SmallMagnitudes(run.attenuation, small);
            for (int32_t a = 0; a < 16; ++a) results[15 + a] = small[a], results[15 - a] = -small[a];
        }
        const int32_t *in = input + run.start;
        int32_t *out = output + run.start;
        const int32_t *const end = in + run.count;
        while (in != end) {
            // Small values in a tight loop; a larger one leaves it.
            uint32_t index = 0;
            for (; in != end; ++in, ++out) {
                index = static_cast<uint32_t>(*in) + 15u;
                if (index > 30u) break;
                *out = results[index];
            }
            if (in == end) break;
            if (requantize::magnitudeOf(*in) > static_cast<uint32_t>(MP3_MAX_QUANTIZED)) return MP3_ERR_PARAM;
            *out++ = largeValue(*in++, run.attenuation);
        }
    }
    return 0;
}

namespace {

constexpr RequantizeRunsVariant kAll[] = {
    {"ref", MP3_RequantizeRuns_ref},
#if !MPFIX_PLAIN_KERNELS
    {"scalar", MP3_RequantizeRuns_scalar},
#if defined(__x86_64__)
    {"avx2", MP3_RequantizeRuns_avx2},
#elif defined(__ARM_NEON)
    {"neon", MP3_RequantizeRuns_neon},
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

std::span<const RequantizeRunsVariant> RequantizeRunsVariants() noexcept { return {kAll, runnableCount()}; }

int32_t MP3_RequantizeRuns(const int32_t *input, int32_t *output, const MP3_RequantizeRun *runs, int32_t runCount) {
#if MPFIX_PLAIN_KERNELS
    return MP3_RequantizeRuns_ref(input, output, runs, runCount);
#elif defined(__x86_64__)
    static const RequantizeRunsFn best = RequantizeRunsVariants().back().fn;
    return best(input, output, runs, runCount);
#elif defined(__ARM_NEON)
    return MP3_RequantizeRuns_neon(input, output, runs, runCount);
#else
    return MP3_RequantizeRuns_scalar(input, output, runs, runCount);
#endif
}

int32_t MP3_RequantizeBand(const int32_t *input, int32_t *output, int32_t count, int32_t attenuation) {
    const MP3_RequantizeRun run{0, count, attenuation};
    return MP3_RequantizeRuns(input, output, &run, 1);
}

}  // namespace mpfix
