// Phaser: per channel a chain of 2 to 128 first-order all-passes whose common
// break frequency a shaped triangle LFO sweeps exponentially between a lower
// and an upper frequency, with feedback from the chain's output to its input
// and a dry/wet mix. The right channel's LFO runs at an adjustable phase
// offset from the left one.
#include "dsp/dry_wet_mix.h"
#include "dsp/param_smoother.h"
#include "dsp/shaped_triangle.h"
#include "effects/effects.h"
#include "effects/pass_through.h"
#include "effects/phaser_coefficient.h"
#include "framework/display.h"
#include "framework/effect.h"
#include "framework/numeric.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace quor {

namespace {

enum PhaserParam { kRate, kWidth, kShape, kFrequency, kDepth, kFeedback, kStages, kMix, kPhaserParamCount };

const ParamInfo kPhaserParams[kPhaserParamCount] = {
    {"Rate", 0.0f, 1.0f, 0, 0.15f},      {"Width", 0.0f, 1.0f, 0, 0.5f},  {"Shape", 0.0f, 1.0f, 0, 0.5f},
    {"Frequency", 0.0f, 1.0f, 0, 0.35f}, {"Depth", 0.0f, 1.0f, 0, 0.65f}, {"Feedback", 0.0f, 1.0f, 0, 0.7f},
    {"Stages", 0.0f, 7.0f, 1, 4.0f},     {"Mix", 0.0f, 1.0f, 0, 0.5f},
};

constexpr std::int32_t kMaxStages = 128;
const std::int32_t kStageTable[8] = {2, 4, 6, 8, 12, 16, 24, kMaxStages};

constexpr float kLn10 = 2.3025851f;
constexpr float kTopHz = 24000.0f;

// Any stored value, however it got there, picks a row of the table.
std::int32_t stagesFor(float v) {
    return kStageTable[std::clamp(truncatedInt(v), 0, 7)];
}

// The lower sweep frequency, 20 Hz to 24 kHz, exponential in v.
float lowerHzFor(float v) {
    const float lnRatio = std::log(semitoneRatio);
    return 20.0f * std::pow(semitoneRatio, 7.090077f * v / lnRatio);
}

// The upper sweep frequency: Depth spans the octaves from the lower one to 24 kHz.
float upperHzFor(float lowerHz, float depth) {
    const float lnRatio = std::log(semitoneRatio);
    return lowerHz * std::pow(semitoneRatio, depth * std::log(kTopHz / lowerHz) / lnRatio);
}

// -0.95 to 0.95, none at the centre.
float feedbackFor(float v) {
    const float t = 2.0f * v - 1.0f;
    return 0.95f * 1.5f * t / (std::fabs(t) + 0.5f);
}

float normalised(float hz, float sampleRate) {
    return std::clamp(hz / sampleRate, 0.0f, 0.5f);
}

class Phaser final : public HostedEffect {
  public:
    Phaser() : HostedEffect("Phaser", kPhaserParams, kPhaserParamCount), slowSmoother(3), fastSmoother(1) {}

    void clear() override {}

    // Audio thread, at block start. The smoothed quantities stay.
    void reset() override {
        phase = 0.0f;
        std::fill(std::begin(allpassState), std::end(allpassState), 0.0f);
        feedbackState[0] = feedbackState[1] = 0.0f;
    }

    void sampleRateChanged() override {
        slowSmoother.configure(0.2f, sampleRate);
        fastSmoother.configure(0.01f, sampleRate);
    }

    void parameterChanged(std::int32_t index) override {
        if (index == kFrequency || index == kDepth) {
            rangeDirty = true;
        } else if (index == kMix) {
            const DryWetMix mix(values[kMix]);
            slowSmoother.setTarget(&dryGain, mix.dry);
            slowSmoother.setTarget(&wetGain, mix.wet);
        }
    }

    // Control side; reads values only.
    void formatValue(std::int32_t index, char* text, std::int32_t maxLength) override {
        const float v = values[index];
        if (index == kRate)
            std::sprintf(text, "%0.1f Hz", static_cast<double>(v * v * v * 29.99f + 0.01f));
        else if (index == kStages)
            std::sprintf(text, "%i", stagesFor(v));
        else if (index == kFrequency)
            formatFrequency(lowerHzFor(v), text);
        else
            HostedEffect::formatValue(index, text, maxLength);
    }

    // Audio thread.
    void process(AudioBuffers& buffers, bool replacing) override {
        if (!(sampleRate > 0.0f)) {
            passThrough(buffers, replacing);
            return;
        }
        const double v = values[kRate];
        const auto rateHz = static_cast<float>(v * v * v * double{29.99f} + double{0.01f});
        const float shape = 2.0f * values[kShape] - 1.0f;
        const float width = values[kWidth] * 0.5f;
        const float feedback = feedbackFor(values[kFeedback]);
        const std::int32_t stages = stagesFor(values[kStages]);
        if (rangeDirty) updateSweep();
        const float inc = 1.0f / (sampleRate / rateHz);

        // Both channels start from the phase at the block start.
        float p[2] = {phase, phase + width};
        if (p[1] > 1.0f) p[1] = p[1] - 1.0f;
        float fb[2] = {feedbackState[0], feedbackState[1]};
        float* state[2] = {allpassState, allpassState + stages};

        // Chunk by chunk: first the LFO and the smoothed values of every
        // frame; then the chains of both channels frame by frame, side by
        // side, while the coefficients of the next frame are computed, which
        // do not depend on the audio.
        constexpr std::int32_t kChunk = 64;
        float lfoAt[kChunk + 1][2] = {}, rangeAt[kChunk + 1] = {}, lowAt[kChunk + 1] = {};
        float dryAt[kChunk], wetAt[kChunk];
        for (std::int32_t from = 0; from < buffers.frames; from += kChunk) {
            const std::int32_t frames = std::min(kChunk, buffers.frames - from);
            for (std::int32_t i = 0; i < frames; ++i) {
                for (std::int32_t c = 0; c < 2; ++c) {
                    lfoAt[i][c] = shapedTriangle(p[c], shape);
                    p[c] = p[c] + inc;
                    if (p[c] >= 1.0f) p[c] = p[c] - 1.0f;
                }
                rangeAt[i] = sweepRange;
                lowAt[i] = lowNorm;
                dryAt[i] = dryGain;
                wetAt[i] = wetGain;
                slowSmoother.markActive();
                slowSmoother.advance();
                fastSmoother.markActive();
                fastSmoother.advance();
            }
            float next[2];
            phaserCoefficientPair(lfoAt[0], rangeAt[0], lowAt[0], next);
            for (std::int32_t i = 0; i < frames; ++i) {
                const float a[2] = {next[0], next[1]};
                phaserCoefficientPair(lfoAt[i + 1], rangeAt[i + 1], lowAt[i + 1], next);
                const float x[2] = {buffers.inputs[0][from + i], buffers.inputs[1][from + i]};
                float u[2] = {x[0] + fb[0] * feedback, x[1] + fb[1] * feedback};
                for (std::int32_t j = 0; j < stages; ++j)
                    for (std::int32_t c = 0; c < 2; ++c) {
                        float& z = state[c][j];
                        const float y = z - a[c] * u[c];
                        z = a[c] * y + u[c];
                        u[c] = y;
                    }
                for (std::int32_t c = 0; c < 2; ++c) {
                    fb[c] = u[c];
                    const float y = u[c] * wetAt[i] + x[c] * dryAt[i];
                    float& out = buffers.outputs[c][from + i];
                    out = replacing ? y : out + y;
                }
            }
        }
        phase = p[0];
        feedbackState[0] = fb[0];
        feedbackState[1] = fb[1];
    }

  private:
    // Block start. The range target is taken against the lower bound as it
    // stands now, so it keeps following a gliding lower bound until both settle.
    void updateSweep() {
        const float lowerHz = lowerHzFor(values[kFrequency]);
        const float upperHz = upperHzFor(lowerHz, values[kDepth]);
        fastSmoother.setTarget(&lowNorm, normalised(lowerHz, sampleRate));
        const float upper = normalised(upperHz, sampleRate);
        slowSmoother.setTarget(&sweepRange, std::log(upper / lowNorm) / kLn10);
    }

    float phase = 0.0f; // left LFO, cycles
    // Channel c with N stages uses entries c N .. c N + N - 1.
    float allpassState[2 * kMaxStages] = {};
    float feedbackState[2] = {};
    float lowNorm = 0.0f;    // lower sweep frequency / sample rate, at most 0.5
    float sweepRange = 0.0f; // decades from the lower to the upper sweep frequency
    float dryGain = 0.0f;
    float wetGain = 0.0f;
    bool rangeDirty = false;    // set by Frequency or Depth; stays set, so the range keeps following
    ParamSmoother slowSmoother; // 0.2 s: range, dry, wet
    ParamSmoother fastSmoother; // 0.01 s: lower bound
};

} // namespace

HostedEffect* createPhaser() {
    return new Phaser;
}

} // namespace quor
