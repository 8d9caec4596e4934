// The Rectifier, Clipper and Multiplier bit for bit against frame-by-frame
// models, oversampled and not, with glides restarted, ended and, for the
// Multiplier's drive, dropped; and their texts.
#include "tests/support/effect_model.h"

namespace quor::test {
namespace {

using model::Glide;

// A memoryless curve at the rate or between the half-band filters.
struct Stage : model::Effect {
    Stage(float seconds, float rate) : clock(seconds, rate) {}
    virtual float curve(float u) const = 0;
    virtual void step() = 0;
    void process(const float* const* in, float* const* out, int frames, bool replacing) override {
        const bool oversample = values.back() > 0.5f;
        for (int i = 0; i < frames; ++i) {
            for (int c = 0; c < 2; ++c) {
                float a = in[c][i], b = 0.0f;
                if (oversample) os[c].up(in[c][i], a, b);
                const float y = oversample ? os[c].down(curve(a), curve(b)) : curve(a);
                out[c][i] = replacing ? y : out[c][i] + y;
            }
            clock.live = true;
            step();
        }
    }
    model::GlideClock clock;
    model::Halfband os[2];
};

struct RectifierModel : Stage {
    explicit RectifierModel(float rate) : Stage(0.2f, rate) {
        values = {1.0f, 1.0f, 0.0f};
        changed(0);
    }
    void changed(int i) override {
        if (i == 0) clock.set(depth, values[0]);
    }
    float curve(float u) const override {
        return (std::fabs(u) * (values[1] > 0.5f ? 1.0f : -1.0f) - u) * depth.value + u;
    }
    void step() override { clock.step(depth); }
    Glide depth;
};

struct ClipperModel : Stage {
    explicit ClipperModel(float rate) : Stage(0.5f, rate) {
        values = {1.0f, 1.0f, 0.0f, 0.0f};
        changed(0);
    }
    void changed(int i) override {
        if (i == 0) clock.set(dry, 1.0f - values[0]), clock.set(wet, values[0]);
    }
    float curve(float u) const override {
        const float t = std::pow(10.0f, (1.0f - values[1]) * -48.0f / 20.0f);
        const float c = u < -t ? -t : std::min(t, u);
        return u * dry.value + c * wet.value * std::pow(10.0f, values[2] * 48.0f / 20.0f);
    }
    void step() override { clock.step(dry), clock.step(wet); }
    Glide dry, wet;
};

float curve(int mode, float x) {
    const auto h = [](float t) {
        return ((2.0f - std::fabs(2.5999999f * t)) * (2.5999999f * t) + 1e-10f) * 0.73619998f + t;
    };
    const auto g = [](float t) { return (t / (t * t + 1.0f) + 1e-10f) * 2.1f - t; };
    if (mode == 0) return h(h(h(std::clamp(x, -1.15f, 1.15f)))) * 0.8625f * 0.5f;
    if (mode == 1) {
        const float t = g(g(g(g(g(g(std::clamp(x, -4.25f, 4.25f)))))));
        return t * 0.8625f + t * 0.8625f;
    }
    const float t = g(g(g(2.0f * std::clamp(x, -2.0f, 2.0f)))) * 0.5f;
    return g(g(g(2.0f * h(t)))) * 0.5f * 0.8625f * 4.0f;
}

struct MultiplierModel : model::Effect {
    explicit MultiplierModel(float rate) : fs(rate), clock(0.2f, rate), pre{rate}, post{rate} {
        values = {0.5f, 0.5f, 0.0f, 0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.4f, 0.5f};
        highs = {1, 1, 1, 1, 1, 1, 1, 2, 1, 1, 1};
        for (int i = 0; i < 11; ++i)
            changed(i);
    }
    static void setTone(model::TonePair& pair, float x) {
        const float slope = -0.100000024f; // 0xBDCCCCD0
        const float t = x > 0.5f ? 2.0f * (x - 0.5f) : 2.0f * x;
        const float c = t / (std::fabs(t) - 1.1f) * slope * 0.5f + (x > 0.5f ? 0.5f : 0.0f);
        const float e = 0.5f - std::fabs(x - 0.5f), q = (2.0f - e) * e;
        const float a = std::clamp(c + q, 0.0f, 1.0f), b = std::clamp(c - q, 0.0f, 1.0f);
        pair.highCut = 19980.0f * (a * a) + 20.0f;
        pair.lowCut = 19980.0f * (b * b) + 20.0f;
    }
    float driveTarget() const {
        const float d = values[5];
        return mode == 1 ? d * 15.0f + 0.75f : d / (std::fabs(d) - 3.0f) * -2.0f * 3.0f + 0.04f;
    }
    void changed(int i) override {
        const float x = values[static_cast<std::size_t>(i)];
        if (i == 0) clock.set(dry, model::dryWet(x).dry), clock.set(wet, model::dryWet(x).wet);
        if (i == 1 || i == 4) setTone(i == 1 ? post : pre, x);
        if (i == 2) clock.set(gain, std::pow(10.0f, (0.0f + x * 24.0f) / 20.0f));
        if (i == 5) clock.set(drive, driveTarget());
        if (i == 6) clock.set(bias, x * 0.5f);
        if (i == 7) mode = static_cast<int>(x), drive = {driveTarget(), driveTarget(), 0.0f};
        if (i == 8) clock.set(mod, x);
        if (i == 9) increment = (x * x * 4.9f + 0.1f) / fs;
    }
    void process(const float* const* in, float* const* out, int frames, bool replacing) override {
        const float dryAtStart = dry.value, wetAtStart = wet.value;
        phase[0] = phase[1] + values[10] * 0.5f;
        if (phase[0] >= 1.0f) phase[0] = phase[0] - 1.0f;
        for (int i = 0; i < frames; ++i) {
            for (int c = 0; c < 2; ++c) {
                const float sweep = std::fabs(2.0f * phase[c] - 1.0f) * (mode == 1 ? 4.0f : 0.5f) * mod.value;
                const float s = sweep + (c == 0 ? -bias.value : bias.value) * (mode == 1 ? 1.0f : 0.1f) +
                                pre(c, in[c][i]) * drive.value;
                float even, odd, w = curve(mode, s);
                if (values[3] > 0.5f)
                    os[c].up(s, even, odd), w = os[c].down(curve(mode, even), curve(mode, odd));
                const float y = in[c][i] * dryAtStart + post(c, w) * wetAtStart * gain.value;
                out[c][i] = replacing ? 0.0f + y : out[c][i] + y; // replacing adds to a zeroed output
                phase[c] = phase[c] + increment;
                if (phase[c] >= 1.0f) phase[c] = phase[c] - 1.0f;
            }
            clock.live = true;
            for (Glide* q : {&dry, &wet, &gain, &drive, &bias, &mod})
                clock.step(*q);
        }
    }

    float fs, increment = 0.0f, phase[2] = {};
    int mode = 0;
    model::GlideClock clock;
    Glide dry, wet, gain, drive, bias, mod;
    model::TonePair pre, post;
    model::Halfband os[2];
};

TEST(ShaperAudio, RectifierMatchesTheModel) {
    model::expectSameAudio<RectifierModel>(
        "Rectifier", {8000.0f, 44100.0f}, {{}, {{2, 1.0f}, {1, 0.0f}, {0, 0.3f}}},
        {{1, 0, 0.5f}, {3, 1, 0.0f}, {3, 2, 0.0f}, {4, 0, 0.2f}, {5, 2, 0.7f}, {6, 0, 0.9f}, {8, 1, 1.0f}});
}

TEST(ShaperAudio, ClipperMatchesTheModel) {
    model::expectSameAudio<ClipperModel>(
        "Clipper", {8000.0f, 44100.0f}, {{{1, 0.7f}, {2, 0.3f}}, {{3, 1.0f}, {1, 0.0f}, {2, 1.0f}}},
        {{1, 0, 0.4f}, {2, 0, 0.6f}, {3, 1, 0.2f}, {3, 3, 0.0f}, {4, 0, 0.9f}, {5, 3, 0.6f}});
}

TEST(ShaperAudio, MultiplierMatchesTheModel) {
    // Mode 0.99 stays on the middle curve; only the top value reaches the
    // last. Tone 0.4 and preTone 0.276 are sensitive to the last bit of the
    // tone mapping's slope.
    std::vector<model::Settings> cases;
    for (float mode : {0.0f, 0.99f, 1.0f})
        for (float oversample : {0.0f, 1.0f})
            cases.push_back({{7, mode}, {3, oversample}, {8, 0.7f}, {6, 0.3f}, {9, 1.0f}, {10, 0.8f}});
    const std::vector<model::Change> changes = {{1, 5, 0.9f},  {2, 2, 0.6f}, {3, 3, 0.0f},   {4, 0, 0.9f},
                                                {4, 4, 0.85f}, {5, 1, 0.4f}, {5, 4, 0.276f}, {6, 3, 1.0f},
                                                {6, 5, 0.1f},  {7, 7, 0.5f}, {8, 8, 0.0f}};
    model::expectSameAudio<MultiplierModel>("Multiplier", {8000.0f, 44100.0f}, cases, changes);
}

TEST(ShaperAudio, Texts) {
    const std::vector<model::TextRow> clipper = {{1, 1.0f, "-0.0 dB"},
                                                 {1, 0.0f, "-48.0 dB"},
                                                 {2, 0.0f, "+0.0 dB"},
                                                 {2, 1.0f, "+48.0 dB"},
                                                 {3, 0.7f, "Off"}};
    model::expectTexts("Rectifier", {{1, 0.7f, "Positive"}, {1, 0.5f, "Negative"}, {2, 0.7f, "On"}});
    model::expectTexts("Clipper", clipper);
    model::expectTexts("Multiplier", {{7, 0.99f, "1"}, {7, 1.0f, "2"}});
}

} // namespace
} // namespace quor::test
