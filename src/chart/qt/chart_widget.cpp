#include "chart/qt/chart_widget.h"

#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QThread>

#include <algorithm>
#include <atomic>

#include "chart/chart_commands.h"
#include "chart/indicator_combo.h"
#include "chart/kline_content.h"
#include "chart/multi_picture.h"
#include "chart/qt/chart_dialogs.h"
#include "chart/qt/data_window.h"
#include "market/market_store.h"
#include "platform/files.h"
#include "platform/text.h"

namespace tessaro::chart {
namespace {

std::atomic<uint8_t> g_exRights{0};
std::atomic<bool> g_crosshair{false};

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
    source_.SetBlocks(context_.blocks);
    // The ruler, the panel width, the K-line kind, the period and the days come from the defaults.
    view_ = std::make_unique<ChartView>(source_, OptionsFrom(defaults(), fonts_.metrics(), fonts_.measure()));
    const std::string& kline = defaults().formula0;
    view_->SetKLineKind(kline == "BAR" || kline == "PRICE" ? kline : "K");
    if (context_.defaults) {
        // A window of the program starts from the saved defaults: the pane formula lists, the pane
        // count, the scale mode and the visible bars the last single picture left.
        ApplyPictureDefaults(*view_, 0, *context_.defaults);
    } else {
        view_->SetPanes(0, PanesFor(indicators_));
    }
    const Period cycle = PeriodFromNumber(static_cast<int>(defaults().cycle));
    if (IsValidPeriod(cycle)) view_->SetPeriod(0, cycle);
    view_->SetTimeDays(0, static_cast<int>(std::min<uint32_t>(defaults().daysTime, kMaxTimeSharingDays)));
    feed_ = context_.store->WatchChanges();
    context_.formulas->AddObserver(this);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 150);
    setMouseTracking(true);
    // The menu opens when the right button comes up (after a possible rubber band).
    setContextMenuPolicy(Qt::PreventContextMenu);
    timer_.start(100, this);
}

ChartWidget::~ChartWidget() {
    context_.formulas->RemoveObserver(this);
    // A single picture leaves its settings as the defaults of the pictures made after it.
    KeepPictureDefaults(*view_, defaults());
}

void ChartWidget::OnFormulaNotice(const FormulaNotice& notice) {
    if (QThread::currentThread() == thread()) {
        HandleFormulaNotice(notice);
        return;
    }
    QMetaObject::invokeMethod(this, [this, notice] { HandleFormulaNotice(notice); }, Qt::QueuedConnection);
}

void ChartWidget::HandleFormulaNotice(const FormulaNotice& notice) {
    if (notice.code != kNoticeFormulaChanged && notice.code != kNoticeFormulaDeleted) return;
    std::optional<FormulaRecord> latest;
    if (notice.code == kNoticeFormulaChanged) latest = context_.formulas->Find(notice.type, notice.name);
    const std::vector<PaneRef> touched = ApplyFormulaChange(*view_, notice.type, notice.name, latest);
    if (touched.empty()) return;
    if (!latest) selectedSlot_ = -1;
    Reevaluate(touched);
}

void ChartWidget::Reevaluate(const std::vector<PaneRef>& panes) {
    Region region;
    for (const PaneRef& r : panes) region.Add(view_->Update(2, r.picture, r.pane));
    Apply(region);
}

SystemSettings& ChartWidget::defaults() { return context_.defaults ? *context_.defaults : context_.settings; }

int ChartWidget::Pic() const { return std::clamp(view_->active(), 0, std::max(view_->pictureCount() - 1, 0)); }

void ChartWidget::SetActivePicture(int picture) {
    if (picture < 0 || picture >= view_->pictureCount() || picture == view_->active()) return;
    const bool cursor = cursor_.on;
    if (cursor) SetCrosshair(false);
    activePane_ = 0;
    selectedSlot_ = -1;
    Apply(view_->SetActive(picture));
    cursor_.picture = picture;
    cursor_.bar = -1;
    cursor_.y = 0;
    needRequest_ = true;  // the requests follow the active picture
    if (cursor) SetCrosshair(true);
    UpdateTitle();
}

void ChartWidget::ShowSecurity(const CodeEntry& security) {
    view_->SetSecurity(Pic(), security);
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
    // Every picture of a 多股票组合 view, else the active one.
    for (const int i : PeriodTargets(*view_, Combination(multi_))) view_->SetPeriod(i, period);
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
        tagsDrawn_ = false;  // the saved pixels belonged to the old buffer
        update();
        if (cursor_.on) CursorMoved(false);
        return;
    }
    Apply(view_->Update(level, -1, -1, keepFirst));
    if (cursor_.on && level <= 1) CursorMoved(false);
}

void ChartWidget::Apply(const Region& region) {
    if (region.empty()) return;
    const bool tags = tagsDrawn_;
    EraseCursor();
    canvas_.Paint(*view_, region, fonts_);
    for (const Rect& r : region.rects()) update(ToQRect(r));
    if (tags) DrawCursor();
}

void ChartWidget::UpdateTitle() {
    const GraphPicture& p = view_->picture(Pic());
    QString title = QString::fromStdString(GbkToUtf8(FieldText(p.security.name)));
    if (title.isEmpty()) title = QString::fromStdString(SecurityText(p.security.id));
    title += QStringLiteral(" - ") + QString::fromUtf8(PeriodName(p.period).data(), int(PeriodName(p.period).size()));
    if (multi_ != kSingle) title = multi_ == kMultiStock ? QStringLiteral("多股票组合") : QStringLiteral("多周期组合");
    setWindowTitle(title);
    emit titleChanged(title);
}

void ChartWidget::Poll() {
    const GraphPicture& p = view_->picture(Pic());
    if (exRights_ != g_exRights.load()) {
        exRights_ = g_exRights.load();
        view_->SetExRights(exRights_);
        Refresh(0);
    }
    if (cursor_.on != g_crosshair.load()) SetCrosshair(g_crosshair.load());
    if (needRequest_ && requester_ && p.hasSecurity) {
        needRequest_ = false;
        bool first = true;
        for (int i = 0; i < view_->pictureCount(); ++i) {
            const GraphPicture& q = view_->picture(i);
            if (i == Pic() || !q.hasSecurity) continue;
            requester_({q.security, q.period, q.historyRequest, first});
            first = false;
        }
        requester_({p.security, p.period, p.historyRequest, first});
    }
    feed_->Drain(changes_);
    if (changes_.empty() || !p.hasSecurity) return;
    bool mine = changes_.marketsReset != 0;
    for (const SecurityChange& c : changes_.securities) {
        if (!(c.kinds & (kChangeQuote | kChangeMinutes | kChangeTicks | kChangeCapital))) continue;
        for (int i = 0; i < view_->pictureCount(); ++i)
            if (SameSecurity(c.id, view_->picture(i).security.id)) mine = true;
    }
    if (!mine) return;
    Refresh(0, true);
    // The pushed quotes carry no minutes: each new minute of the time-sharing picture asks for
    // the minutes since the held ones.
    const GraphPicture& now = view_->picture(Pic());
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
    // The crosshair's lines and the rubber band invert what lies under them.
    const bool band = mouseState_ == 2;
    const bool divider = mouseState_ == 8;
    const bool edge = mouseState_ == 16;
    if (!crosshairShown_ && !band && !divider && !edge) return;
    painter.setClipRegion(event->region());
    painter.setCompositionMode(QPainter::RasterOp_NotDestination);
    painter.setPen(Qt::NoPen);
    const GraphPicture& p = view_->picture(cursor_.picture);
    if (crosshairShown_ && !p.panes.empty()) {
        const int top = RoundPixel(p.panes.front().rects.outer.top);
        const int bottom = RoundPixel(p.panes.back().rects.outer.bottom);
        const int left = RoundPixel(p.outer.left), right = RoundPixel(p.panes.back().rects.rightAxis.left);
        painter.fillRect(QRect(lineX_, top, 1, bottom - top), Qt::white);
        if (lineY_ >= top && lineY_ < bottom) painter.fillRect(QRect(left, lineY_, right - left, 1), Qt::white);
    }
    if (divider) painter.fillRect(QRect(0, dividerY_, width(), 1), Qt::white);
    if (edge) painter.fillRect(QRect(edgeX_, 0, 1, height()), Qt::white);
    if (band) {
        const QRect r = QRect(anchor_, lastPoint_).normalized();
        painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), Qt::white);
        painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), Qt::white);
        painter.fillRect(QRect(r.left(), r.top() + 1, 1, r.height() - 2), Qt::white);
        painter.fillRect(QRect(r.right(), r.top() + 1, 1, r.height() - 2), Qt::white);
        // Its first and last bar and their count, inverted too, inside the band.
        const QString text = QString::fromStdString(BandText(view_->picture(Pic()), bandFrom_, bandTo_)).remove(QLatin1Char('\r'));
        if (!text.isEmpty()) {
            painter.setClipRegion(event->region().intersected(r.adjusted(1, 1, -1, -1)));
            painter.setFont(fonts_.chart());
            painter.setPen(Qt::white);
            painter.drawText(r.adjusted(3, 2, -2, -2), Qt::AlignLeft | Qt::AlignTop, text);
        }
    }
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
        if (const StoreTime day = HistoryDay(); day != 0) emit historyTimeSharing(view_->picture(Pic()).security, day);
        return;
    }
    if ((event->key() == Qt::Key_W && (event->modifiers() & (Qt::AltModifier | Qt::ControlModifier)))) {
        ShowMultiPictures(ctrl ? kMultiPeriod : kMultiStock);
        return;
    }
    if (multi_ != kSingle && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space)) {
        ShowSinglePicture(std::max(view_->active(), 0));
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // K-line <-> time-sharing: to the time-sharing picture, or back to the K-line period left.
        const GraphPicture& p = view_->picture(Pic());
        SetPeriod(EnterPeriod(p.period, p.klinePeriod));
        return;
    }
    if (ctrl && event->key() == Qt::Key_M) {  // 主图叠加
        ShowOverlayPicker();
        return;
    }
    if (ctrl && event->key() == Qt::Key_V) {  // 系统指示
        ShowSignalPicker();
        return;
    }
    if ((event->modifiers() & Qt::AltModifier) && event->key() == Qt::Key_V) {  // 关闭指示
        CloseSignals();
        return;
    }
    if (ctrl && event->key() == Qt::Key_A) {  // 加入到自选股
        ShowAddToBlock();
        return;
    }
    if (ctrl && event->key() == Qt::Key_I) {
        // 股票信息 shows or hides the information panel.
        infoShown_ = !infoShown_;
        view_->ShowInfoPanel(infoShown_);
        RepaintAll();
        emit infoPanelChanged(infoShown_, view_->options().infoPanelWidth);
        return;
    }
    if (view_->picture(Pic()).period == kPeriodTime && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)) {
        // Up and Down change the days of the time-sharing picture.
        if (view_->StepTimeDays(event->key() == Qt::Key_Up ? 1 : -1)) Refresh(0);
        return;
    }
    switch (event->key()) {
        case Qt::Key_Up: key = MoveKey::kZoomIn; break;
        case Qt::Key_Down: key = MoveKey::kZoomOut; break;
        case Qt::Key_Left:
        case Qt::Key_Right: {
            // Ctrl: a page of bars (快速左移 / 快速右移); alone: the crosshair moves one bar.
            const int step = event->key() == Qt::Key_Left ? -1 : 1;
            if (ctrl) {
                MoveOrZoom(step < 0 ? MoveKey::kLeft : MoveKey::kRight);
                return;
            }
            g_crosshair.store(true);
            const bool scrolled = StepCursor(*view_, cursor_, step);
            const GraphPicture& p = view_->picture(cursor_.picture);
            if (cursor_.bar >= 0 && cursor_.bar < static_cast<int>(p.series.size()))
                cursor_.y = p.panes[0].map.Y(p.series.bars[static_cast<size_t>(cursor_.bar)].close);
            CursorMoved(scrolled);
            return;
        }
        case Qt::Key_Home:
        case Qt::Key_End: {
            // The active pane's first indicator becomes the previous / next formula that fits.
            const GraphPicture& p = view_->picture(Pic());
            const int pane = std::min(activePane_, static_cast<int>(p.panes.size()) - 1);
            std::optional<FormulaRecord> f =
                StepPaneFormula(context_.formulas->Snapshot(), p, pane, event->key() == Qt::Key_Home ? -1 : 1);
            if (!f) return;
            auto& held = view_->picture(Pic()).panes[static_cast<size_t>(pane)].indicators;
            if (!held.empty()) held.erase(held.begin());
            AddIndicator(*view_, Pic(), pane, *f, false, false);
            // The new formula takes the first place.
            for (size_t i = 0; i < held.size(); ++i)
                if (held[i].formula.nameText() == f->nameText() && i > 0) std::rotate(held.begin(), held.begin() + static_cast<long>(i), held.begin() + static_cast<long>(i) + 1);
            Refresh(1);
            return;
        }
        case Qt::Key_Tab:
            ToggleEnlargement();
            return;
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            StepSecurity(event->key() == Qt::Key_PageUp ? -1 : 1);
            return;
        case Qt::Key_Delete: {
            // The selected indicator, else the active sub-chart after asking.
            GraphPicture& p = view_->picture(Pic());
            const int pane = std::min(activePane_, static_cast<int>(p.panes.size()) - 1);
            auto& held = p.panes[static_cast<size_t>(pane)].indicators;
            if (selectedSlot_ >= 0 && selectedSlot_ < static_cast<int>(held.size())) {
                held.erase(held.begin() + selectedSlot_);
                selectedSlot_ = -1;
                Apply(view_->Update(3, Pic(), pane));
                return;
            }
            if (pane > 0 && AskDeletePane()) DeletePane(pane);
            return;
        }
        case Qt::Key_Escape:
            // Esc closes the data window and the crosshair; with neither shown the parent takes it.
            if (cursor_.on || (dataWindow_ && dataWindow_->isVisible())) {
                SetCrosshair(false);
                return;
            }
            QWidget::keyPressEvent(event);
            return;
        case Qt::Key_Less: case Qt::Key_Comma: key = MoveKey::kSlowLeft; break;
        case Qt::Key_Greater: case Qt::Key_Period: key = MoveKey::kSlowRight; break;
        case Qt::Key_F8: {
            // The next period; after the time-sharing picture comes the tick picture.
            Period next = NextPeriod(view_->picture(Pic()).period);
            SetPeriod(next);
            return;
        }
        default: {
            const QString text = event->text();
            if (wizard_ && !text.isEmpty() && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) &&
                OpensWizard(static_cast<char32_t>(text.toUcs4().value(0)))) {
                if (std::optional<WizardItem> item = wizard_(text)) ApplyWizardItem(*item);
                return;
            }
            QWidget::keyPressEvent(event);
            return;
        }
    }
    MoveOrZoom(key);
}

void ChartWidget::MoveOrZoom(MoveKey key) {
    const int before = view_->picture(Pic()).historyRequest;
    if (!view_->MoveOrZoom(key)) return;
    if (view_->picture(Pic()).historyRequest != before) needRequest_ = true;
    Apply(view_->Update(1));
    if (cursor_.on) CursorMoved(false);
}

StoreTime ChartWidget::HistoryDay() const {
    const GraphPicture& p = view_->picture(Pic());
    if (!p.hasSecurity || !IsDayBasedPeriod(p.period) || p.scale.shown <= 0) return 0;
    // The crosshair's bar, else the newest shown.
    const size_t i = cursor_.on && cursor_.bar >= 0 ? static_cast<size_t>(cursor_.bar)
                                                    : static_cast<size_t>(p.scale.first + p.scale.shown - 1);
    return i < p.series.size() ? p.series.bars[i].time : 0;
}

bool ChartWidget::AddFormula(uint32_t type, const std::string& name, bool fromMenu) {
    std::optional<FormulaRecord> f = context_.formulas->Find(type, name);
    if (!f) return false;
    const size_t panes = view_->picture(Pic()).panes.size();
    const AddResult r = AddIndicator(*view_, Pic(), activePane_, *f, false, fromMenu, activePane_);
    if (r != AddResult::kAdded && r != AddResult::kKLine) return false;
    if (view_->picture(Pic()).panes.size() != panes) {
        Refresh(1);
    } else {
        const int pane = FindIndicator(*view_, Pic(), type, name);
        Apply(view_->Update(2, Pic(), r == AddResult::kKLine ? -1 : pane));
    }
    return true;
}

bool ChartWidget::RemoveFormula(uint32_t type, const std::string& name) {
    const int pane = FindIndicator(*view_, Pic(), type, name);
    if (pane < 0 || RemoveIndicators(*view_, Pic(), -1, type, name) == 0) return false;
    Apply(view_->Update(3, Pic(), pane));
    return true;
}

void ChartWidget::ShowMultiPictures(MultiKind kind) {
    const GraphPicture& p = view_->picture(Pic());
    if (!p.hasSecurity || kind == kSingle) return;
    const int pics = static_cast<int>(std::min<uint32_t>(context_.settings.multiPics, 16));
    std::vector<PicturePlan> plan;
    if (kind == kMultiPeriod) {
        plan = MultiPeriodPlan(p.security, pics);
    } else {
        const bool inList = StepInList(list_, p.security.id, 0) >= 0;
        plan = MultiStockPlan(inList ? list_ : context_.store->ListSecurities(MarketBit(p.security.id.market)),
                              p.security, pics, p.period);
    }
    if (plan.empty()) return;
    // The single picture's settings become the defaults the new pictures start from.
    if (multi_ == kSingle) KeepPictureDefaults(*view_, defaults());
    ShowPictures(kind, plan);
}

void ChartWidget::ShowSinglePicture(int picture) {
    if (multi_ == kSingle || picture < 0 || picture >= view_->pictureCount()) return;
    const PicturePlan one{view_->picture(picture).security, view_->picture(picture).period,
                          static_cast<int>(DefaultPanes(defaults()).size())};
    ShowPictures(kSingle, {one});
}

void ChartWidget::ShowPictures(MultiKind kind, const std::vector<PicturePlan>& plan) {
    SetCrosshair(false);
    multi_ = kind;
    activePane_ = 0;
    selectedSlot_ = -1;
    enlarged_.clear();
    ApplyPlan(*view_, plan, defaults());
    view_->SetActive(0);
    cursor_.picture = 0;
    needRequest_ = true;
    Refresh(0);
    UpdateTitle();
}

void ChartWidget::StepSecurity(int step) {
    // From the view's list when it holds the security, else from the first user block holding
    // it, else from the market's code table.
    const NextSecurityFn next = [&](const CodeEntry& from, int s) -> std::optional<CodeEntry> {
        if (StepInList(list_, from.id, 0) >= 0) return NextInLists({&list_}, from, s);
        std::vector<CodeEntry> block, table;
        if (context_.blocks) {
            const std::vector<Block> blocks = context_.blocks->Blocks();
            for (const Block& b : blocks) {
                if (!UserBlock(b) || !b.contains(from.id)) continue;
                for (const SecurityId& id : b.members)
                    if (std::optional<CodeEntry> e = context_.store->GetCodeEntry(id)) block.push_back(*e);
                break;
            }
        }
        if (StepInList(block, from.id, 0) < 0) table = context_.store->ListSecurities(MarketBit(from.id.market));
        return NextInLists({&block, &table}, from, s);
    };
    const auto targets = SecurityStepTargets(*view_, Combination(multi_), step, next);
    if (targets.empty()) return;
    for (const auto& [picture, security] : targets) view_->SetSecurity(picture, security);
    needRequest_ = true;
    Refresh(0);
    UpdateTitle();
}

bool ChartWidget::ApplyWizardItem(const WizardItem& item) {
    switch (item.kind) {
        case kWizardSecurity:
            ShowSecurity(item.entry);
            return true;
        case kWizardFormula: {
            const std::string name = item.text1;
            if (FindIndicator(*view_, Pic(), item.value, name) >= 0) return RemoveFormula(item.value, name);
            return AddFormula(item.value, name, true);
        }
        case kWizardCommand: {
            const QuickCommandAction action = QuickCommandActionOf(static_cast<int>(item.value));
            if (action.kind != QuickCommandAction::Kind::Period) return false;
            const Period period = PeriodFromNumber(action.value);
            if (!IsValidPeriod(period) || period == kPeriodTime) return false;
            SetPeriod(period);
            return true;
        }
        default: return false;
    }
}

int ChartWidget::AddOverlays(const std::vector<CodeEntry>& securities, std::string& message, bool& askPercentage) {
    message.clear();
    askPercentage = false;
    GraphPicture& p = view_->picture(Pic());
    const size_t before = 1 + p.overlays.size();
    if (before >= static_cast<size_t>(kMaxSecurities)) {
        message = "叠加股票已到最大限度,不能再进行叠加操作!";
        return 0;
    }
    int added = 0;
    for (const CodeEntry& e : securities)
        if (view_->AddOverlay(Pic(), e)) ++added;
    if (added == 0) return 0;
    askPercentage = before == 1 && p.period != kPeriodTime && (p.panes[0].scaleMode & 3) != kScalePercentage;
    needRequest_ = true;
    Refresh(0, true);
    return added;
}

void ChartWidget::SetMainPercentage(bool on) {
    view_->SetScaleMode(Pic(), 0, on ? kScalePercentage : kScaleNormal);
    Apply(view_->Update(3, Pic(), 0));
}

bool ChartWidget::DeletePane(int pane) {
    GraphPicture& p = view_->picture(Pic());
    if (pane <= 0 || pane >= static_cast<int>(p.panes.size())) return false;
    if (!enlarged_.empty()) ToggleEnlargement();
    p.panes.erase(p.panes.begin() + pane);
    activePane_ = std::min(activePane_, static_cast<int>(p.panes.size()) - 1);
    selectedSlot_ = -1;
    view_->Resize(width(), height());  // the others fill the height in their proportions
    RepaintAll();
    return true;
}

void ChartWidget::ToggleEnlargement() {
    TogglePaneEnlargement(*view_, activePane_, enlarged_);
    RepaintAll();
}

void ChartWidget::RepaintAll() {
    // The panes moved: everything is drawn again.
    EraseCursor();
    view_->Update(1);
    canvas_.PaintAll(*view_, fonts_);
    tagsDrawn_ = false;
    update();
    if (cursor_.on) CursorMoved(false);
}

void ChartWidget::SetCrosshairSwitch(bool on) { g_crosshair.store(on); }
bool ChartWidget::crosshairSwitch() { return g_crosshair.load(); }

}  // namespace tessaro::chart
