// The signal a level detector hears: the main inputs, or with the side-chain
// switched on inputs 3 and 4, each falling back to its own main input where
// the host passes no side-chain channel.
#pragma once

#include "framework/effect.h"

namespace quor {

inline void selectDetector(const AudioBuffers& buffers, bool sideChain, const float* (&detector)[2]) {
    for (std::int32_t c = 0; c < 2; ++c)
        detector[c] = sideChain && buffers.inputs[c + 2] ? buffers.inputs[c + 2] : buffers.inputs[c];
}

} // namespace quor
