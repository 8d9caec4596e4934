// Audio unchanged, for an effect that cannot run yet (no sample rate, no
// line storage).
#pragma once

#include "framework/effect.h"

#include <cstring>

namespace quor {

inline void passThrough(const AudioBuffers& buffers, bool replacing) {
    const auto frames = static_cast<std::size_t>(buffers.frames > 0 ? buffers.frames : 0);
    for (std::int32_t c = 0; c < 2; ++c) {
        const float* in = buffers.inputs[c];
        float* out = buffers.outputs[c];
        if (replacing) {
            if (in != out) std::memmove(out, in, frames * sizeof(float));
        } else {
            for (std::size_t i = 0; i < frames; ++i)
                out[i] += in[i];
        }
    }
}

} // namespace quor
