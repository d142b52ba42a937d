// The IMDCTs of ISO/IEC 11172-3 in double precision, straight from their
// definitions: the model both the transform and the hybrid-stage tests check against.
#ifndef MPFIX_TESTS_SYNTH_IMDCT_MODEL_H
#define MPFIX_TESTS_SYNTH_IMDCT_MODEL_H

#include <algorithm>
#include <cmath>

namespace mpfix::test {

inline const double kPi = std::acos(-1.0);

// Long windows of the standard for block types 0, 1 and 3.
inline double longWindow(int blockType, int i) {
    const double normal = std::sin(kPi / 36 * (i + 0.5));
    if (blockType == 1) {
        if (i < 18) return normal;
        if (i < 24) return 1.0;
        if (i < 30) return std::sin(kPi / 12 * (i - 18 + 0.5));
        return 0.0;
    }
    if (blockType == 3) {
        if (i < 6) return 0.0;
        if (i < 12) return std::sin(kPi / 12 * (i - 6 + 0.5));
        if (i < 18) return 1.0;
    }
    return normal;
}

// z[i] = 1/4 win(i) sum x[k] cos(pi/72 (2i + 19)(2k + 1)), i = 0..35.
inline void modelLong(const double *x, int blockType, double *z) {
    for (int i = 0; i < 36; ++i) {
        double sum = 0;
        for (int k = 0; k < 18; ++k) sum += x[k] * std::cos(kPi / 72 * (2 * i + 19) * (2 * k + 1));
        z[i] = 0.25 * longWindow(blockType, i) * sum;
    }
}

// Three windowed 12-point IMDCTs overlapped at z[6], z[12], z[18].
inline void modelShort(const double *x, double *z) {
    std::fill(z, z + 36, 0.0);
    for (int w = 0; w < 3; ++w) {
        for (int i = 0; i < 12; ++i) {
            double y = 0;
            for (int m = 0; m < 6; ++m) y += x[6 * w + m] * std::cos(kPi / 24 * (2 * i + 7) * (2 * m + 1));
            z[6 + 6 * w + i] += 0.25 * std::sin(kPi / 12 * (i + 0.5)) * y;
        }
    }
}

}  // namespace mpfix::test

#endif  // MPFIX_TESTS_SYNTH_IMDCT_MODEL_H
