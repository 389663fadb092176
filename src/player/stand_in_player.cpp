#include "player/stand_in_player.h"

#include "player/trace_log.h"

#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zuvo {

StandInPlayer::StandInPlayer(TraceLog* trace, QWidget* parent)
    : PlayerControlWidget(parent), trace_(trace), table_(new QTreeWidget(this)), status_(new QLabel(this)) {
    setObjectName("PlayerControl");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    table_->setObjectName("properties");
    table_->setColumnCount(3);
    table_->setHeaderLabels({tr("Property"), tr("Kind"), tr("Value")});
    table_->setRootIsDecorated(false);
    table_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->header()->setStretchLastSection(true);
    status_->setObjectName("status");
    layout->addWidget(table_, 1);
    layout->addWidget(status_);
    UpdateStatus();
}

void StandInPlayer::SetProperty(const std::string& name, const PropertyValue& value) {
    const LinkParameter* param = FindLinkParameter(name);
    if (!param) throw PlayerControlError("unknown property " + name);
    const PropertyKind kind = param->kind;
    const bool isText = kind == PropertyKind::Text || kind == PropertyKind::CountedText;
    const bool typeMatches = (kind == PropertyKind::Flag && std::holds_alternative<bool>(value)) ||
                             (kind == PropertyKind::Number && std::holds_alternative<std::uint32_t>(value)) ||
                             (isText && std::holds_alternative<std::string>(value));
    const auto* number = std::get_if<std::uint32_t>(&value);
    if (!typeMatches || (name == "volume" && number && *number > kMaxVolume)) {
        if (trace_) trace_->Property("reject", name, param->kind, value);
        throw PlayerControlError("invalid value for " + name);
    }
    properties_[name] = value;
    if (trace_) trace_->Property("set", name, param->kind, value);
    ShowProperty(name, param->kind, value);
}

void StandInPlayer::Start() {
    ++startCalls_;
    if (trace_) trace_->Call("Start");
    UpdateStatus();
}

void StandInPlayer::ShowProperty(const std::string& name, PropertyKind kind, const PropertyValue& value) {
    const QString qname = QString::fromStdString(name);
    QTreeWidgetItem* item = nullptr;
    for (int i = 0; i < table_->topLevelItemCount() && !item; ++i) {
        if (table_->topLevelItem(i)->text(0) == qname) item = table_->topLevelItem(i);
    }
    if (!item) item = new QTreeWidgetItem(table_);
    item->setText(0, qname);
    item->setText(1, QString::fromLatin1(PropertyKindName(kind)));
    item->setText(2, QString::fromStdString(FormatValue(value)));
}

void StandInPlayer::UpdateStatus() {
    status_->setText(startCalls_ == 0 ? tr("Start: not called")
                                      : tr("Start: called %n time(s)", nullptr, startCalls_));
}

}  // namespace zuvo
