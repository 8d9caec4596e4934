// The Reverb's stages around the tail: the early-reflection tap network, the
// long feedback delay with its echo scale, and the band-pass on the wet sum.
#pragma once

#include "effects/reverb/reverb_line.h"

#include <cstdint>

namespace quor {

constexpr std::int32_t kMaxTapsPerChannel = 12;

// Stored values of the parameters the tap layout depends on.
struct EarlySettings {
    float delay;        // pre-delay control 0..1
    float direction;    // above 0.5: short taps first
    float density;      // tap count and span
    float spread;       // tap spread control
    float distribution; // tap spacing exponent control
    float stereo;       // Tail "Stereo": left span longer, right shorter
};

// The tap layout for a sample rate: per channel c, tapDelaySamples[2s + c] is
// tap s; each line holds capacity[c] samples, enough for the longest tap.
struct EarlyPlan {
    std::int32_t tapCount;
    float tapDelaySamples[2 * kMaxTapsPerChannel];
    std::int32_t capacity[2];
};

EarlyPlan planEarlyReflections(const EarlySettings& settings, float sampleRateHz);

// Ratio of successive tap weights: the first tap has weight 1 and the last
// about 0.01^((N-1)/N), whatever the count.
float tapWeightRatio(std::int32_t tapCount);

// Capacity of each feedback line: room for the longest delay (1.1 s) plus
// the interpolation neighbour.
std::int32_t feedbackLineCapacity(float sampleRateHz);

// Left and right feedback times in samples (at least 1): "Stereo" makes the
// left one up to 10 % longer and the right one up to 10 % shorter.
struct FeedbackTimes {
    float leftSamples;
    float rightSamples;
};
FeedbackTimes feedbackDelaySamples(float delayValue, float stereoValue, float sampleRateHz);

// Gain of the echo written back into the feedback line when it follows the
// tail: short echoes recirculate inverted and weak, long ones with up to 0.75.
float echoScale(float leftDelaySamples);

struct BandPassCoefficients {
    float lowpass;  // pole of the smoothing low-pass
    float highpass; // coefficient of the slow tracker that is subtracted
};
BandPassCoefficients bandPassCoefficients(float frequencyValue, float widthValue);

// One-pole low-pass followed by the removal of a slow tracker of its output.
struct BandPassState {
    float tracker = 0.0f;
    float lowpass = 0.0f;

    float process(float z, const BandPassCoefficients& k) {
        lowpass = (lowpass - z) * k.lowpass + z;
        tracker = (lowpass - tracker) * k.highpass + tracker;
        return lowpass - tracker;
    }
};

// The tap network of both channels.
struct EarlyReflections {
    ReverbLine line[2];
    float tapDelaySamples[2 * kMaxTapsPerChannel] = {};
    std::int32_t tapCount = 0;

    // Block start: the weight of each tap.
    void tapWeights(float* weights) const {
        const float ratio = tapWeightRatio(tapCount);
        float weight = 1.0f;
        for (std::int32_t s = 0; s < tapCount; ++s) {
            weights[s] = weight;
            weight = weight * ratio;
        }
    }

    // Weighted tap sum of channel c added to chain (which enters at 1e-10),
    // then x enters the line. Without taps the input passes straight on.
    float process(std::int32_t c, float x, float chain, const float* weights) {
        ReverbLine& l = line[c];
        const std::int32_t n = tapCount;
        if (n >= 1) {
            for (std::int32_t s = 0; s < n; ++s)
                chain = chain + weights[s] * l.read(tapDelaySamples[2 * s + c]);
        } else {
            chain = chain + x;
        }
        l.write(x);
        return chain;
    }
};

} // namespace quor
