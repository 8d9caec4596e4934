#include "effects/mdelay.h"

#include "dsp/dry_wet_mix.h"
#include "dsp/shaped_triangle.h"
#include "dsp/stereo_halfband.h"
#include "effects/effects.h"
#include "effects/mdelay_taps.h"
#include "effects/pass_through.h"
#include "framework/display.h"
#include "framework/numeric.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace quor {

namespace {

const ParamInfo kMDelayParams[kMDelayParamCount] = {
    {"Left", 0.0f, 1.0f, 0, 0.33f},   {"Right", 0.0f, 1.0f, 0, 0.36f},   {"Feedback", 0.0f, 1.0f, 0, 0.33f},
    {"Low-cut", 0.0f, 1.0f, 0, 0.0f}, {"High-cut", 0.0f, 1.0f, 0, 1.0f}, {"Mode", 0.0f, 2.0f, 1, 0.0f},
    {"Mix", 0.0f, 1.0f, 0, 0.5f},     {"Rate", 0.0f, 1.0f, 0, 0.33f},    {"Depth", 0.0f, 1.0f, 0, 0.1f},
    {"Width", 0.0f, 1.0f, 0, 0.5f},   {"Shape", 0.0f, 1.0f, 0, 0.5f},
};

const ParamGroup kMDelayGroups[] = {
    {"Delay", 0, kMDelayLeft},
    {"Mod", 1, kMDelayRate},
    {nullptr, 0, kMDelayParamCount},
};

const char* const kRoutingNames[3] = {"Normal", "Cross", "Ping-pong"};

constexpr float kGlideSeconds = 0.5f;
constexpr std::int32_t kSmootherCapacity = 9; // the gliding members, dryGain to lfoWidth
constexpr std::int32_t kMinLineSize = 65536;
constexpr std::int32_t kMaxLineSize = 2097152;

float delaySecondsFor(float v) {
    return std::pow(v, 3.0f);
}
float lowCutHzFor(float v) {
    return std::pow(v, 4.0f) * 11998.0f + 2.0f;
}
float highCutHzFor(float v) {
    return std::pow(v, 3.0f) * 19980.0f + 20.0f;
}

class LineStorage final : public DeferredPackage {
  public:
    std::unique_ptr<float[]> buffer[2];
    std::int32_t size = 0;
};

} // namespace

std::int32_t mdelayLineSize(float sampleRate) {
    std::int32_t size = kMinLineSize;
    while (static_cast<float>(size) < 2.0f * sampleRate && size < kMaxLineSize)
        size *= 2;
    return size;
}

MDelay::MDelay()
    : HostedEffect("mDelay", kMDelayParams, kMDelayParamCount, kMDelayGroups, 3),
      smoother(kSmootherCapacity) {}

std::unique_ptr<DeferredPackage> MDelay::prepareDeferred(const DeferredRequest& request) {
    if (!(request.sampleRate > 0.0f)) return nullptr;
    const std::int32_t size = mdelayLineSize(request.sampleRate);
    if (size == preparedSize) return nullptr;
    try {
        std::unique_ptr<LineStorage> storage(new LineStorage);
        for (auto& buffer : storage->buffer)
            buffer.reset(new float[static_cast<std::size_t>(size)]());
        storage->size = size;
        preparedSize = size;
        return storage;
    } catch (const std::bad_alloc&) {
        return nullptr; // the lines keep their storage; the next request tries again
    }
}

void MDelay::installDeferred(DeferredPackage& package) {
    auto& storage = static_cast<LineStorage&>(package);
    line[0].swap(storage.buffer[0]);
    line[1].swap(storage.buffer[1]);
    std::swap(bufferSize, storage.size);
    bufferMask = bufferSize - 1;
    writePos = 0;
    writtenSteps = 0;
}

void MDelay::sampleRateChanged() {
    if (sampleRate == 0.0f) return;
    reset();
    tone.setSampleRate(sampleRate);
    smoother.configure(kGlideSeconds, sampleRate);
    for (std::int32_t index : {kMDelayMix, kMDelayLeft, kMDelayRight, kMDelayRate, kMDelayFeedback,
                               kMDelayDepth, kMDelayShape, kMDelayWidth})
        parameterChanged(index);
}

void MDelay::parameterChanged(std::int32_t index) {
    const float v = values[index];
    const bool rateKnown = sampleRate > 0.0f;
    switch (index) {
    case kMDelayLeft:
        if (rateKnown) smoother.setTarget(&leftDelay, (sampleRate + sampleRate) * delaySecondsFor(v));
        break;
    case kMDelayRight:
        if (rateKnown) smoother.setTarget(&rightDelay, (sampleRate + sampleRate) * delaySecondsFor(v));
        break;
    case kMDelayFeedback:
        smoother.setTarget(&feedback, 2.0f * v - 1.0f);
        break;
    case kMDelayLowCut:
        tone.setLowCut(lowCutHzFor(v));
        break;
    case kMDelayHighCut:
        tone.setHighCut(highCutHzFor(v));
        break;
    case kMDelayMode:
        routing = truncatedInt(std::floor(v + 0.5f));
        break;
    case kMDelayMix: {
        const DryWetMix mix(v);
        smoother.setTarget(&dryGain, mix.dry);
        smoother.setTarget(&wetGain, mix.wet);
        break;
    }
    case kMDelayRate: {
        const float rateHz = std::pow(v, 3.0f) * 29.95f + 0.05f;
        if (rateKnown) smoother.setTarget(&lfoIncrement, 1.0f / std::max(sampleRate / rateHz, 1.0f));
        break;
    }
    case kMDelayDepth:
        smoother.setTarget(&depth, static_cast<float>(bufferSize) * (std::pow(v, 4.0f) * 0.5f));
        break;
    case kMDelayWidth:
        smoother.setTarget(&lfoWidth, v * 0.5f);
        break;
    case kMDelayShape:
        smoother.setTarget(&lfoShape, 2.0f * v - 1.0f);
        break;
    default:
        break;
    }
}

// Control side; reads values only. The Rate text follows a curve of its own
// (0.1 to 30 Hz), not the one that drives the LFO.
void MDelay::formatValue(std::int32_t index, char* text, std::int32_t maxLength) {
    const float v = values[index];
    text[0] = 0;
    switch (index) {
    case kMDelayLeft:
    case kMDelayRight:
        formatTime(delaySecondsFor(v), text);
        break;
    case kMDelayFeedback:
        std::sprintf(text, "%0.0f%%", static_cast<double>((2.0f * v - 1.0f) * 100.0f));
        break;
    case kMDelayLowCut:
        formatFrequency(lowCutHzFor(v), text);
        break;
    case kMDelayHighCut:
        formatFrequency(highCutHzFor(v), text);
        break;
    case kMDelayMode: {
        const std::int32_t shown = truncatedInt(v);
        if (shown >= 0 && shown <= 2) std::sprintf(text, "%s", kRoutingNames[shown]);
        break;
    }
    case kMDelayRate: {
        const float shownHz = v * v * 29.9f + 0.1f;
        if (shownHz >= 1.0f)
            formatFrequency(shownHz, text);
        else
            formatTime(1.0f / shownHz, text);
        break;
    }
    default:
        HostedEffect::formatValue(index, text, maxLength);
        break;
    }
}

void MDelay::reset() {
    if (writtenSteps > 0) {
        // The written slots end at the write position.
        const auto count = static_cast<std::size_t>(writtenSteps);
        const auto end = static_cast<std::size_t>(writePos) + 1;
        for (auto& l : line) {
            float* b = l.get();
            if (count >= end) {
                std::memset(b, 0, end * sizeof(float));
                const std::size_t rest = count - end;
                std::memset(b + bufferSize - rest, 0, rest * sizeof(float));
            } else {
                std::memset(b + end - count, 0, count * sizeof(float));
            }
        }
        writtenSteps = 0;
    }
    oversampler[0].clear();
    oversampler[1].clear();
    tone.reset();
    smoother.flush();
}

// ---------------------------------------------------------------------------
// Processing

void MDelay::process(AudioBuffers& buffers, bool replacing) {
    if (bufferSize == 0 || !(sampleRate > 0.0f)) {
        passThrough(buffers, replacing);
        return;
    }
    // Without a glide in progress the smoothed quantities hold for the whole block.
    const bool gliding = smoother.activeRamps() > 0;
    switch (routing) {
    case 0:
        gliding ? run<0, true>(buffers, replacing) : run<0, false>(buffers, replacing);
        break;
    case 1:
        gliding ? run<1, true>(buffers, replacing) : run<1, false>(buffers, replacing);
        break;
    case 2:
        gliding ? run<2, true>(buffers, replacing) : run<2, false>(buffers, replacing);
        break;
    default:
        return;
    }
    if (buffers.frames > 0) smoother.markActive();
    const std::int64_t written = std::int64_t{writtenSteps} + 2 * std::int64_t{buffers.frames};
    writtenSteps = static_cast<std::int32_t>(std::min<std::int64_t>(written, bufferSize));
}

// The block runs in chunks, each in two passes. The first computes what does
// not depend on the audio: the smoothed controls frame by frame, and for
// every oversampled step the LFO and both read positions with their
// interpolation weights, many steps at a time. The second runs the audio
// through the oversampler, the lines, the tone filters and the feedback, step
// by step, the two channels side by side in the lanes of one vector.
template <std::int32_t Routing, bool Gliding> void MDelay::run(AudioBuffers& buffers, bool replacing) {
    constexpr std::int32_t kChunk = 64;
    constexpr std::int32_t kSteps = 2 * kChunk;
    struct Controls {
        float dry, wet, leftDelay, rightDelay, feedback, depth, increment, shape, width;
    };
    const auto load = [this] {
        return Controls{dryGain, wetGain,      leftDelay, rightDelay, feedback,
                        depth,   lfoIncrement, lfoShape,  lfoWidth};
    };
    Controls k = load();
    // Per frame while gliding.
    float dryAt[kChunk], wetAt[kChunk], feedbackAt[kChunk];
    // Per step; zeroed, since a short chunk leaves steps its pass reads but never sets.
    float phaseAt[kSteps] = {};
    float shapeAt[kSteps] = {}, widthAt[kSteps] = {}, depthAt[kSteps] = {}, leftAt[kSteps] = {},
          rightAt[kSteps] = {};
    StepTaps<kSteps> taps;

    float* const lineL = line[0].get();
    float* const lineR = line[1].get();
    const std::int32_t mask = bufferMask;
    std::int32_t at = writePos;
    float phase = lfoPhase;
    ToneFilterPair toneLocal = tone;
    StereoHalfband os(oversampler);

    const float* inL = buffers.inputs[0];
    const float* inR = buffers.inputs[1];
    float* outL = buffers.outputs[0];
    float* outR = buffers.outputs[1];
    for (std::int32_t from = 0; from < buffers.frames; from += kChunk) {
        const std::int32_t frames = std::min(kChunk, buffers.frames - from);
        for (std::int32_t i = 0; i < frames; ++i) {
            if (Gliding) {
                k = load();
                dryAt[i] = k.dry;
                wetAt[i] = k.wet;
                feedbackAt[i] = k.feedback;
            }
            for (std::int32_t s = 2 * i; s < 2 * i + 2; ++s) {
                phaseAt[s] = phase;
                if (Gliding) {
                    shapeAt[s] = k.shape;
                    widthAt[s] = k.width;
                    depthAt[s] = k.depth;
                    leftAt[s] = k.leftDelay;
                    rightAt[s] = k.rightDelay;
                }
                phase = phase + k.increment;
                if (phase >= 1.0f) phase = phase - 1.0f;
            }
            if (Gliding) {
                smoother.markActive();
                smoother.advance();
            }
        }
        // Whole chunks of steps: lanes past the chunk's end compute values nobody reads.
        for (std::int32_t s = 0; s < kSteps; ++s) {
            const float shape = Gliding ? shapeAt[s] : k.shape;
            const float depthSteps = Gliding ? depthAt[s] : k.depth;
            const float p = phaseAt[s];
            // p + width is not negative: truncation is its floor.
            float right = p + (Gliding ? widthAt[s] : k.width);
            right = right - static_cast<float>(static_cast<std::int32_t>(right));
            taps.set(s, 0, depthSteps * shapedTriangle(p, shape) + (Gliding ? leftAt[s] : k.leftDelay), mask);
            taps.set(s, 1, shapedTriangle(right, shape) * depthSteps + (Gliding ? rightAt[s] : k.rightDelay),
                     mask);
        }
        taps.computeWeights();

        // One oversampled step s of the network on x = (left, right).
        const auto step = [&](std::int32_t s, StereoPair x) {
            const std::int32_t i = s / 2;
            const float fb = Gliding ? feedbackAt[i] : k.feedback;
            at = (at + 1) & mask;
            StereoPair f;
            if constexpr (Routing == 2) {
                // The left line's output goes on unfiltered into the right
                // line; only the right line's filtered output returns to the left.
                lineL[at] = (x[0] + x[1]) * 0.5f;
                const float vL = taps.read(lineL, at, mask, s, 0);
                lineR[at] = vL;
                f = toneLocal.processBoth(StereoPair{vL, taps.read(lineR, at, mask, s, 1)});
                lineL[at] = lineL[at] + fb * f[1];
            } else {
                lineL[at] = x[Routing];
                lineR[at] = x[1 - Routing];
                f = toneLocal.processBoth(taps.readBoth(lineL, lineR, at, mask, s));
                lineL[at] = lineL[at] + fb * f[Routing];
                lineR[at] = lineR[at] + fb * f[1 - Routing];
            }
            const float dry = Gliding ? dryAt[i] : k.dry;
            const float wet = Gliding ? wetAt[i] : k.wet;
            return dry * x + wet * f;
        };

        for (std::int32_t i = 0; i < frames; ++i) {
            // Both inputs are read before either output is written: the host may process in place.
            const FloatLanes x = os.upsample(inL[from + i], inR[from + i]);
            const StereoPair p = step(2 * i, StereoPair{x[0], x[1]});
            const StereoPair q = step(2 * i + 1, StereoPair{x[2], x[3]});
            float yL, yR;
            os.downsample(FloatLanes{p[0], p[1], q[0], q[1]}, yL, yR);
            if (replacing) {
                outL[from + i] = yL;
                outR[from + i] = yR;
            } else {
                outL[from + i] += yL;
                outR[from + i] += yR;
            }
        }
    }

    writePos = at;
    lfoPhase = phase;
    os.store(oversampler);
    tone = toneLocal;
}

HostedEffect* createMDelay() {
    return new MDelay;
}

} // namespace quor
