// mDelay's line storage: sized by the rate, prepared off the audio thread,
// and cleared by reset only where processing wrote.
#include "effects/mdelay.h"
#include "effects/mdelay_taps.h"
#include "tests/support/effect_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace quor {
namespace {

TEST(MDelayLines, SizeFollowsTheRate) {
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
}

TEST(MDelayLines, ResetClearsEverySlotWritten) {
    MDelay fx;
    fx.applyDefaults();
    fx.values[kMDelayFeedback] = 1.0f;
    fx.parameterChanged(kMDelayFeedback);
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
