// Two channels side by side in the lanes of one vector register. Every lane
// computes exactly what the scalar code computes for its channel.
#pragma once

namespace quor {

typedef float StereoPair __attribute__((vector_size(2 * sizeof(float))));

} // namespace quor
