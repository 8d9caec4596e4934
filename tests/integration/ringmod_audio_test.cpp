// The Ringmod bit for bit against a channel-by-channel model, with and without
// side-chain buffers, and its texts.
#include "tests/support/effect_model.h"

namespace quor::test {
namespace {

struct RingmodModel : model::Effect {
    explicit RingmodModel(float rate) : fs(rate), clock(0.2f, rate) {
        values = {0.3f, 1.0f, 0.0f, 0.0f, 0.0f};
        inputs = 4;
        for (int i = 0; i < 4; ++i)
            changed(i);
    }
    void changed(int index) override {
        const float v = values[static_cast<std::size_t>(index)], f = std::pow(v, 3.0f) * 15999.0f + 1.0f;
        if (index == 0) clock.set(increment, std::clamp((f + f) / (fs + fs), 0.0f, 1.0f));
        if (index == 1) clock.set(depth, v);
        if (index == 3)
            k = v / (std::fabs(v) + 0.03f) * -1.03f * 4.99f + 5.0f, m = v <= 0.1f ? 1.0f - 10.0f * v : 0.0f;
    }
    void process(const float* const* in, float* const* out, int frames, bool replacing) override {
        const model::Glide glides[2] = {increment, depth}; // each channel replays them
        const float start = phase;
        for (int c = 0; c < 2; ++c) {
            increment = glides[0], depth = glides[1];
            float p = start;
            if (c == 1) {
                const float x = (values[2] * 0.5f + start) * 0.5f + 0.5f;
                p = 2.0f * (x - std::floor(x) - 0.5f);
            }
            const float* side = values[4] > 0.5f ? in[2 + c] : nullptr; // none: the oscillator
            // Two soft clips, the first blended in by m.
            const auto gain = [&](float s) {
                float w = s / (std::fabs(s) + k) * (k + 1.0f);
                w = (s - w) * m + w;
                return (w / (std::fabs(w) + k) * (k + 1.0f) - 1.0f) * depth.value + 1.0f;
            };
            const auto osc = [](float q) {
                float t = q * 0.5f;
                t = (8.0f - std::fabs(t) * 16.0f) * t;
                return 1e-10f - ((std::fabs(t) - 1.0f) * 0.216f + 1.0f) * t;
            };
            const auto advance = [&] {
                p = p + increment.value;
                if (p >= 1.0f) p = p - 2.0f;
            };
            for (int i = 0; i < frames; ++i) {
                float a, b, ga, gb;
                os[c].up(in[c][i] + 1e-10f, a, b);
                if (side) {
                    float sa, sb;
                    sideUp[c].up(side[i], sa, sb);
                    ga = gain(sa + 1e-10f);
                    gb = gain(sb + 1e-10f);
                    advance();
                    advance();
                } else {
                    ga = gain(osc(p));
                    advance();
                    gb = gain(osc(p));
                    advance();
                }
                const float y = os[c].down(a * ga, b * gb);
                out[c][i] = replacing ? y : out[c][i] + y;
                clock.live = true;
                clock.step(increment), clock.step(depth);
            }
            if (c == 0) phase = p;
        }
    }

    float fs, phase = 0.0f, k = 0.0f, m = 0.0f;
    model::GlideClock clock;
    model::Glide increment, depth;
    model::Halfband os[2], sideUp[2];
};

TEST(RingmodAudio, MatchesTheModelBitForBit) {
    // Rate and depth glide; the side-chain is switched on and off, its
    // buffers withheld, one or both (a channel without one takes the oscillator).
    const std::vector<model::Settings> cases = {
        {},                                 // internal sine-like carrier
        {{2, 1.0f}, {3, 0.05f}, {1, 0.6f}}, // quarter-cycle lead, half-blended clip
        {{4, 1.0f}, {3, 1.0f}, {0, 1.0f}},  // side-chain carrier, nearly square; 16 kHz otherwise
        {{4, 1.0f}, {2, 0.5f}, {3, 0.1f}}};
    const std::vector<model::Change> changes = {{2, 0, 0.7f}, {2, 1, 0.3f}, {3, 4, 1.0f}, {5, 2, 0.3f},
                                                {5, 3, 0.5f}, {7, 0, 0.1f}, {8, 4, 0.0f}};
    model::expectSameAudio<RingmodModel>("Ringmod", {44100.0f, 96000.0f}, cases, changes);
}

TEST(RingmodAudio, Texts) {
    const std::vector<model::TextRow> rows = {{0, 0.3f, "433.0 Hz"},   {0, 0.0f, "1.0 Hz"},
                                              {0, 1.0f, "16000.0 Hz"}, {3, 0.5f, "50%"},
                                              {4, 1.0f, "On"},         {4, 0.4f, "Off"}};
    model::expectTexts("Ringmod", rows);
}

} // namespace
} // namespace quor::test
