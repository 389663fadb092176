// CallFunction: argument checks, denormal flushing and the dispatch to the family files.
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
    switch (id) {
        case kFnOpen: case kFnHigh: case kFnLow: case kFnClose: case kFnVol: case kFnAmount:
        case kFnAdvance: case kFnDecline: case kFnTickCount: case kFnBuyVol: case kFnSellVol:
        case kFnDay: case kFnWeekday: case kFnMonth: case kFnYear: case kFnMinute: case kFnHour:
        case kFnDate: case kFnTime:
        case kFnIndexO: case kFnIndexH: case kFnIndexL: case kFnIndexC: case kFnIndexV: case kFnIndexA:
        case kFnIndexAdv: case kFnIndexDec:
        case kFnIsUp: case kFnIsEqual: case kFnIsDown: case kFnIsLastBar: case kFnBarPos: case kFnBarStatus:
        case kFnVolUnit: case kFnCapital: case kFnStkType: case kFnDynaReport: case kFnFinance: case kFnRgb:
        case kOpAdd: case kOpSub: case kOpMul: case kOpDiv: case kFnMod: case kFnMax: case kFnMin:
        case kOpEq: case kOpNe: case kOpGt: case kOpGe: case kOpLt: case kOpLe: case kOpAnd: case kOpOr:
        case kFnReverse: case kFnAbs: case kFnSgn: case kFnNot: case kFnLog: case kFnLn: case kFnPow:
        case kFnExp: case kFnSqrt: case kFnSin: case kFnCos: case kFnTan: case kFnAsin: case kFnAcos:
        case kFnAtan: case kFnCeiling: case kFnFloor:
        case kFnIf: case kFnBetween: case kFnRange:
        case kFnRef: case kFnCount: case kFnSum: case kFnHhv: case kFnLlv: case kFnHhvBars: case kFnLlvBars:
        case kFnBarsSince: case kFnBarsLast: case kFnBarsCount: case kFnCross: case kFnLongCross:
        case kFnPersistGreat: case kFnPersistLess: case kFnPersistAscent: case kFnPersistDescent:
        case kFnPersistTurnUp: case kFnPersistTurnDown: case kFnBackSet: case kFnFilter: case kFnSumBars:
        case kFnMa: case kFnEma: case kFnSma: case kFnDma:
        case kFnStd: case kFnStdp: case kFnVar: case kFnVarp: case kFnAvedev: case kFnDevsq: case kFnForcast:
        case kFnSar: case kFnSarTurn: case kFnZig: case kFnCost: case kFnWinner:
        case kFnDrawIcon: case kFnDrawIconEx: case kFnDrawText: case kFnDrawTextAbs: case kFnDrawTextRel:
        case kFnPolyLine: case kFnDrawLine: case kFnPartLine: case kFnStickLine: case kFnFloatArc:
            return true;
        default:
            return false;
    }
}

bool CallFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    const FunctionInfo* info = FunctionById(id);
    if (!info || !IsImplementedFunction(id)) return false;
    if (static_cast<int>(args.size()) != info->paramCount) return false;
    for (int i = 0; i < info->paramCount; ++i) {
        const FormulaValue& a = args[i];
        if (!ArgumentKindAllowed(info->paramKinds[i], a.kind)) return false;
        // A series whose column is shorter than its count would be read past its end.
        if (a.isSeries() && (a.count < 0 || a.values.size() < static_cast<size_t>(a.count))) return false;
    }

    FlushDenormals flush;
    FormulaValue result;
    bool ok = false;
    switch (id) {
        case kFnOpen: case kFnHigh: case kFnLow: case kFnClose: case kFnVol: case kFnAmount:
        case kFnAdvance: case kFnDecline: case kFnTickCount: case kFnBuyVol: case kFnSellVol:
            ok = fn::QuoteFunction(id, ctx, result);
            break;
        case kFnDay: case kFnWeekday: case kFnMonth: case kFnYear: case kFnMinute: case kFnHour:
        case kFnDate: case kFnTime:
            ok = fn::TimeFunction(id, ctx, result);
            break;
        case kFnIndexO: case kFnIndexH: case kFnIndexL: case kFnIndexC: case kFnIndexV: case kFnIndexA:
        case kFnIndexAdv: case kFnIndexDec:
            ok = fn::IndexFunction(id, ctx, result);
            break;
        case kFnIsUp: case kFnIsEqual: case kFnIsDown: case kFnIsLastBar: case kFnBarPos: case kFnBarStatus:
            ok = fn::BarFunction(id, ctx, result);
            break;
        case kFnVolUnit: case kFnCapital: case kFnStkType: case kFnDynaReport: case kFnFinance: case kFnRgb:
            ok = fn::ConstantFunction(id, ctx, args, result);
            break;
        case kOpAdd: case kOpSub: case kOpMul: case kOpDiv: case kFnMod: case kFnMax: case kFnMin:
        case kOpEq: case kOpNe: case kOpGt: case kOpGe: case kOpLt: case kOpLe: case kOpAnd: case kOpOr:
            ok = fn::BinaryOperator(id, ctx, args, result);
            break;
        case kFnIf: case kFnBetween: case kFnRange:
            ok = fn::LogicFunction(id, ctx, args, result);
            break;
        case kFnMa: case kFnEma: case kFnSma: case kFnDma:
            ok = fn::AverageFunction(id, ctx, args, result);
            break;
        case kFnStd: case kFnStdp: case kFnVar: case kFnVarp: case kFnAvedev: case kFnDevsq: case kFnForcast:
            ok = fn::StatisticFunction(id, ctx, args, result);
            break;
        case kFnSar: case kFnSarTurn:
            ok = fn::SarFunction(id, ctx, args, result);
            break;
        case kFnZig:
            ok = fn::ZigFunction(ctx, args, result);
            break;
        case kFnCost: case kFnWinner:
            ok = fn::ChipFunction(id, ctx, args, result);
            break;
        case kFnDrawIcon: case kFnDrawIconEx: case kFnDrawText: case kFnDrawTextAbs: case kFnDrawTextRel:
        case kFnPolyLine: case kFnDrawLine: case kFnPartLine: case kFnStickLine: case kFnFloatArc:
            ok = fn::DrawingFunction(id, ctx, args, result);
            break;
        default:
            if (info->category == kCategoryMath) ok = fn::MathFunction(id, ctx, args, result);
            else ok = fn::ReferenceFunction(id, ctx, args, result);
            break;
    }
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
