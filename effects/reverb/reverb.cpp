#include "effects/reverb/reverb.h"

#include "dsp/dry_wet_mix.h"
#include "dsp/taper.h"
#include "effects/effects.h"
#include "effects/reverb/tail_lanes.h"
#include "framework/display.h"

#include <algorithm>
#include <iterator>
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
    case kReverbTailDensity:
    case kReverbSize:
    case kReverbTailDirection:
    case kReverbTailSpread:
    case kReverbTailDistribution:
        relayout(false);
        break;
    case kReverbAlgorithm:
        relayout(true); // the other loop structure starts from silence
        break;
    case kReverbDecay:
        gainsDirty = true;
        ctl.decayGain = Taper(v, 1.0f);
        break;
    case kReverbStereo:
        relayout(false);
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

// Silent lines change at once; lines that sound change at the next block,
// once for however many values changed (asking again for spares a failed
// allocation could not give).
void Reverb::relayout(bool silence) {
    layoutPending = layoutPending || !silence;
    silencePending = silencePending || silence;
    awaitingSpares = false;
    if (!linesDirty) applyLayout();
}

void Reverb::sampleRateChanged() {
    smoother.configure(kSmootherSeconds, sampleRate);
    parameterChanged(kReverbMix);
    parameterChanged(kReverbRate);
    parameterChanged(kReverbDepth);
    gainsDirty = true;
    layoutPending = true; // every length follows the rate
}

void Reverb::formatValue(std::int32_t index, char* text, std::int32_t maxLength) {
    if (index == kReverbRate)
        formatFrequency(ctl.rateHz, text);
    else
        HostedEffect::formatValue(index, text, maxLength);
}

void Reverb::adoptAlgorithm() {
    ctl.algorithm = values[kReverbAlgorithm] > 0.5f ? 1 : 0;
}

void Reverb::clearFilterStates() {
    for (std::int32_t c = 0; c < 2; ++c)
        band[c] = BandPassState{};
    std::fill(std::begin(tailLines.lowpass), std::end(tailLines.lowpass), 0.0f);
    std::fill(std::begin(tailLines.tracker), std::end(tailLines.tracker), 0.0f);
    std::fill(std::begin(tailLines.allpassState), std::end(tailLines.allpassState), 0.0f);
}

void Reverb::reset() {
    if (linesDirty) {
        // Storage beyond a line's capacity has never been written since it was zeroed.
        for (std::int32_t i = 0; i < kLineCount; ++i)
            lineAt(i).clear();
        linesDirty = false;
    }
    clearFilterStates();
    silencePending = false;
    awaitingSpares = false;
    adoptAlgorithm();
    applyLayout(); // silent lines change in place
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
// Line storage and layout

namespace {

// Every line's storage: the feedback line's capacity, the longest of all.
std::int32_t lineStorageFor(float fs) {
    return feedbackLineCapacity(fs);
}

// Zeroed line storage on its way in; after the install it holds what the
// effect gave back.
struct ReverbStorage final : DeferredPackage {
    static constexpr std::int32_t kRoom = 4 * (2 + 2 + kMaxTailLines);
    ~ReverbStorage() override {
        for (std::int32_t i = 0; i < count; ++i)
            delete[] buffers[i];
    }
    void add(float* storage) {
        if (count < kRoom) buffers[count++] = storage;
    }

    std::int32_t samples = 0; // every buffer's size, guard excluded
    bool completeSet = false; // a new rate: one buffer for every line
    float* buffers[kRoom] = {};
    std::int32_t count = 0;
};

} // namespace

Reverb::~Reverb() {
    for (std::int32_t i = 0; i < spareCount; ++i)
        delete[] spares[i];
    for (std::int32_t i = 0; i < retiredCount; ++i)
        delete[] retired[i];
}

ReverbLine& Reverb::lineAt(std::int32_t i) {
    if (i < 2) return feedback[i];
    if (i < 4) return early.line[i - 2];
    return tailLines.line[i - 4];
}

std::unique_ptr<DeferredPackage> Reverb::prepareDeferred(const DeferredRequest& request) {
    const float fs = request.sampleRate;
    if (!(fs > 0.0f)) return nullptr;
    const bool newRate = fs != preparedRate;
    const std::int32_t wanted = newRate ? kLineCount : sparesWanted.load(std::memory_order_acquire);
    if (wanted <= 0) return nullptr;
    auto package = std::make_unique<ReverbStorage>();
    package->samples = lineStorageFor(fs);
    package->completeSet = newRate;
    for (std::int32_t i = 0; i < wanted; ++i)
        package->add(allocateLineStorage(package->samples));
    if (newRate) preparedRate = fs; // only once every allocation has succeeded
    return package;
}

// At most one buffer per line between two installs, so the list never fills.
void Reverb::retire(float* storage) {
    if (retiredCount < 2 * kLineCount) retired[retiredCount++] = storage;
}

void Reverb::installDeferred(DeferredPackage& delivered) {
    auto& package = static_cast<ReverbStorage&>(delivered);
    float* received[ReverbStorage::kRoom];
    const std::int32_t receivedCount = package.count;
    std::copy(package.buffers, package.buffers + receivedCount, received);
    package.count = 0;

    if (package.completeSet) {
        // A new rate: every line takes fresh storage; the lengths follow once
        // the rate is set. Spares of the old size go back.
        for (std::int32_t i = 0; i < kLineCount; ++i)
            package.add(lineAt(i).install(0, received[i]));
        for (std::int32_t i = 0; i < spareCount; ++i)
            package.add(spares[i]);
        spareCount = 0;
        std::fill(std::begin(tailActive), std::end(tailActive), false);
        storageSamples = package.samples;
        linesDirty = false;
        layoutPending = true;
    } else {
        awaitingSpares = false;
        for (std::int32_t i = 0; i < receivedCount; ++i) {
            if (package.samples == storageSamples && spareCount < kLineCount)
                spares[spareCount++] = received[i];
            else
                package.add(received[i]);
        }
        applyLayout();
        // Spares beyond what the layout needed go back rather than wait.
        for (std::int32_t i = 0; i < spareCount; ++i)
            package.add(spares[i]);
        spareCount = 0;
    }
    for (std::int32_t i = 0; i < retiredCount; ++i)
        package.add(retired[i]);
    retiredCount = 0;
}

void Reverb::settleChanges() {
    applyLayout();
}

bool Reverb::trySpares(std::int32_t needed) {
    if (spareCount >= needed) return true;
    sparesWanted.store(needed - spareCount, std::memory_order_release);
    awaitingSpares = true;
    requestDeferredWork();
    return false;
}

void Reverb::applyLayout() {
    if (!layoutPending && !silencePending) {
        sparesWanted.store(0, std::memory_order_relaxed); // nothing waits for spares
        return;
    }
    if (!(sampleRate > 0.0f) || storageSamples < lineStorageFor(sampleRate)) {
        // No storage for this rate yet: only the loop structure can follow.
        if (silencePending && !linesDirty) {
            silencePending = false;
            adoptAlgorithm();
        }
        return;
    }

    if (silencePending) {
        if (linesDirty) {
            if (!trySpares(kLineCount)) return;
            for (std::int32_t i = 0; i < kLineCount; ++i) {
                // The same line, silent: length, delay and write position stay.
                ReverbLine& line = lineAt(i);
                const float delay = line.delay;
                const std::int32_t nextWrite = line.nextWrite;
                retire(line.install(line.capacity, spares[--spareCount]));
                line.delay = delay;
                line.nextWrite = nextWrite;
            }
            clearFilterStates();
            linesDirty = false;
        }
        silencePending = false;
        adoptAlgorithm();
        if (!layoutPending) {
            sparesWanted.store(0, std::memory_order_relaxed);
            return;
        }
    }

    auto value = [this](std::int32_t i) { return sanitizedValue(i, values[i]); };
    const TailPlan tail =
        planTail({value(kReverbTailDensity), value(kReverbSize), value(kReverbStereo),
                  value(kReverbTailDirection), value(kReverbTailSpread), value(kReverbTailDistribution)},
                 sampleRate);
    const EarlyPlan taps = planEarlyReflections({value(kReverbDiffuseDelay), value(kReverbDiffuseDirection),
                                                 value(kReverbDiffuseDensity), value(kReverbDiffuseSpread),
                                                 value(kReverbDiffuseDistribution), value(kReverbStereo)},
                                                sampleRate);
    const std::int32_t feedbackCapacity = feedbackLineCapacity(sampleRate);

    // A line changes when its length does, or when it returns to use.
    std::int32_t capacity[kLineCount] = {};
    bool changes[kLineCount] = {};
    std::int32_t changing = 0;
    const std::int32_t tailCount = 2 * tail.linesPerChannel;
    for (std::int32_t i = 0; i < kLineCount; ++i) {
        const std::int32_t j = i - 4;
        if (i < 2)
            capacity[i] = feedbackCapacity;
        else if (i < 4)
            capacity[i] = taps.capacity[i - 2];
        else
            capacity[i] = j < tailCount ? tail.capacity[j] : lineAt(i).capacity;
        const bool used = i < 4 || j < tailCount;
        changes[i] = used && (capacity[i] != lineAt(i).capacity || (i >= 4 && !tailActive[j]));
        if (changes[i]) ++changing;
    }
    if (linesDirty && changing > 0 && !trySpares(changing)) return;

    for (std::int32_t i = 0; i < kLineCount; ++i) {
        if (!changes[i]) continue;
        ReverbLine& line = lineAt(i);
        // A line that holds no sound keeps its (all-zero) storage.
        float* storage = linesDirty ? spares[--spareCount] : line.storage;
        float* old = line.install(capacity[i], storage);
        if (linesDirty) retire(old);
    }
    tailLines.linesPerChannel = tail.linesPerChannel;
    for (std::int32_t j = 0; j < kMaxTailLines; ++j) {
        tailActive[j] = j < tailCount;
        if (tailActive[j]) tailLines.line[j].delay = static_cast<float>(tailLines.line[j].capacity - 1);
        tailLines.modulationOffset[j] = tail.modulationOffset[j];
    }
    early.tapCount = taps.tapCount;
    std::copy(std::begin(taps.tapDelaySamples), std::end(taps.tapDelaySamples),
              std::begin(early.tapDelaySamples));
    updateFeedbackTimes();
    gainsDirty = true;
    layoutPending = false;
    sparesWanted.store(0, std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// Processing

bool Reverb::linesReady() const {
    return early.line[0].capacity > 0 && early.line[1].capacity > 0 && feedback[0].capacity > 0 &&
           feedback[1].capacity > 0;
}

void Reverb::process(AudioBuffers& buffers, bool replacing) {
    if ((layoutPending || silencePending) && !awaitingSpares) applyLayout();
    if (gainsDirty) {
        gainsDirty = false;
        tailLines.updateGains(values[kReverbDecay], sampleRate);
    }
    if (!linesReady()) {
        runDry(buffers, replacing);
        return;
    }
    linesDirty = true;
    if (ctl.algorithm)
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
