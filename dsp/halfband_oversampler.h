// Twofold oversampling around a nonlinear or time-varying stage: a pair of
// polyphase half-band filters made of first-order all-pass sections. The
// up-sampler turns one sample into two consecutive sub-samples, the
// down-sampler two processed sub-samples back into one. These are one
// channel's states and coefficients; StereoHalfband runs two channels.
// Nothing depends on the sample rate.
#pragma once

namespace quor {

// The state of an all-pass section (c + z^-1) / (1 + c z^-1).
struct AllpassSection {
    float z = 0.0f;
};

// The up-sampler's two branches, each three sections in series; both hear
// the same input, branch A gives the first sub-sample, B the second.
struct HalfbandUpsampler {
    // Section coefficients of each branch, in the order the signal passes them.
    static constexpr float kBranchA[3] = {0.0266328f, 0.22867f, 0.59637f};
    static constexpr float kBranchB[3] = {0.10458f, 0.3932f, 0.84751f};

    AllpassSection a1, a2, a3, b1, b2, b3;
};

// One channel's eight section states; the down-sampler averages one section
// on each processed sub-sample.
struct HalfbandOversampler {
    static constexpr float kDownA = 0.150634765625f;
    static constexpr float kDownB = -0.3925628662109375f;

    HalfbandUpsampler up;
    AllpassSection downA, downB;

    void clear() { *this = HalfbandOversampler{}; }
};

} // namespace quor
