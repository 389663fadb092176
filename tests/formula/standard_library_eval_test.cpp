// The standard library evaluated: every formula runs on the generated demo market at several
// periods without failing, and the indicators agree with their definitions computed here
// independently in double precision over a real price history.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "formula/eval_data_source.h"
#include "formula/evaluator.h"
#include "formula/formula_set.h"
#include "formula/formula_set_startup.h"
#include "formula/standard_library.h"
#include "market/bars_csv.h"
#include "market/base_files.h"
#include "market/demo_market.h"
#include "market/market_store.h"
#include "market/periods.h"
#include "market/series_loader.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

// ---- Every formula on the generated market ----

TEST(StandardLibraryOnDemoMarket, EveryFormulaEvaluatesAtDayWeekAndFiveMinutes) {
    TempDir dir;
    DemoMarketOptions options;
    options.outDir = dir.path();
    options.securities = 8;
    options.days = 120;
    options.fiveMinuteDays = 3;
    options.oneMinuteDays = 0;
    std::string error;
    ASSERT_TRUE(GenerateDemoMarket(options, nullptr, &error)) << error;
    ASSERT_TRUE(InstallStandardLibrary(AppPaths(dir.path()), &error)) << error;
    AppPaths paths(dir.path());
    SettingsStore settings;
    MarketStore store(paths, settings);
    store.SetBaseFileLoader([paths](MarketStore& s) { LoadBaseFiles(s, paths); });
    ASSERT_TRUE(store.LoadAll(&error)) << error;
    StoreSeriesSource source(store, paths);
    StoreEvalData data(store, source);
    FormulaSet set;
    LoadFormulaSet(set, paths);
    FormulaEvaluator evaluator(set, data);

    std::vector<FormulaRecord> library = set.FormulasOfSource(kSourceCommon);
    ASSERT_EQ(library.size(), kEmbeddedFormulaTextCount);
    int evaluated = 0;
    for (const DemoSecurity& s : DemoSecurities(options.securities)) {
        std::optional<CodeEntry> entry = data.FindSecurity(s.id);
        ASSERT_TRUE(entry) << SecurityText(s.id);
        for (Period period : {kPeriodDay, kPeriodWeek, kPeriodMin5}) {
            for (const FormulaRecord& f : library) {
                if (!FormulaApplies(f, period, entry->securityClass)) continue;
                std::unique_ptr<EvalResult> r = evaluator.Evaluate(f, *entry, nullptr, period);
                ASSERT_TRUE(r) << GbkToUtf8(f.nameText()) << " on " << SecurityText(s.id) << " period " << period;
                ASSERT_EQ(r->lineCount(), f.outputs.size()) << GbkToUtf8(f.nameText());
                for (size_t k = 0; k < r->lineCount(); ++k) {
                    const OutputLine& line = r->lines[k];
                    int finite = 0;
                    for (int32_t i = line.begin; i < line.count; ++i)
                        finite += line.valid(i) && std::isfinite(line.points[static_cast<size_t>(i)].value);
                    // Long windows (CR's shifted averages, DMA's 50 bars) have no value on the
                    // few weekly bars; the day bars fill every line.
                    if (period == kPeriodDay) {
                        EXPECT_GT(finite, 0) << GbkToUtf8(f.nameText()) << " line " << k;
                    }
                }
                ++evaluated;
            }
        }
    }
    EXPECT_GT(evaluated, 3 * 29 * 6);
}

// ---- Values against the definitions ----

using Col = std::vector<double>;
using Binary = std::function<double(double, double)>;

Col Apply(const Col& a, const Col& b, const Binary& f) {
    Col out(a.size(), NAN);
    for (size_t i = 0; i < a.size(); ++i)
        if (!std::isnan(a[i]) && !std::isnan(b[i])) out[i] = f(a[i], b[i]);
    return out;
}
Col Ref(const Col& x, size_t n) {
    Col out(x.size(), NAN);
    for (size_t i = n; i < x.size(); ++i) out[i] = x[i - n];
    return out;
}
// A window of n values ending at each bar; NAN until it is full of values.
Col Window(const Col& x, size_t n, const std::function<double(const double*, size_t)>& f) {
    Col out(x.size(), NAN);
    for (size_t i = n - 1; i < x.size(); ++i) {
        const double* w = x.data() + i + 1 - n;
        bool full = true;
        for (size_t k = 0; k < n; ++k) full = full && !std::isnan(w[k]);
        if (full) out[i] = f(w, n);
    }
    return out;
}
double Mean(const double* w, size_t n) {
    double s = 0;
    for (size_t k = 0; k < n; ++k) s += w[k];
    return s / static_cast<double>(n);
}
Col Ma(const Col& x, size_t n) { return Window(x, n, Mean); }
Col Sum(const Col& x, size_t n) {
    return Window(x, n, [](const double* w, size_t m) { return Mean(w, m) * static_cast<double>(m); });
}
Col Cumulative(const Col& x) {
    Col out(x.size(), NAN);
    double s = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        if (std::isnan(x[i])) continue;
        s += x[i];
        out[i] = s;
    }
    return out;
}
Col Hhv(const Col& x, size_t n) {
    return Window(x, n, [](const double* w, size_t m) { return *std::max_element(w, w + m); });
}
Col Llv(const Col& x, size_t n) {
    return Window(x, n, [](const double* w, size_t m) { return *std::min_element(w, w + m); });
}
Col Stdp(const Col& x, size_t n) {
    return Window(x, n, [](const double* w, size_t m) {
        double mean = Mean(w, m), s = 0;
        for (size_t k = 0; k < m; ++k) s += (w[k] - mean) * (w[k] - mean);
        return std::sqrt(s / static_cast<double>(m));
    });
}
Col Avedev(const Col& x, size_t n) {
    return Window(x, n, [](const double* w, size_t m) {
        double mean = Mean(w, m), s = 0;
        for (size_t k = 0; k < m; ++k) s += std::fabs(w[k] - mean);
        return s / static_cast<double>(m);
    });
}
// Y = (m*X + (n-m)*Y') / n, seeded with the first value; EMA is SMA(X, n+1, 2).
Col Sma(const Col& x, double n, double m) {
    Col out(x.size(), NAN);
    double y = NAN;
    for (size_t i = 0; i < x.size(); ++i) {
        if (std::isnan(x[i])) continue;
        y = std::isnan(y) ? x[i] : (m * x[i] + (n - m) * y) / n;
        out[i] = y;
    }
    return out;
}
Col Ema(const Col& x, double n) { return Sma(x, n + 1, 2); }
Col Constant(size_t size, double v) { return Col(size, v); }

const Binary kAdd = [](double a, double b) { return a + b; };
const Binary kSub = [](double a, double b) { return a - b; };
const Binary kMul = [](double a, double b) { return a * b; };
const Binary kDiv = [](double a, double b) { return a / b; };
const Binary kMax = [](double a, double b) { return std::max(a, b); };

class StandardLibraryValues : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        library_ = new LibraryBuild(BuildStandardLibrary());
        const char* root = std::getenv("TESSARO_SOURCE_DIR");
        std::ifstream in(std::string(root ? root : TESSARO_SOURCE_DIR) + "/tests/formula/data/600519-daily.csv");
        std::stringstream text;
        text << in.rdbuf();
        bars_ = new Series;
        ParseBarsCsv(text.str(), *bars_);
        bars_->period = kPeriodDay;
    }
    static void TearDownTestSuite() {
        delete library_;
        delete bars_;
    }
    void SetUp() override {
        ASSERT_TRUE(library_->errors.empty());
        ASSERT_GE(bars_->size(), 300u);
        for (size_t i = 0; i < bars_->size(); ++i) {
            const KLineRecord& b = bars_->bars[i];
            o.push_back(b.open);
            h.push_back(b.high);
            l.push_back(b.low);
            c.push_back(b.close);
            v.push_back(b.volume);
            a.push_back(b.amount);
        }
    }

    std::unique_ptr<EvalResult> Run(const char* name) {
        const FormulaRecord* f = nullptr;
        for (const FormulaRecord& r : library_->formulas)
            if (GbkToUtf8(r.nameText()) == name) f = &r;
        EXPECT_TRUE(f) << name;
        if (!f) return nullptr;
        CodeEntry security;
        ParseSecurityText("SH600519", security.id);
        security.securityClass = kClassAShare;
        return evaluator.Evaluate(*f, security, bars_, kPeriodDay);
    }

    // The last 120 bars of line k against `want` (when both are values), within `relative` of
    // the value's size or `absolute`, whichever is larger.
    void Expect(const std::unique_ptr<EvalResult>& r, size_t k, const Col& want, const char* what, double relative,
                double absolute = 1e-6) {
        ASSERT_TRUE(r) << what;
        ASSERT_LT(k, r->lineCount()) << what;
        const OutputLine& line = r->lines[k];
        ASSERT_EQ(line.count, static_cast<int32_t>(want.size())) << what;
        int compared = 0;
        for (size_t i = want.size() - 120; i < want.size(); ++i) {
            if (std::isnan(want[i])) continue;
            ASSERT_TRUE(line.valid(static_cast<int32_t>(i))) << what << " bar " << i;
            double got = line.points[i].value;
            EXPECT_NEAR(got, want[i], std::max(absolute, relative * std::fabs(want[i]))) << what << " bar " << i;
            ++compared;
        }
        EXPECT_GT(compared, 100) << what;
    }

    static LibraryBuild* library_;
    static Series* bars_;
    Col o, h, l, c, v, a;
    FormulaSet set;
    MemoryEvalData data;
    FormulaEvaluator evaluator{set, data, nullptr};
};
LibraryBuild* StandardLibraryValues::library_ = nullptr;
Series* StandardLibraryValues::bars_ = nullptr;

TEST_F(StandardLibraryValues, MovingAveragesAndBands) {
    Expect(Run("MA"), 0, Ma(c, 5), "MA1", 1e-6);
    Expect(Run("MA"), 3, Ma(c, 60), "MA4", 1e-6);
    Expect(Run("EXPMA"), 1, Ema(c, 50), "EXP2", 1e-5);
    auto boll = Run("BOLL");
    Col mid = Ma(c, 20), band = Apply(Stdp(c, 20), Constant(c.size(), 2), kMul);
    Expect(boll, 0, mid, "BOLL", 1e-6);
    Expect(boll, 1, Apply(mid, band, kAdd), "UB", 1e-5);
    Expect(boll, 2, Apply(mid, band, kSub), "LB", 1e-5);
    auto dma = Run("DMA");
    Col ddd = Apply(Ma(c, 10), Ma(c, 50), kSub);
    Expect(dma, 0, ddd, "DDD", 1e-4, 0.02);
    Expect(dma, 1, Ma(ddd, 10), "AMA", 1e-4, 0.02);
}

TEST_F(StandardLibraryValues, TrendIndicators) {
    auto macd = Run("MACD");
    Col dif = Apply(Ema(c, 12), Ema(c, 26), kSub);
    Col dea = Ema(dif, 9);
    Expect(macd, 0, dif, "DIF", 1e-4, 0.02);
    Expect(macd, 1, dea, "DEA", 1e-4, 0.02);
    Expect(macd, 2, Apply(Apply(dif, dea, kSub), Constant(c.size(), 2), kMul), "MACD", 1e-4, 0.04);

    Col tr = Ema(Ema(Ema(c, 12), 12), 12);
    Col trix = Apply(Apply(tr, Ref(tr, 1), kSub), Ref(tr, 1), kDiv);
    Expect(Run("TRIX"), 0, Apply(trix, Constant(c.size(), 100), kMul), "TRIX", 1e-3, 2e-3);

    // DMI from Wilder's definitions.
    Col lc = Ref(c, 1);
    Col trueRange(c.size(), NAN), plus(c.size(), NAN), minus(c.size(), NAN);
    for (size_t i = 1; i < c.size(); ++i) {
        trueRange[i] = std::max({h[i] - l[i], std::fabs(h[i] - lc[i]), std::fabs(lc[i] - l[i])});
        double up = h[i] - h[i - 1], down = l[i - 1] - l[i];
        plus[i] = (up > 0 && up > down) ? up : 0;
        minus[i] = (down > 0 && down > up) ? down : 0;
    }
    Col tr14 = Sum(trueRange, 14);
    Col pdi = Apply(Apply(Sum(plus, 14), Constant(c.size(), 100), kMul), tr14, kDiv);
    Col mdi = Apply(Apply(Sum(minus, 14), Constant(c.size(), 100), kMul), tr14, kDiv);
    Col dx = Apply(Apply(Apply(mdi, pdi, kSub), Constant(c.size(), 0), [](double x, double) { return std::fabs(x); }),
                   Apply(mdi, pdi, kAdd), [](double x, double y) { return x / y * 100; });
    Col adx = Ma(dx, 6);
    auto dmi = Run("DMI");
    Expect(dmi, 0, pdi, "PDI", 1e-3, 1e-3);
    Expect(dmi, 1, mdi, "MDI", 1e-3, 1e-3);
    Expect(dmi, 2, adx, "ADX", 1e-3, 1e-3);
    Expect(dmi, 3, Apply(Apply(adx, Ref(adx, 6), kAdd), Constant(c.size(), 2), kDiv), "ADXR", 1e-3, 1e-3);

    // Wilder's swing index, accumulated from the second bar.
    Col si(c.size(), NAN);
    for (size_t i = 1; i < c.size(); ++i) {
        double aa = std::fabs(h[i] - c[i - 1]), bb = std::fabs(l[i] - c[i - 1]), cc = std::fabs(h[i] - l[i]);
        double dd = std::fabs(c[i - 1] - o[i - 1]);
        double r = (aa > bb && aa > cc) ? aa + bb / 2 + dd / 4 : (bb > cc && bb > aa) ? bb + aa / 2 + dd / 4 : cc + dd / 4;
        double x = c[i] - c[i - 1] + (c[i] - o[i]) / 2 + (c[i - 1] - o[i - 1]) / 4;
        si[i] = 16 * x / r * std::max(aa, bb);
    }
    Col asi = Cumulative(si);
    auto asiResult = Run("ASI");
    Expect(asiResult, 0, asi, "ASI", 1e-3, 0.5);
    Expect(asiResult, 1, Ma(asi, 10), "ASIT", 1e-3, 0.5);
}

TEST_F(StandardLibraryValues, OverboughtOversoldIndicators) {
    Col rsv = Apply(Apply(c, Llv(l, 9), kSub), Apply(Hhv(h, 9), Llv(l, 9), kSub),
                    [](double x, double y) { return x / y * 100; });
    Col k = Sma(rsv, 3, 1), d = Sma(k, 3, 1);
    auto kdj = Run("KDJ");
    Expect(kdj, 0, k, "K", 1e-3, 1e-3);
    Expect(kdj, 1, d, "D", 1e-3, 1e-3);

    Col lc = Ref(c, 1);
    Col rise = Apply(c, lc, [](double x, double y) { return std::max(x - y, 0.0); });
    Col move = Apply(c, lc, [](double x, double y) { return std::fabs(x - y); });
    Expect(Run("RSI"), 1, Apply(Sma(rise, 12, 1), Sma(move, 12, 1), [](double x, double y) { return x / y * 100; }),
           "RSI2", 1e-3, 1e-3);

    Col hh = Hhv(h, 10), ll = Llv(l, 10);
    Col wr(c.size(), NAN);
    for (size_t i = 0; i < c.size(); ++i) wr[i] = 100 * (hh[i] - c[i]) / (hh[i] - ll[i]);
    Expect(Run("WR"), 0, wr, "WR1", 1e-3, 1e-3);

    Col typ(c.size());
    for (size_t i = 0; i < c.size(); ++i) typ[i] = (h[i] + l[i] + c[i]) / 3;
    Col cci = Apply(Apply(typ, Ma(typ, 14), kSub), Avedev(typ, 14), [](double x, double y) { return x / (0.015 * y); });
    Expect(Run("CCI"), 0, cci, "CCI", 1e-3, 0.05);

    Expect(Run("BIAS"), 0, Apply(Apply(c, Ma(c, 6), kSub), Ma(c, 6), [](double x, double y) { return x / y * 100; }),
           "BIAS1", 1e-3, 1e-4);
    Expect(Run("ROC"), 0, Apply(Apply(c, Ref(c, 12), kSub), Ref(c, 12), [](double x, double y) { return 100 * x / y; }),
           "ROC", 1e-4, 1e-4);
    auto mtm = Run("MTM");
    Col m = Apply(c, Ref(c, 12), kSub);
    Expect(mtm, 0, m, "MTM", 1e-5, 1e-3);
    Expect(mtm, 1, Ma(m, 6), "MTMMA", 1e-5, 1e-3);
}

TEST_F(StandardLibraryValues, VolumeAndEnergyIndicators) {
    Expect(Run("VOL"), 1, Ma(v, 5), "MAVOL1", 1e-6);
    Expect(Run("AMOUNT"), 0, Apply(a, Constant(a.size(), 10000), kDiv), "AMO", 1e-6);

    Col lc = Ref(c, 1);
    Col signedVolume(c.size(), NAN);
    for (size_t i = 1; i < c.size(); ++i) signedVolume[i] = c[i] > lc[i] ? v[i] : c[i] < lc[i] ? -v[i] : 0;
    Col obv = Apply(Cumulative(signedVolume), Constant(c.size(), 10000), kDiv);
    auto obvResult = Run("OBV");
    Expect(obvResult, 0, obv, "OBV", 1e-5, 1e-4);
    Expect(obvResult, 1, Ma(obv, 30), "MAOBV", 1e-5, 1e-4);

    Col up(c.size(), NAN);
    for (size_t i = 1; i < c.size(); ++i) up[i] = c[i] > lc[i] ? 1 : 0;
    Expect(Run("PSY"), 0, Apply(Sum(up, 12), Constant(c.size(), 12), [](double x, double y) { return x / y * 100; }),
           "PSY", 1e-5, 1e-4);

    Col th(c.size(), NAN), tl(c.size(), NAN), tq(c.size(), NAN);
    for (size_t i = 1; i < c.size(); ++i) {
        th[i] = c[i] > lc[i] ? v[i] : 0;
        tl[i] = c[i] < lc[i] ? v[i] : 0;
        tq[i] = c[i] == lc[i] ? v[i] : 0;
    }
    Col vr = Apply(Apply(Apply(Sum(th, 26), Constant(c.size(), 2), kMul), Sum(tq, 26), kAdd),
                   Apply(Apply(Sum(tl, 26), Constant(c.size(), 2), kMul), Sum(tq, 26), kAdd),
                   [](double x, double y) { return 100 * x / y; });
    Expect(Run("VR"), 0, vr, "VR", 1e-4, 1e-3);

    Col brUp(c.size(), NAN), brDown(c.size(), NAN), arUp(c.size()), arDown(c.size());
    for (size_t i = 0; i < c.size(); ++i) {
        if (i > 0) {
            brUp[i] = std::max(0.0, h[i] - lc[i]);
            brDown[i] = std::max(0.0, lc[i] - l[i]);
        }
        arUp[i] = h[i] - o[i];
        arDown[i] = o[i] - l[i];
    }
    auto brar = Run("BRAR");
    Expect(brar, 0, Apply(Sum(brUp, 26), Sum(brDown, 26), [](double x, double y) { return x / y * 100; }), "BR", 1e-4, 1e-3);
    Expect(brar, 1, Apply(Sum(arUp, 26), Sum(arDown, 26), [](double x, double y) { return x / y * 100; }), "AR", 1e-4, 1e-3);

    Col mid = Ref(Apply(h, l, [](double x, double y) { return (x + y) / 2; }), 1);
    Col crUp = Apply(h, mid, [](double x, double y) { return std::max(0.0, x - y); });
    Col crDown = Apply(mid, l, [](double x, double y) { return std::max(0.0, x - y); });
    Col cr = Apply(Sum(crUp, 26), Sum(crDown, 26), [](double x, double y) { return x / y * 100; });
    auto crResult = Run("CR");
    Expect(crResult, 0, cr, "CR", 1e-4, 1e-3);
    Expect(crResult, 1, Ref(Ma(cr, 10), 5), "CR MA1", 1e-4, 1e-3);

    Col wv(c.size());
    for (size_t i = 0; i < c.size(); ++i) wv[i] = (c[i] - o[i]) / (h[i] - l[i]) * v[i];
    Expect(Run("WVAD"), 0, Apply(Sum(wv, 24), Constant(c.size(), 10000), kDiv), "WVAD", 1e-4, 1e-4);

    Col range = Apply(h, l, kSub);
    Col hl = Apply(h, l, kAdd);
    Col relativeVolume = Apply(Ma(v, 14), v, kDiv);
    Col midMove = Apply(Apply(hl, Ref(hl, 1), kSub), hl, [](double x, double y) { return 100 * x / y; });
    Col inner = Apply(Apply(Apply(midMove, relativeVolume, kMul), range, kMul), Ma(range, 14), kDiv);
    Expect(Run("EMV"), 0, Ma(inner, 14), "EMV", 1e-3, 1e-3);
}

TEST_F(StandardLibraryValues, SelectionsAndTradingSystemSignalWhereTheDefinitionsCross) {
    Col dif = Apply(Ema(c, 12), Ema(c, 26), kSub);
    Col gap = Apply(dif, Ema(dif, 9), kSub);
    auto golden = Run("MACD金叉");
    ASSERT_TRUE(golden);
    ASSERT_EQ(golden->lineCount(), 1u);
    int crosses = 0;
    for (size_t i = c.size() - 200; i < c.size(); ++i) {
        // Only where float and double cannot disagree about the sign.
        if (std::fabs(gap[i]) < 0.05 || std::fabs(gap[i - 1]) < 0.05) continue;
        bool want = gap[i - 1] < 0 && gap[i] > 0;
        EXPECT_EQ(golden->lines[0].points[i].value, want ? 1.0f : 0.0f) << "bar " << i;
        crosses += want;
    }
    EXPECT_GT(crosses, 0);

    Col ma5 = Ma(c, 5), ma20 = Ma(c, 20);
    auto system = Run("MA交易");
    ASSERT_TRUE(system);
    ASSERT_EQ(system->lineCount(), 2u);
    int entries = 0;
    for (size_t i = c.size() - 200; i < c.size(); ++i) {
        double now = ma5[i] - ma20[i], before = ma5[i - 1] - ma20[i - 1];
        if (std::fabs(now) < 0.05 || std::fabs(before) < 0.05) continue;
        EXPECT_EQ(system->lines[0].points[i].value, (before < 0 && now > 0) ? 1.0f : 0.0f) << "bar " << i;
        EXPECT_EQ(system->lines[1].points[i].value, (before > 0 && now < 0) ? 1.0f : 0.0f) << "bar " << i;
        entries += before < 0 && now > 0;
    }
    EXPECT_GT(entries, 0);

    auto breakout = Run("放量突破");
    ASSERT_TRUE(breakout);
    Col prevHigh = Hhv(Ref(h, 1), 20), volumeMa = Ma(v, 20);
    for (size_t i = c.size() - 120; i < c.size(); ++i) {
        if (std::fabs(c[i] - prevHigh[i]) < 0.01 || std::fabs(v[i] - 2 * volumeMa[i]) < 0.5) continue;
        bool want = c[i] > prevHigh[i] && v[i] > 2 * volumeMa[i];
        EXPECT_EQ(breakout->lines[0].points[i].value, want ? 1.0f : 0.0f) << "bar " << i;
    }
}

}  // namespace
}  // namespace tessaro
