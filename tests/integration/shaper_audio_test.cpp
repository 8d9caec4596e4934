// The Rectifier, Clipper and Multiplier through the plug-in interface, bit
// for bit against plain frame-by-frame models written here: odd block sizes,
// replacing and accumulating calls in turn, and parameter changes while audio
// runs (glides restarted, ended and, for the Multiplier's drive, dropped).
#include "dsp/halfband_oversampler.h"
#include "dsp/tone_filter_pair.h"
#include "tests/support/test_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace quor::test {
namespace {

// A quantity gliding by a one-pole ramp of fixed length once audio has run.
struct Glide {
    float value = 0.0f, target = 0.0f, remaining = 0.0f;
};
struct GlideClock {
    GlideClock(float seconds, float rate)
        : k(1.0f - std::pow(0.01f, 1.0f / (seconds * rate))),
          length(std::floor(-4.6051702f / std::log(1.0f - k)) + 1.0f) {}
    void set(Glide& g, float v) const {
        if (!live || g.value == v)
            g = {v, v, 0.0f};
        else if (g.remaining <= 0.0f || g.target != v)
            g = {g.value, v, length};
    }
    void step(Glide& g) const {
        if (g.remaining <= 0.0f) return;
        g.value = g.value + (g.target - g.value) * k;
        g.remaining = g.remaining - 1.0f;
        if (g.remaining <= 0.0f) g.value = g.target;
    }
    float k, length;
    bool live = false; // from the first processed frame on
};

// A memoryless stage, at the rate or between the half-band filters.
template <class Stage> struct StageModel : Stage {
    static constexpr bool kReplacesByAdding = false;
    using Stage::Stage;
    void frame(const float x[2], float y[2]) {
        for (int c = 0; c < 2; ++c) {
            float a = x[c], b = 0.0f;
            if (this->oversample) os[c].upsample(x[c], a, b);
            y[c] = this->oversample ? os[c].downsample((*this)(a), (*this)(b)) : (*this)(a);
        }
        this->step();
    }
    void beginBlock() { this->clock.live = true; }
    HalfbandOversampler os[2];
};

struct Rectifier {
    explicit Rectifier(float rate) : clock(0.2f, rate) { clock.set(depth, 1.0f); }
    void set(int i, float v) {
        if (i == 0) clock.set(depth, v);
        if (i == 1) polarity = v > 0.5f ? 1.0f : -1.0f;
        if (i == 2) oversample = v > 0.5f;
    }
    float operator()(float u) const { return (std::fabs(u) * polarity - u) * depth.value + u; }
    void step() { clock.step(depth); }
    GlideClock clock;
    Glide depth;
    float polarity = 1.0f;
    bool oversample = false;
};

struct Clipper {
    explicit Clipper(float rate) : clock(0.5f, rate) { set(0, 1.0f); }
    void set(int i, float v) {
        if (i == 0) clock.set(dry, 1.0f - v), clock.set(wet, v);
        if (i == 1) threshold = std::pow(10.0f, (1.0f - v) * -48.0f / 20.0f);
        if (i == 2) gain = std::pow(10.0f, v * 48.0f / 20.0f);
        if (i == 3) oversample = v > 0.5f;
    }
    float operator()(float u) const {
        const float c = u < -threshold ? -threshold : std::min(threshold, u);
        return u * dry.value + c * wet.value * gain;
    }
    void step() { clock.step(dry), clock.step(wet); }
    GlideClock clock;
    Glide dry, wet;
    float threshold = 1.0f, gain = 1.0f;
    bool oversample = false;
};

float h(float t) {
    return ((2.0f - std::fabs(2.5999999f * t)) * (2.5999999f * t) + 1e-10f) * 0.73619998f + t;
}
float g(float t) {
    return (t / (t * t + 1.0f) + 1e-10f) * 2.1f - t;
}
float curve(int mode, float x) {
    if (mode == 0) return h(h(h(std::clamp(x, -1.15f, 1.15f)))) * 0.8625f * 0.5f;
    if (mode == 1) {
        const float t = g(g(g(g(g(g(std::clamp(x, -4.25f, 4.25f)))))));
        return t * 0.8625f + t * 0.8625f;
    }
    const float t = g(g(g(2.0f * std::clamp(x, -2.0f, 2.0f)))) * 0.5f;
    return g(g(g(2.0f * h(t)))) * 0.5f * 0.8625f * 4.0f;
}

struct MultiplierModel {
    static constexpr bool kReplacesByAdding = true; // to a zeroed output: -0 becomes +0
    explicit MultiplierModel(float rate) : fs(rate), clock(0.2f, rate) {
        pre.setSampleRate(rate), post.setSampleRate(rate);
        for (int i = 0; i < 11; ++i)
            set(i, v[i]);
    }
    static void setTone(ToneFilterPair& pair, float x) {
        float slope;
        const std::uint32_t bits = 0xBDCCCCD0;
        std::memcpy(&slope, &bits, 4);
        const float t = x > 0.5f ? 2.0f * (x - 0.5f) : 2.0f * x;
        const float c = t / (std::fabs(t) - 1.1f) * slope * 0.5f + (x > 0.5f ? 0.5f : 0.0f);
        const float e = 0.5f - std::fabs(x - 0.5f), q = (2.0f - e) * e;
        const float a = std::clamp(c + q, 0.0f, 1.0f), b = std::clamp(c - q, 0.0f, 1.0f);
        pair.setHighCut(19980.0f * (a * a) + 20.0f);
        pair.setLowCut(19980.0f * (b * b) + 20.0f);
    }
    float driveTarget() const {
        return mode == 1 ? v[5] * 15.0f + 0.75f : v[5] / (std::fabs(v[5]) - 3.0f) * -2.0f * 3.0f + 0.04f;
    }
    void set(int i, float normalised) {
        const float x = v[i] = i == 7 ? 2.0f * normalised : normalised;
        if (i == 0) {
            const float m = std::fabs(x), t = 2.0f * m - 1.0f, k = m < 0.5f ? 0.5f : -2.0f;
            const float s = (k + 1.0f) * (t / (std::fabs(t) + k)) * 0.5f + 0.5f;
            const float a = (1.0f - s) * (s + 1.0f), b = (2.0f - s) * s;
            clock.set(dry, a * a * 0.224f + 0.776f * a), clock.set(wet, b * b * 0.224f + 0.776f * b);
        }
        if (i == 1 || i == 4) setTone(i == 1 ? post : pre, x);
        if (i == 2) clock.set(gain, std::pow(10.0f, (0.0f + x * 24.0f) / 20.0f));
        if (i == 5) clock.set(drive, driveTarget());
        if (i == 6) clock.set(bias, x * 0.5f);
        if (i == 7) mode = static_cast<int>(x), drive = {driveTarget(), driveTarget(), 0.0f};
        if (i == 8) clock.set(mod, x);
        if (i == 9) increment = (x * x * 4.9f + 0.1f) / fs;
    }
    void beginBlock() {
        clock.live = true;
        dryAtStart = dry.value, wetAtStart = wet.value;
        phase[0] = phase[1] + v[10] * 0.5f;
        if (phase[0] >= 1.0f) phase[0] = phase[0] - 1.0f;
    }
    void frame(const float x[2], float y[2]) {
        for (int c = 0; c < 2; ++c) {
            const float sweep = std::fabs(2.0f * phase[c] - 1.0f) * (mode == 1 ? 4.0f : 0.5f) * mod.value;
            const float s = sweep + (c == 0 ? -bias.value : bias.value) * (mode == 1 ? 1.0f : 0.1f) +
                            pre.process(c, x[c]) * drive.value;
            float even, odd, w = curve(mode, s);
            if (v[3] > 0.5f)
                os[c].upsample(s, even, odd), w = os[c].downsample(curve(mode, even), curve(mode, odd));
            y[c] = x[c] * dryAtStart + post.process(c, w) * wetAtStart * gain.value;
            phase[c] = phase[c] + increment;
            if (phase[c] >= 1.0f) phase[c] = phase[c] - 1.0f;
        }
        for (Glide* q : {&dry, &wet, &gain, &drive, &bias, &mod})
            clock.step(*q);
    }
    float fs;
    float v[11] = {0.5f, 0.5f, 0.0f, 0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.4f, 0.5f};
    GlideClock clock;
    Glide dry, wet, gain, drive, bias, mod;
    float dryAtStart = 0.0f, wetAtStart = 0.0f, increment = 0.0f, phase[2] = {};
    int mode = 0;
    ToneFilterPair pre, post;
    HalfbandOversampler os[2];
};

struct Change {
    int beforeBlock, index;
    float value;
};

// Each case starts the plug-in and the model, applies its changes before
// block 0 (as settings) and later ones while blocks of odd sizes run,
// replacing and accumulating in turn, at two rates; it fails at the first bit
// that differs.
template <class Model>
void expectSameAudio(const char* effect, const std::vector<std::vector<Change>>& cases) {
    const int blockFrames[] = {256, 1, 1701, 333, 2048, 7, 1024, 511};
    for (const float rate : {8000.0f, 44100.0f})
        for (std::size_t k = 0; k < cases.size(); ++k) {
            TestHost host(effect);
            ASSERT_TRUE(host.loaded());
            host.start(rate);
            Model model(rate);
            for (int b = 0, t = 0; b < 8; ++b) {
                for (const Change& c : cases[k])
                    if (c.beforeBlock == b) host.setParam(c.index, c.value), model.set(c.index, c.value);
                std::vector<float> in[2], out[2], expected[2];
                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < blockFrames[b]; ++i, ++t)
                        in[c].push_back(1.4f * std::sin(0.013f * static_cast<float>(t * (c + 1))) +
                                        0.3f * std::sin(0.71f * static_cast<float>(t))),
                            out[c].push_back(0.25f * static_cast<float>(c + 1));
                const bool replacing = b % 2 == 0;
                expected[0] = out[0], expected[1] = out[1];
                model.beginBlock();
                for (std::size_t i = 0; i < in[0].size(); ++i) {
                    const float x[2] = {in[0][i], in[1][i]};
                    float y[2];
                    model.frame(x, y);
                    for (int c = 0; c < 2; ++c)
                        expected[c][i] = !replacing                 ? expected[c][i] + y[c]
                                         : Model::kReplacesByAdding ? 0.0f + y[c]
                                                                    : y[c];
                }
                if (replacing)
                    out[0] = in[0], out[1] = in[1], host.processReplacing(out[0], out[1]);
                else
                    host.processAccumulating(in[0], in[1], out[0], out[1]);
                for (int c = 0; c < 2; ++c)
                    ASSERT_EQ(std::memcmp(out[c].data(), expected[c].data(), 4 * in[c].size()), 0)
                        << effect << " at " << rate << " Hz, case " << k << ", block " << b << ", channel "
                        << c;
            }
        }
}

TEST(ShaperAudio, RectifierMatchesTheModel) {
    expectSameAudio<StageModel<Rectifier>>(
        "Rectifier", {{{1, 0, 0.5f}, {3, 1, 0.0f}, {4, 0, 0.2f}, {5, 0, 0.9f}},
                      {{0, 2, 1.0f}, {0, 1, 0.0f}, {0, 0, 0.3f}, {1, 0, 1.0f}, {3, 2, 0.0f}, {6, 2, 0.7f}}});
}

TEST(ShaperAudio, ClipperMatchesTheModel) {
    expectSameAudio<StageModel<Clipper>>(
        "Clipper", {{{0, 1, 0.7f}, {0, 2, 0.3f}, {1, 0, 0.4f}, {3, 1, 0.2f}, {4, 0, 0.9f}},
                    {{0, 3, 1.0f}, {0, 1, 0.0f}, {0, 2, 1.0f}, {2, 0, 0.6f}, {3, 3, 0.0f}, {5, 3, 0.6f}}});
}

TEST(ShaperAudio, MultiplierMatchesTheModel) {
    // Mode 0.99 stays on the middle curve; only the top value reaches the
    // last. Tone 0.4 and preTone 0.276 are sensitive to the last bit of the
    // tone mapping's slope.
    const std::vector<Change> changes = {
        {0, 8, 0.7f}, {0, 6, 0.3f},  {0, 9, 1.0f}, {0, 10, 0.8f},  {1, 5, 0.9f}, {2, 2, 0.6f}, {3, 7, 0.5f},
        {4, 0, 0.9f}, {4, 4, 0.85f}, {5, 1, 0.4f}, {5, 4, 0.276f}, {6, 5, 0.1f}, {6, 8, 0.0f}};
    std::vector<std::vector<Change>> cases;
    for (float mode : {0.0f, 0.99f, 1.0f})
        for (float oversample : {0.0f, 1.0f}) {
            cases.push_back({{0, 7, mode}, {0, 3, oversample}, {7, 3, 1.0f - oversample}});
            cases.back().insert(cases.back().end(), changes.begin(), changes.end());
        }
    expectSameAudio<MultiplierModel>("Multiplier", cases);
}

TEST(ShaperAudio, Displays) {
    const struct {
        const char *effect, *text;
        int index;
        float value;
    } rows[] = {{"Rectifier", "Positive", 1, 0.7f}, {"Rectifier", "Negative", 1, 0.5f},
                {"Rectifier", "On", 2, 0.7f},       {"Clipper", "-0.0 dB", 1, 1.0f},
                {"Clipper", "-48.0 dB", 1, 0.0f},   {"Clipper", "+0.0 dB", 2, 0.0f},
                {"Clipper", "+48.0 dB", 2, 1.0f},   {"Clipper", "Off", 3, 0.7f},
                {"Multiplier", "1", 7, 0.99f},      {"Multiplier", "2", 7, 1.0f}};
    for (const auto& r : rows) {
        TestHost host(r.effect);
        host.setParam(r.index, r.value);
        EXPECT_EQ(host.paramDisplay(r.index), r.text) << r.effect << " " << r.index << " at " << r.value;
    }
}

} // namespace
} // namespace quor::test
