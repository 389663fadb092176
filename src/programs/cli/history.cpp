// tessaro-cli bars, bars-import, power: the local history files and the ex-rights file.
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/paths.h"
#include "cli_parsing.h"
#include "cli_printing.h"
#include "command.h"
#include "market/base_files.h"
#include "market/history.h"
#include "market/periods.h"
#include "platform/files.h"
#include "platform/store_time.h"

namespace tessaro::cli {
namespace {

// "day" / "fiv" / "min", a period keyword ("min1", "min5", "day") or 3, 4, 8; -1 otherwise.
int ParseHistoryPeriod(const std::string& text) {
    Period period = PeriodFromDirName(text);
    if (period == kPeriodInvalid) period = PeriodFromText(text);
    return PeriodDirName(period).empty() ? -1 : PeriodNumber(period);
}

bool ParseFloat(const std::string& text, float& out) {
    const char* first = text.data();
    const char* last = first + text.size();
    auto [end, ec] = std::from_chars(first, last, out);
    return ec == std::errc() && end == last;
}

std::vector<std::string> SplitCsv(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, ',')) fields.push_back(field);
    if (!line.empty() && line.back() == ',') fields.emplace_back();
    return fields;
}

constexpr const char* kBarsUsage = "bars [--appdir DIR] SECURITY day|fiv|min";

int RunBars(Args& args) {
    std::string appDir = ResolveDir(args);
    if (args.size() != 2) return UsageError(kBarsUsage);
    SecurityId id;
    if (!ParseSecurityText(args[0], id)) return UsageError(kBarsUsage);
    int period = ParseHistoryPeriod(args[1]);
    if (period < 0) return UsageError(kBarsUsage);
    AppPaths paths(appDir);
    std::string path = paths.historyFile(id, period);
    if (path.empty()) return Fail("no history file for " + args[0]);
    Series series;
    if (!LoadHistoryFile(path, period, series)) return Fail("cannot read " + path);
    const char* timeFormat = period == 8 ? "Y-M-D" : "Y-M-D H:N";
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
    int period = ParseHistoryPeriod(args[1]);
    if (period < 0) return UsageError(kImportUsage);
    std::ifstream file;
    std::istream* in = &std::cin;
    if (args[2] != "-") {
        file.open(args[2]);
        if (!file) return Fail("cannot open " + args[2]);
        in = &file;
    }
    std::vector<KLineRecord> bars;
    std::string line;
    int lineNumber = 0;
    while (std::getline(*in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.rfind("date,", 0) == 0) continue;
        std::vector<std::string> f = SplitCsv(line);
        KLineRecord bar;
        bool ok = f.size() == 7 && ParseStoreTime(f[0], bar.time) && ParseFloat(f[1], bar.open) &&
                  ParseFloat(f[2], bar.high) && ParseFloat(f[3], bar.low) && ParseFloat(f[4], bar.close) &&
                  ParseFloat(f[5], bar.volume) && ParseFloat(f[6], bar.amount);
        if (!ok) return Fail("line " + std::to_string(lineNumber) + ": expected date,open,high,low,close,volume,amount");
        bars.push_back(bar);
    }
    AppPaths paths(appDir);
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
    AppPaths paths(appDir);
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
