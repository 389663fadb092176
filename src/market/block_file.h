// Block files: one user block per file block/<name>.blk, and the settings of the
// computed blocks in block/blockfmt.opp.
//
// A block file is a 114-byte header (magic, setting, name, index code, category,
// one further uint32, reserved bytes) followed by 12-byte members. The member
// count is what the file length holds: a trailing partial member is dropped, and
// no count stored anywhere is trusted.
//
// The name inside the file is the block's name (GBK). The file name is that name
// in UTF-8, the encoding of file names on this system; a name that could leave
// the block directory or is unusable as a file name is refused before any file
// is touched (IsUsableBlockName).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/paths.h"
#include "platform/security_id.h"

namespace tessaro {

inline constexpr uint32_t kBlockFileMagic = 0x424C4B01;
inline constexpr size_t kBlockFileHeaderSize = 114;
inline constexpr size_t kBlockNameBytes = 32;
inline constexpr size_t kBlockIndexCodeBytes = 10;
inline constexpr size_t kBlockCategoryBytes = 33;
inline constexpr uint32_t kComputedBlockMagic = 0x424B4601;
inline constexpr size_t kComputedBlockRecordSize = 105;

// Block settings (groups).
inline constexpr uint32_t kBlockServer = 0;        // 板块股: delivered by the quote server
inline constexpr uint32_t kBlockRule = 1;          // 分类股: members computed from rules
inline constexpr uint32_t kBlockSelf = 2;          // 自选股
inline constexpr uint32_t kBlockScreening = 3;     // 条件选股

// What a block file holds. Texts are GBK.
struct BlockFileData {
    uint32_t setting = kBlockSelf;
    std::string name;
    std::string indexCode;
    std::string category;
    uint32_t extra = 0;  // the further uint32 at offset 83, kept as read
    std::vector<SecurityId> members;
    uint32_t crc = 0;    // CRC of the whole file as read
};

// Parses a block file image. Nothing for a wrong magic or a header shorter than
// 114 bytes. Members: as many whole 12-byte records as follow the header;
// records with an unknown market or an empty code are passed over.
std::optional<BlockFileData> ParseBlockFile(std::span<const uint8_t> bytes);
// The file image of a block (texts cut to their fields, never half a character).
std::vector<uint8_t> SerializeBlockFile(const BlockFileData& block);

// True when the GBK name can become a block file name: not empty after trimming
// blanks, no NUL or control character, no '/' or '\' (outside a double-byte
// character), not "." or "..", no "..", and no longer than the name field holds.
bool IsUsableBlockName(std::string_view nameGbk);
// block/<name in UTF-8>.blk, or "" for an unusable name.
std::string BlockFilePath(const AppPaths& paths, std::string_view nameGbk);

// Reads block/<file>; nothing when missing, unreadable or not a block file.
std::optional<BlockFileData> ReadBlockFile(const std::string& path);
// Replaces the file through a temporary file and a rename, under the path's
// write lock in this process and its lock across processes, creating the block
// directory first. False on any error, the old file then left whole.
bool WriteBlockFile(const std::string& path, const BlockFileData& block);
// The same for a file image taken as it is (a block file from the server).
bool WriteBlockFileBytes(const std::string& path, std::span<const uint8_t> image);
// Removes the file under the same two locks; a missing file counts as removed.
bool RemoveBlockFile(const std::string& path);

// One record of block/blockfmt.opp: the settings of a computed block.
struct ComputedBlockSetting {
    std::string name;         // block name (GBK, 32-byte field)
    int32_t first = 0;        // the two settings, kept as read
    int32_t second = 0;
    std::string formulaName;  // 33-byte field
};
// Nothing for a wrong magic or a file shorter than its magic; a trailing partial
// record is dropped.
std::optional<std::vector<ComputedBlockSetting>> ParseComputedBlockFile(std::span<const uint8_t> bytes);
std::vector<uint8_t> SerializeComputedBlockFile(std::span<const ComputedBlockSetting> settings);
std::string ComputedBlockFilePath(const AppPaths& paths);  // block/blockfmt.opp

}  // namespace tessaro
