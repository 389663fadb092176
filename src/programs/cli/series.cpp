// tessaro-cli series, fields, gen: series of every period, the quote field catalogue,
// and the demo market generator.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "cli_parsing.h"
#include "cli_printing.h"
#include "command.h"
#include "formula/standard_library.h"
#include "market/demo_market.h"
#include "market/market_store.h"
#include "market/quote_fields.h"
#include "market/security_registry.h"
#include "market/series_loader.h"
#include "platform/files.h"
#include "platform/store_time.h"
#include "series_commands.h"

namespace tessaro::cli {

std::string SeriesTimeText(StoreTime t, Period period) {
    if (IsDayBasedPeriod(period)) return FormatStoreTime("Y-M-D", t);
    if (period == kPeriodTick) return FormatStoreTime("Y-M-D H:N:S", t);
    return FormatStoreTime("Y-M-D H:N", t);
}

namespace {

constexpr const char* kSeriesUsage =
    "series [--appdir DIR] SECURITY PERIOD [--adjust forward|backward|none] [--days N] [--last N] [--multiday N]";

int RunSeries(Args& args) {
    std::string appDir = ResolveDir(args);
    std::optional<std::string> adjust = args.option("adjust");
    std::optional<std::string> daysText = args.option("days");
    std::optional<std::string> lastText = args.option("last");
    std::optional<std::string> multiText = args.option("multiday");
    if (args.size() != 2) return UsageError(kSeriesUsage);
    SecurityId id;
    if (!ParseSecurityText(args[0], id)) return UsageError(kSeriesUsage);
    Period period = ParsePeriodText(args[1]);
    if (period == kPeriodInvalid) return UsageError(kSeriesUsage);
    int flags = 0;
    if (!ParseAdjustOption(adjust, flags)) return UsageError(kSeriesUsage);
    long long days = 1, last = 0, multi = kDefaultMultiDay;
    if ((daysText && !ParseInteger(*daysText, 1, 1000, days)) || (lastText && !ParseInteger(*lastText, 1, 1 << 30, last)) ||
        (multiText && !ParseInteger(*multiText, 1, 1000, multi)))
        return UsageError(kSeriesUsage);

    std::string error;
    auto session = OpenSession(appDir, kSessionMarkets, error);
    if (!session) return Fail(error);
    StoreSeriesSource source(session->store(), session->paths(), static_cast<int>(multi));
    Series series;
    int delivered = static_cast<int>(days);
    if (!LoadSeries(source, id, period, series, flags, &delivered))
        return Fail("cannot load the series of " + args[0]);
    PrintSeriesCsv(series, period, static_cast<size_t>(last));
    return 0;
}

constexpr const char* kFieldsUsage = "fields [--appdir DIR] SECURITY";

int RunFields(Args& args) {
    std::string appDir = ResolveDir(args);
    if (args.size() != 1) return UsageError(kFieldsUsage);
    SecurityId id;
    if (!ParseSecurityText(args[0], id)) return UsageError(kFieldsUsage);
    std::string error;
    auto session = OpenSession(appDir, kSessionMarkets, error);
    if (!session) return Fail(error);
    if (!PrintQuoteFields(session->store(), id, "")) return Fail("unknown security " + args[0]);
    return 0;
}

constexpr const char* kGenUsage =
    "gen --out DIR [--securities N] [--days D] [--seed S] [--today YYYY-MM-DD] [--now HH:MM] "
    "[--five-minute-days N] [--one-minute-days N]";

int RunGen(Args& args) {
    DemoMarketOptions options;
    std::optional<std::string> out = args.option("out");
    std::optional<std::string> securities = args.option("securities");
    std::optional<std::string> days = args.option("days");
    std::optional<std::string> seed = args.option("seed");
    std::optional<std::string> today = args.option("today");
    std::optional<std::string> now = args.option("now");
    std::optional<std::string> fiveDays = args.option("five-minute-days");
    std::optional<std::string> oneDays = args.option("one-minute-days");
    if (!out || out->empty() || args.size() != 0) return UsageError(kGenUsage);
    options.outDir = *out;
    long long v = 0;
    if (securities) {
        if (!ParseInteger(*securities, 2, 8000, v)) return UsageError(kGenUsage);
        options.securities = static_cast<int>(v);
    }
    if (days) {
        if (!ParseInteger(*days, 1, 10000, v)) return UsageError(kGenUsage);
        options.days = static_cast<int>(v);
    }
    if (seed) {
        if (!ParseInteger(*seed, 0, INT64_MAX, v)) return UsageError(kGenUsage);
        options.seed = static_cast<uint64_t>(v);
    }
    if (fiveDays) {
        if (!ParseInteger(*fiveDays, 0, 250, v)) return UsageError(kGenUsage);
        options.fiveMinuteDays = static_cast<int>(v);
    }
    if (oneDays) {
        if (!ParseInteger(*oneDays, 0, 250, v)) return UsageError(kGenUsage);
        options.oneMinuteDays = static_cast<int>(v);
    }
    if (today) {
        StoreTime t = 0;
        if (!ParseStoreTime(*today, t) || today->size() != 10) {
            // A well-formed date whose trading hours the store time cannot hold is named as such.
            int y = 0, m = 0, d = 0;
            // Anything else (a month 13, a 30th of February) is a usage error.
            const bool wellFormed = today->size() == 10 &&
                                    std::sscanf(today->c_str(), "%4d-%2d-%2d", &y, &m, &d) == 3 && m >= 1 &&
                                    m <= 12 && d >= 1 && d <= 31;
            if (wellFormed && (y > 2036 || (y == 2036 && (m > 2 || (m == 2 && d > 4)))))
                return Fail("--today " + *today + ": beyond the last date the store time holds (2036-02-04)");
            return UsageError(kGenUsage);
        }
        if (StoreTime end = 0; !ParseStoreTime(*today + " 23:59:59", end))
            return Fail("--today " + *today + ": beyond the last date the store time holds (2036-02-04)");
        options.today = CivilFromDay(static_cast<int32_t>(StoreDay(t)));
    }
    if (now) {
        StoreTime t = 0;
        if (!ParseStoreTime("2000-01-01 " + *now, t)) return UsageError(kGenUsage);
        options.now = TimeOfDay(t);
    }
    auto started = std::chrono::steady_clock::now();
    DemoMarketSummary summary;
    std::string error;
    if (!GenerateDemoMarket(options, &summary, &error)) return Fail(error);
    // The demo installs the standard indicator library as base/common.fml.
    if (!InstallStandardLibrary(MakeSession(options.outDir, 0, SessionAccess::ReadWrite)->paths(), &error))
        return Fail(error);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("generated %d securities, %d trading days up to %s, %d ex-rights events, %lld ticks today, in %.1f s: %s\n",
                summary.securities, summary.tradingDays, FormatStoreTime("Y-M-D", summary.today).c_str(),
                summary.exRightsEvents, static_cast<long long>(summary.ticks), seconds, options.outDir.c_str());
    return 0;
}

CommandRegistration seriesCommand("series", kSeriesUsage, RunSeries,
                                  "Loads the series of one security in any period and prints its bars as CSV.");
CommandRegistration fieldsCommand("fields", kFieldsUsage, RunFields,
                                  "Prints every quote field of one security as the catalogue computes it.");
CommandRegistration genCommand("gen", kGenUsage, RunGen,
                               "Generates a demo market with history, ticks and base files into DIR.");

}  // namespace

void PrintSeriesCsv(const Series& series, Period period, size_t last) {
    std::printf("date,open,high,low,close,volume,amount\n");
    size_t from = last > 0 && series.size() > last ? series.size() - last : 0;
    for (size_t i = from; i < series.size(); ++i) {
        const KLineRecord& b = series.bars[i];
        std::printf("%s,%s,%s,%s,%s,%s,%s\n", SeriesTimeText(b.time, period).c_str(), FloatText(b.open).c_str(),
                    FloatText(b.high).c_str(), FloatText(b.low).c_str(), FloatText(b.close).c_str(),
                    FloatText(b.volume).c_str(), FloatText(b.amount).c_str());
    }
}

bool PrintQuoteFields(const MarketStore& store, const SecurityId& id, const std::string& indent) {
    auto record = std::make_unique<StockRecord>();
    if (!store.GetRecord(id, *record)) return false;
    int decimals = store.GetDecimals(id.market, record->entry.securityClass);
    for (int i = 0; i < kQuoteFieldCount; ++i) {
        QuoteCell cell = ComputeQuoteField(i, *record, decimals);
        std::printf("%s%s=%s\n", indent.c_str(), std::string(QuoteFieldName(i)).c_str(), cell.text.c_str());
    }
    return true;
}

}  // namespace tessaro::cli
