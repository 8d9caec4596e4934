// The RC Filter bit for bit against a section-by-section model, and its texts.
#include "tests/support/effect_model.h"

namespace quor::test {
namespace {

struct RcFilterModel : model::Effect {
    explicit RcFilterModel(float rate) : rate(rate) {
        values = {0.0f, 0.0f};
        highs = {1.0f, 7.0f};
    }
    void process(const float* const* in, float* const* out, int frames, bool replacing) override {
        const int mode = static_cast<int>(values[1]);
        const float cutoff = values[0] * values[0] * values[0] * 25999.9f + 0.1f;
        const float g = model::tangentPolynomial(3.1415927f * cutoff / rate);
        const float G = 1.0f / (g + 1.0f), K = 1.0f - G * g;
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < frames; ++i) {
                float x = in[c][i];
                for (int j = 0; j <= mode % 4; ++j) {
                    float& s = state[mode][c][j]; // each mode keeps its own cascade
                    const float hp = K * x - G * s, l = (g * x + s) * G;
                    s = (x - l) * g + l;
                    x = mode < 4 ? hp : l;
                }
                out[c][i] = replacing ? x : out[c][i] + x;
            }
    }

    float rate, state[8][2][4] = {};
};

TEST(RcFilterAudio, MatchesTheModelBitForBit) {
    // Every mode; a cut-off change, a switch to another mode and back (the
    // cascade left behind resumes), a cut-off above Nyquist.
    std::vector<model::Settings> cases;
    for (int mode = 0; mode < 8; ++mode)
        cases.push_back({{1, static_cast<float>(mode) / 7.0f}, {0, 0.35f}});
    model::expectSameAudio<RcFilterModel>(
        "RC Filter", {44100.0f, 96000.0f}, cases,
        {{2, 0, 0.6f}, {3, 1, 0.5f}, {4, 0, 0.2f}, {5, 1, 1.0f}, {6, 1, 0.5f}, {7, 0, 1.0f}});
}

TEST(RcFilterAudio, Texts) {
    const std::vector<model::TextRow> rows = {
        {0, 0.0f, "0.10 Hz"},     {0, 1.0f, "26.0 kHz"}, {0, 0.33f, "934 Hz"}, {1, 0.0f, "H 6"},
        {1, 3.0f / 7.0f, "H 24"}, {1, 1.0f, "L 24"},     {1, 0.99f, "L 18"}}; // 6.93 truncates
    model::expectTexts("RC Filter", rows);
}

} // namespace
} // namespace quor::test
