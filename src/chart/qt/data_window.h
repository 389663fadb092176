// The data window: a small floating window that lists the quote values of the crosshair's bar,
// shown beside the chart without taking the focus.
#pragma once

#include <QWidget>
#include <array>

#include "app/color_scheme.h"
#include "chart/cursor.h"
#include "chart/qt/chart_painter.h"

namespace tessaro::chart {

class DataWindow : public QWidget {
    Q_OBJECT
public:
    DataWindow(const ColorScheme& scheme, const QFont& font, QWidget* parent = nullptr);

    // Takes the rows of a bar and the title (the security name); repaints when they changed.
    void SetRows(const QString& title, const std::array<DataRow, kDataWindowRows>& rows);
    const std::array<DataRow, kDataWindowRows>& rows() const { return rows_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ColorScheme scheme_;
    QFont font_;
    std::array<DataRow, kDataWindowRows> rows_;
};

}  // namespace tessaro::chart
