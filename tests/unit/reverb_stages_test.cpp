#include "effects/reverb/early_reflections.h"
#include "effects/reverb/reverb_line.h"
#include "effects/reverb/tail.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

namespace quor {
namespace {

TEST(ReverbLine, ReadsInterpolateBackwardsAcrossTheWrap) {
    ReverbLine line;
    line.install(5, ReverbLine::allocate(5));
    for (int n = 1; n <= 12; ++n) { // wraps twice; the guard mirrors the last slots
        line.write(static_cast<float>(n));
        if (n < 5) continue; // full from the fifth write on
        EXPECT_EQ(line.read(1.0f), static_cast<float>(n)) << n;
        EXPECT_EQ(line.read(4.0f), static_cast<float>(n - 3)) << n;
        EXPECT_EQ(line.read(4.5f), static_cast<float>(n) - 3.5f) << n;
        EXPECT_EQ(line.read(0.0f), static_cast<float>(n - 4)) << n;  // the oldest slot
        EXPECT_EQ(line.read(0.25f), static_cast<float>(n - 3)) << n; // oldest towards newest
    }
    const float run[7] = {20, 21, 22, 23, 24, 25, 26};
    line.writeRun(run, 5); // as five writes
    EXPECT_EQ(line.read(1.0f), 24.0f);
    EXPECT_EQ(line.read(4.5f), 20.5f);
    ReverbLine one; // one slot: a one-sample delay at any delay below 1
    one.install(1, ReverbLine::allocate(1));
    one.write(3.0f);
    EXPECT_EQ(one.read(0.7f), 3.0f);
}

TEST(EarlyReflections, TapsAndCapacities) {
    const EarlyPlan plan = planEarlyReflections({0.0f, 1.0f, 0.5f, 0.5f, 0.5f, 1.0f}, 44100.0f); // defaults
    ASSERT_EQ(plan.tapCount, 4);
    EXPECT_EQ(plan.capacity[0], 2834);
    EXPECT_EQ(plan.capacity[1], 2327);
    const float left[4] = {190.70f, 366.28f, 735.13f, 1474.33f},
                right[4] = {164.04f, 307.70f, 609.49f, 1214.29f};
    for (int s = 0; s < 4; ++s) {
        EXPECT_NEAR(plan.tapDelaySamples[2 * s], left[s], 0.006f) << s;
        EXPECT_NEAR(plan.tapDelaySamples[2 * s + 1], right[s], 0.006f) << s;
    }
    EXPECT_NEAR(tapWeightRatio(4), 0.68377f, 1e-5f);
    EXPECT_NEAR(tapWeightRatio(1), 0.99f, 1e-6f);

    // Density 0: one tap after 1 ms pre-delay and a 10 ms span, 11 ms left and
    // 9 ms right; direction on moves it 51 semitones towards the short end.
    const float fs = 48000.0f;
    const EarlyPlan one = planEarlyReflections({0.0f, 0.0f, 0.0f, 0.5f, 0.5f, 1.0f}, fs);
    ASSERT_EQ(one.tapCount, 1);
    EXPECT_NEAR(one.tapDelaySamples[0], 0.012f * fs, 0.01f);
    EXPECT_NEAR(one.tapDelaySamples[1], 0.010f * fs, 0.01f);
    const EarlyPlan shortFirst = planEarlyReflections({0.0f, 1.0f, 0.0f, 0.5f, 0.5f, 1.0f}, fs);
    EXPECT_NEAR(shortFirst.tapDelaySamples[0], 0.001f * fs + 0.011f * fs / std::pow(2.0f, 51.0f / 12.0f),
                0.01f);

    // Density 1: twelve taps over 200 ms, the longest first with direction
    // off; Stereo 0 makes both channels alike.
    const EarlyPlan full = planEarlyReflections({0.0f, 0.0f, 1.0f, 0.5f, 0.5f, 0.0f}, fs);
    ASSERT_EQ(full.tapCount, 12);
    EXPECT_NEAR(full.tapDelaySamples[0], 0.201f * fs, 0.05f);
    for (int s = 0; s < 12; ++s) {
        if (s > 0) {
            EXPECT_LT(full.tapDelaySamples[2 * s], full.tapDelaySamples[2 * s - 2]);
        }
        EXPECT_EQ(full.tapDelaySamples[2 * s], full.tapDelaySamples[2 * s + 1]);
    }
    // A stored value beyond the range never asks for more taps than exist.
    EXPECT_EQ(planEarlyReflections({0.0f, 1.0f, 40.0f, 0.5f, 0.5f, 1.0f}, fs).tapCount, kMaxTapsPerChannel);
}

TEST(FeedbackDelay, TimesEchoScaleAndBandPass) {
    EXPECT_EQ(feedbackLineCapacity(44100.0f), 48512);
    const FeedbackTimes shortest = feedbackDelaySamples(0.0f, 1.0f, 44100.0f);
    EXPECT_EQ(shortest.leftSamples, 1.0f);
    EXPECT_EQ(shortest.rightSamples, 1.0f);
    const FeedbackTimes longest = feedbackDelaySamples(1.0f, 1.0f, 44100.0f);
    EXPECT_NEAR(longest.rightSamples, 0.9f * 44100.0f + 1.0f, 0.01f);
    EXPECT_LE(longest.leftSamples, static_cast<float>(feedbackLineCapacity(44100.0f) - 1));

    const std::pair<float, float> echoes[] = {{1.0f, -0.21945f},
                                              {100.0f, -0.11842f},
                                              {441.0f, 0.11096f},
                                              {4411.0f, 0.59319f},
                                              {44101.0f, 0.73165f}};
    for (auto [delay, scale] : echoes)
        EXPECT_NEAR(echoScale(delay), scale, 1e-5f) << delay;

    const BandPassCoefficients k = bandPassCoefficients(0.4f, 0.7f);
    EXPECT_NEAR(k.lowpass, 0.54070f, 1e-5f);
    EXPECT_NEAR(k.highpass, 0.0052632f, 1e-7f);
    EXPECT_EQ(bandPassCoefficients(0.4f, 0.0f).lowpass, bandPassCoefficients(0.4f, 0.1f).lowpass);
}

TEST(ReverbTail, LineDelaysAtTheDefaultsInBothDirections) {
    const int longLast[6][2] = {{1117, 1054}, {1567, 1660}, {2445, 2308},
                                {3359, 3558}, {5089, 4804}, {6615, 7008}};
    const int longFirst[6][2] = {{7093, 6694}, {4888, 5179}, {3625, 3422},
                                 {2353, 2493}, {1693, 1598}, {1075, 1139}};
    for (float direction : {1.0f, 0.0f}) {
        const TailPlan plan = planTail({6.0f, 0.4f, 1.0f, direction, 0.5f, 0.5f}, 44100.0f);
        ASSERT_EQ(plan.linesPerChannel, 6);
        const auto& expected = direction > 0.5f ? longLast : longFirst;
        for (int j = 0; j < 12; ++j)
            EXPECT_EQ(plan.capacity[j] - 1, expected[j / 2][j % 2]) << direction << " line " << j;
    }
    EXPECT_EQ(tailLinesFor(6.7f), 6);
    EXPECT_EQ(tailLinesFor(99.0f), kMaxTailLinesPerChannel);
    EXPECT_EQ(tailLinesFor(-3.0f), 1);

    float offsets[kMaxTailLines];
    modulationOffsets(6, offsets); // left lines, then on through the right ones
    const float expected[12] = {0.0f,     2.50008f, 1.0f,     2.62518f, 1.22385f, 3.52096f,
                                1.36426f, 4.10082f, 2.03826f, 4.90541f, 2.37504f, 5.04743f};
    for (int j = 0; j < 12; ++j)
        EXPECT_NEAR(offsets[j], expected[j], 1e-5f) << j;
}

TEST(ReverbTail, RecirculationGainsAndBlockConstants) {
    const DecayLaw preset = decayLaw(0.6f);
    EXPECT_NEAR(preset.seconds, 0.82623f, 1e-5f);
    EXPECT_NEAR(decayLaw(0.9f).seconds, 2.4387f, 1e-4f);
    const std::pair<float, float> at06[] = {
        {1117.0f, 0.93181f}, {1054.0f, 0.93552f}, {6615.0f, 0.65832f}, {7008.0f, 0.64217f}};
    for (auto [delay, gain] : at06)
        EXPECT_NEAR(recirculationGain(delay, preset, 44100.0f), gain, 1e-5f) << delay;
    EXPECT_NEAR(recirculationGain(1117.0f, decayLaw(1.0f), 44100.0f), 0.98552f, 1e-5f);
    EXPECT_NEAR(recirculationGain(6615.0f, decayLaw(1.0f), 44100.0f), 0.91727f, 1e-5f);
    // Decay 0 and loops of a sample or less: no recirculation, never a NaN.
    EXPECT_EQ(recirculationGain(1117.0f, decayLaw(0.0f), 44100.0f), 0.0f);
    EXPECT_EQ(recirculationGain(1.0f, decayLaw(1.0f), 44100.0f), 0.0f);
    EXPECT_EQ(recirculationGain(0.0f, decayLaw(1.0f), 44100.0f), 0.0f);

    EXPECT_NEAR(normalisationGain(6, 0.4f, 0.9f), 0.28800f, 1e-5f);
    EXPECT_NEAR(diffuseScale(0.9f, 0.6f), 0.8596f, 1e-6f);
    const std::pair<float, float> allpass[] = {
        {44100.0f, 0.0017810f}, {48000.0f, 0.065543f}, {96000.0f, 0.45309f}, {22050.0f, -0.99290f}};
    for (auto [fs, p] : allpass)
        EXPECT_NEAR(allpassCoefficient(fs), p, 1e-5f) << fs;
    EXPECT_EQ(allpassCoefficient(22000.0f), -0.99999f);

    EXPECT_EQ(tailDiffusion(0.0f).allpassCoef, 0.0f);
    EXPECT_NEAR(tailDiffusion(0.9f).allpassCoef, 0.67839f, 1e-5f);
    EXPECT_NEAR(tailDiffusion(0.9f).chainCoef, 0.29053f, 1e-5f);
    EXPECT_NEAR(tailDiffusion(1.0f).allpassCoef, 0.72654f, 1e-5f);
    EXPECT_NEAR(tailDiffusion(1.0f).chainCoef, 0.32492f, 1e-5f);
    EXPECT_EQ(highCutCoefficient(1.0f), 0.001f);
    EXPECT_NEAR(highCutCoefficient(0.0f), 0.98f, 1e-6f);
    EXPECT_NEAR(highCutCoefficient(0.5f), 0.735f, 1e-6f);
    EXPECT_NEAR(lowCutCoefficient(0.0f), 0.5f, 1e-6f);
    EXPECT_NEAR(lowCutCoefficient(0.5f), 0.041667f, 1e-6f);

    ReverbTail tail;
    tail.linesPerChannel = 4;
    float weights[kMaxTailLinesPerChannel];
    tail.outputWeights(0.5f, 0.0f, weights); // from 2G down by 0.8 * 2G / 4 per line, signs alternating
    EXPECT_EQ(weights[0], -1.0f);
    EXPECT_NEAR(weights[3], 0.4f, 1e-6f);
    tail.outputWeights(0.5f, 1.0f, weights);
    EXPECT_EQ(weights[2], -0.5f);
    EXPECT_EQ(weights[3], 0.5f);
}

} // namespace
} // namespace quor
