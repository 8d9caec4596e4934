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
    const Formant* first = VowelTable::vowel(0).formants;
    EXPECT_TRUE(first[0].q == 8.125f && first[0].amplitude == 1.0f);
    EXPECT_NEAR(first[4].q, 23.214285f, 2e-6f);
    EXPECT_NEAR(first[4].amplitude, 0.0794328f, 1e-7f);
    // First formant: 650 Hz alone at 0; 0.998 of the way from 400 to 290 Hz
    // at 0.5; 0.996 of the way from 400 to 350 Hz at 1, never the last vowel
    // alone. Positions no caller sends read the nearest pair.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float rows[][2] = {{0.0f, 650.0f},  {0.5f, 290.22f}, {1.0f, 350.2f},
                             {-3.0f, 650.0f}, {7.0f, 350.2f},  {nan, 650.0f}};
    for (const auto& r : rows) {
        FormantSet out;
        VowelTable::blendVowel(r[0], out);
        EXPECT_EQ(out.count, 5);
        EXPECT_NEAR(out.formants[0].frequencyHz, r[1], 0.01f) << r[0];
    }
}

// Key 0 at position 0 puts the first formant at 650 Hz; key -1 pushes every
// formant below 20 Hz and key 1 above 0.499 of the rate, where they stay.
// Resonance 0 and 1 give damping 1 and 0.02.
TEST(KeyedMultimodeFilter, FormantsFollowKeyAndResonance) {
    const float rate = 48000.0f, w0 = 3.1415927f / rate;
    KeyedMultimodeFilter::FormantCoefficients c[5];
    KeyedMultimodeFilter::formantCoefficients({rate, 0.0f, 0.0f, 0.5f}, c);
    EXPECT_EQ(c[0].g, prewarpPolynomial(650.0f * w0));
    const struct {
        float key, resonance, hz, damping;
    } rows[] = {{-1.0f, 0.0f, 20.0f, 1.0f}, {1.0f, 1.0f, 0.499f * rate, 0.02f}};
    for (const auto& r : rows) {
        KeyedMultimodeFilter::formantCoefficients({rate, 0.3f, r.key, r.resonance}, c);
        for (const auto& f : c)
            EXPECT_TRUE(f.g == prewarpPolynomial(r.hz * w0) && std::fabs(f.damping - r.damping) < 1e-6f)
                << r.key;
    }
}

// Every mode but the vowel bank passes the signal through, replacing or adding.
TEST(KeyedMultimodeFilter, OtherModesPassThrough) {
    KeyedMultimodeFilter filter;
    filter.setSampleRate(44100.0f);
    std::vector<float> in(64);
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = std::sin(0.3f * static_cast<float>(i));
    for (std::int64_t mode : std::initializer_list<std::int64_t>{0, 10, 12, -1, INT64_MAX}) {
        filter.setMode(mode);
        filter.updateControl(0);
        std::vector<float> left(64), right(64);
        float* ins[2] = {in.data(), in.data()};
        float* outs[2] = {left.data(), right.data()};
        AudioBuffers buffers{ins, outs, 64, 0};
        filter.process(buffers, true);
        filter.process(buffers, false);
        for (std::size_t i = 0; i < in.size(); ++i)
            ASSERT_TRUE(left[i] == in[i] + in[i] && right[i] == left[i]) << mode;
    }
}

} // namespace
} // namespace quor
