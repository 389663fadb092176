// The quote list as the main window's view of kind 1: opened by the view commands,
// carrying out the commands of the active view, and offering Enter only with a chart.
#include <gtest/gtest.h>

#include "formula/standard_library.h"
#include "market/demo_market.h"
#include "platform/text.h"
#include "session/session.h"
#include "test_support/temp_dir.h"
#include "tools/blocks/block_set.h"
#include "ui/quote_list/quote_list_window.h"

// Qt after the core: Qt defines "slots", a member name of the core.
#include "ui/main_window.h"
#include <QAction>
#include <QApplication>

namespace tessaro {
namespace {

struct SilentPrompter : Prompter {
    Answer Question(QWidget*, const QString&, bool) override { return Answer::Yes; }
    void Information(QWidget*, const QString&) override {}
    void Error(QWidget*, const QString&) override {}
};

struct ChartStub : View {
    using View::View;
    ViewKind kind() const override { return ViewKind::Chart; }
    void ShowTarget(const ViewTarget& t) override { shown = t.security; }
    QString title() const override { return QStringLiteral("chart"); }
    std::optional<SecurityId> shown;
};

TEST(QuoteListWindow, OpenedByTheViewCommandsAndCarryingOutItsOwn) {
    TempDir dir;
    DemoMarketOptions options;
    options.outDir = dir.path();
    options.securities = 30;
    options.days = 5;
    ASSERT_TRUE(GenerateDemoMarket(options));
    SessionOptions o;
    o.appDir = dir.path();
    o.access = SessionAccess::ReadWrite;
    o.data = kSessionAll;
    Session session(o);
    ASSERT_TRUE(session.Start());
    ViewRegistry registry;
    RegisterQuoteListView(registry);
    MainWindow window(session, registry, MainWindowOptions{});
    window.setPrompter(std::make_unique<SilentPrompter>());
    window.setConfirmExit(false);

    View* view = window.OpenView(ViewKind::QuoteList, ViewTarget{CommandId::PriceBoard, std::nullopt, "沪市A股"});
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->kind(), ViewKind::QuoteList);
    EXPECT_EQ(view->title(), QStringLiteral("沪市A股"));
    auto* list = static_cast<QuoteListWindow*>(view);
    ASSERT_GT(list->list().model().rowCount(), 0u);
    EXPECT_TRUE(view->currentSecurity().has_value());  // the first row is selected
    // Without a chart view, Enter opens nothing and its commands are disabled.
    EXPECT_FALSE(view->HandlesCommand(CommandId::Open));
    EXPECT_TRUE(window.action(CommandId::RankingShA)->isEnabled());

    window.RunCommand(CommandId::RankingShA);
    EXPECT_EQ(view->title(), QStringLiteral("沪市A股综合排名"));
    window.RunCommand(CommandId::DynamicRanking);
    EXPECT_EQ(view->title(), QStringLiteral("沪市A股"));
    SecurityId selected = *view->currentSecurity();
    window.RunCommand(CommandId::TickDetail);
    EXPECT_EQ(list->list().mode(), QuoteListMode::TickDetail);
    EXPECT_TRUE(SameSecurity(*view->currentSecurity(), selected));

    // 加入自选股 puts the selection into the self-selected group's current block.
    window.RunCommand(CommandId::DynamicRanking);
    size_t before = session.blocks().FindBlock(Utf8ToGbk("自选股1"))->members.size();
    view->RunCommand(CommandId::AddToOwnStocks);
    std::vector<SecurityId> members = session.blocks().FindBlock(Utf8ToGbk("自选股1"))->members;
    bool added = false;
    for (const SecurityId& id : members) added |= SameSecurity(id, selected);
    EXPECT_TRUE(added);
    EXPECT_GE(members.size(), before);

    // With a chart registered, a new quote list opens the chart on Enter.
    ChartStub* chart = nullptr;
    registry.RegisterFactory(ViewKind::Chart, [&](ViewContext& c, QWidget* parent) -> View* {
        chart = new ChartStub(c, parent);
        return chart;
    });
    View* second = window.OpenView(ViewKind::QuoteList, ViewTarget{CommandId::PriceBoard, std::nullopt, "深市A股"}, true);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->HandlesCommand(CommandId::Open));
    SecurityId first = *second->currentSecurity();
    second->RunCommand(CommandId::Open);
    ASSERT_NE(chart, nullptr);
    ASSERT_TRUE(chart->shown.has_value());
    EXPECT_TRUE(SameSecurity(*chart->shown, first));
}

}  // namespace
}  // namespace tessaro
