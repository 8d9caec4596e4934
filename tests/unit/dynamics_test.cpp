// The dynamics effects driven directly: audio before any rate, the Limiter's
// latency and line clearing.
#include "framework/registry.h"
#include "tests/support/effect_driver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
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

TEST(Dynamics, ProcessingBeforeAnyRatePassesAudio) {
    // No delay line and no control divisor exist yet: nothing may loop or read.
    for (const char* name : {"Limiter", "Follower", "Compressor", "Gate"})
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

} // namespace
} // namespace quor
