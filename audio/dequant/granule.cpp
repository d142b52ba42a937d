#include "audio/dequant/granule.h"

#include "audio/dequant/reorder.h"
#include "audio/dequant/requantize.h"
#include "audio/dequant/stereo.h"

namespace mpfix {

// Preemphasis of long bands 0..20 (ISO/IEC 11172-3), and 0 for band 21.
const uint8_t pretab[22] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0};

namespace {

constexpr int32_t kLongBands = 22;
constexpr int32_t kShortBands = 13;
constexpr int32_t kMixedLongValues = 36;
constexpr int32_t kGainBase = 210;  // global_gain 210 is unity

// What the driver derives from one channel's side information.
struct ChannelPlan {
    const MP3_GranuleInfo *info;
    const uint8_t *scalefactors;
    int32_t *input;   // the channel's spectrum row (quantized values)
    int32_t *output;  // where its requantized values go
    bool shortBlock;  // block_type 2
    bool mixed;       // block_type 2 with mixed_block_flag 1
    int32_t firstShortBand;
    int32_t mixedLongBands;
    int32_t shortLineEnd;
};

bool inRange(int32_t value, int32_t low, int32_t high) { return value >= low && value <= high; }

bool validChannel(const MP3_GranuleInfo &info) {
    return inRange(info.block_type, 0, 3) && inRange(info.mixed_block_flag, 0, 1) &&
           inRange(info.global_gain, 0, 255) && inRange(info.scalefac_scale, 0, 1) && inRange(info.preflag, 0, 1);
}

// The mixed flag only shapes a block_type 2 granule; on other block types it
// is ignored, so it does not count as a difference between the channels.
bool mixedBlock(const MP3_GranuleInfo &info) { return info.block_type == 2 && info.mixed_block_flag == 1; }

bool validGranule(const int32_t nonzeroCount[2], const MP3_GranuleInfo *granule, const MP3_FrameHeader &header) {
    if (!inRange(header.ID, 0, 1) || !inRange(header.sampling_frequency, 0, 2)) return false;
    if (!inRange(header.mode, 0, 3) || !inRange(header.mode_extension, 0, 3)) return false;
    const int32_t channels = header.mode == 3 ? 1 : 2;
    for (int32_t ch = 0; ch < channels; ++ch) {
        if (!inRange(nonzeroCount[ch], 0, MP3_GRANULE_LINES) || !validChannel(granule[ch])) return false;
    }
    if (header.mode == 1 && header.mode_extension != 0) {
        if (granule[0].block_type != granule[1].block_type || mixedBlock(granule[0]) != mixedBlock(granule[1])) {
            return false;
        }
    }
    return true;
}

// Scalefactor bytes are signed; a negative one (an illegal intensity mark)
// attenuates with its magnitude.
int32_t scalefactorMagnitude(uint8_t byte) {
    const int32_t value = static_cast<int8_t>(byte);
    return value < 0 ? -value : value;
}

int32_t requantizeLongPart(const ChannelPlan &plan, int32_t nonzeroCount, const uint8_t *msOffset,
                           const uint16_t *longRow) {
    const MP3_GranuleInfo &info = *plan.info;
    const int32_t base = kGainBase - info.global_gain;
    const int32_t shift = 1 + info.scalefac_scale;
    const int32_t end = plan.mixed ? kMixedLongValues : nonzeroCount;
    // Whole bands: the last one may reach past the end.
    for (int32_t b = 0; b < kLongBands && longRow[b] < end; ++b) {
        const int32_t preemphasis = info.preflag == 1 ? pretab[b] : 0;
        const int32_t code = base + msOffset[b] + ((scalefactorMagnitude(plan.scalefactors[b]) + preemphasis) << shift);
        const int32_t start = longRow[b];
        const int32_t result =
            MP3_RequantizeBand(plan.input + start, plan.output + start, longRow[b + 1] - start, code);
        if (result != 0) return result;
    }
    return 0;
}

int32_t requantizeShortPart(const ChannelPlan &plan, const int32_t shortBandEnd[3], const uint8_t *msOffset,
                            const uint16_t *shortRow) {
    const MP3_GranuleInfo &info = *plan.info;
    const int32_t base = kGainBase - info.global_gain;
    const int32_t shift = 1 + info.scalefac_scale;
    for (int32_t w = 0; w < 3; ++w) {
        if (!inRange(info.subblock_gain[w], 0, 7)) return MP3_ERR_PARAM;
        const int32_t windowBase = base + 8 * info.subblock_gain[w];
        for (int32_t b = plan.firstShortBand; b < shortBandEnd[w] && b < kShortBands; ++b) {
            const int32_t width = shortRow[b + 1] - shortRow[b];
            const int32_t start = 3 * shortRow[b] + w * width;
            const int32_t x = plan.mixedLongBands + w + 3 * (b - plan.firstShortBand);
            const int32_t code = windowBase + msOffset[x] + (scalefactorMagnitude(plan.scalefactors[x]) << shift);
            const int32_t result = MP3_RequantizeBand(plan.input + start, plan.output + start, width, code);
            if (result != 0) return result;
        }
    }
    return 0;
}

int32_t maxOf(int32_t a, int32_t b) { return a > b ? a : b; }

// Lowers the count past trailing zero values.
int32_t trimmedCount(const int32_t *row, int32_t count) {
    while (count > 0 && row[count - 1] == 0) --count;
    return count;
}

}  // namespace

int32_t MP3_ShortBandExtent(const int32_t *values, int32_t shortBandEnd[3], int32_t *shortLineEnd,
                            const uint16_t *shortRow, int32_t nonzeroCount, int32_t firstShortBand) {
    // Every band from k0 on starts at or past the last nonzero value.
    int32_t j = kShortBands - 1;
    while (j >= firstShortBand && 3 * shortRow[j] >= nonzeroCount) --j;
    const int32_t k0 = j + 1;
    int32_t lineEnd = shortRow[firstShortBand];
    for (int32_t w = 0; w < 3; ++w) {
        int32_t k = k0;
        while (k > firstShortBand) {
            const int32_t width = shortRow[k] - shortRow[k - 1];
            const int32_t *band = values + 3 * shortRow[k - 1] + w * width;
            int32_t last = width - 2;  // pairs from the top of the band down
            while (last >= 0 && band[last] == 0 && band[last + 1] == 0) last -= 2;
            if (last >= 0) {
                const int32_t position = band[last + 1] != 0 ? last + 1 : last;
                lineEnd = maxOf(lineEnd, shortRow[k - 1] + 1 + position);
                break;
            }
            --k;
        }
        shortBandEnd[w] = k;
    }
    *shortLineEnd = lineEnd;
    return 0;
}

int32_t MP3_DequantizeGranule(int32_t spectrum[2][MP3_GRANULE_LINES], int32_t nonzeroCount[2],
                              const uint8_t scalefactors[2][MP3_SCALEFACTOR_BYTES], const MP3_GranuleInfo *granule,
                              const MP3_FrameHeader *header, int32_t *reorderScratch,
                              const uint16_t longTables[MP3_BAND_ROWS][MP3_LONG_BOUNDARIES],
                              const uint16_t shortTables[MP3_BAND_ROWS][MP3_SHORT_BOUNDARIES]) {
    if (!validGranule(nonzeroCount, granule, *header)) return MP3_ERR_PARAM;
    const int32_t row = 3 * header->ID + header->sampling_frequency;
    const uint16_t *longRow = longTables[row];
    const uint16_t *shortRow = shortTables[row];
    const int32_t channels = header->mode == 3 ? 1 : 2;
    const bool ms = header->mode == 1 && (header->mode_extension & 2) != 0;
    const bool is = header->mode == 1 && (header->mode_extension & 1) != 0;

    ChannelPlan plan[2] = {};
    int32_t shortBandEnd[2][3] = {};
    // A short-block channel writes into the scratch row; its own row, once
    // read, becomes the scratch of the next short-block channel.
    int32_t *scratch = reorderScratch;
    for (int32_t ch = 0; ch < channels; ++ch) {
        ChannelPlan &p = plan[ch];
        p.info = &granule[ch];
        p.scalefactors = scalefactors[ch];
        p.input = spectrum[ch];
        p.shortBlock = p.info->block_type == 2;
        p.mixed = mixedBlock(*p.info);
        p.firstShortBand = p.mixed ? 3 : 0;
        p.mixedLongBands = p.mixed ? (header->ID == 1 ? 8 : 6) : 0;
        p.output = p.input;
        if (p.shortBlock) {
            MP3_ShortBandExtent(p.input, shortBandEnd[ch], &p.shortLineEnd, shortRow, nonzeroCount[ch],
                                p.firstShortBand);
            p.output = scratch;
            scratch = p.input;
        }
    }

    uint8_t msOffset[2][MP3_SCALEFACTOR_BYTES] = {};
    int32_t isBoundLong = 0;
    int32_t isBoundShort[3] = {};
    const bool jointStereo = ms || is;
    const bool pureShort = plan[0].shortBlock && !plan[0].mixed;
    if (jointStereo) {
        if (!pureShort) {
            MP3_StereoBoundsLong(msOffset, scalefactors[1], ms, is, nonzeroCount, &isBoundLong,
                                 granule[0].block_type, granule[0].mixed_block_flag, header->ID, longRow);
        }
        if (plan[0].shortBlock) {
            MP3_StereoBoundsShort(msOffset, scalefactors[1], ms, is, shortBandEnd, isBoundShort, header->ID,
                                  plan[0].mixedLongBands, plan[0].firstShortBand);
            for (int32_t w = 0; w < 3; ++w) {
                shortBandEnd[0][w] = shortBandEnd[1][w] = maxOf(shortBandEnd[0][w], shortBandEnd[1][w]);
            }
        }
    }

    for (int32_t ch = 0; ch < channels; ++ch) {
        const ChannelPlan &p = plan[ch];
        int32_t result = 0;
        if (!(p.shortBlock && !p.mixed)) result = requantizeLongPart(p, nonzeroCount[ch], msOffset[ch], longRow);
        if (result == 0 && p.shortBlock) result = requantizeShortPart(p, shortBandEnd[ch], msOffset[ch], shortRow);
        if (result != 0) return result;
    }

    if (jointStereo) {
        const int32_t intensityScale = granule[1].scalefac_compress & 1;
        if (!pureShort) {
            int32_t limit = nonzeroCount[0];
            if (plan[0].mixed && limit > kMixedLongValues) limit = kMixedLongValues;
            if (!plan[0].shortBlock) nonzeroCount[0] = nonzeroCount[1] = maxOf(nonzeroCount[0], nonzeroCount[1]);
            const int32_t result = MP3_JointStereoLong(plan[0].output, plan[1].output, scalefactors[1], ms, is,
                                                       isBoundLong, limit, header->ID, longRow, intensityScale);
            if (result != 0) return result;
        }
        if (plan[0].shortBlock) {
            const int32_t result =
                MP3_JointStereoShort(plan[0].output, plan[1].output, scalefactors[1], ms, is, isBoundShort,
                                     header->ID, shortRow, plan[1].mixedLongBands, plan[1].firstShortBand,
                                     shortBandEnd[0], intensityScale);
            if (result != 0) return result;
            nonzeroCount[0] = nonzeroCount[1] = 3 * maxOf(plan[0].shortLineEnd, plan[1].shortLineEnd);
        }
    } else {
        for (int32_t ch = 0; ch < channels; ++ch) {
            if (plan[ch].shortBlock) nonzeroCount[ch] = 3 * plan[ch].shortLineEnd;
        }
    }

    // Last channel first: with two short-block channels, channel 1's values
    // sit in channel 0's row and must move out before channel 0's move in.
    for (int32_t ch = channels - 1; ch >= 0; --ch) {
        const ChannelPlan &p = plan[ch];
        if (p.shortBlock) {
            MP3_ReorderShortBlocks(p.output, spectrum[ch], shortRow, p.mixed ? 1 : 0, shortBandEnd[ch],
                                   nonzeroCount[ch]);
            nonzeroCount[ch] = MP3_RoundUpToSubband(nonzeroCount[ch]);
        }
        nonzeroCount[ch] = trimmedCount(spectrum[ch], nonzeroCount[ch]);
    }
    return 0;
}

int32_t MP3_DequantizeGranuleMpeg12(int32_t spectrum[2][MP3_GRANULE_LINES], int32_t nonzeroCount[2],
                                    const uint8_t scalefactors[2][MP3_SCALEFACTOR_BYTES],
                                    const MP3_GranuleInfo *granule, const MP3_FrameHeader *header,
                                    int32_t *reorderScratch) {
    return MP3_DequantizeGranule(spectrum, nonzeroCount, scalefactors, granule, header, reorderScratch,
                                 MP3_SfbLongTable, MP3_SfbShortTable);
}

}  // namespace mpfix
