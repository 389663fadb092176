// The condition model and its file image: sizes, the byte layout, round trips and the
// images that must be refused.
#include <gtest/gtest.h>

#include "formula/compiled_formula.h"
#include "formula/condition.h"
#include "platform/bytes.h"
#include "platform/text.h"

namespace tessaro {
namespace {

std::string Str(const ByteWriter& w) { return std::string(w.data().begin(), w.data().end()); }

// A formula operand written field by field, independently of the code under test.
void PutFormulaOperand(ByteWriter& w, uint32_t type, const char* name, const char* line, std::vector<float> params,
                       const char* stock, uint32_t period, uint32_t lookBack, uint32_t op, float constant) {
    w.put<uint32_t>(1).put<uint32_t>(type).fixedText(name, 16).fixedText(line, 16);
    w.put<uint32_t>(static_cast<uint32_t>(params.size()));
    for (float p : params) w.put<float>(p);
    w.fixedText(stock, 10).put<uint32_t>(period).put<uint32_t>(lookBack);
    w.zeros(8).put<uint32_t>(op).put<float>(constant);
}

TEST(ConditionModel, InMemorySizes) {
    EXPECT_EQ(sizeof(ConditionOperand), 326u);
    EXPECT_EQ(sizeof(Condition), 664u);
}

TEST(ConditionModel, ImageHasTheFileLayout) {
    Condition c;
    c.left = ConditionOperand::FormulaLine(kFormulaSubPane, "MACD", "DIF", {12, 26}, 9, "SH600000", 3);
    c.left.withOperation(kOperationMultiply, 2.5f);
    c.right = ConditionOperand::Number(1.25f);
    c.relation = kRelationPersistGreater;
    c.periods = 5;
    c.third = 77;
    ByteWriter w;
    PutFormulaOperand(w, 4, "MACD", "DIF", {12, 26}, "SH600000", 9, 3, 2, 2.5f);
    w.put<uint32_t>(3).put<float>(1.25f).zeros(8).put<uint32_t>(0).put<float>(0);
    w.put<int32_t>(9).put<float>(5).put<int32_t>(77).zeros(8);
    const std::string expected = Str(w);
    EXPECT_EQ(expected.size(), (78u + 8u) + 24u + 20u);
    EXPECT_EQ(ConditionImage(c), expected);

    Condition back;
    ASSERT_TRUE(ParseConditionImage(expected, back));
    EXPECT_EQ(ConditionImage(back), expected);
    EXPECT_EQ(back.left.formulaNameText(), "MACD");
    EXPECT_EQ(back.left.lineNameText(), "DIF");
    EXPECT_EQ(back.left.boundStockText(), "SH600000");
    EXPECT_EQ(back.left.paramCount, 2u);
    EXPECT_EQ(back.left.param(1), 26.0f);
    EXPECT_EQ(back.left.period, 9u);
    EXPECT_EQ(back.left.lookBack, 3u);
    EXPECT_EQ(back.left.operation, kOperationMultiply);
    EXPECT_EQ(back.right.number(), 1.25f);
    EXPECT_EQ(back.relation, kRelationPersistGreater);
    EXPECT_EQ(back.periods, 5.0f);
    EXPECT_EQ(back.third, 77);
}

TEST(ConditionModel, EmptyAndFinanceOperandsAreShort) {
    Condition c;
    c.left = ConditionOperand::Finance(33);
    c.relation = kRelationPersistRising;  // no right operand: it stays empty
    std::string image = ConditionImage(c);
    EXPECT_EQ(image.size(), 24u + 20u + 20u);
    ByteWriter w;
    w.put<uint32_t>(2).put<uint32_t>(33).zeros(8).put<uint32_t>(0).put<float>(0);
    w.put<uint32_t>(0).zeros(8).put<uint32_t>(0).put<float>(0);
    w.put<int32_t>(11).put<float>(0).put<int32_t>(0).zeros(8);
    EXPECT_EQ(image, Str(w));
    Condition back;
    ASSERT_TRUE(ParseConditionImage(image, back));
    EXPECT_EQ(back.left.financeItem(), 33u);
    EXPECT_EQ(back.right.kind, kConditionOperandEmpty);
}

TEST(ConditionModel, SixtyFourParametersFitSixtyFiveDoNot) {
    std::vector<float> params(64);
    for (size_t i = 0; i < params.size(); ++i) params[i] = static_cast<float>(i);
    Condition c;
    c.left = ConditionOperand::FormulaLine(kFormulaSubPane, "BIG", "X", params, 8);
    c.right = ConditionOperand::Number(0);
    c.relation = kRelationGreater;
    std::string image = ConditionImage(c);
    Condition back;
    ASSERT_TRUE(ParseConditionImage(image, back));
    EXPECT_EQ(back.left.paramCount, 64u);
    EXPECT_EQ(back.left.param(63), 63.0f);
    // A count of 65 in the bytes is refused rather than read past the array.
    std::string bad = image;
    StoreLE<uint32_t>(reinterpret_cast<uint8_t*>(bad.data()) + 40, 65);
    EXPECT_FALSE(ParseConditionImage(bad, back));
    StoreLE<uint32_t>(reinterpret_cast<uint8_t*>(bad.data()) + 40, 0xFFFFFFFFu);
    EXPECT_FALSE(ParseConditionImage(bad, back));
}

TEST(ConditionModel, MalformedImagesAreRefused) {
    Condition c;
    c.left = ConditionOperand::FormulaLine(kFormulaSubPane, "MACD", "DIF", {12}, 8);
    c.right = ConditionOperand::Number(3);
    c.relation = kRelationGreater;
    const std::string image = ConditionImage(c);
    Condition back;
    for (size_t n = 0; n < image.size(); ++n) EXPECT_FALSE(ParseConditionImage(image.substr(0, n), back)) << n;
    EXPECT_FALSE(ParseConditionImage(image + '\0', back));  // bytes left over
    for (uint32_t kind : {4u, 7u, 0xFFFFFFFFu}) {
        std::string bad = image;
        StoreLE<uint32_t>(reinterpret_cast<uint8_t*>(bad.data()), kind);
        EXPECT_FALSE(ParseConditionImage(bad, back)) << kind;
    }
}

TEST(ConditionModel, NamesReadFromAnImageEndInNul) {
    ByteWriter w;
    w.put<uint32_t>(1).put<uint32_t>(4);
    w.bytes(std::string(16, 'N')).bytes(std::string(16, 'L')).put<uint32_t>(0);
    w.bytes(std::string(10, 'S')).put<uint32_t>(8).put<uint32_t>(0).zeros(8).put<uint32_t>(0).put<float>(0);
    w.put<uint32_t>(0).zeros(8).put<uint32_t>(0).put<float>(0);
    w.put<int32_t>(11).put<float>(3).put<int32_t>(0).zeros(8);
    Condition back;
    ASSERT_TRUE(ParseConditionImage(Str(w), back));
    EXPECT_EQ(back.left.formulaNameText(), std::string(15, 'N'));
    EXPECT_EQ(back.left.lineNameText(), std::string(15, 'L'));
    EXPECT_EQ(back.left.boundStockText(), std::string(9, 'S'));
}

TEST(ConditionModel, RecordHoldsOneImagePerCondition) {
    Condition a;
    a.left = ConditionOperand::FormulaLine(kFormulaSelection, Utf8ToGbk("突破"), "", {}, 8);
    Condition b;
    b.left = ConditionOperand::FormulaLine(kFormulaSubPane, "KDJ", "J", {9, 3, 3}, 9);
    b.right = ConditionOperand::Number(100);
    b.relation = kRelationCrossBelow;
    FormulaRecord r;
    r.type = kFormulaCombined;
    SetConditions(r, {a, b});
    ASSERT_EQ(r.conditions.size(), 2u);
    EXPECT_EQ(r.conditions[0], ConditionImage(a));
    EXPECT_EQ(r.conditions[1], ConditionImage(b));
    std::vector<Condition> decoded;
    ASSERT_TRUE(DecodeConditions(r, decoded));
    ASSERT_EQ(decoded.size(), 2u);
    EXPECT_EQ(ConditionImage(decoded[0]), ConditionImage(a));
    EXPECT_EQ(ConditionImage(decoded[1]), ConditionImage(b));
    EXPECT_EQ(GbkToUtf8(std::string(decoded[0].left.formulaNameText())), "突破");
    // One bad image fails the whole decoding and leaves the output alone.
    r.conditions[1].resize(5);
    std::vector<Condition> untouched(1);
    EXPECT_FALSE(DecodeConditions(r, untouched));
    EXPECT_EQ(untouched.size(), 1u);
}

TEST(ConditionModel, RelationsAndOperandClasses) {
    int withRight = 0;
    for (int32_t r = 1; r <= kRelationCount; ++r) withRight += RelationTakesRightOperand(r) ? 1 : 0;
    EXPECT_EQ(withRight, 15);
    for (int32_t r : {11, 12, 15, 16}) EXPECT_FALSE(RelationTakesRightOperand(r)) << r;
    EXPECT_FALSE(RelationTakesRightOperand(0));
    EXPECT_FALSE(RelationTakesRightOperand(20));
    for (uint32_t t : {0u, 1u, 5u})
        EXPECT_TRUE(OperandIsCondition(ConditionOperand::FormulaLine(t, "X", "", {}, 8))) << t;
    for (uint32_t t : {2u, 3u, 4u, 7u})
        EXPECT_FALSE(OperandIsCondition(ConditionOperand::FormulaLine(t, "X", "Y", {}, 8))) << t;
    EXPECT_FALSE(OperandIsCondition(ConditionOperand::Number(0)));
    EXPECT_TRUE(OperandIsConstant(ConditionOperand::Number(0)));
    EXPECT_TRUE(OperandIsConstant(ConditionOperand::Finance(0)));
    EXPECT_FALSE(OperandIsConstant(ConditionOperand::FormulaLine(4, "X", "Y", {}, 8)));
}

}  // namespace
}  // namespace tessaro
