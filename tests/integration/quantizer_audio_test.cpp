// The Quantizer's audio against a frame-by-frame model of the effect (with its
// noise sources at 0), and its own noise stream: per instance, repeatable.
#include "tests/support/model_run.h"

#include <algorithm>
#include <thread>

namespace quor::test {
namespace {

const float kResidual[] = {
#include "dsp/blep_table_data.inc"
};

class QuantizerModel {
  public:
    explicit QuantizerModel(float sampleRate) : fs(sampleRate) {
        coefficient = 1.0f - std::pow(0.01f, 1.0f / (0.2f * fs));
        length = std::floor(-4.6051702f / std::log(1.0f - coefficient)) + 1.0f;
        rateStep = stepFor(0.4f);
        setParam(2, 0.4f);
        for (Channel& ch : channels)
            ch.held = 0.5f / levels;
    }

    void setParam(int index, float v) {
        values[index] = v;
        if (index == 2) levels = std::exp2(std::exp(2.7725887f * v));
        if (index != 0) return;
        const float target = stepFor(v);
        if (!started || rateStep == target) {
            rateStep = target;
            remaining = 0.0f;
        } else if (remaining <= 0.0f || rampTarget != target) {
            rampTarget = target;
            remaining = length;
        }
    }

    void run(const float* const in[2], float* const out[2], int frames, bool replacing) {
        const bool zero = values[4] > 0.5f;
        const float L = levels, s = 1.0f / L;
        const float step0 = rateStep, remaining0 = remaining;
        for (int c = 0; c < 2; ++c) {
            Channel& ch = channels[c];
            rateStep = step0;
            remaining = remaining0;
            for (int i = 0; i < frames; ++i) {
                const float x = in[c][i];
                const float q = L >= 65536.0f ? x
                                : zero        ? std::floor(x * L + 0.5f) * s
                                              : std::floor(x * L) * s + 0.5f * s;
                const float* h = ch.h;
                std::copy_backward(ch.h, ch.h + 3, ch.h + 4);
                ch.h[0] = q;
                ch.phase += rateStep;
                while (ch.phase >= 1.0f) {
                    ch.phase -= 1.0f;
                    const float t = ch.phase * (1.0f / rateStep);
                    const float v =
                        h[1] + 0.5f * ((h[2] - h[0]) * t +
                                       (2.0f * h[0] - 5.0f * h[1] + 4.0f * h[2] - h[3]) * (t * t) +
                                       (3.0f * (h[1] - h[2]) + h[3] - h[0]) * (t * t * t));
                    const float jump = ch.held - v;
                    if (std::fabs(jump) > 1e-6f) {
                        const float xt = t * 16.0f;
                        const int j = static_cast<int>(std::floor(xt));
                        const float w = xt - static_cast<float>(j);
                        for (int k = 0; k < 16; ++k) {
                            const float* d = kResidual + j + 16 * k;
                            ch.ring[(ch.index + k) % 32] += (d[0] + (d[1] - d[0]) * w) * jump;
                        }
                        ch.pending = std::max(ch.pending, 16);
                    }
                    ch.held = v;
                }
                float correction = 0.0f; // nothing once the residual has run out
                if (ch.pending > 0) {
                    --ch.pending;
                    correction = ch.ring[ch.index];
                    ch.ring[ch.index] = 0.0f;
                    ch.index = (ch.index + 1) % 32;
                }
                const float y = ch.held + correction;
                out[c][i] = replacing ? y : out[c][i] + y;
                if (started && remaining > 0.0f) {
                    rateStep = rateStep + (rampTarget - rateStep) * coefficient;
                    remaining -= 1.0f;
                    if (remaining <= 0.0f) rateStep = rampTarget;
                }
            }
        }
        started = started || frames > 0;
    }

  private:
    struct Channel {
        float phase = 0.0f, held = 0.0f, ring[32] = {}, h[4] = {};
        int index = 0, pending = 0;
    };
    float stepFor(float v) const {
        const float e = std::exp(4.6051702f * v);
        return 1.0f / (fs / (e * 200.0f + e * 200.0f));
    }

    float fs, coefficient, length;
    float values[5] = {0.4f, 0.0f, 0.4f, 0.0f, 0.0f};
    float levels = 0.0f, rateStep = 0.0f, rampTarget = 0.0f, remaining = 0.0f;
    bool started = false;
    Channel channels[2];
};

TEST(QuantizerAudio, MatchesTheModelBitForBit) {
    // Odd blocks, both calls, and changes while playing: the rate glides
    // (to several events per frame at 8 kHz), the bit depth and the zero
    // level switch, 16 bits passes the input unquantized.
    const std::vector<ModelBlock> blocks = {{1, true},
                                            {37, false},
                                            {512, true, 0, 1.0f},
                                            {333, false, 2, 0.1f},
                                            {700, true, 4, 1.0f},
                                            {129, true, 0, 0.0f},
                                            {1024, false},
                                            {400, true, 2, 1.0f},
                                            {257, true, 4, 0.0f},
                                            {2000, true, 0, 0.7f}};
    for (float rate : {8000.0f, 44100.0f}) {
        TestHost host("Quantizer");
        ASSERT_TRUE(host.loaded());
        host.start(rate);
        QuantizerModel model(rate);
        expectModelOutput(host, model, blocks, "at " + std::to_string(rate) + " Hz");
    }
}

// With jitter and dither, each instance draws from its own stream, restarted
// by a reset: two instances on two threads give what one gives alone, and a
// suspend and resume repeats the render.
TEST(QuantizerAudio, NoiseIsPerInstanceAndRepeatable) {
    auto render = [](std::vector<float>& out, bool twice) {
        TestHost host("Quantizer");
        host.setParam(1, 0.8f);
        host.setParam(3, 1.0f);
        host.start(44100.0f);
        for (int pass = 0; pass < (twice ? 2 : 1); ++pass) {
            host.suspend();
            host.resume();
            out.assign(4096, 0.0f);
            std::vector<float> right(4096, 0.0f);
            for (std::size_t i = 0; i < out.size(); ++i)
                out[i] = right[i] = 0.3f * std::sin(0.01f * static_cast<float>(i));
            for (std::size_t at = 0; at < out.size(); at += 512) {
                std::vector<float> l(out.begin() + at, out.begin() + at + 512), r(l);
                host.processReplacing(l, r);
                std::copy(l.begin(), l.end(), out.begin() + at);
            }
        }
    };
    std::vector<float> alone, first, second, repeated;
    render(alone, false);
    std::thread a([&] { render(first, false); }), b([&] { render(second, false); });
    a.join();
    b.join();
    render(repeated, true);
    EXPECT_EQ(first, alone);
    EXPECT_EQ(second, alone);
    EXPECT_EQ(repeated, alone);
}

} // namespace
} // namespace quor::test
