// libFuzzer target: every built-in function over bytes taken as bars, capital and arguments.
// A call either fails cleanly or returns a value whose column, valid range and drawing fields
// agree with each other; nothing may read or write outside them (ASan watches), and borrowed
// arguments must come back unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "formula/function_registry.h"
#include "formula/functions.h"

using namespace tessaro;

namespace {

class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    uint8_t Byte() { return p_ < end_ ? *p_++ : 0; }
    float Float() {
        // Mostly small prices and counts, sometimes any bit pattern (NaN, infinities, denormals).
        uint8_t how = Byte();
        if (how < 200) return static_cast<float>(Byte()) / 4.0f + (how % 4) * 64.0f - 32.0f;
        uint32_t bits = 0;
        for (int i = 0; i < 4; ++i) bits = bits << 8 | Byte();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    bool empty() const { return p_ >= end_; }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

class NoData : public MarketDataSource {
public:
    const Series* IndexSeries(const CodeEntry&, Period) override { return nullptr; }
    std::optional<double> QuoteFieldValue(const CodeEntry&, int field) override { return field; }
    bool LoadFinance(const CodeEntry&, FinanceBlock&) override { return false; }
};

std::vector<int> ImplementedIds() {
    std::vector<int> ids;
    for (const FunctionInfo* e : AllFunctionEntries())
        if (IsImplementedFunction(e->id)) ids.push_back(e->id);
    return ids;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<int> ids = ImplementedIds();
    Bytes in(data, size);
    const int id = ids[in.Byte() % ids.size()];
    const FunctionInfo* info = FunctionById(id);

    Series series;
    const int bars = in.Byte() % 64;
    series.resize(static_cast<size_t>(bars));
    for (int i = 0; i < bars; ++i) {
        KLineRecord& b = series.bars[i];
        b.time = static_cast<uint32_t>(in.Byte()) * 86400u * 40u;
        b.open = in.Float();
        b.high = in.Float();
        b.low = in.Float();
        b.close = in.Float();
        b.volume = in.Float();
        b.count1 = in.Byte();
        b.count2 = in.Byte();
        series.capital[i].circulating = in.Float();
    }
    NoData source;
    ColumnPool pool;
    FunctionContext ctx;
    ctx.series = &series;
    ctx.security.securityClass = in.Byte() % 7;
    ctx.period = static_cast<Period>(2 + in.Byte() % 13);
    ctx.data = &source;
    ctx.pool = in.Byte() % 2 ? &pool : nullptr;

    std::vector<FormulaValue> args, copies;
    for (int k = 0; k < info->paramCount; ++k) {
        const uint8_t mask = info->paramKinds[k];
        const uint8_t pick = in.Byte();
        FormulaValue a;
        if ((mask & kParamString) && (pick % 3 == 0 || mask == kParamString)) {
            a = FormulaValue::String(std::string(pick % 5, 'x'));
        } else if ((mask & kParamSeries) && (pick % 3 != 1 || !(mask & kParamNumber))) {
            a = FormulaValue::MakeSeries(bars, in.Byte() % (bars + 2));
            for (float& v : a.values) v = in.Float();
            if (pick & 0x80) a.flags = kValueBorrowed;
        } else {
            a = FormulaValue::Number(in.Float());
        }
        copies.push_back(a.Clone());
        args.push_back(std::move(a));
    }

    FormulaValue out;
    if (!CallFunction(id, ctx, std::span<FormulaValue>(args), out)) return 0;
    for (size_t k = 0; k < args.size(); ++k)
        if (args[k].flags & kValueBorrowed) {
            // Compared bit for bit: a NaN is unequal to itself.
            const std::vector<float>& a = args[k].values;
            const std::vector<float>& b = copies[k].values;
            if (a.size() != b.size()) std::abort();
            if (!a.empty() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) != 0) std::abort();
        }
    if (out.isSeries()) {
        if (out.count < 0 || out.count > bars || out.values.size() != static_cast<size_t>(out.count)) std::abort();
        if (out.begin < 0) std::abort();
        if (out.drawing) {
            const DrawingData& d = *out.drawing;
            for (size_t n : {d.value2.size(), d.value3.size(), d.int1.size(), d.int2.size()})
                if (n != 0 && n != static_cast<size_t>(out.count)) std::abort();
        }
        volatile float sink = 0;
        for (int32_t i = out.begin; i < out.count; ++i) sink = sink + out.values[i];
    } else if (!out.isNumber()) {
        std::abort();
    }
    return 0;
}
