#include "market/history.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "market/file_lock.h"
#include "platform/files.h"
#include "platform/process_lock.h"

namespace tessaro {

namespace {

// Closes a descriptor on every way out.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

// Reads exactly `size` bytes at `offset`; false on an error or an early end.
bool ReadAt(int fd, void* buffer, size_t size, off_t offset) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        ssize_t n = ::pread(fd, p, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

bool WriteAt(int fd, const void* buffer, size_t size, off_t offset) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    while (size > 0) {
        ssize_t n = ::pwrite(fd, p, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

// Size of an open file, -1 on error.
int64_t SizeOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

// Reads `count` whole records starting at record `first`.
template <class Record>
bool ReadRecords(int fd, size_t first, size_t count, Record* out) {
    if (count == 0) return true;
    return ReadAt(fd, out, count * sizeof(Record), static_cast<off_t>(first * sizeof(Record)));
}

bool LessByTime(const KLineRecord& a, const KLineRecord& b) { return a.time < b.time; }

// Sorts by time, keeping only the last of equal times (stable, so "last" is input order).
void SortUnique(std::vector<KLineRecord>& bars) {
    std::stable_sort(bars.begin(), bars.end(), LessByTime);
    size_t out = 0;
    for (size_t i = 0; i < bars.size(); ++i) {
        if (i + 1 < bars.size() && bars[i + 1].time == bars[i].time) continue;
        bars[out++] = bars[i];
    }
    bars.resize(out);
}

// The newest min(capacity, 365) bars of the file at `path`.
bool FillDayCache(const std::string& path, DayCache& cache) {
    cache.bars.clear();
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return false;
    int64_t size = SizeOf(fd.get());
    if (size < 0) return false;
    size_t count = static_cast<size_t>(size) / kHistoryRecordSize;
    size_t take = std::min({count, cache.capacity, kDayCacheMax});
    cache.bars.resize(take);
    if (!ReadRecords(fd.get(), count - take, take, cache.bars.data())) {
        cache.bars.clear();
        return false;
    }
    return true;
}

}  // namespace

// --- Loading ---------------------------------------------------------------

void AttachBarData(Series& series, std::span<const CapitalChange> changes) {
    std::vector<CapitalChange> sortedCopy;
    auto byDay = [](const CapitalChange& a, const CapitalChange& b) { return StoreDay(a.day) < StoreDay(b.day); };
    if (!std::is_sorted(changes.begin(), changes.end(), byDay)) {
        sortedCopy.assign(changes.begin(), changes.end());
        std::stable_sort(sortedCopy.begin(), sortedCopy.end(), byDay);
        changes = sortedCopy;
    }
    // The changes are walked once, in step with the bars.
    size_t next = 0;
    const CapitalChange* inForce = nullptr;
    for (size_t i = 0; i < series.size(); ++i) {
        const KLineRecord& bar = series.bars[i];
        TradeData& trade = series.trades[i];
        trade = TradeData{};
        trade.volume = bar.volume;
        trade.amount = bar.amount;
        uint32_t day = StoreDay(bar.time);
        while (next < changes.size() && StoreDay(changes[next].day) <= day) inForce = &changes[next++];
        CapitalBlock& capital = series.capital[i];
        capital = CapitalBlock{};
        if (inForce) {
            capital.circulating = inForce->circulating;
            capital.total = inForce->total;
        }
    }
}

size_t MaxHistoryRecords(Period period) {
    constexpr size_t kDays = 50 * 366;
    switch (period) {
    case kPeriodMin1: return kDays * 240;
    case kPeriodMin5: return kDays * 48;
    case kPeriodDay: return kDays;
    default: return 0;
    }
}

bool LoadHistoryFile(const std::string& path, Period period, Series& out,
                     std::span<const CapitalChange> capitalChanges, std::string* error, bool barsOnly) {
    out.clear();
    out.period = period;
    auto fail = [&](std::string why) {
        if (error) *error = std::move(why);
        out.clear();
        return false;
    };
    if (!IsHistoryPeriod(period) || path.empty()) return fail("no history file");
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        if (errno == ENOENT || errno == ENOTDIR) return true;  // a missing file is no history
        return fail("cannot read " + path + ": " + std::strerror(errno));
    }
    int64_t size = SizeOf(fd.get());
    if (size < 0) return fail("cannot read " + path + ": " + std::strerror(errno));
    size_t count = static_cast<size_t>(size) / kHistoryRecordSize;
    // Checked before any memory is taken: a huge (or sparse) file costs nothing.
    if (count > MaxHistoryRecords(period))
        return fail(path + " is damaged: " + std::to_string(count) + " records are more than 50 years of bars");
    try {
        if (barsOnly) {
            out.bars.reserve(count + kHistorySpareBars);
            out.bars.resize(count);
        } else {
            out.reserve(count + kHistorySpareBars);
            out.resize(count);
        }
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    if (!ReadRecords(fd.get(), 0, count, out.bars.data())) return fail("cannot read " + path);
    // A file put together by another program may be out of order or repeat a time.
    bool ordered = true;
    for (size_t i = 1; i < count && ordered; ++i) ordered = out.bars[i - 1].time < out.bars[i].time;
    if (!ordered) {
        SortUnique(out.bars);
        if (!barsOnly) out.resize(out.bars.size());
    }
    if (!barsOnly) AttachBarData(out, capitalChanges);
    return true;
}

bool LoadHistory(const AppPaths& paths, const SecurityId& id, Period period, Series& out,
                 std::span<const CapitalChange> capitalChanges, bool barsOnly) {
    if (!IsHistoryPeriod(period)) {
        out.clear();
        out.period = period;
        return false;
    }
    return LoadHistoryFile(paths.historyFile(id, period), period, out, capitalChanges, nullptr, barsOnly);
}

// --- Writing ---------------------------------------------------------------

StoreTime NormaliseBarTime(StoreTime time, Period period) {
    switch (period) {
    case kPeriodMin1:
    case kPeriodMin5: return time - time % 60;
    case kPeriodDay: return StartOfDay(time);
    default: return time;
    }
}

std::vector<KLineRecord> PrepareNewBars(Period period, std::span<const KLineRecord> bars) {
    std::vector<KLineRecord> out(bars.begin(), bars.end());
    for (KLineRecord& bar : out) bar.time = NormaliseBarTime(bar.time, period);
    SortUnique(out);
    return out;
}

std::vector<KLineRecord> MergeBars(std::span<const KLineRecord> stored, std::span<const KLineRecord> fresh) {
    std::vector<KLineRecord> out;
    out.reserve(stored.size() + fresh.size());
    if (fresh.empty()) {
        out.assign(stored.begin(), stored.end());
        return out;
    }
    StoreTime first = fresh.front().time;
    // Stored bars older than the first new bar stay where they are; the others
    // (put in order, should the file be out of order) are merged with the new ones.
    std::vector<KLineRecord> rest;
    for (const KLineRecord& bar : stored) {
        if (bar.time < first)
            out.push_back(bar);
        else
            rest.push_back(bar);
    }
    SortUnique(rest);
    size_t i = 0, j = 0;
    while (i < rest.size() || j < fresh.size()) {
        if (j == fresh.size() || (i < rest.size() && rest[i].time < fresh[j].time)) {
            out.push_back(rest[i++]);
        } else {
            if (i < rest.size() && rest[i].time == fresh[j].time) ++i;  // the new bar wins
            out.push_back(fresh[j++]);
        }
    }
    return out;
}

bool WriteHistoryFile(const std::string& path, Period period, std::span<const KLineRecord> bars,
                      bool createDirectories, DayCache* dayCache) {
    if (!IsHistoryPeriod(period) || path.empty()) return false;
    try {
        std::vector<KLineRecord> fresh = PrepareNewBars(period, bars);
        if (createDirectories && !CreateDirectories(path)) return false;

        // Threads of this process queue in the registry; other processes on the lock file.
        ScopedFileLock writeLock(path, ScopedFileLock::Mode::Write);
        ProcessFileLock processLock(path);
        if (!processLock.held()) return false;
        // Opened after the locks: a writer before us may have renamed a new file in.
        FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        if (!fd.valid()) return false;
        int64_t size = SizeOf(fd.get());
        if (size < 0) return false;
        size_t count = static_cast<size_t>(size) / kHistoryRecordSize;
        bool whole = static_cast<size_t>(size) % kHistoryRecordSize == 0;

        bool appendInPlace = false;
        if (!fresh.empty() && whole) {
            if (count == 0) {
                appendInPlace = true;
            } else {
                KLineRecord last;
                if (!ReadRecords(fd.get(), count - 1, 1, &last)) return false;
                appendInPlace = fresh.front().time > last.time;
            }
        }

        if (fresh.empty()) {
            // Nothing to store.
        } else if (appendInPlace) {
            // Whole records after the last one: a concurrent load sees a prefix of them.
            if (!WriteAt(fd.get(), fresh.data(), fresh.size() * kHistoryRecordSize, static_cast<off_t>(size))) {
                // Take back what was written so that no partial bar is left behind.
                if (::ftruncate(fd.get(), static_cast<off_t>(size)) != 0) { /* left for the next write */ }
                return false;
            }
        } else {
            // The complete records only: a partial trailing record is dropped here.
            std::vector<KLineRecord> stored(count);
            if (!ReadRecords(fd.get(), 0, count, stored.data())) return false;
            std::vector<KLineRecord> merged = MergeBars(stored, fresh);
            std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(merged.data()),
                                           merged.size() * kHistoryRecordSize);
            if (!WriteFileAtomic(path, bytes)) return false;
        }

        if (dayCache && period == kPeriodDay && !FillDayCache(path, *dayCache)) return false;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool WriteHistory(const AppPaths& paths, const SecurityId& id, Period period, std::span<const KLineRecord> bars,
                  bool createDirectories, DayCache* dayCache) {
    if (!IsHistoryPeriod(period)) return false;
    return WriteHistoryFile(paths.historyFile(id, period), period, bars, createDirectories, dayCache);
}

// --- Extra data --------------------------------------------------------------

bool LoadExtraFile(const std::string& path, std::vector<ExtraDayRecord>& out) {
    out.clear();
    if (path.empty()) return false;
    auto file = LockedFile::Open(path, LockedFile::Mode::Read);
    if (!file) return errno == ENOENT || errno == ENOTDIR;
    file->lockRead();
    bool ok = false;
    int64_t size = SizeOf(file->fd());
    if (size >= 0) {
        size_t count = static_cast<size_t>(size) / sizeof(ExtraDayRecord);
        try {
            out.resize(count);
            ok = ReadRecords(file->fd(), 0, count, out.data());
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    file->unlock();
    if (!ok) out.clear();
    return ok;
}

std::vector<ExtraDayRecord> LoadExtra(const AppPaths& paths, const SecurityId& id) {
    std::vector<ExtraDayRecord> out;
    LoadExtraFile(paths.exdataFile(id), out);
    return out;
}

// --- Local data maintenance ---------------------------------------------------

DataMaintenanceResult DeleteHistory(const AppPaths& paths, const DataMaintenanceOptions& options,
                                    DataMaintenanceHost& host) {
    DataMaintenanceResult result;
    if (!host.Confirm(kMaintenanceQuestion)) return result;
    result.confirmed = true;

    auto showDeleting = [&](const std::string& name) {
        // Appended piece by piece: GCC 12 misreads an in-place replace as overlapping.
        const std::string_view format = kMaintenanceDeleting;
        const size_t at = format.find("%s");
        std::string caption(format.substr(0, at));
        if (at != std::string_view::npos) caption.append(name).append(format.substr(at + 2));
        host.SetCaption(caption);
    };
    // Each file is removed under its write lock so that no writer is cut off mid-write.
    auto removeFile = [&](const std::string& path, const std::string& name) {
        showDeleting(name);
        {
            ScopedFileLock lock(path, ScopedFileLock::Mode::Write);
            ProcessFileLock processLock(path);
            if (::unlink(path.c_str()) == 0)
                ++result.filesDeleted;
            else if (errno != ENOENT)
                ++result.failures;
        }
        host.DispatchPending();
    };

    std::vector<Period> periods;
    if (options.deleteDay) periods.push_back(kPeriodDay);
    if (options.deleteFiveMinute) periods.push_back(kPeriodMin5);
    if (options.deleteOneMinute) periods.push_back(kPeriodMin1);
    for (Period period : periods) {
        for (int slot = 0; slot < kMarketCount; ++slot) {
            MarketCode market = MarketAtSlot(slot);
            if (!(options.marketMask & MarketBit(market))) continue;
            std::string dir = paths.periodDir(market, period);
            if (dir.empty()) continue;
            std::error_code ec;
            std::vector<std::filesystem::path> files;
            for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
                // The directory's lock file stays: removing it would part its holders.
                if (it->is_regular_file(ec) && it->path().filename() != kLockFileName) files.push_back(it->path());
            std::sort(files.begin(), files.end());
            for (const auto& file : files) removeFile(file.string(), file.filename().string());
        }
    }
    if (options.clearToday)
        for (int slot = 0; slot < kMarketCount; ++slot) host.NewDay(MarketAtSlot(slot));
    if (options.deleteDayDownRecord) {
        std::string path = paths.dayDownFile();
        removeFile(path, SplitPath(path).fileName);
    }
    host.SetCaption(kMaintenanceDone);
    return result;
}

}  // namespace tessaro
