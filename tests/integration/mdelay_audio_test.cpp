// mDelay through the plug-in interface: its audio against a frame-by-frame
// model of the oversampled network, and its texts.
#include "tests/support/effect_model.h"

namespace quor::test {
namespace {

class MDelayModel final : public model::Effect {
  public:
    MDelayModel() {
        values = {0.33f, 0.36f, 0.33f, 0.0f, 1.0f, 0.0f, 0.5f, 0.33f, 0.1f, 0.5f, 0.5f};
        highs = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 2.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
        for (int i = 0; i < 11; ++i)
            changed(i);
    }
    void start(float rate) override {
        fs = rate;
        for (size = 65536; size < 2.0f * rate;)
            size *= 2;
        line[0].assign(static_cast<std::size_t>(size), 0.0f);
        line[1] = line[0];
        tone.rate = rate;
        smoother.configure(0.5f, rate);
        for (int i : {6, 0, 1, 7, 2, 8, 10, 9})
            changed(i);
    }
    void changed(int index) override {
        const float v = values[static_cast<std::size_t>(index)];
        switch (index) {
        case 0:
        case 1:
            if (fs > 0.0f) smoother.setTarget(&delay[index], (fs + fs) * std::pow(v, 3.0f));
            break;
        case 2:
            smoother.setTarget(&feedback, 2.0f * v - 1.0f);
            break;
        case 3:
            tone.lowCut = std::pow(v, 4.0f) * 11998.0f + 2.0f;
            break;
        case 4:
            tone.highCut = std::pow(v, 3.0f) * 19980.0f + 20.0f;
            break;
        case 5:
            routing = static_cast<int>(std::floor(v + 0.5f));
            break;
        case 6: {
            const model::Mix m = model::dryWet(v);
            smoother.setTarget(&dry, m.dry);
            smoother.setTarget(&wet, m.wet);
            break;
        }
        case 7:
            if (fs > 0.0f)
                smoother.setTarget(&increment,
                                   1.0f / std::max(fs / (std::pow(v, 3.0f) * 29.95f + 0.05f), 1.0f));
            break;
        case 8:
            smoother.setTarget(&depth, static_cast<float>(size) * (std::pow(v, 4.0f) * 0.5f));
            break;
        case 9:
            smoother.setTarget(&width, v * 0.5f);
            break;
        default:
            smoother.setTarget(&shape, 2.0f * v - 1.0f);
            break;
        }
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
            smoother.advance();
        }
    }

  private:
    float lfo(float p) const {
        const float tri = 2.0f * std::fabs(2.0f * p - 1.0f) - 1.0f;
        return (shape + 1.0f - std::fabs(tri) * shape) * tri * 0.5f + 0.5f;
    }
    float read(int c) const {
        const auto& l = line[c];
        const int p = ((at - tapInt[c]) % size + size) % size, q = (p + size - 1) % size;
        const double w = 0.5 - 0.5 * std::cos(static_cast<double>(tapFrac[c]) * double{3.14159f});
        return static_cast<float>(
            l[static_cast<std::size_t>(p)] +
            static_cast<double>(l[static_cast<std::size_t>(q)] - l[static_cast<std::size_t>(p)]) * w);
    }
    void step(const float* x, float* y) {
        float right = phase + width;
        right = right - std::floor(right);
        const float t[2] = {depth * lfo(phase) + delay[0], lfo(right) * depth + delay[1]};
        for (int c = 0; c < 2; ++c) {
            const int i = static_cast<int>(t[c]);
            const float wrapped = static_cast<float>(i % size) + (t[c] - static_cast<float>(i));
            tapInt[c] = static_cast<int>(wrapped);
            tapFrac[c] = wrapped - static_cast<float>(tapInt[c]);
        }
        phase = phase + increment;
        if (phase >= 1.0f) phase = phase - 1.0f;
        at = (at + 1) % size;
        auto slot = [&](int c) -> float& { return line[c][static_cast<std::size_t>(at)]; };
        float f[2];
        if (routing == 2) {
            slot(0) = (x[0] + x[1]) * 0.5f;
            const float v = read(0);
            slot(1) = v;
            f[1] = tone(1, read(1));
            f[0] = tone(0, v);
            slot(0) = slot(0) + feedback * f[1];
        } else {
            slot(0) = x[routing];
            slot(1) = x[1 - routing];
            f[0] = tone(0, read(0));
            f[1] = tone(1, read(1));
            slot(0) = slot(0) + feedback * f[routing];
            slot(1) = slot(1) + feedback * f[1 - routing];
        }
        for (int c = 0; c < 2; ++c)
            y[c] = dry * x[c] + wet * f[c];
    }

    float fs = 0.0f, dry = 0.0f, wet = 0.0f, delay[2] = {}, feedback = 0.0f, depth = 0.0f, increment = 0.0f,
          shape = 0.0f, width = 0.0f, phase = 0.0f, tapFrac[2] = {};
    int size = 0, at = 0, routing = 0, tapInt[2] = {};
    std::vector<float> line[2];
    model::TonePair tone;
    model::Halfband os[2];
    model::Smoother smoother;
};

TEST(MDelayAudio, MatchesTheModelBitForBit) {
    const std::vector<std::pair<int, float>> settings[] = {
        {},                                                       // defaults: Normal, modulated
        {{5, 0.7f}, {2, 1.0f}, {3, 0.4f}, {4, 0.5f}, {10, 0.0f}}, // Cross (1.4 rounds to 1), full feedback
        {{5, 0.8f}, {2, 0.0f}, {8, 1.0f}, {7, 1.0f}, {10, 1.0f}}, // Ping-pong (1.6), depth beyond the line
        {{0, 0.0f}, {8, 0.0f}, {1, 0.05f}, {6, 1.0f}},            // a tap that reads the step's own write
    };
    // Glides of the delay times (the echoes bend), the mix, the rate and the
    // feedback; tone and routing changes that act at once.
    for (float rate : {44100.0f, 96000.0f})
        for (const auto& s : settings) {
            MDelayModel reference;
            model::expectSameAudio("mDelay", reference, rate, s,
                                   {{1700, true},
                                    {3, false},
                                    {2500, true, {{0, 0.2f}, {6, 0.8f}}},
                                    {1, false, {{7, 0.1f}, {2, 0.6f}}},
                                    {3001, true, {{3, 0.3f}, {4, 0.6f}, {1, 0.5f}}},
                                    {777, false, {{5, 0.0f}, {9, 0.9f}, {8, 0.3f}}}});
        }
}

TEST(MDelayAudio, Texts) {
    model::expectTexts("mDelay", {{0, 0.33f, "35.9 ms"},
                                  {1, 0.36f, "46.7 ms"},
                                  {0, 0.0f, "Off"},
                                  {1, 1.0f, "1.00 s"},
                                  {2, 0.33f, "-34%"},
                                  {2, 1.0f, "100%"},
                                  {3, 0.0f, "2.00 Hz"},
                                  {3, 1.0f, "12.0 kHz"},
                                  {4, 1.0f, "20.0 kHz"},
                                  {4, 0.0f, "20.0 Hz"},
                                  {5, 0.7f, "Cross"},
                                  {5, 0.8f, "Cross"},
                                  {5, 1.0f, "Ping-pong"},
                                  {5, 0.0f, "Normal"},
                                  {7, 0.33f, "3.36 Hz"},
                                  {7, 0.0f, "10.0 s"},
                                  {7, 1.0f, "30.0 Hz"},
                                  {8, 0.1f, "10%"}});
}

} // namespace
} // namespace quor::test
