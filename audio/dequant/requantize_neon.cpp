// NEON variant of the requantization for 32-bit ARM, eight or four values at
// a time:
// the 16 results of the band's code for magnitudes below 16 sit in two
// 32-byte tables and are looked up bytewise (vtbl, then vtbx for entries
// 8..15). A group holding larger magnitudes (up to 8206) is stored the same
// way and its larger lanes are then overwritten with the reference's
// arithmetic; from a group with a magnitude above 8206 on, the values go one
// by one, so the error stops the pass where the reference stops.
#include "audio/dequant/requantize.h"

#if !MPFIX_PLAIN_KERNELS && defined(__ARM_NEON)

#include <arm_neon.h>

#include "audio/dequant/requantize_kernel.h"

#define MPFIX_NEON __attribute__((always_inline)) inline

namespace mpfix {

namespace {

// The 16 small results of a code: entries 0..7 and 8..15, 32 bytes each.
struct SmallTable {
    uint8x8x4_t low;
    uint8x8x4_t high;
};

MPFIX_NEON uint8x8x4_t bytesOf(uint32x4_t a, uint32x4_t b) {
    return {{vreinterpret_u8_u32(vget_low_u32(a)), vreinterpret_u8_u32(vget_high_u32(a)),
             vreinterpret_u8_u32(vget_low_u32(b)), vreinterpret_u8_u32(vget_high_u32(b))}};
}

// For n >= 1 the small results are the row shifted right by n - 1, entries
// 1..3 (three fraction bits more) by 3 first: two floors by powers of two
// compose into one.
MPFIX_NEON SmallTable prepare(int32_t attenuation) {
    const int32_t n = attenuation >> 2;
    uint32x4_t e[4];
    if (n >= 1) {
        const uint32_t *row = reinterpret_cast<const uint32_t *>(smallPowTable[attenuation & 3]);
        const int32x4_t down = vdupq_n_s32(n - 1 < 32 ? 1 - n : -32);  // a shift of 32 clears the lane
        const int32x4_t first = {0, -3, -3, -3};
        e[0] = vshlq_u32(vshlq_u32(vld1q_u32(row), first), down);
        for (int q = 1; q < 4; ++q) e[q] = vshlq_u32(vld1q_u32(row + 4 * q), down);
    } else {
        int32_t small[16];
        MP3_SmallMagnitudes(attenuation, small);
        for (int q = 0; q < 4; ++q) e[q] = vreinterpretq_u32_s32(vld1q_s32(small + 4 * q));
    }
    return {bytesOf(e[0], e[1]), bytesOf(e[2], e[3])};
}

MPFIX_NEON bool anyLane(uint32x4_t m) {
    const uint32x2_t h = vorr_u32(vget_low_u32(m), vget_high_u32(m));
    return vget_lane_u32(vpmax_u32(h, h), 0) != 0;
}

// Bytes 4a .. 4a + 3 of the table for four magnitudes below 16 (vtbx takes
// entries 8..15 where vtbl found none), negated where x < 0. Larger
// magnitudes give values that the caller overwrites.
MPFIX_NEON int32x4_t lookup(const SmallTable &table, int32x4_t x, int32x4_t a) {
    const uint32x4_t offsets = vdupq_n_u32(0x03020100u);
    const uint8x16_t index =
        vreinterpretq_u8_u32(vorrq_u32(vmulq_u32(vreinterpretq_u32_s32(a), vdupq_n_u32(0x04040404u)), offsets));
    const uint8x16_t upper = vsubq_u8(index, vdupq_n_u8(32));
    const uint8x8_t m0 = vtbx4_u8(vtbl4_u8(table.low, vget_low_u8(index)), table.high, vget_low_u8(upper));
    const uint8x8_t m1 = vtbx4_u8(vtbl4_u8(table.low, vget_high_u8(index)), table.high, vget_high_u8(upper));
    const int32x4_t m = vreinterpretq_s32_u8(vcombine_u8(m0, m1));
    const int32x4_t sign = vshrq_n_s32(x, 31);
    return vsubq_s32(veorq_s32(m, sign), sign);
}

// One value with a magnitude 16..8206.
__attribute__((noinline)) int32_t largeValue(int32_t x, int32_t attenuation) {
    const int32_t m =
        requantize::largeMagnitude(requantize::magnitudeOf(x), quarterStepGain[attenuation & 3], attenuation >> 2);
    return x < 0 ? -m : m;
}

// Value by value: the rest of a run from a group with a magnitude above 8206
// on (stopping with MP3_ERR_PARAM where the reference stops), or the last
// value of an odd count.
__attribute__((noinline)) int32_t valueByValue(const int32_t *input, int32_t *output, int32_t count,
                                              int32_t attenuation) {
    int32_t small[16];
    MP3_SmallMagnitudes(attenuation, small);
    return requantize::requantizeValues(input, output, count, small, attenuation);
}

// The first Lanes (4 or 2) of x requantized into output; false, with nothing
// stored, when one of them exceeds 8206.
template <int Lanes>
MPFIX_NEON bool requantizeGroup(const SmallTable &table, int32x4_t x, int32_t attenuation, int32_t *output) {
    const int32x4_t a = vabsq_s32(x);
    const uint32x4_t large = vcgtq_u32(vreinterpretq_u32_s32(a), vdupq_n_u32(15));  // |INT32_MIN| too
    const int32x4_t y = lookup(table, x, a);
    const bool patch = anyLane(large);
    if (patch && anyLane(vcgtq_u32(vreinterpretq_u32_s32(a), vdupq_n_u32(MP3_MAX_QUANTIZED)))) return false;
    int32_t values[4];
    if (patch) vst1q_s32(values, x);  // the input may be the output
    if (Lanes == 4) {
        vst1q_s32(output, y);
    } else {
        vst1_s32(output, vget_low_s32(y));
    }
    if (patch) {
        for (int j = 0; j < Lanes; ++j) {
            if (requantize::magnitudeOf(values[j]) >= 16) output[j] = largeValue(values[j], attenuation);
        }
    }
    return true;
}

}  // namespace

int32_t MP3_RequantizeRuns_neon(const int32_t *input, int32_t *output, const MP3_RequantizeRun *runs,
                                int32_t runCount) {
    if (runCount <= 0) return 0;
    SmallTable table = prepare(runs[0].attenuation);
    for (int32_t r = 0; r < runCount; ++r) {
        const MP3_RequantizeRun run = runs[r];  // a copy: stores to output cannot change it
        // Neighbouring bands often share their code (scalefactor 0).
        if (r > 0 && run.attenuation != runs[r - 1].attenuation) table = prepare(run.attenuation);
        const int32_t *in = input + run.start;
        int32_t *out = output + run.start;
        int32_t i = 0;
        for (; i + 8 <= run.count; i += 8) {
            // Eight values: one test for a magnitude of 16 or more and one
            // for all zero (common above the lowest bands).
            const int32x4_t x0 = vld1q_s32(in + i);
            const int32x4_t x1 = vld1q_s32(in + i + 4);
            const int32x4_t a0 = vabsq_s32(x0);
            const int32x4_t a1 = vabsq_s32(x1);
            const uint32x4_t large = vcgtq_u32(vmaxq_u32(vreinterpretq_u32_s32(a0), vreinterpretq_u32_s32(a1)),
                                               vdupq_n_u32(15));  // |INT32_MIN| too
            const uint32x4_t nonzero = vreinterpretq_u32_s32(vorrq_s32(x0, x1));
            const uint32x2_t flags = vpmax_u32(vorr_u32(vget_low_u32(large), vget_high_u32(large)),
                                               vorr_u32(vget_low_u32(nonzero), vget_high_u32(nonzero)));
            if (vget_lane_u32(flags, 0) != 0) {
                // Four and four, the larger lanes then overwritten.
                if (!requantizeGroup<4>(table, x0, run.attenuation, out + i)) {
                    return valueByValue(in + i, out + i, run.count - i, run.attenuation);
                }
                if (!requantizeGroup<4>(table, x1, run.attenuation, out + i + 4)) {
                    return valueByValue(in + i + 4, out + i + 4, run.count - i - 4, run.attenuation);
                }
            } else if (vget_lane_u32(flags, 1) == 0) {
                vst1q_s32(out + i, vdupq_n_s32(0));
                vst1q_s32(out + i + 4, vdupq_n_s32(0));
            } else {
                vst1q_s32(out + i, lookup(table, x0, a0));
                vst1q_s32(out + i + 4, lookup(table, x1, a1));
            }
        }
        for (; i + 4 <= run.count; i += 4) {
            if (!requantizeGroup<4>(table, vld1q_s32(in + i), run.attenuation, out + i)) {
                return valueByValue(in + i, out + i, run.count - i, run.attenuation);
            }
        }
        // Band widths are even: two more values, or one of an odd count.
        if (i + 2 <= run.count) {
            const int32x4_t x = vcombine_s32(vld1_s32(in + i), vdup_n_s32(0));
            if (!requantizeGroup<2>(table, x, run.attenuation, out + i)) {
                return valueByValue(in + i, out + i, run.count - i, run.attenuation);
            }
            i += 2;
        }
        if (i < run.count) {
            const int32_t result = valueByValue(in + i, out + i, run.count - i, run.attenuation);
            if (result != 0) return result;
        }
    }
    return 0;
}

}  // namespace mpfix

#endif
