#include "host/name_hash.h"
#include "host/state_chunk.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace quor {
namespace {

TEST(NameHash, IsTheStandardCrc32) {
    EXPECT_EQ(NameHash("123456789"), 0xCBF43926u);
    EXPECT_EQ(NameHash("123456789xyz", 9), 0xCBF43926u);
    EXPECT_EQ(NameHash(nullptr), 0u);
    EXPECT_EQ(NameHash(""), 0u);
    EXPECT_EQ(NameHash("quor", 0), 0u);
}

TEST(StateChunk, RecordsAndSizes) {
    EXPECT_EQ(writeRecord(nullptr, "Reverb", "name"), 15u);
    EXPECT_EQ(writeRecord(nullptr, nullptr, "name"), 8u);
    EXPECT_EQ(stateChunkSize("Reverb", 24), 135u);

    std::uint8_t out[16];
    std::memset(out, 0xAB, sizeof out);
    EXPECT_EQ(writeRecord(out, nullptr, nullptr), 8u);
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 9), (std::vector<std::uint8_t>{0, 0, 0, 0, 8, 0, 0, 0, 0xAB}));
    EXPECT_EQ(recordText(out, 8), nullptr); // no payload

    EXPECT_EQ(writeRecord(out, "abc", "name"), 12u);
    EXPECT_EQ(std::memcmp(out, "name\x0c\0\0\0abc", 12), 0);
    EXPECT_STREQ(recordText(out, 12), "abc");
    EXPECT_EQ(recordText(out, 11), nullptr); // the record runs past what may be read
    out[11] = 'x';
    EXPECT_EQ(recordText(out, 12), nullptr); // no terminating zero
}

} // namespace
} // namespace quor
