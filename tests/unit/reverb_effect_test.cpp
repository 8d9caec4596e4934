#include "effects/reverb/reverb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <new>
#include <random>
#include <thread>
#include <vector>

namespace quor {
namespace {

// Drives the effect as the host adapter does: values and parameterChanged
// under processLock, then the deferred builds with no lock held.
void set(Reverb& fx, std::int32_t index, float value) {
    {
        std::lock_guard<InstanceLock> lock(fx.processLock);
        fx.values[index] = value;
        fx.parameterChanged(index);
    }
    fx.applyDeferredChanges();
}

void start(Reverb& fx, float rate) {
    {
        std::lock_guard<InstanceLock> lock(fx.processLock);
        fx.setSampleRate(rate);
        fx.reset();
    }
    fx.applyDeferredChanges();
}

// Processes stereo noise (or silence) in place; true when all output is finite.
bool render(Reverb& fx, std::int32_t frames, bool noise = true) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> io[2];
    for (auto& ch : io) {
        ch.resize(static_cast<std::size_t>(frames));
        for (float& x : ch)
            x = noise ? dist(rng) : 0.0f;
    }
    for (std::int32_t at = 0; at < frames; at += 512) {
        float* p[2] = {io[0].data() + at, io[1].data() + at};
        AudioBuffers buffers{p, p, std::min(512, frames - at), 0};
        std::lock_guard<InstanceLock> lock(fx.processLock);
        fx.process(buffers, true);
    }
    return std::all_of(io[0].begin(), io[0].end(), [](float x) { return std::isfinite(x); }) &&
           std::all_of(io[1].begin(), io[1].end(), [](float x) { return std::isfinite(x); });
}

TEST(Reverb, DefaultControls) {
    Reverb fx;
    fx.applyDefaults();
    const ReverbControls& k = fx.controls();
    EXPECT_NEAR(k.dryGain, 0.99694f, 1e-5f);
    EXPECT_NEAR(k.wetGain, 0.077789f, 1e-6f);
    EXPECT_EQ(k.makeupGain, 1.0f);
    EXPECT_NEAR(k.rateHz, 0.7125f, 1e-6f);
    EXPECT_NEAR(k.depth, 0.0064103f, 1e-7f);
    EXPECT_EQ(k.feedbackGain, 1.0f);
    EXPECT_EQ(k.decayGain, 0.75f);
    EXPECT_EQ(k.highCutCoef, 0.001f);
    EXPECT_EQ(k.lowCutCoef, 0.001f);

    set(fx, kReverbGain, 1.0f);
    EXPECT_EQ(fx.controls().makeupGain, 4.0f);
    set(fx, kReverbAlgorithm, 0.7f); // a switch acts above 0.5 (the display truncates to "Off")
    EXPECT_EQ(fx.controls().algorithm, 1);
    set(fx, kReverbAlgorithm, 0.5f);
    EXPECT_EQ(fx.controls().algorithm, 0);
}

TEST(Reverb, LinesAreBuiltOnceTheRateIsKnownAndKeptWhenUnchanged) {
    Reverb fx;
    fx.applyDefaults();
    set(fx, kReverbSize, 0.8f);
    set(fx, kReverbSize, 0.4f);
    EXPECT_EQ(fx.tail().linesPerChannel, 0);
    EXPECT_FALSE(fx.feedbackLine(0).hasStorage());
    EXPECT_FALSE(fx.earlyReflections().line[0].hasStorage());

    start(fx, 44100.0f);
    EXPECT_EQ(fx.tail().linesPerChannel, 6);
    EXPECT_EQ(fx.tail().line[0].delay, 1117.0f);
    EXPECT_EQ(fx.tail().line[11].delay, 7008.0f);
    EXPECT_FALSE(fx.tail().line[12].hasStorage());
    EXPECT_EQ(fx.earlyReflections().tapCount, 4);
    EXPECT_EQ(fx.earlyReflections().line[0].capacity, 2834);
    EXPECT_EQ(fx.feedbackLine(1).capacity, 48512);
    EXPECT_EQ(fx.feedbackLine(0).delay, 1.0f);
    render(fx, 4096); // the first block computes the recirculation gains
    EXPECT_NEAR(fx.tail().gain[0], 0.93181f, 1e-5f);
    EXPECT_NEAR(fx.tail().gain[11], 0.64217f, 1e-5f);

    // Spread moves the taps but not the capacity: the line keeps its contents.
    const float* early = fx.earlyReflections().line[0].storage;
    const float* tail = fx.tail().line[3].storage;
    const float tap0 = fx.earlyReflections().tapDelaySamples[0];
    set(fx, kReverbDiffuseSpread, 0.9f);
    EXPECT_NE(fx.earlyReflections().tapDelaySamples[0], tap0);
    EXPECT_EQ(fx.earlyReflections().line[0].storage, early);
    EXPECT_NE(fx.earlyReflections().line[0].read(10.0f), 0.0f);
    set(fx, kReverbTailDensity, 6.7f); // acts as 6: nothing to build
    start(fx, 44100.0f);               // the same rate: nothing to build
    EXPECT_EQ(fx.tail().line[3].storage, tail);

    start(fx, 48000.0f);
    EXPECT_EQ(fx.tail().line[0].capacity,
              planTail({6.0f, 0.4f, 1.0f, 1.0f, 0.5f, 0.5f}, 48000.0f).capacity[0]);
    EXPECT_EQ(fx.feedbackLine(0).capacity, 52802);
    set(fx, kReverbTailDensity, 2.0f); // the lines no longer used lose their storage
    EXPECT_EQ(fx.tail().linesPerChannel, 2);
    EXPECT_FALSE(fx.tail().line[4].hasStorage());
}

TEST(Reverb, LinesShorterThanASampleStayFinite) {
    for (float algorithm : {1.0f, 0.0f}) {
        Reverb fx;
        fx.applyDefaults();
        set(fx, kReverbSize, 0.0f);
        set(fx, kReverbTailSpread, 1.0f);
        set(fx, kReverbAlgorithm, algorithm);
        start(fx, 22050.0f);
        for (int j = 0; j < 2; ++j) { // 64 and 65 semitones below 1 ms
            EXPECT_EQ(fx.tail().line[j].capacity, 1);
            EXPECT_EQ(fx.tail().line[j].delay, 0.0f);
        }
        EXPECT_TRUE(render(fx, 22050));
        EXPECT_EQ(fx.tail().gain[0], 0.0f);
    }
}

// Storage requests fail while armed.
class StarvedReverb : public Reverb {
  public:
    std::atomic<bool> failing{false};

  protected:
    float* allocateLineStorage(std::int32_t samples) override {
        if (failing) throw std::bad_alloc();
        return Reverb::allocateLineStorage(samples);
    }
};

TEST(Reverb, FailedAllocationKeepsThePreviousLines) {
    StarvedReverb fx;
    fx.applyDefaults();
    start(fx, 44100.0f);
    const float* storage = fx.tail().line[0].storage;
    fx.failing = true;
    set(fx, kReverbSize, 0.9f);
    EXPECT_EQ(fx.tail().line[0].storage, storage);
    EXPECT_EQ(fx.tail().line[0].delay, 1117.0f);
    EXPECT_TRUE(render(fx, 4096));
    fx.failing = false;
    set(fx, kReverbSize, 0.9f + 1e-6f);
    EXPECT_GT(fx.tail().line[0].delay, 1117.0f);

    // No line at all: only the dry path sounds.
    StarvedReverb empty;
    empty.applyDefaults();
    empty.failing = true;
    start(empty, 44100.0f);
    EXPECT_FALSE(empty.feedbackLine(0).hasStorage());
    float left[2] = {0.5f, -0.25f}, right[2] = {};
    float* io[2] = {left, right};
    AudioBuffers buffers{io, io, 2, 0};
    empty.process(buffers, true);
    EXPECT_EQ(left[1], 1e-10f * empty.controls().wetGain + (-0.25f + 1e-10f) * empty.controls().dryGain);
}

TEST(Reverb, MixGlidesOnlyOnceProcessingRuns) {
    Reverb fx;
    fx.applyDefaults();
    start(fx, 48000.0f);
    set(fx, kReverbMix, 1.0f);
    EXPECT_EQ(fx.controls().dryGain, 0.0f); // nothing processed yet: at once
    render(fx, 512);
    set(fx, kReverbMix, 0.0f);
    render(fx, 512);
    EXPECT_GT(fx.controls().dryGain, 0.0f);
    EXPECT_LT(fx.controls().dryGain, 1.0f);
    render(fx, static_cast<std::int32_t>(fx.rampLength()) - 512);
    EXPECT_EQ(fx.controls().dryGain, 1.0f);
    EXPECT_NEAR(fx.rampLength(), 0.2f * 48000.0f + 1.0f, 2.0f);
}

// Rebuilds from two control threads while the audio thread runs blocks.
TEST(Reverb, ConcurrentRebuildsStaySafe) {
    Reverb fx;
    fx.applyDefaults();
    start(fx, 44100.0f);
    std::atomic<bool> done{false}, finite{true};
    std::thread audio([&] {
        while (!done)
            if (!render(fx, 512)) finite = false;
    });
    auto control = [&](std::int32_t index, unsigned seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> dist(0.0f, 1.0f);
        for (int i = 0; i < 150; ++i)
            set(fx, index, index == kReverbTailDensity ? 1.0f + 15.0f * dist(rng) : dist(rng));
    };
    std::thread size(control, kReverbSize, 1u), density(control, kReverbTailDensity, 2u);
    control(kReverbDiffuseDensity, 3u);
    size.join();
    density.join();
    done = true;
    audio.join();
    EXPECT_TRUE(finite);
    // Whatever the interleaving, the last values are what is built.
    const TailPlan plan =
        planTail({fx.values[kReverbTailDensity], fx.values[kReverbSize], 1.0f, 1.0f, 0.5f, 0.5f}, 44100.0f);
    ASSERT_EQ(fx.tail().linesPerChannel, plan.linesPerChannel);
    for (std::int32_t j = 0; j < 2 * plan.linesPerChannel; ++j)
        EXPECT_EQ(fx.tail().line[j].capacity, plan.capacity[j]) << j;
}

} // namespace
} // namespace quor
