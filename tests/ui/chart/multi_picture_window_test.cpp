// 多股票组合 in the chart window of the main window: the pictures of the list's securities, the
// clicked one active with its name highlighted, and the window's security the active picture's.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include "chart/qt/chart_widget.h"
#include "formula/standard_library.h"
#include "market/market_store.h"
#include "ui/chart/chart_view_host.h"
#include "chart_window_support.h"

namespace tessaro {
namespace {

TEST(MultiPictureWindow, AltWShowsTheListAndAClickChoosesThePicture) {
    std::unique_ptr<Session> session = OpenChartSession();
    ASSERT_TRUE(session);
    ChartMainWindow shell(*session);
    MainWindow& window = shell.window;
    const std::vector<CodeEntry> all = session->store().ListSecurities(1);
    ASSERT_GE(all.size(), 4u);
    ASSERT_LT(all.size(), 9u);  // the shared market: fewer than nine, so a 2 x 2 grid
    ViewTarget target;
    target.security = all[0].id;
    auto* host = static_cast<ChartViewHost*>(window.OpenView(ViewKind::Chart, target));
    ASSERT_NE(host, nullptr);
    chart::ChartWidget& chart = host->chart();
    QApplication::processEvents();

    QKeyEvent altW(QEvent::KeyPress, Qt::Key_W, Qt::AltModifier);
    QApplication::sendEvent(&chart, &altW);
    ASSERT_EQ(chart.view().pictureCount(), 4);
    EXPECT_EQ(host->title(), QStringLiteral("多股票组合"));
    const chart::GraphPicture& fifth = chart.view().picture(3);
    const QPoint inside(chart::RoundPixel(fifth.panes[0].rects.draw.left) + 40,
                        chart::RoundPixel(fifth.panes[0].rects.draw.top) + 30);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(inside), QPointF(chart.mapToGlobal(inside)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&chart, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(inside), QPointF(chart.mapToGlobal(inside)), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&chart, &release);
    EXPECT_EQ(chart.activePicture(), 3);
    ASSERT_TRUE(host->currentSecurity());
    EXPECT_TRUE(SameSecurity(*host->currentSecurity(), all[3].id));
    QApplication::processEvents();
    window.grab().save(QStringLiteral(TESSARO_BINARY_DIR "/ui_chart_multi_stock.png"));
}

}  // namespace
}  // namespace tessaro
