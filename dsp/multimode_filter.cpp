#include "dsp/multimode_filter.h"

#include "dsp/octave_table.h"

#include <algorithm>
#include <cmath>

namespace quor {

namespace {

constexpr float kSemitonesPerOctave = 10.666667f; // 128 / 12: the cut-off range in octaves
constexpr float kHighestFraction = 0.4875f;       // of the sample rate

inline float clipUnit(float v) {
    return v < -1.0f ? -1.0f : (v > 1.0f ? 1.0f : v);
}

} // namespace

void MultimodeFilter::setControlDivisor(std::int32_t n) {
    if (n == divisor) return;
    divisor = n;
    controlStep = 1.0f / static_cast<float>(n);
}

void MultimodeFilter::updateControl() {
    g = gTarget;
    if (cutoff != lastCutoff) {
        const float x = kSemitonesPerOctave * cutoff * 128.0f + 1.0f;
        float fc = OctaveTable::lookup(x) * 2.0f * noteZeroHz;
        fc = std::min(fc, kHighestFraction * sampleRate);
        if (fc < lowestHz) fc = lowestHz;
        // The integrator gain of a cut-off, close to 2 pi f / fs at low
        // frequencies and bending towards 4.27 at the top.
        gTarget = std::atan(fc / sampleRate * 1.155f) * 2.72f;
        lastCutoff = cutoff;
    }
    gStep = (gTarget - g) * controlStep;
    saturate = saturation > 0.0f;
    // It fades out as the cut-off rises and vanishes at a gain of 0.5.
    if (saturate) satAmount = saturation * (1.0f - 2.0f * std::min(gTarget, 0.5f));
    if (resonance != lastResonance || gStep != 0.0f) {
        // The damping stays within the stability limit at both ends of the ramp.
        const float a = 1.0f - (1.0f - g * 0.25f) * g;
        const float b = 1.0f - (1.0f - gTarget * 0.25f) * gTarget;
        const float m = std::min(a, b);
        const float r = (resonance / (std::fabs(resonance) + 0.2f)) * -1.2f + 1.0f;
        dampingValue = std::min(m, r) * 3.0f;
        lastResonance = resonance;
    }
}

void MultimodeFilter::process(const float* const* in, float* const* out, std::int32_t frames,
                              bool replacing) {
    if (saturate)
        run<true>(in, out, frames, replacing);
    else
        run<false>(in, out, frames, replacing);
}

// Both channels side by side: they are independent and see the same ramp of
// the gain, so this equals running one channel after the other.
template <bool Saturate>
void MultimodeFilter::run(const float* const* in, float* const* out, std::int32_t frames, bool replacing) {
    const float k = dampingValue;
    const float sat = satAmount;
    const float unsat = 1.0f - satAmount;
    const float step = gStep;
    float gain = g;
    float s0[2] = {lowpass[0], lowpass[1]};
    float s1[2] = {bandpass[0], bandpass[1]};
    const auto shape = [&](float v) {
        if (!Saturate) return v;
        return (std::fabs(v) * sat + unsat) * (v + 0.0f); // a -0 is taken as +0
    };
    for (std::int32_t i = 0; i < frames; ++i) {
        for (std::int32_t c = 0; c < 2; ++c) {
            const float x = in[c][i]; // read before the write: in place is allowed
            for (int half = 0; half < 2; ++half) {
                const float h = x - ((k * s1[c]) + s0[c]);
                s1[c] = clipUnit(s1[c] + h * gain);
                s0[c] = s0[c] + gain * shape(s1[c]);
            }
            if (replacing)
                out[c][i] = s0[c];
            else
                out[c][i] += s0[c];
        }
        gain += step;
    }
    g = gain;
    for (std::int32_t c = 0; c < 2; ++c) {
        lowpass[c] = s0[c];
        bandpass[c] = s1[c];
    }
}

void MultimodeFilter::reset() {
    lowpass[0] = lowpass[1] = 0.0f;
    bandpass[0] = bandpass[1] = 0.0f;
}

} // namespace quor
