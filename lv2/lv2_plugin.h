// One LV2 plug-in instance: an effect inside an EffectController, its ports,
// and the deferred work handed to the host's worker when it offers one.
//
// Threads. LV2 separates the instantiation class (instantiate, activate,
// deactivate, cleanup; never concurrent with run) from the audio class (run)
// and the worker (work, one call at a time, concurrent with run). Port values
// are read only at the start of run and stored through the controller, so the
// effect applies them at that block's start exactly as the VST adapter applies
// setParameter. Without the host's worker (offline hosts), the deferred work
// runs at the start of run instead, on the audio thread.
#pragma once

#include "framework/effect_controller.h"
#include "lv2/bundle_layout.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include <lv2/core/lv2.h>
#include <lv2/worker/worker.h>

namespace quor::lv2 {

class Lv2Plugin final : private EffectController::WorkScheduler {
  public:
    // Instantiation thread. Sizes everything the rate (positive, finite)
    // needs; `worker` is the host's schedule feature, or null.
    Lv2Plugin(std::unique_ptr<EffectController> effectController, double hostRate,
              const LV2_Worker_Schedule* worker);
    ~Lv2Plugin() override = default;
    Lv2Plugin(const Lv2Plugin&) = delete;
    Lv2Plugin& operator=(const Lv2Plugin&) = delete;

    // Instantiation thread, or audio thread for hosts that reconnect while running.
    void connectPort(std::uint32_t port, void* data);
    // Instantiation thread: a fresh start, as the VST resume after a suspend.
    void activate();
    // Audio thread.
    void run(std::uint32_t frames);
    // Worker thread, one call at a time.
    void work();

  private:
    void scheduleWork() override; // any thread, lock-free
    void storePortValues();
    bool runBlock(std::uint32_t frames);
    void process(std::uint32_t frames);
    bool mainPortsConnected() const;
    void silenceOutputs(std::uint32_t frames);
    void publishLatency();

    const std::unique_ptr<EffectController> controller;
    const PortLayout layout;
    const LV2_Worker_Schedule* hostWorker;
    std::vector<float*> inputs;
    std::vector<float*> outputs;
    std::vector<const float*> controls;
    std::vector<float*> blockInputs; // the ports at an offset into the block
    std::vector<float*> blockOutputs;
    float* latencyPort = nullptr;
    float latencySamples = 0.0f;
    // Set by whatever asks for deferred work; run hands it to the host's
    // worker once it has let go of the effect, because a host that runs the
    // work at once (free-wheeling) would otherwise find the effect held.
    std::atomic<bool> workWanted{false};
};

} // namespace quor::lv2
