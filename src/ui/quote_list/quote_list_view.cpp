#include "ui/quote_list/quote_list_view.h"

#include <algorithm>
#include <cmath>

#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QMenu>
#include <QCoreApplication>
#include <QProgressDialog>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTabBar>
#include <QTimer>
#include <QWheelEvent>

#include "app/settings.h"
#include "formula/eval_data_source.h"
#include "formula/formula_set.h"
#include "tools/blocks/block_index.h"
#include "tools/blocks/progress.h"
#include "market/market_store.h"
#include "market/series_loader.h"
#include "market/exrights_adjust.h"
#include "platform/text.h"
#include "session/session.h"
#include "tools/blocks/block_set.h"
#include "ui/quote_list/quote_list_link.h"
#include "ui/quote_list/wizard_popup.h"

namespace tessaro {

namespace {

QString Q(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

// Window handles of quote lists in the session's packets (the main window is 1).
uint32_t NextWindowHandle() {
    static uint32_t next = 0x40000000;  // far from the numbers a main window hands out
    return next++;
}

QFont ListFont(const ColorScheme& scheme) {
    const LogFont& f = scheme.fonts[kFontList];
    QString face = Q(GbkToUtf8(FieldText(f.faceName)));
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    if (!face.isEmpty() && QFontDatabase::hasFamily(face)) font.setFamily(face);
    int px = f.height < 0 ? -f.height : f.height;
    font.setPixelSize(std::clamp(px == 0 ? 14 : px, 10, 28));
    font.setBold(f.weight >= 700);
    return font;
}

constexpr int kTabWidthDigits = 9;
constexpr int kPollMs = 200;

}  // namespace

QuoteListView::QuoteListView(Session& session, QWidget* parent)
    : QWidget(parent),
      session_(session),
      scheme_(session.settings().scheme()),
      font_(ListFont(scheme_)),
      model_(QuoteColumns([this](std::string_view t) { return QFontMetrics(font_).horizontalAdvance(Q(t)); })) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFont(font_);
    QFontMetrics fm(font_);
    rowHeight_ = fm.height() + 6;
    raw_ = QRawFont::fromFont(font_);
    if (raw_.isValid()) {
        QString ascii;
        for (int c = 32; c < 127; ++c) ascii += QChar(c);
        QList<quint32> glyphs = raw_.glyphIndexesForString(ascii);
        QList<QPointF> advances = raw_.advancesForGlyphIndexes(glyphs);
        if (glyphs.size() == 95 && advances.size() == 95) {
            for (int i = 0; i < 95; ++i) {
                asciiGlyph_[i] = glyphs[i];
                asciiAdvance_[i] = advances[i].x();
            }
        } else {
            raw_ = QRawFont();
        }
    }
    model_.columns().Load(session_.settingsStore());

    info = [this](const QString& text) { QMessageBox::information(this, QStringLiteral("系统提示"), text); };
    question = [this](const QString& text) {
        return QMessageBox::question(this, QStringLiteral("系统提示"), text, QMessageBox::Yes | QMessageBox::No) ==
               QMessageBox::Yes;
    };
    wizardRunner = [this](const QString& first) {
        return WizardPopup::Run(WizardPopup::SessionSources(session_), first, this);
    };

    tabs_ = new QTabBar(this);
    tabs_->setFont(font_);
    tabs_->setExpanding(false);
    tabs_->setDrawBase(false);
    tabs_->setFocusPolicy(Qt::NoFocus);
    tabs_->setContextMenuPolicy(Qt::CustomContextMenu);
    // Tabs in the scheme's colours, each 9 digits wide at least.
    tabs_->setStyleSheet(QStringLiteral("QTabBar::tab { min-width: %1px; padding: 2px 6px; background: %2; color: %3;"
                                        " border: 1px solid %4; }"
                                        " QTabBar::tab:selected { background: %5; color: %6; }")
                             .arg(kTabWidthDigits * fm.horizontalAdvance(QLatin1Char('0')))
                             .arg(Scheme(kColorBackground).name(), Scheme(kColorChartText).name(),
                                  Scheme(kColorListFrame).name(), Scheme(kColorHighlight).name(),
                                  Scheme(kColorBigTitle).name()));
    vbar_ = new QScrollBar(Qt::Vertical, this);
    hbar_ = new QScrollBar(Qt::Horizontal, this);
    vbar_->setFocusPolicy(Qt::NoFocus);
    hbar_->setFocusPolicy(Qt::NoFocus);
    connect(vbar_, &QScrollBar::valueChanged, this, [this](int v) {
        if (mode_ == QuoteListMode::Board) {
            if (v == first_) return;
            first_ = v;
            SendRequests();
        } else {
            detailFirst_ = v;
        }
        update();
    });
    connect(hbar_, &QScrollBar::valueChanged, this, [this](int v) {
        firstColumn_ = v;
        update();
    });
    connect(tabs_, &QTabBar::currentChanged, this, [this](int tab) {
        if (syncingTabs_ || tab < 0 || static_cast<size_t>(tab) >= groups_.size()) return;
        const PageGroup& g = groups_[static_cast<size_t>(tab)];
        if (g.current < g.blocks.size()) OpenPage(g.blocks[g.current]);
    });
    connect(tabs_, &QTabBar::customContextMenuRequested, this, [this](const QPoint& at) {
        ShowTabMenu(tabs_->tabAt(at), tabs_->mapToGlobal(at));
    });

    if (session_.hasMarkets()) feed_ = session_.store().WatchChanges();
    poll_ = new QTimer(this);
    poll_->setInterval(kPollMs);
    connect(poll_, &QTimer::timeout, this, [this] { PollStore(); });
    poll_->start();

    BuildGroups();
    OpenPage(Utf8ToGbk(kStartPage));
}

QuoteListView::~QuoteListView() {
    link_.reset();  // ends the view's requests
    model_.columns().Save(session_.settingsStore());
}

// ---- Pages and modes --------------------------------------------------------------------------

void QuoteListView::BuildGroups() {
    groups_ = session_.hasBlocks() ? BuildPageGroups(session_.blocks().Blocks()) : BuildPageGroups({});
    syncingTabs_ = true;
    while (tabs_->count() > 0) tabs_->removeTab(0);
    for (const PageGroup& g : groups_) tabs_->addTab(Q(g.caption()));
    syncingTabs_ = false;
}

int QuoteListView::currentTab() const { return tabs_->currentIndex(); }

bool QuoteListView::OpenPage(const std::string& blockGbk) {
    if (!session_.hasBlocks()) return false;
    std::optional<Block> block = session_.blocks().FindBlock(blockGbk);
    if (!block) return false;
    model_.SetOnline(quotes_ && quotes_->connected());
    model_.SetPage(*block, session_.hasMarkets() ? &session_.store() : nullptr);
    mode_ = QuoteListMode::Board;
    detail_.reset();
    first_ = 0;
    size_t tab = 0, index = 0;
    if (FindPageGroup(groups_, block->name, tab, index)) {
        groups_[tab].current = index;
        syncingTabs_ = true;
        tabs_->setTabText(static_cast<int>(tab), Q(groups_[tab].caption()));
        tabs_->setCurrentIndex(static_cast<int>(tab));
        syncingTabs_ = false;
    }
    if (model_.rowCount() > 0) model_.Select(0, SelectMode::Click);
    UpdateScrollBars();
    SendRequests();
    SetTitle();
    update();
    return true;
}

bool QuoteListView::OpenPageSorted(const std::string& blockGbk, int field, bool descending) {
    if (!OpenPage(blockGbk)) return false;
    int column = model_.ColumnOfField(field);
    if (column >= 0) model_.SetSort(column, descending);
    SendRequests();
    update();
    return true;
}

bool QuoteListView::OpenRanking(const std::string& blockGbk) {
    if (!session_.hasBlocks()) return false;
    std::optional<Block> block = session_.blocks().FindBlock(blockGbk);
    if (!block || !ComprehensiveRanking::CanRank(*block)) return false;
    ranking_ = ComprehensiveRanking(block->name);
    std::vector<SecurityId> marked;
    for (const Block& b : session_.blocks().Blocks())
        if (b.setting == kBlockSelf) marked.insert(marked.end(), b.members.begin(), b.members.end());
    ranking_.SetMarkedSecurities(std::move(marked));
    mode_ = QuoteListMode::Ranking;
    detail_.reset();
    SendRequests();
    SetTitle();
    UpdateScrollBars();
    update();
    return true;
}

void QuoteListView::SetMode(QuoteListMode mode) {
    if (mode == QuoteListMode::Ranking) return;  // reached through OpenRanking
    if (mode == QuoteListMode::Board) {
        mode_ = mode;
        detail_.reset();
    } else {
        int d = model_.FirstSelected();
        if (d < 0 || !session_.hasMarkets()) return;
        const QuoteRow& row = model_.rowAt(static_cast<size_t>(d));
        detail_ = std::make_unique<DetailList>(mode, row.entry, row.quote, row.decimals);
        StoreSeriesSource source(session_.store(), session_.paths());
        Series ticks;
        if (LoadSeries(source, row.entry.id, Period::kTick, ticks, kExRightsNone)) detail_->SetTicks(ticks);
        mode_ = mode;
        // The newest page: the last rows fill every block of the window.
        detailFirst_ = std::max(0, static_cast<int>(detail_->rowCount()) - DetailCapacity());
    }
    SendRequests();
    UpdateScrollBars();
    SetTitle();
    update();
}

QString QuoteListView::Title() const {
    switch (mode_) {
        case QuoteListMode::Ranking: return Q(ranking_.Title());
        case QuoteListMode::TickDetail:
        case QuoteListMode::PriceDetail:
            if (detail_)
                return Q(GbkToUtf8(detail_->entry().nameText())) + QLatin1Char(' ') +
                       Q(mode_ == QuoteListMode::TickDetail ? kModeTickDetail : kModePriceDetail);
            return {};
        case QuoteListMode::Board: break;
    }
    return Q(GbkToUtf8(model_.pageGbk()));
}

void QuoteListView::SetTitle() {
    setWindowTitle(Title());
    emit titleChanged(Title());
}

// ---- Live data ---------------------------------------------------------------------------------

void QuoteListView::SetQuoteSession(QuoteSession* quotes, uint32_t window) {
    link_.reset();
    quotes_ = quotes;
    if (quotes_ && session_.hasMarkets()) {
        link_ = std::make_unique<QuoteListLink>(*quotes_, session_.store(), window ? window : NextWindowHandle());
        link_->SetModel(&model_);
        link_->SetRanking(&ranking_);
        link_->SetChanged([this] { OnLiveChange(); });
        link_->SetQuoteObserver([this](const QuoteUpdate& q) {
            if (detail_ && SameSecurity(q.entry.id, detail_->entry().id)) {
                detail_->AddQuote(q.snapshot);
                UpdateScrollBars();
                update();
            }
        });
    }
    Renew();
}

void QuoteListView::Renew() {
    if (link_) link_->Forget();
    bool online = quotes_ && quotes_->connected();
    if (online != model_.online()) model_.SetOnline(online);
    SendRequests();
    update();
}

void QuoteListView::Deactivate() {
    if (link_) link_->EndAll();
}

void QuoteListView::SendRequests() {
    const bool online = quotes_ && quotes_->connected();
    if (online != model_.online()) model_.SetOnline(online);
    if (!link_ || !online) return;
    if (mode_ == QuoteListMode::Ranking) {
        int rows = std::max(1, (ContentHeight() / 3 - rowHeight_) / rowHeight_);
        link_->RequestRanking(ranking_.blockGbk(), static_cast<uint32_t>(rows));
        return;
    }
    if (detail_) {
        // The detail lists follow every quote of their one security.
        QuoteListRequest one;
        one.kind = QuoteListRequest::Kind::Subscribe;
        one.ids.push_back(detail_->entry().id);
        link_->Request(one);
        return;
    }
    link_->Request(model_.WantedRequest(static_cast<size_t>(first_), static_cast<size_t>(visibleRows())));
}

void QuoteListView::OnLiveChange() {
    if (mode_ != QuoteListMode::Board) {
        update();
        return;
    }
    lastRepaint_ = model_.TakeRepaint();
    if (lastRepaint_.all) {
        update();
        return;
    }
    // Only the changed rows on screen are painted again.
    for (size_t d : lastRepaint_.displayRows) {
        int r = static_cast<int>(d) - first_;
        if (r < 0 || r >= visibleRows()) continue;
        update(QRect(0, rowHeight_ * (r + 1), width(), rowHeight_));
    }
}

void QuoteListView::PollStore() {
    if (!feed_) return;
    ChangeSet changes = feed_->Drain();
    if (changes.empty()) return;
    // Quotes stored by others (the main window's subscription, a refresh) reach the rows
    // too; the view's own replies have updated them already.
    if (changes.marketsReset) {
        model_.Reload(session_.store());
    } else {
        std::vector<SecurityId> ids;
        for (const SecurityChange& c : changes.securities)
            if ((c.kinds & (kChangeQuote | kChangeCapital)) && model_.FindDisplay(c.id) >= 0) ids.push_back(c.id);
        if (ids.empty()) return;
        if (link_ && quotes_ && quotes_->connected()) return;  // the replies carry them
        model_.Reload(session_.store(), ids);
    }
    OnLiveChange();
}

// ---- Geometry ------------------------------------------------------------------------------------

int QuoteListView::ContentHeight() const { return height() - tabs_->sizeHint().height(); }

int QuoteListView::ScrollAreaWidth() const { return width() - vbar_->sizeHint().width(); }

int QuoteListView::AsciiWidth(const std::string& text) const {
    if (!raw_.isValid()) return -1;
    qreal w = 0;
    for (char ch : text) {
        auto u = static_cast<unsigned char>(ch);
        if (u < 32 || u >= 127) return -1;
        w += asciiAdvance_[u - 32];
    }
    return static_cast<int>(std::ceil(w));
}

void QuoteListView::AddAscii(const QColor& color, QPoint at, const std::string& text) {
    // One glyph run per colour and paint: the runs are drawn together by FlushAscii.
    auto batch = std::find_if(batches_.begin(), batches_.end(), [&](const GlyphBatch& b) { return b.color == color; });
    if (batch == batches_.end()) batch = batches_.insert(batches_.end(), GlyphBatch{color, {}, {}});
    qreal x = at.x();
    for (char ch : text) {
        int i = static_cast<unsigned char>(ch) - 32;
        batch->glyphs.append(asciiGlyph_[i]);
        batch->positions.append(QPointF(x, at.y()));
        x += asciiAdvance_[i];
    }
}

void QuoteListView::FlushAscii(QPainter& p) {
    for (GlyphBatch& b : batches_) {
        if (b.glyphs.isEmpty()) continue;
        QGlyphRun run;
        run.setRawFont(raw_);
        run.setGlyphIndexes(b.glyphs);
        run.setPositions(b.positions);
        p.setPen(b.color);
        p.drawGlyphRun(QPointF(0, 0), run);
        b.glyphs.clear();
        b.positions.clear();
    }
}

int QuoteListView::DetailColumnWidth() const { return 10 * QFontMetrics(font_).horizontalAdvance(QLatin1Char('0')); }

int QuoteListView::DetailRowsPerBlock() const { return std::max(1, ContentHeight() / rowHeight_ - 2); }

int QuoteListView::DetailCapacity() const {
    if (!detail_) return 1;
    int blockW = DetailColumnWidth() * static_cast<int>(detail_->columnCount()) + 12;
    return std::max(1, ScrollAreaWidth() / blockW) * DetailRowsPerBlock();
}

int QuoteListView::visibleRows() const { return std::max(1, ContentHeight() / rowHeight_ - 1); }

void QuoteListView::ScrollTo(int firstRow) {
    vbar_->setValue(firstRow);
    first_ = std::clamp(firstRow, 0, std::max(0, vbar_->maximum()));
}

void QuoteListView::LayoutChildren() {
    int tabH = tabs_->sizeHint().height();
    int sbW = vbar_->sizeHint().width();
    int tabW = std::min(tabs_->sizeHint().width(), width() / 2);
    tabs_->setGeometry(0, height() - tabH, tabW, tabH);
    hbar_->setGeometry(tabW, height() - tabH, std::max(0, width() - tabW - sbW), tabH);
    vbar_->setGeometry(width() - sbW, 0, sbW, height() - tabH);
}

void QuoteListView::UpdateScrollBars() {
    int visible = visibleRows();
    if (mode_ == QuoteListMode::Board) {
        vbar_->setRange(0, std::max(0, static_cast<int>(model_.rowCount()) - visible));
        vbar_->setPageStep(visible);
        vbar_->setValue(first_);
        first_ = vbar_->value();
        hbar_->setRange(0, std::max(0, static_cast<int>(model_.columns().size()) - 1));
        hbar_->setPageStep(5);
        hbar_->setEnabled(true);
    } else if (detail_) {
        vbar_->setRange(0, std::max(0, static_cast<int>(detail_->rowCount()) - DetailCapacity()));
        vbar_->setPageStep(DetailCapacity());
        vbar_->setValue(detailFirst_);
        hbar_->setEnabled(false);
    } else {
        vbar_->setRange(0, 0);
        hbar_->setEnabled(false);
    }
}

void QuoteListView::resizeEvent(QResizeEvent*) {
    LayoutChildren();
    UpdateScrollBars();
    SendRequests();
}

int QuoteListView::ColumnAt(int x) const {
    for (int c = 0; c < model_.tableColumnCount(); ++c) {
        QRect r = ColumnRect(c);
        if (r.width() > 0 && x >= r.left() && x <= r.right()) return c;
    }
    return -1;
}

QRect QuoteListView::ColumnRect(int tableColumn) const {
    const QuoteColumns& cols = model_.columns();
    int x = 0;
    for (int i = 0; i < kFixedColumnCount; ++i) {
        if (i == tableColumn) return QRect(x, 0, cols.fixedWidth(i), ContentHeight());
        x += cols.fixedWidth(i);
    }
    int limit = ScrollAreaWidth();
    for (size_t i = static_cast<size_t>(firstColumn_); i < cols.size() && x < limit; ++i) {
        int w = cols.at(i).width;
        if (kFixedColumnCount + static_cast<int>(i) == tableColumn) return QRect(x, 0, std::min(w, limit - x), ContentHeight());
        x += w;
    }
    return {};
}

// ---- Painting ------------------------------------------------------------------------------------

QColor QuoteListView::Scheme(int color) const {
    ColorRef c = scheme_.colors[color];
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

QColor QuoteListView::SignColor(int sign) const {
    return Scheme(sign > 0 ? kColorListUp : sign < 0 ? kColorListDown : kColorListFlat);
}

void QuoteListView::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    PaintTo(p, event->rect());
}

void QuoteListView::PaintTo(QPainter& p, const QRect& clip) {
    p.setFont(font_);
    p.fillRect(clip, Scheme(kColorBackground));
    switch (mode_) {
        case QuoteListMode::Board: PaintBoard(p, clip); break;
        case QuoteListMode::TickDetail:
        case QuoteListMode::PriceDetail: PaintDetail(p); break;
        case QuoteListMode::Ranking: PaintRanking(p); break;
    }
}

void QuoteListView::PaintBoard(QPainter& p, const QRect& clip) {
    const int rh = rowHeight_;
    const int areaW = ScrollAreaWidth();
    const QColor frame = Scheme(kColorListFrame);
    const QColor caption = Scheme(kColorChartText);
    // Columns on screen: the fixed three, then the scrolling ones from firstColumn_ that fit
    // whole (a column cut at the right edge would show cut numbers).
    struct Col { int table; QRect r; };
    std::vector<Col> cols;
    for (int c = 0; c < model_.tableColumnCount(); ++c) {
        QRect r = ColumnRect(c);
        if (r.width() <= 0) continue;
        bool whole = c < kFixedColumnCount || c == kFixedColumnCount + firstColumn_ ||
                     r.width() >= model_.columns().at(static_cast<size_t>(c - kFixedColumnCount)).width;
        if (whole) cols.push_back({c, r});
    }
    auto align = [](int table) { return (table == 1 || table == 2 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter; };
    // Captions.
    if (clip.top() < rh) {
        for (const Col& c : cols) {
            p.setPen(c.table == model_.sortColumn() ? Scheme(kColorListUp) : caption);
            // Fixed columns are as wide as their caption + 5: they keep small margins.
            QRect r = c.table < kFixedColumnCount ? c.r.adjusted(2, 0, -1, 0) : c.r.adjusted(3, 0, -4, 0);
            p.drawText(r.intersected(QRect(0, 0, areaW, rh)), align(c.table),
                       Q(model_.Caption(c.table)));
        }
    }
    p.setPen(frame);
    p.drawLine(0, rh - 1, areaW, rh - 1);
    // Rows.
    const int baseline = (rh + QFontMetrics(font_).ascent() - QFontMetrics(font_).descent()) / 2;
    const int visible = visibleRows();
    for (int r = 0; r < visible; ++r) {
        int d = first_ + r;
        if (d >= static_cast<int>(model_.rowCount())) break;
        QRect rowRect(0, rh * (r + 1), areaW, rh);
        if (!rowRect.intersects(clip)) continue;
        size_t display = static_cast<size_t>(d);
        if (model_.selected(display)) p.fillRect(rowRect, Scheme(kColorHighlight));
        for (const Col& c : cols) {
            QuoteCell cell = model_.Cell(display, c.table);
            if (cell.text.empty()) continue;
            QColor color = c.table == 0 ? caption
                           : c.table == 1 ? Scheme(kColorListFlat)
                           : c.table == 2 ? Scheme(kColorBigTitle)
                                          : SignColor(cell.colorSign);
            p.setPen(color);
            // Numbers (ASCII) are drawn as glyph runs from a table made once, which skips the
            // shaping that drawing a text costs; other texts, or one wider than its column,
            // are drawn as texts in their rectangle and clipped there.
            QRect box = c.table < kFixedColumnCount ? QRect(c.r.left() + 2, rowRect.top(), c.r.width() - (c.table == 0 ? 6 : 3), rh)
                                                    : QRect(c.r.left() + 3, rowRect.top(), c.r.width() - 7, rh);
            int w = AsciiWidth(cell.text);
            if (w >= 0 && w <= box.width()) {
                int x = (c.table == 1 || c.table == 2) ? box.left() : box.right() + 1 - w;
                AddAscii(color, QPoint(x, box.top() + baseline), cell.text);
            } else if (w > box.width() && c.table >= kFixedColumnCount) {
                // A number too wide for its column is shown in 万 or 亿, never with its digits cut.
                const QFontMetrics metrics(font_);
                const std::string fitted = FitNumberText(cell.text, cell.value, box.width(), [&](std::string_view t) {
                    return metrics.horizontalAdvance(QString::fromUtf8(t.data(), static_cast<int>(t.size())));
                });
                p.drawText(box, align(c.table), Q(fitted));
            } else {
                p.drawText(box, align(c.table), Q(cell.text));
            }
        }
    }
    FlushAscii(p);
    // The frame between the fixed and the scrolling columns.
    int fixedRight = 0;
    for (int i = 0; i < kFixedColumnCount; ++i) fixedRight += model_.columns().fixedWidth(i);
    p.setPen(frame);
    p.drawLine(fixedRight - 1, 0, fixedRight - 1, ContentHeight());
}

void QuoteListView::PaintDetail(QPainter& p) {
    if (!detail_) return;
    const int rh = rowHeight_;
    const int areaW = ScrollAreaWidth();
    const QColor caption = Scheme(kColorChartText);
    p.setPen(Scheme(kColorBigTitle));
    p.drawText(QRect(4, 0, areaW - 8, rh), Qt::AlignLeft | Qt::AlignVCenter, Title());
    // Several side-by-side blocks of columns fill the width, as a price board shows ticks.
    const int colW = DetailColumnWidth();
    const int blockW = colW * static_cast<int>(detail_->columnCount()) + 12;
    const int blocks = std::max(1, areaW / blockW);
    const int perBlock = DetailRowsPerBlock();
    for (int b = 0; b < blocks; ++b) {
        int x0 = b * blockW;
        for (size_t c = 0; c < detail_->columnCount(); ++c) {
            p.setPen(caption);
            p.drawText(QRect(x0 + static_cast<int>(c) * colW, rh, colW - 6, rh), Qt::AlignRight | Qt::AlignVCenter,
                       Q(detail_->caption(c)));
        }
        for (int r = 0; r < perBlock; ++r) {
            size_t row = static_cast<size_t>(detailFirst_ + b * perBlock + r);
            if (row >= detail_->rowCount()) break;
            for (size_t c = 0; c < detail_->columnCount(); ++c) {
                QuoteCell cell = detail_->Cell(row, c);
                bool time = detail_->mode() == QuoteListMode::TickDetail && c == 0;
                p.setPen(time ? caption : SignColor(cell.colorSign));
                p.drawText(QRect(x0 + static_cast<int>(c) * colW, rh * (r + 2), colW - 6, rh),
                           Qt::AlignRight | Qt::AlignVCenter, Q(cell.text));
            }
        }
        p.setPen(Scheme(kColorListFrame));
        p.drawLine(x0 + blockW - 4, rh, x0 + blockW - 4, ContentHeight());
    }
}

void QuoteListView::PaintRanking(QPainter& p) {
    const int rh = rowHeight_;
    const int w = ScrollAreaWidth() / 3, h = ContentHeight() / 3;
    const QColor frame = Scheme(kColorListFrame);
    for (int panel = 0; panel < kRankPanels; ++panel) {
        QRect box((panel % 3) * w, (panel / 3) * h, w, h);
        p.setPen(frame);
        p.drawRect(box.adjusted(0, 0, -1, -1));
        p.setPen(Scheme(kColorBigTitle));
        p.drawText(box.adjusted(6, 0, -6, 0).intersected(QRect(box.left(), box.top(), w, rh)),
                   Qt::AlignLeft | Qt::AlignVCenter, Q(RankPanels()[static_cast<size_t>(panel)].title));
        for (size_t r = 0; r < ranking_.rowsPerPanel(); ++r) {
            int y = box.top() + rh * static_cast<int>(r + 1);
            if (y + rh > box.bottom()) break;
            const RankCell& cell = ranking_.At(panel, r);
            if (cell.empty()) continue;
            QRect line(box.left() + 6, y, w - 12, rh);
            p.setPen(SignColor(cell.nameColor));
            QString name = Q(cell.name);
            if (cell.marked) name += QStringLiteral(" *");  // also in a self-selected block
            p.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, name);
            p.setPen(SignColor(cell.valueColor));
            p.drawText(line, Qt::AlignRight | Qt::AlignVCenter, Q(cell.value));
        }
    }
}

// ---- Input ----------------------------------------------------------------------------------------

void QuoteListView::SelectAndShow(int display) {
    if (display < 0 || display >= static_cast<int>(model_.rowCount())) return;
    model_.Select(static_cast<size_t>(display), SelectMode::Click);
    int visible = visibleRows();
    if (display < first_) ScrollTo(display);
    else if (display >= first_ + visible) ScrollTo(display - visible + 1);
    model_.TakeRepaint();
    update();
}

void QuoteListView::mousePressEvent(QMouseEvent* event) {
    setFocus();
    if (mode_ != QuoteListMode::Board) return;
    const QPoint pos = event->position().toPoint();
    if (pos.x() >= ScrollAreaWidth() || pos.y() >= ContentHeight()) return;
    if (pos.y() < rowHeight_) {
        // A press on a caption's right edge drags the column's width.
        for (int c = 0; c < model_.tableColumnCount() && event->button() == Qt::LeftButton; ++c) {
            QRect r = ColumnRect(c);
            if (r.width() > 0 && std::abs(pos.x() - r.right()) <= 2) {
                resizing_ = c;
                resizeStartX_ = pos.x();
                resizeStartWidth_ = c < kFixedColumnCount ? model_.columns().fixedWidth(c)
                                                          : model_.columns().at(static_cast<size_t>(c - kFixedColumnCount)).width;
                setCursor(Qt::SplitHCursor);
                return;
            }
        }
        int column = ColumnAt(pos.x());
        if (column < 0) return;
        if (event->button() == Qt::LeftButton) {
            // Sorted by the server only while connected; otherwise here.
            model_.SetOnline(quotes_ && quotes_->connected());
            model_.ClickCaption(column);
            SendRequests();
            update();
        } else if (event->button() == Qt::RightButton && column >= kFixedColumnCount) {
            ShowColumnMenu(column, event->globalPosition().toPoint());
        }
        return;
    }
    int display = first_ + pos.y() / rowHeight_ - 1;
    bool onRow = display >= 0 && display < static_cast<int>(model_.rowCount());
    if (event->button() == Qt::RightButton) {
        if (onRow && !model_.selected(static_cast<size_t>(display))) model_.Select(static_cast<size_t>(display), SelectMode::Click);
        update();
        ShowRowMenu(event->globalPosition().toPoint());
        return;
    }
    if (event->button() != Qt::LeftButton || !onRow) return;
    SelectMode mode = event->modifiers() & Qt::ShiftModifier     ? SelectMode::Range
                      : event->modifiers() & Qt::ControlModifier ? SelectMode::Toggle
                                                                  : SelectMode::Click;
    if (mode == SelectMode::Click && model_.selected(static_cast<size_t>(display)) &&
        model_.SelectedDisplayRows().size() > 1) {
        dragFrom_ = display;  // a press on a selected row may start dragging the selection
    } else {
        model_.Select(static_cast<size_t>(display), mode);
        dragFrom_ = mode == SelectMode::Click ? display : -1;
    }
    model_.TakeRepaint();
    update();
}

void QuoteListView::mouseMoveEvent(QMouseEvent* event) {
    if (resizing_ < 0) return;
    // Widths stay at least 20 pixels, as the settings keep them.
    int width = std::max(kMinColumnWidth, resizeStartWidth_ + event->position().toPoint().x() - resizeStartX_);
    if (resizing_ < kFixedColumnCount)
        model_.columns().setFixedWidth(resizing_, width);
    else
        model_.columns().SetWidth(static_cast<size_t>(resizing_ - kFixedColumnCount), width);
    update();
}

void QuoteListView::mouseReleaseEvent(QMouseEvent* event) {
    if (resizing_ >= 0) {
        mouseMoveEvent(event);
        resizing_ = -1;
        unsetCursor();
        return;
    }
    int from = dragFrom_;
    dragFrom_ = -1;
    if (from < 0 || mode_ != QuoteListMode::Board || event->button() != Qt::LeftButton) return;
    const QPoint pos = event->position().toPoint();
    int target = first_ + pos.y() / rowHeight_ - 1;
    target = std::clamp(target, 0, static_cast<int>(model_.rowCount()));
    if (target == from) {
        if (model_.SelectedDisplayRows().size() > 1) model_.Select(static_cast<size_t>(from), SelectMode::Click);
        update();
        return;
    }
    if (!model_.canMoveRows()) return;
    // Dropped below its own row: the rows go after the target row.
    MoveStatus status = model_.MoveSelected(static_cast<size_t>(target > from ? target + 1 : target));
    if (status == MoveStatus::RefusedSorted) {
        info(Q(kMoveRefusedWhileSorted));
        return;
    }
    if (status == MoveStatus::Moved && session_.hasBlocks()) model_.SaveOrder(session_.blocks());
    SendRequests();
    update();
}

void QuoteListView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (mode_ == QuoteListMode::Board && event->position().y() >= rowHeight_) OpenChartOfSelection(false);
}

void QuoteListView::wheelEvent(QWheelEvent* event) {
    int steps = -event->angleDelta().y() / 40;
    vbar_->setValue(vbar_->value() + steps);
}

void QuoteListView::OpenChartOfSelection(bool newWindow) {
    if (!chartAvailable_) return;
    int d = model_.FirstSelected();
    if (d >= 0) emit openChart(model_.rowAt(static_cast<size_t>(d)).entry.id, newWindow);
}

void QuoteListView::RemoveSelection() {
    if (model_.pageSetting() != kBlockSelf || !session_.hasBlocks()) return;
    struct Prompt : BlockPrompt {
        QuoteListView* view;
        bool Question(std::string_view t) override { return view->question(Q(t)); }
        void Error(std::string_view t) override { view->info(Q(t)); }
    } prompt;
    prompt.view = this;
    if (model_.RemoveSelected(session_.blocks(), prompt)) {
        UpdateScrollBars();
        SendRequests();
        update();
    }
}

void QuoteListView::keyPressEvent(QKeyEvent* event) {
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    if (ctrl && event->key() == Qt::Key_R) return SetMode(QuoteListMode::Board);
    if (ctrl && event->key() == Qt::Key_V) return SetMode(QuoteListMode::TickDetail);
    if (ctrl && event->key() == Qt::Key_P) return SetMode(QuoteListMode::PriceDetail);
    if (mode_ != QuoteListMode::Board && event->key() == Qt::Key_Escape) return SetMode(QuoteListMode::Board);
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter: return OpenChartOfSelection(ctrl);
        case Qt::Key_Delete: return RemoveSelection();
        case Qt::Key_Left:
        case Qt::Key_Right:
            // The scrolling columns move by one column.
            if (mode_ == QuoteListMode::Board) hbar_->setValue(hbar_->value() + (event->key() == Qt::Key_Left ? -1 : 1));
            return;
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End: {
            if (mode_ != QuoteListMode::Board) {
                int step = event->key() == Qt::Key_Up ? -1 : event->key() == Qt::Key_Down ? 1
                           : event->key() == Qt::Key_PageUp ? -DetailCapacity() : DetailCapacity();
                vbar_->setValue(vbar_->value() + step);
                return;
            }
            int d = std::max(0, model_.FirstSelected());
            int n = static_cast<int>(model_.rowCount());
            switch (event->key()) {
                case Qt::Key_Up: d -= 1; break;
                case Qt::Key_Down: d += 1; break;
                case Qt::Key_PageUp: d -= visibleRows(); break;
                case Qt::Key_PageDown: d += visibleRows(); break;
                case Qt::Key_Home: d = 0; break;
                default: d = n - 1; break;
            }
            SelectAndShow(std::clamp(d, 0, std::max(0, n - 1)));
            return;
        }
        default: break;
    }
    QString text = event->text();
    if (!ctrl && !text.isEmpty() && OpensWizard(text.toUcs4().value(0))) {
        if (std::optional<WizardItem> item = wizardRunner(text)) ActOnWizardItem(*item);
        return;
    }
    QWidget::keyPressEvent(event);
}

bool QuoteListView::RunQuickCommand(int index) {
    QuickCommandAction a = QuickCommandActionOf(index);
    using K = QuickCommandAction::Kind;
    switch (a.kind) {
        case K::SelfPage: {
            if (!a.block.empty()) return OpenPage(Utf8ToGbk(a.block));
            for (const PageGroup& g : groups_)
                if (g.setting == kBlockSelf && g.current < g.blocks.size()) return OpenPage(g.blocks[g.current]);
            return false;
        }
        case K::BoardByChange: return OpenPageSorted(Utf8ToGbk(a.block), kFieldChangePct, true);
        case K::Ranking: return OpenRanking(Utf8ToGbk(a.block));
        case K::ViewCommand:
            if (index == FindQuickCommand("01")) return SetMode(QuoteListMode::TickDetail), true;
            if (index == FindQuickCommand("02")) return SetMode(QuoteListMode::PriceDetail), true;
            return false;
        default: return false;
    }
}

void QuoteListView::ActOnWizardItem(const WizardItem& item) {
    switch (item.kind) {
        case kWizardSecurity: {
            if (mode_ != QuoteListMode::Board) SetMode(QuoteListMode::Board);
            int d = model_.FindDisplay(item.entry.id);
            if (d < 0 && session_.hasBlocks()) {
                // Not on this page: the first rule block holding it.
                for (const Block& b : session_.blocks().Blocks())
                    if (b.setting == kBlockRule && b.contains(item.entry.id)) {
                        OpenPage(b.name);
                        d = model_.FindDisplay(item.entry.id);
                        break;
                    }
            }
            if (d >= 0) {
                SelectAndShow(d);
                SendRequests();
            }
            return;
        }
        case kWizardBlock: OpenPage(item.text1); return;
        case kWizardCommand:
            if (!RunQuickCommand(static_cast<int>(item.value))) emit quickCommand(static_cast<int>(item.value));
            return;
        default: return;
    }
}

// ---- Indicator columns ------------------------------------------------------------------------

bool QuoteListView::RunIndicatorBatch(int tableColumn, const std::string& formulaGbk, size_t line) {
    if (tableColumn < kFixedColumnCount || !session_.hasFormulas() || !session_.hasMarkets()) return false;
    std::optional<FormulaRecord> formula = session_.formulas().Find(kFormulaSubPane, formulaGbk);
    if (!formula) return false;
    std::vector<FormulaRow> rows = model_.BatchRows();
    StoreSeriesSource source(session_.store(), session_.paths());
    StoreEvalData data(session_.store(), source);
    ProgressQueue queue;
    {
        // The batch runs on a worker behind its progress dialog ("计算公式..."); the dialog's
        // button cancels it between rows, and the rows not reached keep 0.
        QProgressDialog dialog(Q(kEvaluateFormulaCaption), QStringLiteral("取消"), 0,
                               std::max(1, static_cast<int>(rows.size())), this);
        dialog.setWindowModality(Qt::WindowModal);
        dialog.setMinimumDuration(300);
        ProgressWorker worker(queue, [&](ProgressQueue& q) {
            EvaluateFormulaOverRows(session_.formulas(), data, *formula, rows, line, Period::kDay, 0, q);
        });
        while (!queue.closed()) {
            while (std::optional<ProgressItem> item = queue.TryPop()) {
                dialog.setValue(item->position);
                dialog.setLabelText(Q(item->text));
            }
            if (dialog.wasCanceled()) queue.Cancel();
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
        }
        worker.Wait();
    }
    size_t column = static_cast<size_t>(tableColumn - kFixedColumnCount);
    std::string caption = GbkToUtf8(formulaGbk);
    if (line > 0) caption += "." + GbkToUtf8(formula->lineDisplayName(line));
    model_.columns().SetIndicator(column, caption, formulaGbk, line, std::move(rows));
    // "刷新指标排序": sorted by the fresh values (descending unless the column was ascending).
    bool descending = model_.sortColumn() == tableColumn ? model_.descending() : true;
    model_.SetSort(tableColumn, descending);
    SendRequests();
    update();
    return true;
}

// ---- Menus ----------------------------------------------------------------------------------------

void QuoteListView::ShowColumnMenu(int tableColumn, const QPoint& globalPos) {
    size_t column = static_cast<size_t>(tableColumn - kFixedColumnCount);
    QMenu menu(this);
    QMenu* quote = menu.addMenu(QStringLiteral("基本行情"));
    QMenu* finance = menu.addMenu(QStringLiteral("财务数据"));
    for (int f = 0; f <= kMenuFinanceFieldsLast; ++f) {
        QMenu* into = f <= kMenuQuoteFieldsLast ? quote : finance;
        QAction* a = into->addAction(Q(QuoteFieldName(f)));
        connect(a, &QAction::triggered, this, [this, column, f] {
            model_.columns().SetField(column, f);
            model_.ColumnsChanged();
            SendRequests();
            update();
        });
    }
    // An indicator column: the last value of a technical indicator's first line per row.
    if (session_.hasFormulas() && session_.hasMarkets()) {
        QMenu* indicators = menu.addMenu(QStringLiteral("指标列"));
        for (const FormulaRecord& f : session_.formulas().Snapshot()) {
            if (FormulaTypeClass(f.type) != kFormulaSubPane || f.outputs.empty()) continue;
            std::string name(f.nameText());
            connect(indicators->addAction(Q(GbkToUtf8(name))), &QAction::triggered, this,
                    [this, tableColumn, name] { RunIndicatorBatch(tableColumn, name, 0); });
        }
    }
    if (model_.columns().at(column).kind == ColumnKind::Indicator) {
        QAction* refresh = menu.addAction(QStringLiteral("刷新指标排序"));
        connect(refresh, &QAction::triggered, this, [this, tableColumn, column] {
            const QuoteColumn& c = model_.columns().at(column);
            RunIndicatorBatch(tableColumn, c.formula, c.line);
        });
    }
    menu.addSeparator();
    connect(menu.addAction(QStringLiteral("插入列")), &QAction::triggered, this, [this, column] {
        model_.columns().Insert(column, kFieldPrevClose);
        model_.ColumnsChanged();
        update();
    });
    connect(menu.addAction(QStringLiteral("添加列")), &QAction::triggered, this, [this] {
        model_.columns().Add(kFieldPrevClose);
        model_.ColumnsChanged();
        UpdateScrollBars();
        update();
    });
    QAction* remove = menu.addAction(QStringLiteral("删除列"));
    remove->setEnabled(model_.columns().size() > 1);
    connect(remove, &QAction::triggered, this, [this, column] {
        model_.columns().Remove(column);
        model_.ColumnsChanged();
        firstColumn_ = std::min(firstColumn_, std::max(0, static_cast<int>(model_.columns().size()) - 1));
        UpdateScrollBars();
        SendRequests();
        update();
    });
    menu.exec(globalPos);
}

void QuoteListView::ShowRowMenu(const QPoint& globalPos) {
    QMenu menu(this);
    connect(menu.addAction(QStringLiteral("板块管理")), &QAction::triggered, this,
            [this] { emit blockManagementRequested(); });
    menu.addSeparator();
    for (const PageGroup& g : groups_) {
        if (g.blocks.empty()) continue;
        QMenu* sub = menu.addMenu(Q(g.title));
        for (const std::string& name : g.blocks)
            connect(sub->addAction(Q(GbkToUtf8(name))), &QAction::triggered, this, [this, name] { OpenPage(name); });
    }
    if (model_.pageSetting() == kBlockSelf && model_.FirstSelected() >= 0) {
        menu.addSeparator();
        connect(menu.addAction(QStringLiteral("删除")), &QAction::triggered, this, [this] { RemoveSelection(); });
    }
    menu.exec(globalPos);
}

void QuoteListView::ShowTabMenu(int tab, const QPoint& globalPos) {
    if (tab < 0 || static_cast<size_t>(tab) >= groups_.size()) return;
    QMenu menu(this);
    for (const std::string& name : groups_[static_cast<size_t>(tab)].blocks)
        connect(menu.addAction(Q(GbkToUtf8(name))), &QAction::triggered, this, [this, name] { OpenPage(name); });
    if (!menu.isEmpty()) menu.exec(globalPos);
}

}  // namespace tessaro
