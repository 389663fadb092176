#include "ui/quote_list/wizard_popup.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

#include "platform/text.h"
#include "session/session.h"

namespace tessaro {

bool ForwardListKey(const QKeyEvent& key, QListWidget* list) {
    switch (key.key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown: {
            QKeyEvent copy(QEvent::KeyPress, key.key(), key.modifiers());
            QApplication::sendEvent(list, &copy);
            return true;
        }
        default: return false;
    }
}

WizardPopup::WizardPopup(const KeyboardWizard::Sources& sources, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("键盘精灵"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    wizard_.Build(sources);
    edit_ = new QLineEdit(this);
    list_ = new QListWidget(this);
    QFont mono(QStringLiteral("WenQuanYi Micro Hei Mono"));
    mono.setStyleHint(QFont::Monospace);
    list_->setFont(mono);
    list_->setUniformItemSizes(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addWidget(edit_);
    layout->addWidget(list_);
    resize(260, 300);
    edit_->installEventFilter(this);
    list_->installEventFilter(this);
    connect(edit_, &QLineEdit::textChanged, this, [this] { Refresh(); });
    connect(list_, &QListWidget::itemActivated, this, [this] { accept(); });
}

void WizardPopup::SetText(const QString& text) {
    if (edit_->text() == text)
        Refresh();
    else
        edit_->setText(text);
}

QString WizardPopup::text() const { return edit_->text(); }
int WizardPopup::matchCount() const { return list_->count(); }
QString WizardPopup::lineText(int row) const { return row >= 0 && row < list_->count() ? list_->item(row)->text() : QString(); }
int WizardPopup::currentRow() const { return list_->currentRow(); }

void WizardPopup::Refresh() {
    const std::vector<const WizardItem*>& matches = wizard_.Match(Utf8ToGbk(edit_->text().toStdString()));
    list_->setUpdatesEnabled(false);
    list_->clear();
    // The list shows the matches a user can scroll through; building thousands of rows
    // for one digit would cost more than the matching itself.
    constexpr size_t kShown = 500;
    for (size_t i = 0; i < matches.size() && i < kShown; ++i)
        list_->addItem(QString::fromStdString(wizard_.DisplayText(*matches[i])));
    if (list_->count() > 0) list_->setCurrentRow(0);
    list_->setUpdatesEnabled(true);
}

std::optional<WizardItem> WizardPopup::chosen() const {
    int row = list_->currentRow();
    const std::vector<const WizardItem*>& matches = wizard_.matches();
    if (row < 0 || static_cast<size_t>(row) >= matches.size()) return std::nullopt;
    return *matches[static_cast<size_t>(row)];
}

bool WizardPopup::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (watched == edit_) {
        // Up, Down, Page Up and Page Down typed in the text box move the list's selection.
        if (ForwardListKey(*key, list_)) return true;
        switch (key->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                if (chosen())
                    accept();
                else
                    reject();
                return true;
            default: break;
        }
    } else if (watched == list_) {
        // Characters typed in the list go to the text box.
        if (!key->text().isEmpty() && key->text().at(0).isPrint()) {
            edit_->setFocus();
            edit_->insert(key->text());
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (chosen())
                accept();
            else
                reject();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

KeyboardWizard::Sources WizardPopup::SessionSources(Session& session, bool commands, bool formulas) {
    KeyboardWizard::Sources s;
    s.commands = commands;
    s.formulas = formulas && session.hasFormulas() ? &session.formulas() : nullptr;
    s.store = session.hasMarkets() ? &session.store() : nullptr;
    s.blocks = session.hasBlocks() ? &session.blocks() : nullptr;
    s.polyphonic = &session.polyphonic();
    return s;
}

std::optional<WizardItem> WizardPopup::Run(const KeyboardWizard::Sources& sources, const QString& firstText,
                                           QWidget* anchor) {
    WizardPopup popup(sources, anchor);
    popup.SetText(firstText);
    if (anchor) {
        QPoint at = anchor->mapToGlobal(QPoint(anchor->width() - popup.width() - 20, anchor->height() - popup.height() - 30));
        popup.move(at);
    }
    popup.edit_->setFocus();
    popup.edit_->setCursorPosition(static_cast<int>(firstText.size()));
    if (popup.exec() != QDialog::Accepted) return std::nullopt;
    return popup.chosen();
}

}  // namespace tessaro
