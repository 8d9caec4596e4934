#pragma once

#include <cstdint>

namespace quor {

// CRC-32 (the ISO-HDLC variant: reflected 0x04C11DB7, initial all ones, result
// complemented). A negative length means the string length; null text or a
// zero length hash to 0.
std::uint32_t NameHash(const char* text, std::int32_t length = -1);

} // namespace quor
