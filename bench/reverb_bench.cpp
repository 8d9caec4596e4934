// Reverb throughput on stereo noise in blocks of 512 frames, reported as
// nanoseconds per frame and as the real-time factor (audio seconds processed
// per second of computation).
#include "framework/effect.h"
#include "framework/registry.h"
#include "tests/support/effect_driver.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <utility>
#include <vector>

namespace {

constexpr std::int32_t kBlock = 512;
constexpr std::int32_t kNoiseBlocks = 64;

enum Setting { kDefaults, kHeaviest, kDefaultsAlgorithm0 };

std::unique_ptr<quor::HostedEffect> makeReverb(float sampleRate, Setting setting) {
    std::unique_ptr<quor::HostedEffect> fx(quor::EffectRegistry::suite().findAndCreate({1, "Reverb"}));
    fx->applyDefaults();
    std::vector<std::pair<std::int32_t, float>> changes;
    if (setting == kHeaviest)
        changes = {{14, 16.0f}, {15, 1.0f}, {10, 1.0f}}; // Tail Density, Size, Diffuse Density
    if (setting == kDefaultsAlgorithm0) changes = {{13, 0.0f}};
    for (auto [index, value] : changes) {
        fx->values[index] = value;
        fx->parameterChanged(index);
    }
    quor::test::startAt(*fx, sampleRate);
    return fx;
}

void reverbThroughput(benchmark::State& state) {
    const auto sampleRate = static_cast<float>(state.range(0));
    auto fx = makeReverb(sampleRate, static_cast<Setting>(state.range(1)));

    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> inL(kBlock * kNoiseBlocks), inR(kBlock * kNoiseBlocks);
    for (std::size_t i = 0; i < inL.size(); ++i) {
        inL[i] = noise(rng);
        inR[i] = noise(rng);
    }
    std::vector<float> outL(kBlock), outR(kBlock);
    float* outputs[2] = {outL.data(), outR.data()};

    // Warm up so the lines are filled and the tail is ringing.
    std::int64_t block = 0;
    auto processOne = [&] {
        const std::size_t offset = static_cast<std::size_t>(block++ % kNoiseBlocks) * kBlock;
        float* inputs[2] = {inL.data() + offset, inR.data() + offset};
        quor::AudioBuffers buffers{inputs, outputs, kBlock, 0};
        fx->process(buffers, true);
    };
    for (int i = 0; i < 200; ++i)
        processOne();

    for (auto _ : state) {
        processOne();
        benchmark::DoNotOptimize(outL.data());
        benchmark::ClobberMemory();
    }
    // Both counters are taken against CPU time, which other processes on the
    // machine disturb less than wall time.
    const double frames = static_cast<double>(state.iterations()) * kBlock;
    state.counters["ns_per_frame"] =
        benchmark::Counter(frames * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["realtime_x"] = benchmark::Counter(frames / sampleRate, benchmark::Counter::kIsRate);
}

BENCHMARK(reverbThroughput)
    ->ArgNames({"rate", "setting"})
    ->Args({44100, kDefaults})
    ->Args({48000, kDefaults})
    ->Args({44100, kHeaviest})
    ->Args({48000, kHeaviest})
    ->Args({48000, kDefaultsAlgorithm0})
    ->Unit(benchmark::kMicrosecond)
    // With repetitions, the fastest one is the run least disturbed by other
    // work on the machine.
    ->ComputeStatistics("min",
                        [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });

} // namespace
