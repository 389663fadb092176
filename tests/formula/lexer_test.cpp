#include "formula/lexer.h"

#include <gtest/gtest.h>

#include <vector>

#include "formula/compile_errors.h"
#include "formula/function_registry.h"
#include "platform/text.h"

namespace tessaro {
namespace {

std::vector<Token> Lex(const std::string& text, const std::vector<std::string>* params = nullptr) {
    Lexer lexer(text, params);
    std::vector<Token> tokens;
    while (lexer.NextToken() == 0) tokens.push_back(lexer.token());
    return tokens;
}

std::vector<int> Kinds(const std::string& text) {
    std::vector<int> kinds;
    for (const Token& t : Lex(text)) kinds.push_back(t.kind);
    return kinds;
}

SyntaxFault FaultOf(const std::string& text) {
    try {
        Lex(text);
    } catch (const SyntaxFault& f) {
        return f;
    }
    ADD_FAILURE() << "no fault for " << text;
    return SyntaxFault{-1, -1, -1, {}, {}};
}

TEST(LexerOperators, TwoCharacterOperatorsAndPunctuation) {
    EXPECT_EQ(Kinds(":= : <> <= < >= > = + - * / ( ) , ;"),
              (std::vector<int>{kTokAssign, kTokColon, kTokNe, kTokLe, kTokLt, kTokGe, kTokGt, kTokEq, kTokPlus,
                                kTokMinus, kTokStar, kTokSlash, kTokLParen, kTokRParen, kTokComma, kTokSemicolon}));
    // Without blanks the longest operator wins, then the rest is read again.
    EXPECT_EQ(Kinds("p:=q<>r<=s>=t"), (std::vector<int>{kTokName, kTokAssign, kTokName, kTokNe, kTokName, kTokLe,
                                                         kTokName, kTokGe, kTokName}));
    EXPECT_EQ(Kinds("}"), std::vector<int>{kTokRBrace});
}

TEST(LexerOperators, PositionsAndLengths) {
    auto t = Lex("ab := 12.5;");
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].position, 0);
    EXPECT_EQ(t[0].length, 2);
    EXPECT_EQ(t[1].position, 3);
    EXPECT_EQ(t[1].length, 2);
    EXPECT_EQ(t[2].position, 6);
    EXPECT_EQ(t[2].length, 4);
    EXPECT_EQ(t[3].position, 10);
    // Operators and numbers carry no text.
    EXPECT_TRUE(t[1].text.empty());
    EXPECT_TRUE(t[2].text.empty());
}

TEST(LexerNumbers, ValuesAndDigitLimit) {
    auto t = Lex("12.5 .25 7 0.1");
    ASSERT_EQ(t.size(), 4u);
    EXPECT_FLOAT_EQ(t[0].value, 12.5f);
    EXPECT_FLOAT_EQ(t[1].value, 0.25f);
    EXPECT_FLOAT_EQ(t[2].value, 7.0f);
    EXPECT_FLOAT_EQ(t[3].value, 0.1f);
    // A second '.' starts the next number.
    auto two = Lex("1.2.3");
    ASSERT_EQ(two.size(), 2u);
    EXPECT_FLOAT_EQ(two[1].value, 0.3f);

    std::string thirty(30, '9');
    EXPECT_EQ(Lex(thirty).size(), 1u);
    EXPECT_EQ(Lex("1." + std::string(29, '5')).size(), 1u);  // the '.' is not counted
    SyntaxFault f = FaultOf("x " + std::string(31, '1'));
    EXPECT_EQ(f.code, kErrTooManyDigits);
    EXPECT_EQ(f.arg0, "30");
    EXPECT_EQ(f.position, 2);
    EXPECT_EQ(f.length, 31);
}

TEST(LexerIdentifiers, ClassificationOrder) {
    std::vector<std::string> params = {"N", "M1"};
    auto t = Lex("and or ma close c colorred linethick3 stick color00ff00 n m1 foo x1", &params);
    ASSERT_EQ(t.size(), 13u);
    EXPECT_EQ(t[0].kind, kTokAnd);
    EXPECT_EQ(t[1].kind, kTokOr);
    EXPECT_EQ(t[2].kind, kTokFunction);
    EXPECT_EQ(t[2].entry, kFnMa);
    EXPECT_EQ(t[3].entry, kFnClose);
    EXPECT_EQ(t[4].entry, kFnClose);  // the alias
    EXPECT_EQ(t[5].kind, kTokModifier);
    EXPECT_EQ(t[5].modifierClass, kModifierColour);
    EXPECT_EQ(t[5].modifierValue, 0x0000FFu);
    EXPECT_EQ(t[6].modifierClass, kModifierWidth);
    EXPECT_EQ(t[6].modifierValue, 3u);
    EXPECT_EQ(t[7].modifierClass, kModifierStyle);
    EXPECT_EQ(t[7].modifierValue, 2u);
    EXPECT_EQ(t[8].kind, kTokModifier);  // a colour literal
    EXPECT_EQ(t[8].modifierClass, kModifierColour);
    EXPECT_EQ(t[8].modifierValue, 0x00FF00u);
    EXPECT_EQ(t[9].kind, kTokParam);
    EXPECT_EQ(t[9].entry, 0);
    EXPECT_EQ(t[10].kind, kTokParam);
    EXPECT_EQ(t[10].entry, 1);
    EXPECT_EQ(t[11].kind, kTokName);
    EXPECT_EQ(t[11].text, "foo");
    EXPECT_EQ(t[12].kind, kTokName);
}

TEST(LexerIdentifiers, ColourLiteralNeedsExactlySixHexDigits) {
    EXPECT_EQ(Kinds("color0000f"), std::vector<int>{kTokName});
    EXPECT_EQ(Kinds("color0000ffa"), std::vector<int>{kTokName});
    EXPECT_EQ(Kinds("color0000fg"), std::vector<int>{kTokName});
    auto t = Lex("colorabcdef");
    EXPECT_EQ(t[0].modifierValue, 0xABCDEFu);
}

TEST(LexerIdentifiers, GbkCharactersBelongToIdentifiers) {
    std::string name = Utf8ToGbk("均线中");
    auto t = Lex(name + "1:=c;");
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t[0].kind, kTokName);
    EXPECT_EQ(t[0].text, name + "1");
    // A double-byte character whose second byte is a letter stays one character.
    std::string trailLetter = "\x81\x61";  // lead 0x81, trail 'a'
    auto u = Lex(trailLetter + ":");
    ASSERT_EQ(u.size(), 2u);
    EXPECT_EQ(u[0].text, trailLetter);
}

TEST(LexerIdentifiers, LengthLimitCountsBytes) {
    EXPECT_EQ(Lex(std::string(200, 'a')).size(), 1u);
    SyntaxFault f = FaultOf(" " + std::string(201, 'a'));
    EXPECT_EQ(f.code, kErrIdentifierTooLong);
    EXPECT_EQ(GbkToUtf8(f.arg0), "标识符最大长度为200个字符");
    EXPECT_EQ(f.position, 1);
    std::string wide;
    for (int i = 0; i < 101; ++i) wide += "\xD6\xD0";  // 202 bytes of double-byte characters
    EXPECT_EQ(FaultOf(wide).code, kErrIdentifierTooLong);
}

TEST(LexerIdentifiers, UnderscoreAndOtherCharactersAreUnknown) {
    SyntaxFault f = FaultOf("a_b");
    EXPECT_EQ(f.code, kErrUnknownChar);
    EXPECT_EQ(f.position, 1);
    EXPECT_EQ(f.length, 1);
    EXPECT_EQ(FaultOf("@").code, kErrUnknownChar);
    EXPECT_EQ(FaultOf("\x80").code, kErrUnknownChar);
    EXPECT_EQ(FaultOf("a:=c!").code, kErrUnknownChar);
}

TEST(LexerComments, SkippedAndUnclosedEndsText) {
    EXPECT_EQ(Kinds("a{comment}:=q"), (std::vector<int>{kTokName, kTokAssign, kTokName}));
    EXPECT_EQ(Kinds("a:=q{never closed;"), (std::vector<int>{kTokName, kTokAssign, kTokName}));
    EXPECT_TRUE(Kinds("{only}").empty());
    // A double-byte character whose trail byte is '}' does not close the comment.
    EXPECT_EQ(Kinds(std::string("{\x81}") + "}x"), std::vector<int>{kTokName});
}

TEST(LexerStrings, ContentsLimitsAndUnterminated) {
    auto t = Lex("'buy now'");
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].kind, kTokString);
    EXPECT_EQ(t[0].text, "buy now");
    EXPECT_EQ(t[0].length, 9);
    EXPECT_EQ(Lex("'" + std::string(200, 'x') + "'").size(), 1u);
    SyntaxFault longer = FaultOf("'" + std::string(201, 'x') + "'");
    EXPECT_EQ(longer.code, kErrTextTooLong);
    EXPECT_EQ(GbkToUtf8(longer.arg0), ",最大允许值是200");
    SyntaxFault open = FaultOf("a:='abc");
    EXPECT_EQ(open.code, kErrUnterminatedString);
    EXPECT_EQ(open.position, 3);
    EXPECT_EQ(FaultOf("\"macd.dif").code, kErrUnterminatedRef);
    EXPECT_EQ(FaultOf("\"" + std::string(201, 'x') + "\"").code, kErrTextTooLong);
    auto ref = Lex("\"macd.dif#week\"");
    EXPECT_EQ(ref[0].kind, kTokQuotedRef);
    EXPECT_EQ(ref[0].text, "macd.dif#week");
}

TEST(LexerStkIndi, TextUpToTheFirstClosingParenthesis) {
    auto t = Lex("stkindi ('sh600000','macd.dif',1,2,3) + 1");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].kind, kTokStkIndi);
    EXPECT_EQ(t[0].text, "'sh600000','macd.dif',1,2,3");
    EXPECT_EQ(t[0].position, 0);
    EXPECT_EQ(t[0].length, 37);
    EXPECT_EQ(t[1].kind, kTokPlus);

    SyntaxFault noParen = FaultOf("x:=stkindi 5");
    EXPECT_EQ(noParen.code, kErrStkIndiFormat);
    EXPECT_EQ(noParen.position, 3);
    EXPECT_EQ(FaultOf("stkindi('sh600000'").code, kErrUnterminatedRef);
    EXPECT_EQ(FaultOf("stkindi(" + std::string(201, 'x') + ")").code, kErrTextTooLong);
    EXPECT_EQ(FaultOf("stkindi").code, kErrStkIndiFormat);
}

TEST(LexerOperandStart, TableHoldsExactlyTheOperandKinds) {
    std::vector<int> starts;
    for (int k = 0; k <= 29; ++k)
        if (IsOperandStart(k)) starts.push_back(k);
    EXPECT_EQ(starts, (std::vector<int>{1, 2, 3, 5, 6, 7, 8, 22}));
}

TEST(LexerEnd, ReturnsMinusTwoRepeatedly) {
    Lexer lexer("  \t\r\n", nullptr);
    EXPECT_EQ(lexer.NextToken(), -2);
    EXPECT_EQ(lexer.token().kind, kTokEnd);
    EXPECT_EQ(lexer.NextToken(), -2);
}

}  // namespace
}  // namespace tessaro
