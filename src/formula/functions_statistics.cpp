// Window statistics: STD, STDP, VAR, VARP, DEVSQ and AVEDEV over the N bars ending at each bar,
// and the linear-regression forecast FORCAST.
//
// Running sums are kept in double and taken relative to the first finite value of the range:
// variance does not change under a shift, and a flat series then sums exact zeros, so its
// deviation is exactly 0 rather than the residue of a cancellation. A window holding a NaN or an
// infinity gives NaN (the deviation of an infinite value is undefined) and later windows recover.
#include <cmath>
#include <limits>
#include <vector>

#include "formula/functions_internal.h"

namespace tessaro::fn {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The first finite value of p[from, to), or 0: the shift of the running sums.
double ShiftOf(const float* p, int32_t from, int32_t to) {
    for (int32_t i = from; i < to; ++i)
        if (std::isfinite(p[i])) return p[i];
    return 0.0;
}

// STD, STDP, VAR, VARP and DEVSQ from the window sums S1 = sum(x) and S2 = sum(x*x):
// N*S2 - S1^2 is N times the sum of squared deviations.
enum class Statistic { kStd, kStdp, kVar, kVarp, kDevsq };

template <Statistic kWhich>
inline float FromSums(double n, double s1, double s2, double scale) {
    double r = (n * s2 - s1 * s1) * scale;
    if constexpr (kWhich == Statistic::kStd || kWhich == Statistic::kStdp) r = std::sqrt(std::max(0.0, r));
    if constexpr (kWhich == Statistic::kDevsq) r = std::max(0.0, r);
    return static_cast<float>(r);
}

template <Statistic kWhich>
void WindowStatisticLoop(const float* p, int32_t begin, int32_t first, int32_t count, int32_t len, float* o) {
    const double shift = ShiftOf(p, begin, count);
    const double n = len;
    const double scale = kWhich == Statistic::kStd || kWhich == Statistic::kVar ? 1.0 / (n * (n - 1))
                         : kWhich == Statistic::kDevsq                          ? 1.0 / n
                                                                                : 1.0 / (n * n);
    double s1 = 0, s2 = 0;
    int32_t i = begin;
    if (AllFinite(p, begin, count)) {
        for (; i < first; ++i) {
            double v = p[i] - shift;
            s1 += v;
            s2 += v * v;
        }
        for (; i < count; ++i) {
            double v = p[i] - shift;
            s1 += v;
            s2 += v * v;
            o[i] = FromSums<kWhich>(n, s1, s2, scale);
            double old = p[i - len + 1] - shift;
            s1 -= old;
            s2 -= old * old;
        }
        return;
    }
    NonFiniteCount bad;
    auto add = [&](float x, int32_t delta) {
        if (!std::isfinite(x)) {
            bad.Track(x, delta);
            return;
        }
        double v = x - shift;
        s1 += delta * v;
        s2 += delta * v * v;
    };
    for (; i < first; ++i) add(p[i], 1);
    for (; i < count; ++i) {
        add(p[i], 1);
        o[i] = bad.any() ? kNaN : FromSums<kWhich>(n, s1, s2, scale);
        add(p[i - len + 1], -1);
    }
}

bool WindowStatistic(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    Window w;
    if (!StartWindow(ctx, args, 2, w, out)) return true;
    const Operand& x = w.x;
    const int32_t len = w.len;
    float* o = out.data();
    switch (id) {
        case kFnStd: WindowStatisticLoop<Statistic::kStd>(x.p, x.begin, out.begin, x.count, len, o); break;
        case kFnStdp: WindowStatisticLoop<Statistic::kStdp>(x.p, x.begin, out.begin, x.count, len, o); break;
        case kFnVar: WindowStatisticLoop<Statistic::kVar>(x.p, x.begin, out.begin, x.count, len, o); break;
        case kFnVarp: WindowStatisticLoop<Statistic::kVarp>(x.p, x.begin, out.begin, x.count, len, o); break;
        default: WindowStatisticLoop<Statistic::kDevsq>(x.p, x.begin, out.begin, x.count, len, o); break;
    }
    return true;
}

// ---- AVEDEV ------------------------------------------------------------------------------

// The mean absolute deviation has no running form. Short windows are summed again per bar; long
// ones keep the window's values in two Fenwick trees over the ranks of the whole range (count and
// sum), so that sum|x - m| = m*c - S_below + (S - S_below) - m*(N - c) costs O(log n) per bar.
constexpr int32_t kDirectAveDevWindow = 48;

void AveDevDirect(const float* p, int32_t first, int32_t count, int32_t len, float* o) {
    for (int32_t i = first; i < count; ++i) {
        double sum = 0;
        for (int32_t k = i - len + 1; k <= i; ++k) sum += p[k];
        double mean = sum / len, dev = 0;
        for (int32_t k = i - len + 1; k <= i; ++k) dev += std::fabs(p[k] - mean);
        o[i] = static_cast<float>(dev / len);
    }
}

void AveDevRanked(const float* p, int32_t begin, int32_t first, int32_t count, int32_t len, float* o) {
    const double shift = p[begin];
    const size_t m = static_cast<size_t>(count - begin);
    std::vector<float> sorted(p + begin, p + count);
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    const size_t ranks = sorted.size();
    std::vector<int32_t> rank(m);
    for (size_t k = 0; k < m; ++k)
        rank[k] = static_cast<int32_t>(std::lower_bound(sorted.begin(), sorted.end(), p[begin + k]) - sorted.begin());
    std::vector<int32_t> treeCount(ranks + 1, 0);
    std::vector<double> treeSum(ranks + 1, 0.0);
    auto update = [&](int32_t r, int32_t c, double v) {
        for (size_t k = static_cast<size_t>(r) + 1; k <= ranks; k += k & (~k + 1)) {
            treeCount[k] += c;
            treeSum[k] += v;
        }
    };
    // Count and sum of the window values of rank < r.
    auto below = [&](size_t r, int32_t& c, double& s) {
        c = 0;
        s = 0;
        for (size_t k = r; k > 0; k -= k & (~k + 1)) {
            c += treeCount[k];
            s += treeSum[k];
        }
    };
    double total = 0;
    for (int32_t i = begin; i < count; ++i) {
        double v = p[i] - shift;
        update(rank[i - begin], 1, v);
        total += v;
        if (i < first) continue;
        double mean = total / len;
        // Values up to the mean (ranks of values <= mean + shift).
        size_t r = static_cast<size_t>(std::upper_bound(sorted.begin(), sorted.end(), mean + shift) - sorted.begin());
        int32_t c;
        double lowSum;
        below(r, c, lowSum);
        double dev = (mean * c - lowSum) + ((total - lowSum) - mean * (len - c));
        o[i] = static_cast<float>(std::max(0.0, dev) / len);
        double old = p[i - len + 1] - shift;
        update(rank[i - len + 1 - begin], -1, -old);
        total -= old;
    }
}

bool AveDev(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    Window w;
    if (!StartWindow(ctx, args, 2, w, out)) return true;
    const Operand& x = w.x;
    const int32_t len = w.len;
    if (len <= kDirectAveDevWindow || !AllFinite(x.p, x.begin, x.count))
        AveDevDirect(x.p, out.begin, x.count, len, out.data());
    else
        AveDevRanked(x.p, x.begin, out.begin, x.count, len, out.data());
    return true;
}

// ---- FORCAST -----------------------------------------------------------------------------

// The least-squares line through the window (positions 1..N) taken at the current bar.
// St = sum(t * x_t) slides as St' = St - S1 + N * x_new.
bool Forcast(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    Window w;
    if (!StartWindow(ctx, args, 1, w, out)) return true;
    const Operand& x = w.x;
    const int32_t len = w.len;
    float* o = out.data();
    const float* p = x.p;
    const double shift = ShiftOf(p, x.begin, x.count);
    const double n = len, tMean = (n + 1) / 2, tSpread = n * (n * n - 1) / 12;  // sum((t - tMean)^2)
    // A non-finite point makes its windows NaN; it enters the sums as 0 so later windows recover.
    const bool finite = AllFinite(p, x.begin, x.count);
    NonFiniteCount bad;
    auto term = [&](float v, int32_t delta) -> double {
        if (finite || std::isfinite(v)) return v - shift;
        bad.Track(v, delta);
        return 0.0;
    };
    double s1 = 0, st = 0;
    int32_t i = x.begin;
    for (; i < out.begin; ++i) {
        double v = term(p[i], 1);
        s1 += v;
        st += (i - x.begin + 1) * v;
    }
    for (; i < x.count; ++i) {
        if (i == out.begin) {
            double v = term(p[i], 1);
            s1 += v;
            st += n * v;
        }
        double mean = s1 / n;
        double slope = std::fabs(tSpread) <= 0.000001 ? 0.0 : (st - n * mean * tMean) / tSpread;
        o[i] = bad.any() ? kNaN : static_cast<float>(mean - tMean * slope + n * slope + shift);
        if (i + 1 < x.count) {  // slide: drop the oldest bar, every position moves down by one
            double old = term(p[i - len + 1], -1);
            double next = term(p[i + 1], 1);
            st = st - s1 + n * next;
            s1 = s1 - old + next;
        }
    }
    return true;
}

}  // namespace

bool StatisticFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    switch (id) {
        case kFnStd: case kFnStdp: case kFnVar: case kFnVarp: case kFnDevsq:
            return WindowStatistic(id, ctx, args, out);
        case kFnAvedev: return AveDev(ctx, args, out);
        case kFnForcast: return Forcast(ctx, args, out);
        default: return false;
    }
}

}  // namespace tessaro::fn
