// AVX2 variant of the requantization, eight values at a time. Magnitudes
// below 16 are looked up with vpermd in the 16 results of the band's code;
// a group holding larger ones (up to 8206) takes the reference's arithmetic
// in all lanes at once: midPowTable gathered, the polynomial by Horner's rule
// on high products (vpmuldq), the octave gain and shift gathered, the final
// shift per lane with the reference's saturation. A group with a magnitude
// above 8206 goes value by value, so the error stops it where it stands.
#include "audio/dequant/requantize.h"

#if !MPFIX_PLAIN_KERNELS && defined(__x86_64__)

#include <immintrin.h>

#include "audio/dequant/requantize_kernel.h"

#define MPFIX_AVX2 __attribute__((target("avx2"), always_inline)) inline

namespace mpfix {

namespace {

// Eight lanes on, then eight off: the mask of the first n lanes starts at 8 - n.
alignas(32) constexpr int32_t kLaneMasks[16] = {-1, -1, -1, -1, -1, -1, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0};

// The per-band constants: the 16 small results in two vectors.
struct Code {
    __m256i low;
    __m256i high;
};

// For n >= 1 the small results are the row shifted right by n - 1, entries
// 1..3 (three fraction bits more) by 3 first: two floors by powers of two
// compose into one.
__attribute__((target("avx2"))) inline void prepare(int32_t attenuation, Code *code) {
    const int32_t n = attenuation >> 2;
    if (n >= 1) {
        const int32_t *row = smallPowTable[attenuation & 3];
        const __m128i count = _mm_cvtsi32_si128(n - 1);  // counts from 32 on clear the lanes
        const __m256i entries = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row));
        code->low = _mm256_srl_epi32(_mm256_srlv_epi32(entries, _mm256_setr_epi32(0, 3, 3, 3, 0, 0, 0, 0)), count);
        code->high = _mm256_srl_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(row + 8)), count);
    } else {
        alignas(32) int32_t small[16];
        MP3_SmallMagnitudes(attenuation, small);
        code->low = _mm256_load_si256(reinterpret_cast<const __m256i *>(small));
        code->high = _mm256_load_si256(reinterpret_cast<const __m256i *>(small + 8));
    }
}

// From a group with a magnitude above 8206: value by value up to it, where
// the reference stops too (the result is MP3_ERR_PARAM).
__attribute__((noinline)) int32_t stopAtError(const int32_t *input, int32_t *output, int32_t count, int32_t attenuation) {
    int32_t small[16];
    MP3_SmallMagnitudes(attenuation, small);
    return requantize::requantizeValues(input, output, count, small, attenuation);
}

// High products floor(x y / 2^32) of eight lane pairs.
MPFIX_AVX2 __m256i mulHigh8(__m256i x, __m256i y) {
    const __m256i even = _mm256_srli_epi64(_mm256_mul_epi32(x, y), 32);
    const __m256i odd = _mm256_mul_epi32(_mm256_srli_epi64(x, 32), _mm256_srli_epi64(y, 32));
    return _mm256_blend_epi32(even, odd, 0xAA);
}

// The results of magnitudes a, 16 <= a <= 8206, in every lane (other lanes
// give values that the caller drops).
MPFIX_AVX2 __m256i largeMagnitudes(int32_t attenuation, __m256i a) {
    const __m256i isMid = _mm256_cmpgt_epi32(_mm256_set1_epi32(129), a);
    // 16..128: the table, 23 fraction bits below 64 and 21 from 64 on.
    const __m256i zero = _mm256_setzero_si256();
    __m256i q = _mm256_mask_i32gather_epi32(zero, midPowTable, _mm256_sub_epi32(a, _mm256_set1_epi32(16)), isMid, 4);
    __m256i j = _mm256_sub_epi32(_mm256_set1_epi32(6),
                                 _mm256_and_si256(_mm256_cmpgt_epi32(_mm256_set1_epi32(64), a), _mm256_set1_epi32(2)));
    if (_mm256_movemask_ps(_mm256_castsi256_ps(isMid)) != 0xFF) {
        // 129..8206: floor(log2 a) from the exponent of the exact float, the
        // mantissa v = a / 2^(e+8) with 31 fraction bits, e = floor(log2 a) - 7.
        const __m256i exponent = _mm256_sub_epi32(
            _mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(a)), 23), _mm256_set1_epi32(127));
        const __m256i v = _mm256_sllv_epi32(a, _mm256_sub_epi32(_mm256_set1_epi32(30), exponent));
        const __m256i e = _mm256_sub_epi32(exponent, _mm256_set1_epi32(7));
        __m256i p = _mm256_setzero_si256();
        for (int i = 0; i < 7; ++i) p = mulHigh8(v, _mm256_add_epi32(p, _mm256_set1_epi32(powPolyCoef[i])));
        p = _mm256_add_epi32(p, _mm256_set1_epi32(powPolyCoef[7]));
        const __m256i isPoly = _mm256_xor_si256(isMid, _mm256_set1_epi32(-1));
        const __m256i octaveGain = _mm256_mask_i32gather_epi32(zero, powOctaveGain, e, isPoly, 4);
        const __m256i qPoly = _mm256_slli_epi32(mulHigh8(octaveGain, _mm256_slli_epi32(p, 4)), 1);
        const __m256i shift = _mm256_mask_i32gather_epi32(zero, powOctaveShift, e, isPoly, 4);
        const __m256i jPoly = _mm256_sub_epi32(_mm256_set1_epi32(27), shift);
        q = _mm256_blendv_epi8(qPoly, q, isMid);
        j = _mm256_blendv_epi8(jPoly, j, isMid);
    }
    // r >= 0 scaled by 2^-(n - j): logical right shifts (0 from 32 on), or a
    // left shift by t = j - n that saturates above 0x7FFFFFFF >> t.
    const __m256i r = mulHigh8(_mm256_set1_epi32(quarterStepGain[attenuation & 3]), q);
    const __m256i s = _mm256_sub_epi32(_mm256_set1_epi32(attenuation >> 2), j);
    const __m256i t = _mm256_sub_epi32(_mm256_setzero_si256(), s);
    const __m256i max = _mm256_set1_epi32(requantize::kMaxMagnitude);
    const __m256i left = _mm256_blendv_epi8(_mm256_sllv_epi32(r, t), max,
                                            _mm256_cmpgt_epi32(r, _mm256_srlv_epi32(max, t)));
    return _mm256_blendv_epi8(_mm256_srlv_epi32(r, s), left, _mm256_srai_epi32(s, 31));
}

// The results of eight values x (magnitudes a), or false when one exceeds 8206.
MPFIX_AVX2 bool requantize8(const Code &code, int32_t attenuation, __m256i x, __m256i a, __m256i *y) {
    const __m256i smallLanes = _mm256_cmpeq_epi32(_mm256_min_epu32(a, _mm256_set1_epi32(15)), a);  // unsigned: not |INT32_MIN|
    __m256i m = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(code.low, a),
                                   _mm256_permutevar8x32_epi32(code.high, a),
                                   _mm256_cmpgt_epi32(a, _mm256_set1_epi32(7)));
    if (_mm256_movemask_ps(_mm256_castsi256_ps(smallLanes)) != 0xFF) {
        const __m256i limit = _mm256_set1_epi32(MP3_MAX_QUANTIZED);
        const __m256i valid = _mm256_cmpeq_epi32(_mm256_min_epu32(a, limit), a);
        if (_mm256_movemask_ps(_mm256_castsi256_ps(valid)) != 0xFF) return false;
        m = _mm256_blendv_epi8(largeMagnitudes(attenuation, a), m, smallLanes);
    }
    *y = _mm256_sign_epi32(m, x);  // psignd: negated where x < 0 (x = 0 has magnitude 0 anyway)
    return true;
}

}  // namespace

__attribute__((target("avx2"))) int32_t MP3_RequantizeRuns_avx2(const int32_t *input, int32_t *output,
                                                                const MP3_RequantizeRun *runs, int32_t runCount) {
    Code code;
    for (int32_t r = 0; r < runCount; ++r) {
        const MP3_RequantizeRun run = runs[r];  // a copy: stores to output cannot change it
        // Neighbouring bands often share their code (scalefactor 0).
        if (r == 0 || run.attenuation != runs[r - 1].attenuation) prepare(run.attenuation, &code);
        const int32_t *in = input + run.start;
        int32_t *out = output + run.start;
        int32_t i = 0;
        for (; i + 8 <= run.count; i += 8) {
            const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + i));
            __m256i y;
            if (!requantize8(code, run.attenuation, x, _mm256_abs_epi32(x), &y)) break;
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), y);
        }
        if (i + 8 <= run.count) {
            // A magnitude above 8206 ahead: value by value to the error.
            return stopAtError(in + i, out + i, run.count - i, run.attenuation);
        }
        if (i < run.count) {
            // The last group loads and stores only the lanes of the run.
            const __m256i active = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(kLaneMasks + 8 - (run.count - i)));
            const __m256i x = _mm256_maskload_epi32(in + i, active);
            __m256i y;
            if (!requantize8(code, run.attenuation, x, _mm256_abs_epi32(x), &y)) {
                return stopAtError(in + i, out + i, run.count - i, run.attenuation);
            }
            _mm256_maskstore_epi32(out + i, active, y);
        }
    }
    return 0;
}

}  // namespace mpfix

#endif
