#include "formula/compiler.h"

#include <algorithm>
#include <ctime>
#include <new>

#include "formula/condition_code.h"
#include "formula/lexer.h"
#include "formula/parser.h"
#include "platform/text.h"

namespace tessaro {

namespace {

// The name given to unnamed statements. The space after the ':' keeps a statement that
// begins with '=' (";=C;") from reading as a ':=' assignment.
constexpr std::string_view kUnnamedPrefix = "notnamingvariant: ";
constexpr int kPrefixLength = static_cast<int>(kUnnamedPrefix.size());

// The prepared text and what it takes to map a position in it back to the user's text.
class WorkingText {
public:
    // Trims, lower-cases and ends the text with ';'. Throws CompileError 30 when empty.
    explicit WorkingText(std::string_view user) {
        std::string_view trimmed = TrimAscii(user);
        if (trimmed.empty()) throw CompileError(kErrEmptyText, FormatCompileError(kErrEmptyText), 0, 0);
        lead_ = static_cast<int>(trimmed.data() - user.data());
        userEnd_ = lead_ + static_cast<int>(trimmed.size());
        text_ = AsciiLower(trimmed);
        if (text_.back() != ';') text_ += ';';
    }

    const std::string& text() const { return text_; }

    // Names every statement whose second token is neither ':=' nor ':' by inserting the
    // unnamed prefix at its start (right after the previous ';').
    void NameUnnamedStatements(const std::vector<std::string>& paramNames) {
        Lexer lexer(text_, &paramNames);
        size_t statementStart = 0;
        int tokenIndex = 0;
        Token first;
        auto mark = [&] {
            if (static_cast<int>(insertions_.size()) >= kMaxUnnamedStatements)
                throw SyntaxFault{kErrTooManyUnnamed, first.position, first.length,
                                  FormatDetail("最大值是%d", kMaxUnnamedStatements), {}};
            insertions_.push_back(statementStart);
        };
        for (;;) {
            int status = lexer.NextToken();
            const Token& tok = lexer.token();
            if (status == -2) {
                if (tokenIndex == 1) mark();
                break;
            }
            if (tokenIndex == 0) {
                if (tok.kind == kTokSemicolon) {
                    statementStart = static_cast<size_t>(tok.end());
                } else {
                    first = tok;
                    tokenIndex = 1;
                }
                continue;
            }
            if (tokenIndex == 1) {
                if (tok.kind != kTokAssign && tok.kind != kTokColon) mark();
                tokenIndex = 2;
            }
            if (tok.kind == kTokSemicolon) {
                tokenIndex = 0;
                statementStart = static_cast<size_t>(tok.end());
            }
        }
        if (insertions_.empty()) return;
        std::string named;
        named.reserve(text_.size() + insertions_.size() * kUnnamedPrefix.size());
        size_t from = 0;
        for (size_t at : insertions_) {
            named.append(text_, from, at - from);
            named += kUnnamedPrefix;
            from = at;
        }
        named.append(text_, from, std::string::npos);
        text_ = std::move(named);
        named_ = true;
    }

    // A position in the current text as a byte offset in the user's text.
    int UserPosition(int position) const {
        int p = position;
        if (named_) {
            int shift = 0;
            for (size_t k = 0; k < insertions_.size(); ++k) {
                int at = static_cast<int>(insertions_[k]) + kPrefixLength * static_cast<int>(k);
                if (position >= at + kPrefixLength) {
                    shift += kPrefixLength;
                } else {
                    if (position >= at) return lead_ + static_cast<int>(insertions_[k]);
                    break;
                }
            }
            p = position - shift;
        }
        return lead_ + p;
    }

    int userEnd() const { return userEnd_; }

    [[noreturn]] void Raise(const SyntaxFault& f) const {
        int pos = std::min(UserPosition(f.position), userEnd_);
        // Never select past the user's text (the appended ';' is not part of it).
        int len = std::max(0, std::min(f.length, userEnd_ - pos));
        throw CompileError(f.code, FormatCompileError(f.code, f.arg0, f.arg1), pos, len);
    }

private:
    std::string text_;
    int lead_ = 0;
    int userEnd_ = 0;
    std::vector<size_t> insertions_;  // statement starts in the text before the insertions
    bool named_ = false;
};

CompiledForm CompileTextImpl(std::string_view textGbk, uint32_t type, const std::vector<FormulaParam>& params,
                             const std::string& ownName, const CompileOptions& options) {
    if (!IsTextFormulaType(type)) throw CompileError(kErrInternal, FormatCompileError(kErrInternal), -1, 0);
    WorkingText work(textGbk);
    std::vector<std::string> paramNames;
    for (const FormulaParam& p : params) paramNames.emplace_back(p.nameText());
    try {
        work.NameUnnamedStatements(paramNames);
        FormulaParser parser(work.text(), type, params, ownName, options);
        parser.ParseFormula();
        if (parser.outputCount() == 0)
            throw CompileError(kErrNoOutput, FormatCompileError(kErrNoOutput), work.userEnd(), 0);
        if ((type == kFormulaSelection || type == kFormulaColourKLine) && parser.outputCount() != 1)
            work.Raise(SyntaxFault{kErrOneLineOnly, parser.secondOutputPosition(), parser.secondOutputLength(), {}, {}});
        CompiledForm form = parser.takeResult();
        if (type == kFormulaTradingSystem) {
            static constexpr std::string_view kSignals[] = {"ENTERLONG", "EXITLONG", "ENTERSHORT", "EXITSHORT"};
            for (OutputLineDesc& d : form.outputs)
                for (uint32_t i = 0; i < 4; ++i)
                    if (d.nameText() == kSignals[i]) d.setSignal(kTradingSignalBase + i);
        }
        return form;
    } catch (const SyntaxFault& f) {
        work.Raise(f);
    }
}

}  // namespace

CompiledForm CompileText(std::string_view textGbk, uint32_t type, const std::vector<FormulaParam>& params,
                         const CompileOptions& options) {
    try {
        return CompileTextImpl(textGbk, type, params, {}, options);
    } catch (const std::bad_alloc&) {
        throw CompileError(-1, Utf8ToGbk("内存错误"), -1, 0);
    }
}

int CompileFormula(FormulaRecord& record, const CompileOptions& options) {
    CompiledForm form;
    try {
        if (record.type == kFormulaCombined) {
            bool built = options.conditionBuilder ? options.conditionBuilder(record, form)
                                                  : BuildConditionCode(record, form);
            if (!built) throw CompileError(kErrInternal, FormatCompileError(kErrInternal), -1, 0);
        } else {
            form = CompileTextImpl(record.source, record.type, record.params, std::string(record.nameText()), options);
        }
    } catch (const std::bad_alloc&) {
        throw CompileError(-1, Utf8ToGbk("内存错误"), -1, 0);
    }
    // Every check has passed: only now is the old compiled form replaced.
    StoreCompiledForm(record, std::move(form));
    record.compileTime = options.compileTime ? *options.compileTime : static_cast<uint32_t>(std::time(nullptr));
    return 0;
}

ReferencedFormula DescribeForReference(const FormulaRecord& record) {
    ReferencedFormula f;
    f.type = record.type;
    f.name = std::string(record.nameText());
    f.paramCount = static_cast<int>(record.params.size());
    for (size_t i = 0; i < record.outputs.size(); ++i) f.lineNames.push_back(record.lineDisplayName(i));
    for (const ReferenceEntry& e : record.references)
        if (!e.formulaNameText().empty()) f.references.emplace_back(e.formulaNameText());
    return f;
}

FormulaLookup LookupInRecords(const std::vector<FormulaRecord>* records) {
    return [records](uint32_t typeClass, std::string_view name) -> std::optional<ReferencedFormula> {
        if (!records) return std::nullopt;
        for (const FormulaRecord& r : *records)
            if (SameFormulaTypeClass(r.type, typeClass) && EqualsNoCase(r.nameText(), name))
                return DescribeForReference(r);
        return std::nullopt;
    };
}

}  // namespace tessaro
