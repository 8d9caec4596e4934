// RC Filter at 48 kHz: the gentlest and the steepest high-pass.
#include "bench/effect_bench.h"

namespace {

void rcFilterThroughput(benchmark::State& state) {
    const auto mode = static_cast<float>(state.range(0));
    auto fx = quor::bench::startEffect("RC Filter", 48000.0f, {{0, 0.33f}, {1, mode}});
    quor::bench::measureThroughput(state, *fx, 48000.0f);
}

BENCHMARK(rcFilterThroughput)
    ->ArgName("mode")
    ->Arg(0)
    ->Arg(3)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", quor::bench::fastest);

} // namespace
