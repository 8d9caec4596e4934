// The Phaser bit for bit against a channel-by-channel model, and its texts.
#include "tests/support/effect_model.h"

namespace quor::test {
namespace {

const int kStages[8] = {2, 4, 6, 8, 12, 16, 24, 128};
const float kRatio = std::pow(2.0f, 1.0f / 12.0f);

struct PhaserModel : model::Effect {
    explicit PhaserModel(float rate) : rate(rate), slow(0.2f, rate), fast(0.01f, rate) {
        values = {0.15f, 0.5f, 0.5f, 0.35f, 0.65f, 0.7f, 4.0f, 0.5f};
        highs = {1, 1, 1, 1, 1, 1, 7, 1};
        changed(7);
    }
    void changed(int index) override {
        if (index == 7)
            slow.set(dry, model::dryWet(values[7]).dry), slow.set(wet, model::dryWet(values[7]).wet);
    }
    void process(const float* const* in, float* const* out, int frames, bool replacing) override {
        const double v = values[0];
        const auto rateHz = static_cast<float>(v * v * v * double{29.99f} + double{0.01f});
        const float s = 2.0f * values[2] - 1.0f, width = values[1] * 0.5f, t = 2.0f * values[5] - 1.0f;
        const float feedback = 0.95f * 1.5f * t / (std::fabs(t) + 0.5f);
        const int n = kStages[static_cast<int>(values[6])];
        const float lo = 20.0f * std::pow(kRatio, 7.090077f * values[3] / std::log(kRatio));
        const float hi = lo * std::pow(kRatio, values[4] * std::log(24000.0f / lo) / std::log(kRatio));
        fast.set(lowNorm, std::clamp(lo / rate, 0.0f, 0.5f));
        slow.set(range, std::log(std::clamp(hi / rate, 0.0f, 0.5f) / lowNorm.value) / 2.3025851f);
        const model::Glide start[4] = {lowNorm, range, dry, wet}; // each channel replays the glides
        const float inc = 1.0f / (rate / rateHz), begin = phase;
        for (int c = 0; c < 2; ++c) {
            float p = begin;
            if (c == 1 && (p = begin + width) > 1.0f) p = p - 1.0f;
            lowNorm = start[0], range = start[1], dry = start[2], wet = start[3];
            for (int i = 0; i < frames; ++i) {
                const float tri = 2.0f * std::fabs(2.0f * p - 1.0f) - 1.0f;
                const float lfo = (1.0f + s - std::fabs(tri) * s) * tri * 0.5f + 0.5f;
                const double w = std::exp(double{2.3025851f} * range.value * lfo) * lowNorm.value *
                                 (double{3.1415927f} * double{1.2f});
                const double w2 = w * w, g = ((double{0.2033f} * w2 + double{0.31755f}) * w2 + 1.0) * w;
                const auto a = static_cast<float>(
                    std::clamp((1.0 - g) / (g + 1.0), -double{0.99999f}, double{0.99999f}));
                float u = in[c][i] + fb[c] * feedback;
                for (int j = 0; j < n; ++j) {
                    float& z = allpass[c * n + j];
                    const float y = z - a * u;
                    z = a * y + u;
                    u = y;
                }
                fb[c] = u;
                const float y = u * wet.value + in[c][i] * dry.value;
                out[c][i] = replacing ? y : out[c][i] + y;
                slow.live = fast.live = true;
                fast.step(lowNorm), slow.step(range), slow.step(dry), slow.step(wet);
                p = p + inc;
                if (p >= 1.0f) p = p - 1.0f;
            }
            if (c == 0) phase = p;
        }
    }

    float rate, phase = 0.0f, allpass[256] = {}, fb[2] = {};
    model::GlideClock slow, fast;
    model::Glide lowNorm, range, dry, wet;
};

TEST(PhaserAudio, MatchesTheModelBitForBit) {
    // Glides of the mix, the range and the lower bound, a change of stage
    // count (the states regroup) while the audio runs.
    const std::vector<model::Settings> cases = {
        {},                                                      // 12 stages
        {{1, 1.0f}, {2, 1.0f}, {5, 0.0f}, {6, 1.0f}},            // 128 stages, full width, sine-like
        {{1, 0.0f}, {2, 0.0f}, {5, 1.0f}, {6, 0.0f}, {0, 1.0f}}, // 2 stages, fast, sharp peaks
        {{3, 1.0f}, {4, 0.0f}, {7, 1.0f}}};                      // lower bound held at Nyquist, no sweep
    const std::vector<model::Change> changes = {{2, 7, 0.9f}, {2, 3, 0.2f}, {3, 4, 1.0f}, {5, 6, 3.0f / 7.0f},
                                                {5, 0, 0.6f}, {7, 3, 0.8f}, {7, 1, 0.3f}};
    model::expectSameAudio<PhaserModel>("Phaser", {44100.0f, 96000.0f}, cases, changes);
}

TEST(PhaserAudio, Texts) {
    std::vector<model::TextRow> rows = {{0, 0.15f, "0.1 Hz"}, {0, 1.0f, "30.0 Hz"},  {3, 0.35f, "239 Hz"},
                                        {3, 0.0f, "20.0 Hz"}, {3, 1.0f, "24.0 kHz"}, {5, 0.7f, "70%"}};
    for (int i = 0; i < 8; ++i)
        rows.push_back({6, static_cast<float>(i) / 7.0f, std::to_string(kStages[i])});
    model::expectTexts("Phaser", rows);
}

} // namespace
} // namespace quor::test
