#include "audio/synth/polyphase.h"

#include "audio/fixed_point.h"

namespace mpfix {

// Entry = round(2^(32-s) * m), m = 1 / (2 cos(n pi / 64)) with n = 2i+1,
// 31-2i, 15-2i, 17+2i for entries 4i .. 4i+3 (group i); shifts s in kShift1.
constexpr int32_t synthDctCoef1[16] = {
    1075036753, 1367679739, 1449139879, 1598879467,
    1085490621, 1829445839, 1336817425, 1802489638,
    1106914669, 1104762768, 1251843312, 2088574387,
    1140405281, 796804811,  1187781572, 627838284,
};
// Entry = round(2^(32-s) * m), m = 1 / (2 cos(n pi / 32)) with n = 2i+1, 15-2i
// for entries 2i, 2i+1 (group i); shifts s in kShift2.
constexpr int32_t synthDctCoef2[8] = {
    1078937202, 1369329156, 1122057232, 462365872,
    1217503044, 284723498,  1389039203, 1692549166,
};
// Entry = round(2^(32-s) * m): 1/(2cos(pi/16)) s1, 1/(2cos(7pi/16)) s3,
// 1/(2cos(3pi/16)) s1, 1/(2cos(5pi/16)) s1, cos(pi/4) s1, cos(pi/8) s1,
// -1/(2cos(pi/8)) s1, 1/(2cos(3pi/8)) s2.
constexpr int32_t synthDctCoef3[8] = {
    1094777670, 1375954754, 1291378312, 1932684223,
    1518500250, 1984016189, -1162209775, 1402911301,
};

// Entry = round(2^30 * D) with D as Table B.3 prints it (tools/gen_synth_window.py),
// read order: 0..7 D[32t+32]; 8..15 D[496-64j]; 16+16r+2t, 17+16r+2t:
// D[32t+15-r], D[32t+17+r]. Entry 204 (D[196]) holds 61865983.
constexpr int32_t synthWindow[256] = {
    -475136, 3489792, -7520256, 33374208, -84426752, 107708416, -614219776, 1229422592,
    81920, -2392064, 737281, 163430400, -1048887296, -159367168, -25673728, -1703936,
    -81920, -98304, -1589248, -1818624, 2670592, 2080768, -24543232, -26771456,
    3031040, -4718592, -157040640, -161185792, -139919360, -187678720, -1027014656, -1069711360,
    -65536, -114689, -1490944, -1916928, 2899968, 1736704, -23396352, -27820032,
    6586368, -8929280, -154271744, -162463744, -117211136, -212664320, -1004158976, -1089437696,
    -65536, -114689, -1392640, -2048000, 3096576, 1359871, -22216704, -28819456,
    9912320, -13336576, -151044096, -163168256, -95322112, -238354432, -980385792, -1108033537,
    -49152, -131072, -1294336, -2162688, 3276800, 933888, -21020672, -29769728,
    13008897, -17940480, -147423232, -163282944, -74268672, -264683520, -955727872, -1125449728,
    -49152, -147456, -1196032, -2277376, 3407872, 475136, -19824640, -30638080,
    15892480, -22740992, -143441920, -162775040, -54067200, -291618817, -930250752, -1141620736,
    -32768, -163840, -1114112, -2408448, 3522560, -32768, -18628608, -31440896,
    18530304, -27721728, -139116544, -161595393, -34766848, -319127552, -904036352, -1156546560,
    -32768, -180224, -1032192, -2523137, 3620864, -589824, -17432576, -32145408,
    20971520, -32866304, -134496256, -159744000, -16351231, -347160576, -877101056, -1170145280,
    -32768, -212992, -950272, -2637824, 3670016, -1179648, -16236544, -32784384,
    23166976, -38174721, -129597439, -157155328, 1146880, -375668736, -849559552, -1182416896,
    -32768, -229376, -868352, -2768896, 3719168, -1818624, -15056896, -33292288,
    25149440, -43630592, -124469249, -153829377, 17727488, -404586496, -821444608, -1193328640,
    -16384, -262144, -802816, -2883584, 3735552, -2506752, -13893632, -33701888,
    26935296, -49217536, -119128064, -149733376, 33374208, -433881088, -792821760, -1202831360,
    -16384, -278528, -737281, -2998272, 3735552, -3227648, -12763136, -33996800,
    28491776, -54902784, -113623040, -144834560, 48087040, -463486976, -763772928, -1210908672,
    -16384, -311296, -671744, -3112960, 3735552, -3997697, -11649024, -34160640,
    29851648, -60702719, -107954176, -139132928, 61865983, -493355008, -734347264, -1217544192,
    -16384, -344064, -622592, -3211264, 3686400, -4816896, -10567680, -34193408,
    31014912, -66568192, -102187008, -132579328, 74727424, -523419648, -704610304, -1222737920,
    -16384, -393216, -573440, -3309568, 3637248, -5685248, -9519104, -34078720,
    31981568, -72499200, -96321536, -125173760, 86638592, -553631744, -674627584, -1226440704,
    -16384, -425985, -507904, -3407872, 3571712, -6569984, -8503297, -33800192,
    32768000, -78446592, -90390528, -116883456, 97632256, -583925760, -644481024, -1228668928,
};

// Built from synthWindow at compile time.
constexpr SynthWindowRows makeWindowRows() {
    SynthWindowRows w{};
    for (int r = 0; r < 15; ++r) {
        const int32_t *d = synthWindow + 16 + 16 * r;
        for (int age = 0; age < 16; ++age) {
            int32_t a, b;
            if (age < 8) {
                a = d[2 * age];
                b = (age & 1) ? d[2 * age + 1] : wrapNeg(d[2 * age + 1]);
            } else {
                const int t = 15 - age;
                a = wrapNeg(d[2 * t + 1]);
                b = (t & 1) ? d[2 * t] : wrapNeg(d[2 * t]);
            }
            for (int i = age; i < 36; i += 16) {
                w.coef[SynthWindowRows::kWidth * r + i] = a;
                w.coef[SynthWindowRows::kB + SynthWindowRows::kWidth * r + i] = b;
            }
        }
    }
    return w;
}
constexpr SynthWindowRows synthWindowRows = makeWindowRows();

constexpr int32_t synthSample16Coef[16] = {
    synthWindow[15], synthWindow[14], synthWindow[13], synthWindow[12], synthWindow[11], synthWindow[10],
    synthWindow[9],  synthWindow[8],  synthWindow[15], synthWindow[14], synthWindow[13], synthWindow[12],
    synthWindow[11], synthWindow[10], synthWindow[9],  synthWindow[8],
};

namespace {

// Left shifts of the operands of the stage-1 factors: larger factors
// (m up to 10.2) are stored at a smaller scale and the operand is shifted up.
constexpr int kShift1[16] = {1, 5, 1, 1, 1, 3, 1, 1, 1, 3, 1, 1, 1, 3, 1, 3};
constexpr int kShift2[8] = {1, 4, 1, 4, 1, 4, 1, 1};

// High product of a factor and a wrapped, left-shifted operand.
inline int32_t mh(int32_t coef, int32_t value, int shift) { return mulHigh(coef, wrapShl(value, shift)); }

// Stage 1, group i: the 32-point butterflies that split X into four
// eight-point blocks (sums into 0..7 and 8..15, differences into 16..31).
inline void dctStage1Group(int32_t *x, int i) {
    const int32_t a = x[i], b = x[31 - i], c = x[15 - i], d = x[16 + i];
    const int32_t e = x[7 - i], f = x[24 + i], g = x[8 + i], h = x[23 - i];
    const int32_t *k1 = synthDctCoef1 + 4 * i;
    const int *s1 = kShift1 + 4 * i;
    const int32_t *k2 = synthDctCoef2 + 2 * i;
    const int *s2 = kShift2 + 2 * i;

    const int32_t sum1 = wrapAdd(a, b), sum2 = wrapAdd(c, d), sum3 = wrapAdd(e, f), sum4 = wrapAdd(g, h);
    const int32_t P = mh(k1[0], wrapSub(a, b), s1[0]);
    const int32_t Q = mh(k1[1], wrapSub(c, d), s1[1]);
    const int32_t R = mh(k1[2], wrapSub(e, f), s1[2]);
    const int32_t T = mh(k1[3], wrapSub(g, h), s1[3]);

    x[i] = wrapAdd(sum1, sum2);
    x[7 - i] = wrapAdd(sum3, sum4);
    x[8 + i] = mh(k2[0], wrapSub(sum1, sum2), s2[0]);
    x[15 - i] = mh(k2[1], wrapSub(sum3, sum4), s2[1]);
    x[16 + i] = wrapAdd(P, Q);
    x[23 - i] = wrapAdd(R, T);
    x[24 + i] = mh(k2[0], wrapSub(P, Q), s2[0]);
    x[31 - i] = mh(k2[1], wrapSub(R, T), s2[1]);
}

// Stage 2: one eight-point DCT block in place.
inline void dctBlock8(int32_t *y) {
    const int32_t *k3 = synthDctCoef3;
    const int32_t s07 = wrapAdd(y[0], y[7]), s34 = wrapAdd(y[3], y[4]);
    const int32_t s16 = wrapAdd(y[1], y[6]), s25 = wrapAdd(y[2], y[5]);
    const int32_t d0 = mh(k3[0], wrapSub(y[0], y[7]), 1);
    const int32_t d1 = mh(k3[1], wrapSub(y[3], y[4]), 3);
    const int32_t d2 = mh(k3[2], wrapSub(y[1], y[6]), 1);
    const int32_t d3 = mh(k3[3], wrapSub(y[2], y[5]), 1);

    const int32_t e0 = wrapAdd(s07, s34), e1 = wrapSub(s07, s34);
    const int32_t f0 = wrapAdd(s16, s25), f1 = wrapSub(s16, s25);
    const int32_t g = wrapAdd(d0, d1), h = wrapSub(d0, d1);
    const int32_t k = wrapAdd(d2, d3), l = wrapSub(d2, d3);

    const int32_t n = mh(k3[5], wrapSub(e1, f1), 1);
    const int32_t o = mh(k3[5], wrapSub(h, l), 1);
    const int32_t m = mh(k3[4], wrapSub(g, k), 1);

    y[0] = wrapAdd(e0, f0);
    y[4] = mh(k3[4], wrapSub(e0, f0), 1);
    y[6] = wrapAdd(mh(k3[6], e1, 1), n);
    y[2] = wrapAdd(mh(k3[7], f1, 2), n);
    const int32_t y7 = wrapAdd(mh(k3[6], h, 1), o);
    y[7] = y7;
    y[5] = wrapAdd(m, y7);
    const int32_t q = wrapAdd(mh(k3[7], l, 2), o);
    y[3] = wrapAdd(q, m);
    y[1] = wrapAdd(wrapAdd(g, k), q);
}

}  // namespace

void MP3_SynthDCT32(int32_t *samples, int32_t *history, int32_t position) {
    const int32_t p = position & 15;  // callers pass 0..15; the mask keeps any value in bounds
    for (int i = 0; i < 4; ++i) dctStage1Group(samples, i);
    for (int b = 24; b >= 0; b -= 8) dctBlock8(samples + b);
    synth::storeSlot(samples, history, p);
}

namespace synth {

namespace {
inline int32_t add3(int32_t a, int32_t b, int32_t c) { return wrapAdd(wrapAdd(a, b), c); }
}  // namespace

// Stage 3: the matrixing values are sums of the block outputs.
void storeSlot(const int32_t *x, int32_t *history, int32_t p) {
    history[MP3_HISTORY_V0 + p] = x[4];
    history[((p & 1) ? MP3_HISTORY_V48_ODD : MP3_HISTORY_V48_EVEN) + (p >> 1)] = wrapNeg(x[0]);  // V_48
    // low[16r] receives V_{15-r}, high[16r] receives V_{47-r}.
    int32_t *low = history + ((p & 1) ? MP3_HISTORY_REGION_A : MP3_HISTORY_REGION_B) + p;
    int32_t *high = history + ((p & 1) ? MP3_HISTORY_REGION_B : MP3_HISTORY_REGION_A) + p;
    low[16 * 0] = x[31];
    low[16 * 1] = x[15];
    low[16 * 2] = wrapAdd(x[31], x[23]);
    low[16 * 3] = x[7];
    low[16 * 4] = add3(x[31], x[30], x[23]);
    low[16 * 5] = wrapAdd(x[15], x[14]);
    low[16 * 6] = add3(x[31], x[30], x[22]);
    low[16 * 7] = x[6];
    low[16 * 8] = add3(x[30], x[29], x[22]);
    low[16 * 9] = wrapAdd(x[14], x[13]);
    low[16 * 10] = add3(x[30], x[29], x[21]);
    low[16 * 11] = x[5];
    low[16 * 12] = add3(x[29], x[28], x[21]);
    low[16 * 13] = wrapAdd(x[13], x[12]);
    low[16 * 14] = add3(x[29], x[28], x[20]);

    high[16 * 0] = wrapNeg(add3(x[25], x[24], x[16]));
    high[16 * 1] = wrapNeg(wrapAdd(x[9], x[8]));
    high[16 * 2] = wrapNeg(add3(x[25], x[24], x[17]));
    high[16 * 3] = wrapNeg(x[1]);
    high[16 * 4] = wrapNeg(add3(x[26], x[25], x[17]));
    high[16 * 5] = wrapNeg(wrapAdd(x[10], x[9]));
    high[16 * 6] = wrapNeg(add3(x[26], x[25], x[18]));
    high[16 * 7] = wrapNeg(x[2]);
    high[16 * 8] = wrapNeg(add3(x[27], x[26], x[18]));
    high[16 * 9] = wrapNeg(wrapAdd(x[11], x[10]));
    high[16 * 10] = wrapNeg(add3(x[27], x[26], x[19]));
    high[16 * 11] = wrapNeg(x[3]);
    high[16 * 12] = wrapNeg(add3(x[28], x[27], x[19]));
    high[16 * 13] = wrapNeg(wrapAdd(x[12], x[11]));
    high[16 * 14] = wrapNeg(add3(x[28], x[27], x[20]));
}

int32_t startSlot(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int step) {
    const int32_t p = advancePosition(position);
    MP3_SynthDCT32(samples, history, p);
    windowEdgeSamples(history, p, pcm, step);
    return p;
}

}  // namespace synth

int32_t MP3_SynthPQMF_ref(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position, int32_t stride) {
    if (*position < 0 || *position > 15) return MP3_ERR_PARAM;
    const int step = (stride == 1) ? 1 : 2;
    const int32_t p = synth::startSlot(samples, pcm, history, position, step);

    // Samples 15 - r and 17 + r share the 16 values of row r: the current
    // region holds V_{15-r} of the slots 0, 2 .. 14 calls ago and V_{47-r}
    // of the slots 1, 3 .. 15 calls ago.
    const int32_t *region = synth::windowRegion(history, p);
    for (int r = 0; r < 15; ++r) {
        const int32_t *row = region + 16 * r;
        const int32_t *w = synthWindow + 16 + 16 * r;
        Acc64 accA, accB;
        for (int t = 0; t < 8; ++t) {
            const int32_t w0 = w[2 * t], w1 = w[2 * t + 1];
            const int32_t recent = row[(p + t) & 15];
            const int32_t older = row[(p + 15 - t) & 15];
            accA.mac(w0, recent);
            accA.msub(w1, older);
            if (t & 1) {
                accB.mac(w1, recent);
                accB.mac(w0, older);
            } else {
                accB.msub(w1, recent);
                accB.msub(w0, older);
            }
        }
        pcm[(15 - r) * step] = synth::toPcm(accA.bits);
        pcm[(17 + r) * step] = synth::toPcm(accB.bits);
    }
    return 0;
}

int32_t MP3_SynthGranule_ref(int32_t *slots, int16_t *pcm, int32_t *history, int32_t *position, int32_t nch) {
    return synth::granuleBySlots<MP3_SynthPQMF_ref>(slots, pcm, history, position, nch);
}

// The best granule variant, chosen as MP3_SynthPQMF chooses its slot kernel.
int32_t MP3_SynthGranule(int32_t *slots, int16_t *pcm, int32_t *history, int32_t *position, int32_t nch) {
#if MPFIX_PLAIN_KERNELS
    return MP3_SynthGranule_ref(slots, pcm, history, position, nch);
#elif defined(__x86_64__) || defined(__i386__)
    static const SynthGranuleFn best = SynthGranuleVariants().back().fn;
    return best(slots, pcm, history, position, nch);
#else
    return MP3_SynthGranule_slots(slots, pcm, history, position, nch);
#endif
}

}  // namespace mpfix

// The best variant for this machine: fixed at build time on ARM, chosen once
// from the processor's features on x86-64.
MPFIX_API int32_t MP3_SynthPQMF(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position,
                                int32_t stride) {
#if MPFIX_PLAIN_KERNELS
    return mpfix::MP3_SynthPQMF_ref(samples, pcm, history, position, stride);
#elif defined(__ARM_NEON)
    return mpfix::MP3_SynthPQMF_neon(samples, pcm, history, position, stride);
#elif defined(__x86_64__) || defined(__i386__)
    static const mpfix::SynthPQMFFn best = mpfix::SynthPQMFVariants().back().fn;
    return best(samples, pcm, history, position, stride);
#else
    return mpfix::MP3_SynthPQMF_scalar(samples, pcm, history, position, stride);
#endif
}
