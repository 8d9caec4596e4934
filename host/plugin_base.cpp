#include "host/plugin_base.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace quor {

namespace {

// Every static callback catches everything: an exception must never unwind
// into the host.
VstIntPtr dispatcherCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                             float opt) {
    PluginBase* plugin = PluginBase::fromRecord(effect);
    if (!plugin) return 0;
    VstIntPtr result = 0;
    try {
        result = plugin->dispatcher(opcode, index, value, ptr, opt);
    } catch (...) {
        result = 0;
    }
    if (opcode == effClose) delete plugin;
    return result;
}

void processReplacingCallback(AEffect* effect, float** inputs, float** outputs, VstInt32 frames) {
    if (PluginBase* plugin = PluginBase::fromRecord(effect)) try {
            plugin->process(inputs, outputs, frames, true);
        } catch (...) {
        }
}

// The accumulating call. When the host hands the same arrays for input and
// output there is nothing to add to, so it replaces.
void processAccumulatingCallback(AEffect* effect, float** inputs, float** outputs, VstInt32 frames) {
    if (PluginBase* plugin = PluginBase::fromRecord(effect)) try {
            plugin->process(inputs, outputs, frames, inputs == outputs);
        } catch (...) {
        }
}

void setParameterCallback(AEffect* effect, VstInt32 index, float value) {
    if (PluginBase* plugin = PluginBase::fromRecord(effect)) try {
            plugin->setParameter(index, value);
        } catch (...) {
        }
}

float getParameterCallback(AEffect* effect, VstInt32 index) {
    if (PluginBase* plugin = PluginBase::fromRecord(effect)) try {
            return plugin->getParameter(index);
        } catch (...) {
        }
    return 0.0f;
}

} // namespace

PluginBase::PluginBase() {
    aeffect.magic = kEffectMagic;
    aeffect.dispatcher = dispatcherCallback;
    aeffect.process = processAccumulatingCallback;
    aeffect.setParameter = setParameterCallback;
    aeffect.getParameter = getParameterCallback;
    aeffect.processReplacing = processReplacingCallback;
    aeffect.flags = effFlagsCanReplacing;
    aeffect.ioRatio = 1.0f;
    // The instance is recovered from `object`, the plug-in's own field: hosts
    // are free to overwrite `user` as soon as the entry point returns.
    aeffect.object = this;
    aeffect.user = this;
    aeffect.version = 1;
}

PluginBase::~PluginBase() = default;

PluginBase* PluginBase::fromRecord(AEffect* effect) {
    if (!effect || effect->magic != kEffectMagic) return nullptr;
    return static_cast<PluginBase*>(effect->object);
}

void PluginBase::process(float**, float**, VstInt32, bool) {}

VstIntPtr PluginBase::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    char* text = static_cast<char*>(ptr);
    switch (opcode) {
    case effOpen:
        open();
        return 0;
    case effClose:
        close();
        return 0;
    case effSetProgram:
        if (value >= 0) {
            currentProgram = static_cast<VstInt32>(value);
            programChanged();
        }
        return 0;
    case effGetProgram:
        return currentProgram;
    case effSetProgramName:
        if (ptr) setProgramName(text);
        return 0;
    case effGetProgramName:
        if (text) {
            const char* programName = getProgramName(-1);
            std::strcpy(text, programName ? programName : "");
        }
        return 0;
    case effGetParamLabel:
        if (text) getParameterLabel(index, text);
        return 0;
    case effGetParamDisplay:
        if (text) getParameterDisplay(index, text);
        return 0;
    case effGetParamName:
        if (text) getParameterName(index, text);
        return 0;
    case effSetSampleRate:
        // A rate that is not a positive finite number is not a rate: ignore it.
        if (!(std::isfinite(opt) && opt > 0.0f)) return 0;
        if (opt != hostSampleRate) {
            hostSampleRate = opt;
            sampleRateChanged();
        }
        return 0;
    case effSetBlockSize:
        if (value != hostBlockSize) {
            hostBlockSize = static_cast<VstInt32>(value);
            blockSizeChanged();
        }
        return 0;
    case effMainsChanged: {
        const bool wasOn = mainsOn;
        mainsOn = value != 0;
        mainsChanged(wasOn);
        return 0;
    }
    case effEditGetRect:
    case effEditOpen:
    case effEditClose:
    case effEditIdle:
        return 0;
    case effIdentify:
        return kEffectIdentify;
    case effGetChunk:
        return getChunk(static_cast<void**>(ptr), index != 0); // a null ptr asks for the size only
    case effSetChunk:
        if (value < 0 || value > INT32_MAX) return 0;
        return setChunk(ptr, static_cast<VstInt32>(value), index != 0);
    case effProcessEvents:
        return processEvents(ptr);
    case effCanBeAutomated:
        return validParameterIndex(index) ? 1 : 0;
    case effGetProgramNameIndexed:
        if (const char* programName = getProgramName(index)) {
            if (text) std::strcpy(text, programName);
            return 1;
        }
        return 0;
    case effGetInputProperties:
        return ptr && getInputProperties(index, static_cast<VstPinProperties*>(ptr)) ? 1 : 0;
    case effGetOutputProperties:
        return ptr && getOutputProperties(index, static_cast<VstPinProperties*>(ptr)) ? 1 : 0;
    case effGetPlugCategory:
        return plugCategory;
    case effProcessVarIo:
        return processVarIo(ptr) ? 1 : 0;
    case effGetEffectName:
        return text && getEffectName(text) ? 1 : 0;
    case effGetVendorString:
        return text && getVendorString(text) ? 1 : 0;
    case effGetProductString:
        return text && getProductString(text) ? 1 : 0;
    case effGetVendorVersion:
        return getVendorVersion();
    case effVendorSpecific:
        return vendorSpecific(index, value, ptr);
    case effCanDo:
        return canDo(text);
    case effGetTailSize:
        return 0;
    case effGetParameterProperties:
        return ptr && getParameterProperties(index, static_cast<VstParameterProperties*>(ptr)) ? 1 : 0;
    case effGetVstVersion:
        return getVstVersion();
    case effSetEditKnobMode:
        knobMode = static_cast<VstInt32>(value);
        return 0;
    default:
        return 0;
    }
}

} // namespace quor
