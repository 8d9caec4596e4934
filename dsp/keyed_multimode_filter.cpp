#include "dsp/keyed_multimode_filter.h"

#include "dsp/octave_table.h"
#include "dsp/tone_filter_pair.h"

#include <algorithm>
#include <cmath>

namespace quor {

namespace {

const ParamInfo kFilterParams[KeyedMultimodeFilter::kParamCount] = {
    {"Cutoff", 0.0f, 1.0f, 0, 1.0f},
    {"Key", -1.0f, 1.0f, 0, 0.0f},
    {"Resonance", 0.0f, 1.0f, 0, 0.0f},
};

constexpr float kPi = 3.1415927f;
constexpr float kLowestFormantHz = 20.0f;
constexpr float kHighestFormantPerRate = 0.499f; // just below the Nyquist frequency

} // namespace

KeyedMultimodeFilter::KeyedMultimodeFilter() : Effect("mmFilter", kFilterParams, kParamCount) {
    applyDefaults();
    reset();
}

void KeyedMultimodeFilter::setMode(std::int64_t m) {
    vowelMode = m == kVowelMode;
    if (m != currentMode) {
        currentMode = m;
        block.resonance = -1.0f; // refreshed by the next updateControl
    }
}

void KeyedMultimodeFilter::updateControl(std::int32_t) {
    block.rateHz = sampleRate;
    block.position = values[kCutoff];
    block.key = values[kKey];
    if (values[kResonance] != block.resonance) block.resonance = values[kResonance];
}

void KeyedMultimodeFilter::reset() {
    for (auto& channel : formantState)
        for (auto& formant : channel)
            formant[0] = formant[1] = 0.0f;
}

void KeyedMultimodeFilter::formantCoefficients(const Control& control, FormantCoefficients out[kFormants]) {
    // Values the owner never sends are held in range, so the table reads stay inside.
    const float key = std::isnan(control.key) ? 0.0f : std::clamp(control.key, -1.0f, 1.0f);
    const float pitch = OctaveTable::lookup(key * 128.0f / 12.0f * 128.0f + 1.0f);
    const float w0 = kPi / control.rateHz;
    const float position = control.position > 0.0f ? std::min(control.position, 1.0f) : 0.0f;
    FormantSet vowel;
    VowelTable::blendVowel(position, vowel);
    const float r = control.resonance;
    for (std::int32_t k = 0; k < kFormants; ++k) {
        const Formant& formant = vowel.formants[k];
        const float f = formant.frequencyHz * pitch;
        const float fc =
            f < kLowestFormantHz ? kLowestFormantHz : std::min(kHighestFormantPerRate * control.rateHz, f);
        const float g = prewarpPolynomial(fc * w0);
        // n runs from 0 towards 1 as the formant's q grows; resonance 0.5
        // puts the damping near the formant's own bandwidth.
        const float n = 1.0f - 1.0f / (formant.q + 1.0f);
        const float twoR = 2.0f * r;
        const float d =
            r < 0.5f ? twoR / (std::fabs(twoR) + 0.1f) * 1.1f * n : (1.0f - n) * (twoR - 1.0f) + n;
        const float damping = d < 0.0f ? 1.0f : std::min(1.0f, d) * -0.98f + 1.0f;
        out[k] = {g, g + g, damping, g * g + (damping * g + 1.0f), formant.amplitude};
    }
}

void KeyedMultimodeFilter::process(AudioBuffers& buffers, bool replacing) {
    if (vowelMode && block.rateHz > 0.0f) {
        runVowels(buffers, replacing);
        return;
    }
    for (std::int32_t c = 0; c < 2; ++c) {
        const float* in = buffers.inputs[c];
        float* out = buffers.outputs[c];
        for (std::int32_t i = 0; i < buffers.frames; ++i)
            out[i] = replacing ? in[i] : out[i] + in[i];
    }
}

// Audio thread. Every formant is a trapezoidal state-variable filter whose
// output is its updated first state; the bank sums them by amplitude.
void KeyedMultimodeFilter::runVowels(AudioBuffers& buffers, bool replacing) {
    const bool sameControl = coefficientsValid && block.rateHz == coefficientsFor.rateHz &&
                             block.position == coefficientsFor.position && block.key == coefficientsFor.key &&
                             block.resonance == coefficientsFor.resonance;
    if (!sameControl) {
        formantCoefficients(block, coefficients);
        coefficientsFor = block;
        coefficientsValid = true;
    }
    FormantCoefficients co[kFormants];
    std::copy(coefficients, coefficients + kFormants, co);
    float s[2][kFormants][2];
    std::copy(&formantState[0][0][0], &formantState[0][0][0] + 2 * kFormants * 2, &s[0][0][0]);
    float* const* in = buffers.inputs;
    float* const* out = buffers.outputs;
    for (std::int32_t i = 0; i < buffers.frames; ++i) {
        for (std::int32_t c = 0; c < 2; ++c) {
            const float x = in[c][i];
            float y = 0.0f;
            for (std::int32_t k = 0; k < kFormants; ++k) {
                const FormantCoefficients& f = co[k];
                float& s1 = s[c][k][0];
                float& s2 = s[c][k][1];
                const float h = (x - s1 * f.damping - s1 * f.g - s2) / f.denominator;
                s2 = (f.g * h + s1) * f.twoG + s2;
                s1 = h * f.twoG + s1;
                y = y + s1 * f.amplitude;
            }
            out[c][i] = replacing ? y : out[c][i] + y;
        }
    }
    std::copy(&s[0][0][0], &s[0][0][0] + 2 * kFormants * 2, &formantState[0][0][0]);
}

} // namespace quor
