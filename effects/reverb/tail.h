// The Reverb's tail: per channel a chain of recirculating delay lines whose
// read positions are swept by one slow triangle oscillator with a different
// phase per line, each loop holding a high-cut and a low-cut one-pole filter.
// Two loop structures: all-pass lattices with one loop gain (algorithm 1) and
// feedback combs with per-line gains and an all-pass in each loop (algorithm 0).
#pragma once

#include "effects/reverb/reverb_line.h"

#include <cmath>
#include <cstdint>

namespace quor {

constexpr std::int32_t kMaxTailLinesPerChannel = 16;
constexpr std::int32_t kMaxTailLines = 2 * kMaxTailLinesPerChannel; // line 2s + c: line s of channel c

// Stored values of the parameters the line set depends on.
struct TailSettings {
    float density;      // lines per channel, truncated
    float size;         // longest line 1 ms to 1 s
    float stereo;       // alternate lines up to a semitone shorter on one side
    float direction;    // above 0.5: lines lengthen along the chain
    float spread;       // line spread control, 0 to 64 semitones
    float distribution; // spacing exponent control
};

struct TailPlan {
    std::int32_t linesPerChannel;
    std::int32_t capacity[kMaxTailLines];  // a line's delay is its capacity - 1
    float modulationOffset[kMaxTailLines]; // oscillator phase offset of each line, cycles
};

// Lines per channel for a stored "Density", limited to what the tail holds.
std::int32_t tailLinesFor(float densityValue);

TailPlan planTail(const TailSettings& settings, float sampleRateHz);

// The oscillator offset of every line: 0 for the left channel's first line,
// then growing along the left chain and on through the right one.
void modulationOffsets(std::int32_t linesPerChannel, float* offsets);

// Algorithm 0 recirculation: each line loses a factor 10 of amplitude over
// the decay time, whatever its length.
struct DecayLaw {
    float seconds; // 0 to 4 s
    float sign;    // -1 at Decay 0
};
DecayLaw decayLaw(float decayValue);
float recirculationGain(float delaySamples, const DecayLaw& law, float sampleRateHz);

// Block constants of algorithm 0.
float normalisationGain(std::int32_t linesPerChannel, float sizeValue, float diffuseValue);
float diffuseScale(float diffuseValue, float decayValue);
// First-order all-pass with its phase crossover at 11 kHz.
float allpassCoefficient(float sampleRateHz);

struct TailDiffusion {
    float allpassCoef; // lattice coefficient of algorithm 1
    float chainCoef;   // line-to-line coupling of algorithm 0
};
TailDiffusion tailDiffusion(float diffuseValue);

float highCutCoefficient(float highCutValue);
float lowCutCoefficient(float lowCutValue);

// Triangle between -0.5 and 0 with period 1. The floor is a truncation
// corrected for negative p: exact for |p| < 2^24, and free of a library call
// and of branches, so loops over lines can run it four at a time.
inline float tailTriangle(float p) {
    const auto truncated = static_cast<std::int32_t>(p);
    const std::int32_t below = static_cast<float>(truncated) > p ? 1 : 0;
    const auto whole = static_cast<float>(truncated - below);
    return std::fabs(p - whole - 0.5f) - 0.5f;
}

struct ReverbTail {
    ReverbLine line[kMaxTailLines];
    float lowpass[kMaxTailLines] = {};
    float tracker[kMaxTailLines] = {};
    float allpassState[kMaxTailLines] = {};
    float gain[kMaxTailLines] = {}; // algorithm 0
    float modulationOffset[kMaxTailLines] = {};
    std::int32_t linesPerChannel = 0;

    void clearSignals() {
        for (std::int32_t j = 0; j < kMaxTailLines; ++j) {
            line[j].clear();
            lowpass[j] = 0.0f;
            tracker[j] = 0.0f;
            allpassState[j] = 0.0f;
        }
    }

    void updateGains(float decayValue, float sampleRateHz);

    // Block start: algorithm 0's output weights with their alternating signs
    // (even lines negative), falling along the chain when the lines shorten
    // along it, else flat.
    void outputWeights(float normalisation, float directionValue, float* weights) const;
};

} // namespace quor
