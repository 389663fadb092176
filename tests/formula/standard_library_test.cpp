// The standard indicator library: every formula parses and compiles, the required ones are
// there with the right types and shapes, common.fml is written and loads back, and bad
// library files are refused with a reason.
#include <gtest/gtest.h>

#include <set>

#include "formula/formula_set.h"
#include "formula/formula_set_startup.h"
#include "formula/standard_library.h"
#include "platform/files.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

const FormulaRecord* FindIn(const std::vector<FormulaRecord>& all, uint32_t type, std::string_view utf8Name) {
    std::string name = Utf8ToGbk(utf8Name);
    for (const FormulaRecord& r : all)
        if (SameFormulaTypeClass(r.type, type) && r.nameText() == name) return &r;
    return nullptr;
}

TEST(StandardLibrary, EveryFormulaCompiles) {
    LibraryBuild build = BuildStandardLibrary();
    for (const std::string& e : build.errors) ADD_FAILURE() << e;
    EXPECT_EQ(build.formulas.size(), kEmbeddedFormulaTextCount);
    for (const FormulaRecord& r : build.formulas) {
        EXPECT_FALSE(r.instructions.empty()) << r.nameText();
        EXPECT_FALSE(r.outputs.empty()) << r.nameText();
        EXPECT_FALSE(r.description.empty()) << r.nameText();
        EXPECT_FALSE(r.comment.empty()) << r.nameText();
        EXPECT_TRUE(r.paramsValid()) << r.nameText();
        EXPECT_EQ(r.compileTime, kLibraryCompileTime);
        EXPECT_EQ(r.sourceOrigin, kSourceCommon);
        EXPECT_FALSE(r.isLocked());
    }
}

TEST(StandardLibrary, HoldsTheCommonIndicatorsSelectionsAndATradingSystem) {
    LibraryBuild build = BuildStandardLibrary();
    for (const char* name : {"MA", "EXPMA", "BOLL", "SAR", "VOL", "AMOUNT", "MACD", "KDJ", "RSI", "WR", "DMI", "CCI",
                             "BIAS", "ROC", "MTM", "PSY", "OBV", "TRIX", "DMA", "BRAR", "VR", "EMV", "ASI", "WVAD", "CR"})
        EXPECT_TRUE(FindIn(build.formulas, kFormulaSubPane, name)) << name;
    // Price-pane overlays and sub-pane indicators.
    EXPECT_EQ(FindIn(build.formulas, kFormulaSubPane, "BOLL")->type, kFormulaMainOverlay);
    EXPECT_EQ(FindIn(build.formulas, kFormulaSubPane, "MACD")->type, kFormulaSubPane);
    const FormulaRecord* macd = FindIn(build.formulas, kFormulaSubPane, "MACD");
    ASSERT_EQ(macd->outputs.size(), 3u);
    EXPECT_EQ(macd->lineDisplayName(0), "DIF");
    EXPECT_EQ(macd->outputs[2].style, 3) << "the MACD bars are colour sticks";
    ASSERT_EQ(macd->params.size(), 3u);
    EXPECT_EQ(macd->params[0].nameText(), "SHORT");
    EXPECT_EQ(macd->params[0].defaultValue, 12.0f);
    const FormulaRecord* kdj = FindIn(build.formulas, kFormulaSubPane, "KDJ");
    ASSERT_EQ(kdj->coordinateCount, 3u);
    EXPECT_EQ(kdj->coordinates[2], 80.0f);
    EXPECT_NE(kdj->source.find("\r\n"), std::string::npos) << "texts keep their line breaks";
    int selections = 0, trading = 0;
    for (const FormulaRecord& r : build.formulas) {
        selections += r.type == kFormulaSelection;
        trading += r.type == kFormulaTradingSystem;
    }
    EXPECT_GE(selections, 3);
    EXPECT_GE(trading, 1);
    ASSERT_TRUE(FindIn(build.formulas, kFormulaSelection, "MACD金叉"));
    ASSERT_TRUE(FindIn(build.formulas, kFormulaSelection, "KDJ金叉"));
    ASSERT_TRUE(FindIn(build.formulas, kFormulaSelection, "放量突破"));
    const FormulaRecord* system = FindIn(build.formulas, kFormulaTradingSystem, "MA交易");
    ASSERT_TRUE(system);
    ASSERT_EQ(system->outputs.size(), 2u);
    EXPECT_EQ(system->outputs[0].signal(), 100u);  // ENTERLONG
    EXPECT_EQ(system->outputs[1].signal(), 101u);  // EXITLONG
}

TEST(StandardLibrary, InstalledCommonFileLoadsAsTheCommonSourceAndIsReproducible) {
    TempDir dir;
    AppPaths paths(dir.path());
    std::string error;
    ASSERT_TRUE(InstallStandardLibrary(paths, &error)) << error;
    Bytes first = *ReadWholeFile(paths.formulaFile(kSourceCommon));
    ASSERT_TRUE(InstallStandardLibrary(paths, &error));
    EXPECT_EQ(*ReadWholeFile(paths.formulaFile(kSourceCommon)), first) << "two installs write the same bytes";
    FormulaSet set;
    FormulaSet::StartupReport report = LoadFormulaSet(set, paths);
    EXPECT_EQ(report.files[kSourceCommon].merged, kEmbeddedFormulaTextCount);
    EXPECT_EQ(report.files[kSourceCommon].skipped, 0u);
    auto boll = set.Find(kFormulaSubPane, "BOLL");
    ASSERT_TRUE(boll);
    EXPECT_EQ(boll->sourceOrigin, kSourceCommon);
    EXPECT_TRUE(set.HasGroup(kFormulaSubPane, Utf8ToGbk("路径型")));
    // The file cannot be written where base/ is a file.
    TempDir other;
    ASSERT_TRUE(WriteFileAtomic(other.path() + "/base", std::string_view("x")));
    EXPECT_FALSE(InstallStandardLibrary(AppPaths(other.path()), &error));
    EXPECT_NE(error.find("cannot write"), std::string::npos);
}

TEST(StandardLibrary, LibraryFilesAreReadStrictly) {
    FormulaRecord r;
    std::string error;
    const std::string good =
        "# a comment line\r\nname: 测试\r\ntype: 4\r\ngroup: 组\r\ndescription: d\r\nparam: N 5 1 10\r\n"
        "lines: 20;80\r\nperiod: 9\r\ncomment: one\r\ncomment: two\r\n---\r\nA:MA(C,N);\r\nB:A*2;\r\n";
    ASSERT_TRUE(ParseLibraryText(good, r, error)) << error;
    EXPECT_EQ(GbkToUtf8(r.nameText()), "测试");
    EXPECT_EQ(r.defaultPeriod, 9u);
    EXPECT_EQ(r.coordinateCount, 2u);
    EXPECT_EQ(GbkToUtf8(r.comment), "one\r\ntwo");
    EXPECT_EQ(r.source, "A:MA(C,N);\r\nB:A*2;");
    ASSERT_EQ(r.params.size(), 1u);
    EXPECT_EQ(r.params[0].max, 10.0f);

    auto refused = [&](std::string text) {
        FormulaRecord x;
        std::string why;
        bool ok = ParseLibraryText(text, x, why);
        return !ok && !why.empty();
    };
    EXPECT_TRUE(refused("type: 4\n---\nA:C;"));                          // no name
    EXPECT_TRUE(refused("name: A\n---\nA:C;"));                          // no type
    EXPECT_TRUE(refused("name: A\ntype: 4\n---\n  \n"));                 // no text
    EXPECT_TRUE(refused("name: A\ntype: 4\n"));                           // no separator
    EXPECT_TRUE(refused("name: A\ntype: 2\n---\nA:C;"));                 // internal type
    EXPECT_TRUE(refused("name: A\ntype: 7\n---\nA:C;"));
    EXPECT_TRUE(refused("name: SIXTEENBYTESXXXX\ntype: 4\n---\nA:C;"));
    EXPECT_TRUE(refused("name: A\ntype: 4\ncolour: red\n---\nA:C;"));    // unknown key
    EXPECT_TRUE(refused("name: A\ntype: 4\nparam: N 5 1\n---\nA:C;"));
    EXPECT_TRUE(refused("name: A\ntype: 4\nparam: N 50 1 10\n---\nA:C;"));
    EXPECT_TRUE(refused("name: A\ntype: 4\nparam: N 5 1 10\nparam: n 5 1 10\n---\nA:C;"));
    EXPECT_TRUE(refused("name: A\ntype: 4\nperiod: 15\n---\nA:C;"));
    EXPECT_TRUE(refused("name: A\ntype: 4\nlines: 1;x\n---\nA:C;"));
    EXPECT_TRUE(refused("name: A\ntype: 4\njunk\n---\nA:C;"));
}

TEST(StandardLibrary, EmbeddedFilesAreTheDataFolder) {
    std::set<std::string> names;
    for (size_t i = 0; i < kEmbeddedFormulaTextCount; ++i) {
        names.insert(kEmbeddedFormulaTexts[i].file);
        std::optional<Bytes> onDisk =
            ReadWholeFile(std::string(TESSARO_SOURCE_DIR) + "/data/formulas/" + kEmbeddedFormulaTexts[i].file);
        ASSERT_TRUE(onDisk) << kEmbeddedFormulaTexts[i].file;
        EXPECT_EQ(onDisk->size(), kEmbeddedFormulaTexts[i].size);
        EXPECT_EQ(0, std::memcmp(onDisk->data(), kEmbeddedFormulaTexts[i].data, onDisk->size()));
    }
    EXPECT_EQ(names.size(), kEmbeddedFormulaTextCount);
    EXPECT_TRUE(names.count("MACD.formula"));
}

}  // namespace
}  // namespace tessaro
