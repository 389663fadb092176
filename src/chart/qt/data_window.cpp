#include "chart/qt/data_window.h"

#include <QPainter>

namespace tessaro::chart {

DataWindow::DataWindow(const ColorScheme& scheme, const QFont& font, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowDoesNotAcceptFocus), scheme_(scheme), font_(font) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    // 106 x 146 dialog units of a 10-point font.
    const QFontMetrics fm(font_);
    resize(fm.averageCharWidth() * 106 / 4 + 8, fm.height() * 146 / 8);
}

void DataWindow::SetRows(const QString& title, const std::array<DataRow, kDataWindowRows>& rows) {
    if (windowTitle() != title) setWindowTitle(title);
    bool same = true;
    for (size_t i = 0; i < rows.size() && same; ++i)
        same = rows[i].label == rows_[i].label && rows[i].value == rows_[i].value && rows[i].colorSign == rows_[i].colorSign;
    if (same) return;
    rows_ = rows;
    update();
}

void DataWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const ColorRef* c = scheme_.colors;
    painter.fillRect(rect(), ToQColor(c[kColorBackground]));
    painter.setFont(font_);
    const int w = width(), h = height();
    for (int i = 0; i < kDataWindowRows; ++i) {
        const int top = h * i / kDataWindowRows, bottom = h * (i + 1) / kDataWindowRows;
        const DataRow& row = rows_[static_cast<size_t>(i)];
        painter.setPen(ToQColor(c[kColorChartText]));
        painter.drawText(QRect(2, top, w / 3, bottom - top), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::fromStdString(row.label));
        const int colour = row.colorSign > 0 ? kColorListUp : row.colorSign < 0 ? kColorListDown : kColorListFlat;
        painter.setPen(ToQColor(c[i == 0 ? kColorChartText : colour]));
        painter.drawText(QRect(w / 3, top, w - w / 3 - 3, bottom - top), Qt::AlignRight | Qt::AlignVCenter,
                         QString::fromStdString(row.value));
    }
}

}  // namespace tessaro::chart
