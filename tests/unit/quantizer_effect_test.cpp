#include "framework/effect.h"
#include "framework/registry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace quor {
namespace {

// Driven directly, without the host adapter's limits, rates and values no
// host sends make the hold clock race, go infinite or NaN: a 40 kHz hold at
// 1 Hz (40000 events a frame), a step below float precision (phase - 1 ==
// phase), the jitter taper dividing by zero (1.5), an infinite hold rate,
// NaN, and non-finite input. Every block must still end, and once sane
// settings and a reset return, so does finite audio.
TEST(QuantizerEffect, HoldLoopEndsWhateverTheClock) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const float cases[][4] = {// sample rate, parameter, value, input
                              {1.0f, 0, 1.0f, 0.5f},      {1e-30f, 0, 1.0f, 0.5f},  {48000.0f, 1, 1.5f, 0.5f},
                              {48000.0f, 0, 1e30f, 0.5f}, {48000.0f, 1, nan, 0.5f}, {48000.0f, 0, 1.0f, nan},
                              {48000.0f, 0, 1.0f, inf}};
    for (const auto& c : cases) {
        std::unique_ptr<HostedEffect> fx(EffectRegistry::suite().findAndCreate({1, "Quantizer"}));
        fx->applyDefaults();
        const auto index = static_cast<std::int32_t>(c[1]);
        fx->values[index] = c[2];
        fx->parameterChanged(index);
        std::vector<float> left(4096, c[3]), right(4096, c[3]);
        float* channels[2] = {left.data(), right.data()};
        AudioBuffers buffers{channels, channels, 4096, 0};
        for (float rate : {c[0], 44100.0f}) {
            if (rate == 44100.0f) {
                fx->applyDefaults();
                std::fill(left.begin(), left.end(), 0.25f);
                std::fill(right.begin(), right.end(), -0.25f);
            }
            fx->setSampleRate(rate);
            fx->reset();
            fx->process(buffers, true);
        }
        EXPECT_TRUE(std::isfinite(left.back()) && std::isfinite(right.back()))
            << c[0] << " " << c[1] << " " << c[2];
    }
}

} // namespace
} // namespace quor
