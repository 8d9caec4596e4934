// The plug-in's only exported symbol. Each plug-in module compiles this file
// with the name of the effect it wraps (QUOR_EFFECT_NAME); leaving the name
// out selects the last registered effect.
#include "framework/registry.h"
#include "host/plugin_instance.h"

#include <new>

#ifndef QUOR_EFFECT_NAME
#define QUOR_EFFECT_NAME nullptr
#endif

namespace {
const char* const configuredEffectName = QUOR_EFFECT_NAME;
}

extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback audioMaster) {
    try {
        auto* instance = new quor::PluginInstance(audioMaster, configuredEffectName, quor::EffectRegistry::suite());
        if (audioMaster && !instance->hasEffect()) {
            delete instance;
            return nullptr;
        }
        return instance->effectRecord();
    } catch (...) {
        return nullptr;
    }
}
