#include "market/block_file.h"

#include <cstdio>

#include "market/file_lock.h"
#include "platform/bytes.h"
#include "platform/crc32.h"
#include "platform/files.h"
#include "platform/process_lock.h"
#include "platform/text.h"

namespace tessaro {

namespace {

void PutField(ByteWriter& w, std::string_view gbk, size_t width) {
    std::string field(width, '\0');
    CopyToField(field.data(), width, gbk);
    w.bytes(std::string_view(field));
}

}  // namespace

std::optional<BlockFileData> ParseBlockFile(std::span<const uint8_t> bytes) {
    if (bytes.size() < kBlockFileHeaderSize) return std::nullopt;
    ByteReader r(bytes);
    if (r.get<uint32_t>() != kBlockFileMagic) return std::nullopt;
    BlockFileData b;
    b.setting = r.get<uint32_t>();
    b.name = r.fixedText(kBlockNameBytes);
    b.indexCode = r.fixedText(kBlockIndexCodeBytes);
    b.category = r.fixedText(kBlockCategoryBytes);
    b.extra = r.get<uint32_t>();
    r.skip(27);
    if (!r.ok()) return std::nullopt;
    // The member count is what the file holds, never more: a partial member at
    // the end is dropped.
    const size_t count = (bytes.size() - kBlockFileHeaderSize) / sizeof(SecurityId);
    b.members.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = bytes.data() + kBlockFileHeaderSize + i * sizeof(SecurityId);
        SecurityId id;
        id.market = LoadLE<uint16_t>(p);
        id.setCode(FieldText(reinterpret_cast<const char*>(p + 2), sizeof id.code));
        if (MarketSlot(id.market) < 0 || id.codeText().empty()) continue;
        b.members.push_back(id);
    }
    b.crc = Crc32(bytes);
    return b;
}

std::vector<uint8_t> SerializeBlockFile(const BlockFileData& block) {
    ByteWriter w(kBlockFileHeaderSize + block.members.size() * sizeof(SecurityId));
    w.put<uint32_t>(kBlockFileMagic).put<uint32_t>(block.setting);
    PutField(w, block.name, kBlockNameBytes);
    PutField(w, block.indexCode, kBlockIndexCodeBytes);
    PutField(w, block.category, kBlockCategoryBytes);
    w.put<uint32_t>(block.extra).zeros(27);
    for (const SecurityId& id : block.members) {
        w.put<uint16_t>(id.market);
        PutField(w, id.codeText(), sizeof id.code);
    }
    return w.data();
}

bool IsUsableBlockName(std::string_view name) {
    std::string_view trimmed = TrimAscii(name);
    if (trimmed.empty() || name.size() >= kBlockNameBytes) return false;
    if (trimmed == "." || name.find("..") != std::string_view::npos) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<uint8_t>(name[i]);
        if (IsGbkLead(c)) {
            // A double-byte character: its second byte may be 0x5C ('\') and is
            // no separator; a lead byte without its second byte is broken text.
            if (i + 1 >= name.size() || static_cast<uint8_t>(name[i + 1]) < 0x40) return false;
            ++i;
            continue;
        }
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c >= 0x80) return false;
    }
    return true;
}

std::string BlockFilePath(const AppPaths& paths, std::string_view nameGbk) {
    if (!IsUsableBlockName(nameGbk)) return {};
    std::string utf8 = GbkToUtf8(nameGbk);
    if (utf8.empty() || utf8.find('/') != std::string::npos) return {};
    return paths.blockDir() + utf8 + ".blk";
}

std::optional<BlockFileData> ReadBlockFile(const std::string& path) {
    auto bytes = ReadWholeFile(path);
    if (!bytes) return std::nullopt;
    return ParseBlockFile(*bytes);
}

bool WriteBlockFile(const std::string& path, const BlockFileData& block) {
    return WriteBlockFileBytes(path, SerializeBlockFile(block));
}

bool WriteBlockFileBytes(const std::string& path, std::span<const uint8_t> image) {
    if (path.empty()) return false;
    if (!CreateDirectories(SplitPath(path).directory)) return false;
    // Threads of this process queue in the registry; other processes on the lock file.
    ScopedFileLock lock(path, ScopedFileLock::Mode::Write);
    ProcessFileLock processLock(path);
    return processLock.held() && WriteFileAtomic(path, image);
}

bool RemoveBlockFile(const std::string& path) {
    if (path.empty()) return false;
    ScopedFileLock lock(path, ScopedFileLock::Mode::Write);
    ProcessFileLock processLock(path);
    if (!FileExists(path)) return true;
    return processLock.held() && std::remove(path.c_str()) == 0;
}

std::optional<std::vector<ComputedBlockSetting>> ParseComputedBlockFile(std::span<const uint8_t> bytes) {
    if (bytes.size() < 4 || LoadLE<uint32_t>(bytes.data()) != kComputedBlockMagic) return std::nullopt;
    std::vector<ComputedBlockSetting> out;
    const size_t count = (bytes.size() - 4) / kComputedBlockRecordSize;
    for (size_t i = 0; i < count; ++i) {
        ByteReader r(bytes.subspan(4 + i * kComputedBlockRecordSize, kComputedBlockRecordSize));
        ComputedBlockSetting s;
        s.name = r.fixedText(kBlockNameBytes);
        s.first = r.get<int32_t>();
        s.second = r.get<int32_t>();
        s.formulaName = r.fixedText(33);
        if (!s.name.empty()) out.push_back(std::move(s));
    }
    return out;
}

std::vector<uint8_t> SerializeComputedBlockFile(std::span<const ComputedBlockSetting> settings) {
    ByteWriter w(4 + settings.size() * kComputedBlockRecordSize);
    w.put<uint32_t>(kComputedBlockMagic);
    for (const ComputedBlockSetting& s : settings) {
        PutField(w, s.name, kBlockNameBytes);
        w.put<int32_t>(s.first).put<int32_t>(s.second);
        PutField(w, s.formulaName, 33);
        w.zeros(32);
    }
    return w.data();
}

std::string ComputedBlockFilePath(const AppPaths& paths) { return paths.blockDir() + "blockfmt.opp"; }

}  // namespace tessaro
