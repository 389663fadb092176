#include "views.h"

#include "ui/chart/chart_view_host.h"
#include "ui/main_window.h"
#include "ui/quote_list/quote_list_window.h"
#include "ui/view_registry.h"

namespace tessaro {

// Each view module adds its factory here.
void RegisterViews(ViewRegistry& registry) {
    RegisterQuoteListView(registry);
    RegisterChartView(registry);
}

// A tool window adds itself here, e.g. window.RegisterTool(CommandId::FormulaManager, ...).
void RegisterTools(MainWindow& window) { (void)window; }

}  // namespace tessaro
