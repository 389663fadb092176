// Password locking of combined conditions: names enciphered in place with their terminators
// kept, the checksum set even when no formula operand exists, and the file round trip.
#include <gtest/gtest.h>

#include "formula/fml_conditions.h"
#include "formula/fml_file.h"
#include "formula/formula_cipher.h"
#include "platform/crc32.h"
#include "platform/text.h"

namespace tessaro {
namespace {

std::string FormulaOperand(const char* formula, const char* line) {
    ByteWriter c;
    c.put<uint32_t>(kOperandFormulaLine).put<uint32_t>(4).fixedText(formula, 16).fixedText(line, 16);
    c.put<uint32_t>(1).put<float>(9).fixedText("SZ000001", 10).put<uint32_t>(8).put<uint32_t>(2);
    c.zeros(8).put<uint32_t>(0).put<float>(0);
    return std::string(c.data().begin(), c.data().end());
}

std::string NumberOperand(float v) {
    ByteWriter c;
    c.put<uint32_t>(kOperandNumber).put<float>(v).zeros(8).put<uint32_t>(0).put<float>(0);
    return std::string(c.data().begin(), c.data().end());
}

std::string FinanceOperand(uint32_t item) {
    ByteWriter c;
    c.put<uint32_t>(kOperandFinance).put<uint32_t>(item).zeros(8).put<uint32_t>(2).put<float>(2);
    return std::string(c.data().begin(), c.data().end());
}

std::string Relation(uint32_t relation) {
    ByteWriter c;
    c.put<uint32_t>(relation).put<float>(3).put<uint32_t>(0).zeros(8);
    return std::string(c.data().begin(), c.data().end());
}

FormulaRecord Combined(std::vector<std::string> conditions) {
    FormulaRecord r;
    r.type = kFormulaCombined;
    r.setName("COMBO");
    r.conditions = std::move(conditions);
    // The compiled code stands for what the compiler would build; locking must not touch it.
    r.instructions = {Instruction{65, 0}, Instruction{68, 0}};
    r.outputs.resize(1);
    ReferenceEntry e;
    CopyToField(e.formulaName, "MACD");
    r.references.push_back(e);
    return r;
}

uint32_t PlainCrc(std::string_view s) { return Crc32(ByteSpan(reinterpret_cast<const uint8_t*>(s.data()), s.size())); }

TEST(ConditionLock, FormulaNamesAreEncipheredWithTheirTerminatorsKept) {
    const std::string fifteen = "ABCDEFGHIJKLMNO";
    FormulaRecord r = Combined({FormulaOperand("MACD", "DIF") + NumberOperand(0) + Relation(7),
                                FormulaOperand(fifteen.c_str(), "") + FinanceOperand(7) + Relation(1)});
    const FormulaRecord plain = r;
    ASSERT_TRUE(LockConditions(r, "secret"));
    EXPECT_EQ(r.lockChecksum, PlainCrc("MACD"));
    EXPECT_EQ(r.instructions, plain.instructions);
    EXPECT_EQ(r.references[0].formulaNameText(), "MACD") << "the compiled code keeps the plain names";
    for (size_t c = 0; c < 2; ++c) {
        ASSERT_EQ(r.conditions[c].size(), plain.conditions[c].size());
        for (size_t field : {size_t{8}, size_t{24}}) {
            EXPECT_EQ(r.conditions[c][field + 15], 0) << c << " " << field;
            EXPECT_NE(r.conditions[c].substr(field, 15), plain.conditions[c].substr(field, 15)) << c << " " << field;
        }
        // Everything but the name fields is left as it was.
        EXPECT_EQ(r.conditions[c].substr(40), plain.conditions[c].substr(40));
        EXPECT_EQ(r.conditions[c].substr(0, 8), plain.conditions[c].substr(0, 8));
    }
    auto open = OpenConditions(r, "secret");
    ASSERT_TRUE(open);
    EXPECT_EQ(*open, plain.conditions);
    EXPECT_FALSE(OpenConditions(r, "Secret"));
    EXPECT_FALSE(OpenConditions(r, ""));
    // Locking twice is refused: the names are enciphered already.
    EXPECT_FALSE(LockConditions(r, "other"));
}

TEST(ConditionLock, ConditionsOfFinanceItemsAndNumbersStillTakeThePassword) {
    FormulaRecord r = Combined({FinanceOperand(7) + NumberOperand(2.5f) + Relation(1),
                                NumberOperand(1) + std::string(20, '\0') + Relation(11)});  // right operand empty
    const FormulaRecord plain = r;
    ASSERT_TRUE(LockConditions(r, "pw"));
    EXPECT_TRUE(r.isLocked()) << "the checksum must not fall back to 'no password'";
    EXPECT_EQ(r.conditions, plain.conditions);
    EXPECT_EQ(OpenConditions(r, "pw"), std::optional<std::vector<std::string>>(plain.conditions));
    EXPECT_FALSE(OpenConditions(r, "px"));
    // A long password (three passes per block) as well.
    FormulaRecord longer = plain;
    ASSERT_TRUE(LockConditions(longer, "a password of many bytes"));
    EXPECT_NE(longer.lockChecksum, r.lockChecksum);
    EXPECT_TRUE(OpenConditions(longer, "a password of many bytes"));
    EXPECT_FALSE(OpenConditions(longer, "pw"));
}

TEST(ConditionLock, RefusesWhatCannotBeLocked) {
    FormulaRecord r = Combined({FormulaOperand("KDJ", "K") + NumberOperand(20) + Relation(3)});
    FormulaRecord uncompiled = r;
    uncompiled.instructions.clear();
    EXPECT_FALSE(LockConditions(uncompiled, "pw")) << "the code must be built from plain names first";
    FormulaRecord text = r;
    text.type = kFormulaSelection;
    EXPECT_FALSE(LockConditions(text, "pw"));
    FormulaRecord broken = r;
    broken.conditions[0].resize(broken.conditions[0].size() - 1);
    EXPECT_FALSE(LockConditions(broken, "pw"));
    EXPECT_EQ(broken.lockChecksum, 0u);
    FormulaRecord none = r;
    EXPECT_TRUE(LockConditions(none, ""));
    EXPECT_FALSE(none.isLocked());
    EXPECT_EQ(none.conditions, r.conditions);
}

TEST(ConditionLock, LockedConditionsSurviveTheFileAndOpenAfterLoading) {
    FormulaRecord r = Combined({FormulaOperand("MACD", "DEA") + FormulaOperand("MACD", "DIF") + Relation(8)});
    const FormulaRecord plain = r;
    ASSERT_TRUE(LockConditions(r, "12345678"));
    std::vector<FormulaRecord> v = {r};
    Bytes image = WriteFmlImage(v);
    FmlParseResult parsed = ParseFmlImage(image);
    ASSERT_EQ(parsed.records.size(), 1u);
    const FormulaRecord& back = parsed.records[0];
    EXPECT_EQ(back.conditions, r.conditions) << "forcing the terminators changes nothing";
    EXPECT_EQ(back.lockChecksum, r.lockChecksum);
    EXPECT_EQ(OpenConditions(back, "12345678"), std::optional<std::vector<std::string>>(plain.conditions));
    EXPECT_EQ(WriteFmlImage(parsed.records), image);
}

}  // namespace
}  // namespace tessaro
