// The stock picker of 主图叠加 (Ctrl+M): a text box searching as the keyboard wizard does, the
// matches below it and the chosen securities beside them. Enter or a double-click on a match
// chooses it, a double-click on a chosen one takes it back; OK returns the choices (the selected
// match when none was chosen).
#pragma once

#include <QDialog>
#include <vector>

#include "chart/stock_pick.h"

class QLineEdit;
class QListWidget;

namespace tessaro {

class StockPickerDialog : public QDialog {
    Q_OBJECT
public:
    StockPickerDialog(const KeyboardWizard::Sources& sources, const std::vector<CodeEntry>& shown,
                      QWidget* parent = nullptr);

    QLineEdit* edit() const { return edit_; }
    QListWidget* matchList() const { return matches_; }
    QListWidget* chosenList() const { return chosen_; }
    // What OK returns.
    std::vector<CodeEntry> result() const;

    // Runs the picker modally; nothing when cancelled.
    static std::vector<CodeEntry> Run(const KeyboardWizard::Sources& sources, const std::vector<CodeEntry>& shown,
                                      QWidget* parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Refresh();
    void ChooseCurrent();
    void ShowChosen();

    chart::StockPick pick_;
    QLineEdit* edit_;
    QListWidget* matches_;
    QListWidget* chosen_;
};

}  // namespace tessaro
