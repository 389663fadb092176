#include "market/market_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/files.h"
#include "platform/process_lock.h"
#include "platform/text.h"

namespace tessaro {

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kImageMapping = (sizeof(MarketImage) + 4095) / 4096 * 4096;
}  // namespace

void MarketImageDeleter::operator()(MarketImage* image) const {
    if (image) ::munmap(image, kImageMapping);
}

MarketImagePtr AllocateMarketImage() {
    // A mapping of its own, aligned to 2 MB and open to transparent huge pages: a
    // full market is 30 MB, and filling it through 4 KB pages costs 7,400 page
    // faults and as many TLB entries on every pass over the records. Anonymous
    // pages are zero, and MarketImage is plain data, so the zeroed mapping is the image.
    const size_t length = kImageMapping + kHugePage;
    void* base = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(base);
    const uintptr_t aligned = (start + kHugePage - 1) & ~(uintptr_t{kHugePage} - 1);
    // Keep exactly [aligned, aligned + kImageMapping).
    if (aligned > start) ::munmap(base, aligned - start);
    const uintptr_t end = start + length, imageEnd = aligned + kImageMapping;
    if (end > imageEnd) ::munmap(reinterpret_cast<void*>(imageEnd), end - imageEnd);
    auto* image = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    (void)::madvise(image, kImageMapping, MADV_HUGEPAGE);  // a hint; refused is fine
#endif
    return MarketImagePtr(static_cast<MarketImage*>(image));
}

void ResetMarketImage(MarketImage& image) {
    std::memset(static_cast<void*>(&image), 0, sizeof image);
    std::memcpy(image.magic, kMarketMagic, sizeof kMarketMagic);
}

namespace {

bool AllZero(const uint8_t* p, size_t n) {
    // Zero first byte and every byte equal to its successor.
    return n == 0 || (p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0);
}

void DropRecord(StockRecord& r) { std::memset(static_cast<void*>(&r), 0, sizeof r); }

// The code as stored: up to nine bytes and a NUL inside the ten-byte field.
bool CodeWellFormed(const SecurityId& id) {
    if (id.code[0] == 0) return false;
    return std::memchr(id.code, 0, sizeof id.code) != nullptr;
}

std::string UpperCode(const SecurityId& id) { return AsciiUpper(id.codeText()); }

}  // namespace

bool MarketHeaderValid(const MarketImage& image, int64_t fileSize) {
    return fileSize >= static_cast<int64_t>(offsetof(MarketImage, records)) &&
           std::memcmp(image.magic, kMarketMagic, sizeof kMarketMagic) == 0 && image.recordCount >= 0 &&
           image.recordCount <= kMaxSecurities;
}

namespace {
constexpr size_t kHeaderSize = offsetof(MarketImage, records);
constexpr size_t kTailOffset = offsetof(MarketImage, daily);
constexpr size_t kTailSize = sizeof(MarketImage) - kTailOffset;
}  // namespace

int64_t ReadMarketImage(int fd, MarketImage& image) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return -1;
    const int64_t size = static_cast<int64_t>(st.st_size);
    if (size < static_cast<int64_t>(kHeaderSize)) return size;
    auto* bytes = reinterpret_cast<uint8_t*>(&image);
    if (!ReadAt(fd, bytes, kHeaderSize, 0)) return -1;
    if (!MarketHeaderValid(image, size)) return size;
    // A file cut short keeps the whole records before the cut; the rest stay zero.
    size_t used = static_cast<size_t>(WholeRecordsInFile(image, size)) * sizeof(StockRecord);
    if (!ReadAt(fd, bytes + kHeaderSize, used, kHeaderSize)) return -1;
    if (size >= static_cast<int64_t>(kMarketImageSize) &&
        !ReadAt(fd, bytes + kTailOffset, kTailSize, static_cast<int64_t>(kTailOffset)))
        return -1;
    return size;
}

int WholeRecordsInFile(const MarketImage& image, int64_t fileSize) {
    int64_t whole = (fileSize - static_cast<int64_t>(kHeaderSize)) / static_cast<int64_t>(sizeof(StockRecord));
    return static_cast<int>(std::clamp<int64_t>(whole, 0, std::clamp(image.recordCount, 0, kMaxSecurities)));
}

ImageCheck CheckMarketImage(MarketImage& image, MarketCode market, int64_t fileSize) {
    ImageCheck check;
    if (!MarketHeaderValid(image, fileSize)) {
        ResetMarketImage(image);
        check.reset = true;
        return check;
    }
    // Records the file no longer holds whole are lost; the ones before them are kept.
    const int whole = WholeRecordsInFile(image, fileSize);
    for (int slot = whole; slot < image.recordCount; ++slot) {
        DropRecord(image.records[slot]);
        ++check.droppedRecords;
    }
    if (fileSize < static_cast<int64_t>(kMarketImageSize)) check.truncated = true;

    const int64_t blocksInFile = std::min<int64_t>(TickBlocksInFile(fileSize), kMaxTickBlocks);
    std::vector<bool> blockOwned(static_cast<size_t>(blocksInFile), false);
    std::unordered_set<std::string> codes;
    int32_t blocksNeeded = 0;  // one past the highest block a kept record owns

    for (int slot = 0; slot < image.recordCount; ++slot) {
        StockRecord& r = image.records[slot];
        if (!RecordInUse(r)) continue;  // dropped earlier: stays empty
        bool ok = r.entry.id.market == market && CodeWellFormed(r.entry.id) && r.minuteCount >= 0 &&
                  r.minuteCount <= kMinuteSlots && r.tickBlockCount >= 0 &&
                  r.tickBlockCount <= kMaxTickBlocksPerSecurity && r.ticksInLastBlock >= 0 &&
                  r.ticksInLastBlock <= kTicksPerBlock;
        if (ok) ok = codes.count(UpperCode(r.entry.id)) == 0;
        bool beyondEnd = false;
        for (int i = 0; ok && i < r.tickBlockCount; ++i) {
            int32_t b = r.tickBlocks[i];
            beyondEnd = beyondEnd || b >= blocksInFile;
            ok = b >= 0 && (b >= blocksInFile || !blockOwned[static_cast<size_t>(b)]);
            for (int j = 0; ok && j < i; ++j) ok = r.tickBlocks[j] != b;  // listed twice
        }
        if (ok && beyondEnd) {
            // The file ends before the security's ticks (a cut tail): the security stays,
            // today's ticks of it are lost.
            r.tickBlockCount = 0;
            r.ticksInLastBlock = 0;
            std::memset(r.tickBlocks, 0, sizeof r.tickBlocks);
            ++check.ticksDropped;
        }
        if (!ok) {
            DropRecord(r);
            ++check.droppedRecords;
            continue;
        }
        codes.insert(UpperCode(r.entry.id));
        for (int i = 0; i < r.tickBlockCount; ++i) {
            blockOwned[static_cast<size_t>(r.tickBlocks[i])] = true;
            blocksNeeded = std::max(blocksNeeded, r.tickBlocks[i] + 1);
        }
        check.newestBarTime = std::max<uint32_t>(check.newestBarTime, uint32_t{r.quote.bar.time});
    }

    if (image.tickBlocksInUse < blocksNeeded || image.tickBlocksInUse > kMaxTickBlocks) {
        image.tickBlocksInUse = blocksNeeded;
        check.counterRepaired = true;
    }
    return check;
}

bool ReadAt(int fd, void* data, size_t n, int64_t offset) {
    auto* p = static_cast<uint8_t*>(data);
    while (n > 0) {
        ssize_t r = ::pread(fd, p, n, offset);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
        offset += r;
    }
    return true;
}

bool WriteAt(int fd, const void* data, size_t n, int64_t offset) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        ssize_t w = ::pwrite(fd, p, n, offset);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
        offset += w;
    }
    return true;
}

namespace {

// Flushes the directory entry of a renamed file; failure is not fatal.
void SyncDirectory(const std::string& path) {
    std::string dir = SplitPath(path).directory;
    if (dir.empty()) dir = ".";
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
}

}  // namespace

bool WriteMarketFileAtomic(const std::string& path, const MarketImage& image, int sourceFd, int32_t copyBlocks) {
    // Another process saving the same market waits until this file is in place.
    ProcessFileLock processLock(path);
    if (!processLock.held()) return false;
    std::string temp = TemporaryFileName(path);
    int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    (void)LockTemporaryFile(fd);  // held until the close: see RemoveStaleTemporaryFiles

    const auto* bytes = reinterpret_cast<const uint8_t*>(&image);
    const size_t used = sizeof(StockRecord) * static_cast<size_t>(std::clamp(image.recordCount, 0, kMaxSecurities));
    bool ok = WriteAt(fd, bytes, kHeaderSize + used, 0) &&
              WriteAt(fd, bytes + kTailOffset, kTailSize, static_cast<int64_t>(kTailOffset));
    if (copyBlocks < 0 || sourceFd < 0) copyBlocks = 0;
    std::vector<uint8_t> buffer;
    constexpr int32_t kBlocksPerCopy = 512;
    for (int32_t b = 0; ok && b < copyBlocks; b += kBlocksPerCopy) {
        int32_t n = std::min(kBlocksPerCopy, copyBlocks - b);
        buffer.resize(static_cast<size_t>(n) * kTickBlockSize);
        ok = ReadAt(sourceFd, buffer.data(), buffer.size(), TickBlockFileOffset(b));
        if (ok && !AllZero(buffer.data(), buffer.size()))
            ok = WriteAt(fd, buffer.data(), buffer.size(), TickBlockFileOffset(b));
    }
    // The size covers the holes and the spare block.
    if (ok) ok = ::ftruncate(fd, TickBlockFileOffset(copyBlocks + 1)) == 0;
    if (ok) ok = ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0) {
        SyncDirectory(path);
        return true;
    }
    ::unlink(temp.c_str());
    return false;
}

std::string KeepDamagedMarketFile(const std::string& path) {
    // link() never replaces an existing name, so two processes cannot pick the same one.
    for (int n = 0; n < 10000; ++n) {
        std::string name = DamagedMarketFilePath(path) + (n == 0 ? std::string() : "." + std::to_string(n));
        if (::link(path.c_str(), name.c_str()) == 0) return name;
        if (errno != EEXIST) return {};
    }
    return {};
}

}  // namespace tessaro
