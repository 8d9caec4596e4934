// The corners of the smoother that the effects' bit-exact models do not
// reach; those pin the glide itself, its length and the mix law.
#include "dsp/param_smoother.h"

#include <gtest/gtest.h>

#include <vector>

namespace quor {
namespace {

// A quantity set back to the value it holds drops its pending glide (the last
// ramp moves into the freed slot); every channel replays the block's glides
// from the same start; a reset lands every glide on its target.
TEST(ParamSmoother, DropsReplaysPerChannelAndFlushes) {
    ParamSmoother s(2);
    s.configure(0.2f, 1000.0f);
    s.markActive();
    float x = 0.0f, y = 0.0f;
    s.setTarget(&x, 1.0f);
    s.setTarget(&y, -1.0f);
    s.setTarget(&x, 0.0f);
    EXPECT_EQ(s.activeRamps(), 1);
    s.setTarget(&x, 1.0f);

    std::vector<float> channel[2];
    s.beginBlock();
    for (auto& ch : channel) {
        s.beginChannel();
        for (int i = 0; i < 256; ++i, s.advance()) // past the glides' end
            ch.push_back(x - y);
    }
    EXPECT_EQ(channel[0], channel[1]);
    EXPECT_EQ(channel[0].back(), 2.0f);

    s.setTarget(&y, 1.0f);
    s.flush();
    EXPECT_EQ(s.activeRamps(), 0);
    EXPECT_EQ(y, 1.0f);
}

} // namespace
} // namespace quor
