#include "effects/effects.h"
#include "framework/effect.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace quor {
namespace {

// The host adapter never runs an effect without a rate, but the effect must
// not depend on that: a block before any rate returns, at full gain.
TEST(Tremolo, BlockWithoutASampleRateReturns) {
    std::unique_ptr<HostedEffect> tremolo(createTremolo());
    tremolo->applyDefaults();
    tremolo->reset();
    std::vector<float> left(64, 0.5f), right(64, -0.5f);
    float* channels[2] = {left.data(), right.data()};
    AudioBuffers buffers{channels, channels, 64, 0};
    tremolo->process(buffers, true);
    EXPECT_EQ(left, std::vector<float>(64, 0.5f));
    EXPECT_EQ(right, std::vector<float>(64, -0.5f));
}

} // namespace
} // namespace quor
