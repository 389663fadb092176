// libFuzzer target: damaged compiled formulas given to the evaluator. The first byte picks the
// form: 0 the bytes are a formula record as formula files hold it; otherwise they replace the
// instructions (8 bytes each) of a formula whose parameters, references and string pool stay
// valid, so that the fuzzer spends its time on operands. Either way evaluation must return a
// result or nothing, never read out of bounds, never hang.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "formula/compiler.h"
#include "formula/eval_data_source.h"
#include "formula/evaluator.h"
#include "formula/formula_set.h"
#include "platform/bytes.h"
#include "platform/store_time.h"
#include "platform/text.h"

using namespace tessaro;

namespace {

FormulaParam Param(const char* name, float value) {
    FormulaParam p;
    p.setName(name);
    p.defaultValue = value;
    p.min = 0;
    p.max = 100;
    return p;
}

FormulaRecord Compiled(const FormulaSet& set, const char* name, const char* text, std::vector<FormulaParam> params) {
    FormulaRecord r;
    r.setName(name);
    r.params = std::move(params);
    r.source = Utf8ToGbk(text);
    CompileOptions options;
    options.lookup = set.CompilerLookup();
    CompileFormula(r, options);
    return r;
}

Series Bars(int n, float start) {
    Series s;
    s.period = kPeriodDay;
    for (int i = 0; i < n; ++i) {
        KLineRecord b;
        b.time = MakeStoreTime(2024, 1, 1) + static_cast<StoreTime>(i) * kSecondsPerDay;
        b.close = start + static_cast<float>(i % 9);
        b.open = b.close - 0.5f;
        b.high = b.close + 1;
        b.low = b.close - 1;
        b.volume = 100.0f + static_cast<float>(i);
        b.count1 = static_cast<uint16_t>(i);
        s.push(b);
    }
    return s;
}

struct Fixture {
    FormulaSet set;
    MemoryEvalData data;
    CodeEntry stock;
    FormulaRecord base;

    Fixture() {
        ParseSecurityText("SH600000", stock.id);
        stock.securityClass = kClassAShare;
        CodeEntry other, index;
        ParseSecurityText("SZ000002", other.id);
        other.securityClass = kClassAShare;
        ParseSecurityText("SH000001", index.id);
        index.securityClass = kClassIndex;
        data.AddSecurity(stock, Bars(60, 10));
        data.AddSecurity(other, Bars(40, 20));
        data.AddSecurity(index, Bars(60, 3000));
        data.SetMarketIndex(kMarketSH, index.id);
        set.Put(Compiled(set, "R", "Y:MA(C,M); Z:REF(C,1);", {Param("M", 3)}));
        set.Put(Compiled(set, "Q", "W:\"R.Y\"(4)+SUM(V,0);", {}));
        base = Compiled(set, "T",
                        "A:\"R.Y\"(N)+\"SZ000002$CLOSE\"; B:=STKINDI('SH000001','Q.W'); D:\"R.Z#WEEK\"; "
                        "E:DRAWTEXT(C>O,L,'X'); F:B+N;",
                        {Param("N", 5), Param("K", 2)});
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    static Fixture* f = new Fixture;
    if (size < 1 || size > 4096) return 0;
    FormulaRecord record;
    if (bytes[0] == 0) {
        ByteReader in(bytes + 1, size - 1);
        if (!ReadFormulaRecord(in, record)) return 0;
    } else {
        record = f->base;
        record.type = bytes[0] % 9;
        record.instructions.clear();
        for (size_t at = 1; at + 8 <= size; at += 8) {
            Instruction in;
            std::memcpy(&in.opcode, bytes + at, 4);
            std::memcpy(&in.operand, bytes + at + 4, 4);
            record.instructions.push_back(in);
        }
    }
    FormulaEvaluator evaluator(f->set, f->data, nullptr);
    for (Period period : {kPeriodDay, kPeriodWeek}) {
        std::unique_ptr<EvalResult> r = evaluator.Evaluate(record, f->stock, nullptr, period);
        if (!r) continue;
        // Every line's points are readable.
        volatile float sink = 0;
        for (const OutputLine& line : r->lines)
            for (const LinePoint& p : line.points) sink = sink + p.value;
    }
    return 0;
}
