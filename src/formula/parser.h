// The formula parser: a recursive-descent parser that emits instructions as it parses.
//
// There is no syntax tree. Each construct appends its instruction when it has been read
// (operands first, then their operator or function), and a stack of operand kinds (series,
// constant number, constant string) follows the values the instructions will push, so
// argument and operator kinds are checked on the spot. Used by the compiler driver
// (compiler.h); errors are thrown as SyntaxFault with positions in the working text.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "formula/compiled_formula.h"
#include "formula/compiler.h"
#include "formula/lexer.h"

namespace tessaro {

// The name the pre-scan gives unnamed statements ("notnamingvariant:" is inserted).
inline constexpr std::string_view kUnnamedName = "notnamingvariant";

// A reference text taken apart: [STOCK$]FORMULA[.LINE][#PERIOD] or STOCK$FIELD.
struct ReferenceText {
    std::string stock;        // as written (lower case); empty: the security evaluated
    std::string formula;
    std::string line;         // empty: the formula's last line
    Period period = kPeriodInvalid;  // invalid: the evaluation's period
    bool doubleHash = false;  // written with '##'
    int field = -1;           // 0..5 for STOCK$FIELD, else -1
};

// The error codes a reference text raises differ between the quoted form and STKINDI.
struct ReferenceErrors {
    int format;      // wrong count of '$', '.', '#'
    int period;      // unknown period keyword
    int emptyName;   // no formula name
};

// Splits a reference text; throws SyntaxFault(code, position, length) on a malformed one.
// `allowStock` is false for the formula item of STKINDI (its stock is the first item).
ReferenceText SplitReference(std::string_view text, bool allowStock, const ReferenceErrors& errors,
                             int position, int length);

// Period number of a "#PERIOD" keyword (case-insensitive), or 0 when it is none.
// The number a reference stores for its period: 0 for the evaluation's own period.
constexpr int StoredPeriodNumber(Period p) { return IsValidPeriod(p) ? PeriodNumber(p) : 0; }

// Reads an STKINDI extra argument: optional sign, digits, optional fraction; nothing else.
bool ParseStrictNumber(std::string_view text, float& value);

class FormulaParser {
public:
    // `text` is the working copy (prepared and with unnamed statements named).
    FormulaParser(std::string_view text, uint32_t type, const std::vector<FormulaParam>& params,
                  const std::string& ownName, const CompileOptions& options);

    // Parses every statement; throws SyntaxFault on the first error.
    void ParseFormula();

    CompiledForm takeResult();
    int outputCount() const { return outputCount_; }
    // Position and length of the name of the second ':' statement (for the one-line rule).
    int secondOutputPosition() const { return secondOutputPos_; }
    int secondOutputLength() const { return secondOutputLen_; }

private:
    struct Variable {
        int slot;
        bool hidden;
        bool complete;  // false while its own statement is being parsed
    };
    struct ResolvedRef {
        uint8_t index = 0;
        uint8_t periodOrField = 0;
        uint8_t kind = 0;
        int paramCount = 0;
        std::vector<float> fixedArgs;  // STKINDI's extra items
    };

    void Advance();
    [[noreturn]] void Fail(int code, std::string arg0 = {}, std::string arg1 = {}) const;
    [[noreturn]] void FailAt(int code, int position, int length, std::string arg0 = {},
                             std::string arg1 = {}) const;
    void Emit(uint32_t op, uint32_t operand = 0);
    // The kind of a value the instructions will push, with the text that produces it.
    struct OperandKind {
        uint8_t kind;
        int start;
        int end;
    };
    void PushKind(uint8_t kind) { kinds_.push_back(OperandKind{kind, tok_.position, tok_.end()}); }
    OperandKind PopKind();
    void BinaryKinds();

    void ParseStatement();
    void ParseModifiers(OutputLineDesc* desc);
    void ParseExpression();
    void ParseRelation();
    void ParseSum();
    void ParseTerm();
    void ParseFactor();
    void ParseOperand();
    void ParseOperandBody();
    void ParseCall();
    void ParseQuotedReference();
    void ParseStkIndi();

    const ResolvedRef& ResolveQuoted(const Token& tok);
    const ResolvedRef& ResolveStkIndi(const Token& tok);
    // Looks the formula up, checks the line and the reference cycle, returns its params.
    ReferencedFormula FindReferenced(const ReferenceText& ref, const Token& tok);
    uint8_t AddReference(const ReferenceEntry& entry, const Token& tok);
    uint16_t AddPoolString(std::string_view text, const Token& tok);
    int ParseArgumentsOfReference(const ResolvedRef& ref, const Token& tok);

    Lexer lexer_;
    Token tok_;
    int lastEnd_ = 0;  // end of the last consumed token
    uint32_t type_;
    const std::vector<FormulaParam>& params_;
    std::vector<std::string> paramNames_;
    std::string ownName_;
    const CompileOptions& options_;

    std::unordered_map<std::string, Variable> variables_;
    std::string currentName_;
    int nextSlot_ = 0;
    int outputCount_ = 0;
    int secondOutputPos_ = -1;  // the name, or for an unnamed line its expression's first token
    int secondOutputLen_ = 0;
    int depth_ = 0;

    CompiledForm out_;
    std::vector<std::string> pool_;  // upper case, in order of first appearance
    std::unordered_map<std::string, ResolvedRef> quotedRefs_;
    std::unordered_map<std::string, ResolvedRef> stkIndiRefs_;
    std::vector<OperandKind> kinds_;
};

}  // namespace tessaro
