#include "audio/synth/hybrid.h"

#include "audio/dequant/words.h"
#include "audio/fixed_point.h"
#include "audio/synth/imdct.h"
#include "mpfix.h"

namespace mpfix {

namespace {

constexpr int32_t kSubbands = MP3_SUBBANDS;
constexpr int32_t kSlots = MP3_SLOTS;

// Number of subbands that can hold a nonzero value. Multiplying by 3641 and
// shifting by 16 divides by 18 exactly for every bound from 0 to 576.
int32_t subbandLimit(int32_t bound, int32_t blockType, int32_t mixedBlockFlag) {
    int32_t limit;
    if (blockType != 2) {
        // Lines 0 .. bound + 8: the alias butterflies carry up to 8 lines into
        // the next subband.
        limit = ((bound + 26) * 3641) >> 16;
    } else {
        limit = ((bound + 17) * 3641) >> 16;  // ceil(bound / 18)
        if (mixedBlockFlag == 1 && limit < 2) limit = 2;
    }
    return limit > kSubbands ? kSubbands : limit;
}

// Adds the first half of z to the stored overlap, keeps the second half for
// the next granule, and writes the subband's 18 slots (odd slots of odd
// subbands negated: frequency inversion before the polyphase synthesis).
void overlapAdd(const int32_t *z, int32_t *overlap, int32_t *output, int32_t sb) {
    const bool invert = (sb & 1) != 0;
    for (int32_t k = 0; k < kSlots; ++k) {
        int32_t v = wrapAdd(z[k], overlap[k]);
        if (invert && (k & 1) != 0) v = wrapNeg(v);
        output[kSubbands * k + sb] = v;
        overlap[k] = z[kSlots + k];
    }
}

}  // namespace

int32_t MP3_HybridSynthesis(int32_t *spectrum, int32_t *output, int32_t *overlap, int32_t nonzeroBound,
                            int32_t *prevSubbands, int32_t blockType, int32_t mixedBlockFlag) {
    if (spectrum == nullptr || output == nullptr || overlap == nullptr || prevSubbands == nullptr) {
        return MP3_ERR_PARAM;
    }
    const int32_t previous = *prevSubbands;
    if (nonzeroBound < 0 || nonzeroBound > MP3_GRANULE_LINES || blockType < 0 || blockType > 3 || previous < 0 ||
        previous > kSubbands || mixedBlockFlag < 0 || mixedBlockFlag > 1) {
        return MP3_ERR_PARAM;
    }

    const int32_t limit = subbandLimit(nonzeroBound, blockType, mixedBlockFlag);
    if (blockType != 2) {
        MP3_AliasReduce(spectrum, limit);
    } else if (mixedBlockFlag == 1) {
        MP3_AliasReduce(spectrum, limit < 2 ? limit : 2);  // only the long part's boundary
    }

    // Subbands that dropped out of the limit still flush their stored overlap.
    const int32_t count = previous > limit ? previous : limit;
    *prevSubbands = limit;

    int32_t z[36];
    for (int32_t sb = 0; sb < count; ++sb) {
        int32_t *lines = spectrum + kSlots * sb;
        const bool longBlock = blockType != 2 || (sb < 2 && mixedBlockFlag == 1);
        if (sb >= limit) {
            MP3_FillWords(0, z, 36);
        } else if (longBlock) {
            // The two long subbands of a mixed block use the normal window.
            const int32_t window = (sb < 2 && mixedBlockFlag == 1) ? 0 : blockType;
            MP3_IMDCTLong(lines, z, window);
        } else {
            MP3_IMDCTShort(lines, z);
        }
        overlapAdd(z, overlap + kSlots * sb, output, sb);
    }
    // Above the count the overlap is already zero, so the output is too.
    for (int32_t k = 0; k < kSlots; ++k) {
        for (int32_t sb = count; sb < kSubbands; ++sb) output[kSubbands * k + sb] = 0;
    }
    return 0;
}

}  // namespace mpfix
