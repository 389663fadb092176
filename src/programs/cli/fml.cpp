// tessaro-cli fml: formula files.
//
//   tessaro-cli fml list FILE                       name, type, group and parameters
//   tessaro-cli fml dump FILE NAME [--password PW]  source text and compiled form
//   tessaro-cli fml import SRC.fml --appdir DIR     into base/user.fml (namesakes replaced)
//   tessaro-cli fml export --appdir DIR NAMES... -o OUT.fml
//
// Every file is read as untrusted: damaged records are skipped and counted.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli_printing.h"
#include "cli_session.h"
#include "command.h"
#include "formula/fml_file.h"
#include "formula/formula_cipher.h"
#include "formula/formula_set.h"
#include "formula/formula_set_startup.h"
#include "formula/opcodes.h"
#include "platform/files.h"
#include "platform/text.h"

namespace tessaro::cli {
namespace {

constexpr const char* kUsage =
    "fml list FILE | fml dump FILE NAME [--password PW] | fml import SRC.fml --appdir DIR | "
    "fml export --appdir DIR NAMES... -o OUT.fml";

std::string Utf8(std::string_view gbk) { return GbkToUtf8(gbk); }

// Formula texts and comments keep the editor's CR LF line ends; a terminal wants LF.
std::string Lines(std::string_view gbk) {
    std::string out;
    for (char c : Utf8(gbk))
        if (c != '\r') out += c;
    return out;
}

std::string Number(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
    return buf;
}

const char* SourceName(uint32_t source) {
    switch (source) {
    case kSourceUser: return "user";
    case kSourceCommon: return "common";
    case kSourceDownload: return "download";
    default: return "built-in";
    }
}

bool ReadFml(const std::string& path, FmlParseResult& out, std::string& error) {
    std::optional<Bytes> bytes = ReadWholeFile(path);
    if (!bytes) {
        error = "cannot read " + path;
        return false;
    }
    out = ParseFmlImage(*bytes);
    if (!out.valid) {
        error = path + " is no formula file";
        return false;
    }
    if (out.skipped) std::fprintf(stderr, "tessaro-cli: %u damaged record(s) skipped in %s\n", out.skipped, path.c_str());
    return true;
}

std::string ParamList(const FormulaRecord& r) {
    std::string out;
    for (const FormulaParam& p : r.params) {
        if (!out.empty()) out += ", ";
        out += Utf8(p.nameText()) + "=" + Number(p.defaultValue) + "[" + Number(p.min) + "," + Number(p.max) + "]";
    }
    return out;
}

int RunList(const std::string& path) {
    FmlParseResult parsed;
    std::string error;
    if (!ReadFml(path, parsed, error)) return Fail(error);
    std::printf("%zu formula(s)\n", parsed.records.size());
    for (const FormulaRecord& r : parsed.records) {
        std::string group = r.group.empty() ? std::string("其它") : Utf8(r.group);
        std::printf("%-16s type %u %-8s group %s%s", Utf8(r.nameText()).c_str(), r.type,
                    std::string(FormulaTypeName(r.type)).c_str(), group.c_str(), r.isLocked() ? " locked" : "");
        std::string params = ParamList(r);
        if (!params.empty()) std::printf(" params %s", params.c_str());
        std::printf("\n");
    }
    return 0;
}

void PrintCompiled(const FormulaRecord& r) {
    PrintOutputLines(r);
    std::printf("references: %zu\n", r.references.size());
    for (size_t i = 0; i < r.references.size(); ++i) {
        const ReferenceEntry& e = r.references[i];
        std::printf("  %zu stock '%s' type %d formula '%s' line '%s'\n", i, Utf8(e.stockText()).c_str(),
                    static_cast<int>(e.type), Utf8(e.formulaNameText()).c_str(), Utf8(e.lineNameText()).c_str());
    }
    PrintStringPool(r);
    std::printf("instructions: %zu\n", r.instructions.size());
    for (size_t i = 0; i < r.instructions.size(); ++i) {
        const Instruction& in = r.instructions[i];
        if (in.opcode == opcode::kPushNumber)
            std::printf("  %3zu  %u %g PUSHNUM\n", i, in.opcode, static_cast<double>(in.number()));
        else
            std::printf("  %3zu  %u %u %s\n", i, in.opcode, in.operand, OpName(in.opcode).c_str());
    }
}

int RunDump(const std::string& path, const std::string& nameUtf8, const std::optional<std::string>& password) {
    FmlParseResult parsed;
    std::string error;
    if (!ReadFml(path, parsed, error)) return Fail(error);
    const std::string name = Utf8ToGbk(nameUtf8);
    int shown = 0;
    for (const FormulaRecord& r : parsed.records) {
        if (!EqualsNoCase(r.nameText(), name)) continue;
        if (shown++) std::printf("\n");
        std::printf("name %s type %u (%s) group %s\n", Utf8(r.nameText()).c_str(), r.type,
                    std::string(FormulaTypeName(r.type)).c_str(), r.group.empty() ? "其它" : Utf8(r.group).c_str());
        std::printf("description %s\n", Utf8(r.description).c_str());
        std::printf("parameters %s\n", ParamList(r).c_str());
        std::printf("default period %u usage 0x%08X\n", r.defaultPeriod, r.usageFlags);
        if (r.type == kFormulaCombined) {
            std::printf("conditions %zu joiner %u%s\n", r.conditions.size(), r.joiner, r.isLocked() ? " locked" : "");
        } else if (!r.isLocked()) {
            std::printf("text:\n%s\n", Lines(r.source).c_str());
        } else if (std::optional<std::string> plain = OpenFormulaText(r, Utf8ToGbk(password.value_or("")))) {
            std::printf("text (unlocked):\n%s\n", Lines(*plain).c_str());
        } else {
            std::printf("text: locked (%zu bytes)%s\n", r.source.size(),
                        password ? ", wrong password" : "; give --password to show it");
        }
        if (!r.comment.empty()) std::printf("comment:\n%s\n", Lines(r.comment).c_str());
        PrintCompiled(r);
    }
    if (!shown) return Fail("no formula named " + nameUtf8 + " in " + path);
    return 0;
}

int RunImport(const std::string& path, const std::string& appDir) {
    FmlParseResult parsed;
    std::string error;
    if (!ReadFml(path, parsed, error)) return Fail(error);
    // Only the formula set is opened, and written back by the save below.
    std::unique_ptr<Session> session = MakeSession(appDir, kSessionFormulas, SessionAccess::ReadWrite);
    // From the load to the save: a concurrent import waits instead of losing ours or its own.
    ProcessFileLock setLock = LockFormulaSetFiles(session->paths());
    if (!setLock.held()) return Fail("cannot lock the formula files in " + session->paths().baseDir());
    if (!StartSession(*session, error)) return Fail(error);
    FormulaSet& set = session->formulas();
    int added = 0, replaced = 0, refused = 0;
    for (FormulaRecord& r : parsed.records) {
        std::optional<uint32_t> existing = set.SourceOf(r.type, r.nameText());
        if (existing && *existing == kSourceBuiltIn) {
            std::fprintf(stderr, "tessaro-cli: %s is built in and was not replaced\n", Utf8(r.nameText()).c_str());
            ++refused;
            continue;
        }
        // A namesake is replaced in the file it came from; a new formula becomes a user formula.
        uint32_t source = existing.value_or(kSourceUser);
        set.MarkDirty(source);
        set.Merge(std::move(r), source);
        ++(existing ? replaced : added);
    }
    if (!set.SaveDirty(&error).empty()) return Fail(error);
    std::printf("imported %d formula(s): %d new, %d replaced, %d refused\n", added + replaced, added, replaced, refused);
    return 0;
}

int RunExport(const std::vector<std::string>& names, const std::string& appDir, const std::string& out) {
    std::unique_ptr<Session> session = MakeSession(appDir, kSessionFormulas);
    std::string error;
    if (!StartSession(*session, error)) return Fail(error);
    const FormulaSet& set = session->formulas();
    std::vector<FormulaRecord> chosen;
    for (const std::string& nameUtf8 : names) {
        const std::string name = Utf8ToGbk(nameUtf8);
        int matches = 0;
        for (const FormulaRecord& r : set.Snapshot()) {
            if (!EqualsNoCase(r.nameText(), name) || r.sourceOrigin == kSourceBuiltIn) continue;
            ++matches;
            bool have = false;
            for (const FormulaRecord& c : chosen)
                have = have || (SameFormulaTypeClass(c.type, r.type) && EqualsNoCase(c.nameText(), r.nameText()));
            if (!have) chosen.push_back(r);
        }
        if (!matches) return Fail("no formula named " + nameUtf8 + " that can be exported (built-ins cannot)");
    }
    if (!WriteFmlFile(out, chosen)) return Fail("cannot write " + out);
    std::printf("exported %zu formula(s) to %s\n", chosen.size(), out.c_str());
    for (const FormulaRecord& r : chosen)
        std::printf("  %s (%s)\n", Utf8(r.nameText()).c_str(), SourceName(r.sourceOrigin));
    return 0;
}

int RunFml(Args& args) {
    std::optional<std::string> appDir = args.option("appdir");
    std::optional<std::string> password = args.option("password");
    std::optional<std::string> out = args.option("out");
    std::vector<std::string> rest;
    const std::vector<std::string>& all = args.positional();
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i] == "-o" && i + 1 < all.size()) {
            out = all[++i];
            continue;
        }
        rest.push_back(all[i]);
    }
    if (rest.empty()) return UsageError(kUsage);
    const std::string& sub = rest[0];
    if (sub == "list" && rest.size() == 2 && !appDir && !out) return RunList(rest[1]);
    if (sub == "dump" && rest.size() == 3 && !appDir && !out) return RunDump(rest[1], rest[2], password);
    if (sub == "import" && rest.size() == 2 && appDir && !appDir->empty() && !out) return RunImport(rest[1], *appDir);
    if (sub == "export" && rest.size() >= 2 && appDir && !appDir->empty() && out && !out->empty())
        return RunExport(std::vector<std::string>(rest.begin() + 1, rest.end()), *appDir, *out);
    return UsageError(kUsage);
}

CommandRegistration reg("fml", kUsage, RunFml,
                        "Lists, dumps, imports into base/user.fml and exports formula files; damaged records are "
                        "skipped and counted.");

}  // namespace
}  // namespace tessaro::cli
