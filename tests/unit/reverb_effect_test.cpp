// The Reverb's plans, coefficients, controls and line builds, and its block
// engine bit for bit against a literal frame-by-frame, line-by-line model of
// the signal flow. What the model recomputes from the formulas (loop gains,
// normalisation, the allpass, echo scale, tap weights, modulation offsets) is
// not pinned here; what it takes from the effect is.
#include "dsp/taper.h"
#include "effects/reverb/reverb.h"
#include "framework/effect_controller.h"
#include "tests/support/effect_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <random>
#include <thread>
#include <utility>
#include <vector>

namespace quor {
namespace {

using test::setValue;
using test::startAt;

TEST(ReverbPlans, TapsAndLineLengths) {
    const EarlyPlan plan = planEarlyReflections({0.0f, 1.0f, 0.5f, 0.5f, 0.5f, 1.0f}, 44100.0f); // defaults
    ASSERT_EQ(plan.tapCount, 4);
    EXPECT_EQ(plan.capacity[0], 2834);
    EXPECT_EQ(plan.capacity[1], 2327);
    const float taps[8] = {190.70f, 164.04f, 366.28f, 307.70f, 735.13f, 609.49f, 1474.33f, 1214.29f};
    for (int j = 0; j < 8; ++j)
        EXPECT_NEAR(plan.tapDelaySamples[j], taps[j], 0.006f) << j;
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

    // The longest left delay still leaves its line the interpolation neighbour.
    const FeedbackTimes longest = feedbackDelaySamples(1.0f, 1.0f, 44100.0f);
    EXPECT_NEAR(longest.rightSamples, 0.9f * 44100.0f + 1.0f, 0.01f);
    EXPECT_LE(longest.leftSamples, static_cast<float>(feedbackLineCapacity(44100.0f) - 1));

    const int lengths[2][12] = {{1117, 1054, 1567, 1660, 2445, 2308, 3359, 3558, 5089, 4804, 6615, 7008},
                                {7093, 6694, 4888, 5179, 3625, 3422, 2353, 2493, 1693, 1598, 1075, 1139}};
    for (int direction : {1, 0}) {
        const TailPlan tail =
            planTail({6.0f, 0.4f, 1.0f, static_cast<float>(direction), 0.5f, 0.5f}, 44100.0f);
        ASSERT_EQ(tail.linesPerChannel, 6);
        for (int j = 0; j < 12; ++j)
            EXPECT_EQ(tail.capacity[j] - 1, lengths[1 - direction][j]) << direction << " " << j;
    }
    // Size 0, widest spread, 22050 Hz: a line shorter than a sample holds one slot.
    EXPECT_EQ(planTail({6.0f, 0.0f, 1.0f, 1.0f, 1.0f, 0.5f}, 22050.0f).capacity[1], 1);
    const std::pair<float, int> densities[] = {{6.7f, 6}, {99.0f, kMaxTailLinesPerChannel}, {-3.0f, 1}};
    for (auto [density, lines] : densities)
        EXPECT_EQ(tailLinesFor(density), lines) << density;
}

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

TEST(Reverb, CoefficientsAndControls) {
    const BandPassCoefficients band = bandPassCoefficients(0.4f, 0.7f);
    EXPECT_NEAR(band.lowpass, 0.54070f, 1e-5f);
    EXPECT_NEAR(band.highpass, 0.0052632f, 1e-7f);
    EXPECT_EQ(bandPassCoefficients(0.4f, 0.0f).lowpass, bandPassCoefficients(0.4f, 0.1f).lowpass);
    EXPECT_NEAR(tapWeightRatio(1), 0.99f, 1e-6f);
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

TEST(Reverb, LinesAreBuiltOnceTheRateIsKnownAndKeptWhenUnchanged) {
    GatedReverb fx;
    setValue(fx, kReverbSize, 0.4f); // no rate yet: nothing to build for
    EXPECT_EQ(fx.tail().linesPerChannel, 0);
    EXPECT_FALSE(fx.feedbackLine(0).hasStorage() || fx.earlyReflections().line[0].hasStorage());

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

// A plain ring buffer, read with linear interpolation `d` samples back.
struct Line {
    std::vector<float> buffer;
    std::size_t next = 0;
    float delay = 0.0f;
    void init(const ReverbLine& l) {
        buffer.assign(static_cast<std::size_t>(l.capacity), 0.0f);
        delay = l.delay;
    }
    void write(float x) {
        buffer[next] = x;
        next = (next + 1) % buffer.size();
    }
    float at(std::size_t back) const {
        return buffer[(next + buffer.size() - back % buffer.size()) % buffer.size()];
    }
    float read(float d) const {
        const auto i = static_cast<std::size_t>(d);
        return at(i) + (at(i + 1) - at(i)) * (d - static_cast<float>(i));
    }
};

float tri(float p) {
    return std::fabs(p - std::floor(p) - 0.5f) - 0.5f;
}

struct Model {
    const Reverb& fx;
    float fs;
    Line early[2], feedback[2], tail[32];
    float lowpass[32] = {}, tracker[32] = {}, allpass[32] = {}, gain[32] = {}, bandLow[2] = {},
          bandTrack[2] = {};
    float phase;

    Model(const Reverb& r, float rate) : fx(r), fs(rate), phase(r.lfoPhase()) {
        for (int c = 0; c < 2; ++c) {
            early[c].init(r.earlyReflections().line[c]);
            feedback[c].init(r.feedbackLine(c));
        }
        for (int j = 0; j < 2 * r.tail().linesPerChannel; ++j)
            tail[j].init(r.tail().line[j]);
    }

    void block(const float* inL, const float* inR, float* outL, float* outR, int frames) {
        const float* v = fx.values;
        const ReverbControls& k = fx.controls();
        const int lines = fx.tail().linesPerChannel, taps = fx.earlyReflections().tapCount;
        const float* tapDelay = fx.earlyReflections().tapDelaySamples;
        const float wet = k.wetGain * k.makeupGain, dry = k.dryGain;
        const float a0 = Taper(v[kReverbDecay], 1.1f), sign = a0 > 0.0f ? 1.0f : -1.0f;
        const float decaySeconds = std::fabs(4.0f * Taper(a0, -1.1f));
        for (int j = 0; j < 2 * lines; ++j) { // a line shorter than a sample does not recirculate
            const float L = tail[j].delay, F = fs / L, c = Taper(F * (-2.0f) / fs + 1.0f, 0.5f),
                        passes = (c * decaySeconds + 1e-10f) * F;
            const float p =
                passes < 0.1f ? std::pow(0.1f, 10.0f) : std::pow(0.1f, 1.0f / std::min(passes, fs * 1000.0f));
            gain[j] = L < 1.0f ? 0.0f : (1.0f - (1.0f - p)) * sign;
        }
        const float ratio = 1.0f - std::pow(0.01f, 1.0f / static_cast<float>(taps));
        const float t11k = static_cast<float>(std::tan(static_cast<double>(3.14159274f * 11000.0f / fs)));
        const float P = std::clamp((1.0f - t11k) / (1.0f + t11k), -0.99999f, 0.99999f);
        const float z = v[kReverbSize], d = v[kReverbTailDiffuse], y = v[kReverbDecay];
        const float lambda = -1.0f + (-1.3f + 1.0f) * d;
        const float E = (z * 3.0f - 6.0f) + static_cast<float>(static_cast<int>(v[kReverbTailDensity])) *
                                                (lambda + (-0.6f - lambda) * z);
        const float G = std::pow(10.0f, E / 20.0f), S = 1.0f - d * (0.3f + (0.06f - 0.3f) * y);
        const float q = 0.75f / (feedback[0].delay * 0.01f + 1.0f), echo = 0.75f - Taper(q, 0.1f);
        const bool reversed = v[kReverbTailDirection] <= 0.5f;
        for (int i = 0; i < frames; ++i) {
            float x[2] = {inL[i] + 1e-10f, inR[i] + 1e-10f}, a[2] = {1e-10f, 1e-10f}, w[2] = {1e-10f, 1e-10f};
            phase += k.rateHz / fs;
            if (phase >= 1.0f) phase -= 1.0f;
            float o = 0.0f;
            for (int c = 0; c < 2; ++c) {
                float weight = 1.0f;
                for (int s = 0; s < taps; ++s, weight *= ratio)
                    a[c] += weight * early[c].read(tapDelay[2 * s + c]);
                early[c].write(x[c]);
                if (k.algorithm == 1) a[c] += k.feedbackGain * feedback[c].read(feedback[c].delay);
                float omega = reversed ? G * 2.0f : G;
                const float step = reversed ? -0.8f * omega / static_cast<float>(lines) : 0.0f;
                for (int s = 0; s < lines; ++s) {
                    const int j = 2 * s + c;
                    const float t = tri(phase + o);
                    const float in = tail[j].read((1.0f + k.depth * (2.0f - t * t) * t) * tail[j].delay);
                    auto loopFilter = [&](float u) {
                        lowpass[j] = (lowpass[j] - u) * k.highCutCoef + u;
                        tracker[j] = (lowpass[j] - tracker[j]) * k.lowCutCoef + tracker[j];
                        return lowpass[j] - tracker[j];
                    };
                    if (k.algorithm == 1) {
                        const float filtered = loopFilter(in);
                        const float out = k.decayGain * filtered - k.allpassCoef * a[c] + 1e-20f;
                        tail[j].write(k.allpassCoef * out + a[c] + 1e-20f);
                        w[c] += filtered;
                        a[c] = out;
                    } else {
                        const float u = allpass[j] - P * in + 1e-10f;
                        allpass[j] = P * u + in + 1e-10f;
                        tail[j].write(loopFilter(gain[j] * u * S + a[c]));
                        w[c] = s % 2 ? w[c] + omega * u : w[c] - omega * u;
                        a[c] = k.chainCoef * u - a[c];
                        omega += step;
                    }
                    const float t1 = tri(0.3f * static_cast<float>(s)), h1 = (2.0f - t1 * t1) * t1 + 1.0f,
                                t2 = tri(h1 + o);
                    o += (2.0f - t2 * t2) * t2 + 1.0f;
                }
            }
            for (int c = 0; c < 2; ++c) {
                const float in =
                    k.algorithm == 1 ? w[c] : k.feedbackGain * feedback[c].read(feedback[c].delay) + w[c];
                bandLow[c] = (bandLow[c] - in) * k.band.lowpass + in;
                bandTrack[c] = (bandLow[c] - bandTrack[c]) * k.band.highpass + bandTrack[c];
                w[c] = bandLow[c] - bandTrack[c];
                feedback[c].write(k.algorithm == 1 ? a[c] : w[c] * echo);
            }
            outL[i] = w[0] * wet + x[0] * dry;
            outR[i] = w[1] * wet + x[1] * dry;
        }
    }
};

// Noise then silence, in blocks of 512 or of random sizes, after setting
// (index, value, index, value, ...); returns the first frame whose output
// differs in any bit (a zero of the other sign too), or -1.
int firstMismatch(float rate, const std::vector<float>& settings, bool randomBlocks) {
    Reverb fx;
    fx.applyDefaults();
    for (std::size_t i = 0; i < settings.size(); i += 2)
        test::setValue(fx, static_cast<std::int32_t>(settings[i]), settings[i + 1]);
    test::startAt(fx, rate);
    Model model(fx, rate);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::uniform_int_distribution<int> blockSize(1, 512);
    constexpr int kLength = 24000;
    std::vector<float> io[6]; // inputs, outputs and the model's outputs, left then right
    for (std::vector<float>& channel : io)
        channel.assign(kLength, 0.0f);
    for (int i = 0; i < 6000; ++i)
        io[0][i] = noise(rng), io[1][i] = noise(rng);
    for (int at = 0, n = 0; at < kLength; at += n) {
        n = std::min(randomBlocks ? blockSize(rng) : 512, kLength - at);
        float* p[6];
        for (int k = 0; k < 6; ++k)
            p[k] = io[k].data() + at;
        model.block(p[0], p[1], p[4], p[5], n);
        AudioBuffers buffers{p, p + 2, n, 0};
        fx.process(buffers, true);
    }
    for (int i = 0; i < kLength; ++i)
        if (std::memcmp(&io[2][i], &io[4][i], sizeof(float)) != 0 ||
            std::memcmp(&io[3][i], &io[5][i], sizeof(float)) != 0)
            return i;
    return -1;
}

TEST(ReverbReference, BlockEngineMatchesFrameByFrameModel) {
    const std::pair<const char*, std::vector<float>> cases[] = {
        {"algorithm 0", {kReverbMix, 0.6f, kReverbAlgorithm, 0.0f}},
        {"algorithm 0 reversed, echo",
         {kReverbMix, 1.0f, kReverbAlgorithm, 0.0f, kReverbTailDirection, 0.0f, kReverbTailDensity, 9.0f,
          kReverbDelay, 0.3f, kReverbDepth, 0.9f, kReverbLowCut, 0.3f, kReverbHighCut, 0.2f}},
        {"heaviest",
         {kReverbMix, 1.0f, kReverbTailDensity, 16.0f, kReverbSize, 1.0f, kReverbDiffuseDensity, 1.0f,
          kReverbDepth, 1.0f, kReverbRate, 1.0f, kReverbDecay, 0.95f}},
        {"reversed taps",
         {kReverbMix, 0.8f, kReverbDiffuseDirection, 0.0f, kReverbDiffuseSpread, 1.0f,
          kReverbDiffuseDistribution, 0.0f, kReverbTailSpread, 0.9f, kReverbTailDistribution, 1.0f}},
        {"long feedback",
         {kReverbMix, 0.6f, kReverbStereo, 0.3f, kReverbFrequency, 0.1f, kReverbWidth, 0.2f, kReverbFeedback,
          0.5f, kReverbDelay, 1.0f}},
        {"shortest lines",
         {kReverbMix, 1.0f, kReverbSize, 0.0f, kReverbTailSpread, 1.0f, kReverbTailDensity, 16.0f,
          kReverbTailDiffuse, 0.0f}},
        {"shortest lines, algorithm 0",
         {kReverbMix, 1.0f, kReverbSize, 0.0f, kReverbTailSpread, 1.0f, kReverbAlgorithm, 0.0f}},
    };
    for (float rate : {22050.0f, 44100.0f, 48000.0f, 96000.0f})
        for (const auto& [name, settings] : cases)
            for (bool randomBlocks : {false, true})
                EXPECT_EQ(firstMismatch(rate, settings, randomBlocks), -1)
                    << name << " at " << rate << " Hz" << (randomBlocks ? ", random block sizes" : "");
}

} // namespace
} // namespace quor
