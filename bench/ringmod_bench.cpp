// Ringmod at 48 kHz with the internal carrier and with the side-chain carrier.
#include "bench/effect_bench.h"

namespace {

void ringmodThroughput(benchmark::State& state) {
    const auto sideChain = static_cast<float>(state.range(0));
    auto fx = quor::bench::startEffect("Ringmod", 48000.0f, {{4, sideChain}});
    quor::bench::measureThroughput(state, *fx, 48000.0f);
}

BENCHMARK(ringmodThroughput)
    ->ArgName("side_chain")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", quor::bench::fastest);

} // namespace
