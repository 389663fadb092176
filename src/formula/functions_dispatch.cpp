// CallFunction: argument checks, denormal flushing and the call of the implementation the
// registry entry names (a family function of functions_<family>.cpp).
#include <cfenv>

#include "formula/functions_internal.h"

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#define TESSARO_HAS_MXCSR 1
#endif

namespace tessaro {
namespace {

// Sets flush-to-zero and denormals-are-zero for the duration of one function: long recursive
// smoothing (EMA, SMA, DMA) of tiny values would otherwise crawl through denormals.
class FlushDenormals {
public:
#ifdef TESSARO_HAS_MXCSR
    FlushDenormals() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | 0x8040u); }
    ~FlushDenormals() { _mm_setcsr(saved_); }

private:
    unsigned saved_;
#endif
};

}  // namespace

namespace fn {

void BroadcastToSeries(FunctionContext& ctx, FormulaValue& v) {
    if (v.isSeries()) return;
    float c = v.number;
    FormulaValue s = FormulaValue::MakeSeries(ctx.barCount(), 0, ctx.pool);
    std::fill(s.values.begin(), s.values.end(), c);
    s.flags = v.flags;
    v = std::move(s);
}

}  // namespace fn

bool IsImplementedFunction(int id) {
    const FunctionInfo* info = FunctionById(id);
    return info && info->impl;
}

bool CallFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    const FunctionInfo* info = FunctionById(id);
    if (!info || !info->impl) return false;
    if (static_cast<int>(args.size()) != info->paramCount) return false;
    for (int i = 0; i < info->paramCount; ++i) {
        const FormulaValue& a = args[i];
        if (!ArgumentKindAllowed(info->paramKinds[i], a.kind)) return false;
        // A series whose column is shorter than its count would be read past its end.
        if (a.isSeries() && (a.count < 0 || a.values.size() < static_cast<size_t>(a.count))) return false;
    }

    FlushDenormals flush;
    FormulaValue result;
    bool ok = info->impl(id, ctx, args, result);
    // The arguments are consumed: their columns go back to the pool for the next instruction.
    // A borrowed column still belongs to the evaluator's statement.
    if (ctx.pool)
        for (FormulaValue& a : args)
            if (a.isSeries() && !(a.flags & kValueBorrowed)) ctx.pool->Recycle(a);
    if (!ok) return false;
    out = std::move(result);
    return true;
}

}  // namespace tessaro
