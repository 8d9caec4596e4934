// The pre-warp gain below its range, and the half-band oversampler's response.
#include "dsp/halfband_oversampler.h"
#include "dsp/tone_filter_pair.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

namespace quor {
namespace {

// Cut-offs below 1 Hz, which no effect sends, are held at 1 Hz.
TEST(PrewarpGain, ClampsToOneHertz) {
    for (float below : {0.0f, 0.5f, -100.0f})
        EXPECT_EQ(PrewarpGain(below, 48000.0f), PrewarpGain(1.0f, 48000.0f)) << below;
    EXPECT_NEAR(prewarpPolynomial(0.78539816f), 1.0f, 3e-6f); // tan(pi/4)
}

// Up- then down-sampled with nothing between: unity at DC and at Nyquist,
// -1.22 dB at 0.45 fs.
TEST(HalfbandOversampler, GainOfTheChain) {
    HalfbandOversampler chain;
    std::vector<float> impulse;
    for (int n = 0; n < 256; ++n) {
        float a, b;
        chain.upsample(n == 0 ? 1.0f : 0.0f, a, b);
        impulse.push_back(chain.downsample(a, b));
    }
    for (const auto& [cycles, gain] : {std::pair{0.0, 1.0}, {0.45, 0.869076}, {0.5, 1.0}}) {
        std::complex<double> h;
        for (std::size_t n = 0; n < impulse.size(); ++n)
            h += static_cast<double>(impulse[n]) *
                 std::polar(1.0, -2.0 * 3.141592653589793 * cycles * static_cast<double>(n));
        EXPECT_NEAR(std::abs(h), gain, 1e-5) << cycles;
    }
}

} // namespace
} // namespace quor
