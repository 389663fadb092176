// The chart window in the main window: view kind 2, a ChartWidget fed by the window's own
// quote-server requests ("GVIEW" subscription, history, minutes, ticks).
#pragma once

#include <deque>
#include <memory>

#include "chart/qt/chart_widget.h"

#include "ui/view_registry.h"

namespace tessaro {

class ChartRequests;
class HistoryTimeSharingWindow;
namespace chart {
class ChartWidget;
}

class ChartViewHost : public View {
    Q_OBJECT
public:
    ChartViewHost(ViewContext& context, QWidget* parent);
    ~ChartViewHost() override;

    ViewKind kind() const override { return ViewKind::Chart; }
    void ShowTarget(const ViewTarget& target) override;
    QString title() const override;
    std::optional<SecurityId> currentSecurity() const override;
    void OnConnected() override;
    void OnDataChanged() override;
    void OnActivated(bool active) override;
    void FillPictureMenu(QMenu* menu) override;

    chart::ChartWidget& chart() { return *chart_; }
    // The history time-sharing window, once opened (one per chart window, reused).
    HistoryTimeSharingWindow* historyWindow() const { return history_; }

private:
    chart::ChartWidget* chart_ = nullptr;
    std::unique_ptr<ChartRequests> requests_;
    bool active_ = true;
    // The needs of a round that wait for the one before them to be answered.
    std::deque<chart::ChartWidget::DataNeed> pending_;
    void SendNext();
    HistoryTimeSharingWindow* history_ = nullptr;
};

// Registers the chart view's factory (kind 2).
void RegisterChartView(ViewRegistry& registry);

}  // namespace tessaro
