#include "framework/effect.h"
#include "framework/numeric.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace quor {
namespace {

const ParamInfo kRows[] = {
    {"Level", 0.0f, 1.0f, 0, 0.25f},
    {"Switch", 0.0f, 1.0f, 1, 1.0f},
    {"Steps", 0.0f, 4.0f, 1, 2.0f},
    {"Trim", -1.0f, 1.0f, 0, 0.0f},
};

// Logs the hooks with the control rate they see, and at each parameterChanged
// whether every value already held its default.
class Recorder final : public HostedEffect {
public:
    explicit Recorder(std::int32_t count = 4) : HostedEffect("Recorder", kRows, count) {}
    void clear() override {}
    void reset() override {}
    void process(AudioBuffers&, bool) override {}
    void sampleRateChanged() override { log.push_back("rate " + std::to_string(truncatedInt(controlRate))); }
    void controlRateChanged() override { log.push_back("control " + std::to_string(truncatedInt(controlRate))); }
    void parameterChanged(std::int32_t index) override {
        for (std::int32_t i = 0; i < paramCount; ++i)
            sawOnlyDefaults &= values[i] == params[i].defaultValue;
        changed.push_back(index);
    }
    std::string display(std::int32_t index, float v) {
        values[index] = v;
        char text[64];
        formatValue(index, text, 64);
        return text;
    }

    std::vector<std::string> log;
    std::vector<std::int32_t> changed;
    bool sawOnlyDefaults = true;
};

using Log = std::vector<std::string>;

TEST(DspBase, TuningConstants) {
    EXPECT_EQ(semitoneRatio, 1.0594631f);
    EXPECT_EQ(semitoneRatio, static_cast<float>(std::pow(2.0, 1.0 / 12.0)));
    Recorder fx;
    EXPECT_EQ(fx.noteZeroHz, 440.0f * powf(semitoneRatio, -69.0f));
    EXPECT_EQ(fx.middleCHz, fx.noteZeroHz * powf(semitoneRatio, 60.0f));
    EXPECT_NEAR(fx.noteZeroHz, 8.1758f, 1e-4f);
    EXPECT_NEAR(fx.middleCHz, 261.625f, 1e-2f);
}

TEST(DspBase, SampleRateAndControlDivisor) {
    Recorder fx;
    fx.setControlDivisor(16); // no rate yet: stored, nothing run
    EXPECT_EQ(fx.controlStep, 0.0625f);
    EXPECT_EQ(fx.controlRate, 0.0f);
    EXPECT_TRUE(fx.log.empty());

    fx.setSampleRate(48000.0f); // the control rate is set between the two hooks
    EXPECT_EQ(fx.log, (Log{"rate 0", "control 3000"}));
    EXPECT_EQ(fx.samplePeriod, 1.0f / 48000.0f);
    EXPECT_EQ(fx.piOverRate, fx.samplePeriod * 3.14159274f);
    EXPECT_EQ(fx.twoPiOverRate, fx.piOverRate + fx.piOverRate);

    fx.log.clear();
    fx.setSampleRate(48000.0f);
    fx.setControlDivisor(16);
    EXPECT_TRUE(fx.log.empty());
    fx.setControlDivisor(32);
    EXPECT_EQ(fx.log, (Log{"control 1500"}));

    // A NaN never equals the stored rate, so it always counts as new.
    fx.setSampleRate(std::numeric_limits<float>::quiet_NaN());
    fx.setSampleRate(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(fx.log.size(), 5u);
}

TEST(Effect, ValuesFillAndDefaults) {
    Recorder fx;
    for (std::int32_t i = 0; i < 4; ++i) {
        std::uint32_t bits;
        std::memcpy(&bits, &fx.values[i], sizeof bits);
        EXPECT_EQ(bits, 0x00800000u); // smallest normal: every default registers as a change
    }
    fx.applyDefaults();
    EXPECT_EQ(fx.changed, (std::vector<std::int32_t>{0, 1, 2, 3}));
    EXPECT_TRUE(fx.sawOnlyDefaults);

    Recorder empty(0);
    EXPECT_EQ(empty.values, nullptr);
    empty.applyDefaults();
    EXPECT_TRUE(empty.changed.empty());
}

TEST(Effect, BaseDisplay) {
    Recorder fx;
    EXPECT_EQ(fx.display(1, 1.0f), "On");
    EXPECT_EQ(fx.display(1, 0.0f), "Off");
    EXPECT_EQ(fx.display(1, 0.7f), "Off"); // the display truncates
    EXPECT_EQ(fx.display(2, 3.7f), "3");
    EXPECT_EQ(fx.display(0, 0.004f), "0%");
    EXPECT_EQ(fx.display(0, 0.999f), "99%");
    EXPECT_EQ(fx.display(0, 1.0f), "100%");
    EXPECT_EQ(fx.display(3, -0.25f), "-25%");
    // Values no integer can hold still print.
    EXPECT_EQ(fx.display(2, std::numeric_limits<float>::quiet_NaN()), "0");
    EXPECT_EQ(fx.display(2, 1e30f), "2147483647");
}

} // namespace
} // namespace quor
