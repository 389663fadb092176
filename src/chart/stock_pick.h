// The stock picker of 主图叠加 without its window: securities are found as the keyboard wizard
// finds them (by code, name or the initials of the name) and collected into the choices, each
// once, leaving out the securities the picture shows already.
#pragma once

#include <string>
#include <vector>

// Qt defines "slots" as a keyword; the core has a member of that name.
#pragma push_macro("slots")
#undef slots
#include "tools/wizard/wizard.h"
#pragma pop_macro("slots")

namespace tessaro::chart {

class StockPick {
public:
    // Only the securities of the sources are offered (no commands, formulas or blocks).
    explicit StockPick(const KeyboardWizard::Sources& sources);
    // Over a list of securities held already.
    StockPick(const std::vector<CodeEntry>& securities, const PolyphonicTable* polyphonic);

    // The securities that may not be chosen (the picture's own).
    void Exclude(const std::vector<CodeEntry>& shown) { excluded_ = shown; }
    // The matches of a typed text (UTF-8), in the wizard's order.
    const std::vector<const WizardItem*>& Match(const std::string& typedUtf8);
    const std::vector<const WizardItem*>& matches() const { return wizard_.matches(); }
    // A match's line as the wizard shows it (UTF-8).
    std::string Line(const WizardItem& item) const { return wizard_.DisplayText(item); }

    // Adds a security to the choices; false when it is chosen already or excluded.
    bool Add(const CodeEntry& security);
    // Adds match `index`; false when there is no such match or Add refuses it.
    bool AddMatch(size_t index);
    bool Remove(size_t index);
    const std::vector<CodeEntry>& chosen() const { return chosen_; }

private:
    KeyboardWizard wizard_;
    std::vector<CodeEntry> excluded_;
    std::vector<CodeEntry> chosen_;
};

}  // namespace tessaro::chart
