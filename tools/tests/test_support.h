// Helpers shared by the tool's tests: scratch files, audio files in and out,
// the test plug-in modules and running the quor executable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quor::cli::test {

// A fresh directory under the system temp dir, removed with the object.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }

  private:
    std::string path;
};

// Path of a test plug-in module: "delay", "legacy", "null" or "noentry".
std::string testModule(const std::string& variant);

struct Audio {
    int sampleRate = 0;
    std::vector<std::vector<float>> channels;
    std::size_t frames() const { return channels.empty() ? 0 : channels[0].size(); }
};

// Writes 32-bit float WAV (or `format`, a libsndfile format) and reads any file.
void writeAudio(const std::string& path, const Audio& audio, int format = 0);
Audio readAudio(const std::string& path);

// Deterministic noise at about -12 dBFS.
std::vector<float> noise(std::size_t frames, unsigned seed);

struct RunResult {
    int status = -1; // exit status, or -1 when killed by a signal
    int signal = 0;
    std::string out;
    std::string err;
};
// Runs the quor executable with these arguments.
RunResult runQuor(const std::vector<std::string>& args);

} // namespace quor::cli::test
