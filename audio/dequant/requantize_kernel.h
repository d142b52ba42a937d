// The arithmetic of one requantized value, shared by the reference and its
// variants so that every path computes the same words.
#ifndef MPFIX_AUDIO_DEQUANT_REQUANTIZE_KERNEL_H
#define MPFIX_AUDIO_DEQUANT_REQUANTIZE_KERNEL_H

#include <cstdint>

#include "audio/dequant/requantize.h"
#include "audio/fixed_point.h"
#include "mpfix.h"

namespace mpfix::requantize {

constexpr int32_t kMaxMagnitude = 0x7FFFFFFF;

// Scales a non-negative magnitude by 2^-shift: a right shift (0 from 32 on), or
// for a negative shift a left shift that saturates at 0x7FFFFFFF.
inline int32_t shiftMagnitude(int32_t value, int32_t shift) {
    if (shift >= 0) return shift >= 32 ? 0 : value >> shift;
    const int32_t left = -shift;
    const int32_t limit = left >= 32 ? 0 : kMaxMagnitude >> left;
    return value > limit ? kMaxMagnitude : wrapShl(value, left);
}

// |x|^(4/3) for 129 <= a <= 8206 from the normalised mantissa: q and its shift j.
inline int32_t powerByPolynomial(uint32_t a, int32_t *j) {
    int32_t v = static_cast<int32_t>(a << 17);
    int32_t e = 6;
    if (v < (1 << 27)) { v = wrapShl(v, 4); e -= 4; }
    if (v < (1 << 29)) { v = wrapShl(v, 2); e -= 2; }
    if (v < (1 << 30)) { v = wrapShl(v, 1); e -= 1; }
    int32_t p = 0;
    for (int i = 0; i < 7; ++i) p = mulHigh(v, wrapAdd(p, powPolyCoef[i]));
    p = wrapAdd(p, powPolyCoef[7]);
    *j = 27 - powOctaveShift[e];
    return wrapShl(mulHigh(powOctaveGain[e], wrapShl(p, 4)), 1);
}

// The result for a magnitude 16 <= a <= 8206 under quarter-step gain g and
// octave count n.
inline int32_t largeMagnitude(uint32_t a, int32_t g, int32_t n) {
    int32_t q;
    int32_t j;
    if (a <= 128) {
        q = midPowTable[a - 16];
        j = a < 64 ? 4 : 6;
    } else {
        q = powerByPolynomial(a, &j);
    }
    return shiftMagnitude(mulHigh(g, q), n - j);
}

inline uint32_t magnitudeOf(int32_t x) { return x < 0 ? 0u - static_cast<uint32_t>(x) : static_cast<uint32_t>(x); }

// Values that the small-magnitude lookups do not cover, one at a time: the
// 16 prepared results below 16, the arithmetic above. Returns MP3_ERR_PARAM
// at a magnitude above 8206, leaving it and the later outputs unwritten.
inline int32_t requantizeValues(const int32_t *input, int32_t *output, int32_t count, const int32_t small[16],
                                int32_t attenuation) {
    const int32_t g = quarterStepGain[attenuation & 3];
    const int32_t n = attenuation >> 2;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t x = input[i];
        const uint32_t a = magnitudeOf(x);
        int32_t m;
        if (a < 16) {
            m = small[a];
        } else {
            if (a > static_cast<uint32_t>(MP3_MAX_QUANTIZED)) return MP3_ERR_PARAM;
            m = largeMagnitude(a, g, n);
        }
        output[i] = x < 0 ? -m : m;
    }
    return 0;
}

}  // namespace mpfix::requantize

#endif  // MPFIX_AUDIO_DEQUANT_REQUANTIZE_KERNEL_H
