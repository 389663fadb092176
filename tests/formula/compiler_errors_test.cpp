// Every error a formula text can raise, with its message and the range the editor selects.
// (References have their own file.) Codes 6, 13, 15, 26 and 50 are never raised; 3 and 24
// cannot be reached from text: every statement whose second token is no ':' or ':=' is named
// by the pre-scan, and a quoted reference over 200 bytes already fails in the lexer (36).
#include <gtest/gtest.h>

#include "compiler_test_support.h"

namespace tessaro {
namespace {

using namespace testing_support;

struct Case {
    const char* text;
    int code;
    const char* message;
    int position;
    int length;
};

void Check(const Case& c, uint32_t type = kFormulaSubPane, const std::vector<FormulaParam>& params = {}) {
    SCOPED_TRACE(c.text);
    CompileError e = ErrorOf(c.text, type, params);
    EXPECT_EQ(e.code(), c.code);
    if (c.message) {
        EXPECT_EQ(e.messageUtf8(), c.message);
    }
    EXPECT_EQ(e.position(), c.position);
    EXPECT_EQ(e.length(), c.length);
}

TEST(CompilerErrors, StatementStructure) {
    const Case cases[] = {
        {"ma:c;", 1, "错误1:ma是系统保留字，不能用在语句开头", 0, 2},
        {"A:C; AND:C;", 1, "错误1:and是系统保留字，不能用在语句开头", 5, 3},
        {"A:C; COLORRED:C;", 1, "错误1:colorred是系统保留字，不能用在语句开头", 5, 8},
        {"A:C; 5:C;", 1, "错误1:是系统保留字，不能用在语句开头", 5, 1},
        {"X:=C; X:=O;", 2, "错误2:变量[x]被重复定义", 6, 1},
        {"A:C, FOO;", 4, "错误4:赋值语句的后面只能由装饰字来修饰,foo不是修饰字", 5, 3},
        {"A:C, 5;", 4, "错误4:赋值语句的后面只能由装饰字来修饰,不是修饰字", 5, 1},
        {"A:C COLORRED FOO;", 4, nullptr, 13, 3},
        {"A:C>O>H;", 5, "错误5:缺少分号[分号是语句结束符号]", 5, 1},
        {"A:C FOO;", 5, nullptr, 4, 3},
        {"A:C {open comment", 5, nullptr, 17, 0},
        {"ABCDEFGHIJKLMNOP:C;", 29, "错误29:指标名称超长，最大只允许15个字符公式指标名称字符最大长度15个字符", 0, 16},
        {"", 30, "错误30:公式文本内容为空，无法编译", 0, 0},
        {" \t\r\n ", 30, nullptr, 0, 0},
        {"X:=C;", 19, "错误19:公式至少要有一个输出表达式", 5, 0},
        {"{only a comment}", 19, nullptr, 16, 0},
        {";;", 19, nullptr, 2, 0},
    };
    for (const Case& c : cases) Check(c);
    // The same statement with a parameter's name at its start.
    Check({"N:=1; A:C;", 1, "错误1:n是系统保留字，不能用在语句开头", 0, 1}, kFormulaSubPane, {Param("N", 5)});
    EXPECT_NO_THROW(Compile("ABCDEFGHIJKLMNO:C;"));
    // Statements may be named "notnamingvariant" several times: the pre-scan's own name.
    EXPECT_NO_THROW(Compile("notnamingvariant:C; notnamingvariant:O;"));
}

TEST(CompilerErrors, Operands) {
    const Case cases[] = {
        {"A:1234567890123456789012345678901;", 0, "错误0:指定的数字超出了该系统允许的数字的最大位数[30位]", 2, 31},
        {"A:2000000000000;", 7, "错误7:数字过大", 2, 13},
        {"A:(C+1;", 8, "错误8:表达式缺少右括号", 6, 1},
        {"A:A+1;", 16, "错误16:表达式中引用了未定义的变量", 2, 1},
        {"A:B; B:C;", 16, nullptr, 2, 1},
        {"A:'abc", 17, "错误17:字符串缺结束引号", 2, 4},
        {"A:\"macd", 18, "错误18:引用串缺结束引号", 2, 5},
        {"A:'x'+1;", 25, "错误25:操作数错误，不能是字符串", 2, 3},
        {"A:1>'x';", 25, nullptr, 4, 3},
        {"A:-'x';", 25, nullptr, 3, 3},
        {"A:C@;", 34, "错误34:不能识别的标识符", 3, 1},
        {"A:--C;", 35, "错误35:无效的操作数", 3, 1},
        {"A:*C;", 35, nullptr, 2, 1},
        {"A:;", 35, nullptr, 2, 1},
        {"A:COLORRED;", 35, nullptr, 2, 8},
        {"A:C AND OR O;", 35, nullptr, 8, 2},
        {"A:)", 35, nullptr, 2, 1},
        {"A:}", 35, nullptr, 2, 1},
    };
    for (const Case& c : cases) Check(c);
    // 1e12 itself is still allowed (and so is what rounds to it in single precision).
    EXPECT_NO_THROW(Compile("A:1000000000000;"));
    EXPECT_NO_THROW(Compile("A:1000000000001;"));
    std::string longString = "A:'" + std::string(201, 's') + "';";
    Check({longString.c_str(), 36, "错误36:STKINDI语句的长度超长了,最大允许值是200", 2, 203});
    std::string longName = "A:" + std::string(201, 'q') + ";";
    Check({longName.c_str(), 42, "错误42:超出了标识符的最大长度标识符最大长度为200个字符", 2, 201});
}

TEST(CompilerErrors, FunctionCalls) {
    const Case cases[] = {
        {"A:MA C;", 9, "错误9:缺少左括号", 5, 1},
        {"A:MA(C,5;", 10, "错误10:缺少右括号", 8, 1},
        {"A:MA(C 5);", 10, nullptr, 7, 1},
        {"A:MA(C);", 11, "错误11:MA函数的参数个数不匹配,允许参数个数是2,实际给了1", 2, 5},
        {"A:MA(C,5,6);", 11, "错误11:MA函数的参数个数不匹配,输入的参数个数大于要求的参数个数，允许参数个数是2", 2, 8},
        {"A:MA('x',5);", 12, "错误12:MA函数的参数类型不匹配,第1个参数类型错误，允许类型是[普通序列]", 5, 3},
        {"A:DRAWTEXT(C>O,L,C);", 12, "错误12:DRAWTEXT函数的参数类型不匹配,第3个参数类型错误，允许类型是[常数字串]", 17, 1},
        {"A:MA(,5);", 31, "错误31:MA函数参数不能够缺省，必须指定", 5, 1},
        {"A:MA(C,);", 31, nullptr, 7, 1},
        {"A:MA();", 31, nullptr, 5, 1},
        {"A:CLOSE(1);", 49, "错误49:CLOSE是无参函数,因此不能带参数", 8, 1},
        {"A:C(1);", 49, "错误49:CLOSE是无参函数,因此不能带参数", 4, 1},
        {"A:STKINDI 5;", 32, "错误32:引用语句格式错误", 2, 7},
    };
    for (const Case& c : cases) Check(c);
    // A statement variable is a series, never a constant number: error 12 on argument 2.
    Check({"N1:=5; A:MA(C,N1);", 12, "错误12:MA函数的参数类型不匹配,第2个参数类型错误，允许类型是[常数数值]", 14, 2});
    EXPECT_NO_THROW(Compile("A:MA(C,N);", kFormulaSubPane, {Param("N", 5)}));
    // The argument's whole range is selected.
    Check({"A:MA(C,N*C);", 12, nullptr, 7, 3}, kFormulaSubPane, {Param("N", 5)});
}

TEST(CompilerErrors, FormulaTypes) {
    Check({"BUY:C>O;", 28, "错误28:交易系统的指标名称是固定,用户不能指定", 0, 3}, kFormulaTradingSystem);
    Check({"ENTERLONG:C>O; C<O;", 28, nullptr, 15, 1}, kFormulaTradingSystem);
    Check({"A:C>O; B:C<O;", 27, "错误27:该种编译类型只能有1条指标线", 7, 1}, kFormulaSelection);
    try {
        CompileText("A:C;", 6, {});
        FAIL() << "type 6 compiled";
    } catch (const CompileError& e) {
        EXPECT_EQ(e.code(), kErrInternal);
    }
}

TEST(CompilerErrors, UnnamedStatementLimit) {
    std::string fifty, fiftyOne;
    for (int i = 0; i < 50; ++i) fifty += "C;";
    fiftyOne = fifty + "O;";
    EXPECT_EQ(Compile(fifty).outputs.size(), 50u);
    Check({fiftyOne.c_str(), 46, "错误46:公式中的未命名的指标数量超出最大值最大值是50", 100, 1});
    // Named statements do not count.
    std::string named = fifty + "A:O;B:H;";
    EXPECT_EQ(Compile(named).outputs.size(), 52u);
}

TEST(CompilerErrors, PositionsPointIntoTheUsersText) {
    // Three unnamed statements: 51 bytes were inserted before the error, none of them the user's.
    Check({"C;O;H+;", 35, nullptr, 6, 1});
    Check({"A:C; MA(C,5); B:X;", 16, nullptr, 16, 1});
    Check({"C; FOO;", 16, nullptr, 3, 3});
    Check({"  \n A:X;", 16, nullptr, 6, 1});
    Check({"\t C;\n O;\n ) ;", 35, nullptr, 10, 1});
    // Positions count GBK bytes: two double-byte characters before the error.
    Check({"A:C; 中文;", 16, nullptr, 5, 4});
    Check({"中:C; 中文+@;", 34, nullptr, 11, 1});
    // An error at the appended ';' selects nothing beyond the text.
    Check({"A:C+", 35, nullptr, 4, 0});
}

TEST(CompilerErrors, ThirdUnnamedStatementSelectsTheUsersText) {
    // Each unnamed statement gets its internal name inserted in the working copy; an error in
    // the third one lies past all three insertions, and the range must select the user's own
    // text (shifting back by only two of them would point past "FOO").
    const std::string text = "C;O;H+FOO;";
    CompileError e = ErrorOf(text);
    EXPECT_EQ(e.code(), kErrUndefinedVariable);
    ASSERT_EQ(e.position(), 6);
    EXPECT_EQ(text.substr(static_cast<size_t>(e.position()), static_cast<size_t>(e.length())), "FOO");
}

TEST(CompilerErrors, StatementBeginningWithEqualsIsNoAssignment) {
    // The internal name inserted before an unnamed statement must not merge with a leading
    // '=' into ':=' and turn the stray text into a hidden variable.
    Check({"A:C;=C;", 35, "错误35:无效的操作数", 4, 1});
    Check({"=C", 35, nullptr, 0, 1});
    Check({"C;=O;", 35, nullptr, 2, 1});
    Check({"A:C; = C;", 35, nullptr, 5, 1});
}

TEST(CompilerErrors, OpenCommentInsideTheModifiersLacksTheSemicolon) {
    Check({"A:C,COLORRED {x", 5, "错误5:缺少分号[分号是语句结束符号]", 15, 0});
    Check({"A:C, {x", 5, nullptr, 7, 0});
}

TEST(CompilerErrors, NestingIsLimitedNotOverflowed) {
    std::string ok = "A:" + std::string(90, '(') + "C" + std::string(90, ')') + ";";
    EXPECT_NO_THROW(Compile(ok));
    std::string deep = "A:" + std::string(100000, '(') + "C" + std::string(100000, ')') + ";";
    CompileError e = ErrorOf(deep);
    EXPECT_EQ(e.code(), kErrLimit);
    EXPECT_EQ(e.messageUtf8(), "错误51:公式超出了编译系统的限制,表达式最多嵌套100层");
    std::string calls;
    for (int i = 0; i < 5000; ++i) calls += "ABS(";
    calls += "C" + std::string(5000, ')');
    EXPECT_EQ(ErrorOf("A:" + calls + ";").code(), kErrLimit);
    std::string signs;
    for (int i = 0; i < 5000; ++i) signs += "-(";
    EXPECT_EQ(ErrorOf("A:" + signs + "C;").code(), kErrLimit);
}

TEST(CompilerErrors, MemoryErrorHasNoPosition) {
    CompileError e(-1, Utf8ToGbk("内存错误"), -1, 0);
    EXPECT_EQ(e.displayUtf8(), "内存错误");
}

}  // namespace
}  // namespace tessaro
