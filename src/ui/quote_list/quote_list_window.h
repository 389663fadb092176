// The quote list as a view of the main window (view kind 1): the QuoteListView inside
// the View frame the main window hosts, with the open commands, the commands it carries
// out while active, and the quick commands it hands to other views.
#pragma once

// Qt defines "slots" as a keyword; the core has a member of that name.
#pragma push_macro("slots")
#undef slots
#include "tools/wizard/wizard.h"
#pragma pop_macro("slots")

#include "ui/quote_list/quote_list_view.h"
#include "ui/view_registry.h"

namespace tessaro {

class QuoteListWindow : public View {
    Q_OBJECT
public:
    // `chartExists`: a chart view is registered, so Enter and Ctrl+Enter open it.
    QuoteListWindow(ViewContext& context, bool chartExists, QWidget* parent = nullptr);

    ViewKind kind() const override { return ViewKind::QuoteList; }
    void ShowTarget(const ViewTarget& target) override;
    QString title() const override;
    std::optional<SecurityId> currentSecurity() const override;
    void OnConnected() override;
    void OnDataChanged() override;
    void OnActivated(bool active) override;
    bool HandlesCommand(CommandId id) const override;
    void RunCommand(CommandId id) override;

    QuoteListView& list() { return *list_; }

private:
    void SelectSecurity(const SecurityId& id);
    // The page's securities in display order.
    std::vector<SecurityId> PageIds();
    void OnQuickCommand(int index);

    QuoteListView* list_;
    bool chartExists_;
};

// Registers the quote list's factory (kind 1) and the commands it opens.
void RegisterQuoteListView(ViewRegistry& registry);

}  // namespace tessaro
