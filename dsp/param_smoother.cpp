#include "dsp/param_smoother.h"

#include <cmath>

namespace quor {

namespace {
constexpr float kLnOnePercent = -4.6051702f; // ln 0.01
}

ParamSmoother::ParamSmoother(std::int32_t rampCapacity)
    : capacity(rampCapacity > 0 ? rampCapacity : 1),
      ramps(new SmootherRamp[static_cast<std::size_t>(capacity)]()),
      snapshot(new Snapshot[static_cast<std::size_t>(capacity)]()) {}

void ParamSmoother::configure(float rampSeconds, float sampleRateHz) {
    const float rampSamples = rampSeconds * sampleRateHz;
    coefficient = 1.0f - std::pow(0.01f, 1.0f / rampSamples);
    length = std::floor(kLnOnePercent / std::log(1.0f - coefficient)) + 1.0f;
    rateKnown = true;
}

void ParamSmoother::setTarget(float* dest, float value) {
    if (!active || !rateKnown || length == 0.0f || *dest == value) {
        *dest = value;
        // A glide still heading elsewhere would carry the quantity away from
        // the value it was just given.
        dropRamp(dest);
        return;
    }
    std::int32_t slot = 0;
    while (slot < count && ramps[slot].dest != dest)
        ++slot;
    if (slot < count) {
        SmootherRamp& r = ramps[slot];
        if (r.target != value) {
            r.target = value; // restarts from wherever the quantity is now
            r.remaining = length;
        }
        return;
    }
    if (count >= capacity) { // more destinations than the owner declared
        *dest = value;
        return;
    }
    ramps[count] = SmootherRamp{dest, value, length};
    ++count;
}

void ParamSmoother::dropRamp(const float* dest) {
    for (std::int32_t slot = 0; slot < count; ++slot)
        if (ramps[slot].dest == dest) {
            --count;
            ramps[slot] = ramps[count];
            return;
        }
}

void ParamSmoother::beginBlock() {
    savedCount = count;
    for (std::int32_t i = 0; i < count; ++i)
        snapshot[i] = Snapshot{ramps[i], *ramps[i].dest};
}

void ParamSmoother::beginChannel() {
    count = savedCount;
    for (std::int32_t i = 0; i < count; ++i) {
        ramps[i] = snapshot[i].ramp;
        *ramps[i].dest = snapshot[i].value;
    }
}

void ParamSmoother::flush() {
    for (std::int32_t i = 0; i < count; ++i)
        *ramps[i].dest = ramps[i].target;
    count = 0;
}

} // namespace quor
