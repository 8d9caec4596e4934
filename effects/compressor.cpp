// Compressor: a feedback compressor without look-ahead. The detector sees
// the input level times the current gain, so a steady level x settles where
// gain = 1 / (1 + k x); "Threshold" sets k so that a full-scale input settles
// at the threshold. Mode B scales each gain step by the gain itself, so a
// deeply compressed signal recovers slowly at first. Threshold changes glide
// over 200 ms.
#include "dsp/param_smoother.h"
#include "effects/effects.h"
#include "effects/side_chain.h"
#include "framework/display.h"
#include "framework/effect.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace quor {

namespace {

enum CompressorParam {
    kAttack,
    kRelease,
    kThreshold,
    kMix,
    kGain,
    kMode,
    kSideChain,
    kStereoLink,
    kCompressorParamCount
};

const ParamInfo kCompressorParams[kCompressorParamCount] = {
    {"Attack", 0.0f, 1.0f, 0, 0.0f},     {"Release", 0.0f, 1.0f, 0, 0.5f},
    {"Threshold", 0.0f, 1.0f, 0, 1.0f},  {"Mix", 0.0f, 1.0f, 0, 1.0f},
    {"Gain", 0.0f, 1.0f, 0, 0.0f},       {"Mode", 0.0f, 1.0f, 1, 0.0f},
    {"Side-chain", 0.0f, 1.0f, 1, 0.0f}, {"Stereo-link", 0.0f, 1.0f, 1, 0.0f},
};

constexpr float kThresholdGlideSeconds = 0.2f;
constexpr std::int32_t kChunkFrames = 64; // frames whose threshold trajectory is computed at once

float cube(float p) {
    return p * p * p;
}
float attackSeconds(float p, bool modeB) {
    return modeB ? 0.4999f * cube(p) + 0.0001f : 1.499f * cube(p) + 0.001f;
}
float releaseSeconds(float p, bool modeB) {
    return modeB ? 1.4975f * cube(p) + 0.0025f : 2.995f * cube(p) + 0.005f;
}
float makeupDb(float p) {
    return p * 48.0f;
}

// The gain covers all but 1 % of its way in the given time.
float approachCoefficient(float seconds, float sampleRate) {
    return 1.0f - std::pow(0.01f, 1.0f / (seconds * sampleRate));
}

// The k of gain = 1 / (1 + k x) that settles a full-scale input at the
// threshold (k is close to 1 / threshold - 1).
float compressionFactorFor(float p) {
    const float threshold = std::pow(10.0f, ((p * -0.999f) + 1.0f) * -48.0f / 20.0f);
    return -1.0f / ((1.0f - 1.0f / ((1.0f - threshold) + 1e-10f)) + 1e-10f);
}

// One step of the gain g towards 1 / (1 + k x) at detector level x:
// t = 1 - (x g) k; d = max(t, 0) - g; g += (B ? g d : d) * (d < 0 ? attack : release).
// With noise the sign of d flips from sample to sample, so the SSE form
// keeps every decision a select: max(t, 0) is one instruction (it keeps a
// NaN, and the sign of a zero t that it may keep changes no step), and both
// candidate gains are formed before the sign of d picks one.
#if defined(__SSE__) || defined(__x86_64__)
template <bool ModeB>
inline float nextGain(float gain, float x, float k, float attackCoef, float releaseCoef) {
    const __m128 g = _mm_set_ss(gain);
    const __m128 t = _mm_sub_ss(_mm_set_ss(1.0f), _mm_mul_ss(_mm_mul_ss(_mm_set_ss(x), g), _mm_set_ss(k)));
    const __m128 d = _mm_sub_ss(_mm_max_ss(_mm_setzero_ps(), t), g);
    const __m128 step = ModeB ? _mm_mul_ss(g, d) : d;
    const __m128 falling = _mm_add_ss(g, _mm_mul_ss(step, _mm_set_ss(attackCoef)));
    const __m128 rising = _mm_add_ss(g, _mm_mul_ss(step, _mm_set_ss(releaseCoef)));
    const __m128 isFalling = _mm_cmplt_ss(d, _mm_setzero_ps());
    return _mm_cvtss_f32(_mm_or_ps(_mm_and_ps(isFalling, falling), _mm_andnot_ps(isFalling, rising)));
}
#else
template <bool ModeB> inline float nextGain(float g, float x, float k, float attackCoef, float releaseCoef) {
    const float t = 1.0f - (x * g) * k;
    const float d = (std::fabs(t) + t) * 0.5f - g;
    const float step = ModeB ? g * d : d;
    return g + step * (d < 0.0f ? attackCoef : releaseCoef);
}
#endif

class Compressor final : public HostedEffect {
  public:
    Compressor() : HostedEffect("Compressor", kCompressorParams, kCompressorParamCount), smoother(1) {
        numInputs = 4;
    }

    void clear() override {}
    // Audio thread. The threshold glide goes on.
    void reset() override { gain[0] = gain[1] = 1.0f; }

    void sampleRateChanged() override { updateCoefficients(); }

    void parameterChanged(std::int32_t index) override {
        const float p = values[index];
        switch (index) {
        case kMix:
            wet = p;
            dry = 1.0f - p;
            break;
        case kGain:
            makeup = std::pow(10.0f, makeupDb(p) / 20.0f);
            break;
        case kSideChain:
        case kStereoLink:
            break; // read while processing
        default:
            updateCoefficients();
        }
    }

    // Control thread copy: values only. The time texts switch to mode B
    // above 0.5, processing above 0.
    void formatValue(std::int32_t index, char* text, std::int32_t maxLength) override {
        const float p = values[index];
        const bool modeBText = values[kMode] > 0.5f;
        switch (index) {
        case kAttack:
            formatTime(attackSeconds(p, modeBText), text);
            break;
        case kRelease:
            formatTime(releaseSeconds(p, modeBText), text);
            break;
        case kThreshold:
            std::sprintf(text, "%.1f dB", static_cast<double>(1.0f - p) * -48.0);
            break;
        case kGain:
            std::sprintf(text, "+%.1f dB", static_cast<double>(makeupDb(p)));
            break;
        case kMode:
            std::sprintf(text, "%s", p > 0.0f ? "B" : "A");
            break;
        default:
            HostedEffect::formatValue(index, text, maxLength);
        }
    }

    // Audio thread.
    void process(AudioBuffers& buffers, bool replacing) override {
        if (buffers.frames <= 0) return;
        const float* detector[2];
        selectDetector(buffers, values[kSideChain] > 0.0f, detector);
        const bool linked = values[kStereoLink] > 0.0f;
        if (values[kMode] > 0.0f)
            linked ? run<true, true>(buffers, detector, replacing)
                   : run<true, false>(buffers, detector, replacing);
        else
            linked ? run<false, true>(buffers, detector, replacing)
                   : run<false, false>(buffers, detector, replacing);
        smoother.markActive();
    }

  private:
    void updateCoefficients() {
        const float fs = sampleRate;
        smoother.configure(kThresholdGlideSeconds, fs);
        const bool modeB = values[kMode] > 0.0f;
        attackCoef = approachCoefficient(attackSeconds(values[kAttack], modeB), fs);
        releaseCoef = approachCoefficient(releaseSeconds(values[kRelease], modeB), fs);
        smoother.setTarget(&compressionFactor, compressionFactorFor(values[kThreshold]));
    }

    // Both channels advance side by side. Every channel sees the same
    // threshold trajectory, taken from the smoother chunk by chunk while it
    // glides; afterwards the smoother has advanced by exactly the block.
    // Unlinked channels are independent, so this equals running one channel
    // after the other.
    template <bool ModeB, bool Linked>
    void run(AudioBuffers& buffers, const float* const* detector, bool replacing) {
        float k[kChunkFrames];
        for (std::int32_t start = 0; start < buffers.frames;) {
            if (smoother.activeRamps() == 0) {
                const float steady = compressionFactor;
                runFrames<ModeB, Linked>(
                    buffers, detector, start, buffers.frames - start,
                    [steady](std::int32_t) { return steady; }, replacing);
                return;
            }
            const std::int32_t n = std::min(kChunkFrames, buffers.frames - start);
            smoother.markActive();
            for (std::int32_t j = 0; j < n; ++j) {
                k[j] = compressionFactor; // k before each sample, advanced after it
                smoother.advance();
            }
            runFrames<ModeB, Linked>(
                buffers, detector, start, n, [&k](std::int32_t j) { return k[j]; }, replacing);
            start += n;
        }
    }

    template <bool ModeB, bool Linked, class Factor>
    void runFrames(AudioBuffers& buffers, const float* const* detector, std::int32_t start, std::int32_t n,
                   Factor factorAt, bool replacing) {
        const float* in[2] = {buffers.inputs[0] + start, buffers.inputs[1] + start};
        float* out[2] = {buffers.outputs[0] + start, buffers.outputs[1] + start};
        const float* d[2] = {detector[0] + start, detector[1] + start};
        const float wetGain = wet, dryGain = dry, makeupGain = makeup;
        const float attack = attackCoef, release = releaseCoef;
        float g0 = gain[0], g1 = gain[1];
        for (std::int32_t i = 0; i < n; ++i) {
            const float x0 = in[0][i], x1 = in[1][i]; // read before the writes: in place is allowed
            const float k = factorAt(i);
            if (Linked) {
                g0 =
                    nextGain<ModeB>(g0, std::max(std::fabs(d[0][i]), std::fabs(d[1][i])), k, attack, release);
                g1 = g0;
            } else {
                g0 = nextGain<ModeB>(g0, std::fabs(d[0][i]), k, attack, release);
                g1 = nextGain<ModeB>(g1, std::fabs(d[1][i]), k, attack, release);
            }
            const float y0 = ((x0 * wetGain) * g0) * makeupGain + dryGain * x0;
            const float y1 = ((x1 * wetGain) * g1) * makeupGain + dryGain * x1;
            out[0][i] = replacing ? y0 : y0 + out[0][i];
            out[1][i] = replacing ? y1 : y1 + out[1][i];
        }
        gain[0] = g0;
        gain[1] = g1;
    }

    float attackCoef = 0.0f;
    float releaseCoef = 0.0f;
    float compressionFactor = 0.0f; // k, smoothed
    float makeup = 0.0f;            // linear
    float wet = 0.0f;
    float dry = 0.0f;
    float gain[2] = {1.0f, 1.0f};
    ParamSmoother smoother; // glides compressionFactor alone
};

} // namespace

HostedEffect* createCompressor() {
    return new Compressor;
}

} // namespace quor
