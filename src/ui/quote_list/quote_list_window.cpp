#include "ui/quote_list/quote_list_window.h"

#include <QVBoxLayout>

#include "market/market_store.h"
#include "platform/text.h"
#include "session/session.h"
#include "tools/blocks/block_management.h"
#include "tools/blocks/block_set.h"

namespace tessaro {

QuoteListWindow::QuoteListWindow(ViewContext& context, bool chartExists, QWidget* parent)
    : View(context, parent), chartExists_(chartExists) {
    list_ = new QuoteListView(context.session(), this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
    setFocusProxy(list_);
    list_->SetChartAvailable(chartExists_);
    list_->SetQuoteSession(&context.quotes(), context.AllocateWindow());
    connect(list_, &QuoteListView::titleChanged, this, [this] { emit titleChanged(); });
    connect(list_, &QuoteListView::openChart, this, [this](const SecurityId& id, bool newWindow) {
        ViewTarget target;
        target.security = id;
        target.list = PageIds();
        this->context().OpenView(ViewKind::Chart, target, newWindow);
    });
    connect(list_, &QuoteListView::quickCommand, this, [this](int index) { OnQuickCommand(index); });
}

std::vector<SecurityId> QuoteListWindow::PageIds() {
    // The chart pages through the rows as the user sees them.
    const QuoteListModel& m = list_->model();
    std::vector<SecurityId> ids;
    ids.reserve(m.rowCount());
    for (size_t i = 0; i < m.rowCount(); ++i) ids.push_back(m.rowAt(i).entry.id);
    return ids;
}

void QuoteListWindow::SelectSecurity(const SecurityId& id) {
    WizardItem item;
    item.kind = kWizardSecurity;
    item.entry.id = id;
    list_->ActOnWizardItem(item);
}

void QuoteListWindow::ShowTarget(const ViewTarget& target) {
    switch (target.command) {
        case CommandId::RankingShA:
        case CommandId::RankingShB:
        case CommandId::RankingSzA:
        case CommandId::RankingSzB:
        case CommandId::RankingA:
        case CommandId::RankingB:
            list_->OpenRanking(Utf8ToGbk(target.block));
            break;
        case CommandId::TickDetail:
        case CommandId::PriceDetail:
            if (target.security) SelectSecurity(*target.security);
            list_->SetMode(target.command == CommandId::TickDetail ? QuoteListMode::TickDetail
                                                                  : QuoteListMode::PriceDetail);
            break;
        case CommandId::DynamicRanking:
            if (list_->mode() == QuoteListMode::Ranking) list_->OpenPage(list_->model().pageGbk());
            list_->SetMode(QuoteListMode::Board);
            break;
        default:
            if (!target.block.empty()) list_->OpenPage(Utf8ToGbk(target.block));
            if (target.security) SelectSecurity(*target.security);
            break;
    }
    emit titleChanged();
}

QString QuoteListWindow::title() const { return list_->Title(); }

std::optional<SecurityId> QuoteListWindow::currentSecurity() const {
    if (list_->detail()) return list_->detail()->entry().id;
    int d = list_->model().FirstSelected();
    if (d < 0) return std::nullopt;
    return list_->model().rowAt(static_cast<size_t>(d)).entry.id;
}

void QuoteListWindow::OnConnected() { list_->Renew(); }

void QuoteListWindow::OnDataChanged() {
    if (context().session().hasMarkets()) list_->model().Reload(context().session().store());
    list_->Renew();
}

void QuoteListWindow::OnActivated(bool active) {
    if (active)
        list_->Renew();
    else
        list_->Deactivate();
}

bool QuoteListWindow::HandlesCommand(CommandId id) const {
    switch (id) {
        case CommandId::Open:
        case CommandId::OpenNewWindow: return chartExists_;
        case CommandId::AddToOwnStocks: return context().session().hasBlocks();
        case CommandId::DeleteFromBlock: return list_->model().pageSetting() == kBlockSelf;
        default: return false;
    }
}

void QuoteListWindow::RunCommand(CommandId id) {
    std::optional<SecurityId> security = currentSecurity();
    switch (id) {
        case CommandId::Open:
        case CommandId::OpenNewWindow:
            if (security) {
                ViewTarget target;
                target.security = *security;
                target.list = PageIds();
                context().OpenView(ViewKind::Chart, target, id == CommandId::OpenNewWindow);
            }
            return;
        case CommandId::AddToOwnStocks: {
            // Into the self-selected group's current block (自选股1 at first).
            std::string block;
            for (const PageGroup& g : list_->groups())
                if (g.setting == kBlockSelf && g.current < g.blocks.size()) block = g.blocks[g.current];
            std::vector<SecurityId> ids = list_->model().SelectedIds();
            if (block.empty() || ids.empty()) return;
            YesPrompt prompt;
            BlockManager(context().session().blocks(), prompt).AddMembers(block, ids);
            return;
        }
        case CommandId::DeleteFromBlock: list_->RemoveSelection(); return;
        default: return;
    }
}

void QuoteListWindow::OnQuickCommand(int index) {
    QuickCommandAction a = QuickCommandActionOf(index);
    ViewTarget target;
    target.security = currentSecurity();
    switch (a.kind) {
        case QuickCommandAction::Kind::IndexChart:
            if (context().session().hasMarkets())
                if (auto index = context().session().store().GetMarketIndexEntry(a.market)) target.security = index->id;
            [[fallthrough]];
        case QuickCommandAction::Kind::Period:
            if (target.security) context().OpenView(ViewKind::Chart, target);
            return;
        default:
            if (index == FindQuickCommand("10") && target.security) {
                target.command = CommandId::CompanyInfo;
                context().OpenView(ViewKind::Text, target);
            }
            return;
    }
}

void RegisterQuoteListView(ViewRegistry& registry) {
    registry.RegisterFactory(
        ViewKind::QuoteList,
        [&registry](ViewContext& context, QWidget* parent) -> View* {
            return new QuoteListWindow(context, registry.HasFactory(ViewKind::Chart), parent);
        },
        {CommandId::PriceBoard, CommandId::DynamicRanking, CommandId::TickDetail, CommandId::PriceDetail,
         CommandId::RankingShA, CommandId::RankingShB, CommandId::RankingSzA, CommandId::RankingSzB,
         CommandId::RankingA, CommandId::RankingB});
}

}  // namespace tessaro
