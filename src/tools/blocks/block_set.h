// The block set: every block of the process behind one lock — the 21 rule blocks
// built from the security classes, the blocks read from block/*.blk (server
// blocks, the self-selected blocks "自选股1".."自选股9", user blocks and screening
// results) and the settings of computed blocks from block/blockfmt.opp.
//
// Every operation takes the set's lock for one copy in or out; callers get
// copies. Stored blocks are written at once when they change (block_file.h:
// temporary file and rename under the path's locks in this process and across
// processes).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/paths.h"
#include "market/block_file.h"
#include "platform/security_id.h"

namespace tessaro {

class MarketStore;

// Rule flags of a rule block.
inline constexpr uint32_t kRuleMarket = 1;   // market bit in the market mask
inline constexpr uint32_t kRuleClass = 2;    // class bit in the class mask (both 0: class 0)
inline constexpr uint32_t kRulePattern = 4;  // code pattern, '#' matches any character
inline constexpr uint32_t kRuleKeyword = 8;  // the name contains the keyword

struct Block {
    uint32_t setting = kBlockSelf;
    std::string name;       // GBK
    std::string indexCode;  // empty: no index
    std::string category;   // GBK, e.g. "行业"
    uint32_t extra = 0;
    uint32_t crc = 0;       // of its file as last read
    std::vector<SecurityId> members;  // in user order (rule blocks: in registration order)

    // Rule blocks.
    uint32_t ruleFlags = 0;
    uint32_t marketMask = 0;
    uint32_t classMask = 0;
    std::string pattern;
    std::string keyword;  // GBK

    // Computed blocks (block/blockfmt.opp).
    std::string formulaName;
    int32_t formulaFirst = 0;
    int32_t formulaSecond = 0;

    bool stored() const { return setting != kBlockRule; }
    bool contains(const SecurityId& id) const;
    BlockFileData fileData() const;
};

// Whether a security belongs to a rule block by its rules.
bool RuleHolds(const Block& block, const CodeEntry& entry);

inline constexpr std::string_view kBlockIniSection = "NORMAL";
inline constexpr std::string_view kBlockIniAutoCreate = "AutoCreateSelfBlk";
// The name of the block whose index is the composite index (UTF-8).
inline constexpr std::string_view kAllASharesBlock = "沪深A股";

enum class BlockUpdate { Missing, Unchanged, Saved, SaveFailed };

class BlockSet {
public:
    explicit BlockSet(AppPaths paths = {});
    BlockSet(const BlockSet&) = delete;
    BlockSet& operator=(const BlockSet&) = delete;

    const AppPaths& paths() const { return paths_; }

    // ---- Start-up ------------------------------------------------------------------

    // Replaces the set with the 21 rule blocks, in their order; "沪深A股" gets the
    // composite index's code ("999999" when not given).
    void BuildSystemBlocks(const std::optional<CodeEntry>& compositeIndex = std::nullopt);
    // Adds the security to every rule block whose rules it meets (once).
    void RegisterSecurity(const CodeEntry& entry);
    // Reads every block/*.blk whose magic matches, in file-name order, then the
    // computed-block settings. A file with a wrong magic or a short header, or one
    // whose block name is taken already, is passed over. Returns the blocks added.
    int LoadBlockFiles();
    // Creates "自选股1".."自选股9" (those missing) and records
    // AutoCreateSelfBlk=1 in block/blk.ini, once: nothing when the key is set.
    // False when a file could not be written.
    bool CreateSelfSelectedBlocks();

    // ---- Reading -------------------------------------------------------------------

    // Case-insensitive (ASCII letters only).
    std::optional<Block> FindBlock(std::string_view nameGbk) const;
    std::vector<Block> Blocks() const;
    size_t size() const;
    // The index security of the first block of `categoryGbk` that holds the
    // security and has an index code ($$ code, the block's name).
    std::optional<CodeEntry> CategoryIndex(const SecurityId& id, std::string_view categoryGbk) const;

    // ---- Changing (the management model builds on these) ------------------------------

    // Runs `change` on the blocks under the lock.
    void Mutate(const std::function<void(std::vector<Block>&)>& change);
    // Writes a stored block's file (block/<name>.blk). False when the name is
    // unusable or the write fails.
    bool SaveBlock(const Block& block) const;
    // Read-modify-write of a stored block and its file under the set's lock and
    // the file's locks (this process and others): when another writer changed
    // the file since it was read (its CRC differs), the block first takes the
    // members, index code and category the file holds now; then `change` runs
    // (false: nothing changed) and the file is written. On SaveFailed the change
    // stays in memory.
    BlockUpdate UpdateBlock(std::string_view nameGbk, const std::function<bool(Block&)>& change);
    // Rewrites block/blockfmt.opp from the blocks that have a formula name.
    bool SaveComputedBlockSettings() const;

    // The lock, for the start-up stage and callers that read several things at once.
    std::mutex& mutex() const { return mutex_; }

private:
    static Block* FindLocked(std::vector<Block>& blocks, std::string_view nameGbk);
    bool SaveComputedLocked() const;

    AppPaths paths_;
    mutable std::mutex mutex_;
    std::vector<Block> blocks_;
};

// The start-up stage "加载板块数据...": the rule blocks over the store's
// securities, the block files and (when `writable`) the self-selected blocks.
bool LoadBlockSet(BlockSet& set, const MarketStore& store, bool writable);

// The value of `key` in `section` of an INI text (case-insensitive names).
std::optional<std::string> IniValue(std::string_view text, std::string_view section, std::string_view key);
// The INI text with `key` in `section` set to `value` (section and key added when missing).
std::string SetIniValue(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value);

}  // namespace tessaro
