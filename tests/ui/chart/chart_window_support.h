// What the tests of the chart window in the main window share: the shared market with the
// standard indicator library as its base/common.fml (as `tessaro-cli gen` makes it), and a main
// window of 1100 x 750 with the chart view registered (and the quote list when asked).
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "formula/standard_library.h"
#include "ui/chart/chart_view_host.h"
#include "ui/quote_list/quote_list_window.h"
#include "ui_test_support.h"

namespace tessaro {

// Nothing when the library could not be installed.
inline std::unique_ptr<Session> OpenChartSession() {
    static bool installed = InstallStandardLibrary(AppPaths(SharedMarketDir()));
    EXPECT_TRUE(installed);
    if (!installed) return nullptr;
    return OpenTestSession();
}

struct ChartMainWindow {
    explicit ChartMainWindow(Session& session, bool quoteList = false)
        : window(session, Registered(registry, quoteList), MainWindowOptions{}) {
        window.resize(1100, 750);
        window.show();
    }
    static ViewRegistry& Registered(ViewRegistry& r, bool quoteList) {
        if (quoteList) RegisterQuoteListView(r);
        RegisterChartView(r);
        return r;
    }

    ViewRegistry registry;
    MainWindow window;
};

}  // namespace tessaro
