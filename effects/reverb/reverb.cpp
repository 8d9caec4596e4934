#include "effects/reverb/reverb.h"

#include "dsp/dry_wet_mix.h"
#include "dsp/taper.h"
#include "effects/effects.h"
#include "effects/reverb/tail_lanes.h"
#include "framework/display.h"

#include <algorithm>
#include <new>

namespace quor {

namespace {

const ParamInfo kReverbParams[kReverbParamCount] = {
    {"Mix", 0.0f, 1.0f, 0, 0.125f},        {"Gain", 0.0f, 1.0f, 0, 0.0f},
    {"Rate", 0.0f, 1.0f, 0, 0.3f},         {"Depth", 0.0f, 1.0f, 0, 0.125f},
    {"Delay", 0.0f, 1.0f, 0, 0.0f},        {"Feedback", 0.0f, 1.0f, 0, 1.0f},
    {"Frequency", 0.0f, 1.0f, 0, 0.4f},    {"Width", 0.0f, 1.0f, 0, 0.7f},
    {"Delay", 0.0f, 1.0f, 0, 0.0f},        {"Direction", 0.0f, 1.0f, 1, 1.0f},
    {"Density", 0.0f, 1.0f, 0, 0.5f},      {"Spread", 0.0f, 1.0f, 0, 0.5f},
    {"Distribution", 0.0f, 1.0f, 0, 0.5f}, {"Algorithm", 0.0f, 1.0f, 1, 1.0f},
    {"Density", 1.0f, 16.0f, 1, 6.0f},     {"Size", 0.0f, 1.0f, 0, 0.4f},
    {"Decay", 0.0f, 1.0f, 0, 0.6f},        {"Stereo", 0.0f, 1.0f, 0, 1.0f},
    {"Diffuse", 0.0f, 1.0f, 0, 0.9f},      {"Direction", 0.0f, 1.0f, 1, 1.0f},
    {"Spread", 0.0f, 1.0f, 0, 0.5f},       {"Distribution", 0.0f, 1.0f, 0, 0.5f},
    {"Low-cut", 0.0f, 1.0f, 0, 1.0f},      {"High-cut", 0.0f, 1.0f, 0, 1.0f},
};

const ParamGroup kReverbGroups[] = {
    {"Global", 0, kReverbMix},
    {"Diffuse", 0, kReverbDiffuseDelay},
    {"Tail", 0, kReverbAlgorithm},
    {nullptr, 0, kReverbParamCount},
};

constexpr std::int32_t kSmootherCapacity = 25; // room for more than the three glided quantities
constexpr float kSmootherSeconds = 0.2f;       // glide time of mix and depth changes
// Added to inputs and sums so that recirculating states never go subnormal.
constexpr float kDenormalGuard = 1e-10f;

// A delay that reaches its line's capacity would read past the interpolation
// neighbour; it is lowered to the longest one the line holds.
float limitedDelay(float samples, std::int32_t capacity) {
    if (capacity < 1 || !(samples >= 0.0f)) return 0.0f;
    const auto longest = static_cast<float>(capacity - 1);
    return samples >= static_cast<float>(capacity) ? longest : samples;
}

} // namespace

Reverb::Reverb()
    : HostedEffect("Reverb", kReverbParams, kReverbParamCount, kReverbGroups, 4),
      smoother(kSmootherCapacity) {}

float* Reverb::allocateLineStorage(std::int32_t samples) {
    return ReverbLine::allocate(samples);
}

void Reverb::requestBuild(std::uint32_t builds) {
    if (sampleRate > 0.0f) pendingBuilds |= builds;
}

void Reverb::updateFeedbackTimes() {
    if (!(sampleRate > 0.0f)) return;
    const FeedbackTimes t = feedbackDelaySamples(values[kReverbDelay], values[kReverbStereo], sampleRate);
    feedback[0].delay = limitedDelay(t.leftSamples, feedback[0].capacity);
    feedback[1].delay = limitedDelay(t.rightSamples, feedback[1].capacity);
}

void Reverb::parameterChanged(std::int32_t index) {
    const float v = values[index];
    switch (index) {
    case kReverbMix: {
        const DryWetMix mix(v);
        smoother.setTarget(&ctl.dryGain, mix.dry);
        smoother.setTarget(&ctl.wetGain, mix.wet);
        break;
    }
    case kReverbGain:
        ctl.makeupGain = v * v * 3.0f + 1.0f;
        break;
    case kReverbRate:
        ctl.rateHz = Taper(v, -1.5f) * 4.9f + 0.1f;
        break;
    case kReverbDepth:
        // At most 0.5, so a modulated read never leaves its line.
        smoother.setTarget(&ctl.depth, std::clamp(Taper(v, -1.1f) * 0.5f, 0.0f, 0.5f));
        break;
    case kReverbDelay:
        updateFeedbackTimes();
        break;
    case kReverbFeedback:
        ctl.feedbackGain = Taper(v, 1.2f);
        break;
    case kReverbFrequency:
    case kReverbWidth:
        ctl.band = bandPassCoefficients(values[kReverbFrequency], values[kReverbWidth]);
        break;
    case kReverbDiffuseDelay:
    case kReverbDiffuseDirection:
    case kReverbDiffuseDensity:
    case kReverbDiffuseSpread:
    case kReverbDiffuseDistribution:
        requestBuild(kBuildEarly);
        break;
    case kReverbAlgorithm:
        // The other loop structure starts from silence; the audio thread
        // clears the lines before its next block.
        ctl.algorithm = v > 0.5f ? 1 : 0;
        clearPending = true;
        break;
    case kReverbTailDensity:
        if (tailLinesFor(v) != tailLines.linesPerChannel) requestBuild(kBuildTail);
        break;
    case kReverbSize:
    case kReverbTailDirection:
    case kReverbTailSpread:
    case kReverbTailDistribution:
        requestBuild(kBuildTail);
        break;
    case kReverbDecay:
        gainsDirty = true;
        ctl.decayGain = Taper(v, 1.0f);
        break;
    case kReverbStereo:
        requestBuild(kBuildTail | kBuildEarly);
        updateFeedbackTimes();
        break;
    case kReverbTailDiffuse: {
        const TailDiffusion d = tailDiffusion(v);
        ctl.allpassCoef = d.allpassCoef;
        ctl.chainCoef = d.chainCoef;
        break;
    }
    case kReverbLowCut:
    case kReverbHighCut:
        ctl.highCutCoef = highCutCoefficient(values[kReverbHighCut]);
        ctl.lowCutCoef = lowCutCoefficient(values[kReverbLowCut]);
        break;
    default:
        break;
    }
}

void Reverb::sampleRateChanged() {
    smoother.configure(kSmootherSeconds, sampleRate);
    parameterChanged(kReverbMix);
    parameterChanged(kReverbRate);
    parameterChanged(kReverbDepth);
    gainsDirty = true;
    pendingBuilds |= kBuildFeedback | kBuildTail | kBuildEarly;
    // Whatever runs before the new lines are in, the first block at the new
    // rate starts from silence.
    clearPending = true;
}

void Reverb::formatValue(std::int32_t index, char* text, std::int32_t maxLength) {
    if (index == kReverbRate)
        formatFrequency(ctl.rateHz, text);
    else
        HostedEffect::formatValue(index, text, maxLength);
}

void Reverb::clearSignals() {
    for (std::int32_t c = 0; c < 2; ++c) {
        early.line[c].clear();
        feedback[c].clear();
        band[c] = BandPassState{};
    }
    tailLines.clearSignals();
}

void Reverb::reset() {
    clearSignals();
    clearPending = false;
}

void Reverb::clear() {
    std::fill(std::begin(early.tapDelaySamples), std::end(early.tapDelaySamples), 0.0f);
    std::fill(std::begin(tailLines.gain), std::end(tailLines.gain), 0.0f);
    phase = 0.0f;
    ctl = ReverbControls{};
    early.tapCount = 0;
    tailLines.linesPerChannel = 0;
    gainsDirty = false;
}

// ---------------------------------------------------------------------------
// Line builds

void Reverb::applyDeferredChanges() {
    for (;;) {
        std::unique_lock<std::mutex> building(buildMutex, std::try_to_lock);
        // A build in progress on another thread picks up our flags when it
        // looks again after finishing; nobody waits for another's allocation.
        if (!building.owns_lock()) return;
        runPendingBuilds();
        building.unlock();
        std::lock_guard<InstanceLock> lock(processLock);
        if (pendingBuilds == 0) return;
    }
}

void Reverb::runPendingBuilds() {
    std::uint32_t builds;
    float fs;
    EarlySettings earlySettings;
    TailSettings tailSettings;
    {
        std::lock_guard<InstanceLock> lock(processLock);
        builds = pendingBuilds;
        pendingBuilds = 0;
        fs = sampleRate;
        auto value = [this](std::int32_t i) { return sanitizedValue(i, values[i]); };
        earlySettings = {value(kReverbDiffuseDelay),        value(kReverbDiffuseDirection),
                         value(kReverbDiffuseDensity),      value(kReverbDiffuseSpread),
                         value(kReverbDiffuseDistribution), value(kReverbStereo)};
        tailSettings = {value(kReverbTailDensity), value(kReverbSize),
                        value(kReverbStereo),      value(kReverbTailDirection),
                        value(kReverbTailSpread),  value(kReverbTailDistribution)};
    }
    if (builds == 0 || !(fs > 0.0f)) return;

    // Plans and storage are made with no lock held. Only this thread changes
    // line capacities and storage, so reading them here needs no lock.
    // A stage whose allocation fails keeps its previous lines.
    auto allocateStage = [this](ReverbLine* lines, const std::int32_t* capacity, std::int32_t count,
                                float** fresh) {
        try {
            for (std::int32_t j = 0; j < count; ++j)
                if (!lines[j].hasStorage() || lines[j].capacity != capacity[j])
                    fresh[j] = allocateLineStorage(capacity[j]);
            return true;
        } catch (const std::bad_alloc&) {
            for (std::int32_t j = 0; j < count; ++j) {
                delete[] fresh[j];
                fresh[j] = nullptr;
            }
            return false;
        }
    };

    float* freshFeedback[2] = {};
    float* freshTail[kMaxTailLines] = {};
    float* freshEarly[2] = {};
    bool feedbackReady = false, tailReady = false, earlyReady = false;
    TailPlan tailPlan{};
    EarlyPlan earlyPlan{};

    if (builds & kBuildFeedback) {
        const std::int32_t capacity[2] = {feedbackLineCapacity(fs), feedbackLineCapacity(fs)};
        feedbackReady = allocateStage(feedback, capacity, 2, freshFeedback);
    }
    if (builds & kBuildTail) {
        tailPlan = planTail(tailSettings, fs);
        tailReady = allocateStage(tailLines.line, tailPlan.capacity, 2 * tailPlan.linesPerChannel, freshTail);
    }
    if (builds & kBuildEarly) {
        earlyPlan = planEarlyReflections(earlySettings, fs);
        earlyReady = allocateStage(early.line, earlyPlan.capacity, 2, freshEarly);
    }

    float* retired[2 * 2 + kMaxTailLines] = {};
    std::int32_t retiredCount = 0;
    {
        std::lock_guard<InstanceLock> lock(processLock);
        if (feedbackReady) {
            const std::int32_t capacity = feedbackLineCapacity(fs);
            for (std::int32_t c = 0; c < 2; ++c) {
                if (!freshFeedback[c]) continue;
                retired[retiredCount++] = feedback[c].install(capacity, freshFeedback[c]);
                feedback[c].delay = 0.0f;
            }
            updateFeedbackTimes();
        }
        if (tailReady) {
            const std::int32_t lines = 2 * tailPlan.linesPerChannel;
            tailLines.linesPerChannel = tailPlan.linesPerChannel;
            for (std::int32_t j = 0; j < kMaxTailLines; ++j) {
                ReverbLine& line = tailLines.line[j];
                if (j < lines) {
                    if (freshTail[j])
                        retired[retiredCount++] = line.install(tailPlan.capacity[j], freshTail[j]);
                    line.delay = static_cast<float>(line.capacity - 1);
                } else if (line.hasStorage()) {
                    retired[retiredCount++] = line.detach();
                }
                tailLines.modulationOffset[j] = tailPlan.modulationOffset[j];
            }
            gainsDirty = true;
        }
        if (earlyReady) {
            early.tapCount = earlyPlan.tapCount;
            for (std::int32_t c = 0; c < 2; ++c)
                if (freshEarly[c])
                    retired[retiredCount++] = early.line[c].install(earlyPlan.capacity[c], freshEarly[c]);
            std::copy(std::begin(earlyPlan.tapDelaySamples), std::end(earlyPlan.tapDelaySamples),
                      std::begin(early.tapDelaySamples));
        }
    }
    for (std::int32_t i = 0; i < retiredCount; ++i)
        delete[] retired[i];
}

// ---------------------------------------------------------------------------
// Processing

bool Reverb::linesReady() const {
    return early.line[0].hasStorage() && early.line[1].hasStorage() && feedback[0].hasStorage() &&
           feedback[1].hasStorage();
}

void Reverb::process(AudioBuffers& buffers, bool replacing) {
    if (clearPending) {
        clearSignals();
        clearPending = false;
    }
    if (gainsDirty) {
        gainsDirty = false;
        tailLines.updateGains(values[kReverbDecay], sampleRate);
    }
    if (!linesReady())
        runDry(buffers, replacing);
    else if (ctl.algorithm)
        run<1>(buffers, replacing);
    else
        run<0>(buffers, replacing);
}

// Lines without storage (a failed allocation): only the dry path sounds.
void Reverb::runDry(AudioBuffers& buffers, bool replacing) {
    const float wet = ctl.wetGain * ctl.makeupGain;
    const float dry = ctl.dryGain;
    for (std::int32_t i = 0; i < buffers.frames; ++i) {
        for (std::int32_t c = 0; c < 2; ++c) {
            const float x = buffers.inputs[c][i] + kDenormalGuard;
            const float y = kDenormalGuard * wet + x * dry;
            float& out = buffers.outputs[c][i];
            out = replacing ? y : out + y;
        }
        smoother.markActive();
        smoother.advance();
    }
}

template <int Algorithm> void Reverb::run(AudioBuffers& buffers, bool replacing) {
    // Output gains are sampled once per block.
    const float wet = ctl.wetGain * ctl.makeupGain;
    const float dry = ctl.dryGain;

    EarlyReflections::Block taps;
    early.prepare(taps);
    const float phaseStep = ctl.rateHz / sampleRate;
    const float feedbackGain = ctl.feedbackGain;
    const ReverbLine::Position feedbackRead[2] = {ReverbLine::positionOf(feedback[0].delay),
                                                  ReverbLine::positionOf(feedback[1].delay)};
    const float echo = echoScale(feedback[0].delay);
    const BandPassCoefficients bandK = ctl.band;

    TailBlockConstants tailK{};
    tailK.highCutCoef = ctl.highCutCoef;
    tailK.lowCutCoef = ctl.lowCutCoef;
    tailK.decayGain = ctl.decayGain;
    tailK.allpassCoef = ctl.allpassCoef;
    tailK.chainCoef = ctl.chainCoef;
    if (Algorithm == 0) {
        tailK.allpass11k = allpassCoefficient(sampleRate);
        tailK.diffuseScale = diffuseScale(values[kReverbTailDiffuse], values[kReverbDecay]);
        const float g = normalisationGain(tailLinesFor(values[kReverbTailDensity]), values[kReverbSize],
                                          values[kReverbTailDiffuse]);
        tailLines.outputWeights(g, values[kReverbTailDirection], tailK.outputWeight);
    }

    TailLanes lanes;
    lanes.load(tailLines);
    float lfo = phase;
    // Runs of frames short enough that neither the taps nor the tail lines
    // reach a value the run itself writes.
    constexpr std::int32_t kRun = TailLanes::kMaxRun;
    const std::int32_t runFrames = std::min({taps.runFrames, lanes.runLimit(), kRun});
    for (std::int32_t at = 0; at < buffers.frames; at += runFrames) {
        const std::int32_t frames = std::min(runFrames, buffers.frames - at);
        // All inputs of the run are read before any output is written: the
        // host may process in place.
        float x[2][kRun];
        float chain[2][kRun];
        for (std::int32_t c = 0; c < 2; ++c) {
            const float* in = buffers.inputs[c] + at;
            for (std::int32_t f = 0; f < frames; ++f) {
                x[c][f] = in[f] + kDenormalGuard;
                chain[c][f] = kDenormalGuard;
            }
        }
        const float* const xs[2] = {x[0], x[1]};
        float* const chains[2] = {chain[0], chain[1]};
        early.process(xs, chains, frames, taps);

        // The oscillator and the smoothed depth, frame by frame. The smoother
        // advances once per frame; the output gains were sampled at block start.
        float lfoAt[kRun];
        float depthAt[kRun];
        for (std::int32_t f = 0; f < frames; ++f) {
            lfo = lfo + phaseStep;
            if (lfo >= 1.0f) lfo = lfo - 1.0f;
            lfoAt[f] = lfo;
            depthAt[f] = ctl.depth;
            smoother.markActive();
            smoother.advance();
        }

        float* outL = buffers.outputs[0] + at;
        float* outR = buffers.outputs[1] + at;
        for (std::int32_t f = 0; f < frames; ++f) {
            float a[2] = {chain[0][f], chain[1][f]};
            float w[2] = {kDenormalGuard, kDenormalGuard};
            lanes.readFrame(f, lfoAt[f], depthAt[f]);
            if (Algorithm == 1) {
                lanes.filterFrame(f, tailK);
                for (std::int32_t c = 0; c < 2; ++c)
                    a[c] = a[c] + feedbackGain * feedback[c].read(feedbackRead[c]);
                lanes.latticeFrame(f, tailK, a, w);
            } else {
                lanes.allpassFrame(f, tailK);
                lanes.combsFrame(f, tailK, a, w);
            }

            for (std::int32_t c = 0; c < 2; ++c) {
                if (Algorithm == 1) {
                    // The feedback line carries the chain's output back to its input.
                    w[c] = band[c].process(w[c], bandK);
                    feedback[c].write(a[c]);
                } else {
                    // The feedback line echoes the band-passed wet sum.
                    const float z = feedbackGain * feedback[c].read(feedbackRead[c]) + w[c];
                    w[c] = band[c].process(z, bandK);
                    feedback[c].write(w[c] * echo);
                }
            }

            const float yL = w[0] * wet + x[0][f] * dry;
            const float yR = w[1] * wet + x[1][f] * dry;
            if (replacing) {
                outL[f] = yL;
                outR[f] = yR;
            } else {
                outL[f] += yL;
                outR[f] += yR;
            }
        }
        lanes.writeRun(frames);
    }
    phase = lfo;
    lanes.store(tailLines);
}

HostedEffect* createReverb() {
    return new Reverb;
}

} // namespace quor
