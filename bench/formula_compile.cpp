// Compiling a 40-line indicator formula (target: well under a millisecond), and the lexer
// alone over the same text.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "formula/compiler.h"
#include "formula/condition.h"
#include "formula/lexer.h"
#include "platform/text.h"

using namespace tessaro;

namespace {

// Forty statements of the kind real indicators hold: averages, crosses, conditions,
// modifiers, drawing calls with strings and a reference.
std::string FortyLines() {
    return Utf8ToGbk(
        "{ 一个四十行的综合指标 }\n"
        "MID:=(3*CLOSE+LOW+OPEN+HIGH)/6;\n"
        "MA1:MA(CLOSE,N1),COLORWHITE;\n"
        "MA2:MA(CLOSE,N2),COLORYELLOW;\n"
        "MA3:MA(CLOSE,N3),COLORMAGENTA,LINETHICK2;\n"
        "E1:=EMA(CLOSE,12);\n"
        "E2:=EMA(CLOSE,26);\n"
        "DIF:=E1-E2;\n"
        "DEA:=EMA(DIF,9);\n"
        "BAR:=2*(DIF-DEA);\n"
        "RSV:=(CLOSE-LLV(LOW,9))/(HHV(HIGH,9)-LLV(LOW,9))*100;\n"
        "K:=SMA(RSV,3,1);\n"
        "D:=SMA(K,3,1);\n"
        "J:=3*K-2*D;\n"
        "LC:=REF(CLOSE,1);\n"
        "RSI:=SMA(MAX(CLOSE-LC,0),6,1)/SMA(ABS(CLOSE-LC),6,1)*100;\n"
        "TYP:=(HIGH+LOW+CLOSE)/3;\n"
        "CCI:=(TYP-MA(TYP,14))/(0.015*AVEDEV(TYP,14));\n"
        "UP:=MA(CLOSE,20)+2*STD(CLOSE,20);\n"
        "DN:=MA(CLOSE,20)-2*STD(CLOSE,20);\n"
        "VOLR:=VOL/MA(VOL,5);\n"
        "GOLD:=CROSS(MA1,MA2) AND VOLR>1.5;\n"
        "DEAD:=CROSS(MA2,MA1) OR DIF<DEA AND BAR<REF(BAR,1);\n"
        "TREND:=IF(MA1>MA2,1,IF(MA1<MA2,-1,0));\n"
        "CNT:=COUNT(CLOSE>OPEN,10);\n"
        "STRONG:=CNT>=7 AND CLOSE>HHV(REF(HIGH,1),20);\n"
        "WEAK:=CNT<=3 OR CLOSE<LLV(REF(LOW,1),20);\n"
        "BSL:=BARSLAST(GOLD);\n"
        "ANG:=ATAN((MA1/REF(MA1,1)-1)*100)*180/3.1416;\n"
        "WID:=(UP-DN)/MA(CLOSE,20)*100;\n"
        "DRAWTEXT(GOLD,LOW*0.98,'金叉'),COLORRED;\n"
        "DRAWTEXT(DEAD,HIGH*1.02,'死叉'),COLORGREEN;\n"
        "DRAWICON(STRONG,LOW,1);\n"
        "DRAWICON(WEAK,HIGH,2);\n"
        "STICKLINE(CLOSE>OPEN,CLOSE,OPEN,0.8,0),COLORRED;\n"
        "STICKLINE(CLOSE<OPEN,CLOSE,OPEN,0.8,0),COLORCYAN;\n"
        "POLYLINE(TREND<>REF(TREND,1),CLOSE),COLOR00A5FC;\n"
        "BOLLUP:UP,DASH;\n"
        "REFK:\"kdj.k\";\n"
        "SIG:FILTER(GOLD AND RSI<70 AND CCI>-100 AND BSL<5,N1),STICK,LINETHICK1;\n");
}

CompileOptions Options(const std::vector<FormulaRecord>* set) {
    CompileOptions o;
    o.lookup = LookupInRecords(set);
    return o;
}

std::vector<FormulaRecord> Set() {
    FormulaRecord kdj;
    kdj.type = kFormulaSubPane;
    kdj.setName("KDJ");
    for (const char* l : {"K", "D", "J"}) {
        OutputLineDesc d;
        d.setName(l);
        kdj.outputs.push_back(d);
    }
    return {kdj};
}

std::vector<FormulaParam> Params() {
    std::vector<FormulaParam> ps;
    for (auto [name, v] : {std::pair{"N1", 5.0f}, {"N2", 10.0f}, {"N3", 20.0f}}) {
        FormulaParam p;
        p.setName(name);
        p.defaultValue = v;
        p.max = 250;
        ps.push_back(p);
    }
    return ps;
}

}  // namespace

static void BM_CompileFortyLineIndicator(benchmark::State& state) {
    std::string text = FortyLines();
    std::vector<FormulaRecord> set = Set();
    CompileOptions options = Options(&set);
    std::vector<FormulaParam> params = Params();
    size_t instructions = 0;
    for (auto _ : state) {
        CompiledForm f = CompileText(text, kFormulaSubPane, params, options);
        instructions = f.instructions.size();
        benchmark::DoNotOptimize(f);
    }
    state.counters["instructions"] = static_cast<double>(instructions);
    state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_CompileFortyLineIndicator)->Unit(benchmark::kMicrosecond);

static void BM_LexFortyLineIndicator(benchmark::State& state) {
    std::string text = AsciiLower(FortyLines());
    std::vector<std::string> params = {"n1", "n2", "n3"};
    size_t tokens = 0;
    for (auto _ : state) {
        Lexer lexer(text, &params);
        tokens = 0;
        try {
            while (lexer.NextToken() == 0) ++tokens;
        } catch (const SyntaxFault&) {
            state.SkipWithError("the benchmark text does not lex");
            break;
        }
        benchmark::DoNotOptimize(tokens);
    }
    state.counters["tokens"] = static_cast<double>(tokens);
}
BENCHMARK(BM_LexFortyLineIndicator)->Unit(benchmark::kMicrosecond);

// A combined condition of ten conditions over formula lines, finance items and numbers.
static void BM_CompileTenConditions(benchmark::State& state) {
    FormulaRecord r;
    r.type = kFormulaCombined;
    r.setName("COMBO");
    r.joiner = kJoinerAll;
    std::vector<Condition> conditions;
    for (int i = 0; i < 10; ++i) {
        Condition c;
        c.left = ConditionOperand::FormulaLine(kFormulaSubPane, "MACD", i % 2 ? "DIF" : "DEA", {12, 26, 9}, 8);
        c.right = i % 3 ? ConditionOperand::Number(0) : ConditionOperand::Finance(static_cast<uint32_t>(i));
        c.relation = 1 + i % kRelationCount;
        c.periods = 5;
        conditions.push_back(c);
    }
    SetConditions(r, conditions);
    CompileOptions options;
    options.compileTime = 1;
    for (auto _ : state) {
        CompileFormula(r, options);
        benchmark::DoNotOptimize(r.instructions.data());
    }
    state.counters["instructions"] = static_cast<double>(r.instructions.size());
}
BENCHMARK(BM_CompileTenConditions)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
