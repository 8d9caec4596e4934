#include "host/name_hash.h"

#include <array>
#include <cstring>

namespace quor {

namespace {
constexpr std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t r = i;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 1u) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
        table[i] = r;
    }
    return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = makeCrcTable();
} // namespace

std::uint32_t NameHash(const char* text, std::int32_t length) {
    if (!text || length == 0) return 0;
    const std::size_t n = length < 0 ? std::strlen(text) : static_cast<std::size_t>(length);
    if (n == 0) return 0;
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i)
        crc = kCrcTable[(crc ^ static_cast<unsigned char>(text[i])) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

} // namespace quor
