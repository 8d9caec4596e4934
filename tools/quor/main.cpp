// quor: renders audio files through chains of VST 2.4 plug-ins, shows what a
// plug-in offers, reads and writes preset files, measures CPU cost, and plays
// the built-in demo through the Reverb.
#include "tools/quor/audio_file.h"
#include "tools/quor/commands.h"
#include "tools/quor/error.h"
#include "tools/quor/options.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

namespace {

using namespace quor::cli;

// What a crash leaves: nothing of a single render; of a batch, the files
// completed before it.
const char* crashOutcome = "no output was written";

// A plug-in that crashes takes the process with it: say so in one line and
// remove the half-written output instead of leaving a bare core dump.
void onFatalSignal(int signal) {
    discardUnfinishedOutput();
    const char* text = "quor: error: crashed (";
    (void)!write(STDERR_FILENO, text, std::strlen(text));
    const char* name = strsignal(signal);
    (void)!write(STDERR_FILENO, name, std::strlen(name));
    const char* middle = "), most likely inside the plug-in; ";
    (void)!write(STDERR_FILENO, middle, std::strlen(middle));
    (void)!write(STDERR_FILENO, crashOutcome, std::strlen(crashOutcome));
    (void)!write(STDERR_FILENO, "\n", 1);
    _exit(3);
}

void installCrashReport() {
    struct sigaction action {};
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        sigaction(s, &action, nullptr);
}

int run(const CommandLine& line) {
    if (line.command == "render") {
        if (!line.render.outDir.empty())
            crashOutcome = "the files it was writing were removed, those completed are kept";
        return runRender(line.render, std::cout);
    }
    if (line.command == "info") return runInfo(line.info, std::cout);
    if (line.command == "preset") return runPreset(line.preset, std::cout);
    if (line.command == "bench") return runBench(line.bench, std::cout);
    if (line.command == "demo") return runDemo(line.demo, std::cout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    installCrashReport();
    CommandLine line;
    const int status = parseCommandLine(argc, argv, line);
    if (status >= 0) return status;
    try {
        return run(line);
    } catch (const std::exception& e) {
        std::cout.flush();
        std::cerr << "quor: error: " << e.what() << std::endl;
        return 1;
    }
}
