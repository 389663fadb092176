// The drawing functions: each returns a series whose line carries a draw kind and whose points
// carry the per-bar drawing data the charts read (value = the condition or X, value 2 the price or
// Y, then value 3, integer 1 and integer 2 as the kind needs them).
//
// A function works over the intersection of its series arguments' ranges; a constant argument
// contributes itself at every bar. With no series among the condition and price, DRAWICON and
// DRAWTEXT draw nothing (an empty series) while every other kind covers every bar.
#include <bit>

#include "formula/functions_internal.h"

namespace tessaro::fn {
namespace {

constexpr uint8_t kKindIcon = 100;
constexpr uint8_t kKindText = 101;
constexpr uint8_t kKindPolyline = 102;
constexpr uint8_t kKindStraightLine = 103;
constexpr uint8_t kKindTwoColourLine = 104;
constexpr uint8_t kKindStick = 105;
constexpr uint8_t kKindFloatingCircle = 106;

template <class T>
T ClampTo(int32_t v) {
    return static_cast<T>(std::clamp<int32_t>(v, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
}

// The result series over the range of `ops` (in `r`) with its drawing block.
void Start(FunctionContext& ctx, std::initializer_list<const Operand*> ops, uint8_t kind, bool needsSeries,
           FormulaValue& out, Range& r) {
    r = Intersect(ops);
    if (!r.any) {
        r.begin = 0;
        r.count = needsSeries ? 0 : ctx.barCount();
    }
    const int32_t bars = r.any ? r.count : ctx.barCount();
    out = NewSeries(ctx, bars, r.any || !needsSeries ? r.begin : bars);
    out.drawing = std::make_unique<DrawingData>();
    out.drawing->drawKind = kind;
}

// COND (or X) as the value and PRICE (or Y) as value 2 over the range.
void ValueAndPrice(FormulaValue& out, const Range& r, const Operand& value, const Operand& price) {
    float* o = out.data();
    std::vector<float>& v2 = out.drawing->value2;
    v2.assign(static_cast<size_t>(out.count), 0.0f);
    for (int32_t i = r.begin; i < r.count; ++i) {
        o[i] = value[i];
        v2[i] = price[i];
    }
}

// DRAWICON, DRAWICONEX, DRAWTEXT, DRAWTEXTABS, DRAWTEXTREL, POLYLINE, FLOATARC.
bool PointDrawing(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    Operand value = Read(args[0]), price = Read(args[1]);
    uint8_t kind = kKindIcon;
    bool needsSeries = false;
    switch (id) {
        case kFnDrawIcon: case kFnDrawIconEx: needsSeries = true; break;
        case kFnDrawText: kind = kKindText; needsSeries = true; break;
        case kFnDrawTextAbs: case kFnDrawTextRel: kind = kKindText; break;
        case kFnPolyLine: kind = kKindPolyline; break;
        default: kind = kKindFloatingCircle; break;
    }
    Range r;
    Start(ctx, {&value, &price}, kind, needsSeries, out, r);
    DrawingData& d = *out.drawing;
    switch (id) {
        case kFnDrawIcon: d.iconNumber = ClampTo<uint8_t>(ClampN(args[2].number)); break;
        case kFnDrawIconEx:
            d.iconNumber = ClampTo<uint8_t>(ClampN(args[2].number));
            d.iconFill = ClampN(args[3].number) != 0 ? 1 : 0;
            break;
        case kFnDrawText: d.text = args[2].text; break;
        case kFnDrawTextAbs: d.text = args[2].text; d.textPlacement = 1; break;
        case kFnDrawTextRel: d.text = args[2].text; d.textPlacement = 2; break;
        case kFnFloatArc:
            d.arcX = ClampN(args[2].number);
            d.arcY = ClampN(args[3].number);
            d.arcRadius = ClampN(args[4].number);
            break;
        default: break;
    }
    ValueAndPrice(out, r, value, price);
    return true;
}

// DRAWLINE: a segment from each bar where COND1 holds to the next bar where COND2 holds. The end
// bar's point carries the segment: value COND2 (true), value 2 the start price, value 3 the end
// price, integer 1 the start bar. A start without an end draws nothing.
bool DrawLine(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    Operand cond1 = Read(args[0]), price1 = Read(args[1]), cond2 = Read(args[2]), price2 = Read(args[3]);
    Range r;
    Start(ctx, {&cond1, &price1, &cond2, &price2}, kKindStraightLine, false, out, r);
    DrawingData& d = *out.drawing;
    d.extension = ClampTo<int8_t>(ClampN(args[4].number));
    const size_t n = static_cast<size_t>(out.count);
    d.value2.assign(n, 0.0f);
    d.value3.assign(n, 0.0f);
    d.int1.assign(n, 0);
    float* o = out.data();
    for (int32_t i = r.begin; i < r.count;) {
        o[i] = cond1[i];
        d.value2[i] = price1[i];
        d.value3[i] = price2[i];
        if (!IsTrue(cond1[i])) {
            ++i;
            continue;
        }
        const int32_t s = i;
        o[s] = 0;
        int32_t e = s + 1;
        for (; e < r.count; ++e) {
            o[e] = cond2[e];
            d.value2[e] = price1[e];
            d.value3[e] = price2[e];
            if (IsTrue(cond2[e])) break;
        }
        if (e < r.count) {
            d.int1[e] = s;
            d.value2[e] = price1[s];
            d.value3[e] = price2[e];
        }
        i = e + 1;
    }
    return true;
}

// PARTLINE: the line through PRICE, each point coloured COLOR1 where COND holds, else COLOR2.
bool PartLine(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    Operand cond = Read(args[0]), price = Read(args[1]), colour1 = Read(args[2]), colour2 = Read(args[3]);
    Range r;
    Start(ctx, {&cond, &price, &colour1, &colour2}, kKindTwoColourLine, false, out, r);
    ValueAndPrice(out, r, cond, price);
    std::vector<int32_t>& colour = out.drawing->int1;
    colour.assign(static_cast<size_t>(out.count), 0);
    for (int32_t i = r.begin; i < r.count; ++i) colour[i] = ClampN(IsTrue(cond[i]) ? colour1[i] : colour2[i]);
    return true;
}

// STICKLINE: a bar from PRICE1 to PRICE2 where COND holds. Integer 1 is the width word (WIDTH, 10
// = one bar spacing, with bit 31 set for a hollow bar: ATTR % 10 != 0); integer 2 the sideways
// shift ATTR - ATTR % 10 in per-mille of the bar spacing.
bool StickLine(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    Operand cond = Read(args[0]), price1 = Read(args[1]), price2 = Read(args[2]), width = Read(args[3]),
            attr = Read(args[4]);
    Range r;
    Start(ctx, {&cond, &price1, &price2, &width, &attr}, kKindStick, false, out, r);
    ValueAndPrice(out, r, cond, price1);
    DrawingData& d = *out.drawing;
    const size_t n = static_cast<size_t>(out.count);
    d.value3.assign(n, 0.0f);
    d.int1.assign(n, 0);
    d.int2.assign(n, 0);
    for (int32_t i = r.begin; i < r.count; ++i) {
        d.value3[i] = price2[i];
        const int32_t a = ClampN(attr[i]);
        const int32_t rest = a % 10;
        // A negative width is no width; its sign bit would read as the hollow flag.
        uint32_t word = static_cast<uint32_t>(std::max(ClampN(width[i]), 0));
        if (rest != 0) word |= 0x80000000u;
        d.int1[i] = std::bit_cast<int32_t>(word);
        d.int2[i] = a - rest;
    }
    return true;
}

}  // namespace

bool DrawingFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    switch (id) {
        case kFnDrawIcon: case kFnDrawIconEx: case kFnDrawText: case kFnDrawTextAbs: case kFnDrawTextRel:
        case kFnPolyLine: case kFnFloatArc:
            return PointDrawing(id, ctx, args, out);
        case kFnDrawLine: return DrawLine(ctx, args, out);
        case kFnPartLine: return PartLine(ctx, args, out);
        case kFnStickLine: return StickLine(ctx, args, out);
        default: return false;
    }
}

}  // namespace tessaro::fn
