#include "tools/blocks/block_set.h"

#include <algorithm>
#include <filesystem>

#include "market/file_lock.h"
#include "market/market_store.h"
#include "platform/files.h"
#include "platform/process_lock.h"
#include "platform/text.h"

namespace tessaro {

namespace {

struct RuleBlockDefinition {
    const char* name;  // UTF-8
    uint32_t flags;
    uint32_t markets;
    uint32_t classes;
    const char* operand;
};

// The rule blocks in their order: flags 3 market + class, 5 market + pattern,
// 9 market + keyword; markets 1 SH, 2 SZ, 3 both, 4 $$.
constexpr RuleBlockDefinition kRuleBlocks[] = {
    {"沪市A股", 3, 1, 2, ""},  {"沪市B股", 3, 1, 4, ""},  {"沪市指数", 3, 1, 1, ""}, {"沪市权证", 3, 1, 32, ""},
    {"沪市基金", 3, 1, 8, ""}, {"沪市债券", 3, 1, 16, ""}, {"沪市其它", 3, 1, 0, ""}, {"深市A股", 3, 2, 2, ""},
    {"深市B股", 3, 2, 4, ""},  {"深市指数", 3, 2, 1, ""},  {"深市权证", 3, 2, 32, ""}, {"深市基金", 3, 2, 8, ""},
    {"深市债券", 3, 2, 16, ""}, {"深市其它", 3, 2, 0, ""}, {"板块指数", 3, 4, 1, ""}, {"沪深A股", 3, 3, 2, ""},
    {"沪深B股", 3, 3, 4, ""},  {"沪深权证", 3, 3, 32, ""}, {"沪深ST", 9, 3, 0, "ST"}, {"中小板", 5, 2, 0, "002###"},
    {"创业板", 5, 2, 0, "300###"},
};

// Finds `needle` in GBK text starting only on character boundaries.
bool ContainsGbk(std::string_view text, std::string_view needle) {
    if (needle.empty()) return true;
    for (size_t i = 0; i + needle.size() <= text.size();) {
        if (text.compare(i, needle.size(), needle) == 0) return true;
        i += IsGbkLead(static_cast<uint8_t>(text[i])) && i + 1 < text.size() ? 2 : 1;
    }
    return false;
}

std::string Trimmed(std::string_view s) {
    size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\r')) ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
    return std::string(s.substr(a, b - a));
}

}  // namespace

bool Block::contains(const SecurityId& id) const {
    return std::any_of(members.begin(), members.end(), [&](const SecurityId& m) { return SameSecurity(m, id); });
}

BlockFileData Block::fileData() const {
    BlockFileData d;
    d.setting = setting;
    d.name = name;
    d.indexCode = indexCode;
    d.category = category;
    d.extra = extra;
    d.members = members;
    return d;
}

bool RuleHolds(const Block& block, const CodeEntry& entry) {
    if (block.ruleFlags == 0) return false;
    if ((block.ruleFlags & kRuleMarket) && !(MarketBit(entry.id.market) & block.marketMask)) return false;
    if (block.ruleFlags & kRuleClass) {
        const bool bothZero = block.classMask == 0 && entry.securityClass == 0;
        if (!bothZero && !(ClassMaskBit(entry.securityClass) & block.classMask)) return false;
    }
    if (block.ruleFlags & kRulePattern) {
        std::string_view code = entry.id.codeText();
        const size_t n = std::min(code.size(), block.pattern.size());
        for (size_t i = 0; i < n; ++i)
            if (block.pattern[i] != '#' && block.pattern[i] != code[i]) return false;
    }
    if ((block.ruleFlags & kRuleKeyword) && !ContainsGbk(entry.nameText(), block.keyword)) return false;
    return true;
}

BlockSet::BlockSet(AppPaths paths) : paths_(std::move(paths)) {}

void BlockSet::BuildSystemBlocks(const std::optional<CodeEntry>& compositeIndex) {
    std::vector<Block> blocks;
    for (const RuleBlockDefinition& rule : kRuleBlocks) {
        Block b;
        b.setting = kBlockRule;
        b.name = Utf8ToGbk(rule.name);
        b.ruleFlags = rule.flags;
        b.marketMask = rule.markets;
        b.classMask = rule.classes;
        if (rule.flags & kRulePattern) b.pattern = rule.operand;
        if (rule.flags & kRuleKeyword) b.keyword = Utf8ToGbk(rule.operand);
        if (std::string_view(rule.name) == kAllASharesBlock)
            b.indexCode = compositeIndex ? std::string(compositeIndex->id.codeText()) : "999999";
        blocks.push_back(std::move(b));
    }
    std::lock_guard lock(mutex_);
    blocks_ = std::move(blocks);
}

void BlockSet::RegisterSecurity(const CodeEntry& entry) {
    std::lock_guard lock(mutex_);
    for (Block& b : blocks_)
        if (b.setting == kBlockRule && RuleHolds(b, entry) && !b.contains(entry.id)) b.members.push_back(entry.id);
}

int BlockSet::LoadBlockFiles() {
    std::vector<std::string> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(paths_.blockDir(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::filesystem::path& p = it->path();
        if (p.extension() == ".blk" && it->is_regular_file(ec)) files.push_back(p.string());
    }
    std::sort(files.begin(), files.end());
    std::vector<BlockFileData> read;
    for (const std::string& f : files)
        if (auto data = ReadBlockFile(f); data && !data->name.empty()) read.push_back(std::move(*data));

    std::vector<ComputedBlockSetting> computed;
    if (auto bytes = ReadWholeFile(ComputedBlockFilePath(paths_)))
        if (auto parsed = ParseComputedBlockFile(*bytes)) computed = std::move(*parsed);

    std::lock_guard lock(mutex_);
    int added = 0;
    for (BlockFileData& d : read) {
        if (FindLocked(blocks_, d.name)) continue;  // a name is one block
        Block b;
        b.setting = d.setting;
        b.name = std::move(d.name);
        b.indexCode = std::move(d.indexCode);
        b.category = std::move(d.category);
        b.extra = d.extra;
        b.crc = d.crc;
        b.members = std::move(d.members);
        blocks_.push_back(std::move(b));
        ++added;
    }
    for (const ComputedBlockSetting& s : computed) {
        if (Block* b = FindLocked(blocks_, s.name)) {
            b->formulaName = s.formulaName;
            b->formulaFirst = s.first;
            b->formulaSecond = s.second;
        }
    }
    return added;
}

bool BlockSet::CreateSelfSelectedBlocks() {
    if (!CreateDirectories(paths_.blockDir())) return false;
    // One creator at a time across processes, from reading blk.ini to writing it.
    // A group lock: the file locks taken inside it can never wait for it.
    ProcessFileLock creating(paths_.blockDir() + "self-selected blocks", ProcessFileLock::Scope::Group);
    if (!creating.held()) return false;
    std::string iniText;
    if (auto bytes = ReadWholeFile(paths_.blockIni())) iniText.assign(bytes->begin(), bytes->end());
    if (auto v = IniValue(iniText, kBlockIniSection, kBlockIniAutoCreate); v && Trimmed(*v) == "1") return true;
    bool ok = true;
    {
        std::lock_guard lock(mutex_);
        for (int i = 1; i <= 9; ++i) {
            std::string name = Utf8ToGbk("自选股" + std::to_string(i));
            if (FindLocked(blocks_, name)) continue;
            Block b;
            b.setting = kBlockSelf;
            b.name = name;
            if (!SaveBlock(b)) {
                ok = false;
                continue;
            }
            blocks_.push_back(std::move(b));
        }
    }
    if (!ok) return false;
    const std::string ini = SetIniValue(iniText, kBlockIniSection, kBlockIniAutoCreate, "1");
    ScopedFileLock threads(paths_.blockIni(), ScopedFileLock::Mode::Write);
    return WriteFileLocked(paths_.blockIni(), std::span(reinterpret_cast<const uint8_t*>(ini.data()), ini.size()));
}

std::optional<Block> BlockSet::FindBlock(std::string_view nameGbk) const {
    std::lock_guard lock(mutex_);
    for (const Block& b : blocks_)
        if (EqualsNoCase(b.name, nameGbk)) return b;
    return std::nullopt;
}

std::vector<Block> BlockSet::Blocks() const {
    std::lock_guard lock(mutex_);
    return blocks_;
}

size_t BlockSet::size() const {
    std::lock_guard lock(mutex_);
    return blocks_.size();
}

std::optional<CodeEntry> BlockSet::CategoryIndex(const SecurityId& id, std::string_view categoryGbk) const {
    std::lock_guard lock(mutex_);
    for (const Block& b : blocks_) {
        if (b.indexCode.empty() || !EqualsNoCase(b.category, categoryGbk) || !b.contains(id)) continue;
        CodeEntry e;
        e.id = MakeSecurityId(kMarketSystem, b.indexCode);
        e.securityClass = kClassIndex;
        e.setName(b.name);
        return e;
    }
    return std::nullopt;
}

void BlockSet::Mutate(const std::function<void(std::vector<Block>&)>& change) {
    std::lock_guard lock(mutex_);
    change(blocks_);
}

bool BlockSet::SaveBlock(const Block& block) const {
    if (!block.stored()) return false;
    std::string path = BlockFilePath(paths_, block.name);
    return !path.empty() && WriteBlockFile(path, block.fileData());
}

BlockUpdate BlockSet::UpdateBlock(std::string_view nameGbk, const std::function<bool(Block&)>& change) {
    std::lock_guard lock(mutex_);
    Block* b = FindLocked(blocks_, nameGbk);
    if (!b) return BlockUpdate::Missing;
    const std::string path = b->stored() ? BlockFilePath(paths_, b->name) : std::string();
    if (path.empty()) return change(*b) ? BlockUpdate::SaveFailed : BlockUpdate::Unchanged;
    if (!CreateDirectories(paths_.blockDir())) return change(*b) ? BlockUpdate::SaveFailed : BlockUpdate::Unchanged;
    // From the read to the rename: threads of this process in the registry, other
    // processes on the lock file.
    ScopedFileLock threads(path, ScopedFileLock::Mode::Write);
    ProcessFileLock processLock(path);
    if (processLock.held()) {
        // Another writer changed the file since it was read: change what it holds now.
        if (auto file = ReadBlockFile(path); file && file->crc != b->crc && EqualsNoCase(file->name, b->name)) {
            b->members = std::move(file->members);
            b->indexCode = std::move(file->indexCode);
            b->category = std::move(file->category);
            b->extra = file->extra;
            b->crc = file->crc;
        }
    }
    if (!change(*b)) return BlockUpdate::Unchanged;
    // A file that cannot be written leaves the change in memory.
    const std::vector<uint8_t> image = SerializeBlockFile(b->fileData());
    return processLock.held() && WriteFileAtomic(path, image) ? BlockUpdate::Saved : BlockUpdate::SaveFailed;
}

bool BlockSet::SaveComputedBlockSettings() const {
    std::lock_guard lock(mutex_);
    return SaveComputedLocked();
}

bool BlockSet::SaveComputedLocked() const {
    std::vector<ComputedBlockSetting> settings;
    for (const Block& b : blocks_)
        if (!b.formulaName.empty()) settings.push_back({b.name, b.formulaFirst, b.formulaSecond, b.formulaName});
    if (!CreateDirectories(paths_.blockDir())) return false;
    const std::string path = ComputedBlockFilePath(paths_);
    ScopedFileLock threads(path, ScopedFileLock::Mode::Write);
    return WriteFileLocked(path, SerializeComputedBlockFile(settings));
}

Block* BlockSet::FindLocked(std::vector<Block>& blocks, std::string_view nameGbk) {
    for (Block& b : blocks)
        if (EqualsNoCase(b.name, nameGbk)) return &b;
    return nullptr;
}

bool LoadBlockSet(BlockSet& set, const MarketStore& store, bool writable) {
    set.BuildSystemBlocks(store.GetMarketIndexEntry(kMarketSystem));
    for (const CodeEntry& e : store.ListAll()) set.RegisterSecurity(e);
    set.LoadBlockFiles();
    return !writable || set.CreateSelfSelectedBlocks();
}

// ---- INI text --------------------------------------------------------------------

namespace {

std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string line(text.substr(start, end - start));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// The section name of a "[name]" line, or nothing.
std::optional<std::string> SectionOf(const std::string& line) {
    std::string t = Trimmed(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') return std::nullopt;
    return Trimmed(std::string_view(t).substr(1, t.size() - 2));
}

// The key of a "key=value" line, or nothing.
std::optional<std::string> KeyOf(const std::string& line, std::string* value = nullptr) {
    size_t eq = line.find('=');
    std::string t = Trimmed(line);
    if (eq == std::string::npos || t.empty() || t[0] == ';' || t[0] == '#') return std::nullopt;
    if (value) *value = Trimmed(std::string_view(line).substr(eq + 1));
    return Trimmed(std::string_view(line).substr(0, eq));
}

}  // namespace

std::optional<std::string> IniValue(std::string_view text, std::string_view section, std::string_view key) {
    bool inSection = false;
    for (const std::string& line : Lines(text)) {
        if (auto s = SectionOf(line)) {
            inSection = EqualsNoCase(*s, section);
            continue;
        }
        std::string value;
        if (inSection)
            if (auto k = KeyOf(line, &value); k && EqualsNoCase(*k, key)) return value;
    }
    return std::nullopt;
}

std::string SetIniValue(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value) {
    std::vector<std::string> lines = Lines(text);
    const std::string entry = std::string(key) + "=" + std::string(value);
    long sectionLine = -1, lastOfSection = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (auto s = SectionOf(lines[i])) {
            if (sectionLine >= 0) break;
            if (EqualsNoCase(*s, section)) sectionLine = lastOfSection = static_cast<long>(i);
            continue;
        }
        if (sectionLine < 0) continue;
        if (auto k = KeyOf(lines[i]); k && EqualsNoCase(*k, key)) {
            lines[i] = entry;
            sectionLine = -2;  // replaced
            break;
        }
        if (!Trimmed(lines[i]).empty()) lastOfSection = static_cast<long>(i);
    }
    if (sectionLine == -1) {
        lines.push_back("[" + std::string(section) + "]");
        lines.push_back(entry);
    } else if (sectionLine >= 0) {
        lines.insert(lines.begin() + lastOfSection + 1, entry);
    }
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
}

}  // namespace tessaro
