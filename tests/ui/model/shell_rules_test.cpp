#include "ui/model/shell_rules.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/store_time.h"
#include "platform/text.h"
#include "ui/model/commands.h"
#include "ui/model/desktop_options.h"

namespace tessaro {
namespace {

TEST(StatusPanes, WidthsFromTheFontMeasures) {
    // e = 7, w = 26: pane 1 = 26 + 49 + 54 + 73, pane 2 = 26 + 56 + 61 + 73, pane 4 = 130.
    StatusPaneWidths w = ComputeStatusPaneWidths(7, 26);
    EXPECT_EQ(w.sh, 202);
    EXPECT_EQ(w.sz, 216);
    EXPECT_EQ(w.connection, 130);
    EXPECT_EQ(StatusBarHeight(17), 21);
}

TEST(StatusPanes, IndexTextsAndDirection) {
    QuoteSnapshot q{};
    q.prevClose = 3000.0f;
    q.bar.close = 3012.5f;
    q.bar.amount = 1.2351e11f;
    IndexPaneText t = FormatIndexPane(true, q);
    EXPECT_EQ(t.caption, "上证");
    EXPECT_EQ(t.last, "3012.50");
    EXPECT_EQ(t.change, "+12.50");
    EXPECT_EQ(t.amount, "1235亿");
    EXPECT_EQ(t.direction, 1);

    q.bar.close = 2990.0f;
    t = FormatIndexPane(false, q);
    EXPECT_EQ(t.caption, "深证");
    EXPECT_EQ(t.change, "-10.00");
    EXPECT_EQ(t.direction, -1);

    EXPECT_EQ(FormatIndexPane(true, std::nullopt).last, "-");
    q.bar.close = std::numeric_limits<float>::quiet_NaN();  // a damaged record shows nothing
    EXPECT_EQ(FormatIndexPane(true, q).last, "-");
    q.bar.close = 10.0f;
    q.prevClose = 0.0f;  // no previous close: no change rather than a jump from zero
    t = FormatIndexPane(true, q);
    EXPECT_EQ(t.change, "+0.00");
    EXPECT_EQ(t.direction, 0);
}

TEST(Ticker, TextFromFileJoinsLines) {
    EXPECT_EQ(TickerTextFromFile(Utf8ToGbk("  欢迎使用\r\n\r\n今日提示\t收盘15:00\n")), "欢迎使用 今日提示 收盘15:00");
    EXPECT_EQ(TickerTextFromFile("\r\n  \n"), "");
}

TEST(Ticker, RestartsOnlyAfterTheWholeTextLeft) {
    Ticker t;
    t.SetGeometry(20, 30);
    t.SetGeometry(100, 30);
    EXPECT_EQ(t.x(), 100);  // starts at the right edge, also after a resize
    t.Step(true);
    EXPECT_EQ(t.x(), 100);  // the pointer over the bar holds it
    for (int i = 0; i < 129; ++i) t.Step(false);
    EXPECT_EQ(t.x(), -29);  // one pixel of the text still shows
    t.Step(false);
    EXPECT_EQ(t.x(), 100);  // gone: back at the right edge
    t.Step(false);
    t.SetGeometry(200, 30);  // once moving, a resize keeps the position
    EXPECT_EQ(t.x(), 99);
    Ticker empty;
    empty.SetGeometry(100, 0);
    empty.Step(false);
    EXPECT_EQ(empty.x(), 100);
}

TEST(BossKeyAndTray, Rules) {
    // The hot key hides a visible window only while "bBossKey" is on.
    EXPECT_EQ(OnBossHotKey(true, true), WindowAction::Hide);
    EXPECT_EQ(OnBossHotKey(false, true), WindowAction::ShowWithoutActivating);
    EXPECT_EQ(OnBossHotKey(false, false), WindowAction::ShowWithoutActivating);  // hidden from the tray
    EXPECT_EQ(OnBossHotKey(true, false), WindowAction::ShowWithoutActivating);
    // The tray reacts to the left button only.
    EXPECT_EQ(OnTrayPress(TrayButton::Left, true), WindowAction::Hide);
    EXPECT_EQ(OnTrayPress(TrayButton::Left, false), WindowAction::ShowWithoutActivating);
    for (TrayButton b : {TrayButton::Right, TrayButton::Middle, TrayButton::Double}) {
        EXPECT_EQ(OnTrayPress(b, true), WindowAction::Nothing);
        EXPECT_EQ(OnTrayPress(b, false), WindowAction::Nothing);
    }
}

TEST(BossKeyAndTray, HotKeyMapping) {
    auto k = HotKeyToX11(1, 83);  // the default: Alt+S
    ASSERT_TRUE(k);
    EXPECT_EQ(k->keysym, 0x73u);  // XK_s
    EXPECT_EQ(k->modifiers, 8u);  // Mod1Mask
    EXPECT_EQ(HotKeyText(1, 83), "Alt+S");
    k = HotKeyToX11(2 | 4, 0x70);  // Ctrl+Shift+F1
    ASSERT_TRUE(k);
    EXPECT_EQ(k->keysym, 0xFFBEu);
    EXPECT_EQ(k->modifiers, 4u | 1u);
    EXPECT_EQ(HotKeyText(2 | 4, 0x7B), "Ctrl+Shift+F12");
    EXPECT_EQ(HotKeyText(8, 0x39), "Meta+9");
    EXPECT_FALSE(HotKeyToX11(1, 0x0D));  // keys without a mapping register nothing
    EXPECT_EQ(HotKeyText(1, 0x0D), "");
}

TEST(FullScreen, EnterCoversTheWorkAreaAndLeaveRestores) {
    FullScreenState fs;
    WindowPlacement placed{{100, 80, 800, 600}, false};
    Rect r = fs.Enter(placed, Rect{0, 0, 1920, 1040}, FrameExtents{4, 28, 4, 4, 22});
    EXPECT_EQ(r, (Rect{-4, -50, 1928, 1094}));
    EXPECT_TRUE(fs.on());
    // Entering again keeps the first placement.
    fs.Enter(WindowPlacement{{-4, -50, 1928, 1094}, false}, Rect{0, 0, 1920, 1040}, FrameExtents{});
    EXPECT_EQ(fs.Leave(), placed);
    EXPECT_FALSE(fs.on());
    EXPECT_FALSE(fs.Leave());
    WindowPlacement maximized{{10, 10, 640, 480}, true};
    fs.Enter(maximized, Rect{0, 0, 1280, 1024}, FrameExtents{});
    EXPECT_EQ(fs.Leave(), maximized);
}

TEST(ServerMessages, SuppressedUntilTheDayChanges) {
    // 2025-06-13 10:00 and 23:59 in market time, and the next day's 00:01.
    int64_t morning = UnixFromStoreTime(MakeStoreTime(2025, 6, 13, 10, 0));
    int64_t night = UnixFromStoreTime(MakeStoreTime(2025, 6, 13, 23, 59));
    int64_t next = UnixFromStoreTime(MakeStoreTime(2025, 6, 14, 0, 1));
    EXPECT_EQ(DecideMessageShow(0x4001, false, 0, morning), MessageShow::WithCheckBox);
    EXPECT_EQ(DecideMessageShow(0x4001, false, uint32_t(morning), night), MessageShow::Drop);
    EXPECT_EQ(DecideMessageShow(0x4001, false, uint32_t(morning), next), MessageShow::WithCheckBox);
    EXPECT_EQ(DecideMessageShow(0x9001, false, uint32_t(morning), night), MessageShow::Drop);
    // A refused login's reason and a re-initialisation are always shown, without the box.
    EXPECT_EQ(DecideMessageShow(0x4001, true, uint32_t(morning), night), MessageShow::Plain);
    EXPECT_EQ(DecideMessageShow(0xA007, false, uint32_t(morning), night), MessageShow::Plain);
    EXPECT_EQ(SuppressionValueName(0x4001, false), "disloginmessage");
    EXPECT_EQ(SuppressionValueName(0x9001, false), "dismessage");
    EXPECT_EQ(SuppressionValueName(0x4001, true), "");
    EXPECT_EQ(SuppressionAfterDialog(true, morning), uint32_t(morning));
    EXPECT_EQ(SuppressionAfterDialog(false, morning), 0u);
}

TEST(Commands, EveryCommandOnceAndTheTypedRankings) {
    std::set<CommandId> seen;
    for (const CommandInfo& c : CommandTable()) {
        EXPECT_TRUE(seen.insert(c.id).second);
        EXPECT_EQ(Command(c.id).text, c.text);
    }
    EXPECT_EQ(int(seen.size()), kCommandCount);
    CommandId id;
    ASSERT_TRUE(RankingForTypedCode(83, id));
    EXPECT_EQ(id, CommandId::RankingSzA);
    EXPECT_EQ(RankingBlock(id), "深市A股");
    EXPECT_FALSE(RankingForTypedCode(87, id));
    EXPECT_FALSE(RankingForTypedCode(80, id));
}

TEST(Commands, BarsByActiveViewKind) {
    EXPECT_EQ(BarForActiveView(nullptr), MenuBarKind::NoView);
    ViewKind chart = ViewKind::Chart, list = ViewKind::QuoteList;
    EXPECT_EQ(BarForActiveView(&chart), MenuBarKind::Chart);
    EXPECT_EQ(BarForActiveView(&list), MenuBarKind::QuoteList);
    auto menus = MenusOfBar(MenuBarKind::Chart);
    EXPECT_EQ(menus.size(), 6u);
    EXPECT_EQ(menus[2], MenuId::Picture);
    EXPECT_EQ(MenuTitle(MenuId::Picture), "画面(&P)");
    EXPECT_EQ(MenusOfBar(MenuBarKind::NoView).size(), 5u);
    auto has = [](MenuBarKind bar, MenuId menu, CommandId id) {
        auto v = CommandsOf(bar, menu);
        return std::find(v.begin(), v.end(), id) != v.end();
    };
    EXPECT_TRUE(has(MenuBarKind::QuoteList, MenuId::File, CommandId::Open));
    EXPECT_FALSE(has(MenuBarKind::NoView, MenuId::File, CommandId::Open));
    EXPECT_FALSE(has(MenuBarKind::Chart, MenuId::File, CommandId::Open));
    for (MenuBarKind bar : {MenuBarKind::NoView, MenuBarKind::QuoteList, MenuBarKind::Chart}) {
        EXPECT_TRUE(has(bar, MenuId::File, CommandId::Exit));
        EXPECT_TRUE(has(bar, MenuId::Tools, CommandId::Connect));
        EXPECT_TRUE(has(bar, MenuId::Video, CommandId::VideoTutorials));
    }
}

TEST(Commands, EnabledOnlyWhenSomethingCarriesThemOut) {
    CommandAvailability none;
    EXPECT_TRUE(CommandEnabled(CommandId::Exit, none));
    EXPECT_TRUE(CommandEnabled(CommandId::Connect, none));
    EXPECT_FALSE(CommandEnabled(CommandId::Calculator, none));
    EXPECT_FALSE(CommandEnabled(CommandId::Help, none));
    EXPECT_FALSE(CommandEnabled(CommandId::PriceBoard, none));
    EXPECT_FALSE(CommandEnabled(CommandId::Open, none));
    EXPECT_FALSE(CommandEnabled(CommandId::FormulaManager, none));
    CommandAvailability some;
    some.openable = {CommandId::PriceBoard};
    some.activeViewHandles = {CommandId::Open};
    some.tools = {CommandId::FormulaManager};
    some.calculatorFound = true;
    EXPECT_TRUE(CommandEnabled(CommandId::PriceBoard, some));
    EXPECT_FALSE(CommandEnabled(CommandId::DynamicRanking, some));
    EXPECT_TRUE(CommandEnabled(CommandId::Open, some));
    EXPECT_TRUE(CommandEnabled(CommandId::FormulaManager, some));
    EXPECT_TRUE(CommandEnabled(CommandId::Calculator, some));
}

TEST(DesktopOptions, ParsesAndRefuses) {
    DesktopOptions o;
    std::string error;
    ASSERT_TRUE(ParseDesktopOptions({"--appdir", "/d", "--server=127.0.0.1:7000", "--auto-login", "--screenshot",
                                     "/s", "--exit-after-startup"},
                                    o, error));
    EXPECT_EQ(o.appDir, "/d");
    EXPECT_EQ(o.server, "127.0.0.1:7000");
    EXPECT_TRUE(o.autoLogin);
    EXPECT_EQ(o.screenshotDir, "/s");
    EXPECT_TRUE(o.exitAfterStartup);
    EXPECT_FALSE(ParseDesktopOptions({"--appdir"}, o, error));
    EXPECT_EQ(error, "--appdir needs a value");
    EXPECT_FALSE(ParseDesktopOptions({"--screenshot="}, o, error));
    EXPECT_FALSE(ParseDesktopOptions({"--auto-login=1"}, o, error));
    EXPECT_FALSE(ParseDesktopOptions({"--bogus"}, o, error));
    EXPECT_EQ(error, "unknown option --bogus");
}

}  // namespace
}  // namespace tessaro
