#include "dsp/dry_wet_mix.h"

#include <cmath>

namespace quor {

DryWetMix::DryWetMix(float mix) {
    // Skew the control: 0, 0.5 and 1 stay put, the lower half is pulled down
    // harder than the upper half is pushed up (0.25 -> 0.125, 0.75 -> 0.667).
    const float m = std::fabs(mix);
    const float t = 2.0f * m - 1.0f;
    const float k = m < 0.5f ? 0.5f : -2.0f;
    const float skewed = (k + 1.0f) * (t / (std::fabs(t) + k)) * 0.5f + 0.5f;

    const float a = (1.0f - skewed) * (skewed + 1.0f);
    dry = a * a * 0.224f + 0.776f * a;
    const float b = (2.0f - skewed) * skewed;
    wet = b * b * 0.224f + 0.776f * b;
}

} // namespace quor
