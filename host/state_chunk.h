// The saved state: a "qfxs" container holding a "name" record with the effect
// name and a "pars" record with every value in natural units. Little-endian,
// unaligned, no padding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quor {

constexpr std::uint32_t kRecordHeaderBytes = 8;
constexpr std::uint32_t kParsHeaderBytes = 16;

// Writes one record (tag, size, text with its zero) and returns its size; with
// a null `out` only the size is returned. Null text: empty payload; null tag:
// four zero bytes.
std::uint32_t writeRecord(std::uint8_t* out, const char* text, const char* tag);
// The text of a record whose size exceeds 8 and whose last byte is zero, else
// null. `available` bounds what may be read.
const char* recordText(const std::uint8_t* record, std::size_t available);

std::uint32_t stateChunkSize(const char* effectName, std::int32_t paramCount);
// Writes a whole chunk of stateChunkSize bytes.
void writeStateChunk(std::uint8_t* out, const char* effectName, std::uint32_t version, const float* values,
                     std::int32_t paramCount);

struct ParsedState {
    bool hasPars = false;
    std::uint32_t version = 0;
    std::uint32_t storedCount = 0; // the count field, whatever it claims
    std::vector<float> values;     // the values really present in the bytes, at most maxValues
    const std::uint8_t* parsRecord = nullptr;
};

// Reads what a chunk really holds. Never reads past `size`, the chunk's own
// size field or a record's size, and keeps at most `maxValues` values, so a
// huge chunk costs no more memory than the parameters it can set. Returns
// false when the bytes are no chunk.
bool parseStateChunk(const std::uint8_t* data, std::size_t size, ParsedState& out,
                     std::size_t maxValues = SIZE_MAX);

} // namespace quor
