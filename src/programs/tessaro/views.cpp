#include "views.h"

#include "ui/chart/chart_view_host.h"
#include "ui/main_window.h"
#include "ui/view_registry.h"

namespace tessaro {

// A view module adds its factory here, e.g. RegisterQuoteListView(registry).
void RegisterViews(ViewRegistry& registry) { RegisterChartView(registry); }

// A tool window adds itself here, e.g. window.RegisterTool(CommandId::FormulaManager, ...).
void RegisterTools(MainWindow& window) { (void)window; }

}  // namespace tessaro
