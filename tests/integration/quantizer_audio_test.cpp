// The Quantizer bit for bit against a frame-by-frame model, noise included
// (each channel's own 15-bit stream, restarted by a reset), and its state per
// instance.
#include "tests/support/effect_model.h"

namespace quor::test {
namespace {

const float kResidual[] = {
#include "dsp/blep_table_data.inc"
};

struct QuantizerModel : model::Effect {
    explicit QuantizerModel(float sampleRate) : fs(sampleRate), clock(0.2f, sampleRate) {
        values = {0.4f, 0.0f, 0.4f, 0.0f, 0.0f};
        for (int i = 0; i < 4; ++i)
            changed(i);
        reset();
    }
    void changed(int index) override {
        const float v = values[static_cast<std::size_t>(index)], e = std::exp(4.6051702f * v);
        if (index == 0) clock.set(rate, 1.0f / (fs / (e * 200.0f + e * 200.0f)));
        if (index == 1 || index == 3)
            (index == 1 ? jitter : dither) = v * -0.5f / (std::fabs(v) + -1.5f) * 0.5f;
        if (index == 2) levels = std::exp2(std::exp(2.7725887f * v));
    }
    void reset() override {
        for (std::uint32_t c = 0; c < 2; ++c)
            channels[c] = {0.0f, 0.5f / levels, {}, {}, 0, c + 1};
    }
    void process(const float* const* in, float* const* out, int frames, bool replacing) override {
        const bool zero = values[4] > 0.5f;
        const float L = levels, s = 1.0f / L;
        const model::Glide atStart = rate; // every channel sees the same glide
        for (int c = 0; c < 2; ++c) {
            Channel& ch = channels[c];
            rate = atStart;
            for (int i = 0; i < frames; ++i) {
                ch.noise = ch.noise * 1103515245u + 12345u;
                const float u = 2.0f * (static_cast<float>((ch.noise >> 16) & 0x7FFFu) * 3.05185e-5f) - 1.0f;
                const float inc = (jitter * u + 1.0f) * rate.value, d = u * dither;
                const float x = in[c][i];
                const float q = L >= 65536.0f ? x
                                : zero        ? std::floor(x * L + (d + 0.5f)) * s
                                              : std::floor(x * L + d) * s + 0.5f * s;
                const float* h = ch.h;
                std::copy_backward(ch.h, ch.h + 3, ch.h + 4);
                ch.h[0] = q;
                ch.phase += inc;
                while (ch.phase >= 1.0f) {
                    ch.phase -= 1.0f;
                    const float t = ch.phase * (1.0f / inc);
                    const float v =
                        h[1] + 0.5f * ((h[2] - h[0]) * t +
                                       (2.0f * h[0] - 5.0f * h[1] + 4.0f * h[2] - h[3]) * (t * t) +
                                       (3.0f * (h[1] - h[2]) + h[3] - h[0]) * (t * t * t));
                    const float jump = ch.held - v;
                    if (std::fabs(jump) > 1e-6f) { // a band-limited step into the coming 16 frames
                        const float xt = t * 16.0f;
                        const int j = static_cast<int>(std::floor(xt));
                        const float w = xt - static_cast<float>(j);
                        for (int k = 0; k < 16; ++k) {
                            const float* r = kResidual + j + 16 * k;
                            ch.ring[(ch.index + k) % 16] += (r[0] + (r[1] - r[0]) * w) * jump;
                        }
                    }
                    ch.held = v;
                }
                const float y = ch.held + ch.ring[ch.index]; // 0 once the residual has run out
                ch.ring[ch.index] = 0.0f;
                ch.index = (ch.index + 1) % 16;
                out[c][i] = replacing ? y : out[c][i] + y;
                clock.step(rate);
            }
        }
        clock.live = true;
    }

    struct Channel {
        float phase, held, ring[16], h[4];
        int index;
        std::uint32_t noise;
    };
    float fs, levels = 0.0f, jitter = 0.0f, dither = 0.0f;
    model::GlideClock clock;
    model::Glide rate; // the hold clock's step
    Channel channels[2];
};

TEST(QuantizerAudio, MatchesTheModelBitForBit) {
    // The rate glides (to several events per frame at 8 kHz), the bit depth
    // and the zero level switch, 16 bits passes the input unquantized; jitter
    // and dither draw on the noise, which a reset restarts.
    const std::vector<model::Change> changes = {
        {2, 0, 1.0f}, {3, 2, 0.1f}, {4, 4, 1.0f}, {5, 0, 0.0f}, {6, model::kSuspend, 0},
        {7, 2, 1.0f}, {8, 4, 0.0f}, {9, 0, 0.7f}};
    model::expectSameAudio<QuantizerModel>("Quantizer", {8000.0f, 44100.0f}, {{}, {{1, 0.8f}, {3, 1.0f}}},
                                           changes);
}

// With jitter and dither, a second instance started midway and played in
// turn with the first gives what the first gave from its start.
TEST(QuantizerAudio, StateIsPerInstance) {
    TestHost first("Quantizer"), second("Quantizer");
    std::vector<float> out[2];
    const auto play = [&](const TestHost& host, std::vector<float>& to) {
        std::vector<float> left(500, 0.3f), right = left;
        host.processReplacing(left, right);
        to.insert(to.end(), left.begin(), left.end());
    };
    for (const TestHost* host : {&first, &second})
        host->setParam(1, 0.8f), host->setParam(3, 1.0f);
    first.start(44100.0f);
    for (int block = 0; block < 4; ++block)
        play(first, out[0]);
    second.start(44100.0f);
    for (int block = 0; block < 4; ++block)
        play(first, out[0]), play(second, out[1]);
    EXPECT_EQ(std::vector<float>(out[0].begin(), out[0].begin() + 2000), out[1]);
}

} // namespace
} // namespace quor::test
