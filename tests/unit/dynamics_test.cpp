// The dynamics kernels and effects at their telling values: the envelope's
// hold and release, the filter's cut-off limits, damping and ramp, the
// Limiter's latency, the Compressor's settled gain, the Gate's thresholds
// and holds.
#include "dsp/envelope_follower.h"
#include "dsp/multimode_filter.h"
#include "framework/registry.h"
#include "tests/support/effect_driver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace quor {
namespace {

TEST(EnvelopeFollower, HoldThenRelease) {
    // At 1000 Hz: a hold of 4 ms is four falling samples that still approach
    // the held peak, a hold of 0 exactly one; then the release takes 100 ms
    // to 1 %.
    for (const float holdSeconds : {0.0f, 0.004f}) {
        EnvelopeFollower env;
        env.setRate(1000.0f);
        env.attackTime = 0.01f;
        env.holdTime = holdSeconds;
        env.releaseTime = 0.1f;
        env.step(1, -1.0f);
        EXPECT_FLOAT_EQ(env.level[1], 1.0f - std::pow(0.01f, 0.1f));
        EXPECT_EQ(env.level[0], 0.0f);
        const int holdSamples = holdSeconds > 0.0f ? 4 : 1;
        float top = env.level[1];
        for (int i = 0; i <= holdSamples; ++i) {
            env.step(1, 0.0f);
            EXPECT_EQ(env.level[1] > top, i < holdSamples) << "falling sample " << i;
            top = std::max(top, env.level[1]);
        }
        for (int i = 1; i < 100; ++i)
            env.step(1, 0.0f);
        EXPECT_NEAR(env.level[1] / top, 0.01f, 1e-4f) << "1 % after the release time";
        EXPECT_EQ(env.takeBlockMax(1), top);
        EXPECT_EQ(env.blockMax[1], 0.0f);
    }
}

float noteZeroHz() {
    return 440.0f * std::pow(semitoneRatio, -69.0f);
}

TEST(MultimodeFilter, CutoffLimitsDampingAndRamp) {
    MultimodeFilter filter(noteZeroHz());
    filter.setSampleRate(44100.0f);
    filter.setControlDivisor(16);
    const struct {
        float cutoff, resonance, cutoffHz, damping;
    } rows[] = {
        {0.0f, 0.0f, 2.0f * noteZeroHz(), 2.9965f}, // 16.35 Hz, a very soft low-pass
        {0.0f, 1.0f, 2.0f * noteZeroHz(), 0.0f},    // self-oscillation
        {1.0f, 0.0f, 21498.75f, 0.0f},              // 26.6 kHz held to 0.4875 fs
    };
    for (const auto& row : rows) {
        filter.cutoff = row.cutoff;
        filter.resonance = row.resonance;
        filter.updateControl();
        filter.updateControl(); // the ramp of the change is complete
        EXPECT_NEAR(filter.cutoffHz(), row.cutoffHz, 0.01f) << row.cutoff;
        if (row.cutoff == 0.0f) {
            EXPECT_NEAR(filter.damping(), row.damping, 1e-4f) << row.resonance;
        }
    }
    // The gain ramps over one control block of 16; a shorter block leaves the
    // ramp unfinished and the next update jumps to the target.
    std::vector<float> left(16, 0.0f), right(16, 0.0f);
    float* io[2] = {left.data(), right.data()};
    filter.cutoff = 0.25f;
    filter.updateControl();
    filter.process(io, io, 16, true);
    EXPECT_NEAR(filter.gain(), filter.targetGain(), 1e-6f);
    const float from = filter.targetGain();
    filter.cutoff = 0.75f;
    filter.updateControl();
    filter.process(io, io, 5, true);
    EXPECT_GT(filter.gain(), from);
    EXPECT_LT(filter.gain(), filter.targetGain());
    filter.updateControl();
    EXPECT_EQ(filter.gain(), filter.targetGain());
}

std::unique_ptr<HostedEffect> make(const char* name) {
    std::unique_ptr<HostedEffect> fx(EffectRegistry::suite().findAndCreate({1, name}));
    fx->applyDefaults();
    return fx;
}

// Runs the effect on constant main inputs x and side-chain inputs side;
// returns the last left output.
float run(HostedEffect& fx, int frames, float x, float side = 0.0f) {
    std::vector<float> main(static_cast<std::size_t>(frames), x), chain(main.size(), side), l(main.size()),
        r(main.size());
    float* in[4] = {main.data(), main.data(), chain.data(), chain.data()};
    float* out[2] = {l.data(), r.data()};
    AudioBuffers buffers{in, out, frames, 0};
    fx.process(buffers, true);
    return l.back();
}

TEST(Dynamics, ProcessingBeforeAnyRatePassesAudio) {
    // No delay line and no control divisor exist yet: nothing may loop or read.
    for (const char* name : {"Limiter", "Follower", "Compressor", "Gate"}) {
        auto fx = make(name);
        EXPECT_TRUE(std::isfinite(run(*fx, 100, 0.5f))) << name;
    }
}

TEST(Limiter, LatencyFollowsLookaheadAndCompensation) {
    const struct {
        float rate, attack, lookahead, compensation;
        std::int32_t latency;
    } rows[] = {
        {44100.0f, 0.2f, 1.0f, 0.0f, 51},   {44100.0f, 0.2f, 1.0f, 1.0f, 4410},
        {44100.0f, 0.2f, 0.0f, 0.0f, 0},    {48000.0f, 0.2f, 1.0f, 0.0f, 56},
        {48000.0f, 1.0f, 1.0f, 0.0f, 4800}, {48000.0f, 0.2f, 0.5f, 1.0f, 4800},
        {96000.0f, 0.6f, 0.7f, 0.0f, 929},
    };
    for (const auto& row : rows) {
        auto fx = make("Limiter");
        EXPECT_EQ(fx->latency, 0) << "no rate yet";
        test::setValue(*fx, 0, row.attack);
        test::setValue(*fx, 6, row.lookahead);
        test::setValue(*fx, 9, row.compensation);
        test::startAt(*fx, 22050.0f);
        test::startAt(*fx, row.rate);
        EXPECT_EQ(fx->latency, row.latency) << row.rate << " Hz, attack " << row.attack;
        EXPECT_TRUE(std::isfinite(run(*fx, 5000, 1.0f)));
        EXPECT_TRUE(fx->resetClearsLargeBuffers());
        fx->reset();
        EXPECT_FALSE(fx->resetClearsLargeBuffers());
    }
}

TEST(Compressor, SettlesWhereGainIsOneOverOnePlusKx) {
    // Threshold p sets k; a steady full-scale input settles at 1 / (1 + k),
    // which at p = 0 is the threshold itself, -48 dB.
    // Each attack is slow enough for its k to settle, and fast enough for the
    // last steps not to vanish in single precision.
    const struct {
        float threshold, k, attack;
    } rows[] = {{1.0f, 0.00554f, 0.0f}, {0.5f, 14.89f, 0.0f}, {0.0f, 250.19f, 0.5f}};
    for (const auto& row : rows) {
        auto fx = make("Compressor");
        test::setValue(*fx, 2, row.threshold);
        test::setValue(*fx, 0, row.attack);
        test::startAt(*fx, 44100.0f);
        const float gain = run(*fx, 88200, 1.0f);
        EXPECT_NEAR(1.0f / gain - 1.0f, row.k, row.k * 2e-3f) << row.threshold;
        if (row.threshold == 0.0f) {
            EXPECT_NEAR(gain, 0.00398f, 1e-5f);
        }
    }
}

TEST(Gate, HysteresisAndHolds) {
    // Defaults: opens above -19.2 dB, closes below -24 dB. The side-chain
    // drives the detector; the constant main input shows the gain.
    const auto db = [](float v) { return std::pow(10.0f, v / 20.0f); };
    auto fx = make("Gate");
    test::setValue(*fx, 9, 1.0f);
    test::startAt(*fx, 44100.0f);
    const struct {
        float levelDb;
        bool open;
    } steps[] = {{-19.4f, false}, {-19.0f, true}, {-23.8f, true}, {-24.2f, false}, {-19.4f, false}};
    for (const auto& step : steps)
        EXPECT_NEAR(run(*fx, 22050, 1.0f, db(step.levelDb)), step.open ? 1.0f : 0.0f, 1e-3f) << step.levelDb;

    // One sample above the threshold keeps the gate on for the minimum open
    // time and then the hold (both "Hold", 126 ms each), before the release.
    test::setValue(*fx, 2, 0.5f);
    test::setValue(*fx, 5, 0.5f);
    const float holdsSamples = 2.0f * (1.999f * 0.0625f + 0.001f) * 44100.0f;
    fx->reset();
    run(*fx, 1, 1.0f, 1.0f);
    EXPECT_GT(run(*fx, static_cast<int>(holdsSamples) - 100, 1.0f, 0.0f), 0.999f);
    EXPECT_LT(run(*fx, 600, 1.0f, 0.0f), 0.01f);
}

} // namespace
} // namespace quor
