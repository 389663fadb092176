// The formula set: start-up order and overriding, groups, saving with backup, notification
// and concurrent use.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "app/startup.h"
#include "formula/formula_cipher.h"
#include "formula/formula_set.h"
#include "formula/formula_set_startup.h"
#include "formula/internal_formulas.h"
#include "platform/files.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

FormulaRecord Formula(const char* name, uint32_t type, const char* group = "", const char* text = "A:C;") {
    FormulaRecord r;
    r.type = type;
    r.setName(name);
    r.group = Utf8ToGbk(group);
    r.source = text;
    OutputLineDesc d;
    d.setName("A");
    r.outputs.push_back(d);
    return r;
}

void WriteFile(const std::string& path, std::vector<FormulaRecord> records) {
    ASSERT_TRUE(WriteFmlFile(path, records));
}

struct AppFixture {
    TempDir dir;
    AppPaths paths{dir.path()};
    std::string user() const { return paths.formulaFile(kSourceUser); }
    std::string common() const { return paths.formulaFile(kSourceCommon); }
    std::string download() const { return paths.formulaFile(kSourceDownload); }
};

TEST(FormulaSetStartup, WithoutFilesHoldsTheInternalIndicators) {
    AppFixture app;
    FormulaSet set;
    FormulaSet::StartupReport report = LoadFormulaSet(set, app.paths);
    EXPECT_EQ(report.internal, 7u);
    EXPECT_FALSE(report.files[kSourceCommon].opened);
    ASSERT_EQ(set.Size(), 7u);
    std::vector<FormulaRecord> all = set.Snapshot();
    const char* order[] = {"BAR", "K", "PRICE", "TEND", "TENDV", "ZDL", "#CMFB"};
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(all[i].nameText(), order[i]);
        EXPECT_EQ(all[i].sourceOrigin, kSourceBuiltIn);
        EXPECT_EQ(all[i].lockChecksum, kBuiltInLockMarker);
        EXPECT_TRUE(all[i].instructions.empty());
        EXPECT_FALSE(OpenFormulaText(all[i], ""));
    }
    auto zdl = set.Find(kFormulaSubPane, "zdl");
    ASSERT_TRUE(zdl);
    EXPECT_EQ(zdl->usageFlags, 0x7FF80002u);
    EXPECT_EQ(zdl->defaultPeriod, 14u);
    ASSERT_EQ(zdl->outputs.size(), 3u);
    EXPECT_EQ(GbkToUtf8(zdl->outputs[0].nameText()), "涨家数");
    EXPECT_EQ(zdl->outputs[2].style, 3);
    EXPECT_EQ(zdl->outputs[2].nameText(), "");
    auto bar = set.Find(kFormulaSubPane, "BAR");  // type 2 answers to the indicator class
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->type, kFormulaInternal);
    EXPECT_EQ(bar->usageFlags, 0x40000u);
    EXPECT_EQ(GbkToUtf8(bar->group), "内部指标");
    auto cmfb = set.Find(kFormulaSubPane, "#CMFB");
    ASSERT_TRUE(cmfb);
    EXPECT_EQ(GbkToUtf8(cmfb->lineDisplayName(0)), "套牢盘(%)");
    EXPECT_EQ(GbkToUtf8(cmfb->group), "右图指标");
    // Every source has its file remembered, so a first save of user formulas has a place.
    EXPECT_EQ(set.SourcePath(kSourceUser), app.user());
}

TEST(FormulaSetStartup, LaterFilesOverrideEarlierOnesByTypeClass) {
    AppFixture app;
    WriteFile(app.common(), {Formula("MACD", kFormulaSubPane, "趋势", "COMMON:C;"), Formula("KDJ", kFormulaSubPane),
                             Formula("SEL", kFormulaSelection, "", "X:C>O;")});
    WriteFile(app.download(), {Formula("KDJ", kFormulaSubPane, "", "DOWN:C;")});
    // A user overlay indicator named like the common sub-pane one replaces it (one type class),
    // while a selection formula of the same name as an indicator is another formula.
    WriteFile(app.user(), {Formula("macd", kFormulaMainOverlay, "", "USER:C;"), Formula("MACD", kFormulaSelection),
                           Formula("kdj", kFormulaSubPane, "", "USERKDJ:C;")});
    FormulaSet set;
    FormulaSet::StartupReport report = LoadFormulaSet(set, app.paths);
    EXPECT_EQ(report.files[kSourceCommon].merged, 3u);
    EXPECT_EQ(report.files[kSourceUser].merged, 3u);
    EXPECT_EQ(set.Size(), 7u + 4u);
    auto macd = set.Find(kFormulaSubPane, "MACD");
    ASSERT_TRUE(macd);
    EXPECT_EQ(macd->type, kFormulaMainOverlay);
    EXPECT_EQ(macd->source, "USER:C;");
    EXPECT_EQ(macd->sourceOrigin, kSourceUser);
    EXPECT_EQ(set.Find(kFormulaSubPane, "KDJ")->source, "USERKDJ:C;");
    EXPECT_EQ(set.Find(kFormulaSelection, "MACD")->sourceOrigin, kSourceUser);
    EXPECT_EQ(set.Find(kFormulaSelection, "SEL")->sourceOrigin, kSourceCommon);

    // Saving the user source writes the overriding formula there and leaves common.fml alone.
    Bytes commonBefore = *ReadWholeFile(app.common());
    ASSERT_TRUE(set.SaveSource(kSourceUser));
    FmlParseResult user = ParseFmlImage(*ReadWholeFile(app.user()));
    ASSERT_EQ(user.records.size(), 3u);
    EXPECT_EQ(user.records[0].nameText(), "macd");
    EXPECT_EQ(user.records[0].source, "USER:C;");
    ASSERT_TRUE(set.SaveSource(kSourceCommon));
    FmlParseResult common = ParseFmlImage(*ReadWholeFile(app.common()));
    EXPECT_EQ(common.records.size(), 1u) << "only SEL is still a common formula";
    EXPECT_NE(*ReadWholeFile(app.common()), commonBefore);
}

TEST(FormulaSetStartup, DamagedAndForeignFilesAreSkippedAndTheDownloadChecksumKept) {
    AppFixture app;
    ASSERT_TRUE(CreateDirectories(app.common()));
    ASSERT_TRUE(WriteFileAtomic(app.common(), std::string_view("not a formula file at all")));
    WriteFile(app.download(), {Formula("DL", kFormulaSubPane)});
    Bytes download = *ReadWholeFile(app.download());
    download.resize(download.size() - 3);  // its only record cut short
    ASSERT_TRUE(WriteFileAtomic(app.download(), download));
    FormulaSet set;
    FormulaSet::StartupReport report = LoadFormulaSet(set, app.paths);
    EXPECT_TRUE(report.files[kSourceCommon].opened);
    EXPECT_FALSE(report.files[kSourceCommon].valid);
    EXPECT_TRUE(report.files[kSourceDownload].valid);
    EXPECT_EQ(report.files[kSourceDownload].skipped, 1u);
    EXPECT_EQ(set.Size(), 7u);
    EXPECT_EQ(set.DownloadChecksum(), FmlChecksum(download));
    EXPECT_NE(set.DownloadChecksum(), 0u);
}

TEST(FormulaSetStartup, BuiltInImageComesFirstAndKeepsItsNamesFromTheInternalOnes) {
    AppFixture app;
    FormulaRecord bar = Formula("BAR", kFormulaSubPane, "", "B:C;");
    std::vector<FormulaRecord> builtIn = {bar, Formula("OWN", kFormulaSelection)};
    Bytes stored = EncodeBuiltInImage(WriteFmlImage(builtIn));
    const std::string files[3] = {app.user(), app.common(), app.download()};
    FormulaSet set;
    FormulaSet::StartupReport report = set.LoadAtStartup(files, stored);
    EXPECT_EQ(report.builtIn, 2u);
    EXPECT_EQ(report.internal, 6u) << "BAR exists already";
    auto b = set.Find(kFormulaInternal, "BAR");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->source, "B:C;");
    EXPECT_EQ(b->sourceOrigin, kSourceBuiltIn);
}

TEST(FormulaSetStartup, TimeSharingIndicatorsJoinTheTraditionalGroup) {
    AppFixture app;
    WriteFile(app.common(), {Formula("VOL", kFormulaSubPane, "其它指标"), Formula("MA", kFormulaSubPane, "传统指标(常用)")});
    FormulaSet set;
    LoadFormulaSet(set, app.paths);
    EXPECT_EQ(GbkToUtf8(set.Find(kFormulaSubPane, "TENDV")->group), "传统指标(常用)");
    EXPECT_EQ(GbkToUtf8(set.Find(kFormulaSubPane, "ZDL")->group), "传统指标(常用)");
    EXPECT_EQ(GbkToUtf8(set.Find(kFormulaSubPane, "TEND")->group), "内部指标");
}

TEST(FormulaSetStartup, RunsAsTheFormulaStageOfTheStartUp) {
    AppFixture app;
    WriteFile(app.user(), {Formula("MINE", kFormulaSubPane)});
    FormulaSet set;
    StartupSequence startup;
    std::vector<std::string> texts;
    size_t sizeWhenSettingsShown = 0;
    startup.setProgress([&](StartupStage stage, std::string_view text) {
        texts.emplace_back(text);
        if (stage == StartupStage::Settings) sizeWhenSettingsShown = set.Size();
    });
    AddFormulaSetLoader(startup, set, app.paths);
    StartupSequence::Report report = startup.run();
    EXPECT_TRUE(report.ok);
    EXPECT_TRUE(report.failed.empty());
    EXPECT_EQ(texts[1], "加载公式平台...");
    EXPECT_EQ(sizeWhenSettingsShown, 8u);
}

TEST(FormulaSetGroups, DefaultGroupsAndGroupOperations) {
    FormulaSet set;
    for (uint32_t type : {0u, 1u, 2u, 3u, 4u, 5u, 7u}) {
        std::vector<FormulaGroup> g = set.GroupsOf(type);
        ASSERT_EQ(g.size(), 1u) << type;
        EXPECT_TRUE(g[0].isDefault());
    }
    set.Put(Formula("A", kFormulaMainOverlay, "均线"));
    set.Put(Formula("B", kFormulaSubPane, "均线"));
    set.Put(Formula("C", kFormulaSubPane, "其它"));  // the default group by its caption
    EXPECT_TRUE(set.Find(kFormulaSubPane, "C")->group.empty());
    EXPECT_EQ(set.GroupsOf(kFormulaSubPane).size(), 2u);
    EXPECT_TRUE(set.HasGroup(kFormulaInternal, Utf8ToGbk("均线")));
    EXPECT_FALSE(set.HasGroup(kFormulaSelection, Utf8ToGbk("均线")));
    EXPECT_FALSE(set.AddGroup(kFormulaSubPane, Utf8ToGbk("均线")));
    EXPECT_FALSE(set.AddGroup(kFormulaSubPane, Utf8ToGbk("其它")));
    EXPECT_TRUE(set.AddGroup(kFormulaSelection, Utf8ToGbk("均线")));

    EXPECT_FALSE(set.RenameGroup(kFormulaSubPane, Utf8ToGbk("均线"), Utf8ToGbk("其它")));
    EXPECT_FALSE(set.RenameGroup(kFormulaSubPane, "", "X"));
    ASSERT_TRUE(set.RenameGroup(kFormulaSubPane, Utf8ToGbk("均线"), Utf8ToGbk("平均线")));
    EXPECT_EQ(GbkToUtf8(set.Find(kFormulaSubPane, "A")->group), "平均线");
    EXPECT_EQ(GbkToUtf8(set.Find(kFormulaSubPane, "B")->group), "平均线");
    EXPECT_TRUE(set.IsDirty(kSourceUser));

    ASSERT_TRUE(set.RemoveGroup(kFormulaSubPane, Utf8ToGbk("平均线")));
    EXPECT_TRUE(set.Find(kFormulaSubPane, "A")->group.empty());
    EXPECT_EQ(set.GroupsOf(kFormulaSubPane).size(), 1u);
    EXPECT_FALSE(set.RemoveGroup(kFormulaSubPane, ""));
    EXPECT_EQ(set.GroupsOf(kFormulaSelection).size(), 2u) << "the selection group is another group";
}

TEST(FormulaSetSave, BackupTemporaryFileAndDeletionOfAnEmptySource) {
    AppFixture app;
    WriteFile(app.user(), {Formula("OLD", kFormulaSubPane)});
    Bytes before = *ReadWholeFile(app.user());
    FormulaSet set;
    LoadFormulaSet(set, app.paths);
    set.Put(Formula("NEW", kFormulaSelection));
    ASSERT_TRUE(set.SaveSource(kSourceUser));
    std::string backup = app.paths.baseDir() + "backup/user.fml";
    EXPECT_EQ(*ReadWholeFile(backup), before);
    EXPECT_EQ(ParseFmlImage(*ReadWholeFile(app.user())).records.size(), 2u);
    // No temporary file is left beside it (only the directory's lock file).
    size_t files = 0;
    for (auto& e : std::filesystem::directory_iterator(app.paths.baseDir()))
        files += e.is_regular_file() && e.path().filename() != ".tessaro.lock";
    EXPECT_EQ(files, 1u);

    ASSERT_TRUE(set.Remove(kFormulaSubPane, "OLD"));
    ASSERT_TRUE(set.Remove(kFormulaSelection, "NEW"));
    ASSERT_TRUE(set.SaveSource(kSourceUser));
    EXPECT_FALSE(FileExists(app.user()));
    EXPECT_EQ(ParseFmlImage(*ReadWholeFile(backup)).records.size(), 2u);
    // The built-in source has no file.
    std::string why;
    EXPECT_FALSE(set.SaveSource(kSourceBuiltIn, &why));
    EXPECT_FALSE(why.empty());
}

TEST(FormulaSetSave, AFailedSaveIsReportedAndKeepsTheOldFileAndDirtyMark) {
    AppFixture app;
    WriteFile(app.user(), {Formula("OLD", kFormulaSubPane)});
    Bytes before = *ReadWholeFile(app.user());
    FormulaSet set;
    LoadFormulaSet(set, app.paths);
    set.Put(Formula("NEW", kFormulaSubPane));
    set.MarkDirty(kSourceUser);
    // A file where the backup folder should be: the backup fails, so nothing is overwritten.
    ASSERT_TRUE(WriteFileAtomic(app.paths.baseDir() + "backup", std::string_view("x")));
    std::string why;
    EXPECT_FALSE(set.SaveSource(kSourceUser, &why));
    EXPECT_NE(why.find("backup"), std::string::npos);
    EXPECT_EQ(*ReadWholeFile(app.user()), before);
    std::vector<uint32_t> failed = set.SaveDirty(&why);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_TRUE(set.IsDirty(kSourceUser));

    // A source whose file sits in a folder that cannot be created fails as well.
    FormulaSet other;
    other.SetSourcePath(kSourceUser, app.paths.baseDir() + "user.fml/inside/user.fml");
    other.Put(Formula("X", kFormulaSubPane));
    EXPECT_FALSE(other.SaveSource(kSourceUser, &why));
    EXPECT_NE(why.find("cannot write"), std::string::npos);
}

TEST(FormulaSetSave, SaveThenLoadGivesTheSameFormulas) {
    AppFixture app;
    FormulaSet set;
    LoadFormulaSet(set, app.paths);
    FormulaRecord locked = Formula("LOCK", kFormulaSubPane, "分组");
    SetFormulaPassword(locked, "A:C;", "pw");
    set.Put(locked);
    set.Put(Formula("SEL", kFormulaSelection));
    ASSERT_TRUE(set.SaveSource(kSourceUser));
    FormulaSet again;
    LoadFormulaSet(again, app.paths);
    EXPECT_EQ(again.Size(), 9u);
    auto back = again.Find(kFormulaSubPane, "LOCK");
    ASSERT_TRUE(back);
    EXPECT_EQ(OpenFormulaText(*back, "pw"), std::optional<std::string>("A:C;"));
    EXPECT_FALSE(OpenFormulaText(*back, "pW"));
    EXPECT_TRUE(again.HasGroup(kFormulaSubPane, Utf8ToGbk("分组")));
}

struct Recorder : FormulaObserver {
    std::vector<FormulaNotice> seen;
    void OnFormulaNotice(const FormulaNotice& n) override { seen.push_back(n); }
};

TEST(FormulaSetNotify, ObserversHearEveryNoticeUntilRemoved) {
    FormulaSet set;
    Recorder a, b;
    set.AddObserver(&a);
    set.AddObserver(&a);
    set.AddObserver(&b);
    set.Notify(FormulaNotice{kNoticeFormulaDeleted, 4, "MACD", "", nullptr});
    set.RemoveObserver(&b);
    set.Notify(FormulaNotice{kNoticeGroupRenamed, 4, "A", "B", &a});
    ASSERT_EQ(a.seen.size(), 2u);
    EXPECT_EQ(a.seen[0].code, kNoticeFormulaDeleted);
    EXPECT_EQ(a.seen[1].newName, "B");
    EXPECT_EQ(b.seen.size(), 1u);
}

TEST(FormulaSetUpdate, ChangesInPlaceButNeverRenames) {
    FormulaSet set;
    set.Put(Formula("A", kFormulaSubPane));
    set.Put(Formula("B", kFormulaSubPane));
    EXPECT_TRUE(set.Update(kFormulaMainOverlay, "a", [](FormulaRecord& r) {
        r.comment = "c";
        r.setName("B");
        r.type = kFormulaSelection;
    }));
    auto a = set.Find(kFormulaSubPane, "A");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->comment, "c");
    EXPECT_EQ(a->type, kFormulaSubPane);
    EXPECT_FALSE(set.Update(kFormulaSubPane, "none", [](FormulaRecord&) {}));
}

TEST(FormulaSetConcurrency, CopiesAndSavesWhileWorkersRead) {
    AppFixture app;
    FormulaSet set;
    LoadFormulaSet(set, app.paths);
    std::atomic<bool> stop{false};
    std::atomic<int> found{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            while (!stop) {
                if (auto f = set.Find(kFormulaSubPane, "ZDL")) found += f->outputs.size() == 3;
                (void)set.Snapshot();
                (void)set.CompilerLookup()(kFormulaSubPane, "TEND");
            }
        });
    for (int i = 0; i < 200; ++i) {
        std::string name = "F" + std::to_string(i);
        set.Put(Formula(name.c_str(), kFormulaSubPane));
        if (i % 20 == 0) {
            ASSERT_TRUE(set.SaveSource(kSourceUser));
        }
        if (i % 3 == 0) set.Remove(kFormulaSubPane, name);
    }
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_GT(found.load(), 0);
    ASSERT_TRUE(set.SaveSource(kSourceUser));
    EXPECT_EQ(ParseFmlImage(*ReadWholeFile(app.user())).records.size(), 200u - 67u);
}

}  // namespace
}  // namespace tessaro
