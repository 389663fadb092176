// What the chart window tests share: a market of securities with the 600519 day history, the
// standard formula set, a window over them, and the event helpers (keys, clicks, modal dialogs).
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <sstream>

#include "chart/qt/chart_widget.h"
#include "formula/standard_library.h"
#include "market/bars_csv.h"
#include "market/history.h"
#include "market/market_store.h"
#include "market/market_store_fixture.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"
#include "test_support/qt_wait.h"

namespace tessaro::chart {

inline void Key(QWidget& w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QCoreApplication::sendEvent(&w, &press);
}

inline void Mouse(QWidget& w, QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(p), QPointF(w.mapToGlobal(p)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &e);
}

inline void Click(QWidget& w, QPoint p) {
    Mouse(w, QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
    Mouse(w, QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
}

// Runs `fn` on the next modal window once it is open (its own event loop runs it).
inline void WhenModal(std::function<void(QWidget*)> fn) {
    QTimer::singleShot(20, [fn] {
        if (QWidget* modal = QApplication::activeModalWidget()) fn(modal);
        else WhenModal(fn);
    });
}

class ChartWindowFixture : public ::testing::Test {
protected:
    // Securities of one market sharing the 600519 history, each with today's quote at `price`.
    void Market(std::initializer_list<const char*> codes, float price) {
        for (FormulaRecord& r : BuildStandardLibrary().formulas) formulas.Put(std::move(r));
        paths = std::make_unique<AppPaths>(dir.path());
        store = std::make_unique<MarketStore>(*paths, settingsStore);
        ASSERT_TRUE(store->LoadAll());
        std::ifstream in(std::string(TESSARO_SOURCE_DIR) + "/tests/formula/data/600519-daily.csv");
        std::stringstream text;
        text << in.rdbuf();
        ParseBarsCsv(text.str(), history);
        for (const char* code : codes) {
            SecurityId id;
            ParseSecurityText(code, id);
            ASSERT_TRUE(WriteHistory(*paths, id, kPeriodDay, std::span(history.bars), true));
            QuoteUpdate q = testing_store::MakeQuote(id, MakeStoreTime(2026, 2, 16, 10, 0), price, 100, Utf8ToGbk(code + 2));
            q.entry.securityClass = kClassAShare;
            store->UpdateQuote(q);
        }
    }
    // A window on SH600519; `shared` gives it the process-wide defaults.
    std::unique_ptr<ChartWidget> Widget(bool shared = false, BlockSet* blocks = nullptr) {
        ChartWidget::Context c;
        c.store = store.get();
        c.paths = *paths;
        c.formulas = &formulas;
        c.settings.multiPics = 4;
        if (shared) c.defaults = &defaults;
        c.blocks = blocks;
        auto w = std::make_unique<ChartWidget>(c);
        w->resize(900, 600);
        EXPECT_TRUE(w->ShowSecurityText("SH600519"));
        w->show();
        Spin(100);
        return w;
    }
    void TearDown() override { ChartWidget::SetCrosshairSwitch(false); }

    TempDir dir;
    SettingsStore settingsStore;
    std::unique_ptr<AppPaths> paths;
    std::unique_ptr<MarketStore> store;
    FormulaSet formulas;
    SystemSettings defaults;
    Series history;
};

}  // namespace tessaro::chart
