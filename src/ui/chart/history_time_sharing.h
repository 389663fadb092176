// The history time-sharing window: the minute chart of one past trading day of a security,
// asked of the quote server day by day and drawn with the compact chart control. Page Down shows
// the next trading day, Page Up the one before, Esc closes the window. Each request carries a new
// serial; an answer to an older request is dropped, so quick paging never shows a day out of
// turn. For an index the day's detail (breadth and turnover by minute) is asked for after its
// minutes and shown under the tab "涨跌家数".
#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "app/color_scheme.h"
#include "app/paths.h"
#include "chart/compact_chart.h"
#include "chart/time_sharing.h"
#include "net/wire.h"
#include "net/wire_records.h"
#include "platform/bytes.h"

namespace tessaro {

class MarketStore;
class QuoteSession;

// "Y/M/D 星期W" of a day, e.g. "2025/6/13 星期五".
std::string HistoryDateText(StoreTime day);
// "%s(%s) %s [Page Dn后一日 Page Up 前一日 ESC 退出]" with name, code and date.
std::string HistoryCaption(const CodeEntry& security, StoreTime day);
// The served minutes (cumulative volume and amount, wire times) as minute bars with the volume
// and amount of each minute; a total that goes backwards gives the minute 0, not a negative.
std::vector<KLineRecord> DayMinutesToBars(const std::vector<MinuteRecord>& minutes);
// An index's day detail (14 bytes each: wire time, rising, unchanged and falling counts as
// uint16, turnover in units of 10 000 yuan as uint32) as its breadth table by minute slot
// (kMinuteSlots entries; figures 0 .. 2 the counts, value the turnover in yuan). Records of
// another day or outside the trading minutes are left out; empty when none is left.
std::vector<MinuteExtra> DayDetailToBreadth(const std::vector<DayDetailRecord>& records, StoreTime day);

class HistoryTimeSharingWindow : public QWidget {
    Q_OBJECT
public:
    struct Context {
        QuoteSession* session = nullptr;  // required
        const MarketStore* store = nullptr;
        AppPaths paths;                   // the day history gives each day's previous close
        uint32_t window = 0;              // the session's window number for the replies
        ColorScheme scheme;
    };
    explicit HistoryTimeSharingWindow(Context context, QWidget* parent = nullptr);
    ~HistoryTimeSharingWindow() override;

    // Shows `day` of `security` (the window is reused for another security or day).
    void ShowDay(const CodeEntry& security, StoreTime day);
    // -1 the trading day before the shown one, +1 the one after.
    void Step(int step);

    StoreTime day() const { return day_; }
    uint32_t pendingSerial() const { return pending_; }
    uint32_t pendingDetailSerial() const { return pendingDetail_; }
    const chart::TimeSharingPicture& picture() const { return chart_.picture(); }
    chart::CompactChart& compact() { return chart_; }
    // A reply for the window (the session calls it; tests may too).
    void OnPacket(const PacketHeader& header, ByteSpan packet);

signals:
    void dayShown(StoreTime day);
    // An index's detail arrived and was drawn (records kept).
    void detailShown(int records);
    // The compact chart's tab strip ("WM_GPHTABSELCHANGED", "WM_GPHTABDELTEITEM").
    void tabSelChanged(int tab);
    void tabDeleted(int tab);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void OnDayMinutes(ByteSpan packet);
    void OnDayDetail(ByteSpan packet);
    void Notify(const chart::CompactEvent& e);
    void Request(StoreTime day, int step);
    float PreviousClose(StoreTime day, float fallback) const;
    void Rebuild();

    Context context_;
    CodeEntry security_;
    StoreTime day_ = 0;
    uint32_t pending_ = 0;
    uint32_t pendingDetail_ = 0;
    chart::CompactChart chart_;
};

}  // namespace tessaro
