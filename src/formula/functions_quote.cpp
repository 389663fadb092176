// Quote, time, market-index, bar-position and constant functions: the ones that read the
// evaluated bars or the security's data rather than computing on their arguments.
#include <cmath>

#include "formula/functions_internal.h"
#include "market/periods.h"
#include "platform/store_time.h"

namespace tessaro::fn {
namespace {

constexpr int kDynaReportItems = 41;  // quote items 0..40 of the catalogue
constexpr int kFinanceItems = 39;     // finance items, catalogue 41..79
constexpr int kFinanceFieldBase = 41;

bool IsIndex(const FunctionContext& ctx) { return ctx.security.securityClass == kClassIndex; }

template <class F>
FormulaValue PerBar(FunctionContext& ctx, F f) {
    int32_t n = ctx.barCount();
    FormulaValue out = NewSeriesToFill(ctx, n, 0);
    float* o = out.data();
    for (int32_t i = 0; i < n; ++i) o[i] = f(i);
    return out;
}

// Calendar fields of a bar time; times below three days decode as 1900-01-01 00:00:00.
CivilDateTime DecodeBarTime(StoreTime t) {
    if (t < 3 * kSecondsPerDay) {
        CivilDateTime dt;
        dt.date = CivilDate{1900, 1, 1};
        return dt;
    }
    return SplitStoreTime(t);
}

}  // namespace

bool QuoteFunction(int id, FunctionContext& ctx, std::span<FormulaValue>, FormulaValue& out) {
    static const Series kNoBars;
    const Series& s = ctx.series ? *ctx.series : kNoBars;
    const auto& bars = s.bars;
    bool index = IsIndex(ctx);
    switch (id) {
        case kFnOpen:
        case kFnHigh:
        case kFnLow:
        case kFnClose:
        case kFnVol:
        case kFnAmount: {
            FormulaValue columns[6];
            GatherQuoteColumns(ctx, 1u << (id - kFnOpen), columns, nullptr);
            out = std::move(columns[id - kFnOpen]);
            return true;
        }
        case kFnAdvance:
            if (!index) return false;
            out = PerBar(ctx, [&](int32_t i) { return static_cast<float>(bars[i].count1); });
            return true;
        case kFnDecline:
            if (!index) return false;
            out = PerBar(ctx, [&](int32_t i) { return static_cast<float>(bars[i].count2); });
            return true;
        case kFnTickCount:
            if (index) return false;
            out = PerBar(ctx, [&](int32_t i) { return static_cast<float>(bars[i].count1); });
            return true;
        case kFnBuyVol:
            if (index) return false;
            out = PerBar(ctx, [&](int32_t i) {
                unsigned p = bars[i].count2;
                return p == 0 ? 0.0f : static_cast<float>(bars[i].volume * (p * 0.01));
            });
            return true;
        case kFnSellVol:
            if (index) return false;
            out = PerBar(ctx, [&](int32_t i) {
                unsigned p = bars[i].count2;
                return p == 0 ? 0.0f : static_cast<float>(bars[i].volume * (1.0 - p * 0.01));
            });
            return true;
        default:
            return false;
    }
}

bool TimeFunction(int id, FunctionContext& ctx, std::span<FormulaValue>, FormulaValue& out) {
    const Series* s = ctx.series;
    out = PerBar(ctx, [&](int32_t i) -> float {
        CivilDateTime dt = DecodeBarTime(s->bars[i].time);
        switch (id) {
            case kFnDay: return static_cast<float>(dt.date.day);
            case kFnWeekday: return static_cast<float>(WeekdayOfDay(DayFromCivil(dt.date)));
            case kFnMonth: return static_cast<float>(dt.date.month);
            case kFnYear: return static_cast<float>(dt.date.year);
            case kFnHour: return static_cast<float>(dt.hour);
            case kFnMinute: return static_cast<float>(dt.minute);
            case kFnDate:
                return static_cast<float>(dt.date.year * 10000 + dt.date.month * 100 + dt.date.day - 19000000);
            case kFnTime: return static_cast<float>(dt.hour * 10000 + dt.minute * 100 + dt.second);
            default: return 0.0f;
        }
    });
    return true;
}

int64_t PeriodBucket(uint32_t time, Period period) {
    auto ceilDiv = [](int64_t a, int64_t b) { return (a + b - 1) / b; };
    const int64_t day = time / kSecondsPerDay;
    switch (period) {
        case kPeriodTick: return time;
        case kPeriodMin1: case kPeriodTime: return ceilDiv(time, 60);
        case kPeriodMin5: return ceilDiv(time, 300);
        case kPeriodMin15: return ceilDiv(time, 900);
        case kPeriodMin30: return ceilDiv(time, 1800);
        case kPeriodMin60: return ceilDiv(time, 3600);
        case kPeriodWeek: return WeekNumberOfDay(day);
        case kPeriodMonth: case kPeriodQuarter: case kPeriodYear: {
            CivilDate d = CivilFromDay(static_cast<int32_t>(day));
            if (period == kPeriodMonth) return static_cast<int64_t>(d.year) * 12 + (d.month - 1);
            if (period == kPeriodQuarter) return static_cast<int64_t>(d.year) * 4 + (d.month - 1) / 3;
            return d.year;
        }
        default: return day;  // days and multi-day bars
    }
}

bool IndexFunction(int id, FunctionContext& ctx, std::span<FormulaValue>, FormulaValue& out) {
    int32_t n = ctx.barCount();
    out = NewSeries(ctx, n, 0);
    const Series* index = n == 0 || !ctx.data ? nullptr : ctx.data->IndexSeries(ctx.security, ctx.period);
    if (!index) return true;
    const auto& bars = ctx.series->bars;
    const auto& ib = index->bars;
    float* o = out.data();
    size_t j = 0;
    for (int32_t i = 0; i < n;) {
        if (j >= ib.size()) {
            o[i++] = 0;  // after the index series ends
            continue;
        }
        int64_t ki = PeriodBucket(bars[i].time, ctx.period);
        int64_t kj = PeriodBucket(ib[j].time, ctx.period);
        if (ki == kj) {
            const KLineRecord& r = ib[j];
            float v = 0;
            switch (id) {
                case kFnIndexO: v = r.open; break;
                case kFnIndexH: v = r.high; break;
                case kFnIndexL: v = r.low; break;
                case kFnIndexC: v = r.close; break;
                case kFnIndexV: v = r.volume; break;
                case kFnIndexA: v = r.amount; break;
                case kFnIndexAdv: v = r.count1; break;
                case kFnIndexDec: v = r.count2; break;
            }
            o[i++] = v;
            ++j;
        } else if (ki < kj) {
            o[i++] = 0;  // the index has no bar for this one
        } else {
            ++j;
        }
    }
    return true;
}

bool BarFunction(int id, FunctionContext& ctx, std::span<FormulaValue>, FormulaValue& out) {
    int32_t n = ctx.barCount();
    const Series* s = ctx.series;
    switch (id) {
        case kFnIsUp:
            out = PerBar(ctx, [&](int32_t i) { return s->bars[i].close - s->bars[i].open > kZeroTolerance ? 1.0f : 0.0f; });
            return true;
        case kFnIsEqual:
            out = PerBar(ctx, [&](int32_t i) {
                return std::fabs(s->bars[i].close - s->bars[i].open) <= kZeroTolerance ? 1.0f : 0.0f;
            });
            return true;
        case kFnIsDown:
            out = PerBar(ctx, [&](int32_t i) { return s->bars[i].close - s->bars[i].open < -kZeroTolerance ? 1.0f : 0.0f; });
            return true;
        case kFnIsLastBar: out = PerBar(ctx, [&](int32_t i) { return i == n - 1 ? 1.0f : 0.0f; }); return true;
        case kFnBarPos: out = PerBar(ctx, [&](int32_t i) { return static_cast<float>(i); }); return true;
        case kFnBarStatus:
            out = PerBar(ctx, [&](int32_t i) { return i == 0 ? 1.0f : i == n - 1 ? 2.0f : 0.0f; });
            return true;
        default:
            return false;
    }
}

bool ConstantFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    uint16_t cls = ctx.security.securityClass;
    switch (id) {
        case kFnVolUnit:
            out = FormulaValue::Number(cls == kClassIndex ? 0.0f : cls == kClassBond ? 10.0f : 100.0f);
            return true;
        case kFnStkType:
            out = FormulaValue::Number(static_cast<float>(cls));
            return true;
        case kFnCapital: {
            float capital = 0;
            FinanceBlock fin;
            if (cls != kClassIndex && ctx.data && ctx.data->LoadFinance(ctx.security, fin)) {
                float shares = cls == kClassBShare ? fin.figures[4] : fin.figures[6];  // B股 / 流通A股, 万股
                double lot = cls == kClassBond ? 10.0 : 100.0;
                capital = static_cast<float>(shares * 10000.0 / lot);
            }
            out = FormulaValue::Number(capital);
            return true;
        }
        case kFnDynaReport:
        case kFnFinance: {
            // An item outside the catalogue gives an empty result, never a read past the catalogue.
            float x = args[0].number;
            int limit = id == kFnDynaReport ? kDynaReportItems : kFinanceItems;
            int item = ClampN(x);
            std::optional<double> v;
            if (std::isfinite(x) && item >= 0 && item < limit && ctx.data)
                v = ctx.data->QuoteFieldValue(ctx.security, id == kFnDynaReport ? item : item + kFinanceFieldBase);
            if (!v) {
                out = FormulaValue::EmptySeries(ctx.barCount(), ctx.pool);
                return true;
            }
            out = FormulaValue::Number(static_cast<float>(*v));
            return true;
        }
        case kFnRgb: {
            auto component = [&](int k) { return static_cast<uint32_t>(ClampN(args[k].number)) & 0xFFu; };
            out = FormulaValue::Number(static_cast<float>(component(0) + component(1) * 256u + component(2) * 65536u));
            return true;
        }
        default:
            return false;
    }
}

}  // namespace tessaro::fn
