// CPU cost of plug-ins on deterministic stereo noise. Several plug-ins are
// measured in alternating turns within one run, so that clock changes and
// other load hit them alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quor::cli {

class Plugin;

struct BenchFigures {
    std::string name;
    std::int64_t frames = 0;
    double seconds = 0.0; // inside the processing calls
    double nanosecondsPerFrame() const {
        return frames > 0 ? seconds * 1e9 / static_cast<double>(frames) : 0.0;
    }
    double realTimeFactor(double sampleRate) const {
        return seconds > 0.0 ? static_cast<double>(frames) / sampleRate / seconds : 0.0;
    }
};

// Processes `audioSeconds` of noise through each plug-in (configured for
// `sampleRate` and `blockFrames`) in turns of about a quarter second; every
// input, side-chain inputs included, gets its own noise.
std::vector<BenchFigures> runBenchmark(const std::vector<Plugin*>& plugins, double sampleRate,
                                       int blockFrames, double audioSeconds);

} // namespace quor::cli
