#include "host/plugin_instance.h"

#include "framework/registry.h"
#include "host/fp_mode.h"
#include "host/name_hash.h"
#include "host/state_chunk.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace quor {

namespace {

// The effects are built for rates in this band. A host rate outside it is
// run at the nearest edge, which keeps every filter stable and every buffer
// allocation bounded.
constexpr float kMinEffectRate = 8000.0f;
constexpr float kMaxEffectRate = 768000.0f;

// Longest text a display or name request may write, terminating zero included.
constexpr std::size_t kHostTextBytes = 64;

void copyHostText(char* dest, const char* source) {
    const std::size_t n = std::min(std::strlen(source), kHostTextBytes - 1);
    std::memcpy(dest, source, n);
    dest[n] = 0;
}

// Pins are numbered from 1. The host may ask for any index, so the number is
// formed in 64 bits: INT32_MAX + 1 must not overflow.
void fillPinProperties(VstPinProperties* pin, const char* prefix, VstInt32 index) {
    std::snprintf(pin->label, sizeof pin->label, "%s %lld", prefix, static_cast<long long>(index) + 1);
    pin->flags = kVstPinIsActive | kVstPinIsStereo | kVstPinUseSpeaker;
    pin->arrangementType = kSpeakerArrStereo;
}

// Audio passes unchanged while there is nothing to run it through: an
// instance without an effect, or an effect that has no sample rate yet.
void passThrough(float** inputs, float** outputs, VstInt32 frames, VstInt32 channels, bool replacing) {
    for (VstInt32 c = 0; c < channels; ++c) {
        const float* in = inputs[c];
        float* out = outputs[c];
        if (!out) continue;
        if (!in) {
            if (replacing) std::fill(out, out + frames, 0.0f);
            continue;
        }
        if (replacing) {
            if (in != out) std::memmove(out, in, sizeof(float) * static_cast<std::size_t>(frames));
        } else {
            for (VstInt32 k = 0; k < frames; ++k)
                out[k] += in[k];
        }
    }
}

} // namespace

void InstanceHostLink::setParameterAutomated(std::int32_t index, float normalisedValue) {
    instance->setParameterAutomated(index, normalisedValue);
}

void PluginInstance::setParameterAutomated(VstInt32 index, float value) {
    setParameter(index, value);
    if (audioMaster) audioMaster(&aeffect, audioMasterAutomate, index, 0, nullptr, value);
}

PluginInstance::PluginInstance(audioMasterCallback host, const char* effectName, const EffectRegistry& registry)
    : hostLink(this) {
    aeffect.numInputs = 2;
    aeffect.numOutputs = 2;
    if (!host) return;
    audioMaster = host;
    if (!effectName) {
        const EffectFactory* lastFactory = registry.last();
        effectName = lastFactory ? lastFactory->name : nullptr;
    }
    effect.reset(registry.findAndCreate(LookupKey{1, effectName}));
    if (!effect) return;
    effect->hostLink = &hostLink;
    resetPending = true;
    {
        std::lock_guard<InstanceLock> lock(effect->processLock);
        effect->applyDefaults();
    }
    effect->applyDeferredChanges();

    const std::int32_t count = std::max(effect->paramCount, 0);
    publishedValues.reset(new std::atomic<float>[static_cast<std::size_t>(count) + 1]);
    publishValues();

    aeffect.numParams = count;
    aeffect.numPrograms = 1;
    aeffect.uniqueID = static_cast<VstInt32>(NameHash("quor") + NameHash(effect->name));
    aeffect.numInputs = effect->numInputs;
    aeffect.numOutputs = effect->numOutputs;
    aeffect.flags |= effFlagsProgramChunks;
    aeffect.flags &= ~effFlagsHasEditor;
    plugCategory = kPlugCategEffect;
}

PluginInstance::~PluginInstance() = default;

void PluginInstance::publishValues() {
    for (std::int32_t i = 0; i < effect->paramCount; ++i) {
        const ParamInfo& row = effect->params[i];
        publishedValues[i].store((effect->values[i] - row.min) / (row.max - row.min), std::memory_order_relaxed);
    }
}

bool PluginInstance::refreshLatency(std::int32_t latency) {
    if (__atomic_load_n(&aeffect.initialDelay, __ATOMIC_RELAXED) == latency) return false;
    __atomic_store_n(&aeffect.initialDelay, latency, __ATOMIC_RELAXED);
    return audioMaster != nullptr;
}

void PluginInstance::notifyIoChanged() {
    if (audioMaster) audioMaster(&aeffect, audioMasterIOChanged, 0, 0, nullptr, 0.0f);
}

// Audio thread.
void PluginInstance::process(float** inputs, float** outputs, VstInt32 frames, bool replacing) {
    if (!inputs || !outputs || frames <= 0) return;
    FlushToZeroScope flushToZero;
    if (!effect) {
        passThrough(inputs, outputs, frames, 2, replacing);
        return;
    }
    for (std::int32_t c = 0; c < 2; ++c)
        if (!outputs[c]) return;

    std::unique_lock<InstanceLock> lock(effect->processLock);
    if (resetPending.exchange(false)) effect->reset();
    if (refreshLatency(effect->latency)) {
        // The host may call back into us from its handler: never hold the lock across it.
        lock.unlock();
        notifyIoChanged();
        lock.lock();
    }
    if (effect->sampleRate <= 0.0f || !inputs[0] || !inputs[1]) {
        passThrough(inputs, outputs, frames, 2, replacing);
    } else {
        AudioBuffers buffers{inputs, outputs, frames, 0};
        effect->process(buffers, replacing);
    }
    if (resetPending.exchange(false)) effect->reset();
}

// Host thread; hosts change the rate only while processing is suspended.
void PluginInstance::sampleRateChanged() {
    if (!effect) return;
    const float rate = std::clamp(hostSampleRate, kMinEffectRate, kMaxEffectRate);
    std::vector<float> stored(static_cast<std::size_t>(std::max(effect->paramCount, 0)));
    {
        std::lock_guard<InstanceLock> lock(effect->processLock);
        std::copy(effect->values, effect->values + stored.size(), stored.begin());
    }
    std::unique_ptr<DeferredPackage> package =
        effect->prepareDeferred(DeferredRequest{stored.data(), effect->paramCount, rate});
    {
        std::lock_guard<InstanceLock> lock(effect->processLock);
        if (package) effect->installDeferred(*package);
        effect->setSampleRate(rate);
        effect->reset();
    }
    package.reset();
    effect->applyDeferredChanges();
}

// Host thread.
void PluginInstance::mainsChanged(bool wasOn) {
    if (!effect) return;
    bool notify;
    {
        std::lock_guard<InstanceLock> lock(effect->processLock);
        notify = refreshLatency(effect->latency);
    }
    if (notify) notifyIoChanged();
    if (!mainsOn && wasOn) resetPending = true;
}

void PluginInstance::storeValue(std::int32_t index, float stored) {
    float& current = effect->values[index];
    if (stored == current) return;
    current = stored;
    effect->parameterChanged(index);
}

// Any thread.
void PluginInstance::setParameter(VstInt32 index, float value) {
    if (!effect || !validParameterIndex(index) || std::isnan(value)) return;
    value = std::clamp(value, 0.0f, 1.0f);
    const ParamInfo& row = effect->params[index];
    const float stored = effect->sanitizedValue(index, row.min + (row.max - row.min) * value);
    {
        std::lock_guard<InstanceLock> lock(effect->processLock);
        storeValue(index, stored);
        publishedValues[index].store((effect->values[index] - row.min) / (row.max - row.min),
                                     std::memory_order_relaxed);
    }
    effect->applyDeferredChanges();
}

// Any thread, never waits.
float PluginInstance::getParameter(VstInt32 index) {
    if (!effect || !validParameterIndex(index)) return 0.0f;
    return publishedValues[index].load(std::memory_order_relaxed);
}

float PluginInstance::getParameterDefault(VstInt32 index) {
    if (!effect || !validParameterIndex(index)) return 0.0f;
    return effect->params[index].defaultValue;
}

// Host thread.
void PluginInstance::getParameterDisplay(VstInt32 index, char* text) {
    text[0] = 0;
    if (!effect || !validParameterIndex(index)) return;
    char display[256] = {};
    {
        std::lock_guard<InstanceLock> lock(effect->processLock);
        effect->formatValue(index, display, static_cast<std::int32_t>(kHostTextBytes));
    }
    copyHostText(text, display);
}

void PluginInstance::getParameterName(VstInt32 index, char* text) {
    text[0] = 0;
    if (!effect || !validParameterIndex(index)) return;
    copyHostText(text, effect->params[index].name);
}

// Host thread. The chunk lives in the instance until the next request of the
// same kind.
VstInt32 PluginInstance::getChunk(void** data, bool isPreset) {
    if (!effect) return 0;
    const std::uint32_t size = stateChunkSize(effect->name, effect->paramCount);
    if (!data) return static_cast<VstInt32>(size);
    std::lock_guard<std::mutex> chunkLock(chunkMutex);
    std::vector<std::uint8_t>& buffer = isPreset ? presetChunk : bankChunk;
    if (buffer.size() != size) buffer.assign(size, 0);
    std::vector<float> values(static_cast<std::size_t>(std::max(effect->paramCount, 0)));
    std::int32_t version;
    {
        std::lock_guard<InstanceLock> lock(effect->processLock);
        std::copy(effect->values, effect->values + values.size(), values.begin());
        version = effect->chunkVersion();
    }
    writeStateChunk(buffer.data(), effect->name, static_cast<std::uint32_t>(version), values.data(),
                    effect->paramCount);
    *data = buffer.data();
    return static_cast<VstInt32>(size);
}

// Host thread. Values are applied in index order, one parameterChanged per
// changed value, as if the host had set them; stored values outside a
// parameter's range are brought into it first.
VstInt32 PluginInstance::setChunk(void* data, VstInt32 size, bool /*isPreset*/) {
    if (!effect || !data || size <= 0) return 0;
    ParsedState state;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const auto paramCount = static_cast<std::size_t>(std::max(effect->paramCount, 0));
    if (!parseStateChunk(bytes, static_cast<std::size_t>(size), state, paramCount) || !state.hasPars) return 0;
    {
        std::lock_guard<InstanceLock> lock(effect->processLock);
        const std::size_t count = std::min<std::size_t>(state.values.size(), std::max(effect->paramCount, 0));
        for (std::size_t i = 0; i < count; ++i) {
            const auto index = static_cast<std::int32_t>(i);
            storeValue(index, effect->sanitizedValue(index, state.values[i]));
        }
        if (state.storedCount != static_cast<std::uint32_t>(effect->paramCount) ||
            state.version != static_cast<std::uint32_t>(effect->chunkVersion()))
            effect->convertChunk(state.parsRecord);
        publishValues();
    }
    effect->applyDeferredChanges();
    if (effect->hostLink) effect->hostLink->refreshEditor();
    return 0;
}

bool PluginInstance::getInputProperties(VstInt32 index, VstPinProperties* pin) {
    fillPinProperties(pin, "in", index);
    return true;
}

bool PluginInstance::getOutputProperties(VstInt32 index, VstPinProperties* pin) {
    fillPinProperties(pin, "out", index);
    return true;
}

bool PluginInstance::getParameterProperties(VstInt32 index, VstParameterProperties* properties) {
    if (!effect || !validParameterIndex(index)) return false;
    const ParamInfo& row = effect->params[index];
    properties->flags = row.discrete ? kVstParameterUsesIntegerMinMax : 0;
    properties->minInteger = static_cast<VstInt32>(row.min);
    properties->maxInteger = static_cast<VstInt32>(row.max);
    return true;
}

bool PluginInstance::getEffectName(char* text) {
    if (!effect) return PluginBase::getEffectName(text);
    std::snprintf(text, kHostTextBytes, "Quor %s", effect->name);
    return true;
}

bool PluginInstance::getVendorString(char* text) {
    if (!effect) return PluginBase::getVendorString(text);
    std::strcpy(text, kVendor);
    return true;
}

bool PluginInstance::getProductString(char* text) {
    if (!effect) return PluginBase::getProductString(text);
    copyHostText(text, effect->name);
    return true;
}

} // namespace quor
