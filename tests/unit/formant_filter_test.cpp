// The vowel table and the keyed filter where no effect drives them: positions
// outside the table and modes other than the vowel bank.
#include "dsp/keyed_multimode_filter.h"
#include "dsp/vowel_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace quor {
namespace {

// Positions no caller sends read the nearest pair: the first formant of the
// first vowel alone, or 0.996 of the way from 400 to 350 Hz.
TEST(VowelTable, PositionsOutsideReadTheNearestPair) {
    const float rows[][2] = {
        {-3.0f, 650.0f}, {7.0f, 350.2f}, {std::numeric_limits<float>::quiet_NaN(), 650.0f}};
    for (const auto& r : rows) {
        FormantSet out;
        VowelTable::blendVowel(r[0], out);
        EXPECT_NEAR(out.formants[0].frequencyHz, r[1], 0.01f) << r[0];
    }
}

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
