// tessaro-cli bars, bars-import, power: the local history files and the ex-rights file.
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/paths.h"
#include "cli_parsing.h"
#include "cli_printing.h"
#include "cli_session.h"
#include "command.h"
#include "market/bars_csv.h"
#include "market/base_files.h"
#include "market/history.h"
#include "market/periods.h"
#include "platform/files.h"
#include "platform/store_time.h"

namespace tessaro::cli {
namespace {

constexpr const char* kBarsUsage = "bars [--appdir DIR] SECURITY day|fiv|min";

int RunBars(Args& args) {
    std::string appDir = ResolveDir(args);
    if (args.size() != 2) return UsageError(kBarsUsage);
    SecurityId id;
    if (!ParseSecurityText(args[0], id)) return UsageError(kBarsUsage);
    const Period period = ParseHistoryPeriod(args[1]);
    if (period == kPeriodInvalid) return UsageError(kBarsUsage);
    std::unique_ptr<Session> session = MakeSession(appDir, 0);  // reads one file
    const AppPaths& paths = session->paths();
    std::string path = paths.historyFile(id, period);
    if (path.empty()) return Fail("no history file for " + args[0]);
    Series series;
    std::string error;
    if (!LoadHistoryFile(path, period, series, {}, &error)) return Fail(error);
    const char* timeFormat = period == kPeriodDay ? "Y-M-D" : "Y-M-D H:N";
    std::printf("date,open,high,low,close,volume,amount\n");
    for (const KLineRecord& b : series.bars) {
        std::printf("%s,%s,%s,%s,%s,%s,%s\n", FormatStoreTime(timeFormat, b.time).c_str(), FloatText(b.open).c_str(),
                    FloatText(b.high).c_str(), FloatText(b.low).c_str(), FloatText(b.close).c_str(),
                    FloatText(b.volume).c_str(), FloatText(b.amount).c_str());
    }
    return 0;
}

constexpr const char* kImportUsage = "bars-import [--appdir DIR] SECURITY day|fiv|min CSVFILE|-";

// Reads bars in the CSV form `bars` prints and stores them with WriteHistory.
int RunBarsImport(Args& args) {
    std::string appDir = ResolveDir(args);
    if (args.size() != 3) return UsageError(kImportUsage);
    SecurityId id;
    if (!ParseSecurityText(args[0], id)) return UsageError(kImportUsage);
    const Period period = ParseHistoryPeriod(args[1]);
    if (period == kPeriodInvalid) return UsageError(kImportUsage);
    std::string text;
    if (args[2] == "-") {
        std::ostringstream all;
        all << std::cin.rdbuf();
        text = all.str();
    } else {
        std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(args[2]);
        if (!bytes) return Fail("cannot open " + args[2]);
        text.assign(bytes->begin(), bytes->end());
    }
    // Every line is checked before anything is stored: one bad line stores nothing.
    Series parsed;
    std::string error;
    BarsCsvOptions options;
    options.increasingDates = false;  // the writer sorts them
    if (!ParseBarsCsv(text, parsed, &error, options)) return Fail(error);
    const std::vector<KLineRecord>& bars = parsed.bars;
    // Writes one history file under its own lock; nothing else of the directory is opened.
    std::unique_ptr<Session> session = MakeSession(appDir, 0, SessionAccess::ReadWrite);
    const AppPaths& paths = session->paths();
    if (!WriteHistory(paths, id, period, bars, true)) return Fail("cannot write " + paths.historyFile(id, period));
    std::printf("%zu bars written to %s\n", bars.size(), paths.historyFile(id, period).c_str());
    return 0;
}

constexpr const char* kPowerUsage = "power [--appdir DIR] SECURITY";

int RunPower(Args& args) {
    std::string appDir = ResolveDir(args);
    if (args.size() != 1) return UsageError(kPowerUsage);
    SecurityId id;
    if (!ParseSecurityText(args[0], id)) return UsageError(kPowerUsage);
    std::unique_ptr<Session> session = MakeSession(appDir, 0);
    const AppPaths& paths = session->paths();
    std::string path = paths.powerFile();
    std::vector<ExRightsRecord> records;
    if (FileExists(path)) {
        auto bytes = ReadWholeFile(path);
        if (!bytes) return Fail("cannot read " + path);
        PowerFile file = ParsePowerFile(*bytes);
        if (!file.valid) return Fail(path + " is not an ex-rights file");
        if (file.truncated) std::fprintf(stderr, "tessaro-cli: %s ends in a partial record (ignored)\n", path.c_str());
        auto it = file.exRights.find(id);
        if (it != file.exRights.end()) records = it->second;
    }
    std::printf("date,bonus,rights,rights_price,dividend\n");
    for (const ExRightsRecord& r : records) {
        std::printf("%s,%s,%s,%s,%s\n", FormatStoreTime("Y-M-D", StoreTimeFromUnix(r.exDate)).c_str(),
                    FloatText(r.bonusShares).c_str(), FloatText(r.rightsShares).c_str(),
                    FloatText(r.rightsPrice).c_str(), FloatText(r.cashDividend).c_str());
    }
    return 0;
}

CommandRegistration barsCommand("bars", kBarsUsage, RunBars, "Prints the bars of one history file as CSV.");
CommandRegistration importCommand("bars-import", kImportUsage, RunBarsImport,
                                  "Stores bars in the CSV form that bars prints into a history file.");
CommandRegistration powerCommand("power", kPowerUsage, RunPower,
                                 "Prints the ex-rights records of one security from base/Power.pwr.");

}  // namespace
}  // namespace tessaro::cli
