#include "tools/quor/signal_stats.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace quor::cli {

SignalStats::SignalStats(int channels, double sampleRate, int maxFrames)
    : channelCount(channels),
      interleaved(static_cast<std::size_t>(channels) * static_cast<std::size_t>(std::max(maxFrames, 1))) {
    meter = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(std::lround(sampleRate)),
                         EBUR128_MODE_I);
    // A mono signal is heard on both speakers: measure it as dual mono, so
    // that it reads like the same signal duplicated to stereo.
    if (meter && channels == 1) ebur128_set_channel(meter, 0, EBUR128_DUAL_MONO);
}

SignalStats::~SignalStats() {
    if (meter) ebur128_destroy(&meter);
}

void SignalStats::add(const float* const* channels, int frames) {
    const int capacity = static_cast<int>(interleaved.size() / static_cast<std::size_t>(channelCount));
    for (int start = 0; start < frames; start += capacity)
        addChunk(channels, start, std::min(capacity, frames - start));
}

void SignalStats::addChunk(const float* const* channels, int start, int frames) {
    double peakSoFar = peakValue;
    double sum = 0.0;
    std::int64_t bad = 0;
    for (int c = 0; c < channelCount; ++c) {
        const float* x = channels[c] + start;
        for (int i = 0; i < frames; ++i) {
            float v = x[i];
            if (!std::isfinite(v)) {
                ++bad;
                v = 0.0f;
            }
            const double a = std::fabs(static_cast<double>(v));
            if (a > peakSoFar) peakSoFar = a;
            sum += a * a;
            interleaved[static_cast<std::size_t>(i) * static_cast<std::size_t>(channelCount) +
                        static_cast<std::size_t>(c)] = v;
        }
    }
    peakValue = peakSoFar;
    sumOfSquares += sum;
    nonFiniteCount += bad;
    frameCount += frames;
    if (meter) ebur128_add_frames_float(meter, interleaved.data(), static_cast<std::size_t>(frames));
}

double SignalStats::rms() const {
    if (frameCount == 0) return 0.0;
    return std::sqrt(sumOfSquares / (static_cast<double>(frameCount) * channelCount));
}

double SignalStats::loudness() const {
    if (!meter) return std::numeric_limits<double>::quiet_NaN();
    double lufs = 0.0;
    if (ebur128_loudness_global(meter, &lufs) != EBUR128_SUCCESS)
        return std::numeric_limits<double>::quiet_NaN();
    return lufs;
}

double toDecibels(double linear) {
    return linear > 0.0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

} // namespace quor::cli
