#include "framework/effect_controller.h"

#include "framework/registry.h"

#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace quor {

namespace {

constexpr std::size_t kQueueCapacity = 1024; // changes between two blocks before the queue falls back
constexpr int kSettleRounds = 8;
constexpr float kMinEffectRate = 8000.0f;
constexpr float kMaxEffectRate = 768000.0f;

std::uintptr_t currentThreadTag() {
    const pthread_t self = pthread_self();
    std::uintptr_t tag = 0;
    std::memcpy(&tag, &self, std::min(sizeof self, sizeof tag));
    return tag;
}

} // namespace

// A control thread's hold on the effect. It waits only for a block in
// progress to end; blocks that start meanwhile are skipped, never delayed.
class EffectController::ControlHold {
  public:
    explicit ControlHold(EffectController& owner) : c(owner) {
        for (;;) {
            std::uint32_t expected = kFree;
            if (c.holder.compare_exchange_weak(expected, kControl, std::memory_order_acquire,
                                               std::memory_order_relaxed))
                return;
            std::this_thread::yield();
        }
    }
    ~ControlHold() { c.holder.store(kFree, std::memory_order_release); }
    ControlHold(const ControlHold&) = delete;
    ControlHold& operator=(const ControlHold&) = delete;

  private:
    EffectController& c;
};

EffectController::EffectController(std::unique_ptr<HostedEffect> effect,
                                   std::unique_ptr<HostedEffect> displayCopy)
    : fx(std::move(effect)), displayFx(std::move(displayCopy)), count(std::max(fx->paramCount, 0)),
      pendingWords((count + 63) / 64), stored(new std::atomic<float>[static_cast<std::size_t>(count) + 1]),
      pendingForEffect(new std::atomic<std::uint64_t>[static_cast<std::size_t>(pendingWords) + 1]),
      pendingForDisplay(new std::atomic<std::uint64_t>[static_cast<std::size_t>(pendingWords) + 1]),
      queue(kQueueCapacity) {
    for (std::int32_t i = 0; i < count; ++i)
        stored[i].store(fx->values[i], std::memory_order_relaxed);
    for (std::int32_t w = 0; w <= pendingWords; ++w) {
        pendingForEffect[w].store(0, std::memory_order_relaxed);
        pendingForDisplay[w].store(0, std::memory_order_relaxed);
    }
    fx->deferredSignal = this;
}

std::unique_ptr<EffectController> EffectController::create(const EffectFactory& factory) {
    std::unique_ptr<HostedEffect> processing(factory.create());
    std::unique_ptr<HostedEffect> display(factory.create());
    if (!processing || !display) return nullptr;
    processing->applyDefaults();
    display->applyDefaults();
    return std::make_unique<EffectController>(std::move(processing), std::move(display));
}

EffectController::~EffectController() {
    if (worker.joinable()) {
        stopping.store(true, std::memory_order_release);
        wake.post();
        worker.join();
    }
    ControlHold hold(*this); // a block still running (a host that closes while processing) ends first
    fx->deferredSignal = nullptr;
    delete readyPackage.exchange(nullptr);
    delete spentPackage.exchange(nullptr);
}

// ---------------------------------------------------------------------------
// Any thread

bool EffectController::storeValue(std::int32_t index, float value) {
    if (stored[index].load(std::memory_order_relaxed) == value) return false;
    stored[index].store(value, std::memory_order_release);
    // A full queue loses only the order of this change; the pending bit
    // still brings the effect to the stored value.
    queue.push(index, value);
    const std::uint64_t bit = std::uint64_t{1} << (index % 64);
    pendingForEffect[index / 64].fetch_or(bit, std::memory_order_release);
    pendingForDisplay[index / 64].fetch_or(bit, std::memory_order_release);
    return true;
}

bool EffectController::storeHostValue(std::int32_t index, float value) {
    if (std::isnan(value)) return false;
    return storeValue(index, fx->sanitizedValue(index, value));
}

void EffectController::requestDeferredWork() {
    workRequested.store(true, std::memory_order_release);
    wakeWorker();
}

void EffectController::wakeWorker() {
    if (workMode == WorkMode::scheduler)
        scheduler->scheduleWork();
    else if (workMode == WorkMode::ownThread && workerStarted.load(std::memory_order_acquire))
        wake.post();
}

void EffectController::setWorkMode(WorkMode mode, WorkScheduler* workScheduler) {
    workMode = mode;
    scheduler = workScheduler;
    workerStarted.store(mode == WorkMode::scheduler, std::memory_order_release);
}

bool EffectController::onAudioThread() const {
    return audioThread.load(std::memory_order_relaxed) == currentThreadTag();
}

// ---------------------------------------------------------------------------
// The effect's owner

void EffectController::apply(std::int32_t index, float value) {
    float& current = fx->values[index];
    if (current == value) return;
    current = value;
    fx->parameterChanged(index);
}

// Queued changes in the order they were stored; then every parameter whose
// pending bit is set is brought to its published value, which settles races
// between host threads and changes that found the queue full.
void EffectController::applyStoredValues() {
    std::int32_t index;
    float value;
    std::size_t drained = 0;
    while (queue.pop(index, value)) {
        apply(index, value);
        // Bounded: producers that keep pace with the drain get the rest next block.
        if (++drained == kQueueCapacity) return;
    }
    for (std::int32_t w = 0; w < pendingWords; ++w) {
        std::uint64_t bits = pendingForEffect[w].exchange(0, std::memory_order_acquire);
        while (bits) {
            const std::int32_t i = w * 64 + __builtin_ctzll(bits);
            apply(i, stored[i].load(std::memory_order_acquire));
            bits &= bits - 1;
        }
    }
}

// ---------------------------------------------------------------------------
// Audio thread

bool EffectController::beginBlock() {
    std::uint32_t expected = kFree;
    if (!holder.compare_exchange_strong(expected, kAudio, std::memory_order_acquire,
                                        std::memory_order_relaxed))
        return false;
    audioThread.store(currentThreadTag(), std::memory_order_relaxed);
    // Taken before the values are applied: every value the package was
    // prepared from is then applied in this same block.
    DeferredPackage* ready = readyPackage.exchange(nullptr, std::memory_order_acquire);
    applyStoredValues();
    if (ready) {
        fx->installDeferred(*ready);
        spentPackage.store(ready, std::memory_order_release);
        wakeWorker();
    }
    return true;
}

bool EffectController::runPendingReset() {
    if (!resetPending.load(std::memory_order_acquire)) return true;
    if (fx->resetClearsLargeBuffers() && workerStarted.load(std::memory_order_acquire)) {
        resetRequested.store(true, std::memory_order_release);
        wakeWorker();
        return false;
    }
    if (resetPending.exchange(false, std::memory_order_acq_rel)) fx->reset();
    return true;
}

bool EffectController::resumeBlock() {
    std::uint32_t expected = kFree;
    return holder.compare_exchange_strong(expected, kAudio, std::memory_order_acquire,
                                          std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// Control threads

void EffectController::syncDisplayCopy() {
    for (std::int32_t w = 0; w < pendingWords; ++w) {
        std::uint64_t bits = pendingForDisplay[w].exchange(0, std::memory_order_acquire);
        while (bits) {
            const std::int32_t i = w * 64 + __builtin_ctzll(bits);
            const float v = stored[i].load(std::memory_order_acquire);
            if (!(displayFx->values[i] == v)) {
                displayFx->values[i] = v;
                displayFx->parameterChanged(i);
            }
            bits &= bits - 1;
        }
    }
}

void EffectController::formatValue(std::int32_t index, char* text, std::int32_t maxLength) {
    std::unique_lock<std::mutex> lock(displayMutex, std::defer_lock);
    // A host that asks for texts on its audio thread must not wait for another thread's request.
    if (onAudioThread()) {
        if (!lock.try_lock()) {
            text[0] = 0;
            return;
        }
    } else {
        lock.lock();
    }
    syncDisplayCopy();
    displayFx->formatValue(index, text, maxLength);
}

std::int32_t EffectController::chunkVersion() {
    std::lock_guard<std::mutex> lock(displayMutex);
    return displayFx->chunkVersion();
}

void EffectController::convertChunk(const std::uint8_t* parsRecord) {
    std::lock_guard<std::mutex> lock(displayMutex);
    syncDisplayCopy();
    displayFx->convertChunk(parsRecord);
}

std::unique_ptr<DeferredPackage> EffectController::prepare(float rate) {
    try {
        return fx->prepareDeferred(DeferredRequest{rate});
    } catch (const std::bad_alloc&) {
        // The effect keeps its storage; the next request tries again.
        return nullptr;
    }
}

void EffectController::collectSpent() {
    if (DeferredPackage* spent = spentPackage.exchange(nullptr, std::memory_order_acquire)) {
        delete spent;
        packageInFlight = false;
    }
}

DeferredPackage* EffectController::takeReady() {
    DeferredPackage* ready = readyPackage.exchange(nullptr, std::memory_order_acquire);
    if (ready) packageInFlight = false;
    return ready;
}

float EffectController::supportedRate(double hostRate) {
    return static_cast<float>(std::clamp<double>(hostRate, kMinEffectRate, kMaxEffectRate));
}

void EffectController::changeSampleRate(float rate) {
    std::lock_guard<std::mutex> lock(deferredMutex);
    collectSpent();
    effectRate.store(rate, std::memory_order_release);
    std::unique_ptr<DeferredPackage> inFlight(takeReady());
    std::unique_ptr<DeferredPackage> fresh = prepare(rate);
    {
        ControlHold hold(*this);
        if (inFlight) fx->installDeferred(*inFlight);
        applyStoredValues();
        if (fresh) fx->installDeferred(*fresh);
        fx->setSampleRate(rate);
        fx->reset();
    }
    if (fresh || inFlight) startWorker();
}

std::int32_t EffectController::settle() {
    std::lock_guard<std::mutex> lock(deferredMutex);
    collectSpent();
    std::unique_ptr<DeferredPackage> inFlight(takeReady());
    std::int32_t latencySamples;
    {
        ControlHold hold(*this);
        if (inFlight) fx->installDeferred(*inFlight);
        applyStoredValues();
        fx->settleChanges();
        latencySamples = fx->latency;
    }
    const float rate = effectRate.load(std::memory_order_acquire);
    if (rate > 0.0f) {
        // Storage is prepared with no hold on the effect; a change that
        // arrives meanwhile is picked up by the next round. The rounds are
        // bounded: what is still missing then is left to the worker.
        for (int round = 0; round < kSettleRounds; ++round) {
            std::unique_ptr<DeferredPackage> fresh = prepare(rate);
            if (!fresh) break;
            ControlHold hold(*this);
            fx->installDeferred(*fresh);
            applyStoredValues();
            latencySamples = fx->latency;
        }
    }
    if (resetPending.load(std::memory_order_acquire)) {
        ControlHold hold(*this);
        if (fx->resetClearsLargeBuffers()) fx->reset();
    }
    return latencySamples;
}

// ---------------------------------------------------------------------------
// Worker

void EffectController::startWorker() {
    if (workMode != WorkMode::ownThread || worker.joinable()) return;
    try {
        worker = std::thread(&EffectController::workerLoop, this);
        workerStarted.store(true, std::memory_order_release);
        wake.post();
    } catch (const std::exception&) {
        // No worker: deferred work then waits for the next control call.
    }
}

void EffectController::workerLoop() {
    for (;;) {
        wake.wait();
        if (stopping.load(std::memory_order_acquire)) return;
        runDeferredWork();
    }
}

void EffectController::runDeferredWork() {
    std::lock_guard<std::mutex> lock(deferredMutex);
    collectSpent();
    if (resetRequested.exchange(false, std::memory_order_acq_rel)) {
        ControlHold hold(*this);
        applyStoredValues();
        if (resetPending.exchange(false, std::memory_order_acq_rel)) fx->reset();
    }
    // One package at a time: the next is prepared against what the effect
    // will hold once this one is in.
    if (packageInFlight || !workRequested.exchange(false, std::memory_order_acq_rel)) return;
    if (std::unique_ptr<DeferredPackage> fresh = prepare(effectRate.load(std::memory_order_acquire))) {
        packageInFlight = true;
        readyPackage.store(fresh.release(), std::memory_order_release);
    }
}

} // namespace quor
