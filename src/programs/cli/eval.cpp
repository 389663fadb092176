// tessaro-cli eval: evaluates a formula over a security's series, or over bars from a CSV file,
// and prints its output lines as CSV.
//
//   tessaro-cli eval --appdir DIR SH600000 --period day [--adjust forward|backward|none] [--last N] 'FORMULA'
//   tessaro-cli eval --bars FILE.csv [--period day] [--last N] 'FORMULA'
//
// The header is "date,<line names>"; each bar is one row with its lines' values to four
// decimals, an empty cell where a line has no valid point. References reach the formulas of
// the application directory (with --appdir) or the built-in indicator library (with --bars).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "cli_parsing.h"
#include "cli_printing.h"
#include "command.h"
#include "formula/eval_data_source.h"
#include "formula/evaluator.h"
#include "formula/param_text.h"
#include "market/bars_csv.h"
#include "market/exrights_adjust.h"
#include "market/periods.h"
#include "market/security_registry.h"
#include "market/series_loader.h"
#include "platform/text.h"
#include "series_commands.h"

namespace tessaro::cli {
namespace {

constexpr const char* kUsage =
    "eval [--appdir DIR] SECURITY --period P [--adjust forward|backward|none] [--last N] [--type N] "
    "[--param NAME=DEFAULT]... 'FORMULA'\n"
    "       tessaro-cli eval --bars FILE.csv [--security SH600000] [--period P] [--last N] [--type N] "
    "[--param NAME=DEFAULT]... 'FORMULA'";

bool ReadFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream text;
    text << in.rdbuf();
    out = text.str();
    return !in.bad();
}

int RunEval(Args& args) {
    std::optional<std::string> appDirOption = args.option("appdir");
    std::optional<std::string> barsFile = args.option("bars");
    std::optional<std::string> periodText = args.option("period");
    std::optional<std::string> adjust = args.option("adjust");
    std::optional<std::string> lastText = args.option("last");
    std::optional<std::string> typeText = args.option("type");
    std::optional<std::string> securityText = args.option("security");

    FormulaRecord formula;
    formula.type = kFormulaSubPane;
    if (typeText) {
        long long t = 0;
        if (!ParseInteger(*typeText, 0, 5, t)) return Fail("--type must be 0 (选股), 1 (交易系统), 2, 3, 4 (技术指标) or 5 (五彩K线)");
        formula.type = static_cast<uint32_t>(t);
    }
    while (auto param = args.option("param")) {
        FormulaParam p;
        if (!ParseParamText(*param, p)) return Fail("bad --param '" + *param + "': NAME=DEFAULT");
        if (formula.params.size() >= static_cast<size_t>(kMaxFormulaParams)) return Fail("at most 64 parameters");
        formula.params.push_back(p);
    }
    long long last = 0;
    if (lastText && !ParseInteger(*lastText, 1, 1LL << 30, last)) return UsageError(kUsage);
    int flags = 0;
    if (!ParseAdjustOption(adjust, flags)) return UsageError(kUsage);
    const size_t wanted = barsFile ? 1 : 2;  // the security and the formula, or the formula alone
    if (args.positional().size() != wanted) return UsageError(kUsage);
    const std::string& text = args.positional().back();
    if (barsFile && appDirOption) return Fail("--bars and --appdir exclude each other");

    Series series;
    CodeEntry security;
    std::unique_ptr<Session> session;
    std::unique_ptr<StoreSeriesSource> source;
    std::unique_ptr<EvalDataSource> data;
    Period period = kPeriodDay;
    if (periodText) {
        period = ParsePeriodText(*periodText);
        if (period == kPeriodInvalid) return UsageError(kUsage);
    }

    std::string error;
    if (barsFile) {
        if (adjust) return Fail("--adjust needs --appdir: bars from a file are taken as they are");
        std::string csv;
        if (!ReadFile(*barsFile, csv)) return Fail("cannot read " + *barsFile);
        if (!ParseBarsCsv(csv, series, &error)) return Fail(*barsFile + ": " + error);
        series.period = period;
        if (!ParseSecurityText(AsciiUpper(securityText.value_or("SH600000")), security.id))
            return Fail("bad --security: market letters and code, e.g. SH600000");
        security.securityClass = ClassifyCode(security.id.codeText(), security.id.market);
        auto memory = std::make_unique<MemoryEvalData>();
        memory->AddSecurity(security, series);
        data = std::move(memory);
        // References reach the built-in indicator library.
        session = MakeSession(std::nullopt, kSessionFormulas, SessionAccess::ReadOnly, /*builtInFormulas=*/true);
        if (!StartSession(*session, error)) return Fail(error);
    } else {
        if (securityText) return UsageError(kUsage);
        if (!periodText) return Fail("--period is required with a security");
        session = OpenSession(ResolveDirOption(appDirOption), kSessionFormulas | kSessionMarkets, error);
        if (!session) return Fail(error);
        std::optional<CodeEntry> entry = session->store().FindByText(AsciiUpper(args.positional()[0]));
        if (!entry) return Fail("unknown security " + args.positional()[0]);
        security = *entry;
        source = std::make_unique<StoreSeriesSource>(session->store(), session->paths());
        if (!LoadSeries(*source, security.id, period, series, flags))
            return Fail("cannot load the series of " + args.positional()[0]);
        series.period = period;
        data = std::make_unique<StoreEvalData>(session->store(), *source);
    }

    formula.source = Utf8ToGbk(text);
    FormulaEvaluator evaluator(session->formulas(), *data);
    EvalRequest request;
    request.security = security;
    request.preloaded = &series;
    request.period = period;
    request.loadOptions = flags;
    EvalStatus status;
    std::unique_ptr<EvalResult> result = evaluator.CompileAndEvaluate(formula, request, status);
    if (status.failure == EvalFailure::kCompileError) {
        std::fprintf(stderr, "tessaro-cli: %s\n%s\n", status.message.c_str(),
                     MarkErrorRange(formula.source, status.errorPosition, status.errorLength).c_str());
        return 1;
    }
    if (!result)
        return Fail("the formula has no result for " + SecurityText(security.id) + " at this period: " +
                    std::string(EvalFailureName(status.failure)) + ": " + status.message);
    // A reference that cannot be answered leaves an empty line: the output would mislead.
    if (!status.ok()) return Fail(std::string(EvalFailureName(status.failure)) + ": " + status.message);
    PrintEvalResult(formula, *result, series, period, static_cast<size_t>(last));
    return 0;
}

CommandRegistration reg("eval", kUsage, RunEval,
                         "Evaluates a formula over a security's series (or bars from a CSV file) and prints its "
                         "output lines as CSV: \"date,<line names>\", one row per bar.");

// The cell of a line at bar i: four decimals, or empty outside its valid range.
std::string Cell(const OutputLine& line, int32_t i) {
    if (!line.valid(i)) return "";
    float v = line.points[static_cast<size_t>(i)].value;
    if (!std::isfinite(v)) return "";
    if (v == 0) v = 0;  // no "-0.0000"
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.4f", static_cast<double>(v));
    return buffer;
}

// CSV fields holding a comma or a quote are quoted.
std::string CsvField(const std::string& s) {
    if (s.find_first_of(",\"\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

}  // namespace

void PrintEvalResult(const FormulaRecord& formula, const EvalResult& result, const Series& series, Period period,
                     size_t last) {
    std::string header = "date";
    for (size_t k = 0; k < result.lineCount(); ++k)
        header += "," + CsvField(GbkToUtf8(k < formula.outputs.size() ? formula.lineDisplayName(k) : UnnamedLineName(k)));
    std::printf("%s\n", header.c_str());
    size_t from = last > 0 && series.size() > last ? series.size() - last : 0;
    for (size_t i = from; i < series.size(); ++i) {
        std::string row = SeriesTimeText(series.bars[i].time, period);
        for (const OutputLine& line : result.lines) row += "," + Cell(line, static_cast<int32_t>(i));
        std::printf("%s\n", row.c_str());
    }
}

}  // namespace tessaro::cli
