#include "ui/status_panes.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

namespace tessaro {

namespace {
constexpr int kLogoWidthPerHeight = 4;
QColor FromRef(ColorRef c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }
}  // namespace

StatusPanes::StatusPanes(QWidget* parent) : QWidget(parent) {
    setObjectName("statusPanes");
    // The status font: the frame font made two pixels smaller.
    font_ = QApplication::font();
    int px = QFontInfo(font_).pixelSize();
    font_.setPixelSize(std::max(9, px - 2));
    QFontMetrics fm(font_);
    e_ = fm.horizontalAdvance(QLatin1Char('e'));
    w_ = fm.horizontalAdvance(QStringLiteral("上证"));
    widths_ = ComputeStatusPaneWidths(e_, w_);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    scheme_ = BuiltInSchemes()[0];
    sh_ = FormatIndexPane(true, std::nullopt);
    sz_ = FormatIndexPane(false, std::nullopt);
    connection_ = QString::fromStdString(ConnectionPaneText(ConnectionPaneState::NoSocket, {}));
}

QSize StatusPanes::sizeHint() const {
    QFontMetrics fm(font_);
    int h = StatusBarHeight(fm.height());
    return QSize(h * kLogoWidthPerHeight + widths_.sh + widths_.sz + widths_.connection + 100, h);
}

void StatusPanes::setScheme(const ColorScheme& scheme) {
    scheme_ = scheme;
    update();
}

void StatusPanes::setIndex(bool sh, const IndexPaneText& text) {
    (sh ? sh_ : sz_) = text;
    update(rects_[sh ? kPaneSh : kPaneSz]);
}

void StatusPanes::setTicker(const QString& text) {
    ticker_text_ = text;
    Layout();
    update();
}

void StatusPanes::setConnection(const QString& text) {
    if (text == connection_) return;
    connection_ = text;
    update(rects_[kPaneConnection]);
}

void StatusPanes::stepTicker() {
    int before = ticker_.x();
    ticker_.Step(pointerOver_);
    if (ticker_.x() != before) update(rects_[kPaneTicker]);
}

QString StatusPanes::paneText(int pane) const {
    auto index = [](const IndexPaneText& t) {
        QStringList parts{QString::fromStdString(t.caption), QString::fromStdString(t.last)};
        if (!t.change.empty()) parts << QString::fromStdString(t.change);
        if (!t.amount.empty()) parts << QString::fromStdString(t.amount);
        return parts.join(QLatin1Char(' '));
    };
    switch (pane) {
        case kPaneLogo: return QStringLiteral("Tessaro");
        case kPaneSh: return index(sh_);
        case kPaneSz: return index(sz_);
        case kPaneTicker: return ticker_text_;
        case kPaneConnection: return connection_;
        default: return {};
    }
}

QRect StatusPanes::paneRect(int pane) const { return pane >= 0 && pane < kStatusPaneCount ? rects_[pane] : QRect(); }

void StatusPanes::Layout() {
    int h = height();
    int logo = h * kLogoWidthPerHeight;
    int x = 0;
    rects_[kPaneLogo] = QRect(x, 0, logo, h);
    x += logo;
    rects_[kPaneSh] = QRect(x, 0, widths_.sh, h);
    x += widths_.sh;
    rects_[kPaneSz] = QRect(x, 0, widths_.sz, h);
    x += widths_.sz;
    int tickerWidth = std::max(0, width() - x - widths_.connection);
    rects_[kPaneTicker] = QRect(x, 0, tickerWidth, h);
    x += tickerWidth;
    rects_[kPaneConnection] = QRect(x, 0, std::max(0, width() - x), h);
    ticker_.SetGeometry(tickerWidth, QFontMetrics(font_).horizontalAdvance(ticker_text_));
}

void StatusPanes::resizeEvent(QResizeEvent*) { Layout(); }

void StatusPanes::enterEvent(QEnterEvent*) { pointerOver_ = true; }
void StatusPanes::leaveEvent(QEvent*) { pointerOver_ = false; }

void StatusPanes::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rects_[kPaneConnection].contains(event->position().toPoint()))
        emit connectionClicked();
}

QColor StatusPanes::Color(int index) const { return FromRef(scheme_.colors[index]); }

void StatusPanes::paintEvent(QPaintEvent*) {
    if (buffer_.size() != size() * devicePixelRatioF()) {
        buffer_ = QImage(size() * devicePixelRatioF(), QImage::Format_RGB32);
        buffer_.setDevicePixelRatio(devicePixelRatioF());
    }
    {
        QPainter p(&buffer_);
        p.setFont(font_);
        p.fillRect(rect(), Color(kColorBackground));
        PaintLogo(p, rects_[kPaneLogo]);
        PaintTicker(p, rects_[kPaneTicker]);
        PaintIndex(p, rects_[kPaneSh], sh_, 7 * e_);
        PaintIndex(p, rects_[kPaneSz], sz_, 8 * e_);
        PaintConnection(p, rects_[kPaneConnection]);
        // Pane frames.
        p.setPen(Color(kColorAxis));
        for (const QRect& r : rects_)
            if (r.width() > 0) p.drawRect(r.adjusted(0, 0, -1, -1));
    }
    QPainter out(this);
    out.drawImage(0, 0, buffer_);
}

void StatusPanes::PaintLogo(QPainter& p, const QRect& r) {
    if (r.width() <= 0) return;
    // The logo stretched to the pane.
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, QColor(180, 20, 30));
    g.setColorAt(1, QColor(240, 170, 40));
    p.fillRect(r.adjusted(1, 1, -1, -1), g);
    QFont f = font_;
    f.setBold(true);
    f.setItalic(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(r, Qt::AlignCenter, QStringLiteral("Tessaro"));
    p.setFont(font_);
}

void StatusPanes::PaintIndex(QPainter& p, const QRect& r, const IndexPaneText& t, int valueWidth) {
    if (r.width() <= 0) return;
    QColor valueColor = t.direction > 0   ? Color(kColorListUp)
                        : t.direction < 0 ? Color(kColorListDown)
                                          : Color(kColorListFlat);
    int x = r.x() + 2;
    QRect caption(x, r.y(), w_, r.height());
    p.setPen(Color(kColorChartText));
    p.drawText(caption, Qt::AlignVCenter | Qt::AlignLeft, QString::fromStdString(t.caption));
    x += w_;
    QRect value(x, r.y(), valueWidth, r.height());
    p.setPen(valueColor);
    p.drawText(value, Qt::AlignVCenter | Qt::AlignRight, QString::fromStdString(t.last));
    x += valueWidth;
    QRect change(x, r.y(), valueWidth + 5, r.height());
    p.drawText(change, Qt::AlignVCenter | Qt::AlignRight, QString::fromStdString(t.change));
    x += valueWidth + 5;
    QRect amount(x, r.y(), r.right() - x - 2, r.height());
    p.setPen(Color(kColorChartText));
    p.drawText(amount, Qt::AlignVCenter | Qt::AlignRight, QString::fromStdString(t.amount));
}

void StatusPanes::PaintTicker(QPainter& p, const QRect& r) {
    if (r.width() <= 0 || ticker_text_.isEmpty()) return;
    p.save();
    p.setClipRect(r.adjusted(1, 1, -1, -1));
    p.setPen(Color(kColorBigTitle));
    QFontMetrics fm(font_);
    int baseline = r.y() + (r.height() + fm.ascent() - fm.descent()) / 2;
    p.drawText(r.x() + ticker_.x(), baseline, ticker_text_);
    p.restore();
}

void StatusPanes::PaintConnection(QPainter& p, const QRect& r) {
    if (r.width() <= 0) return;
    p.setPen(Color(kColorChartText));
    p.drawText(r.adjusted(4, 0, -4, 0), Qt::AlignVCenter | Qt::AlignHCenter, connection_);
}

}  // namespace tessaro
