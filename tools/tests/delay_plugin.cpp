// A test-only VST 2.4 plug-in: a stereo delay of N samples that reports N as
// its latency the way a look-ahead limiter does, from its first processing
// call after a change, through audioMasterIOChanged. Inputs 2 and 3 are a
// side-chain mixed into the delayed signal; a feedback gain makes echoes for
// tail tests. Variants differ in the entry point (QUOR_TEST_ENTRY: 0 exports
// VSTPluginMain, 1 only the legacy `main` of older Linux plug-ins, 2 one that
// creates no instance, 3 none) and in the channels (a mono one has no side-chain).
#include "host/vst2_abi.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int kChannels = QUOR_TEST_CHANNELS, kMaxDelayFrames = 8192, kSize = kMaxDelayFrames + 1;
enum Param { kDelay, kSideMix, kFeedback, kParamCount };
const char* const kParamNames[kParamCount] = {"Delay", "Side Mix", "Feedback"};

struct DelayPlugin {
    AEffect record{};
    audioMasterCallback host = nullptr;
    float values[kParamCount] = {};
    std::vector<float> lines[2] = {std::vector<float>(kSize), std::vector<float>(kSize)};
    int writePos = 0;
};

DelayPlugin* self(AEffect* e) {
    return static_cast<DelayPlugin*>(e->object);
}

VstIntPtr dispatcher(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr, void* ptr, float) {
    if (opcode == effClose) delete self(e);
    if (opcode == effGetParamName && ptr && index >= 0 && index < kParamCount)
        std::snprintf(static_cast<char*>(ptr), 64, "%s", kParamNames[index]);
    if (opcode == effGetEffectName && ptr) std::snprintf(static_cast<char*>(ptr), 64, "Test Delay");
    return opcode == effGetEffectName ? 1 : 0;
}

void processReplacing(AEffect* e, float** inputs, float** outputs, VstInt32 frames) {
    DelayPlugin* p = self(e);
    const int delay = static_cast<int>(std::lround(p->values[kDelay] * kMaxDelayFrames));
    if (e->initialDelay != delay) {
        e->initialDelay = delay;
        if (p->host) p->host(e, audioMasterIOChanged, 0, 0, nullptr, 0.0f);
    }
    const float feedback = p->values[kFeedback] * 0.95f;
    int pos = p->writePos;
    for (int c = 0; c < kChannels; ++c) {
        float* line = p->lines[c].data();
        pos = p->writePos;
        for (VstInt32 i = 0; i < frames; ++i, pos = (pos + 1) % kSize) {
            const float x = inputs[c][i] + (kChannels == 2 ? p->values[kSideMix] * inputs[c + 2][i] : 0.0f);
            const float delayed = delay == 0 ? x : line[(pos - delay + kSize) % kSize];
            line[pos] = x + (delay == 0 ? 0.0f : feedback * delayed);
            outputs[c][i] = delayed;
        }
    }
    p->writePos = pos;
}

[[maybe_unused]] AEffect* create(audioMasterCallback host) {
    auto* p = new DelayPlugin;
    p->host = host;
    AEffect& r = p->record;
    r.magic = kEffectMagic;
    r.dispatcher = dispatcher;
    r.setParameter = [](AEffect* e, VstInt32 i, float v) {
        if (i >= 0 && i < kParamCount) self(e)->values[i] = std::clamp(v, 0.0f, 1.0f);
    };
    r.getParameter = [](AEffect* e, VstInt32 i) {
        return i >= 0 && i < kParamCount ? self(e)->values[i] : 0.0f;
    };
    r.processReplacing = processReplacing;
    r.numPrograms = 1;
    r.numParams = kParamCount;
    r.numInputs = kChannels == 2 ? 4 : 1;
    r.numOutputs = kChannels;
    r.flags = effFlagsCanReplacing;
    r.uniqueID = fourCharCode('Q', 't', 'D', 'l');
    r.version = 7;
    r.object = p;
    r.ioRatio = 1.0f;
    if (host) host(&r, audioMasterVersion, 0, 0, nullptr, 0.0f); // a call from inside the entry point
    return &r;
}

} // namespace

#if QUOR_TEST_ENTRY == 1
#define QUOR_TEST_SYMBOL "main"
#else
#define QUOR_TEST_SYMBOL "VSTPluginMain"
#endif
#if QUOR_TEST_ENTRY != 3
extern "C" __attribute__((visibility("default"))) AEffect*
testEntry(audioMasterCallback host) __asm__(QUOR_TEST_SYMBOL);
AEffect* testEntry(audioMasterCallback host) {
    return QUOR_TEST_ENTRY == 2 ? nullptr : create(host);
}
#endif
