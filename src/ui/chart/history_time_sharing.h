// The history time-sharing window: the minute chart of one past trading day of a security,
// asked of the quote server day by day. Page Down shows the next trading day, Page Up the one
// before, Esc closes the window. Each request carries a new serial; an answer to an older
// request is dropped, so quick paging never shows a day out of turn.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "app/color_scheme.h"
#include "app/paths.h"
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
    const chart::TimeSharingPicture& picture() const { return picture_; }
    // A reply for the window (the session calls it; tests may too).
    void OnPacket(const PacketHeader& header, ByteSpan packet);

signals:
    void dayShown(StoreTime day);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Request(StoreTime day, int step);
    float PreviousClose(StoreTime day, float fallback) const;
    void Rebuild();

    Context context_;
    CodeEntry security_;
    StoreTime day_ = 0;
    uint32_t pending_ = 0;
    chart::TimeSharingPicture picture_;
};

}  // namespace tessaro
