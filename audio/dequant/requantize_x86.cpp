// AVX2 variant of the requantization: eight values at a time while their
// magnitudes stay below 16, looked up with vpermd in the 16 results of the
// band's code; any other group goes through the scalar variant.
#include "audio/dequant/requantize.h"

#if !MPFIX_PLAIN_KERNELS && defined(__x86_64__)

#include <immintrin.h>

namespace mpfix {

__attribute__((target("avx2"))) int32_t MP3_RequantizeBand_avx2(const int32_t *input, int32_t *output,
                                                                int32_t count, int32_t attenuation) {
    alignas(32) int32_t magnitudes[16];
    MP3_SmallMagnitudes(attenuation, magnitudes);
    const __m256i low = _mm256_load_si256(reinterpret_cast<const __m256i *>(magnitudes));
    const __m256i high = _mm256_load_si256(reinterpret_cast<const __m256i *>(magnitudes + 8));
    const __m256i notSmall = _mm256_set1_epi32(~15);  // also catches |INT32_MIN|
    const __m256i seven = _mm256_set1_epi32(7);
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    for (int32_t i = 0; i < count; i += 8) {
        // The last group loads and stores only the lanes below count.
        const int32_t n = count - i < 8 ? count - i : 8;
        const __m256i active = _mm256_cmpgt_epi32(_mm256_set1_epi32(n), lanes);
        const __m256i x = _mm256_maskload_epi32(input + i, active);
        const __m256i a = _mm256_abs_epi32(x);
        if (!_mm256_testz_si256(a, notSmall)) {
            const int32_t result = MP3_RequantizeBand_scalar(input + i, output + i, n, attenuation);
            if (result != 0) return result;
            continue;
        }
        const __m256i m = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(low, a),
                                             _mm256_permutevar8x32_epi32(high, a), _mm256_cmpgt_epi32(a, seven));
        // psignd: negated where x < 0 (x = 0 has magnitude 0 anyway).
        _mm256_maskstore_epi32(output + i, active, _mm256_sign_epi32(m, x));
    }
    return 0;
}

}  // namespace mpfix

#endif
