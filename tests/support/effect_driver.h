// Drives an effect directly, with its deferred work done at once on the
// calling thread: a value and its parameterChanged, or a new rate with its
// storage installed and the reset, each followed by whatever storage the
// effect then asks for.
#pragma once

#include "framework/effect.h"

#include <cstdint>
#include <memory>
#include <new>

namespace quor::test {

// A failed allocation leaves the effect as it was, as in the host adapter.
inline std::unique_ptr<DeferredPackage> prepare(HostedEffect& fx, float sampleRate) {
    try {
        return fx.prepareDeferred(DeferredRequest{sampleRate});
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

inline void finishDeferredWork(HostedEffect& fx) {
    fx.settleChanges();
    for (int round = 0; round < 4; ++round) {
        std::unique_ptr<DeferredPackage> package = prepare(fx, fx.sampleRate);
        if (!package) return;
        fx.installDeferred(*package);
    }
}

inline void setValue(HostedEffect& fx, std::int32_t index, float value) {
    fx.values[index] = value;
    fx.parameterChanged(index);
    finishDeferredWork(fx);
}

inline void startAt(HostedEffect& fx, float sampleRate) {
    std::unique_ptr<DeferredPackage> package = prepare(fx, sampleRate);
    if (package) fx.installDeferred(*package);
    fx.setSampleRate(sampleRate);
    fx.reset();
    finishDeferredWork(fx);
}

} // namespace quor::test
