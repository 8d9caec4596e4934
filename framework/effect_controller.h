// Runs one effect for a host adapter so that the audio thread never waits,
// never allocates and never clears large buffers, whatever the host's other
// threads do at the same time.
//
// Threads. The effect object belongs to one thread at a time: the audio
// thread for the length of a block, or a control thread that holds it for a
// short, bounded step (a sample-rate change, a suspend or resume, a reset that
// must zero large buffers). The audio thread only ever tries to take it: when
// a control thread holds it, that block is skipped (silence) rather than
// waited for. Hosts change the rate and suspend or resume only while no block
// runs, so in practice nothing is ever skipped.
//
// Parameter values are stored (any thread, lock-free) into a published copy
// and a queue; the effect's owner applies them in the order they were stored,
// running parameterChanged, at the start of its next block. Every host-visible
// read (the value, the saved state, the display text) comes from the
// published values; display texts are formatted by a second copy of the
// effect that never processes audio.
//
// Work that allocates or is proportional to a buffer's size runs off the
// audio thread: on the controller's own worker thread (started with the first
// storage the effect asks for, joined at destruction), or inside the control
// calls that hosts make off the audio thread (sample rate, suspend, resume).
// Its result reaches the effect at a block start by a constant-time swap.
#pragma once

#include "framework/deferred_work.h"
#include "framework/effect.h"
#include "framework/value_queue.h"
#include "framework/wake_signal.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace quor {

struct EffectFactory;

class EffectController final : private DeferredWorkSignal {
  public:
    // Both effects come from the same factory with their defaults applied;
    // `displayCopy` is used for nothing but display texts and version words.
    EffectController(std::unique_ptr<HostedEffect> effect, std::unique_ptr<HostedEffect> displayCopy);
    // Both effects made by `factory`, their defaults applied; null when it makes none.
    static std::unique_ptr<EffectController> create(const EffectFactory& factory);
    ~EffectController() override;
    EffectController(const EffectController&) = delete;
    EffectController& operator=(const EffectController&) = delete;

    // The processing effect. Its static description (name, tables, channel
    // counts) may be read anywhere; everything else only by its owner.
    HostedEffect& effect() { return *fx; }
    const HostedEffect& effect() const { return *fx; }

    // ---- Any thread: lock-free, allocation-free, never waits ----

    // Stores a natural value (already made safe by the caller) for the
    // effect to apply at its next block; false when it equals the stored one.
    bool storeValue(std::int32_t index, float value);
    // A natural value a host sends: NaN is ignored (the stored value stays),
    // anything else is made safe (Effect::sanitizedValue) and stored.
    bool storeHostValue(std::int32_t index, float value);
    float storedValue(std::int32_t index) const { return stored[index].load(std::memory_order_acquire); }
    // The next block starts with the effect's reset.
    void requestReset() { resetPending.store(true, std::memory_order_release); }

    // Who runs the deferred work. By default a worker thread of the
    // controller's own. A host that runs such work itself gets a scheduler
    // (called from the audio thread, so it must not block), whose thread then
    // calls runDeferredWork. Inline: the adapter calls runDeferredWork itself
    // before each block, and a reset that zeroes large buffers runs in the
    // block (for hosts with no worker, which do not run in real time).
    class WorkScheduler {
      public:
        virtual ~WorkScheduler() = default;
        virtual void scheduleWork() = 0;
    };
    enum class WorkMode { ownThread, scheduler, inline_ };
    // Before the first sample rate; the scheduler mode needs a scheduler.
    void setWorkMode(WorkMode mode, WorkScheduler* scheduler = nullptr);
    // The scheduler's thread, or the adapter before a block in the inline
    // mode: prepares what the effect asked for and does a reset the audio
    // thread left to it.
    void runDeferredWork();

    // ---- Control threads (may wait for a block to end, may allocate) ----

    void formatValue(std::int32_t index, char* text, std::int32_t maxLength);
    std::int32_t chunkVersion();
    void convertChunk(const std::uint8_t* parsRecord);
    // The effects are built for rates in this band. A host rate outside it is
    // run at the nearest edge, which keeps every filter stable and every
    // buffer allocation bounded.
    static float supportedRate(double hostRate);
    // Prepares the storage the new rate needs, then holds the effect to
    // install it, run setSampleRate and reset.
    void changeSampleRate(float rate);
    // Brings the effect up to date with every stored value, finishes the
    // deferred work they need and, when a reset is pending, zeroes the large
    // buffers now so that the reset at the next block is cheap. Returns the
    // effect's latency.
    std::int32_t settle();

    // ---- Audio thread ----

    // Takes the effect for one block, installs finished deferred work and
    // applies stored values. False: a control thread holds the effect and
    // this block must be skipped.
    bool beginBlock();
    // Runs a pending reset. False: the reset has to zero large buffers, which
    // the worker does instead; skip the block.
    bool runPendingReset();
    std::int32_t latency() const { return fx->latency; }
    // Lets control threads in: at the end of the block, or while the adapter
    // calls the host in its middle (resumeBlock then takes the effect back).
    void endBlock() { holder.store(kFree, std::memory_order_release); }
    bool resumeBlock();

  private:
    enum Holder : std::uint32_t { kFree, kAudio, kControl };
    class ControlHold;

    void requestDeferredWork() override;
    void applyStoredValues();
    void apply(std::int32_t index, float value);
    void syncDisplayCopy();
    std::unique_ptr<DeferredPackage> prepare(float rate);
    void collectSpent();
    DeferredPackage* takeReady();
    void wakeWorker();
    void startWorker();
    void workerLoop();
    bool onAudioThread() const;

    std::unique_ptr<HostedEffect> fx;
    std::unique_ptr<HostedEffect> displayFx;
    const std::int32_t count;
    const std::int32_t pendingWords;

    // Published values, and one bit per parameter for each side still to see them.
    std::unique_ptr<std::atomic<float>[]> stored;
    std::unique_ptr<std::atomic<std::uint64_t>[]> pendingForEffect;
    std::unique_ptr<std::atomic<std::uint64_t>[]> pendingForDisplay;
    ValueQueue queue;

    std::atomic<std::uint32_t> holder{kFree};
    std::atomic<bool> resetPending{true};
    std::atomic<std::uintptr_t> audioThread{0};
    std::mutex displayMutex; // the display copy; control threads only

    // Deferred work. deferredMutex orders preparations and control-side
    // installs (control threads and the worker; never the audio thread).
    std::mutex deferredMutex;
    bool packageInFlight = false;                        // deferredMutex: readyPackage not yet given back
    std::atomic<float> effectRate{0.0f};                 // the rate preparations are made for
    std::atomic<DeferredPackage*> readyPackage{nullptr}; // worker -> audio thread
    std::atomic<DeferredPackage*> spentPackage{nullptr}; // audio thread -> worker, holding what it replaced
    std::atomic<bool> workRequested{false};
    std::atomic<bool> resetRequested{false}; // a reset the audio thread left to the worker
    WorkMode workMode = WorkMode::ownThread;
    WorkScheduler* scheduler = nullptr;
    std::atomic<bool> workerStarted{false}; // someone runs deferred work off the audio thread
    std::atomic<bool> stopping{false};
    WakeSignal wake;
    std::thread worker;
};

} // namespace quor
