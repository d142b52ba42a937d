// Requantization of Layer III spectral integers: x -> sign(x) |x|^(4/3) 2^(-c/4)
// as signed 32-bit values with 26 fraction bits (1.0 = 0x04000000).
#ifndef MPFIX_AUDIO_DEQUANT_REQUANTIZE_H
#define MPFIX_AUDIO_DEQUANT_REQUANTIZE_H

#include <cstdint>
#include <span>

namespace mpfix {

// Largest quantized magnitude: 15 plus the largest 13-bit escape extension.
constexpr int32_t MP3_MAX_QUANTIZED = 8206;

// round(2^31 * 2^(-k/4)), k = 0..3; k = 0 held at 0x7FFFFFFF.
extern const int32_t quarterStepGain[4];
// [k][m]: 0 for m = 0; round(m^(4/3) 2^(-k/4) 2^28) for m = 1..3; round(m^(4/3) 2^(-k/4) 2^25) for m = 4..15.
extern const int32_t smallPowTable[4][16];
// [m - 16]: round(m^(4/3) 2^23) for m = 16..63; round(m^(4/3) 2^21) for m = 64..128.
extern const int32_t midPowTable[113];
// Horner coefficients of m^(4/3) 2^27 for the mantissa m in [0.5, 1), highest power first.
extern const int32_t powPolyCoef[8];
// 2^f of octave e, f = frac(4(e + 8)/3): floor(2^30 2^f) for f = 1/3, 2/3; 0x7FFFFFFF for f = 0.
extern const int32_t powOctaveGain[7];
// Whole power of octave e, as 27 - (result shift of the polynomial path).
extern const int32_t powOctaveShift[7];

// Requantizes count values with one attenuation code (quarter steps, low two
// bits the fraction, the rest whole octaves taken as an arithmetic shift, so a
// negative code amplifies, saturating at 0x7FFFFFFF). output may equal input.
// Returns 0, or MP3_ERR_PARAM at the first magnitude above 8206: outputs
// before it are stored, it and later ones are not written.
// It runs the best variant below for this machine.
int32_t MP3_RequantizeBand(const int32_t *input, int32_t *output, int32_t count, int32_t attenuation);

// The plain reference, one band per call.
int32_t MP3_RequantizeBand_ref(const int32_t *input, int32_t *output, int32_t count, int32_t attenuation);

// One band of a requantization pass: count values from index start, one code.
struct MP3_RequantizeRun {
    int32_t start;
    int32_t count;
    int32_t attenuation;
};

// Requantizes the runs in order, each as MP3_RequantizeBand would (input and
// output at the same indices; output may equal input), and stops with
// MP3_ERR_PARAM at the first magnitude above 8206. One call serves all the
// bands of a channel, so the variant is chosen once per pass.
int32_t MP3_RequantizeRuns(const int32_t *input, int32_t *output, const MP3_RequantizeRun *runs, int32_t runCount);

// The reference (MP3_RequantizeBand_ref run by run) and its variants, which
// give the same outputs and results bit for bit: the scalar variant reads
// magnitudes up to 15 from the 16 results of the code, prepared when the code
// changes; the AVX2 variant looks up eight values at a time in them (vpermd),
// the NEON variant four (vtbl); larger magnitudes take the reference's
// arithmetic one value at a time.
int32_t MP3_RequantizeRuns_ref(const int32_t *input, int32_t *output, const MP3_RequantizeRun *runs,
                               int32_t runCount);
int32_t MP3_RequantizeRuns_scalar(const int32_t *input, int32_t *output, const MP3_RequantizeRun *runs,
                                  int32_t runCount);
#if !MPFIX_PLAIN_KERNELS && defined(__x86_64__)
int32_t MP3_RequantizeRuns_avx2(const int32_t *input, int32_t *output, const MP3_RequantizeRun *runs,
                                int32_t runCount);
#endif
#if !MPFIX_PLAIN_KERNELS && defined(__ARM_NEON)
int32_t MP3_RequantizeRuns_neon(const int32_t *input, int32_t *output, const MP3_RequantizeRun *runs,
                                int32_t runCount);
#endif
using RequantizeRunsFn = int32_t (*)(const int32_t *input, int32_t *output, const MP3_RequantizeRun *runs,
                                     int32_t runCount);
struct RequantizeRunsVariant {
    const char *name;
    RequantizeRunsFn fn;
};
// Every variant this machine can run, the reference first.
std::span<const RequantizeRunsVariant> RequantizeRunsVariants() noexcept;

// The results for magnitudes 0..15 under one attenuation code, as the
// reference computes them.
void MP3_SmallMagnitudes(int32_t attenuation, int32_t magnitudes[16]);

}  // namespace mpfix

#endif  // MPFIX_AUDIO_DEQUANT_REQUANTIZE_H
