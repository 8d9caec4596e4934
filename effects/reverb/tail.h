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
    std::int32_t capacity[kMaxTailLines];          // a line's delay is its capacity - 1
    float modulationOffset[kMaxTailLines];         // oscillator phase offset of each line, cycles
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

// Triangle between -0.5 and 0 with period 1. Exact floor for the non-negative
// phases the tail uses, without a library call.
inline float tailTriangle(float p) {
    float whole = static_cast<float>(static_cast<std::int32_t>(p));
    if (whole > p) whole = whole - 1.0f;
    return std::fabs(p - whole - 0.5f) - 0.5f;
}

struct TailBlock {
    float highCutCoef;
    float lowCutCoef;
    float decayGain;   // algorithm 1
    float allpassCoef; // algorithm 1
    float chainCoef;   // algorithm 0
    float allpass11k;  // algorithm 0
    float diffuseScale;
    float outputWeight[kMaxTailLinesPerChannel]; // algorithm 0
};

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

    // Block start: algorithm 0's output weights, falling along the chain when
    // the lines shorten along it, else flat.
    void outputWeights(float normalisation, float directionValue, float* weights) const;

    // The read delay of line j: the oscillator only shortens it, by up to
    // 0.875 * depth.
    float modulatedDelay(std::int32_t j, float phase, float depth) const {
        const float t = tailTriangle(phase + modulationOffset[j]);
        return (1.0f + depth * (2.0f - t * t) * t) * line[j].delay;
    }

    float loopFilter(std::int32_t j, float z, float highCutCoef, float lowCutCoef) {
        const float lp = (lowpass[j] - z) * highCutCoef + z;
        const float tr = (lp - tracker[j]) * lowCutCoef + tracker[j];
        lowpass[j] = lp;
        tracker[j] = tr;
        return lp - tr;
    }

    // One frame of both channels. The reads and loop filters of all lines
    // are independent of the chain signal, so they run first over every line;
    // then the chains of the two channels run side by side, each in its own
    // order. a enters with the early reflections (and the feedback return),
    // w with the wet sum.
    void processLattice(float phase, float depth, const TailBlock& k, float* a, float* w) {
        const std::int32_t lines = 2 * linesPerChannel;
        float filtered[kMaxTailLines];
        for (std::int32_t j = 0; j < lines; ++j) {
            const float y = line[j].read(modulatedDelay(j, phase, depth));
            filtered[j] = loopFilter(j, y, k.highCutCoef, k.lowCutCoef);
        }
        float aL = a[0], aR = a[1], wL = w[0], wR = w[1];
        for (std::int32_t j = 0; j < lines; j += 2) {
            const float yL = filtered[j];
            const float yR = filtered[j + 1];
            const float vL = k.decayGain * yL - k.allpassCoef * aL + 1e-20f;
            const float vR = k.decayGain * yR - k.allpassCoef * aR + 1e-20f;
            line[j].write(k.allpassCoef * vL + aL + 1e-20f);
            line[j + 1].write(k.allpassCoef * vR + aR + 1e-20f);
            wL = wL + yL;
            wR = wR + yR;
            aL = vL;
            aR = vR;
        }
        a[0] = aL;
        a[1] = aR;
        w[0] = wL;
        w[1] = wR;
    }

    void processCombs(float phase, float depth, const TailBlock& k, float* a, float* w) {
        const std::int32_t lines = 2 * linesPerChannel;
        float diffused[kMaxTailLines];
        for (std::int32_t j = 0; j < lines; ++j) {
            const float y = line[j].read(modulatedDelay(j, phase, depth));
            const float u = allpassState[j] - k.allpass11k * y + 1e-10f;
            allpassState[j] = k.allpass11k * u + y + 1e-10f;
            diffused[j] = u;
        }
        float aL = a[0], aR = a[1], wL = w[0], wR = w[1];
        for (std::int32_t s = 0; s < linesPerChannel; ++s) {
            const std::int32_t j = 2 * s;
            const float uL = diffused[j];
            const float uR = diffused[j + 1];
            const float zL = gain[j] * uL * k.diffuseScale + aL;
            const float zR = gain[j + 1] * uR * k.diffuseScale + aR;
            line[j].write(loopFilter(j, zL, k.highCutCoef, k.lowCutCoef));
            line[j + 1].write(loopFilter(j + 1, zR, k.highCutCoef, k.lowCutCoef));
            // Alternating signs keep the lines' common low-frequency content
            // from piling up in the output.
            const float weight = k.outputWeight[s];
            if (s & 1) {
                wL = wL + weight * uL;
                wR = wR + weight * uR;
            } else {
                wL = wL - weight * uL;
                wR = wR - weight * uR;
            }
            aL = k.chainCoef * uL - aL;
            aR = k.chainCoef * uR - aR;
        }
        a[0] = aL;
        a[1] = aR;
        w[0] = wL;
        w[1] = wR;
    }
};

} // namespace quor
