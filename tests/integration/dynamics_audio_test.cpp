// The Limiter, Compressor, Gate and Follower through the plug-in interface,
// bit for bit against frame-by-frame models written here: noise bursts around
// the thresholds, with a side-chain signal, with null side-chain pointers or
// with the side-chain off, linked and unlinked, replacing and accumulating,
// at odd block sizes, with a parameter change while audio runs.
#include "dsp/octave_table.h"
#include "host/fp_mode.h"
#include "tests/support/test_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace quor::test {
namespace {

float sq(float x) {
    return x * x;
}
float pow4(float x) {
    return sq(x) * sq(x);
}
int rounded(float x) {
    return static_cast<int>(std::floor(x + 0.5f));
}
float magnitude(const float* const* d, int i) {
    return std::max(std::fabs(d[0][i]), std::fabs(d[1][i]));
}

// Detector sources: the side-chain when switched on and present, per channel.
void detectors(const float* const* in, bool sideChain, const float* d[2]) {
    for (int c = 0; c < 2; ++c)
        d[c] = sideChain && in[c + 2] ? in[c + 2] : in[c];
}

// What the models share: the stored values (defaults first) and the rate.
template <int N> struct ModelBase {
    float v[N];
    float fs;
    static float natural(int, float normalised) { return normalised; }
    int latency() const { return 0; }
    void set(int i, float x) { v[i] = x; }
};

struct LimiterModel : ModelBase<10> {
    int length;
    struct Channel {
        float env = 0, gain = 1, window = 0, windowMin = 0, hold = 0;
        std::vector<float> line[2]; // look-ahead, compensation
        int pos[2] = {};
    } ch[2];

    explicit LimiterModel(float rate)
        : ModelBase{{0.2f, 0.2f, 0.5f, 1, 1, 0, 1, 0, 1, 0}, rate}, length(rounded(0.1f * rate) + 1) {
        for (Channel& c : ch)
            c.line[0].assign(length, 0.0f), c.line[1].assign(length, 0.0f);
    }
    float push(Channel& c, int k, float x, int delay) {
        c.pos[k] = c.pos[k] + 1 == length ? 0 : c.pos[k] + 1;
        c.line[k][c.pos[k]] = x;
        const int r = c.pos[k] - delay;
        return c.line[k][r < 0 ? r + length : r];
    }
    float attack() const { return pow4(v[0]) * 0.099f + 0.001f; }
    int lookahead() const { return rounded(attack() * fs * v[6]); }
    int latency() const { return v[9] > 0.0f ? rounded(0.1f * fs) : lookahead(); }

    void run(const float* const* in, float* const* out, int n, bool replacing) {
        const float K = 0.0009999871253967285f, hold = sq(v[1]) * 0.5f;
        const float atk = 1 - std::pow(K, 1 / (attack() * fs)),
                    rel = 1 - std::pow(K, 1 / ((pow4(v[2]) * 0.99f + 0.01f) * fs));
        const float holdStep = hold > 0.00001f ? 1 / (hold * fs) : 1,
                    det = 1 - std::pow(0.5f, 1 / (0.05f * fs));
        const float thr = std::pow(10.0f, (1 - v[3]) * -48 / 20), makeup = std::pow(10.0f, v[5] * 48 / 20);
        const int L = lookahead(), comp = latency() - L;
        const float step = 1.0f / static_cast<float>(L + 1);
        const auto gainStep = [&](Channel& s, float x) {
            if (x > s.env)
                s.env = x;
            else
                s.env += (x + 1e-10f - s.env) * det;
            const float gt = s.env > thr ? thr / s.env : 1.0f;
            if (s.gain > gt || s.window > 0) {
                s.hold = 1;
                s.window -= step;
                if (gt <= s.windowMin) s.window = 1, s.windowMin = gt;
                s.gain += (((s.windowMin + -1.0f) + 1.0f) - s.gain) * atk;
                if (s.gain < s.windowMin) s.gain = s.windowMin;
            } else {
                s.windowMin = 1;
                if (s.hold > 0)
                    s.hold -= holdStep;
                else if ((s.gain += (gt - s.gain) * rel) > gt)
                    s.gain = gt;
            }
        };
        const auto output = [&](int c, int i) {
            float y = push(ch[c], 0, in[c][i], L) * 0.999f * std::exp(std::log(ch[c].gain * makeup) * v[4]);
            if (v[9] > 0) y = push(ch[c], 1, y, comp);
            out[c][i] = replacing ? y : out[c][i] + y;
        };
        const float* d[2];
        detectors(in, v[7] > 0.5f, d);
        if (v[8] > 0.5f) {
            for (int i = 0; i < n; ++i) {
                gainStep(ch[0], magnitude(d, i));
                ch[1].gain = ch[0].gain;
                output(0, i), output(1, i);
            }
        } else {
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < n; ++i)
                    gainStep(ch[c], std::fabs(d[c][i])), output(c, i);
        }
    }
};

struct CompressorModel : ModelBase<8> {
    float coef, length, k, target = 0, remaining = 0;
    float g[2] = {1, 1};
    bool active = false, ramping = false;

    explicit CompressorModel(float rate) : ModelBase{{0, 0.5f, 1, 1, 0, 0, 0, 0}, rate} {
        coef = 1 - std::pow(0.01f, 1 / (0.2f * fs));
        length = std::floor(-4.6051702f / std::log(1 - coef)) + 1;
        k = factor();
    }
    float factor() const { // the smoothed k
        const float thr = std::pow(10.0f, ((v[2] * -0.999f) + 1) * -48 / 20);
        return -1 / ((1 - 1 / ((1 - thr) + 1e-10f)) + 1e-10f);
    }
    void set(int i, float x) { // k glides once audio has run
        v[i] = x;
        const float t = factor();
        if (!active || k == t)
            k = t;
        else if (!ramping || target != t)
            ramping = true, target = t, remaining = length;
    }
    void advance() {
        active = true;
        if (!ramping) return;
        k = k + (target - k) * coef;
        if ((remaining -= 1) <= 0) k = target, ramping = false;
    }

    void run(const float* const* in, float* const* out, int n, bool replacing) {
        const bool b = v[5] > 0;
        const float pa = v[0] * v[0] * v[0], pr = v[1] * v[1] * v[1];
        const float ta = b ? 0.4999f * pa + 0.0001f : 1.499f * pa + 0.001f;
        const float tr = b ? 1.4975f * pr + 0.0025f : 2.995f * pr + 0.005f;
        const float atk = 1 - std::pow(0.01f, 1 / (ta * fs)), rel = 1 - std::pow(0.01f, 1 / (tr * fs));
        const float makeup = std::pow(10.0f, v[4] * 48 / 20), wet = v[3], dry = 1 - v[3];
        const auto gainStep = [&](float& gain, float x) {
            const float t = 1 - (x * gain) * k, d = (std::fabs(t) + t) * 0.5f - gain;
            gain += (b ? gain * d : d) * (d < 0 ? atk : rel);
        };
        const auto output = [&](int c, int i, float gain) {
            const float y = ((in[c][i] * wet) * gain) * makeup + dry * in[c][i];
            out[c][i] = replacing ? y : out[c][i] + y;
        };
        const float* d[2];
        detectors(in, v[6] > 0, d);
        if (v[7] > 0) {
            for (int i = 0; i < n; ++i) {
                gainStep(g[0], magnitude(d, i));
                output(0, i, g[0]), output(1, i, g[0]);
                advance();
            }
            g[1] = g[0];
            return;
        }
        const float k0 = k, target0 = target, remaining0 = remaining;
        const bool ramping0 = ramping;
        for (int c = 0; c < 2; ++c) {
            k = k0, target = target0, remaining = remaining0, ramping = ramping0;
            for (int i = 0; i < n; ++i) {
                gainStep(g[c], std::fabs(d[c][i]));
                output(c, i, g[c]);
                advance();
            }
        }
    }
};

struct GateModel : ModelBase<11> {
    struct Channel {
        float env = 0, minOpen = 0, closeHold = 0, gain = 0;
        bool open = false;
    } ch[2];

    explicit GateModel(float rate) : ModelBase{{0.6f, 0.1f, 0.1f, 0, 0, 0, 0.2f, 0, 0, 0, 1}, rate} {}

    void run(const float* const* in, float* const* out, int n, bool replacing) {
        const auto T = [](float p) { return (2.0f - 0.001f) * std::pow(p, 4.0f) + 0.001f; };
        const float open = std::pow(10.0f, (1 - v[0]) * -48 / 20),
                    close = std::pow(10.0f, -48 * v[1] / 20) * open;
        const float minStep = 1 / (fs * T(v[2])), holdStep = 1 / (fs * T(v[5]));
        const float atk = 1 - std::pow(0.5f, 1 / (fs * T(v[4]))),
                    rel = 1 - std::pow(0.01f, 1 / (fs * T(v[6])));
        const float envRel = 1 - std::pow(0.01f, 1 / (fs * 0.1f)), makeup = std::pow(10.0f, v[8] * 48 / 20);
        const auto step = [&](Channel& s, float x, int c, int i) {
            float delta = x - s.env;
            if (delta <= 0) delta *= envRel;
            s.env += delta;
            s.minOpen = minStep < s.minOpen ? s.minOpen - minStep : 0;
            const bool was = s.open;
            if (!was) s.closeHold = holdStep < s.closeHold ? s.closeHold - holdStep : 0;
            const float m = s.env - (was ? close : open);
            const bool now = s.minOpen > 0 || m > 0;
            s.open = now;
            bool on = true;
            if (was || (s.minOpen <= 0 && m <= 0))
                on = s.closeHold > 0 ? true : now;
            else
                s.minOpen = 1, s.closeHold = 1;
            if (v[3] > 0.5f) on = !on;
            s.gain += ((on ? 2.0f : v[7] * v[7]) - s.gain) * (on ? atk : rel);
            s.gain = std::min(s.gain, 1.0f);
            const float y = in[c][i] * s.gain * makeup;
            out[c][i] = replacing ? y : out[c][i] + y;
        };
        const float* d[2];
        detectors(in, v[9] > 0.5f, d);
        if (v[10] > 0.5f) {
            for (int i = 0; i < n; ++i)
                step(ch[0], magnitude(d, i), 0, i), step(ch[1], magnitude(d, i), 1, i);
        } else {
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < n; ++i)
                    step(ch[c], std::fabs(d[c][i]), c, i);
        }
    }
};

struct FollowerModel : ModelBase<10> {
    float level[2] = {}, holdCount[2] = {}, peak[2] = {}, maxLevel[2] = {}, highpass[2] = {};
    float s0[2] = {}, s1[2] = {}, g = 0, gStep = 0, gTarget = 0, lastCutoff = -1, damping = 0,
          lastResonance = -1;
    float satAmount = 0, asymAmount = 0;
    bool saturate = false;

    explicit FollowerModel(float rate) : ModelBase{{0, 0.8f, 0.2f, 0.5f, 0.5f, 0.5f, 1, 1, 1, 0}, rate} {}
    // Cutoff and Depth span -1..1, Scale 0..2.
    static float natural(int i, float x) { return i == 0 || i == 6 ? -1 + 2 * x : i == 8 ? 2 * x : x; }

    void updateFilter(float cutoff) {
        g = gTarget;
        if (cutoff != lastCutoff) {
            const float lowest = 2 * (440.0f * std::pow(1.0594631f, -69.0f));
            float fc = std::min(OctaveTable::lookup(10.666667f * cutoff * 128 + 1) * lowest, 0.4875f * fs);
            fc = std::max(fc, lowest);
            gTarget = std::atan(fc / fs * 1.155f) * 2.72f;
            lastCutoff = cutoff;
        }
        gStep = (gTarget - g) * 0.0625f;
        saturate = v[2] > 0;
        const float w = 1 - 2 * std::min(gTarget, 0.5f);
        asymAmount = 0, satAmount = v[2] * w;
        if (v[1] != lastResonance || gStep != 0) {
            const float a = 1 - (1 - g * 0.25f) * g, b = 1 - (1 - gTarget * 0.25f) * gTarget;
            damping = std::min(std::min(a, b), (v[1] / (std::fabs(v[1]) + 0.2f)) * -1.2f + 1) * 3;
            lastResonance = v[1];
        }
    }

    void run(const float* const* in, float* const* out, int n, bool replacing) {
        const float ta = sq(v[3]) * 0.499f + 0.001f, th = sq(v[4]) * ta, tr = sq(v[5]) * 4.99f + 0.01f;
        const float atk = 1 - std::pow(0.01f, 1 / (ta * fs)), rel = 1 - std::pow(0.01f, 1 / (tr * fs));
        const float holdStep = th > 0 ? 1 / (fs * th) : 1;
        const float scale = static_cast<float>(1 << static_cast<int>(v[8])) * (v[7] > 0 ? 2.0f : 1.0f);
        const float w = (3.14159274f * 1000) / fs, kg = ((0.2033f * (w * w) + 0.31755f) * (w * w) + 1) * w;
        const float ka = 1 / (kg + 1), kb = 1 - ka * kg;
        const float* d[2];
        detectors(in, v[9] > 0, d);
        for (int start = 0; start < n; start += 16) {
            const int m = std::min(16, n - start);
            for (int c = 0; c < 2; ++c)
                for (int i = start; i < start + m; ++i) {
                    float x = d[c][i];
                    if (v[7] > 0) {
                        const float h = kb * x - ka * highpass[c], lp = (x * kg + highpass[c]) * ka;
                        highpass[c] = (x - lp) * kg + lp;
                        x = h;
                    }
                    const float a = std::fabs(x);
                    if (a > level[c]) {
                        level[c] += (a - level[c]) * atk;
                        peak[c] = std::max(peak[c], a);
                        holdCount[c] = 1;
                    } else if (holdCount[c] >= holdStep) {
                        level[c] += (peak[c] - level[c]) * atk;
                        holdCount[c] -= holdStep;
                    } else {
                        level[c] += (a - level[c]) * rel;
                        peak[c] = 0;
                    }
                    maxLevel[c] = std::max(maxLevel[c], level[c]);
                    if (level[c] < 1e-10f) level[c] = 0;
                }
            float loudest = 0;
            if (maxLevel[0] > 0) loudest = maxLevel[0], maxLevel[0] = 0;
            if (maxLevel[1] > loudest) loudest = maxLevel[1], maxLevel[1] = 0;
            updateFilter(std::max(std::min(v[0] + ((v[6] * loudest) * scale), 1.0f), 0.0f));
            const float g0 = g;
            for (int c = 0; c < 2; ++c) {
                g = g0;
                for (int i = start; i < start + m; ++i, g += gStep) {
                    for (int half = 0; half < 2; ++half) {
                        s1[c] = std::clamp(s1[c] + (in[c][i] - ((damping * s1[c]) + s0[c])) * g, -1.0f, 1.0f);
                        const float u = s1[c];
                        const float shaped = saturate ? (std::fabs(u) * satAmount + (1 - satAmount)) *
                                                            (u + (u > 0 ? asymAmount * u : 0.0f))
                                                      : u;
                        s0[c] = s0[c] + g * shaped;
                    }
                    out[c][i] = replacing ? s0[c] : out[c][i] + s0[c];
                }
            }
        }
    }
};

struct Case {
    float rate;
    std::vector<std::pair<int, float>> settings; // normalised, as the host sends them
    bool nullSideChain;
    std::pair<int, float> change; // before the fourth block
};

// Noise whose level jumps between silence, -50 dBFS and +8 dBFS every 1000
// frames or so, each channel on its own.
std::vector<float> bursts(std::minstd_rand& rng, int n, float& level) {
    static const float levels[] = {0.0f, 0.003f, 0.05f, 0.2f, 0.5f, 1.0f, 2.5f};
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<float> x(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        if (rng() % 1000 == 0) level = levels[rng() % 7];
        x[static_cast<std::size_t>(i)] = level * unit(rng);
    }
    return x;
}

template <class Model> void expectModelAudio(const char* effect, const std::vector<Case>& cases) {
    for (std::size_t n = 0; n < cases.size(); ++n) {
        const Case& cs = cases[n];
        const std::string what = std::string(effect) + " case " + std::to_string(n);
        TestHost host(effect);
        ASSERT_TRUE(host.loaded());
        AEffect* fx = host.effect();
        ASSERT_EQ(fx->numInputs, 4);
        Model model(cs.rate);
        for (auto [i, x] : cs.settings)
            host.setParam(i, x), model.set(i, Model::natural(i, x));
        host.start(cs.rate);
        std::minstd_rand rng(static_cast<unsigned>(n) + 7);
        float level[4] = {1.0f, 0.05f, 0.5f, 0.0f};
        const int sizes[] = {1, 333, 512, 64, 100, 7, 700, 2048, 8192, 3001};
        for (int b = 0; b < 10; ++b) {
            if (b == 3) {
                host.setParam(cs.change.first, cs.change.second);
                model.set(cs.change.first, Model::natural(cs.change.first, cs.change.second));
            }
            const int frames = sizes[b];
            const bool replacing = b % 2 == 0;
            std::vector<float> in[4] = {bursts(rng, frames, level[0]), bursts(rng, frames, level[1]),
                                        bursts(rng, frames, level[2]), bursts(rng, frames, level[3])};
            std::vector<float> out[2] = {std::vector<float>(frames, 0.25f),
                                         std::vector<float>(frames, -0.5f)};
            std::vector<float> expected[2] = {out[0], out[1]};
            float* inputs[4] = {in[0].data(), in[1].data(), cs.nullSideChain ? nullptr : in[2].data(),
                                cs.nullSideChain ? nullptr : in[3].data()};
            float* outputs[2] = {out[0].data(), out[1].data()};
            float* modelOutputs[2] = {expected[0].data(), expected[1].data()};
            (replacing ? fx->processReplacing : fx->process)(fx, inputs, outputs, frames);
            {
                FlushToZeroScope flushToZero; // as the plug-in processes
                model.run(inputs, modelOutputs, frames, replacing);
            }
            ASSERT_EQ(fx->initialDelay, model.latency()) << what << ", block " << b;
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < frames; ++i)
                    if (std::memcmp(&out[c][i], &expected[c][i], sizeof(float)) != 0) {
                        FAIL() << what << ", block " << b << ", channel " << c << ", frame " << i << ": "
                               << out[c][i] << ", expected " << expected[c][i];
                    }
        }
    }
}

TEST(DynamicsAudio, LimiterMatchesItsModel) {
    // 0 Attack, 1 Hold, 2 Release, 3 Threshold, 4 Ratio, 5 Gain, 6 Lookahead,
    // 7 Side-chain, 8 Stereo-link, 9 LTC-comp.
    expectModelAudio<LimiterModel>(
        "Limiter", {{44100.0f, {{3, 0.7f}}, false, {0, 0.5f}},
                    {48000.0f, {{3, 0.6f}, {4, 0.7f}, {5, 0.2f}, {7, 1.0f}, {8, 0.0f}}, false, {9, 1.0f}},
                    {44100.0f, {{3, 0.8f}, {9, 1.0f}, {1, 0.0f}, {6, 0.5f}, {7, 1.0f}}, true, {3, 0.5f}},
                    {96000.0f, {{3, 0.5f}, {8, 0.0f}, {0, 0.0f}, {2, 0.1f}, {7, 1.0f}}, true, {6, 0.0f}},
                    {22050.0f, {{3, 0.9f}, {4, 0.0f}, {5, 1.0f}}, false, {4, 1.0f}}});
}

TEST(DynamicsAudio, CompressorMatchesItsModel) {
    // 0 Attack, 1 Release, 2 Threshold, 3 Mix, 4 Gain, 5 Mode, 6 Side-chain, 7 Stereo-link.
    expectModelAudio<CompressorModel>(
        "Compressor",
        {{44100.0f, {{2, 0.5f}}, false, {2, 0.2f}},
         {48000.0f, {{2, 0.3f}, {5, 1.0f}, {3, 0.7f}, {4, 0.3f}, {6, 1.0f}, {7, 1.0f}}, false, {2, 0.8f}},
         {44100.0f, {{5, 0.3f}, {6, 1.0f}, {0, 0.2f}, {1, 0.1f}}, true, {3, 0.4f}},
         {96000.0f, {{2, 0.0f}, {6, 1.0f}, {0, 0.1f}}, false, {5, 1.0f}}});
}

TEST(DynamicsAudio, GateMatchesItsModel) {
    // 0 Threshold, 1 Hysteresis, 2 Hold, 3 Invert, 4 Attack, 5 Hold, 6 Release,
    // 7 Floor, 8 Gain, 9 Side-chain, 10 Stereo-link.
    expectModelAudio<GateModel>(
        "Gate", {{44100.0f, {}, false, {0, 0.8f}},
                 {48000.0f,
                  {{10, 0.0f}, {9, 1.0f}, {3, 1.0f}, {7, 0.3f}, {8, 0.2f}, {4, 0.3f}, {5, 0.2f}},
                  false,
                  {1, 0.4f}},
                 {44100.0f, {{10, 0.0f}, {9, 1.0f}, {2, 0.3f}}, true, {10, 1.0f}},
                 {96000.0f, {{9, 1.0f}, {0, 0.4f}}, false, {3, 0.7f}}});
}

TEST(DynamicsAudio, FollowerMatchesItsModel) {
    // 0 Cutoff (-1..1), 1 Q, 2 Saturation, 3 Attack, 4 Hold, 5 Release,
    // 6 Depth (-1..1), 7 Keytrack, 8 Scale (0..2), 9 Side-chain. Scale 0, 1, 2
    // with and without Keytrack give depth scales 1, 2, 4, 8.
    expectModelAudio<FollowerModel>(
        "Follower",
        {{44100.0f, {}, false, {0, 0.75f}},
         {48000.0f, {{7, 0.0f}, {8, 1.0f}, {6, 0.25f}, {0, 0.9f}, {2, 0.0f}, {9, 1.0f}}, false, {1, 1.0f}},
         {44100.0f,
          {{9, 1.0f}, {3, 0.0f}, {4, 0.0f}, {5, 0.0f}, {8, 0.0f}, {2, 0.6f}, {6, 0.6f}},
          true,
          {1, 0.3f}},
         {96000.0f, {{8, 1.0f}, {0, 0.3f}, {3, 0.1f}, {5, 0.2f}}, false, {7, 0.0f}}});
}

// Texts that follow curves or switch points of their own.
TEST(DynamicsAudio, DisplayTexts) {
    const struct {
        const char* effect;
        std::vector<std::pair<int, float>> settings; // normalised
        int index;
        const char* text;
    } rows[] = {
        {"Limiter", {}, 0, "4.96 ms"},
        {"Limiter", {}, 1, "21.0 ms"},
        {"Limiter", {{2, 1.0f}}, 2, "1.00 s"},
        {"Limiter", {{3, 0.5f}}, 3, "-24.0 dB"},
        {"Limiter", {{5, 0.5f}}, 5, "+24.0 dB"},
        {"Compressor", {{5, 0.3f}}, 5, "B"},                 // processing switches above 0 ...
        {"Compressor", {{5, 0.3f}, {0, 1.0f}}, 0, "1.50 s"}, // ... the time texts above 0.5
        {"Compressor", {{5, 1.0f}, {1, 1.0f}}, 1, "1.50 s"},
        {"Gate", {}, 0, "-19.2 dB"},
        {"Gate", {}, 1, "-4.8 dB"},
        {"Gate", {}, 7, "-inf"},
        {"Gate", {{7, 0.5f}}, 7, "-30.0 dB"},
        {"Gate", {{3, 0.7f}}, 3, "On"},
        {"Gate", {{6, 1.0f}}, 6, "2.00 s"},
        {"Follower", {{4, 0.0f}}, 4, "Off"},
        {"Follower", {{8, 1.0f}}, 8, "x4"},
        {"Follower", {{0, 0.0f}}, 0, "-100%"},
        {"Follower", {}, 5, "1.26 s"},
    };
    for (const auto& row : rows) {
        TestHost host(row.effect);
        for (auto [i, x] : row.settings)
            host.setParam(i, x);
        EXPECT_EQ(host.paramDisplay(row.index), row.text) << row.effect << " " << row.index;
    }
}

} // namespace
} // namespace quor::test
