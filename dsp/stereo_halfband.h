// The half-band oversamplers of two channels run side by side. Per channel
// the up-sampler's branches and the down-sampler's sections are independent
// recursions, so the four of each kind (two branches or sections, two
// channels) share the lanes of one vector. Every lane computes what its
// channel's section alone would, bit for bit; only the recursions overlap in
// time.
#pragma once

#include "dsp/halfband_oversampler.h"

namespace quor {

// Lanes: channel 0 branch A, channel 1 branch A, channel 0 branch B,
// channel 1 branch B; for sub-samples: first of 0, first of 1, second of 0,
// second of 1.
typedef float FloatLanes __attribute__((vector_size(16)));

class StereoHalfband {
  public:
    // Takes over the states of both channels' oversamplers.
    explicit StereoHalfband(const HalfbandOversampler (&os)[2]) {
        const HalfbandUpsampler &u0 = os[0].up, &u1 = os[1].up;
        up[0] = FloatLanes{u0.a1.z, u1.a1.z, u0.b1.z, u1.b1.z};
        up[1] = FloatLanes{u0.a2.z, u1.a2.z, u0.b2.z, u1.b2.z};
        up[2] = FloatLanes{u0.a3.z, u1.a3.z, u0.b3.z, u1.b3.z};
        down = FloatLanes{os[0].downA.z, os[1].downA.z, os[0].downB.z, os[1].downB.z};
    }

    // Hands the states back.
    void store(HalfbandOversampler (&os)[2]) const {
        for (int c = 0; c < 2; ++c) {
            HalfbandUpsampler& u = os[c].up;
            u.a1.z = up[0][c], u.a2.z = up[1][c], u.a3.z = up[2][c];
            u.b1.z = up[0][c + 2], u.b2.z = up[1][c + 2], u.b3.z = up[2][c + 2];
            os[c].downA.z = down[c];
            os[c].downB.z = down[c + 2];
        }
    }

    // Both channels' two sub-samples.
    FloatLanes upsample(float x0, float x1) {
        using U = HalfbandUpsampler;
        FloatLanes v = {x0, x1, x0, x1};
        for (int k = 0; k < 3; ++k)
            v = section(up[k], v, FloatLanes{U::kBranchA[k], U::kBranchA[k], U::kBranchB[k], U::kBranchB[k]});
        return v;
    }

    // The processed sub-samples, in the lanes upsample gave them, to one
    // output sample per channel.
    void downsample(FloatLanes p, float& y0, float& y1) {
        using O = HalfbandOversampler;
        const FloatLanes d = section(down, p, FloatLanes{O::kDownA, O::kDownA, O::kDownB, O::kDownB});
        y0 = 0.5f * (d[0] + d[2]);
        y1 = 0.5f * (d[1] + d[3]);
    }

    // One frame of a memoryless stage f at twice the rate.
    template <class Stage> void process(float x0, float x1, const Stage& f, float& y0, float& y1) {
        const FloatLanes v = upsample(x0, x1);
        downsample(FloatLanes{f(v[0]), f(v[1]), f(v[2]), f(v[3])}, y0, y1);
    }

  private:
    // One all-pass section (c + z^-1) / (1 + c z^-1) per lane, its operations
    // in exactly this order.
    static FloatLanes section(FloatLanes& z, FloatLanes u, FloatLanes c) {
        const FloatLanes d = (u - z) * c;
        const FloatLanes y = z + d;
        z = u + d;
        return y;
    }

    FloatLanes up[3];
    FloatLanes down;
};

} // namespace quor
