// The Rectifier, Clipper and Multiplier driven directly, in call orders no
// host adapter makes: blocks before any rate and after rates that are no
// rates, and switches and selectors holding values beyond their range.
#include "effects/effects.h"
#include "framework/effect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace quor {
namespace {

// 200 frames of a sine beyond full scale through the effect.
struct Block {
    std::vector<float> in[2], out[2] = {std::vector<float>(200), std::vector<float>(200)};
    Block(HostedEffect& fx, int seed) {
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 200; ++i)
                in[c].push_back(1.3f * std::sin(0.02f * static_cast<float>(i * (c + 1) + seed)));
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

TEST(ShaperEffects, UnusableRatesAndStoredValuesLeaveTheOutputDefined) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    for (HostedEffect* (*create)() : {createRectifier, createClipper, createMultiplier}) {
        std::unique_ptr<HostedEffect> fx(create()), fresh(create());
        SCOPED_TRACE(fx->name);
        // Until it has a rate the Multiplier passes audio through and its
        // state stands still, so afterwards it plays as if nothing happened.
        const bool passesWithoutRate = std::string(fx->name) == "Multiplier";
        const std::int32_t oversample = fx->paramCount == 3 ? 2 : 3; // the Rectifier has three parameters
        for (HostedEffect* f : {fx.get(), fresh.get()}) {
            f->applyDefaults();
            f->values[oversample] = 1.0f;
            f->parameterChanged(oversample);
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

        for (std::int32_t i = 0; i < fx->paramCount; ++i)
            for (float v : {-7.0f, 3.0f, 1e9f, nan})
                if (fx->params[i].discrete) {
                    fx->values[i] = v;
                    fx->parameterChanged(i);
                    ASSERT_TRUE(Block(*fx, 2).finite()) << "parameter " << i << " at " << v;
                }
    }
}

} // namespace
} // namespace quor
