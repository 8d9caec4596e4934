// Machine-readable output of `quor info --json` and `quor render --json`,
// written with nlohmann::json. Levels are in dB as in the tables, null where
// a table shows -inf or n/a; normalised values are the shortest decimals that
// read back as the same float.
#pragma once

#include "tools/quor/report.h"

#include <ostream>
#include <vector>

namespace quor::cli {

class Plugin;

// Identity, pins, latency and every parameter with its value and display.
void printPluginJson(std::ostream& out, const Plugin& plugin);
// {"files": [...], "rendered": N, "failed": M}; a failed file carries its error.
void printRenderJson(std::ostream& out, const std::vector<RenderSummary>& files);

} // namespace quor::cli
