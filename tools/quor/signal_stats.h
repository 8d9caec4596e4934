// Level figures of a signal as it streams past: sample peak, RMS over every
// sample of every channel, and integrated loudness (EBU R 128, via libebur128).
#pragma once

#include <ebur128.h>

#include <cstdint>
#include <vector>

namespace quor::cli {

class SignalStats {
  public:
    // `maxFrames` sizes the internal buffer; add() takes any number of frames.
    SignalStats(int channels, double sampleRate, int maxFrames);
    ~SignalStats();
    SignalStats(const SignalStats&) = delete;
    SignalStats& operator=(const SignalStats&) = delete;

    // Non-finite samples are counted, not measured.
    void add(const float* const* channels, int frames);

    std::int64_t frames() const { return frameCount; }
    std::int64_t nonFinite() const { return nonFiniteCount; }
    double peak() const { return peakValue; } // linear
    double rms() const;                       // linear
    // LUFS; -infinity for silence or less than one 400 ms gating block, NaN
    // when the meter could not run at this rate.
    double loudness() const;

  private:
    void addChunk(const float* const* channels, int start, int frames);

    int channelCount;
    ebur128_state* meter = nullptr;
    std::vector<float> interleaved;
    std::int64_t frameCount = 0;
    std::int64_t nonFiniteCount = 0;
    double peakValue = 0.0;
    double sumOfSquares = 0.0;
};

// 20 log10(x), -infinity for 0.
double toDecibels(double linear);

} // namespace quor::cli
