#include "audio/synth/hybrid.h"

#include <iterator>

#include "audio/words.h"
#include "audio/fixed_point.h"
#include "audio/stream_constants.h"
#include "audio/synth/imdct.h"
#include "mpfix.h"

namespace mpfix {

namespace {

// A long transform gives twice a subband's lines: the first half for this
// granule, the second for the next one's overlap.
constexpr int32_t kTransformSamples = 2 * MP3_SLOTS;
// The long subbands of a mixed block.
constexpr int32_t kMixedLongSubbands = MP3_MIXED_LONG_VALUES / MP3_SLOTS;
// The alias butterflies reach this many lines into the next subband.
constexpr int32_t kAliasReach = 8;

// Number of subbands that can hold a nonzero value.
int32_t subbandLimit(int32_t bound, int32_t blockType, int32_t mixedBlockFlag) {
    int32_t limit;
    if (blockType != 2) {
        // Lines 0 .. bound + 8: the alias butterflies carry values into the next subband.
        limit = subbandsOfLines(bound + kAliasReach + 1);
    } else {
        limit = subbandsOfLines(bound);
        if (mixedBlockFlag == 1 && limit < kMixedLongSubbands) limit = kMixedLongSubbands;
    }
    return limit > MP3_SUBBANDS ? MP3_SUBBANDS : limit;
}

// Adds the first half of z to the stored overlap, keeps the second half for
// the next granule, and writes the subband's 18 slots (odd slots of odd
// subbands negated: frequency inversion before the polyphase synthesis).
void overlapAdd(const int32_t *z, int32_t *overlap, int32_t *output, int32_t sb) {
    const bool invert = (sb & 1) != 0;
    for (int32_t k = 0; k < MP3_SLOTS; ++k) {
        int32_t v = wrapAdd(z[k], overlap[k]);
        if (invert && (k & 1) != 0) v = wrapNeg(v);
        output[MP3_SUBBANDS * k + sb] = v;
        overlap[k] = z[MP3_SLOTS + k];
    }
}

constexpr HybridLong4Variant kLong4[] = {
    {"ref", MP3_HybridLong4_ref},
#if !MPFIX_PLAIN_KERNELS && defined(__x86_64__)
    {"avx2", MP3_HybridLong4_avx2},
#endif
#if !MPFIX_PLAIN_KERNELS && defined(__ARM_NEON)
    {"neon", MP3_HybridLong4_neon},
#endif
};

size_t runnableLong4() noexcept {
#if !MPFIX_PLAIN_KERNELS && defined(__x86_64__)
    if (!__builtin_cpu_supports("avx2")) return 1;
#endif
    return std::size(kLong4);
}

// Four subbands a call; the reference on the processors without a variant.
void hybridLong4(int32_t *lines, int32_t *output, int32_t *overlap, int32_t sb, int32_t blockType) {
#if !MPFIX_PLAIN_KERNELS && defined(__ARM_NEON)
    MP3_HybridLong4_neon(lines, output, overlap, sb, blockType);
#else
    static const HybridLong4Fn best = HybridLong4Variants().back().fn;
    best(lines, output, overlap, sb, blockType);
#endif
}

}  // namespace

void MP3_HybridLong4_ref(int32_t *lines, int32_t *output, int32_t *overlap, int32_t sb, int32_t blockType) {
    int32_t z[kTransformSamples];
    for (int32_t i = 0; i < 4; ++i) {
        MP3_IMDCTLong(lines + MP3_SLOTS * i, z, blockType);
        overlapAdd(z, overlap + MP3_SLOTS * i, output, sb + i);
    }
}

std::span<const HybridLong4Variant> HybridLong4Variants() noexcept { return {kLong4, runnableLong4()}; }

int32_t MP3_HybridSynthesis(int32_t *spectrum, int32_t *output, int32_t *overlap, int32_t nonzeroBound,
                            int32_t *prevSubbands, int32_t blockType, int32_t mixedBlockFlag) {
    if (spectrum == nullptr || output == nullptr || overlap == nullptr || prevSubbands == nullptr) {
        return MP3_ERR_PARAM;
    }
    const int32_t previous = *prevSubbands;
    if (nonzeroBound < 0 || nonzeroBound > MP3_GRANULE_LINES || blockType < 0 || blockType > 3 || previous < 0 ||
        previous > MP3_SUBBANDS || mixedBlockFlag < 0 || mixedBlockFlag > 1) {
        return MP3_ERR_PARAM;
    }

    const int32_t limit = subbandLimit(nonzeroBound, blockType, mixedBlockFlag);
    if (blockType != 2) {
        MP3_AliasReduce(spectrum, limit);
    } else if (mixedBlockFlag == 1) {
        // Only the boundary inside the long part of a mixed block.
        MP3_AliasReduce(spectrum, limit < kMixedLongSubbands ? limit : kMixedLongSubbands);
    }

    // Subbands that dropped out of the limit still flush their stored overlap.
    const int32_t count = previous > limit ? previous : limit;
    *prevSubbands = limit;

    int32_t z[kTransformSamples];
    for (int32_t sb = 0; sb < count;) {
        // Four long subbands with one window at a time (sb stays even: a
        // mixed block's two long subbands with the normal window come first).
        if (blockType != 2 && sb + 4 <= limit && (mixedBlockFlag == 0 || sb >= kMixedLongSubbands)) {
            hybridLong4(spectrum + MP3_SLOTS * sb, output, overlap + MP3_SLOTS * sb, sb, blockType);
            sb += 4;
            continue;
        }
        int32_t *lines = spectrum + MP3_SLOTS * sb;
        const bool mixedLong = sb < kMixedLongSubbands && mixedBlockFlag == 1;
        const bool longBlock = blockType != 2 || mixedLong;
        if (sb >= limit) {
            MP3_FillWords(0, z, kTransformSamples);
        } else if (longBlock) {
            // The two long subbands of a mixed block use the normal window.
            const int32_t window = mixedLong ? 0 : blockType;
            MP3_IMDCTLong(lines, z, window);
        } else {
            MP3_IMDCTShort(lines, z);
        }
        overlapAdd(z, overlap + MP3_SLOTS * sb, output, sb);
        ++sb;
    }
    // Above the count the overlap is already zero, so the output is too.
    for (int32_t k = 0; k < MP3_SLOTS; ++k) {
        for (int32_t sb = count; sb < MP3_SUBBANDS; ++sb) output[MP3_SUBBANDS * k + sb] = 0;
    }
    return 0;
}

}  // namespace mpfix
