// Audio files through libsndfile: whatever it reads (WAV, FLAC, AIFF, Ogg,
// ...) comes in as interleaved floats; output goes to a temporary file next
// to the target that replaces it only once everything is written.
#pragma once

#include <cstdint>
#include <string>

struct sf_private_tag;

namespace quor::cli {

struct AudioFileInfo {
    int format = 0; // libsndfile SF_FORMAT_* major | subtype | endianness
    int channels = 0;
    int sampleRate = 0;
    std::int64_t frames = 0;
};

class AudioReader {
  public:
    // Opens a mono or stereo file; throws Error otherwise.
    explicit AudioReader(const std::string& path);
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    const std::string& path() const { return filePath; }
    const AudioFileInfo& info() const { return fileInfo; }
    // Reads up to `frames` interleaved frames; returns how many, 0 at the end.
    std::int64_t read(float* interleaved, std::int64_t frames);

  private:
    std::string filePath;
    AudioFileInfo fileInfo;
    sf_private_tag* file = nullptr;
};

class AudioWriter {
  public:
    AudioWriter(const std::string& path, int format, int channels, int sampleRate);
    // Removes the output unless commit() ran.
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    // Samples beyond full scale clip in integer formats instead of wrapping.
    void write(const float* interleaved, std::int64_t frames);
    // Closes the file and moves it to its final name.
    void commit();

  private:
    void close();

    std::string finalPath;
    std::string writePath;
    sf_private_tag* file = nullptr;
    bool committed = false;
    int unfinishedSlot = -1;
};

// The format to write `outPath` in: the container its extension names (the
// input's own when there is none or it is unknown), the input's encoding
// where that container takes it. `encoding` (pcm16, pcm24, pcm32, float,
// double or empty) overrides the encoding. Throws Error for combinations
// libsndfile cannot write.
int outputFormatFor(const std::string& outPath, int inputFormat, const std::string& encoding, int channels,
                    int sampleRate);

// Removes the temporary files of the outputs being written, if any. Safe in a
// signal handler: a crashing plug-in leaves no half-written file behind. It
// knows of this many files written at the same time.
void discardUnfinishedOutput();
constexpr int kMaxUnfinishedOutputs = 64;

// Whether an output file name ending in `extension` ("flac") names a
// container quor can write.
bool knownContainer(const std::string& extension);

// Whether the format stores float samples, which never clip.
bool floatEncoding(int format);

// "WAV (Microsoft), Signed 24 bit PCM".
std::string describeFormat(int format);

} // namespace quor::cli
