// The Reverb's block engine against a literal frame-by-frame, line-by-line
// model of the signal flow. Line lengths, tap delays and control values come
// from the effect (pinned elsewhere); all else is recomputed from the formulas.
#include "dsp/taper.h"
#include "effects/reverb/reverb.h"
#include "tests/support/effect_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

namespace quor {
namespace {

struct Line {
    std::vector<float> buffer;
    int capacity = 0, next = 0;
    float delay = 0.0f;
    void init(const ReverbLine& l) {
        buffer.assign(static_cast<std::size_t>(capacity = l.capacity), 0.0f);
        delay = l.delay;
    }
    void write(float x) {
        buffer[static_cast<std::size_t>(next)] = x;
        next = (next + 1) % capacity;
    }
    float at(int back) const {
        return buffer[static_cast<std::size_t>(((next - back) % capacity + capacity) % capacity)];
    }
    float read(float d) const {
        const int i = static_cast<int>(d);
        const float a = at(i), b = at(i + 1);
        return a + (b - a) * (d - static_cast<float>(i));
    }
};

float tri(float p) {
    return std::fabs(p - std::floor(p) - 0.5f) - 0.5f;
}

struct Model {
    const Reverb& fx;
    float fs;
    Line early[2], feedback[2], tail[32];
    float lowpass[32] = {}, tracker[32] = {}, allpass[32] = {}, gain[32] = {}, bandLow[2] = {},
          bandTrack[2] = {};
    float phase;

    Model(const Reverb& r, float rate) : fx(r), fs(rate), phase(r.lfoPhase()) {
        for (int c = 0; c < 2; ++c) {
            early[c].init(r.earlyReflections().line[c]);
            feedback[c].init(r.feedbackLine(c));
        }
        for (int j = 0; j < 2 * r.tail().linesPerChannel; ++j)
            tail[j].init(r.tail().line[j]);
    }

    void block(const float* inL, const float* inR, float* outL, float* outR, int frames) {
        const float* v = fx.values;
        const ReverbControls& k = fx.controls();
        const int lines = fx.tail().linesPerChannel, taps = fx.earlyReflections().tapCount;
        const float* tapDelay = fx.earlyReflections().tapDelaySamples;
        const float wet = k.wetGain * k.makeupGain, dry = k.dryGain;
        const float a0 = Taper(v[kReverbDecay], 1.1f), sign = a0 > 0.0f ? 1.0f : -1.0f;
        const float decaySeconds = std::fabs(4.0f * Taper(a0, -1.1f));
        for (int j = 0; j < 2 * lines; ++j) { // a line shorter than a sample does not recirculate
            const float L = tail[j].delay, F = fs / L, c = Taper(F * (-2.0f) / fs + 1.0f, 0.5f),
                        passes = (c * decaySeconds + 1e-10f) * F;
            const float p =
                passes < 0.1f ? std::pow(0.1f, 10.0f) : std::pow(0.1f, 1.0f / std::min(passes, fs * 1000.0f));
            gain[j] = L < 1.0f ? 0.0f : (1.0f - (1.0f - p)) * sign;
        }
        const float ratio = 1.0f - std::pow(0.01f, 1.0f / static_cast<float>(taps));
        const float t11k = static_cast<float>(std::tan(static_cast<double>(3.14159274f * 11000.0f / fs)));
        const float P = std::clamp((1.0f - t11k) / (1.0f + t11k), -0.99999f, 0.99999f);
        const float z = v[kReverbSize], d = v[kReverbTailDiffuse], y = v[kReverbDecay];
        const float lambda = -1.0f + (-1.3f + 1.0f) * d;
        const float E = (z * 3.0f - 6.0f) + static_cast<float>(static_cast<int>(v[kReverbTailDensity])) *
                                                (lambda + (-0.6f - lambda) * z);
        const float G = std::pow(10.0f, E / 20.0f), S = 1.0f - d * (0.3f + (0.06f - 0.3f) * y);
        const float q = 0.75f / (feedback[0].delay * 0.01f + 1.0f), echo = 0.75f - Taper(q, 0.1f);
        const bool reversed = v[kReverbTailDirection] <= 0.5f;
        for (int i = 0; i < frames; ++i) {
            float x[2] = {inL[i] + 1e-10f, inR[i] + 1e-10f}, a[2] = {1e-10f, 1e-10f}, w[2] = {1e-10f, 1e-10f};
            phase += k.rateHz / fs;
            if (phase >= 1.0f) phase -= 1.0f;
            float o = 0.0f;
            for (int c = 0; c < 2; ++c) {
                float weight = 1.0f;
                for (int s = 0; s < taps; ++s, weight *= ratio)
                    a[c] += weight * early[c].read(tapDelay[2 * s + c]);
                early[c].write(x[c]);
                if (k.algorithm == 1) a[c] += k.feedbackGain * feedback[c].read(feedback[c].delay);
                float omega = reversed ? G * 2.0f : G;
                const float step = reversed ? -0.8f * omega / static_cast<float>(lines) : 0.0f;
                for (int s = 0; s < lines; ++s) {
                    const int j = 2 * s + c;
                    const float t = tri(phase + o);
                    const float in = tail[j].read((1.0f + k.depth * (2.0f - t * t) * t) * tail[j].delay);
                    auto loopFilter = [&](float u) {
                        lowpass[j] = (lowpass[j] - u) * k.highCutCoef + u;
                        tracker[j] = (lowpass[j] - tracker[j]) * k.lowCutCoef + tracker[j];
                        return lowpass[j] - tracker[j];
                    };
                    if (k.algorithm == 1) {
                        const float filtered = loopFilter(in);
                        const float out = k.decayGain * filtered - k.allpassCoef * a[c] + 1e-20f;
                        tail[j].write(k.allpassCoef * out + a[c] + 1e-20f);
                        w[c] += filtered;
                        a[c] = out;
                    } else {
                        const float u = allpass[j] - P * in + 1e-10f;
                        allpass[j] = P * u + in + 1e-10f;
                        tail[j].write(loopFilter(gain[j] * u * S + a[c]));
                        w[c] = s % 2 ? w[c] + omega * u : w[c] - omega * u;
                        a[c] = k.chainCoef * u - a[c];
                        omega += step;
                    }
                    const float t1 = tri(0.3f * static_cast<float>(s)), h1 = (2.0f - t1 * t1) * t1 + 1.0f,
                                t2 = tri(h1 + o);
                    o += (2.0f - t2 * t2) * t2 + 1.0f;
                }
            }
            for (int c = 0; c < 2; ++c) {
                const float in =
                    k.algorithm == 1 ? w[c] : k.feedbackGain * feedback[c].read(feedback[c].delay) + w[c];
                bandLow[c] = (bandLow[c] - in) * k.band.lowpass + in;
                bandTrack[c] = (bandLow[c] - bandTrack[c]) * k.band.highpass + bandTrack[c];
                w[c] = bandLow[c] - bandTrack[c];
                feedback[c].write(k.algorithm == 1 ? a[c] : w[c] * echo);
            }
            outL[i] = w[0] * wet + x[0] * dry;
            outR[i] = w[1] * wet + x[1] * dry;
        }
    }
};

// Noise then silence, in blocks of 512 or of random sizes, after setting
// (index, value, index, value, ...); returns the number of differing blocks.
int mismatches(float rate, const std::vector<float>& settings, bool randomBlocks) {
    Reverb fx;
    fx.applyDefaults();
    for (std::size_t i = 0; i < settings.size(); i += 2)
        test::setValue(fx, static_cast<std::int32_t>(settings[i]), settings[i + 1]);
    test::startAt(fx, rate);
    Model model(fx, rate);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::uniform_int_distribution<int> blockSize(1, 512);
    std::vector<float> in[2], out[2], ref[2];
    int bad = 0;
    for (int at = 0, n = 0; at < 24000; at += n) {
        n = randomBlocks ? blockSize(rng) : 512;
        for (int c = 0; c < 2; ++c) {
            in[c].assign(static_cast<std::size_t>(n), 0.0f);
            out[c] = ref[c] = in[c];
        }
        for (int i = 0; i < n && at + i < 6000; ++i)
            for (auto& channel : in)
                channel[static_cast<std::size_t>(i)] = noise(rng);
        model.block(in[0].data(), in[1].data(), ref[0].data(), ref[1].data(), n);
        float* inputs[2] = {in[0].data(), in[1].data()};
        float* outputs[2] = {out[0].data(), out[1].data()};
        AudioBuffers buffers{inputs, outputs, n, 0};
        fx.process(buffers, true);
        for (int c = 0; c < 2; ++c) // bit for bit: a zero of the other sign counts too
            bad +=
                std::memcmp(out[c].data(), ref[c].data(), sizeof(float) * static_cast<std::size_t>(n)) != 0;
    }
    return bad;
}

TEST(ReverbReference, BlockEngineMatchesFrameByFrameModel) {
    const std::pair<const char*, std::vector<float>> cases[] = {
        {"algorithm 0", {kReverbMix, 0.6f, kReverbAlgorithm, 0.0f}},
        {"algorithm 0 reversed, echo",
         {kReverbMix, 1.0f, kReverbAlgorithm, 0.0f, kReverbTailDirection, 0.0f, kReverbTailDensity, 9.0f,
          kReverbDelay, 0.3f, kReverbDepth, 0.9f, kReverbLowCut, 0.3f, kReverbHighCut, 0.2f}},
        {"heaviest",
         {kReverbMix, 1.0f, kReverbTailDensity, 16.0f, kReverbSize, 1.0f, kReverbDiffuseDensity, 1.0f,
          kReverbDepth, 1.0f, kReverbRate, 1.0f, kReverbDecay, 0.95f}},
        {"reversed taps",
         {kReverbMix, 0.8f, kReverbDiffuseDirection, 0.0f, kReverbDiffuseSpread, 1.0f,
          kReverbDiffuseDistribution, 0.0f, kReverbTailSpread, 0.9f, kReverbTailDistribution, 1.0f}},
        {"long feedback",
         {kReverbMix, 0.6f, kReverbStereo, 0.3f, kReverbFrequency, 0.1f, kReverbWidth, 0.2f, kReverbFeedback,
          0.5f, kReverbDelay, 1.0f}},
        {"shortest lines",
         {kReverbMix, 1.0f, kReverbSize, 0.0f, kReverbTailSpread, 1.0f, kReverbTailDensity, 16.0f,
          kReverbTailDiffuse, 0.0f}},
        {"shortest lines, algorithm 0",
         {kReverbMix, 1.0f, kReverbSize, 0.0f, kReverbTailSpread, 1.0f, kReverbAlgorithm, 0.0f}},
    };
    for (float rate : {22050.0f, 44100.0f, 48000.0f, 96000.0f})
        for (const auto& [name, settings] : cases)
            for (bool randomBlocks : {false, true})
                EXPECT_EQ(mismatches(rate, settings, randomBlocks), 0)
                    << name << " at " << rate << " Hz" << (randomBlocks ? ", random block sizes" : "");
}

} // namespace
} // namespace quor
