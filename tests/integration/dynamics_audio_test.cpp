// The Limiter, Compressor, Gate and Follower bit for bit against frame-by-frame
// models, linked and unlinked, with the side-chain on and off, and their texts.
#include "tests/support/effect_model.h"

namespace quor::test {
namespace {

// The detector reads the side-chain when it is switched on and handed over.
struct Dynamics : model::Effect {
    float fs;
    const float* d[2];
    Dynamics(float rate, std::vector<float> defaults) : fs(rate) {
        values = std::move(defaults);
        inputs = 4;
    }
    static float sq(float x) { return x * x; }
    static float pow4(float x) { return sq(x) * sq(x); }
    static int rounded(float x) { return static_cast<int>(std::floor(x + 0.5f)); }
    static float magnitude(const float* const* d, int i) {
        return std::max(std::fabs(d[0][i]), std::fabs(d[1][i]));
    }
    void detectors(const float* const* in, bool sideChain) {
        for (int c = 0; c < 2; ++c)
            d[c] = sideChain && in[c + 2] ? in[c + 2] : in[c];
    }
};

struct LimiterModel : Dynamics {
    int length;
    struct Channel {
        float env = 0, gain = 1, window = 0, windowMin = 0, hold = 0;
        std::vector<float> line[2]; // look-ahead, compensation
        int pos[2] = {};
    } ch[2];

    explicit LimiterModel(float rate)
        : Dynamics(rate, {0.2f, 0.2f, 0.5f, 1, 1, 0, 1, 0, 1, 0}), length(rounded(0.1f * rate) + 1) {
        for (Channel& c : ch)
            c.line[0].assign(length, 0.0f), c.line[1].assign(length, 0.0f);
    }
    float push(Channel& c, int k, float x, int delay) {
        c.pos[k] = c.pos[k] + 1 == length ? 0 : c.pos[k] + 1;
        c.line[k][c.pos[k]] = x;
        const int r = c.pos[k] - delay;
        return c.line[k][r < 0 ? r + length : r];
    }
    void process(const float* const* in, float* const* out, int n, bool replacing) override {
        const std::vector<float>& v = values;
        const float K = 0.0009999871253967285f, hold = sq(v[1]) * 0.5f, attack = pow4(v[0]) * 0.099f + 0.001f;
        const float atk = 1 - std::pow(K, 1 / (attack * fs)),
                    rel = 1 - std::pow(K, 1 / ((pow4(v[2]) * 0.99f + 0.01f) * fs));
        const float holdStep = hold > 0.00001f ? 1 / (hold * fs) : 1,
                    det = 1 - std::pow(0.5f, 1 / (0.05f * fs));
        const float thr = std::pow(10.0f, (1 - v[3]) * -48 / 20), makeup = std::pow(10.0f, v[5] * 48 / 20);
        const int L = rounded(attack * fs * v[6]), comp = v[9] > 0.0f ? rounded(0.1f * fs) - L : 0;
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
        detectors(in, v[7] > 0.5f);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
                if (v[8] <= 0.5f)
                    gainStep(ch[c], std::fabs(d[c][i])), output(c, i);
                else if (c == 0)
                    gainStep(ch[0], magnitude(d, i)), ch[1].gain = ch[0].gain, output(0, i), output(1, i);
    }
};

struct CompressorModel : Dynamics {
    model::GlideClock clock;
    model::Glide k;
    float g[2] = {1, 1};

    explicit CompressorModel(float rate) : Dynamics(rate, {0, 0.5f, 1, 1, 0, 0, 0, 0}), clock(0.2f, rate) {
        changed(2);
    }
    void changed(int) override {
        const float thr = std::pow(10.0f, ((values[2] * -0.999f) + 1) * -48 / 20);
        clock.set(k, -1 / ((1 - 1 / ((1 - thr) + 1e-10f)) + 1e-10f));
    }
    void process(const float* const* in, float* const* out, int n, bool replacing) override {
        const std::vector<float>& v = values;
        const bool b = v[5] > 0;
        const float pa = v[0] * v[0] * v[0], pr = v[1] * v[1] * v[1];
        const float ta = b ? 0.4999f * pa + 0.0001f : 1.499f * pa + 0.001f;
        const float tr = b ? 1.4975f * pr + 0.0025f : 2.995f * pr + 0.005f;
        const float atk = 1 - std::pow(0.01f, 1 / (ta * fs)), rel = 1 - std::pow(0.01f, 1 / (tr * fs));
        const float makeup = std::pow(10.0f, v[4] * 48 / 20), wet = v[3], dry = 1 - v[3];
        const auto gainStep = [&](float& gain, float x) {
            const float t = 1 - (x * gain) * k.value, e = (std::fabs(t) + t) * 0.5f - gain;
            gain += (b ? gain * e : e) * (e < 0 ? atk : rel);
        };
        const auto output = [&](int c, int i, float gain) {
            const float y = ((in[c][i] * wet) * gain) * makeup + dry * in[c][i];
            out[c][i] = replacing ? y : out[c][i] + y;
        };
        detectors(in, v[6] > 0);
        const bool linked = v[7] > 0;
        const model::Glide k0 = k; // an unlinked channel replays the block's glide
        for (int c = 0; c < (linked ? 1 : 2); ++c) {
            k = k0;
            for (int i = 0; i < n; ++i) {
                gainStep(g[c], linked ? magnitude(d, i) : std::fabs(d[c][i]));
                output(c, i, g[c]);
                if (linked) output(1, i, g[0]);
                clock.live = true;
                clock.step(k);
            }
        }
        if (linked) g[1] = g[0];
    }
};

struct GateModel : Dynamics {
    struct Channel {
        float env = 0, minOpen = 0, closeHold = 0, gain = 0;
        bool open = false;
    } ch[2];

    explicit GateModel(float rate) : Dynamics(rate, {0.6f, 0.1f, 0.1f, 0, 0, 0, 0.2f, 0, 0, 0, 1}) {}

    void process(const float* const* in, float* const* out, int n, bool replacing) override {
        const std::vector<float>& v = values;
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
        detectors(in, v[9] > 0.5f);
        const bool linked = v[10] > 0.5f;
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
                if (!linked)
                    step(ch[c], std::fabs(d[c][i]), c, i);
                else if (c == 0)
                    step(ch[0], magnitude(d, i), 0, i), step(ch[1], magnitude(d, i), 1, i);
    }
};

struct FollowerModel : Dynamics {
    float level[2] = {}, holdCount[2] = {}, peak[2] = {}, maxLevel[2] = {}, highpass[2] = {};
    float s0[2] = {}, s1[2] = {}, g = 0, gStep = 0, gTarget = 0, lastCutoff = -1, damping = 0,
          lastResonance = -1;

    explicit FollowerModel(float rate) : Dynamics(rate, {0, 0.8f, 0.2f, 0.5f, 0.5f, 0.5f, 1, 1, 1, 0}) {
        lows = {-1, 0, 0, 0, 0, 0, -1}; // Cutoff and Depth span -1..1, Scale 0..2
        highs = {1, 1, 1, 1, 1, 1, 1, 1, 2, 1};
    }
    void updateFilter(float cutoff) {
        g = gTarget;
        if (cutoff != lastCutoff) {
            const float lowest = 2 * (440.0f * std::pow(1.0594631f, -69.0f));
            float fc = std::min(model::octave(10.666667f * cutoff * 128 + 1) * lowest, 0.4875f * fs);
            gTarget = std::atan(std::max(fc, lowest) / fs * 1.155f) * 2.72f;
            lastCutoff = cutoff;
        }
        gStep = (gTarget - g) * 0.0625f;
        if (values[1] != lastResonance || gStep != 0) {
            const float a = 1 - (1 - g * 0.25f) * g, b = 1 - (1 - gTarget * 0.25f) * gTarget;
            damping = std::min(std::min(a, b), (values[1] / (std::fabs(values[1]) + 0.2f)) * -1.2f + 1) * 3;
            lastResonance = values[1];
        }
    }
    void process(const float* const* in, float* const* out, int n, bool replacing) override {
        const std::vector<float>& v = values;
        const float ta = sq(v[3]) * 0.499f + 0.001f, th = sq(v[4]) * ta, tr = sq(v[5]) * 4.99f + 0.01f;
        const float atk = 1 - std::pow(0.01f, 1 / (ta * fs)), rel = 1 - std::pow(0.01f, 1 / (tr * fs));
        const float holdStep = th > 0 ? 1 / (fs * th) : 1;
        const float scale = static_cast<float>(1 << static_cast<int>(v[8])) * (v[7] > 0 ? 2.0f : 1.0f);
        const float w = (3.14159274f * 1000) / fs, kg = model::tangentPolynomial(w);
        const float ka = 1 / (kg + 1), kb = 1 - ka * kg;
        detectors(in, v[9] > 0);
        for (int start = 0; start < n; start += 16) {
            const int m = std::min(16, n - start);
            for (int c = 0; c < 2; ++c)
                for (int i = start; i < start + m; ++i) {
                    float x = d[c][i];
                    if (v[7] > 0) { // keytracking hears the detector through a 1 kHz high-pass
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
            const float sat = v[2] * (1 - 2 * std::min(gTarget, 0.5f)), g0 = g;
            for (int c = 0; c < 2; ++c) {
                g = g0;
                for (int i = start; i < start + m; ++i, g += gStep) {
                    for (int half = 0; half < 2; ++half) {
                        s1[c] = std::clamp(s1[c] + (in[c][i] - ((damping * s1[c]) + s0[c])) * g, -1.0f, 1.0f);
                        const float u = s1[c];
                        s0[c] = s0[c] + g * (v[2] > 0 ? (std::fabs(u) * sat + (1 - sat)) * (u + 0.0f) : u);
                    }
                    out[c][i] = replacing ? s0[c] : out[c][i] + s0[c];
                }
            }
        }
    }
};

TEST(DynamicsAudio, LimiterMatchesItsModel) {
    // 0 Attack, 1 Hold, 2 Release, 3 Threshold, 4 Ratio, 5 Gain, 6 Lookahead,
    // 7 Side-chain, 8 Stereo-link, 9 LTC-comp.
    const std::vector<model::Settings> cases = {{{3, 0.7f}},
                                                {{3, 0.6f}, {4, 0.7f}, {5, 0.2f}, {7, 1.0f}, {8, 0.0f}},
                                                {{3, 0.8f}, {9, 1.0f}, {1, 0.0f}, {6, 0.5f}, {7, 1.0f}},
                                                {{3, 0.5f}, {8, 0.0f}, {0, 0.0f}, {2, 0.1f}, {7, 1.0f}}};
    model::expectSameAudio<LimiterModel>("Limiter", {44100.0f, 96000.0f}, cases,
                                         {{3, 0, 0.5f}, {5, 9, 1.0f}, {6, 6, 0.0f}, {8, 4, 0.3f}});
}

TEST(DynamicsAudio, CompressorMatchesItsModel) {
    // 0 Attack, 1 Release, 2 Threshold, 3 Mix, 4 Gain, 5 Mode, 6 Side-chain, 7 Stereo-link.
    const std::vector<model::Settings> cases = {
        {{2, 0.5f}},
        {{2, 0.3f}, {5, 1.0f}, {3, 0.7f}, {4, 0.3f}, {6, 1.0f}, {7, 1.0f}},
        {{5, 0.3f}, {6, 1.0f}, {0, 0.2f}, {1, 0.1f}}};
    model::expectSameAudio<CompressorModel>("Compressor", {44100.0f, 96000.0f}, cases,
                                            {{3, 2, 0.2f}, {5, 3, 0.4f}, {6, 2, 0.8f}, {8, 5, 1.0f}});
}

TEST(DynamicsAudio, GateMatchesItsModel) {
    // 0 Threshold, 1 Hysteresis, 2 Hold, 3 Invert, 4 Attack, 5 Hold, 6 Release,
    // 7 Floor, 8 Gain, 9 Side-chain, 10 Stereo-link.
    const std::vector<model::Settings> cases = {
        {},
        {{10, 0.0f}, {9, 1.0f}, {3, 1.0f}, {7, 0.3f}, {8, 0.2f}, {4, 0.3f}, {5, 0.2f}},
        {{9, 1.0f}, {2, 0.3f}}};
    model::expectSameAudio<GateModel>("Gate", {44100.0f, 96000.0f}, cases,
                                      {{3, 0, 0.8f}, {5, 1, 0.4f}, {6, 10, 0.0f}, {8, 3, 0.7f}});
}

TEST(DynamicsAudio, FollowerMatchesItsModel) {
    // 0 Cutoff, 1 Q, 2 Saturation, 3 Attack, 4 Hold, 5 Release, 6 Depth,
    // 7 Keytrack, 8 Scale, 9 Side-chain: depth scales 1, 2, 4, 8.
    const std::vector<model::Settings> cases = {
        {},
        {{7, 0.0f}, {8, 1.0f}, {6, 0.25f}, {0, 0.9f}, {2, 0.0f}, {9, 1.0f}},
        {{9, 1.0f}, {3, 0.0f}, {4, 0.0f}, {5, 0.0f}, {8, 0.0f}, {2, 0.6f}, {6, 0.6f}}};
    model::expectSameAudio<FollowerModel>("Follower", {44100.0f, 96000.0f}, cases,
                                          {{3, 0, 0.75f}, {5, 1, 1.0f}, {6, 7, 0.0f}, {8, 1, 0.3f}});
}

// Texts that follow curves or switch points of their own.
TEST(DynamicsAudio, Texts) {
    const std::vector<model::TextRow> limiter = {{0, 0.2f, "4.96 ms"},
                                                 {1, 0.2f, "21.0 ms"},
                                                 {2, 1.0f, "1.00 s"},
                                                 {3, 0.5f, "-24.0 dB"},
                                                 {5, 0.5f, "+24.0 dB"}};
    // The Compressor's processing switches above 0, its time texts above 0.5.
    const std::vector<model::TextRow> compressor = {
        {5, 0.3f, "B"}, {0, 1.0f, "1.50 s"}, {5, 1.0f, "B"}, {1, 1.0f, "1.50 s"}};
    const std::vector<model::TextRow> gate = {{0, 0.6f, "-19.2 dB"}, {1, 0.1f, "-4.8 dB"},
                                              {7, 0.0f, "-inf"},     {7, 0.5f, "-30.0 dB"},
                                              {3, 0.7f, "On"},       {6, 1.0f, "2.00 s"}};
    model::expectTexts("Limiter", limiter);
    model::expectTexts("Compressor", compressor);
    model::expectTexts("Gate", gate);
    model::expectTexts("Follower",
                       {{4, 0.0f, "Off"}, {8, 1.0f, "x4"}, {0, 0.0f, "-100%"}, {5, 0.5f, "1.26 s"}});
}

} // namespace
} // namespace quor::test
