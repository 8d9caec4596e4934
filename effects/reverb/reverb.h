// The stereo algorithmic reverberator: early reflections, a chain of
// modulated recirculating lines per channel, a long feedback delay that either
// feeds the tail back into itself or echoes after it, a band-pass on the wet
// signal, and the dry/wet mix.
#pragma once

#include "dsp/param_smoother.h"
#include "effects/reverb/early_reflections.h"
#include "effects/reverb/tail.h"
#include "framework/effect.h"

#include <atomic>
#include <cstdint>
#include <memory>

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
    ~Reverb() override;

    void sampleRateChanged() override;
    // Changes that need other line lengths only ask for them: the lines are
    // built off the audio thread (prepareDeferred) and swapped in later.
    void parameterChanged(std::int32_t index) override;
    void formatValue(std::int32_t index, char* text, std::int32_t maxLength) override;
    // Silences every line and filter; write positions, the oscillator phase,
    // the smoother and the coefficients stay. Zeroes line storage only when
    // processing has written it since its last clear.
    void reset() override;
    void clear() override;
    void process(AudioBuffers& buffers, bool replacing) override;

    // Off the audio thread: a complete set of zeroed line storage for a new
    // rate, or the zeroed spares that processing asked for.
    std::unique_ptr<DeferredPackage> prepareDeferred(const DeferredRequest& request) override;
    void installDeferred(DeferredPackage& package) override;
    bool resetClearsLargeBuffers() const override { return linesDirty; }
    void settleChanges() override;

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
    // Feedback, early and tail lines: every one has storage of one size, room
    // for the longest line any setting asks for at the current rate.
    static constexpr std::int32_t kLineCount = 2 + 2 + kMaxTailLines;

    ReverbLine& lineAt(std::int32_t i);
    void updateFeedbackTimes();
    void adoptAlgorithm();
    void clearFilterStates();
    // Gives the lines the lengths and taps the values ask for, and silences
    // them for an algorithm switch. Lines that hold no sound are changed in
    // place; a line that sounds changes only by trading its storage for a
    // zeroed spare, and while spares are short the change waits for them.
    void applyLayout();
    void relayout(bool silence);
    bool trySpares(std::int32_t needed);
    void retire(float* storage);
    bool linesReady() const;
    template <int Algorithm> void run(AudioBuffers& buffers, bool replacing);
    void runDry(AudioBuffers& buffers, bool replacing);

    ReverbControls ctl;
    EarlyReflections early;
    ReverbLine feedback[2];
    BandPassState band[2];
    ReverbTail tailLines;
    bool tailActive[kMaxTailLines] = {}; // in use since the last layout; a line that returns starts silent
    float phase = 0.0f;                  // oscillator, cycles in [0, 1)
    bool gainsDirty = false;
    bool linesDirty = false;         // processing has written the lines since they were last all zero
    bool layoutPending = false;      // the values ask for other lengths or taps
    bool silencePending = false;     // an algorithm switch waits for silent lines
    bool awaitingSpares = false;     // asked for spares that have not arrived
    std::int32_t storageSamples = 0; // every line's storage, guard excluded; 0 before a rate
    float* spares[kLineCount] = {};  // zeroed storage received, not yet used
    std::int32_t spareCount = 0;
    float* retired[2 * kLineCount] = {}; // storage traded in, to be freed off the audio thread
    std::int32_t retiredCount = 0;
    std::atomic<std::int32_t> sparesWanted{0}; // processing -> preparation
    float preparedRate = 0.0f;                 // preparation only
    ParamSmoother smoother;
};

} // namespace quor
