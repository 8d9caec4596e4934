#include "tools/quor/batch.h"

#include "tools/quor/audio_file.h"
#include "tools/quor/error.h"
#include "tools/quor/json.h"
#include "tools/quor/plugin.h"
#include "tools/quor/render.h"
#include "tools/quor/signal_stats.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

namespace quor::cli {

namespace fs = std::filesystem;

namespace {

// The chain is tried at this rate before the first file; each file's own
// chain runs at the file's rate.
constexpr double kTrialRate = 48000.0;

struct BatchFile {
    std::string input;
    std::string output;
    std::string refusal; // why it is not rendered, found before rendering
};

// Where each input goes. Two inputs of the same name would write one output,
// and an output may not replace its own input: such files are refused.
std::vector<BatchFile> planBatch(const RenderOptions& o) {
    std::error_code ec;
    fs::create_directories(o.outDir, ec);
    if (ec || !fs::is_directory(o.outDir)) throw Error("cannot create the directory " + o.outDir);
    std::vector<BatchFile> files;
    std::map<std::string, std::string> taken; // output -> input
    for (const std::string& input : o.inputs) {
        fs::path name = fs::path(input).filename();
        if (!o.format.empty()) name.replace_extension(o.format);
        BatchFile f{input, (fs::path(o.outDir) / name).string(), ""};
        const auto [first, fresh] = taken.emplace(fs::path(f.output).lexically_normal().string(), input);
        if (!fresh)
            f.refusal = "has the same name as " + first->second + "; both would be written to " + f.output;
        else if (fs::exists(f.output, ec) && fs::equivalent(input, f.output, ec))
            f.refusal = "the output would replace the input; choose another --out-dir or --format";
        files.push_back(f);
    }
    return files;
}

} // namespace

FileRender::FileRender(const std::string& inputPath, const std::string& output, const RenderOptions& o)
    : options(o), outputPath(output), input(std::make_unique<AudioReader>(inputPath)) {
    const AudioFileInfo& info = input->info();
    for (const StageOptions& stage : o.chain) {
        sidechains.emplace_back();
        if (stage.sidechain.empty()) continue;
        auto side = std::make_unique<AudioReader>(stage.sidechain);
        const AudioFileInfo& sideInfo = side->info();
        if (sideInfo.sampleRate != info.sampleRate)
            throw Error("the side-chain " + stage.sidechain + " is at " +
                        std::to_string(sideInfo.sampleRate) + " Hz, the input at " +
                        std::to_string(info.sampleRate) + " Hz");
        if (sideInfo.frames != info.frames)
            notice("the side-chain " + stage.sidechain + " has " + std::to_string(sideInfo.frames) +
                   " frames, the input " + std::to_string(info.frames) + "; " +
                   (sideInfo.frames < info.frames ? "padded with silence" : "cut") +
                   " to the input's length");
        sidechains.back() = std::move(side);
    }
}

FileRender::~FileRender() = default;

int FileRender::sampleRate() const {
    return input->info().sampleRate;
}

RenderSummary FileRender::run(Chain& chain, bool progress) {
    const AudioFileInfo& info = input->info();
    const int block = options.blockSize;
    RenderSettings settings;
    settings.blockSize = block;
    settings.tail = parseTail(options.tail);
    settings.compensateLatency = options.compensateLatency;
    const int outChannels = renderChannels(chain.plugin(chain.size() - 1));
    const int format =
        outputFormatFor(outputPath, info.format, options.encoding, outChannels, info.sampleRate);
    AudioWriter writer(outputPath, format, outChannels, info.sampleRate);
    ReaderSource source(*input, block);
    std::vector<std::unique_ptr<ReaderSource>> sideSources;
    std::vector<RenderStage> stages;
    for (std::size_t k = 0; k < chain.size(); ++k) {
        sideSources.push_back(sidechains[k] ? std::make_unique<ReaderSource>(*sidechains[k], block)
                                            : nullptr);
        stages.push_back({&chain.plugin(k), sideSources.back().get()});
    }
    WriterSink sink(writer, outChannels, block);
    SignalStats inStats(2, info.sampleRate, block);
    SignalStats outStats(outChannels, info.sampleRate, block);
    RenderSummary s;
    {
        ProgressBar bar(progress);
        s.result = render(stages, source, sink, settings, &inStats, &outStats,
                          [&bar](std::int64_t done, std::int64_t expected) { bar.update(done, expected); });
    }
    writer.commit();

    s.inputName = input->path();
    s.inputFormat = describeFormat(info.format);
    s.inputChannels = info.channels;
    s.outputName = outputPath;
    s.outputFormat = describeFormat(format);
    s.outputChannels = outChannels;
    s.sampleRate = info.sampleRate;
    for (std::size_t k = 0; k < chain.size(); ++k)
        s.stages.push_back({chain.plugin(k).effectName(), chain.plugin(k).path()});
    s.automaticTail = settings.tail.automatic;
    s.compensateLatency = options.compensateLatency;
    s.input = measuredLevels(inStats);
    s.output = measuredLevels(outStats);
    addRenderProblems(s, floatEncoding(format));
    return s;
}

int renderBatch(const RenderOptions& o, std::ostream& out, std::ostream& err) {
    // What is wrong with the chain fails the whole batch with one error,
    // before anything is written; its warnings are given once, here.
    { const Chain trial(o.chain, kTrialRate, o.blockSize); }
    const std::vector<BatchFile> files = planBatch(o);
    const std::size_t jobs = std::clamp<std::size_t>(static_cast<std::size_t>(o.jobs), 1, files.size());

    std::vector<RenderSummary> results(files.size());
    std::vector<bool> finished(files.size(), false);
    std::mutex mutex;
    std::condition_variable ready;
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next++) < files.size();) {
            const BatchFile& f = files[i];
            RenderSummary s;
            RemarkCapture capture;
            try {
                if (!f.refusal.empty()) throw Error(f.refusal);
                FileRender file(f.input, f.output, o);
                std::unique_ptr<Chain> chain;
                {
                    RemarkCapture alreadyGiven;
                    chain = std::make_unique<Chain>(o.chain, file.sampleRate(), o.blockSize);
                }
                s = file.run(*chain, false);
            } catch (const std::exception& e) {
                s.error = e.what();
            }
            s.inputName = f.input;
            s.outputName = f.output;
            s.remarks.insert(s.remarks.begin(), capture.remarks.begin(), capture.remarks.end());
            std::lock_guard<std::mutex> lock(mutex);
            results[i] = std::move(s);
            finished[i] = true;
            ready.notify_all();
        }
    };
    std::vector<std::thread> workers;
    for (std::size_t job = 0; job < jobs; ++job)
        workers.emplace_back(work);

    // Reported in input order, each file as soon as it and those before it are done.
    std::size_t failed = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::unique_lock<std::mutex> lock(mutex);
        ready.wait(lock, [&] { return finished[i]; });
        const RenderSummary& s = results[i];
        lock.unlock();
        if (!s.error.empty()) {
            ++failed;
            const bool named = s.error.find(s.inputName) != std::string::npos;
            err << "quor: error: " << (named ? "" : s.inputName + ": ") << s.error << std::endl;
        } else if (!o.json) {
            printFileLine(out, s);
            out.flush();
        }
        for (const std::string& remark : s.remarks)
            printRemark(err, remark, s.inputName);
        err.flush();
    }
    for (std::thread& t : workers)
        t.join();

    if (o.json)
        printRenderJson(out, results);
    else
        out << "rendered " << files.size() - failed << " of " << files.size() << " files into " << o.outDir
            << (failed ? " (" + std::to_string(failed) + " failed)" : "") << "\n";
    return failed ? 1 : 0;
}

} // namespace quor::cli
