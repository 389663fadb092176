#include "client/block_sink.h"

#include <unistd.h>

#include <filesystem>

#include "platform/crc32.h"
#include "platform/files.h"
#include "platform/text.h"

namespace tessaro {

bool IsSafeBlockName(std::string_view gbk) {
    if (gbk.empty() || gbk.size() > 31 || gbk == "." || gbk == "..") return false;
    if (gbk.find("..") != std::string_view::npos) return false;
    for (unsigned char c : gbk)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':') return false;
    return true;
}

BlockDirectorySink::BlockDirectorySink(AppPaths paths) : paths_(std::move(paths)) {}

void BlockDirectorySink::Rescan() {
    blocks_.clear();
    scanned_ = true;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(paths_.blockDir(), ec), end; !ec && it != end; it.increment(ec)) {
        const auto& p = it->path();
        if (p.extension() != ".blk") continue;
        auto bytes = ReadWholeFile(p.string());
        if (!bytes || bytes->size() < kBlockFileHeader || LoadLE<uint32_t>(bytes->data()) != kBlockFileMagic) continue;
        Entry e;
        e.path = p.string();
        e.setting = LoadLE<uint32_t>(bytes->data() + 4);
        std::string name(FieldText(reinterpret_cast<const char*>(bytes->data() + 8), 32));
        e.indexCode = std::string(FieldText(reinterpret_cast<const char*>(bytes->data() + 40), 10));
        e.checksum = Crc32(*bytes);
        if (!name.empty()) blocks_[name] = std::move(e);
    }
}

std::vector<BlockSink::Stamp> BlockDirectorySink::DownloadedBlocks() {
    if (!scanned_) Rescan();
    std::vector<Stamp> out;
    for (const auto& [name, e] : blocks_)
        if (e.setting == 0) out.push_back({name, e.checksum});
    return out;
}

void BlockDirectorySink::RemoveBlock(const std::string& name) {
    auto it = blocks_.find(name);
    if (it == blocks_.end()) return;
    ::unlink(it->second.path.c_str());
    blocks_.erase(it);
}

bool BlockDirectorySink::StoreBlockFile(const std::string& name, ByteSpan fileBytes) {
    if (!IsSafeBlockName(name)) return false;
    if (!scanned_) Rescan();
    std::string path = paths_.blockDir() + GbkToUtf8(name) + ".blk";
    if (!CreateDirectories(path) || !WriteFileAtomic(path, fileBytes)) return false;
    // Read back as a block: a file that is no block file is not listed.
    auto it = blocks_.find(name);
    if (fileBytes.size() < kBlockFileHeader || LoadLE<uint32_t>(fileBytes.data()) != kBlockFileMagic) {
        if (it != blocks_.end()) blocks_.erase(it);
        return true;
    }
    Entry e;
    e.path = path;
    e.setting = LoadLE<uint32_t>(fileBytes.data() + 4);
    e.indexCode = std::string(FieldText(reinterpret_cast<const char*>(fileBytes.data() + 40), 10));
    e.checksum = Crc32(fileBytes);
    if (it != blocks_.end() && it->second.path != path) ::unlink(it->second.path.c_str());
    blocks_[name] = std::move(e);
    return true;
}

std::vector<BlockSink::IndexBlock> BlockDirectorySink::IndexBlocks() {
    if (!scanned_) Rescan();
    std::vector<IndexBlock> out;
    for (const auto& [name, e] : blocks_)
        if (!e.indexCode.empty()) out.push_back({name, e.indexCode});
    return out;
}

}  // namespace tessaro
