// The mix law: a "Mix" value 0..1 becomes a dry and a wet gain whose sum of
// powers stays near constant across the range (both 0.708 at the centre).
#pragma once

namespace quor {

struct DryWetMix {
    explicit DryWetMix(float mix);

    float dry;
    float wet;
};

} // namespace quor
