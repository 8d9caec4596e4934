// The stereo algorithmic reverberator: early reflections, a chain of
// modulated recirculating lines per channel, a long feedback delay that either
// feeds the tail back into itself or echoes after it, a band-pass on the wet
// signal, and the dry/wet mix.
#pragma once

#include "dsp/param_smoother.h"
#include "effects/reverb/early_reflections.h"
#include "effects/reverb/tail.h"
#include "framework/effect.h"

#include <cstdint>
#include <mutex>

namespace quor {

enum ReverbParam : std::int32_t {
    kReverbMix,
    kReverbGain,
    kReverbRate,
    kReverbDepth,
    kReverbDelay,
    kReverbFeedback,
    kReverbFrequency,
    kReverbWidth,
    kReverbDiffuseDelay,
    kReverbDiffuseDirection,
    kReverbDiffuseDensity,
    kReverbDiffuseSpread,
    kReverbDiffuseDistribution,
    kReverbAlgorithm,
    kReverbTailDensity,
    kReverbSize,
    kReverbDecay,
    kReverbStereo,
    kReverbTailDiffuse,
    kReverbTailDirection,
    kReverbTailSpread,
    kReverbTailDistribution,
    kReverbLowCut,
    kReverbHighCut,
    kReverbParamCount
};

// Quantities derived from single parameter values.
struct ReverbControls {
    float makeupGain = 0.0f;
    float wetGain = 0.0f; // smoothed
    float dryGain = 0.0f; // smoothed
    float rateHz = 0.0f;
    float depth = 0.0f; // smoothed; fraction of a line's delay the oscillator may take away
    float feedbackGain = 0.0f;
    float decayGain = 0.0f; // loop gain of algorithm 1
    float allpassCoef = 0.0f;
    float chainCoef = 0.0f;
    float highCutCoef = 0.0f;
    float lowCutCoef = 0.0f;
    BandPassCoefficients band{};
    std::int32_t algorithm = 0;
};

class Reverb : public HostedEffect {
  public:
    Reverb();

    // Control thread, processLock held. Builds are only flagged here and done
    // by applyDeferredChanges.
    void sampleRateChanged() override;
    void parameterChanged(std::int32_t index) override;
    void formatValue(std::int32_t index, char* text, std::int32_t maxLength) override;
    // processLock held: silences every line and filter; write positions, the
    // oscillator phase, the smoother and the coefficients stay.
    void reset() override;
    void clear() override;
    // Audio thread, processLock held.
    void process(AudioBuffers& buffers, bool replacing) override;
    // Control thread, no lock held: computes and allocates the flagged line
    // builds, installs them under processLock and frees what they replaced.
    void applyDeferredChanges() override;

    // Inspection (tests), between blocks.
    const ReverbControls& controls() const { return ctl; }
    const EarlyReflections& earlyReflections() const { return early; }
    const ReverbTail& tail() const { return tailLines; }
    const ReverbLine& feedbackLine(std::int32_t c) const { return feedback[c]; }
    float lfoPhase() const { return phase; }
    float rampLength() const { return smoother.rampLength(); }

  protected:
    // Zeroed storage for a line of `samples` slots plus the guard. May throw
    // std::bad_alloc, which leaves the lines as they were.
    virtual float* allocateLineStorage(std::int32_t samples);

  private:
    enum PendingBuild : std::uint32_t { kBuildFeedback = 1u, kBuildTail = 2u, kBuildEarly = 4u };

    void requestBuild(std::uint32_t builds);
    void updateFeedbackTimes();
    void clearSignals();
    bool linesReady() const;
    void runPendingBuilds();
    template <int Algorithm> void run(AudioBuffers& buffers, bool replacing);
    void runDry(AudioBuffers& buffers, bool replacing);

    ReverbControls ctl;
    EarlyReflections early;
    ReverbLine feedback[2];
    BandPassState band[2];
    ReverbTail tailLines;
    float phase = 0.0f; // oscillator, cycles in [0, 1)
    bool gainsDirty = false;
    bool clearPending = false;
    std::uint32_t pendingBuilds = 0; // guarded by processLock
    ParamSmoother smoother;
    std::mutex buildMutex; // one builder at a time; others leave their flags to it
};

} // namespace quor
