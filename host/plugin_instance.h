// One plug-in instance: wraps the configured effect and forwards the host's
// audio, parameter, state and lifecycle calls to it.
//
// Threads. The host calls the dispatcher and the parameter callbacks on its
// own threads, and may call setParameter on its audio thread too. The
// instance never lets its audio thread wait for another thread: the effect
// runs inside an EffectController (framework/effect_controller.h).
// - setParameter (any thread, the audio thread included) stores the value
//   into published atomics and a lock-free queue, never allocates and never
//   waits; the effect applies the change, with its parameterChanged, at the
//   start of the next block. getParameter, the saved chunk and the display
//   texts read the published values, so they answer at once.
// - Work that allocates or clears large buffers (the Reverb's line builds,
//   storage sized by the sample rate) is prepared on a low-priority worker
//   thread of the instance, or synchronously in effSetSampleRate and
//   effMainsChanged, which hosts call off the audio thread, and installed at a
//   block start by a pointer swap. Until then the audio keeps the previous,
//   consistent state.
// - The audio thread only ever tries to take the effect: while a control call
//   holds it (a rate change or suspend made against the protocol during
//   processing), the block is skipped as silence rather than waited for.
// - Display texts come from a second copy of the effect that never processes
//   audio, guarded by a mutex the audio thread never waits on.
#pragma once

#include "framework/effect.h"
#include "framework/effect_controller.h"
#include "framework/host_link.h"
#include "host/plugin_base.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace quor {

class EffectRegistry;
class PluginInstance;

class InstanceHostLink final : public HostLink {
  public:
    explicit InstanceHostLink(PluginInstance* owner) : instance(owner) {}
    void setParameterAutomated(std::int32_t index, float normalisedValue) override;
    void refreshEditor() override {}

  private:
    PluginInstance* instance;
};

class PluginInstance final : public PluginBase {
  public:
    // Looks `effectName` up (exactly) in `registry`; a null name picks the
    // last registered effect. A null host callback leaves the instance
    // without an effect: it then passes audio through and has no parameters.
    PluginInstance(audioMasterCallback host, const char* effectName, const EffectRegistry& registry);
    ~PluginInstance() override;

    bool hasEffect() const { return effect != nullptr; }
    // The processing effect; tests inspect it between blocks.
    HostedEffect* wrappedEffect() { return effect; }

    void process(float** inputs, float** outputs, VstInt32 frames, bool replacing) override;
    void sampleRateChanged() override;
    void mainsChanged(bool wasOn) override;

    void setParameter(VstInt32 index, float value) override;
    // Sets a parameter and tells the host, as an editor's gesture would.
    void setParameterAutomated(VstInt32 index, float value);
    float getParameter(VstInt32 index) override;
    float getParameterDefault(VstInt32 index) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;

    VstInt32 getChunk(void** data, bool isPreset) override;
    VstInt32 setChunk(void* data, VstInt32 size, bool isPreset) override;

    bool getInputProperties(VstInt32 index, VstPinProperties* pin) override;
    bool getOutputProperties(VstInt32 index, VstPinProperties* pin) override;
    bool getParameterProperties(VstInt32 index, VstParameterProperties* properties) override;
    bool getEffectName(char* text) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    VstInt32 getVendorVersion() override { return kVendorVersion; }

    static constexpr VstInt32 kVendorVersion = 1030;
    static constexpr const char* kVendor = "mornvale";

  private:
    // Brings initialDelay up to date with the effect's latency; returns true
    // when the host must be told.
    bool refreshLatency(std::int32_t latency);
    void notifyIoChanged();
    // A normalised host value in natural units; NaN stays NaN.
    float naturalValue(VstInt32 index, float normalised) const;

    InstanceHostLink hostLink;
    std::unique_ptr<EffectController> controller;
    HostedEffect* effect = nullptr; // owned by the controller; static description only outside blocks
    std::mutex chunkMutex;          // the two chunk buffers, shared by host threads
    std::vector<std::uint8_t> presetChunk;
    std::vector<std::uint8_t> bankChunk;
};

} // namespace quor
