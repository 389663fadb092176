#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "formula/function_registry.h"
#include "formula/functions.h"
#include "platform/text.h"

namespace tessaro {
namespace {

TEST(FunctionRegistry, NamesAndAliasesAreCaseInsensitive) {
    int close = FindFunction("CLOSE");
    ASSERT_EQ(close, kFnClose);
    EXPECT_EQ(FindFunction("C"), close);
    EXPECT_EQ(FindFunction("close"), close);
    EXPECT_EQ(FindFunction("ClOsE"), close);
    EXPECT_EQ(FindFunction("c"), close);
    EXPECT_EQ(FindFunction("o"), kFnOpen);
    EXPECT_EQ(FindFunction("v"), kFnVol);
    EXPECT_EQ(FindFunction("ma"), kFnMa);
    EXPECT_EQ(FindFunction("persistturndown"), kFnPersistTurnDown);
    EXPECT_EQ(FindFunction("stkindi"), kFnStkIndi);
    EXPECT_EQ(FindFunction(""), -1);
    EXPECT_EQ(FindFunction("CLOS"), -1);
    EXPECT_EQ(FindFunction("CLOSEX"), -1);
    EXPECT_EQ(FindFunction("\xc9\xcf"), -1);  // a GBK character is never folded
}

TEST(FunctionRegistry, KindsDoNotShadowEachOther) {
    // Operators and modifiers are not functions, functions are not modifiers.
    EXPECT_EQ(FindFunction("and"), -1);
    EXPECT_EQ(FindFunction("+"), -1);
    EXPECT_EQ(FindFunction("COLORRED"), -1);
    EXPECT_EQ(FindModifier("MA"), -1);
    EXPECT_EQ(FindModifier("colorred"), 523);
    EXPECT_EQ(FindModifier("STICK"), 512);
    EXPECT_EQ(FindModifier("LineThick9"), 545);
    EXPECT_EQ(FindModifier("colorffffff"), 535);
    EXPECT_EQ(FindModifier("COLORFFFFFF"), 535);
}

TEST(FunctionRegistry, FunctionByIdBounds) {
    EXPECT_EQ(FunctionById(-1), nullptr);
    EXPECT_EQ(FunctionById(560), nullptr);
    EXPECT_EQ(FunctionById(1 << 30), nullptr);
    EXPECT_EQ(FunctionById(0), nullptr);  // never filled
    EXPECT_EQ(FunctionById(1), nullptr);
    EXPECT_EQ(FunctionById(57), nullptr);
    ASSERT_NE(FunctionById(65), nullptr);  // compiler opcodes are entries without names
    EXPECT_EQ(FunctionById(65)->kind, kEntryOperator);
    EXPECT_EQ(FunctionById(65)->name, nullptr);
    EXPECT_EQ(FunctionById(68)->paramCount, 1);
    const FunctionInfo* plus = FunctionById(kOpAdd);
    ASSERT_NE(plus, nullptr);
    EXPECT_STREQ(plus->name, "+");
    EXPECT_EQ(plus->paramCount, 2);
    EXPECT_EQ(plus->paramKinds[0], kParamSeries | kParamNumber);
}

TEST(FunctionRegistry, EntriesCarryTheirTableData) {
    const FunctionInfo* ma = FunctionById(kFnMa);
    ASSERT_NE(ma, nullptr);
    EXPECT_EQ(ma->id, kFnMa);
    EXPECT_EQ(ma->kind, kEntryFunction);
    EXPECT_EQ(ma->paramCount, 2);
    EXPECT_EQ(ma->paramKinds[0], kParamSeries);
    EXPECT_EQ(ma->paramKinds[1], kParamNumber);
    EXPECT_EQ(ma->category, kCategoryReference);
    EXPECT_EQ(ma->resultKind, kResultSeries);
    EXPECT_STREQ(ma->description, "简单移动平均");

    const FunctionInfo* text = FunctionById(kFnDrawText);
    EXPECT_EQ(text->paramKinds[2], kParamString);
    const FunctionInfo* line = FunctionById(kFnDrawLine);
    EXPECT_EQ(line->paramCount, 5);
    EXPECT_EQ(line->paramKinds[4], kParamNumber);
    EXPECT_EQ(FunctionById(kFnDynaReport)->resultKind, kResultNumber);
    EXPECT_EQ(FunctionById(kFnRgb)->category, kCategoryConstant);
    EXPECT_EQ(FunctionById(kFnIndexC)->category, kCategoryMarket);
    EXPECT_STREQ(FunctionById(kFnDrawTextAbs)->description, "在图形绝对位置上显示文字。");

    const FunctionInfo* red = FunctionById(523);
    EXPECT_EQ(red->kind, kEntryModifier);
    EXPECT_EQ(red->category, kModifierColour);
    EXPECT_EQ(red->value, 0x0000FFu);
    EXPECT_EQ(FunctionById(532)->value, 0x2A2AA5u);  // COLORBROWN
    EXPECT_EQ(FunctionById(522)->value, 12u);        // POLE
    EXPECT_EQ(FunctionById(538)->category, kModifierWidth);
    EXPECT_EQ(FunctionById(538)->value, 2u);
    EXPECT_STREQ(FunctionById(538)->description, "线宽2");
    EXPECT_STREQ(FunctionById(535)->help,
                 "COLOR后面加上6为十六进制数字即可表示一种颜色的RGB值\r\n例如: color0000ff表示红色");
}

TEST(FunctionRegistry, TableShape) {
    int functions = 0, modifiers = 0, operators = 0;
    std::set<std::string> names;
    for (const FunctionInfo* e : AllFunctionEntries()) {
        EXPECT_GE(e->paramCount, 0);
        EXPECT_LE(e->paramCount, kMaxFunctionParams);
        for (int i = 0; i < e->paramCount; ++i) EXPECT_NE(e->paramKinds[i], 0) << e->id;
        if (e->kind == kEntryFunction) {
            ++functions;
            EXPECT_GE(e->category, 1);
            EXPECT_LE(e->category, 10);
            EXPECT_NE(e->description, nullptr);
            EXPECT_NE(e->help, nullptr) << e->name;
            EXPECT_EQ(AsciiUpper(e->name), e->name);
        } else if (e->kind == kEntryModifier) {
            ++modifiers;
            EXPECT_GE(e->id, kFirstModifierId);
            EXPECT_LE(e->id, kLastModifierId);
        } else {
            ++operators;
        }
        // No name or alias appears twice: a lookup must be unambiguous.
        if (e->name) {
            EXPECT_TRUE(names.insert(AsciiUpper(e->name)).second) << e->name;
        }
        if (e->alias) {
            EXPECT_TRUE(names.insert(AsciiUpper(e->alias)).second) << e->alias;
        }
    }
    EXPECT_EQ(functions, 110);
    EXPECT_EQ(modifiers, 34);
    EXPECT_EQ(operators, 18);
    for (int id = kFirstModifierId; id <= kLastModifierId; ++id) ASSERT_NE(FunctionById(id), nullptr) << id;
}

TEST(FunctionRegistry, ColourLiterals) {
    EXPECT_EQ(ParseColourLiteral("color0000ff"), 0x0000FF);
    EXPECT_EQ(ParseColourLiteral("COLORFF00aa"), 0xFF00AA);
    EXPECT_EQ(ParseColourLiteral("color000000"), 0);
    EXPECT_EQ(ParseColourLiteral("color0000f"), -1);
    EXPECT_EQ(ParseColourLiteral("color0000fff"), -1);
    EXPECT_EQ(ParseColourLiteral("color0000fg"), -1);
    EXPECT_EQ(ParseColourLiteral("colour00000"), -1);
    EXPECT_EQ(ParseColourLiteral(""), -1);
}

TEST(FunctionRegistry, DynaReportAndFinanceHelp) {
    std::string dyna = FunctionById(kFnDynaReport)->help;
    EXPECT_EQ(dyna.rfind("DYNAREPORT(X)\r\n取得动态行情,X取值如下与返回值如下\r\nX=0,昨收,\r\n", 0), 0u);
    EXPECT_NE(dyna.find("X=40,市盈率,\r\n"), std::string::npos);
    EXPECT_EQ(dyna.find("X=41"), std::string::npos);
    std::string fin = FunctionById(kFnFinance)->help;
    EXPECT_EQ(fin.rfind("FINANCE(X)\r\n取得取得,X取值如下与返回值如下\r\nX= 0,更新日期\r\n", 0), 0u);
    EXPECT_NE(fin.find("X= 38,年/中/季报\r\n"), std::string::npos);
}

TEST(FunctionRegistry, TextsForThePickerAndTheCompiler) {
    EXPECT_EQ(CategoryName(1), "行情函数");
    EXPECT_EQ(CategoryName(10), "画图函数");
    EXPECT_EQ(CategoryName(0), "");
    EXPECT_EQ(CategoryName(11), "");
    EXPECT_EQ(ModifierClassName(kModifierWidth), "线宽修饰");
    EXPECT_EQ(ModifierClassName(3), "");
    EXPECT_EQ(ParamKindText(kParamSeries | kParamNumber), "[普通序列][常数数值]");
    EXPECT_EQ(ParamKindText(kParamString), "[常数字串]");
    EXPECT_EQ(FunctionUsage(*FunctionById(kFnClose)), "CLOSE");
    EXPECT_EQ(FunctionUsage(*FunctionById(kFnSma)), "SMA(X,N,M)");
}

TEST(FunctionRegistry, ConcurrentLookups) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i)
                if (FindFunction("ema") != kFnEma || FindModifier("dash") != 519) ++wrong;
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

// The table is the dispatch: an entry the language can call without an implementation would fail
// every evaluation that uses it, and a name that resolves to another entry (a repeated name or
// alias, whatever its arity) would compile calls against the wrong arity and implementation.
TEST(FunctionRegistry, EveryCallableEntryHasOneImplementationAndOneName) {
    int implemented = 0;
    for (const FunctionInfo* e : AllFunctionEntries()) {
        bool callable = (e->kind == kEntryFunction && e->id != kFnStkIndi) || (e->kind == kEntryOperator && e->name);
        EXPECT_EQ(e->impl != nullptr, callable) << e->id;
        EXPECT_EQ(IsImplementedFunction(e->id), callable) << e->id;
        implemented += callable;
        if (e->kind != kEntryFunction) continue;
        EXPECT_EQ(FindFunction(e->name), e->id) << e->name;
        if (e->alias) {
            EXPECT_EQ(FindFunction(e->alias), e->id) << e->alias;
        }
    }
    EXPECT_EQ(implemented, 109 + 12);  // every function but STKINDI, and the operators
    for (int id : {-1, 0, 57, int{kOpPushNumber}, int{kOpStoreStatement}, int{kFnStkIndi}, int{kFirstModifierId},
                   kFunctionTableSize})
        EXPECT_FALSE(IsImplementedFunction(id)) << id;
}

}  // namespace
}  // namespace tessaro
