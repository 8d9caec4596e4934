// The Tremolo bit for bit against its modulator computed frame by frame.
#include "tests/support/effect_model.h"

namespace quor::test {
namespace {

// Gain curve over the triangle value a, with the curvature k of the shape.
float shapeGain(float a, float k) {
    if (k <= 0.0f) return a / (a * a + k) * (k + 1.0f);
    float u = 2.0f * a - 1.0f;
    float m = u * u;
    if (k < 1.0f) {
        u = 2.0f * u / (u * u + 1.0f);
        m = std::fabs(u);
    }
    return u / (m + k) * (k + 1.0f) * 0.5f + 0.5f;
}

float curvature(float shape) {
    static const float breakpoints[5] = {-1.0f, -0.1f, 0.0f, 1.0f, 2.7f};
    const int j = static_cast<int>(std::floor(shape));
    const float f = shape - static_cast<float>(j);
    const float s = j == 4 ? breakpoints[4] : breakpoints[j] + (breakpoints[j + 1] - breakpoints[j]) * f;
    if (s == 0.0f) return 100.0f;
    if (s < 0.0f) return 1.0f / s - 1.0f;
    if (s <= 1.0f) return 1.0f / s;
    return 1.0f / (s * s * s);
}

struct TremoloModel : model::Effect {
    explicit TremoloModel(float rate) : fs(rate) {
        values = {0.5f, 1.0f, 0.0f, 1.0f};
        highs = {1, 1, 1, 4};
    }
    void reset() override { phase = 0.0f; }
    void process(const float* const* in, float* const* out, int frames, bool replacing) override {
        const float depth = values[1], k = curvature(values[3]);
        const float inc = 1.0f / (fs / (values[0] * values[0] * 14.5f + 0.5f)), start = phase;
        for (int c = 0; c < 2; ++c) {
            float p = static_cast<float>(c) * (values[2] * 0.5f) + start;
            for (int i = 0; i < frames; ++i) {
                p = p + inc;
                while (p >= 1.0f)
                    p = p - 1.0f;
                const float y =
                    in[c][i] * (shapeGain(std::fabs(2.0f * p - 1.0f), k) * depth + (1.0f - depth));
                out[c][i] = replacing ? y : out[c][i] + y;
            }
            if (c == 0) phase = p;
        }
    }

    float fs, phase = 0.0f;
};

TEST(TremoloAudio, MatchesTheModelBitForBit) {
    // Every breakpoint, 4 included, and fractional shapes; the phase wraps
    // between and within blocks; a suspend starts the oscillator again from 0.
    std::vector<model::Settings> cases = {{{0, 0.5f}, {1, 0.0f}, {2, 1.0f}, {3, 0.5f / 4.0f}}};
    for (float shape : {0.0f, 0.5f, 1.0f, 1.2f, 2.0f, 2.5f, 3.0f, 3.7f, 4.0f})
        for (float width : {0.0f, 0.3f, 1.0f})
            cases.push_back({{0, width == 0.3f ? 0.8f : 1.0f}, {1, 0.8f}, {2, width}, {3, shape / 4.0f}});
    model::expectSameAudio<TremoloModel>("Tremolo", {11025.0f, 44100.0f}, cases,
                                         {{3, 1, 1.0f}, {5, 0, 0.3f}, {6, model::kSuspend, 0}, {8, 2, 0.5f}});
}

} // namespace
} // namespace quor::test
