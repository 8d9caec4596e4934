#include "dsp/keyed_multimode_filter.h"

#include "dsp/octave_table.h"
#include "dsp/tone_filter_pair.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

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

void KeyedMultimodeFilter::updateControl(std::int32_t) {
    block.rateHz = sampleRate;
    block.position = values[kCutoff];
    block.key = values[kKey];
    block.resonance = values[kResonance];
}

void KeyedMultimodeFilter::reset() {
    std::fill(state1, state1 + kLanes, 0.0f);
    std::fill(state2, state2 + kLanes, 0.0f);
}

void KeyedMultimodeFilter::formantCoefficients(const Control& control, FormantCoefficients out[kFormants]) {
    // Values the owner never sends are held in range, so the table reads stay
    // inside (the vowel table holds its position itself).
    const float key = std::isnan(control.key) ? 0.0f : std::clamp(control.key, -1.0f, 1.0f);
    const float pitch = OctaveTable::lookup(key * 128.0f / 12.0f * 128.0f + 1.0f);
    const float w0 = kPi / control.rateHz;
    FormantSet vowel;
    VowelTable::blendVowel(control.position, vowel);
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

void KeyedMultimodeFilter::updateLanes() {
    FormantCoefficients coefficients[kFormants];
    formantCoefficients(block, coefficients);
    coefficientsFor = block;
    coefficientsValid = true;
    // Padding lanes filter silence with a damping of 1 and never move.
    for (std::int32_t lane = 0; lane < kLanes; ++lane) {
        lanes.damping[lane] = 1.0f;
        lanes.g[lane] = lanes.twoG[lane] = lanes.amplitude[lane] = 0.0f;
        lanes.denominator[lane] = 1.0f;
    }
    for (std::int32_t c = 0; c < 2; ++c)
        for (std::int32_t k = 0; k < kFormants; ++k) {
            const std::int32_t lane = laneOf(c, k);
            const FormantCoefficients& f = coefficients[k];
            lanes.damping[lane] = f.damping;
            lanes.g[lane] = f.g;
            lanes.twoG[lane] = f.twoG;
            lanes.denominator[lane] = f.denominator;
            lanes.amplitude[lane] = f.amplitude;
        }
}

// Audio thread. Every formant is a trapezoidal state-variable filter whose
// output is its updated first state; the bank sums them by amplitude, in
// formant order.
void KeyedMultimodeFilter::runVowels(AudioBuffers& buffers, bool replacing) {
    const bool sameControl = coefficientsValid && block.rateHz == coefficientsFor.rateHz &&
                             block.position == coefficientsFor.position && block.key == coefficientsFor.key &&
                             block.resonance == coefficientsFor.resonance;
    if (!sameControl) updateLanes();
    const float* in0 = buffers.inputs[0];
    const float* in1 = buffers.inputs[1];
    float* out0 = buffers.outputs[0];
    float* out1 = buffers.outputs[1];
#if defined(__SSE2__)
    // Three vectors: formants 0 to 3 of channel 0, the same of channel 1,
    // and the fifth formants of both. The ten filters are independent
    // recursions; the vectors run them in step.
    __m128 s1[3], s2[3], d[3], g[3], twoG[3], den[3], amp[3];
    for (int v = 0; v < 3; ++v) {
        s1[v] = _mm_load_ps(state1 + 4 * v);
        s2[v] = _mm_load_ps(state2 + 4 * v);
        d[v] = _mm_load_ps(lanes.damping + 4 * v);
        g[v] = _mm_load_ps(lanes.g + 4 * v);
        twoG[v] = _mm_load_ps(lanes.twoG + 4 * v);
        den[v] = _mm_load_ps(lanes.denominator + 4 * v);
        amp[v] = _mm_load_ps(lanes.amplitude + 4 * v);
    }
    for (std::int32_t i = 0; i < buffers.frames; ++i) {
        const float x0 = in0[i], x1 = in1[i];
        const __m128 x[3] = {_mm_set1_ps(x0), _mm_set1_ps(x1), _mm_setr_ps(x0, x1, 0.0f, 0.0f)};
        alignas(16) float p[kLanes];
        for (int v = 0; v < 3; ++v) {
            const __m128 h = _mm_div_ps(
                _mm_sub_ps(_mm_sub_ps(_mm_sub_ps(x[v], _mm_mul_ps(s1[v], d[v])), _mm_mul_ps(s1[v], g[v])),
                           s2[v]),
                den[v]);
            s2[v] = _mm_add_ps(_mm_mul_ps(_mm_add_ps(_mm_mul_ps(g[v], h), s1[v]), twoG[v]), s2[v]);
            s1[v] = _mm_add_ps(_mm_mul_ps(h, twoG[v]), s1[v]);
            _mm_store_ps(p + 4 * v, _mm_mul_ps(s1[v], amp[v]));
        }
        const float y0 = ((((0.0f + p[0]) + p[1]) + p[2]) + p[3]) + p[8];
        const float y1 = ((((0.0f + p[4]) + p[5]) + p[6]) + p[7]) + p[9];
        // Inputs of the frame are read before its outputs are written.
        out0[i] = replacing ? y0 : out0[i] + y0;
        out1[i] = replacing ? y1 : out1[i] + y1;
    }
    for (int v = 0; v < 3; ++v) {
        _mm_store_ps(state1 + 4 * v, s1[v]);
        _mm_store_ps(state2 + 4 * v, s2[v]);
    }
#else
    float* const out[2] = {out0, out1};
    for (std::int32_t i = 0; i < buffers.frames; ++i) {
        const float x[2] = {in0[i], in1[i]};
        for (std::int32_t c = 0; c < 2; ++c) {
            float y = 0.0f;
            for (std::int32_t k = 0; k < kFormants; ++k) {
                const std::int32_t lane = laneOf(c, k);
                float& s1 = state1[lane];
                float& s2 = state2[lane];
                const float gk = lanes.g[lane], twoGk = lanes.twoG[lane];
                const float h = (x[c] - s1 * lanes.damping[lane] - s1 * gk - s2) / lanes.denominator[lane];
                s2 = (gk * h + s1) * twoGk + s2;
                s1 = h * twoGk + s1;
                y = y + s1 * lanes.amplitude[lane];
            }
            out[c][i] = replacing ? y : out[c][i] + y;
        }
    }
#endif
}

} // namespace quor
