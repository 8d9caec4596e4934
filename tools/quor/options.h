// The command line of quor: its commands and their options, parsed with
// CLI11. In `render`, --then begins the next stage of the chain; the stage
// options (--effect, --plugin, --set, --preset, --sidechain) belong to the
// stage among whose options they stand, the others to the whole render.
#pragma once

#include "tools/quor/commands.h"

#include <string>

namespace quor::cli {

struct CommandLine {
    std::string command; // render, info, preset, bench or demo
    RenderOptions render;
    InfoOptions info;
    PresetOptions preset;
    BenchOptions bench;
    DemoOptions demo;
};

// Fills `line` from the arguments. Returns -1 when a command is to run, else
// the exit status: 0 after --help, 2 for wrong usage (after one
// "quor: error: ..." line on stderr).
int parseCommandLine(int argc, char** argv, CommandLine& line);

} // namespace quor::cli
