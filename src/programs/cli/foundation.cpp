// tessaro-cli path, classify, initials: the application's paths, the class of a
// code and the pinyin initials of a name.
#include "foundation.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_dir.h"
#include "app/paths.h"
#include "app/settings.h"
#include "cli_parsing.h"
#include "cli_session.h"
#include "command.h"
#include "formula/formula_set.h"
#include "market/security_registry.h"
#include "platform/settings_store.h"
#include "platform/text.h"

namespace tessaro::cli {
namespace {

void PrintLine(const std::string& s) { std::printf("%s\n", s.c_str()); }


struct PathKind {
    const char* name;
    const char* args;  // "", "MK", "SEC", "SEC PER", "MK PER", "N", "NAME"
    std::function<std::string(const AppPaths&, const std::vector<std::string>&, std::string& error)> build;
};

bool Market(const std::string& text, MarketCode& m, std::string& error) {
    m = MarketFromLetters(text);
    if (m == 0 || text.size() != 2) {
        error = "unknown market '" + text + "' (SH, SZ or $$)";
        return false;
    }
    return true;
}

bool Security(const std::string& text, SecurityId& id, std::string& error) {
    if (!ParseSecurityText(text, id)) {
        error = "not a security: '" + text + "' (market letters and code, e.g. SH600000)";
        return false;
    }
    return true;
}

bool HistoryPeriod(const std::string& text, Period& period, std::string& error) {
    period = ParseHistoryPeriod(text);
    if (period == kPeriodInvalid) {
        error = "no files for period '" + text + "' (day, fiv or min)";
        return false;
    }
    return true;
}

using Fixed = std::string (AppPaths::*)() const;
PathKind FixedKind(const char* name, Fixed f) {
    return {name, "", [f](const AppPaths& p, const std::vector<std::string>&, std::string&) { return (p.*f)(); }};
}

const std::vector<PathKind>& PathKinds() {
    static const std::vector<PathKind> kinds = {
        {"appdir", "", [](const AppPaths& p, const std::vector<std::string>&, std::string&) { return p.appDir(); }},
        {"market", "MK",
         [](const AppPaths& p, const std::vector<std::string>& a, std::string& e) {
             MarketCode m;
             return Market(a[0], m, e) ? p.marketDir(m) : std::string();
         }},
        {"stkinfo", "MK",
         [](const AppPaths& p, const std::vector<std::string>& a, std::string& e) {
             MarketCode m;
             return Market(a[0], m, e) ? p.marketFile(m) : std::string();
         }},
        {"period", "MK PER",
         [](const AppPaths& p, const std::vector<std::string>& a, std::string& e) {
             MarketCode m;
             Period per;
             return Market(a[0], m, e) && HistoryPeriod(a[1], per, e) ? p.periodDir(m, per) : std::string();
         }},
        {"history", "SEC PER",
         [](const AppPaths& p, const std::vector<std::string>& a, std::string& e) {
             SecurityId id;
             Period per;
             return Security(a[0], id, e) && HistoryPeriod(a[1], per, e) ? p.historyFile(id, per) : std::string();
         }},
        {"exdata", "MK",
         [](const AppPaths& p, const std::vector<std::string>& a, std::string& e) {
             MarketCode m;
             return Market(a[0], m, e) ? p.exdataDir(m) : std::string();
         }},
        {"exd", "SEC",
         [](const AppPaths& p, const std::vector<std::string>& a, std::string& e) {
             SecurityId id;
             return Security(a[0], id, e) ? p.exdataFile(id) : std::string();
         }},
        {"f10", "MK",
         [](const AppPaths& p, const std::vector<std::string>& a, std::string& e) {
             MarketCode m;
             return Market(a[0], m, e) ? p.f10Dir(m) : std::string();
         }},
        {"note", "MK",
         [](const AppPaths& p, const std::vector<std::string>& a, std::string& e) {
             MarketCode m;
             return Market(a[0], m, e) ? p.noteDir(m) : std::string();
         }},
        {"drawing", "SEC",
         [](const AppPaths& p, const std::vector<std::string>& a, std::string& e) {
             SecurityId id;
             return Security(a[0], id, e) ? p.drawingFile(id) : std::string();
         }},
        {"newstock", "SEC",
         [](const AppPaths& p, const std::vector<std::string>& a, std::string& e) {
             SecurityId id;
             return Security(a[0], id, e) ? p.newStockFile(id) : std::string();
         }},
        FixedKind("daydown", &AppPaths::dayDownFile),
        FixedKind("min5down", &AppPaths::min5DownFile),
        FixedKind("base", &AppPaths::baseDir),
        {"formula", "N",
         [](const AppPaths& p, const std::vector<std::string>& a, std::string& e) {
             std::string f = a[0].size() == 1 ? p.formulaFile(a[0][0] - '0') : std::string();
             if (f.empty()) e = "formula source '" + a[0] + "' is not 0, 1 or 2";
             return f;
         }},
        FixedKind("alarm", &AppPaths::alarmFile),
        FixedKind("power", &AppPaths::powerFile),
        FixedKind("finance", &AppPaths::financeFile),
        FixedKind("gbbg", &AppPaths::capitalChangeFile),
        FixedKind("duoyin", &AppPaths::polyphonicFile),
        FixedKind("srvlist", &AppPaths::serverListFile),
        FixedKind("scrollmessage", &AppPaths::scrollMessageFile),
        FixedKind("cover", &AppPaths::coverFile),
        FixedKind("block", &AppPaths::blockDir),
        FixedKind("blkini", &AppPaths::blockIni),
        FixedKind("icombo", &AppPaths::indicatorComboDir),
        FixedKind("invest", &AppPaths::investDir),
        {"inv", "NAME",
         [](const AppPaths& p, const std::vector<std::string>& a, std::string& e) {
             std::string f = p.investFile(a[0]);
             if (f.empty()) e = "not a usable account name: '" + a[0] + "'";
             return f;
         }},
    };
    return kinds;
}

size_t ArgCount(const char* argumentNames) {
    std::string s(argumentNames);
    if (s.empty()) return 0;
    size_t n = 1;
    for (char c : s) n += c == ' ';
    return n;
}

constexpr const char* kPathUsage = "path [--appdir DIR] KIND [ARGS] (KIND list: path --kinds; whole table: path table)";

int RunPath(Args& args) {
    std::string dir = ResolveDir(args);
    std::unique_ptr<Session> session = MakeSession(dir, 0);  // only its paths
    const AppPaths& paths = session->paths();
    const std::vector<std::string>& pos = args.positional();
    if (args.size() == 1 && pos[0] == "--kinds") {
        for (const PathKind& k : PathKinds()) std::printf("%s %s\n", k.name, k.args);
        return 0;
    }
    if (pos.empty()) return UsageError(kPathUsage);
    if (pos[0] == "table") {
        for (const PathKind& k : PathKinds())
            if (*k.args == 0) std::printf("%-14s %s\n", k.name, k.build(paths, {}, dir).c_str());
        return 0;
    }
    for (const PathKind& k : PathKinds()) {
        if (pos[0] != k.name) continue;
        if (pos.size() - 1 != ArgCount(k.args))
            return UsageError(std::string("path [--appdir DIR] ") + k.name + (*k.args ? " " : "") + k.args);
        std::string error;
        std::string p = k.build(paths, std::vector<std::string>(pos.begin() + 1, pos.end()), error);
        if (p.empty()) return Fail(error.empty() ? "no such path" : error);
        PrintLine(p);
        return 0;
    }
    return Fail("unknown path kind '" + pos[0] + "' (see: tessaro-cli path --kinds)");
}

// The decimals of a class 0 security come from the market's "defdec".
std::string ClassLine(const SecurityId& id, const SettingsStore& store) {
    SecurityClass cls = ClassifyCode(id.codeText(), id.market);
    int decimals = PriceDecimals(id.market, cls, ReadDefaultDecimals(store, id.market));
    return "class=" + std::to_string(cls) + " decimals=" + std::to_string(decimals);
}

int RunClassify(Args& args) {
    constexpr const char* usage = "classify SECURITY... (e.g. classify SH580001)";
    if (args.size() == 0) return UsageError(usage);
    // The user's settings file, read only.
    SessionOptions options;
    options.data = 0;
    options.settings = SessionSettings::File;
    Session session(std::move(options));
    const SettingsStore& store = session.settingsStore();
    int status = 0;
    for (const std::string& text : args.positional()) {
        SecurityId id;
        if (!ParseSecurityText(text, id)) {
            status = Fail("not a security: '" + text + "' (market letters and code, e.g. SH600000)");
            continue;
        }
        std::string line = ClassLine(id, store);
        if (args.size() > 1) line = SecurityText(id) + " " + line;
        PrintLine(line);
    }
    return status;
}

// The first candidate of each slot; a polyphonic slot shows all its candidates in brackets.
std::string InitialsText(const InitialsString& in) {
    std::string out;
    for (int i = 0; i < in.usedSlots(); ++i) {
        std::string_view c = in.candidates(i);
        if (c.empty())
            out += '?';
        else if (c.size() == 1)
            out += c[0];
        else
            out += "[" + std::string(c) + "]";
    }
    return out;
}

int RunInitials(Args& args) {
    constexpr const char* usage = "initials [--appdir DIR | --duoyin FILE] NAME... (UTF-8 names)";
    auto duoyin = args.option("duoyin");
    auto appdir = args.option("appdir");
    if (args.size() == 0) return UsageError(usage);
    PolyphonicTable table;
    if (duoyin) {
        if (!table.Load(*duoyin)) return Fail("cannot read " + *duoyin);
    } else if (appdir) {
        table.Load(MakeSession(*appdir, 0)->paths().polyphonicFile());  // missing: every character gets one letter
    }
    for (const std::string& name : args.positional())
        PrintLine(InitialsText(NameToInitials(Utf8ToGbk(name), &table)));
    return 0;
}

CommandRegistration pathCommand("path", kPathUsage, RunPath,
                                "Prints the path of one data file or directory of the application directory.");
CommandRegistration classifyCommand("classify", "classify SECURITY... (e.g. classify SH580001)", RunClassify,
                                    "Prints the security class of each code.");
CommandRegistration initialsCommand("initials", "initials [--appdir DIR | --duoyin FILE] NAME...", RunInitials,
                                    "Prints the pinyin initials of each name.");

}  // namespace

bool PrintFoundationDemo(Session& session, std::string& error) {
    const AppPaths& paths = session.paths();
    std::printf("Paths under %s\n", paths.appDir().c_str());
    const SecurityId sample = MakeSecurityId(kMarketSH, "600000");
    std::string none;
    for (const PathKind& k : PathKinds()) {
        std::string p;
        std::string_view args(k.args);
        if (args.empty())
            p = k.build(paths, {}, none);
        else if (args == "MK")
            p = k.build(paths, {"SH"}, none);
        else if (args == "SEC")
            p = k.build(paths, {SecurityText(sample)}, none);
        else if (args == "SEC PER" || args == "MK PER")
            p = k.build(paths, {args == "SEC PER" ? SecurityText(sample) : "SH", "day"}, none);
        else if (args == "N")
            p = k.build(paths, {"0"}, none);
        else if (args == "NAME")
            p = k.build(paths, {"demo"}, none);
        std::printf("  %-14s %s\n", k.name, p.c_str());
    }

    std::printf("\nClasses and price decimals\n");
    const SettingsStore& defaults = session.settingsStore();  // built-in "defdec" until the start
    for (const char* text : {"SH000001", "SH600000", "SH900901", "SH510050", "SH010107", "SH580001",
                             "SH700000", "SZ399001", "SZ000001", "SZ300001", "SZ200002", "SZ184688",
                             "SZ031001", "$$999999"}) {
        SecurityId id;
        ParseSecurityText(text, id);
        std::printf("  %-10s %s\n", text, ClassLine(id, defaults).c_str());
    }

    std::printf("\nStart-up stages\n");
    // What a stage loaded is shown when the next one begins.
    auto progress = [&session](StartupStage stage, std::string_view text) {
        if (stage == StartupStage::Settings && session.hasFormulas())
            std::printf("    %zu formulas: the internal indicators and base/common.fml, download.fml, user.fml\n",
                        session.formulas().Size());
        if (stage == StartupStage::Markets) {
            const SystemSettings& settings = session.settings();
            std::printf("    scheme %s, %d trading minutes, K-line panes %s and %s, %zu polyphonic characters\n",
                        GbkToUtf8(FieldText(settings.scheme().name)).c_str(), settings.tradingMinutes(),
                        std::string(settings.kLinePanes[0].name(0)).c_str(),
                        std::string(settings.kLinePanes[1].name(0)).c_str(), session.polyphonic().size());
        }
        std::printf("  %.*s\n", static_cast<int>(text.size()), text.data());
    };
    if (!StartSession(session, error, progress)) return false;

    std::printf("\nPinyin initials\n");
    for (const char* name : {"深发展Ａ", "浦发银行", "万 科Ａ", "*ST鑫琪", "上证指数", "沪深A股指数"})
        std::printf("  %-10s %s\n", name, InitialsText(NameToInitials(Utf8ToGbk(name), nullptr)).c_str());
    return true;
}

}  // namespace tessaro::cli
