// The chart window's crosshair, mouse and keys offscreen: the wheel pages as Page Down and Up do, a
// pan drag scrolls as the scroll keys do, the crosshair's tags leave the back buffer as it was,
// the data window follows the cursor bar, and a screenshot with the crosshair on is kept in the
// build directory for a look.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "chart/indicator_combo.h"
#include "chart/kline_content.h"
#include "platform/files.h"
#include "chart/qt/chart_widget.h"
#include "chart/qt/data_window.h"
#include "formula/standard_library.h"
#include "market/bars_csv.h"
#include "market/history.h"
#include "market/market_store.h"
#include "market/market_store_fixture.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"
#include "test_support/qt_wait.h"

namespace tessaro::chart {
namespace {

void Key(QWidget& w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QCoreApplication::sendEvent(&w, &press);
}

void Mouse(QWidget& w, QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(p), QPointF(w.mapToGlobal(p)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &e);
}

void Wheel(QWidget& w, QPoint p, int dy) {
    QWheelEvent e(QPointF(p), QPointF(w.mapToGlobal(p)), QPoint(), QPoint(0, dy), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&w, &e);
}

class ChartCursorQt : public ::testing::Test {
protected:
    void SetUp() override {
        auto* s = new FormulaSet;
        for (FormulaRecord& r : BuildStandardLibrary().formulas) s->Put(std::move(r));
        formulas.reset(s);
        paths = std::make_unique<AppPaths>(dir.path());
        store = std::make_unique<MarketStore>(*paths, settingsStore);
        ASSERT_TRUE(store->LoadAll());
        ParseSecurityText("SH600519", id);
        const char* root = std::getenv("TESSARO_SOURCE_DIR");
        std::ifstream in(std::string(root ? root : TESSARO_SOURCE_DIR) + "/tests/formula/data/600519-daily.csv");
        std::stringstream text;
        text << in.rdbuf();
        ParseBarsCsv(text.str(), history);
        history.period = kPeriodDay;
        ASSERT_TRUE(WriteHistory(*paths, id, kPeriodDay, std::span(history.bars), true));
        QuoteUpdate q = testing_store::MakeQuote(id, MakeStoreTime(2026, 2, 16, 10, 0), 1500, 100, Utf8ToGbk("贵州茅台"));
        q.entry.securityClass = kClassAShare;
        store->UpdateQuote(q);
        // A second security of the market, after it in code order, for paging.
        SecurityId next;
        ParseSecurityText("SH600600", next);
        ASSERT_TRUE(WriteHistory(*paths, next, kPeriodDay, std::span(history.bars), true));
        QuoteUpdate n = testing_store::MakeQuote(next, MakeStoreTime(2026, 2, 16, 10, 0), 40, 100, Utf8ToGbk("青岛啤酒"));
        n.entry.securityClass = kClassAShare;
        store->UpdateQuote(n);
    }

    std::unique_ptr<ChartWidget> Widget() {
        ChartWidget::Context c;
        c.store = store.get();
        c.paths = *paths;
        c.formulas = formulas.get();
        auto w = std::make_unique<ChartWidget>(c);
        w->resize(900, 600);
        EXPECT_TRUE(w->ShowSecurityText("SH600519"));
        w->show();
        Spin(150);
        return w;
    }

    void TearDown() override { ChartWidget::SetCrosshairSwitch(false); }

    TempDir dir;
    SettingsStore settingsStore;
    std::unique_ptr<AppPaths> paths;
    std::unique_ptr<MarketStore> store;
    std::unique_ptr<FormulaSet> formulas;
    SecurityId id;
    Series history;
};

TEST_F(ChartCursorQt, WheelAndPanDragEqualTheKeys) {
    auto keys = Widget();
    auto mouse = Widget();
    const QPoint centre(300, 150);
    // The wheel pages through the securities: toward the user as Page Down, away as Page Up.
    const SecurityId first = mouse->view().picture(0).security.id;
    Wheel(*mouse, centre, -120);
    EXPECT_FALSE(SameSecurity(mouse->view().picture(0).security.id, first)) << "the wheel moved to the next security";
    Wheel(*mouse, centre, 120);
    EXPECT_TRUE(SameSecurity(mouse->view().picture(0).security.id, first)) << "and back";
    for (int dy : {-120, -120, 120}) {
        Key(*keys, dy < 0 ? Qt::Key_PageDown : Qt::Key_PageUp);
        Wheel(*mouse, centre, dy);
        EXPECT_TRUE(SameSecurity(mouse->view().picture(0).security.id, keys->view().picture(0).security.id));
        EXPECT_EQ(mouse->view().picture(0).scale.visible, keys->view().picture(0).scale.visible);
    }

    // A left drag on the time axis of five bar spacings to the right equals five "<" presses.
    HScale& h = mouse->view().picture(0).scale;
    const int step = static_cast<int>(h.pitch + h.gap) + 1;
    const GraphPicture& p = mouse->view().picture(0);
    const int stripY = RoundPixel(p.panes.back().rects.outer.bottom) + 4;
    const QPoint from(400, stripY);
    for (int i = 0; i < 5; ++i) Key(*keys, Qt::Key_Comma);
    Mouse(*mouse, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    for (int i = 1; i <= 5; ++i)
        Mouse(*mouse, QEvent::MouseMove, from + QPoint(i * step, 0), Qt::NoButton, Qt::LeftButton);
    Mouse(*mouse, QEvent::MouseButtonRelease, from + QPoint(5 * step, 0), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(mouse->view().picture(0).scale.first, keys->view().picture(0).scale.first);
    EXPECT_FALSE(mouse->cursor().on);  // a drag is no click
}

TEST_F(ChartCursorQt, CrosshairTagsRestoreTheBufferAndTheDataWindowFollows) {
    auto w = Widget();
    const QImage clean = w->canvas().image().copy();
    const GraphPicture& p = w->view().picture(0);
    const int total = static_cast<int>(p.series.size());

    // Right with the crosshair off: on at the last bar, the data window shown.
    Key(*w, Qt::Key_Right);
    ASSERT_TRUE(w->cursor().on);
    EXPECT_EQ(w->cursor().bar, total - 1);
    ASSERT_NE(w->dataWindow(), nullptr);
    EXPECT_TRUE(w->dataWindow()->isVisible());
    EXPECT_EQ(w->dataWindow()->rows()[4].value, "1500.00");  // today's bar from the quote

    // Three bars back: the titles and the data window show that bar.
    for (int i = 0; i < 3; ++i) Key(*w, Qt::Key_Left);
    EXPECT_EQ(w->cursor().bar, total - 4);
    char close[32];
    std::snprintf(close, sizeof close, "%.2f", history.bars[history.size() - 3].close);
    EXPECT_EQ(w->dataWindow()->rows()[4].value, close);
    EXPECT_NE(w->canvas().image(), clean);  // tags and title values drawn

    // Moving the mouse puts the crosshair on the bar under it.
    const int k = 10;
    Mouse(*w, QEvent::MouseMove, QPoint(p.scale.CentrePixel(k), 120), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(w->cursor().bar, p.scale.first + k);
    const CursorTags tags = w->cursorTags();
    EXPECT_EQ(tags.time.text, TagTimeText(kPeriodDay, p.series.bars[static_cast<size_t>(p.scale.first + k)].time));
    Spin(50);
    QImage shot = w->grab().toImage();
    shot.save(QString::fromStdString(std::string(TESSARO_BINARY_DIR) + "/chart_crosshair.png"));

    // Esc: off, the window hidden, and the back buffer exactly as before the crosshair.
    Key(*w, Qt::Key_Escape);
    EXPECT_FALSE(w->cursor().on);
    EXPECT_FALSE(w->dataWindow()->isVisible());
    EXPECT_EQ(w->canvas().image(), clean);
}

TEST_F(ChartCursorQt, ALeftBandOverFourBarsZoomsAndOnePixelDoesNothing) {
    auto w = Widget();
    const GraphPicture& p = w->view().picture(0);
    const int y = RoundPixel(p.panes[0].rects.draw.top) + 30;
    const int first = p.scale.first, n = p.scale.visible;
    // A press and a 1-pixel move: a click, which turns the crosshair on there.
    const QPoint a(p.scale.CentrePixel(20), y);
    Mouse(*w, QEvent::MouseButtonPress, a, Qt::LeftButton, Qt::LeftButton);
    Mouse(*w, QEvent::MouseMove, a + QPoint(1, 0), Qt::NoButton, Qt::LeftButton);
    Mouse(*w, QEvent::MouseButtonRelease, a + QPoint(1, 0), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(p.scale.first, first);
    EXPECT_TRUE(w->cursor().on);
    EXPECT_EQ(w->cursor().bar, first + 20);
    // A band over visible bars 20..29: those ten bars fill the picture.
    Mouse(*w, QEvent::MouseButtonPress, a, Qt::LeftButton, Qt::LeftButton);
    const QPoint b(p.scale.CentrePixel(29), y + 40);
    Mouse(*w, QEvent::MouseMove, b, Qt::NoButton, Qt::LeftButton);
    Mouse(*w, QEvent::MouseButtonRelease, b, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(p.scale.first, first + 20);
    EXPECT_EQ(p.scale.visible, 10);
    EXPECT_NE(n, 10);
}

TEST_F(ChartCursorQt, ScriptedSessionAddsIndicatorsZoomsAndSwitchesToWeek) {
    auto w = Widget();
    GraphPicture& p = w->view().picture(0);
    ASSERT_EQ(p.panes.size(), 3u);  // MA; VOL; MACD
    // KDJ from the menu with the main pane active goes to pane 1; a formula not in the set fails.
    EXPECT_TRUE(w->AddFormula(kFormulaSubPane, "KDJ"));
    EXPECT_EQ(FindIndicator(w->view(), 0, kFormulaSubPane, "KDJ"), 1);
    ASSERT_TRUE(p.panes[1].indicators.back().result);
    EXPECT_FALSE(w->AddFormula(kFormulaSubPane, "NO_SUCH"));
    EXPECT_FALSE(w->AddFormula(kFormulaSubPane, "KDJ"));  // already in that pane
    Key(*w, Qt::Key_Up);
    EXPECT_EQ(p.scale.visible, 67);
    Key(*w, Qt::Key_Right);  // crosshair on at the last bar
    Spin(50);
    w->grab().toImage().save(QString::fromStdString(std::string(TESSARO_BINARY_DIR) + "/chart_session_day.png"));
    EXPECT_TRUE(w->RemoveFormula(kFormulaSubPane, "KDJ"));
    EXPECT_EQ(FindIndicator(w->view(), 0, kFormulaSubPane, "KDJ"), -1);
    EXPECT_FALSE(w->RemoveFormula(kFormulaSubPane, "KDJ"));

    // Home in the MACD pane replaces its first indicator by another sub-chart formula.
    const GraphPane& macdPane = p.panes[2];
    const QPoint inMacd(200, RoundPixel(macdPane.rects.draw.top) + 10);
    Mouse(*w, QEvent::MouseButtonPress, inMacd, Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(w->activePane(), 2);
    w->SetCrosshair(false);
    Key(*w, Qt::Key_End);
    ASSERT_FALSE(p.panes[2].indicators.empty());
    EXPECT_NE(p.panes[2].indicators[0].formula.nameText(), "MACD");
    EXPECT_EQ(p.panes[2].indicators.size(), 1u);

    Key(*w, Qt::Key_F8);  // day -> week
    Spin(50);
    EXPECT_EQ(w->view().picture(0).period, kPeriodWeek);
    EXPECT_FALSE(w->view().picture(0).series.empty());
    Key(*w, Qt::Key_Left);
    Spin(50);
    w->grab().toImage().save(QString::fromStdString(std::string(TESSARO_BINARY_DIR) + "/chart_session_week.png"));
}

TEST_F(ChartCursorQt, DividerDragTabAndDeletingASubChart) {
    auto w = Widget();
    GraphPicture& p = w->view().picture(0);
    const int boundary = RoundPixel(p.panes[0].rects.outer.bottom);
    const int limit = RoundPixel(p.panes[0].rects.title.bottom) + 10;
    Mouse(*w, QEvent::MouseButtonPress, QPoint(300, boundary + 1), Qt::LeftButton, Qt::LeftButton);
    Mouse(*w, QEvent::MouseMove, QPoint(300, 2), Qt::NoButton, Qt::LeftButton);
    Mouse(*w, QEvent::MouseButtonRelease, QPoint(300, 2), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(RoundPixel(p.panes[0].rects.outer.bottom), limit);
    EXPECT_EQ(w->canvas().image(), [&] {
        ChartCanvas fresh;
        fresh.Resize(w->canvas().size());
        fresh.PaintAll(w->view(), ChartFonts(SystemSettings{}.scheme()));
        return fresh.image();
    }());

    // Tab enlarges the active pane (MACD, clicked) and brings the heights back.
    Mouse(*w, QEvent::MouseButtonPress, QPoint(300, RoundPixel(p.panes[2].rects.draw.top) + 20), Qt::RightButton, Qt::RightButton);
    const float macd = p.panes[2].height;
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QCoreApplication::sendEvent(w.get(), &tab);
    EXPECT_EQ(p.panes[0].height, 0);
    EXPECT_GT(p.panes[2].height, macd * 3);
    QCoreApplication::sendEvent(w.get(), &tab);
    EXPECT_FLOAT_EQ(p.panes[2].height, macd);

    EXPECT_FALSE(w->DeletePane(0));
    EXPECT_TRUE(w->DeletePane(2));
    EXPECT_EQ(p.panes.size(), 2u);
    EXPECT_EQ(FindIndicator(w->view(), 0, kFormulaSubPane, "MACD"), -1);
}

TEST_F(ChartCursorQt, OverlaysAskForPercentageOnceAndStopAtFive) {
    auto w = Widget();
    std::vector<CodeEntry> others;
    for (int i = 1; i <= 5; ++i) {
        SecurityId other;
        ParseSecurityText("SH60000" + std::to_string(i), other);
        ASSERT_TRUE(WriteHistory(*paths, other, kPeriodDay, std::span(history.bars), true));
        QuoteUpdate q = testing_store::MakeQuote(other, MakeStoreTime(2026, 2, 16, 10, 0), 1480.0f + 10.0f * static_cast<float>(i), 100, Utf8ToGbk("其他"));
        q.entry.securityClass = kClassAShare;
        store->UpdateQuote(q);
        others.push_back(*store->FindByText("SH60000" + std::to_string(i)));
    }
    std::string message;
    bool ask = false;
    EXPECT_EQ(w->AddOverlays({others[0]}, message, ask), 1);
    EXPECT_TRUE(ask);
    w->SetMainPercentage(true);
    EXPECT_FALSE(w->view().picture(0).overlays[0].series.empty());
    // Four of a multi-selection fit; the rest is ignored; then the picture is full.
    EXPECT_EQ(w->AddOverlays({others[1], others[2], others[3], others[4]}, message, ask), 3);
    EXPECT_FALSE(ask);
    EXPECT_EQ(w->AddOverlays({others[4]}, message, ask), 0);
    EXPECT_EQ(message, "叠加股票已到最大限度,不能再进行叠加操作!");
    Spin(50);
    w->grab().toImage().save(QString::fromStdString(std::string(TESSARO_BINARY_DIR) + "/chart_overlays.png"));
}

TEST_F(ChartCursorQt, WizardChoicesSwitchPeriodsAndFormulas) {
    auto w = Widget();
    QString opened;
    std::optional<WizardItem> answer;
    w->SetWizard([&](const QString& first) {
        opened = first;
        return answer;
    });
    // "5" picks the quick command 周线 (its code and period are the catalogue's).
    const int week = FindQuickCommand("5");
    ASSERT_GE(week, 0);
    ASSERT_EQ(QuickCommandActionOf(week).kind, QuickCommandAction::Kind::Period);
    WizardItem command;
    command.kind = kWizardCommand;
    command.value = static_cast<uint32_t>(week);
    answer = command;
    QKeyEvent five(QEvent::KeyPress, Qt::Key_5, Qt::NoModifier, QStringLiteral("5"));
    QCoreApplication::sendEvent(w.get(), &five);
    EXPECT_EQ(opened, QStringLiteral("5"));
    EXPECT_EQ(PeriodNumber(w->view().picture(0).period), QuickCommandActionOf(week).value);
    // A formula: added to the active pane, and removed when chosen again.
    WizardItem kdj;
    kdj.kind = kWizardFormula;
    kdj.value = kFormulaSubPane;
    kdj.text1 = "KDJ";
    EXPECT_TRUE(w->ApplyWizardItem(kdj));
    EXPECT_EQ(FindIndicator(w->view(), 0, kFormulaSubPane, "KDJ"), 1);
    EXPECT_TRUE(w->ApplyWizardItem(kdj));
    EXPECT_EQ(FindIndicator(w->view(), 0, kFormulaSubPane, "KDJ"), -1);
    // Page Down and Page Up step through the list the chart came from, wrapping.
    std::vector<CodeEntry> list = {*store->FindByText("SH600519")};
    CodeEntry other = list[0];
    ParseSecurityText("SH600000", other.id);
    list.insert(list.begin(), other);
    w->SetSecurityList(list);
    QKeyEvent down(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
    QCoreApplication::sendEvent(w.get(), &down);
    EXPECT_EQ(SecurityText(w->view().picture(0).security.id), "SH600000");
    QCoreApplication::sendEvent(w.get(), &down);
    EXPECT_EQ(SecurityText(w->view().picture(0).security.id), "SH600519");
    // Escape and an empty answer change nothing.
    answer.reset();
    QKeyEvent k(QEvent::KeyPress, Qt::Key_K, Qt::NoModifier, QStringLiteral("k"));
    QCoreApplication::sendEvent(w.get(), &k);
    EXPECT_EQ(opened, QStringLiteral("k"));
}

TEST_F(ChartCursorQt, CombinationsSavedAndLoadedThroughTheWindow) {
    auto w = Widget();
    std::string message;
    ASSERT_TRUE(w->SaveCombinationNamed("日常", false, message)) << message;
    const std::string path = paths->indicatorComboDir() + "/日常.icb";
    EXPECT_EQ(FileSize(path), 4328);
    EXPECT_TRUE(w->AddFormula(kFormulaSubPane, "KDJ"));
    EXPECT_FALSE(w->SaveCombinationNamed("日常", false, message));
    EXPECT_EQ(message, "同名组合已经存在,覆盖吗?");
    EXPECT_FALSE(w->SaveCombinationNamed("a/b", false, message));
    EXPECT_EQ(message, "您输入的字符中有不能用于文件命名的字符,请重新保存！");
    // Loading the saved file takes KDJ out again; the panes are evaluated.
    ASSERT_TRUE(w->LoadCombinationFile(path, message));
    EXPECT_EQ(FindIndicator(w->view(), 0, kFormulaSubPane, "KDJ"), -1);
    const GraphPicture& p = w->view().picture(0);
    ASSERT_EQ(p.panes.size(), 3u);
    ASSERT_FALSE(p.panes[2].indicators.empty());
    EXPECT_TRUE(p.panes[2].indicators[0].result);
    // Another format is named; a short file is ignored and nothing changes.
    ASSERT_TRUE(WriteFileAtomic(path, std::string_view("ABCD and more")));
    EXPECT_FALSE(w->LoadCombinationFile(path, message));
    EXPECT_EQ(message, "未知的文件格式!");
    ASSERT_TRUE(WriteFileAtomic(path, std::string_view("30CI\x03\0\0\0")));
    EXPECT_FALSE(w->LoadCombinationFile(path, message));
    EXPECT_EQ(message, "");
    EXPECT_EQ(w->view().picture(0).panes.size(), 3u);
}

TEST_F(ChartCursorQt, EnterTogglesTimeSharingAndADoubleClickEnlargesThePane) {
    auto w = Widget();
    w->SetPeriod(kPeriodWeek);
    Key(*w, Qt::Key_Return);
    EXPECT_EQ(w->view().picture(0).period, kPeriodTime);
    Key(*w, Qt::Key_Enter);  // the keypad's Enter as well, back to the week it left
    EXPECT_EQ(w->view().picture(0).period, kPeriodWeek);
    // F8 walks through time-sharing into ticks; Enter then goes to time-sharing and back to ticks.
    w->SetPeriod(kPeriodTime);
    Key(*w, Qt::Key_F8);
    EXPECT_EQ(w->view().picture(0).period, kPeriodTick);
    Key(*w, Qt::Key_Return);
    Key(*w, Qt::Key_Return);
    EXPECT_EQ(w->view().picture(0).period, kPeriodTick);

    // A double-click on a bar of the sub-chart enlarges it; a second one restores the heights.
    w->SetPeriod(kPeriodDay);
    Spin(50);
    GraphPicture& p = w->view().picture(0);
    ASSERT_GE(p.panes.size(), 2u);
    const QPoint inVolume(300, RoundPixel(p.panes[1].rects.draw.top) + 10);
    const float volume = p.panes[1].height;
    Mouse(*w, QEvent::MouseButtonDblClick, inVolume, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(p.panes[0].height, 0);
    EXPECT_GT(p.panes[1].height, volume * 2);
    Mouse(*w, QEvent::MouseButtonDblClick, inVolume, Qt::LeftButton, Qt::LeftButton);
    EXPECT_FLOAT_EQ(p.panes[1].height, volume);
    EXPECT_EQ(p.period, kPeriodDay);
}

TEST_F(ChartCursorQt, MultiPictureViewsAndBackToOnePicture) {
    auto w = Widget();
    w->SetPeriod(kPeriodWeek);
    // Alt+W: the market's securities from the current one, two here, each in the week period.
    Key(*w, Qt::Key_W, Qt::AltModifier);
    ASSERT_EQ(w->view().pictureCount(), 2);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("多股票组合"));
    EXPECT_EQ(w->view().picture(1).security.id.codeText(), "600600");
    EXPECT_EQ(w->view().picture(1).period, kPeriodWeek);
    EXPECT_EQ(w->view().picture(1).panes.size(), 2u);
    Key(*w, Qt::Key_Space);
    EXPECT_EQ(w->view().pictureCount(), 1);
    EXPECT_EQ(w->view().picture(0).security.id.codeText(), "600519");

    // Ctrl+W: the security in nine periods; a double-click on the fifth shows it alone.
    Key(*w, Qt::Key_W, Qt::ControlModifier);
    ASSERT_EQ(w->view().pictureCount(), 9);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("多周期组合"));
    EXPECT_EQ(w->view().picture(0).period, kPeriodTime);
    EXPECT_EQ(w->view().picture(8).period, kPeriodMonth);
    Spin(50);
    w->grab().save(QStringLiteral(TESSARO_BINARY_DIR "/chart_multi_period.png"));
    const GraphPicture& fifth = w->view().picture(4);
    ASSERT_FALSE(fifth.panes.empty());
    const QPoint inside(RoundPixel(fifth.panes[0].rects.draw.left) + 20, RoundPixel(fifth.panes[0].rects.draw.top) + 20);
    Mouse(*w, QEvent::MouseButtonDblClick, inside, Qt::LeftButton, Qt::LeftButton);
    ASSERT_EQ(w->view().pictureCount(), 1);
    EXPECT_EQ(w->view().picture(0).period, kPeriodMin30);
    EXPECT_TRUE(w->windowTitle().startsWith(QStringLiteral("贵州茅台")));
}

}  // namespace
}  // namespace tessaro::chart
