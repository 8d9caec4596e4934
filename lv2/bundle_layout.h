// What the plug-in library and the generated descriptions agree on: each
// effect's URI and the order of its ports. Port indices follow the effect's
// own description, so a description can never name a port the library does
// not have:
//   audio inputs (the VST order; those beyond the outputs are the side-chain),
//   audio outputs, one control input per parameter in table order, and last
//   the latency output, which only effects that can report latency declare.
#pragma once

#include "framework/effect.h"

#include <cctype>
#include <cstdint>
#include <string>

namespace quor::lv2 {

inline std::string effectSlug(const char* effectName) {
    std::string slug;
    for (const char* c = effectName; *c; ++c)
        slug += *c == ' ' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    return slug;
}

inline std::string pluginUri(const char* effectName) {
    return "urn:mornvale:quor:" + effectSlug(effectName);
}

struct PortLayout {
    explicit PortLayout(const Effect& effect)
        : audioInputs(effect.numInputs), audioOutputs(effect.numOutputs),
          firstControl(effect.numInputs + effect.numOutputs),
          controls(effect.paramCount > 0 ? effect.paramCount : 0), latency(firstControl + controls) {}

    bool isSideChain(std::uint32_t input) const { return input >= static_cast<std::uint32_t>(audioOutputs); }

    std::int32_t audioInputs;
    std::int32_t audioOutputs;
    std::int32_t firstControl;
    std::int32_t controls;
    std::int32_t latency; // the port index, whether or not the description declares it
};

} // namespace quor::lv2
