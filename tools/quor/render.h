// Offline rendering: a source streams through a chain of plug-ins block by
// block, in float from one to the next; the chain's latency (the sum of its
// stages') is compensated by dropping the first output frames, and after the
// input ends the chain keeps running on silence for the tail.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quor::cli {

class Plugin;
class SignalStats;
class AudioReader;
class AudioWriter;

// Stereo frames in: mono sources deliver the same samples on both channels.
class FrameSource {
  public:
    virtual ~FrameSource() = default;
    // Fills channels[0] and channels[1] with up to `frames` frames; returns how
    // many, fewer only at the end.
    virtual int read(float* const* channels, int frames) = 0;
    // Frames in total, when known beforehand; -1 otherwise.
    virtual std::int64_t length() const { return -1; }
};

class FrameSink {
  public:
    virtual ~FrameSink() = default;
    virtual void write(const float* const* channels, int frames) = 0;
};

class MemorySource final : public FrameSource {
  public:
    MemorySource(const std::vector<float>& left, const std::vector<float>& right) : l(left), r(right) {}
    int read(float* const* channels, int frames) override;
    std::int64_t length() const override { return static_cast<std::int64_t>(l.size()); }

  private:
    const std::vector<float>& l;
    const std::vector<float>& r;
    std::size_t position = 0;
};

class MemorySink final : public FrameSink {
  public:
    explicit MemorySink(int channels) : data(static_cast<std::size_t>(channels)) {}
    void write(const float* const* channels, int frames) override;
    std::vector<std::vector<float>> data;
};

class ReaderSource final : public FrameSource {
  public:
    ReaderSource(AudioReader& reader, int maxFrames);
    int read(float* const* channels, int frames) override;
    std::int64_t length() const override;

  private:
    AudioReader& reader;
    std::vector<float> interleaved;
};

class WriterSink final : public FrameSink {
  public:
    WriterSink(AudioWriter& writer, int channels, int maxFrames);
    void write(const float* const* channels, int frames) override;

  private:
    AudioWriter& writer;
    int channelCount;
    std::vector<float> interleaved;
};

// What happens after the input ends: nothing more (a fixed tail of 0 s), a
// fixed number of seconds, or rendering until the output falls silent.
struct TailSetting {
    bool automatic = false;
    double seconds = 0.0;
};
// "auto" or a number of seconds (0 to one hour); throws Error otherwise.
TailSetting parseTail(const std::string& text);

// Output below -120 dBFS (sample magnitude under 1e-6) for 100 ms ends an
// automatic tail; 30 s is the most it renders.
constexpr float kSilenceThreshold = 1e-6f;
constexpr double kSilenceHoldSeconds = 0.1;
constexpr double kTailLimitSeconds = 30.0;

// Decides where an automatic tail ends. Frames go in as rendered; quiet
// frames are held back until a louder one shows they belong to the tail, so
// the tail ends on its last sample at or above the threshold. A NaN is loud.
class TailGate {
  public:
    TailGate(int channels, std::int64_t holdFrames, std::int64_t limitFrames, int maxChunkFrames);
    // Takes the next frames of the tail and writes those that belong to it.
    // Returns true once the tail has ended; later calls write nothing.
    bool push(const float* const* channels, int frames, FrameSink& sink);
    std::int64_t tailFrames() const { return written; }
    bool reachedLimit() const { return limited; }

  private:
    void hold(const float* const* channels, int from, int to);
    void flush(FrameSink& sink);

    int channelCount;
    std::int64_t holdFrames;
    std::int64_t limitFrames;
    std::vector<std::vector<float>> pending;
    std::vector<const float*> pointers;
    std::int64_t pendingFrames = 0;
    std::int64_t written = 0;
    bool finished = false;
    bool limited = false;
};

struct RenderSettings {
    int blockSize = 512;
    TailSetting tail;
    bool compensateLatency = true;
};

struct StageResult {
    std::int64_t latency = 0; // what the stage reported last
    double processSeconds = 0.0;
    std::int64_t nonFiniteOutput = 0; // passed on or written as 0
};

struct RenderResult {
    std::int64_t inputFrames = 0;
    std::int64_t outputFrames = 0;
    std::int64_t tailFrames = 0;
    bool tailLimited = false;
    std::int64_t latency = 0;         // frames dropped from the start
    std::int64_t reportedLatency = 0; // what the stages reported last, summed
    bool latencyIgnored = false;      // a reported latency was not plausible
    bool latencyChanged = false;      // reported after the first frame was kept
    std::int64_t processedFrames = 0;
    double processSeconds = 0.0;      // inside the plug-ins' processing calls
    std::int64_t nonFiniteOutput = 0; // written or passed on as 0
    std::vector<StageResult> stages;
};

// done / expected frames, called once per block.
using ProgressFn = std::function<void(std::int64_t done, std::int64_t expected)>;

struct RenderStage {
    Plugin* plugin = nullptr;
    FrameSource* sidechain = nullptr; // null: silence
};

// Runs the stages (configured for the source's rate and at least
// settings.blockSize) from start() to stop(). Each stage's side-chain inputs
// (inputs 2 and 3) receive its side-chain, in step with its main signal, or
// silence. `inputStats` sees the stereo input, `outputStats` what is written.
RenderResult render(const std::vector<RenderStage>& stages, FrameSource& input, FrameSink& output,
                    const RenderSettings& settings, SignalStats* inputStats, SignalStats* outputStats,
                    const ProgressFn& progress = {});
// A chain of one.
RenderResult render(Plugin& plugin, FrameSource& input, FrameSource* sidechain, FrameSink& output,
                    const RenderSettings& settings, SignalStats* inputStats, SignalStats* outputStats,
                    const ProgressFn& progress = {});

} // namespace quor::cli
