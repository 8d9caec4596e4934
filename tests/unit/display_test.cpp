#include "framework/display.h"

#include <gtest/gtest.h>

#include <string>

namespace quor {
namespace {

std::string time(float t) {
    char text[64];
    formatTime(t, text);
    return text;
}

std::string frequency(float f) {
    char text[64];
    formatFrequency(f, text);
    return text;
}

TEST(Display, TimeLadder) {
    EXPECT_EQ(time(0.0f), "Off");
    EXPECT_EQ(time(-1.0f), "Off");
    EXPECT_EQ(time(0.0005f), "500 us");
    EXPECT_EQ(time(0.25f), "250 ms");
    EXPECT_EQ(time(2.0f), "2.00 s");
}

TEST(Display, FrequencyLadder) {
    EXPECT_EQ(frequency(20.0f), "20.0 Hz");
    EXPECT_EQ(frequency(440.0f), "440 Hz");
    EXPECT_EQ(frequency(4.4f), "4.40 Hz");
    EXPECT_EQ(frequency(999.5f), "1000 Hz");
    EXPECT_EQ(frequency(1000.0f), "1.00 kHz");
    EXPECT_EQ(frequency(25000.0f), "25.0 kHz");
    EXPECT_EQ(frequency(1234567.0f), "1.23 MHz");
    EXPECT_EQ(frequency(9.999f), "10.00 Hz"); // precision chosen before rounding
}

TEST(Display, IntegerPowerGroupsProducts) {
    EXPECT_EQ(integerPower(0, 0.0f), 1.0f);
    EXPECT_EQ(integerPower(0, 123.0f), 1.0f);
    const float x = 1.1f;
    EXPECT_EQ(integerPower(2, x), x * x);
    EXPECT_EQ(integerPower(3, x), x * (x * x));
    EXPECT_EQ(integerPower(4, x), (x * x) * (x * x));
}

} // namespace
} // namespace quor
