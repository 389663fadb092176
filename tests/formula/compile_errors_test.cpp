#include "formula/compile_errors.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace tessaro {
namespace {

std::string Utf8(const std::string& gbk) { return GbkToUtf8(gbk); }

TEST(CompileErrorsTable, EveryCodeHasATemplateThatFitsNinetyNineBytes) {
    for (int code = 0; code < kCompileErrorCount; ++code) {
        std::string_view t = CompileErrorTemplate(code);
        ASSERT_FALSE(t.empty()) << code;
        EXPECT_LE(Utf8ToGbk(t).size(), 99u) << code;
        // Every template survives the round trip through GBK unchanged.
        EXPECT_EQ(GbkToUtf8(Utf8ToGbk(t)), t) << code;
    }
    EXPECT_TRUE(CompileErrorTemplate(-1).empty());
    EXPECT_TRUE(CompileErrorTemplate(kCompileErrorCount).empty());
}

TEST(CompileErrorsTable, TextsOfSelectedCodes) {
    EXPECT_EQ(CompileErrorTemplate(0), "指定的数字超出了该系统允许的数字的最大位数[%0位]");
    EXPECT_EQ(CompileErrorTemplate(5), "缺少分号[分号是语句结束符号]");
    EXPECT_EQ(CompileErrorTemplate(16), "表达式中引用了未定义的变量");
    EXPECT_EQ(CompileErrorTemplate(30), "公式文本内容为空，无法编译");
    EXPECT_EQ(CompileErrorTemplate(39), "STKINDI语句公式的参数个数错误%s");
    EXPECT_EQ(CompileErrorTemplate(46), "公式中的未命名的指标数量超出最大值%s");
    EXPECT_EQ(CompileErrorTemplate(50), "保留字冲突");
}

TEST(CompileErrorsFormat, SubstitutesNumberedArguments) {
    EXPECT_EQ(Utf8(FormatCompileError(2, "x")), "错误2:变量[x]被重复定义");
    EXPECT_EQ(Utf8(FormatCompileError(11, "MA", Utf8ToGbk("允许参数个数是2,实际给了1"))),
              "错误11:MA函数的参数个数不匹配,允许参数个数是2,实际给了1");
    EXPECT_EQ(Utf8(FormatCompileError(7)), "错误7:数字过大");
    // A missing argument leaves the slot empty rather than a literal placeholder.
    EXPECT_EQ(Utf8(FormatCompileError(4)), "错误4:赋值语句的后面只能由装饰字来修饰,不是修饰字");
}

TEST(CompileErrorsFormat, DetailOfThirtyNineAndFortySixReplacesPercentS) {
    std::string m39 = Utf8(FormatCompileError(39, FormatDetail(",要求%d个参数，实际给了%d个", 3, 1)));
    EXPECT_EQ(m39, "错误39:STKINDI语句公式的参数个数错误,要求3个参数，实际给了1个");
    std::string m46 = Utf8(FormatCompileError(46, FormatDetail("最大值是%d", 50)));
    EXPECT_EQ(m46, "错误46:公式中的未命名的指标数量超出最大值最大值是50");
    EXPECT_EQ(m46.find("%s"), std::string::npos);
}

TEST(CompileErrorsFormat, LongArgumentIsCutAtACharacterBoundary) {
    std::string chinese;
    for (int i = 0; i < 60; ++i) chinese += "中";
    std::string arg = "a" + Utf8ToGbk(chinese);
    ASSERT_GT(arg.size(), 100u);
    std::string msg = FormatCompileError(1, arg);
    std::string prefix = FormatCompileError(1, "");
    // The substituted part is at most 100 bytes and still valid GBK (no half character).
    EXPECT_LE(msg.size(), prefix.size() + 100);
    EXPECT_EQ(Utf8ToGbk(GbkToUtf8(msg)), msg);
    EXPECT_EQ(msg.size(), prefix.size() + 99);  // 'a' plus 49 two-byte characters
}

TEST(CompileErrorsFormat, DisplayShowsPositionAndLength) {
    CompileError e(5, FormatCompileError(5), 12, 3);
    EXPECT_EQ(e.displayUtf8(), "错误5:缺少分号[分号是语句结束符号],错误位置＝12,长度=3");
    CompileError memory(-1, Utf8ToGbk("内存错误"), -1, 0);
    EXPECT_EQ(memory.displayUtf8(), "内存错误");
    EXPECT_EQ(e.code(), 5);
    EXPECT_EQ(std::string(e.what()), e.message());
}

}  // namespace
}  // namespace tessaro
