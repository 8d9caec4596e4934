// Work an effect must not do on the audio thread: allocating storage whose
// size follows the sample rate or a parameter, and zeroing large buffers.
//
// The effect prepares such storage off the audio thread (prepareDeferred,
// HostedEffect) into a DeferredPackage; whoever owns the effect installs it
// at a block start by swapping pointers (installDeferred), after which the
// package holds what it replaced and is destroyed off the audio thread.
#pragma once

#include <cstdint>

namespace quor {

class DeferredPackage {
  public:
    virtual ~DeferredPackage() = default;
};

// What a preparation works from: the sample rate the effect runs at, or is
// about to run at when the rate is changing.
struct DeferredRequest {
    float sampleRate;
};

// The adapter's side of requestDeferredWork: wakes whoever runs the
// preparations. Must be callable from the audio thread (lock-free, no
// allocation).
class DeferredWorkSignal {
  public:
    virtual ~DeferredWorkSignal() = default;
    virtual void requestDeferredWork() = 0;
};

} // namespace quor
