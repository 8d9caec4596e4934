// What the chunk fuzzer and its seed writer share: how an input selects the
// effect, the sample rate and the call order, and a host callback that
// answers nothing.
//
// Input layout: byte 0 selects the effect (modulo the number registered),
// byte 1 holds the flags below, the remaining bytes are the chunk.
#pragma once

#include "framework/registry.h"
#include "host/vst2_abi.h"

#include <cstdint>
#include <vector>

namespace quor::fuzz {

enum InputFlags : std::uint8_t {
    kPresetChunk = 1u << 0, // effSetChunk with index 1 (a program), else 0 (a bank)
    kRateShift = 1,         // bits 1-3 select one of kRates
    kRateMask = 7u << kRateShift,
    kChunkBeforeRate = 1u << 4, // restore before the sample rate is set
    kAccumulate = 1u << 5,      // process with the accumulating call as well
    kRestoreTwice = 1u << 6,    // apply the same chunk again while processing
};

constexpr float kRates[8] = {8000.0f, 22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f, 384000.0f, 1e9f};

inline std::vector<const EffectFactory*> suiteEffects() {
    std::vector<const EffectFactory*> effects;
    for (const EffectFactory* f = EffectRegistry::suite().first(); f; f = f->next)
        effects.push_back(f);
    return effects;
}

inline VstIntPtr silentHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == 1 ? 2400 : 0; // audioMasterVersion
}

} // namespace quor::fuzz
