// mDelay's modulated reads: a read position split into whole steps and a
// fraction, and the raised-cosine interpolation between two neighbouring
// slots, 0.5 - 0.5 cos(fraction * pi'), with pi' = 3.14159 in single
// precision and the weight and sum in double precision.
//
// The library cosine costs more than the rest of a step. The weight comes
// from a polynomial instead, whose error against the library cosine is below
// kWeightError for every float fraction (checked exhaustively). A read
// rounds its double sum to float; when that error cannot move the sum across
// a rounding boundary the float is the one the library cosine would give,
// and only when it could does the read ask the library cosine.
#pragma once

#include "dsp/stereo_pair.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace quor {

struct DelayTap {
    std::int32_t whole; // steps behind the write position
    float fraction;
};

// A position in steps, taken modulo the line size (mask = size - 1).
inline DelayTap delayTapAt(float position, std::int32_t mask) {
    const auto i = static_cast<std::int32_t>(position);
    const float wrapped = static_cast<float>(i & mask) + (position - static_cast<float>(i));
    const auto whole = static_cast<std::int32_t>(wrapped);
    return {whole, wrapped - static_cast<float>(whole)};
}

constexpr double kTapPi = double{3.14159f};

inline double exactTapWeight(float fraction) {
    return 0.5 - 0.5 * std::cos(static_cast<double>(fraction) * kTapPi);
}

// Bound on |tapWeight - exactTapWeight| over all float fractions in [0, 1).
constexpr double kWeightError = 1e-15;

// cos(theta) = -sin(theta - pi/2), the sine by its Taylor series to the 21st
// power on [-pi/2, pi/2] (truncation below 1.2e-18).
inline double tapWeight(float fraction) {
    const double t = static_cast<double>(fraction) * kTapPi - 1.5707963267948966;
    const double t2 = t * t;
    double s = 1.0 / 51090942171709440000.0;
    s = s * t2 - 1.0 / 121645100408832000.0;
    s = s * t2 + 1.0 / 355687428096000.0;
    s = s * t2 - 1.0 / 1307674368000.0;
    s = s * t2 + 1.0 / 6227020800.0;
    s = s * t2 - 1.0 / 39916800.0;
    s = s * t2 + 1.0 / 362880.0;
    s = s * t2 - 1.0 / 5040.0;
    s = s * t2 + 1.0 / 120.0;
    s = s * t2 - 1.0 / 6.0;
    const double sine = t + t * t2 * s;
    return 0.5 + 0.5 * sine;
}

// p + (q - p) w rounded to float, exactly as with the weight of the library
// cosine. The margin covers the weight's error and the roundings of both
// evaluations, with room to spare; NaN and infinities take the exact path.
inline float interpolateTap(float p, float q, double weight, float fraction) {
    const float d = q - p;
    const double v = static_cast<double>(p) + static_cast<double>(d) * weight;
    const double margin = (std::fabs(static_cast<double>(d)) + std::fabs(v)) * (4.0 * kWeightError);
    const auto low = static_cast<float>(v - margin);
    if (low == static_cast<float>(v + margin)) return low;
    return static_cast<float>(static_cast<double>(p) + static_cast<double>(d) * exactTapWeight(fraction));
}

// Both lines' double-precision sums side by side.
typedef double DoublePair __attribute__((vector_size(2 * sizeof(double))));

inline DoublePair magnitude(DoublePair x) {
    typedef std::int64_t Bits __attribute__((vector_size(2 * sizeof(std::int64_t))));
    Bits bits;
    std::memcpy(&bits, &x, sizeof bits);
    bits &= INT64_MAX;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// The read positions of a chunk of steps, per line (0 left, 1 right).
template <std::int32_t Steps> struct StepTaps {
    std::int32_t whole[2][Steps];
    float fraction[2][Steps];
    double weight[2][Steps];

    void set(std::int32_t s, std::int32_t c, float position, std::int32_t mask) {
        const DelayTap tap = delayTapAt(position, mask);
        whole[c][s] = tap.whole;
        fraction[c][s] = tap.fraction;
    }
    void computeWeights() {
        for (std::int32_t c = 0; c < 2; ++c)
            for (std::int32_t s = 0; s < Steps; ++s)
                weight[c][s] = tapWeight(fraction[c][s]);
    }

    // Line c at step s, whose write went to slot `at`.
    float read(const float* line, std::int32_t at, std::int32_t mask, std::int32_t s, std::int32_t c) const {
        const std::int32_t behind = at - whole[c][s];
        return interpolateTap(line[behind & mask], line[(behind - 1) & mask], weight[c][s], fraction[c][s]);
    }

    // Both lines at step s, as two reads would give them.
    StereoPair readBoth(const float* left, const float* right, std::int32_t at, std::int32_t mask,
                        std::int32_t s) const {
        const std::int32_t behindL = at - whole[0][s], behindR = at - whole[1][s];
        const StereoPair p = {left[behindL & mask], right[behindR & mask]};
        const StereoPair q = {left[(behindL - 1) & mask], right[(behindR - 1) & mask]};
        const StereoPair d = q - p;
        const DoublePair dd = __builtin_convertvector(d, DoublePair);
        const DoublePair v =
            __builtin_convertvector(p, DoublePair) + dd * DoublePair{weight[0][s], weight[1][s]};
        const DoublePair margin = (magnitude(dd) + magnitude(v)) * (4.0 * kWeightError);
        StereoPair low = __builtin_convertvector(v - margin, StereoPair);
        const StereoPair high = __builtin_convertvector(v + margin, StereoPair);
        for (std::int32_t c = 0; c < 2; ++c)
            if (!(low[c] == high[c]))
                low[c] = static_cast<float>(static_cast<double>(p[c]) +
                                            static_cast<double>(d[c]) * exactTapWeight(fraction[c][s]));
        return low;
    }
};

} // namespace quor
