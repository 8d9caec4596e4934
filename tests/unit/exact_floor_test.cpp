#include "dsp/exact_floor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace quor {
namespace {

// std::floor bit for bit, scalar and four lanes wide (any NaN for NaN):
// signed zeros, ties, the edges of the integer range of floats, infinities,
// quarter steps and random bit patterns.
TEST(ExactFloor, MatchesStdFloorBitForBit) {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> v = {0.0f,        -0.0f,       2.5f, -2.5f, -1e-40f, 8388607.5f,
                            -8388607.5f, -8388609.0f, inf,  -inf,  nan};
    std::mt19937 rng(7);
    for (int i = 0; i < 100000; ++i) {
        const std::uint32_t bits = rng();
        v.push_back(static_cast<float>(static_cast<int>(bits % 2001) - 1000) * 0.25f);
        std::memcpy(&v.emplace_back(), &bits, sizeof bits);
    }
    for (std::size_t i = 0; i + 4 <= v.size(); i += 4) {
        float wide[4] = {v[i], v[i + 1], v[i + 2], v[i + 3]};
#if defined(__SSE2__)
        _mm_storeu_ps(wide, floorExact(_mm_loadu_ps(wide)));
#endif
        for (std::size_t k = 0; k < 4; ++k) {
            const float expected = std::floor(v[i + k]), scalar = floorExact(v[i + k]);
            const bool same = std::isnan(expected) ? std::isnan(scalar) && std::isnan(wide[k])
                                                   : !std::memcmp(&scalar, &expected, 4) &&
                                                         !std::memcmp(&wide[k], &expected, 4);
            ASSERT_TRUE(same) << v[i + k];
        }
    }
}

} // namespace
} // namespace quor
