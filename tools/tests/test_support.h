// Helpers shared by the tool's tests.
#pragma once

#include "tests/support/test_host.h"
#include "tools/quor/demo_signal.h"

#include <gtest/gtest.h>
#include <sndfile.hh>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#define EXPECT_CONTAINS(text, part) EXPECT_PRED_FORMAT2(::testing::IsSubstring, part, text)

namespace quor::cli::test {

using Args = std::vector<std::string>;
using Channels = std::vector<std::vector<float>>;

struct ScratchDir {
    ScratchDir() {
        if (!mkdtemp(path.data())) throw std::runtime_error("cannot create a scratch directory");
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const { return path + "/" + name; }

    std::string path = (std::filesystem::temp_directory_path() / "quor-test-XXXXXX").string();
};

// variant: "delay", "legacy", "null", "noentry" or "mono".
inline std::string testModule(const std::string& variant) {
    return std::string(QUOR_TEST_MODULE_DIR) + "/quor-test-" + variant + ".so";
}

struct Audio {
    int sampleRate = 0;
    Channels channels;
};

// 32-bit float WAV out, whatever libsndfile reads in.
inline void writeAudio(const std::string& path, const Audio& audio) {
    const std::size_t channels = audio.channels.size(), frames = audio.channels[0].size();
    std::vector<float> interleaved(channels * frames);
    for (std::size_t i = 0; i < interleaved.size(); ++i)
        interleaved[i] = audio.channels[i % channels][i / channels];
    SndfileHandle f(path, SFM_WRITE, SF_FORMAT_WAV | SF_FORMAT_FLOAT, static_cast<int>(channels),
                    audio.sampleRate);
    EXPECT_EQ(f.writef(interleaved.data(), static_cast<sf_count_t>(frames)), static_cast<sf_count_t>(frames));
}

inline Audio readAudio(const std::string& path) {
    SndfileHandle f(path);
    EXPECT_EQ(f.error(), 0) << path << ": " << f.strError();
    std::vector<float> interleaved(static_cast<std::size_t>(f.frames() * f.channels()));
    f.readf(interleaved.data(), f.frames());
    Audio audio{f.samplerate(), Channels(static_cast<std::size_t>(f.channels()))};
    for (std::size_t i = 0; i < interleaved.size(); ++i)
        audio.channels[i % audio.channels.size()].push_back(interleaved[i]);
    return audio;
}

inline std::vector<float> noise(std::size_t frames, unsigned seed) {
    NoiseSource source(seed);
    std::vector<float> x(frames);
    for (float& v : x)
        v = 0.25f * source.next();
    return x;
}

inline std::string fileText(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

struct RunResult {
    int status = -1; // -1 when a signal ended the process
    std::string out, err;
};

inline RunResult runQuor(const Args& args) {
    ScratchDir dir;
    std::string command = "'" QUOR_EXE "'";
    for (const std::string& a : args)
        command += " '" + a + "'"; // no argument of these tests holds a quote
    const int status = std::system((command + " >" + dir.file("out") + " 2>" + dir.file("err")).c_str());
    // The shell reports a signal that ended its child as status 128 + signal.
    return {WIFEXITED(status) && WEXITSTATUS(status) < 128 ? WEXITSTATUS(status) : -1,
            fileText(dir.file("out")), fileText(dir.file("err"))};
}

class QuorTest : public ::testing::Test {
  protected:
    std::string f(const std::string& name) const { return dir.file(name); }
    // quor render IN OUT ARGS..., which must succeed
    RunResult render(const std::string& input, const std::string& output, Args args) const {
        args.insert(args.begin(), {"render", input, output});
        const RunResult r = runQuor(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return r;
    }

    ScratchDir dir;
    const std::string tremolo = quor::test::pluginPath("Tremolo"), reverb = quor::test::pluginPath("Reverb");
    const std::string delay = testModule("delay"), mono = testModule("mono");
};

} // namespace quor::cli::test
