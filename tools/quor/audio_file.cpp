#include "tools/quor/audio_file.h"

#include "tools/quor/error.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

namespace quor::cli {

namespace {

std::string extensionOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext;
    for (char c : path.substr(dot + 1))
        ext += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

int majorForExtension(const std::string& ext) {
    if (ext.empty()) return 0;
    if (ext == "aif" || ext == "aifc") return SF_FORMAT_AIFF;
    if (ext == "ogg" || ext == "oga" || ext == "opus") return SF_FORMAT_OGG;
    if (ext == "wav") return SF_FORMAT_WAV;
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info);
        if (info.extension && ext == info.extension) return info.format & SF_FORMAT_TYPEMASK;
    }
    return 0;
}

int subtypeForEncoding(const std::string& encoding) {
    if (encoding == "pcm16") return SF_FORMAT_PCM_16;
    if (encoding == "pcm24") return SF_FORMAT_PCM_24;
    if (encoding == "pcm32") return SF_FORMAT_PCM_32;
    if (encoding == "float") return SF_FORMAT_FLOAT;
    if (encoding == "double") return SF_FORMAT_DOUBLE;
    throw Error("unknown encoding '" + encoding + "' (pcm16, pcm24, pcm32, float or double)");
}

bool writable(int format, int channels, int sampleRate) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = sampleRate;
    return sf_format_check(&info) != 0;
}

std::string formatPart(int format, int command) {
    SF_FORMAT_INFO info{};
    info.format = format;
    if (sf_command(nullptr, command, &info, sizeof info) != 0 || !info.name) return "";
    return info.name;
}

// The temporary files being written, for discardUnfinishedOutput(): one slot
// per writer (a batch writes one file per job at a time). A slot is free,
// taken while its path is copied in, or holds a path; lock-free atomics keep
// it safe to read in a signal handler.
enum SlotState { kFree, kTaken, kHoldsPath };
struct UnfinishedSlot {
    std::atomic<int> state{kFree};
    char path[4096];
};
UnfinishedSlot unfinished[kMaxUnfinishedOutputs];
static_assert(std::atomic<int>::is_always_lock_free);

int trackUnfinished(const std::string& path) {
    if (path.size() >= sizeof unfinished[0].path) return -1;
    for (int k = 0; k < kMaxUnfinishedOutputs; ++k) {
        int expected = kFree;
        if (!unfinished[k].state.compare_exchange_strong(expected, kTaken)) continue;
        std::memcpy(unfinished[k].path, path.c_str(), path.size() + 1);
        unfinished[k].state.store(kHoldsPath);
        return k;
    }
    return -1;
}

void untrack(int& slot) {
    if (slot >= 0) unfinished[slot].state.store(kFree);
    slot = -1;
}

} // namespace

bool knownContainer(const std::string& extension) {
    return majorForExtension(extension) != 0;
}

namespace {

// libsndfile keeps the reason an open failed in one process-wide slot, which
// parallel jobs would overwrite: opens and the reading of that reason are
// serialised, and each thread keeps its own copy of its reason.
std::mutex openMutex;
thread_local std::string openError;

SNDFILE* openFile(const std::string& path, int mode, SF_INFO& info) {
    std::lock_guard<std::mutex> lock(openMutex);
    SNDFILE* f = sf_open(path.c_str(), mode, &info);
    if (!f) openError = sf_strerror(nullptr);
    return f;
}

const std::string& lastOpenError() {
    return openError;
}

} // namespace

void discardUnfinishedOutput() {
    for (UnfinishedSlot& slot : unfinished) {
        int expected = kHoldsPath;
        if (slot.state.compare_exchange_strong(expected, kTaken)) unlink(slot.path);
    }
}

AudioReader::AudioReader(const std::string& path) : filePath(path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw Error("cannot read " + path + ": is a directory");
    SF_INFO info{};
    SNDFILE* f = openFile(path, SFM_READ, info);
    if (!f) throw Error("cannot read audio file " + path + ": " + lastOpenError());
    file = f;
    fileInfo.format = info.format;
    fileInfo.channels = info.channels;
    fileInfo.sampleRate = info.samplerate;
    fileInfo.frames = info.frames;
    if (info.channels < 1 || info.channels > 2) {
        sf_close(f);
        file = nullptr;
        throw Error(path + " has " + std::to_string(info.channels) +
                    " channels; quor reads mono and stereo files");
    }
    if (info.samplerate <= 0) {
        sf_close(f);
        file = nullptr;
        throw Error(path + " has no valid sample rate");
    }
}

AudioReader::~AudioReader() {
    if (file) sf_close(file);
}

std::int64_t AudioReader::read(float* interleaved, std::int64_t frames) {
    std::int64_t total = 0;
    while (total < frames) {
        const sf_count_t got = sf_readf_float(file, interleaved + total * fileInfo.channels, frames - total);
        if (got <= 0) break;
        total += got;
    }
    if (total < frames && sf_error(file) != SF_ERR_NO_ERROR)
        throw Error("error reading " + filePath + ": " + sf_strerror(file));
    return total;
}

AudioWriter::AudioWriter(const std::string& path, int format, int channels, int sampleRate)
    : finalPath(path) {
    // Regular files (and new ones) are written under a temporary name, so that
    // a failed render never leaves a truncated file or destroys an old one.
    struct stat st {};
    const bool regular = stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode);
    writePath = regular ? path + ".quor-" + std::to_string(getpid()) + ".tmp" : path;
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = sampleRate;
    SNDFILE* f = openFile(writePath, SFM_WRITE, info);
    if (!f) throw Error("cannot write " + path + ": " + lastOpenError());
    file = f;
    sf_command(f, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    if (writePath != finalPath) unfinishedSlot = trackUnfinished(writePath);
}

AudioWriter::~AudioWriter() {
    untrack(unfinishedSlot);
    close();
    if (!committed && writePath != finalPath) std::remove(writePath.c_str());
}

void AudioWriter::close() {
    if (file) sf_close(file);
    file = nullptr;
}

void AudioWriter::write(const float* interleaved, std::int64_t frames) {
    if (frames <= 0) return;
    const sf_count_t written = sf_writef_float(file, interleaved, frames);
    if (written != frames) throw Error("error writing " + finalPath + ": " + sf_strerror(file));
}

void AudioWriter::commit() {
    const int status = file ? sf_error(file) : SF_ERR_NO_ERROR;
    if (file && sf_close(file) != 0) {
        file = nullptr;
        throw Error("error finishing " + finalPath);
    }
    file = nullptr;
    if (status != SF_ERR_NO_ERROR) throw Error("error writing " + finalPath);
    if (writePath != finalPath && std::rename(writePath.c_str(), finalPath.c_str()) != 0)
        throw Error("cannot move the output into place at " + finalPath);
    untrack(unfinishedSlot);
    committed = true;
}

int outputFormatFor(const std::string& outPath, int inputFormat, const std::string& encoding, int channels,
                    int sampleRate) {
    const int inputMajor = inputFormat & SF_FORMAT_TYPEMASK;
    const int inputSubtype = inputFormat & SF_FORMAT_SUBMASK;
    const int extensionMajor = majorForExtension(extensionOf(outPath));
    const int major = extensionMajor ? extensionMajor : inputMajor;

    if (!encoding.empty()) {
        const int format = major | subtypeForEncoding(encoding);
        if (!writable(format, channels, sampleRate))
            throw Error("cannot write " + outPath + " as " + describeFormat(format));
        return format;
    }
    if (major == inputMajor && writable(inputFormat, channels, sampleRate)) return inputFormat;
    if (writable(major | inputSubtype, channels, sampleRate)) return major | inputSubtype;
    // The input's encoding does not fit the container: its usual one.
    const int fallbacks[] = {SF_FORMAT_VORBIS, SF_FORMAT_MPEG_LAYER_III, SF_FORMAT_PCM_24, SF_FORMAT_PCM_16,
                             SF_FORMAT_FLOAT};
    const bool lossy = major == SF_FORMAT_OGG || major == SF_FORMAT_MPEG;
    for (int subtype : fallbacks) {
        const bool lossySubtype = subtype == SF_FORMAT_VORBIS || subtype == SF_FORMAT_MPEG_LAYER_III;
        if (lossy == lossySubtype && writable(major | subtype, channels, sampleRate)) return major | subtype;
    }
    throw Error("cannot write " + outPath + " in the format its name asks for");
}

bool floatEncoding(int format) {
    const int subtype = format & SF_FORMAT_SUBMASK;
    return subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
}

std::string describeFormat(int format) {
    const std::string major = formatPart(format & SF_FORMAT_TYPEMASK, SFC_GET_FORMAT_INFO);
    const std::string subtype = formatPart(format & SF_FORMAT_SUBMASK, SFC_GET_FORMAT_INFO);
    if (major.empty()) return subtype.empty() ? "unknown format" : subtype;
    return subtype.empty() ? major : major + ", " + subtype;
}

} // namespace quor::cli
