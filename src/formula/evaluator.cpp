// Entry of an evaluation, the session's caches and the execution of instructions.
#include "formula/evaluator.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "formula/builtin_indicators.h"
#include "formula/compile_errors.h"
#include "formula/compiler.h"
#include "formula/evaluator_internal.h"
#include "formula/function_registry.h"
#include "formula/opcodes.h"
#include "platform/text.h"

namespace tessaro {

bool FormulaApplies(const FormulaRecord& formula, Period period, uint16_t securityClass) {
    if (formula.usageFlags & PeriodDisableBit(period)) return false;
    if (securityClass == kClassIndex) return (formula.usageFlags & kUsageNotForIndexes) == 0;
    return (formula.usageFlags & kUsageNotForOthers) == 0;
}

std::string_view EvalFailureName(EvalFailure failure) {
    switch (failure) {
        case EvalFailure::kNone: return "no failure";
        case EvalFailure::kUnknownFormula: return "unknown formula";
        case EvalFailure::kCompileError: return "compile error";
        case EvalFailure::kNoData: return "no data";
        case EvalFailure::kUnsupportedPeriod: return "unsupported period";
        case EvalFailure::kUnresolvedReference: return "unresolved reference";
        case EvalFailure::kNotForSecurity: return "not for this security";
        case EvalFailure::kInstructionFailed: return "instruction failed";
        case EvalFailure::kDamaged: return "damaged formula";
        case EvalFailure::kNoLines: return "no lines";
        case EvalFailure::kError: return "error";
    }
    return "unknown failure";
}

namespace {

// The reason FormulaApplies gives no: the period or the kind of security.
bool ExplainNotApplying(const FormulaRecord& formula, Period period, uint16_t securityClass, EvalStatus& status) {
    if (FormulaApplies(formula, period, securityClass)) return false;
    if (formula.usageFlags & PeriodDisableBit(period)) {
        status.failure = EvalFailure::kUnsupportedPeriod;
        status.message = "the formula is not used at period " + std::to_string(PeriodNumber(period));
    } else {
        status.failure = EvalFailure::kNotForSecurity;
        status.message = securityClass == kClassIndex ? "the formula is not used for indexes"
                                                      : "the formula is used for indexes only";
    }
    return true;
}

}  // namespace

namespace eval {

// ---- Session ------------------------------------------------------------------------------

bool ReferenceKey::operator==(const ReferenceKey& o) const {
    return period == o.period && typeClass == o.typeClass && SameSecurity(security, o.security) && name == o.name &&
           paramBits == o.paramBits;
}

Session::Session(const FormulaSet& formulas, EvalDataSource& data, const SpecialIndicatorRegistry* specials,
                 ColumnPool& pool, std::vector<std::shared_ptr<Series>>& spareSeries, const EvalRequest& request)
    : formulas(formulas),
      data(data),
      specials(specials),
      pool(pool),
      loadOptions(request.loadOptions),
      windowFrom(request.windowFrom),
      windowTo(request.windowTo),
      specialContext(request.specialContext),
      spareSeries_(spareSeries) {}

Session::~Session() {
    // The columns of referenced lines serve the next evaluation of this context, and so do the
    // buffers of the series loaded.
    for (auto& ref : references_)
        for (FormulaValue& v : ref->lines)
            if (v.isSeries()) pool.Recycle(v);
    series_.clear();
    constexpr size_t kSpares = 8;
    for (std::shared_ptr<Series>& s : loaded_)
        if (s.use_count() == 1 && spareSeries_.size() < kSpares) spareSeries_.push_back(std::move(s));
}

const Series* Session::Load(const SecurityId& id, Period period) {
    for (const CachedSeries& c : series_)
        if (c.period == period && SameSecurity(c.id, id)) return c.series.get();
    std::shared_ptr<Series> loaded;
    if (!spareSeries_.empty()) {
        loaded = std::move(spareSeries_.back());
        spareSeries_.pop_back();
    } else {
        loaded = std::make_shared<Series>();
    }
    loaded_.push_back(loaded);
    std::shared_ptr<const Series> kept;
    if (data.LoadSeries(id, period, loadOptions, *loaded)) {
        loaded->period = period;
        kept = std::move(loaded);
    }
    series_.push_back(CachedSeries{id, period, kept});
    return series_.back().series.get();
}

void Session::Preload(const SecurityId& id, Period period, const Series& series) {
    // Not owned: the caller's series outlives the evaluation.
    series_.push_back(CachedSeries{id, period, std::shared_ptr<const Series>(std::shared_ptr<void>(), &series)});
}

std::shared_ptr<const FormulaRecord> Session::FindFormula(uint32_t type, std::string_view name) {
    const uint32_t typeClass = FormulaTypeClass(type);
    for (const FormulaCopy& c : formulaCopies_)
        if (c.typeClass == typeClass && EqualsNoCase(c.name, name)) return c.record;
    std::shared_ptr<const FormulaRecord> record;
    if (std::optional<FormulaRecord> found = formulas.Find(type, name))
        record = std::make_shared<const FormulaRecord>(std::move(*found));
    formulaCopies_.push_back(FormulaCopy{typeClass, std::string(name), record});
    return record;
}

EvaluatedReference* Session::FindReference(const ReferenceKey& key) {
    for (auto& r : references_)
        if (r->key == key) return r.get();
    return nullptr;
}

EvaluatedReference& Session::AddReference(EvaluatedReference ref) {
    references_.push_back(std::make_unique<EvaluatedReference>(std::move(ref)));
    return *references_.back();
}

// ---- FrameMarketData ----------------------------------------------------------------------

const Series* FrameMarketData::IndexSeries(const CodeEntry& security, Period period) {
    // Loaded once per evaluation session and shared by every index function call.
    std::optional<CodeEntry> index = s_.data.MarketIndex(security);
    return index ? s_.Load(index->id, period) : nullptr;
}

std::optional<double> FrameMarketData::QuoteFieldValue(const CodeEntry& security, int field) {
    return s_.data.QuoteFieldValue(security, field);
}

bool FrameMarketData::LoadFinance(const CodeEntry& security, FinanceBlock& out) {
    return s_.data.LoadFinance(security, out);
}

// ---- Frame --------------------------------------------------------------------------------

Frame::Frame(Session& session, const FormulaRecord& formula, const CodeEntry& security, const Series& series,
             Period period)
    : s_(session), f_(formula), security_(security), series_(series), period_(period), market_(session) {
    ctx_.series = &series_;
    ctx_.security = security_;
    ctx_.period = period_;
    ctx_.data = &market_;
    ctx_.pool = &s_.pool;
}

FormulaValue Frame::CopyOf(const FormulaValue& v) {
    if (!v.isSeries()) {
        FormulaValue c = v.Clone();
        c.flags = 0;
        return c;
    }
    FormulaValue c = FormulaValue::MakeSeries(v.count, v.begin, &s_.pool);
    size_t n = std::min(c.values.size(), v.values.size());
    if (n) std::memcpy(c.values.data(), v.values.data(), n * sizeof(float));
    if (v.drawing) c.drawing = std::make_unique<DrawingData>(*v.drawing);
    return c;
}

FormulaValue Frame::Own(Entry&& e) {
    if (e.slot < 0) return std::move(e.value);
    Slot& lender = Lender(e.slot);
    --lender.lent;
    if (e.slot >= kQuoteLenders && lender.lent == 0) {
        // A quote column nobody else holds moves out; a later use computes it again.
        for (int32_t& q : quoteIndex_)
            if (q == e.slot - kQuoteLenders) q = -1;
        FormulaValue v = std::move(lender.value);
        lender.value = FormulaValue{};
        return v;
    }
    return CopyOf(lender.value);
}

// OPEN, HIGH, LOW, CLOSE, VOL and AMOUNT depend on the bars alone: each is computed once per
// frame and lent to every function that reads it.
bool Frame::PushQuote(int id) {
    int32_t& index = quoteIndex_[id - kFnOpen];
    if (index < 0) {
        FormulaValue column;
        if (!CallFunction(id, ctx_, {}, column)) return false;
        quotes_.push_back(Slot{std::move(column), 0});
        index = static_cast<int32_t>(quotes_.size() - 1);
    }
    ++quotes_[static_cast<size_t>(index)].lent;
    stack_.push_back(Entry{FormulaValue{}, kQuoteLenders + index});
    return true;
}

// The quote columns the program reads are gathered before it runs, in one pass over the bar
// records that also copies the bar times when the result wants them.
void Frame::GatherQuotes(uint32_t wanted) {
    FormulaValue columns[6];
    std::shared_ptr<std::vector<uint32_t>> times;
    if (collectTimes_) times = std::make_shared<std::vector<uint32_t>>(series_.size());
    GatherQuoteColumns(ctx_, wanted, columns, times ? times->data() : nullptr);
    for (int k = 0; k < 6; ++k) {
        if (!(wanted & (1u << k))) continue;
        quotes_.push_back(Slot{std::move(columns[k]), 0});
        quoteIndex_[k] = static_cast<int32_t>(quotes_.size() - 1);
    }
    times_ = std::move(times);
}

void Frame::PushSlot(uint16_t index, int32_t at, const ProgramInfo& program) {
    Slot& slot = slots_[index];
    if (!slot.value.isSeries()) {
        Push(CopyOf(slot.value));
        return;
    }
    // A hidden statement read for the last time gives its column away: nothing else needs it.
    if (program.lastRead[index] == at && slot.value.hidden() && slot.lent == 0) {
        FormulaValue v = std::move(slot.value);
        v.flags = 0;
        slot.value = FormulaValue{};
        slot.value.flags = kValueHidden;  // still no line
        Push(std::move(v));
        return;
    }
    ++slot.lent;
    stack_.push_back(Entry{FormulaValue{}, index});
}

bool Frame::Store(const Instruction& in) {
    Entry e = std::move(stack_.back());
    stack_.pop_back();
    FormulaValue v = Own(std::move(e));
    v.flags = in.high16() != 0 ? kValueHidden : 0;
    slots_.push_back(Slot{std::move(v), 0});
    return true;
}

bool Frame::Fail(EvalFailure failure, std::string message) {
    if (failure_ == EvalFailure::kNone) {
        failure_ = failure;
        failureMessage_ = std::move(message);
    }
    return false;
}

namespace {
std::string FunctionText(const FunctionInfo* info, int id) {
    return info && info->name ? std::string(info->name) : "operator " + std::to_string(id);
}
}  // namespace

bool Frame::Call(int id) {
    if (id >= kFnOpen && id <= kFnAmount) {
        if (PushQuote(id)) return true;
        return Fail(EvalFailure::kInstructionFailed, FunctionText(FunctionById(id), id) + " has no result");
    }
    const FunctionInfo* info = FunctionById(id);
    if (!info) return Fail(EvalFailure::kDamaged, "unknown opcode " + std::to_string(id));
    const size_t n = static_cast<size_t>(info->paramCount);
    const size_t base = stack_.size() - n;
    args_.clear();
    args_.resize(n);
    int32_t lentFrom[kMaxFunctionParams];
    const float* lentData[kMaxFunctionParams];
    size_t lentSize[kMaxFunctionParams];
    for (size_t k = 0; k < n; ++k) {
        Entry& e = stack_[base + k];
        lentFrom[k] = -1;
        if (e.slot >= 0) {
            Slot& slot = Lender(e.slot);
            --slot.lent;
            size_t earlier = k;
            for (size_t j = 0; j < k; ++j)
                if (lentFrom[j] == e.slot) earlier = j;
            if (earlier < k) {
                // Both arguments read the same statement: the second gets a copy.
                args_[k] = CopyOf(args_[earlier]);
                continue;
            }
            FormulaValue& a = args_[k];
            a.kind = kValueSeries;
            a.flags = kValueBorrowed;
            a.begin = slot.value.begin;
            a.count = slot.value.count;
            a.values = std::move(slot.value.values);
            lentFrom[k] = e.slot;
            lentData[k] = a.values.data();
            lentSize[k] = a.values.size();
        } else {
            args_[k] = std::move(e.value);
        }
        // A constant (also one stored in a variable) where only a series may stand is spread
        // over every bar.
        uint8_t mask = info->paramKinds[k];
        FormulaValue& a = args_[k];
        if (a.isNumber() && (mask & kParamSeries) && !(mask & kParamNumber)) {
            FormulaValue s = FormulaValue::MakeSeries(ctx_.barCount(), 0, &s_.pool);
            std::fill(s.values.begin(), s.values.end(), a.number);
            a = std::move(s);
        }
    }
    stack_.resize(base);

    FormulaValue out;
    bool ok = CallFunction(id, ctx_, std::span<FormulaValue>(args_.data(), n), out);

    // Lent columns go back to their statements.
    for (size_t k = 0; k < n; ++k) {
        if (lentFrom[k] < 0) continue;
        FormulaValue& a = args_[k];
        if (a.values.data() != lentData[k] || a.values.size() != lentSize[k]) {
            // The function kept the column: the statement's points are gone, so nothing that
            // follows may be trusted.
            ok = false;
            continue;
        }
        Lender(lentFrom[k]).value.values = std::move(a.values);
    }
    for (FormulaValue& a : args_)
        if (a.isSeries() && !(a.flags & kValueBorrowed)) s_.pool.Recycle(a);
    args_.clear();
    if (!ok) return Fail(EvalFailure::kInstructionFailed, FunctionText(info, id) + " has no result");
    Push(std::move(out));
    return true;
}

bool Frame::Execute(const ProgramInfo& program) {
    stack_.reserve(static_cast<size_t>(program.maxDepth) + 1);
    slots_.reserve(static_cast<size_t>(program.slotCount));
    const auto& code = f_.instructions;
    for (size_t i = 0; i < code.size(); ++i) {
        const Instruction in = code[i];
        switch (in.opcode) {
            case opcode::kPushNumber:
                Push(FormulaValue::Number(in.number()));
                break;
            case opcode::kPushParam:
            case opcode::kPushVariable:
                PushSlot(in.low16(), static_cast<int32_t>(i), program);
                break;
            case opcode::kStore:
                if (!Store(in)) return false;
                break;
            case opcode::kPushString:
                Push(FormulaValue::String(std::string(f_.poolString(in.low16()))));
                break;
            case opcode::kReference:
                if (!Reference(in)) return false;
                break;
            default:
                if (!Call(static_cast<int>(in.opcode))) return false;
                break;
        }
    }
    return true;
}

bool Frame::RunSpecial(std::vector<FormulaValue>& lines) {
    std::string_view name = f_.nameText();
    switch (FindBuiltinIndicator(name)) {
        case BuiltinIndicator::kTradeVolume: return ComputeTradeVolume(series_, &s_.pool, lines);
        case BuiltinIndicator::kAdvanceDecline: return ComputeAdvanceDecline(security_, series_, &s_.pool, lines);
        case BuiltinIndicator::kProfitRatio: return ComputeProfitRatio(series_, f_.outputs.size(), &s_.pool, lines);
        case BuiltinIndicator::kNone: break;
    }
    if (!s_.specials) return false;
    SpecialIndicatorFn indicator = s_.specials->Find(name);
    if (!indicator) return false;  // also the lines the charts draw themselves (K, PRICE, TEND)
    SpecialIndicatorCall call;
    call.formula = &f_;
    call.security = security_;
    call.series = &series_;
    call.period = period_;
    call.windowFrom = s_.windowFrom;
    call.windowTo = s_.windowTo;
    call.context = s_.specialContext;
    call.pool = &s_.pool;
    call.lines = &lines;
    return indicator(call);
}

void Frame::Release() {
    for (Slot& slot : slots_)
        if (slot.value.isSeries()) s_.pool.Recycle(slot.value);
    for (Slot& quote : quotes_)
        if (quote.value.isSeries()) s_.pool.Recycle(quote.value);
    quotes_.clear();
    for (Entry& e : stack_)
        if (e.slot < 0 && e.value.isSeries()) s_.pool.Recycle(e.value);
    slots_.clear();
    stack_.clear();
}

bool Frame::Run(std::vector<FormulaValue>& lines) {
    lines.clear();
    failure_ = EvalFailure::kNone;
    failureMessage_.clear();
    EvalStatus why;
    if (ExplainNotApplying(f_, period_, security_.securityClass, why)) return Fail(why.failure, why.message);
    if (f_.instructions.empty()) {
        if (!RunSpecial(lines)) {
            for (FormulaValue& v : lines)
                if (v.isSeries()) s_.pool.Recycle(v);
            lines.clear();
            return Fail(EvalFailure::kNoLines, "no indicator computes the lines of " + GbkToUtf8(f_.nameText()));
        }
        for (FormulaValue& v : lines) v.flags = 0;
        return true;
    }
    if (!IsKnownFormulaType(f_.type)) return Fail(EvalFailure::kDamaged, "unknown formula type " + std::to_string(f_.type));
    ProgramInfo program;
    if (!CheckProgram(f_, program)) return Fail(EvalFailure::kDamaged, "the instructions are damaged");

    // One hidden constant slot per parameter, holding its value.
    for (const FormulaParam& p : f_.params) {
        FormulaValue v = FormulaValue::Number(p.defaultValue);
        v.flags = kValueHidden;
        slots_.push_back(Slot{std::move(v), 0});
    }
    if (program.quoteReads) GatherQuotes(program.quoteReads);
    bool ok = Execute(program);
    if (!ok) Fail(EvalFailure::kDamaged, "the instructions are damaged");  // keeps an earlier reason
    if (ok) {
        stack_.clear();  // values a damaged program left behind
        for (Slot& slot : slots_)
            if (!slot.value.hidden()) lines.push_back(std::move(slot.value));
    }
    Release();
    return ok;
}

}  // namespace eval

// ---- FormulaEvaluator ---------------------------------------------------------------------

FormulaEvaluator::FormulaEvaluator(const FormulaSet& formulas, EvalDataSource& data,
                                   const SpecialIndicatorRegistry* specials)
    : formulas_(formulas), data_(data), specials_(specials) {}

FormulaEvaluator::~FormulaEvaluator() = default;

std::unique_ptr<EvalResult> FormulaEvaluator::Evaluate(const FormulaRecord& formula, const CodeEntry& security,
                                                       const Series* preloaded, Period period, int loadOptions,
                                                       uint32_t windowFrom, uint32_t windowTo, void* specialContext) {
    EvalRequest request;
    request.security = security;
    request.preloaded = preloaded;
    request.period = period;
    request.loadOptions = loadOptions;
    request.windowFrom = windowFrom;
    request.windowTo = windowTo;
    request.specialContext = specialContext;
    return Evaluate(formula, request);
}

std::unique_ptr<EvalResult> FormulaEvaluator::Evaluate(const FormulaRecord& formula, const EvalRequest& request) {
    EvalStatus status;
    return Evaluate(formula, request, status);
}

std::unique_ptr<EvalResult> FormulaEvaluator::Evaluate(const FormulaRecord& formula, const EvalRequest& request,
                                                       EvalStatus& status) {
    status = EvalStatus{};
    // Evaluation never throws: memory running out (or a special indicator that throws) is no result.
    try {
        return EvaluateOrThrow(formula, request, status);
    } catch (const std::exception& e) {
        status.failure = EvalFailure::kError;
        status.message = std::string("evaluation failed: ") + e.what();
        return nullptr;
    }
}

std::unique_ptr<EvalResult> FormulaEvaluator::EvaluateNamed(uint32_t type, std::string_view name,
                                                            const EvalRequest& request, EvalStatus& status) {
    std::optional<FormulaRecord> formula = formulas_.Find(type, name);
    if (!formula) {
        status = EvalStatus{};
        status.failure = EvalFailure::kUnknownFormula;
        status.message = "unknown formula " + GbkToUtf8(name);
        return nullptr;
    }
    return Evaluate(*formula, request, status);
}

std::unique_ptr<EvalResult> FormulaEvaluator::CompileAndEvaluate(FormulaRecord& formula, const EvalRequest& request,
                                                                 EvalStatus& status) {
    try {
        CompileOptions options;
        options.lookup = formulas_.CompilerLookup();
        CompileFormula(formula, options);
    } catch (const CompileError& e) {
        status = EvalStatus{};
        status.failure = EvalFailure::kCompileError;
        status.message = e.displayUtf8();
        status.errorPosition = e.position();
        status.errorLength = e.length();
        return nullptr;
    }
    return Evaluate(formula, request, status);
}

namespace {

// Whether the formula's instructions read nothing of a series but its bars: no reference
// (a referenced formula or stock shares the series cache and may read anything) and no
// chip function (they read the circulating capital per bar). Formulas without
// instructions are special indicators, which read the trade and capital data.
bool ReadsOnlyBars(const FormulaRecord& formula) {
    if (formula.instructions.empty()) return false;
    for (const Instruction& in : formula.instructions)
        if (in.opcode == opcode::kReference || in.opcode == kFnCost || in.opcode == kFnWinner) return false;
    return true;
}

}  // namespace

std::unique_ptr<EvalResult> FormulaEvaluator::EvaluateOrThrow(const FormulaRecord& formula, const EvalRequest& original,
                                                              EvalStatus& status) {
    // The series loader builds only the per-bar data the formula reads.
    EvalRequest request = original;
    if (ReadsOnlyBars(formula)) request.loadOptions |= kLoadBarsOnly;
    Period period = request.period;
    if (request.preloaded && IsValidPeriod(request.preloaded->period)) period = request.preloaded->period;
    if (!IsValidPeriod(period)) {
        status.failure = EvalFailure::kUnsupportedPeriod;
        status.message = "period " + std::to_string(PeriodNumber(period)) + " is not a period (2 to 14)";
        return nullptr;
    }
    if (ExplainNotApplying(formula, period, request.security.securityClass, status)) return nullptr;

    eval::Session session(formulas_, data_, specials_, pool_, spareSeries_, request);
    const Series* series = nullptr;
    if (request.preloaded) {
        session.Preload(request.security.id, period, *request.preloaded);
        series = request.preloaded;
    } else {
        series = session.Load(request.security.id, period);
        if (!series) {
            status.failure = EvalFailure::kNoData;
            status.message = "no data for " + SecurityText(request.security.id) + " at period " + std::to_string(PeriodNumber(period));
            return nullptr;
        }
    }
    if (!formula.nameText().empty())
        session.active.emplace_back(FormulaTypeClass(formula.type), AsciiUpper(formula.nameText()));

    std::vector<FormulaValue> lines;
    eval::Frame frame(session, formula, request.security, *series, period);
    frame.CollectBarTimes();
    if (!frame.Run(lines)) {
        status.failure = frame.failure();
        status.message = frame.failureMessage();
        return nullptr;
    }
    std::unique_ptr<EvalResult> result =
        eval::AssembleResult(formula, lines, *series, data_.CurrentMarketTime(), frame.TakeBarTimes(), /*take=*/true);
    for (FormulaValue& v : lines)
        if (v.isSeries()) pool_.Recycle(v);
    if (!session.unresolved.empty()) {
        status.failure = EvalFailure::kUnresolvedReference;
        status.message = session.unresolved;
    }
    return result;
}

std::unique_ptr<EvalResult> Evaluate(const FormulaSet& formulas, EvalDataSource& data, const FormulaRecord& formula,
                                     const CodeEntry& security, const Series* preloaded, Period period, int loadOptions,
                                     uint32_t windowFrom, uint32_t windowTo, void* specialContext) {
    FormulaEvaluator evaluator(formulas, data);
    return evaluator.Evaluate(formula, security, preloaded, period, loadOptions, windowFrom, windowTo, specialContext);
}

}  // namespace tessaro
