#include "tools/quor/demo_signal.h"

#include <algorithm>
#include <cmath>

namespace quor::cli {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kBeatSeconds = 0.5; // 120 BPM
constexpr double kLengthSeconds = 6.0;
constexpr double kPeak = 0.5; // -6 dBFS, headroom for the effect

class Mixer {
  public:
    explicit Mixer(StereoSignal& s) : s(s) {}
    // Adds voice(t) from `atSeconds` on for `seconds`, panned -1 (left) to +1.
    template <typename Voice> void add(double atSeconds, double seconds, double pan, Voice voice) {
        const double rate = s.sampleRate;
        const auto start = static_cast<std::size_t>(std::llround(atSeconds * rate));
        const auto end =
            std::min(s.left.size(), start + static_cast<std::size_t>(std::llround(seconds * rate)));
        const double gainL = std::cos((pan + 1.0) * kPi / 4.0);
        const double gainR = std::sin((pan + 1.0) * kPi / 4.0);
        for (std::size_t i = start; i < end; ++i) {
            const double t = static_cast<double>(i - start) / rate;
            const double v = voice(t);
            s.left[i] += static_cast<float>(v * gainL);
            s.right[i] += static_cast<float>(v * gainR);
        }
    }

  private:
    StereoSignal& s;
};

// A pitch sweep from 150 Hz down to 45 Hz with a click on top.
void kick(Mixer& mix, double at) {
    mix.add(at, 0.6, 0.0, [phase = 0.0, last = 0.0](double t) mutable {
        const double hz = 45.0 + 105.0 * std::exp(-t / 0.04);
        phase += 2.0 * kPi * hz * (t - last);
        last = t;
        return 0.9 * std::sin(phase) * std::exp(-t / 0.22) + 0.3 * std::exp(-t / 0.003);
    });
}

void snare(Mixer& mix, double at, unsigned seed) {
    mix.add(at, 0.4, -0.2, [noise = NoiseSource(seed)](double t) mutable {
        return 0.45 * noise.next() * std::exp(-t / 0.1) +
               0.35 * std::sin(2.0 * kPi * 190.0 * t) * std::exp(-t / 0.06);
    });
}

// Differenced noise: mostly highs.
void hat(Mixer& mix, double at, unsigned seed, double level) {
    mix.add(at, 0.12, 0.35, [noise = NoiseSource(seed), previous = 0.0f, level](double t) mutable {
        const float n = noise.next();
        const double v = 0.5 * (n - previous);
        previous = n;
        return level * v * std::exp(-t / 0.025);
    });
}

// A few harmonics per note; the right channel slightly detuned for width.
void chord(Mixer& mix, double at, double seconds, const std::vector<double>& notesHz, double decaySeconds) {
    for (std::size_t k = 0; k < notesHz.size(); ++k) {
        const double pan = -0.5 + static_cast<double>(k) / static_cast<double>(notesHz.size() - 1);
        for (int side = 0; side < 2; ++side) {
            const double hz = notesHz[k] * (side == 0 ? 0.999 : 1.001);
            mix.add(at, seconds, side == 0 ? pan - 0.3 : pan + 0.3, [hz, decaySeconds, seconds](double t) {
                double v = 0.0;
                for (int h = 1; h <= 4; ++h)
                    v += std::sin(2.0 * kPi * hz * h * t) / (h * h);
                const double attack = std::min(t / 0.008, 1.0);
                const double release = std::min((seconds - t) / 0.02, 1.0);
                return 0.06 * v * attack * release * std::exp(-t / decaySeconds);
            });
        }
    }
}

} // namespace

StereoSignal demoSignal(double sampleRate) {
    StereoSignal s;
    s.sampleRate = sampleRate;
    const auto frames = static_cast<std::size_t>(std::llround(kLengthSeconds * sampleRate));
    s.left.assign(frames, 0.0f);
    s.right.assign(frames, 0.0f);
    Mixer mix(s);

    const std::vector<double> aMinor7{220.0, 261.63, 329.63, 392.0};
    const std::vector<double> fMajor7{174.61, 220.0, 261.63, 329.63};
    const std::vector<double> finalChord{110.0, 220.0, 329.63, 493.88, 523.25};
    for (int beat = 0; beat < 8; ++beat) {
        const double at = beat * kBeatSeconds;
        if (beat % 2 == 0) kick(mix, at);
        if (beat % 2 == 1) snare(mix, at, 1000u + static_cast<unsigned>(beat));
        hat(mix, at, 2000u + static_cast<unsigned>(beat), 0.5);
        hat(mix, at + kBeatSeconds / 2.0, 3000u + static_cast<unsigned>(beat), 0.3);
        if (beat % 2 == 0) chord(mix, at, 0.9, beat < 4 ? aMinor7 : fMajor7, 0.35);
    }
    kick(mix, 3.75);
    kick(mix, 4.0);
    chord(mix, 4.0, 1.95, finalChord, 0.6);

    float peak = 0.0f;
    for (std::size_t i = 0; i < frames; ++i)
        peak = std::max({peak, std::fabs(s.left[i]), std::fabs(s.right[i])});
    if (peak > 0.0f) {
        const auto gain = static_cast<float>(kPeak / peak);
        for (std::size_t i = 0; i < frames; ++i) {
            s.left[i] *= gain;
            s.right[i] *= gain;
        }
    }
    return s;
}

} // namespace quor::cli
