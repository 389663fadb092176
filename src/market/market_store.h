// The market store: the one in-memory picture of the three markets.
//
// Each market (SH, SZ, $$) is the memory image of its market file
// data/<mk>/stkinfo.dat (see market_file.h): up to 4096 securities with their
// code-table entry, today's quote snapshot, minute bars and tick list, capital
// and finance figures, plus a code-sorted index with the ex-rights and
// capital-change lists. Quotes and minutes change memory only; storing ticks
// writes the tick blocks and the security's record in place, so that ticks
// survive a crash; the whole image is written back by SaveAll.
//
// Every operation locks exactly one market for the time of one copy in or out;
// callers only ever get copies. Tick blocks are read and written in the file
// outside the market lock, under the market's tick I/O lock: writers of ticks
// (and whole-file rewrites) hold it exclusively, readers of ticks shared, and
// it is always taken before the market lock, so a reader of quotes never waits
// for the disk behind a tick writer. The minute-extra map has a lock of its
// own; a quote that opens a new day takes it while holding its market's lock
// (never the other way round). Change notices go to the feeds of WatchChanges.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/paths.h"
#include "market/change_feed.h"
#include "market/market_file.h"
#include "market/records.h"
#include "platform/security_id.h"
#include "market/series.h"
#include "platform/settings_store.h"

namespace tessaro {

// A quote as decoded from the server: the code-table entry and the snapshot in
// the layout of record offsets 54..222.
struct QuoteUpdate {
    CodeEntry entry;
    QuoteSnapshot snapshot;
};

// Result flags of UpdateQuote.
inline constexpr unsigned kQuoteAddedSecurity = 1;  // the security was new
inline constexpr unsigned kQuoteNewTrade = 2;       // a trade happened since the last quote
inline constexpr unsigned kQuoteStored = 4;         // the snapshot was stored
inline constexpr unsigned kQuoteNewDay = 8;         // the quote opened a new trading day

// Quotes whose volume or last price exceed this are garbage.
inline constexpr float kMaxQuoteValue = 99999997952.0f;

#pragma pack(push, 1)
// 20 bytes: the per-minute figures the server sends for a security, stored as
// received. For an index: the turnover line (value) and market breadth
// (rising, unchanged, falling at 8, 10, 12 and again at 14, 16, 18).
struct MinuteExtra {
    uint32_t time = 0;  // seconds since 1970-01-01 UTC; not positive = empty
    float value = 0;
    int16_t figures[6] = {};
};
#pragma pack(pop)
static_assert(sizeof(MinuteExtra) == 20);
using MinuteExtraDay = std::array<MinuteExtra, kMinuteSlots>;

// The base files whose checksums the store keeps for the server's base-file requests.
enum class BaseFile { Finance = 0, Power = 1, CapitalChanges = 2 };

class MarketStore {
public:
    // Paths give data/<mk>/stkinfo.dat; settings give each market's "defdec".
    MarketStore(AppPaths paths, const SettingsStore& settings);
    ~MarketStore();
    MarketStore(const MarketStore&) = delete;
    MarketStore& operator=(const MarketStore&) = delete;

    // ---- Start-up and exit ----------------------------------------------------

    // Called by LoadAll after the three markets are loaded, without any lock
    // held: the finance, ex-rights and capital-change files are read here.
    using BaseFileLoader = std::function<void(MarketStore&)>;
    void SetBaseFileLoader(BaseFileLoader loader);

    // Loads SH, SZ and $$ (and makes each market's f10/ directory), then runs the
    // base-file loader. A market file that can neither be opened nor created
    // leaves that market empty in memory and makes the result false, with the
    // reason in *error. A file that had to be reset (wrong magic, short,
    // impossible record count) or repaired (records dropped, counter raised) is
    // kept as stkinfo.dat.bad (stkinfo.dat.bad.N when that exists) before the usable
    // image replaces it, and LoadNotes tells what was lost.
    bool LoadAll(std::string* error = nullptr);
    bool LoadMarket(MarketCode market, std::string* error = nullptr);

    // Set before loading: the market files are opened for reading only. Nothing is
    // created, repaired, kept aside or written (a missing file is an empty market), so
    // a reading program works on a directory it may only read. Later changes stay in
    // memory and the operations that would write them report failure.
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
    bool readOnly() const { return readOnly_; }
    // What the loads found damaged, one line per market file, e.g. "data/sh/stkinfo.dat
    // is damaged: 3 securities lost, 1 kept without today's ticks; the damaged file is
    // kept as data/sh/stkinfo.dat.bad.1". Empty when every file was sound.
    std::vector<std::string> LoadNotes() const;
    // Writes every market's image and its tick blocks in use (plus one spare)
    // through a temporary file renamed over the market file, then reopens it.
    bool SaveAll();

    // ---- Change notices -------------------------------------------------------------

    // A feed of the securities that change from now on, and in what (quote,
    // minutes, ticks, capital), to be drained by the caller at its own pace.
    // The feed stops receiving when the caller drops it.
    std::shared_ptr<ChangeFeed> WatchChanges();

    // ---- Securities ---------------------------------------------------------------

    // The security's entry; with `create`, adds it when absent (class from its
    // code). Nothing when the market is unknown, the code empty or the market full.
    std::optional<CodeEntry> FindOrAdd(const SecurityId& id, bool create);
    std::optional<CodeEntry> GetCodeEntry(const SecurityId& id) const;
    // The full record, and a copy of the ex-rights list when asked for.
    bool GetRecord(const SecurityId& id, StockRecord& out, std::vector<ExRightsRecord>* exRights = nullptr) const;
    std::optional<QuoteSnapshot> GetQuote(const SecurityId& id) const;
    // The name (GBK), or empty for an unknown security.
    std::string GetName(const SecurityId& id) const;
    // The stored class, or the class of the code for an unknown security.
    uint16_t GetClass(const SecurityId& id) const;
    // Price decimals of a class: the market's class table, else its "defdec".
    int GetDecimals(MarketCode market, uint16_t cls) const;
    // Text of at least two characters: "SH600000" searches that market only,
    // "600000" searches SH, SZ and $$ in order. The first match wins.
    std::optional<CodeEntry> FindByText(std::string_view text) const;
    // The securities of the masked markets (bits 1 SH, 2 SZ, 4 $$) in slot
    // order, each market in code order.
    std::vector<CodeEntry> ListSecurities(unsigned marketMask) const;
    std::vector<SecurityId> ListSecurityIds(unsigned marketMask) const;
    std::vector<CodeEntry> ListAll() const { return ListSecurities(7); }
    int SecurityCount(MarketCode market) const;
    // The market's own index ("000001", "399001", "999999") once it exists.
    std::optional<CodeEntry> GetMarketIndexEntry(MarketCode market) const;
    // The newest trading date of the three markets, or the present time when none is set.
    StoreTime CurrentTradingDate() const;
    // One market's current trading date (0: none).
    StoreTime MarketTradingDate(MarketCode market) const;

    // ---- Live data ----------------------------------------------------------------

    // Stores a quote (adding the security when new) and returns kQuote* flags.
    // The entry gets the stored class and, when its name is empty, the stored
    // name; the snapshot gets the security's capital block. A priced quote of a
    // later day than the market's trading date runs NewDay for its market (which
    // also empties the minute extras) first.
    unsigned UpdateQuote(QuoteUpdate& update);
    // Stores minute bars of the market's trading day into their slots; slots
    // without a time or of another day are ignored. False for an unknown security.
    bool UpdateMinutes(const SecurityId& id, std::span<const MinuteSlot> slots);
    // Merges a batch of ticks into today's ticks and writes them to the file.
    // False for an unknown security, a file error, or when the 4800 ticks a
    // security may hold a day are exceeded (the ticks that fit are stored).
    bool AppendTicks(const SecurityId& id, std::span<const TickRecord> ticks);
    // Today's ticks as bars (price as OHLC, cumulative volume and amount; the
    // trade data holds each tick's own volume, amount and direction).
    bool GetTicks(const SecurityId& id, Series& out) const;
    // Today's filled minute slots as bars with their own volume and amount.
    bool GetMinutes(const SecurityId& id, Series& out) const;
    int TickCount(const SecurityId& id) const;

    // ---- Capital, finance, ex-rights --------------------------------------------------

    bool SetExRights(const SecurityId& id, std::vector<ExRightsRecord> records);
    std::vector<ExRightsRecord> GetExRights(const SecurityId& id) const;
    bool SetCapitalChanges(const SecurityId& id, std::vector<CapitalChange> changes);
    std::vector<CapitalChange> GetCapitalChanges(const SecurityId& id) const;
    bool SetFinance(const SecurityId& id, const FinanceBlock& finance);
    // Sets the capital in force (lots), keeping the block's other 20 bytes.
    bool SetCapital(const SecurityId& id, float circulating, float total);
    bool SetCapitalBlock(const SecurityId& id, const CapitalBlock& capital);
    void SetBaseFileChecksum(BaseFile kind, uint32_t crc);
    uint32_t BaseFileChecksum(BaseFile kind) const;

    // ---- Minute extras (keyed by packed security number) ------------------------------

    // Puts each figure with a positive time into the slot of its minute.
    void SetMinuteExtra(int32_t key, std::span<const MinuteExtra> figures);
    // The highest slot holding a figure, or 0.
    int LastMinuteExtraIndex(int32_t key) const;
    bool GetMinuteExtra(int32_t key, MinuteExtraDay& out) const;
    void ClearMinuteExtras();

    // ---- Market state -------------------------------------------------------------------

    // The newest time the server reported (kept in the Shanghai file).
    void SetServerTime(StoreTime time);
    StoreTime ServerTime() const;
    bool SetMarketCounters(MarketCode market, uint16_t a, uint16_t b, uint16_t c);
    std::array<uint16_t, 3> MarketCounters(MarketCode market) const;
    // Set by every stored quote; cleared by the reader that acts on it.
    bool QuotesChanged(MarketCode market) const;
    void ClearQuotesChanged(MarketCode market);
    // Set when a stored quote carried a new trade.
    bool NewTradeFlag(MarketCode market) const;
    void ClearNewTradeFlag(MarketCode market);

    // Clears today's data of the masked markets (keeping 5日均量, 昨收, the
    // five-minute reference price, capital and finance) and empties the
    // minute-extra map. The cleared image is written to the file at once, so the
    // file never lists tick blocks that today's ticks will reuse.
    void NewDay(unsigned marketMask);
    // Empties the masked markets (all securities and lists; the server time and
    // the preserved word stay) and the minute-extra map; written at once too.
    void ClearMarkets(unsigned marketMask);

private:
    // The code folded to lower case (ASCII only) and NUL-padded: comparing keys
    // bytewise orders codes as the case-insensitive comparison does, and the
    // binary search reads only the index, not 4096 records spread over 30 MB.
    // Unsigned, so that GBK bytes order above ASCII as in that comparison.
    using CodeKey = std::array<unsigned char, 10>;
    static CodeKey KeyOf(std::string_view code);

    // A copy of the tick fields of a record: where its ticks are in the file.
    struct TickLayout {
        int32_t blockCount = 0;
        int32_t inLastBlock = 0;
        std::array<int32_t, kMaxTickBlocksPerSecurity> blocks{};
        int stored() const;
    };
    static TickLayout TickLayoutOf(const StockRecord& r);

    struct IndexEntry {
        CodeKey key{};
        int slot = 0;  // record number in the image
        std::vector<ExRightsRecord> exRights;
        std::vector<CapitalChange> capitalChanges;
    };
    struct Block {
        // Taken before `mutex`: exclusively by tick writers and whole-file
        // rewrites, shared by tick readers. Guards the descriptor and the file's
        // tick blocks; the records' tick fields change only with both held.
        mutable std::shared_mutex tickIo;
        mutable std::mutex mutex;
        MarketCode market = 0;
        std::string indexCode;
        std::string path;
        int defaultDecimals = 2;
        MarketImagePtr image;
        int fd = -1;
        int32_t fileRecordCount = 0;   // the record count the file holds
        bool fileConsistent = false;   // the file lists no block that today's ticks may reuse
        std::vector<IndexEntry> index;  // sorted by code, case-insensitive
        StoreTime tradingDate = 0;
        bool newTrade = false;
    };

    Block* BlockOf(MarketCode market);
    const Block* BlockOf(MarketCode market) const;
    // Binary search; sets *position to the insertion point when absent.
    static IndexEntry* Find(Block& b, std::string_view code, size_t* position = nullptr);
    static const IndexEntry* Find(const Block& b, std::string_view code);
    static StockRecord& Record(Block& b, const IndexEntry& e) { return b.image->records[e.slot]; }
    static const StockRecord& Record(const Block& b, const IndexEntry& e) { return b.image->records[e.slot]; }
    IndexEntry* FindOrAddLocked(Block& b, std::string_view code, bool create, bool* added);
    void RebuildIndexLocked(Block& b);
    void NewDayLocked(Block& b);
    // Writes the image (and `copyBlocks` tick blocks) atomically and reopens the file.
    bool RewriteFileLocked(Block& b, int32_t copyBlocks);
    void NoteDamageLocked(const Block& b, const ImageCheck& check, const std::string& keptAs);
    bool OpenFileLocked(Block& b, std::string* error);
    void CloseFileLocked(Block& b);
    // Reads a security's ticks from the file; needs tickIo, not the market lock.
    static bool ReadTicks(int fd, const TickLayout& layout, std::vector<TickRecord>& out);
    void Changed(const Block& b, const IndexEntry& e, unsigned kinds);
    void ChangedMarket(const Block& b);

    AppPaths paths_;
    const SettingsStore& settings_;
    std::array<Block, kMarketCount> blocks_;
    BaseFileLoader baseFileLoader_;
    bool readOnly_ = false;
    mutable std::mutex notesMutex_;
    std::vector<std::string> loadNotes_;

    mutable std::mutex checksumMutex_;
    std::array<uint32_t, 3> checksums_{};

    ChangeFeeds changes_;

    mutable std::mutex extraMutex_;
    std::unordered_map<int32_t, MinuteExtraDay> minuteExtras_;
};

}  // namespace tessaro
