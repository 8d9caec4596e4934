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
        EXPECT_NEAR(DryWetMix(r.mix).dry, r.dry, 5e-6f) << r.mix;
        EXPECT_NEAR(DryWetMix(r.mix).wet, r.wet, 5e-6f) << r.mix;
    }
    EXPECT_EQ(DryWetMix(1.0f).dry, 0.0f); // the ends are exact
    EXPECT_EQ(DryWetMix(0.0f).wet, 0.0f);
}

// 0.2 s at 1 kHz: ramps of 201 samples.
void arm(ParamSmoother& s) {
    s.configure(0.2f, 1000.0f);
    s.markActive();
}

// Advances until no ramp is left, or `most` samples; returns the values `v` took.
std::vector<float> glide(ParamSmoother& s, const float& v, int most = 100000) {
    std::vector<float> track;
    for (; s.activeRamps() > 0 && static_cast<int>(track.size()) < most; track.push_back(v))
        s.advance();
    return track;
}

TEST(ParamSmoother, GlidesForItsLengthOnceLiveAndEndsExactly) {
    ParamSmoother s(1), shared(3);
    float v = 0.0f;
    s.setTarget(&v, 1.0f); // no rate yet
    s.configure(0.2f, 1000.0f);
    s.setTarget(&v, 2.0f); // nothing processed yet
    EXPECT_EQ(v, 2.0f);
    EXPECT_EQ(s.rampLength(), 201.0f);
    s.markActive();
    s.setTarget(&v, 3.0f);
    const std::vector<float> track = glide(s, v);
    ASSERT_EQ(track.size(), 201u);
    EXPECT_GT(track[199], 2.98f);
    EXPECT_LT(track[199], 3.0f);
    EXPECT_EQ(track[200], 3.0f);

    // Started 50 samples apart, the first ramp ends first and the later ones
    // move down into the freed slot: none may skip or repeat an advance.
    arm(shared);
    float x[3] = {2.0f, 2.0f, 2.0f};
    std::vector<float> seen[3];
    for (int n = 0; n < 400; ++n) {
        if (n % 50 == 0 && n < 150) shared.setTarget(&x[n / 50], 3.0f);
        shared.advance();
        for (int k = 0; k < 3; ++k)
            if (n >= 50 * k && seen[k].size() < track.size()) seen[k].push_back(x[k]);
    }
    for (const auto& t : seen)
        EXPECT_EQ(t, track);
}

TEST(ParamSmoother, RetargetingRestartsTheCountdown) {
    ParamSmoother s(2);
    arm(s);
    float v = 0.0f;
    s.setTarget(&v, 1.0f);
    glide(s, v, 100);
    s.setTarget(&v, 1.0f); // the same target leaves the glide alone
    EXPECT_EQ(glide(s, v).size(), 101u);
    s.setTarget(&v, 0.0f);
    glide(s, v, 100);
    const float from = v;
    s.setTarget(&v, 0.5f); // a new one glides on from where it is
    EXPECT_EQ(v, from);
    EXPECT_EQ(glide(s, v).size(), 201u);
    EXPECT_EQ(v, 0.5f);
    // Back to the value the quantity holds: the pending glide is dropped.
    s.setTarget(&v, 1.0f);
    s.setTarget(&v, 0.5f);
    EXPECT_EQ(s.activeRamps(), 0);
}

TEST(ParamSmoother, EveryChannelSeesTheSameTrajectory) {
    ParamSmoother s(2);
    arm(s);
    float x = 0.0f, y = 0.0f;
    s.setTarget(&x, 1.0f);
    s.setTarget(&y, -1.0f);
    std::vector<float> channel[2];
    s.beginBlock();
    for (auto& ch : channel) {
        s.beginChannel();
        for (int i = 0; i < 64; ++i, s.advance())
            ch.push_back(x - y);
    }
    EXPECT_EQ(channel[0], channel[1]);
    s.flush();
    EXPECT_EQ(x, 1.0f);
    EXPECT_EQ(y, -1.0f);
}

} // namespace
} // namespace quor
