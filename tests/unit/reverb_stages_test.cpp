#include "dsp/taper.h"
#include "effects/reverb/early_reflections.h"
#include "effects/reverb/reverb_line.h"
#include "effects/reverb/tail.h"

#include <gtest/gtest.h>

#include <utility>

namespace quor {
namespace {

TEST(Taper, EndpointsAndRoundedFactor) {
    for (float k : {-1.5f, -1.1f, 0.5f, 1.0f, 1.2f}) {
        EXPECT_EQ(Taper(0.0f, k), 0.0f) << k;
        EXPECT_EQ(Taper(1.0f, k), 1.0f) << k;
    }
    // The factor 1 + k is a float before it multiplies.
    EXPECT_EQ(Taper(0.125f, -1.1f), 0.125f * -0.100000024f / (0.125f - 1.1f));
    EXPECT_NEAR(Taper(0.3f, -1.5f), 0.125f, 1e-7f);
}

TEST(ReverbLine, ReadsInterpolateBackwardsAcrossTheWrap) {
    ReverbLine line;
    line.install(5, ReverbLine::allocate(5));
    for (int n = 1; n <= 12; ++n) { // wraps twice; the guard mirrors the last slots
        line.write(static_cast<float>(n));
        if (n < 5) continue; // the line is full from the fifth write on
        EXPECT_EQ(line.read(1.0f), static_cast<float>(n)) << n;
        EXPECT_EQ(line.read(2.0f), static_cast<float>(n - 1)) << n;
        EXPECT_EQ(line.read(4.0f), static_cast<float>(n - 3)) << n;
        EXPECT_EQ(line.read(4.5f), static_cast<float>(n) - 3.5f) << n;      // between 4 and 5 writes ago
        EXPECT_EQ(line.read(0.0f), static_cast<float>(n - 4)) << n;  // the oldest slot
        EXPECT_EQ(line.read(0.25f), static_cast<float>(n - 3)) << n; // oldest towards newest
    }
    line.clear();
    EXPECT_EQ(line.read(2.5f), 0.0f);

    ReverbLine one; // a one-slot line delays by one sample at any delay below 1
    one.install(1, ReverbLine::allocate(1));
    one.write(3.0f);
    EXPECT_EQ(one.read(0.0f), 3.0f);
    EXPECT_EQ(one.read(0.7f), 3.0f);
}

TEST(EarlyReflections, DefaultTapsAndCapacities) {
    const EarlyPlan plan = planEarlyReflections({0.0f, 1.0f, 0.5f, 0.5f, 0.5f, 1.0f}, 44100.0f);
    ASSERT_EQ(plan.tapCount, 4);
    EXPECT_EQ(plan.capacity[0], 2834);
    EXPECT_EQ(plan.capacity[1], 2327);
    const float left[4] = {190.70f, 366.28f, 735.13f, 1474.33f};
    const float right[4] = {164.04f, 307.70f, 609.49f, 1214.29f};
    for (int s = 0; s < 4; ++s) {
        EXPECT_NEAR(plan.tapDelaySamples[2 * s], left[s], 0.006f) << s;
        EXPECT_NEAR(plan.tapDelaySamples[2 * s + 1], right[s], 0.006f) << s;
    }
    EXPECT_NEAR(tapWeightRatio(4), 0.68377f, 1e-5f);
    EXPECT_NEAR(tapWeightRatio(1), 0.99f, 1e-6f);
}

TEST(EarlyReflections, DensityDirectionAndStereo) {
    const float fs = 48000.0f;
    // Density 0: one tap, 10 ms span (11 ms left, 9 ms right) after the 1 ms pre-delay.
    EarlyPlan one = planEarlyReflections({0.0f, 0.0f, 0.0f, 0.5f, 0.5f, 1.0f}, fs);
    ASSERT_EQ(one.tapCount, 1);
    EXPECT_NEAR(one.tapDelaySamples[0], 0.012f * fs, 0.01f);
    EXPECT_NEAR(one.tapDelaySamples[1], 0.010f * fs, 0.01f);
    one = planEarlyReflections({0.0f, 1.0f, 0.0f, 0.5f, 0.5f, 1.0f}, fs); // short end: 51 semitones down
    EXPECT_NEAR(one.tapDelaySamples[0], 0.001f * fs + 0.011f * fs / std::pow(2.0f, 51.0f / 12.0f), 0.01f);

    // Density 1: twelve taps over 200 ms; direction 0 puts the longest first.
    const EarlyPlan full = planEarlyReflections({0.0f, 0.0f, 1.0f, 0.5f, 0.5f, 0.0f}, fs);
    ASSERT_EQ(full.tapCount, 12);
    EXPECT_NEAR(full.tapDelaySamples[0], 0.201f * fs, 0.05f);
    for (int s = 1; s < 12; ++s)
        EXPECT_LT(full.tapDelaySamples[2 * s], full.tapDelaySamples[2 * s - 2]);
    // Stereo 0: both channels alike.
    for (int s = 0; s < 12; ++s)
        EXPECT_EQ(full.tapDelaySamples[2 * s], full.tapDelaySamples[2 * s + 1]);
    EXPECT_EQ(full.capacity[0], full.capacity[1]);

    // A stored value beyond the range never yields more taps than the line set holds.
    EXPECT_EQ(planEarlyReflections({0.0f, 1.0f, 40.0f, 0.5f, 0.5f, 1.0f}, fs).tapCount, kMaxTapsPerChannel);
}

TEST(FeedbackDelay, TimesCapacityAndEchoScale) {
    EXPECT_EQ(feedbackLineCapacity(44100.0f), 48512);
    const FeedbackTimes shortest = feedbackDelaySamples(0.0f, 1.0f, 44100.0f);
    EXPECT_EQ(shortest.leftSamples, 1.0f);
    EXPECT_EQ(shortest.rightSamples, 1.0f);
    const FeedbackTimes longest = feedbackDelaySamples(1.0f, 1.0f, 44100.0f);
    EXPECT_NEAR(longest.leftSamples, 1.1f * 44100.0f + 1.0f, 0.01f);
    EXPECT_NEAR(longest.rightSamples, 0.9f * 44100.0f + 1.0f, 0.01f);
    EXPECT_LE(longest.leftSamples, static_cast<float>(feedbackLineCapacity(44100.0f) - 1));
    const FeedbackTimes mono = feedbackDelaySamples(0.5f, 0.0f, 44100.0f);
    EXPECT_EQ(mono.leftSamples, mono.rightSamples);

    const std::pair<float, float> echoes[] = {
        {1.0f, -0.21945f}, {100.0f, -0.11842f}, {441.0f, 0.11096f}, {4411.0f, 0.59319f}, {44101.0f, 0.73165f}};
    for (auto [delay, scale] : echoes)
        EXPECT_NEAR(echoScale(delay), scale, 1e-5f) << delay;
}

TEST(BandPass, DefaultCoefficients) {
    const BandPassCoefficients k = bandPassCoefficients(0.4f, 0.7f);
    EXPECT_NEAR(k.lowpass, 0.54070f, 1e-5f);
    EXPECT_NEAR(k.highpass, 0.0052632f, 1e-7f);
    // Width below 0.1 acts as 0.1; the edges stay inside their limits.
    const BandPassCoefficients narrow = bandPassCoefficients(0.4f, 0.0f);
    EXPECT_EQ(narrow.lowpass, bandPassCoefficients(0.4f, 0.1f).lowpass);
    const BandPassCoefficients open = bandPassCoefficients(1.0f, 1.0f);
    EXPECT_NEAR(open.lowpass, 1.0f - Taper(0.999f, -1.5f), 1e-7f);
    EXPECT_NEAR(open.highpass, 0.0052632f, 1e-7f);
}

TEST(ReverbTail, LineDelaysAtTheDefaultsInBothDirections) {
    const int longLast[6][2] = {{1117, 1054}, {1567, 1660}, {2445, 2308}, {3359, 3558}, {5089, 4804}, {6615, 7008}};
    const int longFirst[6][2] = {{7093, 6694}, {4888, 5179}, {3625, 3422}, {2353, 2493}, {1693, 1598}, {1075, 1139}};
    for (float direction : {1.0f, 0.0f}) {
        const TailPlan plan = planTail({6.0f, 0.4f, 1.0f, direction, 0.5f, 0.5f}, 44100.0f);
        ASSERT_EQ(plan.linesPerChannel, 6);
        const auto& expected = direction > 0.5f ? longLast : longFirst;
        for (int s = 0; s < 6; ++s)
            for (int c = 0; c < 2; ++c)
                EXPECT_EQ(plan.capacity[2 * s + c] - 1, expected[s][c]) << direction << " " << s << " " << c;
    }
    EXPECT_EQ(planTail({6.7f, 0.4f, 1.0f, 1.0f, 0.5f, 0.5f}, 44100.0f).linesPerChannel, 6);
    EXPECT_EQ(planTail({99.0f, 0.4f, 1.0f, 1.0f, 0.5f, 0.5f}, 44100.0f).linesPerChannel, kMaxTailLinesPerChannel);
    EXPECT_EQ(planTail({-3.0f, 0.4f, 1.0f, 1.0f, 0.5f, 0.5f}, 44100.0f).linesPerChannel, 1);
}

TEST(ReverbTail, ModulationOffsetsContinueFromLeftIntoRight) {
    float offsets[kMaxTailLines];
    modulationOffsets(6, offsets);
    const float left[6] = {0.0f, 1.0f, 1.22385f, 1.36426f, 2.03826f, 2.37504f};
    const float right[6] = {2.50008f, 2.62518f, 3.52096f, 4.10082f, 4.90541f, 5.04743f};
    for (int s = 0; s < 6; ++s) {
        EXPECT_NEAR(offsets[2 * s], left[s], 1e-5f) << s;
        EXPECT_NEAR(offsets[2 * s + 1], right[s], 1e-5f) << s;
    }
    EXPECT_EQ(tailTriangle(0.0f), 0.0f);
    EXPECT_EQ(tailTriangle(0.5f), -0.5f);
    EXPECT_EQ(tailTriangle(3.25f), -0.25f);
}

TEST(ReverbTail, RecirculationGains) {
    const DecayLaw preset = decayLaw(0.6f);
    EXPECT_NEAR(preset.seconds, 0.82623f, 1e-5f);
    EXPECT_NEAR(decayLaw(0.9f).seconds, 2.4387f, 1e-4f);
    const std::pair<float, float> at06[] = {{1117.0f, 0.93181f}, {1054.0f, 0.93552f}, {6615.0f, 0.65832f},
                                            {7008.0f, 0.64217f}};
    for (auto [delay, gain] : at06)
        EXPECT_NEAR(recirculationGain(delay, preset, 44100.0f), gain, 1e-5f) << delay;
    const DecayLaw full = decayLaw(1.0f);
    EXPECT_NEAR(recirculationGain(1117.0f, full, 44100.0f), 0.98552f, 1e-5f);
    EXPECT_NEAR(recirculationGain(6615.0f, full, 44100.0f), 0.91727f, 1e-5f);
    // Decay 0 and loops of a sample or less: no recirculation, and never a NaN.
    EXPECT_EQ(recirculationGain(1117.0f, decayLaw(0.0f), 44100.0f), 0.0f);
    EXPECT_EQ(recirculationGain(1.0f, full, 44100.0f), 0.0f);
    EXPECT_EQ(recirculationGain(0.0f, full, 44100.0f), 0.0f);
}

TEST(ReverbTail, BlockConstants) {
    EXPECT_NEAR(normalisationGain(6, 0.4f, 0.9f), 0.28800f, 1e-5f);
    EXPECT_NEAR(diffuseScale(0.9f, 0.6f), 0.8596f, 1e-6f);
    EXPECT_NEAR(allpassCoefficient(44100.0f), 0.0017810f, 1e-6f);
    EXPECT_NEAR(allpassCoefficient(48000.0f), 0.065543f, 1e-6f);
    EXPECT_NEAR(allpassCoefficient(96000.0f), 0.45309f, 1e-5f);
    EXPECT_NEAR(allpassCoefficient(22050.0f), -0.99290f, 1e-5f);
    EXPECT_EQ(allpassCoefficient(22000.0f), -0.99999f);

    const std::pair<float, TailDiffusion> diffusion[] = {
        {0.0f, {0.0f, 0.0f}}, {0.9f, {0.67839f, 0.29053f}}, {1.0f, {0.72654f, 0.32492f}}};
    for (auto [d, k] : diffusion) {
        EXPECT_NEAR(tailDiffusion(d).allpassCoef, k.allpassCoef, 1e-5f) << d;
        EXPECT_NEAR(tailDiffusion(d).chainCoef, k.chainCoef, 1e-5f) << d;
    }
    EXPECT_EQ(highCutCoefficient(1.0f), 0.001f);
    EXPECT_NEAR(highCutCoefficient(0.0f), 0.98f, 1e-6f);
    EXPECT_NEAR(highCutCoefficient(0.5f), 0.735f, 1e-6f);
    EXPECT_EQ(lowCutCoefficient(1.0f), 0.001f);
    EXPECT_NEAR(lowCutCoefficient(0.0f), 0.5f, 1e-6f);
    EXPECT_NEAR(lowCutCoefficient(0.5f), 0.041667f, 1e-6f);

    ReverbTail tail;
    tail.linesPerChannel = 4;
    float weights[kMaxTailLinesPerChannel];
    tail.outputWeights(0.5f, 0.0f, weights); // falling from 2G by 0.8 * 2G / 4 per line
    EXPECT_EQ(weights[0], 1.0f);
    EXPECT_NEAR(weights[3], 1.0f - 3.0f * 0.2f, 1e-6f);
    tail.outputWeights(0.5f, 1.0f, weights);
    EXPECT_EQ(weights[3], 0.5f);
}

} // namespace
} // namespace quor
