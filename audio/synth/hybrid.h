// Hybrid filterbank stage of one granule and channel: alias reduction, long or
// short IMDCT per subband, overlap-add with the previous granule and frequency
// inversion of the odd subbands, giving 18 time slots of 32 subband samples.
#ifndef MPFIX_AUDIO_SYNTH_HYBRID_H
#define MPFIX_AUDIO_SYNTH_HYBRID_H

#include <cstdint>
#include <span>

namespace mpfix {

// spectrum: 576 requantized lines (26 fraction bits), used as scratch.
// output: 18 x 32 samples, slot-major (index 32 * slot + subband), 24 fraction bits.
// overlap: 576 values, subband-major, second halves of the previous transforms.
// nonzeroBound: 0..576, lines from here on that the stage reads are zero.
// prevSubbands: subbands transformed last granule (0..32); replaced by this one's.
// blockType 0..3, mixedBlockFlag 0..1.
// Returns 0, or MP3_ERR_PARAM with nothing written when an argument is out of
// range or a pointer is null.
int32_t MP3_HybridSynthesis(int32_t *spectrum, int32_t *output, int32_t *overlap, int32_t nonzeroBound,
                            int32_t *prevSubbands, int32_t blockType, int32_t mixedBlockFlag);

// Four long-block subbands sb .. sb + 3 (sb even, at most 28) at once: the
// long IMDCT of lines[18 i ..] with the window of blockType (as
// MP3_IMDCTLong), overlap-add with overlap[18 i ..] (which receives the
// second halves) and frequency inversion, into output[32 k + sb + i] (the
// whole slot-major output). The 72 lines are scratch afterwards.
// MP3_HybridSynthesis runs the best variant for runs of such subbands.
void MP3_HybridLong4_ref(int32_t *lines, int32_t *output, int32_t *overlap, int32_t sb, int32_t blockType);
#if !MPFIX_PLAIN_KERNELS && defined(__x86_64__)
void MP3_HybridLong4_avx2(int32_t *lines, int32_t *output, int32_t *overlap, int32_t sb, int32_t blockType);
#endif
#if !MPFIX_PLAIN_KERNELS && defined(__ARM_NEON)
void MP3_HybridLong4_neon(int32_t *lines, int32_t *output, int32_t *overlap, int32_t sb, int32_t blockType);
#endif
using HybridLong4Fn = void (*)(int32_t *lines, int32_t *output, int32_t *overlap, int32_t sb, int32_t blockType);
struct HybridLong4Variant {
    const char *name;
    HybridLong4Fn fn;
};
// Every variant this machine can run, the reference first.
std::span<const HybridLong4Variant> HybridLong4Variants() noexcept;

}  // namespace mpfix

#endif  // MPFIX_AUDIO_SYNTH_HYBRID_H
