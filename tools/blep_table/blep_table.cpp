// Writes the band-limited step table of the Quantizer, dsp/blep_table_data.inc:
// 264 floats, the residual (1 minus the step) of a minimum-phase band-limited
// step at 16 entries per output sample over 16 samples, then 8 guard entries
// repeating the last one.
//
// Regenerate (needs Debian's libfftw3-dev and libeigen3-dev):
//   cmake --build build --target blep_table_generator
//   build/tools/blep_table/blep_table_generator > dsp/blep_table_data.inc
//
// The construction:
// 1. A windowed sinc of 2 x 8 zero crossings at 16-fold oversampling (257
//    taps), cut-off c x the output Nyquist frequency, under a generalised
//    Blackman window (a0, a1, a2) = ((1 - a) / 2, 1 / 2, a / 2).
// 2. Its minimum-phase version by the real cepstrum (4096-point FFT): the
//    log magnitude's cepstrum folded onto positive quefrencies and
//    exponentiated back.
// 3. Integrated and normalised to end at 1; the residual is 1 minus the step.
// 4. c and a are searched for the least-squares fit to the table's telling
//    entries. The best windowed sinc still lands about 1e-2 from some of
//    them, so
// 5. the residual is adjusted by the correction with the least energy of its
//    derivative above 0.55 of the output rate (so that it adds nothing the
//    band-limited step did not already pass) and the least curvature, that
//    meets the telling entries exactly and keeps the shape: the monotonic
//    fall to the deepest undershoot at entry 57, 0.5 crossed between entries
//    36 and 37, the highest later overshoot at entry 77, and the sign
//    changes. Shape constraints are added one by one where the correction
//    would break them. The correction stays below 0.02.
#include <Eigen/Dense>
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <vector>

namespace {

constexpr int kZeroCrossings = 8;
constexpr int kOversampling = 16;
constexpr int kTaps = 2 * kZeroCrossings * kOversampling + 1; // 257: entries 0..256, the step ends at 256
constexpr int kStored = 256;
constexpr int kGuard = 8;
constexpr int kFft = 4096;

struct Telling {
    int entry;
    double value;
};
const Telling kTelling[] = {{0, 0.999968},    {16, 0.983009},  {32, 0.700782}, {40, 0.347502},
                            {48, -0.018451},  {57, -0.188391}, {77, 0.099522}, {128, -0.022110},
                            {192, -0.001608}, {255, -2.9e-8}};
const int kSignChanges[] = {48, 69, 88, 106, 123, 140, 157, 173, 190, 206, 223, 239, 255};
constexpr int kDeepest = 57;
constexpr int kHighestLater = 77;

using Complex = std::complex<double>;

void transform(std::vector<Complex>& a, int sign) {
    auto* data = reinterpret_cast<fftw_complex*>(a.data());
    fftw_plan plan = fftw_plan_dft_1d(static_cast<int>(a.size()), data, data, sign, FFTW_ESTIMATE);
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    if (sign == FFTW_BACKWARD)
        for (Complex& x : a)
            x /= static_cast<double>(a.size());
}

// Steps 1 to 3.
std::vector<double> windowedSincResidual(double cutoff, double alpha) {
    std::vector<Complex> a(kFft);
    for (int i = 0; i < kTaps; ++i) {
        const double r = static_cast<double>(i) / (kTaps - 1);
        const double x = (2.0 * r - 1.0) * kZeroCrossings;
        const double sinc = x == 0.0 ? 1.0 : std::sin(M_PI * cutoff * x) / (M_PI * cutoff * x);
        const double window =
            (1.0 - alpha) / 2.0 - 0.5 * std::cos(2.0 * M_PI * r) + alpha / 2.0 * std::cos(4.0 * M_PI * r);
        a[i] = sinc * window;
    }
    transform(a, FFTW_FORWARD);
    const double floor = std::abs(a[0]) * 1e-12; // keeps the logarithm of stopband nulls finite
    for (Complex& x : a)
        x = std::log(std::abs(x) + floor);
    transform(a, FFTW_BACKWARD); // the real cepstrum
    std::vector<Complex> folded(kFft);
    folded[0] = a[0];
    for (int k = 1; k < kFft / 2; ++k)
        folded[k] = 2.0 * a[k];
    folded[kFft / 2] = a[kFft / 2];
    transform(folded, FFTW_FORWARD);
    for (Complex& x : folded)
        x = std::exp(x);
    transform(folded, FFTW_BACKWARD); // the minimum-phase impulse response
    std::vector<double> step(kTaps);
    double sum = 0.0;
    for (int i = 0; i < kTaps; ++i)
        step[i] = sum += folded[i].real();
    std::vector<double> residual(kTaps);
    for (int i = 0; i < kTaps; ++i)
        residual[i] = 1.0 - step[i] / sum;
    return residual;
}

double tellingError(const std::vector<double>& residual) {
    double e = 0.0;
    for (const Telling& t : kTelling)
        e += (residual[t.entry] - t.value) * (residual[t.entry] - t.value);
    return e;
}

// Step 4: a coarse grid, then finer grids around the best point.
std::vector<double> searchWindowedSinc(double& cutoff, double& alpha) {
    double bestError = INFINITY, c0 = 0.925, a0 = 0.1, span = 0.1;
    for (int round = 0; round < 4; ++round, span /= 5.0) {
        const double cs = c0, as = a0;
        for (int i = -10; i <= 10; ++i)
            for (int j = -10; j <= 10; ++j) {
                const double c = cs + span * i / 10.0, a = as + 2.0 * span * j / 10.0;
                const double e = tellingError(windowedSincResidual(c, a));
                if (e < bestError) {
                    bestError = e;
                    c0 = c;
                    a0 = a;
                }
            }
    }
    cutoff = c0;
    alpha = a0;
    return windowedSincResidual(c0, a0);
}

struct Constraint {
    int entry;
    int other; // -1, or an entry whose value is subtracted
    double value;
};

// Step 5. Minimises the stopband energy of the correction's derivative (plus
// a small ridge) subject to linear equalities A x = b: x = Q^-1 A' (A Q^-1 A')^-1 b.
class Correction {
  public:
    Correction() {
        const int n = kTaps;
        Eigen::MatrixXd derivative = Eigen::MatrixXd::Identity(n, n);
        for (int i = 1; i < n; ++i)
            derivative(i, i - 1) = -1.0;
        std::vector<Eigen::RowVectorXd> rows;
        const int bins = 8 * kTaps;
        for (int k = 0; k < bins; ++k) {
            const double cyclesPerEntry = 0.5 * k / bins;
            if (cyclesPerEntry * kOversampling < kStopbandPerOutputRate) continue;
            Eigen::RowVectorXd c(n), s(n);
            for (int i = 0; i < n; ++i) {
                c(i) = std::cos(2.0 * M_PI * cyclesPerEntry * i);
                s(i) = std::sin(2.0 * M_PI * cyclesPerEntry * i);
            }
            rows.push_back(c);
            rows.push_back(s);
        }
        Eigen::MatrixXd stopband(static_cast<int>(rows.size()), n);
        for (int r = 0; r < stopband.rows(); ++r)
            stopband.row(r) = rows[r];
        const Eigen::MatrixXd h = stopband * derivative;
        const Eigen::MatrixXd curvature = derivative * derivative;
        const Eigen::MatrixXd q = h.transpose() * h + kSmoothness * curvature.transpose() * curvature +
                                  1e-9 * Eigen::MatrixXd::Identity(n, n);
        inverse = q.llt().solve(Eigen::MatrixXd::Identity(n, n));
    }

    std::vector<double> apply(const std::vector<double>& base,
                              const std::vector<Constraint>& constraints) const {
        const int n = kTaps, m = static_cast<int>(constraints.size());
        Eigen::MatrixXd a = Eigen::MatrixXd::Zero(m, n);
        Eigen::VectorXd b(m);
        for (int c = 0; c < m; ++c) {
            const Constraint& k = constraints[c];
            a(c, k.entry) = 1.0;
            b(c) = k.value - base[k.entry];
            if (k.other >= 0) {
                a(c, k.other) = -1.0;
                b(c) += base[k.other];
            }
        }
        const Eigen::MatrixXd qa = inverse * a.transpose();
        const Eigen::VectorXd x = qa * (a * qa).fullPivLu().solve(b);
        std::vector<double> out(n);
        for (int i = 0; i < n; ++i)
            out[i] = base[i] + x(i);
        return out;
    }

  private:
    static constexpr double kStopbandPerOutputRate = 0.55;
    // Weight of the correction's curvature: spreads it smoothly over the
    // table instead of bending the step near the fixed entries.
    static constexpr double kSmoothness = 100.0;
    Eigen::MatrixXd inverse;
};

int signOfSegment(int entry) {
    int s = 1;
    for (int c : kSignChanges)
        if (entry >= c) s = -s;
    return s;
}

// The most violated shape condition, as a constraint that holds it with
// twice its margin, or false when the shape is met.
bool worstViolation(const std::vector<double>& t, Constraint& out) {
    double worst = 0.0;
    // A condition "t[entry] - t[other] >= margin" (other < 0: t[other] taken as 0).
    auto atLeast = [&](int entry, int other, double margin) {
        const double violation = margin - (t[entry] - (other >= 0 ? t[other] : 0.0));
        if (violation > worst) {
            worst = violation;
            out = {entry, other, 2.0 * margin};
        }
    };
    auto atMost = [&](int entry, int other, double margin) { // t[entry] - t[other] <= -margin
        const double violation = (t[entry] - (other >= 0 ? t[other] : 0.0)) + margin;
        if (violation > worst) {
            worst = violation;
            out = {entry, other, -2.0 * margin};
        }
    };
    for (int i = 1; i < kStored; ++i) { // the signs; the tail rings at about 1e-8
        if (signOfSegment(i) > 0)
            atLeast(i, -1, 1e-10);
        else
            atMost(i, -1, 1e-10);
    }
    for (int i = 1; i <= kDeepest; ++i) // the fall
        atMost(i, i - 1, 1e-7);
    for (int i = 0; i < kStored; ++i) {
        if (i != kDeepest) atLeast(i, kDeepest, 1e-7);
        if (i > kDeepest && i != kHighestLater) atMost(i, kHighestLater, 1e-7);
    }
    if (t[36] <= 0.5 || t[37] >= 0.5) {
        out = t[36] <= 0.5 ? Constraint{36, -1, 0.5 + 1e-6} : Constraint{37, -1, 0.5 - 1e-6};
        return true;
    }
    return worst > 0.0;
}

} // namespace

int main() {
    double cutoff = 0.0, alpha = 0.0;
    const std::vector<double> base = searchWindowedSinc(cutoff, alpha);
    std::vector<Constraint> constraints;
    for (const Telling& t : kTelling)
        constraints.push_back({t.entry, -1, t.value});
    constraints.push_back({kTaps - 1, -1, 0.0}); // the step still ends at 1
    const Correction correction;
    std::vector<double> table = correction.apply(base, constraints);
    for (Constraint c; worstViolation(table, c) && constraints.size() < 400;) {
        constraints.push_back(c);
        table = correction.apply(base, constraints);
    }
    double largest = 0.0;
    for (int i = 0; i < kTaps; ++i)
        largest = std::max(largest, std::fabs(table[i] - base[i]));
    std::printf("// Generated by tools/blep_table: windowed sinc with cut-off %.6f x Nyquist and window\n"
                "// alpha %.6f, minimum phase, integrated; corrected by at most %.4f (%zu constraints).\n",
                cutoff, alpha, largest, constraints.size());
    for (int i = 0; i < kStored + kGuard; ++i) {
        const float v = static_cast<float>(table[std::min(i, kStored - 1)]);
        std::printf("%.9gf,%s", static_cast<double>(v), i % 6 == 5 ? "\n" : " ");
    }
    std::printf("\n");
    return 0;
}
