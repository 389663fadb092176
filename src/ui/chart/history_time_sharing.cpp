#include "ui/chart/history_time_sharing.h"

#include <QKeyEvent>
#include <QPainter>
#include <algorithm>
#include <cstdio>

#include "chart/qt/chart_painter.h"
#include "client/quote_session.h"
#include "market/history.h"
#include "net/security_handle.h"
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

HistoryTimeSharingWindow::HistoryTimeSharingWindow(Context context, QWidget* parent)
    : QWidget(parent), context_(std::move(context)) {
    chart::ChartFonts fonts(context_.scheme);
    chart::TimeSharingOptions o;
    o.scheme = context_.scheme;
    o.metrics = fonts.metrics();
    o.measure = fonts.measure();
    picture_.SetOptions(o);
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
    picture_.SetData(std::move(d));
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
    if (header.code != kCodeDayMinutes) return;
    if (header.serial != pending_) return;  // an answer to an older request
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
    picture_.SetData(std::move(d));
    setWindowTitle(QString::fromStdString(HistoryCaption(security_, day_)));
    Rebuild();
    emit dayShown(day_);
}

void HistoryTimeSharingWindow::Rebuild() {
    picture_.Layout({0, 0, static_cast<float>(width()), static_cast<float>(height())});
    picture_.Build();
    update();
}

void HistoryTimeSharingWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_PageDown: Step(1); return;
        case Qt::Key_PageUp: Step(-1); return;
        case Qt::Key_Escape: close(); return;
        default: QWidget::keyPressEvent(event);
    }
}

void HistoryTimeSharingWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    chart::ChartFonts fonts(context_.scheme);
    const std::vector<chart::Rect> all{{0, 0, width(), height()}};
    chart::PaintList(painter, picture_.mainList(), all, fonts);
    chart::PaintList(painter, picture_.volumeList(), all, fonts);
    chart::PaintList(painter, picture_.zdlList(), all, fonts);
    chart::PaintList(painter, picture_.frameList(), all, fonts);
}

void HistoryTimeSharingWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Rebuild();
}

}  // namespace tessaro
