// The quote list window's view: paints the model (fixed and scrolling columns, the four
// group tabs, the detail lists and the nine-panel ranking) and forwards input to it.
// Rows, sorting, cell texts and colours, requests and replies live in the Qt-free
// QuoteListModel, DetailList, ComprehensiveRanking and QuoteListLink.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Qt defines "slots" as a keyword; the core has a member of that name.
#pragma push_macro("slots")
#undef slots
#include "app/color_scheme.h"
#include "market/change_feed.h"
#include "tools/quote_list/quote_details.h"
#include "tools/quote_list/quote_list.h"
#include "tools/wizard/wizard.h"
#pragma pop_macro("slots")

#include <QColor>
#include <QFont>
#include <QList>
#include <QPointF>
#include <QRawFont>
#include <QWidget>


class QScrollBar;
class QTabBar;
class QTimer;

namespace tessaro {

class Session;
class QuoteSession;
class QuoteListLink;

class QuoteListView : public QWidget {
    Q_OBJECT
public:
    explicit QuoteListView(Session& session, QWidget* parent = nullptr);
    ~QuoteListView() override;

    // Live data: the view asks the session for its rows under its window number (0: one
    // of its own); nullptr works from the store alone.
    void SetQuoteSession(QuoteSession* quotes, uint32_t window = 0);
    // The view became active, or the connection was (re)made: sends its requests again.
    void Renew();
    // The view stops being active: ends its requests.
    void Deactivate();

    // Pages (GBK block names). False when there is no such block.
    bool OpenPage(const std::string& blockGbk);
    bool OpenPageSorted(const std::string& blockGbk, int field, bool descending);
    // The comprehensive ranking of a block of setting 0 or 1.
    bool OpenRanking(const std::string& blockGbk);
    // 动态排行, 分手明细, 分价明细 (the first selected row's security).
    void SetMode(QuoteListMode mode);
    QuoteListMode mode() const { return mode_; }
    QString Title() const;

    // Enter and Ctrl+Enter open the chart once one exists.
    void SetChartAvailable(bool available) { chartAvailable_ = available; }
    // Evaluates a technical indicator over the page's rows (the formula batch, on a worker
    // behind a progress dialog) and makes the column an indicator column sorted by it.
    bool RunIndicatorBatch(int tableColumn, const std::string& formulaGbk, size_t line);
    // Asks and removes the selected rows from a self-selected page's block (Delete).
    void RemoveSelection();
    // Runs a quick command of the wizard; false when it is left to the caller.
    bool RunQuickCommand(int index);
    // Acts on a wizard item: a security is found in the page (or in the first rule
    // block holding it), a block is opened, a command is run.
    void ActOnWizardItem(const WizardItem& item);

    // Message boxes, replaceable by the tests.
    std::function<void(const QString&)> info;
    std::function<bool(const QString&)> question;
    // Runs the wizard for the first typed text; replaceable by the tests.
    std::function<std::optional<WizardItem>(const QString& firstText)> wizardRunner;

    // State for the tests and the frame.
    QuoteListModel& model() { return model_; }
    ComprehensiveRanking& ranking() { return ranking_; }
    const DetailList* detail() const { return detail_.get(); }
    QuoteListLink* link() { return link_.get(); }
    int rowHeight() const { return rowHeight_; }
    int visibleRows() const;
    int firstRow() const { return first_; }
    void ScrollTo(int firstRow);
    int currentTab() const;
    const std::vector<PageGroup>& groups() const { return groups_; }
    // Rows repainted by the last live update (display rows; all when the order changed).
    const QuoteListRepaint& lastRepaint() const { return lastRepaint_; }
    // Paints the list (not the tabs and scroll bars) into `clip` of any paint device.
    void PaintTo(QPainter& p, const QRect& clip);
    // The table column under an x position (-1 none).
    int ColumnAt(int x) const;
    QRect ColumnRect(int tableColumn) const;

signals:
    void openChart(const tessaro::SecurityId& id, bool newWindow);
    // A quick command the quote list leaves to the main window (periods, 03/04, 07, 10 ...).
    void quickCommand(int index);
    void blockManagementRequested();
    void titleChanged(const QString& title);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void BuildGroups();
    void LayoutChildren();
    void UpdateScrollBars();
    void SendRequests();
    void OnLiveChange();
    void PollStore();
    void ShowColumnMenu(int tableColumn, const QPoint& globalPos);
    void ShowRowMenu(const QPoint& globalPos);
    void ShowTabMenu(int tab, const QPoint& globalPos);
    void SelectAndShow(int display);
    void OpenChartOfSelection(bool newWindow);
    void SetTitle();
    QColor SignColor(int sign) const;
    QColor Scheme(int color) const;
    void PaintBoard(QPainter& p, const QRect& clip);
    void PaintDetail(QPainter& p);
    void PaintRanking(QPainter& p);
    int ContentHeight() const;
    int DetailColumnWidth() const;
    // The width of an ASCII text in the list font, or -1 for any other text.
    int AsciiWidth(const std::string& text) const;
    void AddAscii(const QColor& color, QPoint at, const std::string& text);
    void FlushAscii(QPainter& p);
    int DetailRowsPerBlock() const;
    int DetailCapacity() const;
    int ScrollAreaWidth() const;

    Session& session_;
    ColorScheme scheme_;
    QFont font_;
    int rowHeight_ = 20;
    // The printable ASCII glyphs of the list font, for drawing numbers without shaping.
    QRawFont raw_;
    quint32 asciiGlyph_[95] = {};
    qreal asciiAdvance_[95] = {};
    struct GlyphBatch {
        QColor color;
        QList<quint32> glyphs;
        QList<QPointF> positions;
    };
    std::vector<GlyphBatch> batches_;
    QuoteListModel model_;
    ComprehensiveRanking ranking_;
    std::unique_ptr<DetailList> detail_;
    std::unique_ptr<QuoteListLink> link_;
    QuoteSession* quotes_ = nullptr;
    std::shared_ptr<ChangeFeed> feed_;
    QTimer* poll_ = nullptr;
    QuoteListMode mode_ = QuoteListMode::Board;
    std::vector<PageGroup> groups_;
    QTabBar* tabs_ = nullptr;
    QScrollBar* vbar_ = nullptr;
    QScrollBar* hbar_ = nullptr;
    int first_ = 0;        // first display row on screen
    int firstColumn_ = 0;  // first scrolling column on screen
    int detailFirst_ = 0;
    int dragFrom_ = -1;
    int resizing_ = -1;  // the table column whose width is dragged
    int resizeStartX_ = 0;
    int resizeStartWidth_ = 0;
    bool chartAvailable_ = false;
    bool syncingTabs_ = false;
    QuoteListRepaint lastRepaint_;
};

}  // namespace tessaro
