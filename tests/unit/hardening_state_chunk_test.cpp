// The chunk reader against hostile sizes: chunks far larger than any effect's
// table, and records cut short by any of the three sizes that bound them.
#include "host/state_chunk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

namespace quor {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<float> ramp(std::size_t count) {
    std::vector<float> values(count);
    std::iota(values.begin(), values.end(), 0.0f);
    return values;
}

constexpr std::uint32_t kPars = 8 + 12; // the header and the "name" record of "Big"

// A chunk of "Big" holding 0, 1, 2, ..., whose "pars" record claims far more values than it holds.
Bytes chunkWithValues(std::uint32_t count) {
    Bytes bytes(stateChunkSize("Big", static_cast<std::int32_t>(count)));
    writeStateChunk(bytes.data(), "Big", 0, ramp(count).data(), static_cast<std::int32_t>(count));
    std::memset(&bytes[kPars + 12], 0xFF, 4);
    return bytes;
}

// Parses a copy of exactly the bytes' size, so that the address sanitizer sees any over-read.
std::vector<float> parsedValues(const Bytes& bytes, std::size_t maxValues = 100) {
    const Bytes exact(bytes);
    ParsedState state;
    EXPECT_TRUE(parseStateChunk(exact.data(), exact.size(), state, maxValues) && state.hasPars);
    EXPECT_EQ(state.storedCount, 0xFFFFFFFFu);
    return state.values;
}

// Values are kept up to the caller's limit, to the bytes given, to the chunk's
// size field and to the record's, whatever count the record claims.
TEST(StateChunkLimits, OnlyTheValuesReallyPresentAndAskedForAreRead) {
    const Bytes huge = chunkWithValues(1u << 20);
    EXPECT_EQ(parsedValues(huge, 5), ramp(5));
    EXPECT_EQ(parsedValues(huge, SIZE_MAX).size(), 1u << 20);

    for (std::uint32_t kept = 0; kept <= 8; ++kept)
        for (int cut = 0; cut < 3; ++cut) {
            Bytes bytes = chunkWithValues(8);
            const std::uint32_t end = kPars + 16 + 4 * kept + (kept < 8 ? 3 : 0), parsSize = end - kPars;
            if (cut == 0) bytes.resize(end);                            // the host's byte count
            if (cut == 1) std::memcpy(&bytes[4], &end, 4);              // the chunk's size field
            if (cut == 2) std::memcpy(&bytes[kPars + 4], &parsSize, 4); // the record's size field
            EXPECT_EQ(parsedValues(bytes), ramp(kept)) << kept << " values kept, cut " << cut;
        }
}

} // namespace
} // namespace quor
