// Password locking of combined conditions: names enciphered in place with their terminators
// kept, the checksum set even when no formula operand exists, and the file round trip.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "formula/condition.h"
#include "formula/des.h"
#include "formula/eval_data_source.h"
#include "formula/evaluator.h"
#include "formula/condition.h"
#include "formula/fml_file.h"
#include "formula/formula_cipher.h"
#include "formula/formula_set.h"
#include "formula/standard_library.h"
#include "market/bars_csv.h"
#include "market/periods.h"
#include "platform/crc32.h"
#include "platform/text.h"

namespace tessaro {
namespace {

std::string FormulaOperand(const char* formula, const char* line) {
    ByteWriter c;
    c.put<uint32_t>(kConditionOperandFormula).put<uint32_t>(4).fixedText(formula, 16).fixedText(line, 16);
    c.put<uint32_t>(1).put<float>(9).fixedText("SZ000001", 10).put<uint32_t>(8).put<uint32_t>(2);
    c.zeros(8).put<uint32_t>(0).put<float>(0);
    return std::string(c.data().begin(), c.data().end());
}

std::string NumberOperand(float v) {
    ByteWriter c;
    c.put<uint32_t>(kConditionOperandNumber).put<float>(v).zeros(8).put<uint32_t>(0).put<float>(0);
    return std::string(c.data().begin(), c.data().end());
}

std::string FinanceOperand(uint32_t item) {
    ByteWriter c;
    c.put<uint32_t>(kConditionOperandFinance).put<uint32_t>(item).zeros(8).put<uint32_t>(2).put<float>(2);
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

TEST(ConditionLock, FormulaNamesAreEncipheredInPlaceAsTwoBlocks) {
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
            // Bytes 0..7 and 8..15 of the field, each one DES block under the key "secret\0\0".
            const uint8_t key[8] = {'s', 'e', 'c', 'r', 'e', 't', 0, 0};
            DesKey des(key);
            for (size_t half : {size_t{0}, size_t{8}}) {
                uint8_t block[8];
                std::memcpy(block, plain.conditions[c].data() + field + half, 8);
                des.Encrypt(block);
                EXPECT_EQ(r.conditions[c].substr(field + half, 8), std::string(reinterpret_cast<char*>(block), 8))
                    << c << " " << field << " " << half;
            }
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

TEST(ConditionLock, ListsLockedWithOverlappingBlocksStillOpen) {
    FormulaRecord r = Combined({FormulaOperand("MACD", "DIF") + NumberOperand(0) + Relation(7),
                                FormulaOperand("ABCDEFGHIJKLMNO", "LINE") + FinanceOperand(7) + Relation(1)});
    const FormulaRecord plain = r;
    // The layout of earlier versions: blocks 0..7 and 7..14 of each name field, byte 15 untouched.
    FormulaLockCipher cipher("secret");
    for (std::string& image : r.conditions)
        for (size_t field : {size_t{8}, size_t{24}}) {
            auto* p = reinterpret_cast<uint8_t*>(image.data()) + field;
            cipher.EncipherBlock(p, 0);
            cipher.EncipherBlock(p + 7, 1);
        }
    r.lockChecksum = PlainCrc("MACD");
    auto open = OpenConditions(r, "secret");
    ASSERT_TRUE(open);
    EXPECT_EQ(*open, plain.conditions);
    EXPECT_FALSE(OpenConditions(r, "secreT"));
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

// A condition list compiled from the library's MACD and KDJ, evaluated over a real history
// before locking, after locking and after the locked formula went through a file.
TEST(ConditionLock, ALockedConditionEvaluatesAsBefore) {
    FormulaSet set;
    for (FormulaRecord& r : BuildStandardLibrary().formulas) set.Put(std::move(r));
    ASSERT_TRUE(set.Contains(kFormulaSubPane, "MACD"));
    MemoryEvalData data;
    CodeEntry security;
    ParseSecurityText("SH600519", security.id);
    security.securityClass = kClassAShare;
    const char* root = std::getenv("TESSARO_SOURCE_DIR");
    std::ifstream in(std::string(root ? root : TESSARO_SOURCE_DIR) + "/tests/formula/data/600519-daily.csv");
    std::stringstream text;
    text << in.rdbuf();
    Series bars;
    ASSERT_TRUE(ParseBarsCsv(text.str(), bars));
    bars.period = PeriodNumber(kPeriodDay);
    data.AddSecurity(security, bars);
    FinanceBlock figures;
    for (float& f : figures.figures) f = 5;
    data.SetFinance(security.id, figures);
    FormulaEvaluator evaluator(set, data, nullptr);

    auto evaluate = [&](const FormulaRecord& f) {
        std::unique_ptr<EvalResult> r = evaluator.Evaluate(f, security, nullptr, PeriodNumber(kPeriodDay));
        std::vector<float> values;
        if (!r || r->lineCount() != 1) return values;
        const OutputLine& line = r->lines[0];
        for (int32_t i = 0; i < line.count; ++i) values.push_back(line.valid(i) ? line.points[static_cast<size_t>(i)].value : -1.0f);
        return values;
    };

    Condition cross;
    cross.left = ConditionOperand::FormulaLine(kFormulaSubPane, "MACD", "DIF", {12, 26, 9}, PeriodNumber(kPeriodDay));
    cross.right = ConditionOperand::FormulaLine(kFormulaSubPane, "MACD", "DEA", {12, 26, 9}, PeriodNumber(kPeriodDay));
    cross.relation = kRelationCrossAbove;
    Condition low;
    low.left = ConditionOperand::FormulaLine(kFormulaSubPane, "KDJ", "K", {9, 3, 3}, 0);
    low.right = ConditionOperand::Number(30);
    low.relation = kRelationLess;
    Condition finance;
    finance.left = ConditionOperand::Finance(7);
    finance.right = ConditionOperand::Number(1e9f);
    finance.relation = kRelationLess;
    for (uint32_t joiner : {kJoinerAny, kJoinerAll}) {
        FormulaRecord combo;
        combo.type = kFormulaCombined;
        combo.setName("COMBO");
        combo.joiner = joiner;
        SetConditions(combo, {cross, low});
        CompileOptions options;
        options.lookup = set.CompilerLookup();
        CompileFormula(combo, options);
        const std::vector<float> before = evaluate(combo);
        ASSERT_EQ(before.size(), bars.size());
        float signals = 0;
        for (float v : before) signals += v > 0 ? v : 0;
        EXPECT_GT(signals, 0) << "the condition holds somewhere";

        FormulaRecord locked = combo;
        ASSERT_TRUE(LockConditions(locked, "pass word"));
        EXPECT_NE(locked.conditions, combo.conditions);
        EXPECT_EQ(evaluate(locked), before) << joiner;
        std::vector<FormulaRecord> v = {locked};
        FmlParseResult parsed = ParseFmlImage(WriteFmlImage(v));
        ASSERT_EQ(parsed.records.size(), 1u);
        EXPECT_EQ(evaluate(parsed.records[0]), before) << joiner;
        std::optional<std::vector<std::string>> plain = OpenConditions(parsed.records[0], "pass word");
        ASSERT_TRUE(plain);
        EXPECT_EQ(*plain, combo.conditions);
        std::vector<Condition> decoded;
        FormulaRecord opened = parsed.records[0];
        opened.conditions = *plain;
        ASSERT_TRUE(DecodeConditions(opened, decoded));
        EXPECT_EQ(decoded[0].left.formulaNameText(), "MACD");
        EXPECT_EQ(decoded[1].left.lineNameText(), "K");
    }

    // Finance items and numbers only: locked, and evaluating as before.
    FormulaRecord plainOnly;
    plainOnly.type = kFormulaCombined;
    plainOnly.setName("FIN");
    SetConditions(plainOnly, {finance});
    CompileFormula(plainOnly);
    FormulaRecord lockedOnly = plainOnly;
    ASSERT_TRUE(LockConditions(lockedOnly, "pw"));
    EXPECT_TRUE(lockedOnly.isLocked());
    const std::vector<float> finances = evaluate(plainOnly);
    ASSERT_EQ(finances.size(), bars.size());
    EXPECT_EQ(finances.back(), 1.0f);
    EXPECT_EQ(evaluate(lockedOnly), finances);
}

}  // namespace
}  // namespace tessaro
