// Every effect renders bit for bit the same through its LV2 plug-in (loaded
// through lilv) as through its VST 2.4 plug-in (loaded with dlopen), for the
// same values, rate, block partition and input, and reports the same latency,
// also when a host sends NaN, infinite and out-of-range values, empty runs or
// a rate outside the supported band, or leaves the side-chain unconnected.
#include "framework/registry.h"
#include "lv2/bundle_layout.h"
#include "tests/lv2/lilv_host.h"
#include "tests/support/test_host.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace quor::test {
namespace {

constexpr std::uint32_t kFrames = 12000;
constexpr std::uint32_t kPartition[] = {0, 1, 64, 511, 0, 2048, 7, 1000, 4096};
constexpr std::size_t kNaNBlock = 4; // every value turns NaN before this block, which must change nothing
constexpr float kInf = std::numeric_limits<float>::infinity();

enum class Values { defaults, spread, hostile };

struct Case {
    const char* label;
    float sampleRate;
    Values values;
    int seed;
    bool worker, sideChainConnected;
};

const Case kCases[] = {
    {"defaults at 44.1 kHz, no worker", 44100.0f, Values::defaults, 0, false, true},
    {"spread values at 96 kHz, worker", 96000.0f, Values::spread, 3, true, true},
    {"hostile values at 48 kHz, no worker, side-chain unconnected", 48000.0f, Values::hostile, 0, false,
     false},
    {"spread values at 4 kHz (run at 8 kHz), worker", 4000.0f, Values::spread, 5, true, true},
};

// A value as the VST host sends it (normalised, first) and as the LV2 port holds it.
std::pair<float, float> valueFor(Values values, int seed, const ParamInfo& row, std::int32_t index) {
    const std::pair<float, float> hostile[] = {
        {NAN, NAN}, {kInf, kInf}, {-kInf, -kInf}, {7.0f, row.max + 100.0f}, {-3.0f, row.min - 100.0f}};
    const float n = static_cast<float>((index * 7 + seed) % 11) / 10.0f;
    return values == Values::hostile ? hostile[index % 5] : std::pair{n, row.min + (row.max - row.min) * n};
}

// Main left and right, then a side-chain that differs from both.
std::vector<std::vector<float>> testSignal() {
    std::vector<std::vector<float>> s(4, std::vector<float>(kFrames));
    std::uint32_t noise = 1;
    for (std::uint32_t i = 0; i < kFrames; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const float white = static_cast<float>(noise >> 8) / 8388608.0f - 1.0f;
        const float burst = (i / 1500) % 2 ? 0.9f : 0.05f;
        s[0][i] = burst * std::sin(0.03f * static_cast<float>(i)) + 0.1f * white;
        s[1][i] = burst * 0.7f * white;
        s[2][i] = (i / 700) % 2 ? white : 0.0f;
        s[3][i] = (i / 900) % 2 ? 0.5f * white : 0.0f;
    }
    return s;
}

struct Render {
    std::vector<std::vector<float>> outputs{2, std::vector<float>(kFrames)};
    std::int32_t latency = -1;
    int workerJobs = 0;
};

// block(inputs, outputs, frames, index) for each block of the partition.
template <typename Block>
void forEachBlock(std::vector<std::vector<float>>& in, std::int32_t inputs, bool sideChain, Render& r,
                  Block block) {
    std::size_t index = 0;
    for (std::uint32_t at = 0; at < kFrames; ++index) {
        const std::uint32_t n = std::min(kPartition[index % std::size(kPartition)], kFrames - at);
        std::vector<float*> ins;
        for (std::int32_t c = 0; c < inputs; ++c)
            ins.push_back(c < 2 || sideChain ? in[c].data() + at : nullptr);
        block(ins, std::vector<float*>{r.outputs[0].data() + at, r.outputs[1].data() + at}, n, index);
        at += n;
    }
}

Render renderVst(const std::string& name, const Case& c, std::vector<std::vector<float>>& in) {
    Render r;
    TestHost host(name);
    if (!host.loaded()) return r;
    AEffect* fx = host.effect();
    host.start(c.sampleRate, 4096);
    for (VstInt32 i = 0; c.values != Values::defaults && i < fx->numParams; ++i)
        host.setParam(i, valueFor(c.values, c.seed, ParamInfo{}, i).first);
    forEachBlock(in, fx->numInputs, c.sideChainConnected, r, [&](auto ins, auto outs, auto n, auto index) {
        for (VstInt32 i = 0; index == kNaNBlock && i < fx->numParams; ++i)
            host.setParam(i, NAN);
        fx->processReplacing(fx, ins.data(), outs.data(), static_cast<VstInt32>(n));
    });
    r.latency = fx->initialDelay;
    return r;
}

// With `changing`, the values change every third block instead of turning NaN.
Render renderLv2(LilvBundle& bundle, const HostedEffect& effect, const Case& c,
                 std::vector<std::vector<float>>& in, bool changing = false) {
    Render r;
    LilvRun run(bundle, bundle.plugin(lv2::pluginUri(effect.name)), c.sampleRate, c.worker);
    EXPECT_NE(run.instance, nullptr);
    if (!run.instance) return r;
    for (std::int32_t i = 0; c.values != Values::defaults && i < effect.paramCount; ++i)
        run.controls[i] = valueFor(c.values, c.seed, effect.params[i], i).second;
    lilv_instance_activate(run.instance);
    forEachBlock(in, effect.numInputs, c.sideChainConnected, r, [&](auto ins, auto outs, auto n, auto index) {
        for (std::int32_t i = 0; i < effect.paramCount; ++i)
            if (changing ? index % 3 == 2 : index == kNaNBlock)
                run.controls[i] =
                    changing ? valueFor(Values::spread, static_cast<int>(index), effect.params[i], i).second
                             : NAN;
        run.run(ins, outs, n);
    });
    r.latency = static_cast<std::int32_t>(run.latency);
    r.workerJobs = run.jobs;
    return r;
}

void expectSameOutput(const Render& a, const Render& b) {
    for (int ch = 0; ch < 2; ++ch)
        for (std::uint32_t i = 0; i < kFrames; ++i)
            if (std::memcmp(&a.outputs[ch][i], &b.outputs[ch][i], sizeof(float)) != 0)
                return ADD_FAILURE() << "output " << ch << " differs first at sample " << i;
}

// Values that change while the effect sounds ask for storage (the Reverb's
// line lengths): a host worker that runs each job at once delivers it at the
// same block start as the work done inline at the start of the next run.
TEST(Lv2VstEquality, EveryEffectRendersBitForBitLikeItsVstPluginWithOrWithoutAWorker) {
    LilvBundle bundle;
    auto input = testSignal();
    int jobs = 0;
    for (const EffectFactory* f = EffectRegistry::suite().first(); f; f = f->next) {
        const std::unique_ptr<HostedEffect> effect(f->create());
        for (const Case& c : kCases) {
            SCOPED_TRACE(std::string(f->name) + ", " + c.label);
            const Render lv2 = renderLv2(bundle, *effect, c, input);
            const Render vst = renderVst(f->name, c, input);
            expectSameOutput(vst, lv2);
            if (lv2.latency >= 0)
                EXPECT_EQ(lv2.latency, vst.latency);
            else
                EXPECT_EQ(vst.latency, 0) << "latency the LV2 plug-in has no port for";
        }
        for (double rate : {0.0, -48000.0, std::nan(""), std::numeric_limits<double>::infinity()})
            EXPECT_EQ(LilvRun(bundle, bundle.plugin(lv2::pluginUri(f->name)), rate, false).instance, nullptr)
                << f->name << " instantiated at " << rate << " Hz";

        SCOPED_TRACE(std::string(f->name) + ", values changing, with and without a worker");
        Case c{"", 48000.0f, Values::defaults, 0, false, true};
        const Render inline_ = renderLv2(bundle, *effect, c, input, true);
        c.worker = true;
        const Render worker = renderLv2(bundle, *effect, c, input, true);
        expectSameOutput(inline_, worker);
        jobs += worker.workerJobs;
    }
    EXPECT_GT(jobs, 0);
}

} // namespace
} // namespace quor::test
