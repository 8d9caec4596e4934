// The host adapter around a probe effect: parameter mapping, the saved state,
// resets, latency reports and the floating-point mode; and the name hash
// behind the unique ID.
#include "framework/effect.h"
#include "framework/registry.h"
#include "host/name_hash.h"
#include "host/plugin_instance.h"
#include "host/state_chunk.h"

#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cstdint>
#include <vector>

namespace quor {
namespace {

using Calls = std::vector<std::int32_t>;

TEST(NameHash, IsTheStandardCrc32) {
    EXPECT_EQ(NameHash("123456789"), 0xCBF43926u);
    EXPECT_EQ(NameHash("123456789xyz", 9), 0xCBF43926u);
    EXPECT_EQ(NameHash(nullptr), 0u);
    EXPECT_EQ(NameHash(""), 0u);
    EXPECT_EQ(NameHash("quor", 0), 0u);
}

const ParamInfo kProbeRows[] = {
    {"Gain", 0.0f, 1.0f, 0, 0.5f},
    {"Mode", 0.0f, 4.0f, 1, 1.0f},
    {"Switch", 0.0f, 1.0f, 1, 0.0f},
    {"Trim", -1.0f, 1.0f, 0, 0.0f},
};

// Doubles its input and records what the adapter does to it.
class Probe final : public HostedEffect {
  public:
    Probe() : HostedEffect("Probe", kProbeRows, 4) {}
    void clear() override {}
    void reset() override { ++resets; }
    void parameterChanged(std::int32_t index) override { changed.push_back(index); }
    void convertChunk(const std::uint8_t*) override { ++conversions; }
    void process(AudioBuffers& buffers, bool) override {
        flushToZero = (_mm_getcsr() & 0x8000u) != 0;
        for (int c = 0; c < 2; ++c)
            for (std::int32_t k = 0; k < buffers.frames; ++k)
                buffers.outputs[c][k] = 2.0f * buffers.inputs[c][k];
    }

    Calls changed;
    int resets = 0;
    static inline int conversions = 0; // the adapter may ask either of its copies
    bool flushToZero = false;
};

int ioChangedCalls = 0;
std::vector<std::pair<VstInt32, float>> automated;
VstIntPtr countingHost(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr, void*, float opt) {
    if (opcode == audioMasterIOChanged) ++ioChangedCalls;
    if (opcode == audioMasterAutomate) automated.emplace_back(index, opt);
    return 0;
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
    EXPECT_EQ(host.restore({0.5f, 1.0f, 0.0f, 0.0f}), Calls{}); // the defaults again
    EXPECT_EQ(host.restore({0.5f, 3.0f, 1.0f, 0.0f}), (Calls{1, 2}));
    EXPECT_EQ(host.getParameter(1), 0.75f); // restored values are published
    EXPECT_EQ(Probe::conversions, 0);

    // Another version, or another count: what fits is applied, then converted.
    EXPECT_EQ(host.restore({0.5f, 1.0f, 0.0f, 0.0f}, 1), (Calls{1, 2}));
    EXPECT_EQ(Probe::conversions, 1);
    EXPECT_EQ(host.restore({0.25f, 1.0f}), Calls{0});
    EXPECT_EQ(host.restore({0.5f, 1.0f, 0.0f, 0.0f, 7.0f}), Calls{0});
    EXPECT_EQ(Probe::conversions, 3);
}

TEST(Instance, ResetsAndLatency) {
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
}

// Flush-to-zero holds for the block only; the caller's bit comes back.
TEST(Instance, FlushToZeroForTheBlockOnly) {
    Hosted host;
    host.dispatch(effSetSampleRate, 0, nullptr, 48000.0f);
    const unsigned saved = _mm_getcsr();
    for (unsigned callerBit : {0u, 0x8000u}) {
        _mm_setcsr((saved & ~0x8000u) | callerBit);
        EXPECT_EQ(host.block(), (std::vector<float>{2, 4, 6, 8}));
        EXPECT_TRUE(host.probe().flushToZero);
        EXPECT_EQ(_mm_getcsr() & 0x8000u, callerBit);
    }
    _mm_setcsr(saved);
}

// The configured name is looked up exactly; a name that creates nothing, or
// none in an empty registry, leaves an instance without parameters.
TEST(Instance, EffectLookup) {
    EffectRegistry empty;
    for (Hosted* host : {new Hosted("Unknown"), new Hosted("probe"), new Hosted(nullptr, empty)}) {
        EXPECT_FALSE(host->instance->hasEffect());
        EXPECT_EQ(host->fx->numParams, 0);
        delete host;
    }
}

} // namespace
} // namespace quor
