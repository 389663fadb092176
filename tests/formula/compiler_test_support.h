// Helpers shared by the compiler tests: compiling a text, catching its error, building
// parameters and a small formula set to reference.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "formula/compiler.h"
#include "formula/opcodes.h"
#include "platform/text.h"

namespace tessaro::testing_support {

inline FormulaParam Param(const char* name, float def, float min = 0, float max = 1000) {
    FormulaParam p;
    p.setName(name);
    p.defaultValue = def;
    p.min = min;
    p.max = max;
    return p;
}

// Compiles UTF-8 text (converted to GBK as the editor hands it over).
inline CompiledForm Compile(const std::string& utf8, uint32_t type = kFormulaSubPane,
                            const std::vector<FormulaParam>& params = {}, const CompileOptions& options = {}) {
    return CompileText(Utf8ToGbk(utf8), type, params, options);
}

// The error a text raises; a failed expectation when it compiles.
inline CompileError ErrorOf(const std::string& utf8, uint32_t type = kFormulaSubPane,
                            const std::vector<FormulaParam>& params = {}, const CompileOptions& options = {}) {
    try {
        CompileText(Utf8ToGbk(utf8), type, params, options);
    } catch (const CompileError& e) {
        return e;
    }
    ADD_FAILURE() << "compiled without error: " << utf8;
    return CompileError(-100, "", -1, 0);
}

inline Instruction Op(uint32_t op, uint32_t operand = 0) { return Instruction{op, operand}; }
inline Instruction Num(float v) { return Instruction::Number(opcode::kPushNumber, v); }

// A formula set with a few indicators to reference:
//   MACD (params SHORT, LONG, MID; lines DIF, DEA, MACD), KDJ (no params; lines K, D, J),
//   NONAME (no params; two unnamed lines).
inline std::vector<FormulaRecord> SampleSet() {
    std::vector<FormulaRecord> set;
    auto add = [&](const char* name, uint32_t type, std::vector<FormulaParam> params,
                   std::vector<const char*> lines) {
        FormulaRecord r;
        r.type = type;
        r.setName(name);
        r.params = std::move(params);
        for (const char* l : lines) {
            OutputLineDesc d;
            d.setName(l);
            r.outputs.push_back(d);
        }
        set.push_back(std::move(r));
    };
    add("MACD", kFormulaSubPane, {Param("SHORT", 12), Param("LONG", 26), Param("MID", 9)}, {"DIF", "DEA", "MACD"});
    add("KDJ", kFormulaMainOverlay, {}, {"K", "D", "J"});
    add("NONAME", kFormulaSubPane, {}, {"", ""});
    add("PICK", kFormulaSelection, {}, {"X"});  // not an indicator: never found by a reference
    return set;
}

}  // namespace tessaro::testing_support
