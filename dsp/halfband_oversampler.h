// Twofold oversampling around a nonlinear or time-varying stage: a pair of
// polyphase half-band filters made of first-order all-pass sections. The
// up-sampler turns one sample into two consecutive sub-samples, the
// down-sampler two processed sub-samples back into one. Nothing depends on
// the sample rate.
#pragma once

namespace quor {

// (c + z^-1) / (1 + c z^-1), evaluated in exactly this order.
struct AllpassSection {
    float z = 0.0f;
    float process(float u, float c) {
        const float d = (u - z) * c;
        const float y = z + d;
        z = u + d;
        return y;
    }
};

// The up-sampler's two branches alone, for a second signal an owner brings
// to the doubled rate.
struct HalfbandUpsampler {
    // Section coefficients of each branch, in the order the signal passes them.
    static constexpr float kBranchA[3] = {0.0266328f, 0.22867f, 0.59637f};
    static constexpr float kBranchB[3] = {0.10458f, 0.3932f, 0.84751f};

    AllpassSection a1, a2, a3, b1, b2, b3;

    // First sub-sample in `a`, second in `b`; both branches see the same x.
    void process(float x, float& a, float& b) {
        a = a3.process(a2.process(a1.process(x, kBranchA[0]), kBranchA[1]), kBranchA[2]);
        b = b3.process(b2.process(b1.process(x, kBranchB[0]), kBranchB[1]), kBranchB[2]);
    }
    void clear() { *this = HalfbandUpsampler{}; }
};

// One channel's eight section states.
struct HalfbandOversampler {
    static constexpr float kDownA = 0.150634765625f;
    static constexpr float kDownB = -0.3925628662109375f;

    HalfbandUpsampler up;
    AllpassSection downA, downB;

    void upsample(float x, float& a, float& b) { up.process(x, a, b); }
    // p: the processed first sub-sample, q: the second.
    float downsample(float p, float q) {
        return 0.5f * (downA.process(p, kDownA) + downB.process(q, kDownB));
    }
    void clear() { *this = HalfbandOversampler{}; }
};

} // namespace quor
