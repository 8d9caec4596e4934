// Limiter: a look-ahead peak limiter. The main signal is delayed by the
// look-ahead while the gain, computed from the undelayed detector signal,
// already ramps down towards the lowest target seen in the look-ahead window;
// after a hold it recovers with the release. "Ratio" scales the whole gain
// change in dB (0 leaves the signal untouched), and LTC-comp pads the path to
// a constant 100 ms so that the reported latency never changes.
#include "effects/effects.h"
#include "effects/pass_through.h"
#include "effects/side_chain.h"
#include "framework/display.h"
#include "framework/effect.h"
#include "framework/numeric.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace quor {

namespace {

enum LimiterParam {
    kAttack,
    kHold,
    kRelease,
    kThreshold,
    kRatio,
    kGain,
    kLookahead,
    kSideChain,
    kStereoLink,
    kLtcComp,
    kLimiterParamCount
};

const ParamInfo kLimiterParams[kLimiterParamCount] = {
    {"Attack", 0.0f, 1.0f, 0, 0.2f},      {"Hold", 0.0f, 1.0f, 0, 0.2f},
    {"Release", 0.0f, 1.0f, 0, 0.5f},     {"Threshold", 0.0f, 1.0f, 0, 1.0f},
    {"Ratio", 0.0f, 1.0f, 0, 1.0f},       {"Gain", 0.0f, 1.0f, 0, 0.0f},
    {"Lookahead", 0.0f, 1.0f, 0, 1.0f},   {"Side-chain", 0.0f, 1.0f, 1, 0.0f},
    {"Stereo-link", 0.0f, 1.0f, 1, 1.0f}, {"LTC-comp", 0.0f, 1.0f, 1, 0.0f},
};

// The gain covers all but this fraction of its way in an attack or release
// time (bit pattern 0x3A831200, slightly under 1/1000).
constexpr float kGainApproach = 0.0009999871253967285f;
constexpr float kOutputTrim = 0.999f; // always applied, about -0.009 dB
constexpr float kLongestDelaySeconds = 0.1f;

// Processing curves, in seconds.
float attackSeconds(float p) {
    return integerPower(4, p) * 0.099f + 0.001f;
}
float holdSeconds(float p) {
    return integerPower(2, p) * 0.5f;
}
float releaseSeconds(float p) {
    return integerPower(4, p) * 0.99f + 0.01f;
}
float thresholdDb(float p) {
    return (1.0f - p) * -48.0f;
}
float makeupDb(float p) {
    return p * 48.0f;
}

float approachCoefficient(float seconds, float sampleRate) {
    return 1.0f - std::pow(kGainApproach, 1.0f / (seconds * sampleRate));
}

std::int32_t roundedSamples(float samples) {
    return truncatedInt(std::floor(samples + 0.5f));
}

// Every delay up to 100 ms fits.
std::int32_t lineLengthFor(float sampleRate) {
    if (!(sampleRate > 0.0f) || !std::isfinite(sampleRate)) return 0;
    return roundedSamples(kLongestDelaySeconds * sampleRate) + 1;
}

// An integer ring delay over storage the effect owns.
struct DelayLine {
    float* buffer = nullptr;
    std::int32_t position = 0;

    // Writes x and returns the sample `delay` steps older (x itself at 0).
    float push(float x, std::int32_t delay, std::int32_t length) {
        position = position + 1 == length ? 0 : position + 1;
        buffer[position] = x;
        const std::int32_t read = position - delay;
        return buffer[read < 0 ? read + length : read];
    }
};

// One channel's gain computer.
struct GainState {
    float envelope = 0.0f; // peak detector
    float gain = 1.0f;
    float window = 0.0f;    // look-ahead window counter, 1 -> 0
    float windowMin = 0.0f; // lowest target in the open window
    float hold = 0.0f;      // 1 -> 0 before the release starts
};

struct LimiterCoefficients {
    float detectorRelease = 0.0f; // the detector falls by half in 50 ms
    float attackCoef = 0.0f;
    float releaseCoef = 0.0f;
    float windowStep = 0.0f; // 1 / (look-ahead + 1)
    float holdStep = 0.0f;
    float threshold = 0.0f; // linear
    float makeup = 0.0f;    // linear
};

inline void computeGain(GainState& s, float x, const LimiterCoefficients& k) {
    if (x > s.envelope)
        s.envelope = x;
    else // the offset keeps the envelope out of the subnormal range
        s.envelope += (x + 1e-10f - s.envelope) * k.detectorRelease;
    const float target = s.envelope > k.threshold ? k.threshold / s.envelope : 1.0f;
    if (s.gain > target || s.window > 0.0f) {
        s.hold = 1.0f;
        s.window -= k.windowStep;
        if (target <= s.windowMin) {
            s.window = 1.0f; // a new lower target restarts the window
            s.windowMin = target;
        }
        // Adding -1 and then 1 flushes very small targets to 0.
        s.gain += (((s.windowMin + -1.0f) + 1.0f) - s.gain) * k.attackCoef;
        if (s.gain < s.windowMin) s.gain = s.windowMin;
    } else {
        s.windowMin = 1.0f;
        if (s.hold > 0.0f) {
            s.hold -= k.holdStep;
        } else {
            s.gain += (target - s.gain) * k.releaseCoef;
            if (s.gain > target) s.gain = target;
        }
    }
}

// The output factor of a gain: (gain * makeup)^ratio. It is recomputed only
// when the gain moves, so a steady or held gain costs no logarithm; at ratio
// 0 it is exactly 1.
struct GainFactor {
    float ratio;
    float makeup;
    float lastGain = -1.0f;
    float factor = 1.0f;
    float operator()(float gain) {
        if (gain != lastGain && ratio != 0.0f) {
            lastGain = gain;
            factor = std::exp(std::log(gain * makeup) * ratio);
        }
        return factor;
    }
};

// Zeroed storage for the four lines, made off the audio thread.
class LimiterLines final : public DeferredPackage {
  public:
    explicit LimiterLines(std::int32_t samples)
        : length(samples), storage(new float[4 * static_cast<std::size_t>(samples)]()) {}
    std::int32_t length;
    std::unique_ptr<float[]> storage;
};

class Limiter final : public HostedEffect {
  public:
    Limiter() : HostedEffect("Limiter", kLimiterParams, kLimiterParamCount) { numInputs = 4; }

    void clear() override {}

    // Audio thread, at a block start.
    void reset() override {
        state[0] = state[1] = GainState{};
        if (linesDirty)
            std::fill(storage.get(), storage.get() + 4 * static_cast<std::size_t>(lineLength), 0.0f);
        linesDirty = false;
    }

    bool resetClearsLargeBuffers() const override { return linesDirty; }

    // Off the audio thread.
    std::unique_ptr<DeferredPackage> prepareDeferred(const DeferredRequest& request) override {
        const std::int32_t length = lineLengthFor(request.sampleRate);
        if (length == 0 || length == preparedLength) return nullptr;
        auto lines = std::make_unique<LimiterLines>(length);
        preparedLength = length;
        return lines;
    }

    void installDeferred(DeferredPackage& package) override {
        auto* lines = dynamic_cast<LimiterLines*>(&package);
        if (!lines) return;
        std::swap(storage, lines->storage);
        std::swap(lineLength, lines->length);
        for (std::int32_t c = 0; c < 2; ++c) {
            lookahead[c] = DelayLine{storage.get() + c * lineLength, 0};
            compensation[c] = DelayLine{storage.get() + (2 + c) * lineLength, 0};
        }
        linesDirty = false;
    }

    void sampleRateChanged() override {
        parameterChanged(kAttack);
        parameterChanged(kHold);
        parameterChanged(kRelease);
        coef.detectorRelease = 1.0f - std::pow(0.5f, 1.0f / (0.05f * sampleRate));
    }

    void parameterChanged(std::int32_t index) override {
        const float p = values[index];
        const float fs = sampleRate;
        switch (index) {
        case kAttack:
        case kLookahead:
            if (fs != 0.0f) {
                const float attack = attackSeconds(values[kAttack]);
                coef.attackCoef = approachCoefficient(attack, fs);
                lookaheadSamples = roundedSamples(attack * fs * values[kLookahead]);
                coef.windowStep = 1.0f / static_cast<float>(lookaheadSamples + 1);
            }
            updateLatency();
            break;
        case kHold:
            if (fs != 0.0f) {
                const float hold = holdSeconds(p);
                coef.holdStep = hold > 0.00001f ? 1.0f / (hold * fs) : 1.0f;
            }
            break;
        case kRelease:
            if (fs != 0.0f) coef.releaseCoef = approachCoefficient(releaseSeconds(p), fs);
            break;
        case kThreshold:
            coef.threshold = std::pow(10.0f, thresholdDb(p) / 20.0f);
            break;
        case kGain:
            coef.makeup = std::pow(10.0f, makeupDb(p) / 20.0f);
            break;
        case kLtcComp:
            compensate = p > 0.0f;
            updateLatency();
            break;
        default:
            break; // Ratio, Side-chain and Stereo-link are read while processing
        }
    }

    // Control thread copy: values only. The Attack and Hold texts follow
    // display curves of their own.
    void formatValue(std::int32_t index, char* text, std::int32_t maxLength) override {
        const float p = values[index];
        switch (index) {
        case kAttack:
            formatTime(integerPower(2, p) * 0.099f + 0.001f, text);
            break;
        case kHold:
            formatTime(integerPower(2, p) * 0.499f + 0.001f, text);
            break;
        case kRelease:
            formatTime(releaseSeconds(p), text);
            break;
        case kThreshold:
            std::sprintf(text, "%.1f dB", static_cast<double>(1.0f - p) * -48.0);
            break;
        case kGain:
            std::sprintf(text, "+%.1f dB", static_cast<double>(makeupDb(p)));
            break;
        default:
            HostedEffect::formatValue(index, text, maxLength);
        }
    }

    // Audio thread.
    void process(AudioBuffers& buffers, bool replacing) override {
        if (lookaheadSamples >= lineLength || compensationSamples >= lineLength) {
            passThrough(buffers, replacing); // no rate yet, or lines not (yet) sized for it
            return;
        }
        linesDirty = true;
        const float* detector[2];
        selectDetector(buffers, values[kSideChain] > 0.5f, detector);
        GainFactor factor{values[kRatio], coef.makeup};
        if (values[kStereoLink] > 0.5f) {
            runLinked(buffers, detector, factor, replacing);
        } else {
            for (std::int32_t c = 0; c < 2; ++c)
                runChannel(c, buffers, detector[c], factor, replacing);
        }
    }

  private:
    // Latency first, so that the look-ahead plus the compensation always
    // equals the reported latency.
    void updateLatency() {
        if (sampleRate == 0.0f) {
            latency = 0;
            return;
        }
        latency = compensate ? roundedSamples(kLongestDelaySeconds * sampleRate) : lookaheadSamples;
        compensationSamples = compensate ? std::max(latency - lookaheadSamples, 0) : 0;
    }

    // One output sample of channel c from its delayed input.
    float finish(std::int32_t c, float delayed, float gainFactor) {
        const float y = delayed * kOutputTrim * gainFactor;
        return compensate ? compensation[c].push(y, compensationSamples, lineLength) : y;
    }

    void runChannel(std::int32_t c, AudioBuffers& buffers, const float* detector, GainFactor& factor,
                    bool replacing) {
        const float* in = buffers.inputs[c];
        float* out = buffers.outputs[c];
        GainState s = state[c];
        const LimiterCoefficients k = coef;
        for (std::int32_t i = 0; i < buffers.frames; ++i) {
            computeGain(s, std::fabs(detector[i]), k);
            const float a = lookahead[c].push(in[i], lookaheadSamples, lineLength);
            const float y = finish(c, a, factor(s.gain));
            out[i] = replacing ? y : y + out[i];
        }
        state[c] = s;
    }

    // One gain computer on the louder detector; both channels take its gain.
    void runLinked(AudioBuffers& buffers, const float* const* detector, GainFactor& factor, bool replacing) {
        const float* in[2] = {buffers.inputs[0], buffers.inputs[1]};
        float* out[2] = {buffers.outputs[0], buffers.outputs[1]};
        GainState s = state[0];
        const LimiterCoefficients k = coef;
        for (std::int32_t i = 0; i < buffers.frames; ++i) {
            computeGain(s, std::max(std::fabs(detector[0][i]), std::fabs(detector[1][i])), k);
            const float f = factor(s.gain);
            for (std::int32_t c = 0; c < 2; ++c) {
                const float a = lookahead[c].push(in[c][i], lookaheadSamples, lineLength);
                const float y = finish(c, a, f);
                out[c][i] = replacing ? y : y + out[c][i];
            }
        }
        state[0] = s;
        state[1].gain = s.gain;
    }

    LimiterCoefficients coef;
    bool compensate = false;
    std::int32_t lookaheadSamples = 0;
    std::int32_t compensationSamples = 0;
    GainState state[2];
    DelayLine lookahead[2];
    DelayLine compensation[2];
    std::unique_ptr<float[]> storage; // the four lines, lineLength samples each
    std::int32_t lineLength = 0;
    bool linesDirty = false;         // written since the last clear
    std::int32_t preparedLength = 0; // what prepareDeferred last made
};

} // namespace

HostedEffect* createLimiter() {
    return new Limiter;
}

} // namespace quor
