// Rectifier: each sample blended with its rectified value. Depth 1 gives |x|
// (or -|x| at negative polarity), depth 0.5 a half-wave rectifier, depth 0
// the input. The kink folds harmonics back into the band; the optional
// twofold oversampling runs the rectifier between the half-band filters.
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

enum RectifierParam { kDepth, kPolarity, kOversample, kRectifierParamCount };

const ParamInfo kRectifierParams[kRectifierParamCount] = {
    {"Depth", 0.0f, 1.0f, 0, 1.0f},
    {"Polarity", 0.0f, 1.0f, 1, 1.0f},
    {"Oversample", 0.0f, 1.0f, 1, 0.0f},
};

constexpr float kDepthRampSeconds = 0.2f;

bool isOn(float v) {
    return v > 0.5f;
}

class Rectifier final : public HostedEffect {
  public:
    Rectifier() : HostedEffect("Rectifier", kRectifierParams, kRectifierParamCount) {}

    void clear() override { depth = 0.0f; }

    void reset() override {
        oversamplers[0].clear();
        oversamplers[1].clear();
    }

    void sampleRateChanged() override {
        if (!(sampleRate > 0.0f) || !std::isfinite(sampleRate)) return; // keeps the last usable rate's ramps
        smoother.configure(kDepthRampSeconds, sampleRate);
        parameterChanged(kDepth);
    }

    // Audio thread, at block start.
    void parameterChanged(std::int32_t index) override {
        const float v = values[index];
        switch (index) {
        case kDepth:
            // Before a rate the stored depth waits for sampleRateChanged.
            if (sampleRate != 0.0f) smoother.setTarget(&depth, v);
            break;
        case kPolarity:
            polarity = isOn(v) ? 1.0f : -1.0f;
            break;
        case kOversample:
            oversample = isOn(v);
            break;
        default:
            break;
        }
    }

    void formatValue(std::int32_t index, char* text, std::int32_t maxLength) override {
        const float v = values[index];
        if (index == kPolarity)
            std::sprintf(text, "%s", isOn(v) ? "Positive" : "Negative");
        else if (index == kOversample)
            std::sprintf(text, "%s", isOn(v) ? "On" : "Off");
        else
            HostedEffect::formatValue(index, text, maxLength);
    }

    // Audio thread. Both channels run frame by frame: they see the same depth
    // trajectory either way, and their half-band recursions share vector lanes.
    void process(AudioBuffers& buffers, bool replacing) override {
        if (buffers.frames <= 0) return;
        smoother.markActive();
        withFrameGlide(smoother, [&](auto glide) {
            shapeStereo(buffers, replacing, oversample, oversamplers,
                        Rectifying<decltype(glide)>{depth, polarity, glide});
        });
    }

  private:
    // The rectifier of one frame, with the frame's depth.
    template <class Glide> struct Rectifying {
        typename Glide::Value depth;
        float polarity;
        Glide glide;
        auto curve() const {
            const float p = polarity, k = depth;
            return [p, k](float u) { return (std::fabs(u) * p - u) * k + u; };
        }
        void next() { glide.next(); }
    };

    HalfbandOversampler oversamplers[2];
    float depth = 0.0f;
    float polarity = 1.0f; // +1 keeps the positive half-waves
    bool oversample = false;
    ParamSmoother smoother{1};
};

} // namespace

HostedEffect* createRectifier() {
    return new Rectifier;
}

} // namespace quor
