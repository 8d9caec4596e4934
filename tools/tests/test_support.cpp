#include "tools/tests/test_support.h"

#include "tools/quor/demo_signal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace quor::cli::test {

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quor-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a scratch directory");
    path = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

std::string testModule(const std::string& variant) {
    return std::string(QUOR_TEST_MODULE_DIR) + "/quor-test-" + variant + ".so";
}

void writeAudio(const std::string& path, const Audio& audio, int format) {
    SF_INFO info{};
    info.format = format ? format : SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    info.channels = static_cast<int>(audio.channels.size());
    info.samplerate = audio.sampleRate;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    std::vector<float> interleaved(audio.frames() * audio.channels.size());
    for (std::size_t i = 0; i < audio.frames(); ++i)
        for (std::size_t c = 0; c < audio.channels.size(); ++c)
            interleaved[i * audio.channels.size() + c] = audio.channels[c][i];
    EXPECT_EQ(sf_writef_float(f, interleaved.data(), static_cast<sf_count_t>(audio.frames())),
              static_cast<sf_count_t>(audio.frames()));
    sf_close(f);
}

Audio readAudio(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    Audio audio;
    if (!f) {
        ADD_FAILURE() << "cannot read " << path << ": " << sf_strerror(nullptr);
        return audio;
    }
    audio.sampleRate = info.samplerate;
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(f, interleaved.data(), info.frames);
    sf_close(f);
    audio.channels.assign(static_cast<std::size_t>(info.channels),
                          std::vector<float>(static_cast<std::size_t>(info.frames)));
    for (std::size_t i = 0; i < static_cast<std::size_t>(info.frames); ++i)
        for (std::size_t c = 0; c < audio.channels.size(); ++c)
            audio.channels[c][i] = interleaved[i * audio.channels.size() + c];
    return audio;
}

std::vector<float> noise(std::size_t frames, unsigned seed) {
    NoiseSource source(seed);
    std::vector<float> x(frames);
    for (float& v : x)
        v = 0.25f * source.next();
    return x;
}

RunResult runQuor(const std::vector<std::string>& args) {
    ScratchDir dir;
    const std::string outPath = dir.file("stdout"), errPath = dir.file("stderr");
    std::vector<std::string> argv{QUOR_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& a : argv)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    RunResult result;
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, QUOR_EXE, &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot run " << QUOR_EXE;
        return result;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    auto slurp = [](const std::string& path) {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    };
    result.out = slurp(outPath);
    result.err = slurp(errPath);
    return result;
}

} // namespace quor::cli::test
