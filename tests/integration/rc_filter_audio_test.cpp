// The RC Filter through the plug-in interface: its audio against a
// section-by-section model, its response at DC and at the cut-off, its texts.
#include "tests/support/effect_model.h"

namespace quor::test {
namespace {

class RcFilterModel final : public model::Effect {
  public:
    explicit RcFilterModel(float rate) : rate(rate) {
        values = {0.0f, 0.0f};
        highs = {1.0f, 7.0f};
        changed(0);
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
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < frames; ++i) {
                float x = in[c][i];
                for (int j = 0; j <= mode % 4; ++j) {
                    float& s = state[mode][c][j];
                    const float hp = K * x - G * s, l = (g * x + s) * G;
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
    // Every mode; a cut-off change, a switch to another mode and back (the
    // cascade left behind resumes), a cut-off above Nyquist.
    for (float rate : {44100.0f, 96000.0f})
        for (int mode = 0; mode < 8; ++mode) {
            const float m = static_cast<float>(mode) / 7.0f;
            RcFilterModel reference(rate);
            model::expectSameAudio("RC Filter", reference, rate, {{1, m}, {0, 0.35f}},
                                   {{257, true},
                                    {1, false},
                                    {700, true, {{0, 0.6f}}},
                                    {333, false, {{1, 1.0f - m}}},
                                    {64, true, {{1, m}}},
                                    {129, false, {{0, 1.0f}}}});
        }
}

TEST(RcFilterAudio, DcAndCutoffResponsePerMode) {
    // DC vanishes through the high-passes and passes whole through the
    // low-passes; at the cut-off (934.5 Hz) each section gives 1/sqrt(2).
    const float frequency = 0.33f, rate = 48000.0f;
    const double cutoffHz = frequency * frequency * frequency * 25999.9f + 0.1f;
    for (int mode = 0; mode < 8; ++mode) {
        TestHost host("RC Filter");
        host.setParam(0, frequency);
        host.setParam(1, static_cast<float>(mode) / 7.0f);
        host.start(rate);
        std::vector<float> l(4800, 1.0f), r = l;
        host.processReplacing(l, r);
        EXPECT_NEAR(l.back(), mode < 4 ? 0.0f : 1.0f, 1e-5f) << "mode " << mode;

        std::vector<double> x(48000);
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] = std::sin(2.0 * 3.141592653589793 * cutoffHz / rate * static_cast<double>(i));
        l.assign(x.begin(), x.end());
        r = l;
        host.processReplacing(l, r);
        double in = 0.0, out = 0.0;
        for (std::size_t i = 24000; i < x.size(); ++i)
            in += x[i] * x[i], out += static_cast<double>(l[i]) * l[i];
        EXPECT_NEAR(std::sqrt(out / in), std::pow(0.5, 0.5 * (mode % 4 + 1)), 2e-4) << "mode " << mode;
    }
}

TEST(RcFilterAudio, Texts) {
    model::expectTexts("RC Filter", {{0, 0.0f, "0.10 Hz"},
                                     {0, 1.0f, "26.0 kHz"},
                                     {0, 0.33f, "934 Hz"},
                                     {1, 0.0f, "H 6"},
                                     {1, 3.0f / 7.0f, "H 24"},
                                     {1, 0.99f, "L 18"}, // 6.93 truncates
                                     {1, 1.0f, "L 24"}});
}

} // namespace
} // namespace quor::test
