// The pre-warp gain below its range: cut-offs under 1 Hz, which no effect
// sends, are held at 1 Hz.
#include "dsp/tone_filter_pair.h"

#include <gtest/gtest.h>

namespace quor {
namespace {

TEST(PrewarpGain, ClampsToOneHertz) {
    for (float below : {0.0f, 0.5f, -100.0f})
        EXPECT_EQ(PrewarpGain(below, 48000.0f), PrewarpGain(1.0f, 48000.0f)) << below;
}

} // namespace
} // namespace quor
