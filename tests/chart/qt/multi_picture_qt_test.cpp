// The chart window with several pictures, offscreen: a click makes a picture active and the
// crosshair, keys and menus then act on it; a period switch reaches every picture of a
// 多股票组合 view and only the active one of a 多周期组合 view; the single picture's settings
// become the defaults the new pictures start from.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QThread>
#include <fstream>
#include <sstream>

#include "chart/kline_content.h"
#include "chart/qt/chart_widget.h"
#include "formula/standard_library.h"
#include "market/bars_csv.h"
#include "market/history.h"
#include "market/market_store.h"
#include "market/market_store_fixture.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"

namespace tessaro::chart {
namespace {

void Spin(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

void Key(QWidget& w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QCoreApplication::sendEvent(&w, &press);
}

void Click(QWidget& w, QPoint p) {
    QMouseEvent down(QEvent::MouseButtonPress, QPointF(p), QPointF(w.mapToGlobal(p)), Qt::LeftButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &down);
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(p), QPointF(w.mapToGlobal(p)), Qt::LeftButton, Qt::NoButton,
                   Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &up);
}

QPoint InsideMainPane(const GraphPicture& p) {
    return {RoundPixel(p.panes[0].rects.draw.left) + 30, RoundPixel(p.panes[0].rects.draw.top) + 20};
}

class MultiPictureQt : public ::testing::Test {
protected:
    void SetUp() override {
        for (FormulaRecord& r : BuildStandardLibrary().formulas) formulas.Put(std::move(r));
        paths = std::make_unique<AppPaths>(dir.path());
        store = std::make_unique<MarketStore>(*paths, settingsStore);
        ASSERT_TRUE(store->LoadAll());
        std::ifstream in(std::string(TESSARO_SOURCE_DIR) + "/tests/formula/data/600519-daily.csv");
        std::stringstream text;
        text << in.rdbuf();
        Series history;
        ParseBarsCsv(text.str(), history);
        // Four securities of one market sharing the same history.
        const char* codes[] = {"SH600519", "SH600600", "SH600601", "SH600602"};
        for (const char* code : codes) {
            SecurityId id;
            ParseSecurityText(code, id);
            ASSERT_TRUE(WriteHistory(*paths, id, kPeriodDay, std::span(history.bars), true));
            QuoteUpdate q = testing_store::MakeQuote(id, MakeStoreTime(2026, 2, 16, 10, 0), 100, 100, Utf8ToGbk(code + 2));
            q.entry.securityClass = kClassAShare;
            store->UpdateQuote(q);
        }
    }

    std::unique_ptr<ChartWidget> Widget() {
        ChartWidget::Context c;
        c.store = store.get();
        c.paths = *paths;
        c.formulas = &formulas;
        c.settings.multiPics = 4;
        c.defaults = &defaults;
        auto w = std::make_unique<ChartWidget>(c);
        w->resize(900, 600);
        EXPECT_TRUE(w->ShowSecurityText("SH600519"));
        w->show();
        Spin(100);
        return w;
    }

    void TearDown() override { ChartWidget::SetCrosshairSwitch(false); }

    TempDir dir;
    SettingsStore settingsStore;
    std::unique_ptr<AppPaths> paths;
    std::unique_ptr<MarketStore> store;
    FormulaSet formulas;
    SystemSettings defaults;
};

TEST_F(MultiPictureQt, AClickedPictureTakesTheCrosshairKeysMenusAndPeriods) {
    auto w = Widget();
    Key(*w, Qt::Key_W, Qt::AltModifier);  // 多股票组合 of the four securities
    ASSERT_EQ(w->view().pictureCount(), 4);
    EXPECT_EQ(w->activePicture(), 0);

    // A click in the fourth picture makes it active and puts the crosshair there.
    Click(*w, InsideMainPane(w->view().picture(3)));
    EXPECT_EQ(w->activePicture(), 3);
    EXPECT_EQ(w->view().active(), 3);
    ASSERT_TRUE(w->cursor().on);
    EXPECT_EQ(w->cursor().picture, 3);
    const int bar = w->cursor().bar;
    Key(*w, Qt::Key_Left);
    EXPECT_EQ(w->cursor().picture, 3);
    EXPECT_EQ(w->cursor().bar, bar - 1);
    // The mouse over another picture does not take the crosshair away from the active one.
    QMouseEvent move(QEvent::MouseMove, QPointF(InsideMainPane(w->view().picture(0))), QPointF(), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.get(), &move);
    EXPECT_EQ(w->cursor().picture, 3);

    // A formula from the menu goes to the active picture only.
    ASSERT_TRUE(w->AddFormula(kFormulaSubPane, "KDJ"));
    EXPECT_GE(FindIndicator(w->view(), 3, kFormulaSubPane, "KDJ"), 0);
    EXPECT_EQ(FindIndicator(w->view(), 0, kFormulaSubPane, "KDJ"), -1);
    // Escape closes the crosshair; the title the window shows is the active picture's security.
    Key(*w, Qt::Key_Escape);
    EXPECT_FALSE(w->cursor().on);

    // F8 in a 多股票组合 view: every picture takes the next period.
    Key(*w, Qt::Key_F8);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(w->view().picture(i).period, kPeriodWeek) << i;
    Key(*w, Qt::Key_PageDown);  // every picture steps on its own
    EXPECT_EQ(w->view().picture(0).security.id.codeText(), "600600");
    EXPECT_EQ(w->view().picture(3).security.id.codeText(), "600519");

    // 多周期组合: F8 changes the active picture only; Page Down moves them all together.
    Key(*w, Qt::Key_Space);
    Key(*w, Qt::Key_W, Qt::ControlModifier);
    ASSERT_EQ(w->view().pictureCount(), 4);
    Click(*w, InsideMainPane(w->view().picture(2)));
    EXPECT_EQ(w->activePicture(), 2);
    const Period first = w->view().picture(0).period;
    Key(*w, Qt::Key_F8);
    EXPECT_EQ(w->view().picture(2).period, NextPeriod(kPeriodMin5));
    EXPECT_EQ(w->view().picture(0).period, first);
    Key(*w, Qt::Key_PageDown);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(w->view().picture(i).security.id.codeText(), "600600") << i;
    Spin(50);
    w->grab().save(QStringLiteral(TESSARO_BINARY_DIR "/chart_multi_active.png"));
}

TEST_F(MultiPictureQt, TheSinglePicturesSettingsAreKeptAsDefaults) {
    auto w = Widget();
    ASSERT_TRUE(w->AddFormula(kFormulaSubPane, "KDJ"));  // joins the volume pane
    w->SetMainPercentage(true);
    w->SetPeriod(kPeriodMonth);
    const size_t panes = w->view().picture(0).panes.size();
    Key(*w, Qt::Key_W, Qt::AltModifier);
    ASSERT_EQ(w->view().pictureCount(), 4);
    EXPECT_EQ(defaults.cycle, 10u);
    EXPECT_EQ(defaults.coordType, 2u);
    EXPECT_EQ(defaults.areas, panes);
    EXPECT_EQ(FormatPaneList(defaults.kLinePanes[1]), "4\tVOL\t4\tKDJ\t");
    // The new pictures start from them: KDJ in the second pane, percentage mode, the period.
    EXPECT_GE(FindIndicator(w->view(), 3, kFormulaSubPane, "KDJ"), 0);
    EXPECT_EQ(w->view().picture(3).panes[0].scaleMode & 3, kScalePercentage);
    EXPECT_EQ(w->view().picture(3).period, kPeriodMonth);

    // Changes made to the pictures of the combination are not kept.
    w->SetMainPercentage(false);
    w->SetPeriod(kPeriodDay);
    Key(*w, Qt::Key_Space);
    ASSERT_EQ(w->view().pictureCount(), 1);
    EXPECT_EQ(w->view().picture(0).panes.size(), panes);
    EXPECT_GE(FindIndicator(w->view(), 0, kFormulaSubPane, "KDJ"), 0);
    EXPECT_EQ(defaults.coordType, 2u);

    // Closing the window with one picture keeps its settings.
    w->SetPeriod(kPeriodWeek);
    w.reset();
    EXPECT_EQ(defaults.cycle, 9u);
}

}  // namespace
}  // namespace tessaro::chart
