// A test-only VST 2.4 plug-in: a stereo delay of N samples that reports N as
// its latency the way a look-ahead limiter does, from its first processing
// call after a change, through audioMasterIOChanged. Inputs 2 and 3 are a
// side-chain mixed into the delayed signal; a feedback gain makes echoes for
// tail tests. Built in several variants that differ only in the entry point.
#include "host/vst2_abi.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kMaxDelayFrames = 8192;
enum Param { kDelay, kSideMix, kFeedback, kParamCount };
const char* const kParamNames[kParamCount] = {"Delay", "Side Mix", "Feedback"};

struct DelayPlugin {
    AEffect record{};
    audioMasterCallback host = nullptr;
    float values[kParamCount] = {0.0f, 0.0f, 0.0f};
    char programName[25] = "Init";
    std::vector<float> lines[2];
    int writePos = 0;

    int delayFrames() const { return static_cast<int>(std::lround(values[kDelay] * kMaxDelayFrames)); }
};

DelayPlugin* self(AEffect* e) {
    return static_cast<DelayPlugin*>(e->object);
}

void copyText(void* ptr, const char* text) {
    if (ptr) std::snprintf(static_cast<char*>(ptr), 64, "%s", text);
}

VstIntPtr dispatcher(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr, void* ptr, float) {
    DelayPlugin* p = self(e);
    switch (opcode) {
    case effClose:
        delete p;
        return 0;
    case effGetParamName:
        if (index >= 0 && index < kParamCount) copyText(ptr, kParamNames[index]);
        return 0;
    case effGetParamDisplay:
        if (index == kDelay) {
            char text[64];
            std::snprintf(text, sizeof text, "%d smp", p->delayFrames());
            copyText(ptr, text);
        } else if (index >= 0 && index < kParamCount) {
            char text[64];
            std::snprintf(text, sizeof text, "%.2f", static_cast<double>(p->values[index]));
            copyText(ptr, text);
        }
        return 0;
    case effGetProgramName:
        copyText(ptr, p->programName);
        return 0;
    case effSetProgramName:
        if (ptr) std::snprintf(p->programName, sizeof p->programName, "%s", static_cast<const char*>(ptr));
        return 0;
    case effGetEffectName:
        copyText(ptr, "Test Delay");
        return 1;
    case effGetVendorString:
        copyText(ptr, "quor tests");
        return 1;
    case effMainsChanged:
        for (auto& line : p->lines)
            std::fill(line.begin(), line.end(), 0.0f);
        p->writePos = 0;
        return 0;
    case effGetVstVersion:
        return kVstVersion;
    default:
        return 0;
    }
}

void setParameter(AEffect* e, VstInt32 index, float value) {
    if (index >= 0 && index < kParamCount) self(e)->values[index] = std::clamp(value, 0.0f, 1.0f);
}

float getParameter(AEffect* e, VstInt32 index) {
    return index >= 0 && index < kParamCount ? self(e)->values[index] : 0.0f;
}

void processReplacing(AEffect* e, float** inputs, float** outputs, VstInt32 frames) {
    DelayPlugin* p = self(e);
    const int delay = p->delayFrames();
    if (e->initialDelay != delay) {
        e->initialDelay = delay;
        if (p->host) p->host(e, audioMasterIOChanged, 0, 0, nullptr, 0.0f);
    }
    const int size = kMaxDelayFrames + 1;
    const float sideMix = p->values[kSideMix];
    const float feedback = p->values[kFeedback] * 0.95f;
    int pos = p->writePos;
    for (int c = 0; c < 2; ++c) {
        float* line = p->lines[c].data();
        const float* in = inputs[c];
        const float* side = inputs[c + 2];
        float* out = outputs[c];
        pos = p->writePos;
        for (VstInt32 i = 0; i < frames; ++i) {
            const float x = in[i] + sideMix * side[i];
            const int readPos = (pos - delay + size) % size;
            const float delayed = delay == 0 ? x : line[readPos];
            line[pos] = x + (delay == 0 ? 0.0f : feedback * delayed);
            out[i] = delayed;
            pos = (pos + 1) % size;
        }
    }
    p->writePos = pos;
}

[[maybe_unused]] AEffect* create(audioMasterCallback host) {
    auto* p = new DelayPlugin;
    p->host = host;
    for (auto& line : p->lines)
        line.assign(kMaxDelayFrames + 1, 0.0f);
    AEffect& r = p->record;
    r.magic = kEffectMagic;
    r.dispatcher = dispatcher;
    r.setParameter = setParameter;
    r.getParameter = getParameter;
    r.processReplacing = processReplacing;
    r.numPrograms = 1;
    r.numParams = kParamCount;
    r.numInputs = 4;
    r.numOutputs = 2;
    r.flags = effFlagsCanReplacing;
    r.uniqueID = fourCharCode('Q', 't', 'D', 'l');
    r.version = 7;
    r.object = p;
    r.ioRatio = 1.0f;
    if (host) host(&r, audioMasterVersion, 0, 0, nullptr, 0.0f);
    return &r;
}

} // namespace

#if QUOR_TEST_ENTRY == 0
extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback host) {
    return create(host);
}
#elif QUOR_TEST_ENTRY == 1
// The legacy entry point that older Linux plug-ins export instead.
extern "C" __attribute__((visibility("default"))) AEffect*
legacyEntry(audioMasterCallback host) __asm__("main");
AEffect* legacyEntry(audioMasterCallback host) {
    return create(host);
}
#elif QUOR_TEST_ENTRY == 2
// An entry point that fails to create an instance.
extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback) {
    return nullptr;
}
#else
// No entry point at all: a module, but no plug-in.
extern "C" __attribute__((visibility("default"))) int quorTestNotAPlugin() {
    return 0;
}
#endif
