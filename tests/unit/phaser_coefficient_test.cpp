// The Phaser's coefficients from the polynomial exponential are those of the
// library exponential.
#include "effects/phaser_coefficient.h"

#include <gtest/gtest.h>

#include <random>

namespace quor {
namespace {

TEST(PhaserCoefficient, MatchesTheLibraryExponential) {
    double worst = 0.0;
    for (double x = -12.0; x <= 12.0; x += 1.0 / 4099.0) {
        const PhaserLanes e = phaserExp(PhaserLanes{x, -x});
        worst = std::max({worst, std::fabs(e[0] / std::exp(x) - 1.0), std::fabs(e[1] / std::exp(-x) - 1.0)});
    }
    EXPECT_LT(worst, kExpError / 4.0);

    // Sweeps from a lower bound of 20 Hz at 768 kHz to Nyquist, rising and
    // falling (while the bounds glide), and every LFO value.
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), decades(-1.0f, 4.3f), low(2.6e-5f, 0.5f);
    for (int n = 0; n < 1000000; ++n) {
        const float lfo[2] = {unit(rng), n % 5 ? unit(rng) : 1.0f};
        const float range = decades(rng), lowNorm = low(rng);
        float fast[2];
        phaserCoefficientPair(lfo, range, lowNorm, fast);
        for (int c = 0; c < 2; ++c)
            ASSERT_EQ(fast[c], exactPhaserCoefficient(lfo[c], range, lowNorm))
                << lfo[c] << " " << range << " " << lowNorm;
    }
}

} // namespace
} // namespace quor
