// One plug-in instance: wraps the configured effect and forwards the host's
// audio, parameter, state and lifecycle calls to it.
//
// Threads. The host calls the dispatcher and the parameter callbacks on its
// own threads and processing on its audio thread. Everything an effect reads
// while processing is guarded by the effect's processLock: the audio thread
// holds it for one block; a control thread takes it only to store values and
// run parameterChanged, which are short and allocation-free. Work that needs
// allocation (the Reverb's line rebuilds) is flagged under the lock and done
// afterwards by Effect::applyDeferredChanges, which allocates with no lock
// held and takes processLock only to install. getParameter reads published
// atomic copies and never waits.
#pragma once

#include "framework/effect.h"
#include "framework/host_link.h"
#include "host/plugin_base.h"

#include <atomic>
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
    HostedEffect* wrappedEffect() { return effect.get(); }

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
    // Runs with processLock held: stores a natural value when it differs from
    // the current one and tells the effect.
    void storeValue(std::int32_t index, float stored);
    void publishValues();
    // Brings initialDelay up to date with the effect's latency; returns true
    // when the host must be told.
    bool refreshLatency(std::int32_t latency);
    void notifyIoChanged();

    InstanceHostLink hostLink;
    std::unique_ptr<HostedEffect> effect;
    std::atomic<bool> resetPending{true};
    std::mutex chunkMutex; // the two chunk buffers, shared by host threads
    std::vector<std::uint8_t> presetChunk;
    std::vector<std::uint8_t> bankChunk;
    std::unique_ptr<std::atomic<float>[]> publishedValues; // normalised, for getParameter
};

} // namespace quor
