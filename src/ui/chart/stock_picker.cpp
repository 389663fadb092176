#include "ui/chart/stock_picker.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

#include "platform/text.h"
#include "ui/quote_list/wizard_popup.h"

namespace tessaro {

StockPickerDialog::StockPickerDialog(const KeyboardWizard::Sources& sources, const std::vector<CodeEntry>& shown,
                                     QWidget* parent)
    : QDialog(parent), pick_(sources) {
    setWindowTitle(QStringLiteral("主图叠加"));
    pick_.Exclude(shown);
    edit_ = new QLineEdit(this);
    matches_ = new QListWidget(this);
    chosen_ = new QListWidget(this);
    QFont mono(QStringLiteral("WenQuanYi Micro Hei Mono"));
    mono.setStyleHint(QFont::Monospace);
    matches_->setFont(mono);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(edit_);
    auto* lists = new QHBoxLayout;
    lists->addWidget(matches_, 3);
    lists->addWidget(chosen_, 2);
    layout->addLayout(lists);
    auto* box = new QDialogButtonBox(this);
    box->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    box->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(box);
    resize(420, 320);
    edit_->installEventFilter(this);
    connect(edit_, &QLineEdit::textChanged, this, [this] { Refresh(); });
    connect(matches_, &QListWidget::itemActivated, this, [this] { ChooseCurrent(); });
    connect(chosen_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        if (pick_.Remove(static_cast<size_t>(chosen_->row(item)))) ShowChosen();
    });
}

void StockPickerDialog::Refresh() {
    const auto& found = pick_.Match(edit_->text().toStdString());
    matches_->setUpdatesEnabled(false);
    matches_->clear();
    constexpr size_t kShown = 500;  // as many as a user scrolls through
    for (size_t i = 0; i < found.size() && i < kShown; ++i)
        matches_->addItem(QString::fromStdString(pick_.Line(*found[i])));
    if (matches_->count() > 0) matches_->setCurrentRow(0);
    matches_->setUpdatesEnabled(true);
}

void StockPickerDialog::ChooseCurrent() {
    const int row = matches_->currentRow();
    if (row >= 0 && pick_.AddMatch(static_cast<size_t>(row))) ShowChosen();
}

void StockPickerDialog::ShowChosen() {
    chosen_->clear();
    for (const CodeEntry& e : pick_.chosen())
        chosen_->addItem(QString::fromStdString(SecurityText(e.id) + " " + GbkToUtf8(FieldText(e.name))));
}

std::vector<CodeEntry> StockPickerDialog::result() const {
    if (!pick_.chosen().empty()) return pick_.chosen();
    // Nothing collected: the selected match.
    const int row = matches_->currentRow();
    const auto& found = pick_.matches();
    if (row < 0 || static_cast<size_t>(row) >= found.size()) return {};
    return {found[static_cast<size_t>(row)]->entry};
}

bool StockPickerDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched != edit_ || event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (ForwardListKey(*key, matches_)) return true;
    switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // Enter chooses the match; with an empty text it ends the picking.
            if (edit_->text().isEmpty()) accept();
            else ChooseCurrent();
            return true;
        default: return QDialog::eventFilter(watched, event);
    }
}

std::vector<CodeEntry> StockPickerDialog::Run(const KeyboardWizard::Sources& sources,
                                              const std::vector<CodeEntry>& shown, QWidget* parent) {
    StockPickerDialog dialog(sources, shown, parent);
    dialog.edit_->setFocus();
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.result();
}

}  // namespace tessaro
