// What quor prints: the render summary (a table for one file, a line per file
// of a batch), the plug-in description and its parameter table, preset
// contents, and the progress bar on a terminal.
#pragma once

#include "tools/quor/render.h"

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace quor::cli {

class Plugin;
class SignalStats;
struct PresetFile;

// Peak and RMS in dBFS and integrated loudness in LUFS: -infinity for
// silence, loudness NaN when it could not be measured.
struct Levels {
    double peakDb = 0.0;
    double rmsDb = 0.0;
    double loudnessLufs = 0.0;
};
Levels measuredLevels(const SignalStats& stats);

struct StageIdentity {
    std::string name;
    std::string path;
};

struct RenderSummary {
    std::string inputName;
    std::string inputFormat; // empty for generated input
    int inputChannels = 2;
    std::string outputName;
    std::string outputFormat;
    int outputChannels = 2;
    double sampleRate = 0.0;
    std::vector<StageIdentity> stages; // their figures are in result.stages
    bool automaticTail = false;
    bool compensateLatency = true;
    Levels input;
    Levels output;
    RenderResult result;
    std::vector<std::string> remarks; // "warning: ..." or "note: ...", printed after the summary
    std::string error;                // a file of a batch that failed: why
};

// Adds a warning to the remarks for what may be wrong with the result: a
// latency that was implausible or changed, samples that were not numbers,
// clipping in a file of integer samples.
void addRenderProblems(RenderSummary& summary, bool floatOutput);

void printRenderSummary(std::ostream& out, const RenderSummary& summary);
// One line for a file of a batch.
void printFileLine(std::ostream& out, const RenderSummary& summary);
// "quor: warning: ..." on `err`; `about` (a file name) goes before the message.
void printRemark(std::ostream& err, const std::string& remark, const std::string& about = "");
void printPluginInfo(std::ostream& out, const Plugin& plugin);
void printParameterTable(std::ostream& out, const Plugin& plugin);
void printPreset(std::ostream& out, const PresetFile& preset);

// A path as the user would type it: relative to the working directory when
// it lies inside it, else absolute.
std::string displayPath(const std::string& path);

// "effect" for category 1 (kPlugCategEffect); empty for unknown numbers.
std::string categoryName(std::int32_t category);
// "replacing", "chunks", ... for the flags a plug-in sets.
std::vector<std::string> flagNames(std::int32_t flags);
// "0xBFE092B2".
std::string hexId(std::int32_t id);

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
