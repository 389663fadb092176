// The player control built into this program in place of the outside P2P player: a widget that
// fills the window and shows every property it has received and whether its method was called.
#pragma once

#include "player/player_control.h"

#include <QWidget>

#include <map>
#include <string>
#include <vector>

class QLabel;
class QTreeWidget;

namespace zuvo {

class TraceLog;

// A control that is also the widget filling the main window.
class PlayerControlWidget : public QWidget, public PlayerControl {
public:
    using QWidget::QWidget;
};

class StandInPlayer : public PlayerControlWidget {
    Q_OBJECT
public:
    // Volume is a percentage; a larger value is rejected like a real control would refuse it.
    static constexpr std::uint32_t kMaxVolume = 100;

    explicit StandInPlayer(TraceLog* trace, QWidget* parent = nullptr);

    void SetProperty(const std::string& name, const PropertyValue& value) override;
    void Start() override;

    // What the widget shows, for inspection.
    const std::map<std::string, PropertyValue>& properties() const { return properties_; }
    int startCalls() const { return startCalls_; }
    QTreeWidget* table() const { return table_; }
    QLabel* status() const { return status_; }

private:
    void ShowProperty(const std::string& name, PropertyKind kind, const PropertyValue& value);
    void UpdateStatus();

    TraceLog* trace_;
    QTreeWidget* table_;
    QLabel* status_;
    std::map<std::string, PropertyValue> properties_;
    int startCalls_ = 0;
};

}  // namespace zuvo
