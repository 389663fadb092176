#include "tools/blocks/block_management.h"

#include <algorithm>
#include <set>

#include "platform/text.h"

namespace tessaro {

namespace {

Block* Find(std::vector<Block>& blocks, std::string_view nameGbk) {
    for (Block& b : blocks)
        if (EqualsNoCase(b.name, nameGbk)) return &b;
    return nullptr;
}

// What an update of a block's file means to the dialog: nothing changed (or
// the block is gone) declines.
BlockOpStatus Outcome(BlockUpdate u) {
    switch (u) {
        case BlockUpdate::Saved:
            return BlockOpStatus::Done;
        case BlockUpdate::SaveFailed:
            return BlockOpStatus::SaveFailed;
        default:
            return BlockOpStatus::Declined;
    }
}

// Adding or removing members: nothing to add or remove is done as well.
BlockOpStatus MemberOutcome(BlockUpdate u) {
    return u == BlockUpdate::Unchanged ? BlockOpStatus::Done : Outcome(u);
}

BlockOpResult Status(BlockOpStatus status) {
    BlockOpResult r;
    r.status = status;
    return r;
}

}  // namespace

std::string FormatMessage(std::string_view format, std::initializer_list<std::string_view> args) {
    std::string out;
    auto next = args.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && (format[i + 1] == 's' || format[i + 1] == 'u')) {
            if (next != args.end()) out += *next++;
            ++i;
            continue;
        }
        out += format[i];
    }
    return out;
}

BlockOpResult BlockManager::Refuse(std::string message) {
    prompt_.Error(message);
    BlockOpResult r;
    r.status = BlockOpStatus::Refused;
    r.message = std::move(message);
    return r;
}

BlockOpResult BlockManager::Create(std::string_view nameGbk, uint32_t setting, std::string_view categoryGbk) {
    if (setting == kBlockRule || setting > kBlockScreening) return Status(BlockOpStatus::NotAllowed);
    if (set_.FindBlock(nameGbk)) return Refuse(std::string(kBlockExists));
    if (!IsUsableBlockName(nameGbk)) return Refuse(std::string(kBlockBadName));
    BlockOpStatus status = BlockOpStatus::Done;
    set_.Mutate([&](std::vector<Block>& blocks) {
        if (Find(blocks, nameGbk)) {
            status = BlockOpStatus::Refused;
            return;
        }
        Block b;
        b.setting = setting;
        b.name = std::string(nameGbk);
        b.category = std::string(CutGbk(categoryGbk, kBlockCategoryBytes - 1));
        // Nothing is kept of a block whose file cannot be written.
        if (!set_.SaveBlock(b)) {
            status = BlockOpStatus::SaveFailed;
            return;
        }
        blocks.push_back(std::move(b));
    });
    if (status == BlockOpStatus::Refused) return Refuse(std::string(kBlockExists));
    if (status == BlockOpStatus::SaveFailed) return Refuse(std::string(kBlockBadName));
    return Status(BlockOpStatus::Done);
}

BlockOpResult BlockManager::Rename(std::string_view oldGbk, std::string_view newGbk) {
    std::optional<Block> block = set_.FindBlock(oldGbk);
    if (!block) return Refuse(std::string(kBlockNoneSelected));
    if (!block->stored()) return Status(BlockOpStatus::NotAllowed);
    if (EqualsNoCase(block->name, newGbk)) return Status(BlockOpStatus::Declined);
    if (set_.FindBlock(newGbk)) return Refuse(FormatMessage(kBlockRenameTaken, {GbkToUtf8(newGbk)}));
    if (!IsUsableBlockName(newGbk)) return Refuse(std::string(kBlockBadName));

    const std::string oldPath = BlockFilePath(set_.paths(), block->name);
    BlockOpStatus status = BlockOpStatus::Done;
    bool computed = false;
    set_.Mutate([&](std::vector<Block>& blocks) {
        Block* b = Find(blocks, oldGbk);
        if (!b || Find(blocks, newGbk)) {
            status = BlockOpStatus::Declined;
            return;
        }
        // The new file first: when it cannot be written the old one stays, and
        // so does the name, so that the next start finds what memory holds.
        Block renamed = *b;
        renamed.name = std::string(newGbk);
        if (!set_.SaveBlock(renamed)) {
            status = BlockOpStatus::SaveFailed;
            return;
        }
        computed = !b->formulaName.empty();
        b->name = std::move(renamed.name);
    });
    if (status != BlockOpStatus::Done) return Status(status);
    if (computed && !set_.SaveComputedBlockSettings()) status = BlockOpStatus::SaveFailed;
    if (!oldPath.empty() && !RemoveBlockFile(oldPath)) status = BlockOpStatus::SaveFailed;
    return Status(status);
}

BlockOpResult BlockManager::Delete(std::string_view nameGbk) {
    std::optional<Block> block = set_.FindBlock(nameGbk);
    if (!block) return Refuse(std::string(kBlockNoneSelected));
    if (!block->stored()) return Status(BlockOpStatus::NotAllowed);
    if (!prompt_.Question(kBlockDeleteQuestion)) return Status(BlockOpStatus::Declined);
    bool removed = false, computed = false;
    set_.Mutate([&](std::vector<Block>& blocks) {
        auto it = std::find_if(blocks.begin(), blocks.end(), [&](const Block& b) { return EqualsNoCase(b.name, nameGbk); });
        if (it == blocks.end()) return;
        computed = !it->formulaName.empty();
        blocks.erase(it);
        removed = true;
    });
    if (!removed) return Status(BlockOpStatus::Declined);
    bool ok = RemoveBlockFile(BlockFilePath(set_.paths(), block->name));
    if (computed) ok = set_.SaveComputedBlockSettings() && ok;
    return Status(ok ? BlockOpStatus::Done : BlockOpStatus::SaveFailed);
}

BlockOpResult BlockManager::AddMembers(std::string_view nameGbk, std::span<const SecurityId> ids) {
    std::optional<Block> block = set_.FindBlock(nameGbk);
    if (!block) return Refuse(std::string(kBlockNoneSelected));
    if (ids.empty()) return Refuse(std::string(kBlockNoSecuritySelected));
    if (!block->stored()) return Status(BlockOpStatus::NotAllowed);
    BlockOpResult r = Status(BlockOpStatus::Done);
    r.status = MemberOutcome(set_.UpdateBlock(nameGbk, [&](Block& b) {
        for (const SecurityId& id : ids)
            if (!b.contains(id)) {
                b.members.push_back(id);
                ++r.changed;
            }
        return r.changed > 0;
    }));
    return r;
}

BlockOpResult BlockManager::RemoveMembers(std::string_view nameGbk, std::span<const SecurityId> ids) {
    std::optional<Block> block = set_.FindBlock(nameGbk);
    if (!block) return Refuse(std::string(kBlockNoneSelected));
    if (ids.empty()) return Refuse(std::string(kBlockNoSecuritySelected));
    if (!block->stored()) return Status(BlockOpStatus::NotAllowed);
    if (!prompt_.Question(kBlockRemoveMembersQuestion)) return Status(BlockOpStatus::Declined);
    BlockOpResult r = Status(BlockOpStatus::Done);
    r.status = MemberOutcome(set_.UpdateBlock(nameGbk, [&](Block& b) {
        auto& m = b.members;
        const size_t before = m.size();
        m.erase(std::remove_if(m.begin(), m.end(),
                               [&](const SecurityId& x) {
                                   return std::any_of(ids.begin(), ids.end(),
                                                      [&](const SecurityId& y) { return SameSecurity(x, y); });
                               }),
                m.end());
        r.changed = static_cast<int>(before - m.size());
        return r.changed > 0;
    }));
    return r;
}

std::string BlockManager::FreeIndexCode(const std::vector<Block>& blocks, std::string_view categoryGbk) {
    const bool industry = categoryGbk == Utf8ToGbk(kIndustryCategory);
    const uint32_t first = industry ? kIndustryIndexFirst : kOtherIndexFirst;
    const uint32_t last = industry ? kIndustryIndexLast : kOtherIndexLast;
    std::set<std::string> used;
    for (const Block& b : blocks)
        if (!b.indexCode.empty()) used.insert(AsciiUpper(b.indexCode));
    for (uint32_t n = first; n <= last; ++n) {
        std::string code = std::to_string(n);  // "%u"
        if (!used.count(code)) return code;
    }
    return {};
}

BlockOpResult BlockManager::CreateIndex(std::string_view nameGbk) {
    std::optional<Block> block = set_.FindBlock(nameGbk);
    if (!block) return Refuse(std::string(kBlockNoneSelected));
    if (!block->stored()) return Status(BlockOpStatus::NotAllowed);
    BlockOpResult r = Status(BlockOpStatus::Declined);
    if (!block->indexCode.empty()) {
        r.code = block->indexCode;
        return r;
    }
    std::string code = FreeIndexCode(set_.Blocks(), block->category);
    if (code.empty()) return r;  // the range is exhausted: nothing happens
    if (!prompt_.Question(FormatMessage(kBlockIndexQuestion, {GbkToUtf8(block->name), code}))) return r;
    const std::vector<Block> others = set_.Blocks();
    BlockUpdate u = set_.UpdateBlock(nameGbk, [&](Block& b) {
        if (!b.indexCode.empty()) {  // given one by another writer meanwhile
            r.code = b.indexCode;
            return false;
        }
        // Taken meanwhile? Then the next free one.
        if (std::any_of(others.begin(), others.end(), [&](const Block& o) {
                return !EqualsNoCase(o.name, b.name) && EqualsNoCase(o.indexCode, code);
            }))
            code = FreeIndexCode(others, b.category);
        if (code.empty()) return false;
        b.indexCode = code;
        r.code = code;
        return true;
    });
    if (u == BlockUpdate::Saved || u == BlockUpdate::SaveFailed) r.status = Outcome(u);
    return r;
}

BlockOpResult BlockManager::DeleteIndex(std::string_view nameGbk) {
    std::optional<Block> block = set_.FindBlock(nameGbk);
    if (!block) return Refuse(std::string(kBlockNoneSelected));
    if (!block->stored()) return Status(BlockOpStatus::NotAllowed);
    if (block->indexCode.empty()) return Status(BlockOpStatus::Declined);
    if (!prompt_.Question(kBlockIndexDeleteQuestion)) return Status(BlockOpStatus::Declined);
    BlockOpResult r = Status(BlockOpStatus::Declined);
    BlockUpdate u = set_.UpdateBlock(nameGbk, [&](Block& b) {
        if (b.indexCode.empty()) return false;
        r.code = b.indexCode;
        b.indexCode.clear();
        return true;
    });
    if (u == BlockUpdate::Saved || u == BlockUpdate::SaveFailed) r.status = Outcome(u);
    return r;
}

std::string BlockManager::ListItemText(const Block& block) {
    return FormatMessage(kBlockListItem, {GbkToUtf8(block.name), GbkToUtf8(block.category), block.indexCode,
                                          std::to_string(block.members.size())});
}

}  // namespace tessaro
