#include "chart/qt/chart_widget.h"

#include <QActionGroup>
#include <QClipboard>
#include <QGuiApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QThread>
#include <QToolTip>
#include <algorithm>
#include <map>
#include <atomic>

#include "chart/chart_commands.h"
#include "chart/indicator_combo.h"
#include "chart/qt/chart_dialogs.h"
#include "chart/kline_content.h"
#include "chart/multi_picture.h"
#include "platform/files.h"
#include "chart/qt/data_window.h"
#include "market/market_store.h"
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

bool ChartWidget::PlaceSignal(uint32_t type, const std::string& nameGbk) {
    std::optional<FormulaRecord> f = context_.formulas->Find(type, nameGbk);
    if (!f || PlaceSignalFormula(*view_, Pic(), *f) != AddResult::kAdded) return false;
    selectedSlot_ = -1;
    Apply(view_->Update(2, Pic(), 0));
    return true;
}

int ChartWidget::CloseSignals() {
    const int removed = CloseSignalFormulas(*view_, Pic());
    if (removed > 0) {
        selectedSlot_ = -1;
        Apply(view_->Update(2, Pic(), 0));
    }
    return removed;
}

bool ChartWidget::AdjustParameter(uint32_t type, const std::string& nameGbk, int index, float value) {
    const std::vector<PaneRef> touched = SetFormulaParameter(*view_, type, nameGbk, index, value);
    Reevaluate(touched);
    return !touched.empty();
}

void ChartWidget::SelectSlot(int pane, int slot) {
    activePane_ = pane;
    selectedSlot_ = slot;
}

bool ChartWidget::DeleteFormula(int pane, int slot, const std::function<bool()>& ask) {
    switch (RemoveFormulaSlot(*view_, Pic(), pane, slot)) {
        case SlotRemoval::kNone: return false;
        case SlotRemoval::kRemoved:
            selectedSlot_ = -1;
            Apply(view_->Update(3, Pic(), pane));
            return true;
        case SlotRemoval::kAskDeletePane: {
            const bool yes = ask ? ask()
                                 : QMessageBox::question(this, QStringLiteral("系统提示"), QStringLiteral("真的要删除副图吗？")) ==
                                       QMessageBox::Yes;
            return yes && DeletePane(pane);
        }
    }
    return false;
}

bool ChartWidget::AddToUserBlockNamed(const std::string& nameGbk, std::string& message) {
    message.clear();
    if (!context_.blocks || !view_->picture(Pic()).hasSecurity) return false;
    YesPrompt prompt;
    BlockManager manager(*context_.blocks, prompt);
    return AddToUserBlock(manager, *context_.blocks, nameGbk, view_->picture(Pic()).security.id, message);
}

int ChartWidget::RemoveFromUserBlocksNamed(const std::vector<std::string>& namesGbk, std::string& message) {
    message.clear();
    if (!context_.blocks || !view_->picture(Pic()).hasSecurity) return 0;
    // The check list was the question.
    YesPrompt prompt;
    BlockManager manager(*context_.blocks, prompt);
    return RemoveFromUserBlocks(manager, *context_.blocks, namesGbk, view_->picture(Pic()).security.id, message);
}

void ChartWidget::ShowOverlayPicker() {
    const GraphPicture& p = view_->picture(Pic());
    if (!picker_ || !p.hasSecurity || p.period == kPeriodTime) return;
    std::string message;
    bool ask = false;
    if (1 + p.overlays.size() >= static_cast<size_t>(kMaxSecurities)) {
        AddOverlays({}, message, ask);  // the refusal
    } else {
        std::vector<CodeEntry> shown{p.security};
        for (const Overlay& o : p.overlays) shown.push_back(o.security);
        const std::vector<CodeEntry> chosen = picker_(shown);
        if (chosen.empty()) return;
        AddOverlays(chosen, message, ask);
    }
    if (!message.empty()) {
        QMessageBox::information(this, QStringLiteral("系统提示"), QString::fromStdString(message));
        return;
    }
    if (ask && QMessageBox::question(this, QStringLiteral("系统提示"), QStringLiteral("需要将主图坐标设为百分比坐标吗？")) ==
                   QMessageBox::Yes)
        SetMainPercentage(true);
}

void ChartWidget::ShowSignalPicker() {
    SignalFormulaPicker picker(SignalSystemChoices(context_.formulas->Snapshot()), this);
    if (picker.exec() != QDialog::Accepted) return;
    if (const auto choice = picker.chosen()) PlaceSignal(choice->first, choice->second);
}

void ChartWidget::ShowAddToBlock() {
    if (!context_.blocks) return;
    BlockChoiceDialog dialog(QStringLiteral("加入到自选股"), UserBlockNames(context_.blocks->Blocks()), false, this);
    if (dialog.exec() != QDialog::Accepted || dialog.chosen().empty()) return;
    std::string message;
    if (!AddToUserBlockNamed(dialog.chosen().front(), message) && !message.empty())
        QMessageBox::information(this, QStringLiteral("系统提示"), QString::fromStdString(message));
}

void ChartWidget::ShowRemoveFromBlocks() {
    if (!context_.blocks || !view_->picture(Pic()).hasSecurity) return;
    const std::vector<std::string> holding = UserBlocksHolding(context_.blocks->Blocks(), view_->picture(Pic()).security.id);
    if (holding.empty()) {
        QMessageBox::information(this, QStringLiteral("系统提示"), QString::fromUtf8(kNotInUserBlock.data(), int(kNotInUserBlock.size())));
        return;
    }
    BlockChoiceDialog dialog(QString::fromUtf8(kRemoveFromBlocksTitle.data(), int(kRemoveFromBlocksTitle.size())), holding, true, this);
    if (dialog.exec() != QDialog::Accepted) return;
    std::string message;
    RemoveFromUserBlocksNamed(dialog.chosen(), message);
    if (!message.empty()) QMessageBox::information(this, QStringLiteral("系统提示"), QString::fromStdString(message));
}

void ChartWidget::FillFormulaItems(QMenu* menu) {
    // The items of the indicator selected by a click on its name.
    const GraphPicture& p = view_->picture(Pic());
    if (activePane_ < 0 || activePane_ >= static_cast<int>(p.panes.size())) return;
    const auto& held = p.panes[static_cast<size_t>(activePane_)].indicators;
    if (selectedSlot_ < 0 || selectedSlot_ >= static_cast<int>(held.size())) return;
    const FormulaRecord& f = held[static_cast<size_t>(selectedSlot_)].formula;
    const uint32_t type = f.type;
    const std::string name(f.nameText());
    const int pane = activePane_, slot = selectedSlot_;
    const FormulaMenuCaptions captions = FormulaMenuTexts(f);
    menu->addSeparator();
    connect(menu->addAction(QString::fromStdString(captions.edit)), &QAction::triggered, this, [this, type, name] {
        FormulaEditDialog editor(*context_.formulas, this);
        // OK stores, saves and announces the formula; the notice redraws the panes.
        if (editor.Open(type, name)) editor.exec();
    });
    if (!captions.parameters.empty())
        connect(menu->addAction(QString::fromStdString(captions.parameters)), &QAction::triggered, this, [this, type, name, pane] {
            ParameterDialog dialog(*context_.formulas, type, name, SlotParameters(view_->picture(Pic()), pane, type, name),
                                   [this, type, name](int i, float v) { AdjustParameter(type, name, i, v); }, this);
            dialog.exec();
        });
    connect(menu->addAction(QString::fromStdString(captions.comment)), &QAction::triggered, this, [this, type, name] {
        CommentDialog dialog(*context_.formulas, type, name, this);
        dialog.exec();
    });
    connect(menu->addAction(QString::fromStdString(captions.remove)), &QAction::triggered, this,
            [this, pane, slot] { DeleteFormula(pane, slot); });
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
            if (pane > 0 && QMessageBox::question(this, QStringLiteral("系统提示"), QStringLiteral("真的要删除副图吗？")) ==
                                QMessageBox::Yes)
                DeletePane(pane);
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

void ChartWidget::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    FillMenu(&menu);
    menu.exec(event->globalPos());
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
        std::vector<CodeEntry> list = list_;
        if (StepInList(list, p.security.id, 0) < 0) {
            const MarketCode market = p.security.id.market;
            list = context_.store->ListSecurities(market == kMarketSH ? 1u : market == kMarketSZ ? 2u : 4u);
        }
        plan = MultiStockPlan(list, p.security, pics, p.period);
    }
    if (plan.empty()) return;
    SetCrosshair(false);
    // The single picture's settings become the defaults the new pictures start from.
    if (multi_ == kSingle) KeepPictureDefaults(*view_, defaults());
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

void ChartWidget::ShowSinglePicture(int picture) {
    if (multi_ == kSingle || picture < 0 || picture >= view_->pictureCount()) return;
    const SystemSettings& d = defaults();
    const PicturePlan one{view_->picture(picture).security, view_->picture(picture).period,
                          static_cast<int>(DefaultPanes(d).size())};
    SetCrosshair(false);
    multi_ = kSingle;
    activePane_ = 0;
    selectedSlot_ = -1;
    enlarged_.clear();
    view_->SetActive(0);
    ApplyPlan(*view_, {one}, d);
    cursor_.picture = 0;
    needRequest_ = true;
    Refresh(0);
    UpdateTitle();
}

void ChartWidget::StepSecurity(int step) {
    // From the view's list when it holds the security, else from the first user block holding
    // it, else from the market's code table.
    const NextSecurityFn next = [&](const CodeEntry& from, int s) -> std::optional<CodeEntry> {
        std::vector<CodeEntry> block, table;
        if (StepInList(list_, from.id, 0) < 0 && context_.blocks) {
            const std::vector<Block> blocks = context_.blocks->Blocks();
            for (const Block& b : blocks) {
                if (!UserBlock(b) || !b.contains(from.id)) continue;
                for (const SecurityId& id : b.members)
                    if (std::optional<CodeEntry> e = context_.store->GetCodeEntry(id)) block.push_back(*e);
                break;
            }
        }
        if (StepInList(list_, from.id, 0) < 0 && StepInList(block, from.id, 0) < 0) {
            const MarketCode market = from.id.market;
            table = context_.store->ListSecurities(market == kMarketSH ? 1u : market == kMarketSZ ? 2u : 4u);
        }
        return NextInLists({&list_, &block, &table}, from, s);
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

bool ChartWidget::SaveCombinationNamed(const std::string& name, bool overwrite, std::string& message) {
    message.clear();
    const std::string dir = context_.paths.indicatorComboDir();
    std::string path;
    if (!ComboFilePath(dir, name, path)) {
        message = kComboBadName;
        return false;
    }
    if (FileExists(path) && !overwrite) {
        message = kComboOverwrite;
        return false;
    }
    CreateDirectories(dir);
    if (!SaveCombination(path, CombinationOf(view_->picture(0)))) {
        message = kComboBadName;
        return false;
    }
    return true;
}

bool ChartWidget::LoadCombinationFile(const std::string& path, std::string& message) {
    message.clear();
    IndicatorCombination combo;
    ComboError error;
    if (!LoadCombination(path, combo, error)) {
        // A file of another format says so; a short or unreadable one is ignored.
        if (error == ComboError::kUnknownFormat) message = kComboUnknownFormat;
        return false;
    }
    ApplyCombination(*view_, combo);
    activePane_ = 0;
    Refresh(1);
    return true;
}

void ChartWidget::FillMenu(QMenu* menu) {
    if (const StoreTime day = HistoryDay(); day != 0) {
        QAction* history = menu->addAction(QStringLiteral("历史分时"));
        connect(history, &QAction::triggered, this, [this, day] { emit historyTimeSharing(view_->picture(Pic()).security, day); });
    }

    // The main-pane and sub-chart indicators of the set, by group: built-in or common formulas,
    // not the group 右图指标 and no name with "&". A ticked item removes, any other adds.
    const std::string rightGroup = Utf8ToGbk("右图指标");
    const std::vector<FormulaRecord> all = context_.formulas->Snapshot();
    for (const auto& [type, caption] : {std::pair<uint32_t, const char*>{kFormulaMainOverlay, "主图指标"},
                                        std::pair<uint32_t, const char*>{kFormulaSubPane, "副图指标"}}) {
        QMenu* sub = menu->addMenu(QString::fromUtf8(caption));
        std::map<std::string, QMenu*> groups;
        for (const FormulaRecord& f : all) {
            if (f.type != type || f.group == rightGroup || f.nameText().find('&') != std::string_view::npos) continue;
            if (f.sourceOrigin != 1 && f.sourceOrigin != 3) continue;
            QMenu*& g = groups[f.group];
            if (!g) g = f.group.empty() ? sub : sub->addMenu(QString::fromStdString(GbkToUtf8(f.group)));
            char text[160];
            const std::string name(f.nameText());
            std::snprintf(text, sizeof text, "%-6s %s", GbkToUtf8(name).c_str(), GbkToUtf8(f.description).c_str());
            QAction* a = g->addAction(QString::fromUtf8(text));
            a->setCheckable(true);
            const bool shown = FindIndicator(*view_, Pic(), type, name) >= 0;
            a->setChecked(shown);
            a->setEnabled(!f.periodDisabled(view_->picture(Pic()).period));
            connect(a, &QAction::triggered, this, [this, type, name, shown] {
                if (shown) RemoveFormula(type, name);
                else AddFormula(type, name, true);
            });
        }
    }
    menu->addSeparator();
    QMenu* kinds = menu->addMenu(QStringLiteral("Ｋ线类型"));
    for (const auto& [caption, kind] : {std::pair<const char*, const char*>{"蜡烛线", "K"}, {"美国线", "BAR"}, {"价位线", "PRICE"}}) {
        QAction* a = kinds->addAction(QString::fromUtf8(caption));
        a->setCheckable(true);
        a->setChecked(view_->picture(Pic()).kline.formula.nameText() == kind);
        const std::string name = kind;
        connect(a, &QAction::triggered, this, [this, name] {
            view_->SetKLineKind(name);
            Refresh(2);
        });
    }
    if (view_->picture(Pic()).period != kPeriodTime) {
        // K线坐标: the main pane's range follows the K-lines only, or takes in its indicators.
        QAction* klineScale = menu->addAction(QStringLiteral("K线坐标"));
        klineScale->setCheckable(true);
        klineScale->setChecked(view_->options().klineScale);
        connect(klineScale, &QAction::triggered, this, [this](bool on) {
            ChartOptions o = view_->options();
            o.klineScale = on;
            view_->SetOptions(o);
            RepaintAll();
        });
    }
    QAction* overlay = menu->addAction(QStringLiteral("主图叠加"));
    overlay->setEnabled(picker_ != nullptr && view_->picture(Pic()).period != kPeriodTime);
    connect(overlay, &QAction::triggered, this, [this] { ShowOverlayPicker(); });
    connect(menu->addAction(QStringLiteral("系统指示")), &QAction::triggered, this, [this] { ShowSignalPicker(); });
    connect(menu->addAction(QStringLiteral("关闭指示")), &QAction::triggered, this, [this] { CloseSignals(); });
    QAction* copy = menu->addAction(QStringLiteral("复制数据"));
    copy->setEnabled(view_->picture(Pic()).scale.shown > 0);
    connect(copy, &QAction::triggered, this, [this] {
        QGuiApplication::clipboard()->setText(QString::fromStdString(CopyDataText(view_->picture(Pic()))));
    });
    QAction* addBlock = menu->addAction(QStringLiteral("加入到自选股"));
    addBlock->setEnabled(context_.blocks != nullptr);
    connect(addBlock, &QAction::triggered, this, [this] { ShowAddToBlock(); });
    QAction* removeBlock = menu->addAction(QStringLiteral("从板块中删除"));
    removeBlock->setEnabled(context_.blocks != nullptr);
    connect(removeBlock, &QAction::triggered, this, [this] { ShowRemoveFromBlocks(); });
    QMenu* combos = menu->addMenu(QStringLiteral("指标组合"));
    connect(combos->addAction(QStringLiteral("载入指标组合")), &QAction::triggered, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, QString::fromUtf8(kComboOpenTitle),
                                                          QString::fromStdString(context_.paths.indicatorComboDir()),
                                                          QString::fromUtf8(kComboFilter));
        if (file.isEmpty()) return;
        std::string message;
        if (!LoadCombinationFile(file.toStdString(), message) && !message.empty())
            QMessageBox::information(this, QStringLiteral("系统提示"), QString::fromUtf8(message.c_str()));
    });
    connect(combos->addAction(QStringLiteral("保存指标组合")), &QAction::triggered, this, [this] {
        bool ok = false;
        const QString name = QInputDialog::getText(this, QString::fromUtf8(kComboNameCaption),
                                                   QString::fromUtf8(kComboNamePrompt), QLineEdit::Normal, QString(), &ok);
        if (!ok) return;
        std::string message;
        if (SaveCombinationNamed(name.toStdString(), false, message)) return;
        if (message == kComboOverwrite) {
            if (QMessageBox::question(this, QStringLiteral("系统提示"), QString::fromUtf8(kComboOverwrite)) != QMessageBox::Yes) return;
            if (SaveCombinationNamed(name.toStdString(), true, message)) return;
        }
        QMessageBox::information(this, QStringLiteral("系统提示"), QString::fromUtf8(message.c_str()));
    });
    for (size_t k = 0; k < view_->picture(Pic()).overlays.size(); ++k) {
        const std::string name = GbkToUtf8(FieldText(view_->picture(Pic()).overlays[k].security.name));
        connect(menu->addAction(QString::fromStdString("删除叠加" + name)), &QAction::triggered, this, [this, k] {
            if (view_->RemoveOverlay(Pic(), static_cast<int>(k))) Apply(view_->Update(3, Pic(), 0));
        });
    }
    QMenu* scale = menu->addMenu(QStringLiteral("坐标"));
    const bool pct = (view_->picture(Pic()).panes[0].scaleMode & 3) == kScalePercentage;
    QAction* normal = scale->addAction(QStringLiteral("普通坐标"));
    normal->setCheckable(true);
    normal->setChecked(!pct);
    connect(normal, &QAction::triggered, this, [this] { SetMainPercentage(false); });
    QAction* percent = scale->addAction(QStringLiteral("百分比坐标"));
    percent->setCheckable(true);
    percent->setChecked(pct);
    connect(percent, &QAction::triggered, this, [this] { SetMainPercentage(true); });
    connect(menu->addAction(QStringLiteral("清除指标")), &QAction::triggered, this, [this] {
        GraphPicture& p = view_->picture(Pic());
        const int pane = std::min(activePane_, static_cast<int>(p.panes.size()) - 1);
        p.panes[static_cast<size_t>(pane)].indicators.clear();
        selectedSlot_ = -1;
        Apply(view_->Update(3, Pic(), pane));
    });
    FillFormulaItems(menu);
    menu->addSeparator();
    QAction* cross = menu->addAction(QStringLiteral("十字光标"));
    cross->setCheckable(true);
    cross->setChecked(cursor_.on);
    connect(cross, &QAction::triggered, this, [this](bool on) { SetCrosshair(on); });
    QAction* panAction = menu->addAction(QStringLiteral("平移画面"));
    panAction->setCheckable(true);
    panAction->setChecked(pan_);
    connect(panAction, &QAction::triggered, this, [this](bool on) { SetPan(on); });
    QMenu* periods = menu->addMenu(QStringLiteral("分析周期"));
    for (int n = PeriodNumber(kPeriodTick); n <= PeriodNumber(kPeriodTime); ++n) {
        const Period period = static_cast<Period>(n);
        const std::string_view name = PeriodName(period);
        QAction* a = periods->addAction(QString::fromUtf8(name.data(), int(name.size())));
        a->setCheckable(true);
        a->setChecked(view_->picture(Pic()).period == period);
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

// ---- The crosshair and the mouse -----------------------------------------------------

void ChartWidget::SetCrosshairSwitch(bool on) { g_crosshair.store(on); }
bool ChartWidget::crosshairSwitch() { return g_crosshair.load(); }

void ChartWidget::SetPan(bool on) {
    if (pan_ == on) return;
    pan_ = on;
    // Off: the ranges are computed afresh.
    if (!on) Apply(view_->Update(3));
}

void ChartWidget::SetCrosshair(bool on) {
    g_crosshair.store(on);
    if (!on) {
        EraseCursor();
        cursor_.on = false;
        Apply(view_->SetCursorBar(cursor_.picture, -1));
        if (dataWindow_) dataWindow_->hide();
        return;
    }
    if (cursor_.on) return;
    if (cursor_.picture != Pic()) {
        // The crosshair comes on in the active picture.
        cursor_.picture = Pic();
        cursor_.bar = -1;
        cursor_.y = 0;
    }
    const GraphPicture& p = view_->picture(cursor_.picture);
    if (p.series.empty()) {
        // Nothing to point at yet: the switch stays on for when bars arrive.
        return;
    }
    cursor_.on = true;
    if (cursor_.bar < 0 || cursor_.bar >= static_cast<int>(p.series.size())) cursor_.bar = static_cast<int>(p.series.size()) - 1;
    if (cursor_.y <= 0) cursor_.y = p.panes[0].map.Y(p.series.bars[static_cast<size_t>(cursor_.bar)].close);
    CursorMoved(false);
}

void ChartWidget::MoveCursor(int x, int y) {
    // The crosshair stays in the active picture.
    if (view_->pictureCount() > 1 && PictureAt(*view_, x, y) != Pic()) return;
    Crosshair c = cursor_;
    if (!PlaceCursor(*view_, c, x, y)) return;
    c.on = true;
    cursor_ = c;
    CursorMoved(false);
}

void ChartWidget::CursorMoved(bool scrolled) {
    EraseCursor();
    GraphPicture& p = view_->picture(cursor_.picture);
    if (cursor_.bar >= static_cast<int>(p.series.size())) cursor_.bar = static_cast<int>(p.series.size()) - 1;
    Region region;
    if (scrolled) region.Add(view_->Update(1));
    region.Add(view_->SetCursorBar(cursor_.picture, cursor_.on ? cursor_.bar : -1));
    if (!region.empty()) {
        canvas_.Paint(*view_, region, fonts_);
        for (const Rect& r : region.rects()) update(ToQRect(r));
    }
    DrawCursor();
    UpdateDataWindow();
}

void ChartWidget::EraseCursor() {
    if (tagsDrawn_) {
        for (const CursorTag* t : {&tags_.time, &tags_.value}) {
            if (t->box.empty()) continue;
            canvas_.RestoreUnder(ToQRect(t->box));
            update(ToQRect(t->box));
        }
        tagsDrawn_ = false;
    }
    if (crosshairShown_) {
        InvalidateLines();
        crosshairShown_ = false;
    }
}

void ChartWidget::DrawCursor() {
    if (!cursor_.on || canvas_.size().isEmpty()) return;
    tags_ = MakeCursorTags(*view_, cursor_);
    if (!tags_.hasTime) tags_.time.box = {};
    if (!tags_.hasValue) tags_.value.box = {};
    const QRect bounds(QPoint(0, 0), canvas_.size());
    const ColorRef* colours = view_->options().scheme.colors;
    QPainter painter(&canvas_.back());
    painter.setFont(fonts_.chart());
    for (CursorTag* t : {&tags_.time, &tags_.value}) {
        QRect box = ToQRect(t->box).intersected(bounds);
        if (box.isEmpty()) {
            t->box = {};
            continue;
        }
        t->box = {box.left(), box.top(), box.right() + 1, box.bottom() + 1};
        canvas_.SaveUnder(box);
        painter.setPen(ToQColor(colours[kColorAxis]));
        painter.setBrush(ToQColor(colours[kColorHighlight]));
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        painter.setPen(ToQColor(colours[kColorChartText]));
        painter.drawText(box, Qt::AlignCenter, QString::fromStdString(t->text));
        update(box);
    }
    tagsDrawn_ = true;
    lineX_ = CursorLineX(*view_, cursor_);
    lineY_ = cursor_.y;
    crosshairShown_ = true;
    InvalidateLines();
}

void ChartWidget::InvalidateLines() {
    const GraphPicture& p = view_->picture(cursor_.picture);
    update(QRect(lineX_, RoundPixel(p.outer.top), 1, RoundPixel(p.outer.height())));
    update(QRect(RoundPixel(p.outer.left), lineY_, RoundPixel(p.outer.width()), 1));
}

void ChartWidget::UpdateDataWindow() {
    if (!cursor_.on) return;
    const GraphPicture& p = view_->picture(cursor_.picture);
    if (!dataWindow_) {
        dataWindow_ = new DataWindow(view_->options().scheme, fonts_.chart(), this);
        dataWindow_->move(mapToGlobal(QPoint(8, 24)));
    }
    QString title = QString::fromStdString(GbkToUtf8(FieldText(p.security.name)));
    dataWindow_->SetRows(title, DataWindowRows(p.series, p.security, p.period, cursor_.bar, p.decimals));
    if (!dataWindow_->isVisible()) dataWindow_->show();
}

bool ChartWidget::PanelPress(QPoint pt) {
    const Point at{pt.x(), pt.y()};
    for (int i = 0; i < view_->pictureCount(); ++i) {
        const InfoPanel& panel = view_->picture(i).panel;
        if (panel.OnEdge(at)) {
            SetActivePicture(i);  // the release sets the width of this picture's panel
            mouseState_ = 16;
            edgeX_ = pt.x();
            update(QRect(edgeX_, 0, 1, height()));
            return true;
        }
        const Rect& box = panel.box();
        if (box.empty() || pt.x() < box.left || pt.x() >= box.right || pt.y() < box.top || pt.y() >= box.bottom) continue;
        if (const int tab = panel.TabAt(at); tab >= 0) {
            if (view_->SetPanelMode(i, tab)) Apply(view_->Update(4, i));
        } else if (const int row = panel.BlockAt(at); row >= 0) {
            const auto& blocks = view_->picture(i).panelBlocks;
            if (static_cast<size_t>(row) < blocks.size()) emit openBlock(blocks[static_cast<size_t>(row)].nameGbk);
        }
        return true;
    }
    return false;
}

void ChartWidget::mousePressEvent(QMouseEvent* event) {
    const QPoint pt = event->position().toPoint();
    if (event->button() == Qt::LeftButton && PanelPress(pt)) return;
    const HitInfo hit = HitTest(*view_, pt.x(), pt.y());
    mouseState_ = 0;
    // The hit picture becomes active; the crosshair, keys and menus act on it.
    if (hit.picture >= 0) SetActivePicture(hit.picture);
    if (hit.pane >= 0) activePane_ = hit.pane;
    selectedSlot_ = hit.kind == kHitIndicator ? hit.slot : -1;
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
    if (hit.kind == kHitDivider && event->button() == Qt::LeftButton) {
        mouseState_ = 8;
        dividerPane_ = hit.pane;
        dividerY_ = pt.y();
        update(QRect(0, dividerY_, width(), 1));
        return;
    }
    if (hit.kind == kHitPane && hit.part == kPartRightAxis && hit.pane == 0 && event->button() == Qt::LeftButton &&
        view_->picture(hit.picture).period != kPeriodTime && view_->picture(hit.picture).panes[0].scaleMode == kScalePercentage) {
        // A press on the price axis in percentage mode drags the reference value.
        mouseState_ = 64;
        anchor_ = lastPoint_ = pt;
        return;
    }
    if (hit.kind == kHitIndicator && event->button() == Qt::RightButton) {
        // The context menu of the selected indicator opens when the button comes up.
        mouseState_ = 1;
        rightButton_ = true;
        anchor_ = lastPoint_ = pt;
        bandFrom_ = -1;
        return;
    }
    if (hit.kind != kHitPane && hit.kind != kHitTimeAxis) return;
    mouseState_ = 1;
    rightButton_ = event->button() == Qt::RightButton;
    anchor_ = lastPoint_ = pt;
    panAnchorX_ = static_cast<float>(pt.x());
    // A pan drag from the time axis, or from a pane with the pan switch on.
    bandFrom_ = (hit.kind == kHitTimeAxis || pan_) ? -2 : hit.bar;
}

void ChartWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double-click inside a pane of the one picture is 指标放大.
    const QPoint pt = event->position().toPoint();
    const HitInfo hit = HitTest(*view_, pt.x(), pt.y());
    if (multi_ != kSingle && event->button() == Qt::LeftButton && hit.picture >= 0) {
        // Several pictures: the double-clicked one alone.
        ShowSinglePicture(hit.picture);
        return;
    }
    if (event->button() != Qt::LeftButton || hit.kind != kHitPane) {
        mousePressEvent(event);
        return;
    }
    mouseState_ = 0;
    activePane_ = hit.pane;
    ToggleEnlargement();
}

void ChartWidget::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pt = event->position().toPoint();
    if (pt == lastPoint_) return;  // the same point again
    const QPoint before = lastPoint_;
    lastPoint_ = pt;
    if (mouseState_ == 1 && DragStarted(anchor_.x(), anchor_.y(), pt.x(), pt.y())) mouseState_ = bandFrom_ == -2 ? 4 : 2;
    if (mouseState_ == 64 && DragStarted(anchor_.x(), anchor_.y(), pt.x(), pt.y())) mouseState_ = 128;
    if (mouseState_ == 64) return;
    if (mouseState_ == 128) {
        // Each move takes the reference value with it; the picture is drawn from its levels on.
        if (const int dy = pt.y() - anchor_.y(); dy != 0) {
            Apply(view_->DragReference(Pic(), 0, dy));
            anchor_ = pt;
        }
        return;
    }
    GraphPicture& p = view_->picture(Pic());
    if (mouseState_ == 16) {
        // The panel's edge follows the mouse while the picture keeps 200 pixels of chart.
        update(QRect(edgeX_, 0, 1, height()));
        const int right = RoundPixel(p.outer.right);
        edgeX_ = std::clamp(pt.x(), RoundPixel(p.outer.left) + 200, std::max(right - kInfoPanelMinWidth, 0));
        update(QRect(edgeX_, 0, 1, height()));
        return;
    }
    if (mouseState_ == 0) {
        bool edge = false;
        for (int i = 0; i < view_->pictureCount(); ++i) edge = edge || view_->picture(i).panel.OnEdge({pt.x(), pt.y()});
        if (edge) setCursor(Qt::SplitHCursor);
        else unsetCursor();
    }
    if (mouseState_ == 8) {
        // The boundary follows within its range and is applied on release.
        const auto [low, high] = DividerRange(p, dividerPane_);
        update(QRect(0, dividerY_, width(), 1));
        dividerY_ = std::clamp(pt.y(), low, std::max(low, high));
        update(QRect(0, dividerY_, width(), 1));
        return;
    }
    if (mouseState_ == 4) {
        if (PanScale(p.scale, rightButton_, panAnchorX_, static_cast<float>(pt.x()), static_cast<int>(p.series.size()))) {
            Apply(view_->Update(1));
            if (cursor_.on) CursorMoved(false);
        }
        return;
    }
    if (mouseState_ == 2) {
        bandTo_ = p.scale.shown > 0 ? p.scale.BarAt(static_cast<float>(pt.x())) : -1;
        update(QRect(anchor_, before).normalized().adjusted(-1, -1, 1, 1));
        update(QRect(anchor_, pt).normalized().adjusted(-1, -1, 1, 1));
        return;
    }
    if (cursor_.on && mouseState_ == 0) MoveCursor(pt.x(), pt.y());
}

void ChartWidget::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pt = event->position().toPoint();
    const int state = mouseState_;
    mouseState_ = 0;
    GraphPicture& p = view_->picture(Pic());
    const int total = static_cast<int>(p.series.size());
    if (state == 16) {
        update(QRect(edgeX_, 0, 1, height()));
        view_->SetInfoPanelWidth(RoundPixel(p.outer.right) - edgeX_);
        RepaintAll();
        emit infoPanelChanged(infoShown_, view_->options().infoPanelWidth);
        return;
    }
    if (state == 8) {
        update(QRect(0, dividerY_, width(), 1));
        if (MoveDivider(*view_, Pic(), dividerPane_, dividerY_)) RepaintAll();
        dividerPane_ = -1;
        return;
    }
    if (state == 2) {
        update(QRect(anchor_, lastPoint_).normalized().adjusted(-1, -1, 1, 1));
        const int bars = bandFrom_ >= 0 && bandTo_ >= 0 ? std::abs(bandTo_ - bandFrom_) + 1 : 0;
        // A left band over at least 4 bars zooms at once; a right band over more than one asks.
        bool zoom = !rightButton_ && bars >= 4;
        if (rightButton_ && bars > 1) {
            QMenu menu(this);
            QAction* a = menu.addAction(QStringLiteral("图形放大"));
            zoom = menu.exec(mapToGlobal(pt)) == a;
        }
        if (zoom && ZoomToBand(p.scale, bandFrom_, bandTo_, total)) {
            Apply(view_->Update(1));
            if (cursor_.on) CursorMoved(false);
        }
        return;
    }
    if (state != 1) return;
    if (rightButton_) {
        QMenu menu(this);
        FillMenu(&menu);
        menu.exec(mapToGlobal(pt));
        return;
    }
    // A click puts the crosshair on the bar under the mouse.
    g_crosshair.store(true);
    MoveCursor(pt.x(), pt.y());
}

void ChartWidget::wheelEvent(QWheelEvent* event) {
    const int dy = event->angleDelta().y();
    if (dy == 0) return;
    // Over the 财 page the wheel scrolls the finance rows; elsewhere it pages.
    const QPoint pt = event->position().toPoint();
    for (int i = 0; i < view_->pictureCount(); ++i) {
        const Rect& box = view_->picture(i).panel.box();
        if (box.empty() || pt.x() < box.left || pt.x() >= box.right || pt.y() < box.top || pt.y() >= box.bottom) continue;
        if (view_->picture(i).panelMode != kPanelModeFinance) break;
        if (view_->ScrollPanel(i, dy < 0 ? 3 : -3)) Apply(view_->Update(4, i));
        event->accept();
        return;
    }
    // The wheel pages through the securities: toward the user as Page Down, away as Page Up.
    StepSecurity(dy < 0 ? 1 : -1);
    event->accept();
}

bool ChartWidget::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Tab) {
        // Tab is 指标放大 here, not a focus move.
        keyPressEvent(static_cast<QKeyEvent*>(event));
        return true;
    }
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    // Over an indicator's name: why it drew nothing, when it failed.
    auto* help = static_cast<QHelpEvent*>(event);
    const HitInfo hit = HitTest(*view_, help->pos().x(), help->pos().y());
    std::string tip;
    if (hit.kind == kHitIndicator && hit.picture >= 0) {
        const GraphPicture& p = view_->picture(hit.picture);
        tip = IndicatorTip(p.panes[static_cast<size_t>(hit.pane)].indicators[static_cast<size_t>(hit.slot)]);
    } else if (hit.kind == kHitPane && hit.part == kPartDraw) {
        // Over a bar or a line: the bar tip.
        const BarTipText bar = BarTip(*view_, hit);
        if (!bar.title.empty()) tip = bar.title + "\n" + bar.text;
        for (size_t at; (at = tip.find('\r')) != std::string::npos;) tip.erase(at, 1);
        while (!tip.empty() && tip.back() == '\n') tip.pop_back();
    }
    if (tip.empty()) QToolTip::hideText();
    else QToolTip::showText(help->globalPos(), QString::fromStdString(tip), this);
    return true;
}

void ChartWidget::leaveEvent(QEvent* event) {
    // Leaving the window takes the crosshair off the screen; the switch stays.
    if (crosshairShown_) {
        InvalidateLines();
        crosshairShown_ = false;
    }
    QWidget::leaveEvent(event);
}

}  // namespace tessaro::chart
