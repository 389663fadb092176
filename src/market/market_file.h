// The market file data/<mk>/stkinfo.dat: its memory image, the checks a loaded
// image must pass, and the raw reads and writes of records and tick blocks.
//
// Layout: "5KQW", the number of records in use, 4096 security records of 7383
// bytes, the 4621-byte daily area, the tick-block counter, the newest server
// time, a preserved word and 16 reserved bytes (together the 30245425-byte
// image), then the tick blocks of 100 ticks each. The image is held in memory
// whole; records are updated in place and written back at their own offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "market/records.h"

namespace tessaro {

inline constexpr int kMaxSecurities = 4096;
inline constexpr size_t kDailyAreaSize = 4621;
// Every security may own 48 blocks; more can never be in use on one day.
inline constexpr int32_t kMaxTickBlocks = kMaxSecurities * kMaxTickBlocksPerSecurity;

#pragma pack(push, 1)
struct MarketImage {
    char magic[4];
    int32_t recordCount;
    StockRecord records[kMaxSecurities];
    // Byte 0: quotes changed since the flag was last cleared; bytes 9, 11, 13:
    // the three market counters. Cleared at every new trading day.
    uint8_t daily[kDailyAreaSize];
    int32_t tickBlocksInUse;
    StoreTime serverTime;  // kept in the Shanghai file only
    uint32_t preserved;    // survives a cleared market
    uint8_t reserved[16];
};

struct TickBlock {
    TickRecord ticks[kTicksPerBlock];
};
#pragma pack(pop)

inline constexpr size_t kMarketImageSize = 30245425;
inline constexpr size_t kTickBlockSize = 1700;
static_assert(sizeof(MarketImage) == kMarketImageSize);
static_assert(sizeof(TickBlock) == kTickBlockSize);
static_assert(offsetof(MarketImage, records) == 8);
static_assert(offsetof(MarketImage, daily) == 30240776);
static_assert(offsetof(MarketImage, tickBlocksInUse) == 30245397);
static_assert(offsetof(MarketImage, serverTime) == 30245401);
static_assert(offsetof(MarketImage, preserved) == 30245405);

inline constexpr char kMarketMagic[4] = {'5', 'K', 'Q', 'W'};
inline constexpr size_t kDailyCountersOffset = 9;  // three uint16 at 9, 11, 13

constexpr int64_t RecordFileOffset(int slot) {
    return static_cast<int64_t>(offsetof(MarketImage, records)) + static_cast<int64_t>(sizeof(StockRecord)) * slot;
}
constexpr int64_t TickBlockFileOffset(int32_t block) {
    return static_cast<int64_t>(kMarketImageSize) + static_cast<int64_t>(kTickBlockSize) * block;
}
// Tick blocks a file of this size holds completely.
constexpr int64_t TickBlocksInFile(int64_t fileSize) {
    return fileSize <= static_cast<int64_t>(kMarketImageSize)
               ? 0
               : (fileSize - static_cast<int64_t>(kMarketImageSize)) / static_cast<int64_t>(kTickBlockSize);
}

// The image lives in a zero-filled anonymous mapping of its own, so an empty
// market costs next to no memory until it is written; huge pages are asked for.
struct MarketImageDeleter {
    void operator()(MarketImage* image) const;
};
using MarketImagePtr = std::unique_ptr<MarketImage, MarketImageDeleter>;
// A zeroed image; nullptr when memory is short.
MarketImagePtr AllocateMarketImage();

// Zeroes the whole image and writes the magic.
void ResetMarketImage(MarketImage& image);

// What CheckMarketImage found and repaired.
struct ImageCheck {
    bool reset = false;          // wrong magic, short file or impossible record count
    int droppedRecords = 0;      // records zeroed because a field was out of range
    bool counterRepaired = false;
    bool truncated = false;       // the file ends inside the image
    int ticksDropped = 0;         // records kept without their ticks: the file ends before them
    StoreTime newestBarTime = 0;  // of the records kept
    bool changed() const { return reset || droppedRecords > 0 || counterRepaired || truncated || ticksDropped > 0; }
};

// True when the file's header can be that of a market file: the file holds the
// header, the magic is "5KQW" and the record count lies in 0..4096. A file cut
// short after its header is a damaged market, not a foreign file.
bool MarketHeaderValid(const MarketImage& image, int64_t fileSize);
// Records in use that a file of `fileSize` bytes holds whole (the header valid).
int WholeRecordsInFile(const MarketImage& image, int64_t fileSize);

// Reads a market file into a zeroed image: the header and, when it is valid, the
// records in use and the area after the records. Slots past the record count are
// not read and stay zero, so an almost empty market costs almost nothing. Returns
// the file size, or -1 on a read error.
int64_t ReadMarketImage(int fd, MarketImage& zeroedImage);

// Checks an image read from a file of `fileSize` bytes (the bytes beyond the
// image are tick blocks) so that nothing read from it can reach outside the
// image or the file:
// - an invalid header (see MarketHeaderValid) resets the image (the market
//   starts empty);
// - in a file cut short, the records it holds whole are kept and the rest
//   dropped;
// - a record is dropped (zeroed, left out of the market) when its market is not
//   `market`, its code is empty, unterminated or a repeat of an earlier code, its
//   filled-minute count is outside 0..242, its tick-block count outside 0..48,
//   its ticks in the last block outside 0..100, or one of its tick blocks is
//   negative, listed twice or belongs to an earlier record as well;
// - a record whose tick blocks lie past the end of the file (a cut tail) is
//   kept without its ticks;
// - the tick-block counter is raised above every block a kept record owns and
//   lowered when it lies beyond any possible block.
// Slots past the record count are not looked at.
ImageCheck CheckMarketImage(MarketImage& image, MarketCode market, int64_t fileSize);

// Where a market file that had to be reset or repaired on load is kept: "<path>.bad",
// or "<path>.bad.N" for the first N from 1 that names no file yet: an earlier damaged
// copy is never overwritten.
inline std::string DamagedMarketFilePath(const std::string& path) { return path + ".bad"; }
// Links the file at `path` under the first free damaged-copy name; that name, or empty
// when no copy could be made.
std::string KeepDamagedMarketFile(const std::string& path);

// True when the record's slot holds a security (a dropped record is all zero).
inline bool RecordInUse(const StockRecord& r) { return r.entry.id.code[0] != 0; }

// ---- Raw file access ----------------------------------------------------------

// Reads or writes exactly n bytes at offset; false on any error or short transfer.
bool ReadAt(int fd, void* data, size_t n, int64_t offset);
bool WriteAt(int fd, const void* data, size_t n, int64_t offset);

// Writes a complete market file through a temporary file renamed over `path`:
// the image, then `copyBlocks` tick blocks copied from `sourceFd` (the current
// file; -1 for none), then one spare empty block. Slots past the record count
// must be zero: they are left as a hole, so an empty market costs little disk.
// The file is flushed before the rename. False (and `path` untouched) on any error.
bool WriteMarketFileAtomic(const std::string& path, const MarketImage& image, int sourceFd, int32_t copyBlocks);

}  // namespace tessaro
