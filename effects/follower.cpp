// Follower: an envelope-controlled low-pass. A peak envelope of the input
// (or of the side-chain) moves the filter's cut-off up from "Cutoff" by
// "Depth" (down when negative). "Keytrack" high-passes the detector signal at
// 1 kHz and doubles the depth; "Scale" multiplies it by 1, 2 or 4. The
// cut-off is updated once per 16-sample piece, from the loudest envelope
// value of that piece, measured before the piece is filtered.
#include "dsp/envelope_follower.h"
#include "dsp/multimode_filter.h"
#include "dsp/tone_filter_pair.h"
#include "effects/effects.h"
#include "effects/pass_through.h"
#include "effects/side_chain.h"
#include "framework/display.h"
#include "framework/effect.h"
#include "framework/numeric.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quor {

namespace {

enum FollowerParam {
    kCutoff,
    kQ,
    kSaturation,
    kAttack,
    kHold,
    kRelease,
    kDepth,
    kKeytrack,
    kScale,
    kSideChain,
    kFollowerParamCount
};

const ParamInfo kFollowerParams[kFollowerParamCount] = {
    {"Cutoff", -1.0f, 1.0f, 0, 0.0f},    {"Q", 0.0f, 1.0f, 0, 0.8f},
    {"Saturation", 0.0f, 1.0f, 0, 0.2f}, {"Attack", 0.0f, 1.0f, 0, 0.5f},
    {"Hold", 0.0f, 1.0f, 0, 0.5f},       {"Release", 0.0f, 1.0f, 0, 0.5f},
    {"Depth", -1.0f, 1.0f, 0, 1.0f},     {"Keytrack", 0.0f, 1.0f, 1, 1.0f},
    {"Scale", 0.0f, 2.0f, 1, 1.0f},      {"Side-chain", 0.0f, 1.0f, 1, 0.0f},
};

constexpr std::int32_t kControlSamples = 16; // samples per cut-off update
constexpr float kKeytrackHz = 1000.0f;
constexpr float kSilentLevel = 1e-10f; // an envelope below this is 0

float attackSeconds(float p) {
    return integerPower(2, p) * 0.499f + 0.001f;
}
// A fraction of the attack time.
float holdSeconds(float p, float attackP) {
    return integerPower(2, p) * attackSeconds(attackP);
}
float releaseSeconds(float p) {
    return integerPower(2, p) * 4.99f + 0.01f;
}
std::uint32_t scaleExponent(float p) {
    return static_cast<std::uint32_t>(std::max(truncatedInt(p), 0));
}

class Follower final : public HostedEffect {
  public:
    Follower() : HostedEffect("Follower", kFollowerParams, kFollowerParamCount), filter(noteZeroHz) {
        numInputs = 4;
    }

    void clear() override {}

    // Audio thread.
    void reset() override {
        keyState[0] = keyState[1] = 0.0f;
        filter.reset();
        detector.reset();
    }

    void sampleRateChanged() override {
        detector.setRate(sampleRate);
        filter.setSampleRate(sampleRate);
        keyHighpass = OnePole::at(kKeytrackHz, sampleRate);
    }

    void controlRateChanged() override { filter.setControlDivisor(kControlSamples); }

    void parameterChanged(std::int32_t index) override {
        const float p = values[index];
        switch (index) {
        case kQ:
            filter.resonance = p;
            break;
        case kSaturation:
            filter.saturation = p;
            break;
        case kAttack:
            detector.attackTime = attackSeconds(p);
            [[fallthrough]];
        case kHold:
            detector.holdTime = holdSeconds(values[kHold], values[kAttack]);
            detector.dirty = true;
            break;
        case kRelease:
            detector.releaseTime = releaseSeconds(p);
            detector.dirty = true;
            break;
        case kKeytrack:
            keytrack = p > 0.0f;
            [[fallthrough]];
        case kScale:
            depthScale = integerPower(scaleExponent(values[kScale]), 2.0f) * (keytrack ? 2.0f : 1.0f);
            break;
        case kSideChain:
            sideChain = p > 0.0f;
            break;
        default:
            break; // Cutoff and Depth are read while processing
        }
    }

    // Control thread copy: values only.
    void formatValue(std::int32_t index, char* text, std::int32_t maxLength) override {
        const float p = values[index];
        switch (index) {
        case kAttack:
            formatTime(attackSeconds(p), text);
            break;
        case kHold:
            formatTime(holdSeconds(p, values[kAttack]), text); // "Off" at 0
            break;
        case kRelease:
            formatTime(releaseSeconds(p), text);
            break;
        case kScale: // without the keytrack doubling
            std::sprintf(text, "x%i", static_cast<int>(integerPower(scaleExponent(p), 2.0f)));
            break;
        default:
            HostedEffect::formatValue(index, text, maxLength);
        }
    }

    // Audio thread.
    void process(AudioBuffers& buffers, bool replacing) override {
        const std::int32_t pieceSamples = filter.controlDivisor();
        if (pieceSamples <= 0) { // no rate yet
            passThrough(buffers, replacing);
            return;
        }
        const float* in[2] = {buffers.inputs[0], buffers.inputs[1]};
        float* out[2] = {buffers.outputs[0], buffers.outputs[1]};
        const float* source[2];
        selectDetector(buffers, sideChain, source);
        const float base = values[kCutoff];
        const float depth = values[kDepth];
        for (std::int32_t start = 0; start < buffers.frames; start += pieceSamples) {
            const std::int32_t n = std::min(pieceSamples, buffers.frames - start);
            for (std::int32_t c = 0; c < 2; ++c)
                measure(c, source[c] + start, n);
            float loudest = 0.0f;
            if (detector.blockMax[0] > 0.0f) loudest = detector.takeBlockMax(0);
            // Channel 1's maximum is kept for the next piece when channel 0's was louder.
            if (detector.blockMax[1] > loudest) loudest = detector.takeBlockMax(1);
            float cutoff = std::min(base + ((depth * loudest) * depthScale), 1.0f);
            if (cutoff < 0.0f) cutoff = 0.0f;
            filter.cutoff = cutoff;
            filter.updateControl();
            const float* pieceIn[2] = {in[0] + start, in[1] + start};
            float* pieceOut[2] = {out[0] + start, out[1] + start};
            filter.process(pieceIn, pieceOut, n, replacing);
        }
    }

  private:
    // Channel c's envelope over one piece of its detector signal.
    void measure(std::int32_t c, const float* x, std::int32_t n) {
        float s = keyState[c];
        for (std::int32_t i = 0; i < n; ++i) {
            detector.step(c, keytrack ? keyHighpass.step<true>(x[i], s) : x[i]);
            if (detector.level[c] < kSilentLevel) detector.level[c] = 0.0f;
        }
        keyState[c] = s;
    }

    float depthScale = 1.0f; // 2^Scale, doubled by Keytrack
    bool keytrack = false;
    bool sideChain = false;
    EnvelopeFollower detector;
    MultimodeFilter filter;
    OnePole keyHighpass{};  // the detector's high-pass at 1 kHz
    float keyState[2] = {}; // its state per detector channel
};

} // namespace

HostedEffect* createFollower() {
    return new Follower;
}

} // namespace quor
