#include "lv2/describe.h"

#include "framework/effect_controller.h"
#include "lv2/bundle_layout.h"

#include <cctype>
#include <cmath>
#include <memory>
#include <set>
#include <stdexcept>

namespace quor::lv2 {

namespace {

// The rate at which an effect's latency is probed.
constexpr float kProbeRate = 48000.0f;
// Display texts as a VST host receives them: at most this many bytes, the terminating zero included.
constexpr std::size_t kHostTextBytes = 64;

std::unique_ptr<EffectController> controllerFor(const EffectFactory& factory) {
    std::unique_ptr<EffectController> controller = EffectController::create(factory);
    if (!controller) throw std::runtime_error(std::string("cannot create ") + factory.name);
    controller->setWorkMode(EffectController::WorkMode::inline_);
    return controller;
}

const char* groupOf(const Effect& effect, std::int32_t index) {
    const char* group = nullptr;
    for (const ParamGroup* g = effect.groups; g && g->name; ++g)
        if (g->firstIndex <= index) group = g->name;
    return group;
}

// The parameter's own name; where names repeat, prefixed with its group.
// What is still taken gets the lowest free number.
std::vector<std::string> controlSymbols(const Effect& effect, std::set<std::string>& taken) {
    const std::int32_t count = std::max(effect.paramCount, 0);
    std::vector<std::string> symbols;
    for (std::int32_t i = 0; i < count; ++i) {
        std::string symbol = symbolFrom(effect.params[i].name);
        std::int32_t sameName = 0;
        for (std::int32_t j = 0; j < count; ++j)
            if (symbolFrom(effect.params[j].name) == symbol) ++sameName;
        if (const char* group = groupOf(effect, i); group && sameName > 1)
            symbol = symbolFrom(group) + "_" + symbol;
        std::string unique = symbol;
        for (int n = 2; taken.count(unique); ++n)
            unique = symbol + "_" + std::to_string(n);
        taken.insert(unique);
        symbols.push_back(unique);
    }
    return symbols;
}

std::string displayText(EffectController& controller, std::int32_t index, float value) {
    const float previous = controller.storedValue(index);
    controller.storeValue(index, value);
    char text[256] = {};
    controller.formatValue(index, text, static_cast<std::int32_t>(kHostTextBytes));
    controller.storeValue(index, previous);
    return std::string(text).substr(0, kHostTextBytes - 1);
}

// Latency at the defaults, and with each parameter in turn at either end of
// its range.
bool canReportLatency(const EffectFactory& factory) {
    auto controller = controllerFor(factory);
    controller->changeSampleRate(kProbeRate);
    const Effect& effect = controller->effect();
    if (controller->settle() != 0) return true;
    for (std::int32_t i = 0; i < effect.paramCount; ++i) {
        const ParamInfo& row = effect.params[i];
        for (float end : {row.min, row.max}) {
            controller->storeValue(i, end);
            if (controller->settle() != 0) return true;
        }
        controller->storeValue(i, row.defaultValue);
    }
    return false;
}

std::string channelName(std::int32_t channel, std::int32_t channels) {
    if (channels == 2) return channel == 0 ? "L" : "R";
    return std::to_string(channel + 1);
}

void addAudioPorts(PluginDescription& plugin, const PortLayout& layout, std::set<std::string>& taken) {
    const std::int32_t sideChains = layout.audioInputs - layout.audioOutputs;
    for (std::int32_t c = 0; c < layout.audioInputs; ++c) {
        PortDescription port(PortDescription::Kind::audioInput, "", "");
        port.sideChain = layout.isSideChain(static_cast<std::uint32_t>(c));
        const std::int32_t channel = port.sideChain ? c - layout.audioOutputs : c;
        const std::string letter = channelName(channel, port.sideChain ? sideChains : layout.audioOutputs);
        port.name = (port.sideChain ? "Side-chain " : "In ") + letter;
        port.symbol = symbolFrom(port.name.c_str());
        plugin.ports.push_back(port);
    }
    for (std::int32_t c = 0; c < layout.audioOutputs; ++c) {
        PortDescription port(PortDescription::Kind::audioOutput, "",
                             "Out " + channelName(c, layout.audioOutputs));
        port.symbol = symbolFrom(port.name.c_str());
        plugin.ports.push_back(port);
    }
    for (const PortDescription& port : plugin.ports)
        taken.insert(port.symbol);
}

} // namespace

std::string symbolFrom(const char* name) {
    std::string symbol;
    bool gap = false;
    for (const char* c = name; *c; ++c) {
        const auto ch = static_cast<unsigned char>(*c);
        if (std::isalnum(ch) && ch < 0x80) {
            if (gap && !symbol.empty()) symbol += '_';
            symbol += static_cast<char>(std::tolower(ch));
            gap = false;
        } else {
            gap = true;
        }
    }
    if (symbol.empty() || std::isdigit(static_cast<unsigned char>(symbol[0]))) symbol.insert(0, "_");
    return symbol;
}

PluginDescription describe(const EffectFactory& factory) {
    auto controller = controllerFor(factory);
    const Effect& effect = controller->effect();
    const PortLayout layout(effect);
    PluginDescription plugin;
    plugin.uri = pluginUri(factory.name);
    plugin.slug = effectSlug(factory.name);
    plugin.name = std::string("Quor ") + factory.name;
    std::set<std::string> taken{"latency"};
    addAudioPorts(plugin, layout, taken);

    const std::vector<std::string> symbols = controlSymbols(effect, taken);
    for (std::int32_t i = 0; i < layout.controls; ++i) {
        const ParamInfo& row = effect.params[i];
        PortDescription port(PortDescription::Kind::controlInput, symbols[static_cast<std::size_t>(i)],
                             row.name);
        port.minimum = row.min;
        port.maximum = row.max;
        port.defaultValue = row.defaultValue;
        port.integer = row.discrete != 0;
        if (port.integer)
            for (float v = std::ceil(row.min); v <= row.max; v += 1.0f)
                port.scalePoints.push_back({v, displayText(*controller, i, v)});
        // A switch; two-valued choices with names of their own (modes,
        // polarities) stay a choice between their labels.
        port.toggled = port.scalePoints.size() == 2 && port.scalePoints[0].label == "Off" &&
                       port.scalePoints[1].label == "On" && row.min == 0.0f;
        plugin.ports.push_back(port);
    }
    if (canReportLatency(factory))
        plugin.ports.emplace_back(PortDescription::Kind::latencyOutput, "latency", "Latency");
    return plugin;
}

} // namespace quor::lv2
