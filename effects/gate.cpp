// Gate: a noise gate with hysteresis (it opens above one threshold and
// closes below a lower one), a minimum open time counted from the opening,
// a hold after the close decision, attack and release ramps, a floor gain
// for the closed state and an invert switch.
#include "effects/effects.h"
#include "effects/side_chain.h"
#include "framework/display.h"
#include "framework/effect.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace quor {

namespace {

enum GateParam {
    kThreshold,
    kHysteresis,
    kMinOpen, // shown as "Hold"
    kInvert,
    kAttack,
    kCloseHold, // shown as "Hold" too
    kRelease,
    kFloor,
    kGain,
    kSideChain,
    kStereoLink,
    kGateParamCount
};

const ParamInfo kGateParams[kGateParamCount] = {
    {"Threshold", 0.0f, 1.0f, 0, 0.6f},  {"Hysteresis", 0.0f, 1.0f, 0, 0.1f},  {"Hold", 0.0f, 1.0f, 0, 0.1f},
    {"Invert", 0.0f, 1.0f, 1, 0.0f},     {"Attack", 0.0f, 1.0f, 0, 0.0f},      {"Hold", 0.0f, 1.0f, 0, 0.0f},
    {"Release", 0.0f, 1.0f, 0, 0.2f},    {"Floor", 0.0f, 1.0f, 0, 0.0f},       {"Gain", 0.0f, 1.0f, 0, 0.0f},
    {"Side-chain", 0.0f, 1.0f, 1, 0.0f}, {"Stereo-link", 0.0f, 1.0f, 1, 1.0f},
};

// The attack moves the gain half-way to this target in its time, so with the
// gain clipped at 1 an opening from 0 takes exactly the attack time.
constexpr float kOpenTarget = 2.0f;
constexpr float kDetectorReleaseSeconds = 0.1f;

// Every time parameter: 1 ms .. 2 s.
float timeSeconds(float p) {
    return (2.0f - 0.001f) * std::pow(p, 4.0f) + 0.001f;
}
float openThresholdDb(float p) {
    return (1.0f - p) * -48.0f;
}
float hysteresisDb(float p) {
    return p * -48.0f;
}

struct GateCoefficients {
    float openThreshold = 0.0f; // linear
    float closeThreshold = 0.0f;
    float makeup = 0.0f;
    bool invert = false;
    // Time-based, 1 until a rate exists.
    float envelopeRelease = 1.0f;
    float minOpenStep = 1.0f;
    float closeHoldStep = 1.0f;
    float attackCoef = 1.0f;
    float releaseCoef = 1.0f;
    float floorGain = 0.0f;
};

struct GateChannel {
    float envelope = 0.0f;
    float minOpenCounter = 0.0f;   // 1 -> 0 from the opening
    float closeHoldCounter = 0.0f; // 1 -> 0 from the close decision
    float gain = 0.0f;             // starts closed
    bool isOpen = false;
};

// Counts down by `step`, never below 0.
inline float countDown(float counter, float step) {
    return step < counter ? counter - step : 0.0f;
}

// One sample of one channel at detector level x; returns the gain. Written
// without branches on the gate state: the decisions become selects.
template <bool Invert> inline float gateStep(GateChannel& s, float x, const GateCoefficients& k) {
    float delta = x - s.envelope;
    if (delta <= 0.0f) delta *= k.envelopeRelease; // instant rise
    s.envelope += delta;
    s.minOpenCounter = countDown(s.minOpenCounter, k.minOpenStep);
    const bool wasOpen = s.isOpen;
    // The hold after closing runs down only while the gate is closed.
    const float heldClose = countDown(s.closeHoldCounter, k.closeHoldStep);
    s.closeHoldCounter = wasOpen ? s.closeHoldCounter : heldClose;
    const float margin = s.envelope - (wasOpen ? k.closeThreshold : k.openThreshold);
    const bool nowOpen = s.minOpenCounter > 0.0f || margin > 0.0f;
    s.isOpen = nowOpen;
    if (!wasOpen && nowOpen) { // a closed gate opens
        s.minOpenCounter = 1.0f;
        s.closeHoldCounter = 1.0f;
    }
    const bool on = (s.closeHoldCounter > 0.0f || nowOpen) != Invert;
    s.gain += ((on ? kOpenTarget : k.floorGain) - s.gain) * (on ? k.attackCoef : k.releaseCoef);
    s.gain = std::min(s.gain, 1.0f);
    return s.gain;
}

class Gate final : public HostedEffect {
  public:
    Gate() : HostedEffect("Gate", kGateParams, kGateParamCount) { numInputs = 4; }

    void clear() override {}
    void reset() override { channel[0] = channel[1] = GateChannel{}; }

    void sampleRateChanged() override {
        if (sampleRate == 0.0f) return;
        coef.envelopeRelease = 1.0f - std::pow(0.01f, 1.0f / (sampleRate * kDetectorReleaseSeconds));
        for (std::int32_t index : {kAttack, kRelease, kMinOpen, kCloseHold})
            parameterChanged(index);
    }

    void parameterChanged(std::int32_t index) override {
        const float p = values[index];
        const float fs = sampleRate;
        switch (index) {
        case kThreshold:
        case kHysteresis:
            coef.openThreshold = std::pow(10.0f, openThresholdDb(values[kThreshold]) / 20.0f);
            coef.closeThreshold =
                std::pow(10.0f, hysteresisDb(values[kHysteresis]) / 20.0f) * coef.openThreshold;
            break;
        case kMinOpen:
            if (fs != 0.0f) coef.minOpenStep = 1.0f / (fs * timeSeconds(p));
            break;
        case kCloseHold:
            if (fs != 0.0f) coef.closeHoldStep = 1.0f / (fs * timeSeconds(p));
            break;
        case kAttack:
            if (fs != 0.0f) coef.attackCoef = 1.0f - std::pow(0.5f, 1.0f / (fs * timeSeconds(p)));
            break;
        case kRelease:
            if (fs != 0.0f) coef.releaseCoef = 1.0f - std::pow(0.01f, 1.0f / (fs * timeSeconds(p)));
            break;
        case kInvert:
            coef.invert = p > 0.5f;
            break;
        case kFloor:
            coef.floorGain = p * p;
            break;
        case kGain:
            coef.makeup = std::pow(10.0f, p * 48.0f / 20.0f);
            break;
        default:
            break; // Side-chain and Stereo-link are read while processing
        }
    }

    // Control thread copy: values only. "Floor" is shown linear in dB while
    // it applies p^2; "Gain" keeps the base percentage.
    void formatValue(std::int32_t index, char* text, std::int32_t maxLength) override {
        const float p = values[index];
        switch (index) {
        case kThreshold:
            std::sprintf(text, "%0.1f dB", (1.0 - static_cast<double>(p)) * -48.0);
            break;
        case kHysteresis:
            std::sprintf(text, "%0.1f dB", static_cast<double>(hysteresisDb(p)));
            break;
        case kMinOpen:
        case kAttack:
        case kCloseHold:
        case kRelease:
            formatTime(timeSeconds(p), text);
            break;
        case kInvert:
            std::sprintf(text, "%s", p > 0.5f ? "On" : "Off");
            break;
        case kFloor:
            if (p == 0.0f)
                std::sprintf(text, "-inf");
            else
                std::sprintf(text, "%0.1f dB", static_cast<double>((1.0f - p) * -60.0f));
            break;
        default:
            HostedEffect::formatValue(index, text, maxLength);
        }
    }

    // Audio thread. The two channels run side by side; their states are
    // independent, so this equals one channel after the other.
    void process(AudioBuffers& buffers, bool replacing) override {
        const float* detector[2];
        selectDetector(buffers, values[kSideChain] > 0.5f, detector);
        const bool linked = values[kStereoLink] > 0.5f;
        if (coef.invert)
            linked ? run<true, true>(buffers, detector, replacing)
                   : run<false, true>(buffers, detector, replacing);
        else
            linked ? run<true, false>(buffers, detector, replacing)
                   : run<false, false>(buffers, detector, replacing);
    }

  private:
    // Linked channels hear the same level, so once their states agree (as
    // after a reset) they stay equal: one state then serves both.
    template <bool Linked, bool Invert>
    void run(AudioBuffers& buffers, const float* const* detector, bool replacing) {
        if (Linked && sameState(channel[0], channel[1])) {
            runFrames<true, Invert, true>(buffers, detector, replacing);
            channel[1] = channel[0];
        } else {
            runFrames<Linked, Invert, false>(buffers, detector, replacing);
        }
    }

    template <bool Linked, bool Invert, bool Shared>
    void runFrames(AudioBuffers& buffers, const float* const* detector, bool replacing) {
        const float* in[2] = {buffers.inputs[0], buffers.inputs[1]};
        float* out[2] = {buffers.outputs[0], buffers.outputs[1]};
        const GateCoefficients k = coef;
        GateChannel s0 = channel[0], s1 = channel[1];
        for (std::int32_t i = 0; i < buffers.frames; ++i) {
            float level0 = std::fabs(detector[0][i]), level1 = std::fabs(detector[1][i]);
            if (Linked) level0 = level1 = std::max(level0, level1);
            const float x0 = in[0][i], x1 = in[1][i]; // read before the writes: in place is allowed
            const float gain0 = gateStep<Invert>(s0, level0, k);
            const float gain1 = Shared ? gain0 : gateStep<Invert>(s1, level1, k);
            const float y0 = x0 * gain0 * k.makeup;
            const float y1 = x1 * gain1 * k.makeup;
            out[0][i] = replacing ? y0 : y0 + out[0][i];
            out[1][i] = replacing ? y1 : y1 + out[1][i];
        }
        channel[0] = s0;
        channel[1] = s1;
    }

    static bool sameState(const GateChannel& a, const GateChannel& b) {
        const auto same = [](float u, float v) { return std::memcmp(&u, &v, sizeof u) == 0; };
        return same(a.envelope, b.envelope) && same(a.minOpenCounter, b.minOpenCounter) &&
               same(a.closeHoldCounter, b.closeHoldCounter) && same(a.gain, b.gain) && a.isOpen == b.isOpen;
    }

    GateCoefficients coef;
    GateChannel channel[2];
};

} // namespace

HostedEffect* createGate() {
    return new Gate;
}

} // namespace quor
