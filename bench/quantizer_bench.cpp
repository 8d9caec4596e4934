// Quantizer and Vocal throughput on stereo noise in blocks of 512 frames at
// 48 kHz, reported as nanoseconds per frame and the real-time factor.
#include "framework/effect.h"
#include "framework/registry.h"

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
constexpr float kSampleRate = 48000.0f;

using Settings = std::vector<std::pair<std::int32_t, float>>;

void throughput(benchmark::State& state, const char* effectName, const Settings& settings) {
    std::unique_ptr<quor::HostedEffect> fx(quor::EffectRegistry::suite().findAndCreate({1, effectName}));
    fx->applyDefaults();
    for (auto [index, value] : settings) {
        fx->values[index] = value;
        fx->parameterChanged(index);
    }
    fx->setSampleRate(kSampleRate);
    fx->reset();

    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
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
    state.counters["realtime_x"] = benchmark::Counter(frames / kSampleRate, benchmark::Counter::kIsRate);
}

double fastest(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}

// Quantizer: defaults (2.5 kHz hold, 3 bits); the fastest hold with full
// jitter and dither; 16 bits, where only the hold stage runs.
BENCHMARK_CAPTURE(throughput, quantizerDefaults, "Quantizer", Settings{})
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", fastest);
BENCHMARK_CAPTURE(throughput, quantizerFastJitterDither, "Quantizer",
                  Settings{{0, 1.0f}, {1, 1.0f}, {3, 1.0f}})
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", fastest);
BENCHMARK_CAPTURE(throughput, quantizer16Bits, "Quantizer", Settings{{2, 1.0f}})
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", fastest);
// Vocal: defaults, and a vowel between two table entries with the formants shifted.
BENCHMARK_CAPTURE(throughput, vocalDefaults, "Vocal", Settings{})
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", fastest);
BENCHMARK_CAPTURE(throughput, vocalShifted, "Vocal", Settings{{0, 0.5f}, {1, 1.0f}, {2, 0.3f}})
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", fastest);

} // namespace
