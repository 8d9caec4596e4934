// Limiter, Compressor, Gate and Follower throughput at 48 kHz in blocks of
// 512 frames, on noise bursts that jump across the thresholds every 100 ms
// (-30, -6 and 0 dBFS in turn, the side-chain pair on its own schedule), so
// that the gain really moves. Reported as nanoseconds per frame.
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

constexpr float kRate = 48000.0f;
constexpr std::int32_t kBlock = 512;
constexpr std::int32_t kSignalBlocks = 94; // 1 s

struct Setting {
    const char* effect;
    std::vector<std::pair<std::int32_t, float>> values; // natural units
};

const Setting kSettings[] = {
    {"Limiter", {{3, 0.75f}}},              // -12 dB, linked
    {"Limiter", {{3, 0.75f}, {8, 0.0f}}},   // unlinked
    {"Limiter", {{3, 0.75f}, {9, 1.0f}}},   // LTC-comp
    {"Compressor", {{2, 0.5f}}},            // -24 dB, unlinked
    {"Compressor", {{2, 0.5f}, {7, 1.0f}}}, // linked
    {"Compressor", {{2, 0.5f}, {5, 1.0f}}}, // mode B
    {"Compressor", {{2, 0.5f}, {3, 0.5f}}}, // Mix 50 %
    {"Gate", {}},                           // -19.2 dB, linked
    {"Gate", {{10, 0.0f}}},                 // unlinked
    {"Follower", {}},                       // defaults
    {"Follower", {{7, 0.0f}, {2, 0.0f}}},   // no keytrack, no saturation
};

std::unique_ptr<quor::HostedEffect> make(const Setting& setting) {
    std::unique_ptr<quor::HostedEffect> fx(quor::EffectRegistry::suite().findAndCreate({1, setting.effect}));
    fx->applyDefaults();
    for (auto [index, value] : setting.values) {
        fx->values[index] = value;
        fx->parameterChanged(index);
    }
    auto package = fx->prepareDeferred(quor::DeferredRequest{fx->values, fx->paramCount, kRate});
    if (package) fx->installDeferred(*package);
    fx->setSampleRate(kRate);
    fx->reset();
    return fx;
}

std::vector<float> bursts(std::uint32_t seed) {
    const float levels[] = {0.03f, 0.5f, 1.0f};
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> x(static_cast<std::size_t>(kBlock) * kSignalBlocks);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = levels[(i / 4800 + seed) % 3] * noise(rng);
    return x;
}

void dynamicsThroughput(benchmark::State& state) {
    const Setting& setting = kSettings[state.range(0)];
    auto fx = make(setting);
    std::vector<float> in[4] = {bursts(0), bursts(1), bursts(2), bursts(4)};
    std::vector<float> outL(kBlock), outR(kBlock);
    float* outputs[2] = {outL.data(), outR.data()};
    std::int64_t block = 0;
    for (auto _ : state) {
        const std::size_t offset = static_cast<std::size_t>(block++ % kSignalBlocks) * kBlock;
        float* inputs[4] = {in[0].data() + offset, in[1].data() + offset, in[2].data() + offset,
                            in[3].data() + offset};
        quor::AudioBuffers buffers{inputs, outputs, kBlock, 0};
        fx->process(buffers, true);
        benchmark::DoNotOptimize(outL.data());
        benchmark::ClobberMemory();
    }
    const double frames = static_cast<double>(state.iterations()) * kBlock;
    state.counters["ns_per_frame"] =
        benchmark::Counter(frames * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetLabel(setting.effect);
}

BENCHMARK(dynamicsThroughput)
    ->ArgName("setting")
    ->DenseRange(0, static_cast<int>(std::size(kSettings)) - 1)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min",
                        [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });

} // namespace
