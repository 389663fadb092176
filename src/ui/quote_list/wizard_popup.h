// The keyboard wizard's pop-up: a text box and the list of matches. It opens on the
// first typed character of an analysis view, rebuilds its candidate lists at each
// opening and returns the chosen item (Enter) or nothing (Escape, or Enter on an empty
// list). Matching lives in KeyboardWizard; this window only shows it.
#pragma once

#include <optional>

// Qt defines "slots" as a keyword; the core has a member of that name.
#pragma push_macro("slots")
#undef slots
#include "tools/wizard/wizard.h"
#pragma pop_macro("slots")

#include <QDialog>


class QKeyEvent;
class QLineEdit;
class QListWidget;

namespace tessaro {

class Session;

// Up, Down, Page Up and Page Down typed in a pop-up's text box move the selection of its list
// (the wizard's matches, the stock picker's); true when the key was one of them.
bool ForwardListKey(const QKeyEvent& key, QListWidget* list);

class WizardPopup : public QDialog {
    Q_OBJECT
public:
    WizardPopup(const KeyboardWizard::Sources& sources, QWidget* parent = nullptr);

    // Shows the typed text's matches (the first one selected).
    void SetText(const QString& text);
    QString text() const;
    int matchCount() const;
    QString lineText(int row) const;
    int currentRow() const;
    // The selected item, or nothing when the list is empty.
    std::optional<WizardItem> chosen() const;

    // The sources the program offers a view: commands, formulas, the store's securities,
    // blocks and the polyphonic table of the session (each when it was loaded).
    static KeyboardWizard::Sources SessionSources(Session& session, bool commands = true, bool formulas = true);
    // Runs the pop-up modally below `anchor`, starting with `firstText`.
    static std::optional<WizardItem> Run(const KeyboardWizard::Sources& sources, const QString& firstText,
                                         QWidget* anchor);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Refresh();

    KeyboardWizard wizard_;
    QLineEdit* edit_;
    QListWidget* list_;
};

}  // namespace tessaro
