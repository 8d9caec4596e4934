#include "framework/display.h"

#include <cstdio>

namespace quor {

namespace {

// Prints w with 0, 1 or 2 decimals (w >= 100, >= 10, else) and the unit after a space.
void formatScaled(float w, const char* unit, char* text) {
    // The precision is chosen before printing, so 9.999 prints as 10.00.
    int precision = 2;
    if (w >= 100.0f)
        precision = 0;
    else if (w >= 10.0f)
        precision = 1;
    char format[16];
    std::snprintf(format, sizeof format, "%%0.%if %%s", precision);
    std::sprintf(text, format, static_cast<double>(w), unit);
}

} // namespace

void formatTime(float seconds, char* text) {
    if (!(seconds > 0.0f)) {
        std::sprintf(text, "Off");
        return;
    }
    if (seconds >= 1.0f)
        formatScaled(seconds, "s", text);
    else if (seconds >= 0.001f)
        formatScaled(seconds * 1000.0f, "ms", text);
    else
        formatScaled(seconds * 1000000.0f, "us", text);
}

void formatFrequency(float hertz, char* text) {
    if (hertz < 1000.0f)
        formatScaled(hertz, "Hz", text);
    else if (hertz < 1000000.0f)
        formatScaled(hertz * 0.001f, "kHz", text);
    else if (hertz < 1000000000.0f)
        formatScaled(hertz * 0.000001f, "MHz", text);
    else if (hertz < 1e12f)
        formatScaled(hertz * 1e-9f, "GHz", text);
    else
        formatScaled(hertz * 1e-12f, "THz", text);
}

float integerPower(std::uint32_t n, float x) {
    if (n == 0) return 1.0f;
    if (n & 1u) {
        const std::uint32_t h = (n - 1) / 2;
        return integerPower(h, x) * (integerPower(h, x) * x);
    }
    const std::uint32_t h = n / 2;
    return integerPower(h, x) * integerPower(h, x);
}

} // namespace quor
