// The RC Filter through the plug-in interface: its audio against a
// section-by-section model, its response at DC and at the cut-off, its texts.
#include "tests/support/effect_model.h"

namespace quor::test {
namespace {

class RcFilterModel final : public model::Effect {
  public:
    explicit RcFilterModel(float rate) : rate(rate) {
        values = {0.0f, 0.0f};
        lows = {0.0f, 0.0f};
        highs = {1.0f, 7.0f};
        changed(0);
        changed(1);
    }
    void changed(int index) override {
        const float v = values[static_cast<std::size_t>(index)];
        if (index == 0)
            cutoff = v * v * v * 25999.9f + 0.1f;
        else
            mode = static_cast<int>(v);
    }
    void process(const float* const* in, float* const* out, int frames, bool replacing) override {
        const float g = model::tangentPolynomial(3.1415927f * cutoff / rate);
        const float G = 1.0f / (g + 1.0f), K = 1.0f - G * g;
        const int sections = mode % 4 + 1;
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < frames; ++i) {
                float x = in[c][i];
                for (int j = 0; j < sections; ++j) {
                    float& s = state[mode][c][j];
                    const float hp = K * x - G * s;
                    const float l = (g * x + s) * G;
                    s = (x - l) * g + l;
                    x = mode < 4 ? hp : l;
                }
                out[c][i] = replacing ? x : out[c][i] + x;
            }
    }

  private:
    float rate, cutoff = 0.0f;
    int mode = 0;
    float state[8][2][4] = {};
};

TEST(RcFilterAudio, MatchesTheModelBitForBit) {
    // Every mode; a cut-off change and a switch to another mode and back
    // while audio runs (the left cascade resumes); a cut-off above Nyquist.
    for (float rate : {44100.0f, 96000.0f})
        for (int mode = 0; mode < 8; ++mode) {
            const float m = static_cast<float>(mode) / 7.0f;
            TestHost host("RC Filter");
            ASSERT_TRUE(host.loaded());
            RcFilterModel reference(rate);
            for (auto [index, value] : {std::pair{0, 0.35f}, {1, m}}) {
                host.setParam(index, value);
                reference.set(index, value);
            }
            host.start(rate);
            const std::vector<model::Block> blocks = {{257, true},
                                                      {1, false},
                                                      {700, true, {{0, 0.6f}}},
                                                      {333, false, {{1, 1.0f - m}}},
                                                      {64, true, {{1, m}}},
                                                      {129, false, {{0, 1.0f}}}};
            model::expectSameAudio(host, reference, blocks,
                                   "mode " + std::to_string(mode) + " at " + std::to_string(rate));
        }
}

// Amplitude of a steady sine at `hz` through the filter, after it settled.
float sineGain(const TestHost& host, float hz, float rate) {
    std::vector<float> l(48000), r(48000);
    for (std::size_t i = 0; i < l.size(); ++i)
        l[i] = r[i] = std::sin(2.0f * 3.14159265f * hz / rate * static_cast<float>(i));
    host.processReplacing(l, r);
    double in = 0.0, out = 0.0;
    for (std::size_t i = 24000; i < l.size(); ++i) {
        const double x = std::sin(2.0 * 3.14159265 * hz / rate * static_cast<double>(i));
        in += x * x;
        out += static_cast<double>(l[i]) * l[i];
    }
    return static_cast<float>(std::sqrt(out / in));
}

TEST(RcFilterAudio, DcAndCutoffResponsePerMode) {
    // DC vanishes through the high-passes and passes whole through the
    // low-passes; at the cut-off each section gives 1/sqrt(2).
    const float frequency = 0.33f, rate = 48000.0f;
    const float cutoffHz = frequency * frequency * frequency * 25999.9f + 0.1f; // 934.5 Hz
    for (int mode = 0; mode < 8; ++mode) {
        TestHost host("RC Filter");
        host.setParam(0, frequency);
        host.setParam(1, static_cast<float>(mode) / 7.0f);
        host.start(rate);
        std::vector<float> l(4800, 1.0f), r(4800, 1.0f);
        host.processReplacing(l, r);
        EXPECT_NEAR(l.back(), mode < 4 ? 0.0f : 1.0f, 1e-5f) << "mode " << mode;
        const float expected = std::pow(0.70710678f, static_cast<float>(mode % 4 + 1));
        EXPECT_NEAR(sineGain(host, cutoffHz, rate), expected, 2e-4f) << "mode " << mode;
    }
}

TEST(RcFilterAudio, Texts) {
    TestHost host("RC Filter");
    const struct {
        int index;
        float value;
        const char* text;
    } rows[] = {{0, 0.0f, "0.10 Hz"}, {0, 1.0f, "26.0 kHz"},    {0, 0.33f, "934 Hz"},
                {1, 0.0f, "H 6"},     {1, 3.0f / 7.0f, "H 24"}, {1, 0.99f, "L 18"}, // 6.93 truncates
                {1, 1.0f, "L 24"}};
    for (const auto& r : rows) {
        host.setParam(r.index, r.value);
        EXPECT_EQ(host.paramDisplay(r.index), r.text) << r.index << " at " << r.value;
    }
}

} // namespace
} // namespace quor::test
