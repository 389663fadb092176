#include "chart/qt/chart_painter.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>
#include <QRegion>
#include <cstring>
#include <vector>

#include "platform/text.h"

namespace tessaro::chart {
namespace {

QFont MakeFont(const LogFont& f) {
    QFont font;
    const QString face = QString::fromStdString(GbkToUtf8(FieldText(f.faceName)));
    // The scheme names Windows faces; the CJK fallback keeps Chinese texts readable.
    font.setFamilies({face, QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("WenQuanYi Micro Hei")});
    font.setPixelSize(std::clamp(f.height < 0 ? -f.height : f.height == 0 ? 12 : f.height, 6, 72));
    font.setBold(f.weight >= 600);
    font.setItalic(f.italic != 0);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

Qt::PenStyle QtStyle(PenStyle s) {
    switch (s) {
        case PenStyle::kDot: return Qt::DotLine;
        case PenStyle::kSparse4:
        case PenStyle::kSparse2: return Qt::CustomDashLine;
        case PenStyle::kNone: return Qt::NoPen;
        default: return Qt::SolidLine;
    }
}

QPen MakePen(const Primitive& p) {
    QPen pen(ToQColor(p.pen));
    pen.setWidth(p.penWidth <= 1 ? 0 : p.penWidth);
    pen.setStyle(QtStyle(p.penStyle));
    if (p.penStyle == PenStyle::kSparse4) pen.setDashPattern({1, 3});
    if (p.penStyle == PenStyle::kSparse2) pen.setDashPattern({1, 1});
    pen.setCapStyle(Qt::FlatCap);
    return pen;
}

int QtAlign(uint8_t a) {
    int f = (a & kAlignRight) ? Qt::AlignRight : (a & kAlignHCenter) ? Qt::AlignHCenter : Qt::AlignLeft;
    f |= (a & kAlignBottom) ? Qt::AlignBottom : (a & kAlignVCenter) ? Qt::AlignVCenter : Qt::AlignTop;
    return f;
}

}  // namespace

ChartFonts::ChartFonts(const ColorScheme& scheme)
    : chart_(MakeFont(scheme.fonts[kFontChart])), bigTitle_(MakeFont(scheme.fonts[kFontBigTitle])) {
    QFontMetrics m(chart_);
    // Axis labels are digits: cx is the widest of them, so that a label that fits by count fits.
    int digit = m.averageCharWidth();
    for (char c = '0'; c <= '9'; ++c) digit = std::max(digit, m.horizontalAdvance(QChar(c)));
    metrics_.cx = std::max(digit, 1);
    metrics_.cy = std::max(m.height(), 1);
    metrics_.bigTitleHeight = std::max(QFontMetrics(bigTitle_).height(), 1);
}

TextMeasure ChartFonts::measure() const {
    QFont font = chart_;
    return [font](const std::string& text) { return QFontMetrics(font).horizontalAdvance(QString::fromUtf8(text)); };
}

QFont ChartFonts::Font(uint8_t n) const {
    if (n == 0) return chart_;
    if (n == 1) return bigTitle_;
    QFont f = chart_;
    f.setPixelSize(n);
    return f;
}

void PaintList(QPainter& painter, const DisplayList& list, const std::vector<Rect>& rects, const ChartFonts& fonts) {
    if (rects.empty()) return;
    QRegion clip;
    Rect all;
    for (const Rect& r : rects) {
        clip += ToQRect(r);
        all = all.United(r);
    }
    painter.setClipRegion(clip);
    auto meets = [&](const Rect& b) {
        if (!b.Intersects(all)) return false;
        if (rects.size() == 1) return true;
        for (const Rect& r : rects)
            if (b.Intersects(r)) return true;
        return false;
    };
    std::vector<QPoint> pts;
    int font = -1;
    for (const Primitive& p : list.items()) {
        if (p.kind == PrimitiveKind::kClip) {
            painter.setClipRegion(p.box.empty() ? clip : clip.intersected(ToQRect(p.box)));
            continue;
        }
        if (!meets(list.Bounds(p))) continue;
        switch (p.kind) {
            case PrimitiveKind::kLine:
            case PrimitiveKind::kPolyline:
            case PrimitiveKind::kPolygon:
            case PrimitiveKind::kPixels: {
                const Point* from = list.pointsOf(p);
                pts.resize(p.count);
                for (uint32_t i = 0; i < p.count; ++i) pts[i] = QPoint(from[i].x, from[i].y);
                if (p.kind == PrimitiveKind::kPixels) {
                    painter.setPen(QPen(ToQColor(p.pen), 0));
                    painter.drawPoints(pts.data(), int(pts.size()));
                } else if (p.kind == PrimitiveKind::kPolygon) {
                    painter.setPen(MakePen(p));
                    painter.setBrush(p.filled ? QBrush(ToQColor(p.fill)) : QBrush(Qt::NoBrush));
                    painter.drawPolygon(pts.data(), int(pts.size()));
                } else {
                    painter.setPen(MakePen(p));
                    painter.drawPolyline(pts.data(), int(pts.size()));
                }
                break;
            }
            case PrimitiveKind::kRect: {
                const QRect r = ToQRect(p.box);
                if (r.isEmpty()) break;
                if (p.filled) painter.fillRect(r, ToQColor(p.fill));
                if (p.penStyle == PenStyle::kNone) break;
                if (r.width() <= 2 || r.height() <= 2) {
                    painter.fillRect(r, ToQColor(p.pen));  // a frame this thin is all frame
                    break;
                }
                painter.setPen(MakePen(p));
                painter.setBrush(Qt::NoBrush);
                painter.drawRect(r.adjusted(0, 0, -1, -1));
                break;
            }
            case PrimitiveKind::kEllipse: {
                const QRect r = ToQRect(p.box).adjusted(0, 0, -1, -1);
                painter.setPen(MakePen(p));
                painter.setBrush(p.filled ? QBrush(ToQColor(p.fill)) : QBrush(Qt::NoBrush));
                painter.drawEllipse(r);
                break;
            }
            case PrimitiveKind::kPie: {
                const QRect r = ToQRect(p.box).adjusted(0, 0, -1, -1);
                painter.setPen(Qt::NoPen);
                painter.setBrush(ToQColor(p.fill));
                if (p.spanAngle > 0) painter.drawPie(r, int(p.startAngle * 16), int(p.spanAngle * 16));
                painter.setPen(MakePen(p));
                painter.setBrush(Qt::NoBrush);
                painter.drawEllipse(r);
                break;
            }
            case PrimitiveKind::kText: {
                if (font != p.font) {
                    painter.setFont(fonts.Font(p.font));
                    font = p.font;
                }
                painter.setPen(ToQColor(p.pen));
                painter.drawText(ToQRect(p.box), QtAlign(p.align), QString::fromUtf8(list.text(p)));
                break;
            }
            case PrimitiveKind::kClip: break;
        }
    }
    painter.setClipRegion(clip);
}

void CopyPixels(const QImage& from, QImage& to, const QRect& rect) {
    if (from.size() != to.size() || from.format() != to.format()) return;
    const QRect r = rect.intersected(from.rect());
    if (r.isEmpty()) return;
    const int bytes = from.depth() / 8;
    for (int y = r.top(); y <= r.bottom(); ++y)
        std::memcpy(to.scanLine(y) + r.left() * bytes, from.constScanLine(y) + r.left() * bytes,
                    size_t(r.width()) * size_t(bytes));
}

void ChartCanvas::Resize(QSize size) {
    if (size == back_.size()) return;
    back_ = QImage(size, QImage::Format_RGB32);
    under_ = QImage(size, QImage::Format_RGB32);
    back_.fill(Qt::black);
    under_.fill(Qt::black);
}

void ChartCanvas::Paint(const ChartView& view, const Region& region, const ChartFonts& fonts) {
    if (back_.isNull()) return;
    QPainter painter(&back_);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    std::vector<Rect> rects;
    const Rect image{0, 0, back_.width(), back_.height()};
    for (const Rect& r : region.rects()) {
        const Rect c{std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, image.right), std::min(r.bottom, image.bottom)};
        if (c.empty()) continue;
        rects.push_back(c);
        // What no list covers stays the scheme's background.
        painter.fillRect(ToQRect(c), ToQColor(view.options().scheme.colors[kColorBackground]));
    }
    // One pass over the lists for all rectangles at once.
    view.ForEachList([&](const DisplayList& list) { PaintList(painter, list, rects, fonts); });
}

void ChartCanvas::PaintAll(const ChartView& view, const ChartFonts& fonts) {
    Region all;
    all.Add({0, 0, back_.width(), back_.height()});
    Paint(view, all, fonts);
}

void ChartCanvas::SaveUnder(const QRect& rect) { CopyPixels(back_, under_, rect); }
void ChartCanvas::RestoreUnder(const QRect& rect) { CopyPixels(under_, back_, rect); }

}  // namespace tessaro::chart
