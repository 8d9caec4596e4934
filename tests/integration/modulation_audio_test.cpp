// The modulation effects bit for bit against frame-by-frame models: the
// Phaser channel by channel, mDelay's oversampled network, the Ringmod with
// and without side-chain buffers; and their texts.
#include "tests/support/effect_model.h"

namespace quor::test {
namespace {

const int kStages[8] = {2, 4, 6, 8, 12, 16, 24, 128};
const float kRatio = std::pow(2.0f, 1.0f / 12.0f);

// The Phaser's and mDelay's oscillator: a triangle bent by the shape s.
float shapedTriangle(float p, float s) {
    const float tri = 2.0f * std::fabs(2.0f * p - 1.0f) - 1.0f;
    return (1.0f + s - std::fabs(tri) * s) * tri * 0.5f + 0.5f;
}

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
                const double w = std::exp(double{2.3025851f} * range.value * shapedTriangle(p, s)) *
                                 lowNorm.value * (double{3.1415927f} * double{1.2f});
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

struct MDelayModel : model::Effect {
    explicit MDelayModel(float rate) : fs(rate), clock(0.5f, rate) {
        values = {0.33f, 0.36f, 0.33f, 0.0f, 1.0f, 0.0f, 0.5f, 0.33f, 0.1f, 0.5f, 0.5f};
        highs = {1, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1};
        for (size = 65536; size < 2.0f * rate;)
            size *= 2;
        line[0].assign(static_cast<std::size_t>(size), 0.0f);
        line[1] = line[0];
        tone.rate = rate;
        for (int i = 0; i < 11; ++i)
            changed(i);
    }
    void changed(int index) override {
        const float v = values[static_cast<std::size_t>(index)];
        if (index < 2) clock.set(delay[index], (fs + fs) * std::pow(v, 3.0f));
        if (index == 2) clock.set(feedback, 2.0f * v - 1.0f);
        if (index == 3) tone.lowCut = std::pow(v, 4.0f) * 11998.0f + 2.0f;
        if (index == 4) tone.highCut = std::pow(v, 3.0f) * 19980.0f + 20.0f;
        if (index == 5) routing = static_cast<int>(std::floor(v + 0.5f));
        if (index == 6) clock.set(dry, model::dryWet(v).dry), clock.set(wet, model::dryWet(v).wet);
        if (index == 7)
            clock.set(increment, 1.0f / std::max(fs / (std::pow(v, 3.0f) * 29.95f + 0.05f), 1.0f));
        if (index == 8) clock.set(depth, static_cast<float>(size) * (std::pow(v, 4.0f) * 0.5f));
        if (index == 9) clock.set(width, v * 0.5f);
        if (index == 10) clock.set(shape, 2.0f * v - 1.0f);
    }
    void process(const float* const* in, float* const* out, int frames, bool replacing) override {
        for (int i = 0; i < frames; ++i) {
            float a[2], b[2], p[2], q[2];
            for (int c = 0; c < 2; ++c)
                os[c].up(in[c][i], a[c], b[c]);
            step(a, p);
            step(b, q);
            for (int c = 0; c < 2; ++c) {
                const float y = os[c].down(p[c], q[c]);
                out[c][i] = replacing ? y : out[c][i] + y;
            }
            clock.live = true;
            for (model::Glide* g :
                 {&delay[0], &delay[1], &feedback, &dry, &wet, &increment, &depth, &width, &shape})
                clock.step(*g);
        }
    }

    // A raised-cosine blend of two neighbouring slots, in double.
    float read(int c) const {
        const auto& l = line[c];
        const int p = ((at - tapInt[c]) % size + size) % size, q = (p + size - 1) % size;
        const double w = 0.5 - 0.5 * std::cos(static_cast<double>(tapFrac[c]) * double{3.14159f});
        return static_cast<float>(
            l[static_cast<std::size_t>(p)] +
            static_cast<double>(l[static_cast<std::size_t>(q)] - l[static_cast<std::size_t>(p)]) * w);
    }
    void step(const float* x, float* y) {
        float right = phase + width.value;
        right = right - std::floor(right);
        const float t[2] = {depth.value * shapedTriangle(phase, shape.value) + delay[0].value,
                            shapedTriangle(right, shape.value) * depth.value + delay[1].value};
        for (int c = 0; c < 2; ++c) {
            const int i = static_cast<int>(t[c]);
            const float wrapped = static_cast<float>(i % size) + (t[c] - static_cast<float>(i));
            tapInt[c] = static_cast<int>(wrapped);
            tapFrac[c] = wrapped - static_cast<float>(tapInt[c]);
        }
        phase = phase + increment.value;
        if (phase >= 1.0f) phase = phase - 1.0f;
        at = (at + 1) % size;
        auto slot = [&](int c) -> float& { return line[c][static_cast<std::size_t>(at)]; };
        const float fb = feedback.value;
        float f[2];
        if (routing == 2) {
            slot(0) = (x[0] + x[1]) * 0.5f;
            const float v = read(0);
            slot(1) = v;
            f[1] = tone(1, read(1));
            f[0] = tone(0, v);
            slot(0) = slot(0) + fb * f[1];
        } else {
            slot(0) = x[routing];
            slot(1) = x[1 - routing];
            f[0] = tone(0, read(0));
            f[1] = tone(1, read(1));
            slot(0) = slot(0) + fb * f[routing];
            slot(1) = slot(1) + fb * f[1 - routing];
        }
        for (int c = 0; c < 2; ++c)
            y[c] = dry.value * x[c] + wet.value * f[c];
    }

    float fs, phase = 0.0f, tapFrac[2] = {};
    int size = 0, at = 0, routing = 0, tapInt[2] = {};
    model::GlideClock clock;
    model::Glide delay[2], feedback, dry, wet, increment, depth, width, shape;
    std::vector<float> line[2];
    model::TonePair tone;
    model::Halfband os[2];
};

TEST(MDelayAudio, MatchesTheModelBitForBit) {
    // Glides of the delay times (the echoes bend), the mix, the rate and the
    // feedback; tone and routing changes that act at once.
    const std::vector<model::Settings> cases = {
        {},                                                       // Normal, modulated
        {{5, 0.7f}, {2, 1.0f}, {3, 0.4f}, {4, 0.5f}, {10, 0.0f}}, // Cross (1.4 rounds to 1), full feedback
        {{5, 0.8f}, {2, 0.0f}, {8, 1.0f}, {7, 1.0f}, {10, 1.0f}}, // Ping-pong (1.6), depth beyond the line
        {{0, 0.0f}, {8, 0.0f}, {1, 0.05f}, {6, 1.0f}}};           // a tap that reads the step's own write
    const std::vector<model::Change> changes = {{2, 0, 0.2f}, {2, 6, 0.8f}, {3, 7, 0.1f}, {3, 2, 0.6f},
                                                {5, 3, 0.3f}, {5, 4, 0.6f}, {5, 1, 0.5f}, {7, 5, 0.0f},
                                                {7, 9, 0.9f}, {7, 8, 0.3f}};
    model::expectSameAudio<MDelayModel>("mDelay", {44100.0f, 96000.0f}, cases, changes);
}

TEST(MDelayAudio, Texts) {
    const std::vector<model::TextRow> rows = {
        {0, 0.33f, "35.9 ms"},  {0, 0.0f, "Off"},      {1, 1.0f, "1.00 s"},  {2, 0.33f, "-34%"},
        {3, 0.0f, "2.00 Hz"},   {3, 1.0f, "12.0 kHz"}, {4, 0.0f, "20.0 Hz"}, {5, 0.8f, "Cross"},
        {5, 1.0f, "Ping-pong"}, {7, 0.33f, "3.36 Hz"}, {7, 0.0f, "10.0 s"},  {7, 1.0f, "30.0 Hz"}};
    model::expectTexts("mDelay", rows);
}

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
