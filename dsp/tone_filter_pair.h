// The tone control of several effects: a first-order low-pass (the high cut)
// followed by a first-order high-pass (the low cut), each a trapezoidal
// (zero-delay-feedback) one-pole, with state for two channels.
#pragma once

#include "dsp/stereo_pair.h"

#include <cstdint>
#include <cstring>

namespace quor {

// ((0.2033 w^2 + 0.31755) w^2 + 1) w: a polynomial stand-in for tan(w), the
// bilinear pre-warping of a one-pole's cut-off. Exact to about 2e-6 at pi/4
// and finite at the Nyquist frequency (4.7457), where tan is not.
inline float prewarpPolynomial(float w) {
    const float w2 = w * w;
    return ((0.2033f * w2 + 0.31755f) * w2 + 1.0f) * w;
}

// The one-pole coefficient g of a cut-off in Hz, the cut-off held to
// [1 Hz, sampleRate / 2].
inline float PrewarpGain(float cutoffHz, float sampleRate) {
    constexpr float kPi = 3.1415927f;
    const float f = cutoffHz < 1.0f ? 1.0f : (cutoffHz < 0.5f * sampleRate ? cutoffHz : 0.5f * sampleRate);
    return prewarpPolynomial(kPi * f / sampleRate);
}

// A trapezoidal one-pole at a cut-off taken as it is: above the Nyquist
// frequency g keeps growing and the filter stays stable.
struct OnePole {
    float g;
    float G; // 1 / (1 + g)
    float K; // 1 - G g: the high-pass gain on the input

    static OnePole at(float cutoffHz, float sampleRate) {
        constexpr float kPi = 3.1415927f;
        const float g = prewarpPolynomial(kPi * cutoffHz / sampleRate);
        const float G = 1.0f / (g + 1.0f);
        return {g, G, 1.0f - G * g};
    }

    // One step on the state s of a float or a vector of them: the low-pass
    // output or, with HighPass, the input minus it, K u - G s from the state
    // before the update.
    template <bool HighPass, class T> T step(T u, T& s) const {
        const T l = (g * u + s) * G;
        const T y = HighPass ? K * u - G * s : l;
        s = (u - l) * g + l;
        return y;
    }
};

class ToneFilterPair {
  public:
    // Each setter marks the coefficients stale only when its value changes;
    // they are recomputed at the next sample processed on either channel.
    void setSampleRate(float hz) { update(sampleRate, hz); }
    void setHighCut(float hz) { update(highCut, hz); }
    void setLowCut(float hz) { update(lowCut, hz); }

    // One sample of channel 0 or 1.
    float process(std::int32_t channel, float x) {
        if (dirty) recompute();
        float& lp = lowpassState[channel];
        const float v = (lowpassG * x + lp) * lowpassGain;
        lp = (x - v) * lowpassG + v;
        float& hp = highpassState[channel];
        const float l = (highpassG * v + hp) * highpassGain;
        hp = (v - l) * highpassG + l;
        return v - l;
    }

    // One sample of each channel, channel c in lane c; each lane is filtered
    // exactly as process would filter it.
    StereoPair processBoth(StereoPair x) {
        if (dirty) recompute();
        StereoPair lp, hp;
        std::memcpy(&lp, lowpassState, sizeof lp);
        std::memcpy(&hp, highpassState, sizeof hp);
        const StereoPair v = (lowpassG * x + lp) * lowpassGain;
        lp = (x - v) * lowpassG + v;
        const StereoPair l = (highpassG * v + hp) * highpassGain;
        hp = (v - l) * highpassG + l;
        std::memcpy(lowpassState, &lp, sizeof lp);
        std::memcpy(highpassState, &hp, sizeof hp);
        return v - l;
    }

    // Clears the filter memory; cut-offs and coefficients stay.
    void reset() {
        lowpassState[0] = lowpassState[1] = 0.0f;
        highpassState[0] = highpassState[1] = 0.0f;
    }

    float sampleRate = 0.0f;
    float highCut = 0.0f; // Hz, the low-pass stage
    float lowCut = 0.0f;  // Hz, the high-pass stage
    // Top of an owner's frequency mapping; the pair itself never reads it.
    static constexpr float topFrequency = 20000.0f;
    float lowpassState[2] = {};
    float lowpassG = 0.0f;
    float lowpassGain = 0.0f; // 1 / (1 + g)
    float highpassState[2] = {};
    float highpassG = 0.0f;
    float highpassGain = 0.0f;
    std::int32_t dirty = 1;

  private:
    void update(float& field, float value) {
        if (field == value) return;
        field = value;
        dirty = 1;
    }
    void recompute() {
        lowpassG = PrewarpGain(highCut, sampleRate);
        lowpassGain = 1.0f / (1.0f + lowpassG);
        highpassG = PrewarpGain(lowCut, sampleRate);
        highpassGain = 1.0f / (1.0f + highpassG);
        dirty = 0;
    }
};

} // namespace quor
