#include "tools/quor/render.h"

#include "tools/quor/audio_file.h"
#include "tools/quor/error.h"
#include "tools/quor/plugin.h"
#include "tools/quor/signal_stats.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

namespace quor::cli {

namespace {

// Latencies beyond this are taken for garbage rather than compensated.
constexpr double kLatencyLimitSeconds = 60.0;
// Spare input and output slots beyond the declared channels, so that a
// plug-in miscounting its channels reads silence instead of stray memory.
constexpr int kSpareChannelSlots = 8;

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

int renderChannels(const Plugin& plugin) {
    return std::min(plugin.numOutputs(), 2);
}

RenderResult render(Plugin& plugin, FrameSource& input, FrameSource* sidechain, FrameSink& output,
                    const RenderSettings& settings, SignalStats* inputStats, SignalStats* outputStats,
                    const ProgressFn& progress) {
    const int block = settings.blockSize;
    const double rate = plugin.sampleRate();
    if (block < 1 || block > plugin.blockSize())
        throw Error("block size " + std::to_string(block) + " out of range");
    const int numInputs = plugin.numInputs();
    const int numOutputs = plugin.numOutputs();
    const int outChannels = renderChannels(plugin);
    if (outChannels < 1) throw Error(plugin.effectName() + " has no audio outputs");

    // Every buffer is allocated here; the block loop only copies.
    const auto blockSize = static_cast<std::size_t>(block);
    std::vector<std::vector<float>> inBuffers(static_cast<std::size_t>(numInputs) + 1,
                                              std::vector<float>(blockSize));
    std::vector<std::vector<float>> outBuffers(static_cast<std::size_t>(numOutputs) + 1,
                                               std::vector<float>(blockSize));
    std::vector<float> mainL(blockSize), mainR(blockSize), sideL(blockSize), sideR(blockSize);
    float* mainChannels[2] = {mainL.data(), mainR.data()};
    float* sideChannels[2] = {sideL.data(), sideR.data()};
    std::vector<float*> inPointers(static_cast<std::size_t>(numInputs + kSpareChannelSlots),
                                   inBuffers.back().data());
    std::vector<float*> outPointers(static_cast<std::size_t>(numOutputs + kSpareChannelSlots),
                                    outBuffers.back().data());
    for (int c = 0; c < numInputs; ++c)
        inPointers[static_cast<std::size_t>(c)] = inBuffers[static_cast<std::size_t>(c)].data();
    for (int c = 0; c < numOutputs; ++c)
        outPointers[static_cast<std::size_t>(c)] = outBuffers[static_cast<std::size_t>(c)].data();
    std::vector<const float*> emitPointers(static_cast<std::size_t>(outChannels));

    // Input c of the plug-in: 0 and 1 the main signal (a mono plug-in gets the
    // mid signal), 2 and 3 the side-chain (one side-chain input gets its mid),
    // the rest silence. Refilled every block: a plug-in may scribble on them.
    auto fillInputs = [&](int frames) {
        auto mid = [frames](float* dest, const float* a, const float* b) {
            for (int i = 0; i < frames; ++i)
                dest[i] = 0.5f * (a[i] + b[i]);
        };
        for (int c = 0; c < numInputs; ++c) {
            float* dest = inPointers[static_cast<std::size_t>(c)];
            if (c == 0 && numInputs == 1)
                mid(dest, mainL.data(), mainR.data());
            else if (c < 2)
                std::copy_n(mainChannels[c], frames, dest);
            else if (c == 2 && numInputs == 3)
                mid(dest, sideL.data(), sideR.data());
            else if (c < 4)
                std::copy_n(sideChannels[c - 2], frames, dest);
            else
                std::fill_n(dest, frames, 0.0f);
        }
        std::fill(inBuffers.back().begin(), inBuffers.back().end(), 0.0f);
    };

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
    bool inputDone = false;
    bool latencyFixed = !settings.compensateLatency;
    std::int64_t latency = 0;
    std::int64_t tailWritten = 0;
    bool done = false;

    plugin.start();
    while (!done) {
        const int got =
            inputDone ? readBlock(nullptr, mainChannels, block) : readBlock(&input, mainChannels, block);
        if (got < block) inputDone = true;
        if (got > 0 && inputStats) inputStats->add(mainChannels, got);
        result.inputFrames += got;
        // The side-chain runs in step with the input and falls silent with it.
        readBlock(sidechain, sideChannels, got);
        std::fill(sideL.begin() + got, sideL.end(), 0.0f);
        std::fill(sideR.begin() + got, sideR.end(), 0.0f);
        fillInputs(block);

        const auto started = std::chrono::steady_clock::now();
        plugin.process(inPointers.data(), outPointers.data(), block);
        result.processSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const std::int64_t blockStart = result.processedFrames;
        result.processedFrames += block;

        // Output frame k of the plug-in is frame k - latency of the render.
        // Plug-ins may report their latency during the first blocks; it is
        // settled with the first frame kept. Until then every block was
        // dropped whole, so at least blockStart frames are gone already.
        int first = 0;
        if (!latencyFixed) {
            std::int64_t reported = plugin.latency();
            if (reported < 0 || reported > latencyLimit) {
                result.latencyIgnored = true;
                reported = 0;
            }
            latency = std::max(reported, blockStart);
            first = static_cast<int>(std::clamp<std::int64_t>(latency - blockStart, 0, block));
            if (first < block) latencyFixed = true;
        }

        for (int c = 0; c < outChannels; ++c) {
            float* out = outPointers[static_cast<std::size_t>(c)];
            for (int i = first; i < block; ++i)
                if (!std::isfinite(out[i])) {
                    out[i] = 0.0f;
                    ++result.nonFiniteOutput;
                }
        }

        // Frames of the input's length are the body; the rest is tail.
        int bodyEnd = block;
        if (inputDone)
            bodyEnd = static_cast<int>(
                std::clamp<std::int64_t>(result.inputFrames + latency - blockStart, first, block));
        auto frameAt = [&](int offset) {
            for (int c = 0; c < outChannels; ++c)
                emitPointers[static_cast<std::size_t>(c)] = outPointers[static_cast<std::size_t>(c)] + offset;
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
    plugin.stop();

    result.outputFrames = emitter.count;
    result.tailFrames = settings.tail.automatic ? gate.tailFrames() : tailWritten;
    result.tailLimited = settings.tail.automatic && gate.reachedLimit();
    result.latency = static_cast<std::int32_t>(latency);
    result.reportedLatency = plugin.latency();
    result.latencyChanged =
        settings.compensateLatency && !result.latencyIgnored && result.reportedLatency != result.latency;
    return result;
}

} // namespace quor::cli
