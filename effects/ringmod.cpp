// Ringmod: each channel multiplied by a carrier, either an internal
// oscillator morphing from a sine towards a square or the side-chain input
// shaped by the same curve. The multiplication runs at twice the sample rate
// between the half-band up- and down-sampler; Depth blends from the dry input
// to full ring modulation.
#include "dsp/halfband_oversampler.h"
#include "dsp/param_smoother.h"
#include "effects/effects.h"
#include "framework/effect.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quor {

namespace {

enum RingmodParam { kRate, kDepth, kWidth, kTimbre, kSideChain, kRingmodParamCount };

const ParamInfo kRingmodParams[kRingmodParamCount] = {
    {"Rate", 0.0f, 1.0f, 0, 0.3f},   {"Depth", 0.0f, 1.0f, 0, 1.0f},      {"Width", 0.0f, 1.0f, 0, 0.0f},
    {"Timbre", 0.0f, 1.0f, 0, 0.0f}, {"Side-chain", 0.0f, 1.0f, 1, 0.0f},
};

// Keeps the all-pass states and the carrier clear of subnormal values.
constexpr float kOffset = 1e-10f;

// 1 Hz to 16 kHz, cubic.
float carrierHzFor(float v) {
    return std::pow(v, 3.0f) * 15999.0f + 1.0f;
}

// Carrier shaping: two soft clips u / (|u| + k) (k + 1), the first blended in
// by m. At Timbre 0 (k = 5, m = 1) a gentle saturation, towards Timbre 1
// (k near 0.01, m = 0) nearly square.
struct CarrierShape {
    float k;
    float m;
    float depth;

    // The modulation factor for a carrier value s.
    float gain(float s) const {
        float w = s / (std::fabs(s) + k) * (k + 1.0f);
        w = (s - w) * m + w;
        const float shaped = w / (std::fabs(w) + k) * (k + 1.0f);
        return (shaped - 1.0f) * depth + 1.0f;
    }
};

// A phase in [-1, 1) (a cycle spans 2) to a refined, negated parabolic sine.
inline float oscillator(float p) {
    float t = p * 0.5f;
    t = (8.0f - std::fabs(t) * 16.0f) * t;
    return kOffset - ((std::fabs(t) - 1.0f) * 0.216f + 1.0f) * t;
}

inline float stepped(float p, float increment) {
    p = p + increment;
    return p >= 1.0f ? p - 2.0f : p;
}

class Ringmod final : public HostedEffect {
  public:
    Ringmod() : HostedEffect("Ringmod", kRingmodParams, kRingmodParamCount), smoother(5) { numInputs = 4; }

    void clear() override { depth = incrementTarget = increment = 0.0f; }

    // Audio thread, at block start.
    void reset() override {
        phase = 0.0f;
        smoother.flush();
        for (std::int32_t c = 0; c < 2; ++c) {
            oversampler[c].clear();
            sideUp[c].clear();
        }
    }

    void sampleRateChanged() override {
        smoother.configure(0.2f, sampleRate);
        parameterChanged(kRate);
        parameterChanged(kDepth);
    }

    void parameterChanged(std::int32_t index) override {
        const float v = values[index];
        switch (index) {
        case kRate: {
            if (sampleRate == 0.0f) break;
            const float f = carrierHzFor(v);
            incrementTarget = std::clamp((f + f) / (sampleRate + sampleRate), 0.0f, 1.0f);
            smoother.setTarget(&increment, incrementTarget);
            break;
        }
        case kDepth:
            smoother.setTarget(&depth, v);
            break;
        case kWidth:
            halfWidth = v * 0.5f;
            break;
        case kTimbre:
            shapeK = v / (std::fabs(v) + 0.03f) * -1.03f * 4.99f + 5.0f;
            shapeBlend = v <= 0.1f ? 1.0f - 10.0f * v : 0.0f;
            break;
        default:
            break; // Side-chain is read while processing
        }
    }

    // Control side; reads values only.
    void formatValue(std::int32_t index, char* text, std::int32_t maxLength) override {
        if (index == kRate)
            std::sprintf(text, "%0.1f Hz", static_cast<double>(carrierHzFor(values[kRate])));
        else
            HostedEffect::formatValue(index, text, maxLength);
    }

    // Audio thread. A null side-chain channel falls back to the oscillator.
    void process(AudioBuffers& buffers, bool replacing) override {
        const bool sideOn = values[kSideChain] > 0.5f;
        smoother.beginBlock();
        const float p0 = phase;
        for (std::int32_t c = 0; c < 2; ++c) {
            smoother.beginChannel();
            float p = p0;
            if (c == 1) {
                const float x = (halfWidth + p0) * 0.5f + 0.5f;
                p = 2.0f * (x - std::floor(x) - 0.5f);
            }
            const float* side = sideOn ? buffers.inputs[2 + c] : nullptr;
            p = side ? run<true>(buffers, c, side, p, replacing)
                     : run<false>(buffers, c, nullptr, p, replacing);
            if (c == 0) phase = p;
        }
    }

  private:
    template <bool SideChain>
    float run(const AudioBuffers& buffers, std::int32_t c, const float* side, float p, bool replacing) {
        const float* in = buffers.inputs[c];
        float* out = buffers.outputs[c];
        HalfbandOversampler os = oversampler[c];
        HalfbandUpsampler sideOs = sideUp[c];
        for (std::int32_t i = 0; i < buffers.frames; ++i) {
            const CarrierShape shape{shapeK, shapeBlend, depth};
            const float inc = increment;
            float a, b;
            os.upsample(in[i] + kOffset, a, b);
            float ga, gb;
            if (SideChain) {
                float sa, sb;
                sideOs.process(side[i], sa, sb);
                ga = shape.gain(sa + kOffset);
                gb = shape.gain(sb + kOffset);
                p = stepped(stepped(p, inc), inc);
            } else {
                ga = shape.gain(oscillator(p));
                p = stepped(p, inc);
                gb = shape.gain(oscillator(p));
                p = stepped(p, inc);
            }
            const float y = os.downsample(a * ga, b * gb);
            out[i] = replacing ? y : out[i] + y;
            smoother.markActive();
            smoother.advance();
        }
        oversampler[c] = os;
        sideUp[c] = sideOs;
        return p;
    }

    float depth = 0.0f;     // smoothed
    float increment = 0.0f; // smoothed; phase units per sub-sample (a cycle spans 2)
    float incrementTarget = 0.0f;
    float halfWidth = 0.0f; // channel 1's phase lead, phase units
    float shapeK = 0.0f;
    float shapeBlend = 0.0f;
    float phase = 0.0f; // channel 0's oscillator, in [-1, 1)
    HalfbandOversampler oversampler[2];
    HalfbandUpsampler sideUp[2];
    ParamSmoother smoother;
};

} // namespace

HostedEffect* createRingmod() {
    return new Ringmod;
}

} // namespace quor
