// The chart window's crosshair (its tags drawn over pixels kept in the second buffer), the data
// window, and the mouse: clicks, drags, the rubber band, dividers, the panel edge, the wheel and
// tooltips.
#include "chart/qt/chart_widget.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>

#include "chart/kline_content.h"
#include "chart/multi_picture.h"
#include "chart/qt/data_window.h"
#include "platform/text.h"

namespace tessaro::chart {
namespace {

bool Inside(const Rect& box, QPoint pt) {
    return pt.x() >= box.left && pt.x() < box.right && pt.y() >= box.top && pt.y() < box.bottom;
}

}  // namespace

void ChartWidget::SetPan(bool on) {
    if (pan_ == on) return;
    pan_ = on;
    // Off: the ranges are computed afresh.
    if (!on) Apply(view_->Update(3));
}

void ChartWidget::SetCrosshair(bool on) {
    SetCrosshairSwitch(on);
    if (!on) {
        EraseCursor();
        cursor_.on = false;
        Apply(view_->SetCursorBar(cursor_.picture, -1));
        if (dataWindow_) dataWindow_->hide();
        return;
    }
    if (cursor_.on) return;
    if (cursor_.picture != Pic()) {
        // The crosshair comes on in the active picture.
        cursor_.picture = Pic();
        cursor_.bar = -1;
        cursor_.y = 0;
    }
    const GraphPicture& p = view_->picture(cursor_.picture);
    if (p.series.empty()) {
        // Nothing to point at yet: the switch stays on for when bars arrive.
        return;
    }
    cursor_.on = true;
    if (cursor_.bar < 0 || cursor_.bar >= static_cast<int>(p.series.size())) cursor_.bar = static_cast<int>(p.series.size()) - 1;
    if (cursor_.y <= 0) cursor_.y = p.panes[0].map.Y(p.series.bars[static_cast<size_t>(cursor_.bar)].close);
    CursorMoved(false);
}

void ChartWidget::MoveCursor(int x, int y) {
    // The crosshair stays in the active picture.
    if (view_->pictureCount() > 1 && PictureAt(*view_, x, y) != Pic()) return;
    Crosshair c = cursor_;
    if (!PlaceCursor(*view_, c, x, y)) return;
    c.on = true;
    cursor_ = c;
    CursorMoved(false);
}

void ChartWidget::CursorMoved(bool scrolled) {
    EraseCursor();
    GraphPicture& p = view_->picture(cursor_.picture);
    if (cursor_.bar >= static_cast<int>(p.series.size())) cursor_.bar = static_cast<int>(p.series.size()) - 1;
    Region region;
    if (scrolled) region.Add(view_->Update(1));
    region.Add(view_->SetCursorBar(cursor_.picture, cursor_.on ? cursor_.bar : -1));
    if (!region.empty()) {
        canvas_.Paint(*view_, region, fonts_);
        for (const Rect& r : region.rects()) update(ToQRect(r));
    }
    DrawCursor();
    UpdateDataWindow();
}

void ChartWidget::EraseCursor() {
    if (tagsDrawn_) {
        for (const CursorTag* t : {&tags_.time, &tags_.value}) {
            if (t->box.empty()) continue;
            canvas_.RestoreUnder(ToQRect(t->box));
            update(ToQRect(t->box));
        }
        tagsDrawn_ = false;
    }
    if (crosshairShown_) {
        InvalidateLines();
        crosshairShown_ = false;
    }
}

void ChartWidget::DrawCursor() {
    if (!cursor_.on || canvas_.size().isEmpty()) return;
    tags_ = MakeCursorTags(*view_, cursor_);
    if (!tags_.hasTime) tags_.time.box = {};
    if (!tags_.hasValue) tags_.value.box = {};
    const QRect bounds(QPoint(0, 0), canvas_.size());
    const ColorRef* colours = view_->options().scheme.colors;
    QPainter painter(&canvas_.back());
    painter.setFont(fonts_.chart());
    for (CursorTag* t : {&tags_.time, &tags_.value}) {
        QRect box = ToQRect(t->box).intersected(bounds);
        if (box.isEmpty()) {
            t->box = {};
            continue;
        }
        t->box = {box.left(), box.top(), box.right() + 1, box.bottom() + 1};
        canvas_.SaveUnder(box);
        painter.setPen(ToQColor(colours[kColorAxis]));
        painter.setBrush(ToQColor(colours[kColorHighlight]));
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        painter.setPen(ToQColor(colours[kColorChartText]));
        painter.drawText(box, Qt::AlignCenter, QString::fromStdString(t->text));
        update(box);
    }
    tagsDrawn_ = true;
    lineX_ = CursorLineX(*view_, cursor_);
    lineY_ = cursor_.y;
    crosshairShown_ = true;
    InvalidateLines();
}

void ChartWidget::InvalidateLines() {
    const GraphPicture& p = view_->picture(cursor_.picture);
    update(QRect(lineX_, RoundPixel(p.outer.top), 1, RoundPixel(p.outer.height())));
    update(QRect(RoundPixel(p.outer.left), lineY_, RoundPixel(p.outer.width()), 1));
}

void ChartWidget::UpdateDataWindow() {
    if (!cursor_.on) return;
    const GraphPicture& p = view_->picture(cursor_.picture);
    if (!dataWindow_) {
        dataWindow_ = new DataWindow(view_->options().scheme, fonts_.chart(), this);
        dataWindow_->move(mapToGlobal(QPoint(8, 24)));
    }
    QString title = QString::fromStdString(GbkToUtf8(FieldText(p.security.name)));
    dataWindow_->SetRows(title, DataWindowRows(p.series, p.security, p.period, cursor_.bar, p.decimals));
    if (!dataWindow_->isVisible()) dataWindow_->show();
}

bool ChartWidget::PanelPress(QPoint pt) {
    const Point at{pt.x(), pt.y()};
    for (int i = 0; i < view_->pictureCount(); ++i) {
        const InfoPanel& panel = view_->picture(i).panel;
        if (panel.OnEdge(at)) {
            SetActivePicture(i);  // the release sets the width of this picture's panel
            mouseState_ = 16;
            edgeX_ = pt.x();
            update(QRect(edgeX_, 0, 1, height()));
            return true;
        }
        if (!Inside(panel.box(), pt)) continue;
        if (const int tab = panel.TabAt(at); tab >= 0) {
            if (view_->ClickPanelTab(i, tab)) Apply(view_->Update(4, i));
        } else if (const int row = panel.BlockAt(at); row >= 0) {
            const auto& blocks = view_->picture(i).panelBlocks;
            if (static_cast<size_t>(row) < blocks.size()) emit openBlock(blocks[static_cast<size_t>(row)].nameGbk);
        }
        return true;
    }
    return false;
}

void ChartWidget::mousePressEvent(QMouseEvent* event) {
    const QPoint pt = event->position().toPoint();
    if (event->button() == Qt::LeftButton && PanelPress(pt)) return;
    const HitInfo hit = HitTest(*view_, pt.x(), pt.y());
    mouseState_ = 0;
    // The hit picture becomes active; the crosshair, keys and menus act on it.
    if (hit.picture >= 0) SetActivePicture(hit.picture);
    if (hit.pane >= 0) activePane_ = hit.pane;
    selectedSlot_ = hit.kind == kHitIndicator ? hit.slot : -1;
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
    if (hit.kind == kHitDivider && event->button() == Qt::LeftButton) {
        mouseState_ = 8;
        dividerPane_ = hit.pane;
        dividerY_ = pt.y();
        update(QRect(0, dividerY_, width(), 1));
        return;
    }
    if (hit.kind == kHitPane && hit.part == kPartRightAxis && hit.pane == 0 && event->button() == Qt::LeftButton &&
        view_->picture(hit.picture).period != kPeriodTime && view_->picture(hit.picture).panes[0].scaleMode == kScalePercentage) {
        // A press on the price axis in percentage mode drags the reference value.
        mouseState_ = 64;
        anchor_ = lastPoint_ = pt;
        return;
    }
    if (hit.kind == kHitIndicator && event->button() == Qt::RightButton) {
        // The context menu of the selected indicator opens when the button comes up.
        mouseState_ = 1;
        rightButton_ = true;
        anchor_ = lastPoint_ = pt;
        bandFrom_ = -1;
        return;
    }
    if (hit.kind != kHitPane && hit.kind != kHitTimeAxis) return;
    mouseState_ = 1;
    rightButton_ = event->button() == Qt::RightButton;
    anchor_ = lastPoint_ = pt;
    panAnchorX_ = static_cast<float>(pt.x());
    // A pan drag from the time axis, or from a pane with the pan switch on.
    bandFrom_ = (hit.kind == kHitTimeAxis || pan_) ? -2 : hit.bar;
}

void ChartWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double-click inside a pane of the one picture is 指标放大.
    const QPoint pt = event->position().toPoint();
    const HitInfo hit = HitTest(*view_, pt.x(), pt.y());
    if (multi_ != kSingle && event->button() == Qt::LeftButton && hit.picture >= 0) {
        // Several pictures: the double-clicked one alone.
        ShowSinglePicture(hit.picture);
        return;
    }
    if (event->button() != Qt::LeftButton || hit.kind != kHitPane) {
        mousePressEvent(event);
        return;
    }
    mouseState_ = 0;
    activePane_ = hit.pane;
    ToggleEnlargement();
}

void ChartWidget::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pt = event->position().toPoint();
    if (pt == lastPoint_) return;  // the same point again
    const QPoint before = lastPoint_;
    lastPoint_ = pt;
    if (mouseState_ == 1 && DragStarted(anchor_.x(), anchor_.y(), pt.x(), pt.y())) mouseState_ = bandFrom_ == -2 ? 4 : 2;
    if (mouseState_ == 64 && DragStarted(anchor_.x(), anchor_.y(), pt.x(), pt.y())) mouseState_ = 128;
    if (mouseState_ == 64) return;
    if (mouseState_ == 128) {
        // Each move takes the reference value with it; the picture is drawn from its levels on.
        if (const int dy = pt.y() - anchor_.y(); dy != 0) {
            Apply(view_->DragReference(Pic(), 0, dy));
            anchor_ = pt;
        }
        return;
    }
    GraphPicture& p = view_->picture(Pic());
    if (mouseState_ == 16) {
        // The panel's edge follows the mouse while the picture keeps 200 pixels of chart; a
        // picture narrower than that keeps the panel's least width.
        update(QRect(edgeX_, 0, 1, height()));
        const int high = std::max(RoundPixel(p.outer.right) - kInfoPanelMinWidth, 0);
        edgeX_ = std::clamp(pt.x(), std::min(RoundPixel(p.outer.left) + 200, high), high);
        update(QRect(edgeX_, 0, 1, height()));
        return;
    }
    if (mouseState_ == 0) {
        bool edge = false;
        for (int i = 0; i < view_->pictureCount(); ++i) edge = edge || view_->picture(i).panel.OnEdge({pt.x(), pt.y()});
        if (edge) setCursor(Qt::SplitHCursor);
        else unsetCursor();
    }
    if (mouseState_ == 8) {
        // The boundary follows within its range and is applied on release.
        const auto [low, high] = DividerRange(p, dividerPane_);
        update(QRect(0, dividerY_, width(), 1));
        dividerY_ = std::clamp(pt.y(), low, std::max(low, high));
        update(QRect(0, dividerY_, width(), 1));
        return;
    }
    if (mouseState_ == 4) {
        if (PanScale(p.scale, rightButton_, panAnchorX_, static_cast<float>(pt.x()), static_cast<int>(p.series.size()))) {
            Apply(view_->Update(1));
            if (cursor_.on) CursorMoved(false);
        }
        return;
    }
    if (mouseState_ == 2) {
        bandTo_ = p.scale.shown > 0 ? p.scale.BarAt(static_cast<float>(pt.x())) : -1;
        update(QRect(anchor_, before).normalized().adjusted(-1, -1, 1, 1));
        update(QRect(anchor_, pt).normalized().adjusted(-1, -1, 1, 1));
        return;
    }
    if (cursor_.on && mouseState_ == 0) MoveCursor(pt.x(), pt.y());
}

void ChartWidget::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pt = event->position().toPoint();
    const int state = mouseState_;
    mouseState_ = 0;
    GraphPicture& p = view_->picture(Pic());
    const int total = static_cast<int>(p.series.size());
    if (state == 16) {
        update(QRect(edgeX_, 0, 1, height()));
        view_->SetInfoPanelWidth(RoundPixel(p.outer.right) - edgeX_);
        RepaintAll();
        emit infoPanelChanged(infoShown_, view_->options().infoPanelWidth);
        return;
    }
    if (state == 8) {
        update(QRect(0, dividerY_, width(), 1));
        if (MoveDivider(*view_, Pic(), dividerPane_, dividerY_)) RepaintAll();
        dividerPane_ = -1;
        return;
    }
    if (state == 2) {
        update(QRect(anchor_, lastPoint_).normalized().adjusted(-1, -1, 1, 1));
        const int bars = bandFrom_ >= 0 && bandTo_ >= 0 ? std::abs(bandTo_ - bandFrom_) + 1 : 0;
        // A left band over at least 4 bars zooms at once; a right band over more than one asks.
        bool zoom = !rightButton_ && bars >= 4;
        if (rightButton_ && bars > 1) {
            QMenu menu(this);
            QAction* a = menu.addAction(QStringLiteral("图形放大"));
            zoom = menu.exec(mapToGlobal(pt)) == a;
        }
        if (zoom && ZoomToBand(p.scale, bandFrom_, bandTo_, total)) {
            Apply(view_->Update(1));
            if (cursor_.on) CursorMoved(false);
        }
        return;
    }
    if (state != 1) return;
    if (rightButton_) {
        QMenu menu(this);
        FillMenu(&menu);
        menu.exec(mapToGlobal(pt));
        return;
    }
    // A click puts the crosshair on the bar under the mouse.
    SetCrosshairSwitch(true);
    MoveCursor(pt.x(), pt.y());
}

void ChartWidget::wheelEvent(QWheelEvent* event) {
    const int dy = event->angleDelta().y();
    if (dy == 0) return;
    // Over the 财 page the wheel scrolls the finance rows; elsewhere it pages.
    const QPoint pt = event->position().toPoint();
    for (int i = 0; i < view_->pictureCount(); ++i) {
        if (!Inside(view_->picture(i).panel.box(), pt)) continue;
        if (view_->picture(i).panelMode != kPanelModeFinance) break;
        if (view_->ScrollPanel(i, dy < 0 ? 3 : -3)) Apply(view_->Update(4, i));
        event->accept();
        return;
    }
    // The wheel pages through the securities: toward the user as Page Down, away as Page Up.
    StepSecurity(dy < 0 ? 1 : -1);
    event->accept();
}

bool ChartWidget::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Tab) {
        // Tab is 指标放大 here, not a focus move.
        keyPressEvent(static_cast<QKeyEvent*>(event));
        return true;
    }
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    // Over an indicator's name: why it drew nothing, when it failed.
    auto* help = static_cast<QHelpEvent*>(event);
    const HitInfo hit = HitTest(*view_, help->pos().x(), help->pos().y());
    std::string tip;
    if (hit.kind == kHitIndicator && hit.picture >= 0) {
        const GraphPicture& p = view_->picture(hit.picture);
        tip = IndicatorTip(p.panes[static_cast<size_t>(hit.pane)].indicators[static_cast<size_t>(hit.slot)]);
    } else if (hit.kind == kHitPane && hit.part == kPartDraw) {
        // Over a bar or a line: the bar tip.
        const BarTipText bar = BarTip(*view_, hit);
        if (!bar.title.empty()) tip = bar.title + "\n" + bar.text;
        for (size_t at; (at = tip.find('\r')) != std::string::npos;) tip.erase(at, 1);
        while (!tip.empty() && tip.back() == '\n') tip.pop_back();
    }
    if (tip.empty()) QToolTip::hideText();
    else QToolTip::showText(help->globalPos(), QString::fromStdString(tip), this);
    return true;
}

void ChartWidget::leaveEvent(QEvent* event) {
    // Leaving the window takes the crosshair off the screen; the switch stays.
    if (crosshairShown_) {
        InvalidateLines();
        crosshairShown_ = false;
    }
    QWidget::leaveEvent(event);
}

}  // namespace tessaro::chart
