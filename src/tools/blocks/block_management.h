// The block-management model: the rules and messages of the block-management
// dialog without the dialog. Create, rename and delete blocks, add and remove
// securities, create and delete a block's index. Questions and errors go through
// BlockPrompt, so the desktop program shows boxes and the command line answers
// yes. Names are GBK; messages UTF-8.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "tools/blocks/block_set.h"

namespace tessaro {

inline constexpr std::string_view kBlockExists = "该板块已存在,无法新建!";
inline constexpr std::string_view kBlockBadName = "板块文件命名错误,无法新建!";
inline constexpr std::string_view kBlockRenameTaken = "板块 %s 已存在,无法命名!";
inline constexpr std::string_view kBlockDeleteQuestion = "真的要删除板块吗?";
inline constexpr std::string_view kBlockRemoveMembersQuestion = "真的要删除股票吗?";
inline constexpr std::string_view kBlockNoneSelected = "请选择板块!";
inline constexpr std::string_view kBlockNoSecuritySelected = "请选择股票!";
inline constexpr std::string_view kBlockIndexQuestion =
    "板块名:%s 指数代码:%s ，使用前需在[数据管理]中刷新指数 ,真的要建立指数吗？";
inline constexpr std::string_view kBlockIndexDeleteQuestion = "真的要删除板块的指数吗?";
inline constexpr std::string_view kBlockCreatePrompt = "输入板块名称";
inline constexpr std::string_view kBlockRenamePrompt = "重命名 %s 为";
// A block in the list: name, category, index code, member count.
inline constexpr std::string_view kBlockListItem = "%s 分类:%s,代码:%s,股票数:%u";

// Index code ranges: "行业" takes 999100-999898, every other category 998001-998998.
inline constexpr uint32_t kIndustryIndexFirst = 999100, kIndustryIndexLast = 999898;
inline constexpr uint32_t kOtherIndexFirst = 998001, kOtherIndexLast = 998998;
inline constexpr std::string_view kIndustryCategory = "行业";  // UTF-8

class BlockPrompt {
public:
    virtual ~BlockPrompt() = default;
    // Yes/No; true for Yes.
    virtual bool Question(std::string_view textUtf8) = 0;
    virtual void Error(std::string_view textUtf8) = 0;
};

// Answers every question with Yes and keeps the last error (the command line).
class YesPrompt : public BlockPrompt {
public:
    bool Question(std::string_view) override { return true; }
    void Error(std::string_view text) override { lastError = text; }
    std::string lastError;
};

enum class BlockOpStatus {
    Done,          // the change is made and written
    Declined,      // a question was answered No, or nothing was to do
    Refused,       // refused with a message (message)
    SaveFailed,    // the change stays in memory; the file could not be written
    NotAllowed,    // the block is a rule block (its members are computed)
};

struct BlockOpResult {
    BlockOpStatus status = BlockOpStatus::Declined;
    std::string message;  // UTF-8: the refusal shown, when there is one
    std::string code;     // CreateIndex: the index code taken
    int changed = 0;      // AddMembers / RemoveMembers: members added or removed
    bool ok() const { return status == BlockOpStatus::Done; }
};

class BlockManager {
public:
    BlockManager(BlockSet& set, BlockPrompt& prompt) : set_(set), prompt_(prompt) {}

    // An empty block of `setting` (0, 2 or 3) and category, written at once.
    BlockOpResult Create(std::string_view nameGbk, uint32_t setting = kBlockSelf, std::string_view categoryGbk = {});
    // Writes the block under its new name, then deletes the old file (nothing is
    // deleted when the write fails); rewrites blockfmt.opp for a computed block.
    BlockOpResult Rename(std::string_view oldGbk, std::string_view newGbk);
    BlockOpResult Delete(std::string_view nameGbk);
    // Adds the securities the block does not hold yet, in the given order.
    BlockOpResult AddMembers(std::string_view nameGbk, std::span<const SecurityId> ids);
    BlockOpResult RemoveMembers(std::string_view nameGbk, std::span<const SecurityId> ids);
    // The lowest free code of the block's category range.
    BlockOpResult CreateIndex(std::string_view nameGbk);
    BlockOpResult DeleteIndex(std::string_view nameGbk);

    // The lowest code of the category's range that no block uses; "" when exhausted.
    static std::string FreeIndexCode(const std::vector<Block>& blocks, std::string_view categoryGbk);
    // "%s 分类:%s,代码:%s,股票数:%u" (UTF-8).
    static std::string ListItemText(const Block& block);

private:
    BlockOpResult Refuse(std::string message);

    BlockSet& set_;
    BlockPrompt& prompt_;
};

// printf-style "%s" / "%u" substitution of UTF-8 arguments into a message.
std::string FormatMessage(std::string_view format, std::initializer_list<std::string_view> args);

}  // namespace tessaro
