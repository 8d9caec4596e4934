// Vocal: a formant filter that makes any input speak a vowel. A bank of five
// resonant band-passes follows the formants of a vowel blend ("Phoneme"),
// transposed together ("Frequency") and sharpened together ("Q"). Changes
// glide over half a second; the filter follows once per control block of 16
// samples.
#include "dsp/keyed_multimode_filter.h"
#include "dsp/param_smoother.h"
#include "effects/effects.h"
#include "effects/pass_through.h"
#include "framework/effect.h"

#include <algorithm>
#include <cmath>

namespace quor {

namespace {

enum VocalParam { kFrequency, kQ, kPhoneme, kVocalParamCount };

const ParamInfo kVocalParams[kVocalParamCount] = {
    {"Frequency", -1.0f, 1.0f, 0, 0.0f},
    {"Q", 0.0f, 1.0f, 0, 0.5f},
    {"Phoneme", 0.0f, 1.0f, 0, 0.0f},
};

constexpr std::int32_t kControlDivisor = 16; // samples per filter update and glide step
constexpr float kGlideSeconds = 0.5f;

// A signed square law: +-1 reaches +-0.28125 of the filter's Key, +-36 semitones.
float keyFromFrequency(float v) {
    return std::fabs(v) * (0.28125f * v);
}

bool validRate(float hz) {
    return hz > 0.0f && std::isfinite(hz);
}

class Vocal final : public HostedEffect {
  public:
    Vocal() : HostedEffect("Vocal", kVocalParams, kVocalParamCount), smoother(3) {
        filter.setControlDivisor(kControlDivisor);
        filter.setMode(KeyedMultimodeFilter::kVowelMode);
    }

    void sampleRateChanged() override {
        if (!validRate(sampleRate)) return;
        filter.setSampleRate(sampleRate);
        // The smoother steps once per control block.
        smoother.configure(kGlideSeconds, filter.controlRate);
    }

    void parameterChanged(std::int32_t index) override {
        const float v = values[index];
        switch (index) {
        case kFrequency:
            smoother.setTarget(&keyTarget, keyFromFrequency(v));
            break;
        case kQ:
            smoother.setTarget(&resonanceTarget, v);
            break;
        case kPhoneme:
            smoother.setTarget(&phonemeTarget, v);
            break;
        default:
            break;
        }
    }

    void reset() override { filter.reset(); }
    void clear() override {}

    // Audio thread.
    void process(AudioBuffers& buffers, bool replacing) override {
        if (!validRate(sampleRate)) {
            passThrough(buffers, replacing);
            return;
        }
        float* in[2] = {buffers.inputs[0], buffers.inputs[1]};
        float* out[2] = {buffers.outputs[0], buffers.outputs[1]};
        for (std::int32_t n = buffers.frames; n > 0;) {
            const std::int32_t frames = std::min(n, filter.controlDivisor);
            // The filter takes its values at updateControl.
            filter.values[KeyedMultimodeFilter::kKey] = keyTarget;
            filter.values[KeyedMultimodeFilter::kCutoff] = phonemeTarget;
            filter.values[KeyedMultimodeFilter::kResonance] = resonanceTarget;
            filter.updateControl(0);
            AudioBuffers piece{in, out, frames, buffers.reserved};
            filter.process(piece, replacing);
            for (std::int32_t c = 0; c < 2; ++c) {
                in[c] += frames;
                out[c] += frames;
            }
            n -= frames;
            smoother.markActive();
            smoother.advance();
        }
    }

  private:
    ParamSmoother smoother; // glides the three targets
    float phonemeTarget = 0.0f;
    float keyTarget = 0.0f;
    float resonanceTarget = 0.0f;
    KeyedMultimodeFilter filter;
};

} // namespace

HostedEffect* createVocal() {
    return new Vocal;
}

} // namespace quor
