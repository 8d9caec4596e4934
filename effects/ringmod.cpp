// Ringmod: each channel multiplied by a carrier, either an internal
// oscillator morphing from a sine towards a square or the side-chain input
// shaped by the same curve. The multiplication runs at twice the sample rate
// between the half-band up- and down-sampler; Depth blends from the dry input
// to full ring modulation.
#include "dsp/halfband_oversampler.h"
#include "dsp/param_smoother.h"
#include "dsp/stereo_halfband.h"
#include "effects/effects.h"
#include "framework/effect.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

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

inline FloatLanes magnitude(FloatLanes x) {
    typedef std::int32_t Bits __attribute__((vector_size(sizeof(FloatLanes))));
    Bits bits;
    std::memcpy(&bits, &x, sizeof bits);
    bits &= INT32_MAX;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// Carrier shaping: two soft clips u / (|u| + k) (k + 1), the first blended in
// by m. At Timbre 0 (k = 5, m = 1) a gentle saturation, towards Timbre 1
// (k near 0.01, m = 0) nearly square. T: a vector of carrier values.
struct CarrierShape {
    float k;
    float m;
    float depth;

    // The modulation factor for a carrier value s.
    template <typename T> T gain(T s) const {
        T w = s / (magnitude(s) + k) * (k + 1.0f);
        w = (s - w) * m + w;
        const T shaped = w / (magnitude(w) + k) * (k + 1.0f);
        return (shaped - 1.0f) * depth + 1.0f;
    }
};

// A phase in [-1, 1) (a cycle spans 2) to a refined, negated parabolic sine.
template <typename T> T oscillator(T p) {
    T t = p * 0.5f;
    t = (8.0f - magnitude(t) * 16.0f) * t;
    return kOffset - ((magnitude(t) - 1.0f) * 0.216f + 1.0f) * t;
}

inline float stepped(float p, float increment) {
    p = p + increment;
    return p >= 1.0f ? p - 2.0f : p;
}

class Ringmod final : public HostedEffect {
  public:
    Ringmod() : HostedEffect("Ringmod", kRingmodParams, kRingmodParamCount), smoother(2) { numInputs = 4; }

    void clear() override { depth = increment = 0.0f; }

    // Audio thread, at block start.
    void reset() override {
        phase = 0.0f;
        smoother.flush();
        for (std::int32_t c = 0; c < 2; ++c) {
            oversampler[c].clear();
            sideChain[c].clear();
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
            smoother.setTarget(&increment, std::clamp((f + f) / (sampleRate + sampleRate), 0.0f, 1.0f));
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
        const float* side[2] = {sideOn ? buffers.inputs[2] : nullptr, sideOn ? buffers.inputs[3] : nullptr};
        if (side[0] && side[1])
            run<true, true>(buffers, side, replacing);
        else if (side[0])
            run<true, false>(buffers, side, replacing);
        else if (side[1])
            run<false, true>(buffers, side, replacing);
        else
            run<false, false>(buffers, side, replacing);
    }

  private:
    // Both channels frame by frame, each seeing the smoothed values' one
    // trajectory: the lanes hold the left and right sub-samples of the frame's
    // first half, then of its second.
    template <bool SideL, bool SideR>
    void run(const AudioBuffers& buffers, const float* const* side, bool replacing) {
        // Channel 1 starts from the block's phase plus its lead.
        const float x1 = (halfWidth + phase) * 0.5f + 0.5f;
        float p[2] = {phase, 2.0f * (x1 - std::floor(x1) - 0.5f)};
        StereoHalfband os(oversampler), sideOs(sideChain);
        // A channel without side-chain feeds silence into its lanes and gets
        // its states back after the block.
        const HalfbandOversampler sideBefore[2] = {sideChain[0], sideChain[1]};
        const float* inL = buffers.inputs[0];
        const float* inR = buffers.inputs[1];
        float* outL = buffers.outputs[0];
        float* outR = buffers.outputs[1];
        for (std::int32_t i = 0; i < buffers.frames; ++i) {
            const CarrierShape shape{shapeK, shapeBlend, depth};
            const float inc = increment;
            const FloatLanes x = os.upsample(inL[i] + kOffset, inR[i] + kOffset);
            FloatLanes carrier;
            if (!SideL || !SideR) {
                const float halfL = stepped(p[0], inc), halfR = stepped(p[1], inc);
                carrier = oscillator(FloatLanes{p[0], p[1], halfL, halfR});
            }
            if (SideL || SideR) {
                const FloatLanes s = sideOs.upsample(SideL ? side[0][i] : 0.0f, SideR ? side[1][i] : 0.0f);
                if (SideL) carrier[0] = s[0] + kOffset, carrier[2] = s[2] + kOffset;
                if (SideR) carrier[1] = s[1] + kOffset, carrier[3] = s[3] + kOffset;
            }
            for (float& q : p)
                q = stepped(stepped(q, inc), inc);
            float yL, yR;
            os.downsample(x * shape.gain(carrier), yL, yR);
            if (replacing) {
                outL[i] = yL;
                outR[i] = yR;
            } else {
                outL[i] += yL;
                outR[i] += yR;
            }
            smoother.markActive();
            smoother.advance();
        }
        phase = p[0];
        os.store(oversampler);
        sideOs.store(sideChain);
        if (!SideL) sideChain[0] = sideBefore[0];
        if (!SideR) sideChain[1] = sideBefore[1];
    }

    float depth = 0.0f;     // smoothed
    float increment = 0.0f; // smoothed; phase units per sub-sample (a cycle spans 2)
    float halfWidth = 0.0f; // channel 1's phase lead, phase units
    float shapeK = 0.0f;
    float shapeBlend = 0.0f;
    float phase = 0.0f; // channel 0's oscillator, in [-1, 1)
    HalfbandOversampler oversampler[2];
    HalfbandOversampler
        sideChain[2]; // only the up-sampler is used: it brings the side-chain to the doubled rate
    ParamSmoother smoother;
};

} // namespace

HostedEffect* createRingmod() {
    return new Ringmod;
}

} // namespace quor
