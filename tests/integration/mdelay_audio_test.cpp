// mDelay bit for bit against a frame-by-frame model of the oversampled
// network, and its texts.
#include "tests/support/effect_model.h"

namespace quor::test {
namespace {

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

    float lfo(float p) const {
        const float tri = 2.0f * std::fabs(2.0f * p - 1.0f) - 1.0f, s = shape.value;
        return (s + 1.0f - std::fabs(tri) * s) * tri * 0.5f + 0.5f;
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
        const float t[2] = {depth.value * lfo(phase) + delay[0].value,
                            lfo(right) * depth.value + delay[1].value};
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

} // namespace
} // namespace quor::test
