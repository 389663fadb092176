#include "tools/quote_list/quote_list.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "market/security_registry.h"
#include "platform/text.h"

namespace tessaro {

namespace {

// A subscription lists at most this many securities (the rest of a huge block is not asked for).
constexpr size_t kMaxSubscribed = 5000;

bool CapitalEmpty(const CapitalBlock& c) {
    static const CapitalBlock zero{};
    return std::memcmp(&c, &zero, sizeof c) == 0;
}

}  // namespace

bool operator==(const QuoteListRequest& a, const QuoteListRequest& b) {
    if (a.kind != b.kind || a.pageGbk != b.pageGbk || a.sortField != b.sortField || a.direction != b.direction ||
        a.firstRow != b.firstRow || a.rowCount != b.rowCount || a.ids.size() != b.ids.size())
        return false;
    for (size_t i = 0; i < a.ids.size(); ++i)
        if (!SameSecurity(a.ids[i], b.ids[i])) return false;
    return true;
}

std::vector<QuoteListStep> PlanRequests(const QuoteListRequest& held, const QuoteListRequest& wanted) {
    using K = QuoteListRequest::Kind;
    std::vector<QuoteListStep> steps;
    if (held == wanted) return steps;
    if (held.kind == K::RankPage && (wanted.kind != K::RankPage || !EqualsNoCase(held.pageGbk, wanted.pageGbk))) {
        QuoteListStep end{QuoteListStep::Kind::EndRankPage, {}};
        end.request.pageGbk = held.pageGbk;
        steps.push_back(std::move(end));
    }
    if (held.kind == K::Subscribe && wanted.kind != K::Subscribe)
        steps.push_back({QuoteListStep::Kind::EndSubscription, {}});
    if (wanted.kind == K::RankPage) steps.push_back({QuoteListStep::Kind::RankPage, wanted});
    if (wanted.kind == K::Subscribe) steps.push_back({QuoteListStep::Kind::Subscribe, wanted});
    return steps;
}

QuoteListModel::QuoteListModel(QuoteColumns columns)
    : columns_(std::move(columns)), scratch_(std::make_unique<StockRecord>()) {}

QuoteListModel::~QuoteListModel() = default;

void QuoteListModel::ColumnsChanged() {
    ClearSort();
    MarkAll();
}

// ---- The page ----------------------------------------------------------------------------

void QuoteListModel::LoadRow(QuoteRow& row, const StockRecord& record, int decimals) const {
    row.entry = record.entry;
    row.quote = record.quote;
    row.finance = record.finance;
    row.decimals = decimals;
    row.known = true;
}

void QuoteListModel::SetPage(const Block& block, const MarketStore* store) {
    if (block.setting != pageSetting_) {
        sortColumn_ = kNoSortColumn;
        descending_ = true;
    }
    pageGbk_ = block.name;
    pageSetting_ = block.setting;
    rows_.clear();
    rows_.reserve(block.members.size());
    auto record = std::make_unique<StockRecord>();
    for (const SecurityId& id : block.members) {
        QuoteRow row;
        row.entry.id = id;
        row.blockOrder = rows_.size();
        if (store && store->GetRecord(id, *record))
            LoadRow(row, *record, store->GetDecimals(id.market, record->entry.securityClass));
        rows_.push_back(row);
    }
    anchor_ = -1;
    RebuildIndex();
    ResetOrder();
    dirty_.assign(rows_.size(), 0);
    dirtyRows_.clear();
    if (sorted() && !serverSorted()) Resort();
    MarkAll();
}

bool QuoteListModel::serverSorted() const {
    if (!online_ || !serverPage()) return false;
    if (sortColumn_ >= kFixedColumnCount && sortColumn_ < tableColumnCount() &&
        columns_.at(static_cast<size_t>(sortColumn_ - kFixedColumnCount)).kind == ColumnKind::Indicator)
        return false;
    return true;
}

void QuoteListModel::SetOnline(bool online) {
    bool wasServer = serverSorted();
    online_ = online;
    if (wasServer && !serverSorted() && sorted()) Resort();
}

void QuoteListModel::RebuildIndex() {
    byId_.resize(rows_.size());
    std::iota(byId_.begin(), byId_.end(), size_t{0});
    std::stable_sort(byId_.begin(), byId_.end(),
                     [this](size_t a, size_t b) { return SecurityIdLess(rows_[a].entry.id, rows_[b].entry.id); });
}

void QuoteListModel::ResetOrder() {
    order_.resize(rows_.size());
    position_.resize(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i) order_[i] = position_[i] = i;
}

int QuoteListModel::RowOf(const SecurityId& id) const {
    auto it = std::lower_bound(byId_.begin(), byId_.end(), id,
                               [this](size_t r, const SecurityId& key) { return SecurityIdLess(rows_[r].entry.id, key); });
    if (it == byId_.end() || !SameSecurity(rows_[*it].entry.id, id)) return -1;
    return static_cast<int>(*it);
}

int QuoteListModel::FindDisplay(const SecurityId& id) const {
    int r = RowOf(id);
    return r < 0 ? -1 : static_cast<int>(position_[r]);
}

// ---- Cells -----------------------------------------------------------------------------------

const StockRecord& QuoteListModel::Scratch(const QuoteRow& row) const {
    scratch_->entry = row.entry;
    scratch_->quote = row.quote;
    scratch_->finance = row.finance;
    return *scratch_;
}

QuoteCell QuoteListModel::FixedCell(size_t display, int i) const {
    const QuoteRow& row = rowAt(display);
    QuoteCell cell;
    switch (i) {
        case 0:
            cell.present = true;
            cell.value = static_cast<double>(display + 1);
            cell.text = std::to_string(display + 1);
            break;
        case 1:
            cell.text = std::string(row.entry.id.codeText());
            cell.present = !cell.text.empty();
            break;
        case 2:
            cell.text = GbkToUtf8(row.entry.nameText());
            cell.present = !cell.text.empty();
            break;
        default: break;
    }
    return cell;
}

QuoteCell QuoteListModel::ScrollCell(size_t display, size_t column) const {
    const QuoteRow& row = rowAt(display);
    const QuoteColumn& c = columns_.at(column);
    if (!row.known) return {};
    if (c.kind == ColumnKind::Indicator) {
        std::optional<float> v = IndicatorValue(c, row.entry.id);
        if (!v) return {};
        QuoteCell cell;
        cell.present = true;
        cell.value = *v;
        char text[64];
        std::snprintf(text, sizeof text, "%0.2f", static_cast<double>(*v));
        cell.text = text;
        cell.colorSign = *v > 0.00001f ? 1 : *v < -0.00001f ? -1 : 0;
        return cell;
    }
    return ComputeQuoteField(c.field, Scratch(row), row.decimals);
}

QuoteCell QuoteListModel::Cell(size_t display, int tableColumn) const {
    if (tableColumn < kFixedColumnCount) return FixedCell(display, tableColumn);
    return ScrollCell(display, static_cast<size_t>(tableColumn - kFixedColumnCount));
}

std::string QuoteListModel::Caption(int tableColumn) const {
    std::string caption = tableColumn < kFixedColumnCount
                              ? columns_.fixedCaption(tableColumn)
                              : columns_.at(static_cast<size_t>(tableColumn - kFixedColumnCount)).caption;
    if (tableColumn == sortColumn_) caption += descending_ ? kSortDown : kSortUp;
    return caption;
}

int QuoteListModel::ColumnOfField(int field) const {
    if (field >= kFieldNumber && field <= kFieldName) return field - kFieldNumber;
    for (size_t i = 0; i < columns_.size(); ++i)
        if (columns_.at(i).kind == ColumnKind::Field && columns_.at(i).field == field)
            return kFixedColumnCount + static_cast<int>(i);
    return -1;
}

// ---- Sorting -----------------------------------------------------------------------------------

void QuoteListModel::ClickCaption(int tableColumn) {
    if (tableColumn <= 0 || tableColumn >= tableColumnCount()) return;  // 编号 does not sort
    if (tableColumn == sortColumn_)
        SetSort(tableColumn, !descending_);
    else
        SetSort(tableColumn, true);
}

void QuoteListModel::SetSort(int tableColumn, bool descending) {
    if (tableColumn <= 0 || tableColumn >= tableColumnCount()) {
        ClearSort();
        return;
    }
    sortColumn_ = tableColumn;
    descending_ = descending;
    if (!serverSorted()) Resort();
    MarkAll();
}

void QuoteListModel::ClearSort() {
    sortColumn_ = kNoSortColumn;
    descending_ = true;
    ResetOrder();
    MarkAll();
}

int32_t QuoteListModel::sortField() const {
    if (sortColumn_ == kNoSortColumn) return -1;
    if (sortColumn_ < kFixedColumnCount) return kFieldNumber + sortColumn_;
    const QuoteColumn& c = columns_.at(static_cast<size_t>(sortColumn_ - kFixedColumnCount));
    return c.kind == ColumnKind::Field ? c.field : -1;
}

void QuoteListModel::Resort() {
    if (sortColumn_ == kNoSortColumn || sortColumn_ >= tableColumnCount()) {
        ResetOrder();
        MarkAll();
        return;
    }
    const size_t n = rows_.size();
    std::vector<size_t> idx(n);
    std::iota(idx.begin(), idx.end(), size_t{0});
    const bool desc = descending_;
    if (sortColumn_ < kFixedColumnCount) {
        // Code and name compare as text, ASCII letters without case; ties keep block order.
        const bool byName = sortColumn_ == 2;
        std::vector<std::string_view> keys(n);
        for (size_t i = 0; i < n; ++i) keys[i] = byName ? rows_[i].entry.nameText() : rows_[i].entry.id.codeText();
        std::sort(idx.begin(), idx.end(), [&](size_t a, size_t b) {
            int c = CompareNoCase(keys[a], keys[b]);
            if (c != 0) return desc ? c > 0 : c < 0;
            return a < b;
        });
    } else {
        // Numbers; a missing value sorts last in both directions; ties keep block order.
        const QuoteColumn& col = columns_.at(static_cast<size_t>(sortColumn_ - kFixedColumnCount));
        std::vector<double> keys(n);
        std::vector<uint8_t> present(n);
        for (size_t i = 0; i < n; ++i) {
            const QuoteRow& row = rows_[i];
            if (!row.known) continue;
            if (col.kind == ColumnKind::Indicator) {
                if (std::optional<float> v = IndicatorValue(col, row.entry.id)) {
                    keys[i] = *v;
                    present[i] = 1;
                }
            } else {
                QuoteCell cell = ComputeQuoteField(col.field, Scratch(row), row.decimals);
                keys[i] = cell.value;
                present[i] = cell.present;
            }
        }
        std::sort(idx.begin(), idx.end(), [&](size_t a, size_t b) {
            if (present[a] != present[b]) return present[a] > present[b];
            if (present[a] && keys[a] != keys[b]) return desc ? keys[a] > keys[b] : keys[a] < keys[b];
            return a < b;
        });
    }
    order_ = std::move(idx);
    for (size_t d = 0; d < n; ++d) position_[order_[d]] = d;
    MarkAll();
}

std::vector<FormulaRow> QuoteListModel::BatchRows() const {
    std::vector<FormulaRow> out(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i) out[i].entry = rows_[i].entry;
    return out;
}

// ---- Live data ---------------------------------------------------------------------------------

QuoteListRequest QuoteListModel::WantedRequest(size_t firstVisible, size_t visibleCount) const {
    QuoteListRequest r;
    if (pageGbk_.empty()) return r;
    if (serverPage()) {
        r.kind = QuoteListRequest::Kind::RankPage;
        r.pageGbk = pageGbk_;
        r.sortField = sortField();
        r.direction = r.sortField >= 0 && descending_ ? 1 : 0;
        if (sorted() && r.sortField < 0) {
            firstVisible = 0;
            visibleCount = rows_.size();
        }
        r.firstRow = static_cast<uint32_t>(std::min(firstVisible, rows_.size()));
        r.rowCount = static_cast<uint32_t>(std::min(visibleCount, rows_.size() - r.firstRow));
        return r;
    }
    r.kind = QuoteListRequest::Kind::Subscribe;
    r.pageGbk = pageGbk_;
    size_t count = std::min(rows_.size(), kMaxSubscribed);
    r.ids.reserve(count);
    for (size_t i = 0; i < count; ++i) r.ids.push_back(rows_[i].entry.id);
    return r;
}

void QuoteListModel::MarkRow(size_t row) {
    if (row < dirty_.size() && !dirty_[row]) {
        dirty_[row] = 1;
        dirtyRows_.push_back(row);
    }
}

void QuoteListModel::CopyQuote(QuoteRow& row, const QuoteUpdate& update) const {
    CapitalBlock capital = row.quote.capital;
    TradeData lastTrade = row.quote.lastTrade;
    float volume = row.quote.bar.volume;
    row.quote = update.snapshot;
    if (CapitalEmpty(row.quote.capital)) row.quote.capital = capital;
    if (!(update.snapshot.lastTrade.volume > 0.000001f) && update.snapshot.bar.volume > volume) {
        // The record carries no last trade although the volume grew: keep the block shown.
        row.quote.lastTrade = lastTrade;
    }
    if (!row.known) {
        row.known = true;
        if (row.entry.nameText().empty()) row.entry.setName(update.entry.nameText());
        row.entry.securityClass = update.entry.securityClass;
    }
}

size_t QuoteListModel::ApplyQuotes(std::span<const QuoteUpdate> quotes) {
    size_t updated = 0;
    for (const QuoteUpdate& q : quotes) {
        int r = RowOf(q.entry.id);
        if (r < 0) continue;
        CopyQuote(rows_[r], q);
        MarkRow(static_cast<size_t>(r));
        ++updated;
    }
    return updated;
}

size_t QuoteListModel::ApplyRankPage(uint32_t firstRow, std::span<const QuoteUpdate> quotes) {
    size_t updated = 0;
    for (size_t i = 0; i < quotes.size(); ++i) {
        int r = RowOf(quotes[i].entry.id);
        if (r < 0) continue;
        CopyQuote(rows_[r], quotes[i]);
        MarkRow(static_cast<size_t>(r));
        ++updated;
        if (!serverSorted()) continue;  // sorted here: the rows keep their places
        size_t target = size_t{firstRow} + i;
        size_t from = position_[r];
        if (target >= rows_.size() || target == from) continue;
        size_t other = order_[target];
        std::swap(order_[target], order_[from]);
        position_[r] = target;
        position_[other] = from;
        repaintAll_ = true;
    }
    return updated;
}

void QuoteListModel::Reload(const MarketStore& store) {
    auto record = std::make_unique<StockRecord>();
    for (size_t i = 0; i < rows_.size(); ++i)
        if (store.GetRecord(rows_[i].entry.id, *record)) {
            LoadRow(rows_[i], *record, store.GetDecimals(record->entry.id.market, record->entry.securityClass));
            MarkRow(i);
        }
}

void QuoteListModel::Reload(const MarketStore& store, std::span<const SecurityId> changed) {
    auto record = std::make_unique<StockRecord>();
    for (const SecurityId& id : changed) {
        int r = RowOf(id);
        if (r < 0 || !store.GetRecord(id, *record)) continue;
        LoadRow(rows_[r], *record, store.GetDecimals(record->entry.id.market, record->entry.securityClass));
        MarkRow(static_cast<size_t>(r));
    }
}

QuoteListRepaint QuoteListModel::TakeRepaint() {
    QuoteListRepaint out;
    out.all = repaintAll_;
    if (!repaintAll_) {
        out.displayRows.reserve(dirtyRows_.size());
        for (size_t r : dirtyRows_) out.displayRows.push_back(position_[r]);
        std::sort(out.displayRows.begin(), out.displayRows.end());
    }
    for (size_t r : dirtyRows_) dirty_[r] = 0;
    dirtyRows_.clear();
    repaintAll_ = false;
    return out;
}

// ---- Selection and moving --------------------------------------------------------------------

void QuoteListModel::Select(size_t display, SelectMode mode) {
    if (display >= rows_.size()) return;
    size_t row = order_[display];
    if (mode == SelectMode::Range && anchor_ >= 0) {
        size_t a = position_[static_cast<size_t>(anchor_)];
        size_t lo = std::min(a, display), hi = std::max(a, display);
        for (size_t d = 0; d < rows_.size(); ++d) rows_[order_[d]].selected = d >= lo && d <= hi;
    } else if (mode == SelectMode::Toggle) {
        rows_[row].selected = !rows_[row].selected;
        anchor_ = static_cast<int>(row);
    } else {
        for (QuoteRow& r : rows_) r.selected = false;
        rows_[row].selected = true;
        anchor_ = static_cast<int>(row);
    }
    MarkAll();
}

void QuoteListModel::ClearSelection() {
    for (QuoteRow& r : rows_) r.selected = false;
    anchor_ = -1;
    MarkAll();
}

std::vector<size_t> QuoteListModel::SelectedDisplayRows() const {
    std::vector<size_t> out;
    for (size_t d = 0; d < order_.size(); ++d)
        if (rows_[order_[d]].selected) out.push_back(d);
    return out;
}

std::vector<SecurityId> QuoteListModel::SelectedIds() const {
    std::vector<SecurityId> out;
    for (size_t d : SelectedDisplayRows()) out.push_back(rowAt(d).entry.id);
    return out;
}

int QuoteListModel::FirstSelected() const {
    for (size_t d = 0; d < order_.size(); ++d)
        if (rows_[order_[d]].selected) return static_cast<int>(d);
    return -1;
}

MoveStatus QuoteListModel::MoveSelected(size_t target) {
    if (!canMoveRows()) return MoveStatus::NotAllowed;
    if (sorted()) return MoveStatus::RefusedSorted;
    std::vector<size_t> moving, staying;
    size_t insertAt = 0;
    target = std::min(target, rows_.size());
    for (size_t d = 0; d < order_.size(); ++d) {
        size_t r = order_[d];
        if (rows_[r].selected) {
            moving.push_back(r);
        } else {
            staying.push_back(r);
            if (d < target) insertAt = staying.size();
        }
    }
    if (moving.empty()) return MoveStatus::Nothing;
    std::vector<size_t> newOrder = staying;
    newOrder.insert(newOrder.begin() + static_cast<std::ptrdiff_t>(insertAt), moving.begin(), moving.end());
    // Unsorted: the display order becomes the block order.
    std::vector<QuoteRow> rows;
    rows.reserve(rows_.size());
    int anchorRow = -1;
    for (size_t r : newOrder) {
        if (static_cast<int>(r) == anchor_) anchorRow = static_cast<int>(rows.size());
        rows.push_back(rows_[r]);
        rows.back().blockOrder = rows.size() - 1;
    }
    rows_ = std::move(rows);
    anchor_ = anchorRow;
    RebuildIndex();
    ResetOrder();
    dirty_.assign(rows_.size(), 0);
    dirtyRows_.clear();
    MarkAll();
    return MoveStatus::Moved;
}

std::vector<SecurityId> QuoteListModel::MemberOrder() const {
    std::vector<SecurityId> out;
    out.reserve(rows_.size());
    for (const QuoteRow& r : rows_) out.push_back(r.entry.id);
    return out;
}

BlockUpdate QuoteListModel::SaveOrder(BlockSet& blocks) const {
    if (!canMoveRows()) return BlockUpdate::Unchanged;
    std::vector<SecurityId> order = MemberOrder();
    return blocks.UpdateBlock(pageGbk_, [&](Block& b) {
        // Members another writer added meanwhile stay, after the page's rows.
        std::vector<SecurityId> members = order;
        for (const SecurityId& id : b.members) {
            bool listed = std::any_of(order.begin(), order.end(), [&](const SecurityId& o) { return SameSecurity(o, id); });
            if (!listed) members.push_back(id);
        }
        std::vector<SecurityId> kept;
        for (const SecurityId& id : members)
            if (b.contains(id)) kept.push_back(id);
        b.members = std::move(kept);
        return true;
    });
}

bool QuoteListModel::RemoveSelected(BlockSet& blocks, BlockPrompt& prompt) {
    if (pageSetting_ != kBlockSelf) return false;
    std::vector<SecurityId> ids = SelectedIds();
    if (ids.empty()) return false;
    if (!prompt.Question(kRemoveFromBlockQuestion)) return false;
    BlockUpdate status = blocks.UpdateBlock(pageGbk_, [&](Block& b) {
        size_t before = b.members.size();
        std::erase_if(b.members, [&](const SecurityId& m) {
            return std::any_of(ids.begin(), ids.end(), [&](const SecurityId& id) { return SameSecurity(id, m); });
        });
        return b.members.size() != before;
    });
    if (status == BlockUpdate::Missing) return false;
    std::erase_if(rows_, [](const QuoteRow& r) { return r.selected; });
    for (size_t i = 0; i < rows_.size(); ++i) rows_[i].blockOrder = i;
    anchor_ = -1;
    RebuildIndex();
    ResetOrder();
    dirty_.assign(rows_.size(), 0);
    dirtyRows_.clear();
    if (sorted() && !serverSorted()) Resort();
    MarkAll();
    return status == BlockUpdate::Saved || status == BlockUpdate::Unchanged;
}

// ---- Page groups ---------------------------------------------------------------------------------

std::string PageGroup::caption() const {
    if (current < blocks.size()) return GbkToUtf8(blocks[current]);
    return title;
}

std::vector<PageGroup> BuildPageGroups(const std::vector<Block>& blocks) {
    static constexpr struct {
        uint32_t setting;
        std::string_view title;
    } kTabs[] = {{kBlockRule, "自动板块"}, {kBlockSelf, "自选股"}, {kBlockScreening, "条件选股"}, {kBlockServer, "系统板块"}};
    std::vector<PageGroup> groups;
    for (const auto& t : kTabs) {
        PageGroup g;
        g.setting = t.setting;
        g.title = std::string(t.title);
        for (const Block& b : blocks)
            if (b.setting == t.setting) g.blocks.push_back(b.name);
        groups.push_back(std::move(g));
    }
    return groups;
}

bool FindPageGroup(const std::vector<PageGroup>& groups, std::string_view blockGbk, size_t& tab, size_t& index) {
    for (size_t t = 0; t < groups.size(); ++t)
        for (size_t i = 0; i < groups[t].blocks.size(); ++i)
            if (EqualsNoCase(groups[t].blocks[i], blockGbk)) {
                tab = t;
                index = i;
                return true;
            }
    return false;
}

}  // namespace tessaro
