// mDelay at 48 kHz with its defaults (modulation on), in each routing.
#include "bench/effect_bench.h"

namespace {

void mdelayThroughput(benchmark::State& state) {
    const auto routing = static_cast<float>(state.range(0));
    auto fx = quor::bench::startEffect("mDelay", 48000.0f, {{5, routing}});
    quor::bench::measureThroughput(state, *fx, 48000.0f);
}

BENCHMARK(mdelayThroughput)
    ->ArgName("mode")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", quor::bench::fastest);

} // namespace
