// Where the start-up chain puts the server's blocks: the block list with its
// checksums, the member files, and the securities the rule blocks classify.
//
// BlockDirectorySink keeps them as files in block/ (the system blocks among
// them, block setting 0) until the block set takes this role. A block name from
// the server becomes a file name only when IsSafeBlockName accepts it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/paths.h"
#include "platform/bytes.h"
#include "platform/security_id.h"

namespace tessaro {

class BlockSink {
public:
    struct Stamp {
        std::string name;  // GBK
        uint32_t checksum = 0;
    };
    struct IndexBlock {
        std::string name;       // GBK
        std::string indexCode;  // ASCII
    };
    virtual ~BlockSink() = default;
    // A new code table arrives: the rule blocks forget their members.
    virtual void BeginCodeTable() = 0;
    virtual void RegisterSecurity(const CodeEntry& entry) = 0;
    // The downloaded (system) blocks with the checksum of their file as last read.
    virtual std::vector<Stamp> DownloadedBlocks() = 0;
    // Removes a downloaded block and deletes its file.
    virtual void RemoveBlock(const std::string& name) = 0;
    // Writes a block file received from the server (temporary file and rename)
    // and takes the block from it. False when the name is refused or the write
    // failed; the old file is then intact.
    virtual bool StoreBlockFile(const std::string& name, ByteSpan fileBytes) = 0;
    // Every block that has an index code.
    virtual std::vector<IndexBlock> IndexBlocks() = 0;
};

// A name that may become a file name: not empty, not "." or "..", at most 31
// bytes, and no '/', '\\', ':', NUL or control character. Checked on the GBK bytes,
// where no trail byte of a double-byte character falls below 0x40.
bool IsSafeBlockName(std::string_view gbk);

inline constexpr uint32_t kBlockFileMagic = 0x424C4B01;
inline constexpr size_t kBlockFileHeader = 114;

// block/<name>.blk, the name in UTF-8.
class BlockDirectorySink : public BlockSink {
public:
    explicit BlockDirectorySink(AppPaths paths);
    void BeginCodeTable() override {}
    void RegisterSecurity(const CodeEntry&) override { ++registered_; }
    std::vector<Stamp> DownloadedBlocks() override;
    void RemoveBlock(const std::string& name) override;
    bool StoreBlockFile(const std::string& name, ByteSpan fileBytes) override;
    std::vector<IndexBlock> IndexBlocks() override;

    size_t registered() const { return registered_; }
    // Reads block/ again (the blocks as last read, by name).
    void Rescan();

private:
    struct Entry {
        std::string path;
        uint32_t setting = 0;
        uint32_t checksum = 0;
        std::string indexCode;
    };
    AppPaths paths_;
    std::map<std::string, Entry> blocks_;  // by GBK name
    size_t registered_ = 0;
    bool scanned_ = false;
};

}  // namespace tessaro
