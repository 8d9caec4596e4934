// mDelay's line storage: sized by the rate, prepared off the audio thread,
// and cleared by reset only where processing wrote.
#include "effects/mdelay.h"
#include "tests/support/effect_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace quor {
namespace {

TEST(MDelayLines, SizeFollowsTheRate) {
    const struct {
        float rate;
        std::int32_t size;
    } rows[] = {{8000.0f, 65536},    {22050.0f, 65536},   {32000.0f, 65536},    {32768.0f, 65536},
                {44100.0f, 131072},  {48000.0f, 131072},  {88200.0f, 262144},   {96000.0f, 262144},
                {176400.0f, 524288}, {192000.0f, 524288}, {384000.0f, 1048576}, {768000.0f, 2097152},
                {1e9f, 2097152}};
    for (const auto& r : rows)
        EXPECT_EQ(mdelayLineSize(r.rate), r.size) << r.rate;

    MDelay fx;
    fx.applyDefaults();
    EXPECT_EQ(fx.lineSize(), 0);
    test::startAt(fx, 44100.0f);
    EXPECT_EQ(fx.lineSize(), 131072);
    EXPECT_EQ(fx.prepareDeferred({fx.values, fx.paramCount, 48000.0f}), nullptr) << "the same size is kept";
    test::startAt(fx, 48000.0f);
    EXPECT_EQ(fx.lineSize(), 131072);
    test::startAt(fx, 96000.0f);
    EXPECT_EQ(fx.lineSize(), 262144);
}

bool silent(const MDelay& fx) {
    for (std::int32_t c = 0; c < 2; ++c) {
        const float* line = fx.lineData(c);
        if (!std::all_of(line, line + fx.lineSize(), [](float x) { return x == 0.0f; })) return false;
    }
    return true;
}

void play(MDelay& fx, std::int32_t frames) {
    std::vector<float> l(static_cast<std::size_t>(frames), 0.5f), r(l.size(), -0.25f);
    float* channels[2] = {l.data(), r.data()};
    AudioBuffers buffers{channels, channels, frames, 0};
    fx.process(buffers, true);
}

TEST(MDelayLines, ResetClearsEverySlotWritten) {
    MDelay fx;
    fx.applyDefaults();
    fx.values[kMDelayFeedback] = 1.0f;
    fx.parameterChanged(kMDelayFeedback);
    test::startAt(fx, 48000.0f);
    EXPECT_FALSE(fx.resetClearsLargeBuffers());
    // Part of the lines; then a run across the end of the lines; then more than all of them.
    for (std::int32_t frames : {65000, 1000, 70000}) {
        play(fx, frames);
        EXPECT_TRUE(fx.resetClearsLargeBuffers());
        EXPECT_FALSE(silent(fx));
        fx.reset();
        EXPECT_FALSE(fx.resetClearsLargeBuffers());
        EXPECT_TRUE(silent(fx)) << "after " << frames << " frames";
    }
}

} // namespace
} // namespace quor
