// The chart window in the main window: opened for a security it shows its K-lines and the panes
// of the saved pane lists; the window asks the quote server for its data; tessaro --render writes a picture.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QProcess>

#include "chart/qt/chart_widget.h"
#include "formula/standard_library.h"
#include "market/market_store.h"
#include "ui/chart/chart_view_host.h"
#include "ui/chart/history_time_sharing.h"
#include "ui/quote_list/quote_list_window.h"
#include "chart_window_support.h"

namespace tessaro {
namespace {

TEST(ChartViewHost, OpensOnASecurityWithItsPanes) {
    std::unique_ptr<Session> session = OpenChartSession();
    ASSERT_TRUE(session);
    ChartMainWindow shell(*session);
    MainWindow& window = shell.window;
    const std::vector<CodeEntry> all = session->store().ListSecurities(1);
    ASSERT_FALSE(all.empty());
    ViewTarget target;
    target.security = all.front().id;
    View* view = window.OpenView(ViewKind::Chart, target);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->kind(), ViewKind::Chart);
    QApplication::processEvents();
    auto* host = static_cast<ChartViewHost*>(view);
    const chart::GraphPicture& p = host->chart().view().picture(0);
    EXPECT_FALSE(p.series.empty());
    // The saved pane lists of the built-in settings: two panes, K-lines with MA, and VOL.
    ASSERT_EQ(p.panes.size(), 2u);
    EXPECT_EQ(p.panes[0].indicators.at(0).formula.nameText(), "MA");
    EXPECT_EQ(p.panes[1].indicators.at(0).formula.nameText(), "VOL");
    EXPECT_TRUE(p.panes[1].indicators[0].result);
    EXPECT_TRUE(view->currentSecurity().has_value());
    EXPECT_TRUE(view->title().contains(QStringLiteral("日线")));
    window.grab().save(QStringLiteral(TESSARO_BINARY_DIR "/ui_chart_window.png"));

    // Ctrl+Enter opens the history time-sharing window on the newest bar's day, once.
    QKeyEvent ctrlEnter(QEvent::KeyPress, Qt::Key_Return, Qt::ControlModifier);
    QApplication::sendEvent(&host->chart(), &ctrlEnter);
    HistoryTimeSharingWindow* history = host->historyWindow();
    ASSERT_NE(history, nullptr);
    const StoreTime day = p.series.bars.back().time;
    EXPECT_EQ(history->windowTitle().toStdString(), HistoryCaption(p.security, day));
    QApplication::sendEvent(&host->chart(), &ctrlEnter);
    EXPECT_EQ(host->historyWindow(), history);
    // The time-sharing period shows the picture with its information panel.
    host->chart().SetPeriod(kPeriodTime);
    QApplication::processEvents();
    ASSERT_NE(p.timeSharing, nullptr);
    EXPECT_FALSE(p.panelList.empty());
    window.grab().save(QStringLiteral(TESSARO_BINARY_DIR "/ui_chart_time_sharing.png"));
}

// Enter on a row of the quote list opens the chart of that security.
TEST(ChartViewHost, OpensFromTheQuoteList) {
    std::unique_ptr<Session> session = OpenChartSession();
    ASSERT_TRUE(session);
    ChartMainWindow shell(*session, true);
    MainWindow& window = shell.window;
    View* list = window.OpenView(ViewKind::QuoteList, ViewTarget{CommandId::PriceBoard, std::nullopt, "沪市A股"});
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(list->currentSecurity());
    const SecurityId chosen = *list->currentSecurity();
    list->RunCommand(CommandId::Open);
    QApplication::processEvents();
    View* active = window.activeView();
    ASSERT_NE(active, nullptr);
    ASSERT_EQ(active->kind(), ViewKind::Chart);
    auto* chart = static_cast<ChartViewHost*>(active);
    ASSERT_TRUE(chart->currentSecurity());
    EXPECT_TRUE(SameSecurity(*chart->currentSecurity(), chosen));
    EXPECT_FALSE(chart->chart().view().picture(0).series.empty());
    window.grab().save(QStringLiteral(TESSARO_BINARY_DIR "/ui_chart_from_list.png"));
}

// A block row of the information panel opens its block in the quote list; the panel's shown
// flag and width go to the settings written at exit.
TEST(ChartViewHost, PanelOpensBlocksAndKeepsItsSettings) {
    std::unique_ptr<Session> session = OpenChartSession();
    ASSERT_TRUE(session);
    ChartMainWindow shell(*session, true);
    MainWindow& window = shell.window;
    std::optional<CodeEntry> stock;
    for (const CodeEntry& e : session->store().ListSecurities(1))
        if (e.securityClass != kClassIndex) stock = e;
    ASSERT_TRUE(stock);
    ViewTarget target;
    target.security = stock->id;
    auto* host = static_cast<ChartViewHost*>(window.OpenView(ViewKind::Chart, target));
    ASSERT_NE(host, nullptr);
    QApplication::processEvents();
    chart::ChartView& view = host->chart().view();
    ASSERT_TRUE(view.SetPanelMode(0, chart::kPanelModeBlocks));
    view.Update(4);
    const chart::GraphPicture& p = view.picture(0);
    ASSERT_FALSE(p.panelBlocks.empty());  // at least its market's rule block
    const chart::InfoPanelBlock block = p.panelBlocks.back();
    emit host->chart().openBlock(block.nameGbk);
    QApplication::processEvents();
    View* active = window.activeView();
    ASSERT_NE(active, nullptr);
    ASSERT_EQ(active->kind(), ViewKind::QuoteList);
    EXPECT_TRUE(active->title().contains(QString::fromStdString(block.name))) << active->title().toStdString();

    emit host->chart().infoPanelChanged(false, 300);
    EXPECT_FALSE(session->settings().stkInfo);
    EXPECT_EQ(session->settings().stkInfoWidth, 300u);
}

// The chart pages through the quote list's rows in their display order, wrapping at both ends.
TEST(ChartViewHost, PagesThroughTheListItWasOpenedFrom) {
    std::unique_ptr<Session> session = OpenChartSession();
    ASSERT_TRUE(session);
    ChartMainWindow shell(*session, true);
    MainWindow& window = shell.window;
    auto* list = static_cast<QuoteListWindow*>(
        window.OpenView(ViewKind::QuoteList, ViewTarget{CommandId::PriceBoard, std::nullopt, "沪市A股"}));
    ASSERT_NE(list, nullptr);
    // Sorted by price, so that the rows leave the market's code order.
    QuoteListModel& model = list->list().model();
    for (int c = 0; c < model.tableColumnCount(); ++c)
        if (model.Caption(c) == "现价") model.SetSort(c, true);
    ASSERT_GE(model.rowCount(), 3u);
    std::vector<SecurityId> rows;
    for (size_t i = 0; i < model.rowCount(); ++i) rows.push_back(model.rowAt(i).entry.id);
    model.Select(model.rowCount() - 1, SelectMode::Click);
    ASSERT_TRUE(SameSecurity(*list->currentSecurity(), rows.back()));
    list->RunCommand(CommandId::Open);
    QApplication::processEvents();
    auto* chart = static_cast<ChartViewHost*>(window.activeView());
    ASSERT_EQ(chart->kind(), ViewKind::Chart);
    auto at = [&] { return chart->chart().view().picture(0).security.id; };
    ASSERT_TRUE(SameSecurity(at(), rows.back()));
    QKeyEvent down(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
    QApplication::sendEvent(&chart->chart(), &down);
    EXPECT_TRUE(SameSecurity(at(), rows.front())) << "past the last row to the first";
    QApplication::sendEvent(&chart->chart(), &down);
    EXPECT_TRUE(SameSecurity(at(), rows[1]));
    QKeyEvent up(QEvent::KeyPress, Qt::Key_PageUp, Qt::NoModifier);
    QApplication::sendEvent(&chart->chart(), &up);
    QApplication::sendEvent(&chart->chart(), &up);
    EXPECT_TRUE(SameSecurity(at(), rows.back())) << "before the first row to the last";
}

TEST(RenderOption, WritesAPictureAndRefusesBadArguments) {
    std::unique_ptr<Session> session = OpenChartSession();
    ASSERT_TRUE(session);
    const QString security = QString::fromStdString(SecurityText(session->store().ListSecurities(1).front().id));
    const std::string& dir = SharedMarketDir();
    const QString out = QString::fromStdString(dir + "/../render.png");
    QProcess p;
    p.start(TESSARO_PROGRAM, {"--appdir", QString::fromStdString(dir), "--render", security, "--period", "week",
                              "--indicators", "MACD,KDJ", "--size", "800x600", "--bars", "60", "--out", out});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(QImage(out).size(), QSize(800, 600));

    p.start(TESSARO_PROGRAM, {"--appdir", QString::fromStdString(dir), "--render", security, "--size", "800", "--out", out});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 2);
    p.start(TESSARO_PROGRAM, {"--appdir", QString::fromStdString(dir), "--render", "SH999111", "--out", out});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(p.readAllStandardError().endsWith("tessaro: unknown security SH999111\n"));
}

}  // namespace
}  // namespace tessaro

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
