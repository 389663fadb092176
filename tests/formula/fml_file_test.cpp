// Formula files: byte-exact round trips, empty and foreign files, and hostile records that
// must be skipped without reading outside the file while the other records still load.
#include <gtest/gtest.h>

#include <cstring>

#include "formula/condition.h"
#include "formula/fml_file.h"
#include "formula/formula_cipher.h"
#include "platform/text.h"

namespace tessaro {
namespace {

FormulaRecord TextFormula(const char* name, uint32_t type = kFormulaSubPane) {
    FormulaRecord r;
    r.type = type;
    r.setName(name);
    r.description = Utf8ToGbk("说明");
    r.group = Utf8ToGbk("趋势指标");
    FormulaParam p;
    p.setName("N");
    p.min = 1;
    p.max = 100;
    p.defaultValue = 12;
    r.params.push_back(p);
    OutputLineDesc d;
    d.setName("MA1");
    r.outputs.push_back(d);
    r.instructions = {Instruction{5, 0}, Instruction{66, 0}, Instruction{23, 0}, Instruction{68, 1}};
    r.source = "MA1:MA(C,N);";
    r.comment = Utf8ToGbk("注释\r\n第二行");
    r.freeText = "free";
    r.coordinateCount = 2;
    r.coordinates[0] = 20;
    r.coordinates[1] = 80;
    r.reserved13[3] = 0x5A;
    r.compileTime = 1700000000;
    return r;
}

// A condition image: a formula line operand against a number.
std::string LineAgainstNumber(const char* formula, const char* line, float number) {
    ByteWriter c;
    c.put<uint32_t>(kConditionOperandFormula).put<uint32_t>(4).fixedText(formula, 16).fixedText(line, 16);
    c.put<uint32_t>(2).put<float>(12).put<float>(26).fixedText("SH600000", 10).put<uint32_t>(8).put<uint32_t>(0);
    c.zeros(8).put<uint32_t>(0).put<float>(0);
    c.put<uint32_t>(kConditionOperandNumber).put<float>(number).zeros(8).put<uint32_t>(0).put<float>(0);
    c.put<uint32_t>(1).put<float>(0).put<uint32_t>(0).zeros(8);
    return std::string(c.data().begin(), c.data().end());
}

// An empty right operand (a relation that needs none) and a finance item.
std::string FinanceRising() {
    ByteWriter c;
    c.put<uint32_t>(kConditionOperandFinance).put<uint32_t>(7).zeros(8).put<uint32_t>(2).put<float>(2);
    c.put<uint32_t>(kConditionOperandEmpty).zeros(8).put<uint32_t>(0).put<float>(0);
    c.put<uint32_t>(11).put<float>(5).put<uint32_t>(0).zeros(8);
    return std::string(c.data().begin(), c.data().end());
}

FormulaRecord Combined() {
    FormulaRecord r;
    r.type = kFormulaCombined;
    r.setName(Utf8ToGbk("组合一").c_str());
    r.joiner = 1;
    r.conditions = {LineAgainstNumber("MACD", "DIF", 0.5f), FinanceRising()};
    r.instructions = {Instruction{65, 0}, Instruction{68, 0}};
    r.outputs.resize(1);
    return r;
}

std::vector<FormulaRecord> Sample() {
    FormulaRecord locked = TextFormula("LOCKED", kFormulaSelection);
    SetFormulaPassword(locked, "X:C>O;", "secret");
    return {TextFormula("MA"), Combined(), locked, TextFormula(Utf8ToGbk("均线十五字节名").c_str(), kFormulaMainOverlay)};
}

Bytes WithU32(Bytes b, size_t at, uint32_t v) {
    StoreLE<uint32_t>(b.data() + at, v);
    return b;
}

uint32_t OffsetOf(const Bytes& image, size_t record) { return LoadLE<uint32_t>(image.data() + 8 + 4 * record); }

TEST(FmlFile, WrittenAndReadBackIsByteIdentical) {
    Bytes image = WriteFmlImage(Sample());
    FmlParseResult parsed = ParseFmlImage(image);
    ASSERT_TRUE(parsed.valid);
    EXPECT_EQ(parsed.declared, 4u);
    EXPECT_EQ(parsed.skipped, 0u);
    ASSERT_EQ(parsed.records.size(), 4u);
    EXPECT_EQ(WriteFmlImage(parsed.records), image);
    // The header as the format fixes it.
    EXPECT_EQ(image[0], 0x01);
    EXPECT_EQ(image[1], 0x52);
    EXPECT_EQ(image[2], 0x4F);
    EXPECT_EQ(image[3], 0x46);
    EXPECT_EQ(OffsetOf(image, 0), 8u + 16u);
    const FormulaRecord& combo = parsed.records[1];
    EXPECT_EQ(combo.joiner, 1u);
    ASSERT_EQ(combo.conditions.size(), 2u);
    EXPECT_EQ(combo.conditions[1], FinanceRising());
    EXPECT_EQ(parsed.records[2].source.size() % 8, 0u);
    EXPECT_EQ(OpenFormulaText(parsed.records[2], "secret"), std::optional<std::string>("X:C>O;"));
}

TEST(FmlFile, RecordLayoutHasTheFixedTail) {
    // A record without strings or arrays: 12 + 16 + 2 * 4 (strings) + 4 * 4 (counts) + 4 (source)
    // + 3 * 4 (strings) + 32 (coordinates) + 4 + 16 + 4 + 5 + 4 + 4 + 4 + 1 + 4 + 15.
    FormulaRecord r;
    r.setName("A");
    ByteWriter out;
    WriteFormulaRecord(out, r);
    EXPECT_EQ(out.size(), 12u + 16 + 8 + 16 + 4 + 12 + 32 + 4 + 16 + 4 + 5 + 4 + 4 + 4 + 1 + 4 + 15);
}

TEST(FmlFile, CountZeroOrNegativeIsAnEmptyValidFile) {
    for (uint32_t count : {0u, 0x80000000u, 0xFFFFFFFFu}) {
        ByteWriter w;
        w.put<uint32_t>(kFmlMagic).put<uint32_t>(count);
        FmlParseResult parsed = ParseFmlImage(w.data());
        EXPECT_TRUE(parsed.valid) << count;
        EXPECT_TRUE(parsed.records.empty());
    }
}

TEST(FmlFile, WrongMagicShortHeaderOrCutOffsetTableFailTheFile) {
    Bytes image = WriteFmlImage(Sample());
    EXPECT_FALSE(ParseFmlImage(WithU32(image, 0, 0x464F5202)).valid);
    EXPECT_FALSE(ParseFmlImage(ByteSpan(image.data(), 7)).valid);
    EXPECT_FALSE(ParseFmlImage(ByteSpan(image.data(), 8 + 4 * 3)).valid);
    EXPECT_FALSE(ParseFmlImage(ByteSpan()).valid);
    // A count far beyond the bytes fails before anything is reserved.
    EXPECT_FALSE(ParseFmlImage(WithU32(image, 4, 0x7FFFFFFF)).valid);
}

TEST(FmlFile, RecordCutShortInTheMiddleIsSkippedAndTheRestLoad) {
    Bytes image = WriteFmlImage(Sample());
    // Give record 1 a description length that runs past the next records and the file.
    size_t at = OffsetOf(image, 1) + 12 + 16;
    FmlParseResult parsed = ParseFmlImage(WithU32(image, at, 0x7FFFFFF0));
    ASSERT_TRUE(parsed.valid);
    EXPECT_EQ(parsed.skipped, 1u);
    ASSERT_EQ(parsed.records.size(), 3u);
    EXPECT_EQ(parsed.records[0].nameText(), "MA");
    EXPECT_EQ(parsed.records[1].nameText(), "LOCKED");
    // Offsets outside the file, or into the header, skip their record only.
    Bytes bad = WithU32(WithU32(image, 8, static_cast<uint32_t>(image.size())), 12, 3);
    parsed = ParseFmlImage(bad);
    EXPECT_EQ(parsed.skipped, 2u);
    EXPECT_EQ(parsed.records.size(), 2u);
}

TEST(FmlFile, EveryTruncationLoadsTheWholeRecordsBeforeTheCut) {
    Bytes image = WriteFmlImage(Sample());
    for (size_t n = 8 + 16; n <= image.size(); ++n) {
        FmlParseResult parsed = ParseFmlImage(ByteSpan(image.data(), n));
        ASSERT_TRUE(parsed.valid) << n;
        size_t whole = 0;
        for (size_t r = 0; r < 4; ++r) {
            size_t end = r + 1 < 4 ? OffsetOf(image, r + 1) : image.size();
            if (end <= n) ++whole;
        }
        EXPECT_EQ(parsed.records.size(), whole) << n;
        EXPECT_EQ(parsed.records.size() + parsed.skipped, 4u) << n;
    }
}

TEST(FmlFile, HostileCountsInARecordAreRefused) {
    std::vector<FormulaRecord> one = {TextFormula("MA")};
    Bytes image = WriteFmlImage(one);
    const FormulaRecord& r = one[0];
    size_t rec = OffsetOf(image, 0);
    size_t params = rec + 12 + 16 + 4 + r.description.size() + 4 + r.group.size();
    size_t outputs = params + 4 + 32;
    size_t instructions = outputs + 4 + 24;
    size_t references = instructions + 4 + 8 * 4;
    size_t source = references + 4;
    for (auto [at, value] : std::vector<std::pair<size_t, uint32_t>>{{params, 65},
                                                                      {params, 0xFFFFFFFF},
                                                                      {outputs, 0x10000000},
                                                                      {instructions, 0x20000000},
                                                                      {references, 0x01000000},
                                                                      {source, 0xFFFFFFFF}}) {
        FmlParseResult parsed = ParseFmlImage(WithU32(image, at, value));
        EXPECT_TRUE(parsed.records.empty()) << at << " " << value;
        EXPECT_EQ(parsed.skipped, 1u);
    }
    // 64 parameters is the limit itself: a record that holds them loads.
    FormulaRecord many = r;
    many.params.assign(64, r.params[0]);
    std::vector<FormulaRecord> v = {many};
    EXPECT_EQ(ParseFmlImage(WriteFmlImage(v)).records.size(), 1u);
}

TEST(FmlFile, CoordinateCountIsCappedAndNamesEndInNul) {
    FormulaRecord r = TextFormula("MA");
    std::memset(r.params[0].name, 'p', 16);
    std::memset(r.outputs[0].name, 'o', 16);
    ReferenceEntry e;
    std::memset(e.stock, 's', sizeof e.stock);
    std::memset(e.formulaName, 'f', sizeof e.formulaName);
    std::memset(e.lineName, 'l', sizeof e.lineName);
    r.references.push_back(e);
    std::vector<FormulaRecord> v = {r};
    Bytes image = WriteFmlImage(v);
    // The coordinate count sits after the source, comment, free text and pool strings.
    size_t rec = OffsetOf(image, 0);
    ByteWriter probe;
    WriteFormulaRecord(probe, r);
    size_t coord = rec + probe.size() - (32 + 4 + 16 + 4 + 5 + 4 + 4 + 4 + 1 + 4 + 15);
    ASSERT_EQ(LoadLE<uint32_t>(image.data() + coord), 2u);
    FmlParseResult parsed = ParseFmlImage(WithU32(image, coord, 1000));
    ASSERT_EQ(parsed.records.size(), 1u);
    const FormulaRecord& back = parsed.records[0];
    EXPECT_EQ(back.coordinateCount, 7u);
    EXPECT_EQ(back.params[0].nameText(), std::string(15, 'p'));
    EXPECT_EQ(back.outputs[0].nameText(), std::string(15, 'o'));
    EXPECT_EQ(back.references[0].stockText(), std::string(9, 's'));
    EXPECT_EQ(back.references[0].formulaNameText(), std::string(15, 'f'));
    EXPECT_EQ(back.references[0].lineNameText(), std::string(15, 'l'));
}

TEST(FmlFile, HostileConditionsAreRefused) {
    std::vector<FormulaRecord> one = {Combined()};
    Bytes image = WriteFmlImage(one);
    size_t rec = OffsetOf(image, 0);
    // type 7 with no strings: after the 4 arrays comes the joiner, then the condition count.
    size_t count = rec + 12 + 16 + 4 + 4 + 4 + 4 + 24 + 4 + 16 + 4 + 4;
    ASSERT_EQ(LoadLE<uint32_t>(image.data() + count), 2u);
    EXPECT_TRUE(ParseFmlImage(WithU32(image, count, 0xFFFFFFFF)).records.empty());
    EXPECT_TRUE(ParseFmlImage(WithU32(image, count, 1000)).records.empty());
    size_t first = count + 4;
    EXPECT_TRUE(ParseFmlImage(WithU32(image, first, 4)).records.empty()) << "unknown operand kind";
    // The parameter count of the formula operand: above 64, or beyond the bytes.
    size_t k = first + 4 + 4 + 16 + 16;
    ASSERT_EQ(LoadLE<uint32_t>(image.data() + k), 2u);
    EXPECT_TRUE(ParseFmlImage(WithU32(image, k, 65)).records.empty());
    EXPECT_TRUE(ParseFmlImage(WithU32(image, k, 64)).records.empty());
    // Names and the bound security are forced to end in NUL.
    Bytes named = image;
    std::memset(named.data() + first + 8, 'N', 32);
    std::memset(named.data() + k + 4 + 8, 'S', 10);
    FmlParseResult parsed = ParseFmlImage(named);
    ASSERT_EQ(parsed.records.size(), 1u);
    const std::string& c = parsed.records[0].conditions[0];
    EXPECT_EQ(c[8 + 15], 0);
    EXPECT_EQ(c[8 + 31], 0);
    EXPECT_EQ(c[8 + 14], 'N');
    EXPECT_EQ(c[k - first + 4 + 8 + 9], 0);
}

TEST(FmlFile, RecordsWithoutNameOrOfUnknownTypeAreSkipped) {
    std::vector<FormulaRecord> v = {TextFormula("A"), TextFormula(""), TextFormula("B", 6), TextFormula("C", 99),
                                    TextFormula("D", kFormulaColourKLine)};
    FmlParseResult parsed = ParseFmlImage(WriteFmlImage(v));
    EXPECT_EQ(parsed.skipped, 3u);
    ASSERT_EQ(parsed.records.size(), 2u);
    EXPECT_EQ(parsed.records[1].nameText(), "D");
}

TEST(FmlFile, ManyOffsetsAtOneLargeRecordStopAtTheWorkBudget) {
    // 200 000 offsets all naming one 60 kB record: the loader must not parse it 200 000 times.
    FormulaRecord big = TextFormula("BIG");
    big.comment.assign(60000, 'c');
    std::vector<FormulaRecord> v = {big};
    Bytes one = WriteFmlImage(v);
    const uint32_t n = 200000;
    ByteWriter w;
    w.put<uint32_t>(kFmlMagic).put<uint32_t>(n);
    const uint32_t recordAt = 8 + 4 * n;
    for (uint32_t i = 0; i < n; ++i) w.put<uint32_t>(recordAt);
    w.bytes(ByteSpan(one.data() + OffsetOf(one, 0), one.size() - OffsetOf(one, 0)));
    FmlParseResult parsed = ParseFmlImage(w.data());
    ASSERT_TRUE(parsed.valid);
    EXPECT_GE(parsed.records.size(), 1u);
    EXPECT_LT(parsed.records.size(), 100u);
    EXPECT_EQ(parsed.records.size() + parsed.skipped, n);
}

TEST(FmlFile, BuiltInImageRotatesEachByteByItsPosition) {
    Bytes plain(16, 0x01);
    Bytes stored = EncodeBuiltInImage(plain);
    const uint8_t expected[8] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80};
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(stored[i], expected[i % 8]) << i;
    Bytes image = WriteFmlImage(Sample());
    EXPECT_EQ(DecodeBuiltInImage(EncodeBuiltInImage(image)), image);
    EXPECT_NE(EncodeBuiltInImage(image), image);
}

}  // namespace
}  // namespace tessaro
