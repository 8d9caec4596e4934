// RC Filter: a stereo high-pass or low-pass of one to four identical
// trapezoidal one-pole sections in series (6 to 24 dB per octave). Each mode
// keeps a cascade of its own, so switching modes resumes the selected
// cascade from the state it was left in.
#include "dsp/stereo_pair.h"
#include "dsp/tone_filter_pair.h"
#include "effects/effects.h"
#include "effects/pass_through.h"
#include "framework/display.h"
#include "framework/effect.h"
#include "framework/numeric.h"

#include <cstdio>

namespace quor {

namespace {

enum RcFilterParam { kFrequency, kMode, kRcFilterParamCount };

const ParamInfo kRcFilterParams[kRcFilterParamCount] = {
    {"Frequency", 0.0f, 1.0f, 0, 0.0f},
    {"Mode", 0.0f, 7.0f, 1, 0.0f},
};

constexpr std::int32_t kModeCount = 8;
constexpr std::int32_t kMaxSections = 4;
const char* const kModeNames[kModeCount] = {"H 6", "H 12", "H 18", "H 24", "L 6", "L 12", "L 18", "L 24"};

// 0.1 Hz at 0 to 26 kHz at 1, cubic.
float cutoffHzFor(float v) {
    return v * v * v * 25999.9f + 0.1f;
}

// Every section of a cascade shares one one-pole's coefficients. Both
// channels run side by side in the lanes of one vector.
template <std::int32_t Sections, bool HighPass>
void runCascade(const AudioBuffers& buffers, bool replacing, OnePole k, float (&state)[2][kMaxSections]) {
    StereoPair s[Sections];
    for (std::int32_t j = 0; j < Sections; ++j)
        s[j] = StereoPair{state[0][j], state[1][j]};
    const float* inL = buffers.inputs[0];
    const float* inR = buffers.inputs[1];
    float* outL = buffers.outputs[0];
    float* outR = buffers.outputs[1];
    for (std::int32_t i = 0; i < buffers.frames; ++i) {
        StereoPair x = {inL[i], inR[i]};
        for (std::int32_t j = 0; j < Sections; ++j)
            x = k.step<HighPass>(x, s[j]);
        if (replacing) {
            outL[i] = x[0];
            outR[i] = x[1];
        } else {
            outL[i] += x[0];
            outR[i] += x[1];
        }
    }
    for (std::int32_t j = 0; j < Sections; ++j) {
        state[0][j] = s[j][0];
        state[1][j] = s[j][1];
    }
}

class RcFilter final : public HostedEffect {
  public:
    RcFilter() : HostedEffect("RC Filter", kRcFilterParams, kRcFilterParamCount) {}

    void clear() override {}

    // Audio thread, at block start.
    void reset() override {
        for (auto& cascade : state)
            for (auto& channel : cascade)
                for (float& s : channel)
                    s = 0.0f;
    }

    void parameterChanged(std::int32_t index) override {
        if (index == kFrequency)
            cutoffHz = cutoffHzFor(values[kFrequency]);
        else if (index == kMode)
            mode = truncatedInt(values[kMode]);
    }

    // Control side; reads values only.
    void formatValue(std::int32_t index, char* text, std::int32_t maxLength) override {
        if (index == kFrequency)
            formatFrequency(cutoffHzFor(values[kFrequency]), text);
        else if (index == kMode)
            std::sprintf(text, "%s", kModeNames[truncatedInt(values[kMode]) & 7]);
        else
            HostedEffect::formatValue(index, text, maxLength);
    }

    // Audio thread. Coefficients follow the cut-off once per block.
    void process(AudioBuffers& buffers, bool replacing) override {
        if (!(sampleRate > 0.0f)) {
            passThrough(buffers, replacing);
            return;
        }
        if (mode < 0 || mode >= kModeCount) return;
        const OnePole k = OnePole::at(cutoffHz, sampleRate);
        float(&s)[2][kMaxSections] = state[mode];
        switch (mode) {
        case 0:
            runCascade<1, true>(buffers, replacing, k, s);
            break;
        case 1:
            runCascade<2, true>(buffers, replacing, k, s);
            break;
        case 2:
            runCascade<3, true>(buffers, replacing, k, s);
            break;
        case 3:
            runCascade<4, true>(buffers, replacing, k, s);
            break;
        case 4:
            runCascade<1, false>(buffers, replacing, k, s);
            break;
        case 5:
            runCascade<2, false>(buffers, replacing, k, s);
            break;
        case 6:
            runCascade<3, false>(buffers, replacing, k, s);
            break;
        default:
            runCascade<4, false>(buffers, replacing, k, s);
            break;
        }
    }

  private:
    float cutoffHz = 0.0f;
    std::int32_t mode = 0;
    // Integrator state per mode, channel and section.
    float state[kModeCount][2][kMaxSections] = {};
};

} // namespace

HostedEffect* createRcFilter() {
    return new RcFilter;
}

} // namespace quor
