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

PluginInstance::PluginInstance(audioMasterCallback host, const char* effectName,
                               const EffectRegistry& registry)
    : hostLink(this) {
    aeffect.numInputs = 2;
    aeffect.numOutputs = 2;
    if (!host) return;
    audioMaster = host;
    if (!effectName) {
        const EffectFactory* lastFactory = registry.last();
        effectName = lastFactory ? lastFactory->name : nullptr;
    }
    if (const EffectFactory* factory = registry.find(LookupKey{1, effectName}))
        controller = EffectController::create(*factory);
    if (!controller) return;
    effect = &controller->effect();
    effect->hostLink = &hostLink;

    aeffect.numParams = std::max(effect->paramCount, 0);
    aeffect.numPrograms = 1;
    aeffect.uniqueID = static_cast<VstInt32>(NameHash("quor") + NameHash(effect->name));
    aeffect.numInputs = effect->numInputs;
    aeffect.numOutputs = effect->numOutputs;
    aeffect.flags |= effFlagsProgramChunks;
    aeffect.flags &= ~effFlagsHasEditor;
    plugCategory = kPlugCategEffect;
}

PluginInstance::~PluginInstance() = default;

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
    for (std::int32_t c = 0; c < 2; ++c)
        if (!outputs[c]) return;
    if (!effect) {
        FlushToZeroScope flushToZero;
        passThrough(inputs, outputs, frames, 2, replacing);
        return;
    }

    // A block the effect cannot run (a control call holds it, or a reset is
    // zeroing large buffers off this thread) is silent.
    auto skip = [&] {
        if (replacing)
            for (std::int32_t c = 0; c < 2; ++c)
                std::fill(outputs[c], outputs[c] + frames, 0.0f);
    };
    if (!controller->beginBlock()) return skip();
    FlushToZeroScope flushToZero;
    if (!controller->runPendingReset()) {
        controller->endBlock();
        return skip();
    }
    if (refreshLatency(controller->latency())) {
        // The host may call back into us from its handler: let control calls in meanwhile.
        controller->endBlock();
        notifyIoChanged();
        if (!controller->resumeBlock()) return skip();
    }
    if (effect->sampleRate <= 0.0f || !inputs[0] || !inputs[1]) {
        passThrough(inputs, outputs, frames, 2, replacing);
    } else {
        AudioBuffers buffers{inputs, outputs, frames, 0};
        effect->process(buffers, replacing);
    }
    controller->runPendingReset();
    controller->endBlock();
}

// Host thread; hosts change the rate only while processing is suspended.
void PluginInstance::sampleRateChanged() {
    if (!effect) return;
    controller->changeSampleRate(EffectController::supportedRate(hostSampleRate));
}

// Host thread.
void PluginInstance::mainsChanged(bool wasOn) {
    if (!effect) return;
    if (!mainsOn && wasOn) controller->requestReset();
    if (refreshLatency(controller->settle())) notifyIoChanged();
}

float PluginInstance::naturalValue(VstInt32 index, float normalised) const {
    normalised = std::clamp(normalised, 0.0f, 1.0f);
    const ParamInfo& row = effect->params[index];
    return row.min + (row.max - row.min) * normalised;
}

// Any thread, the audio thread included: never allocates, never waits.
void PluginInstance::setParameter(VstInt32 index, float value) {
    if (!effect || !validParameterIndex(index)) return;
    controller->storeHostValue(index, naturalValue(index, value));
}

// Any thread, never waits.
float PluginInstance::getParameter(VstInt32 index) {
    if (!effect || !validParameterIndex(index)) return 0.0f;
    const ParamInfo& row = effect->params[index];
    return (controller->storedValue(index) - row.min) / (row.max - row.min);
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
    controller->formatValue(index, display, static_cast<std::int32_t>(kHostTextBytes));
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
    std::vector<float> values(static_cast<std::size_t>(std::max(effect->paramCount, 0)));
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = controller->storedValue(static_cast<std::int32_t>(i));
    const auto version = static_cast<std::uint32_t>(controller->chunkVersion());
    std::lock_guard<std::mutex> chunkLock(chunkMutex);
    std::vector<std::uint8_t>& buffer = isPreset ? presetChunk : bankChunk;
    if (buffer.size() != size) buffer.assign(size, 0);
    writeStateChunk(buffer.data(), effect->name, version, values.data(), effect->paramCount);
    *data = buffer.data();
    return static_cast<VstInt32>(size);
}

// Host thread. Values are stored in index order, one parameterChanged per
// changed value at the next block, as if the host had set them; stored values
// outside a parameter's range are brought into it first.
VstInt32 PluginInstance::setChunk(void* data, VstInt32 size, bool /*isPreset*/) {
    if (!effect || !data || size <= 0) return 0;
    ParsedState state;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const auto paramCount = static_cast<std::size_t>(std::max(effect->paramCount, 0));
    if (!parseStateChunk(bytes, static_cast<std::size_t>(size), state, paramCount) || !state.hasPars)
        return 0;
    const std::size_t count = std::min(state.values.size(), paramCount);
    for (std::size_t i = 0; i < count; ++i) {
        const auto index = static_cast<std::int32_t>(i);
        controller->storeValue(index, effect->sanitizedValue(index, state.values[i]));
    }
    if (state.storedCount != static_cast<std::uint32_t>(effect->paramCount) ||
        state.version != static_cast<std::uint32_t>(controller->chunkVersion()))
        controller->convertChunk(state.parsRecord);
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
