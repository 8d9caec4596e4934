// Multiplier: waveshaping distortion with a modulated bias. Each channel is
// tone-filtered, driven, offset by a bias that a slow triangle oscillator and
// a fixed per-channel offset make, and bent by one of three saturating
// curves, optionally at twice the rate. A second tone pair filters the shaped
// signal before the gain and the dry/wet mix. Mix, gain, drive, bias and
// modulation glide over about 200 ms.
#include "dsp/dry_wet_mix.h"
#include "dsp/frame_glide.h"
#include "dsp/halfband_oversampler.h"
#include "dsp/param_smoother.h"
#include "dsp/stereo_halfband.h"
#include "dsp/tone_filter_pair.h"
#include "effects/effects.h"
#include "effects/pass_through.h"
#include "framework/effect.h"
#include "framework/numeric.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace quor {

namespace {

enum MultiplierParam {
    kMix,
    kTone,
    kGain,
    kOversample,
    kPreTone,
    kDepth,
    kPhase,
    kMode,
    kMod,
    kRate,
    kWidth,
    kMultiplierParamCount
};

const ParamInfo kMultiplierParams[kMultiplierParamCount] = {
    {"Mix", 0.0f, 1.0f, 0, 0.5f},        {"Tone", 0.0f, 1.0f, 0, 0.5f},    {"Gain", 0.0f, 1.0f, 0, 0.0f},
    {"Oversample", 0.0f, 1.0f, 1, 0.0f}, {"preTone", 0.0f, 1.0f, 0, 0.5f}, {"Depth", 0.0f, 1.0f, 0, 0.5f},
    {"Phase", 0.0f, 1.0f, 0, 0.0f},      {"Mode", 0.0f, 2.0f, 1, 0.0f},    {"Mod", 0.0f, 1.0f, 0, 0.0f},
    {"Rate", 0.0f, 1.0f, 0, 0.4f},       {"Width", 0.0f, 1.0f, 0, 0.5f},
};

const ParamGroup kMultiplierGroups[] = {
    {"Global", 0, kMix}, {"Main", 0, kDepth}, {"Mod", 0, kMod}, {nullptr, 0, kMultiplierParamCount}};

constexpr float kGlideSeconds = 0.2f;
constexpr float kLowestCutoffHz = 20.0f;
constexpr float kTiny = 1e-10f; // keeps the curves off exact zeros

// Tone knob to the pair's cut-offs: 0.5 spans 20 Hz to the top, below it both
// fall towards 20 Hz (dark), above it both rise to the top (thin).
struct ToneCutoffs {
    float highCutHz, lowCutHz;
};
ToneCutoffs toneCutoffs(float v, float topHz) {
    constexpr float kSlope = -0.100000024f; // 0xBDCCCCD0, not the nearest float to -0.1
    float centre;
    if (v > 0.5f) {
        const float t = 2.0f * (v - 0.5f);
        centre = t / (std::fabs(t) - 1.1f) * kSlope * 0.5f + 0.5f;
    } else {
        const float t = 2.0f * v;
        centre = t / (std::fabs(t) - 1.1f) * kSlope * 0.5f;
    }
    const float edge = 0.5f - std::fabs(v - 0.5f);
    const float spread = (2.0f - edge) * edge;
    const float a = std::clamp(centre + spread, 0.0f, 1.0f);
    const float b = std::clamp(centre - spread, 0.0f, 1.0f);
    const float span = topHz - kLowestCutoffHz;
    return {span * (a * a) + kLowestCutoffHz, span * (b * b) + kLowestCutoffHz};
}

float driveFor(std::int32_t mode, float depth) {
    if (mode == 1) return depth * 15.0f + 0.75f;
    return depth / (std::fabs(depth) - 3.0f) * -2.0f * 3.0f + 0.04f; // 0.04 to 3.04
}

// The three transfer functions. h is a soft cubic fold, g a rational
// saturator; each is applied several times for a steeper knee.
inline float foldH(float t) {
    const float u = 2.6f * t;
    return ((2.0f - std::fabs(u)) * u + kTiny) * 0.7362f + t;
}
inline float saturateG(float t) {
    return (t / (t * t + 1.0f) + kTiny) * 2.1f - t;
}
inline float limited(float x, float edge) {
    return x < -edge ? -edge : (x > edge ? edge : x);
}

// Each curve takes its input limited to [-edge, edge].
template <int kMode> constexpr float kCurveEdge = kMode == 0 ? 1.15f : kMode == 1 ? 4.25f : 2.0f;
template <int kMode> inline float curve(float t) {
    if (kMode == 0) return foldH(foldH(foldH(t))) * 0.8625f * 0.5f;
    if (kMode == 1) {
        for (int k = 0; k < 6; ++k)
            t = saturateG(t);
        const float z = t * 0.8625f;
        return z + z;
    }
    t = saturateG(saturateG(saturateG(2.0f * t))) * 0.5f;
    t = 2.0f * foldH(t);
    t = saturateG(saturateG(saturateG(t)));
    return t * 0.5f * 0.8625f * 4.0f;
}

// The quantities that may glide within a block.
template <class Glide> struct Controls {
    typename Glide::Value drive, phaseBias, modAmount, outputGain;
    Glide glide;
};

class Multiplier final : public HostedEffect {
  public:
    Multiplier()
        : HostedEffect("Multiplier", kMultiplierParams, kMultiplierParamCount, kMultiplierGroups,
                       static_cast<std::int32_t>(std::size(kMultiplierGroups))) {}

    void clear() override {
        wetGain = dryGain = drive = phaseBias = modAmount = 0.0f;
        mode = 0;
    }

    // The oscillator, filters and oversampler run on across a suspend; only
    // a state that non-finite input has poisoned is cleared, or it would
    // stay so for good.
    void reset() override {
        for (ToneFilterPair* pair : {&preTone, &tone})
            if (!allFinite(pair->lowpassState) || !allFinite(pair->highpassState)) pair->reset();
        for (HalfbandOversampler& os : oversamplers) {
            const float states[8] = {os.up.a1.z, os.up.a2.z, os.up.a3.z, os.up.b1.z,
                                     os.up.b2.z, os.up.b3.z, os.downA.z, os.downB.z};
            if (!allFinite(states)) os.clear();
        }
    }

    void sampleRateChanged() override {
        if (!hasRate()) return; // keeps the last usable rate's filters and ramps
        smoother.configure(kGlideSeconds, sampleRate);
        preTone.setSampleRate(sampleRate);
        tone.setSampleRate(sampleRate);
        for (std::int32_t index : {kDepth, kRate, kPhase, kPreTone, kTone, kMod})
            parameterChanged(index);
    }

    // Audio thread, at block start.
    void parameterChanged(std::int32_t index) override {
        const float v = values[index];
        switch (index) {
        case kMix: {
            const DryWetMix gains(v);
            smoother.setTarget(&dryGain, gains.dry);
            smoother.setTarget(&wetGain, gains.wet);
            break;
        }
        case kTone:
        case kPreTone: {
            ToneFilterPair& pair = index == kTone ? tone : preTone;
            const ToneCutoffs cutoffs = toneCutoffs(v, ToneFilterPair::topFrequency);
            pair.setHighCut(cutoffs.highCutHz);
            pair.setLowCut(cutoffs.lowCutHz);
            break;
        }
        case kGain:
            smoother.setTarget(&outputGain, std::pow(10.0f, (0.0f + v * 24.0f) / 20.0f));
            break;
        case kDepth:
            smoother.setTarget(&drive, driveFor(mode, values[kDepth]));
            break;
        case kMode:
            // The top mode sits at the very top of the range only; anything
            // beyond the three curves is held to them.
            mode = std::clamp(truncatedInt(v), 0, 2);
            smoother.dropRamp(&drive);
            drive = driveFor(mode, values[kDepth]);
            break;
        case kPhase:
            smoother.setTarget(&phaseBias, v * 0.5f);
            break;
        case kMod:
            smoother.setTarget(&modAmount, v);
            break;
        case kRate:
            lfoIncrement = (v * v * 4.9f + 0.1f) / std::max(1.0f, sampleRate); // 0.1 to 5 Hz
            break;
        default:
            break; // Oversample and Width are read while processing
        }
    }

    // Audio thread. Both channels run frame by frame: they see the same
    // glides either way, and their filter chains overlap.
    void process(AudioBuffers& buffers, bool replacing) override {
        if (buffers.frames <= 0) return;
        if (!hasRate()) { // the filters have no coefficients yet
            passThrough(buffers, replacing);
            return;
        }
        smoother.markActive();
        withFrameGlide(smoother, [&](auto glide) {
            chooseMode(buffers, replacing,
                       Controls<decltype(glide)>{drive, phaseBias, modAmount, outputGain, glide});
        });
    }

  private:
    bool hasRate() const { return sampleRate > 0.0f && std::isfinite(sampleRate); }

    template <std::size_t N> static bool allFinite(const float (&v)[N]) {
        return std::all_of(v, v + N, [](float x) { return std::isfinite(x); });
    }

    template <class Glide> void chooseMode(AudioBuffers& buffers, bool replacing, Controls<Glide> controls) {
        const bool oversampled = values[kOversample] > 0.5f;
        switch (mode) {
        case 1:
            return oversampled ? run<1, true>(buffers, replacing, controls)
                               : run<1, false>(buffers, replacing, controls);
        case 2:
            return oversampled ? run<2, true>(buffers, replacing, controls)
                               : run<2, false>(buffers, replacing, controls);
        default:
            return oversampled ? run<0, true>(buffers, replacing, controls)
                               : run<0, false>(buffers, replacing, controls);
        }
    }

    // Three passes per chunk of frames. The curve is memoryless, so its
    // long chains of dependent operations run over a whole chunk of values
    // at once instead of one frame after the other; every value still sees
    // exactly the same operations.
    template <int kMode, bool kOversampled, class Glide>
    void run(AudioBuffers& buffers, bool replacing, Controls<Glide> controls) {
        constexpr std::int32_t kChunkFrames = 128;
        constexpr std::int32_t kValuesPerFrame = kOversampled ? 4 : 2;
        // Per frame: channel 0, then 1; oversampled, both first sub-samples, then both second ones.
        float curveValues[kChunkFrames * kValuesPerFrame];
        float outputGains[kChunkFrames];

        // The mix gains hold their block-start values for the whole block.
        const float dry = dryGain, wet = wetGain;
        const float increment = lfoIncrement;
        const float sweepScale = kMode == 1 ? 4.0f : 0.5f, biasScale = kMode == 1 ? 1.0f : 0.1f;
        // Channel 0 leads by Width x half a cycle.
        float phase0 = lfoPhase + values[kWidth] * 0.5f;
        if (phase0 >= 1.0f) phase0 = phase0 - 1.0f;
        float phase1 = lfoPhase + 0.0f;
        if (phase1 >= 1.0f) phase1 = phase1 - 1.0f;
        ToneFilterPair pre = preTone, post = tone;
        StereoHalfband halfband(oversamplers);

        for (std::int32_t first = 0; first < buffers.frames; first += kChunkFrames) {
            const std::int32_t n = std::min(kChunkFrames, buffers.frames - first);
            const float* in0 = buffers.inputs[0] + first;
            const float* in1 = buffers.inputs[1] + first;
            float* out0 = buffers.outputs[0] + first;
            float* out1 = buffers.outputs[1] + first;

            // Bias, pre-tone and drive; the glides advance here.
            for (std::int32_t i = 0; i < n; ++i) {
                outputGains[i] = controls.outputGain;
                const float s0 = std::fabs(2.0f * phase0 - 1.0f) * sweepScale * controls.modAmount +
                                 -controls.phaseBias * biasScale + pre.process(0, in0[i]) * controls.drive;
                const float s1 = std::fabs(2.0f * phase1 - 1.0f) * sweepScale * controls.modAmount +
                                 controls.phaseBias * biasScale + pre.process(1, in1[i]) * controls.drive;
                float* v = curveValues + i * kValuesPerFrame;
                if (kOversampled) {
                    const FloatLanes subSamples = halfband.upsample(s0, s1);
                    for (int lane = 0; lane < 4; ++lane)
                        v[lane] = subSamples[lane];
                } else {
                    v[0] = s0;
                    v[1] = s1;
                }
                phase0 = phase0 + increment;
                if (phase0 >= 1.0f) phase0 = phase0 - 1.0f;
                phase1 = phase1 + increment;
                if (phase1 >= 1.0f) phase1 = phase1 - 1.0f;
                controls.glide.next();
            }

            // The limit and the curve in passes of their own: each then
            // compiles to straight-line vector code.
            for (std::int32_t k = 0; k < n * kValuesPerFrame; ++k)
                curveValues[k] = limited(curveValues[k], kCurveEdge<kMode>);
            for (std::int32_t k = 0; k < n * kValuesPerFrame; ++k)
                curveValues[k] = curve<kMode>(curveValues[k]);

            // Down-sampling, post-tone and mix.
            for (std::int32_t i = 0; i < n; ++i) {
                const float* v = curveValues + i * kValuesPerFrame;
                float w0 = v[0], w1 = v[1];
                if (kOversampled) halfband.downsample(FloatLanes{v[0], v[1], v[2], v[3]}, w0, w1);
                const float x0 = in0[i], x1 = in1[i]; // read both before writing: buffers may be shared
                const float y0 = x0 * dry + post.process(0, w0) * wet * outputGains[i];
                const float y1 = x1 * dry + post.process(1, w1) * wet * outputGains[i];
                // Replacing adds to a zeroed output, which turns a -0 into +0.
                out0[i] = (replacing ? 0.0f : out0[i]) + y0;
                out1[i] = (replacing ? 0.0f : out1[i]) + y1;
            }
        }
        lfoPhase = phase1; // the channel without the lead
        preTone = pre;
        tone = post;
        halfband.store(oversamplers);
    }

    float lfoPhase = 0.0f;     // cycles, [0, 1)
    float lfoIncrement = 0.0f; // cycles per sample
    ToneFilterPair tone;       // after the curve
    ToneFilterPair preTone;    // before it
    HalfbandOversampler oversamplers[2];
    // Smoothed.
    float wetGain = 0.0f, dryGain = 0.0f, outputGain = 0.0f, drive = 0.0f, phaseBias = 0.0f, modAmount = 0.0f;
    std::int32_t mode = 0;
    ParamSmoother smoother{6}; // the six smoothed quantities
};

} // namespace

HostedEffect* createMultiplier() {
    return new Multiplier;
}

} // namespace quor
