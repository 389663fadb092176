// tessaro-cli compile: compiles one formula text and prints its compiled form.
//
//   tessaro-cli compile 'MA5:MA(C,N),COLORRED;' --type 4 --param N=5,1,100 [--appdir DIR]
//
// Prints the output lines, parameters, references, string pool and one instruction per line
// ("opcode operand NAME ...") and exits 0; on a compile error prints the message with its
// position and length (byte offsets in the GBK text, as the formula editor selects them) and
// the text with the selected part in brackets, and exits 1. References to other formulas
// resolve in the formula set of --appdir, or else in the built-in and standard indicators.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "cli_printing.h"
#include "cli_session.h"
#include "command.h"
#include "formula/compiler.h"
#include "formula/formula_set.h"
#include "formula/param_text.h"
#include "formula/opcodes.h"
#include "platform/text.h"

namespace tessaro::cli {
namespace {

constexpr const char* kUsage = "compile 'FORMULA' [--type N] [--param NAME=DEFAULT[,MIN,MAX]]... [--appdir DIR]";

std::string Utf8(std::string_view gbk) { return GbkToUtf8(gbk); }

void PrintInstruction(size_t index, const Instruction& in, const FormulaRecord& r) {
    std::printf("  %3zu  ", index);
    switch (in.opcode) {
    case opcode::kPushNumber: std::printf("%u %g PUSHNUM\n", in.opcode, static_cast<double>(in.number())); return;
    case opcode::kPushParam: {
        std::string name = in.low16() < r.params.size() ? Utf8(r.params[in.low16()].nameText()) : "?";
        std::printf("%u %u PUSHPARAM %s\n", in.opcode, in.operand, name.c_str());
        return;
    }
    case opcode::kPushVariable:
    case opcode::kStore:
        std::printf("%u %u %s slot=%u hidden=%u\n", in.opcode, in.operand, OpName(in.opcode).c_str(), in.low16(),
                    in.high16());
        return;
    case opcode::kPushString:
        std::printf("%u %u PUSHSTR '%s'\n", in.opcode, in.operand, Utf8(r.poolString(in.low16())).c_str());
        return;
    case opcode::kReference:
        std::printf("%u %u REFERENCE ref=%u period=%u args=%u kind=%u\n", in.opcode, in.operand, in.byteAt(0),
                    in.byteAt(1), in.byteAt(2), in.byteAt(3));
        return;
    default: std::printf("%u %u %s\n", in.opcode, in.operand, OpName(in.opcode).c_str());
    }
}

void PrintRecord(const FormulaRecord& r) {
    std::printf("type %u (%.*s)\n", r.type, static_cast<int>(FormulaTypeName(r.type).size()),
                FormulaTypeName(r.type).data());
    std::printf("parameters: %zu\n", r.params.size());
    for (size_t i = 0; i < r.params.size(); ++i) {
        const FormulaParam& p = r.params[i];
        std::printf("  %zu %s default %g min %g max %g\n", i, Utf8(p.nameText()).c_str(),
                    static_cast<double>(p.defaultValue), static_cast<double>(p.min), static_cast<double>(p.max));
    }
    PrintOutputLines(r);
    std::printf("references: %zu\n", r.references.size());
    for (size_t i = 0; i < r.references.size(); ++i) {
        const ReferenceEntry& e = r.references[i];
        std::printf("  %zu stock '%s' type %d formula '%s' line '%s' period %d\n", i, Utf8(e.stockText()).c_str(),
                    e.type, Utf8(e.formulaNameText()).c_str(), Utf8(e.lineNameText()).c_str(), e.period);
    }
    PrintStringPool(r);
    std::printf("instructions: %zu\n", r.instructions.size());
    for (size_t i = 0; i < r.instructions.size(); ++i) PrintInstruction(i, r.instructions[i], r);
}

int RunCompile(Args& args) {
    FormulaRecord record;
    record.type = kFormulaSubPane;
    if (auto type = args.option("type")) {
        char* end = nullptr;
        long t = std::strtol(type->c_str(), &end, 10);
        if (type->empty() || *end != 0 || t < 0 || !IsKnownFormulaType(static_cast<uint32_t>(t)) ||
            t == kFormulaCombined)
            return Fail("--type must be 0 (选股), 1 (交易系统), 2, 3, 4 (技术指标) or 5 (五彩K线)");
        record.type = static_cast<uint32_t>(t);
    }
    while (auto param = args.option("param")) {
        FormulaParam p;
        if (!ParseParamText(*param, p)) return Fail("bad --param '" + *param + "': NAME=DEFAULT or NAME=DEFAULT,MIN,MAX");
        if (record.params.size() >= static_cast<size_t>(kMaxFormulaParams)) return Fail("at most 64 parameters");
        record.params.push_back(p);
    }
    std::optional<std::string> appDir = args.option("appdir");
    if (args.positional().size() != 1) return UsageError(kUsage);
    // References resolve in the directory's formula set, or in the built-in library without one.
    std::unique_ptr<Session> session =
        MakeSession(appDir, kSessionFormulas, SessionAccess::ReadOnly, /*builtInFormulas=*/!appDir);
    std::string error;
    if (!StartSession(*session, error)) return Fail(error);
    record.source = Utf8ToGbk(args[0]);
    CompileOptions options;
    options.lookup = session->formulas().CompilerLookup();
    try {
        CompileFormula(record, options);
    } catch (const CompileError& e) {
        std::printf("%s\n", e.displayUtf8().c_str());
        std::printf("%s\n", MarkErrorRange(record.source, e.position(), e.length()).c_str());
        return 1;
    }
    PrintRecord(record);
    return 0;
}

CommandRegistration reg("compile", kUsage, RunCompile,
                        "Compiles one formula text and prints its output lines, parameters, references, string "
                        "pool and instructions; a compile error prints the message and the text with the faulty "
                        "part in brackets.");

}  // namespace
}  // namespace tessaro::cli
