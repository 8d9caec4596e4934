// What a block of silence costs after loud input, against a block of noise,
// for every registered effect. A recursive state decaying into subnormal
// numbers would make the silence far dearer than the noise; the host
// adapter's flush-to-zero mode and the effects' tiny offsets must prevent it.
//
//   Noise/<effect>             a 512-frame block of full-scale noise
//   SilenceAfterLoud/<effect>  a 512-frame block of silence, averaged over
//                              the first minute after one second of noise
//   ZeroSettings/<effect>      noise with every parameter at its minimum
//   TinySettings/<effect>      the same with every parameter at the subnormal
//                              normalised value 1e-40 instead of 0: it must
//                              cost what ZeroSettings costs
//
// Everything runs through the plug-in instance, as a host drives it, at
// 48 kHz.
#include "framework/registry.h"
#include "host/plugin_instance.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quor {
namespace {

constexpr float kRate = 48000.0f;
constexpr VstInt32 kFrames = 512;
constexpr int kExciteBlocks = static_cast<int>(kRate) / kFrames;     // one second
constexpr int kDecayBlocks = 60 * static_cast<int>(kRate) / kFrames; // one minute

VstIntPtr benchHostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == 1 ? 2400 : 0; // audioMasterVersion
}

class Rig {
  public:
    explicit Rig(const char* effectName) : instance(benchHostCallback, effectName, EffectRegistry::suite()) {
        fx = instance.effectRecord();
        fx->dispatcher(fx, effOpen, 0, 0, nullptr, 0.0f);
        fx->dispatcher(fx, effSetSampleRate, 0, 0, nullptr, kRate);
        fx->dispatcher(fx, effSetBlockSize, 0, kFrames, nullptr, 0.0f);
        fx->dispatcher(fx, effMainsChanged, 0, 1, nullptr, 0.0f);
        const int inputs = fx->numInputs > 2 ? fx->numInputs : 2;
        noise.resize(static_cast<std::size_t>(inputs) * kNoiseFrames);
        std::uint32_t state = 0x9E3779B9u;
        for (float& x : noise) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            x = static_cast<float>(static_cast<std::int32_t>(state)) * (1.0f / 2147483648.0f);
        }
        silence.assign(static_cast<std::size_t>(kFrames), 0.0f);
        for (auto& c : out)
            c.assign(static_cast<std::size_t>(kFrames), 0.0f);
        noiseIn.resize(static_cast<std::size_t>(inputs));
        silentIn.assign(static_cast<std::size_t>(inputs), silence.data());
    }

    void noiseBlock() {
        for (std::size_t c = 0; c < noiseIn.size(); ++c)
            noiseIn[c] = noise.data() + c * kNoiseFrames + offset;
        offset = (offset + kFrames) % (kNoiseFrames - kFrames);
        run(noiseIn.data());
    }
    void silentBlock() { run(silentIn.data()); }

    AEffect* fx;

  private:
    static constexpr std::size_t kNoiseFrames = 1 << 16;

    void run(float** inputs) {
        float* outputs[2] = {out[0].data(), out[1].data()};
        fx->processReplacing(fx, inputs, outputs, kFrames);
        benchmark::DoNotOptimize(out[0].data());
        benchmark::DoNotOptimize(out[1].data());
    }

    PluginInstance instance;
    std::vector<float> noise;
    std::vector<float> silence;
    std::vector<float> out[2];
    std::vector<float*> noiseIn;
    std::vector<float*> silentIn;
    std::size_t offset = 0;
};

void noiseCost(benchmark::State& state, const char* effectName) {
    Rig rig(effectName);
    for (int b = 0; b < kExciteBlocks; ++b)
        rig.noiseBlock();
    for (auto _ : state)
        rig.noiseBlock();
    state.SetItemsProcessed(state.iterations() * kFrames);
}

void silenceCost(benchmark::State& state, const char* effectName) {
    Rig rig(effectName);
    int silentBlocks = kDecayBlocks;
    for (auto _ : state) {
        if (silentBlocks == kDecayBlocks) {
            state.PauseTiming();
            for (int b = 0; b < kExciteBlocks; ++b)
                rig.noiseBlock();
            silentBlocks = 0;
            state.ResumeTiming();
        }
        rig.silentBlock();
        ++silentBlocks;
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

void settingCost(benchmark::State& state, const char* effectName, float normalised) {
    Rig rig(effectName);
    for (VstInt32 i = 0; i < rig.fx->numParams; ++i)
        rig.fx->setParameter(rig.fx, i, normalised);
    for (int b = 0; b < kExciteBlocks; ++b)
        rig.noiseBlock();
    for (auto _ : state)
        rig.noiseBlock();
    state.SetItemsProcessed(state.iterations() * kFrames);
}

// One benchmark of each kind per registered effect, so that every effect that
// joins the suite is measured without new code here.
const bool registered = [] {
    for (const EffectFactory* f = EffectRegistry::suite().first(); f; f = f->next) {
        const std::string name = f->name;
        benchmark::RegisterBenchmark(("Noise/" + name).c_str(), noiseCost, f->name);
        benchmark::RegisterBenchmark(("SilenceAfterLoud/" + name).c_str(), silenceCost, f->name);
        benchmark::RegisterBenchmark(("ZeroSettings/" + name).c_str(), settingCost, f->name, 0.0f);
        benchmark::RegisterBenchmark(("TinySettings/" + name).c_str(), settingCost, f->name, 1e-40f);
    }
    return true;
}();

} // namespace
} // namespace quor
