#include "ui/chart/chart_view_host.h"

#include <QVBoxLayout>
#include <algorithm>

#include "chart/qt/chart_widget.h"
#include "client/chart_requests.h"
#include "client/quote_session.h"
#include "market/market_store.h"
#include "platform/text.h"
#include "session/session.h"
#include "ui/chart/history_time_sharing.h"
#include "ui/chart/stock_picker.h"
#include "ui/quote_list/wizard_popup.h"

namespace tessaro {

ChartViewHost::ChartViewHost(ViewContext& context, QWidget* parent) : View(context, parent) {
    Session& session = context.session();
    chart::ChartWidget::Context c;
    c.store = &session.store();
    c.paths = session.paths();
    c.formulas = &session.formulas();
    c.settings = session.settings();
    c.defaults = &session.settings();
    c.blocks = session.hasBlocks() ? &session.blocks() : nullptr;
    chart_ = new chart::ChartWidget(c, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(chart_);
    setFocusProxy(chart_);
    requests_ = std::make_unique<ChartRequests>(context.quotes(), session.store(), session.paths(),
                                                context.AllocateWindow(), [this] {
                                                    chart_->OnDataArrived();
                                                    // The next picture's request once this one is all sent.
                                                    if (requests_->queued() == 0) SendNext();
                                                });
    chart_->SetDataRequester([this](const chart::ChartWidget::DataNeed& need) {
        if (!active_) return;
        if (need.first) {
            pending_.clear();
            pending_.push_back(need);
            SendNext();
        } else {
            pending_.push_back(need);
        }
    });
    connect(chart_, &chart::ChartWidget::titleChanged, this, [this] { emit titleChanged(); });
    // The panel's 板 rows open their block in the quote list; its shown flag and width are kept
    // in the settings written at exit.
    connect(chart_, &chart::ChartWidget::openBlock, this, [this](const std::string& nameGbk) {
        ViewTarget target;
        target.block = GbkToUtf8(nameGbk);
        this->context().OpenView(ViewKind::QuoteList, target);
    });
    connect(chart_, &chart::ChartWidget::infoPanelChanged, this, [this](bool shown, int width) {
        SystemSettings& s = this->context().session().settings();
        s.stkInfo = shown;
        s.stkInfoWidth = static_cast<uint32_t>(std::max(width, 1));
    });
    connect(chart_, &chart::ChartWidget::historyTimeSharing, this, [this](const CodeEntry& security, StoreTime day) {
        if (!history_) {
            Session& s = this->context().session();
            HistoryTimeSharingWindow::Context h;
            h.session = &this->context().quotes();
            h.store = &s.store();
            h.paths = s.paths();
            h.window = this->context().AllocateWindow();
            h.scheme = s.settings().scheme();
            history_ = new HistoryTimeSharingWindow(h, this);
            history_->setWindowFlag(Qt::Window);
            history_->resize(800, 500);
        }
        history_->ShowDay(security, day);
        history_->show();
        history_->raise();
        history_->setFocus();
    });
    Session* owner = &session;
    chart_->SetWizard([this, owner](const QString& first) {
        return WizardPopup::Run(WizardPopup::SessionSources(*owner), first, chart_);
    });
    chart_->SetStockPicker([this, owner](const std::vector<CodeEntry>& shown) {
        return StockPickerDialog::Run(WizardPopup::SessionSources(*owner, false, false), shown, chart_);
    });
}

ChartViewHost::~ChartViewHost() = default;

void ChartViewHost::SendNext() {
    if (pending_.empty()) return;
    const chart::ChartWidget::DataNeed need = pending_.front();
    pending_.pop_front();
    // Without a connection the round ends here; the next connection asks again.
    if (!requests_->Request(need.security, need.period, need.records, !need.first)) pending_.clear();
}

void ChartViewHost::ShowTarget(const ViewTarget& target) {
    if (!target.security) return;
    const MarketStore& store = context().session().store();
    // A security the code table lacks is shown by its code alone.
    const auto entry = [&store](const SecurityId& id) {
        CodeEntry bare;
        bare.id = id;
        return store.GetCodeEntry(id).value_or(bare);
    };
    if (!target.list.empty()) {
        // The list it was opened from is what Page Up and Page Down step through.
        std::vector<CodeEntry> list;
        list.reserve(target.list.size());
        for (const SecurityId& id : target.list) list.push_back(entry(id));
        chart_->SetSecurityList(std::move(list));
    }
    chart_->ShowSecurity(entry(*target.security));
}

QString ChartViewHost::title() const { return chart_->windowTitle(); }

std::optional<SecurityId> ChartViewHost::currentSecurity() const {
    if (!chart_->hasSecurity()) return std::nullopt;
    return chart_->view().picture(chart_->activePicture()).security.id;
}

void ChartViewHost::OnConnected() { chart_->OnConnected(); }

void ChartViewHost::OnDataChanged() { chart_->OnDataChanged(); }

void ChartViewHost::OnActivated(bool active) {
    active_ = active;
    if (active) chart_->RequestData();
    else {
        pending_.clear();
        requests_->Stop();
    }
}

void ChartViewHost::FillPictureMenu(QMenu* menu) { chart_->FillMenu(menu); }

void RegisterChartView(ViewRegistry& registry) {
    registry.RegisterFactory(ViewKind::Chart,
                             [](ViewContext& context, QWidget* parent) -> View* { return new ChartViewHost(context, parent); });
}

}  // namespace tessaro
