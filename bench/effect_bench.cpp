// Throughput of every effect, driven directly as the host adapter drives it:
// blocks of 512 frames, reported as nanoseconds per frame and as the
// real-time factor (audio seconds processed per second of computation).
// Both counters are taken against CPU time, which other processes on the
// machine disturb less than wall time; with repetitions, the "min" statistic
// is the run least disturbed.
//
//   build/bench/quor_bench --benchmark_filter=Throughput --benchmark_repetitions=10
//
// The dynamics effects hear noise bursts that jump across their thresholds
// every 100 ms (-30, -6 and 0 dBFS in turn, the side-chain pair on its own
// schedule), so that their gain really moves; the others hear noise.
#include "framework/effect.h"
#include "framework/registry.h"
#include "tests/support/effect_driver.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace quor {
namespace {

constexpr std::int32_t kBlock = 512;
constexpr std::int32_t kSignalBlocks = 94; // about one second at 48 kHz

using Settings = std::vector<std::pair<std::int32_t, float>>; // index, natural value

enum class Signal { noise, loudNoise, bursts };

struct Case {
    const char* label;
    const char* effect;
    Settings settings;
    Signal signal = Signal::noise;
    float sampleRate = 48000.0f;
};

const Case kCases[] = {
    {"Limiter/-12dB-linked", "Limiter", {{3, 0.75f}}, Signal::bursts},
    {"Limiter/-12dB-unlinked", "Limiter", {{3, 0.75f}, {8, 0.0f}}, Signal::bursts},
    {"Limiter/-12dB-LTC-comp", "Limiter", {{3, 0.75f}, {9, 1.0f}}, Signal::bursts},
    {"RCFilter/H6", "RC Filter", {{0, 0.33f}, {1, 0.0f}}},
    {"RCFilter/H24", "RC Filter", {{0, 0.33f}, {1, 3.0f}}},
    {"Tremolo/defaults", "Tremolo", {}},
    {"Phaser/12-stages", "Phaser", {{6, 4.0f}}},
    {"Phaser/128-stages", "Phaser", {{6, 7.0f}}},
    {"mDelay/Normal", "mDelay", {{5, 0.0f}}},
    {"mDelay/Cross", "mDelay", {{5, 1.0f}}},
    {"mDelay/Ping-pong", "mDelay", {{5, 2.0f}}},
    {"Rectifier/defaults", "Rectifier", {}, Signal::loudNoise},
    {"Rectifier/oversampled", "Rectifier", {{2, 1.0f}}, Signal::loudNoise},
    {"Ringmod/oscillator", "Ringmod", {{4, 0.0f}}},
    {"Ringmod/side-chain", "Ringmod", {{4, 1.0f}}},
    {"Quantizer/defaults", "Quantizer", {}},
    {"Quantizer/40kHz-jitter-dither", "Quantizer", {{0, 1.0f}, {1, 1.0f}, {3, 1.0f}}},
    {"Quantizer/16-bits", "Quantizer", {{2, 1.0f}}},
    {"Clipper/defaults", "Clipper", {}, Signal::loudNoise},
    {"Clipper/oversampled", "Clipper", {{3, 1.0f}}, Signal::loudNoise},
    {"Reverb/defaults", "Reverb", {}},
    {"Reverb/defaults-44100", "Reverb", {}, Signal::noise, 44100.0f},
    {"Reverb/heaviest",
     "Reverb",
     {{14, 16.0f}, {15, 1.0f}, {10, 1.0f}}}, // Tail Density, Size, Diffuse Density
    {"Reverb/heaviest-44100", "Reverb", {{14, 16.0f}, {15, 1.0f}, {10, 1.0f}}, Signal::noise, 44100.0f},
    {"Reverb/algorithm-0", "Reverb", {{13, 0.0f}}},
    {"Gate/linked", "Gate", {}, Signal::bursts},
    {"Gate/unlinked", "Gate", {{10, 0.0f}}, Signal::bursts},
    {"Follower/defaults", "Follower", {}, Signal::bursts},
    {"Follower/no-keytrack-no-saturation", "Follower", {{7, 0.0f}, {2, 0.0f}}, Signal::bursts},
    {"Vocal/defaults", "Vocal", {}},
    {"Vocal/shifted", "Vocal", {{0, 0.5f}, {1, 1.0f}, {2, 0.3f}}},
    {"Compressor/-24dB-unlinked", "Compressor", {{2, 0.5f}}, Signal::bursts},
    {"Compressor/-24dB-linked", "Compressor", {{2, 0.5f}, {7, 1.0f}}, Signal::bursts},
    {"Compressor/-24dB-mode-B", "Compressor", {{2, 0.5f}, {5, 1.0f}}, Signal::bursts},
    {"Multiplier/mode-0", "Multiplier", {}, Signal::loudNoise},
    {"Multiplier/mode-0-oversampled", "Multiplier", {{3, 1.0f}}, Signal::loudNoise},
    {"Multiplier/mode-1", "Multiplier", {{7, 1.0f}}, Signal::loudNoise},
    {"Multiplier/mode-1-oversampled", "Multiplier", {{7, 1.0f}, {3, 1.0f}}, Signal::loudNoise},
    {"Multiplier/mode-2", "Multiplier", {{7, 2.0f}}, Signal::loudNoise},
    {"Multiplier/mode-2-oversampled", "Multiplier", {{7, 2.0f}, {3, 1.0f}}, Signal::loudNoise},
};

std::vector<float> signalFor(Signal signal, std::uint32_t channel) {
    std::mt19937 rng(1234 + channel);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    const float levels[] = {0.03f, 0.5f, 1.0f};
    std::vector<float> x(static_cast<std::size_t>(kBlock) * kSignalBlocks);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const float level = signal == Signal::bursts      ? levels[(i / 4800 + channel) % 3]
                            : signal == Signal::loudNoise ? 1.0f
                                                          : 0.5f;
        x[i] = level * noise(rng);
    }
    return x;
}

void throughput(benchmark::State& state, const Case& c) {
    std::unique_ptr<HostedEffect> fx(EffectRegistry::suite().findAndCreate({1, c.effect}));
    fx->applyDefaults();
    for (auto [index, value] : c.settings) {
        fx->values[index] = value;
        fx->parameterChanged(index);
    }
    test::startAt(*fx, c.sampleRate);

    std::vector<std::vector<float>> in;
    for (std::int32_t channel = 0; channel < fx->numInputs; ++channel)
        in.push_back(signalFor(c.signal, static_cast<std::uint32_t>(channel)));
    std::vector<float*> inputs(in.size());
    std::vector<float> outL(kBlock), outR(kBlock);
    float* outputs[2] = {outL.data(), outR.data()};
    std::int64_t block = 0;
    auto processOne = [&] {
        const std::size_t offset = static_cast<std::size_t>(block++ % kSignalBlocks) * kBlock;
        for (std::size_t channel = 0; channel < in.size(); ++channel)
            inputs[channel] = in[channel].data() + offset;
        AudioBuffers buffers{inputs.data(), outputs, kBlock, 0};
        fx->process(buffers, true);
    };
    for (int i = 0; i < 200; ++i) // past the glides of the start, with lines and loops filled
        processOne();
    for (auto _ : state) {
        processOne();
        benchmark::DoNotOptimize(outL.data());
        benchmark::ClobberMemory();
    }
    const double frames = static_cast<double>(state.iterations()) * kBlock;
    state.counters["ns_per_frame"] =
        benchmark::Counter(frames * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["realtime_x"] = benchmark::Counter(frames / c.sampleRate, benchmark::Counter::kIsRate);
}

const bool registered = [] {
    for (const Case& c : kCases)
        benchmark::RegisterBenchmark((std::string("Throughput/") + c.label).c_str(), throughput, c)
            ->Unit(benchmark::kMicrosecond)
            ->ComputeStatistics(
                "min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
    return true;
}();

} // namespace
} // namespace quor
