#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include "market/market_store.h"
#include "platform/settings_store.h"
#include "ui/boss_key.h"
#include "ui/status_panes.h"
#include "ui_test_support.h"

namespace tessaro {
namespace {

QStringList MenuTitles(QMainWindow& w) {
    QStringList out;
    for (QAction* a : w.menuBar()->actions()) out << a->text();
    return out;
}

struct Fixture {
    std::unique_ptr<Session> session = OpenTestSession();
    ViewRegistry registry;
    std::unique_ptr<MainWindow> window;
    RecordingPrompter* prompter = nullptr;

    void Open() {
        window = std::make_unique<MainWindow>(*session, registry, MainWindowOptions{});
        auto p = std::make_unique<RecordingPrompter>();
        prompter = p.get();
        window->setPrompter(std::move(p));
    }
};

TEST(MainWindowMenus, BarFollowsTheActiveViewAndCommandsNeedTheirViews) {
    Fixture f;
    ASSERT_TRUE(f.session);
    f.Open();
    MainWindow& w = *f.window;
    EXPECT_EQ(w.windowTitle(), "Tessaro普及版");
    EXPECT_EQ(MenuTitles(w), (QStringList{"文件(&F)", "查看(&V)", "工具(&T)", "帮助(&H)", "视频教学(&I)"}));
    // Nothing registered: the view commands are shown disabled, the window's own enabled.
    EXPECT_FALSE(w.action(CommandId::PriceBoard)->isEnabled());
    EXPECT_FALSE(w.action(CommandId::Open)->isEnabled());
    EXPECT_FALSE(w.action(CommandId::FormulaManager)->isEnabled());
    EXPECT_TRUE(w.action(CommandId::Exit)->isEnabled());
    EXPECT_EQ(w.action(CommandId::Exit)->shortcut(), QKeySequence("Alt+F4"));
    EXPECT_EQ(w.action(CommandId::Connect)->text(), "连接行情主站  (&R)");
    EXPECT_EQ(w.standardToolBar()->windowTitle(), "标准工具条");
    EXPECT_EQ(w.drawingToolBar()->windowTitle(), "画线工具");
    EXPECT_EQ(w.OpenView(ViewKind::QuoteList, ViewTarget{}), nullptr);

    // A quote list and a chart registered.
    std::vector<TestView*> made;
    f.registry.RegisterFactory(
        ViewKind::QuoteList,
        [&](ViewContext& c, QWidget* parent) {
            made.push_back(new TestView(c, parent, ViewKind::QuoteList));
            return made.back();
        },
        {CommandId::PriceBoard, CommandId::RankingShA, CommandId::News /* another kind's: ignored */});
    f.registry.RegisterFactory(ViewKind::Chart, [&](ViewContext& c, QWidget* parent) {
        made.push_back(new TestView(c, parent, ViewKind::Chart));
        return made.back();
    });
    w.RegisterTool(CommandId::FormulaManager, [] {});
    EXPECT_TRUE(w.action(CommandId::FormulaManager)->isEnabled());
    EXPECT_TRUE(w.action(CommandId::PriceBoard)->isEnabled());
    EXPECT_FALSE(w.action(CommandId::News)->isEnabled());

    w.RunCommand(CommandId::RankingShA);
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0]->shown.command, CommandId::RankingShA);
    EXPECT_EQ(made[0]->shown.block, "沪市A股");
    EXPECT_EQ(w.menuBarKind(), MenuBarKind::QuoteList);
    EXPECT_TRUE(w.action(CommandId::Open)->isEnabled());  // the active quote list handles it
    w.RunCommand(CommandId::Open);
    EXPECT_EQ(made[0]->ran, std::vector<CommandId>{CommandId::Open});

    // Opening the same kind again activates the view found.
    w.RunCommand(CommandId::PriceBoard);
    EXPECT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0]->shows, 2);

    auto tools = w.drawingToolBar()->findChildren<QAction*>(QRegularExpression("^drawingTool"));
    ASSERT_EQ(tools.size(), 19);
    for (QAction* a : tools) EXPECT_FALSE(a->isEnabled());  // a quote list takes no drawing tools
    View* chart = w.OpenView(ViewKind::Chart, ViewTarget{});
    ASSERT_NE(chart, nullptr);
    QAction* golden = w.drawingToolBar()->findChild<QAction*>("drawingTool7");
    ASSERT_NE(golden, nullptr);
    EXPECT_EQ(golden->text(), "黄金分割线");
    EXPECT_TRUE(golden->isEnabled());
    golden->trigger();
    EXPECT_EQ(static_cast<TestView*>(chart)->tool, 7);
    EXPECT_EQ(w.menuBarKind(), MenuBarKind::Chart);
    EXPECT_EQ(MenuTitles(w), (QStringList{"文件(&F)", "查看(&V)", "画面(&P)", "工具(&T)", "帮助(&H)", "视频教学(&I)"}));
    EXPECT_FALSE(w.action(CommandId::Open)->isEnabled());  // the chart does not carry it
    View* second = w.OpenView(ViewKind::Chart, ViewTarget{}, true);
    EXPECT_NE(second, chart);
    // "画面(&P)" holds the active chart's items.
    QMenu* picture = w.menuBar()->actions()[2]->menu();
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(picture->actions().size(), 1);
    EXPECT_EQ(picture->actions()[0]->text(), QString("picture of %1").arg(quintptr(second)));
    EXPECT_EQ(w.mdiArea()->subWindowList().size(), 3);

    // Closing every view brings the bar without views back.
    w.mdiArea()->closeAllSubWindows();
    QApplication::processEvents();
    EXPECT_EQ(w.menuBarKind(), MenuBarKind::NoView);
    EXPECT_EQ(MenuTitles(w).size(), 5);
}

TEST(MainWindowShell, FullScreenTwiceRestoresThePlacement) {
    Fixture f;
    ASSERT_TRUE(f.session);
    f.Open();
    MainWindow& w = *f.window;
    w.show();
    w.setGeometry(120, 90, 700, 500);
    QApplication::processEvents();
    QRect before = w.geometry();
    w.SetFullScreen(true);
    QApplication::processEvents();
    EXPECT_TRUE(w.fullScreenOn());
    EXPECT_TRUE(w.action(CommandId::FullScreen)->isChecked());
    EXPECT_NE(w.geometry(), before);
    w.RunCommand(CommandId::FullScreen);  // the menu command toggles it off
    QApplication::processEvents();
    EXPECT_FALSE(w.fullScreenOn());
    EXPECT_EQ(w.geometry(), before);
    EXPECT_FALSE(w.isMaximized());

    w.showMaximized();
    QApplication::processEvents();
    QRect maximized = w.geometry();
    w.SetFullScreen(true);
    QApplication::processEvents();
    w.SetFullScreen(false);
    QApplication::processEvents();
    EXPECT_TRUE(w.isMaximized());
    EXPECT_EQ(w.geometry(), maximized);
    w.showNormal();
    QApplication::processEvents();
    EXPECT_EQ(w.geometry(), before);  // the normal placement survived too
}

TEST(MainWindowShell, BossKeyAndTrayShowAndHide) {
    Fixture f;
    ASSERT_TRUE(f.session);
    f.session->settings().bossKey = false;
    f.Open();
    MainWindow& w = *f.window;
    w.show();
    w.OnBossKey();
    EXPECT_TRUE(w.isVisible());  // "bBossKey" off: never hides
    w.OnTrayPress(TrayButton::Right);
    EXPECT_TRUE(w.isVisible());
    w.OnTrayPress(TrayButton::Left);
    EXPECT_FALSE(w.isVisible());
    w.OnBossKey();  // still shows a window hidden from the tray
    EXPECT_TRUE(w.isVisible());
    f.session->settings().bossKey = true;
    w.OnBossKey();
    EXPECT_FALSE(w.isVisible());
    w.OnTrayPress(TrayButton::Left);
    EXPECT_TRUE(w.isVisible());
}

TEST(MainWindowShell, ExitAsksAndNoKeepsRunning) {
    Fixture f;
    ASSERT_TRUE(f.session);
    f.Open();
    MainWindow& w = *f.window;
    w.show();
    f.prompter->answer = Prompter::Answer::No;
    w.RunCommand(CommandId::Exit);
    ASSERT_EQ(f.prompter->asked.size(), 1);
    EXPECT_EQ(f.prompter->asked[0], "真的要退出系统吗?");  // not connected: never the day-data question
    EXPECT_FALSE(f.prompter->lastHadCancel);
    EXPECT_TRUE(w.isVisible());
    f.prompter->answer = Prompter::Answer::Yes;
    w.RunCommand(CommandId::Exit);
    EXPECT_FALSE(w.isVisible());
}

TEST(MainWindowShell, StatusBarPanesAndToggle) {
    Fixture f;
    ASSERT_TRUE(f.session);
    f.Open();
    MainWindow& w = *f.window;
    w.resize(1200, 700);
    w.show();
    QApplication::processEvents();
    StatusPanes* panes = w.statusPanes();
    EXPECT_EQ(panes->paneText(kPaneConnection), "连接已断开");
    // The index panes show the store's indexes.
    const MarketStore& store = f.session->store();
    auto sh = store.GetQuote(store.GetMarketIndexEntry(kMarketSH)->id);
    ASSERT_TRUE(sh);
    EXPECT_TRUE(panes->paneText(kPaneSh).startsWith(QString::asprintf("上证 %.2f", double(sh->bar.close))))
        << panes->paneText(kPaneSh).toStdString();
    EXPECT_TRUE(panes->paneText(kPaneSz).startsWith("深证 "));
    // The panes lie side by side in order, the ticker taking what is left.
    for (int p = 1; p < kStatusPaneCount; ++p) EXPECT_EQ(panes->paneRect(p).left(), panes->paneRect(p - 1).right() + 1);
    EXPECT_GT(panes->paneRect(kPaneTicker).width(), 0);
    EXPECT_EQ(panes->paneRect(kPaneConnection).right(), panes->width() - 1);

    EXPECT_TRUE(w.statusBar()->isVisible());
    w.RunCommand(CommandId::StatusBar);
    EXPECT_FALSE(w.statusBar()->isVisible());
    EXPECT_FALSE(f.session->settings().statusBar);  // saved as "StatusBar"
    EXPECT_FALSE(w.action(CommandId::StatusBar)->isChecked());
}

TEST(MainWindowShell, OptionsChangeTheBossKeyAndTheScheme) {
    Fixture f;
    ASSERT_TRUE(f.session);
    f.Open();
    MainWindow& w = *f.window;
    w.show();
    EXPECT_TRUE(w.action(CommandId::Options)->isEnabled());
    EXPECT_EQ(w.bossKey()->keyText(), "Alt+S");
    bool seen = false;
    QTimer::singleShot(0, &w, [&] {
        auto* d = qobject_cast<OptionsDialog*>(QApplication::activeModalWidget());
        if (!d) return;
        seen = d->windowTitle() == "系统选项" && !d->bossKeyBox()->isChecked();
        d->bossKeyBox()->setChecked(true);
        d->modifierBox(1)->setChecked(false);
        d->modifierBox(2)->setChecked(true);
        d->keyBox()->setCurrentIndex(d->keyBox()->findText("F9"));
        d->schemeBox()->setCurrentIndex(3);
        if (QByteArray dir = qgetenv("TESSARO_TEST_SHOTS"); !dir.isEmpty()) d->grab().save(dir + "/options.png");
        d->findChild<QPushButton*>("ok")->click();
    });
    w.RunCommand(CommandId::Options);
    EXPECT_TRUE(seen);
    std::string key = SettingsKey("Settings");
    const SettingsStore& store = f.session->settingsStore();
    EXPECT_EQ(store.getDword(key, "bBossKey"), 1u);
    EXPECT_EQ(store.getDword(key, "bkModifiers"), 2u);
    EXPECT_EQ(store.getDword(key, "bkVirtualCode"), 0x78u);
    EXPECT_EQ(f.session->settings().activeScheme, 3);
    EXPECT_EQ(w.bossKey()->keyText(), "Ctrl+F9");  // registered again with the new key
    w.OnBossKey();
    EXPECT_FALSE(w.isVisible());  // and now on
}

TEST(MainWindowShell, ConnectionPaneClickOpensTheLoginDialog) {
    Fixture f;
    ASSERT_TRUE(f.session);
    f.Open();
    MainWindow& w = *f.window;
    w.resize(1200, 700);
    w.show();
    QApplication::processEvents();
    StatusPanes* panes = w.statusPanes();
    bool loginSeen = false;
    // The dialog is modal: it is looked at and closed from inside its own loop.
    QTimer::singleShot(0, &w, [&] {
        if (LoginDialog* login = w.loginDialog()) {
            loginSeen = login->isVisible();
            login->done(kLoginOffline);
        }
    });
    QTest::mouseClick(panes, Qt::LeftButton, {}, panes->paneRect(kPaneConnection).center());
    EXPECT_TRUE(loginSeen);
    EXPECT_EQ(w.loginDialog(), nullptr);
    // A click elsewhere on the bar does nothing.
    QTest::mouseClick(panes, Qt::LeftButton, {}, panes->paneRect(kPaneSh).center());
    EXPECT_EQ(w.loginDialog(), nullptr);
}

}  // namespace
}  // namespace tessaro
