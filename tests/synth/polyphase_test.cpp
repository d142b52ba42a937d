// Polyphase synthesis: the constant tables derived from their rules and from
// the standard's window data, the matrixing against exact sums, and whole
// slots against a double-precision model of the ISO/IEC 11172-3 synthesis
// filter (1024-entry V shift, U from V, window D[i]).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "audio/synth/polyphase.h"
#include "mpfix.h"

using namespace mpfix;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int32_t kOne = 0x01000000;  // 1.0 with 24 fraction bits

// ---- Window data of Table B.3 ------------------------------------------------

struct WindowEntry {
    int64_t nano;  // D[i] in units of 1e-9, exactly as printed
    double value;
};

// Reads data/synthesis_window_b3.txt: "i D[i]" for i = 0..511.
std::vector<WindowEntry> readWindowData() {
    std::ifstream in(std::string(MPFIX_SOURCE_DIR) + "/data/synthesis_window_b3.txt");
    std::vector<WindowEntry> d(512, WindowEntry{0, 0.0});
    std::vector<bool> seen(512, false);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        int index = -1;
        std::string text;
        fields >> index >> text;
        if (index < 0 || index >= 512 || text.empty()) continue;
        // Exact decimal parse: sign, whole part, exactly nine decimals.
        const bool negative = text[0] == '-';
        const std::string digits = negative ? text.substr(1) : text;
        const size_t dot = digits.find('.');
        if (dot == std::string::npos || digits.size() - dot - 1 != 9) continue;
        const int64_t nano = std::stoll(digits.substr(0, dot)) * 1000000000 + std::stoll(digits.substr(dot + 1));
        d[static_cast<size_t>(index)] = {negative ? -nano : nano, std::stod(text)};
        seen[static_cast<size_t>(index)] = true;
    }
    for (int i = 0; i < 512; ++i) {
        if (!seen[static_cast<size_t>(i)]) {
            ADD_FAILURE() << "window data misses D[" << i << "]";
            break;
        }
    }
    return d;
}

const std::vector<WindowEntry> &windowData() {
    static const std::vector<WindowEntry> d = readWindowData();
    return d;
}

// Index into D of each synthWindow entry, in the order the windowing reads them.
std::array<int, 256> windowReadOrder() {
    std::array<int, 256> order{};
    for (int t = 0; t < 8; ++t) order[static_cast<size_t>(t)] = 32 * (t + 1);
    for (int j = 0; j < 8; ++j) order[static_cast<size_t>(8 + j)] = 496 - 64 * j;
    for (int r = 0; r < 15; ++r) {
        for (int t = 0; t < 8; ++t) {
            order[static_cast<size_t>(16 + 16 * r + 2 * t)] = 32 * t + 15 - r;
            order[static_cast<size_t>(17 + 16 * r + 2 * t)] = 32 * t + 17 + r;
        }
    }
    return order;
}

// round(2^30 * nano / 1e9), halves away from zero, in exact integers.
int64_t roundScaled30(int64_t nano) {
    const int64_t magnitude = (nano < 0 ? -nano : nano) * (int64_t{1} << 30);
    const int64_t q = (magnitude + 500000000) / 1000000000;
    return nano < 0 ? -q : q;
}

TEST(SynthTables, WindowDerivedFromStandardData) {
    const auto &d = windowData();
    const auto order = windowReadOrder();
    for (int k = 0; k < 256; ++k) {
        int64_t expected = roundScaled30(d[static_cast<size_t>(order[static_cast<size_t>(k)])].nano);
        if (k == 204) {
            // The one stored value off the rule by one unit (rule: 61865985).
            EXPECT_EQ(expected, 61865985);
            expected = 61865983;
        }
        EXPECT_EQ(synthWindow[k], expected) << "entry " << k << " = D[" << order[static_cast<size_t>(k)] << "]";
    }
}

TEST(SynthTables, WindowListedEntries) {
    // Entries 0..31 as listed, independent of the data file.
    const int32_t listed[32] = {
        -475136,  3489792,  -7520256,   33374208,   -84426752,  107708416,  -614219776,  1229422592,
        81920,    -2392064, 737281,     163430400,  -1048887296, -159367168, -25673728,  -1703936,
        -81920,   -98304,   -1589248,   -1818624,   2670592,    2080768,    -24543232,   -26771456,
        3031040,  -4718592, -157040640, -161185792, -139919360, -187678720, -1027014656, -1069711360,
    };
    for (int k = 0; k < 32; ++k) EXPECT_EQ(synthWindow[k], listed[k]) << "entry " << k;

    // Every D is a multiple of 2^-16 (N = 65536 D); entries equal 16384 N
    // except where the nine-decimal print moved them by one unit.
    const int exceptions[20] = {10, 33, 49, 53, 63, 72, 93, 107, 115, 124,
                                137, 138, 154, 155, 178, 197, 201, 204, 241, 246};
    const auto &d = windowData();
    const auto order = windowReadOrder();
    int exceptional = 0;
    for (int k = 0; k < 256; ++k) {
        const double n = std::round(d[static_cast<size_t>(order[static_cast<size_t>(k)])].value * 65536.0);
        const int64_t multiple = 16384 * static_cast<int64_t>(n);
        const bool listedException = std::find(std::begin(exceptions), std::end(exceptions), k) != std::end(exceptions);
        if (synthWindow[k] != multiple) ++exceptional;
        EXPECT_EQ(synthWindow[k] != multiple, listedException) << "entry " << k;
        EXPECT_LE(std::llabs(synthWindow[k] - multiple), 1) << "entry " << k;
    }
    EXPECT_EQ(exceptional, 20);
}

struct CoefRule {
    double m;
    int s;
    int32_t listed;
};

// round(2^(32-s) * m) for each factor, checked against the listed value and the table.
void checkCoefficients(const char *name, const int32_t *table, const std::vector<CoefRule> &rules) {
    for (size_t k = 0; k < rules.size(); ++k) {
        const double scaled = std::ldexp(rules[k].m, 32 - rules[k].s);
        const long long derived = std::llround(scaled);
        EXPECT_EQ(derived, rules[k].listed) << name << "[" << k << "]";
        EXPECT_EQ(table[k], rules[k].listed) << name << "[" << k << "]";
        // The shift is what keeps each factor inside a signed 32-bit word.
        EXPECT_LT(std::fabs(scaled), 2147483648.0) << name << "[" << k << "]";
    }
}

double halfSec(double angle) { return 1.0 / (2.0 * std::cos(angle)); }

TEST(SynthTables, DctCoefficientsFollowTheirRule) {
    const double a = kPi / 64;
    checkCoefficients("synthDctCoef1", synthDctCoef1,
                      {{halfSec(1 * a), 1, 1075036753}, {halfSec(31 * a), 5, 1367679739},
                       {halfSec(15 * a), 1, 1449139879}, {halfSec(17 * a), 1, 1598879467},
                       {halfSec(3 * a), 1, 1085490621}, {halfSec(29 * a), 3, 1829445839},
                       {halfSec(13 * a), 1, 1336817425}, {halfSec(19 * a), 1, 1802489638},
                       {halfSec(5 * a), 1, 1106914669}, {halfSec(27 * a), 3, 1104762768},
                       {halfSec(11 * a), 1, 1251843312}, {halfSec(21 * a), 1, 2088574387},
                       {halfSec(7 * a), 1, 1140405281}, {halfSec(25 * a), 3, 796804811},
                       {halfSec(9 * a), 1, 1187781572}, {halfSec(23 * a), 3, 627838284}});
    const double b = kPi / 32;
    checkCoefficients("synthDctCoef2", synthDctCoef2,
                      {{halfSec(1 * b), 1, 1078937202}, {halfSec(15 * b), 4, 1369329156},
                       {halfSec(3 * b), 1, 1122057232}, {halfSec(13 * b), 4, 462365872},
                       {halfSec(5 * b), 1, 1217503044}, {halfSec(11 * b), 4, 284723498},
                       {halfSec(7 * b), 1, 1389039203}, {halfSec(9 * b), 1, 1692549166}});
    const double c = kPi / 16;
    checkCoefficients("synthDctCoef3", synthDctCoef3,
                      {{halfSec(1 * c), 1, 1094777670}, {halfSec(7 * c), 3, 1375954754},
                       {halfSec(3 * c), 1, 1291378312}, {halfSec(5 * c), 1, 1932684223},
                       {std::cos(kPi / 4), 1, 1518500250}, {std::cos(kPi / 8), 1, 1984016189},
                       {-halfSec(kPi / 8), 1, -1162209775}, {halfSec(3 * kPi / 8), 2, 1402911301}});
    EXPECT_EQ(static_cast<uint32_t>(synthDctCoef3[6]), 0xBABA1611u);
}

// ---- Matrixing --------------------------------------------------------------

// Exact V_i = sum S_k cos((16 + i)(2k + 1) pi / 64), in units of the input.
double exactV(const int32_t *s, int i) {
    long double sum = 0;
    for (int k = 0; k < 32; ++k) {
        sum += static_cast<long double>(s[k]) * std::cos(static_cast<long double>((16 + i) * (2 * k + 1)) *
                                                          static_cast<long double>(kPi) / 64.0L);
    }
    return static_cast<double>(sum);
}

struct StoredValue {
    int v;      // index i of V_i
    int entry;  // history entry that holds it
};

// Where the slot stored at position p keeps each of its 32 matrixing values.
std::vector<StoredValue> storedLayout(int p) {
    std::vector<StoredValue> out;
    out.push_back({0, p});
    out.push_back({48, (p % 2 == 0) ? 16 + p / 2 : 264 + (p - 1) / 2});
    const int lowBase = (p % 2 == 0) ? 272 : 24;   // V_{15-r}
    const int highBase = (p % 2 == 0) ? 24 : 272;  // V_{47-r}
    for (int r = 0; r < 15; ++r) {
        out.push_back({15 - r, lowBase + 16 * r + p});
        out.push_back({47 - r, highBase + 16 * r + p});
    }
    return out;
}

// Runs the matrixing on a zeroed history and returns the largest distance of
// a stored value from the exact V_i; every other history entry must stay 0.
double matrixingError(const std::array<int32_t, 32> &input, int p) {
    std::array<int32_t, 32> scratch = input;
    std::array<int32_t, 512> history{};
    MP3_SynthDCT32(scratch.data(), history.data(), p);
    std::array<bool, 512> used{};
    double worst = 0;
    for (const StoredValue &sv : storedLayout(p)) {
        used[static_cast<size_t>(sv.entry)] = true;
        worst = std::max(worst, std::fabs(history[static_cast<size_t>(sv.entry)] - exactV(input.data(), sv.v)));
    }
    for (int e = 0; e < 512; ++e) {
        if (!used[static_cast<size_t>(e)]) {
            EXPECT_EQ(history[static_cast<size_t>(e)], 0) << "entry " << e;
        }
    }
    return worst;
}

TEST(SynthMatrixing, StoredValuesWithin32UnitsOfExact) {
    std::vector<std::array<int32_t, 32>> inputs;
    // The sign pattern that maximises |V_i| at full scale, for every stored i.
    const int storedV[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,
                           33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48};
    for (int i : storedV) {
        std::array<int32_t, 32> s{};
        for (int k = 0; k < 32; ++k) s[static_cast<size_t>(k)] = std::cos((16 + i) * (2 * k + 1) * kPi / 64) >= 0 ? kOne : -kOne;
        inputs.push_back(s);
    }
    std::array<int32_t, 32> flat{}, alternating{};
    for (int k = 0; k < 32; ++k) {
        flat[static_cast<size_t>(k)] = -kOne;
        alternating[static_cast<size_t>(k)] = (k & 1) ? -kOne : kOne;
    }
    inputs.push_back(flat);
    inputs.push_back(alternating);
    // Random values and random full-scale signs.
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int32_t> any(-kOne, kOne);
    for (int n = 0; n < 200; ++n) {
        std::array<int32_t, 32> s{};
        for (auto &v : s) v = (n % 2 == 0) ? any(rng) : ((rng() & 1) ? kOne : -kOne);
        inputs.push_back(s);
    }
    double worst = 0;
    for (size_t n = 0; n < inputs.size(); ++n) worst = std::max(worst, matrixingError(inputs[n], static_cast<int>(n % 16)));
    EXPECT_LE(worst, 32.0);
    std::printf("largest matrixing error: %.2f units of 2^-24\n", worst);
}

// ---- Whole slots against the standard's filter --------------------------------

// The synthesis filter of ISO/IEC 11172-3 in double precision.
class ReferenceSynth {
public:
    explicit ReferenceSynth(const std::vector<WindowEntry> &d) {
        for (int i = 0; i < 512; ++i) window_[static_cast<size_t>(i)] = d[static_cast<size_t>(i)].value;
        for (int i = 0; i < 64; ++i)
            for (int k = 0; k < 32; ++k) cosine_[static_cast<size_t>(i)][static_cast<size_t>(k)] = std::cos((16 + i) * (2 * k + 1) * kPi / 64);
    }

    // One slot of 24-fraction-bit subband samples to 32 outputs scaled by 2^15.
    void slot(const int32_t *s, double *out) {
        std::memmove(v_.data() + 64, v_.data(), 960 * sizeof(double));
        for (int i = 0; i < 64; ++i) {
            double sum = 0;
            for (int k = 0; k < 32; ++k) sum += cosine_[static_cast<size_t>(i)][static_cast<size_t>(k)] * (s[k] / 16777216.0);
            v_[static_cast<size_t>(i)] = sum;
        }
        for (int j = 0; j < 32; ++j) {
            double sum = 0;
            for (int i = 0; i < 8; ++i) {
                sum += v_[static_cast<size_t>(128 * i + j)] * window_[static_cast<size_t>(64 * i + j)];
                sum += v_[static_cast<size_t>(128 * i + 96 + j)] * window_[static_cast<size_t>(64 * i + 32 + j)];
            }
            out[j] = sum * 32768.0;
        }
    }

private:
    std::array<double, 1024> v_{};
    std::array<double, 512> window_{};
    std::array<std::array<double, 32>, 64> cosine_{};
};

int expectedPcm(double scaled) { return static_cast<int>(std::clamp(std::lround(scaled), -32768L, 32767L)); }

// Random slots with a level that changes from slot to slot, 2^-14 .. 1.0.
std::array<int32_t, 32> randomSlot(std::mt19937 &rng) {
    const int32_t level = int32_t{1} << (10 + static_cast<int>(rng() % 15));
    std::uniform_int_distribution<int32_t> value(-level, level);
    std::array<int32_t, 32> s{};
    for (auto &v : s) v = value(rng);
    return s;
}

struct Agreement {
    int largest = 0;
    long off = 0;
    long total = 0;
    void add(int got, double model) {
        const int diff = std::abs(got - expectedPcm(model));
        largest = std::max(largest, diff);
        off += diff != 0;
        ++total;
    }
};

TEST(SynthAgainstModel, MonoSlots) {
    ReferenceSynth model(windowData());
    std::array<int32_t, 512> history{};
    int32_t position = 0;
    std::mt19937 rng(7);
    Agreement agreement;
    for (int n = 0; n < 400; ++n) {
        std::array<int32_t, 32> s = randomSlot(rng);
        double expected[32];
        model.slot(s.data(), expected);
        int16_t pcm[32];
        ASSERT_EQ(MP3_SynthPQMF(s.data(), pcm, history.data(), &position, 1), 0);
        ASSERT_EQ(position, (15 * (n + 1)) % 16);
        for (int j = 0; j < 32; ++j) agreement.add(pcm[j], expected[j]);
    }
    std::printf("mono: largest difference %d, %ld of %ld samples differ\n", agreement.largest, agreement.off,
                agreement.total);
    EXPECT_LE(agreement.largest, 1);
    EXPECT_LE(agreement.off * 100, agreement.total * 2);  // under 2% of samples off by one
}

TEST(SynthAgainstModel, InterleavedStereoSlots) {
    ReferenceSynth model[2] = {ReferenceSynth(windowData()), ReferenceSynth(windowData())};
    std::array<int32_t, 512> history[2] = {};
    int32_t position[2] = {0, 9};  // independent rings need not be in step
    std::mt19937 rng(11);
    Agreement agreement;
    for (int n = 0; n < 300; ++n) {
        int16_t pcm[64];
        double expected[2][32];
        for (int ch = 0; ch < 2; ++ch) {
            std::array<int32_t, 32> s = randomSlot(rng);
            model[ch].slot(s.data(), expected[ch]);
            ASSERT_EQ(MP3_SynthPQMF(s.data(), pcm + ch, history[ch].data(), &position[ch], 2), 0);
        }
        for (int j = 0; j < 32; ++j)
            for (int ch = 0; ch < 2; ++ch) agreement.add(pcm[2 * j + ch], expected[ch][j]);
    }
    std::printf("stereo: largest difference %d, %ld of %ld samples differ\n", agreement.largest, agreement.off,
                agreement.total);
    EXPECT_LE(agreement.largest, 1);
    EXPECT_LE(agreement.off * 100, agreement.total * 2);
}

// Bit-exact windowing: the standard's U/D sum over a 1024-entry V rebuilt
// from the 32 values each call stores (V_16 = 0, V_{32-i} = -V_i,
// V_{48+j} = V_{48-j}), with D[i] = round(2^30 D) from the data file, summed
// exactly in 64 bits. The one stored window value off its rule (D[196])
// also serves its mirror D[316].
TEST(SynthAgainstModel, WindowingIsExactOverStoredValues) {
    const auto &d = windowData();
    std::array<int64_t, 512> window{};
    for (size_t i = 0; i < 512; ++i) window[i] = roundScaled30(d[i].nano);
    window[196] = 61865983;
    window[316] = -61865983;

    std::vector<int64_t> v(1024, 0);
    std::array<int32_t, 512> history{};
    int32_t position = 6;
    std::mt19937 rng(5);
    long compared = 0;
    for (int n = 0; n < 200; ++n) {
        std::array<int32_t, 32> s = randomSlot(rng);
        int16_t pcm[32];
        ASSERT_EQ(MP3_SynthPQMF(s.data(), pcm, history.data(), &position, 1), 0);

        std::array<int64_t, 64> slot{};
        for (const StoredValue &sv : storedLayout(position)) slot[static_cast<size_t>(sv.v)] = history[static_cast<size_t>(sv.entry)];
        for (int i = 1; i <= 15; ++i) {
            slot[static_cast<size_t>(32 - i)] = -slot[static_cast<size_t>(i)];
            slot[static_cast<size_t>(48 + i)] = slot[static_cast<size_t>(48 - i)];
        }
        slot[16] = 0;
        slot[32] = -slot[0];
        std::copy_backward(v.begin(), v.end() - 64, v.end());
        std::copy(slot.begin(), slot.end(), v.begin());

        for (int j = 0; j < 32; ++j) {
            int64_t acc = 0;
            for (int i = 0; i < 8; ++i) {
                acc += v[static_cast<size_t>(128 * i + j)] * window[static_cast<size_t>(64 * i + j)];
                acc += v[static_cast<size_t>(128 * i + 96 + j)] * window[static_cast<size_t>(64 * i + 32 + j)];
            }
            const int64_t sample = std::clamp<int64_t>(((acc >> 32) + 64) >> 7, -32768, 32767);
            ASSERT_EQ(pcm[j], sample) << "slot " << n << " sample " << j;
            ++compared;
        }
    }
    EXPECT_EQ(compared, 200 * 32);
}

// ---- Listed behaviour -----------------------------------------------------------

TEST(SynthPositions, OutOfRangeChangesNothing) {
    for (int32_t bad : {16, -1, 17, 100, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}) {
        std::array<int32_t, 32> samples{};
        std::array<int32_t, 512> history{};
        std::array<int16_t, 64> pcm{};
        for (int i = 0; i < 32; ++i) samples[static_cast<size_t>(i)] = 1000 * i + 7;
        for (int i = 0; i < 512; ++i) history[static_cast<size_t>(i)] = 3 * i - 500;
        pcm.fill(0x5A5A);
        const auto samplesBefore = samples;
        const auto historyBefore = history;
        int32_t position = bad;
        EXPECT_EQ(MP3_SynthPQMF(samples.data(), pcm.data(), history.data(), &position, 1), MP3_ERR_PARAM) << bad;
        EXPECT_EQ(position, bad);
        EXPECT_EQ(samples, samplesBefore) << bad;
        EXPECT_EQ(history, historyBefore) << bad;
        for (int16_t v : pcm) EXPECT_EQ(v, 0x5A5A) << bad;
    }
}

TEST(SynthPositions, EachCallStepsTheRingBack) {
    for (int32_t start = 0; start < 16; ++start) {
        std::array<int32_t, 32> samples{};
        std::array<int32_t, 512> history{};
        int16_t pcm[32];
        int32_t position = start;
        EXPECT_EQ(MP3_SynthPQMF(samples.data(), pcm, history.data(), &position, 1), 0);
        EXPECT_EQ(position, (start + 15) % 16) << start;
    }
}

TEST(SynthExamples, SilenceGivesZeros) {
    std::array<int32_t, 32> samples{};
    std::array<int32_t, 512> history{};
    int16_t pcm[32];
    std::fill(std::begin(pcm), std::end(pcm), int16_t{0x1234});
    int32_t position = 5;
    ASSERT_EQ(MP3_SynthPQMF(samples.data(), pcm, history.data(), &position, 1), 0);
    for (int16_t v : pcm) EXPECT_EQ(v, 0);
    for (int32_t v : history) EXPECT_EQ(v, 0);
}

// Constant input in subband 0 from a zeroed history at position 0; stride
// other than 1 writes every second element and leaves the others alone.
TEST(SynthExamples, ConstantSixteenthSettlesAt2048) {
    for (int32_t stride : {1, 2, 0, 3, -1}) {
        const int step = stride == 1 ? 1 : 2;
        std::array<int32_t, 512> history{};
        int32_t position = 0;
        for (int call = 1; call <= 40; ++call) {
            std::array<int32_t, 32> samples{};
            samples[0] = 0x00100000;
            int16_t pcm[64];
            std::fill(std::begin(pcm), std::end(pcm), int16_t{-7777});
            ASSERT_EQ(MP3_SynthPQMF(samples.data(), pcm, history.data(), &position, stride), 0);
            for (int j = 0; j < 32; ++j) {
                if (call == 1) {
                    EXPECT_EQ(pcm[j * step], j == 31 ? 1 : 0) << "stride " << stride << " sample " << j;
                }
                if (call >= 16) {
                    EXPECT_EQ(pcm[j * step], 2048) << "stride " << stride << " call " << call << " sample " << j;
                }
            }
            if (step == 2) {
                for (int j = 0; j < 32; ++j) EXPECT_EQ(pcm[2 * j + 1], -7777) << "stride " << stride;
            } else {
                for (int j = 32; j < 64; ++j) EXPECT_EQ(pcm[j], -7777);
            }
        }
    }
}

TEST(SynthExamples, FullScaleSaturatesFromCall15) {
    for (int32_t level : {kOne, -kOne}) {
        std::array<int32_t, 512> history{};
        int32_t position = 0;
        for (int call = 1; call <= 40; ++call) {
            std::array<int32_t, 32> samples{};
            samples[0] = level;
            int16_t pcm[32];
            ASSERT_EQ(MP3_SynthPQMF(samples.data(), pcm, history.data(), &position, 1), 0);
            if (call < 15) continue;
            for (int j = 0; j < 32; ++j) EXPECT_EQ(pcm[j], level > 0 ? 32767 : -32768) << "call " << call << " sample " << j;
        }
    }
}

TEST(SynthExamples, FirstSlotFillsOneColumn) {
    std::array<int32_t, 32> samples{};
    samples[0] = 0x00100000;
    const auto input = samples;
    std::array<int32_t, 512> history{};
    int32_t position = 3;
    int16_t pcm[32];
    ASSERT_EQ(MP3_SynthPQMF(samples.data(), pcm, history.data(), &position, 1), 0);
    ASSERT_EQ(position, 2);
    EXPECT_EQ(history[2], 741455);     // V_0 = 2^20 cos(pi/4)
    EXPECT_EQ(history[17], -1048576);  // V_48
    std::array<bool, 512> column{};
    column[2] = column[17] = true;
    for (int r = 0; r < 15; ++r) {
        const size_t a = static_cast<size_t>(24 + 16 * r + 2), b = static_cast<size_t>(272 + 16 * r + 2);
        column[a] = column[b] = true;
        EXPECT_NEAR(history[b], exactV(input.data(), 15 - r), 8.0) << "region B row " << r;
        EXPECT_NEAR(history[a], exactV(input.data(), 47 - r), 8.0) << "region A row " << r;
    }
    for (int e = 0; e < 512; ++e) {
        if (!column[static_cast<size_t>(e)]) {
            EXPECT_EQ(history[static_cast<size_t>(e)], 0) << "entry " << e;
        }
    }
}

// Corrupt streams: inputs and history far beyond +-1.0 wrap inside the
// matrixing but must stay defined (the sanitizer build checks) and in bounds.
TEST(SynthRobustness, HugeValuesStayDefined) {
    std::mt19937 rng(3);
    std::array<int32_t, 512> history{};
    for (auto &v : history) v = static_cast<int32_t>(rng());
    int32_t position = 15;
    const int32_t extremes[] = {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), -1, 0};
    std::array<int16_t, 66> pcm{};
    for (int call = 0; call < 64; ++call) {
        std::array<int32_t, 32> samples{};
        for (size_t k = 0; k < 32; ++k)
            samples[k] = (call % 3 == 0) ? extremes[(k + static_cast<size_t>(call)) % 4] : static_cast<int32_t>(rng());
        pcm.front() = pcm.back() = 0x2B2B;
        ASSERT_EQ(MP3_SynthPQMF(samples.data(), pcm.data() + 1, history.data(), &position, call % 2 + 1), 0);
        EXPECT_EQ(pcm.front(), 0x2B2B);
        EXPECT_EQ(pcm.back(), 0x2B2B);
    }
}

}  // namespace
