// The Phaser's all-pass coefficient, in double precision: the break
// frequency moves exponentially from 1.2 f_lo to 1.2 f_hi as the LFO goes
// from 0 to 1, pre-warped by the tangent polynomial without a clamp, and the
// coefficient a = (1 - g) / (g + 1) is rounded to single precision.
//
// The library exponential costs more than a whole chain of stages. Runs of
// coefficients take a polynomial exponential instead, two at a time, whose
// relative error stays far below kExpError; the coefficient's error then
// stays below kCoefficientError, and where that could move the double result
// across a single-precision rounding boundary the coefficient is computed
// again with the library exponential. The floats are those of the library.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace quor {

constexpr double kPhaserLn10 = double{2.3025851f};
constexpr double kPhaserWarp = double{3.1415927f} * double{1.2f};
constexpr double kPhaserLimit = double{0.99999f};

// The tangent polynomial of a double or of a vector of them.
template <class T> T phaserTangent(T w) {
    const T w2 = w * w;
    return ((double{0.2033f} * w2 + double{0.31755f}) * w2 + 1.0) * w;
}

inline float exactPhaserCoefficient(float lfo, float sweepDecades, float lowNorm) {
    const double w = std::exp(kPhaserLn10 * sweepDecades * lfo) * lowNorm * kPhaserWarp;
    const double g = phaserTangent(w);
    return static_cast<float>(std::clamp((1.0 - g) / (g + 1.0), -kPhaserLimit, kPhaserLimit));
}

// Bound on the relative error of phaserExp against the library exponential
// for |x| below 700.
constexpr double kExpError = 1e-15;
// Bound on the coefficient's error that follows: the tangent polynomial
// multiplies a relative error at most fivefold, a = (1 - g) / (g + 1) turns
// it into at most twice that absolute, and the roundings add a few 1e-15;
// the bound leaves a factor of five to spare.
constexpr double kCoefficientError = 1e-13;

typedef double PhaserLanes __attribute__((vector_size(2 * sizeof(double))));
typedef std::int64_t PhaserBits __attribute__((vector_size(2 * sizeof(std::int64_t))));
typedef float PhaserFloats __attribute__((vector_size(2 * sizeof(float))));

// e^x = 2^k e^r with |r| <= ln2 / 2; e^r by its Taylor series to the 13th
// power (truncation below 5e-18).
inline PhaserLanes phaserExp(PhaserLanes x) {
    const double shifter = 6755399441055744.0; // 1.5 * 2^52: adding it rounds to an integer
    const PhaserLanes kShifted = x * 1.4426950408889634 + shifter;
    const PhaserLanes k = kShifted - shifter;
    const PhaserLanes r = (x - k * 0.693147180369123816490) - k * 1.90821492927058770002e-10;
    PhaserLanes e = r * (1.0 / 6227020800.0) + 1.0 / 479001600.0;
    e = e * r + 1.0 / 39916800.0;
    e = e * r + 1.0 / 3628800.0;
    e = e * r + 1.0 / 362880.0;
    e = e * r + 1.0 / 40320.0;
    e = e * r + 1.0 / 5040.0;
    e = e * r + 1.0 / 720.0;
    e = e * r + 1.0 / 120.0;
    e = e * r + 1.0 / 24.0;
    e = e * r + 1.0 / 6.0;
    e = e * r + 0.5;
    e = e * r + 1.0;
    e = e * r + 1.0;
    // 2^k in the exponent field: k sits in the low bits of kShifted.
    PhaserBits shiftedBits, shifterBits;
    std::memcpy(&shiftedBits, &kShifted, sizeof shiftedBits);
    const PhaserLanes shifterLanes = {shifter, shifter};
    std::memcpy(&shifterBits, &shifterLanes, sizeof shifterBits);
    const PhaserBits scaleBits = (shiftedBits - shifterBits + 1023) << 52;
    PhaserLanes scale;
    std::memcpy(&scale, &scaleBits, sizeof scale);
    return e * scale;
}

// The coefficients of both channels for their LFO values, at one sweep range
// and lower bound.
inline void phaserCoefficientPair(const float* lfo, float sweepDecades, float lowNorm, float* coefficient) {
    const PhaserLanes x = {kPhaserLn10 * sweepDecades * lfo[0], kPhaserLn10 * sweepDecades * lfo[1]};
    const PhaserLanes w = phaserExp(x) * lowNorm * kPhaserWarp;
    const PhaserLanes g = phaserTangent(w);
    const PhaserLanes a = (1.0 - g) / (g + 1.0);
    // Limited to [-kPhaserLimit, kPhaserLimit]; a NaN stays NaN and takes the exact path.
    const PhaserBits below = a<-kPhaserLimit, above = a> kPhaserLimit;
    PhaserBits bits, limitBits;
    std::memcpy(&bits, &a, sizeof bits);
    const PhaserLanes limit = {kPhaserLimit, kPhaserLimit};
    std::memcpy(&limitBits, &limit, sizeof limitBits);
    const PhaserBits sign = PhaserBits{INT64_MIN, INT64_MIN};
    bits = (bits & ~(below | above)) | (limitBits & (below | above)) | (sign & below);
    PhaserLanes limited;
    std::memcpy(&limited, &bits, sizeof limited);
    const PhaserFloats low = __builtin_convertvector(limited - kCoefficientError, PhaserFloats);
    const PhaserFloats high = __builtin_convertvector(limited + kCoefficientError, PhaserFloats);
    for (std::int32_t c = 0; c < 2; ++c)
        coefficient[c] = low[c] == high[c] ? low[c] : exactPhaserCoefficient(lfo[c], sweepDecades, lowNorm);
}

} // namespace quor
