// Tremolo: each channel multiplied by a periodic gain. The oscillator is a
// triangle phase bent by one rational curve whose constant k morphs from a
// rounded bump (k < 0) through a triangle (k = 100) and a sine-like curve
// (k = 1) to a nearly rectangular pulse (k -> 0). Width offsets the phase of
// the second channel.
#include "effects/effects.h"
#include "framework/effect.h"
#include "framework/numeric.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quor {

namespace {

enum TremoloParam { kRate, kDepth, kWidth, kShape, kTremoloParamCount };

const ParamInfo kTremoloParams[kTremoloParamCount] = {
    {"Rate", 0.0f, 1.0f, 0, 0.5f},
    {"Depth", 0.0f, 1.0f, 0, 1.0f},
    {"Width", 0.0f, 1.0f, 0, 0.0f},
    {"Shape", 0.0f, 4.0f, 0, 1.0f},
};

// Curvature breakpoints at Shape 0..4. The last entry repeats so that the
// interpolation at Shape 4 (fraction 0) reads a real neighbour.
const float kShapeBreakpoints[6] = {-1.0f, -0.1f, 0.0f, 1.0f, 2.7f, 2.7f};
const char* const kShapeNames[4] = {"Bump", "Triangle", "Sine", "Pulse"};

float rateHzFromValue(float v) { return v * v * 14.5f + 0.5f; }

// Gain curve g(a) for a triangle value a in [0, 1]; g(0) = 0 and g(1) = 1.
struct RoundedShape { // k <= 0
    float k;
    float operator()(float a) const { return a / (a * a + k) * (k + 1.0f); }
};
struct SteepShape { // 0 < k < 1
    float k;
    float operator()(float a) const {
        float u = 2.0f * a - 1.0f;
        u = 2.0f * u / (u * u + 1.0f);
        const float m = std::fabs(u);
        return u / (m + k) * (k + 1.0f) * 0.5f + 0.5f;
    }
};
struct SoftShape { // k >= 1
    float k;
    float operator()(float a) const {
        const float u = 2.0f * a - 1.0f;
        const float m = u * u;
        return u / (m + k) * (k + 1.0f) * 0.5f + 0.5f;
    }
};

class Tremolo final : public HostedEffect {
public:
    Tremolo() : HostedEffect("Tremolo", kTremoloParams, kTremoloParamCount) {}

    void clear() override { shapeCurve = 1.0f; }
    void reset() override { phase = 0.0f; }

    void parameterChanged(std::int32_t index) override {
        const float v = values[index];
        switch (index) {
        case kRate:
            rateHz = rateHzFromValue(v);
            break;
        case kWidth:
            halfWidth = v * 0.5f;
            break;
        case kShape:
            shapeCurve = shapeCurveFor(v);
            break;
        default:
            break; // Depth is read from values while processing
        }
    }

    void formatValue(std::int32_t index, char* text, std::int32_t maxLength) override {
        const float v = values[index];
        if (index == kRate) {
            std::sprintf(text, "%0.1f Hz", static_cast<double>(rateHzFromValue(v)));
        } else if (index == kShape) {
            std::sprintf(text, "%s", kShapeNames[truncatedInt(v - 0.5f) & 3]);
        } else {
            HostedEffect::formatValue(index, text, maxLength);
        }
    }

    // Audio thread.
    void process(AudioBuffers& buffers, bool replacing) override {
        const float k = shapeCurve;
        if (k <= 0.0f)
            run(buffers, replacing, RoundedShape{k});
        else if (k < 1.0f)
            run(buffers, replacing, SteepShape{k});
        else
            run(buffers, replacing, SoftShape{k});
    }

private:
    static float shapeCurveFor(float shape) {
        const std::int32_t j = std::clamp(truncatedInt(std::floor(shape)), 0, 4);
        const float f = shape - static_cast<float>(j);
        const float* t = kShapeBreakpoints;
        const float s = t[j] + (t[j + 1] - t[j]) * f;
        if (s == 0.0f) return 100.0f;
        if (s < 0.0f) return 1.0f / s - 1.0f;
        if (s <= 1.0f) return 1.0f / s;
        return 1.0f / (s * s * s);
    }

    template <typename Shape>
    void run(AudioBuffers& buffers, bool replacing, Shape shape) {
        const std::int32_t n = numInputs;
        if (n < 1) return;
        const float p0 = phase;
        // Without a sample rate the step would be infinite and the wrap below
        // endless: the oscillator then stands still.
        const float inc = sampleRate > 0.0f ? 1.0f / (sampleRate / rateHz) : 0.0f;
        const float depth = values[kDepth];
        const float undepth = 1.0f - depth;
        const float spread = n >= 2 ? 1.0f / static_cast<float>(n - 1) : 0.0f;
        for (std::int32_t c = 0; c < n; ++c) {
            // Every channel starts from the block's phase, so the stereo offset never drifts.
            float p = static_cast<float>(c) * spread * halfWidth + p0;
            const float* in = buffers.inputs[c];
            float* out = buffers.outputs[c];
            for (std::int32_t i = 0; i < buffers.frames; ++i) {
                p = p + inc;
                while (p >= 1.0f)
                    p = p - 1.0f;
                const float a = std::fabs(2.0f * p - 1.0f);
                const float gain = shape(a) * depth + undepth;
                const float y = in[i] * gain;
                if (replacing)
                    out[i] = y;
                else
                    out[i] += y;
            }
            if (c == 0) phase = p;
        }
    }

    float phase = 0.0f; // cycles
    float rateHz = 0.0f;
    float halfWidth = 0.0f; // phase offset of the last channel, cycles
    float shapeCurve = 0.0f;
};

} // namespace

HostedEffect* createTremolo() { return new Tremolo; }

} // namespace quor
