#include "ui/chart/history_time_sharing.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cstdio>

#include "chart/qt/chart_painter.h"
#include "client/quote_session.h"
#include "market/history.h"
#include "net/security_handle.h"
#include "market/periods.h"
#include "net/startup_messages.h"
#include "platform/text.h"

namespace tessaro {

std::string HistoryDateText(StoreTime day) {
    static const char* const kWeekdays[] = {"日", "一", "二", "三", "四", "五", "六"};
    const int32_t d = static_cast<int32_t>(StoreDay(day));
    const CivilDate c = CivilFromDay(d);
    const int w = WeekdayOfDay(d);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d/%d/%d 星期%s", c.year, c.month, c.day, kWeekdays[w >= 0 && w < 7 ? w : 0]);
    return buf;
}

std::string HistoryCaption(const CodeEntry& security, StoreTime day) {
    return GbkToUtf8(security.nameText()) + "(" + std::string(security.id.codeText()) + ") " + HistoryDateText(day) +
           " [Page Dn后一日 Page Up 前一日 ESC 退出]";
}

std::vector<KLineRecord> DayMinutesToBars(const std::vector<MinuteRecord>& minutes) {
    std::vector<KLineRecord> out;
    out.reserve(minutes.size());
    double volume = 0, amount = 0;
    for (const MinuteRecord& m : minutes) {
        KLineRecord b;
        b.time = WireToStoreTime(m.time);
        b.open = b.high = b.low = b.close = m.price;
        const double v = std::isfinite(m.volume) ? m.volume : volume;
        const double a = std::isfinite(m.amount) ? m.amount : amount;
        b.volume = static_cast<float>(std::max(v - volume, 0.0));
        b.amount = static_cast<float>(std::max(a - amount, 0.0));
        volume = std::max(volume, v);
        amount = std::max(amount, a);
        out.push_back(b);
    }
    return out;
}

std::vector<MinuteExtra> DayDetailToBreadth(const std::vector<DayDetailRecord>& records, StoreTime day) {
    std::vector<MinuteExtra> out(kMinuteSlots);
    bool any = false;
    for (const DayDetailRecord& r : records) {
        const uint32_t wire = LoadLE<uint32_t>(r.bytes);
        const StoreTime t = WireToStoreTime(wire);
        if (wire == 0 || StoreDay(t) != StoreDay(day)) continue;
        const int slot = MinuteSlotIndex(TimeOfDay(t), false);
        if (slot < 0 || slot >= kMinuteSlots) continue;
        MinuteExtra& f = out[static_cast<size_t>(slot)];
        f.time = wire;
        for (int k = 0; k < 3; ++k)
            f.figures[k] = static_cast<int16_t>(std::min<uint16_t>(LoadLE<uint16_t>(r.bytes + 4 + 2 * k), 32767));
        f.value = static_cast<float>(LoadLE<uint32_t>(r.bytes + 10)) * 10000.0f;
        any = true;
    }
    if (!any) out.clear();
    return out;
}

namespace {

chart::TimeSharingOptions ChartOptionsFor(const ColorScheme& scheme) {
    chart::ChartFonts fonts(scheme);
    chart::TimeSharingOptions o;
    o.scheme = scheme;
    o.metrics = fonts.metrics();
    o.measure = fonts.measure();
    return o;
}

}  // namespace

HistoryTimeSharingWindow::HistoryTimeSharingWindow(Context context, QWidget* parent)
    : QWidget(parent), context_(std::move(context)), chart_({}, "TEND", ChartOptionsFor(context_.scheme)) {
    chart_.AddSubFormula(chart::kCompactVolumeFormula);
    chart_.SetLabels({"成交量"});
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(300, 200);
    context_.session->RegisterWindow(context_.window,
                                     [this](const PacketHeader& h, ByteSpan p) { OnPacket(h, p); });
}

HistoryTimeSharingWindow::~HistoryTimeSharingWindow() { context_.session->UnregisterWindow(context_.window); }

void HistoryTimeSharingWindow::ShowDay(const CodeEntry& security, StoreTime day) {
    security_ = security;
    day_ = StartOfDay(day);
    chart::TimeSharingData d;
    d.security = security;
    d.today = day_;
    chart_.SetData(std::move(d));
    if (security.securityClass != kClassIndex) {
        // The breadth tab belongs to an index shown before.
        for (int i = chart_.tabCount() - 1; i >= 0; --i)
            if (chart_.tabFormula(i) == chart::kCompactBreadthFormula) chart_.DeleteTab(i);
    }
    setWindowTitle(QString::fromStdString(HistoryCaption(security_, day_)));
    Rebuild();
    Request(day_, 0);
}

void HistoryTimeSharingWindow::Step(int step) {
    if (day_ != 0) Request(day_, step < 0 ? -1 : 1);
}

void HistoryTimeSharingWindow::Request(StoreTime day, int step) {
    DayMinutesRequest m;
    m.handle = EncodeSecurityHandle(security_.id);
    m.day = StoreToWireTime(day);
    m.step = step;
    // A new serial: whatever answers the requests before it is dropped.
    const uint32_t serial = context_.session->Send(m, context_.window);
    if (serial != 0) pending_ = serial;
    // Detail still awaited belongs to the day (or the security) shown before.
    pendingDetail_ = 0;
}

float HistoryTimeSharingWindow::PreviousClose(StoreTime day, float fallback) const {
    Series days;
    if (LoadHistory(context_.paths, security_.id, kPeriodDay, days)) {
        for (size_t i = days.size(); i > 0; --i)
            if (StoreDay(days.bars[i - 1].time) < StoreDay(day)) return days.bars[i - 1].close;
    }
    return fallback;
}

void HistoryTimeSharingWindow::OnPacket(const PacketHeader& header, ByteSpan packet) {
    if (header.code == kCodeDayMinutes && header.serial == pending_ && pending_ != 0) OnDayMinutes(packet);
    // Detail of an older day (or asked before the last page turn) is not this day's.
    if (header.code == kCodeDayDetail && header.serial == pendingDetail_ && pendingDetail_ != 0) OnDayDetail(packet);
}

void HistoryTimeSharingWindow::OnDayMinutes(ByteSpan packet) {
    DayMinutesReply reply;
    if (!reply.Read(packet)) return;
    pending_ = 0;
    if (reply.day == 0) return;  // no such trading day: the shown day stays
    KLineRecord dayBar;
    BarRecord wire;
    std::memcpy(&wire, reply.dayRecord.bytes, sizeof wire);
    const bool hasDay = DecodeBarRecord(wire, dayBar);
    day_ = StartOfDay(WireToStoreTime(reply.day));
    chart::TimeSharingData d;
    d.security = security_;
    d.today = day_;
    d.minutes = DayMinutesToBars(reply.minutes);
    // Minutes of another day than the one served are not this day's.
    d.minutes.erase(std::remove_if(d.minutes.begin(), d.minutes.end(),
                                   [this](const KLineRecord& b) { return StoreDay(b.time) != StoreDay(day_); }),
                    d.minutes.end());
    d.previousClose = PreviousClose(day_, hasDay ? dayBar.open : 0);
    chart_.SetData(std::move(d));
    setWindowTitle(QString::fromStdString(HistoryCaption(security_, day_)));
    Rebuild();
    emit dayShown(day_);
    if (security_.securityClass == kClassIndex) {
        // An index: the day's detail, asked with the first word of the day record (its time).
        DayDetailRequest m;
        m.handle = EncodeSecurityHandle(security_.id);
        m.day = reply.dayRecordTime();
        const uint32_t serial = context_.session->Send(m, context_.window);
        if (serial != 0) pendingDetail_ = serial;
    }
}

void HistoryTimeSharingWindow::OnDayDetail(ByteSpan packet) {
    DayDetailReply reply;
    if (!reply.Read(packet)) return;
    pendingDetail_ = 0;
    chart::TimeSharingData d = chart_.picture().data();
    d.breadth = DayDetailToBreadth(reply.records, day_);
    const bool any = !d.breadth.empty();
    chart_.SetData(std::move(d));
    if (any && chart_.AddSubFormula(chart::kCompactBreadthFormula)) {
        std::vector<std::string> labels;
        for (int i = 0; i < chart_.tabCount(); ++i)
            labels.push_back(chart_.tabFormula(i) == chart::kCompactBreadthFormula ? "涨跌家数" : chart_.tabCaption(i));
        chart_.SetLabels(std::move(labels));
    }
    Rebuild();
    emit detailShown(any ? static_cast<int>(reply.records.size()) : 0);
}

void HistoryTimeSharingWindow::Rebuild() {
    chart_.SetRect({0, 0, width(), height()});
    chart_.Build();
    update();
}

void HistoryTimeSharingWindow::Notify(const chart::CompactEvent& e) {
    if (e.notice == chart::CompactNotice::kNone) return;
    Rebuild();
    if (e.notice == chart::CompactNotice::kTabSelChanged) emit tabSelChanged(e.tab);
    else emit tabDeleted(e.tab);
}

void HistoryTimeSharingWindow::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (event->button() != Qt::LeftButton) return;
    const chart::CompactEvent e = chart_.Click({p.x(), p.y()});
    if (e.notice != chart::CompactNotice::kNone) {
        Notify(e);
        return;
    }
    if (chart_.MoveCursor(p.x())) Rebuild();
}

void HistoryTimeSharingWindow::mouseMoveEvent(QMouseEvent* event) {
    // The cursor follows the mouse once it has been placed.
    if (chart_.cursorMinute() < 0) return;
    if (chart_.MoveCursor(event->position().toPoint().x())) Rebuild();
}

void HistoryTimeSharingWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_PageDown: Step(1); return;
        case Qt::Key_PageUp: Step(-1); return;
        case Qt::Key_Escape: close(); return;
        case Qt::Key_Left:
        case Qt::Key_Right:
            if (chart_.StepCursor(event->key() == Qt::Key_Left ? -1 : 1)) Rebuild();
            return;
        case Qt::Key_Delete: Notify(chart_.DeleteTab(chart_.currentTab())); return;
        default: QWidget::keyPressEvent(event);
    }
}

void HistoryTimeSharingWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    chart::ChartFonts fonts(context_.scheme);
    const std::vector<chart::Rect> all{{0, 0, width(), height()}};
    chart::PaintList(painter, chart_.list(), all, fonts);
}

void HistoryTimeSharingWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Rebuild();
}

}  // namespace tessaro
