// Where the start-up chain puts the server's blocks: the block list with its
// checksums, the member files, and the securities the rule blocks classify.
//
// BlockSetSink puts them into the block set under its lock. A block name from
// the server becomes a file name only when IsUsableBlockName accepts it; the
// file is written as received (its checksum must stay the server's), through a
// temporary file and a rename under the path's locks (this process and others).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/security_id.h"

namespace tessaro {

class BlockSet;

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
    // The downloaded (server) blocks with the checksum of their file as last read.
    virtual std::vector<Stamp> DownloadedBlocks() = 0;
    // Removes a downloaded block and deletes its file.
    virtual void RemoveBlock(const std::string& name) = 0;
    // Writes a block file received from the server and takes the block from it
    // (replacing the block of that name, or adding it). False when the name is
    // refused or the write failed; the old file and block are then intact.
    virtual bool StoreBlockFile(const std::string& name, ByteSpan fileBytes) = 0;
    // Every block that has an index code.
    virtual std::vector<IndexBlock> IndexBlocks() = 0;
};

class BlockSetSink : public BlockSink {
public:
    explicit BlockSetSink(BlockSet& set) : set_(set) {}
    void BeginCodeTable() override;
    void RegisterSecurity(const CodeEntry& entry) override;
    std::vector<Stamp> DownloadedBlocks() override;
    void RemoveBlock(const std::string& name) override;
    bool StoreBlockFile(const std::string& name, ByteSpan fileBytes) override;
    std::vector<IndexBlock> IndexBlocks() override;

private:
    BlockSet& set_;
};

}  // namespace tessaro
