// The chart window (view kind 2): one K-line picture of a security with its volume and
// indicator panes, painted from the chart model's display lists into a back buffer, of which
// a paint event copies only the invalid part.
//
// It reads bars through the series loader of the market store and the history files, reloads
// when the store reports a change of its security (the store's change feed, polled every
// 100 ms), and asks its data requester for history when a security or period is shown, after a
// connection and when zooming out needs more bars.
#pragma once

#include <QBasicTimer>
#include <QWidget>

class QMenu;
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/paths.h"
#include "app/settings.h"
#include "chart/chart_view.h"
#include "chart/cursor.h"
#include "chart/kline_content.h"
#include "chart/qt/chart_painter.h"
#include "formula/formula_set.h"
#include "market/change_feed.h"
#include "market/series_loader.h"
#pragma push_macro("slots")
#undef slots
#include "tools/wizard/wizard.h"
#pragma pop_macro("slots")

namespace tessaro {
class MarketStore;
class FormulaSet;
class BlockSet;
}  // namespace tessaro

namespace tessaro::chart {

inline constexpr int kChartViewKind = 2;

class DataWindow;

class ChartWidget : public QWidget, public FormulaObserver {
    Q_OBJECT
public:
    struct Context {
        MarketStore* store = nullptr;  // required
        AppPaths paths;
        FormulaSet* formulas = nullptr;  // required; the window follows its change notices
        SystemSettings settings;
        // The process-wide settings new pictures start from and a single picture leaves its own
        // in (written back at exit); the window keeps them in `settings` when none is given.
        SystemSettings* defaults = nullptr;
        BlockSet* blocks = nullptr;  // the panel's 板 page, 加入到自选股 and 从板块中删除 (disabled without it)
    };
    // What the window needs from the quote server: the history of a security in a period, in
    // base records (day, five-minute or minute bars), and today's data.
    struct DataNeed {
        CodeEntry security;
        Period period = kPeriodDay;
        int records = 0;
        // The first need of a round: what is still waiting from an earlier round is dropped. A view
        // of several pictures asks for each picture in one round, the active picture last.
        bool first = true;
    };
    using DataRequestFn = std::function<void(const DataNeed&)>;

    explicit ChartWidget(Context context, QWidget* parent = nullptr);
    ~ChartWidget() override;

    void ShowSecurity(const CodeEntry& security);
    bool ShowSecurityText(const std::string& text);  // "SH600519" or "600519"
    void SetPeriod(Period period);
    // The sub-charts below the volume (formula names, type 4), at most 4.
    void SetIndicators(const std::vector<std::string>& names);
    // The process-wide ex-rights mode; every chart window reloads with it.
    static void SetExRights(uint8_t mode);
    static uint8_t exRights();

    void SetDataRequester(DataRequestFn fn) { requester_ = std::move(fn); }
    // The securities Page Up and Page Down step through (the list the chart was opened from);
    // without it, or when it lacks the security, the security's market in code order.
    void SetSecurityList(std::vector<CodeEntry> list) { list_ = std::move(list); }
    void StepSecurity(int step);
    // 多股票组合 (kMultiStock) and 多周期组合 (kMultiPeriod): several pictures; back to one picture
    // with the security and period of picture `picture`.
    enum MultiKind { kSingle = 0, kMultiStock = 1, kMultiPeriod = 2 };
    void ShowMultiPictures(MultiKind kind);
    void ShowSinglePicture(int picture);
    MultiKind multiKind() const { return multi_; }
    // The formula set's notices: an edited formula is taken by every slot holding it and its panes
    // are evaluated again; a deleted one leaves its panes. Another thread's notice is queued.
    void OnFormulaNotice(const FormulaNotice& notice) override;
    // 系统指示: a signal formula of the set in the active picture's main pane, replacing those of
    // its type; 关闭指示 removes them all. Both evaluate the pane again.
    bool PlaceSignal(uint32_t type, const std::string& nameGbk);
    int CloseSignals();
    // The parameter dialog's change of parameter `index` of a formula's slots (all pictures).
    bool AdjustParameter(uint32_t type, const std::string& nameGbk, int index, float value);
    // 删除公式: slot `slot` of a pane of the active picture; the last one of a sub-chart deletes the
    // sub-chart after "真的要删除副图吗？" (`ask` answers it; the message box when empty).
    bool DeleteFormula(int pane, int slot, const std::function<bool()>& ask = {});
    // 加入到自选股 / 从板块中删除 for the active picture's security; the message to show, if any.
    bool AddToUserBlockNamed(const std::string& nameGbk, std::string& message);
    int RemoveFromUserBlocksNamed(const std::vector<std::string>& namesGbk, std::string& message);
    // The indicator selected by a click on its name in the active pane, -1 when none.
    int selectedSlot() const { return selectedSlot_; }
    void SelectSlot(int pane, int slot);
    // A click makes a picture active: the crosshair, keys and menus act on it.
    void SetActivePicture(int picture);
    int activePicture() const { return Pic(); }
    // The keyboard wizard: any other character typed opens it with that character; its choice
    // selects a period, a formula (added to the active pane, or removed when shown) or a security.
    using WizardFn = std::function<std::optional<WizardItem>(const QString& first)>;
    void SetWizard(WizardFn fn) { wizard_ = std::move(fn); }
    // 主图叠加 (Ctrl+M): the stock picker, given the securities the picture shows; what it returns
    // is overlaid. Without one the command is disabled.
    using StockPickerFn = std::function<std::vector<CodeEntry>(const std::vector<CodeEntry>& shown)>;
    void SetStockPicker(StockPickerFn fn) { picker_ = std::move(fn); }
    void ShowOverlayPicker();
    // What the wizard's choice does here; false when it means nothing to the chart.
    bool ApplyWizardItem(const WizardItem& item);
    // Asks the requester again on the next poll (the window became active).
    void RequestData() { needRequest_ = true; }
    // The chart's menu: 分析周期 and 价格还权 (the context menu and the main window's 画面 menu).
    void FillMenu(QMenu* menu);
    void OnConnected();    // ask again for everything shown
    void OnDataChanged();  // a new trading day or new settings: from level 1
    void OnDataArrived();  // history or today's data stored: reload, keeping the first bar

    // The crosshair (十字光标), one switch for every chart window; switching it on also shows the
    // data window, switching it off hides it.
    static void SetCrosshairSwitch(bool on);
    static bool crosshairSwitch();
    void SetCrosshair(bool on);
    const Crosshair& cursor() const { return cursor_; }
    const CursorTags& cursorTags() const { return tags_; }
    DataWindow* dataWindow() const { return dataWindow_; }
    // The pan switch (平移画面): presses inside a pane drag the picture.
    void SetPan(bool on);
    bool pan() const { return pan_; }
    // Places a formula of the set (type, GBK name) as the chart menu does; false when it is not in
    // the set or the pane refused it (a 30th slot, a period its usage flags disable).
    bool AddFormula(uint32_t type, const std::string& name, bool fromMenu = true);
    // Removes a formula from every pane; false when it was not shown.
    bool RemoveFormula(uint32_t type, const std::string& name);
    int activePane() const { return activePane_; }
    // Overlays securities on the main pane while at most five are shown. `message` is the refusal
    // when the picture is full; `askPercentage` tells that the percentage question follows (the
    // picture showed one security and its main pane is not in percentage mode).
    int AddOverlays(const std::vector<CodeEntry>& securities, std::string& message, bool& askPercentage);
    void SetMainPercentage(bool on);
    // Deletes a sub-chart (never the main pane) with its indicators.
    bool DeletePane(int pane);
    // 指标放大 (Tab): the active pane fills the picture, and back.
    void ToggleEnlargement();
    // Indicator combinations: the picture's panes saved as "<icombo>/<name>.icb", and a file
    // loaded into the picture. Both return false with the message to show (empty when none).
    bool SaveCombinationNamed(const std::string& name, bool overwrite, std::string& message);
    bool LoadCombinationFile(const std::string& path, std::string& message);
    // A zoom or scroll key (the keys, the wheel and the menu all come here).
    void MoveOrZoom(MoveKey key);

    ChartView& view() { return *view_; }
    const ChartCanvas& canvas() const { return canvas_; }
    bool hasSecurity() const { return view_->picture(0).hasSecurity; }

    // The day of the crosshair's bar (else the newest shown) of a day-based picture, for 历史分时;
    // 0 when there is none.
    StoreTime HistoryDay() const;

signals:
    void titleChanged(const QString& title);
    // Ctrl+Enter or 历史分时: the time-sharing chart of `day` is asked for.
    void historyTimeSharing(const CodeEntry& security, StoreTime day);
    // A block row of the information panel's 板 page was clicked (GBK block name).
    void openBlock(const std::string& nameGbk);
    // 股票信息 or a drag of the panel's edge changed "StkInfo" / "StkInfoWidth2".
    void infoPanelChanged(bool shown, int width);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    int Pic() const;  // the active picture
    // Replaces the pictures by `plan` (kind kSingle: one picture) with the crosshair off and the
    // first picture active.
    void ShowPictures(MultiKind kind, const std::vector<PicturePlan>& plan);
    SystemSettings& defaults();
    void HandleFormulaNotice(const FormulaNotice& notice);
    void Reevaluate(const std::vector<PaneRef>& panes);
    void FillFormulaItems(QMenu* menu);
    void ShowSignalPicker();
    void ShowAddToBlock();
    void ShowRemoveFromBlocks();
    bool AskDeletePane();  // "真的要删除副图吗？"
    void Poll();
    void Refresh(int level, bool keepFirst = false);
    void RepaintAll();
    void Apply(const Region& region);
    void UpdateTitle();
    // The crosshair: its tags are drawn into the back buffer over saved pixels, its lines on
    // the screen only.
    void MoveCursor(int x, int y);
    void CursorMoved(bool scrolled);
    void EraseCursor();
    void DrawCursor();
    void UpdateDataWindow();
    void InvalidateLines();
    // A press on an information panel (tab, block row, left edge); true when it took the press.
    bool PanelPress(QPoint pt);

    Context context_;
    StoreSeriesSource series_;
    StoreEvalData data_;
    bool infoShown_ = true;  // 股票信息 (Ctrl+I)
    FormulaChartSource source_;
    ChartFonts fonts_;
    std::unique_ptr<ChartView> view_;
    ChartCanvas canvas_;
    std::shared_ptr<ChangeFeed> feed_;
    ChangeSet changes_;
    QBasicTimer timer_;
    DataRequestFn requester_;
    WizardFn wizard_;
    StockPickerFn picker_;
    std::vector<CodeEntry> list_;
    MultiKind multi_ = kSingle;
    bool needRequest_ = false;
    StoreTime quoteMinute_ = 0;  // the minute of the last quote that asked for minutes
    uint8_t exRights_ = 0;
    std::vector<std::string> indicators_{"MACD"};

    Crosshair cursor_;
    CursorTags tags_;
    bool tagsDrawn_ = false;
    bool crosshairShown_ = false;   // lines on screen
    int lineX_ = 0, lineY_ = 0;
    DataWindow* dataWindow_ = nullptr;
    int edgeX_ = -1;  // the panel edge being dragged (state 16)
    // Mouse: 0 idle, 1 button down, 2 rubber band, 4 pan drag, 8 divider drag, 16 panel edge drag.
    int mouseState_ = 0;
    bool rightButton_ = false;
    QPoint anchor_, lastPoint_{-1, -1};
    float panAnchorX_ = 0;
    bool pan_ = false;
    int activePane_ = 0;
    int selectedSlot_ = -1;          // the indicator whose name was clicked, in the active pane
    int dividerPane_ = -1, dividerY_ = -1;  // a divider drag
    std::vector<std::vector<float>> enlarged_;
    int bandFrom_ = -1, bandTo_ = -1;  // visible bars under the rubber band
};

}  // namespace tessaro::chart
