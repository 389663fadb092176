#include "formula/builtin_indicators.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "platform/text.h"

namespace tessaro {
namespace {

int32_t BarCount(const Series& s) { return static_cast<int32_t>(s.bars.size()); }

}  // namespace

BuiltinIndicator FindBuiltinIndicator(std::string_view name) {
    if (EqualsNoCase(name, "TENDV")) return BuiltinIndicator::kTradeVolume;
    if (EqualsNoCase(name, "ZDL")) return BuiltinIndicator::kAdvanceDecline;
    if (EqualsNoCase(name, "LCB&")) return BuiltinIndicator::kProfitRatio;
    return BuiltinIndicator::kNone;
}

bool ComputeTradeVolume(const Series& series, ColumnPool* pool, std::vector<FormulaValue>& lines) {
    int32_t n = BarCount(series);
    FormulaValue v = FormulaValue::MakeSeries(n, 0, pool);
    // A series without trade data for a bar has no volume for it.
    int32_t withTrades = std::min<int32_t>(n, static_cast<int32_t>(series.trades.size()));
    for (int32_t i = 0; i < withTrades; ++i) v.values[i] = series.trades[i].volume;
    lines.push_back(std::move(v));
    return true;
}

bool ComputeAdvanceDecline(const CodeEntry& security, const Series& series, ColumnPool* pool,
                           std::vector<FormulaValue>& lines) {
    // The two counts of a stock's bars hold its tick count and buying percentage, not breadth.
    if (security.securityClass != kClassIndex) return false;
    int32_t n = BarCount(series);
    FormulaValue up = FormulaValue::MakeSeries(n, 0, pool);
    FormulaValue down = FormulaValue::MakeSeries(n, 0, pool);
    FormulaValue diff = FormulaValue::MakeSeries(n, 0, pool);
    float lo = 0, hi = 0, maxDiff = 0;
    for (int32_t i = 0; i < n; ++i) {
        float a = series.bars[i].count1, d = series.bars[i].count2;
        up.values[i] = a;
        down.values[i] = d;
        float lowPair = std::min(a, d), highPair = std::max(a, d);
        lo = i == 0 ? lowPair : std::min(lo, lowPair);
        hi = i == 0 ? highPair : std::max(hi, highPair);
        maxDiff = std::max(maxDiff, std::fabs(a - d));
    }
    float mid = (lo + hi) / 2;
    float scale = maxDiff < kZeroTolerance ? 1.0f : 0.8f * mid / maxDiff;
    for (int32_t i = 0; i < n; ++i) diff.values[i] = (up.values[i] - down.values[i]) * scale + mid;
    diff.drawing = std::make_unique<DrawingData>();
    diff.drawing->hasBase = true;
    diff.drawing->baseValue = mid;
    lines.push_back(std::move(up));
    lines.push_back(std::move(down));
    lines.push_back(std::move(diff));
    return true;
}

namespace {

// The chip distribution over kChipSteps price steps of [low, low + range].
class ChipDistribution {
public:
    ChipDistribution(double low, double range) : low_(low), range_(range) {}

    // The step of a price; prices outside the range are held in the first or last step.
    int StepOf(double price) const {
        if (!(range_ > 0)) return 0;
        double x = (price - low_) / range_ * kChipSteps;
        if (!(x >= 0)) return 0;  // also NaN
        if (x >= kChipSteps - 1) return kChipSteps - 1;
        return static_cast<int>(x);
    }
    double PriceOf(double step) const { return low_ + step * range_ / kChipSteps; }

    // Spreads `share` evenly over the steps of [low, high].
    void Spread(double lowPrice, double highPrice, double share) {
        int a = StepOf(lowPrice), b = StepOf(highPrice);
        if (a > b) std::swap(a, b);
        double each = share / (b - a + 1);
        for (int k = a; k <= b; ++k) weight_[k] += each;
        touchedLow_ = std::min(touchedLow_, a);
        touchedHigh_ = std::max(touchedHigh_, b);
    }

    // Takes the fraction t of every step away; returns the total taken.
    double Decay(double t) {
        double taken = 0;
        for (double& w : weight_) {
            taken += w * t;
            w *= 1 - t;
        }
        return taken;
    }

    // The weighted average step price over the touched steps, leaving out `excluded` per step
    // over [exLow, exHigh]; the middle of the touched steps when no weight is left.
    double AverageCost(int exLow, int exHigh, double excluded) const {
        double sumW = 0, sumWP = 0;
        for (int k = touchedLow_; k <= touchedHigh_; ++k) {
            double w = weight_[k];
            if (k >= exLow && k <= exHigh) w = std::max(0.0, w - excluded);
            sumW += w;
            sumWP += w * PriceOf(k);
        }
        if (sumW > 1e-12) return sumWP / sumW;
        return PriceOf((touchedLow_ + touchedHigh_) / 2.0);
    }

private:
    double low_, range_;
    std::array<double, kChipSteps> weight_{};
    int touchedLow_ = kChipSteps, touchedHigh_ = -1;
};

bool FinitePrice(float v) { return std::isfinite(v); }

}  // namespace

bool ComputeProfitRatio(const Series& series, size_t lineCount, ColumnPool* pool, std::vector<FormulaValue>& lines) {
    int32_t n = BarCount(series);
    lineCount = std::max<size_t>(lineCount, 1);
    FormulaValue ratio = FormulaValue::MakeSeries(n, 0, pool);

    // The price range of the whole series; bars with an unusable price take no part.
    double lo = 0, hi = 0;
    bool any = false;
    for (const KLineRecord& b : series.bars) {
        float l = b.low, h = b.high;
        if (!FinitePrice(l) || !FinitePrice(h)) continue;
        double a = std::min(l, h), z = std::max(l, h);
        lo = any ? std::min(lo, a) : a;
        hi = any ? std::max(hi, z) : z;
        any = true;
    }
    if (n == 0 || !any) {
        if (n > 0) ratio.begin = n;  // nothing to compute: no valid points
    } else {
        auto chips = std::make_unique<ChipDistribution>(lo, hi - lo);
        const KLineRecord first = series.bars[0];
        bool firstUsable = FinitePrice(first.low) && FinitePrice(first.high);
        double firstLow = firstUsable ? first.low : lo, firstHigh = firstUsable ? first.high : lo;
        chips->Spread(firstLow, firstHigh, 1.0);
        int exLow = chips->StepOf(std::min(firstLow, firstHigh)), exHigh = chips->StepOf(std::max(firstLow, firstHigh));
        double left = 1.0;  // what is still left of bar 0's initial share
        ratio.values[0] = first.close == 0 ? 100.0f
                                           : static_cast<float>((1 - (firstLow + firstHigh) / 2 / first.close) * 100);
        for (int32_t i = 1; i < n; ++i) {
            const KLineRecord bar = series.bars[i];
            double capital = i < static_cast<int32_t>(series.capital.size()) ? series.capital[i].circulating : 0.0;
            double t = capital > 0 ? static_cast<double>(bar.volume) / capital : 0.0;
            if (!(t > 0)) t = 0;  // also NaN
            t = std::min(t, 1.0);
            if (!FinitePrice(bar.low) || !FinitePrice(bar.high)) t = 0;  // nowhere to put what it trades
            if (t > 0) {
                double taken = chips->Decay(t);
                left *= 1 - t;
                chips->Spread(bar.low, bar.high, taken);
            }
            double cost = chips->AverageCost(exLow, exHigh, left / (exHigh - exLow + 1));
            ratio.values[i] = bar.close == 0 ? -100.0f : static_cast<float>((1 - cost / bar.close) * 100);
        }
    }
    lines.push_back(std::move(ratio));
    for (size_t k = 1; k < lineCount; ++k) lines.push_back(FormulaValue::EmptySeries(n, pool));
    return true;
}

}  // namespace tessaro
