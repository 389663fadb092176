// The chart window live: tessaro-quoted serves a generated market on loopback, the quote
// client logs in over QTcpSocket, the chart's requests subscribe its security under "GVIEW",
// and the quotes the server pushes move the chart's last bar.
#include <gtest/gtest.h>

#include <filesystem>

#include "chart/qt/chart_widget.h"
#include "chart/time_sharing.h"
#include "client/chart_requests.h"
#include "market/history.h"
#include "test_support/live_market.h"

namespace tessaro::chart {
namespace {

TEST(ChartLive, QuotesFromTheServerMoveTheChart) {
    LiveMarket live;
    DemoMarketOptions demo;
    demo.securities = 6;
    demo.days = 60;
    demo.blocks = false;
    ASSERT_TRUE(live.Start(demo, true, {"--speed", "20"})) << live.error;
    MarketStore& store = *live.store;
    const AppPaths& paths = *live.paths;
    std::optional<CodeEntry> stock = live.Stock();
    ASSERT_TRUE(stock);
    // The client's day history stops ten days early: the chart's request brings the rest.
    Series history;
    ASSERT_TRUE(LoadHistory(paths, stock->id, kPeriodDay, history));
    ASSERT_GT(history.size(), 20u);
    history.resize(history.size() - 10);
    std::filesystem::remove(paths.historyFile(stock->id, kPeriodDay));
    ASSERT_TRUE(WriteHistory(paths, stock->id, kPeriodDay, std::span(history.bars), true));

    ChartWidget::Context context;
    context.store = &store;
    context.paths = paths;
    context.formulas = &live.formulas;
    ChartWidget chart(context);
    int arrived = 0;
    ChartRequests requests(*live.session, store, paths, 7, [&] {
        ++arrived;
        chart.OnDataArrived();
    });
    chart.SetDataRequester([&](const ChartWidget::DataNeed& need) { requests.Request(need.security, need.period, need.records); });
    chart.resize(900, 600);
    chart.show();
    chart.ShowSecurity(*stock);
    const size_t before = chart.view().picture(0).series.size();
    // The history request fills the ten missing days.
    ASSERT_TRUE(WaitFor([&] { return chart.view().picture(0).series.size() >= before + 10; }, 20000))
        << chart.view().picture(0).series.size() << " bars, " << arrived << " replies";
    // The "GVIEW" quotes move today's bar.
    const KLineRecord first = chart.view().picture(0).series.bars.back();
    EXPECT_TRUE(WaitFor(
        [&] {
            const KLineRecord& now = chart.view().picture(0).series.bars.back();
            return now.volume != first.volume || now.close != first.close;
        },
        20000));
}

TEST(ChartLive, TimeSharingLineGrowsMinuteByMinute) {
    LiveMarket live;
    DemoMarketOptions demo;
    demo.securities = 6;
    demo.days = 30;
    demo.blocks = false;
    ASSERT_TRUE(live.Start(demo, true, {"--speed", "60"})) << live.error;
    MarketStore& store = *live.store;
    const AppPaths& paths = *live.paths;
    std::optional<CodeEntry> stock = live.Stock();
    ASSERT_TRUE(stock);

    ChartWidget::Context context;
    context.store = &store;
    context.paths = paths;
    context.formulas = &live.formulas;
    ChartWidget chart(context);
    ChartRequests requests(*live.session, store, paths, 7, [&] { chart.OnDataArrived(); });
    chart.SetDataRequester([&](const ChartWidget::DataNeed& need) { requests.Request(need.security, need.period, need.records); });
    chart.resize(1000, 600);
    chart.show();
    chart.SetPeriod(kPeriodTime);
    chart.ShowSecurity(*stock);
    auto minutes = [&] {
        const TimeSharingPicture* t = chart.view().picture(0).timeSharing.get();
        return t ? t->data().minutes.size() : size_t{0};
    };
    ASSERT_TRUE(WaitFor([&] { return minutes() > 0; }, 20000)) << "no minutes arrived";
    const size_t first = minutes();
    const std::string shots = std::string(TESSARO_BINARY_DIR) + "/time_sharing_live_";
    chart.grab().save(QString::fromStdString(shots + "1.png"));
    // At sixty times the market's pace a minute passes every second: the line grows.
    ASSERT_TRUE(WaitFor([&] { return minutes() >= first + 3; }, 30000)) << first << " -> " << minutes();
    QCoreApplication::processEvents();
    chart.grab().save(QString::fromStdString(shots + "2.png"));
    const TimeSharingPicture& t = *chart.view().picture(0).timeSharing;
    ASSERT_FALSE(t.priceRuns().empty());
    size_t points = 0;
    for (const auto& run : t.priceRuns()) points += run.size();
    EXPECT_GE(points, first + 2);
}

}  // namespace
}  // namespace tessaro::chart
