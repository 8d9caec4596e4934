// Twofold oversampling around a nonlinear or time-varying stage: a pair of
// polyphase half-band filters made of first-order all-pass sections. The
// up-sampler turns one sample into two consecutive sub-samples, the
// down-sampler two processed sub-samples back into one. Nothing depends on
// the sample rate.
#pragma once

#include "dsp/stereo_pair.h"

namespace quor {

// Section coefficients in the order the signal passes them: the up-sampler's
// branch A gives the first sub-sample, branch B the second; the down-sampler
// has one section per sub-sample.
constexpr float kHalfbandUpA[3] = {0.0266328f, 0.22867f, 0.59637f};
constexpr float kHalfbandUpB[3] = {0.10458f, 0.3932f, 0.84751f};
constexpr float kHalfbandDownA = 0.150634765625f;
constexpr float kHalfbandDownB = -0.3925628662109375f;

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
    AllpassSection a1, a2, a3, b1, b2, b3;

    // First sub-sample in `a`, second in `b`; both branches see the same x.
    void process(float x, float& a, float& b) {
        const float* ka = kHalfbandUpA;
        const float* kb = kHalfbandUpB;
        a = a3.process(a2.process(a1.process(x, ka[0]), ka[1]), ka[2]);
        b = b3.process(b2.process(b1.process(x, kb[0]), kb[1]), kb[2]);
    }
    void clear() { *this = HalfbandUpsampler{}; }
};

// One channel's eight section states.
struct HalfbandOversampler {
    HalfbandUpsampler up;
    AllpassSection downA, downB;

    void upsample(float x, float& a, float& b) { up.process(x, a, b); }
    // p: the processed first sub-sample, q: the second.
    float downsample(float p, float q) {
        return 0.5f * (downA.process(p, kHalfbandDownA) + downB.process(q, kHalfbandDownB));
    }
    void clear() { *this = HalfbandOversampler{}; }
};

// Both channels of a stereo signal at once: the up-sampler's two branches of
// both channels run in the four lanes of one vector, the down-sampler's two
// sections likewise. Each channel's sub-samples are bit-identical to those of
// its own HalfbandOversampler.
struct StereoHalfbandOversampler {
    StereoQuad up[3] = {}; // lanes: branch A left, right; branch B left, right
    StereoQuad down = {};  // lanes: section A left, right; section B left, right

    static StereoQuad section(StereoQuad& z, StereoQuad u, StereoQuad c) {
        const StereoQuad d = (u - z) * c;
        const StereoQuad y = z + d;
        z = u + d;
        return y;
    }
    // x: one sample per channel; a and b: the first and second sub-samples.
    void upsample(StereoPair x, StereoPair& a, StereoPair& b) {
        StereoQuad v = {x[0], x[1], x[0], x[1]};
        for (int k = 0; k < 3; ++k)
            v = section(up[k], v,
                        StereoQuad{kHalfbandUpA[k], kHalfbandUpA[k], kHalfbandUpB[k], kHalfbandUpB[k]});
        a = StereoPair{v[0], v[1]};
        b = StereoPair{v[2], v[3]};
    }
    StereoPair downsample(StereoPair p, StereoPair q) {
        const StereoQuad y =
            section(down, StereoQuad{p[0], p[1], q[0], q[1]},
                    StereoQuad{kHalfbandDownA, kHalfbandDownA, kHalfbandDownB, kHalfbandDownB});
        return 0.5f * (StereoPair{y[0], y[1]} + StereoPair{y[2], y[3]});
    }
    void clear() { *this = StereoHalfbandOversampler{}; }
};

} // namespace quor
