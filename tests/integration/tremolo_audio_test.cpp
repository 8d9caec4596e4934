// The Tremolo's audio, sample by sample, against the modulator computed here
// in the same single-precision order.
#include "tests/support/test_host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace quor::test {
namespace {

using Stereo = std::vector<float>[2];

// Host-side settings, normalised as the host sends them.
struct Settings {
    float rate = 0.5f;
    float depth = 1.0f;
    float width = 0.0f;
    float shape = 0.25f;
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

private:
    float depth, halfWidth, k, inc;
    float phase = 0.0f;
};

std::vector<float> signal(std::size_t frames, float seed) {
    std::vector<float> x(frames);
    for (std::size_t i = 0; i < frames; ++i)
        x[i] = std::sin(seed * static_cast<float>(i) + seed) * 0.8f;
    return x;
}

void expectSame(const Stereo& actual, const Stereo& expected, const char* what) {
    for (int c = 0; c < 2; ++c)
        for (std::size_t i = 0; i < expected[c].size(); ++i)
            if (std::memcmp(&actual[c][i], &expected[c][i], sizeof(float)) != 0) {
                ADD_FAILURE() << what << ": channel " << c << " frame " << i << " is " << actual[c][i]
                              << ", expected " << expected[c][i];
                return;
            }
}

// Sets the parameters, then (with a rate) starts the plug-in as a host does.
void configure(const TestHost& host, const Settings& s, float sampleRate = 0.0f) {
    host.setParam(0, s.rate);
    host.setParam(1, s.depth);
    host.setParam(2, s.width);
    host.setParam(3, s.shape);
    if (sampleRate > 0.0f) host.start(sampleRate);
}

constexpr float kRate = 11025.0f;

TEST(TremoloAudio, MatchesTheModulatorForEveryShape) {
    // Fractional shapes and every breakpoint, 4 included; blocks of odd sizes
    // over more than a cycle so the phase wraps between and within blocks.
    for (float shape : {0.0f, 0.5f, 1.0f, 1.2f, 2.0f, 2.5f, 3.0f, 3.7f, 4.0f})
        for (float width : {0.0f, 0.3f, 1.0f}) {
            const Settings s{1.0f, 0.8f, width, shape / 4.0f};
            TestHost host("Tremolo");
            ASSERT_TRUE(host.loaded());
            configure(host, s, kRate);
            Modulator reference(s, kRate);
            for (std::size_t frames : {256u, 1u, 700u, 333u}) {
                Stereo in = {signal(frames, 0.05f), signal(frames, 0.031f)};
                Stereo expected = {in[0], in[1]};
                reference.run(in, expected, true);
                host.processReplacing(in[0], in[1]);
                expectSame(in, expected, ("shape " + std::to_string(shape) + " width " + std::to_string(width)).c_str());
            }
        }
}

TEST(TremoloAudio, AccumulatingAndInPlace) {
    const Settings s{0.7f, 1.0f, 1.0f, 0.6f};
    TestHost host("Tremolo");
    ASSERT_TRUE(host.loaded());
    configure(host, s, 48000.0f);
    Modulator reference(s, 48000.0f);

    const Stereo in = {signal(500, 0.02f), signal(500, 0.07f)};
    Stereo out = {std::vector<float>(500, 0.25f), std::vector<float>(500, -0.5f)};
    Stereo expected = {out[0], out[1]};
    reference.run(in, expected, false);
    host.processAccumulating(in[0], in[1], out[0], out[1]);
    expectSame(out, expected, "accumulating");

    // The accumulating call with one array for input and output replaces.
    Stereo io = {signal(300, 0.02f), signal(300, 0.07f)};
    Stereo replaced = {io[0], io[1]};
    reference.run(io, replaced, true);
    float* channels[2] = {io[0].data(), io[1].data()};
    host.effect()->process(host.effect(), channels, channels, 300);
    expectSame(io, replaced, "in-place accumulating");
    EXPECT_EQ(host.calls().ioChanged, 0); // no latency, nothing to report
}

TEST(TremoloAudio, DepthAndWidth) {
    TestHost host("Tremolo");
    ASSERT_TRUE(host.loaded());
    configure(host, Settings{1.0f, 0.0f, 1.0f, 0.5f}, kRate);
    Stereo io = {signal(1000, 0.05f), signal(1000, 0.09f)};
    const Stereo original = {io[0], io[1]};
    host.processReplacing(io[0], io[1]);
    expectSame(io, original, "depth 0"); // untouched

    // Width 1 puts the channels half a cycle apart: on the near-linear
    // triangle of Shape 2 the two gains always add up to one.
    host.setParam(1, 1.0f);
    std::vector<float> left(1000, 1.0f), right(1000, 1.0f);
    host.processReplacing(left, right);
    for (std::size_t i = 0; i < left.size(); ++i)
        ASSERT_NEAR(left[i] + right[i], 1.0f, 1e-5f) << i;
}

TEST(TremoloAudio, ResetAfterSuspendAndBlocksBeforeARate) {
    const Settings s{0.4f, 0.9f, 0.2f, 0.7f};
    TestHost host("Tremolo");
    ASSERT_TRUE(host.loaded());
    configure(host, s);

    // Before any sample rate the plug-in passes audio through, and returns.
    Stereo early = {signal(64, 0.1f), signal(64, 0.2f)};
    const Stereo unchanged = {early[0], early[1]};
    host.processReplacing(early[0], early[1]);
    expectSame(early, unchanged, "before a sample rate");

    host.start(kRate);
    const Stereo in = {signal(400, 0.05f), signal(400, 0.03f)};
    Modulator reference(s, kRate);
    Stereo first = {in[0], in[1]}, expected = {in[0], in[1]};
    reference.run(in, expected, true);
    host.processReplacing(first[0], first[1]);
    expectSame(first, expected, "first block");

    // Suspend and resume: the next block starts again from phase 0, not from
    // where the first block left the oscillator.
    host.suspend();
    host.resume();
    Stereo restarted = {in[0], in[1]};
    host.processReplacing(restarted[0], restarted[1]);
    expectSame(restarted, first, "after suspend");
}

} // namespace
} // namespace quor::test
