#include "chart/qt/chart_widget.h"

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <atomic>

#include "market/market_store.h"
#include "platform/text.h"

namespace tessaro::chart {
namespace {

std::atomic<uint8_t> g_exRights{0};

std::vector<std::vector<std::pair<uint32_t, std::string>>> PanesFor(const std::vector<std::string>& indicators) {
    std::vector<std::vector<std::pair<uint32_t, std::string>>> panes;
    panes.push_back({{kFormulaMainOverlay, "MA"}});
    panes.push_back({{kFormulaSubPane, "VOL"}});
    for (const std::string& name : indicators) {
        if (panes.size() >= static_cast<size_t>(kMaxPanes)) break;
        panes.push_back({{kFormulaSubPane, Utf8ToGbk(name)}});
    }
    return panes;
}

ChartOptions OptionsFrom(const SystemSettings& s, const ChartMetrics& metrics, const TextMeasure& measure) {
    ChartOptions o;
    o.scheme = s.scheme();
    o.metrics = metrics;
    o.measure = measure;
    o.hcoord = s.hcoord;
    o.vcoord = s.vcoord;
    o.emptyOver = s.emptyOver;
    o.exRights = g_exRights.load();
    o.visibleBars = static_cast<int>(std::clamp<uint32_t>(s.ruler, 8, 100000));
    o.infoPanel = s.stkInfo;
    o.infoPanelWidth = static_cast<int>(std::clamp<uint32_t>(s.stkInfoWidth, 40, 2000));
    return o;
}

}  // namespace

void ChartWidget::SetExRights(uint8_t mode) { g_exRights.store(mode); }
uint8_t ChartWidget::exRights() { return g_exRights.load(); }

ChartWidget::ChartWidget(Context context, QWidget* parent)
    : QWidget(parent),
      context_(std::move(context)),
      series_(*context_.store, context_.paths, static_cast<int>(context_.settings.multiDay)),
      data_(*context_.store, series_),
      source_(*context_.formulas, data_, &series_, context_.store),
      fonts_(context_.settings.scheme()) {
    if (context_.settings.purview != 0 && g_exRights.load() == 0) g_exRights.store(context_.settings.purview);
    exRights_ = g_exRights.load();
    infoShown_ = context_.settings.stkInfo;
    view_ = std::make_unique<ChartView>(source_, OptionsFrom(context_.settings, fonts_.metrics(), fonts_.measure()));
    const std::string& kline = context_.settings.formula0;
    view_->SetKLineKind(kline == "BAR" || kline == "PRICE" ? kline : "K");
    view_->SetPanes(0, PanesFor(indicators_));
    const Period cycle = PeriodFromNumber(static_cast<int>(context_.settings.cycle));
    if (IsValidPeriod(cycle)) view_->SetPeriod(0, cycle);
    view_->SetTimeDays(0, static_cast<int>(std::min<uint32_t>(context_.settings.daysTime, kMaxTimeSharingDays)));
    feed_ = context_.store->WatchChanges();
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 150);
    timer_.start(100, this);
}

ChartWidget::~ChartWidget() = default;

void ChartWidget::ShowSecurity(const CodeEntry& security) {
    view_->SetSecurity(0, security);
    needRequest_ = true;
    Refresh(0);
    UpdateTitle();
}

bool ChartWidget::ShowSecurityText(const std::string& text) {
    std::optional<CodeEntry> e = context_.store->FindByText(text);
    if (!e) return false;
    ShowSecurity(*e);
    return true;
}

void ChartWidget::SetPeriod(Period period) {
    if (!IsValidPeriod(period)) return;
    view_->SetPeriod(0, period);
    needRequest_ = true;
    Refresh(0);
    UpdateTitle();
}

void ChartWidget::SetIndicators(const std::vector<std::string>& names) {
    indicators_ = names;
    view_->SetPanes(0, PanesFor(indicators_));
    Refresh(0);
}

void ChartWidget::OnConnected() {
    needRequest_ = true;
    Refresh(0, true);
}

void ChartWidget::OnDataChanged() { Refresh(1); }

void ChartWidget::OnDataArrived() { Refresh(0, true); }

void ChartWidget::Refresh(int level, bool keepFirst) {
    if (canvas_.size() != size()) {
        // A new buffer holds nothing: everything is painted.
        canvas_.Resize(size());
        view_->Resize(width(), height());
        view_->Update(std::min(level, 1), -1, -1, keepFirst);
        canvas_.PaintAll(*view_, fonts_);
        update();
        return;
    }
    Apply(view_->Update(level, -1, -1, keepFirst));
}

void ChartWidget::Apply(const Region& region) {
    if (region.empty()) return;
    canvas_.Paint(*view_, region, fonts_);
    for (const Rect& r : region.rects()) update(ToQRect(r));
}

void ChartWidget::UpdateTitle() {
    const GraphPicture& p = view_->picture(0);
    QString title = QString::fromStdString(GbkToUtf8(FieldText(p.security.name)));
    if (title.isEmpty()) title = QString::fromStdString(SecurityText(p.security.id));
    title += QStringLiteral(" - ") + QString::fromUtf8(PeriodName(p.period).data(), int(PeriodName(p.period).size()));
    setWindowTitle(title);
    emit titleChanged(title);
}

void ChartWidget::Poll() {
    const GraphPicture& p = view_->picture(0);
    if (exRights_ != g_exRights.load()) {
        exRights_ = g_exRights.load();
        view_->SetExRights(exRights_);
        Refresh(0);
    }
    if (needRequest_ && requester_ && p.hasSecurity) {
        needRequest_ = false;
        requester_({p.security, p.period, p.historyRequest});
    }
    feed_->Drain(changes_);
    if (changes_.empty() || !p.hasSecurity) return;
    bool mine = changes_.marketsReset != 0;
    for (const SecurityChange& c : changes_.securities)
        if (SameSecurity(c.id, p.security.id) && (c.kinds & (kChangeQuote | kChangeMinutes | kChangeTicks | kChangeCapital))) mine = true;
    if (!mine) return;
    Refresh(0, true);
    // The pushed quotes carry no minutes: each new minute of the time-sharing picture asks for
    // the minutes since the held ones.
    const GraphPicture& now = view_->picture(0);
    const StoreTime minute = now.series.quote.bar.time / 60;
    if (now.period == kPeriodTime && minute != quoteMinute_) {
        quoteMinute_ = minute;
        needRequest_ = true;
    }
}

void ChartWidget::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timer_.timerId()) Poll();
    else QWidget::timerEvent(event);
}

void ChartWidget::paintEvent(QPaintEvent* event) {
    if (canvas_.size() != size()) Refresh(1);
    QPainter painter(this);
    for (const QRect& r : event->region()) painter.drawImage(r, canvas_.image(), r);
}

void ChartWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Refresh(1);
}

void ChartWidget::keyPressEvent(QKeyEvent* event) {
    MoveKey key;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    if (event->key() == Qt::Key_Plus || event->key() == Qt::Key_Minus || event->key() == Qt::Key_Equal) {
        // "+" and "-" page through the information panel's modes.
        if (view_->StepPanelMode(event->key() == Qt::Key_Minus ? -1 : 1)) Apply(view_->Update(4));
        return;
    }
    if (ctrl && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        if (const StoreTime day = HistoryDay(); day != 0) emit historyTimeSharing(view_->picture(0).security, day);
        return;
    }
    if (ctrl && event->key() == Qt::Key_I) {
        // 股票信息 shows or hides the information panel.
        infoShown_ = !infoShown_;
        view_->ShowInfoPanel(infoShown_);
        Refresh(1);
        return;
    }
    if (view_->picture(0).period == kPeriodTime && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)) {
        // Up and Down change the days of the time-sharing picture.
        if (view_->StepTimeDays(event->key() == Qt::Key_Up ? 1 : -1)) Refresh(0);
        return;
    }
    switch (event->key()) {
        case Qt::Key_Up: key = MoveKey::kZoomIn; break;
        case Qt::Key_Down: key = MoveKey::kZoomOut; break;
        case Qt::Key_Left: key = MoveKey::kLeft; break;
        case Qt::Key_Right: key = MoveKey::kRight; break;
        case Qt::Key_Less: case Qt::Key_Comma: key = MoveKey::kSlowLeft; break;
        case Qt::Key_Greater: case Qt::Key_Period: key = MoveKey::kSlowRight; break;
        case Qt::Key_F8: {
            // The next period; after the time-sharing picture comes the tick picture.
            Period next = PeriodFromNumber(PeriodNumber(view_->picture(0).period) + 1);
            if (!IsValidPeriod(next)) next = kPeriodTick;
            SetPeriod(next);
            return;
        }
        default: QWidget::keyPressEvent(event); return;
    }
    (void)ctrl;
    const int before = view_->picture(0).historyRequest;
    if (!view_->MoveOrZoom(key)) return;
    if (view_->picture(0).historyRequest != before) needRequest_ = true;
    Apply(view_->Update(1));
}

void ChartWidget::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    FillMenu(&menu);
    menu.exec(event->globalPos());
}

StoreTime ChartWidget::HistoryDay() const {
    const GraphPicture& p = view_->picture(0);
    if (!p.hasSecurity || !IsDayBasedPeriod(p.period) || p.scale.shown <= 0) return 0;
    const size_t i = static_cast<size_t>(p.scale.first + p.scale.shown - 1);
    return i < p.series.size() ? p.series.bars[i].time : 0;
}

void ChartWidget::FillMenu(QMenu* menu) {
    if (const StoreTime day = HistoryDay(); day != 0) {
        QAction* history = menu->addAction(QStringLiteral("历史分时"));
        connect(history, &QAction::triggered, this, [this, day] { emit historyTimeSharing(view_->picture(0).security, day); });
    }
    QMenu* periods = menu->addMenu(QStringLiteral("分析周期"));
    for (int n = PeriodNumber(kPeriodTick); n <= PeriodNumber(kPeriodTime); ++n) {
        const Period period = static_cast<Period>(n);
        const std::string_view name = PeriodName(period);
        QAction* a = periods->addAction(QString::fromUtf8(name.data(), int(name.size())));
        a->setCheckable(true);
        a->setChecked(view_->picture(0).period == period);
        connect(a, &QAction::triggered, this, [this, period] { SetPeriod(period); });
    }
    QMenu* adjust = menu->addMenu(QStringLiteral("价格还权"));
    auto* group = new QActionGroup(adjust);
    const struct { const char* text; ExRightsChoice choice; } choices[] = {
        {"下还权", ExRightsChoice::kForward}, {"不还权", ExRightsChoice::kNone}, {"上还权", ExRightsChoice::kBackward}};
    for (const auto& c : choices) {
        QAction* a = adjust->addAction(QString::fromUtf8(c.text));
        a->setCheckable(true);
        a->setChecked(CurrentExRights(exRights()) == c.choice);
        group->addAction(a);
        const ExRightsChoice choice = c.choice;
        connect(a, &QAction::triggered, this, [this, choice] {
            SetExRights(ChooseExRights(exRights(), choice));
            Poll();
        });
    }
}

}  // namespace tessaro::chart
