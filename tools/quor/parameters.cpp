#include "tools/quor/parameters.h"

#include "tools/quor/error.h"
#include "tools/quor/plugin.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace quor::cli {

namespace {

std::string lowered(const std::string& s) {
    std::string out;
    for (char c : s)
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string listed(const std::vector<std::string>& names, const std::vector<int>& indexes) {
    std::string out;
    for (int i : indexes)
        out +=
            (out.empty() ? "" : ", ") + names[static_cast<std::size_t>(i)] + " (" + std::to_string(i) + ")";
    return out;
}

bool decimalIndex(const std::string& key, long& index) {
    if (key.empty() || key.size() > 9) return false;
    for (char c : key)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    index = std::strtol(key.c_str(), nullptr, 10);
    return true;
}

} // namespace

int findParameter(const std::vector<std::string>& names, const std::string& key) {
    const std::string wanted = lowered(key);
    if (wanted.empty()) throw Error("empty parameter name");

    std::vector<int> exact, prefixed;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string name = lowered(names[i]);
        if (name == wanted)
            exact.push_back(static_cast<int>(i));
        else if (name.compare(0, wanted.size(), wanted) == 0)
            prefixed.push_back(static_cast<int>(i));
    }
    if (exact.size() == 1) return exact.front();
    if (exact.size() > 1)
        throw Error("parameter '" + key + "' is ambiguous: " + listed(names, exact) + "; give its index");

    long index = 0;
    if (decimalIndex(key, index)) {
        if (index < static_cast<long>(names.size())) return static_cast<int>(index);
        throw Error("parameter index " + key + " is out of range (the plug-in has " +
                    std::to_string(names.size()) + " parameters)");
    }
    if (prefixed.size() == 1) return prefixed.front();
    if (prefixed.size() > 1) throw Error("parameter '" + key + "' is ambiguous: " + listed(names, prefixed));
    throw Error("unknown parameter '" + key + "' ('quor info' lists the parameters)");
}

ParameterSetting parseSetting(const std::string& text) {
    const auto eq = text.find_last_of('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == text.size())
        throw Error("'" + text + "' is not PARAM=VALUE");
    ParameterSetting setting;
    setting.key = text.substr(0, eq);
    const std::string valueText = text.substr(eq + 1);
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(valueText.c_str(), &end);
    if (errno != 0 || end == valueText.c_str() || *end != 0 || !std::isfinite(value))
        throw Error("'" + valueText + "' is not a number (in " + text + ")");
    if (value < 0.0 || value > 1.0)
        throw Error("value " + valueText + " for '" + setting.key +
                    "' is outside 0..1 (values are normalised)");
    setting.value = static_cast<float>(value);
    return setting;
}

void applySettings(const Plugin& plugin, const std::vector<std::string>& settings) {
    if (settings.empty()) return;
    // Every setting is checked before the first one is applied.
    const std::vector<std::string> names = plugin.paramNames();
    std::vector<std::pair<int, float>> resolved;
    for (const std::string& text : settings) {
        const ParameterSetting setting = parseSetting(text);
        resolved.emplace_back(findParameter(names, setting.key), setting.value);
    }
    for (const auto& [index, value] : resolved)
        plugin.setParameter(index, value);
}

} // namespace quor::cli
