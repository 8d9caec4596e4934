#include "framework/effect.h"
#include "framework/registry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace quor {
namespace {

// Driven directly, without the host adapter's limits: rates and values no
// host sends make the hold clock race, go infinite or NaN. Every block must
// still end (the hold events of a frame are bounded), and once sane settings
// and a reset return, so does finite audio.
TEST(QuantizerEffect, HoldLoopEndsWhateverTheClock) {
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    constexpr float kInf = std::numeric_limits<float>::infinity();
    const struct {
        float sampleRate;
        int index;
        float value;
        float input;
    } cases[] = {
        {1.0f, 0, 1.0f, 0.5f},      // 40 kHz hold at 1 Hz: 40000 events a frame
        {1e-30f, 0, 1.0f, 0.5f},    // a step beyond float precision: phase - 1 == phase
        {48000.0f, 1, 1.5f, 0.5f},  // jitter taper divides by zero: infinite step
        {48000.0f, 0, 1e30f, 0.5f}, // infinite hold rate
        {48000.0f, 1, kNaN, 0.5f},  {48000.0f, 0, 1.0f, kNaN}, {48000.0f, 0, 1.0f, kInf},
    };
    for (const auto& c : cases) {
        std::unique_ptr<HostedEffect> fx(EffectRegistry::suite().findAndCreate({1, "Quantizer"}));
        fx->applyDefaults();
        fx->values[c.index] = c.value;
        fx->parameterChanged(c.index);
        fx->setSampleRate(c.sampleRate);
        fx->reset();
        std::vector<float> left(4096, c.input), right(4096, c.input);
        float* channels[2] = {left.data(), right.data()};
        AudioBuffers buffers{channels, channels, 4096, 0};
        fx->process(buffers, true);

        fx->applyDefaults();
        fx->setSampleRate(44100.0f);
        fx->reset();
        for (int block = 0; block < 20; ++block) {
            std::fill(left.begin(), left.end(), 0.25f);
            std::fill(right.begin(), right.end(), -0.25f);
            fx->process(buffers, true);
        }
        EXPECT_TRUE(std::isfinite(left.back()) && std::isfinite(right.back()))
            << "rate " << c.sampleRate << ", value " << c.value << " at " << c.index << ", input " << c.input;
    }
}

} // namespace
} // namespace quor
