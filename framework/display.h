// Display texts shared by the effects: engineering-unit ladders for times and
// frequencies, and the small integer-power helper used by mappings and texts.
#pragma once

#include <cstdint>

namespace quor {

// Time in seconds: "Off" for t <= 0 (and NaN), else s / ms / us with 0-2 decimals.
void formatTime(float seconds, char* text);
// Frequency in Hz, from Hz up to THz, with 0-2 decimals.
void formatFrequency(float hertz, char* text);
// x^n by repeated squaring with a fixed grouping of the products.
float integerPower(std::uint32_t n, float x);

} // namespace quor
