#include "framework/effect.h"
#include "framework/registry.h"
#include "host/plugin_instance.h"
#include "host/state_chunk.h"

#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace quor {
namespace {

using Calls = std::vector<std::int32_t>;
using Bytes = std::vector<std::uint8_t>;
const float kNaN = std::numeric_limits<float>::quiet_NaN();

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
        flushToZero = (_mm_getcsr() & 0x8000u) != 0;
        for (int c = 0; c < 2; ++c)
            for (std::int32_t k = 0; k < buffers.frames; ++k) {
                const float y = 2.0f * buffers.inputs[c][k];
                buffers.outputs[c][k] = replacing ? y : buffers.outputs[c][k] + y;
            }
    }

    Calls changed;
    int resets = 0, conversions = 0, blocks = 0;
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

Bytes chunkOf(const std::vector<float>& values, std::uint32_t version = 0) {
    const auto count = static_cast<std::int32_t>(values.size());
    Bytes bytes(stateChunkSize("Probe", count));
    writeStateChunk(bytes.data(), "Probe", version, values.data(), count);
    return bytes;
}

// One instance, reached only through its AEffect record, closed as a host closes it.
struct Hosted {
    explicit Hosted(const char* name = "Probe", audioMasterCallback host = countingHost,
                    const EffectRegistry& registry = probes())
        : instance(new PluginInstance(host, name, registry)), fx(instance->effectRecord()) {}
    ~Hosted() { fx->dispatcher(fx, effClose, 0, 0, nullptr, 0.0f); }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f) {
        return fx->dispatcher(fx, opcode, index, value, ptr, opt);
    }
    Probe& probe() { return dynamic_cast<Probe&>(*instance->wrappedEffect()); }
    Bytes chunk() {
        void* data = nullptr;
        const auto size = dispatch(effGetChunk, 0, 0, &data);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        return {bytes, bytes + size};
    }
    // The parameterChanged calls a restore of the first `size` bytes makes.
    Calls restore(Bytes bytes, std::size_t size = SIZE_MAX) {
        probe().changed.clear();
        EXPECT_EQ(dispatch(effSetChunk, 0, static_cast<VstIntPtr>(std::min(size, bytes.size())), bytes.data()), 0);
        return probe().changed;
    }
    // One block of 1, 2, 3, 4 on both channels over outputs holding `prefill`; returns the left output.
    std::vector<float> block(bool accumulate = false, bool sameArrays = false, float prefill = 0.0f) {
        std::vector<float> in[2] = {{1, 2, 3, 4}, {1, 2, 3, 4}};
        std::vector<float> out[2] = {std::vector<float>(4, prefill), std::vector<float>(4, prefill)};
        float* inputs[2] = {in[0].data(), in[1].data()};
        float* outputs[2] = {out[0].data(), out[1].data()};
        (accumulate ? fx->process : fx->processReplacing)(fx, inputs, sameArrays ? inputs : outputs, 4);
        return sameArrays ? in[0] : out[0];
    }
    void setParameter(VstInt32 index, float value) { fx->setParameter(fx, index, value); }
    float getParameter(VstInt32 index) { return fx->getParameter(fx, index); }

    PluginInstance* instance;
    AEffect* fx;
};

class Instance : public ::testing::Test {
protected:
    void SetUp() override {
        ioChangedCalls = 0;
        automated.clear();
    }
};

TEST_F(Instance, SetAndGetParameter) {
    Hosted host;
    Probe& probe = host.probe();
    EXPECT_EQ(probe.changed, (Calls{0, 1, 2, 3})); // the defaults, once each
    EXPECT_NE(probe.hostLink, nullptr);
    probe.changed.clear();

    host.setParameter(0, 0.5f); // already the value
    host.setParameter(1, 0.3f);
    EXPECT_EQ(probe.values[1], 4.0f * 0.3f); // discrete, yet not rounded
    EXPECT_EQ(host.getParameter(1), 0.3f);
    host.setParameter(3, 1.5f);
    EXPECT_EQ(probe.values[3], 1.0f);
    host.setParameter(3, -7.0f);
    EXPECT_EQ(probe.values[3], -1.0f);
    EXPECT_EQ(probe.changed, (Calls{1, 3, 3}));

    // Nonsense from the host changes nothing and reads as 0.
    probe.changed.clear();
    host.setParameter(0, kNaN);
    host.setParameter(4, 0.9f);
    host.setParameter(-1, 0.9f);
    EXPECT_EQ(host.getParameter(4), 0.0f);
    EXPECT_EQ(host.getParameter(-1), 0.0f);
    EXPECT_EQ(host.getParameter(0), 0.5f);
    EXPECT_TRUE(probe.changed.empty());

    // A change the effect makes itself is stored as the host's would be, then announced.
    probe.hostLink->setParameterAutomated(2, 1.0f);
    EXPECT_EQ(probe.values[2], 1.0f);
    EXPECT_EQ(probe.changed, Calls{2});
    EXPECT_EQ(automated, (std::vector<std::pair<VstInt32, float>>{{2, 1.0f}}));
}

TEST_F(Instance, ChunkRestoreCallsOnlyForChangedValues) {
    Hosted host;
    Probe& probe = host.probe();
    const Bytes saved = host.chunk();
    EXPECT_EQ(saved, chunkOf({0.5f, 1.0f, 0.0f, 0.0f}));
    EXPECT_EQ(host.dispatch(effGetChunk, 0, 0, nullptr), static_cast<VstIntPtr>(saved.size())); // size only

    EXPECT_EQ(host.restore(saved), Calls{});
    EXPECT_EQ(host.restore(chunkOf({0.5f, 1.0f, 1.0f, 0.0f})), Calls{2});
    EXPECT_EQ(host.getParameter(2), 1.0f);
    // A NaN takes the default, an out-of-range value the nearest end.
    EXPECT_EQ(host.restore(chunkOf({kNaN, 9.0f, 1.0f, -3.0f})), (Calls{1, 3}));
    EXPECT_EQ(probe.values[0], 0.5f);
    EXPECT_EQ(probe.values[1], 4.0f);
    EXPECT_EQ(probe.values[3], -1.0f);
    EXPECT_EQ(host.getParameter(1), 1.0f);
    EXPECT_EQ(probe.conversions, 0);

    // Another version, or another count: what fits is applied, then converted.
    EXPECT_EQ(host.restore(chunkOf({0.5f, 1.0f, 0.0f, 0.0f}, 1)), (Calls{1, 2, 3}));
    EXPECT_EQ(probe.conversions, 1);
    EXPECT_EQ(host.restore(chunkOf({0.25f, 1.0f})), Calls{0});
    EXPECT_EQ(host.restore(chunkOf({0.5f, 1.0f, 0.0f, 0.0f, 7.0f, 7.0f})), Calls{0});
    EXPECT_EQ(probe.conversions, 3);

    // Records in either order; bytes the host did not hand over are not read.
    Bytes parsFirst = chunkOf({1.0f, 1.0f, 0.0f, 0.0f});
    std::rotate(parsFirst.begin() + 8, parsFirst.begin() + 8 + 14, parsFirst.end());
    EXPECT_EQ(host.restore(parsFirst), Calls{0});
    const Bytes next = chunkOf({0.75f, 2.0f, 1.0f, 0.5f});
    EXPECT_EQ(host.restore(next, next.size() - 5), (Calls{0, 1}));

    // Ignored: a wrong tag, no "pars" record, a zero record size ending the
    // scan, no bytes at all.
    Bytes broken = next;
    broken[0] = 'x';
    EXPECT_EQ(host.restore(broken), Calls{});
    broken = next;
    broken[8 + 14] = 'x';
    EXPECT_EQ(host.restore(broken), Calls{});
    broken = next;
    std::fill(broken.begin() + 12, broken.begin() + 16, 0);
    EXPECT_EQ(host.restore(broken), Calls{});
    EXPECT_EQ(host.restore(next, 0), Calls{});
    EXPECT_EQ(host.dispatch(effSetChunk, 0, 56, nullptr), 0);
    EXPECT_EQ(probe.conversions, 3);
}

TEST_F(Instance, ResetsAndSampleRates) {
    Hosted host;
    Probe& probe = host.probe();
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
    EXPECT_EQ(probe.resets, 1); // at once, with the new rate
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
    host.dispatch(effMainsChanged, 0, 1);
    EXPECT_EQ(probe.resets, 1);
    host.block();
    host.block();
    EXPECT_EQ(probe.resets, 2); // the pending reset of a new instance, once

    host.dispatch(effMainsChanged, 0, 0);
    host.dispatch(effMainsChanged, 0, 1);
    EXPECT_EQ(probe.resets, 2);
    host.block();
    host.block();
    EXPECT_EQ(probe.resets, 3);

    // Rates that are no rate are ignored; the rest are held to what effects are built for.
    for (float rate : {0.0f, -48000.0f, kNaN, std::numeric_limits<float>::infinity()})
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
    probe.latency = 64;
    host.block();
    host.block();
    EXPECT_EQ(host.fx->initialDelay, 64);
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
    EXPECT_EQ(host.block(), (std::vector<float>{1, 2, 3, 4})); // no rate yet: passed through
    EXPECT_EQ(host.probe().blocks, 0);

    host.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    EXPECT_EQ(host.block(false, false, 9.0f), (std::vector<float>{2, 4, 6, 8}));
    EXPECT_EQ(host.block(true, false, 9.0f), (std::vector<float>{11, 13, 15, 17}));
    // Accumulating into the very arrays it reads: the result once, not input plus result.
    EXPECT_EQ(host.block(true, true), (std::vector<float>{2, 4, 6, 8}));
    EXPECT_EQ(host.probe().blocks, 3);

    // Flush-to-zero holds for the block only; the caller's bit comes back.
    const unsigned saved = _mm_getcsr();
    for (unsigned callerBit : {0u, 0x8000u}) {
        _mm_setcsr((saved & ~0x8000u) | callerBit);
        host.block();
        EXPECT_TRUE(host.probe().flushToZero);
        EXPECT_EQ(_mm_getcsr() & 0x8000u, callerBit);
    }
    _mm_setcsr(saved);
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
        EXPECT_EQ(host->dispatch(effGetChunk, 0, 0, text), 0);
        EXPECT_EQ(host->dispatch(effSetChunk, 0, 4, text), 0);
        host->setParameter(0, 0.5f);
        EXPECT_EQ(host->getParameter(0), 0.0f);
        host->dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
        host->dispatch(effMainsChanged, 0, 1);
        EXPECT_EQ(host->block(), (std::vector<float>{1, 2, 3, 4}));
        delete host;
    }
    Hosted fallback(nullptr); // no configured name: the last registered effect
    EXPECT_STREQ(fallback.probe().name, "Probe");
}

} // namespace
} // namespace quor
