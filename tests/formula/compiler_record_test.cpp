// The formula record: sizes of its packed parts, the file layout round trip and its guards.
#include <gtest/gtest.h>

#include "compiler_test_support.h"

namespace tessaro {
namespace {

using namespace testing_support;

FormulaRecord Sample() {
    std::vector<FormulaRecord> set = SampleSet();
    CompileOptions options;
    options.lookup = LookupInRecords(&set);
    FormulaRecord r;
    r.type = kFormulaMainOverlay;
    r.setName(Utf8ToGbk("均线七个字符"));
    r.usageFlags = kUsageNotForIndexes | PeriodDisableBit(kPeriodTick) | 0x00000100;  // a foreign bit is kept
    r.params = {Param("N", 5, 1, 100), Param("M", 10, 2, 200)};
    r.group = Utf8ToGbk("均线");
    r.description = Utf8ToGbk("移动平均");
    r.comment = "comment";
    r.freeText = "free";
    r.source = Utf8ToGbk("A:MA(C,N),COLORRED; B:\"macd.dif\"; DRAWTEXT(C>O,L,'上');");
    r.coordinateCount = 2;
    r.coordinates[0] = 20;
    r.coordinates[1] = 80;
    r.defaultPeriod = 9;
    r.signalColour = 0x123456;
    r.reserved13[0] = 7;
    r.reserved13[12] = 9;
    r.lockChecksum = 0;
    CompileOptions withTime = options;
    withTime.compileTime = 1700000000u;
    CompileFormula(r, withTime);
    return r;
}

TEST(FormulaRecordLayout, PackedSizes) {
    EXPECT_EQ(sizeof(FormulaParam), 32u);
    EXPECT_EQ(sizeof(Instruction), 8u);
    EXPECT_EQ(sizeof(OutputLineDesc), 24u);
    EXPECT_EQ(sizeof(ReferenceEntry), 46u);
}

TEST(FormulaRecordLayout, TypeClassesAndNames) {
    EXPECT_TRUE(SameFormulaTypeClass(2, 4));
    EXPECT_TRUE(SameFormulaTypeClass(3, 2));
    EXPECT_FALSE(SameFormulaTypeClass(0, 4));
    EXPECT_FALSE(SameFormulaTypeClass(1, 5));
    EXPECT_EQ(FormulaTypeName(3), "技术指标");
    EXPECT_EQ(FormulaTypeName(0), "条件选股");
    EXPECT_EQ(FormulaTypeName(6), "");
}

TEST(FormulaRecordLayout, PeriodFlags) {
    FormulaRecord r;
    r.setPeriodDisabled(kPeriodTime, true);
    EXPECT_EQ(r.usageFlags, 0x40000000u >> 12);
    EXPECT_TRUE(r.periodDisabled(kPeriodTime));
    EXPECT_FALSE(r.periodDisabled(kPeriodDay));
    r.setPeriodDisabled(kPeriodTick, true);
    EXPECT_EQ(r.usageFlags & 0x40000000u, 0x40000000u);
    r.setPeriodDisabled(kPeriodTime, false);
    EXPECT_FALSE(r.periodDisabled(kPeriodTime));
    EXPECT_EQ(PeriodDisableBit(static_cast<Period>(1)), 0u);
    EXPECT_EQ(PeriodDisableBit(static_cast<Period>(15)), 0u);
}

TEST(FormulaRecordFile, RoundTripKeepsEveryField) {
    FormulaRecord r = Sample();
    ASSERT_EQ(r.outputs.size(), 3u);
    ByteWriter out;
    WriteFormulaRecord(out, r);
    ByteReader in(out.data());
    FormulaRecord back;
    ASSERT_TRUE(ReadFormulaRecord(in, back));
    EXPECT_TRUE(in.atEnd());
    EXPECT_EQ(back.type, r.type);
    EXPECT_EQ(back.nameText(), r.nameText());
    EXPECT_EQ(back.usageFlags, r.usageFlags);
    EXPECT_EQ(back.group, r.group);
    EXPECT_EQ(back.description, r.description);
    EXPECT_EQ(back.source, r.source);
    EXPECT_EQ(back.comment, r.comment);
    EXPECT_EQ(back.freeText, r.freeText);
    EXPECT_EQ(back.coordinateCount, 2u);
    EXPECT_EQ(back.coordinates[1], 80.0f);
    EXPECT_EQ(back.defaultPeriod, 9u);
    EXPECT_EQ(back.signalColour, 0x123456u);
    EXPECT_EQ(back.reserved13[12], 9);
    EXPECT_EQ(back.compileTime, 1700000000u);
    ASSERT_EQ(back.params.size(), 2u);
    EXPECT_EQ(back.params[1].nameText(), "M");
    EXPECT_EQ(CompiledFormBytes(back), CompiledFormBytes(r));
    // Writing what was read gives the same bytes.
    ByteWriter again;
    WriteFormulaRecord(again, back);
    EXPECT_EQ(again.data(), out.data());
}

TEST(FormulaRecordFile, EveryTruncationFailsCleanly) {
    ByteWriter out;
    WriteFormulaRecord(out, Sample());
    const Bytes& bytes = out.data();
    for (size_t n = 0; n < bytes.size(); ++n) {
        ByteReader in(bytes.data(), n);
        FormulaRecord r;
        EXPECT_FALSE(ReadFormulaRecord(in, r)) << n;
    }
}

TEST(FormulaRecordFile, HugeCountsAreRefusedBeforeAllocating) {
    FormulaRecord r = Sample();
    ByteWriter out;
    WriteFormulaRecord(out, r);
    Bytes bytes = out.data();
    // The parameter count sits after version, flags, type, name and the two strings.
    size_t at = 4 + 4 + 4 + 16 + 4 + r.description.size() + 4 + r.group.size();
    for (uint32_t bad : {65u, 0xFFFFFFFFu, 0x7FFFFFFFu}) {
        Bytes copy = bytes;
        StoreLE<uint32_t>(copy.data() + at, bad);
        ByteReader in(copy);
        FormulaRecord back;
        EXPECT_FALSE(ReadFormulaRecord(in, back)) << bad;
    }
    // The instruction count claims more records than the bytes hold.
    size_t instrAt = at + 4 + 32 * r.params.size() + 4 + 24 * r.outputs.size();
    Bytes copy = bytes;
    StoreLE<uint32_t>(copy.data() + instrAt, 0x10000000u);
    ByteReader in(copy);
    FormulaRecord back;
    EXPECT_FALSE(ReadFormulaRecord(in, back));
}

TEST(FormulaRecordFile, NamesAreForcedToEndInNul) {
    FormulaRecord r = Sample();
    std::memset(r.name, 'x', sizeof r.name);
    std::memset(r.params[0].name, 'y', sizeof r.params[0].name);
    std::memset(r.outputs[0].name, 'z', sizeof r.outputs[0].name);
    ByteWriter out;
    WriteFormulaRecord(out, r);
    ByteReader in(out.data());
    FormulaRecord back;
    ASSERT_TRUE(ReadFormulaRecord(in, back));
    EXPECT_EQ(back.nameText(), std::string(15, 'x'));
    EXPECT_EQ(back.params[0].nameText(), std::string(15, 'y'));
    EXPECT_EQ(back.outputs[0].nameText(), std::string(15, 'z'));
}

TEST(FormulaRecordFile, CombinedConditionImagesRoundTrip) {
    FormulaRecord r;
    r.type = kFormulaCombined;
    r.setName("COMBO");
    r.joiner = 1;
    // One condition: a formula operand (K = 2 parameters) against a number.
    ByteWriter c;
    c.put<uint32_t>(1).put<uint32_t>(4).fixedText("MACD", 16).fixedText("DIF", 16).put<uint32_t>(2);
    c.put<float>(12).put<float>(26).zeros(10).put<uint32_t>(8).put<uint32_t>(0).zeros(8).put<uint32_t>(0).put<float>(0);
    c.put<uint32_t>(2).put<float>(1.5f).zeros(8).put<uint32_t>(0).put<float>(0);
    c.put<uint32_t>(3).put<float>(5).put<uint32_t>(0).zeros(8);
    r.conditions.push_back(std::string(c.data().begin(), c.data().end()));
    ByteWriter out;
    WriteFormulaRecord(out, r);
    ByteReader in(out.data());
    FormulaRecord back;
    ASSERT_TRUE(ReadFormulaRecord(in, back));
    EXPECT_EQ(back.joiner, 1u);
    ASSERT_EQ(back.conditions.size(), 1u);
    EXPECT_EQ(back.conditions[0], r.conditions[0]);
    EXPECT_TRUE(back.source.empty());
    // An operand kind the format does not know fails the record.
    std::string broken = r.conditions[0];
    broken[0] = 9;
    r.conditions[0] = broken;
    ByteWriter out2;
    WriteFormulaRecord(out2, r);
    ByteReader in2(out2.data());
    EXPECT_FALSE(ReadFormulaRecord(in2, back));
}

TEST(FormulaRecordLines, DisplayNamesAndLookup) {
    FormulaRecord r;
    r.outputs.resize(3);
    r.outputs[1].setName("DEA");
    EXPECT_EQ(GbkToUtf8(r.lineDisplayName(0)), "第1条线");
    EXPECT_EQ(r.lineDisplayName(1), "DEA");
    EXPECT_EQ(GbkToUtf8(r.lineDisplayName(2)), "第3条线");
    EXPECT_EQ(r.lineDisplayName(3), "");
    EXPECT_EQ(r.findLine("dea"), 1);
    EXPECT_EQ(r.findLine(Utf8ToGbk("第3条线")), 2);
    EXPECT_EQ(r.findLine("x"), -1);
}

TEST(FormulaRecordParams, Validity) {
    FormulaRecord r;
    r.params = {Param("N", 5, 1, 10)};
    EXPECT_TRUE(r.paramsValid());
    r.params[0].defaultValue = 11;
    EXPECT_FALSE(r.paramsValid());
    r.params.assign(65, Param("N", 5, 1, 10));
    EXPECT_FALSE(r.paramsValid());
}

}  // namespace
}  // namespace tessaro
