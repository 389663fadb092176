// The evaluator's working state (not part of the library's interface).
//
// A Session lives for one top-level evaluation and is shared by the formulas it references:
// the series cache (one load per security and period), the cache of evaluated referenced
// formulas (one evaluation per security, period, formula and parameter values), the chain of
// formulas being evaluated (to stop reference cycles) and the column pool. A Frame runs one
// formula over one series with its own value stack and slot list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "formula/eval_data_source.h"
#include "formula/eval_result.h"
#include "formula/evaluator.h"
#include "formula/evaluator_program.h"
#include "formula/formula_set.h"
#include "formula/functions.h"
#include "formula/special_indicators.h"
#include "formula/value.h"

namespace tessaro::eval {

// Identifies an evaluated referenced formula.
struct ReferenceKey {
    SecurityId security;
    Period period = kPeriodInvalid;
    uint32_t typeClass = 0;
    std::string name;                 // upper case
    std::vector<uint32_t> paramBits;  // the parameter values' bits: NaN equals itself here

    bool operator==(const ReferenceKey& o) const;
};

struct EvaluatedReference {
    ReferenceKey key;
    bool ok = false;                  // false: the evaluation had no result
    std::vector<FormulaValue> lines;  // the visible values, in line order
};

class Session {
public:
    // `spareSeries` holds series objects of earlier evaluations whose buffers loads reuse.
    Session(const FormulaSet& formulas, EvalDataSource& data, const SpecialIndicatorRegistry* specials,
            ColumnPool& pool, std::vector<std::shared_ptr<Series>>& spareSeries, const EvalRequest& request);
    ~Session();

    // The series of a security at a period, loaded once; null when there is none.
    const Series* Load(const SecurityId& id, Period period);
    // Enters a series the caller already holds (it outlives the session).
    void Preload(const SecurityId& id, Period period, const Series& series);

    // A copy of the formula of `type`'s class named `name`, taken once per session.
    std::shared_ptr<const FormulaRecord> FindFormula(uint32_t type, std::string_view name);

    EvaluatedReference* FindReference(const ReferenceKey& key);
    EvaluatedReference& AddReference(EvaluatedReference ref);

    const FormulaSet& formulas;
    EvalDataSource& data;
    const SpecialIndicatorRegistry* specials;
    ColumnPool& pool;
    int loadOptions;
    uint32_t windowFrom, windowTo;
    void* specialContext;

    // The formulas being evaluated, outermost first: (type class, upper-case name).
    std::vector<std::pair<uint32_t, std::string>> active;
    int referenceEvaluations = 0;
    // The first reference that gave an empty line for want of an answer (UTF-8); empty when none.
    std::string unresolved;

private:
    struct CachedSeries {
        SecurityId id;
        Period period = kPeriodInvalid;
        std::shared_ptr<const Series> series;  // null: none
    };
    struct FormulaCopy {
        uint32_t typeClass = 0;
        std::string name;
        std::shared_ptr<const FormulaRecord> record;  // null: not in the set
    };
    std::vector<CachedSeries> series_;
    std::vector<std::shared_ptr<Series>>& spareSeries_;
    std::vector<std::shared_ptr<Series>> loaded_;  // given back to the spares at the end
    std::vector<FormulaCopy> formulaCopies_;
    std::vector<std::unique_ptr<EvaluatedReference>> references_;
};

// Index series, quote fields and finance records for the functions, over the session.
class FrameMarketData : public MarketDataSource {
public:
    explicit FrameMarketData(Session& s) : s_(s) {}
    const Series* IndexSeries(const CodeEntry& security, Period period) override;
    std::optional<double> QuoteFieldValue(const CodeEntry& security, int field) override;
    bool LoadFinance(const CodeEntry& security, FinanceBlock& out) override;

private:
    Session& s_;
};

// Runs one formula over one series.
class Frame {
public:
    Frame(Session& session, const FormulaRecord& formula, const CodeEntry& security, const Series& series, Period period);

    // Applicability, parameters, instructions or the name dispatch. On success `lines` holds
    // the visible values in line order; false means no result.
    bool Run(std::vector<FormulaValue>& lines);
    // Run also copies the bar times, in the pass that gathers the quote columns (when the
    // formula reads any); the top-level frame's result is stamped with them.
    void CollectBarTimes() { collectTimes_ = true; }
    // The times Run copied, or null.
    LinePoints::Times TakeBarTimes() { return std::move(times_); }
    // Why Run returned false.
    EvalFailure failure() const { return failure_; }
    const std::string& failureMessage() const { return failureMessage_; }

private:
    struct Slot {
        FormulaValue value;
        int32_t lent = 0;  // stack entries that borrow this slot's column
    };
    struct Entry {
        FormulaValue value;
        int32_t slot = -1;  // >= 0: the value is the column of that lender, lent until a function reads it
    };
    // Lender indexes from here on are quote columns (OPEN .. AMOUNT) computed once per frame.
    static constexpr int32_t kQuoteLenders = 1 << 20;
    Slot& Lender(int32_t index) {
        return index >= kQuoteLenders ? quotes_[static_cast<size_t>(index - kQuoteLenders)]
                                      : slots_[static_cast<size_t>(index)];
    }
    bool PushQuote(int id);
    void GatherQuotes(uint32_t wanted);

    bool Execute(const ProgramInfo& program);
    bool RunSpecial(std::vector<FormulaValue>& lines);
    void PushSlot(uint16_t slot, int32_t at, const ProgramInfo& program);
    bool Store(const Instruction& in);
    bool Call(int id);
    bool Reference(const Instruction& in);  // evaluator_references.cpp
    // Turns an entry into a value of its own (a lent slot is copied).
    FormulaValue Own(Entry&& e);
    FormulaValue CopyOf(const FormulaValue& v);
    void Push(FormulaValue v) { stack_.push_back(Entry{std::move(v), -1}); }
    void Release();
    bool Fail(EvalFailure failure, std::string message);
    // Pushes the empty series of a reference that cannot be answered, noting why.
    bool Unresolved(const ReferenceEntry& ref, uint8_t kind, uint8_t field, std::string_view why);

    Session& s_;
    const FormulaRecord& f_;
    CodeEntry security_;
    const Series& series_;
    Period period_;
    FrameMarketData market_;
    FunctionContext ctx_;
    std::vector<Slot> slots_;
    std::vector<Slot> quotes_;           // OPEN .. AMOUNT of this frame's bars, once computed
    int32_t quoteIndex_[6] = {-1, -1, -1, -1, -1, -1};
    bool collectTimes_ = false;
    std::shared_ptr<std::vector<uint32_t>> times_;
    std::vector<Entry> stack_;
    std::vector<FormulaValue> args_;
    EvalFailure failure_ = EvalFailure::kNone;
    std::string failureMessage_;
};

// The lines of an evaluation as the caller gets them: one per output-line descriptor (at least
// as many as `lines` for a special indicator), LinePoints stamped with the bar times (`times`
// when the frame copied them already, else copied here).
// With `take`, the lines' columns move into the result instead of being copied (`lines` is
// left with empty columns).
std::unique_ptr<EvalResult> AssembleResult(const FormulaRecord& formula, std::vector<FormulaValue>& lines,
                                           const Series& series, StoreTime marketTime, LinePoints::Times times = {},
                                           bool take = false);

}  // namespace tessaro::eval
