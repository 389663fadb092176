// The five-pane status bar: 0 the logo, 1 the Shanghai and 2 the Shenzhen
// market index, 3 the ticker scrolling leftwards, 4 the connection (a click
// connects or disconnects). The panes are painted in the order 0, 3, 1, 2, 4
// into an off-screen image that is then copied out.
#pragma once

#include <QFont>
#include <QImage>
#include <QString>
#include <QWidget>

#include "app/color_scheme.h"
#include "ui/model/shell_rules.h"

namespace tessaro {

class StatusPanes : public QWidget {
    Q_OBJECT
public:
    explicit StatusPanes(QWidget* parent = nullptr);

    void setScheme(const ColorScheme& scheme);
    void setIndex(bool sh, const IndexPaneText& text);
    void setTicker(const QString& text);
    void setConnection(const QString& text);
    // One 20 ms step of the ticker (not while the pointer is over the bar).
    void stepTicker();

    // What a pane shows, as text (the index panes' parts joined by spaces).
    QString paneText(int pane) const;
    QRect paneRect(int pane) const;
    // Whether an index pane shows a value (not "-").
    bool indexShown(bool sh) const { return (sh ? sh_ : sz_).last != "-"; }
    const Ticker& ticker() const { return ticker_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void connectionClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void Layout();
    void PaintLogo(QPainter& p, const QRect& r);
    void PaintIndex(QPainter& p, const QRect& r, const IndexPaneText& t, int valueWidth);
    void PaintTicker(QPainter& p, const QRect& r);
    void PaintConnection(QPainter& p, const QRect& r);
    QColor Color(int index) const;

    ColorScheme scheme_{};
    QFont font_;
    int e_ = 0, w_ = 0;
    StatusPaneWidths widths_;
    QRect rects_[kStatusPaneCount];
    IndexPaneText sh_, sz_;
    QString ticker_text_;
    QString connection_;
    Ticker ticker_;
    bool pointerOver_ = false;
    QImage buffer_;
};

}  // namespace tessaro
