#include "audio/dequant/granule.h"

#include "audio/dequant/reorder.h"
#include "audio/dequant/requantize.h"
#include "audio/dequant/stereo.h"
#include "audio/stream_constants.h"

namespace mpfix {

// Preemphasis of long bands 0..20 (ISO/IEC 11172-3), and 0 for band 21.
const uint8_t pretab[MP3_LONG_BANDS] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0};

namespace {

constexpr int32_t kGainBase = 210;         // global_gain 210 is unity
constexpr int32_t kSubblockGainStep = 8;  // subblock_gain counts 2 octaves: 8 quarter steps

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
    const int32_t channels = channelsOfMode(header.mode);
    for (int32_t ch = 0; ch < channels; ++ch) {
        if (!inRange(nonzeroCount[ch], 0, MP3_GRANULE_LINES) || !validChannel(granule[ch])) return false;
    }
    if (header.mode == MP3_MODE_JOINT_STEREO && header.mode_extension != 0) {
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

// Appends a band to the runs; a band that continues the last run with the
// same code extends it (the same outputs, fewer and longer runs, so fewer
// lookup tables to prepare and fewer partial vector groups).
void addRun(MP3_RequantizeRun *runs, int32_t *count, int32_t start, int32_t width, int32_t code) {
    if (*count > 0) {
        MP3_RequantizeRun &last = runs[*count - 1];
        if (last.attenuation == code && last.start + last.count == start) {
            last.count += width;
            return;
        }
    }
    runs[(*count)++] = {start, width, code};
}

int32_t requantizeLongPart(const ChannelPlan &plan, int32_t nonzeroCount, const uint8_t *msOffset,
                           const uint16_t *longRow) {
    const MP3_GranuleInfo &info = *plan.info;
    const int32_t base = kGainBase - info.global_gain;
    const int32_t shift = 1 + info.scalefac_scale;
    const int32_t end = plan.mixed ? MP3_MIXED_LONG_VALUES : nonzeroCount;
    // Whole bands: the last one may reach past the end. Long bands are
    // contiguous: one with the code of the band before extends its run.
    const uint8_t *scalefactors = plan.scalefactors;
    const int32_t preemphasisMask = info.preflag == 1 ? 0xFF : 0;
    MP3_RequantizeRun runs[MP3_LONG_BANDS];
    MP3_RequantizeRun run{0, 0, 0};
    int32_t count = 0;
    for (int32_t b = 0; b < MP3_LONG_BANDS && longRow[b] < end; ++b) {
        const int32_t preemphasis = pretab[b] & preemphasisMask;
        const int32_t code = base + msOffset[b] + ((scalefactorMagnitude(scalefactors[b]) + preemphasis) << shift);
        if (b > 0 && code == run.attenuation) {
            run.count = longRow[b + 1] - run.start;
            continue;
        }
        if (b > 0) runs[count++] = run;
        run = {longRow[b], longRow[b + 1] - longRow[b], code};
    }
    if (run.count > 0) runs[count++] = run;
    return MP3_RequantizeRuns(plan.input, plan.output, runs, count);
}

int32_t requantizeShortPart(const ChannelPlan &plan, const int32_t shortBandEnd[3], const uint8_t *msOffset,
                            const uint16_t *shortRow) {
    const MP3_GranuleInfo &info = *plan.info;
    const int32_t base = kGainBase - info.global_gain;
    const int32_t shift = 1 + info.scalefac_scale;
    MP3_RequantizeRun runs[MP3_WINDOWS * MP3_SHORT_BANDS];
    int32_t count = 0;
    for (int32_t w = 0; w < MP3_WINDOWS; ++w) {
        if (!inRange(info.subblock_gain[w], 0, 7)) {
            // The windows before this one are requantized first.
            const int32_t result = MP3_RequantizeRuns(plan.input, plan.output, runs, count);
            return result != 0 ? result : MP3_ERR_PARAM;
        }
        const int32_t windowBase = base + kSubblockGainStep * info.subblock_gain[w];
        for (int32_t b = plan.firstShortBand; b < shortBandEnd[w] && b < MP3_SHORT_BANDS; ++b) {
            const int32_t width = shortRow[b + 1] - shortRow[b];
            const int32_t x = plan.mixedLongBands + w + MP3_WINDOWS * (b - plan.firstShortBand);
            const int32_t code = windowBase + msOffset[x] + (scalefactorMagnitude(plan.scalefactors[x]) << shift);
            addRun(runs, &count, MP3_WINDOWS * shortRow[b] + w * width, width, code);
        }
    }
    return MP3_RequantizeRuns(plan.input, plan.output, runs, count);
}

int32_t maxOf(int32_t a, int32_t b) { return a > b ? a : b; }

// Lowers the count past trailing zero values.
int32_t trimmedCount(const int32_t *row, int32_t count) {
    while (count > 0 && row[count - 1] == 0) --count;
    return count;
}

// What one call works out before it writes: each channel's plan, the short
// band ends of short-block channels, and the joint-stereo setting.
struct GranulePlan {
    int32_t channels;
    ChannelPlan channel[2];
    int32_t shortBandEnd[2][3];
    bool jointStereo;  // mid/side or intensity stereo on this granule
    MP3_JointStereo stereo;
};

// A short-block channel writes into the scratch row; its own row, once
// read, becomes the scratch of the next short-block channel.
void planChannels(GranulePlan *plan, const MP3_GranuleContext *context, int32_t spectrum[2][MP3_GRANULE_LINES],
                  const int32_t nonzeroCount[2], const uint8_t scalefactors[2][MP3_SCALEFACTOR_BYTES],
                  const MP3_GranuleInfo *granule, int32_t *reorderScratch) {
    int32_t *scratch = reorderScratch;
    for (int32_t ch = 0; ch < plan->channels; ++ch) {
        ChannelPlan &p = plan->channel[ch];
        p.info = &granule[ch];
        p.scalefactors = scalefactors[ch];
        p.input = spectrum[ch];
        p.shortBlock = p.info->block_type == 2;
        p.mixed = mixedBlock(*p.info);
        p.firstShortBand = p.mixed ? MP3_MIXED_FIRST_SHORT_BAND : 0;
        p.mixedLongBands = p.mixed ? mixedLongBandsOf(context->header->ID) : 0;
        p.output = p.input;
        if (p.shortBlock) {
            MP3_ShortBandExtent(p.input, plan->shortBandEnd[ch], &p.shortLineEnd, context->bands.shortRow,
                                nonzeroCount[ch], p.firstShortBand);
            p.output = scratch;
            scratch = p.input;
        }
    }
}

// The joint-stereo setting; read only for joint-stereo granules, which have two channels.
MP3_JointStereo jointStereoOf(const MP3_GranuleContext *context, const GranulePlan &plan,
                              const uint8_t scalefactors[2][MP3_SCALEFACTOR_BYTES], const MP3_GranuleInfo *granule,
                              bool ms, bool is) {
    MP3_JointStereo stereo{};
    stereo.positions = scalefactors[1];
    stereo.ms = ms ? 1 : 0;
    stereo.is = is ? 1 : 0;
    stereo.id = context->header->ID;
    stereo.intensityScale = granule[1].scalefac_compress & 1;
    stereo.mixed = plan.channel[0].mixed ? 1 : 0;
    stereo.longRow = context->bands.longRow;
    stereo.shortRow = context->bands.shortRow;
    return stereo;
}

bool pureShort(const ChannelPlan &p) { return p.shortBlock && !p.mixed; }

// Marks the bands that mid/side will combine and finds where intensity
// begins; short-block channels then share their per-window band ends.
void markStereoBands(GranulePlan *plan, const int32_t nonzeroCount[2], uint8_t msOffset[2][MP3_SCALEFACTOR_BYTES],
                     int32_t *isBoundLong, int32_t isBoundShort[3]) {
    const ChannelPlan &first = plan->channel[0];
    if (!pureShort(first)) MP3_StereoBoundsLong(msOffset, &plan->stereo, nonzeroCount, isBoundLong);
    if (first.shortBlock) {
        MP3_StereoBoundsShort(msOffset, &plan->stereo, plan->shortBandEnd, isBoundShort);
        for (int32_t w = 0; w < MP3_WINDOWS; ++w) {
            plan->shortBandEnd[0][w] = plan->shortBandEnd[1][w] = maxOf(plan->shortBandEnd[0][w], plan->shortBandEnd[1][w]);
        }
    }
}

int32_t requantizeChannels(const GranulePlan &plan, const MP3_GranuleContext *context, const int32_t nonzeroCount[2],
                           const uint8_t msOffset[2][MP3_SCALEFACTOR_BYTES]) {
    for (int32_t ch = 0; ch < plan.channels; ++ch) {
        const ChannelPlan &p = plan.channel[ch];
        int32_t result = 0;
        if (!pureShort(p)) result = requantizeLongPart(p, nonzeroCount[ch], msOffset[ch], context->bands.longRow);
        if (result == 0 && p.shortBlock) {
            result = requantizeShortPart(p, plan.shortBandEnd[ch], msOffset[ch], context->bands.shortRow);
        }
        if (result != 0) return result;
    }
    return 0;
}

// Mid/side and intensity on the requantized rows; sets the counts of both
// channels to the extent of either.
int32_t applyJointStereo(const GranulePlan &plan, int32_t nonzeroCount[2], int32_t isBoundLong,
                         const int32_t isBoundShort[3]) {
    const ChannelPlan &first = plan.channel[0];
    const ChannelPlan &second = plan.channel[1];
    if (!pureShort(first)) {
        int32_t limit = nonzeroCount[0];
        if (first.mixed && limit > MP3_MIXED_LONG_VALUES) limit = MP3_MIXED_LONG_VALUES;
        if (!first.shortBlock) nonzeroCount[0] = nonzeroCount[1] = maxOf(nonzeroCount[0], nonzeroCount[1]);
        const int32_t result = MP3_JointStereoLong(first.output, second.output, &plan.stereo, isBoundLong, limit);
        if (result != 0) return result;
    }
    if (first.shortBlock) {
        const int32_t result = MP3_JointStereoShort(first.output, second.output, &plan.stereo, isBoundShort,
                                                    plan.shortBandEnd[0]);
        if (result != 0) return result;
        nonzeroCount[0] = nonzeroCount[1] = MP3_WINDOWS * maxOf(first.shortLineEnd, second.shortLineEnd);
    }
    return 0;
}

// Short blocks into subband order, and every count tightened to one past the
// last nonzero value. Last channel first: with two short-block channels,
// channel 1's values sit in channel 0's row and must move out before channel
// 0's move in.
void reorderChannels(const GranulePlan &plan, const MP3_GranuleContext *context,
                     int32_t spectrum[2][MP3_GRANULE_LINES], int32_t nonzeroCount[2]) {
    for (int32_t ch = plan.channels - 1; ch >= 0; --ch) {
        const ChannelPlan &p = plan.channel[ch];
        if (p.shortBlock) {
            MP3_ReorderShortBlocks(p.output, spectrum[ch], context->bands.shortRow, p.mixed ? 1 : 0,
                                   plan.shortBandEnd[ch], nonzeroCount[ch]);
            nonzeroCount[ch] = MP3_RoundUpToSubband(nonzeroCount[ch]);
        }
        nonzeroCount[ch] = trimmedCount(spectrum[ch], nonzeroCount[ch]);
    }
}

}  // namespace

void MP3_ShortBandExtent(const int32_t *values, int32_t shortBandEnd[3], int32_t *shortLineEnd,
                         const uint16_t *shortRow, int32_t nonzeroCount, int32_t firstShortBand) {
    // Every band from k0 on starts at or past the last nonzero value.
    int32_t j = MP3_SHORT_BANDS - 1;
    while (j >= firstShortBand && MP3_WINDOWS * shortRow[j] >= nonzeroCount) --j;
    const int32_t k0 = j + 1;
    int32_t lineEnd = shortRow[firstShortBand];
    for (int32_t w = 0; w < MP3_WINDOWS; ++w) {
        int32_t k = k0;
        while (k > firstShortBand) {
            const int32_t width = shortRow[k] - shortRow[k - 1];
            const int32_t *band = values + MP3_WINDOWS * shortRow[k - 1] + w * width;
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
}

int32_t MP3_DequantizeGranule(const MP3_GranuleContext *context, int32_t spectrum[2][MP3_GRANULE_LINES],
                              int32_t nonzeroCount[2], const uint8_t scalefactors[2][MP3_SCALEFACTOR_BYTES],
                              const MP3_GranuleInfo *granule, int32_t *reorderScratch) {
    if (context == nullptr || context->header == nullptr || context->bands.longRow == nullptr ||
        context->bands.shortRow == nullptr)
        return MP3_ERR_PARAM;
    const MP3_FrameHeader &header = *context->header;
    if (!validGranule(nonzeroCount, granule, header)) return MP3_ERR_PARAM;
    const bool jointMode = header.mode == MP3_MODE_JOINT_STEREO;
    const bool ms = jointMode && (header.mode_extension & 2) != 0;
    const bool is = jointMode && (header.mode_extension & 1) != 0;

    GranulePlan plan{};
    plan.channels = channelsOfMode(header.mode);
    planChannels(&plan, context, spectrum, nonzeroCount, scalefactors, granule, reorderScratch);
    plan.jointStereo = ms || is;

    uint8_t msOffset[2][MP3_SCALEFACTOR_BYTES] = {};
    int32_t isBoundLong = 0;
    int32_t isBoundShort[3] = {};
    if (plan.jointStereo) {
        plan.stereo = jointStereoOf(context, plan, scalefactors, granule, ms, is);
        markStereoBands(&plan, nonzeroCount, msOffset, &isBoundLong, isBoundShort);
    }

    const int32_t result = requantizeChannels(plan, context, nonzeroCount, msOffset);
    if (result != 0) return result;

    if (plan.jointStereo) {
        const int32_t stereoResult = applyJointStereo(plan, nonzeroCount, isBoundLong, isBoundShort);
        if (stereoResult != 0) return stereoResult;
    } else {
        for (int32_t ch = 0; ch < plan.channels; ++ch) {
            if (plan.channel[ch].shortBlock) nonzeroCount[ch] = MP3_WINDOWS * plan.channel[ch].shortLineEnd;
        }
    }

    reorderChannels(plan, context, spectrum, nonzeroCount);
    return 0;
}

}  // namespace mpfix
