// The built-in demo material: two bars of synthesised drums at 120 BPM with
// chord stabs, then a final ringing chord. Deterministic: the same samples on
// every run.
#pragma once

#include <vector>

namespace quor::cli {

struct StereoSignal {
    double sampleRate = 0.0;
    std::vector<float> left;
    std::vector<float> right;
};

StereoSignal demoSignal(double sampleRate = 48000.0);

// Deterministic white noise in [-1, 1) (xorshift32).
class NoiseSource {
  public:
    explicit NoiseSource(unsigned seed) : state(seed ? seed : 1u) {}
    float next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<float>(static_cast<double>(state) / 2147483648.0 - 1.0);
    }

  private:
    unsigned state;
};

} // namespace quor::cli
