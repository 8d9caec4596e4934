// Effects driven directly: audio before any rate, and the delay lines of the
// Limiter and mDelay, sized by the rate, prepared off the audio thread and
// cleared by reset where processing wrote; mDelay's modulated reads.
#include "effects/mdelay.h"
#include "effects/mdelay_taps.h"
#include "framework/registry.h"
#include "tests/support/effect_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace quor {
namespace {

std::unique_ptr<HostedEffect> make(const char* name) {
    std::unique_ptr<HostedEffect> fx(EffectRegistry::suite().findAndCreate({1, name}));
    fx->applyDefaults();
    return fx;
}

// Runs the effect on a constant input; returns the last left output.
float run(HostedEffect& fx, int frames, float x) {
    std::vector<float> in(static_cast<std::size_t>(frames), x), l(in.size()), r(in.size());
    float* inputs[4] = {in.data(), in.data(), in.data(), in.data()};
    float* outputs[2] = {l.data(), r.data()};
    AudioBuffers buffers{inputs, outputs, frames, 0};
    fx.process(buffers, true);
    return l.back();
}

TEST(DirectDrive, ProcessingBeforeAnyRateStaysFinite) {
    // No delay line and no control divisor exist yet: nothing may loop or read.
    for (const char* name :
         {"Limiter", "Follower", "Compressor", "Gate", "RC Filter", "Phaser", "mDelay", "Ringmod"})
        EXPECT_TRUE(std::isfinite(run(*make(name), 100, 0.5f))) << name;
}

TEST(Limiter, LatencyFollowsLookaheadAndCompensation) {
    const struct {
        float rate, attack, lookahead, compensation;
        std::int32_t latency;
    } rows[] = {
        {44100.0f, 0.2f, 1.0f, 0.0f, 51},   {44100.0f, 0.2f, 1.0f, 1.0f, 4410},
        {44100.0f, 0.2f, 0.0f, 0.0f, 0},    {48000.0f, 1.0f, 1.0f, 0.0f, 4800},
        {48000.0f, 0.2f, 0.5f, 1.0f, 4800}, {96000.0f, 0.6f, 0.7f, 0.0f, 929},
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

TEST(MDelayLines, SizeFollowsTheRateAndResetClearsEverySlotWritten) {
    const struct {
        float rate;
        std::int32_t size;
    } rows[] = {{8000.0f, 65536},   {32768.0f, 65536},    {44100.0f, 131072},
                {96000.0f, 262144}, {768000.0f, 2097152}, {1e9f, 2097152}};
    for (const auto& r : rows)
        EXPECT_EQ(mdelayLineSize(r.rate), r.size) << r.rate;

    MDelay fx;
    fx.applyDefaults();
    EXPECT_EQ(fx.lineSize(), 0);
    test::startAt(fx, 44100.0f);
    EXPECT_EQ(fx.lineSize(), 131072);
    EXPECT_EQ(fx.prepareDeferred({48000.0f}), nullptr) << "the same size is kept";
    test::startAt(fx, 96000.0f);
    EXPECT_EQ(fx.lineSize(), 262144);

    test::setValue(fx, kMDelayFeedback, 1.0f);
    test::startAt(fx, 48000.0f);
    EXPECT_FALSE(fx.resetClearsLargeBuffers());
    const auto silent = [&] {
        const auto zero = [](float x) { return x == 0.0f; };
        return std::all_of(fx.lineData(0), fx.lineData(0) + fx.lineSize(), zero) &&
               std::all_of(fx.lineData(1), fx.lineData(1) + fx.lineSize(), zero);
    };
    // Part of the lines; then a run across the end of the lines; then more than all of them.
    for (std::int32_t frames : {65000, 1000, 70000}) {
        std::vector<float> l(static_cast<std::size_t>(frames), 0.5f), r(l.size(), -0.25f);
        float* channels[2] = {l.data(), r.data()};
        AudioBuffers buffers{channels, channels, frames, 0};
        fx.process(buffers, true);
        EXPECT_TRUE(fx.resetClearsLargeBuffers());
        EXPECT_FALSE(silent());
        fx.reset();
        EXPECT_FALSE(fx.resetClearsLargeBuffers());
        EXPECT_TRUE(silent()) << "after " << frames << " frames";
    }
}

// The polynomial weight stays within its bound of the library cosine (checked
// here on a comb of fractions, offline on every float), and reads built on it
// round to the float the library cosine gives.
TEST(MDelayTaps, ReadsMatchTheLibraryCosine) {
    double worst = 0.0;
    for (std::uint32_t bits = 0; bits < 0x3F800000u; bits += 997) {
        float f;
        std::memcpy(&f, &bits, sizeof f);
        worst = std::max(worst, std::fabs(tapWeight(f) - exactTapWeight(f)));
    }
    EXPECT_LT(worst, kWeightError / 4.0);

    std::mt19937 rng(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), sample(-1.0f, 1.0f);
    for (int n = 0; n < 2000000; ++n) {
        const float f = unit(rng), p = sample(rng), q = n % 3 ? sample(rng) : p * 1.0001f;
        const float exact =
            static_cast<float>(static_cast<double>(p) + static_cast<double>(q - p) * exactTapWeight(f));
        ASSERT_EQ(interpolateTap(p, q, tapWeight(f), f), exact) << p << " " << q << " " << f;
    }
}

} // namespace
} // namespace quor
