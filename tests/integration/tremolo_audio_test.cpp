// The Tremolo's audio, sample by sample, against the modulator computed here
// in the same single-precision order.
#include "tests/support/test_host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace quor::test {
namespace {

using Samples = std::vector<float>;
using Stereo = Samples[2];

// Host-side settings, normalised as the host sends them.
struct Settings {
    float rate, depth, width, shape;
};

// Gain curve over the triangle value a, with the curvature k of the shape.
float shapeGain(float a, float k) {
    if (k <= 0.0f) return a / (a * a + k) * (k + 1.0f);
    float u = 2.0f * a - 1.0f;
    float m = u * u;
    if (k < 1.0f) {
        u = 2.0f * u / (u * u + 1.0f);
        m = std::fabs(u);
    }
    return u / (m + k) * (k + 1.0f) * 0.5f + 0.5f;
}

float curvature(float shape) {
    static const float breakpoints[5] = {-1.0f, -0.1f, 0.0f, 1.0f, 2.7f};
    const int j = static_cast<int>(std::floor(shape));
    const float f = shape - static_cast<float>(j);
    const float s = j == 4 ? breakpoints[4] : breakpoints[j] + (breakpoints[j + 1] - breakpoints[j]) * f;
    if (s == 0.0f) return 100.0f;
    if (s < 0.0f) return 1.0f / s - 1.0f;
    if (s <= 1.0f) return 1.0f / s;
    return 1.0f / (s * s * s);
}

class Modulator {
  public:
    Modulator(const Settings& s, float sampleRate)
        : depth(s.depth), halfWidth(s.width * 0.5f), k(curvature(4.0f * s.shape)),
          inc(1.0f / (sampleRate / (s.rate * s.rate * 14.5f + 0.5f))) {}

    void run(const Stereo& in, Stereo& out, bool replacing) {
        const float start = phase;
        for (int c = 0; c < 2; ++c) {
            float p = static_cast<float>(c) * halfWidth + start;
            for (std::size_t i = 0; i < in[c].size(); ++i) {
                p = p + inc;
                while (p >= 1.0f)
                    p = p - 1.0f;
                const float gain = shapeGain(std::fabs(2.0f * p - 1.0f), k) * depth + (1.0f - depth);
                const float y = in[c][i] * gain;
                out[c][i] = replacing ? y : out[c][i] + y;
            }
            if (c == 0) phase = p;
        }
    }

    float phase = 0.0f;

  private:
    float depth, halfWidth, k, inc;
};

Samples signal(std::size_t frames, float seed) {
    Samples x(frames);
    for (std::size_t i = 0; i < frames; ++i)
        x[i] = std::sin(seed * static_cast<float>(i) + seed) * 0.8f;
    return x;
}

// One block through the plug-in and the reference; true when every bit agrees.
bool sameBlock(const TestHost& host, Modulator& reference, std::size_t frames, bool replacing,
               const std::string& what) {
    const Stereo in = {signal(frames, 0.05f), signal(frames, 0.031f)};
    Stereo out = {Samples(frames, 0.25f), Samples(frames, -0.5f)};
    Stereo expected = {out[0], out[1]};
    reference.run(in, expected, replacing);
    if (replacing) {
        out[0] = in[0];
        out[1] = in[1];
        host.processReplacing(out[0], out[1]);
    } else {
        host.processAccumulating(in[0], in[1], out[0], out[1]);
    }
    for (int c = 0; c < 2; ++c)
        for (std::size_t i = 0; i < frames; ++i)
            if (std::memcmp(&out[c][i], &expected[c][i], sizeof(float)) != 0) {
                ADD_FAILURE() << what << ", channel " << c << " frame " << i << ": " << out[c][i]
                              << ", expected " << expected[c][i];
                return false;
            }
    return true;
}

void configure(const TestHost& host, const Settings& s, float sampleRate) {
    const float values[4] = {s.rate, s.depth, s.width, s.shape};
    for (VstInt32 i = 0; i < 4; ++i)
        host.setParam(i, values[i]);
    host.start(sampleRate);
}

TEST(TremoloAudio, MatchesTheReferenceBitForBit) {
    // Every breakpoint, 4 included, and fractional shapes; blocks of odd sizes
    // over more than a cycle so the phase wraps between and within blocks,
    // replacing and accumulating in turn; then a suspend, after which the
    // oscillator starts again from phase 0.
    std::vector<Settings> settings = {{0.5f, 0.0f, 1.0f, 0.5f}, {0.3f, 1.0f, 0.5f, 0.25f}};
    for (float shape : {0.0f, 0.5f, 1.0f, 1.2f, 2.0f, 2.5f, 3.0f, 3.7f, 4.0f})
        for (float width : {0.0f, 0.3f, 1.0f})
            settings.push_back({width == 0.3f ? 0.8f : 1.0f, 0.8f, width, shape / 4.0f});
    const std::pair<std::size_t, bool> blocks[] = {{256, true}, {1, false}, {700, true}, {333, false}};
    for (const Settings& s : settings) {
        const std::string what = "rate " + std::to_string(s.rate) + " depth " + std::to_string(s.depth) +
                                 " width " + std::to_string(s.width) + " shape " + std::to_string(s.shape);
        TestHost host("Tremolo");
        ASSERT_TRUE(host.loaded());
        configure(host, s, 11025.0f);
        Modulator reference(s, 11025.0f);
        bool same = true;
        for (const auto& [frames, replacing] : blocks)
            same = same && sameBlock(host, reference, frames, replacing, what);
        host.suspend();
        host.resume();
        reference.phase = 0.0f;
        if (same) sameBlock(host, reference, 300, true, what + " after a suspend");
    }
}

// Width 1 puts the channels half a cycle apart: on the near-linear triangle
// of Shape 2 the two gains always add up to one.
TEST(TremoloAudio, FullWidthPutsTheChannelsInAntiphase) {
    TestHost host("Tremolo");
    ASSERT_TRUE(host.loaded());
    configure(host, Settings{1.0f, 1.0f, 1.0f, 0.5f}, 11025.0f);
    Samples left(1000, 1.0f), right(1000, 1.0f);
    host.processReplacing(left, right);
    for (std::size_t i = 0; i < left.size(); ++i)
        ASSERT_NEAR(left[i] + right[i], 1.0f, 1e-5f) << i;
}

} // namespace
} // namespace quor::test
