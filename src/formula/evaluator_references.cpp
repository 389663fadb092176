// Formula and stock references (opcode 70): another security's quote field, or a line of
// another formula evaluated for this or another security, at this or another period.
//
// A reference that cannot be answered (unknown security, deleted formula, missing line, no
// series, a reference cycle or chain too deep) pushes an empty series: the formula evaluates
// on without that line.
#include <array>
#include <cstring>

#include "formula/evaluator_align.h"
#include "formula/evaluator_internal.h"
#include "formula/opcodes.h"
#include "platform/text.h"

namespace tessaro::eval {
namespace {

// The words that stand for an index belonging to the evaluated security, and the block
// category each one looks in ("" for the market's own index). GBK.
struct IndexWord {
    std::string word;
    std::string category;
};
const std::array<IndexWord, 4>& IndexWords() {
    static const std::array<IndexWord, 4> words = {
        IndexWord{Utf8ToGbk("大盘指数"), ""},
        IndexWord{Utf8ToGbk("行业指数"), Utf8ToGbk("行业")},
        IndexWord{Utf8ToGbk("概念指数"), Utf8ToGbk("概念")},
        IndexWord{Utf8ToGbk("区域指数"), Utf8ToGbk("区域")},
    };
    return words;
}

std::optional<CodeEntry> ResolveStock(Session& s, const CodeEntry& evaluated, std::string_view stock) {
    if (stock.empty()) return evaluated;
    for (const IndexWord& w : IndexWords()) {
        if (stock != w.word) continue;
        if (w.category.empty()) return s.data.MarketIndex(evaluated);
        return s.data.CategoryIndex(evaluated, w.category);
    }
    SecurityId id;
    if (!ParseSecurityText(AsciiUpper(stock), id)) return std::nullopt;
    return s.data.FindSecurity(id);
}

uint32_t FloatBits(float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

}  // namespace

bool Frame::Unresolved(const ReferenceEntry& ref, uint8_t kind, uint8_t field, std::string_view why) {
    if (s_.unresolved.empty()) {
        // Written as in the formula: "STOCK$FIELD" or "[STOCK$]FORMULA[.LINE]".
        std::string text;
        if (!ref.stockText().empty()) text = GbkToUtf8(ref.stockText()) + "$";
        if (kind == opcode::kRefStockField) {
            static constexpr const char* kFields[] = {"OPEN", "HIGH", "LOW", "CLOSE", "VOL", "AMOUNT"};
            text += field < 6 ? kFields[field] : "?";
        } else {
            text += GbkToUtf8(ref.formulaNameText());
            if (!ref.lineNameText().empty()) text += "." + GbkToUtf8(ref.lineNameText());
        }
        s_.unresolved = "reference \"" + text + "\" cannot be resolved: " + std::string(why);
    }
    Push(FormulaValue::EmptySeries(static_cast<int32_t>(series_.bars.size()), &s_.pool));
    return true;
}

bool Frame::Reference(const Instruction& in) {
    const uint8_t index = in.byteAt(0), periodOrField = in.byteAt(1), argCount = in.byteAt(2), kind = in.byteAt(3);
    const ReferenceEntry& ref = f_.references[index];

    // The arguments, in call order. They are constant numbers; anything else is a damaged program.
    std::vector<float> args(argCount);
    for (int k = argCount - 1; k >= 0; --k) {
        Entry e = std::move(stack_.back());
        stack_.pop_back();
        if (e.slot >= 0) --Lender(e.slot).lent;
        if (e.slot >= 0 || !e.value.isNumber()) return Fail(EvalFailure::kDamaged, "a reference argument is not a number");
        args[static_cast<size_t>(k)] = e.value.number;
    }
    const int32_t bars = static_cast<int32_t>(series_.bars.size());
    auto pushEmpty = [&] {
        Push(FormulaValue::EmptySeries(bars, &s_.pool));
        return true;
    };
    if (kind == opcode::kRefFormulaDouble) return pushEmpty();

    std::optional<CodeEntry> target = ResolveStock(s_, security_, ref.stockText());
    if (!target) return Unresolved(ref, kind, periodOrField, "unknown security");

    if (kind == opcode::kRefStockField) {
        const Series* other = s_.Load(target->id, period_);
        if (!other) return Unresolved(ref, kind, periodOrField, "no data");
        Push(AlignQuoteField(*other, periodOrField, series_, period_, &s_.pool));
        return true;
    }

    // Formula reference.
    const Period period = periodOrField != 0 ? PeriodFromNumber(periodOrField) : period_;
    std::shared_ptr<const FormulaRecord> referenced = s_.FindFormula(static_cast<uint32_t>(ref.type), ref.formulaNameText());
    if (!referenced) return Unresolved(ref, kind, periodOrField, "no such formula");
    // Arguments were counted against the formula when this one was compiled; it may have changed since.
    if (argCount != 0 && argCount != referenced->params.size())
        return Unresolved(ref, kind, periodOrField, "the formula's parameters have changed");
    int line = ref.lineNameText().empty() ? static_cast<int>(referenced->outputs.size()) - 1
                                          : referenced->findLine(ref.lineNameText());
    if (line < 0) return Unresolved(ref, kind, periodOrField, "no such line");

    ReferenceKey key;
    key.security = target->id;
    key.period = period;
    key.typeClass = FormulaTypeClass(referenced->type);
    key.name = AsciiUpper(referenced->nameText());
    for (size_t k = 0; k < referenced->params.size(); ++k)
        key.paramBits.push_back(FloatBits(argCount ? args[k] : referenced->params[k].defaultValue));

    const Series* other = s_.Load(target->id, period);
    if (!other) return Unresolved(ref, kind, periodOrField, "no data");

    EvaluatedReference* evaluated = s_.FindReference(key);
    if (!evaluated) {
        // A formula already being evaluated further out would reach itself again; a chain this
        // deep, or this many referenced evaluations, is taken for the same.
        for (const auto& [typeClass, name] : s_.active)
            if (typeClass == key.typeClass && name == key.name) return Unresolved(ref, kind, periodOrField, "it refers back to itself");
        if (static_cast<int>(s_.active.size()) >= kMaxReferenceDepth)
            return Unresolved(ref, kind, periodOrField, "references nested too deep");
        if (s_.referenceEvaluations >= kMaxReferenceEvaluations)
            return Unresolved(ref, kind, periodOrField, "too many referenced evaluations");
        ++s_.referenceEvaluations;

        FormulaRecord copy = *referenced;
        if (argCount)
            for (size_t k = 0; k < copy.params.size(); ++k) copy.params[k].defaultValue = args[k];
        EvaluatedReference result;
        result.key = key;
        s_.active.emplace_back(key.typeClass, key.name);
        {
            Frame nested(s_, copy, *target, *other, period);
            result.ok = nested.Run(result.lines);
        }
        s_.active.pop_back();
        evaluated = &s_.AddReference(std::move(result));
    }
    if (!evaluated->ok) return Unresolved(ref, kind, periodOrField, "the formula has no result");
    if (line >= static_cast<int>(evaluated->lines.size())) return Unresolved(ref, kind, periodOrField, "no such line");
    const FormulaValue& value = evaluated->lines[static_cast<size_t>(line)];
    if (other == &series_) {
        Push(CopyOf(value));
        return true;
    }
    Push(AlignLine(value, *other, series_, AlignmentPeriod(period_, period), &s_.pool));
    return true;
}

}  // namespace tessaro::eval
