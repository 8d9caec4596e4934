#include "tools/quor/render.h"

#include "tools/quor/audio_file.h"
#include "tools/quor/chain.h"
#include "tools/quor/error.h"
#include "tools/quor/plugin.h"
#include "tools/quor/signal_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace quor::cli {

namespace {

// Latencies beyond this are taken for garbage rather than compensated.
constexpr double kLatencyLimitSeconds = 60.0;

// Writes to the sink and the output meter, and counts frames.
class Emitter final : public FrameSink {
  public:
    Emitter(FrameSink& sink, SignalStats* stats) : sink(sink), stats(stats) {}
    void write(const float* const* channels, int frames) override {
        if (frames <= 0) return;
        sink.write(channels, frames);
        if (stats) stats->add(channels, frames);
        count += frames;
    }
    std::int64_t count = 0;

  private:
    FrameSink& sink;
    SignalStats* stats;
};

// Reads up to `frames` frames into two channels and clears the rest.
int readBlock(FrameSource* source, float* const* channels, int frames) {
    const int got = source ? std::clamp(source->read(channels, frames), 0, frames) : 0;
    for (int c = 0; c < 2; ++c)
        std::fill(channels[c] + got, channels[c] + frames, 0.0f);
    return got;
}

} // namespace

int MemorySource::read(float* const* channels, int frames) {
    const std::size_t n = std::min(static_cast<std::size_t>(std::max(frames, 0)), l.size() - position);
    std::copy_n(l.begin() + static_cast<std::ptrdiff_t>(position), n, channels[0]);
    std::copy_n(r.begin() + static_cast<std::ptrdiff_t>(position), n, channels[1]);
    position += n;
    return static_cast<int>(n);
}

void MemorySink::write(const float* const* channels, int frames) {
    for (std::size_t c = 0; c < data.size(); ++c)
        data[c].insert(data[c].end(), channels[c], channels[c] + frames);
}

ReaderSource::ReaderSource(AudioReader& reader, int maxFrames)
    : reader(reader), interleaved(static_cast<std::size_t>(maxFrames) * 2) {}

std::int64_t ReaderSource::length() const {
    return reader.info().frames;
}

int ReaderSource::read(float* const* channels, int frames) {
    frames = std::min<int>(frames, static_cast<int>(interleaved.size() / 2));
    const int got = static_cast<int>(reader.read(interleaved.data(), frames));
    if (reader.info().channels == 1) {
        for (int i = 0; i < got; ++i)
            channels[0][i] = channels[1][i] = interleaved[static_cast<std::size_t>(i)];
    } else {
        for (int i = 0; i < got; ++i) {
            channels[0][i] = interleaved[2 * static_cast<std::size_t>(i)];
            channels[1][i] = interleaved[2 * static_cast<std::size_t>(i) + 1];
        }
    }
    return got;
}

WriterSink::WriterSink(AudioWriter& writer, int channels, int maxFrames)
    : writer(writer), channelCount(channels),
      interleaved(static_cast<std::size_t>(channels) * static_cast<std::size_t>(maxFrames)) {}

void WriterSink::write(const float* const* channels, int frames) {
    const auto stride = static_cast<std::size_t>(channelCount);
    for (int start = 0; start < frames;) {
        const int n = std::min(frames - start, static_cast<int>(interleaved.size() / stride));
        for (int c = 0; c < channelCount; ++c)
            for (int i = 0; i < n; ++i)
                interleaved[static_cast<std::size_t>(i) * stride + static_cast<std::size_t>(c)] =
                    channels[c][start + i];
        writer.write(interleaved.data(), n);
        start += n;
    }
}

TailSetting parseTail(const std::string& text) {
    TailSetting tail;
    if (text == "auto") {
        tail.automatic = true;
        return tail;
    }
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != 0 || !std::isfinite(seconds) || seconds < 0.0 || seconds > 3600.0)
        throw Error("--tail takes 'auto' or a number of seconds from 0 to 3600, not '" + text + "'");
    tail.seconds = seconds;
    return tail;
}

TailGate::TailGate(int channels, std::int64_t holdFrames, std::int64_t limitFrames, int maxChunkFrames)
    : channelCount(channels), holdFrames(std::max<std::int64_t>(holdFrames, 1)), limitFrames(limitFrames),
      pending(static_cast<std::size_t>(channels),
              std::vector<float>(static_cast<std::size_t>(this->holdFrames + maxChunkFrames))),
      pointers(static_cast<std::size_t>(channels)) {}

void TailGate::hold(const float* const* channels, int from, int to) {
    for (int c = 0; c < channelCount; ++c)
        std::copy(channels[c] + from, channels[c] + to,
                  pending[static_cast<std::size_t>(c)].begin() + pendingFrames);
    pendingFrames += to - from;
}

void TailGate::flush(FrameSink& sink) {
    for (int c = 0; c < channelCount; ++c)
        pointers[static_cast<std::size_t>(c)] = pending[static_cast<std::size_t>(c)].data();
    sink.write(pointers.data(), static_cast<int>(pendingFrames));
    written += pendingFrames;
    pendingFrames = 0;
}

bool TailGate::push(const float* const* channels, int frames, FrameSink& sink) {
    if (finished) return true;
    const int n =
        static_cast<int>(std::clamp<std::int64_t>(limitFrames - written - pendingFrames, 0, frames));
    int lastLoud = -1;
    for (int i = n - 1; i >= 0 && lastLoud < 0; --i)
        for (int c = 0; c < channelCount; ++c)
            if (!(std::fabs(channels[c][i]) < kSilenceThreshold)) {
                lastLoud = i;
                break;
            }
    if (lastLoud >= 0) {
        flush(sink);
        sink.write(channels, lastLoud + 1);
        written += lastLoud + 1;
    }
    hold(channels, lastLoud + 1, n);
    if (pendingFrames >= holdFrames) {
        pendingFrames = 0; // silence past the last audible sample is not kept
        finished = true;
    } else if (written + pendingFrames >= limitFrames) {
        flush(sink);
        finished = limited = true;
    }
    return finished;
}

namespace {

// Side-chain frame j of a stage reaches it together with frame j of its main
// signal: at chain frame offset + j, offset being the latency of the stages
// before it. Like the input, it lasts as long as the input; a shorter one is
// padded with silence, a longer one cut.
class SideFeed {
  public:
    SideFeed(FrameSource* source, int maxBlockFrames)
        : source(source), l(static_cast<std::size_t>(maxBlockFrames)), r(l.size()) {}

    void fill(std::int64_t blockStart, int frames, std::int64_t inputFrames) {
        std::fill(l.begin(), l.end(), 0.0f);
        std::fill(r.begin(), r.end(), 0.0f);
        const std::int64_t end = std::min(blockStart + frames - offset, inputFrames);
        if (!source || end <= fed) return;
        const int at = static_cast<int>(fed + offset - blockStart);
        const int n = static_cast<int>(end - fed);
        float* shifted[2] = {l.data() + at, r.data() + at};
        source->read(shifted, n);
        fed = end;
    }
    const float* const* channels() const { return pointers; }

    std::int64_t offset = 0;

  private:
    FrameSource* source;
    std::vector<float> l, r;
    const float* pointers[2] = {l.data(), r.data()};
    std::int64_t fed = 0;
};

// Processing is switched off however the render ends.
struct RunningChain {
    explicit RunningChain(const std::vector<RenderStage>& stages) : stages(stages) {
        for (const RenderStage& s : stages)
            s.plugin->start();
    }
    ~RunningChain() { stop(); }
    void stop() {
        for (const RenderStage& s : stages)
            s.plugin->stop();
    }
    const std::vector<RenderStage>& stages;
};

} // namespace

RenderResult render(Plugin& plugin, FrameSource& input, FrameSource* sidechain, FrameSink& output,
                    const RenderSettings& settings, SignalStats* inputStats, SignalStats* outputStats,
                    const ProgressFn& progress) {
    return render({RenderStage{&plugin, sidechain}}, input, output, settings, inputStats, outputStats,
                  progress);
}

RenderResult render(const std::vector<RenderStage>& stages, FrameSource& input, FrameSink& output,
                    const RenderSettings& settings, SignalStats* inputStats, SignalStats* outputStats,
                    const ProgressFn& progress) {
    const int block = settings.blockSize;
    if (stages.empty()) throw Error("no plug-in to render through");
    const double rate = stages.front().plugin->sampleRate();
    // Both hold pointers into their own buffers: reserved, never moved.
    std::vector<StageRunner> runners;
    std::vector<SideFeed> sides;
    runners.reserve(stages.size());
    sides.reserve(stages.size());
    for (const RenderStage& s : stages) {
        if (block < 1 || block > s.plugin->blockSize())
            throw Error("block size " + std::to_string(block) + " out of range");
        if (renderChannels(*s.plugin) < 1) throw Error(s.plugin->effectName() + " has no audio outputs");
        runners.emplace_back(*s.plugin, block);
        sides.emplace_back(s.sidechain, block);
    }
    StageRunner& last = runners.back();
    const int outChannels = last.outputChannels();

    const auto blockSize = static_cast<std::size_t>(block);
    std::vector<float> mainL(blockSize), mainR(blockSize);
    float* mainChannels[2] = {mainL.data(), mainR.data()};
    std::vector<const float*> emitPointers(static_cast<std::size_t>(outChannels));

    const auto latencyLimit = static_cast<std::int64_t>(kLatencyLimitSeconds * rate);
    const std::int64_t holdFrames = std::llround(kSilenceHoldSeconds * rate);
    const std::int64_t limitFrames = std::llround(kTailLimitSeconds * rate);
    const std::int64_t fixedTailFrames = std::llround(settings.tail.seconds * rate);
    TailGate gate(outChannels, holdFrames, limitFrames, block);
    Emitter emitter(output, outputStats);

    const std::int64_t knownLength = input.length();
    const std::int64_t expected =
        std::max<std::int64_t>(knownLength, 0) + (settings.tail.automatic ? 0 : fixedTailFrames);

    RenderResult result;
    // The latency of the first `count` stages as reported now; implausible
    // reports count as none.
    auto latencyBefore = [&](std::size_t count) {
        std::int64_t sum = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const std::int64_t reported = stages[k].plugin->latency();
            if (reported < 0 || reported > latencyLimit)
                result.latencyIgnored = true;
            else
                sum += reported;
        }
        return sum;
    };

    bool inputDone = false;
    bool latencyFixed = !settings.compensateLatency;
    std::int64_t latency = 0;
    std::int64_t tailWritten = 0;
    bool done = false;

    RunningChain running(stages);
    while (!done) {
        const int got =
            inputDone ? readBlock(nullptr, mainChannels, block) : readBlock(&input, mainChannels, block);
        if (got < block) inputDone = true;
        if (got > 0 && inputStats) inputStats->add(mainChannels, got);
        const std::int64_t blockStart = result.processedFrames;
        result.inputFrames += got;

        // Audio passes on in float, block by block; a stage's side-chain is
        // aligned with its main signal once the stages before it have
        // reported their latency in their first block.
        const float* const* main = mainChannels;
        for (std::size_t k = 0; k < runners.size(); ++k) {
            if (blockStart == 0) sides[k].offset = latencyBefore(k);
            sides[k].fill(blockStart, block, result.inputFrames);
            runners[k].process(main, sides[k].channels(), block);
            if (k + 1 == runners.size()) break;
            runners[k].silenceNonFinite(0, block);
            main = runners[k].stereoOutput();
        }
        result.processedFrames += block;

        // Output frame k of the chain is frame k - latency of the render.
        // Plug-ins may report their latency during the first blocks; it is
        // settled with the first frame kept. Until then every block was
        // dropped whole, so at least blockStart frames are gone already.
        int first = 0;
        if (!latencyFixed) {
            latency = std::max(latencyBefore(stages.size()), blockStart);
            first = static_cast<int>(std::clamp<std::int64_t>(latency - blockStart, 0, block));
            if (first < block) latencyFixed = true;
        }
        last.silenceNonFinite(first, block);

        // Frames of the input's length are the body; the rest is tail.
        int bodyEnd = block;
        if (inputDone)
            bodyEnd = static_cast<int>(
                std::clamp<std::int64_t>(result.inputFrames + latency - blockStart, first, block));
        auto frameAt = [&](int offset) {
            for (int c = 0; c < outChannels; ++c)
                emitPointers[static_cast<std::size_t>(c)] = last.output(c) + offset;
            return emitPointers.data();
        };
        if (first < bodyEnd) emitter.write(frameAt(first), bodyEnd - first);

        const bool bodyComplete = inputDone && result.inputFrames + latency <= blockStart + block;
        if (bodyComplete) {
            const int tailStart = std::max(first, bodyEnd);
            if (settings.tail.automatic) {
                done = gate.push(frameAt(tailStart), block - tailStart, emitter);
            } else {
                const int n = static_cast<int>(
                    std::min<std::int64_t>(block - tailStart, fixedTailFrames - tailWritten));
                if (n > 0) emitter.write(frameAt(tailStart), n);
                tailWritten += std::max(n, 0);
                done = tailWritten >= fixedTailFrames;
            }
        }
        if (progress) progress(emitter.count, expected);
    }
    running.stop();

    result.outputFrames = emitter.count;
    result.tailFrames = settings.tail.automatic ? gate.tailFrames() : tailWritten;
    result.tailLimited = settings.tail.automatic && gate.reachedLimit();
    result.latency = latency;
    for (const StageRunner& r : runners) {
        result.stages.push_back({r.plugin().latency(), r.processSeconds, r.nonFinite});
        result.reportedLatency += r.plugin().latency();
        result.processSeconds += r.processSeconds;
        result.nonFiniteOutput += r.nonFinite;
    }
    result.latencyChanged =
        settings.compensateLatency && !result.latencyIgnored && result.reportedLatency != result.latency;
    return result;
}

} // namespace quor::cli
