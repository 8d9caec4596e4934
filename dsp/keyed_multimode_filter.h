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

    // What the vowel bank reads, copied from the values by updateControl.
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

    void setMode(std::int64_t m) { vowelMode = m == kVowelMode; }

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

  private:
    static constexpr std::int32_t kFormants = FormantSet::kCapacity;
    // The ten filters (two channels, five formants) in three groups of four
    // lanes: formants 0 to 3 of channel 0, the same of channel 1, then the
    // fifth formants of both and two idle lanes.
    static constexpr std::int32_t kLanes = 12;
    static constexpr std::int32_t laneOf(std::int32_t channel, std::int32_t formant) {
        return formant < 4 ? channel * 4 + formant : 8 + channel;
    }

    void updateLanes();
    void runVowels(AudioBuffers& buffers, bool replacing);

    // Per lane: s1, the filter's output state, and s2.
    alignas(16) float state1[kLanes] = {};
    alignas(16) float state2[kLanes] = {};
    Control block = {};
    bool vowelMode = false;
    // The coefficients of the last control block by lane, and what they were
    // computed from.
    Control coefficientsFor = {};
    bool coefficientsValid = false;
    struct Lanes {
        alignas(16) float damping[kLanes];
        alignas(16) float g[kLanes];
        alignas(16) float twoG[kLanes];
        alignas(16) float denominator[kLanes];
        alignas(16) float amplitude[kLanes];
    } lanes = {};
};

} // namespace quor
