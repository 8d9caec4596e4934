// A two-channel peak envelope with attack, hold and release. Every time
// constant is measured to 1 % of the remaining distance; during the hold the
// envelope keeps approaching the held peak before it is let go.
#pragma once

#include <cmath>
#include <cstdint>

namespace quor {

struct EnvelopeFollower {
    // Per channel.
    float level[2] = {};
    float holdCounter[2] = {}; // 1 -> 0 over the hold time
    float peak[2] = {};
    float blockMax[2] = {}; // highest level since the owner last took it

    float rate = 0.0f; // Hz the coefficients are computed for
    float attackTime = 0.001f;
    float holdTime = 0.001f;
    float releaseTime = 0.25f;
    float attackCoef = 0.0f;
    float holdStep = 0.0f;
    float releaseCoef = 0.0f;
    bool dirty = false; // set by whoever writes a time or the rate

    void setRate(float hz) {
        if (hz == rate) return;
        rate = hz;
        dirty = true;
    }

    // Coefficients follow the times from the next step on, of either channel.
    void updateCoefficients() {
        constexpr float targetRatio = 0.01f; // distance left after a time constant
        attackCoef = 1.0f - std::pow(targetRatio, 1.0f / (attackTime * rate));
        releaseCoef = 1.0f - std::pow(targetRatio, 1.0f / (releaseTime * rate));
        holdStep = holdTime > 0.0f ? 1.0f / (rate * holdTime) : 1.0f;
        dirty = false;
    }

    void step(std::int32_t c, float x) {
        if (dirty) updateCoefficients();
        const float v = std::fabs(x);
        float e = level[c];
        if (v > e) {
            e += (v - e) * attackCoef;
            if (v > peak[c]) peak[c] = v;
            holdCounter[c] = 1.0f;
        } else if (holdCounter[c] >= holdStep) {
            e += (peak[c] - e) * attackCoef;
            holdCounter[c] -= holdStep;
        } else {
            e += (v - e) * releaseCoef;
            peak[c] = 0.0f;
        }
        level[c] = e;
        if (e > blockMax[c]) blockMax[c] = e;
    }

    float takeBlockMax(std::int32_t c) {
        const float m = blockMax[c];
        blockMax[c] = 0.0f;
        return m;
    }

    void reset() {
        for (std::int32_t c = 0; c < 2; ++c)
            level[c] = holdCounter[c] = peak[c] = blockMax[c] = 0.0f;
    }
};

} // namespace quor
