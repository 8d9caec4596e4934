// The Quantizer's audio against a frame-by-frame model of the effect, noise
// included (each channel's own 15-bit stream, restarted by a reset), and its
// noise streams: per instance, repeatable.
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
    explicit QuantizerModel(float sampleRate) : fs(sampleRate), rate(0.2f, sampleRate) {
        setParam(0, 0.4f);
        setParam(2, 0.4f);
        for (std::uint32_t c = 0; c < 2; ++c) {
            channels[c].held = 0.5f / levels;
            channels[c].noise = c + 1;
        }
    }

    void setParam(int index, float v) {
        values[index] = v;
        if (index == 1 || index == 3)
            (index == 1 ? jitter : dither) = v * -0.5f / (std::fabs(v) + -1.5f) * 0.5f;
        if (index == 2) levels = std::exp2(std::exp(2.7725887f * v));
        const float e = std::exp(4.6051702f * v);
        if (index == 0) rate.set(1.0f / (fs / (e * 200.0f + e * 200.0f)), started);
    }

    void run(const float* const in[2], float* const out[2], int frames, bool replacing) {
        const bool zero = values[4] > 0.5f;
        const float L = levels, s = 1.0f / L;
        const ModelGlide atStart = rate; // every channel sees the same glide
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
                rate.step();
            }
        }
        started = started || frames > 0;
    }

  private:
    struct Channel {
        float phase = 0.0f, held = 0.0f, ring[32] = {}, h[4] = {};
        int index = 0, pending = 0;
        std::uint32_t noise;
    };
    float fs;
    ModelGlide rate; // the hold clock's step
    float values[5] = {0.4f, 0.0f, 0.4f, 0.0f, 0.0f};
    float levels = 0.0f, jitter = 0.0f, dither = 0.0f;
    bool started = false;
    Channel channels[2] = {{}, {}};
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

// With jitter and dither, each channel of each instance draws its own stream,
// restarted by a reset: two instances on two threads give what one gives
// alone, and so do a suspend and resume and another block size.
TEST(QuantizerAudio, NoiseIsPerInstanceAndRepeatable) {
    auto render = [](std::size_t blockFrames, int passes) {
        TestHost host("Quantizer");
        host.setParam(1, 0.8f);
        host.setParam(3, 1.0f);
        host.start(44100.0f);
        std::vector<float> out;
        for (int pass = 0; pass < passes; ++pass) {
            host.suspend();
            host.resume();
            out.clear();
            for (std::size_t at = 0; at < 4000; at += blockFrames) {
                std::vector<float> left(blockFrames);
                for (std::size_t i = 0; i < blockFrames; ++i)
                    left[i] = 0.3f * std::sin(0.01f * static_cast<float>(at + i));
                std::vector<float> right = left;
                host.processReplacing(left, right);
                out.insert(out.end(), left.begin(), left.end());
            }
        }
        return out;
    };
    const std::vector<float> alone = render(500, 1);
    std::vector<float> first, second;
    std::thread a([&] { first = render(500, 1); }), b([&] { second = render(500, 1); });
    a.join();
    b.join();
    EXPECT_EQ(first, alone);
    EXPECT_EQ(second, alone);
    EXPECT_EQ(render(500, 2), alone);
    EXPECT_EQ(render(125, 1), alone);
}

} // namespace
} // namespace quor::test
