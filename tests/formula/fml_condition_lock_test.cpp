// Password locking of combined conditions: name fields enciphered in place as two blocks,
// lists of the older overlapping layout still opened, the checksum set even when no formula
// operand exists, and the file round trip.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

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

// The name fields of the conditions built by FormulaOperand (one parameter each): the
// formula and line names of the left operand, and of a right operand that is a formula line.
constexpr size_t kLeftNames[] = {8, 24};
constexpr size_t kRightNames[] = {82 + 8, 82 + 24};

// Enciphers one 8-byte block of `image` at `at` the way the lock does, written out by hand:
// key block i mod K; with 9 or more password bytes, encrypt, decrypt with the next key block,
// encrypt again.
void HandEncipher(std::string& image, size_t at, size_t index, std::string password) {
    password.resize((password.size() + 7) / 8 * 8, '\0');
    std::vector<DesKey> keys;
    for (size_t k = 0; k < password.size(); k += 8) keys.emplace_back(reinterpret_cast<const uint8_t*>(password.data() + k));
    uint8_t* block = reinterpret_cast<uint8_t*>(image.data() + at);
    keys[index % keys.size()].Encrypt(block);
    if (password.size() <= 8) return;
    keys[(index + 1) % keys.size()].Decrypt(block);
    keys[index % keys.size()].Encrypt(block);
}

// A condition list locked by hand: each name field as blocks 0..7 and 8..15 (`overlapped`
// false), or as the overlapping blocks 0..7 and then 7..14 of earlier versions.
FormulaRecord HandLocked(const FormulaRecord& plain, const std::vector<std::vector<size_t>>& fields,
                         const std::string& password, bool overlapped) {
    FormulaRecord r = plain;
    for (size_t c = 0; c < fields.size(); ++c)
        for (size_t field : fields[c]) {
            HandEncipher(r.conditions[c], field, 0, password);
            HandEncipher(r.conditions[c], field + (overlapped ? 7 : 8), 1, password);
        }
    return r;
}

TEST(ConditionLock, NameFieldsAreEncipheredWholeAsTwoBlocks) {
    const std::string fifteen = "ABCDEFGHIJKLMNO";
    const FormulaRecord plain =
        Combined({FormulaOperand("MACD", "DIF") + FormulaOperand("MACD", "DEA") + Relation(7),
                  FormulaOperand(fifteen.c_str(), "") + FinanceOperand(7) + Relation(1)});
    const std::vector<std::vector<size_t>> fields = {{8, 24, kRightNames[0], kRightNames[1]}, {8, 24}};
    for (const std::string password : {"secret", "12345678", "a password of many bytes"}) {
        FormulaRecord r = plain;
        ASSERT_TRUE(LockConditions(r, password));
        const FormulaRecord expected = HandLocked(plain, fields, password, false);
        EXPECT_EQ(r.conditions, expected.conditions) << password;
        EXPECT_EQ(r.lockChecksum, PlainCrc("MACD"));
        EXPECT_EQ(r.instructions, plain.instructions);
        EXPECT_EQ(r.references[0].formulaNameText(), "MACD") << "the compiled code keeps the plain names";
        // A list locked by the rules' layout, made without the lock, opens and survives a file.
        FormulaRecord made = expected;
        made.lockChecksum = PlainCrc("MACD");
        std::vector<FormulaRecord> v = {made};
        FmlParseResult parsed = ParseFmlImage(WriteFmlImage(v));
        ASSERT_EQ(parsed.records.size(), 1u);
        EXPECT_EQ(parsed.records[0].conditions, made.conditions) << "enciphered byte 15 kept by the file";
        EXPECT_EQ(OpenConditions(parsed.records[0], password), std::optional<std::vector<std::string>>(plain.conditions));
        EXPECT_FALSE(OpenConditions(parsed.records[0], "X" + password.substr(1)));
    }
}

TEST(ConditionLock, ListsLockedInTheOverlappingLayoutStillOpen) {
    const FormulaRecord plain = Combined({FormulaOperand("KDJ", "K") + FormulaOperand("KDJ", "D") + Relation(7),
                                          FormulaOperand("MACD", "DIF") + NumberOperand(0) + Relation(1)});
    const std::vector<std::vector<size_t>> fields = {{8, 24, kRightNames[0], kRightNames[1]}, {8, 24}};
    for (const std::string password : {"pw", "a password of many bytes"}) {
        FormulaRecord old = HandLocked(plain, fields, password, true);
        old.lockChecksum = PlainCrc("KDJ");
        EXPECT_EQ(old.conditions[0][8 + 15], 0) << "the old layout left byte 15 alone";
        std::vector<FormulaRecord> v = {old};
        FmlParseResult parsed = ParseFmlImage(WriteFmlImage(v));
        ASSERT_EQ(parsed.records.size(), 1u);
        EXPECT_EQ(parsed.records[0].conditions, old.conditions);
        EXPECT_EQ(OpenConditions(parsed.records[0], password), std::optional<std::vector<std::string>>(plain.conditions));
        EXPECT_FALSE(OpenConditions(parsed.records[0], "wrong"));

        // Opened and locked again, the list is saved in the two-block layout.
        FormulaRecord relocked = plain;
        ASSERT_TRUE(LockConditions(relocked, password));
        EXPECT_EQ(relocked.conditions, HandLocked(plain, fields, password, false).conditions);
        EXPECT_NE(relocked.conditions, old.conditions);
    }
}

TEST(ConditionLock, DamagedListsFailUnderBothLayouts) {
    // A name of 15 bytes: every byte of the field counts.
    const std::string fifteen = "ABCDEFGHIJKLMNO";
    const FormulaRecord plain = Combined({FormulaOperand(fifteen.c_str(), "DIF") + NumberOperand(0) + Relation(7)});
    for (bool overlapped : {false, true}) {
        FormulaRecord good = HandLocked(plain, {{8, 24}}, "secret", overlapped);
        good.lockChecksum = PlainCrc(fifteen);
        ASSERT_EQ(OpenConditions(good, "secret"), std::optional<std::vector<std::string>>(plain.conditions)) << overlapped;
        // A byte of either block of the first formula name; byte 15 is enciphered only in the
        // two-block layout (the overlapping one keeps it as the terminator).
        std::vector<size_t> damaged = {8 + 0, 8 + 7, 8 + 14};
        if (!overlapped) damaged.push_back(8 + 15);
        for (size_t at : damaged) {
            FormulaRecord bad = good;
            bad.conditions[0][at] = static_cast<char>(bad.conditions[0][at] ^ 0x20);
            EXPECT_FALSE(OpenConditions(bad, "secret")) << overlapped << " " << at;
        }
        FormulaRecord wrongSum = good;
        wrongSum.lockChecksum ^= 1;
        EXPECT_FALSE(OpenConditions(wrongSum, "secret")) << overlapped;
        FormulaRecord cut = good;
        cut.conditions[0].resize(30);
        EXPECT_FALSE(OpenConditions(cut, "secret")) << overlapped;
    }
}

TEST(ConditionLock, FormulaNamesAreEnciphered) {
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
        for (size_t field : kLeftNames)
            EXPECT_NE(r.conditions[c].substr(field, 16), plain.conditions[c].substr(field, 16)) << c << " " << field;
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
    EXPECT_EQ(back.conditions, r.conditions) << "the enciphered names are kept byte for byte";
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
    bars.period = kPeriodDay;
    data.AddSecurity(security, bars);
    FinanceBlock figures;
    for (float& f : figures.figures) f = 5;
    data.SetFinance(security.id, figures);
    FormulaEvaluator evaluator(set, data, nullptr);

    auto evaluate = [&](const FormulaRecord& f) {
        std::unique_ptr<EvalResult> r = evaluator.Evaluate(f, security, nullptr, kPeriodDay);
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
