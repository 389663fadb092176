// libFuzzer target: any bytes as the condition images of a combined-condition formula, as a
// formula file would hand them over. Decoding either refuses an image or reads one that
// writes back to the same bytes; compiling either fails with error 45 or gives instructions
// that run on the evaluator's stack without going out of step; describing never fails.
#include <cstdint>
#include <string>
#include <vector>

#include "formula/compiler.h"
#include "formula/condition.h"
#include "formula/condition_text.h"
#include "formula_fuzz_common.h"

using namespace tessaro;
using tessaro::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    FormulaRecord r;
    r.type = kFormulaCombined;
    r.setName("FUZZ");
    r.joiner = data[0] & 1;
    // The rest is cut into images at each "|||" so that several conditions can be formed.
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    for (size_t start = 0;;) {
        size_t cut = rest.find("|||", start);
        r.conditions.push_back(rest.substr(start, cut == std::string::npos ? std::string::npos : cut - start));
        if (cut == std::string::npos) break;
        start = cut + 3;
    }
    for (const std::string& image : r.conditions) {
        Condition c;
        if (ParseConditionImage(image, c)) {
            Check(ConditionImage(c) .size() == image.size(), "an image writes back to its length");
            Condition again;
            Check(ParseConditionImage(ConditionImage(c), again) && ConditionImage(again) == ConditionImage(c),
                  "a written image reads back the same");
            (void)DescribeCondition(c);
        }
    }
    CompileOptions options;
    options.compileTime = 1;
    try {
        CompileFormula(r, options);
    } catch (const CompileError& e) {
        Check(e.code() == kErrInternal, "a combined condition fails with error 45");
        Check(r.instructions.empty() && r.compileTime == 0, "a failure stores nothing");
        return 0;
    }
    tessaro::fuzz::CheckCompiledForm(r);
    Check(r.outputs.size() == 1, "one output line");
    return 0;
}
