// Phaser at 48 kHz: the default twelve stages and the longest chain of 128.
#include "bench/effect_bench.h"

namespace {

void phaserThroughput(benchmark::State& state) {
    const auto stages = static_cast<float>(state.range(0));
    auto fx = quor::bench::startEffect("Phaser", 48000.0f, {{6, stages}});
    quor::bench::measureThroughput(state, *fx, 48000.0f);
}

// Stages index 4: 12 stages, 7: 128.
BENCHMARK(phaserThroughput)
    ->ArgName("stages_index")
    ->Arg(4)
    ->Arg(7)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", quor::bench::fastest);

} // namespace
