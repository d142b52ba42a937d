// Alias reduction on x86-64 (AVX2): the eight butterflies of one subband
// boundary in the eight lanes, the lines above the boundary reversed into
// lane order. Exact 64-bit sums of products (vpmuldq on the even and the odd
// lanes), their high words doubled with wrapping: the reference's results bit
// for bit.
#if !MPFIX_PLAIN_KERNELS && defined(__x86_64__)

#include <immintrin.h>

#include "audio/synth/imdct.h"
#include "mpfix.h"

namespace mpfix {

namespace {

// The high words of the four even-lane and the four odd-lane 64-bit sums,
// back in lane order and doubled.
__attribute__((target("avx2"), always_inline)) inline __m256i doubledHigh(__m256i even, __m256i odd) {
    return _mm256_slli_epi32(_mm256_blend_epi32(_mm256_srli_epi64(even, 32), odd, 0xAA), 1);
}

}  // namespace

__attribute__((target("avx2"))) void MP3_AliasReduce_avx2(int32_t *spectrum, int32_t subbands) {
    if (subbands > MP3_SUBBANDS) subbands = MP3_SUBBANDS;
    __m256i cs, ca;
    {
        alignas(32) int32_t c[2][8];
        for (int i = 0; i < 8; ++i) c[0][i] = aliasCoef[i][0], c[1][i] = aliasCoef[i][1];
        cs = _mm256_load_si256(reinterpret_cast<const __m256i *>(c[0]));
        ca = _mm256_load_si256(reinterpret_cast<const __m256i *>(c[1]));
    }
    const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
    const __m256i csOdd = _mm256_srli_epi64(cs, 32), caOdd = _mm256_srli_epi64(ca, 32);
    for (int32_t k = 1; k < subbands; ++k) {
        int32_t *lower = spectrum + MP3_SLOTS * k;  // lines 18k .. 18k + 7
        int32_t *upper = lower - 8;                 // lines 18k - 8 .. 18k - 1, reversed below
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(lower));
        const __m256i up =
            _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(upper)), reverse);
        const __m256i loOdd = _mm256_srli_epi64(lo, 32), upOdd = _mm256_srli_epi64(up, 32);
        const __m256i newLo =
            doubledHigh(_mm256_add_epi64(_mm256_mul_epi32(cs, lo), _mm256_mul_epi32(ca, up)),
                        _mm256_add_epi64(_mm256_mul_epi32(csOdd, loOdd), _mm256_mul_epi32(caOdd, upOdd)));
        const __m256i newUp =
            doubledHigh(_mm256_sub_epi64(_mm256_mul_epi32(cs, up), _mm256_mul_epi32(ca, lo)),
                        _mm256_sub_epi64(_mm256_mul_epi32(csOdd, upOdd), _mm256_mul_epi32(caOdd, loOdd)));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(lower), newLo);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(upper), _mm256_permutevar8x32_epi32(newUp, reverse));
    }
}

}  // namespace mpfix

#endif
