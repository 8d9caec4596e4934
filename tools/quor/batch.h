// Rendering audio files through a chain: one input into one output file, or
// many inputs into a directory by parallel jobs. A job renders its files one
// after another, each through a chain of instances of its own, so that every
// output is what a render of that file alone gives, whichever job made it.
#pragma once

#include "tools/quor/commands.h"
#include "tools/quor/report.h"

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace quor::cli {

class AudioReader;

// One file through a chain. The input and the stages' side-chains are opened
// first, so that an unreadable file fails before any plug-in loads. A
// side-chain at another rate than the input is an Error; one of another
// length is padded with silence or cut, with a notice.
class FileRender {
  public:
    FileRender(const std::string& input, const std::string& output, const RenderOptions& options);
    ~FileRender();
    FileRender(const FileRender&) = delete;
    FileRender& operator=(const FileRender&) = delete;

    int sampleRate() const;
    // Renders through `chain`, made from options.chain for sampleRate(), and
    // moves the output into place. Throws Error; problems with the result go
    // to its remarks.
    RenderSummary run(Chain& chain, bool progress);

  private:
    const RenderOptions& options;
    std::string outputPath;
    std::unique_ptr<AudioReader> input;
    std::vector<std::unique_ptr<AudioReader>> sidechains; // per stage, null without one
};

// quor render IN... --out-dir DIR: renders each input to DIR under its own
// name (with --format's extension, if given), in options.jobs parallel jobs.
// Prints a line per file in input order, or JSON at the end; a file that
// fails is one "quor: error: FILE: ..." line on `err` and is skipped. Returns
// 1 when a file failed. Throws Error for what fails them all (the chain).
int renderBatch(const RenderOptions& options, std::ostream& out, std::ostream& err);

} // namespace quor::cli
