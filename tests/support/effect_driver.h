// Drives an effect directly the way the host adapter does: a value and its
// parameterChanged (or a new rate and the reset) under processLock, then the
// deferred work with no lock held.
#pragma once

#include "framework/effect.h"

#include <cstdint>
#include <mutex>

namespace quor::test {

inline void setValue(Effect& fx, std::int32_t index, float value) {
    {
        std::lock_guard<InstanceLock> lock(fx.processLock);
        fx.values[index] = value;
        fx.parameterChanged(index);
    }
    fx.applyDeferredChanges();
}

inline void startAt(Effect& fx, float sampleRate) {
    {
        std::lock_guard<InstanceLock> lock(fx.processLock);
        fx.setSampleRate(sampleRate);
        fx.reset();
    }
    fx.applyDeferredChanges();
}

} // namespace quor::test
