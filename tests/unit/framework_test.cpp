// The effect framework: rate hooks, parameter tables, display texts and the
// registry.
#include "framework/display.h"
#include "framework/effect.h"
#include "framework/numeric.h"
#include "framework/registry.h"
#include "host/plugin_instance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace quor {
namespace {

const ParamInfo kRows[] = {
    {"Level", 0.0f, 1.0f, 0, 0.25f},
    {"Switch", 0.0f, 1.0f, 1, 1.0f},
    {"Steps", 0.0f, 4.0f, 1, 2.0f},
    {"Trim", -1.0f, 1.0f, 0, 0.0f},
};

// Logs the rate hooks with the control rate they see, and at each
// parameterChanged whether every value already held its default.
class Recorder final : public HostedEffect {
  public:
    explicit Recorder(std::int32_t count = 4) : HostedEffect("Recorder", kRows, count) {}
    void clear() override {}
    void reset() override {}
    void process(AudioBuffers&, bool) override {}
    void sampleRateChanged() override { log.push_back("rate " + std::to_string(truncatedInt(controlRate))); }
    void controlRateChanged() override {
        log.push_back("control " + std::to_string(truncatedInt(controlRate)));
    }
    void parameterChanged(std::int32_t index) override {
        for (std::int32_t i = 0; i < paramCount; ++i)
            sawOnlyDefaults &= values[i] == params[i].defaultValue;
        changed.push_back(index);
    }

    std::vector<std::string> log;
    std::vector<std::int32_t> changed;
    bool sawOnlyDefaults = true;
};

using Log = std::vector<std::string>;

TEST(DspBase, TuningAndRateHooks) {
    Recorder fx;
    EXPECT_EQ(semitoneRatio, 1.0594631f);
    EXPECT_EQ(fx.noteZeroHz, 0x1.059feep+3f); // 8.1757727: the single-precision ratio's, not 8.1757989
    EXPECT_EQ(fx.middleCHz, 0x1.05a01ep+8f);

    fx.setControlDivisor(16); // no rate yet: stored, no hook
    EXPECT_EQ(fx.controlStep, 0.0625f);
    EXPECT_TRUE(fx.log.empty());
    fx.setSampleRate(48000.0f); // the control rate is set between the two hooks
    EXPECT_EQ(fx.log, (Log{"rate 0", "control 3000"}));
    EXPECT_EQ(fx.samplePeriod, 1.0f / 48000.0f);

    fx.setSampleRate(48000.0f); // unchanged values run no hook
    fx.setControlDivisor(16);
    fx.setControlDivisor(32);
    EXPECT_EQ(fx.log, (Log{"rate 0", "control 3000", "control 1500"}));
}

TEST(Effect, DefaultsAndBaseDisplay) {
    Recorder fx;
    fx.applyDefaults();
    EXPECT_EQ(fx.changed, (std::vector<std::int32_t>{0, 1, 2, 3}));
    EXPECT_TRUE(fx.sawOnlyDefaults);
    Recorder empty(0);
    empty.applyDefaults();
    EXPECT_TRUE(empty.changed.empty());

    // Discrete rows truncate; continuous rows print a floored percentage.
    const std::tuple<std::int32_t, float, const char*> cases[] = {
        {1, 1.0f, "On"},   {1, 0.0f, "Off"},   {1, 0.7f, "Off"},  {2, 3.7f, "3"},
        {0, 0.004f, "0%"}, {0, 0.999f, "99%"}, {0, 1.0f, "100%"}, {3, -0.25f, "-25%"}};
    for (const auto& [index, value, expected] : cases) {
        fx.values[index] = value;
        char text[64];
        fx.formatValue(index, text, 64);
        EXPECT_STREQ(text, expected) << index << " " << value;
    }
}

TEST(Display, LaddersAndIntegerPower) {
    const std::pair<float, const char*> times[] = {
        {0.0f, "Off"}, {-1.0f, "Off"}, {0.0005f, "500 us"}, {0.25f, "250 ms"}, {2.0f, "2.00 s"}};
    // 9.999 shows that the precision is chosen before rounding.
    const std::pair<float, const char*> frequencies[] = {
        {4.4f, "4.40 Hz"},     {20.0f, "20.0 Hz"},     {440.0f, "440 Hz"},       {999.5f, "1000 Hz"},
        {1000.0f, "1.00 kHz"}, {25000.0f, "25.0 kHz"}, {1234567.0f, "1.23 MHz"}, {9.999f, "10.00 Hz"}};
    char text[64];
    for (const auto& [value, expected] : times) {
        formatTime(value, text);
        EXPECT_STREQ(text, expected) << value;
    }
    for (const auto& [value, expected] : frequencies) {
        formatFrequency(value, text);
        EXPECT_STREQ(text, expected) << value;
    }
    EXPECT_EQ(integerPower(0, 0.0f), 1.0f);
    const float x = 1.1f; // the grouping of the products shows in the last bit
    EXPECT_EQ(integerPower(3, x), x * (x * x));
    EXPECT_EQ(integerPower(4, x), (x * x) * (x * x));
}

// What the create functions return: a distinct sentinel each, never an effect.
HostedEffect* const kOne = reinterpret_cast<HostedEffect*>(1);
HostedEffect* const kTwo = reinterpret_cast<HostedEffect*>(2);
HostedEffect* const kThree = reinterpret_cast<HostedEffect*>(3);

TEST(Registry, LookupRules) {
    EffectRegistry registry;
    EXPECT_EQ(registry.findAndCreate(LookupKey{0, "Alpha"}), nullptr);
    EXPECT_EQ(registry.last(), nullptr);
    registry.registerEffect("Alpha", [] { return kOne; });
    registry.registerEffect("", [] { return kTwo; });
    registry.registerEffect("alpha", [] { return kTwo; });
    registry.registerEffect(nullptr, [] { return kThree; }); // matches only a null key
    EXPECT_EQ(registry.last()->create(), kThree);
    // The first match wins; a name matches whole, never as a prefix.
    const std::tuple<const char*, std::int64_t, HostedEffect*> cases[] = {
        {"alpha", 1, kTwo},     {"ALPHA", 1, nullptr}, {"ALPHA", 0, kOne},   {"Alph", 0, nullptr},
        {"Alphas", 0, nullptr}, {"", 1, kTwo},         {nullptr, 1, kThree}, {"Beta", 0, nullptr}};
    for (const auto& [name, caseSensitive, created] : cases)
        EXPECT_EQ(registry.findAndCreate(LookupKey{caseSensitive, name}), created)
            << (name ? name : "null") << " " << caseSensitive;
}

// The suite registers its fifteen effects in a fixed order; the last is the
// fall-back of an instance configured without a name.
TEST(Registry, SuiteOrderAndFallBack) {
    const std::vector<std::string> order = {
        "Limiter", "RC Filter", "Tremolo", "Phaser",   "mDelay", "Rectifier",  "Ringmod",   "Quantizer",
        "Clipper", "Reverb",    "Gate",    "Follower", "Vocal",  "Compressor", "Multiplier"};
    std::vector<std::string> registered;
    for (const EffectFactory* node = EffectRegistry::suite().first(); node; node = node->next) {
        ASSERT_NE(node->name, nullptr);
        registered.emplace_back(node->name);
        std::unique_ptr<HostedEffect> effect(node->create());
        ASSERT_NE(effect, nullptr);
        EXPECT_EQ(effect->name, registered.back());
    }
    EXPECT_EQ(registered, order);
    PluginInstance unnamed(
        [](AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) -> VstIntPtr { return 0; }, nullptr,
        EffectRegistry::suite());
    ASSERT_TRUE(unnamed.hasEffect());
    EXPECT_STREQ(unnamed.wrappedEffect()->name, "Multiplier");
}

} // namespace
} // namespace quor
