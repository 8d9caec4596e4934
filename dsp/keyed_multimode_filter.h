// A two-channel filter component with a position, a transposition and a
// resonance, driven by the effect that owns it. Its vowel mode is a bank of
// five resonant band-passes, one per formant of the vowel blend the position
// picks; every other mode passes the signal through.
#pragma once

#include "dsp/vowel_table.h"
#include "framework/effect.h"

#include <cstdint>

namespace quor {

class KeyedMultimodeFilter final : public Effect {
  public:
    enum Param { kCutoff, kKey, kResonance, kParamCount };
    static constexpr std::int64_t kVowelMode = 11;

    // What the per-sample function reads, copied from the values by updateControl.
    struct Control {
        float rateHz;
        float position;
        float key;       // -1..1: formant frequencies x 2^(key * 128 / 12)
        float resonance; // 0: damping 1; 0.5: about each formant's own q; 1: damping 0.02
    };

    // One formant's trapezoidal state-variable filter for a control block.
    struct FormantCoefficients {
        float g;           // pre-warped cut-off
        float twoG;        // g + g
        float damping;     // 0.02..1
        float denominator; // g^2 + (damping g + 1)
        float amplitude;
    };

    KeyedMultimodeFilter();

    void setMode(std::int64_t m);
    std::int64_t mode() const { return currentMode; }

    // Owner, at the start of every control block; slot is ignored.
    void updateControl(std::int32_t slot) override;
    void process(AudioBuffers& buffers, bool replacing) override;
    void reset() override;
    void clear() override { reset(); }
    void parameterChanged(std::int32_t) override {} // values act at the next updateControl
    void readMeter(std::int32_t, float*) override {}

    // The five formant filters of a control block, in table order. Needs a
    // rate above 0.
    static void formantCoefficients(const Control& control, FormantCoefficients out[FormantSet::kCapacity]);

    const Control& control() const { return block; }

  private:
    static constexpr std::int32_t kFormants = FormantSet::kCapacity;

    void runVowels(AudioBuffers& buffers, bool replacing);

    // [channel][formant][0]: s1, the output state; [1]: s2.
    float formantState[2][kFormants][2] = {};
    Control block = {};
    std::int64_t currentMode = 0;
    bool vowelMode = false;
    // Coefficients of the last control block and what they were computed from.
    FormantCoefficients coefficients[kFormants] = {};
    Control coefficientsFor = {};
    bool coefficientsValid = false;
};

} // namespace quor
