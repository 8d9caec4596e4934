#include "effects/reverb/reverb.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <new>
#include <random>
#include <string>
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

// Processes stereo noise (or silence), returns the outputs interleaved.
std::vector<float> render(Reverb& fx, std::int32_t frames, bool noise = true, unsigned seed = 7) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size()), out;
    for (std::size_t i = 0; noise && i < left.size(); ++i) {
        left[i] = dist(rng);
        right[i] = dist(rng);
    }
    for (std::int32_t at = 0; at < frames; at += 512) {
        const std::int32_t n = std::min(512, frames - at);
        float* io[2] = {left.data() + at, right.data() + at};
        AudioBuffers buffers{io, io, n, 0};
        std::lock_guard<InstanceLock> lock(fx.processLock);
        fx.process(buffers, true);
    }
    for (std::size_t i = 0; i < left.size(); ++i) {
        out.push_back(left[i]);
        out.push_back(right[i]);
    }
    return out;
}

bool allFinite(const std::vector<float>& v) {
    for (float x : v)
        if (!std::isfinite(x)) return false;
    return true;
}

std::string display(Reverb& fx, std::int32_t index) {
    char text[64] = {};
    fx.formatValue(index, text, 64);
    return text;
}

TEST(Reverb, DefaultControlsAndDisplays) {
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
    EXPECT_NEAR(k.allpassCoef, 0.67839f, 1e-5f);
    EXPECT_NEAR(k.chainCoef, 0.29053f, 1e-5f);
    EXPECT_NEAR(k.band.lowpass, 0.54070f, 1e-5f);
    EXPECT_EQ(k.algorithm, 1);
    EXPECT_EQ(display(fx, kReverbRate), "0.71 Hz");
    EXPECT_EQ(display(fx, kReverbMix), "12%");
    EXPECT_EQ(display(fx, kReverbAlgorithm), "On");
    EXPECT_EQ(display(fx, kReverbTailDensity), "6");

    set(fx, kReverbGain, 1.0f);
    EXPECT_EQ(fx.controls().makeupGain, 4.0f);
    set(fx, kReverbAlgorithm, 0.7f); // a switch acts above 0.5 while the display truncates
    EXPECT_EQ(fx.controls().algorithm, 1);
    EXPECT_EQ(display(fx, kReverbAlgorithm), "Off");
    set(fx, kReverbAlgorithm, 0.5f);
    EXPECT_EQ(fx.controls().algorithm, 0);
}

TEST(Reverb, LinesAreBuiltOnlyOnceTheRateIsKnown) {
    Reverb fx;
    fx.applyDefaults();
    set(fx, kReverbSize, 0.8f);
    set(fx, kReverbDiffuseDensity, 0.9f);
    EXPECT_EQ(fx.tail().linesPerChannel, 0);
    EXPECT_EQ(fx.earlyReflections().tapCount, 0);
    EXPECT_FALSE(fx.feedbackLine(0).hasStorage());
    EXPECT_FALSE(fx.earlyReflections().line[0].hasStorage());

    set(fx, kReverbSize, 0.4f);
    set(fx, kReverbDiffuseDensity, 0.5f);
    start(fx, 44100.0f);
    EXPECT_EQ(fx.tail().linesPerChannel, 6);
    EXPECT_EQ(fx.tail().line[0].delay, 1117.0f);
    EXPECT_EQ(fx.tail().line[11].delay, 7008.0f);
    EXPECT_FALSE(fx.tail().line[12].hasStorage());
    EXPECT_EQ(fx.earlyReflections().tapCount, 4);
    EXPECT_EQ(fx.earlyReflections().line[0].capacity, 2834);
    EXPECT_EQ(fx.feedbackLine(1).capacity, 48512);
    EXPECT_EQ(fx.feedbackLine(0).delay, 1.0f);
    EXPECT_NEAR(fx.rampLength(), 0.2f * 44100.0f + 1.0f, 2.0f);

    render(fx, 2048); // gains follow the lines at the first block
    EXPECT_NEAR(fx.tail().gain[0], 0.93181f, 1e-5f);
    EXPECT_NEAR(fx.tail().gain[11], 0.64217f, 1e-5f);
}

TEST(Reverb, RebuildsKeepWhatDidNotChange) {
    Reverb fx;
    fx.applyDefaults();
    start(fx, 44100.0f);
    render(fx, 4096);
    const float* earlyStorage = fx.earlyReflections().line[0].storage;
    const float* tailStorage = fx.tail().line[3].storage;

    // Spread moves the taps but not the capacity: the line keeps its contents.
    const float tap0 = fx.earlyReflections().tapDelaySamples[0];
    set(fx, kReverbDiffuseSpread, 0.9f);
    EXPECT_NE(fx.earlyReflections().tapDelaySamples[0], tap0);
    EXPECT_EQ(fx.earlyReflections().line[0].storage, earlyStorage);
    EXPECT_NE(fx.earlyReflections().line[0].read(10.0f), 0.0f);

    // Tail Density 6.7 acts as 6: nothing is rebuilt.
    set(fx, kReverbTailDensity, 6.7f);
    EXPECT_EQ(fx.tail().line[3].storage, tailStorage);

    // The same rate again changes nothing; another rate rebuilds and silences.
    start(fx, 44100.0f);
    EXPECT_EQ(fx.tail().line[3].storage, tailStorage);
    start(fx, 48000.0f);
    EXPECT_EQ(fx.tail().line[0].capacity, planTail({6.0f, 0.4f, 1.0f, 1.0f, 0.5f, 0.5f}, 48000.0f).capacity[0]);
    EXPECT_EQ(fx.feedbackLine(0).capacity, 52802);
    const std::vector<float> after = render(fx, 512, false);
    for (float y : after)
        ASSERT_LT(std::fabs(y), 1e-8f);

    // Fewer lines: the rest lose their storage.
    set(fx, kReverbTailDensity, 2.0f);
    EXPECT_EQ(fx.tail().linesPerChannel, 2);
    EXPECT_FALSE(fx.tail().line[4].hasStorage());
    EXPECT_TRUE(fx.tail().line[3].hasStorage());
}

TEST(Reverb, LinesShorterThanASampleStayFinite) {
    for (float algorithm : {1.0f, 0.0f}) {
        Reverb fx;
        fx.applyDefaults();
        set(fx, kReverbSize, 0.0f);
        set(fx, kReverbTailSpread, 1.0f);
        set(fx, kReverbAlgorithm, algorithm);
        start(fx, 22050.0f);
        // The first lines are the shortest: 64 and 65 semitones below 1 ms.
        for (int j = 0; j < 2; ++j) {
            EXPECT_EQ(fx.tail().line[j].capacity, 1);
            EXPECT_EQ(fx.tail().line[j].delay, 0.0f);
        }
        EXPECT_TRUE(allFinite(render(fx, 22050)));
        EXPECT_EQ(fx.tail().gain[0], 0.0f);
        EXPECT_EQ(fx.tail().gain[1], 0.0f);
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
    render(fx, 1024);
    const float* storage = fx.tail().line[0].storage;
    fx.failing = true;
    set(fx, kReverbSize, 0.9f);
    EXPECT_EQ(fx.tail().line[0].storage, storage);
    EXPECT_EQ(fx.tail().line[0].delay, 1117.0f);
    EXPECT_TRUE(allFinite(render(fx, 4096)));
    fx.failing = false;
    set(fx, kReverbSize, 0.4f); // same capacities as before: nothing to allocate
    set(fx, kReverbSize, 0.9f);
    EXPECT_GT(fx.tail().line[0].delay, 1117.0f);

    // No line at all: only the dry path sounds.
    StarvedReverb empty;
    empty.applyDefaults();
    empty.failing = true;
    start(empty, 44100.0f);
    EXPECT_FALSE(empty.feedbackLine(0).hasStorage());
    float in[2][4] = {{0.5f, -0.25f, 0.0f, 1.0f}, {0.0f, 0.0f, 0.0f, 0.0f}};
    float* io[2] = {in[0], in[1]};
    AudioBuffers buffers{io, io, 4, 0};
    empty.process(buffers, true);
    const float dry = empty.controls().dryGain, wet = empty.controls().wetGain;
    EXPECT_EQ(in[0][0], 1e-10f * wet + (0.5f + 1e-10f) * dry);
    EXPECT_EQ(in[0][3], 1e-10f * wet + (1.0f + 1e-10f) * dry);
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
    EXPECT_EQ(fx.controls().wetGain, 0.0f);
}

// Rebuilds from two control threads while the audio thread runs blocks.
TEST(Reverb, ConcurrentRebuildsStaySafe) {
    Reverb fx;
    fx.applyDefaults();
    start(fx, 44100.0f);
    std::atomic<bool> done{false};
    std::atomic<bool> finite{true};
    std::thread audio([&] {
        while (!done)
            if (!allFinite(render(fx, 512))) finite = false;
    });
    auto control = [&](std::int32_t index, unsigned seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> dist(0.0f, 1.0f);
        for (int i = 0; i < 150; ++i)
            set(fx, index, index == kReverbTailDensity ? 1.0f + 15.0f * dist(rng) : dist(rng));
    };
    std::thread size(control, kReverbSize, 1u);
    std::thread density(control, kReverbTailDensity, 2u);
    control(kReverbDiffuseDensity, 3u);
    size.join();
    density.join();
    done = true;
    audio.join();
    EXPECT_TRUE(finite);
    // Whatever the interleaving, the last values are built.
    const std::int32_t lines = tailLinesFor(fx.values[kReverbTailDensity]);
    EXPECT_EQ(fx.tail().linesPerChannel, lines);
    const TailPlan plan = planTail({fx.values[kReverbTailDensity], fx.values[kReverbSize], 1.0f, 1.0f, 0.5f, 0.5f},
                                   44100.0f);
    for (std::int32_t j = 0; j < 2 * lines; ++j)
        EXPECT_EQ(fx.tail().line[j].capacity, plan.capacity[j]) << j;
}

} // namespace
} // namespace quor
