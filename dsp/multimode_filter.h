// A resonant two-pole low-pass: a state-variable filter run twice per sample
// (twofold oversampling with the input held), its band-pass integrator
// clipped to +-1 so that full resonance oscillates at a bounded level, and an
// optional level-dependent gain (saturation) in the low-pass integrator. The
// owner sets the three controls, calls updateControl once per control block
// and then process for that block; the integrator gain ramps linearly across
// the block.
#pragma once

#include <cstdint>

namespace quor {

class MultimodeFilter {
  public:
    // keyZeroHz: the frequency of key number 0; the cut-off range starts an
    // octave above it.
    explicit MultimodeFilter(float keyZeroHz) : noteZeroHz(keyZeroHz), lowestHz(2.0f * keyZeroHz) {}

    void setSampleRate(float hz) { sampleRate = hz; }
    // Samples per control block: the length of the integrator-gain ramp.
    void setControlDivisor(std::int32_t n);
    std::int32_t controlDivisor() const { return divisor; }

    // Controls, each 0..1. Cutoff spans 128 semitones upwards from lowestHz;
    // Resonance goes from Q = 1/3 to self-oscillation.
    float cutoff = 1.0f;
    float resonance = 0.0f;
    float saturation = 0.0f;

    // Completes the previous ramp and starts the next one towards the current
    // controls.
    void updateControl();
    // Both channels, `frames` samples each; in place allowed.
    void process(const float* const* in, float* const* out, std::int32_t frames, bool replacing);
    // Clears the filter memory; the coefficients stay.
    void reset();

  private:
    template <bool Saturate>
    void run(const float* const* in, float* const* out, std::int32_t frames, bool replacing);

    const float noteZeroHz;
    const float lowestHz;
    float sampleRate = 0.0f;
    std::int32_t divisor = 0;
    float controlStep = 0.0f; // 1 / divisor

    float lowpass[2] = {}; // per channel
    float bandpass[2] = {};

    float g = 0.0f; // integrator gain, ramped per sample
    float gStep = 0.0f;
    float gTarget = 0.0f;
    float lastCutoff = -1.0f; // forces the first computation
    float dampingValue = 0.0f;
    float lastResonance = -1.0f;
    float satAmount = 0.0f;
    bool saturate = false;
};

} // namespace quor
