#include "framework/effect.h"
#include "framework/registry.h"
#include "host/plugin_instance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace quor {
namespace {

const ParamInfo kProbeRows[] = {
    {"Gain", 0.0f, 1.0f, 0, 0.5f},
    {"Mode", 0.0f, 4.0f, 1, 1.0f},
    {"Switch", 0.0f, 1.0f, 1, 0.0f},
    {"Trim", -1.0f, 1.0f, 0, 0.0f},
};

// A test effect that doubles its input and counts what the host adapter does to it.
class Probe final : public HostedEffect {
public:
    Probe() : HostedEffect("Probe", kProbeRows, 4) {}
    void clear() override {}
    void reset() override { ++resets; }
    void parameterChanged(std::int32_t index) override { changed.push_back(index); }
    void convertChunk(const std::uint8_t*) override { ++conversions; }
    void process(AudioBuffers& buffers, bool replacing) override {
        ++blocks;
        lastRate = sampleRate;
        for (int c = 0; c < 2; ++c)
            for (std::int32_t k = 0; k < buffers.frames; ++k) {
                const float y = 2.0f * buffers.inputs[c][k];
                if (replacing)
                    buffers.outputs[c][k] = y;
                else
                    buffers.outputs[c][k] += y;
            }
    }

    std::vector<std::int32_t> changed;
    int resets = 0;
    int conversions = 0;
    int blocks = 0;
    float lastRate = 0;
};

int ioChangedCalls = 0;
VstIntPtr countingHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (opcode == audioMasterIOChanged) ++ioChangedCalls;
    return 0;
}

const EffectRegistry& probes() {
    static EffectRegistry registry;
    if (!registry.first()) {
        registry.registerEffect("probe", [] { return static_cast<HostedEffect*>(nullptr); });
        registry.registerEffect("Probe", [] { return static_cast<HostedEffect*>(new Probe); });
    }
    return registry;
}

// One instance, reached only through its AEffect record, closed as a host closes it.
class Hosted {
public:
    explicit Hosted(const char* name = "Probe", audioMasterCallback host = countingHost,
                    const EffectRegistry& registry = probes())
        : instance(new PluginInstance(host, name, registry)), fx(instance->effectRecord()) {}
    ~Hosted() { fx->dispatcher(fx, effClose, 0, 0, nullptr, 0.0f); }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f) {
        return fx->dispatcher(fx, opcode, index, value, ptr, opt);
    }
    Probe& probe() { return dynamic_cast<Probe&>(*instance->wrappedEffect()); }
    std::vector<std::uint8_t> chunk() {
        void* data = nullptr;
        const auto size = dispatch(effGetChunk, 0, 0, &data);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        return {bytes, bytes + size};
    }
    void setChunk(std::vector<std::uint8_t> bytes) {
        dispatch(effSetChunk, 0, static_cast<VstIntPtr>(bytes.size()), bytes.data());
    }
    // One block of 1, 2, 3, 4 on both channels; returns the left output.
    std::vector<float> block(bool accumulate = false, bool sameArrays = false, float prefill = 0.0f) {
        std::vector<float> in[2] = {{1, 2, 3, 4}, {1, 2, 3, 4}};
        std::vector<float> out[2] = {std::vector<float>(4, prefill), std::vector<float>(4, prefill)};
        float* inputs[2] = {in[0].data(), in[1].data()};
        float* outputs[2] = {out[0].data(), out[1].data()};
        float** outArray = sameArrays ? inputs : outputs;
        (accumulate ? fx->process : fx->processReplacing)(fx, inputs, outArray, 4);
        return sameArrays ? in[0] : out[0];
    }

    PluginInstance* instance;
    AEffect* fx;
};

// Offsets in the chunk of "Probe": the "pars" record and its first value.
constexpr std::size_t kPars = 8 + 14;
constexpr std::size_t kValue = kPars + 16;

void putFloat(std::vector<std::uint8_t>& bytes, std::size_t offset, float v) { std::memcpy(&bytes[offset], &v, 4); }

class Instance : public ::testing::Test {
protected:
    void SetUp() override { ioChangedCalls = 0; }
};

TEST_F(Instance, CreationAppliesDefaultsOnceEach) {
    Hosted host;
    ASSERT_TRUE(host.instance->hasEffect());
    EXPECT_EQ(host.probe().changed, (std::vector<std::int32_t>{0, 1, 2, 3}));
    EXPECT_NE(host.probe().hostLink, nullptr);
    EXPECT_EQ(host.fx->numParams, 4);
    EXPECT_EQ(host.fx->flags, effFlagsCanReplacing | effFlagsProgramChunks);
    EXPECT_EQ(host.fx->initialDelay, 0);
    EXPECT_EQ(host.dispatch(effGetPlugCategory), kPlugCategEffect);
}

TEST_F(Instance, SetAndGetParameter) {
    Hosted host;
    Probe& probe = host.probe();
    probe.changed.clear();

    host.fx->setParameter(host.fx, 0, 0.5f); // already the value
    EXPECT_TRUE(probe.changed.empty());
    host.fx->setParameter(host.fx, 1, 0.3f);
    EXPECT_EQ(probe.values[1], 4.0f * 0.3f); // discrete, yet not rounded
    EXPECT_EQ(host.fx->getParameter(host.fx, 1), 0.3f);
    host.fx->setParameter(host.fx, 3, 1.5f);
    EXPECT_EQ(probe.values[3], 1.0f);
    host.fx->setParameter(host.fx, 3, -7.0f);
    EXPECT_EQ(probe.values[3], -1.0f);
    EXPECT_EQ(probe.changed, (std::vector<std::int32_t>{1, 3, 3}));

    // Nonsense from the host changes nothing and reads as 0.
    probe.changed.clear();
    host.fx->setParameter(host.fx, 0, std::numeric_limits<float>::quiet_NaN());
    host.fx->setParameter(host.fx, 4, 0.9f);
    host.fx->setParameter(host.fx, -1, 0.9f);
    EXPECT_EQ(host.fx->getParameter(host.fx, 4), 0.0f);
    EXPECT_EQ(host.fx->getParameter(host.fx, -1), 0.0f);
    EXPECT_EQ(host.fx->getParameter(host.fx, 0), 0.5f);
    EXPECT_TRUE(probe.changed.empty());
}

TEST_F(Instance, ChunkRestoreCallsOnlyForChangedValues) {
    Hosted host;
    Probe& probe = host.probe();
    const std::vector<std::uint8_t> saved = host.chunk();
    ASSERT_EQ(saved.size(), 8u + 14u + 16u + 16u);
    EXPECT_EQ(host.dispatch(effGetChunk, 0, 0, nullptr), static_cast<VstIntPtr>(saved.size())); // size only
    probe.changed.clear();

    host.setChunk(saved);
    EXPECT_TRUE(probe.changed.empty());
    EXPECT_EQ(probe.conversions, 0);

    std::vector<std::uint8_t> edited = saved;
    putFloat(edited, kValue + 4 * 2, 1.0f);
    host.setChunk(edited);
    EXPECT_EQ(probe.changed, (std::vector<std::int32_t>{2}));
    EXPECT_EQ(host.fx->getParameter(host.fx, 2), 1.0f);

    // A NaN takes the default, an out-of-range value the nearest end.
    probe.changed.clear();
    putFloat(edited, kValue + 4 * 0, std::numeric_limits<float>::quiet_NaN());
    putFloat(edited, kValue + 4 * 1, 9.0f);
    host.setChunk(edited);
    EXPECT_EQ(probe.values[0], 0.5f);
    EXPECT_EQ(probe.values[1], 4.0f);
    EXPECT_EQ(probe.changed, (std::vector<std::int32_t>{1}));
    EXPECT_EQ(host.fx->getParameter(host.fx, 1), 1.0f);

    // Another version with the right count: applied, then converted.
    probe.changed.clear();
    edited = saved;
    edited[kPars + 8] = 1;
    putFloat(edited, kValue + 4 * 3, 0.5f);
    host.setChunk(edited);
    EXPECT_EQ(probe.changed, (std::vector<std::int32_t>{1, 2, 3}));
    EXPECT_EQ(probe.conversions, 1);

    // Other counts: what the record holds for existing parameters is applied.
    probe.changed.clear();
    std::vector<std::uint8_t> shorter(saved.begin(), saved.end() - 8);
    shorter[4] = static_cast<std::uint8_t>(shorter.size());
    shorter[kPars + 4] = 16 + 8;
    shorter[kPars + 12] = 2;
    host.setChunk(shorter);
    std::vector<std::uint8_t> longer = saved;
    for (int i = 0; i < 2; ++i)
        longer.insert(longer.end(), {0, 0, 0x80, 0x3F});
    longer[4] = static_cast<std::uint8_t>(longer.size());
    longer[kPars + 4] = 16 + 24;
    longer[kPars + 12] = 6;
    putFloat(longer, kValue, 1.0f);
    host.setChunk(longer);
    EXPECT_EQ(probe.changed, (std::vector<std::int32_t>{0, 3})); // the shorter one changed nothing
    EXPECT_EQ(probe.conversions, 3);

    // Wrong tag or nothing at all: ignored.
    probe.changed.clear();
    std::vector<std::uint8_t> foreign = saved;
    foreign[0] = 'x';
    host.setChunk(foreign);
    EXPECT_EQ(host.dispatch(effSetChunk, 0, 0, edited.data()), 0); // size 0
    EXPECT_EQ(host.dispatch(effSetChunk, 0, 56, nullptr), 0);
    EXPECT_TRUE(probe.changed.empty());
}

TEST_F(Instance, ResetsAndSampleRates) {
    Hosted host;
    Probe& probe = host.probe();
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
    EXPECT_EQ(probe.resets, 1); // at once, with the new rate
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
    EXPECT_EQ(probe.resets, 1);
    host.dispatch(effMainsChanged, 0, 1);
    host.block();
    EXPECT_EQ(probe.resets, 2); // the pending reset of a new instance
    host.block();
    EXPECT_EQ(probe.resets, 2);

    host.dispatch(effMainsChanged, 0, 0);
    host.dispatch(effMainsChanged, 0, 1);
    EXPECT_EQ(probe.resets, 2);
    host.block();
    host.block();
    EXPECT_EQ(probe.resets, 3);

    // Rates that are no rate are ignored; the rest are held to what effects are built for.
    for (float rate : {0.0f, -48000.0f, std::numeric_limits<float>::quiet_NaN(),
                       std::numeric_limits<float>::infinity()})
        host.dispatch(effSetSampleRate, 0, 0, nullptr, rate);
    EXPECT_EQ(probe.sampleRate, 44100.0f);
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 1000.0f);
    EXPECT_EQ(probe.sampleRate, 8000.0f);
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 1e7f);
    EXPECT_EQ(probe.sampleRate, 768000.0f);
}

TEST_F(Instance, LatencyReachesTheHostOnlyWhenItChanges) {
    Hosted host;
    Probe& probe = host.probe();
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    host.dispatch(effMainsChanged, 0, 1);
    host.block();
    EXPECT_EQ(ioChangedCalls, 0);

    probe.latency = 64;
    host.block();
    EXPECT_EQ(host.fx->initialDelay, 64);
    EXPECT_EQ(ioChangedCalls, 1);
    host.block();
    EXPECT_EQ(ioChangedCalls, 1);

    probe.latency = 32;
    host.dispatch(effMainsChanged, 0, 0);
    EXPECT_EQ(host.fx->initialDelay, 32);
    EXPECT_EQ(ioChangedCalls, 2);
    host.dispatch(effMainsChanged, 0, 1);
    host.block();
    EXPECT_EQ(ioChangedCalls, 2);
}

TEST_F(Instance, ReplacingAccumulatingAndInPlace) {
    Hosted host;
    Probe& probe = host.probe();
    EXPECT_EQ(host.block(), (std::vector<float>{1, 2, 3, 4})); // no rate yet: passes through
    EXPECT_EQ(probe.blocks, 0);

    host.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    EXPECT_EQ(host.block(false, false, 9.0f), (std::vector<float>{2, 4, 6, 8}));
    EXPECT_EQ(host.block(true, false, 9.0f), (std::vector<float>{11, 13, 15, 17}));
    // Accumulating into the very arrays it reads: the result once, not input plus result.
    EXPECT_EQ(host.block(true, true), (std::vector<float>{2, 4, 6, 8}));
    EXPECT_EQ(host.block(false, true), (std::vector<float>{2, 4, 6, 8}));
    EXPECT_EQ(probe.blocks, 4);
    EXPECT_EQ(probe.lastRate, 48000.0f);
}

TEST_F(Instance, InstancesWithoutAnEffect) {
    EffectRegistry empty;
    for (Hosted* host : {new Hosted("Probe", nullptr), new Hosted("Unknown"), new Hosted("probe"),
                         new Hosted(nullptr, countingHost, empty)}) {
        EXPECT_FALSE(host->instance->hasEffect());
        EXPECT_EQ(host->fx->numParams, 0);
        char text[64] = "untouched";
        EXPECT_EQ(host->dispatch(effGetEffectName, 0, 0, text), 0);
        EXPECT_STREQ(text, "");
        void* data = nullptr;
        EXPECT_EQ(host->dispatch(effGetChunk, 0, 0, &data), 0);
        EXPECT_EQ(host->dispatch(effSetChunk, 0, 4, text), 0);
        host->fx->setParameter(host->fx, 0, 0.5f);
        EXPECT_EQ(host->fx->getParameter(host->fx, 0), 0.0f);
        host->dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
        host->dispatch(effMainsChanged, 0, 1);
        EXPECT_EQ(host->block(), (std::vector<float>{1, 2, 3, 4}));
        delete host;
    }
    // No configured name: the last registered effect.
    Hosted fallback(nullptr);
    EXPECT_TRUE(fallback.instance->hasEffect());
    EXPECT_STREQ(fallback.probe().name, "Probe");
}

} // namespace
} // namespace quor
