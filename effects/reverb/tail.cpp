#include "effects/reverb/tail.h"

#include "dsp/taper.h"
#include "framework/effect.h"
#include "framework/numeric.h"

#include <algorithm>
#include <cmath>

namespace quor {

namespace {

constexpr float kPi = 3.14159274f;
constexpr float kCoefficientLimit = 0.99999f;

// (1 - t) / (1 + t) for t = tan(angle): the tangent in double precision of
// the single-precision angle, the rest in single precision.
float allpassFromAngle(float angleRadians) {
    const auto t = static_cast<float>(std::tan(static_cast<double>(angleRadians)));
    return std::clamp((1.0f - t) / (1.0f + t), -kCoefficientLimit, kCoefficientLimit);
}

} // namespace

std::int32_t tailLinesFor(float densityValue) {
    return std::clamp(truncatedInt(densityValue), std::int32_t{1}, kMaxTailLinesPerChannel);
}

TailPlan planTail(const TailSettings& in, float fs) {
    TailPlan plan{};
    const std::int32_t n = tailLinesFor(in.density);
    const bool longLast = in.direction > 0.5f;
    float step = 0.0f;
    if (n >= 2) step = longLast ? -0.99f / static_cast<float>(n - 1) : 0.99f / static_cast<float>(n - 1);
    const float spreadSemitones = in.spread * 64.0f;
    const float exponent = in.distribution * in.distribution * 3.875f + 0.125f;
    const float stereoSemitones = Taper(in.stereo, -1.5f);
    const float longestSeconds = in.size * in.size * 0.999f + 0.001f;
    float position = longLast ? 1.0f : 0.0f;

    for (std::int32_t k = 0; k < n; ++k) {
        const float a = std::pow(position, exponent) * spreadSemitones;
        // Alternate lines are shortened on alternate sides, so the two
        // channels' loops never share a length.
        const float eLeft = (k & 1) ? a + stereoSemitones : a;
        const float eRight = (k & 1) ? a : a + stereoSemitones;
        const float tLeft = 1.0f / (std::pow(semitoneRatio, eLeft) * (1.0f / longestSeconds));
        const float tRight = 1.0f / (std::pow(semitoneRatio, eRight) * (1.0f / longestSeconds));
        plan.capacity[2 * k] = truncatedInt(tLeft * fs) + 1;
        plan.capacity[2 * k + 1] = truncatedInt(tRight * fs) + 1;
        position = position + step;
    }
    plan.linesPerChannel = n;
    modulationOffsets(n, plan.modulationOffset);
    return plan;
}

void modulationOffsets(std::int32_t linesPerChannel, float* offsets) {
    float o = 0.0f;
    for (std::int32_t c = 0; c < 2; ++c) {
        for (std::int32_t s = 0; s < linesPerChannel; ++s) {
            offsets[2 * s + c] = o;
            const float t1 = tailTriangle(0.3f * static_cast<float>(s));
            const float h1 = (2.0f - t1 * t1) * t1 + 1.0f;
            const float t2 = tailTriangle(h1 + o);
            o += (2.0f - t2 * t2) * t2 + 1.0f;
        }
    }
}

DecayLaw decayLaw(float decayValue) {
    const float a = Taper(decayValue, 1.1f);
    return {std::fabs(4.0f * Taper(a, -1.1f)), a > 0.0f ? 1.0f : -1.0f};
}

float recirculationGain(float delaySamples, const DecayLaw& law, float fs) {
    // A loop shorter than one sample gets the gain the law gives the shortest
    // real loop (one sample): 0. Taken literally its loop frequency would be
    // infinite and the gain not a number.
    if (!(delaySamples >= 1.0f)) return 0.0f * law.sign;
    const float loopHz = fs / delaySamples;
    // Short loops get a shorter effective decay time.
    const float shortening = Taper(loopHz * -2.0f / fs + 1.0f, 0.5f);
    const float passes = (shortening * law.seconds + 1e-10f) * loopHz;
    const float p =
        passes < 0.1f ? std::pow(0.1f, 10.0f) : std::pow(0.1f, 1.0f / std::min(passes, fs * 1000.0f));
    // 1 - (1 - p) rounds a p too small to change 1 - p to exactly 0.
    return (1.0f - (1.0f - p)) * law.sign;
}

float normalisationGain(std::int32_t linesPerChannel, float size, float diffuse) {
    const float lambda = -1.0f + (-1.3f + 1.0f) * diffuse;
    const float dB =
        (size * 3.0f - 6.0f) + static_cast<float>(linesPerChannel) * (lambda + (-0.6f - lambda) * size);
    return std::pow(10.0f, dB / 20.0f);
}

float diffuseScale(float diffuse, float decay) {
    return 1.0f - diffuse * (0.3f + (0.06f - 0.3f) * decay);
}

float allpassCoefficient(float fs) {
    return allpassFromAngle(kPi * 11000.0f / fs);
}

TailDiffusion tailDiffusion(float d) {
    return {allpassFromAngle((0.25f - 0.2f * std::sqrt(d)) * kPi),
            allpassFromAngle((0.25f + (0.15f - 0.25f) * d) * kPi)};
}

float highCutCoefficient(float h) {
    return std::clamp((1.0f - Taper(h, -1.5f)) * 0.98f, 0.001f, 0.999f);
}

float lowCutCoefficient(float l) {
    return std::clamp(Taper(1.0f - l, -1.1f) * 0.5f, 0.001f, 0.999f);
}

void ReverbTail::updateGains(float decayValue, float fs) {
    const DecayLaw law = decayLaw(decayValue);
    for (std::int32_t j = 0; j < 2 * linesPerChannel; ++j)
        gain[j] = recirculationGain(line[j].delay, law, fs);
}

void ReverbTail::outputWeights(float normalisation, float directionValue, float* weights) const {
    const bool longLast = directionValue > 0.5f;
    const float start = longLast ? normalisation : normalisation * 2.0f;
    const float step = longLast ? 0.0f : -0.8f * start / static_cast<float>(linesPerChannel);
    float weight = start;
    // Alternating signs keep the lines' common content from piling up.
    for (std::int32_t s = 0; s < linesPerChannel; ++s) {
        weights[s] = (s & 1) ? weight : -weight;
        weight = weight + step;
    }
}

} // namespace quor
