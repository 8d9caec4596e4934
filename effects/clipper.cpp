// Clipper: a hard clipper with its threshold from 0 down to -48 dB, a gain of
// up to +48 dB on the clipped signal and a linear dry/wet mix. With "OS" on,
// the whole mixed stage runs at twice the rate between the half-band filters,
// so the dry part passes them too.
#include "dsp/frame_glide.h"
#include "dsp/halfband_oversampler.h"
#include "dsp/param_smoother.h"
#include "effects/effects.h"
#include "effects/stereo_shaper.h"
#include "framework/effect.h"

#include <cmath>
#include <cstdio>

namespace quor {

namespace {

enum ClipperParam { kMix, kClip, kGain, kOversample, kClipperParamCount };

const ParamInfo kClipperParams[kClipperParamCount] = {
    {"Mix", 0.0f, 1.0f, 0, 1.0f},
    {"Clip", 0.0f, 1.0f, 0, 1.0f},
    {"Gain", 0.0f, 1.0f, 0, 0.0f},
    {"OS", 0.0f, 1.0f, 1, 0.0f},
};

constexpr float kMixRampSeconds = 0.5f;

// At Clip 1 this is (1 - 1) * -48, a negative zero, and shows as "-0.0 dB".
float clipDb(float v) {
    return (1.0f - v) * -48.0f;
}
float gainDb(float v) {
    return v * 48.0f;
}
float amplitudeOf(float db) {
    return std::pow(10.0f, db / 20.0f);
}

class Clipper final : public HostedEffect {
  public:
    Clipper() : HostedEffect("Clipper", kClipperParams, kClipperParamCount) {}

    void clear() override {
        wetGain = dryGain = threshold = clipGain = 0.0f;
        oversample = false;
    }

    void reset() override {
        oversamplers[0].clear();
        oversamplers[1].clear();
    }

    void sampleRateChanged() override {
        if (!(sampleRate > 0.0f) || !std::isfinite(sampleRate)) return; // keeps the last usable rate's ramps
        smoother.configure(kMixRampSeconds, sampleRate);
    }

    // Audio thread, at block start.
    void parameterChanged(std::int32_t index) override {
        const float v = values[index];
        switch (index) {
        case kMix:
            smoother.setTarget(&dryGain, 1.0f - v);
            smoother.setTarget(&wetGain, v);
            break;
        case kClip:
            threshold = amplitudeOf(clipDb(v));
            break;
        case kGain:
            clipGain = amplitudeOf(gainDb(v));
            break;
        case kOversample:
            oversample = v > 0.5f;
            break;
        default:
            break;
        }
    }

    void formatValue(std::int32_t index, char* text, std::int32_t maxLength) override {
        const float v = values[index];
        if (index == kClip)
            std::sprintf(text, "%+0.1f dB", static_cast<double>(clipDb(v)));
        else if (index == kGain)
            std::sprintf(text, "%+0.1f dB", static_cast<double>(gainDb(v)));
        else
            HostedEffect::formatValue(index, text, maxLength);
    }

    // Audio thread. Both channels run frame by frame: they see the same mix
    // trajectory either way, and their half-band recursions share vector lanes.
    void process(AudioBuffers& buffers, bool replacing) override {
        if (buffers.frames <= 0) return;
        smoother.markActive();
        withFrameGlide(smoother, [&](auto glide) {
            shapeStereo(buffers, replacing, oversample, oversamplers,
                        Clipping<decltype(glide)>{dryGain, wetGain, threshold, -threshold, clipGain, glide});
        });
    }

  private:
    // The clip stage of one frame, with the frame's mix gains.
    template <class Glide> struct Clipping {
        typename Glide::Value dry, wet;
        float top, bottom, gain;
        Glide glide;
        auto curve() const {
            const float d = dry, w = wet, t = top, b = bottom, g = gain;
            return [=](float u) {
                const float c = u < b ? b : (u < t ? u : t);
                return u * d + c * w * g;
            };
        }
        void next() { glide.next(); }
    };

    HalfbandOversampler oversamplers[2];
    float wetGain = 0.0f, dryGain = 0.0f; // smoothed
    float threshold = 0.0f;               // linear, 1 (0 dB) down to 0.0039811 (-48 dB)
    float clipGain = 0.0f;                // linear, 1 up to 251.19 (+48 dB)
    bool oversample = false;
    ParamSmoother smoother{2}; // the two mix gains
};

} // namespace

HostedEffect* createClipper() {
    return new Clipper;
}

} // namespace quor
