// The tone filter pair with its pre-warp gain, and the half-band oversampler.
#include "dsp/halfband_oversampler.h"
#include "dsp/tone_filter_pair.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quor {
namespace {

std::uint32_t bitsOf(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

TEST(PrewarpGain, ClampsToOneHertzAndToNyquist) {
    EXPECT_EQ(bitsOf(PrewarpGain(24000.0f, 48000.0f)), 0x4097DD0Cu); // 4.7457, where tan would be infinite
    EXPECT_EQ(PrewarpGain(1e9f, 48000.0f), PrewarpGain(24000.0f, 48000.0f));
    EXPECT_EQ(PrewarpGain(20000.0f, 32000.0f), PrewarpGain(16000.0f, 32000.0f));
    EXPECT_EQ(bitsOf(PrewarpGain(1.0f, 48000.0f)), 0x3889421Fu);
    for (float below : {0.0f, 0.5f, -100.0f})
        EXPECT_EQ(PrewarpGain(below, 48000.0f), PrewarpGain(1.0f, 48000.0f)) << below;
    // The polynomial stands in for tan(w): exact to about 2e-6 at pi/4.
    EXPECT_NEAR(prewarpPolynomial(0.78539816f), 1.0f, 3e-6f);
}

TEST(ToneFilterPair, RecomputesLazilyAndKeepsChannelsApart) {
    ToneFilterPair tone;
    tone.setSampleRate(48000.0f);
    tone.setHighCut(30000.0f);
    tone.setLowCut(0.0f);
    EXPECT_EQ(tone.dirty, 1);
    const float y = tone.process(0, 1.0f);
    EXPECT_EQ(tone.dirty, 0);
    EXPECT_EQ(tone.lowpassG, PrewarpGain(24000.0f, 48000.0f));
    EXPECT_EQ(tone.highpassG, PrewarpGain(1.0f, 48000.0f));
    EXPECT_EQ(tone.lowpassState[1], 0.0f); // channel 1 untouched
    EXPECT_EQ(tone.highpassState[1], 0.0f);
    EXPECT_EQ(tone.process(1, 1.0f), y); // equal states, equal input, equal output

    tone.setHighCut(30000.0f);
    tone.setLowCut(0.0f);
    EXPECT_EQ(tone.dirty, 0) << "an unchanged cut-off recomputes nothing";
    tone.setSampleRate(96000.0f);
    EXPECT_EQ(tone.dirty, 1);
    tone.process(0, 0.0f);
    EXPECT_EQ(tone.lowpassG, PrewarpGain(30000.0f, 96000.0f));
    EXPECT_EQ(tone.highpassG, PrewarpGain(1.0f, 96000.0f));

    // Reset clears only the memory.
    tone.reset();
    EXPECT_EQ(tone.lowpassState[0], 0.0f);
    EXPECT_EQ(tone.lowpassG, PrewarpGain(30000.0f, 96000.0f));
}

TEST(HalfbandOversampler, CoefficientsImpulseResponseAndGain) {
    const float* coefficients[8] = {&HalfbandUpsampler::kBranchA[0], &HalfbandUpsampler::kBranchA[1],
                                    &HalfbandUpsampler::kBranchA[2], &HalfbandUpsampler::kBranchB[0],
                                    &HalfbandUpsampler::kBranchB[1], &HalfbandUpsampler::kBranchB[2],
                                    &HalfbandOversampler::kDownA,    &HalfbandOversampler::kDownB};
    const std::uint32_t bits[8] = {0x3CDA2D08u, 0x3E6A2878u, 0x3F18ABB4u, 0x3DD62E0Au,
                                   0x3EC95183u, 0x3F58F66Au, 0x3E1A4000u, 0xBEC8FE00u};
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(bitsOf(*coefficients[k]), bits[k]) << k;

    // Up- then down-sampled with nothing between: a peak about three samples late.
    HalfbandOversampler chain;
    std::vector<float> impulse;
    for (int n = 0; n < 256; ++n) {
        float a, b;
        chain.upsample(n == 0 ? 1.0f : 0.0f, a, b);
        impulse.push_back(chain.downsample(a, b));
    }
    const float head[8] = {-0.00656692358f, -0.0534669906f, 0.160507917f, 0.808933139f,
                           0.165617287f,    -0.238939971f,  0.270468861f, -0.196238533f};
    for (int n = 0; n < 8; ++n)
        EXPECT_FLOAT_EQ(impulse[n], head[n]) << n;

    // |H| from the impulse response: unity at DC and at Nyquist, -1.22 dB at 0.45 fs.
    const auto gainAt = [&](double cycles) {
        std::complex<double> h;
        for (std::size_t n = 0; n < impulse.size(); ++n)
            h += static_cast<double>(impulse[n]) *
                 std::polar(1.0, -2.0 * 3.141592653589793 * cycles * static_cast<double>(n));
        return std::abs(h);
    };
    EXPECT_NEAR(gainAt(0.0), 1.0, 1e-6);
    EXPECT_NEAR(gainAt(0.45), 0.869076, 1e-5);
    EXPECT_NEAR(gainAt(0.5), 1.0, 1e-6);

    // Silence stays exactly silent once the states are clear.
    chain.clear();
    for (int n = 0; n < 10; ++n) {
        float a, b;
        chain.upsample(0.0f, a, b);
        ASSERT_EQ(chain.downsample(a, b), 0.0f);
    }
}

} // namespace
} // namespace quor
