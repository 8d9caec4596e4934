#include "dsp/dry_wet_mix.h"
#include "dsp/param_smoother.h"

#include <gtest/gtest.h>

#include <vector>

namespace quor {
namespace {

TEST(DryWetMix, GainsAcrossTheRange) {
    const struct {
        float mix, dry, wet;
    } rows[] = {{0.0f, 1.0f, 0.0f},          {0.25f, 0.98093f, 0.19418f}, {0.5f, 0.70800f, 0.70800f},
                {0.75f, 0.50025f, 0.86677f}, {1.0f, 0.0f, 1.0f},          {0.125f, 0.99694f, 0.077789f}};
    for (const auto& r : rows) {
        const DryWetMix m(r.mix);
        EXPECT_NEAR(m.dry, r.dry, 5e-6f) << r.mix;
        EXPECT_NEAR(m.wet, r.wet, 5e-6f) << r.mix;
    }
    EXPECT_EQ(DryWetMix(0.0f).dry, 1.0f);
    EXPECT_EQ(DryWetMix(0.0f).wet, 0.0f);
    EXPECT_EQ(DryWetMix(1.0f).dry, 0.0f);
    EXPECT_EQ(DryWetMix(1.0f).wet, 1.0f);
}

// A smoother with a rate and one processed sample, so targets glide.
struct SmootherGlide : ::testing::Test {
    ParamSmoother smoother{4};
    float x = 0.0f, y = 0.0f, z = 0.0f;
    void SetUp() override {
        smoother.configure(0.2f, 1000.0f);
        smoother.markActive();
    }
    // Samples until no ramp is left.
    int run() {
        int n = 0;
        while (smoother.activeRamps() > 0 && n < 100000) {
            smoother.advance();
            ++n;
        }
        return n;
    }
};

TEST(ParamSmoother, TargetsLandAtOnceUntilRateAndProcessingStarted) {
    ParamSmoother s(2);
    float v = 0.0f;
    s.setTarget(&v, 1.0f); // no rate yet
    EXPECT_EQ(v, 1.0f);
    s.configure(0.2f, 48000.0f);
    s.setTarget(&v, 2.0f); // rate known, nothing processed yet
    EXPECT_EQ(v, 2.0f);
    EXPECT_EQ(s.activeRamps(), 0);
    s.markActive();
    s.setTarget(&v, 3.0f);
    EXPECT_EQ(v, 2.0f);
    EXPECT_EQ(s.activeRamps(), 1);
}

TEST_F(SmootherGlide, RampLastsItsLengthAndEndsExactlyOnTarget) {
    EXPECT_EQ(smoother.rampLength(), 201.0f); // 0.2 s at 1 kHz, plus one
    smoother.setTarget(&x, 1.0f);
    for (int i = 0; i < 200; ++i)
        smoother.advance();
    EXPECT_GT(x, 0.98f);
    EXPECT_LT(x, 1.0f);
    smoother.advance();
    EXPECT_EQ(x, 1.0f);
    EXPECT_EQ(smoother.activeRamps(), 0);

    ParamSmoother fast(1);
    fast.configure(0.2f, 44100.0f);
    EXPECT_NEAR(fast.rampLength(), 0.2f * 44100.0f + 1.0f, 2.0f);
}

TEST_F(SmootherGlide, NewTargetRestartsTheCountdownSameTargetDoesNot) {
    smoother.setTarget(&x, 1.0f);
    for (int i = 0; i < 100; ++i)
        smoother.advance();
    smoother.setTarget(&x, 1.0f);
    EXPECT_EQ(run(), 101);
    smoother.setTarget(&x, 0.0f);
    for (int i = 0; i < 100; ++i)
        smoother.advance();
    const float from = x;
    smoother.setTarget(&x, 0.5f);
    EXPECT_EQ(x, from); // continues from where it is
    EXPECT_EQ(run(), 201);
    EXPECT_EQ(x, 0.5f);
}

TEST_F(SmootherGlide, BackToTheCurrentValueCancelsTheGlide) {
    smoother.setTarget(&x, 1.0f);
    smoother.setTarget(&x, 0.0f); // x still holds 0
    EXPECT_EQ(smoother.activeRamps(), 0);
    run();
    EXPECT_EQ(x, 0.0f);
}

TEST_F(SmootherGlide, EndingRampsLeaveTheOthersOnTheirOwnTrajectories) {
    // Reference: one destination alone.
    ParamSmoother solo(1);
    solo.configure(0.2f, 1000.0f);
    solo.markActive();
    float r = 0.0f;
    solo.setTarget(&r, 1.0f);
    std::vector<float> track;
    while (solo.activeRamps() > 0) {
        solo.advance();
        track.push_back(r);
    }
    // Three ramps started 50 samples apart end in slot order 0, 1, 2 while
    // the later ones move down into the freed slots.
    float* dest[3] = {&x, &y, &z};
    std::vector<float> seen[3];
    for (int n = 0; n < 400; ++n) {
        if (n % 50 == 0 && n / 50 < 3) smoother.setTarget(dest[n / 50], 1.0f);
        smoother.advance();
        for (int k = 0; k < 3; ++k)
            if (n >= 50 * k) seen[k].push_back(*dest[k]);
    }
    for (int k = 0; k < 3; ++k) {
        seen[k].resize(track.size());
        EXPECT_EQ(seen[k], track) << k;
    }
}

TEST_F(SmootherGlide, EveryChannelSeesTheSameTrajectory) {
    smoother.setTarget(&x, 1.0f);
    smoother.setTarget(&y, -1.0f);
    std::vector<float> channel[2];
    smoother.beginBlock();
    for (auto& ch : channel) {
        smoother.beginChannel();
        for (int i = 0; i < 64; ++i) {
            ch.push_back(x - y);
            smoother.advance();
        }
    }
    EXPECT_EQ(channel[0], channel[1]);
    const float afterBlock = x;
    smoother.beginBlock();
    smoother.beginChannel();
    EXPECT_EQ(x, afterBlock);
    smoother.flush();
    EXPECT_EQ(x, 1.0f);
    EXPECT_EQ(y, -1.0f);
    EXPECT_EQ(smoother.activeRamps(), 0);
}

} // namespace
} // namespace quor
