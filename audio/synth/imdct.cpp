#include "audio/synth/imdct.h"

#include <iterator>

#include "audio/fixed_point.h"
#include "mpfix.h"

namespace mpfix {

// ---- Tables ----------------------------------------------------------------

// cs_i = round(2^31 / sqrt(1 + c_i^2)), ca_i = round(2^31 c_i / sqrt(1 + c_i^2)),
// c_i from ISO/IEC 11172-3 Table B.9: -0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037.
const int32_t aliasCoef[8][2] = {
    {1841452036, -1104871222}, {1893526521, -1013036689}, {2039311996, -672972959}, {2111652008, -390655622},
    {2137858231, -203096532},  {2145680960, -87972919},   {2147267171, -30491194},  {2147468949, -7945635},
};

// float(c) * 2^31 for cos(pi/9), cos(2pi/9), cos(4pi/9), cos(pi/18), cos(5pi/18), cos(7pi/18), cos(pi/6), sqrt(2)/4.
const int32_t imdctCos9[8] = {
    2017974528, 1645067904, 372906624, 2114858496, 1380375936, 734482688, 1859775360, 759250112,
};

// float(c) * 2^31 for 1/(4 cos(k pi/36)), k = 1, 17 (as 1/16), 3, 15, 5, 13, 7, 11.
const int32_t imdctTwiddle[8] = {
    538921664, 1539975680, 555809664, 2074309888, 592371520, 1270344832, 655398336, 936005888,
};

// round(win_t(i) * g(i) * m(i) / 8 * 2^31), g(i) = float(1 / cos((2i + 19) pi/72)),
// m = 2 at i = 4, 13, 22, 31, 1/4 at i = 8, 9, else 1; rows: block types 0, 1, 3.
const int32_t imdctWindow[3][36] = {
    {
        17331497, 57555973, 108133460, 174813955, 536870935, 412195909,
        666376477, 1251956820, 1039402258, -1134308520, -1631581894, -1046001545,
        -791820975, -1296121091, -554439031, -487758516, -437181022, -396956545,
        -363743675, -335460810, -310736462, -288622674, -536870920, -249660198,
        -231892947, -214801826, -198099932, -181525144, -164823238, -147732101,
        -129964873, -222379216, -91002380, -68888615, -44164253, -15881392,
    },
    {
        17331497, 57555973, 108133460, 174813955, 536870935, 412195909,
        666376477, 1251956820, 1039402258, -1134308520, -1631581894, -1046001545,
        -791820975, -1296121091, -554439031, -487758516, -437181022, -396956545,
        -364090208, -338355488, -318280992, -302629280, -581104896, -281462400,
        -272600668, -250142024, -213167061, -163568839, -103612219, -35888559,
        0, 0, 0, 0, 0, 0,
    },
    {
        0, 0, 0, 0, 0, 0,
        161882836, 787012958, 936585517, -1220582009, -1900017357, -1229622214,
        -892684672, -1402911360, -581345472, -499601056, -440953440, -397334720,
        -363743675, -335460810, -310736462, -288622674, -536870920, -249660198,
        -231892947, -214801826, -198099932, -181525144, -164823238, -147732101,
        -129964873, -222379216, -91002380, -68888615, -44164253, -15881392,
    },
};

// [6j + m] = trunc(2^31 cos(pi/24 (13 + 2j)(2m + 1))), [18 + 6j + m] = trunc(2^31 cos(pi/24 (19 + 2j)(2m + 1))).
const int32_t imdctShortCos[36] = {
    -280302863, 821806413, -1307305214, 1703713325, -1984016188, 2129111627,
    -821806413, 1984016188, -1984016188, 821806413, 821806413, -1984016188,
    -1307305214, 1984016188, 280302863, -2129111627, 821806413, 1703713325,
    -1703713325, 821806413, 2129111627, 280302863, -1984016188, -1307305214,
    -1984016188, -821806413, 821806413, 1984016188, 1984016188, 821806413,
    -2129111627, -1984016188, -1703713325, -1307305214, -821806413, -280302863,
};

// round(2^31 sin(pi/12 (i + 1/2))), i = 0..11.
const int32_t imdctShortWindow[12] = {
    280302863,  821806413,  1307305214, 1703713325, 1984016189, 2129111628,
    2129111628, 1984016189, 1703713325, 1307305214, 821806413,  280302863,
};

// ---- Alias reduction ---------------------------------------------------------

void MP3_AliasReduce_ref(int32_t *spectrum, int32_t subbands) {
    if (subbands > MP3_SUBBANDS) subbands = MP3_SUBBANDS;  // a granule has 32 subbands, never more
    for (int32_t k = 1; k < subbands; ++k) {
        int32_t *lower = spectrum + MP3_SLOTS * k;  // lines 18k, 18k + 1, ...
        int32_t *upper = lower - 1;          // lines 18k - 1, 18k - 2, ...
        for (int i = 0; i < 8; ++i) {
            const int32_t cs = aliasCoef[i][0];
            const int32_t ca = aliasCoef[i][1];
            const int32_t lo = lower[i];
            const int32_t up = upper[-i];
            Acc64 newLo;
            newLo.mac(cs, lo);
            newLo.mac(ca, up);
            Acc64 newUp;
            newUp.mac(cs, up);
            newUp.msub(ca, lo);
            lower[i] = wrapShl(newLo.high(), 1);
            upper[-i] = wrapShl(newUp.high(), 1);
        }
    }
}

namespace {

constexpr AliasReduceVariant kAliasVariants[] = {
    {"ref", MP3_AliasReduce_ref},
#if !MPFIX_PLAIN_KERNELS && defined(__x86_64__)
    {"avx2", MP3_AliasReduce_avx2},
#endif
#if !MPFIX_PLAIN_KERNELS && defined(__ARM_NEON)
    {"neon", MP3_AliasReduce_neon},
#endif
};

size_t runnableAliasVariants() noexcept {
#if !MPFIX_PLAIN_KERNELS && defined(__x86_64__)
    if (!__builtin_cpu_supports("avx2")) return 1;
#endif
    return std::size(kAliasVariants);
}

}  // namespace

std::span<const AliasReduceVariant> AliasReduceVariants() noexcept {
    return {kAliasVariants, runnableAliasVariants()};
}

void MP3_AliasReduce(int32_t *spectrum, int32_t subbands) {
#if !MPFIX_PLAIN_KERNELS && defined(__x86_64__)
    static const AliasReduceFn best = AliasReduceVariants().back().fn;
    best(spectrum, subbands);
#elif !MPFIX_PLAIN_KERNELS && defined(__ARM_NEON)
    MP3_AliasReduce_neon(spectrum, subbands);
#else
    MP3_AliasReduce_ref(spectrum, subbands);
#endif
}

// ---- Long transform ----------------------------------------------------------

namespace {

// v * 2^n as the start value of a 64-bit accumulator (wrapping, sign-extended).
Acc64 startAt(int32_t v, int n) {
    Acc64 acc;
    acc.bits = static_cast<uint64_t>(static_cast<int64_t>(v)) << n;
    return acc;
}

// floor(S / 2^n) reduced to its low 32 bits.
int32_t lowWord(uint64_t s, int n) { return static_cast<int32_t>(static_cast<int64_t>(s) >> n); }

// The two 64-bit sums that the k = 0 recombination takes in full precision.
struct NinePointSums {
    uint64_t s0;
    uint64_t s5;
};

// Nine-point transform of a_n = t[p + 2n] (ISO/IEC 11172-3 IMDCT split into
// even and odd halves); f[0..8] receives the results. The odd half scales f4
// by c7 so that both halves leave the same factor on their k = 4 output.
NinePointSums ninePoint(const int32_t *t, int p, int32_t *f) {
    const int32_t *c = imdctCos9;
    int32_t a[9];
    for (int n = 0; n < 9; ++n) a[n] = t[p + 2 * n];

    const int32_t twiceA0 = wrapShl(a[0], 1);
    const int32_t s = wrapAdd(twiceA0, a[6]);

    Acc64 s0 = startAt(s, 30);
    s0.mac(c[0], a[2]);
    s0.mac(c[1], a[4]);
    s0.mac(c[2], a[8]);
    f[0] = s0.high();

    f[1] = wrapSub(wrapSub(wrapAdd(wrapSub(twiceA0, wrapShl(a[6], 1)), a[2]), a[4]), a[8]) >> 2;

    // The start value carries s >> 2: the two lowest bits of s do not enter.
    Acc64 s2 = startAt(s >> 2, 32);
    s2.msub(c[2], a[2]);
    s2.msub(c[0], a[4]);
    s2.mac(c[1], a[8]);
    f[2] = s2.high();
    Acc64 s3 = startAt(s >> 2, 32);
    s3.msub(c[1], a[2]);
    s3.mac(c[2], a[4]);
    s3.msub(c[0], a[8]);
    f[3] = s3.high();

    const int32_t r = wrapAdd(wrapSub(wrapAdd(wrapSub(twiceA0 >> 1, a[6]), a[4]), a[2]), a[8]);
    f[4] = p == 0 ? r >> 2 : mulHigh(c[7], r);

    const int32_t h = mulHigh(c[6], a[3]);
    Acc64 s5 = startAt(h, 32);
    s5.mac(c[3], a[1]);
    s5.mac(c[4], a[5]);
    s5.mac(c[5], a[7]);
    f[5] = s5.high();

    f[6] = mulHigh(c[6], wrapSub(wrapSub(a[1], a[5]), a[7]));

    const int32_t minusH = wrapNeg(h);
    Acc64 s7 = startAt(minusH, 32);
    s7.mac(c[4], a[1]);
    s7.msub(c[5], a[5]);
    s7.mac(c[3], a[7]);
    f[7] = s7.high();
    Acc64 s8 = startAt(minusH, 32);
    s8.mac(c[5], a[1]);
    s8.mac(c[3], a[5]);
    s8.msub(c[4], a[7]);
    f[8] = s8.high();

    return {s0.bits, s5.bits};
}

// Window row of a block type: 0 -> 0, 1 -> 1, 2 and 3 -> 2 (type less 1 for
// 3); anything else takes the normal window.
int windowRow(int32_t blockType) {
    if (blockType == 1) return 1;
    if (blockType == 2 || blockType == 3) return 2;
    return 0;
}

}  // namespace

void MP3_IMDCTLong(int32_t *x, int32_t *z, int32_t blockType) {
    const int32_t *w = imdctWindow[windowRow(blockType)];
    const int32_t *d = imdctTwiddle;

    // Pre-additions fold the 18 inputs into the even and odd nine-point inputs.
    int32_t t[18];
    t[0] = x[0];
    t[1] = wrapAdd(x[0], x[1]);
    for (int k = 1; k <= 8; ++k) {
        t[2 * k] = wrapAdd(x[2 * k - 1], x[2 * k]);
        t[2 * k + 1] = wrapAdd(wrapAdd(x[2 * k - 2], x[2 * k - 1]), wrapAdd(x[2 * k], x[2 * k + 1]));
    }

    int32_t *e = x;
    int32_t *o = x + 9;
    const NinePointSums even = ninePoint(t, 0, e);
    const NinePointSums odd = ninePoint(t, 1, o);

    // k = 0 keeps the full 64-bit sums; Y and Om shift by 28 and d1 is 1/16
    // of its constant so that the terms stay inside 32 bits (the window's
    // m = 1/4 at i = 8, 9 makes up for it).
    const uint64_t bigE = even.s0 + even.s5;
    const uint64_t bigF = even.s0 - even.s5;
    const int32_t op = lowWord(odd.s0 + odd.s5, 30);
    const int32_t om = lowWord(odd.s0 - odd.s5, 28);
    const uint64_t dOp = static_cast<uint64_t>(mul64(d[0], op));
    const uint64_t dOm = static_cast<uint64_t>(mul64(d[1], om));
    const int32_t bigX = lowWord(bigE + dOp, 30);
    const int32_t bigY = lowWord(bigE - dOp, 28);
    const int32_t bigP = lowWord(bigF + dOm, 30);
    const int32_t bigQ = lowWord(bigF - dOm, 30);
    z[26] = mulHigh(w[26], bigX);
    z[27] = mulHigh(w[27], bigX);
    z[8] = mulHigh(w[8], bigY);
    z[9] = mulHigh(w[9], bigY);
    z[18] = mulHigh(w[18], bigP);
    z[35] = mulHigh(w[35], bigP);
    z[0] = mulHigh(w[0], bigQ);
    z[17] = mulHigh(w[17], bigQ);

    for (int k = 1; k <= 3; ++k) {
        const int32_t ek = wrapAdd(e[k], e[k + 5]);
        const int32_t dk = wrapSub(e[k], e[k + 5]);
        const int32_t ok = mulHigh(d[2 * k], wrapShl(wrapAdd(o[k], o[k + 5]), 2));
        const int32_t pk = mulHigh(d[2 * k + 1], wrapShl(wrapSub(o[k], o[k + 5]), 2));
        const int32_t va = wrapShl(wrapAdd(ek, ok), 2);
        const int32_t vb = wrapShl(wrapSub(ek, ok), 2);
        const int32_t vc = wrapShl(wrapAdd(dk, pk), 2);
        const int32_t vd = wrapShl(wrapSub(dk, pk), 2);
        z[26 - k] = mulHigh(w[26 - k], va);
        z[27 + k] = mulHigh(w[27 + k], va);
        z[8 - k] = mulHigh(w[8 - k], vb);
        z[9 + k] = mulHigh(w[9 + k], vb);
        z[18 + k] = mulHigh(w[18 + k], vc);
        z[35 - k] = mulHigh(w[35 - k], vc);
        z[k] = mulHigh(w[k], vd);
        z[17 - k] = mulHigh(w[17 - k], vd);
    }

    const int32_t va = wrapShl(wrapAdd(e[4], o[4]), 2);
    const int32_t vb = wrapShl(wrapSub(e[4], o[4]), 2);
    z[22] = mulHigh(w[22], va);
    z[31] = mulHigh(w[31], va);
    z[4] = mulHigh(w[4], vb);
    z[13] = mulHigh(w[13], vb);
}

// ---- Short transform ---------------------------------------------------------

void MP3_IMDCTShort(const int32_t *x, int32_t *z) {
    const int32_t *v = imdctShortWindow;
    // The 12-point IMDCT is antisymmetric in outputs 0..5 and symmetric in
    // 6..11, so six sums per window give all twelve outputs.
    int32_t y[3][12];
    for (int win = 0; win < 3; ++win) {
        const int32_t *in = x + 6 * win;
        for (int j = 0; j < 3; ++j) {
            Acc64 a;
            Acc64 b;
            for (int m = 0; m < 6; ++m) {
                a.mac(imdctShortCos[6 * j + m], in[m]);
                b.mac(imdctShortCos[18 + 6 * j + m], in[m]);
            }
            y[win][3 + j] = a.high();
            y[win][2 - j] = wrapNeg(a.high());
            y[win][6 + j] = b.high();
            y[win][11 - j] = b.high();
        }
    }
    for (int i = 0; i < 6; ++i) {
        z[i] = 0;
        z[30 + i] = 0;
        z[6 + i] = mulHigh(v[i], y[0][i]);
        Acc64 mid0;
        mid0.mac(v[6 + i], y[0][6 + i]);
        mid0.mac(v[i], y[1][i]);
        z[12 + i] = mid0.high();
        Acc64 mid1;
        mid1.mac(v[6 + i], y[1][6 + i]);
        mid1.mac(v[i], y[2][i]);
        z[18 + i] = mid1.high();
        z[24 + i] = mulHigh(v[6 + i], y[2][6 + i]);
    }
}

}  // namespace mpfix
