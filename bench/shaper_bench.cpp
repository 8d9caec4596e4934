// Rectifier, Clipper and Multiplier throughput on stereo noise at 48 kHz in
// blocks of 512 frames, at the defaults with oversampling off and on (and,
// for the Multiplier, on each of its three curves), reported as nanoseconds
// per frame and as the real-time factor.
#include "framework/effect.h"
#include "framework/registry.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr std::int32_t kBlock = 512;
constexpr std::int32_t kNoiseBlocks = 64;
constexpr float kRate = 48000.0f;

struct Shaper {
    const char* name;
    std::int32_t oversampleIndex;
};
const Shaper kShapers[] = {{"Rectifier", 2}, {"Clipper", 3}, {"Multiplier", 3}};
constexpr std::int32_t kMultiplierMode = 7;

void shaperThroughput(benchmark::State& state) {
    const Shaper& shaper = kShapers[state.range(0)];
    std::unique_ptr<quor::HostedEffect> fx(quor::EffectRegistry::suite().findAndCreate({1, shaper.name}));
    fx->applyDefaults();
    const auto set = [&](std::int32_t index, float value) {
        fx->values[index] = value;
        fx->parameterChanged(index);
    };
    set(shaper.oversampleIndex, static_cast<float>(state.range(1)));
    if (state.range(2) > 0) set(kMultiplierMode, static_cast<float>(state.range(2)));
    fx->setSampleRate(kRate);
    fx->reset();
    state.SetLabel(shaper.name);

    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> inL(kBlock * kNoiseBlocks), inR(kBlock * kNoiseBlocks);
    for (std::size_t i = 0; i < inL.size(); ++i) {
        inL[i] = noise(rng);
        inR[i] = noise(rng);
    }
    std::vector<float> outL(kBlock), outR(kBlock);
    float* outputs[2] = {outL.data(), outR.data()};
    std::int64_t block = 0;
    for (auto _ : state) {
        const std::size_t offset = static_cast<std::size_t>(block++ % kNoiseBlocks) * kBlock;
        float* inputs[2] = {inL.data() + offset, inR.data() + offset};
        quor::AudioBuffers buffers{inputs, outputs, kBlock, 0};
        fx->process(buffers, true);
        benchmark::DoNotOptimize(outL.data());
        benchmark::ClobberMemory();
    }
    const double frames = static_cast<double>(state.iterations()) * kBlock;
    state.counters["ns_per_frame"] =
        benchmark::Counter(frames * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["realtime_x"] = benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
}

BENCHMARK(shaperThroughput)
    ->ArgNames({"effect", "oversample", "mode"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}, {0}})
    ->ArgsProduct({{2}, {0, 1}, {1, 2}})
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min",
                        [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });

} // namespace
