// The effect framework (rate hooks, parameter tables, display texts, the
// registry) and the host adapter around a probe effect.
#include "framework/display.h"
#include "framework/numeric.h"
#include "framework/registry.h"
#include "host/name_hash.h"
#include "host/plugin_instance.h"
#include "host/state_chunk.h"

#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace quor {
namespace {

using Calls = std::vector<std::int32_t>;
using Log = std::vector<std::string>;

const ParamInfo kRows[] = {{"Gain", 0.0f, 1.0f, 0, 0.5f},
                           {"Mode", 0.0f, 4.0f, 1, 1.0f},
                           {"Switch", 0.0f, 1.0f, 1, 0.0f},
                           {"Trim", -1.0f, 1.0f, 0, 0.0f}};

// Doubles its input and records what is done to it: the rate hooks with the
// control rate they see, parameter changes (and whether every value held its
// default at the first), resets, conversions and the flush-to-zero mode.
class Probe final : public HostedEffect {
  public:
    explicit Probe(std::int32_t count = 4) : HostedEffect("Probe", kRows, count) {}
    void clear() override {}
    void reset() override { ++resets; }
    void sampleRateChanged() override { log.push_back("rate " + std::to_string(truncatedInt(controlRate))); }
    void controlRateChanged() override {
        log.push_back("control " + std::to_string(truncatedInt(controlRate)));
    }
    void parameterChanged(std::int32_t index) override {
        for (std::int32_t i = 0; i < paramCount && changed.empty(); ++i)
            startedAtDefaults &= values[i] == params[i].defaultValue;
        changed.push_back(index);
    }
    void convertChunk(const std::uint8_t*) override { ++conversions; }
    void process(AudioBuffers& buffers, bool) override {
        flushToZero = (_mm_getcsr() & 0x8000u) != 0;
        for (int c = 0; c < 2; ++c)
            for (std::int32_t k = 0; k < buffers.frames; ++k)
                buffers.outputs[c][k] = 2.0f * buffers.inputs[c][k];
    }

    Log log;
    Calls changed;
    bool startedAtDefaults = true, flushToZero = false;
    int resets = 0;
    static inline int conversions = 0; // the adapter may ask either of its copies
};

TEST(DspBase, TuningAndRateHooks) {
    Probe fx;
    EXPECT_EQ(semitoneRatio, 1.0594631f);
    EXPECT_EQ(fx.noteZeroHz, 0x1.059feep+3f); // 8.1757727: the single-precision ratio's, not 8.1757989
    EXPECT_EQ(fx.middleCHz, 0x1.05a01ep+8f);
    fx.setControlDivisor(16); // no rate yet: stored, no hook
    EXPECT_EQ(fx.controlStep, 0.0625f);
    EXPECT_TRUE(fx.log.empty());
    fx.setSampleRate(48000.0f); // the control rate is set between the two hooks
    EXPECT_EQ(fx.samplePeriod, 1.0f / 48000.0f);
    fx.setSampleRate(48000.0f); // unchanged values run no hook
    fx.setControlDivisor(16);
    fx.setControlDivisor(32);
    EXPECT_EQ(fx.log, (Log{"rate 0", "control 3000", "control 1500"}));
}

TEST(Display, ValuesLaddersAndIntegerPower) {
    Probe fx, empty(0);
    empty.applyDefaults();
    EXPECT_TRUE(empty.changed.empty());
    // Discrete rows truncate; continuous rows print a floored percentage.
    const std::tuple<std::int32_t, float, const char*> rows[] = {
        {2, 1.0f, "On"},   {2, 0.0f, "Off"},   {2, 0.7f, "Off"},  {1, 3.7f, "3"},
        {0, 0.004f, "0%"}, {0, 0.999f, "99%"}, {0, 1.0f, "100%"}, {3, -0.25f, "-25%"}};
    char text[64];
    for (const auto& [index, value, expected] : rows) {
        fx.values[index] = value;
        fx.formatValue(index, text, 64);
        EXPECT_STREQ(text, expected) << index << " " << value;
    }
    // Times ('t') and frequencies at each step; 9.999: the precision is chosen before rounding.
    const std::tuple<char, float, const char*> ladders[] = {
        {'t', 0.0f, "Off"},         {'t', -1.0f, "Off"},         {'t', 0.0005f, "500 us"},
        {'t', 0.25f, "250 ms"},     {'t', 2.0f, "2.00 s"},       {'f', 4.4f, "4.40 Hz"},
        {'f', 10.0f, "10.0 Hz"},    {'f', 100.0f, "100 Hz"},     {'f', 999.5f, "1000 Hz"},
        {'f', 1000.0f, "1.00 kHz"}, {'f', 25000.0f, "25.0 kHz"}, {'f', 1234567.0f, "1.23 MHz"},
        {'f', 9.999f, "10.00 Hz"}};
    for (const auto& [kind, value, expected] : ladders) {
        (kind == 't' ? formatTime : formatFrequency)(value, text);
        EXPECT_STREQ(text, expected) << value;
    }
    EXPECT_EQ(integerPower(0, 0.0f), 1.0f);
    const float x = 1.1f; // the grouping of the products shows in the last bit
    EXPECT_EQ(integerPower(3, x), x * (x * x));
    EXPECT_EQ(integerPower(4, x), (x * x) * (x * x));
}

int ioChangedCalls = 0;
std::vector<std::pair<VstInt32, float>> automated;
VstIntPtr countingHost(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr, void*, float opt) {
    if (opcode == audioMasterIOChanged) ++ioChangedCalls;
    if (opcode == audioMasterAutomate) automated.emplace_back(index, opt);
    return 0;
}

// What the create functions return: a distinct sentinel each, never an effect.
HostedEffect* sentinel(std::intptr_t n) {
    return reinterpret_cast<HostedEffect*>(n);
}

TEST(Registry, LookupRulesAndTheSuite) {
    EffectRegistry registry;
    EXPECT_EQ(registry.findAndCreate(LookupKey{0, "Alpha"}), nullptr);
    EXPECT_EQ(registry.last(), nullptr);
    registry.registerEffect("Alpha", [] { return sentinel(1); });
    registry.registerEffect("", [] { return sentinel(2); });
    registry.registerEffect("alpha", [] { return sentinel(2); });
    registry.registerEffect(nullptr, [] { return sentinel(3); }); // matches only a null key
    EXPECT_EQ(registry.last()->create(), sentinel(3));
    // The first match wins; a name matches whole, never as a prefix.
    const std::tuple<const char*, std::int64_t, std::intptr_t> cases[] = {
        {"alpha", 1, 2},  {"ALPHA", 1, 0}, {"ALPHA", 0, 1}, {"Alph", 0, 0},
        {"Alphas", 0, 0}, {"", 1, 2},      {nullptr, 1, 3}, {"Beta", 0, 0}};
    for (const auto& [name, caseSensitive, created] : cases)
        EXPECT_EQ(registry.findAndCreate(LookupKey{caseSensitive, name}), sentinel(created))
            << (name ? name : "null") << " " << caseSensitive;

    // The suite's fixed order; the last is the fall-back of an instance configured without a name.
    std::vector<std::string> registered;
    for (const EffectFactory* node = EffectRegistry::suite().first(); node; node = node->next) {
        registered.emplace_back(node->name);
        const std::unique_ptr<HostedEffect> effect(node->create());
        ASSERT_NE(effect, nullptr);
        EXPECT_EQ(effect->name, registered.back());
    }
    EXPECT_EQ(registered,
              (std::vector<std::string>{"Limiter", "RC Filter", "Tremolo", "Phaser", "mDelay", "Rectifier",
                                        "Ringmod", "Quantizer", "Clipper", "Reverb", "Gate", "Follower",
                                        "Vocal", "Compressor", "Multiplier"}));
    PluginInstance unnamed(countingHost, nullptr, EffectRegistry::suite());
    ASSERT_TRUE(unnamed.hasEffect());
    EXPECT_STREQ(unnamed.wrappedEffect()->name, "Multiplier");
}

TEST(NameHash, IsTheStandardCrc32) {
    EXPECT_EQ(NameHash("123456789"), 0xCBF43926u);
    EXPECT_EQ(NameHash("123456789xyz", 9), 0xCBF43926u);
    EXPECT_EQ(NameHash(nullptr) | NameHash("") | NameHash("quor", 0), 0u); // each hashes to 0
}

// "probe" creates nothing, so a lookup that ignored case would come back empty.
const EffectRegistry& probes() {
    static EffectRegistry registry;
    if (!registry.first()) {
        registry.registerEffect("probe", [] { return static_cast<HostedEffect*>(nullptr); });
        registry.registerEffect("Probe", [] { return static_cast<HostedEffect*>(new Probe); });
    }
    return registry;
}

// One instance, reached only through its AEffect record, closed as a host closes it.
struct Hosted {
    explicit Hosted(const char* name = "Probe", const EffectRegistry& registry = probes())
        : instance(new PluginInstance(countingHost, name, registry)), fx(instance->effectRecord()) {
        ioChangedCalls = 0;
        automated.clear();
    }
    ~Hosted() { dispatch(effClose); }

    VstIntPtr dispatch(VstInt32 opcode, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f) {
        return fx->dispatcher(fx, opcode, 0, value, ptr, opt);
    }
    Probe& probe() { return dynamic_cast<Probe&>(*instance->wrappedEffect()); }
    // The parameterChanged calls a restore of these values makes (they run at the next block).
    Calls restore(std::vector<float> values, std::uint32_t version = 0) {
        const auto count = static_cast<std::int32_t>(values.size());
        std::vector<std::uint8_t> bytes(stateChunkSize("Probe", count));
        writeStateChunk(bytes.data(), "Probe", version, values.data(), count);
        probe().changed.clear();
        EXPECT_EQ(dispatch(effSetChunk, static_cast<VstIntPtr>(bytes.size()), bytes.data()), 0);
        block();
        return probe().changed;
    }
    // One block of 1, 2, 3, 4 on both channels; returns the left output.
    std::vector<float> block() {
        std::vector<float> in{1, 2, 3, 4}, out[2] = {std::vector<float>(4), std::vector<float>(4)};
        float* inputs[2] = {in.data(), in.data()};
        float* outputs[2] = {out[0].data(), out[1].data()};
        fx->processReplacing(fx, inputs, outputs, 4);
        return out[0];
    }
    void setParameter(VstInt32 index, float value) { fx->setParameter(fx, index, value); }
    float getParameter(VstInt32 index) { return fx->getParameter(fx, index); }

    PluginInstance* instance;
    AEffect* fx;
};

TEST(Instance, SetAndGetParameter) {
    Hosted host;
    Probe& probe = host.probe();
    EXPECT_EQ(probe.changed, (Calls{0, 1, 2, 3})); // the defaults, once each
    EXPECT_TRUE(probe.startedAtDefaults);
    EXPECT_EQ(host.getParameter(3), 0.5f);
    probe.changed.clear();

    // Values read back at once; the effect applies them, in order, at the next block.
    host.setParameter(0, 0.5f); // already the value: no call
    host.setParameter(3, 0.25f);
    host.setParameter(1, 0.3f);
    EXPECT_EQ(host.getParameter(1), 0.3f);
    EXPECT_EQ(host.getParameter(3), 0.25f);
    EXPECT_EQ(probe.changed, Calls{});
    host.block();
    EXPECT_EQ(probe.values[1], 4.0f * 0.3f); // discrete, yet not rounded
    EXPECT_EQ(probe.values[3], -0.5f);
    EXPECT_EQ(probe.changed, (Calls{3, 1}));

    // A change the effect makes itself is stored as the host's would be, then announced.
    probe.changed.clear();
    probe.hostLink->setParameterAutomated(2, 1.0f);
    host.block();
    EXPECT_EQ(probe.values[2], 1.0f);
    EXPECT_EQ(probe.changed, Calls{2});
    EXPECT_EQ(automated, (std::vector<std::pair<VstInt32, float>>{{2, 1.0f}}));
}

TEST(Instance, ChunkRestoreCallsOnlyForChangedValues) {
    Hosted host;
    Probe::conversions = 0;
    // Another version, or another count: what fits is applied, then converted.
    const std::tuple<std::vector<float>, std::uint32_t, Calls, int> restores[] = {
        {{0.5f, 1.0f, 0.0f, 0.0f}, 0, {}, 0}, // the defaults again
        {{0.5f, 3.0f, 1.0f, 0.0f}, 0, {1, 2}, 0},
        {{0.5f, 1.0f, 0.0f, 0.0f}, 1, {1, 2}, 1},
        {{0.25f, 1.0f}, 0, {0}, 2},
        {{0.5f, 1.0f, 0.0f, 0.0f, 7.0f}, 0, {0}, 3}};
    for (const auto& [values, version, calls, conversions] : restores) {
        EXPECT_EQ(host.restore(values, version), calls) << values.size() << " values, version " << version;
        EXPECT_EQ(Probe::conversions, conversions);
        EXPECT_EQ(host.getParameter(1), values[1] / 4.0f); // restored values are published
    }
}

TEST(Instance, ResetsLatencyAndFlushToZero) {
    Hosted host;
    Probe& probe = host.probe();
    host.dispatch(effSetSampleRate, 0, nullptr, 44100.0f);
    EXPECT_EQ(probe.resets, 1); // at once, with the new rate
    host.dispatch(effSetSampleRate, 0, nullptr, 44100.0f);
    host.dispatch(effMainsChanged, 1);
    EXPECT_EQ(probe.resets, 1);
    for (int pending = 2; pending <= 3; ++pending) {
        host.block();
        host.block();
        EXPECT_EQ(probe.resets, pending); // the pending reset of a new instance or a resume, once
        host.dispatch(effMainsChanged, 0);
        host.dispatch(effMainsChanged, 1);
        EXPECT_EQ(probe.resets, pending); // suspending only schedules it
    }

    // The host hears of a latency once per change: from a block or from a suspend.
    probe.latency = 64;
    host.block();
    host.block();
    EXPECT_EQ(host.fx->initialDelay, 64);
    EXPECT_EQ(ioChangedCalls, 1);
    probe.latency = 32;
    host.dispatch(effMainsChanged, 0);
    EXPECT_EQ(host.fx->initialDelay, 32);
    EXPECT_EQ(ioChangedCalls, 2);
    host.dispatch(effMainsChanged, 1);
    host.block();
    EXPECT_EQ(ioChangedCalls, 2);

    // Flush-to-zero holds for the block only; the caller's bit comes back.
    const unsigned saved = _mm_getcsr();
    for (unsigned callerBit : {0u, 0x8000u}) {
        _mm_setcsr((saved & ~0x8000u) | callerBit);
        EXPECT_EQ(host.block(), (std::vector<float>{2, 4, 6, 8}));
        EXPECT_TRUE(probe.flushToZero);
        EXPECT_EQ(_mm_getcsr() & 0x8000u, callerBit);
    }
    _mm_setcsr(saved);
}

// An unknown name, one whose factory creates nothing, or none in an empty
// registry leaves an instance without parameters.
TEST(Instance, EffectLookup) {
    const EffectRegistry empty;
    const char* const names[] = {"Unknown", "probe", nullptr};
    for (int i = 0; i < 3; ++i) {
        Hosted host(names[i], i < 2 ? probes() : empty);
        EXPECT_FALSE(host.instance->hasEffect()) << i;
        EXPECT_EQ(host.fx->numParams, 0);
    }
}

} // namespace
} // namespace quor
