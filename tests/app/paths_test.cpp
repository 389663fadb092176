// Path builders and the choice of the application directory.
#include "app/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/app_dir.h"
#include "platform/files.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

TEST(AppPaths, EveryBuilderUnderTheAppDir) {
    AppPaths p("/opt/t");  // a trailing '/' is added
    const SecurityId sh = MakeSecurityId(kMarketSH, "600000");
    const SecurityId sz = MakeSecurityId(kMarketSZ, "000001");
    EXPECT_EQ(p.appDir(), "/opt/t/");
    EXPECT_EQ(p.marketDir(kMarketSH), "/opt/t/data/sh/");
    EXPECT_EQ(p.marketDir(kMarketSZ), "/opt/t/data/sz/");
    EXPECT_EQ(p.marketDir(kMarketSystem), "/opt/t/data/$$/");
    EXPECT_EQ(p.marketFile(kMarketSZ), "/opt/t/data/sz/stkinfo.dat");
    EXPECT_EQ(p.periodDir(kMarketSH, kPeriodMin1), "/opt/t/data/sh/min/");
    EXPECT_EQ(p.periodDir(kMarketSH, kPeriodMin5), "/opt/t/data/sh/fiv/");
    EXPECT_EQ(p.periodDir(kMarketSZ, kPeriodDay), "/opt/t/data/sz/day/");
    EXPECT_EQ(p.historyFile(sh, kPeriodDay), "/opt/t/data/sh/day/600000.day");
    EXPECT_EQ(p.historyFile(sz, kPeriodMin5), "/opt/t/data/sz/fiv/000001.fiv");
    EXPECT_EQ(p.historyFile(sz, kPeriodMin1), "/opt/t/data/sz/min/000001.min");
    EXPECT_EQ(p.exdataDir(kMarketSZ), "/opt/t/data/sz/exdata/");
    EXPECT_EQ(p.exdataFile(sh), "/opt/t/data/sh/exdata/600000.exd");
    EXPECT_EQ(p.f10Dir(kMarketSystem), "/opt/t/data/$$/f10/");
    EXPECT_EQ(p.noteDir(kMarketSH), "/opt/t/data/sh/note/");
    EXPECT_EQ(p.drawingFile(sz), "/opt/t/data/sz/note/000001.drw");
    EXPECT_EQ(p.newStockFile(sh), "/opt/t/data/sh/note/600000.nns");
    EXPECT_EQ(p.dayDownFile(), "/opt/t/data/sh/day/daydown.dat");
    EXPECT_EQ(p.min5DownFile(), "/opt/t/data/sh/fiv/min5down.dat");
    EXPECT_EQ(p.baseDir(), "/opt/t/base/");
    EXPECT_EQ(p.formulaFile(0), "/opt/t/base/user.fml");
    EXPECT_EQ(p.formulaFile(1), "/opt/t/base/common.fml");
    EXPECT_EQ(p.formulaFile(2), "/opt/t/base/download.fml");
    EXPECT_EQ(p.alarmFile(), "/opt/t/base/alarm.dat");
    EXPECT_EQ(p.powerFile(), "/opt/t/base/Power.pwr");
    EXPECT_EQ(p.financeFile(), "/opt/t/base/finance.fin");
    EXPECT_EQ(p.capitalChangeFile(), "/opt/t/base/gbbg.dat");
    EXPECT_EQ(p.polyphonicFile(), "/opt/t/base/duoyin.ini");
    EXPECT_EQ(p.serverListFile(), "/opt/t/base/srvlist.txt");
    EXPECT_EQ(p.scrollMessageFile(), "/opt/t/base/scrollmessage.txt");
    EXPECT_EQ(p.coverFile(), "/opt/t/base/cover.bmp");
    EXPECT_EQ(p.blockDir(), "/opt/t/block/");
    EXPECT_EQ(p.blockIni(), "/opt/t/block/blk.ini");
    EXPECT_EQ(p.indicatorComboDir(), "/opt/t/icombo/");
    EXPECT_EQ(p.investDir(), "/opt/t/invest/");
    EXPECT_EQ(p.investFile("账户"), "/opt/t/invest/账户.inv");
    EXPECT_EQ(p.helpFile("tessaro"), "/opt/t/tessaro.chm");
    EXPECT_EQ(AppPaths("/opt/t/").appDir(), "/opt/t/");  // no second slash
}

TEST(AppPaths, UnknownMarketOrPeriodGivesNoPath) {
    AppPaths p("/a");
    const SecurityId unknown = MakeSecurityId(0x4141, "600000");
    EXPECT_EQ(p.marketDir(0), "");
    EXPECT_EQ(p.marketFile(0x4141), "");
    EXPECT_EQ(p.exdataDir(0x4141), "");
    EXPECT_EQ(p.f10Dir(0), "");
    EXPECT_EQ(p.historyFile(unknown, kPeriodDay), "");
    EXPECT_EQ(p.drawingFile(unknown), "");
    for (int number : {-1, 0, 1, 2, 5, 6, 7, 9, 10, 13, 14, 100}) {
        const auto period = static_cast<Period>(number);
        EXPECT_EQ(PeriodDirName(period), "") << period;
        EXPECT_EQ(p.periodDir(kMarketSH, period), "") << period;
        EXPECT_EQ(p.historyFile(MakeSecurityId(kMarketSH, "600000"), period), "") << period;
    }
    EXPECT_EQ(p.formulaFile(-1), "");
    EXPECT_EQ(p.formulaFile(3), "");
}

TEST(AppPaths, CodesThatWouldLeaveTheirDirectoryGiveNoPath) {
    AppPaths p("/a");
    for (const char* code : {"", ".", "..", "../x", "a/b", "a\\b", "/etc"}) {
        SecurityId id = MakeSecurityId(kMarketSH, code);
        EXPECT_EQ(p.historyFile(id, kPeriodDay), "") << code;
        EXPECT_EQ(p.exdataFile(id), "") << code;
        EXPECT_EQ(p.drawingFile(id), "") << code;
        EXPECT_EQ(p.newStockFile(id), "") << code;
        EXPECT_EQ(p.investFile(code), "") << code;
    }
    // A dot inside a code is an ordinary character.
    EXPECT_EQ(p.historyFile(MakeSecurityId(kMarketSH, "a..b"), kPeriodDay), "/a/data/sh/day/a..b.day");
}

TEST(AppPaths, BuildersCreateNothingButDirectoriesCanBeMade) {
    TempDir dir;
    AppPaths p(dir.path());
    const std::string file = p.historyFile(MakeSecurityId(kMarketSZ, "000001"), kPeriodDay);
    EXPECT_FALSE(DirectoryExists(p.periodDir(kMarketSZ, kPeriodDay)));
    ASSERT_TRUE(CreateDirectories(file));
    EXPECT_TRUE(DirectoryExists(p.periodDir(kMarketSZ, kPeriodDay)));
    EXPECT_FALSE(FileExists(file));
    EXPECT_TRUE(CreateDirectories(file));  // existing directories are fine
}

// ---- AppDir ----------------------------------------------------------------

TEST(ResolveAppDir, FirstUsableSourceWins) {
    AppDirSources s;
    s.home = "/home/u";
    s.currentDir = "/work";
    EXPECT_EQ(ResolveAppDir(s), "/home/u/.local/share/tessaro/");
    s.xdgDataHome = "relative/data";  // not absolute: ignored
    EXPECT_EQ(ResolveAppDir(s), "/home/u/.local/share/tessaro/");
    s.xdgDataHome = "/xdg/data/";
    EXPECT_EQ(ResolveAppDir(s), "/xdg/data/tessaro/");
    s.stored = "";  // empty stored "path" falls through
    EXPECT_EQ(ResolveAppDir(s), "/xdg/data/tessaro/");
    s.stored = "/stored";  // a missing trailing slash is added
    EXPECT_EQ(ResolveAppDir(s), "/stored/");
    s.environment = "/env/";
    EXPECT_EQ(ResolveAppDir(s), "/env/");
    s.option = "";
    EXPECT_EQ(ResolveAppDir(s), "/env/");
    s.option = "/opt/x";
    EXPECT_EQ(ResolveAppDir(s), "/opt/x/");
    s.option = "rel/dir";  // made absolute against the current directory
    EXPECT_EQ(ResolveAppDir(s), "/work/rel/dir/");
}

TEST(ResolveAppDir, ProcessSourcesReadTheEnvironmentAndStore) {
    SettingsStore store;
    store.setString(SettingsKey(""), "path", "/from/store/");
    ::setenv("TESSARO_HOME", "/from/env", 1);
    AppDirSources s = ProcessAppDirSources(store);
    EXPECT_EQ(ResolveAppDir(s), "/from/env/");
    ::unsetenv("TESSARO_HOME");
    s = ProcessAppDirSources(store);
    EXPECT_EQ(ResolveAppDir(s), "/from/store/");
    EXPECT_FALSE(s.home.empty());
}

TEST(ResolveAppDir, FindsTheOptionInBothForms) {
    EXPECT_EQ(FindAppDirOption({"--appdir", "/x", "demo"}), "/x");
    EXPECT_EQ(FindAppDirOption({"demo", "--appdir=/y"}), "/y");
    EXPECT_EQ(FindAppDirOption({"demo", "--appdir"}), std::nullopt);  // no value
    EXPECT_EQ(FindAppDirOption({"--appdirx", "/x"}), std::nullopt);
}

TEST(ConfigDir, FollowsXdgConfigHome) {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(ConfigDir(), "/cfg/tessaro/");
    EXPECT_EQ(SettingsFilePath(), "/cfg/tessaro/settings.reg");
    ::setenv("XDG_CONFIG_HOME", "not/absolute", 1);
    EXPECT_NE(ConfigDir(), "not/absolute/tessaro/");
    if (old)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

TEST(RecordInstallation, WritesTheFourRootValues) {
    SettingsStore store;
    RecordInstallation(store, "/opt/t/", "/usr/local/bin/tessaro");
    const std::string root = SettingsKey("");
    EXPECT_EQ(store.getString(root, "path"), "/opt/t/");
    EXPECT_EQ(store.getString(root, "exe"), "tessaro");
    EXPECT_EQ(store.getString(root, "version"), Utf8ToGbk("Tessaro普及版"));
    EXPECT_EQ(store.getString(root, "subversion"), "5.01.001");
    EXPECT_EQ(ExeBaseName("/x/y/tessaro.exe"), "tessaro");
    EXPECT_EQ(ExeBaseName("tessaro"), "tessaro");
    EXPECT_EQ(ExeBaseName("/x/.hidden"), ".hidden");
}

}  // namespace
}  // namespace tessaro

namespace tessaro {
namespace {

TEST(CreateF10Directories, MakesAllThreeAndToleratesExisting) {
    TempDir dir;
    AppPaths p(dir.path());
    ASSERT_TRUE(CreateF10Directories(p));
    for (MarketCode m : {kMarketSH, kMarketSZ, kMarketSystem}) EXPECT_TRUE(DirectoryExists(p.f10Dir(m)));
    EXPECT_TRUE(CreateF10Directories(p));
    // A file where the data directory belongs makes it fail, not crash.
    TempDir other;
    ASSERT_TRUE(WriteFileAtomic(other.path() + "/data", "x"));
    EXPECT_FALSE(CreateF10Directories(AppPaths(other.path())));
}

}  // namespace
}  // namespace tessaro
