// mDelay: a stereo modulated delay. Two lines are read at positions an LFO
// moves around a base delay; the echoes pass through the tone filter pair and
// feed back in one of three routings (Normal, Cross, Ping-pong). The whole
// delay network runs at twice the sample rate between the half-band
// oversampler's up- and down-sampler; every continuous control glides.
#pragma once

#include "dsp/halfband_oversampler.h"
#include "dsp/param_smoother.h"
#include "dsp/tone_filter_pair.h"
#include "framework/effect.h"

#include <cstdint>
#include <memory>

namespace quor {

enum MDelayParam : std::int32_t {
    kMDelayLeft,
    kMDelayRight,
    kMDelayFeedback,
    kMDelayLowCut,
    kMDelayHighCut,
    kMDelayMode,
    kMDelayMix,
    kMDelayRate,
    kMDelayDepth,
    kMDelayWidth,
    kMDelayShape,
    kMDelayParamCount
};

// Floats per line: one second of oversampled steps (two per frame) rounded up
// to a power of two, from 65536 up to at most 2097152.
std::int32_t mdelayLineSize(float sampleRate);

class MDelay final : public HostedEffect {
  public:
    MDelay();

    // Off the audio thread: two zeroed lines when the size for the rate changes.
    std::unique_ptr<DeferredPackage> prepareDeferred(const DeferredRequest& request) override;
    // Swaps the prepared lines in; the package keeps the old ones.
    void installDeferred(DeferredPackage& package) override;
    bool resetClearsLargeBuffers() const override { return writtenSteps > 0; }

    void sampleRateChanged() override;
    void parameterChanged(std::int32_t index) override;
    void formatValue(std::int32_t index, char* text, std::int32_t maxLength) override;
    // Silences the lines (only the slots written since the last clear), the
    // oversampler and the tone filters; pending glides jump to their targets.
    // The LFO phase and the write position run on.
    void reset() override;
    void clear() override {}
    // Audio thread.
    void process(AudioBuffers& buffers, bool replacing) override;

    // Inspection (tests), between blocks.
    std::int32_t lineSize() const { return bufferSize; }
    const float* lineData(std::int32_t c) const { return line[c].get(); }

  private:
    template <std::int32_t Routing, bool Gliding> void run(AudioBuffers& buffers, bool replacing);

    std::unique_ptr<float[]> line[2]; // left, right
    std::int32_t bufferSize = 0;      // of each installed line; 0 before any storage
    std::int32_t bufferMask = 0;
    std::int32_t writePos = 0;     // slot of the latest write, the same in both lines
    std::int32_t writtenSteps = 0; // slots written since the last clear, at most bufferSize
    std::int32_t preparedSize = 0; // prepareDeferred's own record

    // Smoothed; delays and depth in oversampled steps.
    float dryGain = 0.0f;
    float wetGain = 0.0f;
    float leftDelay = 0.0f;
    float rightDelay = 0.0f;
    float feedback = 0.0f;
    float depth = 0.0f;
    float lfoIncrement = 0.0f; // cycles per oversampled step
    float lfoShape = 0.0f;
    float lfoWidth = 0.0f; // right LFO's phase offset, cycles

    float lfoPhase = 0.0f;
    std::int32_t routing = 0;
    ToneFilterPair tone;
    HalfbandOversampler oversampler[2];
    ParamSmoother smoother;
};

} // namespace quor
