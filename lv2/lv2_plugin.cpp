#include "lv2/lv2_plugin.h"

#include "host/fp_mode.h"

#include <algorithm>
#include <climits>

namespace quor::lv2 {

Lv2Plugin::Lv2Plugin(std::unique_ptr<EffectController> effectController, double hostRate,
                     const LV2_Worker_Schedule* worker)
    : controller(std::move(effectController)), layout(controller->effect()), hostWorker(worker),
      inputs(static_cast<std::size_t>(layout.audioInputs)),
      outputs(static_cast<std::size_t>(layout.audioOutputs)),
      controls(static_cast<std::size_t>(layout.controls)), blockInputs(inputs.size()),
      blockOutputs(outputs.size()) {
    if (hostWorker)
        controller->setWorkMode(EffectController::WorkMode::scheduler, this);
    else
        controller->setWorkMode(EffectController::WorkMode::inline_);
    controller->changeSampleRate(EffectController::supportedRate(hostRate));
}

void Lv2Plugin::connectPort(std::uint32_t port, void* data) {
    auto* samples = static_cast<float*>(data);
    const auto firstOutput = static_cast<std::uint32_t>(layout.audioInputs);
    const auto firstControl = static_cast<std::uint32_t>(layout.firstControl);
    if (port < firstOutput)
        inputs[port] = samples;
    else if (port < firstControl)
        outputs[port - firstOutput] = samples;
    else if (port < static_cast<std::uint32_t>(layout.latency))
        controls[port - firstControl] = samples;
    else if (port == static_cast<std::uint32_t>(layout.latency))
        latencyPort = samples;
}

void Lv2Plugin::activate() {
    controller->requestReset();
    latencySamples = static_cast<float>(controller->settle());
}

void Lv2Plugin::storePortValues() {
    for (std::size_t i = 0; i < controls.size(); ++i)
        if (const float* port = controls[i]) controller->storeHostValue(static_cast<std::int32_t>(i), *port);
}

// Side-chain inputs may stay unconnected: the effects take a null side-chain channel.
bool Lv2Plugin::mainPortsConnected() const {
    for (std::size_t c = 0; c < inputs.size(); ++c)
        if (!inputs[c] && !layout.isSideChain(static_cast<std::uint32_t>(c))) return false;
    for (const float* out : outputs)
        if (!out) return false;
    return true;
}

void Lv2Plugin::silenceOutputs(std::uint32_t frames) {
    for (float* out : outputs)
        if (out) std::fill(out, out + frames, 0.0f);
}

void Lv2Plugin::publishLatency() {
    if (latencyPort) *latencyPort = latencySamples;
}

void Lv2Plugin::process(std::uint32_t frames) {
    for (std::uint32_t done = 0; done < frames;) {
        const auto n = static_cast<std::int32_t>(std::min<std::uint32_t>(frames - done, INT32_MAX));
        for (std::size_t c = 0; c < inputs.size(); ++c)
            blockInputs[c] = inputs[c] ? inputs[c] + done : nullptr;
        for (std::size_t c = 0; c < outputs.size(); ++c)
            blockOutputs[c] = outputs[c] + done;
        AudioBuffers buffers{blockInputs.data(), blockOutputs.data(), n, 0};
        controller->effect().process(buffers, true);
        done += static_cast<std::uint32_t>(n);
    }
}

// False: the block cannot run (an instantiation call holds the effect, a
// reset is zeroing large buffers on the worker, or a main port is missing).
bool Lv2Plugin::runBlock(std::uint32_t frames) {
    if (!controller->beginBlock()) return false;
    FlushToZeroScope flushToZero;
    bool ran = false;
    if (controller->runPendingReset()) {
        latencySamples = static_cast<float>(controller->latency());
        ran = mainPortsConnected();
        if (ran) process(frames);
        controller->runPendingReset();
    }
    controller->endBlock();
    return ran;
}

void Lv2Plugin::run(std::uint32_t frames) {
    storePortValues();
    if (!hostWorker) controller->runDeferredWork();
    if (!runBlock(frames)) silenceOutputs(frames);
    publishLatency();
    if (hostWorker && workWanted.exchange(false, std::memory_order_acq_rel)) {
        static const char kWake = 0;
        if (hostWorker->schedule_work(hostWorker->handle, sizeof kWake, &kWake) != LV2_WORKER_SUCCESS)
            workWanted.store(true, std::memory_order_release); // the host's queue is full: ask again next run
    }
}

void Lv2Plugin::scheduleWork() {
    workWanted.store(true, std::memory_order_release);
}

void Lv2Plugin::work() {
    controller->runDeferredWork();
}

} // namespace quor::lv2
