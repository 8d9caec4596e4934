// The tail of both channels, run by run. The per-line state is copied into
// flat arrays for the block so that the arithmetic that is independent from
// line to line (oscillator, read position, interpolation, loop filter,
// all-pass) runs over four lines at a time, and the lines are read for a
// whole run of frames before the run's values are written back. Only the
// chain, which couples the lines of a channel, runs frame by frame and line
// by line, the two channels side by side. Every line keeps its own order of
// operations, so the result is bit-identical to processing one frame and
// one line after the other.
#pragma once

#include "effects/reverb/tail.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace quor {

struct TailBlockConstants {
    float highCutCoef;
    float lowCutCoef;
    float decayGain;   // algorithm 1: loop gain
    float allpassCoef; // algorithm 1: lattice coefficient
    float chainCoef;   // algorithm 0: line-to-line coupling
    float allpass11k;  // algorithm 0: in-loop all-pass
    float diffuseScale;
    // Algorithm 0: output weight of each line with its sign, negative for
    // even lines (w - x equals w + (-x) exactly).
    float outputWeight[kMaxTailLinesPerChannel];
};

class TailLanes {
  public:
    static constexpr std::int32_t kMaxRun = 16;

    // Block start and end: copy the tail's per-line state in and back out.
    void load(const ReverbTail& tail) {
        lines = 2 * tail.linesPerChannel;
        groups = (lines + kWidth - 1) / kWidth;
        float shortest = static_cast<float>(2 * kMaxRun);
        for (std::int32_t j = 0; j < kMaxTailLines; ++j) {
            const bool used = j < lines;
            const ReverbLine& line = tail.line[j];
            body[j] = used ? line.body : nullptr;
            capacity[j] = used ? line.capacity : 1; // unused lanes compute harmless positions
            nextWrite[j] = used ? line.nextWrite : 0;
            delay[j] = used ? line.delay : 0.0f;
            offset[j] = tail.modulationOffset[j];
            lowpass[j] = tail.lowpass[j];
            tracker[j] = tail.tracker[j];
            allpass[j] = tail.allpassState[j];
            gain[j] = tail.gain[j];
            entering[j] = 0.0f;
            outgoing[j] = 0.0f;
            if (used) shortest = std::min(shortest, line.delay);
        }
        // Lanes past the last line start from silence in every block.
        for (auto& row : signal)
            std::fill(row + lines, row + kMaxTailLines, 0.0f);
        // A read is at least 0.5625 of its line's delay behind the write, so
        // within a run of half the shortest delay no frame reads a value the
        // run itself writes: the run's writes can wait until its end.
        runFrames = std::clamp(static_cast<std::int32_t>(shortest * 0.5f), std::int32_t{1}, kMaxRun);
    }

    void store(ReverbTail& tail) const {
        for (std::int32_t j = 0; j < lines; ++j) {
            tail.line[j].nextWrite = nextWrite[j];
            tail.lowpass[j] = lowpass[j];
            tail.tracker[j] = tracker[j];
            tail.allpassState[j] = allpass[j];
        }
    }

    // The longest run whose writes may wait until its end.
    std::int32_t runLimit() const { return runFrames; }

    // Frame f of the run (the frames of a run in order): reads every line at
    // its delay shortened by the oscillator (phase in cycles, depth at most
    // 0.5) by up to 0.875 * depth. The run's writes wait until its end, so
    // this work does not depend on the chains of the frames before it and
    // overlaps with them.
    void readFrame(std::int32_t f, float phase, float depth) {
        std::int32_t slot[kMaxTailLines];
        float fraction[kMaxTailLines];
        forEachLane([&](std::int32_t j) {
            const float t = tailTriangle(phase + offset[j]);
            const float d = (1.0f + depth * (2.0f - t * t) * t) * delay[j];
            const auto whole = static_cast<std::int32_t>(d);
            fraction[j] = d - static_cast<float>(whole);
            // Where the frame's write will go; f is below the capacity.
            std::int32_t n = nextWrite[j] + f;
            n -= n >= capacity[j] ? capacity[j] : 0;
            const std::int32_t s = n - whole;
            slot[j] = s + (s < 0 ? capacity[j] : 0);
        });
        // slot - 1 may be -1: the guard in front of the body mirrors the last slot.
        for (std::int32_t j = 0; j < lines; ++j) {
            const float* at = body[j] + slot[j];
            const float a = at[0];
            const float b = at[-1];
            signal[f][j] = a + (b - a) * fraction[j];
        }
    }

    // Algorithm 1: each line is a lattice all-pass around its delay with the
    // loop filter and the loop gain inside; the filter runs on the delay
    // outputs of frame f.
    void filterFrame(std::int32_t f, const TailBlockConstants& k) {
        forEachLane(
            [&](std::int32_t j) { signal[f][j] = loopFilter(j, signal[f][j], k.highCutCoef, k.lowCutCoef); });
    }

    // The chain of frame f: a enters with the early reflections and the
    // feedback return and leaves as the last all-pass output; w collects
    // every filtered delay output.
    void latticeFrame(std::int32_t f, const TailBlockConstants& k, float* a, float* w) {
        const float* y = signal[f];
        StereoPair aLR = pairAt(a), wLR = pairAt(w);
        for (std::int32_t j = 0; j < lines; j += 2) {
            const StereoPair yLR = pairAt(y + j);
            store(entering + j, aLR);
            aLR = k.decayGain * yLR - k.allpassCoef * aLR + 1e-20f;
            store(outgoing + j, aLR);
            wLR = wLR + yLR;
        }
        store(a, aLR);
        store(w, wLR);
        forEachLane(
            [&](std::int32_t j) { looped[f][j] = k.allpassCoef * outgoing[j] + entering[j] + 1e-20f; });
    }

    // Algorithm 0: each line is a feedback comb with its own gain and a fixed
    // first-order all-pass in the loop, which runs on the delay outputs of
    // frame f.
    void allpassFrame(std::int32_t f, const TailBlockConstants& k) {
        forEachLane([&](std::int32_t j) {
            const float y = signal[f][j];
            const float u = allpass[j] - k.allpass11k * y + 1e-10f;
            allpass[j] = k.allpass11k * u + y + 1e-10f;
            signal[f][j] = u;
        });
    }

    // The chain of frame f couples neighbouring lines; the output is a
    // weighted sum of alternating sign.
    void combsFrame(std::int32_t f, const TailBlockConstants& k, float* a, float* w) {
        const float* u = signal[f];
        StereoPair aLR = pairAt(a), wLR = pairAt(w);
        for (std::int32_t j = 0; j < lines; j += 2) {
            const StereoPair uLR = pairAt(u + j);
            store(entering + j, aLR);
            wLR = wLR + k.outputWeight[j / 2] * uLR;
            aLR = k.chainCoef * uLR - aLR;
        }
        store(a, aLR);
        store(w, wLR);
        forEachLane([&](std::int32_t j) {
            looped[f][j] =
                loopFilter(j, gain[j] * u[j] * k.diffuseScale + entering[j], k.highCutCoef, k.lowCutCoef);
        });
    }

    // Run end: the run's values enter the lines, as ReverbLine::write would
    // have written them frame by frame.
    void writeRun(std::int32_t frames) {
        for (std::int32_t j = 0; j < lines; ++j) {
            float* b = body[j];
            const std::int32_t cap = capacity[j];
            const std::int32_t n = nextWrite[j];
            // The run is shorter than the line: it wraps at most once.
            const std::int32_t first = std::min(frames, cap - n);
            for (std::int32_t f = 0; f < first; ++f)
                b[n + f] = looped[f][j];
            for (std::int32_t f = first; f < frames; ++f)
                b[f - first] = looped[f][j];
            // Keep the guard's copies of the last four slots.
            for (std::int32_t s = std::max(n, cap - ReverbLine::kGuard); s < n + first; ++s)
                b[s - cap] = b[s];
            for (std::int32_t s = std::max(0, cap - ReverbLine::kGuard); s < frames - first; ++s)
                b[s - cap] = b[s];
            const std::int32_t next = n + frames;
            nextWrite[j] = next >= cap ? next - cap : next;
        }
    }

  private:
    static constexpr std::int32_t kWidth = 4;

    // The left and right lines of one chain position, side by side in one
    // register: each lane computes exactly what the scalar code would.
    typedef float StereoPair __attribute__((vector_size(2 * sizeof(float))));
    static StereoPair pairAt(const float* p) {
        StereoPair v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    static void store(float* p, StereoPair v) { std::memcpy(p, &v, sizeof v); }

    // Runs f for every line, in groups of kWidth lanes that the compiler
    // turns into vector operations; lanes past the last line compute
    // harmless values that are never used.
    template <typename F> void forEachLane(F f) {
        for (std::int32_t g = 0; g < groups; ++g)
            for (std::int32_t l = 0; l < kWidth; ++l)
                f(g * kWidth + l);
    }

    float loopFilter(std::int32_t j, float z, float highCutCoef, float lowCutCoef) {
        const float lp = (lowpass[j] - z) * highCutCoef + z;
        const float tr = (lp - tracker[j]) * lowCutCoef + tracker[j];
        lowpass[j] = lp;
        tracker[j] = tr;
        return lp - tr;
    }

    std::int32_t lines = 0;
    std::int32_t groups = 0; // groups of kWidth lanes covering every line
    std::int32_t runFrames = 1;
    float* body[kMaxTailLines];
    std::int32_t capacity[kMaxTailLines];
    std::int32_t nextWrite[kMaxTailLines];
    float delay[kMaxTailLines];
    float offset[kMaxTailLines];
    float lowpass[kMaxTailLines];
    float tracker[kMaxTailLines];
    float allpass[kMaxTailLines];
    float gain[kMaxTailLines];
    float entering[kMaxTailLines];        // chain signal each line was entered with
    float outgoing[kMaxTailLines];        // and left with
    float signal[kMaxRun][kMaxTailLines]; // delay outputs, then filtered or all-passed
    float looped[kMaxRun][kMaxTailLines]; // values to write back
};

} // namespace quor
