// The history time-sharing window against tessaro-quoted: the served day, Page Up to the day
// before, an answer to an older request dropped; the caption and the minute conversion.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <cmath>

#include "client/qt/qt_client_transport.h"
#include "client/quote_session.h"
#include "formula/formula_set.h"
#include "formula/standard_library.h"
#include "market/base_files.h"
#include "market/demo_market.h"
#include "market/market_store.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"
#include "test_support/quoted_process.h"
#include "ui/chart/history_time_sharing.h"

namespace tessaro {
namespace {

TEST(HistoryTimeSharing, CaptionAndMinutes) {
    CodeEntry e;
    ParseSecurityText("SH600000", e.id);
    e.setName(Utf8ToGbk("浦发银行"));
    const StoreTime day = MakeStoreTime(2025, 6, 13);  // a Friday
    EXPECT_EQ(HistoryDateText(day + 3600), "2025/6/13 星期五");
    EXPECT_EQ(HistoryCaption(e, day), "浦发银行(600000) 2025/6/13 星期五 [Page Dn后一日 Page Up 前一日 ESC 退出]");
    EXPECT_EQ(HistoryDateText(MakeStoreTime(2025, 6, 15)), "2025/6/15 星期日");

    const uint32_t t0 = StoreToWireTime(day + 34260);
    const std::vector<MinuteRecord> m = {{t0, 10, 100, 100000}, {t0 + 60, 10.1f, 150, 150500},
                                         {t0 + 120, 10.2f, 140, 140000},  // the total goes backwards
                                         {t0 + 180, 10.3f, NAN, NAN}, {t0 + 240, 10.3f, 170, 171000}};
    const std::vector<KLineRecord> bars = DayMinutesToBars(m);
    ASSERT_EQ(bars.size(), 5u);
    EXPECT_EQ(bars[0].time, day + 34260);
    EXPECT_FLOAT_EQ(bars[0].volume, 100);
    EXPECT_FLOAT_EQ(bars[1].volume, 50);
    EXPECT_FLOAT_EQ(bars[1].amount, 50500);
    EXPECT_FLOAT_EQ(bars[2].volume, 0);
    EXPECT_FLOAT_EQ(bars[3].volume, 0);
    EXPECT_FLOAT_EQ(bars[4].volume, 20);
    EXPECT_FLOAT_EQ(bars[4].close, 10.3f);
}

template <class Done>
bool WaitFor(Done done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return done();
}

TEST(HistoryTimeSharing, PagesThroughServedDays) {
    TempDir temp;
    DemoMarketOptions demo;
    demo.outDir = temp.path();
    demo.securities = 6;
    demo.days = 20;
    demo.oneMinuteDays = 4;
    demo.blocks = false;
    ASSERT_TRUE(GenerateDemoMarket(demo));
    QuotedServer server;
    ASSERT_TRUE(server.Start(demo.outDir)) << server.process.readAllStandardError().toStdString();

    SettingsStore settings;
    AppPaths paths(demo.outDir);
    MarketStore store(paths, settings);
    store.SetBaseFileLoader([&paths](MarketStore& s) { LoadBaseFiles(s, paths); });
    ASSERT_TRUE(store.LoadAll());
    FormulaSet formulas;
    for (FormulaRecord& r : BuildStandardLibrary().formulas) formulas.Put(std::move(r));
    std::optional<CodeEntry> stock;
    for (const CodeEntry& e : store.ListSecurities(1))
        if (e.securityClass != kClassIndex) stock = e;
    ASSERT_TRUE(stock);

    QtClientTransport net;
    QuoteSession session(ClientContext{paths, &store, &formulas, &settings, nullptr}, net, {});
    net.Attach(&session);
    session.Connect(ConnectTarget{"loopback", "127.0.0.1", server.port, {}}, LoginAccount{}, net.NowMs());
    ASSERT_TRUE(WaitFor([&] { return session.ready(); }, 30000));

    HistoryTimeSharingWindow::Context c;
    c.session = &session;
    c.store = &store;
    c.paths = paths;
    c.window = 41;
    c.scheme = BuiltInSchemes()[0];
    HistoryTimeSharingWindow window(c);
    std::vector<StoreTime> shown;
    QObject::connect(&window, &HistoryTimeSharingWindow::dayShown, [&](StoreTime d) { shown.push_back(d); });
    window.resize(800, 500);
    window.show();

    // The trading day before today, from the server's one-minute history.
    const std::vector<StoreTime> days = DemoTradingDays(demo.today, 2);
    ASSERT_EQ(days.size(), 3u);
    const StoreTime yesterday = days[1], before = days[0];
    window.ShowDay(*stock, yesterday + 3600);
    ASSERT_TRUE(WaitFor([&] { return !shown.empty(); }, 20000));
    EXPECT_EQ(shown.back(), yesterday);
    EXPECT_GE(window.picture().data().minutes.size(), 200u);
    EXPECT_GT(window.picture().data().previousClose, 0);
    EXPECT_EQ(window.windowTitle().toStdString(), HistoryCaption(*stock, yesterday));

    // Page Up twice before any answer: both ask for the day before; only the newer answer counts.
    shown.clear();
    window.Step(-1);
    const uint32_t first = window.pendingSerial();
    window.Step(-1);
    EXPECT_NE(window.pendingSerial(), first);
    ASSERT_TRUE(WaitFor([&] { return !shown.empty(); }, 20000));
    WaitFor([] { return false; }, 500);  // time for the other answer too
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], before);
    EXPECT_EQ(window.day(), before);
    session.Disconnect(net.NowMs());
}

}  // namespace
}  // namespace tessaro
