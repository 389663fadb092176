// The chart window's menus (画面 and the context menu) and the commands behind their items:
// signal formulas, a selected formula's edit, parameters, comment and deletion, user blocks,
// overlays and indicator combinations.
#include "chart/qt/chart_widget.h"

#include <QActionGroup>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>

#include <algorithm>
#include <map>

#include "chart/chart_commands.h"
#include "chart/indicator_combo.h"
#include "chart/qt/chart_dialogs.h"
#include "platform/files.h"
#include "platform/text.h"

namespace tessaro::chart {

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
        case SlotRemoval::kAskDeletePane: return (ask ? ask() : AskDeletePane()) && DeletePane(pane);
    }
    return false;
}

bool ChartWidget::AskDeletePane() {
    return QMessageBox::question(this, QStringLiteral("系统提示"), QStringLiteral("真的要删除副图吗？")) == QMessageBox::Yes;
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

void ChartWidget::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    FillMenu(&menu);
    menu.exec(event->globalPos());
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

}  // namespace tessaro::chart
