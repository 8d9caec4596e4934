// Drives an effect directly the way the host adapter does: a value and its
// parameterChanged, or a new rate with its prepared storage installed and the
// reset, then any deferred work.
#pragma once

#include "framework/effect.h"

#include <cstdint>
#include <mutex>

namespace quor::test {

inline void setValue(HostedEffect& fx, std::int32_t index, float value) {
    {
        std::lock_guard<InstanceLock> lock(fx.processLock);
        fx.values[index] = value;
        fx.parameterChanged(index);
    }
    fx.applyDeferredChanges();
}

inline void startAt(HostedEffect& fx, float sampleRate) {
    std::unique_ptr<DeferredPackage> package =
        fx.prepareDeferred(DeferredRequest{fx.values, fx.paramCount, sampleRate});
    {
        std::lock_guard<InstanceLock> lock(fx.processLock);
        if (package) fx.installDeferred(*package);
        fx.setSampleRate(sampleRate);
        fx.reset();
    }
    fx.applyDeferredChanges();
}

} // namespace quor::test
