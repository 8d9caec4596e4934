#include "dsp/exact_floor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace quor {
namespace {

// Bit for bit std::floor, scalar and four lanes wide: signed zeros, ties,
// the edges of the integer range of floats, infinities and random bits.
TEST(ExactFloor, MatchesStdFloorBitForBit) {
    std::vector<float> values = {0.0f,
                                 -0.0f,
                                 0.5f,
                                 -0.5f,
                                 1.5f,
                                 -1.5f,
                                 2.5f,
                                 -2.5f,
                                 0.999999f,
                                 -0.999999f,
                                 1e-40f,
                                 -1e-40f,
                                 8388607.5f,
                                 -8388607.5f,
                                 8388608.0f,
                                 -8388609.0f,
                                 16777215.0f,
                                 3e38f,
                                 -3e38f,
                                 std::numeric_limits<float>::infinity(),
                                 -std::numeric_limits<float>::infinity(),
                                 std::numeric_limits<float>::quiet_NaN()};
    std::mt19937 rng(7);
    for (int i = 0; i < 100000; ++i) {
        const std::uint32_t bits = rng();
        float v;
        std::memcpy(&v, &bits, sizeof v);
        values.push_back(v);
        values.push_back(static_cast<float>(static_cast<int>(rng() % 2001) - 1000) * 0.25f);
    }
    while (values.size() % 4 != 0)
        values.push_back(0.75f);
    for (std::size_t i = 0; i < values.size(); i += 4) {
        float wide[4] = {values[i], values[i + 1], values[i + 2], values[i + 3]};
#if defined(__SSE2__)
        _mm_storeu_ps(wide, floorExact(_mm_loadu_ps(wide)));
#else
        for (float& w : wide)
            w = floorExact(w);
#endif
        for (std::size_t k = 0; k < 4; ++k) {
            const float expected = std::floor(values[i + k]), scalar = floorExact(values[i + k]);
            if (std::isnan(expected)) { // any NaN will do
                ASSERT_TRUE(std::isnan(scalar) && std::isnan(wide[k]));
                continue;
            }
            ASSERT_EQ(std::memcmp(&scalar, &expected, sizeof(float)), 0) << values[i + k];
            ASSERT_EQ(std::memcmp(&wide[k], &expected, sizeof(float)), 0) << values[i + k];
        }
    }
}

} // namespace
} // namespace quor
