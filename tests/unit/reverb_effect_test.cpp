// The Reverb's plans, coefficients and controls, and its line builds. What
// the frame-by-frame model recomputes itself (loop gains, normalisation, the
// allpass, echo scale, tap weights, modulation offsets) it checks bit for bit;
// what it takes from the effect is pinned here.
#include "effects/reverb/reverb.h"
#include "framework/effect_controller.h"
#include "tests/support/effect_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>
#include <random>
#include <thread>
#include <utility>
#include <vector>

namespace quor {
namespace {

TEST(EarlyReflections, TapsAndCapacities) {
    const EarlyPlan plan = planEarlyReflections({0.0f, 1.0f, 0.5f, 0.5f, 0.5f, 1.0f}, 44100.0f); // defaults
    ASSERT_EQ(plan.tapCount, 4);
    EXPECT_EQ(plan.capacity[0], 2834);
    EXPECT_EQ(plan.capacity[1], 2327);
    const float taps[4][2] = {
        {190.70f, 164.04f}, {366.28f, 307.70f}, {735.13f, 609.49f}, {1474.33f, 1214.29f}};
    for (int j = 0; j < 8; ++j)
        EXPECT_NEAR(plan.tapDelaySamples[j], taps[j / 2][j % 2], 0.006f) << j;
    EXPECT_NEAR(tapWeightRatio(1), 0.99f, 1e-6f);

    // Density 1: twelve taps over 200 ms, longest first with direction off;
    // Stereo 0 makes both channels alike.
    const EarlyPlan full = planEarlyReflections({0.0f, 0.0f, 1.0f, 0.5f, 0.5f, 0.0f}, 48000.0f);
    ASSERT_EQ(full.tapCount, 12);
    EXPECT_NEAR(full.tapDelaySamples[0], 9648.0f, 0.05f);
    for (int j = 0; j < 24; j += 2) {
        EXPECT_EQ(full.tapDelaySamples[j], full.tapDelaySamples[j + 1]) << j;
        EXPECT_TRUE(j == 0 || full.tapDelaySamples[j] < full.tapDelaySamples[j - 2]) << j;
    }
    // A stored value beyond the range never asks for more taps than exist.
    EXPECT_EQ(planEarlyReflections({0.0f, 1.0f, 40.0f, 0.5f, 0.5f, 1.0f}, 48000.0f).tapCount,
              kMaxTapsPerChannel);
}

TEST(FeedbackDelay, TimesAndBandPass) {
    // The longest left delay still leaves its line the interpolation neighbour.
    const FeedbackTimes longest = feedbackDelaySamples(1.0f, 1.0f, 44100.0f);
    EXPECT_NEAR(longest.rightSamples, 0.9f * 44100.0f + 1.0f, 0.01f);
    EXPECT_LE(longest.leftSamples, static_cast<float>(feedbackLineCapacity(44100.0f) - 1));
    const BandPassCoefficients k = bandPassCoefficients(0.4f, 0.7f);
    EXPECT_NEAR(k.lowpass, 0.54070f, 1e-5f);
    EXPECT_NEAR(k.highpass, 0.0052632f, 1e-7f);
    EXPECT_EQ(bandPassCoefficients(0.4f, 0.0f).lowpass, bandPassCoefficients(0.4f, 0.1f).lowpass);
}

TEST(ReverbTail, LineDelaysAndCoefficients) {
    const int longLast[12] = {1117, 1054, 1567, 1660, 2445, 2308, 3359, 3558, 5089, 4804, 6615, 7008};
    const int longFirst[12] = {7093, 6694, 4888, 5179, 3625, 3422, 2353, 2493, 1693, 1598, 1075, 1139};
    for (float direction : {1.0f, 0.0f}) {
        const TailPlan plan = planTail({6.0f, 0.4f, 1.0f, direction, 0.5f, 0.5f}, 44100.0f);
        ASSERT_EQ(plan.linesPerChannel, 6);
        for (int j = 0; j < 12; ++j)
            EXPECT_EQ(plan.capacity[j] - 1, direction > 0.5f ? longLast[j] : longFirst[j])
                << direction << " " << j;
    }
    // Size 0, widest spread, 22050 Hz: a line shorter than a sample holds one slot.
    EXPECT_EQ(planTail({6.0f, 0.0f, 1.0f, 1.0f, 1.0f, 0.5f}, 22050.0f).capacity[1], 1);
    EXPECT_EQ(tailLinesFor(6.7f), 6);
    EXPECT_EQ(tailLinesFor(99.0f), kMaxTailLinesPerChannel);
    EXPECT_EQ(tailLinesFor(-3.0f), 1);

    // Decay 0 and loops of a sample or less: no recirculation, never a NaN.
    for (auto [decay, delay] : {std::pair{0.0f, 1117.0f}, {1.0f, 1.0f}, {1.0f, 0.0f}})
        EXPECT_EQ(recirculationGain(delay, decayLaw(decay), 44100.0f), 0.0f) << decay << " " << delay;
    EXPECT_EQ(allpassCoefficient(22000.0f), -0.99999f); // crossover at Nyquist: kept inside the unit circle
    EXPECT_EQ(tailDiffusion(0.0f).allpassCoef, 0.0f);
    EXPECT_NEAR(tailDiffusion(0.9f).allpassCoef, 0.67839f, 1e-5f);
    EXPECT_NEAR(tailDiffusion(0.9f).chainCoef, 0.29053f, 1e-5f);
    EXPECT_EQ(highCutCoefficient(1.0f), 0.001f);
    EXPECT_NEAR(highCutCoefficient(0.5f), 0.735f, 1e-6f);
    EXPECT_NEAR(lowCutCoefficient(0.5f), 0.041667f, 1e-6f);
}

using test::setValue;
using test::startAt;

// A Reverb with its defaults whose storage requests fail while `failing`;
// after `holdNext` the next one is held open until `release`.
class GatedReverb : public Reverb {
  public:
    GatedReverb() { applyDefaults(); }
    std::atomic<bool> failing{false}, holdNext{false}, holding{false}, release{false};

  protected:
    float* allocateLineStorage(std::int32_t samples) override {
        if (failing) throw std::bad_alloc();
        if (holdNext.exchange(false)) {
            holding = true;
            while (!release)
                std::this_thread::yield();
        }
        return Reverb::allocateLineStorage(samples);
    }
};

// Processes stereo noise in place; true when all output is finite.
bool render(Reverb& fx, std::int32_t frames) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> io(2 * static_cast<std::size_t>(frames)); // left, then right
    std::generate(io.begin(), io.end(), [&] { return dist(rng); });
    for (std::int32_t at = 0; at < frames; at += 512) {
        float* p[2] = {io.data() + at, io.data() + frames + at};
        AudioBuffers buffers{p, p, std::min(512, frames - at), 0};
        fx.process(buffers, true);
    }
    return std::all_of(io.begin(), io.end(), [](float x) { return std::isfinite(x); });
}

TEST(Reverb, ControlsAtTheDefaultsAndBeyond) {
    GatedReverb fx;
    const ReverbControls& k = fx.controls();
    EXPECT_NEAR(k.rateHz, 0.7125f, 1e-6f);
    EXPECT_NEAR(k.depth, 0.0064103f, 1e-7f);
    EXPECT_EQ(k.makeupGain, 1.0f);
    EXPECT_EQ(k.feedbackGain, 1.0f);
    EXPECT_EQ(k.decayGain, 0.75f);
    EXPECT_EQ(k.highCutCoef, 0.001f);
    EXPECT_EQ(k.lowCutCoef, 0.001f);
    setValue(fx, kReverbGain, 1.0f);
    EXPECT_EQ(k.makeupGain, 4.0f);
    setValue(fx, kReverbAlgorithm, 0.7f); // a switch acts above 0.5
    EXPECT_EQ(k.algorithm, 1);
    setValue(fx, kReverbAlgorithm, 0.5f);
    EXPECT_EQ(k.algorithm, 0);
}

TEST(Reverb, LinesAreBuiltOnceTheRateIsKnownAndKeptWhenUnchanged) {
    GatedReverb fx;
    setValue(fx, kReverbSize, 0.4f); // no rate yet: nothing to build for
    EXPECT_EQ(fx.tail().linesPerChannel, 0);
    EXPECT_FALSE(fx.feedbackLine(0).hasStorage());
    EXPECT_FALSE(fx.earlyReflections().line[0].hasStorage());

    startAt(fx, 44100.0f);
    EXPECT_EQ(fx.tail().line[0].delay, 1117.0f); // a tail line is read at its capacity - 1
    EXPECT_EQ(fx.tail().line[11].delay, 7008.0f);
    EXPECT_EQ(fx.tail().linesPerChannel, 6);
    EXPECT_EQ(fx.earlyReflections().line[0].capacity, 2834);
    EXPECT_EQ(fx.feedbackLine(1).capacity, 48512);
    EXPECT_EQ(fx.feedbackLine(0).delay, 1.0f);
    render(fx, 4096);

    // Spread moves the taps but not the capacity: the line keeps its contents.
    const float* early = fx.earlyReflections().line[0].storage;
    const float* tail = fx.tail().line[3].storage;
    const float tap0 = fx.earlyReflections().tapDelaySamples[0];
    setValue(fx, kReverbDiffuseSpread, 0.9f); // lines that sound change with the next block
    render(fx, 1);
    EXPECT_NE(fx.earlyReflections().tapDelaySamples[0], tap0);
    EXPECT_EQ(fx.earlyReflections().line[0].storage, early);
    EXPECT_NE(fx.earlyReflections().line[0].read(10.0f), 0.0f);
    setValue(fx, kReverbTailDensity, 6.7f); // acts as 6: nothing to build
    startAt(fx, 44100.0f);                  // the same rate: nothing to build
    EXPECT_EQ(fx.tail().line[3].storage, tail);

    startAt(fx, 48000.0f);
    EXPECT_EQ(fx.feedbackLine(0).capacity, 52802);
    setValue(fx, kReverbTailDensity, 2.0f); // silent lines change at once
    EXPECT_EQ(fx.tail().linesPerChannel, 2);
}

TEST(Reverb, FailedAllocationKeepsThePreviousLines) {
    GatedReverb fx;
    startAt(fx, 44100.0f);
    render(fx, 512); // lines that hold sound change only with new storage
    const float* storage = fx.tail().line[0].storage;
    fx.failing = true;
    setValue(fx, kReverbSize, 0.9f);
    render(fx, 1); // asks for storage for the new lengths, which cannot be had
    test::finishDeferredWork(fx);
    EXPECT_EQ(fx.tail().line[0].storage, storage);
    EXPECT_EQ(fx.tail().line[0].delay, 1117.0f);
    EXPECT_TRUE(render(fx, 4096));
    fx.failing = false;
    setValue(fx, kReverbSize, 0.9f + 1e-6f); // the next change asks again
    render(fx, 1);
    test::finishDeferredWork(fx);
    EXPECT_GT(fx.tail().line[0].delay, 1117.0f);

    // No line at all: only the dry path sounds.
    GatedReverb empty;
    empty.failing = true;
    startAt(empty, 44100.0f);
    EXPECT_FALSE(empty.feedbackLine(0).hasStorage());
    float left[2] = {0.5f, -0.25f}, right[2] = {};
    float* io[2] = {left, right};
    AudioBuffers buffers{io, io, 2, 0};
    empty.process(buffers, true);
    EXPECT_EQ(left[1], 1e-10f * empty.controls().wetGain + (-0.25f + 1e-10f) * empty.controls().dryGain);
}

TEST(Reverb, MixGlidesOnlyOnceProcessingRuns) {
    GatedReverb fx;
    startAt(fx, 48000.0f);
    EXPECT_EQ(fx.rampLength(), 9601.0f); // 0.2 s, plus one
    setValue(fx, kReverbMix, 1.0f);
    EXPECT_EQ(fx.controls().dryGain, 0.0f); // nothing processed yet: at once
    render(fx, 512);
    setValue(fx, kReverbMix, 0.0f);
    render(fx, 512);
    EXPECT_GT(fx.controls().dryGain, 0.0f);
    EXPECT_LT(fx.controls().dryGain, 1.0f);
    render(fx, 9601 - 512);
    EXPECT_EQ(fx.controls().dryGain, 1.0f);
}

// A Reverb run as a host adapter runs it: values stored from any thread,
// builds on the controller's worker, installs at block starts.
struct Session {
    Session() { controller.changeSampleRate(48000.0f); }
    // One audio block; false when it was skipped.
    bool block(std::int32_t frames = 256) {
        if (!controller.beginBlock()) return false;
        const bool ran = controller.runPendingReset();
        if (ran) render(fx, frames);
        controller.endBlock();
        return ran;
    }
    void expectTailBuiltFor(float density, float size) const {
        const TailPlan plan = planTail({density, size, 1.0f, 1.0f, 0.5f, 0.5f}, 48000.0f);
        ASSERT_EQ(fx.tail().linesPerChannel, plan.linesPerChannel);
        for (std::int32_t j = 0; j < 2 * plan.linesPerChannel; ++j)
            EXPECT_EQ(fx.tail().line[j].capacity, plan.capacity[j]) << j;
    }

    EffectController controller{std::make_unique<GatedReverb>(), std::make_unique<GatedReverb>()};
    GatedReverb& fx = static_cast<GatedReverb&>(controller.effect());
};

TEST(Reverb, ADensityChangedBackDuringItsBuildIsBuilt) {
    Session s;
    s.block(); // the lines now hold sound: new lengths need new storage
    s.fx.holdNext = true;
    s.controller.storeValue(kReverbTailDensity, 8.0f);
    s.block(); // applies Density 8: the worker starts the build and stops in it
    while (!s.fx.holding)
        std::this_thread::yield();
    s.controller.storeValue(kReverbTailDensity, 6.0f);
    s.block(); // applies Density 6 while the build for 8 is open
    s.fx.release = true;
    s.controller.settle(); // takes the finished build in, then builds what the stored values need
    s.expectTailBuiltFor(6.0f, 0.4f);
    EXPECT_EQ(s.fx.values[kReverbTailDensity], 6.0f);
}

// Changes from two control threads while the audio thread runs blocks.
TEST(Reverb, ConcurrentChangesEndBuiltAsStored) {
    Session s;
    std::atomic<bool> done{false};
    std::thread audio([&] {
        while (!done)
            s.block(512);
    });
    auto control = [&](std::int32_t index, unsigned seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> dist(0.0f, 1.0f);
        for (int i = 0; i < 300; ++i)
            s.controller.storeValue(index, index == kReverbTailDensity ? std::floor(1.0f + 16.0f * dist(rng))
                                                                       : dist(rng));
    };
    std::thread size(control, kReverbSize, 1u), density(control, kReverbTailDensity, 2u);
    control(kReverbAlgorithm, 3u);
    size.join();
    density.join();
    done = true;
    audio.join();
    s.controller.settle();
    for (std::int32_t i = 0; i < kReverbParamCount; ++i)
        EXPECT_EQ(s.fx.values[i], s.controller.storedValue(i)) << i;
    s.expectTailBuiltFor(s.fx.values[kReverbTailDensity], s.fx.values[kReverbSize]);
    EXPECT_EQ(s.fx.controls().algorithm, s.fx.values[kReverbAlgorithm] > 0.5f ? 1 : 0);
}

} // namespace
} // namespace quor
