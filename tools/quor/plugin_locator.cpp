#include "tools/quor/plugin_locator.h"

#include "tools/quor/error.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>

namespace quor::cli {

std::string effectSlug(const std::string& effectName) {
    std::string slug;
    for (char c : effectName) {
        const auto u = static_cast<unsigned char>(c);
        if (c == ' ')
            slug += '-';
        else if (std::isalnum(u) || c == '-' || c == '_')
            slug += static_cast<char>(std::tolower(u));
        else
            throw Error("'" + effectName +
                        "' is not an effect name (letters, digits, spaces, '-' and '_' only)");
    }
    if (slug.empty()) throw Error("the effect name is empty");
    return slug;
}

std::string executableDir() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return ".";
    std::string path(buffer, static_cast<std::size_t>(n));
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::vector<std::string> effectCandidates(const std::string& effectName) {
    const std::string file = "quor-" + effectSlug(effectName) + ".so";
    const std::string toolDir = executableDir();
    const auto slash = toolDir.find_last_of('/');
    const std::string buildDir =
        slash == std::string::npos || slash == 0 ? toolDir + "/.." : toolDir.substr(0, slash);
    std::vector<std::string> places{buildDir + "/plugins/" + file};
    if (const char* home = std::getenv("HOME"); home && *home)
        places.push_back(std::string(home) + "/.vst/" + file);
    return places;
}

std::string locateEffect(const std::string& effectName) {
    const std::vector<std::string> places = effectCandidates(effectName);
    std::string searched;
    for (const std::string& place : places) {
        if (access(place.c_str(), R_OK) == 0) return place;
        searched += (searched.empty() ? "" : ", ") + place;
    }
    throw Error("no plug-in for the effect '" + effectName + "' (looked for " + searched + ")");
}

} // namespace quor::cli
