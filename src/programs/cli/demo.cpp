// tessaro-cli demo: shows what the core does on the demo market. The market is generated
// into the application directory on the first run and read from there afterwards.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli_parsing.h"
#include "cli_session.h"
#include "command.h"
#include "formula/eval_data_source.h"
#include "formula/evaluator.h"
#include "formula/formula_set.h"
#include "formula/standard_library.h"
#include "foundation.h"
#include "market/demo_market.h"
#include "market/quote_fields.h"
#include "platform/security_id.h"
#include "market/series_loader.h"
#include "platform/files.h"
#include "platform/store_time.h"
#include "series_commands.h"

namespace tessaro::cli {
namespace {

constexpr const char* kDemoUsage = "demo [--appdir DIR]";

// The securities of the quote list: the two exchanges' indexes and a few A shares.
constexpr const char* kQuoteListSecurities[] = {"SH000001", "SZ399001", "SH600000", "SH601000", "SZ000001",
                                                "SZ300000"};
// Its columns, the most used of the quote list.
constexpr int kQuoteListColumns[] = {kFieldCode,   kFieldName,   kFieldLast,     kFieldChange, kFieldChangePct,
                                     kFieldVolume, kFieldAmount, kFieldTurnover, kFieldVolumeRatio};

constexpr const char* kSeriesSecurity = "SH600000";
constexpr size_t kWeeklyBars = 8;
constexpr size_t kIndicatorBars = 5;

// Columns a UTF-8 text takes on a terminal: CJK and full-width characters take two.
size_t DisplayWidth(std::string_view text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        int length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
        uint32_t cp = c;
        if (length > 1 && i + static_cast<size_t>(length) <= text.size()) {
            cp = c & (0x7Fu >> length);
            for (int k = 1; k < length; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        }
        width += cp >= 0x1100 && (cp <= 0x115F || (cp >= 0x2E80 && cp <= 0xA4CF) || (cp >= 0xAC00 && cp <= 0xD7A3) ||
                                  (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) ||
                                  (cp >= 0xFF00 && cp <= 0xFF60) || (cp >= 0xFFE0 && cp <= 0xFFE6))
                     ? 2
                     : 1;
        i += static_cast<size_t>(length);
    }
    return width;
}

std::string Pad(const std::string& text, size_t width, bool right) {
    size_t w = DisplayWidth(text);
    std::string fill(w < width ? width - w : 0, ' ');
    return right ? fill + text : text + fill;
}

// The market of the session's directory, generated first when the directory has none. A
// generation puts the market in place whole at its end, so a directory without all three
// market files (a generation cut short, or a bare directory) is generated afresh.
bool EnsureDemoMarket(const AppPaths& paths, std::string& error) {
    if (FileExists(paths.marketFile(kMarketSH)) && FileExists(paths.marketFile(kMarketSZ)) &&
        FileExists(paths.marketFile(kMarketSystem))) {
        std::printf("Demo market: reading the market in %s\n\n", paths.appDir().c_str());
        return true;
    }
    DemoMarketOptions options;
    options.outDir = paths.appDir();
    DemoMarketSummary summary;
    auto started = std::chrono::steady_clock::now();
    if (!GenerateDemoMarket(options, &summary, &error)) {
        error = "cannot generate the demo market in " + paths.appDir() + ": " + error;
        return false;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("Demo market: generated %d securities, %d trading days up to %s, in %.1f s, in %s\n\n",
                summary.securities, summary.tradingDays, FormatStoreTime("Y-M-D", summary.today).c_str(), seconds,
                paths.appDir().c_str());
    return true;
}

void PrintQuoteList(const MarketStore& store) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> header;
    for (int field : kQuoteListColumns) header.emplace_back(QuoteFieldName(field));
    rows.push_back(header);
    auto record = std::make_unique<StockRecord>();
    for (const char* text : kQuoteListSecurities) {
        SecurityId id;
        if (!ParseSecurityText(text, id) || !store.GetRecord(id, *record)) continue;
        int decimals = store.GetDecimals(id.market, record->entry.securityClass);
        std::vector<std::string> row;
        for (int field : kQuoteListColumns) {
            // With both exchanges in one list the code carries its market letters
            // (SH000001 is the index, SZ000001 a share).
            row.push_back(field == kFieldCode ? SecurityText(id) : ComputeQuoteField(field, *record, decimals).text);
        }
        rows.push_back(row);
    }
    std::vector<size_t> widths(std::size(kQuoteListColumns), 0);
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    std::printf("Quote list\n");
    if (rows.size() == 1) {
        std::printf("  (none of the listed securities is in this market)\n");
        return;
    }
    for (const auto& row : rows) {
        std::string line = " ";
        for (size_t c = 0; c < row.size(); ++c) {
            // The code and the name read from the left, the figures line up on the right.
            bool right = kQuoteListColumns[c] != kFieldCode && kQuoteListColumns[c] != kFieldName;
            line += ' ';
            line += Pad(row[c], widths[c], right);
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        std::printf("%s\n", line.c_str());
    }
}

bool PrintWeeklyBars(const Session& session, std::string& error) {
    SecurityId id;
    ParseSecurityText(kSeriesSecurity, id);
    StoreSeriesSource source(session.store(), session.paths());
    Series series;
    std::printf("Weekly bars of %s, forward adjusted, the last %zu\n", kSeriesSecurity, kWeeklyBars);
    auto record = std::make_unique<StockRecord>();
    if (!session.store().GetRecord(id, *record)) {
        std::printf("  (%s is not in this market)\n", kSeriesSecurity);
        return true;
    }
    if (!LoadSeries(source, id, kPeriodWeek, series, 0)) {
        error = std::string("cannot load the weekly series of ") + kSeriesSecurity;
        return false;
    }
    PrintSeriesCsv(series, kPeriodWeek, kWeeklyBars);
    return true;
}

// The standard indicator library as base/common.fml, written when the directory has none.
bool EnsureStandardLibrary(const AppPaths& paths, std::string& error) {
    if (FileExists(paths.formulaFile(kSourceCommon))) return true;
    if (InstallStandardLibrary(paths, &error)) return true;
    error = "cannot install the indicator library: " + error;
    return false;
}

// MACD of the series security from the formula set, the way a K-line pane draws it.
bool PrintDailyMacd(const Session& session, std::string& error) {
    const FormulaSet& set = session.formulas();
    std::printf("Daily MACD of %s from the formula set (%zu formulas), forward adjusted, the last %zu bars\n",
                kSeriesSecurity, set.Size(), kIndicatorBars);
    std::optional<FormulaRecord> macd = set.Find(kFormulaSubPane, "MACD");
    std::optional<CodeEntry> security = session.store().FindByText(kSeriesSecurity);
    if (!macd || !security) {
        std::printf("  (%s)\n", macd ? "the security is not in this market" : "no MACD in the formula set");
        return true;
    }
    StoreSeriesSource source(session.store(), session.paths());
    Series series;
    if (!LoadSeries(source, security->id, kPeriodDay, series, 0)) {
        error = std::string("cannot load the daily series of ") + kSeriesSecurity;
        return false;
    }
    StoreEvalData data(session.store(), source);
    FormulaEvaluator evaluator(set, data);
    std::unique_ptr<EvalResult> result = evaluator.Evaluate(*macd, *security, &series, kPeriodDay, 0);
    if (!result) {
        error = "MACD gave no result";
        return false;
    }
    PrintEvalResult(*macd, *result, series, kPeriodDay, kIndicatorBars);
    return true;
}

int RunDemo(Args& args) {
    const std::string appDir = ResolveDir(args);
    if (args.size() != 0) return UsageError(kDemoUsage);
    std::printf("Tessaro demo\n\n");
    std::string error;
    {
        // The first run writes the market and the indicator library; nothing else is opened.
        std::unique_ptr<Session> writer = MakeSession(appDir, 0, SessionAccess::ReadWrite);
        if (!EnsureDemoMarket(writer->paths(), error)) return Fail(error);
        if (!EnsureStandardLibrary(writer->paths(), error)) return Fail(error);
    }
    // From here on the demo only reads.
    std::unique_ptr<Session> session = MakeSession(appDir, kSessionFormulas | kSessionMarkets);
    if (!PrintFoundationDemo(*session, error)) return Fail(error);
    std::printf("\n");
    PrintQuoteList(session->store());
    std::printf("\n");
    if (!PrintWeeklyBars(*session, error)) return Fail(error);
    std::printf("\n");
    if (!PrintDailyMacd(*session, error)) return Fail(error);
    return 0;
}

CommandRegistration demo("demo", kDemoUsage, RunDemo,
                         "Generates the demo market into the application directory on the first run, then shows "
                         "the start-up stages, a quote list and the daily MACD of a demo security.");

}  // namespace
}  // namespace tessaro::cli
