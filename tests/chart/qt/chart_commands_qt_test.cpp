// The chart window's formula and block commands offscreen: the formula set's notices redraw the
// panes that show an edited formula and drop a deleted one; the context menu's formula items,
// 系统指示 / 关闭指示 and the block items.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QThread>
#include <fstream>
#include <sstream>
#include <thread>

#include "chart/kline_content.h"
#include "chart/qt/chart_widget.h"
#include "formula/compiler.h"
#include "formula/formula_management.h"
#include "formula/standard_library.h"
#include "market/bars_csv.h"
#include "market/history.h"
#include "market/market_store.h"
#include "market/market_store_fixture.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"

namespace tessaro::chart {
namespace {

void Spin(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

class YesPromptForFormulas : public FormulaPrompt {
public:
    void Message(std::string_view) override {}
    Answer Ask(std::string_view, bool) override { return Answer::Yes; }
    std::optional<std::string> Input(std::string_view, std::string_view, std::string_view, bool) override {
        return std::nullopt;
    }
};

class ChartCommandsQt : public ::testing::Test {
protected:
    void SetUp() override {
        for (FormulaRecord& r : BuildStandardLibrary().formulas) formulas.Put(std::move(r));
        FormulaRecord mine;
        mine.type = kFormulaSubPane;
        mine.setName("MYIND");
        mine.source = "A:C;";
        mine.sourceOrigin = kSourceUser;
        ASSERT_EQ(CompileFormula(mine), 0);
        formulas.Put(mine);
        paths = std::make_unique<AppPaths>(dir.path());
        store = std::make_unique<MarketStore>(*paths, settingsStore);
        ASSERT_TRUE(store->LoadAll());
        std::ifstream in(std::string(TESSARO_SOURCE_DIR) + "/tests/formula/data/600519-daily.csv");
        std::stringstream text;
        text << in.rdbuf();
        ParseBarsCsv(text.str(), history);
        SecurityId id;
        ParseSecurityText("SH600519", id);
        ASSERT_TRUE(WriteHistory(*paths, id, kPeriodDay, std::span(history.bars), true));
        QuoteUpdate q = testing_store::MakeQuote(id, MakeStoreTime(2026, 2, 16, 10, 0), 1500, 100, Utf8ToGbk("贵州茅台"));
        q.entry.securityClass = kClassAShare;
        store->UpdateQuote(q);
    }

    std::unique_ptr<ChartWidget> Widget() {
        ChartWidget::Context c;
        c.store = store.get();
        c.paths = *paths;
        c.formulas = &formulas;
        auto w = std::make_unique<ChartWidget>(c);
        w->resize(900, 600);
        EXPECT_TRUE(w->ShowSecurityText("SH600519"));
        w->show();
        Spin(100);
        return w;
    }
    const PaneIndicator* Slot(ChartWidget& w, const char* name) {
        for (const GraphPane& pane : w.view().picture(0).panes)
            for (const PaneIndicator& s : pane.indicators)
                if (s.formula.nameText() == name) return &s;
        return nullptr;
    }

    TempDir dir;
    SettingsStore settingsStore;
    std::unique_ptr<AppPaths> paths;
    std::unique_ptr<MarketStore> store;
    FormulaSet formulas;
    Series history;
};

TEST_F(ChartCommandsQt, FormulaNoticesRedrawEditedFormulasAndDropDeletedOnes) {
    auto w = Widget();
    ASSERT_TRUE(w->AddFormula(kFormulaSubPane, "MYIND"));
    const PaneIndicator* slot = Slot(*w, "MYIND");
    ASSERT_TRUE(slot && slot->result);
    const float close = w->view().picture(0).series.bars.back().close;  // today's quote is the last bar
    EXPECT_FLOAT_EQ(slot->result->lines[0].points.back().value, close);
    const QImage before = w->canvas().image().copy();

    // Edited in the set (as the editor's OK does): the window evaluates and draws it again.
    FormulaRecord edited = *formulas.Find(kFormulaSubPane, "MYIND");
    edited.source = "A:C*3;";
    ASSERT_EQ(CompileFormula(edited), 0);
    formulas.Put(edited);
    formulas.Notify(FormulaNotice{kNoticeFormulaChanged, kFormulaSubPane, "MYIND", {}, nullptr});
    slot = Slot(*w, "MYIND");
    ASSERT_TRUE(slot && slot->result);
    EXPECT_FLOAT_EQ(slot->result->lines[0].points.back().value, close * 3);
    EXPECT_NE(w->canvas().image(), before) << "the pane was drawn again";

    // A notice from another thread is handled on the window's own.
    edited.source = "A:C*4;";
    ASSERT_EQ(CompileFormula(edited), 0);
    formulas.Put(edited);
    std::thread([this] { formulas.Notify(FormulaNotice{kNoticeFormulaChanged, kFormulaSubPane, "MYIND", {}, nullptr}); })
        .join();
    Spin(50);
    slot = Slot(*w, "MYIND");
    ASSERT_TRUE(slot && slot->result);
    EXPECT_FLOAT_EQ(slot->result->lines[0].points.back().value, close * 4);

    // Deleted through the manager: the slot goes, the pane and its other formulas stay.
    const size_t panes = w->view().picture(0).panes.size();
    YesPromptForFormulas yes;
    FormulaManager manager(formulas, yes);
    ASSERT_TRUE(manager.Delete(kFormulaSubPane, "MYIND"));
    EXPECT_EQ(Slot(*w, "MYIND"), nullptr);
    EXPECT_EQ(w->view().picture(0).panes.size(), panes);
    EXPECT_NE(Slot(*w, "VOL"), nullptr);
}

}  // namespace
}  // namespace tessaro::chart
