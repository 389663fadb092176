#include "formula/parser.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "formula/compile_errors.h"
#include "formula/function_registry.h"
#include "formula/opcodes.h"
#include "platform/period.h"
#include "platform/security_id.h"
#include "platform/text.h"

namespace tessaro {

// The opcodes the compiler emits are the registry's ids.
static_assert(opcode::kAdd == kOpAdd && opcode::kSub == kOpSub && opcode::kMul == kOpMul && opcode::kDiv == kOpDiv);
static_assert(opcode::kMod == kFnMod && opcode::kMax == kFnMax && opcode::kMin == kFnMin && opcode::kCross == kFnCross);
static_assert(opcode::kEq == kOpEq && opcode::kNe == kOpNe && opcode::kGt == kOpGt && opcode::kGe == kOpGe &&
              opcode::kLt == kOpLt && opcode::kLe == kOpLe && opcode::kAnd == kOpAnd && opcode::kOr == kOpOr);
static_assert(opcode::kNeg == kFnReverse && opcode::kPushNumber == kOpPushNumber && opcode::kPushParam == kOpPushSlot &&
              opcode::kPushVariable == kOpPushSlot2 && opcode::kStore == kOpStoreStatement &&
              opcode::kReference == kOpReference && opcode::kPushString == kOpPushString);

namespace {

constexpr uint8_t kKindSeries = 1;
constexpr uint8_t kKindNumber = 2;
constexpr uint8_t kKindString = 4;

// The largest number an operand may be: 1e12 as a single-precision value.
constexpr float kMaxOperand = 1e12f;
constexpr size_t kMaxStockBytes = 9;

// Quote fields of another security: "sh600000$close".
int StockFieldNumber(std::string_view word) {
    static constexpr std::string_view kLong[] = {"open", "high", "low", "close", "vol", "amount"};
    static constexpr std::string_view kShort[] = {"o", "h", "l", "c", "v", "amount"};
    for (int i = 0; i < 6; ++i)
        if (EqualsNoCase(word, kLong[i]) || EqualsNoCase(word, kShort[i])) return i;
    return -1;
}

// The words that stand for an index belonging to the security evaluated (GBK).
bool IsIndexWord(std::string_view gbk) {
    for (std::string_view w : {"大盘指数", "行业指数", "概念指数", "区域指数"})
        if (gbk == Utf8ToGbk(w)) return true;
    return false;
}

bool IsAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Market letters and a code of letters or digits, nine bytes at most ("SH600000").
bool IsStockCode(std::string_view text) {
    if (text.size() < 3 || text.size() > kMaxStockBytes) return false;
    SecurityId id;
    if (!ParseSecurityText(AsciiUpper(text), id)) return false;
    return std::all_of(text.begin() + 2, text.end(), IsAlnum);
}

std::string_view TrimBlanks(std::string_view s) { return TrimAscii(s); }

struct DepthGuard {
    int& depth;
    explicit DepthGuard(int& d) : depth(d) { ++depth; }
    ~DepthGuard() { --depth; }
};

}  // namespace

bool ParseStrictNumber(std::string_view text, float& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    size_t digits = 0;
    double v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        v = v * 10 + (text[i++] - '0');
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        double scale = 0.1;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            v += (text[i++] - '0') * scale;
            scale *= 0.1;
            ++digits;
        }
    }
    if (digits == 0 || i != text.size() || digits > static_cast<size_t>(kMaxNumberDigits)) return false;
    value = static_cast<float>(negative ? -v : v);
    return true;
}

ReferenceText SplitReference(std::string_view text, bool allowStock, const ReferenceErrors& errors,
                             int position, int length) {
    auto fail = [&](int code, std::string arg0 = {}) {
        throw SyntaxFault{code, position, length, std::move(arg0), {}};
    };
    size_t dollars = std::count(text.begin(), text.end(), '$');
    size_t dots = std::count(text.begin(), text.end(), '.');
    size_t hashes = std::count(text.begin(), text.end(), '#');
    if (dollars > 1 || dots > 1 || hashes > 2 || (!allowStock && dollars > 0)) fail(errors.format);

    ReferenceText ref;
    std::string_view rest = text;
    if (size_t d = rest.find('$'); d != std::string_view::npos) {
        ref.stock.assign(rest.substr(0, d));
        rest = rest.substr(d + 1);
        if (ref.stock.size() > kMaxStockBytes)
            fail(kErrRefNameTooLong, FormatDetail("引用的股票名称的字符个数最多%d个", static_cast<int>(kMaxStockBytes)));
        if (int field = StockFieldNumber(rest); field >= 0) {
            ref.field = field;
            return ref;
        }
    }
    std::string_view names = rest;
    if (size_t h = rest.find('#'); h != std::string_view::npos) {
        names = rest.substr(0, h);
        size_t periodAt = h + 1;
        if (hashes == 2) {
            // The two '#' of the "##" form stand together.
            if (h + 1 >= rest.size() || rest[h + 1] != '#') fail(errors.format);
            ref.doubleHash = true;
            periodAt = h + 2;
        }
        ref.period = PeriodFromKeyword(rest.substr(periodAt));
        if (ref.period == kPeriodInvalid) {
            if (names.empty()) fail(errors.emptyName);
            fail(errors.period);
        }
    }
    if (names.empty()) fail(errors.emptyName);
    std::string_view formula = names;
    if (size_t dot = names.find('.'); dot != std::string_view::npos) {
        formula = names.substr(0, dot);
        std::string_view line = names.substr(dot + 1);
        if (line.empty()) fail(errors.format);
        ref.line.assign(line);
    }
    if (formula.empty()) fail(errors.emptyName);
    if (formula.size() > static_cast<size_t>(kMaxFormulaNameLength))
        fail(kErrRefNameTooLong, FormatDetail("引用的公式名称的字符个数最多%d个", kMaxFormulaNameLength));
    if (ref.line.size() > static_cast<size_t>(kMaxFormulaNameLength))
        fail(kErrRefNameTooLong, FormatDetail("引用的指标名称的字符个数最多%d个", kMaxFormulaNameLength));
    ref.formula.assign(formula);
    return ref;
}

FormulaParser::FormulaParser(std::string_view text, uint32_t type, const std::vector<FormulaParam>& params,
                             const std::string& ownName, const CompileOptions& options)
    : lexer_(text, &paramNames_), type_(type), params_(params), ownName_(ownName), options_(options) {
    paramNames_.reserve(params.size());
    for (const FormulaParam& p : params) paramNames_.emplace_back(p.nameText());
    nextSlot_ = static_cast<int>(params.size());
}

void FormulaParser::Advance() {
    lastEnd_ = tok_.end();
    lexer_.NextToken();
    tok_ = lexer_.token();
}

void FormulaParser::Fail(int code, std::string arg0, std::string arg1) const {
    throw SyntaxFault{code, tok_.position, tok_.length, std::move(arg0), std::move(arg1)};
}

void FormulaParser::FailAt(int code, int position, int length, std::string arg0, std::string arg1) const {
    throw SyntaxFault{code, position, std::max(length, 0), std::move(arg0), std::move(arg1)};
}

void FormulaParser::Emit(uint32_t op, uint32_t operand) { out_.instructions.push_back(Instruction{op, operand}); }

FormulaParser::OperandKind FormulaParser::PopKind() {
    if (kinds_.empty()) Fail(kErrInternal);
    OperandKind k = kinds_.back();
    kinds_.pop_back();
    return k;
}

void FormulaParser::BinaryKinds() {
    OperandKind b = PopKind();
    OperandKind a = PopKind();
    for (const OperandKind& k : {a, b}) {
        if (k.kind == kKindString) FailAt(kErrStringOperand, k.start, k.end - k.start);
        if (k.kind != kKindSeries && k.kind != kKindNumber) FailAt(kErrInternal, k.start, k.end - k.start);
    }
    uint8_t kind = (a.kind == kKindSeries || b.kind == kKindSeries) ? kKindSeries : kKindNumber;
    kinds_.push_back(OperandKind{kind, a.start, b.end});
}

void FormulaParser::ParseFormula() {
    Advance();
    while (tok_.kind != kTokEnd) ParseStatement();
    std::string pool;
    for (const std::string& s : pool_) {
        pool += s;
        pool += '\t';
    }
    out_.stringPool = std::move(pool);
}

CompiledForm FormulaParser::takeResult() { return std::move(out_); }

void FormulaParser::ParseStatement() {
    if (tok_.kind == kTokSemicolon) {  // an empty statement
        Advance();
        return;
    }
    if (tok_.kind != kTokName) Fail(kErrReservedAtStart, tok_.text);
    const Token nameTok = tok_;
    const std::string name = tok_.text;
    const bool unnamed = name == kUnnamedName;
    if (!unnamed && variables_.count(name)) Fail(kErrRedefined, name);
    if (!unnamed && name.size() > static_cast<size_t>(kMaxFormulaNameLength))
        Fail(kErrNameTooLong, FormatDetail("公式指标名称字符最大长度%d个字符", kMaxFormulaNameLength));
    if (nextSlot_ >= kMaxSlots) Fail(kErrLimit, FormatDetail("最多%d条语句", kMaxSlots - static_cast<int>(params_.size())));
    const int slot = nextSlot_++;
    if (!unnamed) variables_[name] = Variable{slot, false, false};
    currentName_ = name;

    Advance();
    if (tok_.kind != kTokAssign && tok_.kind != kTokColon) Fail(kErrNoAssignment);
    const bool hidden = tok_.kind == kTokAssign;
    if (!unnamed) variables_[name].hidden = hidden;
    int descIndex = -1;
    if (!hidden) {
        OutputLineDesc desc;
        if (!unnamed) desc.setName(AsciiUpper(name));
        if (type_ == kFormulaTradingSystem) {
            desc.style = static_cast<uint16_t>(kTradingSignalBase);
            desc.colour = kTradingDefaultColour;
        }
        out_.outputs.push_back(desc);
        descIndex = static_cast<int>(out_.outputs.size()) - 1;
    }
    Advance();
    // An unnamed line is shown by its expression's first token in errors about the line.
    const Token lineTok = unnamed ? tok_ : nameTok;
    ParseExpression();

    if (tok_.kind != kTokSemicolon) {
        if (tok_.kind != kTokComma && tok_.kind != kTokModifier) Fail(kErrMissingSemicolon);
        // Modifiers of a ':=' statement are read and ignored.
        ParseModifiers(descIndex >= 0 ? &out_.outputs[static_cast<size_t>(descIndex)] : nullptr);
    }
    Advance();  // the ';'
    Emit(opcode::kStore, opcode::SlotOperand(static_cast<uint32_t>(slot), hidden ? 1u : 0u));
    PopKind();
    if (!unnamed) variables_[name].complete = true;

    if (!hidden) {
        ++outputCount_;
        if (outputCount_ == 2) {
            secondOutputPos_ = lineTok.position;
            secondOutputLen_ = lineTok.length;
        }
        if (type_ == kFormulaTradingSystem) {
            static constexpr std::string_view kSignals[] = {"enterlong", "exitlong", "entershort", "exitshort"};
            if (std::find(std::begin(kSignals), std::end(kSignals), name) == std::end(kSignals))
                FailAt(kErrTradingName, lineTok.position, lineTok.length);
        }
    }
}

void FormulaParser::ParseModifiers(OutputLineDesc* desc) {
    // Any run of modifiers and commas, a modifier following another without a comma.
    while (tok_.kind != kTokSemicolon) {
        if (tok_.kind == kTokComma) {
            Advance();
            continue;
        }
        // Text that ends inside the run (an open comment swallows the final ';') lacks its ';'.
        if (tok_.kind == kTokEnd) Fail(kErrMissingSemicolon);
        if (tok_.kind != kTokModifier) Fail(kErrNotModifier, tok_.text);
        if (desc) {
            switch (tok_.modifierClass) {
            case kModifierStyle: desc->style = static_cast<uint16_t>(tok_.modifierValue); break;
            case kModifierWidth:
                desc->colourWidth = static_cast<uint16_t>((desc->colourWidth & 1u) | ((tok_.modifierValue & 0x7FFFu) << 1));
                break;
            case kModifierColour:
                desc->colourWidth |= 1u;
                desc->colour = tok_.modifierValue;
                break;
            default: break;
            }
        }
        Advance();
    }
}

void FormulaParser::ParseExpression() {
    DepthGuard guard(depth_);
    if (depth_ > kMaxNestingDepth) Fail(kErrLimit, FormatDetail("表达式最多嵌套%d层", kMaxNestingDepth));
    ParseRelation();
    while (tok_.kind == kTokAnd || tok_.kind == kTokOr) {
        uint32_t op = tok_.kind == kTokAnd ? opcode::kAnd : opcode::kOr;
        Advance();
        ParseRelation();
        BinaryKinds();
        Emit(op);
    }
}

void FormulaParser::ParseRelation() {
    ParseSum();
    uint32_t op = 0;
    switch (tok_.kind) {
    case kTokEq: op = opcode::kEq; break;
    case kTokNe: op = opcode::kNe; break;
    case kTokGt: op = opcode::kGt; break;
    case kTokGe: op = opcode::kGe; break;
    case kTokLt: op = opcode::kLt; break;
    case kTokLe: op = opcode::kLe; break;
    default: return;
    }
    Advance();
    ParseSum();
    BinaryKinds();
    Emit(op);
}

void FormulaParser::ParseSum() {
    ParseTerm();
    while (tok_.kind == kTokPlus || tok_.kind == kTokMinus) {
        uint32_t op = tok_.kind == kTokPlus ? opcode::kAdd : opcode::kSub;
        Advance();
        ParseTerm();
        BinaryKinds();
        Emit(op);
    }
}

void FormulaParser::ParseTerm() {
    ParseFactor();
    while (tok_.kind == kTokStar || tok_.kind == kTokSlash) {
        uint32_t op = tok_.kind == kTokStar ? opcode::kMul : opcode::kDiv;
        Advance();
        ParseFactor();
        BinaryKinds();
        Emit(op);
    }
}

void FormulaParser::ParseFactor() {
    int sign = 0;
    const int start = tok_.position;
    if (tok_.kind == kTokPlus || tok_.kind == kTokMinus) {
        sign = tok_.kind;
        Advance();
    }
    ParseOperand();
    if (sign == kTokMinus) {
        OperandKind k = PopKind();
        if (k.kind == kKindString) FailAt(kErrStringOperand, k.start, k.end - k.start);
        kinds_.push_back(OperandKind{k.kind, start, k.end});
        Emit(opcode::kNeg);
    }
}

void FormulaParser::ParseOperand() {
    if (!IsOperandStart(tok_.kind)) Fail(kErrInvalidOperand);
    const int start = tok_.position;
    ParseOperandBody();
    // The operand's kind covers all of its text (a call with its arguments, a bracket).
    if (!kinds_.empty()) {
        kinds_.back().start = start;
        kinds_.back().end = lastEnd_;
    }
}

void FormulaParser::ParseOperandBody() {
    switch (tok_.kind) {
    case kTokNumber:
        if (tok_.value > kMaxOperand) Fail(kErrNumberTooLarge);
        out_.instructions.push_back(Instruction::Number(opcode::kPushNumber, tok_.value));
        PushKind(kKindNumber);
        Advance();
        return;
    case kTokParam:
        Emit(opcode::kPushParam, static_cast<uint32_t>(tok_.entry));
        PushKind(kKindNumber);
        Advance();
        return;
    case kTokName: {
        auto it = variables_.find(tok_.text);
        if (it == variables_.end() || !it->second.complete) Fail(kErrUndefinedVariable);
        Emit(opcode::kPushVariable,
             opcode::SlotOperand(static_cast<uint32_t>(it->second.slot), it->second.hidden ? 1u : 0u));
        PushKind(kKindSeries);
        Advance();
        return;
    }
    case kTokString:
        Emit(opcode::kPushString, AddPoolString(tok_.text, tok_));
        PushKind(kKindString);
        Advance();
        return;
    case kTokQuotedRef: ParseQuotedReference(); return;
    case kTokStkIndi: ParseStkIndi(); return;
    case kTokFunction: ParseCall(); return;
    case kTokLParen:
        Advance();
        ParseExpression();
        if (tok_.kind != kTokRParen) Fail(kErrExprMissingRParen);
        Advance();
        return;
    default: Fail(kErrInvalidOperand);
    }
}

void FormulaParser::ParseCall() {
    const FunctionInfo* f = FunctionById(tok_.entry);
    if (!f || !f->name) Fail(kErrInternal);
    const std::string name = f->name;
    const Token nameTok = tok_;
    const uint8_t result = f->resultKind == kResultNumber ? kKindNumber : kKindSeries;
    const int n = std::clamp(f->paramCount, 0, kMaxFunctionParams);
    Advance();
    if (n == 0) {
        Emit(static_cast<uint32_t>(f->id));
        PushKind(result);
        if (tok_.kind == kTokLParen) {  // an optional "()"
            Advance();
            if (tok_.kind != kTokRParen) Fail(kErrNoParamFunction, name);
            Advance();
        }
        return;
    }
    if (tok_.kind != kTokLParen) Fail(kErrMissingLParen);
    Advance();
    int count = 0;
    for (;;) {
        if (tok_.kind == kTokComma || tok_.kind == kTokRParen) Fail(kErrEmptyArgument, name);
        if (count >= n)
            FailAt(kErrArgCount, nameTok.position, tok_.end() - nameTok.position, name,
                   FormatDetail("输入的参数个数大于要求的参数个数，允许参数个数是%d", n));
        const int argStart = tok_.position;
        ParseExpression();
        const uint8_t kind = kinds_.empty() ? 0 : kinds_.back().kind;
        const uint8_t mask = f->paramKinds[count];
        if (mask != 0 && (kind & mask) == 0) {
            std::string detail = FormatDetail(count == 0 ? "第1个参数类型错误，允许类型是" : "第%d个参数类型错误，允许类型是",
                                              count + 1) +
                                 Utf8ToGbk(ParamKindText(mask));
            FailAt(kErrArgKind, argStart, lastEnd_ - argStart, name, detail);
        }
        ++count;
        if (tok_.kind == kTokComma) {
            Advance();
            continue;
        }
        if (tok_.kind == kTokRParen) break;
        Fail(kErrMissingRParen);
    }
    if (count < n)
        FailAt(kErrArgCount, nameTok.position, tok_.end() - nameTok.position, name,
               FormatDetail("允许参数个数是%d,实际给了%d", n, count));
    Advance();
    for (int i = 0; i < count; ++i) PopKind();
    Emit(static_cast<uint32_t>(f->id));
    PushKind(result);
}

void FormulaParser::ParseQuotedReference() {
    const Token refTok = tok_;
    const ResolvedRef ref = ResolveQuoted(refTok);
    Advance();
    int args = 0;
    if (tok_.kind == kTokLParen) {
        if (ref.kind == opcode::kRefStockField) FailAt(kErrStockRefArgs, refTok.position, tok_.end() - refTok.position);
        args = ParseArgumentsOfReference(ref, refTok);
    }
    Emit(opcode::kReference,
         opcode::ReferenceOperand(ref.index, ref.periodOrField, static_cast<uint8_t>(args), ref.kind));
    PushKind(kKindSeries);
}

int FormulaParser::ParseArgumentsOfReference(const ResolvedRef& ref, const Token& refTok) {
    Advance();  // '('
    int count = 0;
    if (tok_.kind != kTokRParen) {
        for (;;) {
            const int argStart = tok_.position;
            ParseExpression();
            if (PopKind().kind != kKindNumber) FailAt(kErrRefArgNotConstant, argStart, lastEnd_ - argStart);
            ++count;
            if (count > ref.paramCount) {
                if (ref.paramCount == 0)
                    FailAt(kErrRefArgCount, refTok.position, lastEnd_ - refTok.position, Utf8ToGbk("该引用公式规定没有参数"));
                FailAt(kErrRefArgCount, refTok.position, lastEnd_ - refTok.position,
                       FormatDetail("该引用公式规定%d个参数", ref.paramCount));
            }
            if (tok_.kind == kTokComma) {
                Advance();
                continue;
            }
            if (tok_.kind == kTokRParen) break;
            Fail(kErrMissingRParen);
        }
    }
    if (count != ref.paramCount)
        FailAt(kErrRefArgCount, refTok.position, tok_.end() - refTok.position,
               FormatDetail("该引用公式规定%d个参数,实际给了%d个参数", ref.paramCount, count));
    Advance();  // ')'
    return count;
}

void FormulaParser::ParseStkIndi() {
    const ResolvedRef ref = ResolveStkIndi(tok_);
    for (float v : ref.fixedArgs) out_.instructions.push_back(Instruction::Number(opcode::kPushNumber, v));
    Emit(opcode::kReference, opcode::ReferenceOperand(ref.index, ref.periodOrField,
                                                      static_cast<uint8_t>(ref.fixedArgs.size()), ref.kind));
    PushKind(kKindSeries);
    Advance();
}

ReferencedFormula FormulaParser::FindReferenced(const ReferenceText& ref, const Token& tok) {
    auto failHere = [&](int code, std::string arg0 = {}) { FailAt(code, tok.position, tok.length, std::move(arg0)); };
    if (!options_.lookup) failHere(kErrRefFormulaMissing);
    std::optional<ReferencedFormula> found = options_.lookup(kFormulaSubPane, ref.formula);
    if (!found) failHere(kErrRefFormulaMissing);
    if (ref.line.empty()) {
        if (found->lineNames.empty()) failHere(kErrRefLineMissing);
    } else {
        bool has = std::any_of(found->lineNames.begin(), found->lineNames.end(),
                               [&](const std::string& l) { return EqualsNoCase(l, ref.line); });
        if (!has) failHere(kErrRefLineMissing);
    }
    if (found->paramCount < 0 || found->paramCount > kMaxFormulaParams) failHere(kErrInternal);

    // An indicator must not reach itself through its references: evaluating it would never end.
    if (!ownName_.empty() && SameFormulaTypeClass(type_, kFormulaSubPane)) {
        std::vector<std::string> pending{found->name};
        std::unordered_set<std::string> seen;
        size_t visits = 0;
        while (!pending.empty() && visits < 4096) {
            std::string next = std::move(pending.back());
            pending.pop_back();
            if (EqualsNoCase(next, ownName_)) failHere(kErrLimit, Utf8ToGbk("公式不能直接或间接引用自身"));
            if (!seen.insert(AsciiLower(next)).second) continue;
            ++visits;
            std::optional<ReferencedFormula> f = (visits == 1) ? found : options_.lookup(kFormulaSubPane, next);
            if (!f) continue;
            for (const std::string& r : f->references) pending.push_back(r);
        }
    }
    return *found;
}

uint8_t FormulaParser::AddReference(const ReferenceEntry& entry, const Token& tok) {
    for (size_t i = 0; i < out_.references.size(); ++i) {
        const ReferenceEntry& e = out_.references[i];
        if (EqualsNoCase(e.stockText(), entry.stockText()) && SameFormulaTypeClass(static_cast<uint32_t>(e.type),
                                                                                    static_cast<uint32_t>(entry.type)) &&
            EqualsNoCase(e.formulaNameText(), entry.formulaNameText()) &&
            EqualsNoCase(e.lineNameText(), entry.lineNameText()))
            return static_cast<uint8_t>(i);
    }
    if (out_.references.size() >= static_cast<size_t>(kMaxReferences))
        FailAt(kErrLimit, tok.position, tok.length, FormatDetail("最多引用%d个不同的指标", kMaxReferences));
    out_.references.push_back(entry);
    return static_cast<uint8_t>(out_.references.size() - 1);
}

uint16_t FormulaParser::AddPoolString(std::string_view text, const Token& tok) {
    // The pool separates its strings with TAB, so a TAB inside a constant becomes a space.
    std::string s = AsciiUpper(text);
    std::replace(s.begin(), s.end(), '\t', ' ');
    for (size_t i = 0; i < pool_.size(); ++i)
        if (pool_[i] == s) return static_cast<uint16_t>(i);
    if (pool_.size() >= static_cast<size_t>(kMaxPoolStrings))
        FailAt(kErrLimit, tok.position, tok.length, FormatDetail("最多%d个字符串常数", kMaxPoolStrings));
    pool_.push_back(std::move(s));
    return static_cast<uint16_t>(pool_.size() - 1);
}

const FormulaParser::ResolvedRef& FormulaParser::ResolveQuoted(const Token& tok) {
    if (auto it = quotedRefs_.find(tok.text); it != quotedRefs_.end()) return it->second;
    if (tok.text.size() > static_cast<size_t>(kMaxTokenText)) FailAt(kErrRefTooLong, tok.position, tok.length);
    ReferenceText rt = SplitReference(tok.text, true, ReferenceErrors{kErrRefFormat, kErrRefPeriod, kErrEmptyRef},
                                      tok.position, tok.length);
    ReferenceEntry entry;
    CopyToField(entry.stock, AsciiUpper(rt.stock));
    ResolvedRef r;
    if (rt.field >= 0) {
        r.kind = opcode::kRefStockField;
        r.periodOrField = static_cast<uint8_t>(rt.field);
    } else {
        ReferencedFormula f = FindReferenced(rt, tok);
        entry.type = static_cast<int16_t>(f.type);
        CopyToField(entry.formulaName, f.name);
        CopyToField(entry.lineName, AsciiUpper(rt.line));
        entry.period = static_cast<int16_t>(StoredPeriodNumber(rt.period));
        r.kind = rt.doubleHash ? opcode::kRefFormulaDouble : opcode::kRefFormula;
        r.periodOrField = static_cast<uint8_t>(StoredPeriodNumber(rt.period));
        r.paramCount = f.paramCount;
    }
    r.index = AddReference(entry, tok);
    return quotedRefs_.emplace(tok.text, std::move(r)).first->second;
}

const FormulaParser::ResolvedRef& FormulaParser::ResolveStkIndi(const Token& tok) {
    if (auto it = stkIndiRefs_.find(tok.text); it != stkIndiRefs_.end()) return it->second;
    auto failHere = [&](int code, std::string arg0 = {}) { FailAt(code, tok.position, tok.length, std::move(arg0)); };

    std::vector<std::string_view> items;
    std::string_view text = tok.text;
    for (size_t start = 0;;) {
        size_t comma = text.find(',', start);
        items.push_back(TrimBlanks(text.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                                                       : comma - start)));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (items.size() < 2) failHere(kErrStkIndiFormat);
    auto quoted = [](std::string_view s) { return s.size() >= 2 && s.front() == '\'' && s.back() == '\''; };
    if (!quoted(items[0])) failHere(kErrStkIndiStockQuote);
    std::string_view stock = items[0].substr(1, items[0].size() - 2);
    if (!IsIndexWord(stock) && !IsStockCode(stock)) failHere(kErrStkIndiStock);
    if (!quoted(items[1])) failHere(kErrStkIndiFormulaQuote);
    ReferenceText rt =
        SplitReference(items[1].substr(1, items[1].size() - 2), false,
                       ReferenceErrors{kErrStkIndiFormula, kErrStkIndiPeriod, kErrStkIndiFormula}, tok.position,
                       tok.length);
    ReferencedFormula f = FindReferenced(rt, tok);
    const int extras = static_cast<int>(items.size()) - 2;
    if (extras != 0 && extras != f.paramCount)
        failHere(kErrStkIndiArgCount, FormatDetail(",要求%d个参数，实际给了%d个", f.paramCount, extras));

    ResolvedRef r;
    for (int i = 0; i < extras; ++i) {
        float v = 0;
        if (!ParseStrictNumber(items[static_cast<size_t>(i) + 2], v)) failHere(kErrRefArgNotConstant);
        if (v > kMaxOperand) failHere(kErrNumberTooLarge);
        r.fixedArgs.push_back(v);
    }
    ReferenceEntry entry;
    CopyToField(entry.stock, IsIndexWord(stock) ? std::string(stock) : AsciiUpper(stock));
    entry.type = static_cast<int16_t>(f.type);
    CopyToField(entry.formulaName, f.name);
    CopyToField(entry.lineName, AsciiUpper(rt.line));
    entry.period = static_cast<int16_t>(StoredPeriodNumber(rt.period));
    r.kind = rt.doubleHash ? opcode::kRefFormulaDouble : opcode::kRefFormula;
    r.periodOrField = static_cast<uint8_t>(StoredPeriodNumber(rt.period));
    r.paramCount = f.paramCount;
    r.index = AddReference(entry, tok);
    return stkIndiRefs_.emplace(tok.text, std::move(r)).first->second;
}

}  // namespace tessaro
