// The information panel in the chart window, offscreen: a click on a tab selects its page, a
// click on a block row asks for that block, a drag of the left edge sets the width, Ctrl+I hides
// the panel and shows it again with its page kept; each change of shown flag or width is
// announced for the settings.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include "chart/qt/chart_widget.h"
#include "formula/standard_library.h"
#include "market/history.h"
#include "market/market_store.h"
#include "market/market_store_fixture.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"
#include "test_support/qt_wait.h"
#include "tools/blocks/block_set.h"

namespace tessaro::chart {
namespace {

void Mouse(QWidget& w, QEvent::Type type, QPoint p, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(p), QPointF(w.mapToGlobal(p)), Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &e);
}

void Click(QWidget& w, QPoint p) {
    Mouse(w, QEvent::MouseButtonPress, p, Qt::LeftButton);
    Mouse(w, QEvent::MouseButtonRelease, p, Qt::NoButton);
}

QPoint Centre(const Rect& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

TEST(InfoPanelQt, TabsBlocksEdgeAndCtrlI) {
    TempDir dir;
    SettingsStore settingsStore;
    AppPaths paths(dir.path());
    MarketStore store(paths, settingsStore);
    ASSERT_TRUE(store.LoadAll());
    SecurityId id;
    ParseSecurityText("SH600519", id);
    std::vector<KLineRecord> days;
    for (int i = 0; i < 60; ++i) {
        KLineRecord b;
        b.time = MakeStoreTime(2026, 1, 1, 0, 0) + 86400u * static_cast<uint32_t>(i);
        b.open = b.high = b.low = b.close = 1500.0f + static_cast<float>(i);
        b.volume = 1000;
        days.push_back(b);
    }
    ASSERT_TRUE(WriteHistory(paths, id, kPeriodDay, std::span(days), true));
    QuoteUpdate q = testing_store::MakeQuote(id, MakeStoreTime(2026, 2, 16, 10, 0), 1500, 100, Utf8ToGbk("贵州茅台"));
    q.entry.securityClass = kClassAShare;
    store.UpdateQuote(q);
    BlockSet blocks(paths);
    blocks.BuildSystemBlocks();
    blocks.RegisterSecurity(*store.GetCodeEntry(id));

    FormulaSet formulas;
    for (FormulaRecord& r : BuildStandardLibrary().formulas) formulas.Put(std::move(r));
    ChartWidget::Context c;
    c.store = &store;
    c.paths = paths;
    c.formulas = &formulas;
    c.blocks = &blocks;
    c.settings.stkInfo = true;
    ChartWidget w(c);
    w.resize(1000, 600);
    ASSERT_TRUE(w.ShowSecurityText("SH600519"));
    w.show();
    Spin(150);
    std::vector<std::string> opened;
    std::vector<std::pair<bool, int>> announced;
    QObject::connect(&w, &ChartWidget::openBlock, [&](const std::string& name) { opened.push_back(GbkToUtf8(name)); });
    QObject::connect(&w, &ChartWidget::infoPanelChanged, [&](bool shown, int width) { announced.push_back({shown, width}); });

    const GraphPicture& p = w.view().picture(0);
    ASSERT_EQ(p.panel.tabRects().size(), 5u);
    EXPECT_EQ(p.panel.box().left, 1000 - kInfoPanelDefaultWidth);
    EXPECT_FLOAT_EQ(p.panes[0].rects.outer.right, 1000 - kInfoPanelDefaultWidth);

    // 财: the wheel over the panel scrolls the finance rows three at a time.
    Click(w, Centre(p.panel.tabRects()[kPanelModeFinance]));
    ASSERT_EQ(p.panelMode, kPanelModeFinance);
    ASSERT_GT(p.panel.financeRowsVisible(), 0);
    const QPoint inside(p.panel.box().left + 30, p.panel.box().bottom - 40);
    QWheelEvent wheel(QPointF(inside), QPointF(w.mapToGlobal(inside)), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&w, &wheel);
    EXPECT_EQ(p.panelScroll, 3);
    EXPECT_EQ(std::string(p.security.id.codeText()), "600519");  // no paging

    // 板: the rule blocks holding the security; a click on one asks for it.
    Click(w, Centre(p.panel.tabRects()[kPanelModeBlocks]));
    EXPECT_EQ(p.panelMode, kPanelModeBlocks);
    ASSERT_FALSE(p.panelBlocks.empty());
    int hit = -1;
    QPoint at;
    for (int y = p.panel.box().top; y < p.panel.box().bottom && hit < 0; ++y) {
        at = {p.panel.box().left + 20, y};
        hit = p.panel.BlockAt({at.x(), at.y()});
    }
    ASSERT_EQ(hit, 0);
    Click(w, at);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], p.panelBlocks[0].name);

    // The edge dragged 100 pixels left widens the panel by 100; the panes give the room.
    const int edge = p.panel.box().left;
    Mouse(w, QEvent::MouseButtonPress, {edge, 300}, Qt::LeftButton);
    Mouse(w, QEvent::MouseMove, {edge - 100, 300}, Qt::LeftButton);
    Mouse(w, QEvent::MouseButtonRelease, {edge - 100, 300}, Qt::NoButton);
    EXPECT_EQ(w.view().options().infoPanelWidth, kInfoPanelDefaultWidth + 100);
    EXPECT_EQ(p.panel.box().left, edge - 100);
    EXPECT_FLOAT_EQ(p.panes[0].rects.outer.right, static_cast<float>(edge - 100));
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_EQ(announced[0], std::make_pair(true, kInfoPanelDefaultWidth + 100));
    EXPECT_TRUE(opened.size() == 1u);  // the drag opened nothing

    // Ctrl+I hides it (the panes take the width) and shows it again on the same page.
    QKeyEvent ctrlI(QEvent::KeyPress, Qt::Key_I, Qt::ControlModifier);
    QCoreApplication::sendEvent(&w, &ctrlI);
    EXPECT_TRUE(p.panel.box().empty());
    EXPECT_FLOAT_EQ(p.panes[0].rects.outer.right, 1000);
    QCoreApplication::sendEvent(&w, &ctrlI);
    EXPECT_EQ(p.panelMode, kPanelModeBlocks);
    EXPECT_EQ(p.panel.box().left, edge - 100);
    ASSERT_EQ(announced.size(), 3u);
    EXPECT_FALSE(announced[1].first);
    EXPECT_TRUE(announced[2].first);
}

}  // namespace
}  // namespace tessaro::chart
