// A memoryless curve over both channels, frame by frame, at the base rate or
// at twice it between the half-band filters. The loop is chosen once per
// block (oversampled or not, replacing or adding), never per sample.
//
// `controls.curve()` gives the frame's curve (it may read smoothed
// quantities); `controls.next()` moves those on once the frame is done.
#pragma once

#include "dsp/halfband_oversampler.h"
#include "dsp/stereo_halfband.h"
#include "framework/effect.h"

namespace quor {

template <bool Oversampled, bool Replacing, class Controls>
void shapeStereoFrames(AudioBuffers& buffers, HalfbandOversampler (&oversamplers)[2], Controls& controls) {
    const float* in0 = buffers.inputs[0];
    const float* in1 = buffers.inputs[1];
    float* out0 = buffers.outputs[0];
    float* out1 = buffers.outputs[1];
    StereoHalfband halfband(oversamplers);
    for (std::int32_t i = 0; i < buffers.frames; ++i) {
        const auto curve = controls.curve();
        const float x0 = in0[i], x1 = in1[i]; // read both before writing: buffers may be shared
        float y0, y1;
        if (Oversampled) {
            halfband.process(x0, x1, curve, y0, y1);
        } else {
            y0 = curve(x0);
            y1 = curve(x1);
        }
        if (Replacing) {
            out0[i] = y0;
            out1[i] = y1;
        } else {
            out0[i] += y0;
            out1[i] += y1;
        }
        controls.next();
    }
    halfband.store(oversamplers);
}

template <class Controls>
void shapeStereo(AudioBuffers& buffers, bool replacing, bool oversampled,
                 HalfbandOversampler (&oversamplers)[2], Controls controls) {
    if (oversampled) {
        if (replacing)
            shapeStereoFrames<true, true>(buffers, oversamplers, controls);
        else
            shapeStereoFrames<true, false>(buffers, oversamplers, controls);
    } else {
        if (replacing)
            shapeStereoFrames<false, true>(buffers, oversamplers, controls);
        else
            shapeStereoFrames<false, false>(buffers, oversamplers, controls);
    }
}

} // namespace quor
