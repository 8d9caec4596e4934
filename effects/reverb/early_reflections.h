// The Reverb's stages around the tail: the early-reflection tap network, the
// long feedback delay with its echo scale, and the band-pass on the wet sum.
#pragma once

#include "effects/reverb/reverb_line.h"

#include <algorithm>
#include <cstdint>
#include <limits>

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

// Ratio of successive tap weights, the first tap having weight 1: 0.68 for
// four taps, 0.99 for a single one, smaller the more taps there are.
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

    // Block start: the weight and read position of every tap, and the longest
    // run of frames whose taps all reach back to before the run.
    struct Block {
        float weight[kMaxTapsPerChannel];
        ReverbLine::Position tap[2 * kMaxTapsPerChannel];
        std::int32_t runFrames;
    };
    void prepare(Block& block) const {
        const float ratio = tapCount >= 1 ? tapWeightRatio(tapCount) : 0.0f;
        float weight = 1.0f;
        std::int32_t shortest = std::numeric_limits<std::int32_t>::max();
        for (std::int32_t s = 0; s < tapCount; ++s) {
            block.weight[s] = weight;
            weight = weight * ratio;
            for (std::int32_t c = 0; c < 2; ++c) {
                block.tap[2 * s + c] = ReverbLine::positionOf(tapDelaySamples[2 * s + c]);
                shortest = std::min(shortest, block.tap[2 * s + c].whole);
            }
        }
        block.runFrames = std::max(shortest, std::int32_t{1});
    }

    // A run of at most block.runFrames frames: chain[c][k] (entering at
    // 1e-10) receives the weighted tap sum of channel c at frame k, then the
    // inputs x[c][k] enter the lines. No tap of the run reaches a value the
    // run writes, so all reads come first, tap after tap over the frames;
    // every frame still adds its taps in tap order. Without taps the input
    // passes straight on.
    void process(const float* const x[2], float* const chain[2], std::int32_t frames, const Block& block) {
        for (std::int32_t c = 0; c < 2; ++c) {
            ReverbLine& l = line[c];
            float* acc = chain[c];
            if (tapCount < 1) {
                for (std::int32_t k = 0; k < frames; ++k)
                    acc[k] = acc[k] + x[c][k];
            }
            for (std::int32_t s = 0; s < tapCount; ++s) {
                const ReverbLine::Position p = block.tap[2 * s + c];
                const float w = block.weight[s];
                std::int32_t slot = l.nextWrite - p.whole;
                if (slot < 0) slot += l.capacity;
                // Frames up to the wrap read upwards from slot, the rest from
                // slot 0 (whose older neighbour is the guard's copy of the last slot).
                const std::int32_t beforeWrap = std::min(frames, l.capacity - slot);
                accumulateTap(acc, l.body + slot, beforeWrap, w, p.fraction);
                accumulateTap(acc + beforeWrap, l.body, frames - beforeWrap, w, p.fraction);
            }
            l.writeRun(x[c], frames);
        }
    }

  private:
    static void accumulateTap(float* acc, const float* newer, std::int32_t frames, float weight,
                              float fraction) {
        for (std::int32_t k = 0; k < frames; ++k) {
            const float a = newer[k];
            const float b = newer[k - 1];
            acc[k] = acc[k] + weight * (a + (b - a) * fraction);
        }
    }
};

} // namespace quor
