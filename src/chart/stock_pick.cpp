#include "chart/stock_pick.h"

#include <algorithm>

#include "platform/text.h"

namespace tessaro::chart {
namespace {

bool Holds(const std::vector<CodeEntry>& list, const SecurityId& id) {
    return std::any_of(list.begin(), list.end(), [&](const CodeEntry& e) { return SameSecurity(e.id, id); });
}

}  // namespace

StockPick::StockPick(const KeyboardWizard::Sources& sources) {
    KeyboardWizard::Sources only;
    only.commands = false;
    only.store = sources.store;
    only.polyphonic = sources.polyphonic;
    wizard_.Build(only);
}

StockPick::StockPick(const std::vector<CodeEntry>& securities, const PolyphonicTable* polyphonic) {
    wizard_.SetSecurities(securities, polyphonic);
}

const std::vector<const WizardItem*>& StockPick::Match(const std::string& typedUtf8) {
    return wizard_.Match(Utf8ToGbk(typedUtf8));
}

bool StockPick::Add(const CodeEntry& security) {
    if (Holds(excluded_, security.id) || Holds(chosen_, security.id)) return false;
    chosen_.push_back(security);
    return true;
}

bool StockPick::AddMatch(size_t index) {
    const std::vector<const WizardItem*>& m = wizard_.matches();
    if (index >= m.size() || m[index]->kind != kWizardSecurity) return false;
    return Add(m[index]->entry);
}

bool StockPick::Remove(size_t index) {
    if (index >= chosen_.size()) return false;
    chosen_.erase(chosen_.begin() + static_cast<long>(index));
    return true;
}

}  // namespace tessaro::chart
