// The Rectifier, Clipper, Multiplier and Quantizer driven directly, in call
// orders and with values no host adapter makes: blocks before any rate and
// after rates that are no rates, and hold clocks that race, go infinite or NaN.
#include "effects/effects.h"
#include "framework/effect.h"
#include "tests/support/effect_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace quor {
namespace {

const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();

// 200 frames of a sine beyond full scale, plus an offset, through the effect.
struct Block {
    std::vector<float> in[2], out[2] = {std::vector<float>(200), std::vector<float>(200)};
    Block(HostedEffect& fx, int seed, float offset = 0.0f) {
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 200; ++i)
                in[c].push_back(offset + 1.3f * std::sin(0.02f * static_cast<float>(i * (c + 1) + seed)));
        float* inputs[2] = {in[0].data(), in[1].data()};
        float* outputs[2] = {out[0].data(), out[1].data()};
        AudioBuffers buffers{inputs, outputs, 200, 0};
        fx.process(buffers, true);
    }
    bool finite() const {
        const auto ok = [](float y) { return std::isfinite(y); };
        return std::all_of(out[0].begin(), out[0].end(), ok) && std::all_of(out[1].begin(), out[1].end(), ok);
    }
};

TEST(UnusableSettings, ShapersKeepTheirOutputDefined) {
    for (HostedEffect* (*create)() : {createRectifier, createClipper, createMultiplier}) {
        std::unique_ptr<HostedEffect> fx(create()), fresh(create());
        SCOPED_TRACE(fx->name);
        // Until it has a rate the Multiplier passes audio through and its
        // state stands still, so afterwards it plays as if nothing happened.
        const bool passesWithoutRate = std::string(fx->name) == "Multiplier";
        const std::int32_t oversample = fx->paramCount == 3 ? 2 : 3; // the Rectifier has three parameters
        for (HostedEffect* f : {fx.get(), fresh.get()}) {
            f->applyDefaults();
            test::setValue(*f, oversample, 1.0f);
        }
        fresh->setSampleRate(44100.0f);
        Block(*fresh, 0);
        for (float rate : {0.0f, 44100.0f, nan, -1.0f, inf, 0.0f}) {
            fx->setSampleRate(rate);
            fx->parameterChanged(0);
            const Block block(*fx, 0);
            ASSERT_TRUE(block.finite()) << "at " << rate << " Hz";
            EXPECT_TRUE(!passesWithoutRate || rate == 44100.0f || block.out[1] == block.in[1]) << rate;
        }
        fx->setSampleRate(44100.0f);
        EXPECT_TRUE(!passesWithoutRate || Block(*fx, 1).out[0] == Block(*fresh, 1).out[0]);
    }
}

// A 40 kHz hold at 1 Hz (40000 events a frame), a step below float precision
// (phase - 1 == phase), the jitter taper dividing by zero (1.5), an infinite
// hold rate, NaN, and non-finite input: every block must still end, and once
// sane settings and a reset return, so does finite audio.
TEST(UnusableSettings, QuantizerHoldLoopEndsWhateverTheClock) {
    const float cases[][4] = {// sample rate, parameter, value, input offset
                              {1.0f, 0, 1.0f, 0.5f},      {1e-30f, 0, 1.0f, 0.5f},  {48000.0f, 1, 1.5f, 0.5f},
                              {48000.0f, 0, 1e30f, 0.5f}, {48000.0f, 1, nan, 0.5f}, {48000.0f, 0, 1.0f, nan},
                              {48000.0f, 0, 1.0f, inf}};
    for (const auto& c : cases) {
        std::unique_ptr<HostedEffect> fx(createQuantizer());
        fx->applyDefaults();
        test::setValue(*fx, static_cast<std::int32_t>(c[1]), c[2]);
        test::startAt(*fx, c[0]);
        Block(*fx, 0, c[3]);
        fx->applyDefaults();
        test::startAt(*fx, 44100.0f);
        EXPECT_TRUE(Block(*fx, 0).finite()) << c[0] << " " << c[1] << " " << c[2];
    }
}

} // namespace
} // namespace quor
