// tessaro-cli screen: screens the securities of a range with a formula or a stored
// screening formula and prints the hits.
//
//   tessaro-cli screen --appdir DIR 'FORMULA' | --formula NAME [--param N=V]... [--period day]
//       [--adjust forward|backward|none] [--range 沪深A股,...] [--line NAME]
//       [--from YYYY-MM-DD --to YYYY-MM-DD] [--into BLOCK] [--threads N]
//
// One line per hit, "security,name", in the order of the range, then
// "screened N hits M in T ms" (N securities examined, T the wall time of the run).
// Progress goes to stderr when it is a terminal. With --into the hits replace the
// members of that block (created when missing) and its message goes to stderr.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli_parsing.h"
#include "command.h"
#include "formula/compiler.h"
#include "formula/eval_data_source.h"
#include "formula/formula_set.h"
#include "formula/param_text.h"
#include "market/market_store.h"
#include "market/series_loader.h"
#include "platform/store_time.h"
#include "platform/text.h"
#include "session/session.h"
#include "tools/screening/screening.h"

namespace tessaro::cli {
namespace {

constexpr const char* kUsage =
    "screen [--appdir DIR] 'FORMULA' | --formula NAME [--param N=V]... [--period day] "
    "[--adjust forward|backward|none] [--range 沪深A股,...] [--line NAME] [--from YYYY-MM-DD --to YYYY-MM-DD] "
    "[--into BLOCK] [--threads N] [--repeat N]";
constexpr const char* kSummary =
    "Screens the securities of the range (the blocks named, each security once; the saved\n"
    "range, else 沪深A股, when --range is absent) and prints \"security,name\" per hit in range\n"
    "order, then \"screened N hits M in T ms\". A hit is a non-zero condition line at the last\n"
    "bar, or at any bar from --from to --to. --formula takes a stored screening formula or\n"
    "combined condition (then another type) by name; --param sets a parameter by name.\n"
    "--into BLOCK writes the hits into that block. --threads 0 (the default) uses every core. --repeat N screens N times in\n"
    "the process (for timing: the first run is cold, the later ones warm); each run prints its\n"
    "summary, the hits are printed and saved from the last.";

bool ParseDay(const std::string& text, StoreTime& out) {
    return text.size() == 10 && ParseStoreTime(text, out);
}

std::optional<FormulaRecord> FindStored(const FormulaSet& set, const std::string& nameGbk) {
    for (uint32_t type : {0u, 7u, 1u, 2u, 3u, 4u, 5u})
        if (auto f = set.Find(type, nameGbk)) return f;
    return std::nullopt;
}

int RunScreen(Args& args) {
    std::optional<std::string> appDir = args.option("appdir");
    std::optional<std::string> formulaName = args.option("formula");
    std::optional<std::string> periodText = args.option("period");
    std::optional<std::string> adjust = args.option("adjust");
    std::optional<std::string> rangeText = args.option("range");
    std::optional<std::string> lineName = args.option("line");
    std::optional<std::string> fromText = args.option("from");
    std::optional<std::string> toText = args.option("to");
    std::optional<std::string> into = args.option("into");
    std::optional<std::string> threadsText = args.option("threads");
    std::optional<std::string> repeatText = args.option("repeat");
    std::vector<FormulaParam> params;
    while (auto p = args.option("param")) {
        FormulaParam v;
        if (!ParseParamText(*p, v)) return Fail("bad --param '" + *p + "': NAME=VALUE");
        if (params.size() >= kScreeningMaxParams) return Fail("at most 64 parameters");
        params.push_back(v);
    }
    if (args.size() != (formulaName ? 0u : 1u)) return UsageError(kUsage);

    ScreeningRequest request;
    request.period = kPeriodDay;
    if (periodText) {
        const Period period = ParsePeriodText(*periodText);
        if (period == kPeriodInvalid) return UsageError(kUsage);
        request.period = period;
    }
    if (!ParseAdjustOption(adjust, request.loadOptions)) return UsageError(kUsage);
    if (fromText.has_value() != toText.has_value()) return Fail("--from and --to go together");
    if (fromText) {
        if (!ParseDay(*fromText, request.from) || !ParseDay(*toText, request.to))
            return Fail("bad date: YYYY-MM-DD");
        if (request.to < request.from) return Fail("--to lies before --from");
    }
    long long threads = 0;
    if (threadsText && !ParseInteger(*threadsText, 0, 256, threads)) return UsageError(kUsage);
    request.threads = static_cast<unsigned>(threads);
    long long repeat = 1;
    if (repeatText && !ParseInteger(*repeatText, 1, 1000, repeat)) return UsageError(kUsage);

    SessionOptions options;
    options.appDir = appDir;
    options.access = into ? SessionAccess::ReadWrite : SessionAccess::ReadOnly;
    options.data = kSessionAll;
    options.requireMarket = true;
    Session session(options);
    if (!session.Start()) return Fail(session.error());

    // The formula: stored by name, or the text compiled as a screening formula.
    FormulaRecord formula;
    if (formulaName) {
        std::optional<FormulaRecord> found = FindStored(session.formulas(), Utf8ToGbk(*formulaName));
        if (!found) return Fail("no formula named " + *formulaName);
        formula = std::move(*found);
        std::vector<float> values;
        for (const FormulaParam& p : formula.params) values.push_back(p.defaultValue);
        for (const FormulaParam& v : params) {
            size_t k = 0;
            while (k < formula.params.size() && !EqualsNoCase(formula.params[k].nameText(), v.nameText())) ++k;
            if (k == formula.params.size())
                return Fail(*formulaName + " has no parameter " + GbkToUtf8(v.nameText()));
            values[k] = v.defaultValue;
        }
        formula = WithParameters(formula, values);
    } else {
        formula.type = kFormulaSelection;
        formula.setName("SCREEN");
        formula.params = params;
        formula.source = Utf8ToGbk(args[0]);
        try {
            CompileOptions compile;
            compile.lookup = session.formulas().CompilerLookup();
            CompileFormula(formula, compile);
        } catch (const CompileError& e) {
            return Fail(e.displayUtf8());
        }
    }
    if (lineName) {
        const std::string wanted = Utf8ToGbk(*lineName);
        size_t k = 0;
        while (k < formula.outputs.size() && !EqualsNoCase(formula.lineDisplayName(k), wanted)) ++k;
        if (k == formula.outputs.size()) return Fail("the formula has no line " + *lineName);
        request.line = k;
    }
    if (formula.periodDisabled(request.period)) return Fail("the formula does not run at this period");
    request.formula = formula;

    // The range.
    const std::string range = rangeText ? Utf8ToGbk(*rangeText) : LoadScreeningRange(session.settingsStore());
    std::vector<std::string> unknown;
    const std::vector<std::string> names = SplitScreeningRange(range);
    std::vector<SecurityId> ids = ScreeningSecurities(session.blocks(), names, &unknown);
    if (!unknown.empty()) return Fail("no block named " + GbkToUtf8(unknown.front()));
    std::vector<CodeEntry> securities;
    securities.reserve(ids.size());
    for (const SecurityId& id : ids)
        if (auto entry = session.store().GetCodeEntry(id)) securities.push_back(*entry);

    StoreSeriesSource source(session.store(), session.paths());
    const BlockSet& blocks = session.blocks();
    StoreEvalData data(session.store(), source, [&blocks](const CodeEntry& s, std::string_view category) {
        return blocks.CategoryIndex(s.id, category);
    });

    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    std::atomic<bool> running{true};
    std::vector<SecurityId> hits;
    ScreeningOutcome outcome;
    for (long long run = 1; run <= repeat; ++run) {
        const bool last = run == repeat;
        hits.clear();
        int shown = -1;
        const auto start = std::chrono::steady_clock::now();
        outcome = RunScreening(session.formulas(), data, request, securities, running, [&](const ScreeningRecord& r) {
            if (r.hit) {
                hits.push_back(r.security.id);
                if (last)
                    std::printf("%s,%s\n", SecurityText(r.security.id).c_str(),
                                GbkToUtf8(r.security.nameText()).c_str());
            }
            if (terminal && r.position != shown) {
                shown = r.position;
                std::fprintf(stderr, "\r%3d%%", shown);
            }
        });
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        if (terminal && shown >= 0) std::fprintf(stderr, "\r    \r");
        std::printf("screened %zu hits %zu in %lld ms\n", outcome.examined, outcome.hits,
                    static_cast<long long>(ms.count()));
        std::fflush(stdout);
    }

    int status = 0;
    if (into) {
        ScreeningFinish finish = FinishScreening(session.blocks(), Utf8ToGbk(*into), hits, outcome.stopped);
        std::fprintf(stderr, "%s\n", finish.message.c_str());
        if (!finish.saved) status = 1;
    }
    if (!session.Close() && status == 0) return Fail("cannot write the market files back");
    return status;
}

CommandRegistration reg("screen", kUsage, RunScreen, kSummary);

}  // namespace
}  // namespace tessaro::cli
