// The composition root: the stage order every program shows, what each kind of
// session opens and writes back, and the order in which the data sets depend on
// each other (pane lists are checked against the loaded formula set).
#include "session/session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/app_dir.h"
#include "formula/formula_set.h"
#include "market/demo_market.h"
#include "market/market_store.h"
#include "platform/files.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"
#include "tools/blocks/block_set.h"

namespace tessaro {
namespace {

std::vector<std::string> StageTexts(Session& session, bool* ok = nullptr) {
    std::vector<std::string> texts;
    bool started = session.Start([&](StartupStage, std::string_view text) { texts.emplace_back(text); });
    if (ok) *ok = started;
    return texts;
}

const std::vector<std::string> kAllStages = {"程序正在启动...", "加载公式平台...", "加载系统配置...", "加载行情数据...",
                                             "加载板块数据...", "加载预警平台...", "加载完成!"};

class SessionOverMarket : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        DemoMarketOptions options;
        options.outDir = dir_->path() + "/";
        options.securities = 12;
        options.days = 30;
        options.fiveMinuteDays = 2;
        options.oneMinuteDays = 1;
        std::string error;
        ASSERT_TRUE(GenerateDemoMarket(options, nullptr, &error)) << error;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static SessionOptions Options(SessionAccess access, unsigned data) {
        SessionOptions o;
        o.appDir = dir_->path();
        o.access = access;
        o.data = data;
        o.requireMarket = true;
        return o;
    }
    static TempDir* dir_;
};
TempDir* SessionOverMarket::dir_ = nullptr;

TEST_F(SessionOverMarket, EveryKindOfSessionShowsTheSameStagesAndOpensOnlyWhatItAskedFor) {
    for (unsigned data : {0u, unsigned{kSessionFormulas}, unsigned{kSessionMarkets},
                          unsigned{kSessionFormulas | kSessionMarkets}}) {
        Session session(Options(SessionAccess::ReadOnly, data));
        bool ok = false;
        EXPECT_EQ(StageTexts(session, &ok), kAllStages) << data;
        EXPECT_TRUE(ok) << session.error();
        EXPECT_EQ(session.hasFormulas(), (data & kSessionFormulas) != 0);
        EXPECT_EQ(session.hasMarkets(), (data & kSessionMarkets) != 0);
        if (session.hasMarkets()) {
            EXPECT_GT(session.store().SecurityCount(kMarketSH), 0);
        }
        if (session.hasFormulas()) {
            EXPECT_GT(session.formulas().Size(), 0u);
        }
    }
}

TEST_F(SessionOverMarket, StartRunsOnceAndCloseIsIdempotent) {
    Session session(Options(SessionAccess::ReadOnly, kSessionMarkets));
    EXPECT_EQ(StageTexts(session).size(), kAllStages.size());
    EXPECT_TRUE(StageTexts(session).empty());  // a second Start shows nothing and changes nothing
    EXPECT_TRUE(session.started());
    EXPECT_TRUE(session.Close());
    EXPECT_TRUE(session.Close());
    EXPECT_FALSE(session.hasMarkets());
}

TEST_F(SessionOverMarket, AReadOnlySessionLeavesTheMarketFilesAsTheyWere) {
    std::string file = AppPaths(dir_->path()).marketFile(kMarketSH);
    auto before = std::filesystem::last_write_time(file);
    auto size = std::filesystem::file_size(file);
    {
        Session session(Options(SessionAccess::ReadOnly, kSessionAll));
        ASSERT_TRUE(session.Start()) << session.error();
    }
    EXPECT_EQ(std::filesystem::last_write_time(file), before);
    EXPECT_EQ(std::filesystem::file_size(file), size);
}

TEST_F(SessionOverMarket, AReadWriteSessionWritesTheStoreBackAtClose) {
    TempDir copy;
    std::filesystem::copy(dir_->path(), copy.path(), std::filesystem::copy_options::recursive);
    SessionOptions options = Options(SessionAccess::ReadWrite, kSessionMarkets);
    options.appDir = copy.path();
    SecurityId id = MakeSecurityId(kMarketSH, "600000");
    {
        Session session(options);
        ASSERT_TRUE(session.Start()) << session.error();
        ASSERT_TRUE(session.store().GetCodeEntry(id));
        ASSERT_TRUE(session.store().SetMarketCounters(kMarketSZ, 7, 8, 9));
        EXPECT_TRUE(session.Close());
    }
    Session reopened(options);
    ASSERT_TRUE(reopened.Start()) << reopened.error();
    EXPECT_EQ(reopened.store().MarketCounters(kMarketSZ), (std::array<uint16_t, 3>{7, 8, 9}));
}

TEST(Session, ADirectoryWithoutAMarketFailsWhenAMarketIsRequired) {
    TempDir empty;
    SessionOptions options;
    options.appDir = empty.path();
    options.requireMarket = true;
    Session session(options);
    bool ok = true;
    std::vector<std::string> texts = StageTexts(session, &ok);
    EXPECT_FALSE(ok);
    EXPECT_NE(session.error().find("no market data"), std::string::npos) << session.error();
    // The stages up to the markets were shown; "加载完成!" never is.
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts.back(), "加载行情数据...");
    EXPECT_FALSE(std::filesystem::exists(empty.path() + "/data"));
}

TEST(Session, SettingsComeFromTheFileOnlyWhenAskedAndPaneListsKeepOnlyExistingFormulas) {
    TempDir home;
    std::string settingsFile = home.path() + "/settings.txt";
    {
        SettingsStore stored(settingsFile);
        // Pane 1 names a formula the set has (an internal indicator) and one it has not.
        stored.setString(SettingsKey("Settings"), "AreaFormulaRec1", "4\tTENDV\t4\tNO_SUCH_FORMULA\t");
        stored.setDword(SettingsKey("Settings"), "MultiDay", 7);
        ASSERT_TRUE(stored.save());
    }
    SessionOptions options;
    options.appDir = home.path() + "/app";
    options.data = kSessionFormulas;
    options.settings = SessionSettings::File;
    options.settingsFile = settingsFile;
    options.access = SessionAccess::ReadWrite;
    {
        Session session(options);
        ASSERT_TRUE(session.Start()) << session.error();
        EXPECT_EQ(session.settings().multiDay, 7u);
        const PaneFormulaList& pane = session.settings().kLinePanes[1];
        ASSERT_EQ(pane.count, 1);
        EXPECT_EQ(pane.name(0), "TENDV");
        session.settings().multiDay = 9;
    }
    // Written back at close.
    EXPECT_EQ(SettingsStore(settingsFile).getDword(SettingsKey("Settings"), "MultiDay"), 9u);

    // Built-in settings never read nor write the file.
    options.settings = SessionSettings::BuiltIn;
    Session builtIn(options);
    ASSERT_TRUE(builtIn.Start());
    EXPECT_EQ(builtIn.settings().multiDay, 5u);
    builtIn.settings().multiDay = 11;
    builtIn.Close();
    EXPECT_EQ(SettingsStore(settingsFile).getDword(SettingsKey("Settings"), "MultiDay"), 9u);
}

}  // namespace
}  // namespace tessaro

namespace tessaro {
namespace {

TEST_F(SessionOverMarket, TheBlockStageLoadsTheRuleBlocksAndCreatesSelfSelectedOnlyWhenWritable) {
    TempDir copy;
    std::filesystem::copy(dir_->path(), copy.path(), std::filesystem::copy_options::recursive);
    AppPaths paths(copy.path());
    std::filesystem::remove_all(paths.blockDir());
    SessionOptions options = Options(SessionAccess::ReadOnly, kSessionBlocks);
    options.appDir = copy.path();
    {
        Session session(options);
        ASSERT_TRUE(session.Start()) << session.error();
        ASSERT_TRUE(session.hasBlocks());
        auto all = session.blocks().FindBlock(Utf8ToGbk("沪深A股"));
        ASSERT_TRUE(all);
        EXPECT_GT(all->members.size(), 0u);
        EXPECT_FALSE(session.blocks().FindBlock(Utf8ToGbk("自选股1")));
    }
    EXPECT_FALSE(DirectoryExists(paths.blockDir()));
    options.access = SessionAccess::ReadWrite;
    Session session(options);
    ASSERT_TRUE(session.Start()) << session.error();
    EXPECT_TRUE(session.blocks().FindBlock(Utf8ToGbk("自选股9")));
    EXPECT_TRUE(FileExists(paths.blockIni()));
}

}  // namespace
}  // namespace tessaro

namespace tessaro {
namespace {

// Formulas compiled apart from any directory (the command line without --appdir) come from
// the built-in library; the directory's formula files are not read.
TEST(Session, BuiltInFormulasComeFromTheLibraryNotTheDirectory) {
    TempDir dir;
    SessionOptions options;
    options.appDir = dir.path();
    options.data = kSessionFormulas;
    Session fromDir(options);
    ASSERT_TRUE(fromDir.Start());
    EXPECT_FALSE(fromDir.formulas().Contains(kFormulaSubPane, "MACD"));  // no base/common.fml here

    options.builtInFormulas = true;
    Session builtIn(options);
    ASSERT_TRUE(builtIn.Start());
    EXPECT_TRUE(builtIn.formulas().Contains(kFormulaSubPane, "MACD"));
    EXPECT_GT(builtIn.formulas().Size(), fromDir.formulas().Size());
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));  // nothing written
}

}  // namespace
}  // namespace tessaro
