// Glides internal quantities (gains, depths, times) towards new targets with
// a one-pole ramp of fixed duration. The smoothed quantities are plain floats
// of the owner; the smoother updates them through pointers.
#pragma once

#include <cstdint>
#include <memory>

namespace quor {

struct SmootherRamp {
    float* dest; // the owner's quantity being smoothed
    float target;
    float remaining; // samples left before the ramp snaps to its target
};

class ParamSmoother {
  public:
    // capacity: the number of distinct quantities the owner ever smooths
    // through this smoother (a destination holds at most one ramp). All
    // storage is made here, so nothing is allocated while processing.
    explicit ParamSmoother(std::int32_t capacity);
    ParamSmoother(const ParamSmoother&) = delete;
    ParamSmoother& operator=(const ParamSmoother&) = delete;

    // Owner's sampleRateChanged. After rampSeconds a ramp has closed all but
    // 1 % of its distance; rampLength() is about rampSeconds * sampleRateHz + 1.
    void configure(float rampSeconds, float sampleRateHz);

    // Between blocks (parameter handlers), or at block start for quantities
    // the owner derives itself. Until a rate is known and the owner has
    // processed a sample, the value lands at once.
    void setTarget(float* dest, float value);

    // For a quantity the owner sets at once: its pending glide, if any, is
    // dropped (the ramp in the last slot moves into the freed one).
    void dropRamp(const float* dest);

    // Once per processed sample, after the sample has been computed.
    void advance() {
        std::int32_t i = 0;
        while (i < count) {
            SmootherRamp& r = ramps[i];
            float& d = *r.dest;
            d = d + (r.target - d) * coefficient;
            r.remaining = r.remaining - 1.0f;
            if (r.remaining <= 0.0f) {
                d = r.target;
                --count;
                // The ramp from the last slot has not advanced yet this sample.
                if (i < count) ramps[i] = ramps[count];
                continue;
            }
            ++i;
        }
    }

    // The owner has processed a sample: from now on every change glides.
    void markActive() { active = true; }

    // Channel-by-channel owners: beginBlock once, then beginChannel before
    // each channel, so every channel sees the same trajectory.
    void beginBlock();
    void beginChannel();

    // Owner's reset: every quantity jumps to its target.
    void flush();

    std::int32_t activeRamps() const { return count; }
    float rampLength() const { return length; }

  private:
    struct Snapshot {
        SmootherRamp ramp;
        float value; // the destination's value at block start
    };

    std::int32_t capacity;
    std::unique_ptr<SmootherRamp[]> ramps;
    std::unique_ptr<Snapshot[]> snapshot;
    std::int32_t count = 0;
    std::int32_t savedCount = 0;
    float coefficient = 0.0f; // per-sample approach factor
    float length = 0.0f;      // ramp duration in samples
    bool active = false;
    bool rateKnown = false;
};

} // namespace quor
