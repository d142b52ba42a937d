// Kernels of the Layer III hybrid filterbank (ISO/IEC 11172-3, 2.4.3.4):
// alias-reduction butterflies between adjacent subbands and the long (18 -> 36)
// and short (3 x 6 -> 12) inverse MDCTs with their windows. Inputs carry 26
// fraction bits, outputs 24 (1.0 = 0x01000000). All arithmetic is integer and
// wraps where a corrupt stream pushes it out of range.
#ifndef MPFIX_AUDIO_SYNTH_IMDCT_H
#define MPFIX_AUDIO_SYNTH_IMDCT_H

#include <cstdint>
#include <span>

namespace mpfix {

// Butterfly pairs (cs_i, ca_i), 31 fraction bits.
extern const int32_t aliasCoef[8][2];
// Constants of the two nine-point transforms and of their recombination.
extern const int32_t imdctCos9[8];
extern const int32_t imdctTwiddle[8];
// Long windows with the fast transform's output scaling folded in:
// row 0 block type 0, row 1 block type 1, row 2 block type 3.
extern const int32_t imdctWindow[3][36];
// Cosines of the 12-point transform: outputs 3..5 in [0..17], 6..8 in [18..35].
extern const int32_t imdctShortCos[36];
// Short window sin(pi/12 (i + 1/2)).
extern const int32_t imdctShortWindow[12];

// Alias reduction over the boundaries 1 .. subbands - 1 of one granule's 576
// lines, in place. Counts above 32 are treated as 32; 1 or less changes nothing.
// Runs the best variant below for this machine.
void MP3_AliasReduce(int32_t *spectrum, int32_t subbands);

// The plain reference and its variants, bit for bit the same: AVX2 and NEON
// run the eight butterflies of a boundary at once.
void MP3_AliasReduce_ref(int32_t *spectrum, int32_t subbands);
#if !MPFIX_PLAIN_KERNELS && defined(__x86_64__)
void MP3_AliasReduce_avx2(int32_t *spectrum, int32_t subbands);
#endif
#if !MPFIX_PLAIN_KERNELS && defined(__ARM_NEON)
void MP3_AliasReduce_neon(int32_t *spectrum, int32_t subbands);
#endif
using AliasReduceFn = void (*)(int32_t *spectrum, int32_t subbands);
struct AliasReduceVariant {
    const char *name;
    AliasReduceFn fn;
};
// Every variant this machine can run, the reference first.
std::span<const AliasReduceVariant> AliasReduceVariants() noexcept;

// 36 windowed samples z from the 18 lines x of one subband. The window row is
// blockType, less 1 for block type 3 (0 normal, 1 start, 3 stop); values
// outside 0..3 take the normal window. x is left holding the intermediate
// values e[0..8], o[0..8].
void MP3_IMDCTLong(int32_t *x, int32_t *z, int32_t blockType);

// 36 samples z from the three short windows of one subband (x[6w .. 6w + 5]):
// each 12-point transform is windowed and placed at z[6 + 6w]; x is read only.
void MP3_IMDCTShort(const int32_t *x, int32_t *z);

}  // namespace mpfix

#endif  // MPFIX_AUDIO_SYNTH_IMDCT_H
