// The chunk reader against chunks far larger than any effect's table.
#include "host/state_chunk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace quor {
namespace {

std::vector<std::uint8_t> chunkWithValues(std::uint32_t count) {
    std::vector<float> values(count);
    for (std::uint32_t i = 0; i < count; ++i)
        values[i] = static_cast<float>(i);
    std::vector<std::uint8_t> bytes(stateChunkSize("Big", static_cast<std::int32_t>(count)));
    writeStateChunk(bytes.data(), "Big", 0, values.data(), static_cast<std::int32_t>(count));
    return bytes;
}

TEST(StateChunkLimits, KeepsNoMoreValuesThanAsked) {
    const std::vector<std::uint8_t> bytes = chunkWithValues(1u << 20);
    ParsedState state;
    ASSERT_TRUE(parseStateChunk(bytes.data(), bytes.size(), state, 5));
    ASSERT_TRUE(state.hasPars);
    EXPECT_EQ(state.storedCount, 1u << 20); // the count field is still reported as stored
    EXPECT_EQ(state.values, (std::vector<float>{0.0f, 1.0f, 2.0f, 3.0f, 4.0f}));

    ASSERT_TRUE(parseStateChunk(bytes.data(), bytes.size(), state));
    EXPECT_EQ(state.values.size(), 1u << 20);
}

TEST(StateChunkLimits, TheBytesBoundTheValuesWhateverTheLimit) {
    std::vector<std::uint8_t> bytes = chunkWithValues(8);
    bytes.resize(bytes.size() - 4 * 5 - 1); // two values and three bytes of a third remain
    ParsedState state;
    ASSERT_TRUE(parseStateChunk(bytes.data(), bytes.size(), state, 100));
    EXPECT_EQ(state.values, (std::vector<float>{0.0f, 1.0f}));
}

} // namespace
} // namespace quor
