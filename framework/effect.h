// The effect object model: three base levels, the static parameter tables and
// the block handed to process. Effects see natural units and plain C++; the
// host adapter alone knows VST, normalised values and threads.
#pragma once

#include "framework/deferred_work.h"

#include <cstdint>
#include <memory>

namespace quor {

class HostLink;

struct ParamInfo {
    const char* name;
    float min;
    float max;
    std::int32_t discrete; // integer-stepped: host uses integer steps, base display shows an integer
    float defaultValue;    // natural units
};

struct ParamGroup {
    const char* name; // null in the terminating row
    std::int32_t reserved;
    std::int32_t firstIndex; // the terminating row holds the parameter count
};

struct AudioBuffers {
    float** inputs;
    float** outputs;
    std::int32_t frames;
    std::int32_t reserved; // parameter-set selector for embedded filter components; 0 from the host
};

// 2^(1/12) in single precision (1.0594631), shared by every pitch-based mapping.
extern const float semitoneRatio;

// Sample-rate-derived constants shared by every signal routine.
class DspBase {
  public:
    DspBase();
    virtual ~DspBase() = default;

    // Exact comparison: the same rate again runs no hook; a NaN always counts as new.
    void setSampleRate(const float& rate);
    void setControlDivisor(std::int32_t n);

    virtual void sampleRateChanged() {}
    virtual void controlRateChanged() {}

    float tuningHz;
    float noteZeroHz; // key number 0
    float middleCHz;  // key number 60
    float sampleRate = 0;
    float samplePeriod = 0;
    float twoPiOverRate = 0;
    float piOverRate = 0;
    float controlRate = 0;
    float controlStep = 0;
    std::int32_t controlDivisor = 0;
};

// An effect belongs to one thread at a time (the host adapter sees to it):
// its handlers never run concurrently, so it needs no locks. parameterChanged,
// reset and process may run on the audio thread and must stay cheap and
// allocation-free; formatValue may run on a copy that never has a sample rate,
// so it depends on `values` alone.
class Effect : public DspBase {
  public:
    Effect(const char* name, const ParamInfo* table, std::int32_t count);
    Effect(const char* name, const ParamInfo* table, std::int32_t count, const ParamGroup* groups,
           std::int32_t groupCount);
    ~Effect() override;
    Effect(const Effect&) = delete;
    Effect& operator=(const Effect&) = delete;

    virtual void spareHook() {}
    virtual void clear() = 0;
    virtual void reset() = 0;
    virtual void updateControl(std::int32_t slot) = 0;
    virtual void process(AudioBuffers& buffers, bool replacing) = 0;
    virtual void parameterChanged(std::int32_t index) = 0;
    virtual void readMeter(std::int32_t index, float* out) = 0;
    // Base display: "On"/"Off" or "%i" for discrete rows, a whole percentage otherwise.
    virtual void formatValue(std::int32_t index, char* text, std::int32_t maxLength);

    void attachParameters(const ParamInfo* table, std::int32_t count);
    void applyDefaults();

    // A stored value a restored state may carry, made safe: NaN takes the
    // default, anything else is limited to [min, max], a subnormal is 0.
    float sanitizedValue(std::int32_t index, float value) const;

    const char* name;
    std::int32_t numInputs = 2;
    std::int32_t numOutputs = 2;
    std::int32_t paramCount = -1;
    const ParamGroup* groups = nullptr;
    const ParamInfo* params = nullptr;
    float* values = nullptr;
    std::int32_t latency = 0;
    HostLink* hostLink = nullptr;
};

class HostedEffect : public Effect {
  public:
    using Effect::Effect;

    void updateControl(std::int32_t) override {}
    void readMeter(std::int32_t, float*) override {}

    virtual std::int32_t chunkVersion() { return 0; }
    virtual void convertChunk(const std::uint8_t* parsRecord) { (void)parsRecord; }

    // ---- Work kept off the audio thread (framework/deferred_work.h) ----

    // Off the audio thread, never concurrently with itself: compares what
    // `request` needs with what earlier calls prepared and returns the storage
    // that must change, allocated and zeroed here, or null when nothing must.
    // Reads only `request`, the effect's own preparation records and what
    // processing hands it through atomics (requestDeferredWork says when),
    // never other state that processing uses. A new sample rate is prepared
    // before the effect's setSampleRate runs.
    virtual std::unique_ptr<DeferredPackage> prepareDeferred(const DeferredRequest& request) {
        (void)request;
        return nullptr;
    }
    // Whoever owns the effect (the audio thread at a block start, or a control
    // thread while no block runs), before setSampleRate when the rate changes:
    // swaps the package's storage in, in constant time per buffer. The package
    // keeps what it replaced and is destroyed off the audio thread.
    virtual void installDeferred(DeferredPackage& package) { (void)package; }
    // True while reset() would have to zero large buffers that processing has
    // written since their last clear; the adapter then runs that reset off the
    // audio thread. Effects without large buffers keep the default.
    virtual bool resetClearsLargeBuffers() const { return false; }
    // A control thread holding the effect, no block running: does now what
    // parameter changes left for the next block, asking for any storage it
    // needs, so that a settled effect has nothing pending.
    virtual void settleChanges() {}

    // Any thread, lock-free: asks for prepareDeferred to run soon. Parameter
    // handlers call it when a change needs storage the rate alone does not
    // decide (the Reverb's line lengths).
    void requestDeferredWork() {
        if (deferredSignal) deferredSignal->requestDeferredWork();
    }
    DeferredWorkSignal* deferredSignal =
        nullptr; // set by the adapter; null in tests that drive the effect directly
};

} // namespace quor
