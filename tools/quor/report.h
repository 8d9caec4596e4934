// What quor prints: the render summary, the plug-in description and its
// parameter table, preset contents, and the progress bar on a terminal.
#pragma once

#include "tools/quor/render.h"

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace quor::cli {

class Plugin;
class SignalStats;
struct PresetFile;

struct RenderSummary {
    std::string inputName;
    std::string inputFormat; // empty for generated input
    int inputChannels = 2;
    std::string outputName;
    std::string outputFormat;
    int outputChannels = 2;
    double sampleRate = 0.0;
    std::string pluginName;
    std::string pluginPath;
    bool automaticTail = false;
    bool compensateLatency = true;
    const SignalStats* inputStats = nullptr;
    const SignalStats* outputStats = nullptr;
    RenderResult result;
};

void printRenderSummary(std::ostream& out, const RenderSummary& summary);
void printPluginInfo(std::ostream& out, const Plugin& plugin);
void printParameterTable(std::ostream& out, const Plugin& plugin);
void printPreset(std::ostream& out, const PresetFile& preset);

// A path as the user would type it: relative to the working directory when
// it lies inside it, else absolute.
std::string displayPath(const std::string& path);

// "1.234 s"; "-inf" for silent levels.
std::string formatSeconds(double seconds);
std::string formatLevel(double decibels);

// A one-line bar on stderr, drawn only when stderr is a terminal, at most
// ten times a second.
class ProgressBar {
  public:
    explicit ProgressBar(bool enabled);
    ~ProgressBar();
    void update(std::int64_t done, std::int64_t expected);
    void finish();

  private:
    bool active;
    bool drawn = false;
    std::chrono::steady_clock::time_point lastDraw{};
};

} // namespace quor::cli
