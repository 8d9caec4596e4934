#include "host/state_chunk.h"

#include <algorithm>
#include <cstring>

namespace quor {

namespace {

void putU32(std::uint8_t* out, std::uint32_t v) {
    out[0] = static_cast<std::uint8_t>(v);
    out[1] = static_cast<std::uint8_t>(v >> 8);
    out[2] = static_cast<std::uint8_t>(v >> 16);
    out[3] = static_cast<std::uint8_t>(v >> 24);
}

std::uint32_t getU32(const std::uint8_t* in) {
    return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
           static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

void putFloat(std::uint8_t* out, float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    putU32(out, bits);
}

float getFloat(const std::uint8_t* in) {
    const std::uint32_t bits = getU32(in);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// Finds the record with `tag` among the records in [8, end). Returns its
// offset and how many of its bytes lie inside the chunk, or false.
bool findRecord(const std::uint8_t* data, std::size_t end, const char* tag, std::size_t& offset,
                std::size_t& bytes) {
    std::size_t pos = kRecordHeaderBytes;
    while (pos + kRecordHeaderBytes <= end) {
        const std::uint32_t recordSize = getU32(data + pos + 4);
        if (std::memcmp(data + pos, tag, 4) == 0) {
            offset = pos;
            bytes = std::min<std::size_t>(recordSize, end - pos);
            return true;
        }
        if (recordSize == 0) return false;
        pos += recordSize;
    }
    return false;
}

} // namespace

std::uint32_t writeRecord(std::uint8_t* out, const char* text, const char* tag) {
    const std::uint32_t payload = text ? static_cast<std::uint32_t>(std::strlen(text)) + 1 : 0;
    const std::uint32_t size = kRecordHeaderBytes + payload;
    if (!out) return size;
    if (tag)
        std::memcpy(out, tag, 4);
    else
        std::memset(out, 0, 4);
    putU32(out + 4, size);
    if (payload) std::memcpy(out + kRecordHeaderBytes, text, payload);
    return size;
}

const char* recordText(const std::uint8_t* record, std::size_t available) {
    if (!record || available < kRecordHeaderBytes) return nullptr;
    const std::uint32_t size = getU32(record + 4);
    if (size <= kRecordHeaderBytes || size > available || record[size - 1] != 0) return nullptr;
    return reinterpret_cast<const char*>(record + kRecordHeaderBytes);
}

std::uint32_t stateChunkSize(const char* effectName, std::int32_t paramCount) {
    const std::uint32_t count = paramCount > 0 ? static_cast<std::uint32_t>(paramCount) : 0;
    return kRecordHeaderBytes + writeRecord(nullptr, effectName, "name") + kParsHeaderBytes + 4 * count;
}

void writeStateChunk(std::uint8_t* out, const char* effectName, std::uint32_t version, const float* values,
                     std::int32_t paramCount) {
    const std::uint32_t count = paramCount > 0 ? static_cast<std::uint32_t>(paramCount) : 0;
    std::memcpy(out, "qfxs", 4);
    putU32(out + 4, stateChunkSize(effectName, paramCount));
    std::uint8_t* pars = out + kRecordHeaderBytes + writeRecord(out + kRecordHeaderBytes, effectName, "name");
    std::memcpy(pars, "pars", 4);
    putU32(pars + 4, kParsHeaderBytes + 4 * count);
    putU32(pars + 8, version);
    putU32(pars + 12, count);
    for (std::uint32_t i = 0; i < count; ++i)
        putFloat(pars + kParsHeaderBytes + 4 * i, values[i]);
}

bool parseStateChunk(const std::uint8_t* data, std::size_t size, ParsedState& out, std::size_t maxValues) {
    out = ParsedState{};
    if (!data || size < kRecordHeaderBytes || std::memcmp(data, "qfxs", 4) != 0) return false;
    const std::size_t end = std::min<std::size_t>(size, getU32(data + 4));

    std::size_t offset = 0;
    std::size_t bytes = 0;
    // The name is checked but not used: a chunk saved by another effect
    // applies like one of this effect.
    if (findRecord(data, end, "name", offset, bytes)) (void)recordText(data + offset, bytes);

    if (!findRecord(data, end, "pars", offset, bytes) || bytes < kParsHeaderBytes) return true;
    const std::uint8_t* pars = data + offset;
    out.hasPars = true;
    out.parsRecord = pars;
    out.version = getU32(pars + 8);
    out.storedCount = getU32(pars + 12);
    const std::size_t present =
        std::min({static_cast<std::size_t>(out.storedCount), (bytes - kParsHeaderBytes) / 4, maxValues});
    out.values.resize(present);
    for (std::size_t i = 0; i < present; ++i)
        out.values[i] = getFloat(pars + kParsHeaderBytes + 4 * i);
    return true;
}

} // namespace quor
