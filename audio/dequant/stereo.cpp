#include "audio/dequant/stereo.h"

#include "audio/dequant/requantize.h"
#include "audio/fixed_point.h"
#include "audio/stream_constants.h"
#include "audio/words.h"

namespace mpfix {

// Left share of an MPEG-1 intensity position p with 31 fraction bits:
// round(2^31 tan(p pi/12) / (1 + tan(p pi/12))) for p = 0..5, 0x7FFFFFFF for p = 6.
const int32_t isRatioTable[7] = {0x00000000, 0x1B0CB175, 0x2ED9EBA1, 0x40000000,
                                 0x5126145F, 0x64F34E8B, 0x7FFFFFFF};

namespace {

constexpr uint8_t kMidSideOffset = 2;  // 2 quarter steps: the 1/sqrt(2) of mid/side
constexpr int32_t kIllegalMpeg1 = 7;

enum class BandKind { Long, Short };

int32_t clampBand(int32_t band, int32_t limit) { return band < 0 ? 0 : (band > limit ? limit : band); }

// An illegal intensity position: 7 in MPEG-1, a negative mark in the
// low-sampling-frequency syntax.
bool isIllegalPosition(uint8_t position, int32_t id) {
    return id == 1 ? position == kIllegalMpeg1 : static_cast<int8_t>(position) < 0;
}

int32_t firstShortBand(const MP3_JointStereo *stereo) {
    return stereo->mixed != 0 ? MP3_MIXED_FIRST_SHORT_BAND : 0;
}

// Scalefactor slot byte of short band b in window w: after the long bands of
// a mixed block, three bytes per short band.
int32_t shortSlot(const MP3_JointStereo *stereo, int32_t band, int32_t window) {
    const int32_t mixedLongBands = stereo->mixed != 0 ? mixedLongBandsOf(stereo->id) : 0;
    return mixedLongBands + window + MP3_WINDOWS * (band - firstShortBand(stereo));
}

// left, right -> left + right, left - right over an even count of values.
void midSide(int32_t *left, int32_t *right, int32_t count) {
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        for (int32_t j = i; j < i + 4; ++j) {
            const int32_t l = left[j];
            const int32_t r = right[j];
            left[j] = wrapAdd(l, r);
            right[j] = wrapSub(l, r);
        }
    }
    for (; i < count; i += 2) {
        for (int32_t j = i; j < i + 2; ++j) {
            const int32_t l = left[j];
            const int32_t r = right[j];
            left[j] = wrapAdd(l, r);
            right[j] = wrapSub(l, r);
        }
    }
}

// MPEG-1: the left channel keeps v * ratio, the right the rest, so that
// left + right = v exactly.
int32_t intensityMpeg1(int32_t *left, int32_t *right, int32_t count, uint8_t position, int32_t ms,
                       BandKind kind) {
    int32_t p = position;
    if (p > kIllegalMpeg1) return MP3_ERR_PARAM;
    if (p == kIllegalMpeg1) {
        if (ms != 0) {
            // Channel 0 was requantized 1/sqrt(2) lower: both carry M/sqrt(2).
            MP3_CopyWords(left, right, count);
            return 0;
        }
        if (kind == BandKind::Long) return 0;
        p = 6;
    }
    const int32_t ratio = isRatioTable[p];
    for (int32_t i = 0; i < count; ++i) {
        const int32_t v = left[i];
        const int32_t newLeft = mulHigh(ratio, wrapShl(v, 1));
        left[i] = newLeft;
        right[i] = wrapSub(v, newLeft);
    }
    return 0;
}

// ISO/IEC 13818-3: a factor 2^(-e/4) on the right channel for even positions,
// on the left channel for odd ones.
void intensityLowRate(int32_t *left, int32_t *right, int32_t count, uint8_t position, int32_t ms, BandKind kind,
                      int32_t intensityScale) {
    int32_t p = static_cast<int8_t>(position);
    if (p < 0) {
        if (ms != 0) {
            p = 0;
        } else {
            if (kind == BandKind::Short) MP3_FillWords(0, right, count);
            return;
        }
    }
    const int32_t e = ((p + 1) >> 1) << (intensityScale & 1);
    const int32_t gain = quarterStepGain[e & 3];
    const int32_t s = e >> 2 < 31 ? e >> 2 : 31;  // at most 7 for positions up to 30
    for (int32_t i = 0; i < count; ++i) {
        const int32_t v = left[i];
        const int32_t t = mulHigh(gain, wrapShl(v, 1)) >> s;
        if ((p & 1) == 0) {
            right[i] = t;
        } else {
            right[i] = v;
            left[i] = t;
        }
    }
}

int32_t intensityBand(int32_t *left, int32_t *right, int32_t count, uint8_t position, const MP3_JointStereo *stereo,
                      BandKind kind) {
    if (stereo->id == 1) return intensityMpeg1(left, right, count, position, stereo->ms, kind);
    intensityLowRate(left, right, count, position, stereo->ms, kind, stereo->intensityScale);
    return 0;
}

}  // namespace

void MP3_StereoBoundsLong(uint8_t msOffset[2][MP3_SCALEFACTOR_BYTES], const MP3_JointStereo *stereo,
                          const int32_t nonzeroCount[2], int32_t *isBoundLong) {
    const uint16_t *longRow = stereo->longRow;
    int32_t limit = stereo->is != 0 ? nonzeroCount[1]
                                    : (nonzeroCount[0] > nonzeroCount[1] ? nonzeroCount[0] : nonzeroCount[1]);
    int32_t bandCount = MP3_LONG_BANDS;
    if (stereo->mixed != 0) {
        if (limit > MP3_MIXED_LONG_VALUES) limit = MP3_MIXED_LONG_VALUES;
        bandCount = mixedLongBandsOf(stereo->id);
    }
    int32_t bound = MP3_LONG_BANDS;
    while (bound > 0 && longRow[bound - 1] >= limit) --bound;
    *isBoundLong = bound;
    if (stereo->ms == 0) return;
    for (int32_t b = 0; b < bound; ++b) {
        msOffset[0][b] = kMidSideOffset;
        msOffset[1][b] = kMidSideOffset;
    }
    if (stereo->is != 0) {
        // Illegal positions fall back to mid/side; the second channel is zero there.
        for (int32_t b = bound; b < bandCount; ++b) {
            if (isIllegalPosition(stereo->positions[b], stereo->id)) msOffset[0][b] = kMidSideOffset;
        }
    }
}

void MP3_StereoBoundsShort(uint8_t msOffset[2][MP3_SCALEFACTOR_BYTES], const MP3_JointStereo *stereo,
                           const int32_t shortBandEnd[2][3], int32_t isBoundShort[3]) {
    for (int32_t w = 0; w < MP3_WINDOWS; ++w) {
        const int32_t second = shortBandEnd[1][w];
        const int32_t first = shortBandEnd[0][w];
        isBoundShort[w] = stereo->is != 0 ? second : (first > second ? first : second);
    }
    if (stereo->ms == 0) return;
    const int32_t firstBand = firstShortBand(stereo);
    for (int32_t w = 0; w < MP3_WINDOWS; ++w) {
        const int32_t bound = clampBand(isBoundShort[w], MP3_SHORT_BANDS);
        for (int32_t b = firstBand; b < bound; ++b) {
            const int32_t x = shortSlot(stereo, b, w);
            msOffset[0][x] = kMidSideOffset;
            msOffset[1][x] = kMidSideOffset;
        }
        if (stereo->is == 0) continue;
        const int32_t end = clampBand(shortBandEnd[0][w], MP3_SHORT_BANDS);
        for (int32_t b = bound > firstBand ? bound : firstBand; b < end; ++b) {
            const int32_t x = shortSlot(stereo, b, w);
            if (isIllegalPosition(stereo->positions[x], stereo->id)) msOffset[0][x] = kMidSideOffset;
        }
    }
}

int32_t MP3_JointStereoLong(int32_t *left, int32_t *right, const MP3_JointStereo *stereo, int32_t isBoundLong,
                            int32_t limit) {
    const uint16_t *longRow = stereo->longRow;
    const int32_t bound = clampBand(isBoundLong, MP3_LONG_BANDS);
    if (stereo->ms != 0) midSide(left, right, longRow[bound]);
    if (stereo->is == 0) return 0;
    for (int32_t b = bound; b < MP3_LONG_BANDS && longRow[b] < limit; ++b) {
        const int32_t start = longRow[b];
        const int32_t result = intensityBand(left + start, right + start, longRow[b + 1] - start,
                                             stereo->positions[b], stereo, BandKind::Long);
        if (result != 0) return result;
    }
    return 0;
}

int32_t MP3_JointStereoShort(int32_t *left, int32_t *right, const MP3_JointStereo *stereo,
                             const int32_t isBoundShort[3], const int32_t bandEnd[3]) {
    const uint16_t *shortRow = stereo->shortRow;
    const int32_t firstBand = firstShortBand(stereo);
    if (stereo->ms != 0) {
        for (int32_t w = 0; w < MP3_WINDOWS; ++w) {
            const int32_t bound = clampBand(isBoundShort[w], MP3_SHORT_BANDS);
            for (int32_t b = firstBand; b < bound; ++b) {
                const int32_t width = shortRow[b + 1] - shortRow[b];
                const int32_t start = MP3_WINDOWS * shortRow[b] + w * width;
                midSide(left + start, right + start, width);
            }
        }
    }
    if (stereo->is == 0) return 0;
    for (int32_t w = 0; w < MP3_WINDOWS; ++w) {
        const int32_t bound = clampBand(isBoundShort[w], MP3_SHORT_BANDS);
        const int32_t end = clampBand(bandEnd[w], MP3_SHORT_BANDS);
        for (int32_t b = bound > firstBand ? bound : firstBand; b < end; ++b) {
            const int32_t width = shortRow[b + 1] - shortRow[b];
            const int32_t start = MP3_WINDOWS * shortRow[b] + w * width;
            const uint8_t position = stereo->positions[shortSlot(stereo, b, w)];
            const int32_t result = intensityBand(left + start, right + start, width, position, stereo, BandKind::Short);
            if (result != 0) return result;
        }
    }
    return 0;
}

}  // namespace mpfix
