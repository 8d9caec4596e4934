#include "host/name_hash.h"
#include "host/state_chunk.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace quor {
namespace {

using Bytes = std::vector<std::uint8_t>;

void appendU32(Bytes& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}
void appendFloat(Bytes& out, float v) {
    std::uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    appendU32(out, b);
}
void appendTag(Bytes& out, const char* tag) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(tag[i]));
}

Bytes nameRecord(const std::string& name) {
    Bytes r;
    appendTag(r, "name");
    appendU32(r, static_cast<std::uint32_t>(8 + name.size() + 1));
    r.insert(r.end(), name.begin(), name.end());
    r.push_back(0);
    return r;
}
Bytes parsRecord(std::uint32_t version, const std::vector<float>& values) {
    Bytes r;
    appendTag(r, "pars");
    appendU32(r, static_cast<std::uint32_t>(16 + 4 * values.size()));
    appendU32(r, version);
    appendU32(r, static_cast<std::uint32_t>(values.size()));
    for (float v : values)
        appendFloat(r, v);
    return r;
}
Bytes container(const std::vector<Bytes>& records) {
    Bytes c;
    appendTag(c, "qfxs");
    std::uint32_t total = 8;
    for (const Bytes& r : records)
        total += static_cast<std::uint32_t>(r.size());
    appendU32(c, total);
    for (const Bytes& r : records)
        c.insert(c.end(), r.begin(), r.end());
    return c;
}

TEST(NameHash, IsTheStandardCrc32) {
    EXPECT_EQ(NameHash("123456789"), 0xCBF43926u);
    EXPECT_EQ(NameHash("123456789xyz", 9), 0xCBF43926u);
    EXPECT_EQ(NameHash(nullptr), 0u);
    EXPECT_EQ(NameHash(""), 0u);
    EXPECT_EQ(NameHash("quor", 0), 0u);
}

TEST(StateChunk, WriteRecordAndRecordText) {
    EXPECT_EQ(writeRecord(nullptr, "Reverb", "name"), 15u);
    EXPECT_EQ(writeRecord(nullptr, nullptr, "name"), 8u);

    std::uint8_t out[16];
    std::memset(out, 0xAB, sizeof out);
    EXPECT_EQ(writeRecord(out, nullptr, nullptr), 8u);
    EXPECT_EQ(Bytes(out, out + 9), (Bytes{0, 0, 0, 0, 8, 0, 0, 0, 0xAB}));
    EXPECT_EQ(recordText(out, 8), nullptr); // no payload

    EXPECT_EQ(writeRecord(out, "abc", "name"), 12u);
    EXPECT_STREQ(recordText(out, 12), "abc");
    EXPECT_EQ(recordText(out, 11), nullptr); // the record runs past what may be read
    out[11] = 'x';
    EXPECT_EQ(recordText(out, 12), nullptr); // no terminating zero
}

TEST(StateChunk, ByteLayout) {
    std::vector<float> values(24);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = 0.25f * static_cast<float>(i) - 1.0f;
    ASSERT_EQ(stateChunkSize("Reverb", 24), 135u);
    Bytes written(135);
    writeStateChunk(written.data(), "Reverb", 0, values.data(), 24);
    EXPECT_EQ(written, container({nameRecord("Reverb"), parsRecord(0, values)}));
}

TEST(StateChunk, ReadsRecordsInEitherOrder) {
    const std::vector<float> values = {0.5f, -2.0f, 3.0f};
    for (const Bytes& chunk : {container({nameRecord("Other"), parsRecord(7, values)}),
                               container({parsRecord(7, values), nameRecord("Other")})}) {
        ParsedState state;
        ASSERT_TRUE(parseStateChunk(chunk.data(), chunk.size(), state));
        EXPECT_TRUE(state.hasPars);
        EXPECT_EQ(state.version, 7u);
        EXPECT_EQ(state.storedCount, 3u);
        EXPECT_EQ(state.values, values);
    }
}

TEST(StateChunk, NeverReadsPastTheBytesItHas) {
    const Bytes good = container({nameRecord("Tremolo"), parsRecord(0, {1.0f, 2.0f, 3.0f})});
    ParsedState state;

    EXPECT_FALSE(parseStateChunk(nullptr, 10, state));
    Bytes wrongTag = good;
    wrongTag[0] = 'Q';
    EXPECT_FALSE(parseStateChunk(wrongTag.data(), wrongTag.size(), state));

    // No "pars": a chunk, but nothing to apply.
    const Bytes nameOnly = container({nameRecord("Tremolo")});
    ASSERT_TRUE(parseStateChunk(nameOnly.data(), nameOnly.size(), state));
    EXPECT_FALSE(state.hasPars);

    // A zero record size ends the scan before "pars" is reached.
    Bytes zeroSized = good;
    std::memset(zeroSized.data() + 12, 0, 4);
    ASSERT_TRUE(parseStateChunk(zeroSized.data(), zeroSized.size(), state));
    EXPECT_FALSE(state.hasPars);

    // The host hands fewer bytes than the chunk claims: only whole values
    // inside them are read, the count field is reported as stored.
    ASSERT_TRUE(parseStateChunk(good.data(), good.size() - 5, state));
    EXPECT_TRUE(state.hasPars);
    EXPECT_EQ(state.storedCount, 3u);
    EXPECT_EQ(state.values, (std::vector<float>{1.0f}));

    // A count larger than the record holds is not believed either.
    Bytes overclaim = good;
    overclaim[good.size() - 12 - 4] = 200;
    ASSERT_TRUE(parseStateChunk(overclaim.data(), overclaim.size(), state));
    EXPECT_EQ(state.storedCount, 200u);
    EXPECT_EQ(state.values.size(), 3u);

    // The container's own size field bounds the scan too.
    Bytes shortHeader = good;
    shortHeader[4] = 8 + 16;
    ASSERT_TRUE(parseStateChunk(shortHeader.data(), shortHeader.size(), state));
    EXPECT_FALSE(state.hasPars);
}

} // namespace
} // namespace quor
