// libFuzzer target: any byte string as formula text. The compiler must either compile it or
// throw CompileError with a place inside the text, leaving the record as it was; a successful
// compile must run on the evaluator's stack without going out of step, be repeatable to the
// byte and survive the formula-file round trip. Run with -dict=fuzz/formula_compiler.dict.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "formula/compiler.h"
#include "formula_fuzz_common.h"

using namespace tessaro;
using tessaro::fuzz::Check;

namespace {

std::vector<FormulaRecord> MakeSet() {
    std::vector<FormulaRecord> set;
    auto add = [&](const char* name, std::vector<const char*> params, std::vector<const char*> lines) {
        FormulaRecord r;
        r.type = kFormulaSubPane;
        r.setName(name);
        for (const char* p : params) {
            FormulaParam fp;
            fp.setName(p);
            fp.min = 0;
            fp.max = 100;
            fp.defaultValue = 5;
            r.params.push_back(fp);
        }
        for (const char* l : lines) {
            OutputLineDesc d;
            d.setName(l);
            r.outputs.push_back(d);
        }
        set.push_back(r);
    };
    add("MACD", {"SHORT", "LONG", "MID"}, {"DIF", "DEA", "MACD"});
    add("KDJ", {}, {"K", "D", "J"});
    add("X", {"N"}, {"", ""});
    return set;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<FormulaRecord> set = MakeSet();
    if (size == 0) return 0;
    CompileOptions options;
    options.lookup = LookupInRecords(&set);
    options.compileTime = 1;
    FormulaRecord r;
    static constexpr uint32_t kTypes[] = {0, 1, 2, 3, 4, 5};
    r.type = kTypes[data[0] % 6];
    r.setName("FUZZ");
    FormulaParam n;
    n.setName("N");
    n.max = 100;
    n.defaultValue = 5;
    r.params.push_back(n);
    r.source.assign(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        CompileFormula(r, options);
    } catch (const CompileError& e) {
        Check(e.position() <= static_cast<int>(r.source.size()) && e.length() >= 0 &&
                  e.position() + e.length() <= static_cast<int>(r.source.size()),
              "error range inside the text");
        Check(e.position() >= 0 || e.code() == -1, "only a memory error has no place");
        Check(r.instructions.empty() && r.outputs.empty() && r.compileTime == 0, "a failure stores nothing");
        return 0;
    }
    tessaro::fuzz::CheckCompiledForm(r);
    Bytes first = CompiledFormBytes(r);
    FormulaRecord again = r;
    CompileFormula(again, options);
    Check(CompiledFormBytes(again) == first, "recompiling gives the same bytes");
    ByteWriter out;
    WriteFormulaRecord(out, r);
    ByteReader in(out.data());
    FormulaRecord back;
    Check(ReadFormulaRecord(in, back) && CompiledFormBytes(back) == first, "file round trip");
    return 0;
}
