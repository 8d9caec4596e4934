// Smoothed quantities as a frame-by-frame loop reads them, the loop chosen
// once per block. With no ramp active they hold still for the block: the loop
// reads copies it may keep in registers. Otherwise it reads the owner's
// floats and advances the smoother after every frame.
#pragma once

#include "dsp/param_smoother.h"

#include <type_traits>

namespace quor {

template <bool Gliding> struct FrameGlide {
    using Value = std::conditional_t<Gliding, const float&, float>;
    ParamSmoother& smoother;
    // Once per frame, after the frame has been computed.
    void next() const {
        if (Gliding) smoother.advance();
    }
};

// Runs body(FrameGlide<false>) when nothing glides in the block, else body(FrameGlide<true>).
template <class Body> void withFrameGlide(ParamSmoother& smoother, Body&& body) {
    if (smoother.activeRamps() == 0)
        body(FrameGlide<false>{smoother});
    else
        body(FrameGlide<true>{smoother});
}

} // namespace quor
