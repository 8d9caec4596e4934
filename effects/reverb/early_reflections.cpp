#include "effects/reverb/early_reflections.h"

#include "dsp/taper.h"
#include "framework/effect.h"
#include "framework/numeric.h"

#include <algorithm>
#include <cmath>

namespace quor {

EarlyPlan planEarlyReflections(const EarlySettings& in, float fs) {
    EarlyPlan plan{};
    const float dd = in.density * in.density;
    const float spanSeconds = 0.19f * dd + 0.01f; // 10 ms to 200 ms
    const float stereo = Taper(in.stereo, -1.5f);
    const float offsetSeconds = spanSeconds * (0.1f * stereo);
    const float preSamples = (0.001f + 0.249f * (in.delay * in.delay)) * fs; // 1 ms to 250 ms
    const float spanLeft = (spanSeconds + offsetSeconds) * fs;
    const float spanRight = (spanSeconds - offsetSeconds) * fs;

    const std::int32_t n =
        std::clamp(truncatedInt(std::floor(dd * 11.0f + 1.0f + 0.5f)), std::int32_t{1}, kMaxTapsPerChannel);
    const bool shortFirst = in.direction > 0.5f;
    const float step = shortFirst ? -0.99f / static_cast<float>(n) : 0.99f / static_cast<float>(n);
    const float spreadSemitones = in.spread * 100.0f + 1.0f;
    const float exponent = (in.distribution * in.distribution) * 3.875f + 0.125f;
    float position = shortFirst ? 1.0f : 0.0f;

    // Tap s sits at span * 2^(-e/12) after the pre-delay, e growing as a
    // power of the position: taps crowd towards the long end for exponents
    // above 1.
    for (std::int32_t s = 0; s < n; ++s) {
        const float semitones = std::pow(position, exponent) * spreadSemitones;
        const float q = 1.0f / std::pow(semitoneRatio, semitones);
        plan.tapDelaySamples[2 * s] = q * spanLeft + preSamples;
        plan.tapDelaySamples[2 * s + 1] = q * spanRight + preSamples;
        position = position + step;
    }
    plan.tapCount = n;
    // q <= 1, so no tap exceeds span + pre, which stays below the capacity.
    plan.capacity[0] = truncatedInt(spanLeft + preSamples) + 1;
    plan.capacity[1] = truncatedInt(spanRight + preSamples) + 1;
    return plan;
}

float tapWeightRatio(std::int32_t tapCount) {
    return 1.0f - std::pow(0.01f, 1.0f / static_cast<float>(tapCount));
}

std::int32_t feedbackLineCapacity(float fs) {
    return truncatedInt(1.1f * fs) + 2;
}

FeedbackTimes feedbackDelaySamples(float delayValue, float stereoValue, float fs) {
    const float seconds = Taper(delayValue, -1.5f);
    const float offsetSeconds = Taper(stereoValue, -1.5f) * 0.1f * seconds;
    return {(seconds + offsetSeconds) * fs + 1.0f, (seconds - offsetSeconds) * fs + 1.0f};
}

float echoScale(float leftDelaySamples) {
    const float q = 0.75f / (leftDelaySamples * 0.01f + 1.0f);
    return 0.75f - Taper(q, 0.1f);
}

BandPassCoefficients bandPassCoefficients(float frequencyValue, float widthValue) {
    const float width = Taper(std::clamp(widthValue, 0.1f, 1.0f), -1.25f);
    const float upper = std::clamp(frequencyValue + width, 0.001f, 0.999f);
    const float lower = std::clamp(frequencyValue - width, 0.1f, 0.999f);
    return {1.0f - Taper(upper, -1.5f), Taper(lower, -1.05f)};
}

} // namespace quor
