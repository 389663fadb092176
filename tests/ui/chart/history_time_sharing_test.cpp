// The history time-sharing window against tessaro-quoted: the served day, Page Up to the day
// before, an answer to an older request dropped; the caption and the minute conversion.
#include <gtest/gtest.h>

#include <QMouseEvent>
#include <cmath>
#include <cstdlib>

#include "platform/text.h"
#include "test_support/live_market.h"
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

DayDetailRecord Detail(uint32_t wire, uint16_t up, uint16_t flat, uint16_t down, uint32_t turnover) {
    DayDetailRecord r;
    StoreLE<uint32_t>(r.bytes, wire);
    StoreLE<uint16_t>(r.bytes + 4, up);
    StoreLE<uint16_t>(r.bytes + 6, flat);
    StoreLE<uint16_t>(r.bytes + 8, down);
    StoreLE<uint32_t>(r.bytes + 10, turnover);
    return r;
}

TEST(HistoryTimeSharing, DayDetailBecomesTheBreadthTable) {
    const StoreTime day = MakeStoreTime(2025, 6, 13);
    const std::vector<DayDetailRecord> records = {
        Detail(StoreToWireTime(day + 34260), 600, 100, 300, 12),        // 09:31 -> slot 1
        Detail(StoreToWireTime(day + 46860), 40000, 0, 5, 7),           // 13:01 -> slot 122; a count past int16
        Detail(StoreToWireTime(day + 86400 + 34260), 1, 1, 1, 1),       // the next day
        Detail(StoreToWireTime(day + 30000), 1, 1, 1, 1),               // before the open
        Detail(0, 1, 1, 1, 1),                                          // no time
    };
    const std::vector<MinuteExtra> b = DayDetailToBreadth(records, day + 40000);
    ASSERT_EQ(b.size(), static_cast<size_t>(kMinuteSlots));
    EXPECT_EQ(b[1].figures[0], 600);
    EXPECT_EQ(b[1].figures[1], 100);
    EXPECT_EQ(b[1].figures[2], 300);
    EXPECT_FLOAT_EQ(b[1].value, 120000);  // 12 x 10 000 yuan
    EXPECT_EQ(b[122].figures[0], 32767);
    EXPECT_EQ(b[122].figures[2], 5);
    int used = 0;
    for (const MinuteExtra& f : b) used += f.time != 0;
    EXPECT_EQ(used, 2);
    // With g = (600 - 300) / 1000 the breadth figure of 09:31 is the hand value 0.3.
    EXPECT_FLOAT_EQ(chart::BreadthG(b[1].figures[0], b[1].figures[1], b[1].figures[2]), 0.3f);
    // Nothing of the day: no table at all, so the window shows no breadth.
    EXPECT_TRUE(DayDetailToBreadth({records[2], records[4]}, day).empty());
    EXPECT_TRUE(DayDetailToBreadth({}, day).empty());
}

TEST(HistoryTimeSharing, PagesThroughServedDays) {
    LiveMarket live;
    DemoMarketOptions demo;
    demo.securities = 6;
    demo.days = 20;
    demo.oneMinuteDays = 4;
    demo.blocks = false;
    ASSERT_TRUE(live.Start(demo, false)) << live.error;
    MarketStore& store = *live.store;
    std::optional<CodeEntry> stock = live.Stock();
    ASSERT_TRUE(stock);

    HistoryTimeSharingWindow::Context c;
    c.session = live.session.get();
    c.store = &store;
    c.paths = *live.paths;
    c.window = 41;
    c.scheme = BuiltInSchemes()[0];
    HistoryTimeSharingWindow window(c);
    std::vector<StoreTime> shown;
    QObject::connect(&window, &HistoryTimeSharingWindow::dayShown, [&](StoreTime d) { shown.push_back(d); });
    window.resize(800, 500);
    window.show();

    // The trading day before today, from the server's one-minute history.
    const std::vector<StoreTime> days = DemoTradingDays(live.demo.today, 2);
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
    Spin(500);  // time for the other answer too
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], before);
    EXPECT_EQ(window.day(), before);

    // An index on today: after its minutes the day's detail is asked for and drawn under its tab.
    std::optional<CodeEntry> index;
    for (const CodeEntry& e : store.ListSecurities(1))
        if (e.securityClass == kClassIndex) index = e;
    ASSERT_TRUE(index);
    std::vector<int> details;
    QObject::connect(&window, &HistoryTimeSharingWindow::detailShown, [&](int n) { details.push_back(n); });
    shown.clear();
    window.ShowDay(*index, days[2] + 3600);
    ASSERT_TRUE(WaitFor([&] { return !details.empty(); }, 20000));
    EXPECT_EQ(shown.back(), days[2]);
    EXPECT_GT(details[0], 0);
    EXPECT_EQ(window.pendingDetailSerial(), 0u);
    EXPECT_FALSE(window.picture().data().breadth.empty());
    ASSERT_EQ(window.compact().tabCount(), 2);
    EXPECT_EQ(window.compact().tabCaption(1), "涨跌家数");
    // A stock asks for no detail.
    window.ShowDay(*stock, days[2] + 3600);
    shown.clear();
    ASSERT_TRUE(WaitFor([&] { return !shown.empty(); }, 20000));
    EXPECT_EQ(window.pendingDetailSerial(), 0u);
    EXPECT_EQ(window.compact().tabCount(), 1);  // no 涨跌家数 for a stock
    if (const char* out = std::getenv("TESSARO_SHOTS")) {
        window.ShowDay(*index, days[2] + 3600);
        details.clear();
        WaitFor([&] { return !details.empty(); }, 20000);
        window.resize(800, 500);
        QCoreApplication::processEvents();
        auto click = [&](QPoint p) {
            QMouseEvent e(QEvent::MouseButtonPress, QPointF(p), QPointF(window.mapToGlobal(p)), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&window, &e);
        };
        const chart::Rect tab = window.compact().tabRects().at(1);
        click({tab.left + 3, tab.top + 3});
        click({150, 100});
        window.grab().save(QString::fromUtf8(out) + "/history_index.png");
    }
}

}  // namespace
}  // namespace tessaro
