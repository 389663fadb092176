#include "tools/blocks/block_index.h"

#include <cmath>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "formula/evaluator.h"
#include "market/exrights_adjust.h"
#include "market/file_lock.h"
#include "market/history.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tools/blocks/block_management.h"

namespace tessaro {

namespace {

constexpr std::string_view kComputing = "计算%s %s ...";
constexpr std::string_view kRefreshing = "刷新%s %s ...";

struct Job {
    SecurityId id;
    std::string nameGbk;
    bool allShares = false;  // the "沪深A股" block: its capital entry also goes to SH and SZ's own indexes
    double circulating = 0, total = 0;
    std::vector<IndexDaySums> days;
};

// Members in SecurityId order: market slot, then code (case-insensitive).
struct MemberKey {
    int slot;
    std::string code;
    bool operator<(const MemberKey& o) const { return slot != o.slot ? slot < o.slot : code < o.code; }
};
struct Member {
    SecurityId id;
    std::vector<size_t> jobs;
};

// One member as the loader thread prepares it: its record, and its day history
// with capital per bar, forward-adjusted up to the current trading date.
struct LoadedMember {
    bool recordOk = false;
    bool historyOk = false;
    StockRecord record;
    Series series;
    std::vector<ExRightsRecord> exRights;
};

// Loads the members in order on its own thread, at most kAhead ahead of the
// consumer; reuses the buffers handed back. Stops (and joins) when destroyed.
class MemberLoader {
public:
    static constexpr size_t kAhead = 2;

    MemberLoader(const MarketStore& store, const AppPaths& paths, const std::vector<const Member*>& order)
        : store_(store), paths_(paths), order_(order), newest_(store.CurrentTradingDate()) {
        thread_ = std::thread([this] { Run(); });
    }
    ~MemberLoader() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    MemberLoader(const MemberLoader&) = delete;
    MemberLoader& operator=(const MemberLoader&) = delete;

    // The next member in order (waits for it).
    std::unique_ptr<LoadedMember> Next() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !ready_.empty(); });
        std::unique_ptr<LoadedMember> m = std::move(ready_.front());
        ready_.pop_front();
        lock.unlock();
        changed_.notify_all();
        return m;
    }
    void Recycle(std::unique_ptr<LoadedMember> m) {
        std::lock_guard lock(mutex_);
        spare_.push_back(std::move(m));
    }

private:
    void Run() {
        for (const Member* member : order_) {
            std::unique_ptr<LoadedMember> m;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || ready_.size() < kAhead; });
                if (stop_) return;
                if (!spare_.empty()) {
                    m = std::move(spare_.back());
                    spare_.pop_back();
                }
            }
            if (!m) m = std::make_unique<LoadedMember>();
            Load(*member, *m);
            {
                std::lock_guard lock(mutex_);
                ready_.push_back(std::move(m));
            }
            changed_.notify_all();
        }
    }
    void Load(const Member& member, LoadedMember& m) const {
        m.exRights.clear();
        m.historyOk = false;
        m.recordOk = store_.GetRecord(member.id, m.record, &m.exRights);
        if (!m.recordOk) return;
        std::vector<CapitalChange> changes = store_.GetCapitalChanges(member.id);
        m.historyOk = LoadHistory(paths_, member.id, kPeriodDay, m.series, changes);
        if (m.historyOk)
            AdjustExRights(m.exRights.data(), m.exRights.size(), m.series.bars.data(), m.series.size(), newest_, 0);
    }

    const MarketStore& store_;
    const AppPaths& paths_;
    const std::vector<const Member*>& order_;
    const StoreTime newest_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<LoadedMember>> ready_, spare_;
    bool stop_ = false;
    std::thread thread_;
};

float Finite(double v) {
    const auto f = static_cast<float>(v);
    return std::isfinite(f) ? f : 0.0f;
}

bool WriteIndexDayFile(const std::string& path, std::span<const KLineRecord> bars) {
    if (path.empty() || !CreateDirectories(SplitPath(path).directory)) return false;
    ByteWriter w(bars.size() * sizeof(KLineRecord));
    for (const KLineRecord& b : bars) w.write(b);
    // Readers take no lock: the new file replaces the old one by rename.
    ScopedFileLock lock(path, ScopedFileLock::Mode::Write);
    return WriteFileAtomic(path, w.data());
}

}  // namespace

std::vector<KLineRecord> IndexBars(std::span<const KLineRecord> calendar, std::span<const IndexDaySums> sums) {
    std::vector<KLineRecord> bars(calendar.size());
    for (size_t d = 0; d < calendar.size(); ++d) {
        KLineRecord& b = bars[d];
        b.time = calendar[d].time;
        if (d >= sums.size()) continue;
        const IndexDaySums& s = sums[d];
        if (s.total > 0 && std::isfinite(s.total)) {
            b.open = Finite(s.open / s.total);
            b.high = Finite(s.high / s.total);
            b.low = Finite(s.low / s.total);
            b.close = Finite(s.close / s.total);
        }
        b.volume = Finite(s.volume);
        b.amount = Finite(s.amount);
    }
    return bars;
}

BlockIndexReport RunBlockIndexes(const BlockSet& blocks, MarketStore& store, const AppPaths& paths,
                                 ProgressQueue& progress) {
    BlockIndexReport report;
    progress.Push(std::string(kIndexInitialising), 0);

    // Jobs and the member table, from a copy of the blocks taken under the block lock.
    std::vector<Job> jobs;
    std::map<MemberKey, Member> table;
    const std::string allSharesName = Utf8ToGbk(kAllASharesBlock);
    for (const Block& b : blocks.Blocks()) {
        if (b.indexCode.empty()) continue;
        const size_t job = jobs.size();
        Job j;
        j.id = MakeSecurityId(kMarketSystem, b.indexCode);
        j.nameGbk = b.name;
        j.allShares = b.setting == kBlockRule && b.name == allSharesName;
        jobs.push_back(std::move(j));
        for (const SecurityId& id : b.members) {
            Member& m = table[{MarketSlot(id.market), AsciiLower(id.codeText())}];
            m.id = id;
            if (m.jobs.empty() || m.jobs.back() != job) m.jobs.push_back(job);  // a member listed twice counts once
        }
    }
    report.members = static_cast<int>(table.size());

    // The calendar: the day bars of the Shanghai index.
    Series calendar;
    LoadHistory(paths, MakeSecurityId(kMarketSH, "000001"), kPeriodDay, calendar);
    const size_t days = calendar.size();
    for (Job& j : jobs) j.days.assign(days, IndexDaySums{});
    progress.SetRange(report.members);

    // A loader thread reads, loads and adjusts the next members while this one
    // weighs the current member in: reading and weighing each take about half of
    // the work. Members are still taken, reported and added in table order.
    std::vector<const Member*> order;
    order.reserve(table.size());
    for (const auto& entry : table) order.push_back(&entry.second);
    MemberLoader loader(store, paths, order);

    std::vector<uint32_t> calendarDays(days);
    for (size_t d = 0; d < days; ++d) calendarDays[d] = StoreDay(calendar.bars[d].time);
    std::vector<IndexDaySums> contribution(days);
    std::vector<uint8_t> contributes(days);
    std::vector<uint32_t> barDays;
    int position = 0;
    for (const Member* member : order) {
        if (progress.cancelled()) {
            report.cancelled = true;
            return report;
        }
        ++position;
        std::unique_ptr<LoadedMember> loaded = loader.Next();
        if (!loaded->recordOk) {
            ++report.skipped;
            loader.Recycle(std::move(loaded));
            continue;
        }
        progress.Push(FormatMessage(kComputing, {member->id.codeText(), GbkToUtf8(loaded->record.entry.nameText())}),
                      position);
        if (!loaded->historyOk) {
            ++report.skipped;
            loader.Recycle(std::move(loaded));
            continue;
        }
        const Series& series = loaded->series;

        // Walk the calendar and the member's bars together: older member bars are
        // passed over, a bar of the calendar day becomes the current bar, and the
        // current bar (the last earlier one on a suspended day) is added.
        const size_t n = series.size();
        barDays.resize(n);
        for (size_t i = 0; i < n; ++i) barDays[i] = StoreDay(series.bars[i].time);
        size_t next = 0;
        long current = -1;
        for (size_t d = 0; d < days; ++d) {
            const uint32_t day = calendarDays[d];
            while (next < n && barDays[next] < day) ++next;
            if (next < n && barDays[next] == day) current = static_cast<long>(next++);
            contributes[d] = current >= 0;
            if (current < 0) continue;
            const KLineRecord& bar = series.bars[static_cast<size_t>(current)];
            const CapitalBlock& capital = series.capital[static_cast<size_t>(current)];
            const double w = capital.total;
            contribution[d] = {bar.open * w, bar.high * w,   bar.low * w,          bar.close * w,
                               bar.volume,   bar.amount,     capital.circulating,  capital.total};
        }
        for (size_t jobIndex : member->jobs) {
            Job& job = jobs[jobIndex];
            for (size_t d = 0; d < days; ++d) {
                if (!contributes[d]) continue;
                IndexDaySums& s = job.days[d];
                const IndexDaySums& c = contribution[d];
                s.open += c.open;
                s.high += c.high;
                s.low += c.low;
                s.close += c.close;
                s.volume += c.volume;
                s.amount += c.amount;
                s.circulating += c.circulating;
                s.total += c.total;
            }
            job.circulating += loaded->record.quote.capital.circulating;
            job.total += loaded->record.quote.capital.total;
        }
        loader.Recycle(std::move(loaded));
    }

    const StoreTime capitalDate = MakeStoreTime(1980, 1, 1);
    for (const Job& job : jobs) {
        if (progress.cancelled()) {
            report.cancelled = true;
            break;
        }
        progress.Push(FormatMessage(kRefreshing, {job.id.codeText(), GbkToUtf8(job.nameGbk)}), report.members);
        if (!store.GetCodeEntry(job.id)) {
            // A new index security, named after its block.
            QuoteUpdate named;
            named.entry.id = job.id;
            named.entry.securityClass = kClassIndex;
            named.entry.setName(job.nameGbk);
            store.UpdateQuote(named);
        }
        const CapitalChange entry{capitalDate, Finite(job.circulating), Finite(job.total)};
        store.SetCapitalChanges(job.id, {entry});
        if (job.allShares)
            for (MarketCode m : {kMarketSH, kMarketSZ})
                if (auto own = store.GetMarketIndexEntry(m)) store.SetCapitalChanges(own->id, {entry});
        std::vector<KLineRecord> bars = IndexBars(calendar.bars, job.days);
        if (WriteIndexDayFile(paths.historyFile(job.id, kPeriodDay), bars))
            ++report.indexes;
        else
            ++report.failed;
    }
    return report;
}

size_t EvaluateFormulaOverRows(const FormulaSet& formulas, EvalDataSource& data, const FormulaRecord& formula,
                               std::span<FormulaRow> rows, size_t line, Period period, StoreTime time,
                               ProgressQueue& progress) {
    progress.SetRange(static_cast<int>(rows.size()));
    FormulaEvaluator evaluator(formulas, data);
    size_t done = 0;
    for (FormulaRow& row : rows) {
        if (progress.cancelled()) break;
        row.result = 0;
        ++done;
        progress.Push(FormatMessage(kComputing, {row.entry.id.codeText(), GbkToUtf8(row.entry.nameText())}),
                      static_cast<int>(done));
        std::unique_ptr<EvalResult> result = evaluator.Evaluate(formula, row.entry, nullptr, period);
        if (!result || line >= result->lines.size()) continue;
        const OutputLine& out = result->lines[line];
        const int32_t last = std::min<int32_t>(out.count, static_cast<int32_t>(out.points.size())) - 1;
        float value = 0;
        if (time == 0) {
            if (out.valid(last)) value = out.points[static_cast<size_t>(last)].value;
        } else {
            for (int32_t k = last; k >= out.begin && k >= 0; --k) {
                const int64_t distance = BarDistance(out.points[static_cast<size_t>(k)].time, time, period);
                if (distance == 0) {
                    value = out.points[static_cast<size_t>(k)].value;
                    break;
                }
                if (distance < 0) break;  // the bars before the given time's bar
            }
        }
        row.result = std::isfinite(value) ? value : 0.0f;
    }
    return done;
}

}  // namespace tessaro
