#include "market/market_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

#include "market/periods.h"
#include "market/security_registry.h"
#include "market/tick_merge.h"
#include "platform/files.h"
#include "platform/process_lock.h"
#include "platform/text.h"

namespace tessaro {

namespace {

constexpr float kPriceEpsilon = 0.00001f;
// The earliest StoreTime that counts as a set time (100 s after 1970-01-01 UTC).
constexpr StoreTime kFirstSetTime = StoreTimeFromUnix(100);
// Quotes stamped at 06:00:00 or earlier belong to no trading day.
constexpr uint32_t kEarliestQuoteTimeOfDay = 6 * 3600;

// The code as stored: at most nine bytes.
std::string_view StoredCode(std::string_view code) { return code.substr(0, std::min<size_t>(code.size(), 9)); }

std::string_view IndexCodeOf(MarketCode market) {
    return market == kMarketSH ? "000001" : market == kMarketSZ ? "399001" : "999999";
}

bool FiniteQuote(const QuoteSnapshot& s) {
    const float values[] = {s.avgVolume5,      s.prevClose,        s.price5MinAgo,          s.bar.open,
                            s.bar.high,        s.bar.low,          s.bar.close,             s.bar.volume,
                            s.bar.amount,      s.lastTrade.volume, s.lastTrade.amount,      s.lastTrade.sellVolume,
                            s.lastTrade.buyVolume};
    for (float v : values)
        if (!std::isfinite(v)) return false;
    return true;
}

// A bid or ask level is kept when its price is in (0, max] and its volume in [-eps, max].
bool LevelValid(float price, float volume) {
    return price > 0 && price <= kMaxQuoteValue && volume >= -kPriceEpsilon && volume <= kMaxQuoteValue;
}

// A zeroed image with its magic. Fresh pages instead of clearing the old ones:
// untouched pages cost neither time nor memory.
MarketImagePtr FreshImage() {
    MarketImagePtr image = AllocateMarketImage();
    if (!image) throw std::bad_alloc();
    std::memcpy(image->magic, kMarketMagic, sizeof kMarketMagic);
    return image;
}

int OpenMarketFile(const std::string& path) { return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644); }

int64_t FdSize(int fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool Priced(const QuoteSnapshot& s) {
    return s.bar.open > kPriceEpsilon ||
           (s.bar.high > kPriceEpsilon && s.bar.low > kPriceEpsilon && s.bar.close > kPriceEpsilon);
}

// A priced quote of a later day than the market's trading date opens a new day.
bool OpensNewDay(const QuoteSnapshot& s, StoreTime tradingDate) {
    return Priced(s) && StoreDay(s.bar.time) > StoreDay(tradingDate);
}

}  // namespace

// ---- Construction -------------------------------------------------------------------

MarketStore::MarketStore(AppPaths paths, const SettingsStore& settings)
    : paths_(std::move(paths)), settings_(settings) {
    for (int slot = 0; slot < kMarketCount; ++slot) {
        Block& b = blocks_[slot];
        b.market = MarketAtSlot(slot);
        b.indexCode = std::string(IndexCodeOf(b.market));
        b.path = paths_.marketFile(b.market);
        b.defaultDecimals = ReadDefaultDecimals(settings_, b.market);
        b.image = FreshImage();
        b.index.reserve(kMaxSecurities);
    }
}

MarketStore::~MarketStore() {
    for (Block& b : blocks_) {
        std::unique_lock io(b.tickIo);
        std::lock_guard lock(b.mutex);
        CloseFileLocked(b);
    }
}

MarketStore::Block* MarketStore::BlockOf(MarketCode market) {
    int slot = MarketSlot(market);
    return slot < 0 ? nullptr : &blocks_[slot];
}

const MarketStore::Block* MarketStore::BlockOf(MarketCode market) const {
    int slot = MarketSlot(market);
    return slot < 0 ? nullptr : &blocks_[slot];
}

// ---- Change notices ----------------------------------------------------------------------

std::shared_ptr<ChangeFeed> MarketStore::WatchChanges() { return changes_.Open(); }

void MarketStore::Changed(const Block& b, const IndexEntry& e, unsigned kinds) {
    changes_.Record(MarketSlot(b.market), e.slot, Record(b, e).entry.id, kinds);
}

void MarketStore::ChangedMarket(const Block& b) { changes_.RecordReset(MarketSlot(b.market)); }

// ---- Index ------------------------------------------------------------------------------

MarketStore::CodeKey MarketStore::KeyOf(std::string_view code) {
    CodeKey key{};
    const std::string lower = AsciiLower(StoredCode(code));
    std::memcpy(key.data(), lower.data(), std::min(lower.size(), key.size() - 1));
    return key;
}

MarketStore::IndexEntry* MarketStore::Find(Block& b, std::string_view code, size_t* position) {
    const CodeKey key = KeyOf(code);
    auto it = std::lower_bound(b.index.begin(), b.index.end(), key,
                               [](const IndexEntry& e, const CodeKey& k) { return e.key < k; });
    if (position) *position = static_cast<size_t>(it - b.index.begin());
    if (it != b.index.end() && it->key == key) return &*it;
    return nullptr;
}

const MarketStore::IndexEntry* MarketStore::Find(const Block& b, std::string_view code) {
    return Find(const_cast<Block&>(b), code, nullptr);
}

MarketStore::IndexEntry* MarketStore::FindOrAddLocked(Block& b, std::string_view code, bool create, bool* added) {
    if (added) *added = false;
    code = StoredCode(code);
    if (code.empty() || code.find('\0') != std::string_view::npos) return nullptr;
    size_t position = 0;
    if (IndexEntry* e = Find(b, code, &position)) return e;
    if (!create || b.image->recordCount >= kMaxSecurities) return nullptr;

    int slot = b.image->recordCount;
    StockRecord& r = b.image->records[slot];
    std::memset(static_cast<void*>(&r), 0, sizeof r);
    r.entry.id.market = b.market;
    r.entry.id.setCode(code);
    r.entry.securityClass = ClassifyCode(code, b.market);
    ++b.image->recordCount;
    IndexEntry entry;
    entry.key = KeyOf(code);
    entry.slot = slot;
    auto it = b.index.insert(b.index.begin() + static_cast<long>(position), std::move(entry));
    if (added) *added = true;
    return &*it;
}

void MarketStore::RebuildIndexLocked(Block& b) {
    b.index.clear();
    for (int slot = 0; slot < b.image->recordCount; ++slot) {
        if (!RecordInUse(b.image->records[slot])) continue;
        IndexEntry e;
        e.key = KeyOf(b.image->records[slot].entry.id.codeText());
        e.slot = slot;
        b.index.push_back(std::move(e));
    }
    std::sort(b.index.begin(), b.index.end(), [](const IndexEntry& x, const IndexEntry& y) { return x.key < y.key; });
}

// ---- Files --------------------------------------------------------------------------------

void MarketStore::CloseFileLocked(Block& b) {
    if (b.fd >= 0) ::close(b.fd);
    b.fd = -1;
}

bool MarketStore::OpenFileLocked(Block& b, std::string* error) {
    CloseFileLocked(b);
    if (b.path.empty()) {
        if (error) *error = "no application directory for the market file";
        return false;
    }
    if (readOnly_) {
        b.fd = ::open(b.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (b.fd < 0 && errno != ENOENT && errno != ENOTDIR) {
            if (error) *error = "cannot open " + b.path + ": " + std::strerror(errno);
            return false;
        }
        return true;  // a missing file is an empty market
    }
    if (!CreateDirectories(paths_.marketDir(b.market))) {
        if (error) *error = "cannot create the directory of " + b.path + ": " + std::strerror(errno);
        return false;
    }
    b.fd = OpenMarketFile(b.path);
    if (b.fd < 0) {
        if (error) *error = "cannot open " + b.path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool MarketStore::RewriteFileLocked(Block& b, int32_t copyBlocks) {
    if (readOnly_) return false;
    if (b.path.empty() || !CreateDirectories(paths_.marketDir(b.market))) return false;
    int64_t inFile = TickBlocksInFile(FdSize(b.fd));
    copyBlocks = static_cast<int32_t>(std::clamp<int64_t>(copyBlocks, 0, b.fd < 0 ? 0 : inFile));
    if (!WriteMarketFileAtomic(b.path, *b.image, b.fd, copyBlocks)) return false;
    // The old descriptor still names the replaced file.
    int fd = OpenMarketFile(b.path);
    CloseFileLocked(b);
    b.fd = fd;
    b.fileRecordCount = b.image->recordCount;
    b.fileConsistent = fd >= 0;
    return fd >= 0;
}

bool MarketStore::LoadMarket(MarketCode market, std::string* error) {
    Block* bp = BlockOf(market);
    if (!bp) {
        if (error) *error = "unknown market";
        return false;
    }
    Block& b = *bp;
    std::unique_lock io(b.tickIo);
    std::lock_guard lock(b.mutex);
    ChangedMarket(b);
    b.index.clear();
    b.tradingDate = 0;
    b.newTrade = false;
    b.defaultDecimals = ReadDefaultDecimals(settings_, market);
    b.fileRecordCount = 0;
    b.fileConsistent = false;
    b.image = AllocateMarketImage();
    if (!b.image) throw std::bad_alloc();

    bool opened = OpenFileLocked(b, error);
    int64_t size = opened ? (b.fd >= 0 ? ReadMarketImage(b.fd, *b.image) : 0) : -1;
    ImageCheck check;
    if (!MarketHeaderValid(*b.image, size)) {
        // Short, foreign or unreadable: the market starts empty.
        b.image = FreshImage();
        check.reset = true;
    } else {
        check = CheckMarketImage(*b.image, market, size);
    }
    RebuildIndexLocked(b);
    b.tradingDate = check.newestBarTime;

    bool ok = opened;
    if (opened && readOnly_) {
        b.fileRecordCount = b.image->recordCount;
        b.fileConsistent = b.fd >= 0;  // ticks are read from the file as it is
        if (check.changed() && size > 0) NoteDamageLocked(b, check, {});
    } else if (opened) {
        b.fileRecordCount = b.image->recordCount;
        b.fileConsistent = true;
        // A file that had to be reset or repaired is kept beside the new one under
        // a name no earlier copy has: what could not be used is never thrown away.
        if (check.changed() && size != 0) NoteDamageLocked(b, check, KeepDamagedMarketFile(b.path));
        // A new, short or repaired file is rewritten now, so that disk and memory
        // agree before any record is written in place.
        if (check.changed() && !RewriteFileLocked(b, b.image->tickBlocksInUse)) {
            if (error) *error = "cannot write " + b.path + ": " + std::strerror(errno);
            b.fileConsistent = false;
            ok = false;
        }
    }

    // Company information texts live beside the market file; their directory is
    // made at every load. Failing to make it harms nothing else.
    if (!readOnly_) {
        (void)CreateDirectories(paths_.f10Dir(market));
        // Temporaries of writers killed midway are of no use to anyone.
        RemoveStaleTemporaryFiles(paths_.marketDir(market));
        for (Period period : {kPeriodMin1, kPeriodMin5, kPeriodDay}) RemoveStaleTemporaryFiles(paths_.periodDir(market, period));
    }

    if (market == kMarketSystem) {
        // The composite index of both exchanges is the system market's own.
        if (IndexEntry* e = FindOrAddLocked(b, "999999", true, nullptr))
            Record(b, *e).entry.setName(Utf8ToGbk("沪深A股指数"));
    }
    return ok;
}

bool MarketStore::LoadAll(std::string* error) {
    bool ok = true;
    std::string errors;
    for (int slot = 0; slot < kMarketCount; ++slot) {
        std::string message;
        if (!LoadMarket(MarketAtSlot(slot), &message)) {
            ok = false;
            if (!errors.empty()) errors += "; ";
            errors += message;
        }
    }
    if (error) *error = errors;
    if (baseFileLoader_) baseFileLoader_(*this);
    return ok;
}

void MarketStore::SetBaseFileLoader(BaseFileLoader loader) { baseFileLoader_ = std::move(loader); }

void MarketStore::NoteDamageLocked(const Block& b, const ImageCheck& check, const std::string& keptAs) {
    std::string note = b.path + " is damaged: ";
    if (check.reset) {
        note += "not a usable market file, the market starts empty";
    } else {
        note += std::to_string(check.droppedRecords) + " securities lost";
        if (check.ticksDropped > 0)
            note += ", " + std::to_string(check.ticksDropped) + " kept without today's ticks";
    }
    if (!keptAs.empty())
        note += "; the damaged file is kept as " + keptAs;
    else if (readOnly_)
        note += "; the file is left as it is";
    std::lock_guard lock(notesMutex_);
    loadNotes_.push_back(std::move(note));
}

std::vector<std::string> MarketStore::LoadNotes() const {
    std::lock_guard lock(notesMutex_);
    return loadNotes_;
}

bool MarketStore::SaveAll() {
    if (readOnly_) return false;  // nothing may be written
    bool ok = true;
    for (Block& b : blocks_) {
        std::unique_lock io(b.tickIo);
        std::lock_guard lock(b.mutex);
        // Today's blocks are in the current file only while it is consistent.
        int32_t blocks = b.fileConsistent ? b.image->tickBlocksInUse : 0;
        if (!RewriteFileLocked(b, blocks)) ok = false;
    }
    return ok;
}

// ---- Securities ----------------------------------------------------------------------------

std::optional<CodeEntry> MarketStore::FindOrAdd(const SecurityId& id, bool create) {
    Block* b = BlockOf(id.market);
    if (!b) return std::nullopt;
    std::lock_guard lock(b->mutex);
    bool added = false;
    IndexEntry* e = FindOrAddLocked(*b, id.codeText(), create, &added);
    if (!e) return std::nullopt;
    if (added) Changed(*b, *e, kChangeQuote);
    return Record(*b, *e).entry;
}

std::optional<CodeEntry> MarketStore::GetCodeEntry(const SecurityId& id) const {
    const Block* b = BlockOf(id.market);
    if (!b) return std::nullopt;
    std::lock_guard lock(b->mutex);
    const IndexEntry* e = Find(*b, id.codeText());
    if (!e) return std::nullopt;
    return Record(*b, *e).entry;
}

bool MarketStore::GetRecord(const SecurityId& id, StockRecord& out, std::vector<ExRightsRecord>* exRights) const {
    const Block* b = BlockOf(id.market);
    if (!b) return false;
    std::lock_guard lock(b->mutex);
    const IndexEntry* e = Find(*b, id.codeText());
    if (!e) return false;
    std::memcpy(static_cast<void*>(&out), &Record(*b, *e), sizeof out);
    if (exRights) *exRights = e->exRights;
    return true;
}

std::optional<QuoteSnapshot> MarketStore::GetQuote(const SecurityId& id) const {
    const Block* b = BlockOf(id.market);
    if (!b) return std::nullopt;
    std::lock_guard lock(b->mutex);
    const IndexEntry* e = Find(*b, id.codeText());
    if (!e) return std::nullopt;
    return Record(*b, *e).quote;
}

std::string MarketStore::GetName(const SecurityId& id) const {
    auto entry = GetCodeEntry(id);
    return entry ? std::string(entry->nameText()) : std::string();
}

uint16_t MarketStore::GetClass(const SecurityId& id) const {
    auto entry = GetCodeEntry(id);
    return entry ? entry->securityClass : static_cast<uint16_t>(ClassifyCode(id.codeText(), id.market));
}

int MarketStore::GetDecimals(MarketCode market, uint16_t cls) const {
    const Block* b = BlockOf(market);
    if (!b) return kDefaultPriceDecimals;
    std::lock_guard lock(b->mutex);
    return PriceDecimals(market, cls, b->defaultDecimals);
}

std::optional<CodeEntry> MarketStore::FindByText(std::string_view text) const {
    if (text.size() < 2) return std::nullopt;
    if (MarketCode m = MarketFromLetters(text.substr(0, 2))) {
        if (text.size() == 2) return std::nullopt;
        return GetCodeEntry(MakeSecurityId(m, text.substr(2)));
    }
    for (int slot = 0; slot < kMarketCount; ++slot)
        if (auto e = GetCodeEntry(MakeSecurityId(MarketAtSlot(slot), text))) return e;
    return std::nullopt;
}

std::vector<CodeEntry> MarketStore::ListSecurities(unsigned marketMask) const {
    std::vector<CodeEntry> out;
    for (int slot = 0; slot < kMarketCount; ++slot) {
        if (!(marketMask & (1u << slot))) continue;
        const Block& b = blocks_[slot];
        std::lock_guard lock(b.mutex);
        out.reserve(out.size() + b.index.size());
        for (const IndexEntry& e : b.index) out.push_back(Record(b, e).entry);
    }
    return out;
}

std::vector<SecurityId> MarketStore::ListSecurityIds(unsigned marketMask) const {
    std::vector<SecurityId> out;
    for (int slot = 0; slot < kMarketCount; ++slot) {
        if (!(marketMask & (1u << slot))) continue;
        const Block& b = blocks_[slot];
        std::lock_guard lock(b.mutex);
        out.reserve(out.size() + b.index.size());
        for (const IndexEntry& e : b.index) out.push_back(Record(b, e).entry.id);
    }
    return out;
}

int MarketStore::SecurityCount(MarketCode market) const {
    const Block* b = BlockOf(market);
    if (!b) return 0;
    std::lock_guard lock(b->mutex);
    return static_cast<int>(b->index.size());
}

std::optional<CodeEntry> MarketStore::GetMarketIndexEntry(MarketCode market) const {
    const Block* b = BlockOf(market);
    if (!b) return std::nullopt;
    std::lock_guard lock(b->mutex);
    // Looked up every time rather than remembered: the server may rename the
    // index after the first look, and a binary search costs next to nothing.
    const IndexEntry* e = Find(*b, b->indexCode);
    if (!e) return std::nullopt;
    return Record(*b, *e).entry;
}

StoreTime MarketStore::CurrentTradingDate() const {
    StoreTime newest = 0;
    for (const Block& b : blocks_) {
        std::lock_guard lock(b.mutex);
        newest = std::max(newest, b.tradingDate);
    }
    return newest != 0 ? newest : NowStoreTime();
}

StoreTime MarketStore::MarketTradingDate(MarketCode market) const {
    const Block* b = BlockOf(market);
    if (!b) return 0;
    std::lock_guard lock(b->mutex);
    return b->tradingDate;
}

// ---- Quotes ---------------------------------------------------------------------------------

unsigned MarketStore::UpdateQuote(QuoteUpdate& update) {
    Block* bp = BlockOf(update.entry.id.market);
    if (!bp) return 0;
    Block& b = *bp;
    // A quote that opens a new day rewrites the market file, which needs the
    // tick I/O lock; it ranks before the market lock, so it is taken first and
    // only then (a new day is rare, and the check repeats under both locks).
    std::unique_lock io(b.tickIo, std::defer_lock);
    std::unique_lock lock(b.mutex);
    if (OpensNewDay(update.snapshot, b.tradingDate)) {
        lock.unlock();
        io.lock();
        lock.lock();
    }

    // 1. The security, its stored class and its name.
    bool added = false;
    IndexEntry* e = FindOrAddLocked(b, update.entry.id.codeText(), true, &added);
    if (!e) return 0;
    unsigned result = added ? kQuoteAddedSecurity : 0;
    if (added) Changed(b, *e, kChangeQuote);
    StockRecord& r = Record(b, *e);
    update.entry.securityClass = r.entry.securityClass;
    if (update.entry.name[0] != 0)
        r.entry.setName(update.entry.nameText());
    else
        std::memcpy(update.entry.name, r.entry.name, sizeof r.entry.name);

    // 2. An unset, too early or garbage snapshot stores nothing.
    QuoteSnapshot& s = update.snapshot;
    if (s.bar.time < kFirstSetTime || TimeOfDay(s.bar.time) <= kEarliestQuoteTimeOfDay) return result;
    if (!FiniteQuote(s) || s.bar.volume > kMaxQuoteValue || s.bar.close > kMaxQuoteValue) return result;

    // 3. A priced quote of a later day opens a new trading day; one of an earlier
    // day (a late or stale quote) neither clears today nor moves the date back.
    if (Priced(s)) {
        if (OpensNewDay(s, b.tradingDate)) {
            NewDayLocked(b);
            // A new day empties the minute extras as every NewDay does: yesterday's
            // figures would otherwise stand in today's later minutes.
            ClearMinuteExtras();
            result |= kQuoteNewDay;
        }
        b.tradingDate = std::max<uint32_t>(b.tradingDate, uint32_t{s.bar.time});
    }

    // 4. The snapshot; the trade test of step 7 needs the values it replaces.
    const float oldVolume = r.quote.bar.volume;
    const float oldPrice = r.quote.bar.close;
    b.image->daily[0] = 1;
    r.quote.avgVolume5 = s.avgVolume5;
    r.quote.prevClose = s.prevClose;
    r.quote.price5MinAgo = s.price5MinAgo;
    r.quote.bar = s.bar;
    r.quote.bar.count1 = 0;
    r.quote.bar.count2 = 0;
    r.quote.lastTrade = s.lastTrade;

    // 5. Order book: a level with an impossible price or volume is emptied.
    OrderBook& book = s.book;
    for (int i = 0; i < 5; ++i) {
        if (!LevelValid(book.bidPrice[i], book.bidVolume[i])) book.bidPrice[i] = book.bidVolume[i] = 0;
        if (!LevelValid(book.askPrice[i], book.askVolume[i])) book.askPrice[i] = book.askVolume[i] = 0;
        r.bidVolumeSum += book.bidVolume[i];
        r.askVolumeSum += book.askVolume[i];
    }
    r.quote.book = book;

    // 6. The caller sees the capital in force.
    s.capital = r.quote.capital;
    result |= kQuoteStored;
    Changed(b, *e, kChangeQuote);

    // 7. A trade: the volume grew, or it held and the price moved.
    const float price = s.bar.close;
    const float volume = s.bar.volume;
    if (price > 0 && s.lastTrade.volume >= 0.000001f &&
        (volume > oldVolume + 0.1f || (volume >= oldVolume && price != oldPrice))) {
        b.newTrade = true;
        result |= kQuoteNewTrade;
    }
    return result;
}

// ---- Minutes --------------------------------------------------------------------------------

bool MarketStore::UpdateMinutes(const SecurityId& id, std::span<const MinuteSlot> slots) {
    Block* b = BlockOf(id.market);
    if (!b) return false;
    std::lock_guard lock(b->mutex);
    IndexEntry* e = Find(*b, id.codeText());
    if (!e) return false;
    StockRecord& r = Record(*b, *e);
    bool stored = false;
    for (const MinuteSlot& in : slots) {
        // A slot without a time, or of another day than the market's, is not
        // today's minute: clamping it would overwrite the open or the close.
        if (in.time == 0) continue;
        if (b->tradingDate != 0 && StoreDay(in.time) != StoreDay(b->tradingDate)) continue;
        int index = MinuteSlotIndex(TimeOfDay(in.time), true);
        if (index < 0 || index >= kMinuteSlots) continue;
        MinuteSlot& target = r.minutes[index];
        if (target.time == 0 && r.minuteCount < kMinuteSlots) ++r.minuteCount;
        target = in;
        target.time = in.time - in.time % 60;
        stored = true;
    }
    if (stored) Changed(*b, *e, kChangeMinutes);
    return true;
}

bool MarketStore::GetMinutes(const SecurityId& id, Series& out) const {
    const Block* b = BlockOf(id.market);
    if (!b) return false;
    std::lock_guard lock(b->mutex);
    const IndexEntry* e = Find(*b, id.codeText());
    if (!e) return false;
    const StockRecord& r = Record(*b, *e);
    out.clear();
    out.reserve(kMinuteSlots);
    float prevVolume = 0, prevAmount = 0;
    int taken = 0;
    for (int i = 0; i < kMinuteSlots && taken < r.minuteCount; ++i) {
        const MinuteSlot& m = r.minutes[i];
        if (m.time == 0) continue;
        KLineRecord bar;
        bar.time = m.time;
        bar.open = m.open;
        bar.high = m.high;
        bar.low = m.low;
        bar.close = m.close;
        bar.volume = m.volume - prevVolume;
        bar.amount = m.amount - prevAmount;
        size_t at = out.push(bar);
        out.trades[at].volume = bar.volume;
        out.trades[at].amount = bar.amount;
        out.capital[at] = r.quote.capital;
        prevVolume = m.volume;
        prevAmount = m.amount;
        ++taken;
    }
    return true;
}

// ---- Ticks ----------------------------------------------------------------------------------

MarketStore::TickLayout MarketStore::TickLayoutOf(const StockRecord& r) {
    TickLayout layout;
    const int32_t count = r.tickBlockCount;  // packed fields: copied, never bound to references
    layout.blockCount = std::clamp(count, 0, kMaxTickBlocksPerSecurity);
    layout.inLastBlock = r.ticksInLastBlock;
    std::copy_n(r.tickBlocks, layout.blockCount, layout.blocks.begin());
    return layout;
}

int MarketStore::TickLayout::stored() const {
    return blockCount <= 0 ? 0 : (blockCount - 1) * kTicksPerBlock + std::clamp(inLastBlock, 0, kTicksPerBlock);
}

bool MarketStore::ReadTicks(int fd, const TickLayout& layout, std::vector<TickRecord>& out) {
    out.clear();
    if (layout.blockCount <= 0) return true;
    if (fd < 0) return false;
    const int blocks = layout.blockCount;
    const int last = std::clamp(layout.inLastBlock, 0, kTicksPerBlock);
    out.resize(static_cast<size_t>(blocks - 1) * kTicksPerBlock + static_cast<size_t>(last));
    TickBlock block;
    for (int i = 0; i < blocks; ++i) {
        size_t n = i + 1 < blocks ? kTicksPerBlock : static_cast<size_t>(last);
        if (n == 0) continue;
        if (!ReadAt(fd, &block, sizeof block, TickBlockFileOffset(layout.blocks[static_cast<size_t>(i)]))) {
            out.clear();
            return false;
        }
        std::memcpy(static_cast<void*>(out.data() + static_cast<size_t>(i) * kTicksPerBlock), block.ticks,
                    n * sizeof(TickRecord));
    }
    return true;
}

int MarketStore::TickCount(const SecurityId& id) const {
    const Block* b = BlockOf(id.market);
    if (!b) return 0;
    std::lock_guard lock(b->mutex);
    const IndexEntry* e = Find(*b, id.codeText());
    if (!e) return 0;
    // No blocks means no ticks (not -100).
    return TickLayoutOf(Record(*b, *e)).stored();
}

bool MarketStore::GetTicks(const SecurityId& id, Series& out) const {
    const Block* b = BlockOf(id.market);
    if (!b) return false;
    std::vector<TickRecord> ticks;
    CapitalBlock capital;
    {
        std::shared_lock io(b->tickIo);
        TickLayout layout;
        {
            std::lock_guard lock(b->mutex);
            const IndexEntry* e = Find(*b, id.codeText());
            if (!e) return false;
            const StockRecord& r = Record(*b, *e);
            layout = TickLayoutOf(r);
            capital = r.quote.capital;
            if (layout.blockCount > 0 && !b->fileConsistent) return false;
        }
        if (!ReadTicks(b->fd, layout, ticks)) return false;
    }
    out.clear();
    out.resize(ticks.size());
    float prevVolume = 0, prevAmount = 0;
    for (size_t i = 0; i < ticks.size(); ++i) {
        const TickRecord& t = ticks[i];
        KLineRecord& bar = out.bars[i];
        bar.time = t.time;
        bar.open = bar.high = bar.low = bar.close = t.price;
        bar.volume = t.volume;
        bar.amount = t.amount;
        out.trades[i].volume = t.volume - prevVolume;
        out.trades[i].amount = t.amount - prevAmount;
        out.trades[i].direction = t.direction;
        out.capital[i] = capital;
        prevVolume = t.volume;
        prevAmount = t.amount;
    }
    return true;
}

bool MarketStore::AppendTicks(const SecurityId& id, std::span<const TickRecord> ticks) {
    Block* bp = BlockOf(id.market);
    if (!bp) return false;
    Block& b = *bp;
    // Tick writers of a market take turns; the market lock is held only to copy
    // the record's tick fields in and the new ones out. While tickIo is held no
    // one else changes those fields, the descriptor or the block counter.
    std::unique_lock io(b.tickIo);

    // 1. Copy what the merge needs, and the ticks that can be stored.
    std::vector<TickRecord> kept(ticks.begin(), ticks.end());
    int slot = 0;
    TickLayout layout;
    bool noVolume = false;
    int32_t counterBefore = 0;
    {
        std::lock_guard lock(b.mutex);
        IndexEntry* e = Find(b, id.codeText());
        if (!e) return false;
        const StockRecord& r = Record(b, *e);
        kept.resize(CompactReceivedTicks(kept, r.quote.bar.volume, r.quote.bar.time));
        if (kept.empty()) return true;
        if (b.fd < 0) return false;
        // After a failed rewrite at a new day the file still lists yesterday's
        // blocks: nothing may be written in place until it is rewritten.
        if (!b.fileConsistent && !RewriteFileLocked(b, 0)) return false;
        slot = e->slot;
        layout = TickLayoutOf(r);
        noVolume = !(r.quote.bar.volume > kTickEpsilon);
        counterBefore = b.image->tickBlocksInUse;
    }
    const int fd = b.fd;
    const int blocks = layout.blockCount;
    const int stored = layout.stored();
    // The merge starts at the smallest kept tick. Kept ticks are in time order,
    // which a batch with a falling volume need not keep in volume order: starting
    // at the first one would leave a smaller one after larger stored ticks.
    const TickRecord first = *std::min_element(kept.begin(), kept.end(), [&](const TickRecord& x, const TickRecord& y) {
        return TickBefore(x, y, noVolume);
    });

    // 2. Find where the merge starts. Stored ticks are in ascending order, so
    // the blocks are read from the newest back until one starts before the
    // first kept tick. A block past the stored count (a listed last block that
    // holds no tick) has no first tick to compare.
    std::vector<TickBlock> read;  // blocks firstRead .. blocks-1
    int firstRead = blocks;
    for (int i = blocks - 1; i >= 0; --i) {
        TickBlock block;
        if (!ReadAt(fd, &block, sizeof block, TickBlockFileOffset(layout.blocks[static_cast<size_t>(i)]))) return false;
        read.insert(read.begin(), block);
        firstRead = i;
        if (i * kTicksPerBlock < stored && !MergeStartsAt(block.ticks[0], first, noVolume)) break;
    }
    auto storedTick = [&](int pos) -> const TickRecord& {
        return read[static_cast<size_t>(pos / kTicksPerBlock - firstRead)].ticks[pos % kTicksPerBlock];
    };
    int mergePos = stored;
    for (int pos = firstRead * kTicksPerBlock; pos < stored; ++pos) {
        if (MergeStartsAt(storedTick(pos), first, noVolume)) {
            mergePos = pos;
            break;
        }
    }
    const int startBlock = mergePos / kTicksPerBlock;
    StoreTime predecessor = mergePos > 0 ? storedTick(mergePos - 1).time : 0;

    // 3. The run written from startBlock on: the untouched head of that block,
    // then the merge.
    std::vector<TickRecord> tail;
    for (int pos = mergePos; pos < stored; ++pos) tail.push_back(storedTick(pos));
    std::vector<TickRecord> merged = MergeTicks(tail, kept, noVolume, predecessor);
    std::vector<TickRecord> run;
    for (int pos = startBlock * kTicksPerBlock; pos < mergePos; ++pos) run.push_back(storedTick(pos));
    run.insert(run.end(), merged.begin(), merged.end());

    constexpr int kMaxTicks = kMaxTickBlocksPerSecurity * kTicksPerBlock;
    bool complete = true;
    const int room = kMaxTicks - startBlock * kTicksPerBlock;
    if (static_cast<int>(run.size()) > room) {
        run.resize(static_cast<size_t>(std::max(room, 0)));
        complete = false;
    }
    const int total = startBlock * kTicksPerBlock + static_cast<int>(run.size());
    if (total <= stored && !complete) return false;  // full: nothing new fits

    // 4. Write the blocks: re-read ones keep their numbers, further ones are taken
    // from the market's counter.
    const int newBlocks = (total + kTicksPerBlock - 1) / kTicksPerBlock;
    std::array<int32_t, kMaxTickBlocksPerSecurity> numbers{};
    int32_t counter = counterBefore;
    for (int i = 0; i < newBlocks; ++i) {
        if (i < blocks) {
            numbers[static_cast<size_t>(i)] = layout.blocks[static_cast<size_t>(i)];
        } else {
            if (counter >= kMaxTickBlocks) return false;
            numbers[static_cast<size_t>(i)] = counter++;
        }
    }
    for (int i = startBlock; i < newBlocks; ++i) {
        TickBlock block{};
        size_t from = static_cast<size_t>(i - startBlock) * kTicksPerBlock;
        size_t n = std::min<size_t>(kTicksPerBlock, run.size() - from);
        std::memcpy(static_cast<void*>(block.ticks), run.data() + from, n * sizeof(TickRecord));
        if (!WriteAt(fd, &block, sizeof block, TickBlockFileOffset(numbers[static_cast<size_t>(i)]))) return false;
    }

    // 5. Commit to memory, copying out what the file is to hold.
    StockRecord record;
    std::vector<StockRecord> added;  // records added since the file was last written
    int32_t addedFrom = 0, recordCount = 0;
    {
        std::lock_guard lock(b.mutex);
        StockRecord& r = b.image->records[slot];
        b.image->tickBlocksInUse = counter;
        r.tickBlockCount = newBlocks;
        std::copy_n(numbers.begin(), newBlocks, r.tickBlocks);
        r.ticksInLastBlock = total - (newBlocks - 1) * kTicksPerBlock;
        record = r;
        recordCount = b.image->recordCount;
        if (b.fileRecordCount != recordCount) {
            addedFrom = std::clamp(b.fileRecordCount, 0, recordCount);
            added.assign(&b.image->records[addedFrom], &b.image->records[recordCount]);
        }
        if (const IndexEntry* e = Find(b, id.codeText())) Changed(b, *e, kChangeTicks);
    }

    // 6. The file: the counter, the record, then securities added since the file
    // was last written (this one or still empty ones) before the count that
    // makes them part of the file.
    if (counter != counterBefore &&
        !WriteAt(fd, &counter, sizeof(int32_t), offsetof(MarketImage, tickBlocksInUse)))
        return false;
    if (!WriteAt(fd, &record, sizeof record, RecordFileOffset(slot))) return false;
    if (!added.empty() || b.fileRecordCount != recordCount) {
        if (!added.empty() &&
            !WriteAt(fd, added.data(), sizeof(StockRecord) * added.size(), RecordFileOffset(addedFrom)))
            return false;
        if (!WriteAt(fd, &recordCount, sizeof(int32_t), offsetof(MarketImage, recordCount))) return false;
        b.fileRecordCount = recordCount;
    }
    return complete;
}

// ---- Capital, finance, ex-rights -------------------------------------------------------------

bool MarketStore::SetExRights(const SecurityId& id, std::vector<ExRightsRecord> records) {
    Block* b = BlockOf(id.market);
    if (!b) return false;
    std::sort(records.begin(), records.end(),
              [](const ExRightsRecord& x, const ExRightsRecord& y) { return x.exDate < y.exDate; });
    std::lock_guard lock(b->mutex);
    IndexEntry* e = Find(*b, id.codeText());
    if (!e) return false;
    e->exRights = std::move(records);
    Changed(*b, *e, kChangeCapital);
    return true;
}

std::vector<ExRightsRecord> MarketStore::GetExRights(const SecurityId& id) const {
    const Block* b = BlockOf(id.market);
    if (!b) return {};
    std::lock_guard lock(b->mutex);
    const IndexEntry* e = Find(*b, id.codeText());
    return e ? e->exRights : std::vector<ExRightsRecord>{};
}

bool MarketStore::SetCapitalChanges(const SecurityId& id, std::vector<CapitalChange> changes) {
    Block* b = BlockOf(id.market);
    if (!b) return false;
    std::sort(changes.begin(), changes.end(),
              [](const CapitalChange& x, const CapitalChange& y) { return x.day < y.day; });
    std::lock_guard lock(b->mutex);
    IndexEntry* e = Find(*b, id.codeText());
    if (!e) return false;
    e->capitalChanges = std::move(changes);
    Changed(*b, *e, kChangeCapital);
    return true;
}

std::vector<CapitalChange> MarketStore::GetCapitalChanges(const SecurityId& id) const {
    const Block* b = BlockOf(id.market);
    if (!b) return {};
    std::lock_guard lock(b->mutex);
    const IndexEntry* e = Find(*b, id.codeText());
    return e ? e->capitalChanges : std::vector<CapitalChange>{};
}

bool MarketStore::SetFinance(const SecurityId& id, const FinanceBlock& finance) {
    Block* b = BlockOf(id.market);
    if (!b) return false;
    std::lock_guard lock(b->mutex);
    IndexEntry* e = Find(*b, id.codeText());
    if (!e) return false;
    Record(*b, *e).finance = finance;
    Changed(*b, *e, kChangeCapital);
    return true;
}

bool MarketStore::SetCapital(const SecurityId& id, float circulating, float total) {
    Block* b = BlockOf(id.market);
    if (!b) return false;
    std::lock_guard lock(b->mutex);
    IndexEntry* e = Find(*b, id.codeText());
    if (!e) return false;
    Record(*b, *e).quote.capital.circulating = circulating;
    Record(*b, *e).quote.capital.total = total;
    Changed(*b, *e, kChangeCapital);
    return true;
}

bool MarketStore::SetCapitalBlock(const SecurityId& id, const CapitalBlock& capital) {
    Block* b = BlockOf(id.market);
    if (!b) return false;
    std::lock_guard lock(b->mutex);
    IndexEntry* e = Find(*b, id.codeText());
    if (!e) return false;
    Record(*b, *e).quote.capital = capital;
    Changed(*b, *e, kChangeCapital);
    return true;
}

void MarketStore::SetBaseFileChecksum(BaseFile kind, uint32_t crc) {
    size_t i = static_cast<size_t>(kind);
    if (i >= checksums_.size()) return;
    std::lock_guard lock(checksumMutex_);
    checksums_[i] = crc;
}

uint32_t MarketStore::BaseFileChecksum(BaseFile kind) const {
    size_t i = static_cast<size_t>(kind);
    if (i >= checksums_.size()) return 0;
    std::lock_guard lock(checksumMutex_);
    return checksums_[i];
}

// ---- Minute extras -----------------------------------------------------------------------------

void MarketStore::SetMinuteExtra(int32_t key, std::span<const MinuteExtra> figures) {
    std::lock_guard lock(extraMutex_);
    MinuteExtraDay& day = minuteExtras_[key];  // zeroed on first use
    for (const MinuteExtra& f : figures) {
        if (static_cast<int32_t>(f.time) <= 0) continue;
        int index = MinuteSlotIndex(TimeOfDay(StoreTimeFromUnix(f.time)), true);
        if (index < 0 || index >= kMinuteSlots) continue;
        day[static_cast<size_t>(index)] = f;
    }
}

int MarketStore::LastMinuteExtraIndex(int32_t key) const {
    std::lock_guard lock(extraMutex_);
    auto it = minuteExtras_.find(key);
    if (it == minuteExtras_.end()) return 0;
    for (int i = kMinuteSlots - 1; i >= 0; --i)
        if (static_cast<int32_t>(it->second[static_cast<size_t>(i)].time) > 0) return i;
    return 0;
}

bool MarketStore::GetMinuteExtra(int32_t key, MinuteExtraDay& out) const {
    std::lock_guard lock(extraMutex_);
    auto it = minuteExtras_.find(key);
    if (it == minuteExtras_.end()) return false;
    out = it->second;
    return true;
}

void MarketStore::ClearMinuteExtras() {
    std::lock_guard lock(extraMutex_);
    minuteExtras_.clear();
}

// ---- Market state -------------------------------------------------------------------------------

void MarketStore::SetServerTime(StoreTime time) {
    Block& b = blocks_[0];
    std::lock_guard lock(b.mutex);
    b.image->serverTime = std::max<uint32_t>(uint32_t{b.image->serverTime}, time);
}

StoreTime MarketStore::ServerTime() const {
    const Block& b = blocks_[0];
    std::lock_guard lock(b.mutex);
    return b.image->serverTime;
}

bool MarketStore::SetMarketCounters(MarketCode market, uint16_t a, uint16_t c2, uint16_t c3) {
    Block* b = BlockOf(market);
    if (!b) return false;
    std::lock_guard lock(b->mutex);
    const uint16_t values[3] = {a, c2, c3};
    std::memcpy(b->image->daily + kDailyCountersOffset, values, sizeof values);
    return true;
}

std::array<uint16_t, 3> MarketStore::MarketCounters(MarketCode market) const {
    std::array<uint16_t, 3> out{};
    const Block* b = BlockOf(market);
    if (!b) return out;
    std::lock_guard lock(b->mutex);
    std::memcpy(out.data(), b->image->daily + kDailyCountersOffset, sizeof(uint16_t) * 3);
    return out;
}

bool MarketStore::QuotesChanged(MarketCode market) const {
    const Block* b = BlockOf(market);
    if (!b) return false;
    std::lock_guard lock(b->mutex);
    return b->image->daily[0] != 0;
}

void MarketStore::ClearQuotesChanged(MarketCode market) {
    Block* b = BlockOf(market);
    if (!b) return;
    std::lock_guard lock(b->mutex);
    b->image->daily[0] = 0;
}

bool MarketStore::NewTradeFlag(MarketCode market) const {
    const Block* b = BlockOf(market);
    if (!b) return false;
    std::lock_guard lock(b->mutex);
    return b->newTrade;
}

void MarketStore::ClearNewTradeFlag(MarketCode market) {
    Block* b = BlockOf(market);
    if (!b) return;
    std::lock_guard lock(b->mutex);
    b->newTrade = false;
}

// ---- New day and clearing -------------------------------------------------------------------------

void MarketStore::NewDayLocked(Block& b) {
    ChangedMarket(b);
    MarketImage& image = *b.image;
    std::memset(image.daily, 0, sizeof image.daily);
    image.tickBlocksInUse = 0;
    for (int slot = 0; slot < image.recordCount; ++slot) {
        StockRecord& r = image.records[slot];
        if (!RecordInUse(r)) continue;
        const QuoteSnapshot kept = r.quote;
        r.bidVolumeSum = r.askVolumeSum = 0;
        r.quote = QuoteSnapshot{};
        r.quote.avgVolume5 = kept.avgVolume5;
        r.quote.prevClose = kept.prevClose;
        r.quote.price5MinAgo = kept.price5MinAgo;
        r.quote.capital = kept.capital;
        r.minuteCount = 0;
        std::memset(static_cast<void*>(r.minutes), 0, sizeof r.minutes);
        r.tickBlockCount = 0;
        std::memset(r.tickBlocks, 0, sizeof r.tickBlocks);
        r.ticksInLastBlock = 0;
    }
    b.tradingDate = 0;
    b.newTrade = false;
    // Today's ticks reuse blocks from 0 on: the file must stop listing
    // yesterday's owners before the first of them is overwritten.
    if (!RewriteFileLocked(b, 0)) b.fileConsistent = false;
}

void MarketStore::NewDay(unsigned marketMask) {
    for (int slot = 0; slot < kMarketCount; ++slot) {
        if (!(marketMask & (1u << slot))) continue;
        Block& b = blocks_[slot];
        std::unique_lock io(b.tickIo);
        std::lock_guard lock(b.mutex);
        NewDayLocked(b);
    }
    ClearMinuteExtras();
}

void MarketStore::ClearMarkets(unsigned marketMask) {
    for (int slot = 0; slot < kMarketCount; ++slot) {
        if (!(marketMask & (1u << slot))) continue;
        Block& b = blocks_[slot];
        std::unique_lock io(b.tickIo);
        std::lock_guard lock(b.mutex);
        ChangedMarket(b);
        const StoreTime serverTime = b.image->serverTime;
        const uint32_t preserved = b.image->preserved;
        b.index.clear();  // before the records its entries point at go
        b.image = FreshImage();
        b.image->serverTime = serverTime;
        b.image->preserved = preserved;
        b.index.clear();
        b.tradingDate = 0;
        b.newTrade = false;
        if (!RewriteFileLocked(b, 0)) b.fileConsistent = false;
    }
    ClearMinuteExtras();
}

}  // namespace tessaro
