#include "dsp/blep_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace quor {
namespace {

TEST(BlepTable, MeetsItsShape) {
    const BlepTable& t = BlepTable::minblep();
    const float* d = t.data;
    const struct {
        int entry;
        float value;
    } telling[] = {{0, 0.999968f},   {16, 0.983009f}, {32, 0.700782f},   {40, 0.347502f},   {48, -0.018451f},
                   {57, -0.188391f}, {77, 0.099522f}, {128, -0.022110f}, {192, -0.001608f}, {255, -2.9e-8f}};
    for (const auto& r : telling)
        EXPECT_NEAR(d[r.entry], r.value, 5e-5f) << "entry " << r.entry;
    for (int n = 256; n < BlepTable::kLength + BlepTable::kGuardEntries; ++n)
        EXPECT_EQ(d[n], d[255]) << "guard entry " << n;

    for (int n = 1; n <= 57; ++n)
        EXPECT_LT(d[n], d[n - 1]) << "the fall to the deepest undershoot, entry " << n;
    EXPECT_TRUE(d[36] > 0.5f && d[37] < 0.5f);
    for (int n = 58; n < 256; ++n)
        EXPECT_LE(d[n], d[77]) << "the highest later overshoot is entry 77, not " << n;

    std::vector<int> signChanges;
    for (int n = 1; n < 256; ++n)
        if ((d[n] < 0.0f) != (d[n - 1] < 0.0f)) signChanges.push_back(n);
    EXPECT_EQ(signChanges, (std::vector<int>{48, 69, 88, 106, 123, 140, 157, 173, 190, 206, 223, 239, 255}));
}

} // namespace
} // namespace quor
