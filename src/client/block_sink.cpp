#include "client/block_sink.h"

#include <algorithm>

#include "market/block_file.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tools/blocks/block_set.h"

namespace tessaro {

void BlockSetSink::BeginCodeTable() {
    set_.Mutate([](std::vector<Block>& blocks) {
        for (Block& b : blocks)
            if (b.setting == kBlockRule) b.members.clear();
    });
}

void BlockSetSink::RegisterSecurity(const CodeEntry& entry) { set_.RegisterSecurity(entry); }

std::vector<BlockSink::Stamp> BlockSetSink::DownloadedBlocks() {
    std::vector<Stamp> out;
    for (const Block& b : set_.Blocks())
        if (b.setting == kBlockServer) out.push_back({b.name, b.crc});
    return out;
}

void BlockSetSink::RemoveBlock(const std::string& name) {
    set_.Mutate([&](std::vector<Block>& blocks) {
        std::erase_if(blocks, [&](const Block& b) { return b.setting == kBlockServer && b.name == name; });
    });
    RemoveBlockFile(BlockFilePath(set_.paths(), name));
}

bool BlockSetSink::StoreBlockFile(const std::string& name, ByteSpan fileBytes) {
    std::string path = BlockFilePath(set_.paths(), name);
    if (path.empty()) return false;  // not usable as a file name
    // A self-selected or screening block of the user's under the same name is
    // never replaced by the server's file: that would lose the user's list.
    if (auto existing = set_.FindBlock(name); existing && existing->setting != kBlockServer &&
                                               existing->setting != kBlockRule)
        return false;
    if (!WriteBlockFileBytes(path, fileBytes)) return false;
    std::optional<BlockFileData> data = ReadBlockFile(path);
    if (!data) return true;  // written, but no block file: nothing to list
    Block block;
    block.setting = data->setting;
    block.name = name;
    block.indexCode = data->indexCode;
    block.category = data->category;
    block.extra = data->extra;
    block.crc = data->crc;
    block.members = std::move(data->members);
    set_.Mutate([&](std::vector<Block>& blocks) {
        for (Block& b : blocks)
            if (EqualsNoCase(b.name, name)) {
                b = std::move(block);
                return;
            }
        blocks.push_back(std::move(block));
    });
    return true;
}

std::vector<BlockSink::IndexBlock> BlockSetSink::IndexBlocks() {
    std::vector<IndexBlock> out;
    for (const Block& b : set_.Blocks())
        if (!b.indexCode.empty() && b.setting != kBlockRule) out.push_back({b.name, b.indexCode});
    return out;
}

}  // namespace tessaro
