// Throughput of one effect driven directly, as the host adapter drives it:
// stereo noise (side-chain inputs too) in blocks of 512 frames, reported as
// nanoseconds per frame and as the real-time factor.
#pragma once

#include "framework/effect.h"
#include "framework/registry.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <utility>
#include <vector>

namespace quor::bench {

constexpr std::int32_t kBlock = 512;

// The effect at its defaults with `changes` (index, natural value) applied,
// started at `sampleRate` with its prepared storage installed.
inline std::unique_ptr<HostedEffect> startEffect(const char* name, float sampleRate,
                                                 const std::vector<std::pair<std::int32_t, float>>& changes) {
    std::unique_ptr<HostedEffect> fx(EffectRegistry::suite().findAndCreate({1, name}));
    fx->applyDefaults();
    for (auto [index, value] : changes) {
        fx->values[index] = value;
        fx->parameterChanged(index);
    }
    std::unique_ptr<DeferredPackage> package =
        fx->prepareDeferred(DeferredRequest{fx->values, fx->paramCount, sampleRate});
    if (package) fx->installDeferred(*package);
    fx->setSampleRate(sampleRate);
    fx->reset();
    return fx;
}

inline void measureThroughput(benchmark::State& state, HostedEffect& fx, float sampleRate) {
    constexpr std::int32_t kNoiseBlocks = 64;
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<std::vector<float>> in(static_cast<std::size_t>(fx.numInputs),
                                       std::vector<float>(kBlock * kNoiseBlocks));
    for (auto& channel : in)
        for (float& x : channel)
            x = noise(rng);
    std::vector<float> outL(kBlock), outR(kBlock);
    float* outputs[2] = {outL.data(), outR.data()};
    std::vector<float*> inputs(in.size());

    std::int64_t block = 0;
    auto processOne = [&] {
        const std::size_t offset = static_cast<std::size_t>(block++ % kNoiseBlocks) * kBlock;
        for (std::size_t c = 0; c < in.size(); ++c)
            inputs[c] = in[c].data() + offset;
        AudioBuffers buffers{inputs.data(), outputs, kBlock, 0};
        fx.process(buffers, true);
    };
    for (int i = 0; i < 200; ++i) // past the glides of the start, lines and loops filled
        processOne();
    for (auto _ : state) {
        processOne();
        benchmark::DoNotOptimize(outL.data());
        benchmark::ClobberMemory();
    }
    // Against CPU time, which other processes on the machine disturb less than wall time.
    const double frames = static_cast<double>(state.iterations()) * kBlock;
    state.counters["ns_per_frame"] =
        benchmark::Counter(frames * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["realtime_x"] = benchmark::Counter(frames / sampleRate, benchmark::Counter::kIsRate);
}

// With repetitions, the fastest run is the one least disturbed by other work.
inline double fastest(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}

} // namespace quor::bench
