// An effect's LV2 description, read from the effect itself: its parameter
// table and groups, its channel counts, its display texts and its latency.
#pragma once

#include "framework/registry.h"

#include <string>
#include <utility>
#include <vector>

namespace quor::lv2 {

struct ScalePoint {
    float value;
    std::string label;
};

struct PortDescription {
    enum class Kind { audioInput, audioOutput, controlInput, latencyOutput };
    PortDescription(Kind portKind, std::string portSymbol, std::string portName)
        : kind(portKind), symbol(std::move(portSymbol)), name(std::move(portName)) {}

    Kind kind;
    std::string symbol;
    std::string name;
    bool sideChain = false;
    // Control inputs only, in the parameter's natural units.
    float minimum = 0.0f;
    float maximum = 0.0f;
    float defaultValue = 0.0f;
    bool integer = false;
    bool toggled = false;
    std::vector<ScalePoint> scalePoints;
};

struct PluginDescription {
    std::string uri;
    std::string slug;
    std::string name;
    std::vector<PortDescription> ports; // in index order
};

// A valid LV2 symbol made from a display name: lower case, every run of
// other characters one '_', never starting with a digit.
std::string symbolFrom(const char* name);

PluginDescription describe(const EffectFactory& factory);

} // namespace quor::lv2
