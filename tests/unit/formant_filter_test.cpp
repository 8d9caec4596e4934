#include "dsp/keyed_multimode_filter.h"
#include "dsp/tone_filter_pair.h"
#include "dsp/vowel_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace quor {
namespace {

TEST(VowelTable, StoresQAndAmplitudeAndBlendsNeighbours) {
    const FormantSet& first = VowelTable::vowel(0);
    EXPECT_EQ(first.formants[0].q, 8.125f);
    EXPECT_EQ(first.formants[0].amplitude, 1.0f);
    EXPECT_NEAR(first.formants[4].q, 23.214285f, 2e-6f);
    EXPECT_NEAR(first.formants[4].amplitude, 0.0794328f, 1e-7f);

    // First formant: 650 Hz alone at 0; 0.998 of the way from 400 to 290 Hz
    // at 0.5; 0.996 of the way from 400 to 350 Hz at 1, never the last vowel
    // alone. Positions no caller sends read the nearest pair.
    const struct {
        float position, firstFormantHz;
    } rows[] = {{0.0f, 650.0f},  {0.5f, 290.22f}, {1.0f, 350.2f},
                {-3.0f, 650.0f}, {7.0f, 350.2f},  {std::numeric_limits<float>::quiet_NaN(), 650.0f}};
    for (const auto& r : rows) {
        FormantSet out;
        VowelTable::blendVowel(r.position, out);
        EXPECT_EQ(out.count, 5);
        EXPECT_NEAR(out.formants[0].frequencyHz, r.firstFormantHz, 0.01f) << r.position;
    }
    FormantSet out;
    VowelTable::blendVowel(0.0f, out);
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(out.formants[k].frequencyHz, first.formants[k].frequencyHz);
}

TEST(KeyedMultimodeFilter, FormantsFollowKeyAndResonance) {
    using Control = KeyedMultimodeFilter::Control;
    KeyedMultimodeFilter::FormantCoefficients c[5];
    const float rate = 48000.0f, w0 = 3.1415927f / rate;

    // Key 0, position 0: the first vowel's formants, 650 Hz first.
    KeyedMultimodeFilter::formantCoefficients(Control{rate, 0.0f, 0.0f, 0.5f}, c);
    const FormantSet& vowel = VowelTable::vowel(0);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(c[k].g, prewarpPolynomial(vowel.formants[k].frequencyHz * w0)) << k;
        const float n =
            1.0f - 1.0f / (vowel.formants[k].q + 1.0f); // resonance 0.5: damping near the formant's q
        EXPECT_NEAR(c[k].damping, 1.0f - 0.98f * n, 1e-6f) << k;
    }
    // Key -1 pushes every formant below 20 Hz, where it stays; key 1 above
    // 0.499 of the rate, where it stays. Resonance 0 and 1 give damping 1 and 0.02.
    KeyedMultimodeFilter::formantCoefficients(Control{rate, 0.3f, -1.0f, 0.0f}, c);
    for (const auto& f : c) {
        EXPECT_EQ(f.g, prewarpPolynomial(20.0f * w0));
        EXPECT_EQ(f.damping, 1.0f);
    }
    KeyedMultimodeFilter::formantCoefficients(Control{rate, 0.3f, 1.0f, 1.0f}, c);
    for (const auto& f : c) {
        EXPECT_EQ(f.g, prewarpPolynomial(0.499f * rate * w0));
        EXPECT_NEAR(f.damping, 0.02f, 1e-6f);
    }
}

// Every mode but the vowel bank passes the signal through untouched.
TEST(KeyedMultimodeFilter, OtherModesPassThrough) {
    KeyedMultimodeFilter filter;
    filter.setSampleRate(44100.0f);
    std::vector<float> in(64), out(64, 0.5f);
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = std::sin(0.3f * static_cast<float>(i));
    float* ins[2] = {in.data(), in.data()};
    for (std::int64_t mode : {std::int64_t{0}, std::int64_t{10}, std::int64_t{12}, std::int64_t{-1},
                              std::numeric_limits<std::int64_t>::max()}) {
        filter.setMode(mode);
        filter.updateControl(0);
        std::vector<float> left(64), right(64, 0.5f);
        float* outs[2] = {left.data(), right.data()};
        AudioBuffers buffers{ins, outs, 64, 0};
        filter.process(buffers, true);
        EXPECT_EQ(left, in) << mode;
        buffers.outputs[1] = right.data();
        filter.process(buffers, false);
        for (std::size_t i = 0; i < in.size(); ++i)
            ASSERT_EQ(right[i], in[i] + in[i]) << mode; // the second call accumulated
    }
}

} // namespace
} // namespace quor
