// The VST 2.4 face of a plug-in: the AEffect record, the dispatcher that
// turns opcodes into virtual operations, and the default answer to each.
#pragma once

#include "host/vst2_abi.h"

#include <cstdint>

namespace quor {

class PluginBase {
public:
    PluginBase();
    virtual ~PluginBase();
    PluginBase(const PluginBase&) = delete;
    PluginBase& operator=(const PluginBase&) = delete;

    AEffect* effectRecord() { return &aeffect; }
    // The instance that owns a record handed out by this plug-in.
    static PluginBase* fromRecord(AEffect* effect);

    // Any thread; never throws.
    VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);

    virtual void process(float** inputs, float** outputs, VstInt32 frames, bool replacing);
    virtual void open() {}
    virtual void close() {}
    virtual void blockSizeChanged() {}
    virtual void sampleRateChanged() {}
    virtual void programChanged() {}
    virtual void setProgramName(const char*) {}
    virtual const char* getProgramName(VstInt32) { return nullptr; }
    virtual VstInt32 spareQuery() { return 0; }
    virtual void setParameter(VstInt32, float) {}
    virtual float getParameter(VstInt32) { return 0.0f; }
    virtual float getParameterDefault(VstInt32) { return 0.0f; }
    virtual void getParameterLabel(VstInt32, char* text) { text[0] = 0; }
    virtual void getParameterDisplay(VstInt32, char* text) { text[0] = 0; }
    virtual void getParameterName(VstInt32, char* text) { text[0] = 0; }
    virtual VstInt32 processEvents(void*) { return 0; }
    virtual void mainsChanged(bool /*wasOn*/) {}
    virtual VstInt32 getChunk(void** /*data*/, bool /*isPreset*/) { return 0; }
    virtual VstInt32 setChunk(void* /*data*/, VstInt32 /*size*/, bool /*isPreset*/) { return 0; }
    virtual bool getInputProperties(VstInt32, VstPinProperties*) { return false; }
    virtual bool getOutputProperties(VstInt32, VstPinProperties*) { return false; }
    virtual bool getEffectName(char* text) { text[0] = 0; return false; }
    virtual bool getVendorString(char* text) { text[0] = 0; return false; }
    virtual bool getProductString(char* text) { text[0] = 0; return false; }
    virtual VstInt32 getVendorVersion() { return 0; }
    virtual VstInt32 vendorSpecific(VstInt32, VstIntPtr, void*) { return -1; }
    virtual VstInt32 canDo(const char*) { return -1; }
    virtual VstInt32 getTailSize() { return 0; }
    virtual bool getParameterProperties(VstInt32, VstParameterProperties*) { return false; }
    virtual VstInt32 getVstVersion() { return kVstVersion; }
    virtual bool processVarIo(void*) { return false; }

protected:
    // Whether a host parameter index names a parameter of this plug-in.
    bool validParameterIndex(VstInt32 index) const { return index >= 0 && index < aeffect.numParams; }

    float hostSampleRate = 0;
    VstInt32 hostBlockSize = 0;
    AEffect aeffect{};
    audioMasterCallback audioMaster = nullptr;
    bool mainsOn = false;
    bool editorOpen = false;
    bool editorBusy = false;
    VstInt32 currentProgram = 0;
    ERect editRect{};
    void* editor = nullptr; // there is no editor in this suite
    VstInt32 plugCategory = 0;
    VstInt32 knobMode = 0;
};

} // namespace quor
