// Hybrid filterbank stage of one granule and channel: alias reduction, long or
// short IMDCT per subband, overlap-add with the previous granule and frequency
// inversion of the odd subbands, giving 18 time slots of 32 subband samples.
#ifndef MPFIX_AUDIO_SYNTH_HYBRID_H
#define MPFIX_AUDIO_SYNTH_HYBRID_H

#include <cstdint>

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

}  // namespace mpfix

#endif  // MPFIX_AUDIO_SYNTH_HYBRID_H
