#include "market/base_files.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "market/market_store.h"
#include "platform/crc32.h"
#include "platform/files.h"
#include "platform/store_time.h"
#include "platform/text.h"

namespace tessaro {

namespace {

constexpr float kZero = 0.00001f;

bool NearZero(float v) { return std::fabs(v) <= kZero; }

// An identity rebuilt from a file's fixed code field: at most `width` bytes,
// cut at the first NUL, so the result is always terminated and bounded.
SecurityId IdFromField(MarketCode market, const char* field, size_t width) {
    return MakeSecurityId(market, FieldText(field, width));
}

bool UsableId(const SecurityId& id) { return MarketSlot(id.market) >= 0 && !id.codeText().empty(); }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

bool SecurityIdLess::operator()(const SecurityId& a, const SecurityId& b) const {
    if (a.market != b.market) return a.market < b.market;
    return CompareNoCase(a.codeText(), b.codeText()) < 0;
}

// --- base/Power.pwr ---------------------------------------------------------

bool IsUsableExRights(const ExRightsRecord& r) {
    if (!std::isfinite(r.bonusShares) || !std::isfinite(r.rightsShares) || !std::isfinite(r.rightsPrice) ||
        !std::isfinite(r.cashDividend))
        return false;
    if (NearZero(r.bonusShares) && NearZero(r.rightsShares) && NearZero(r.rightsPrice) && NearZero(r.cashDividend))
        return false;
    // Forward adjustment divides by this factor.
    return 1.0 + double(r.bonusShares) + double(r.rightsShares) > double(kZero);
}

PowerFile ParsePowerFile(ByteSpan bytes) {
    PowerFile out;
    ByteReader r(bytes);
    uint32_t magic1 = r.get<uint32_t>();
    uint32_t magic2 = r.get<uint32_t>();
    if (!r.ok() || magic1 != kPowerMagic1 || magic2 != kPowerMagic2) return out;
    out.valid = true;

    std::vector<ExRightsRecord>* group = nullptr;
    bool inGroup = false;
    while (!r.atEnd()) {
        if (!r.has(4)) {
            out.truncated = true;
            break;
        }
        uint32_t word = LoadLE<uint32_t>(bytes.data() + r.pos());
        if (word == kPowerGroupMarker) {
            if (!r.has(4 + sizeof(SecurityId) + 4)) {
                out.truncated = true;
                break;
            }
            r.skip(4);
            SecurityId raw;
            r.read(raw);
            r.skip(4);
            SecurityId id = IdFromField(raw.market, raw.code, sizeof raw.code);
            group = UsableId(id) ? &out.exRights[id] : nullptr;
            inGroup = true;
            continue;
        }
        if (!inGroup) break;  // records before any group: the rest is not trusted
        ExRightsRecord record;
        if (!r.read(record)) {
            out.truncated = true;
            break;
        }
        if (!group) continue;
        if (!IsUsableExRights(record)) {
            ++out.skippedRecords;
            continue;
        }
        group->push_back(record);
    }
    // A listed security whose records were all skipped keeps an empty list: it has no events.
    for (auto& [id, list] : out.exRights)
        std::stable_sort(list.begin(), list.end(),
                         [](const ExRightsRecord& a, const ExRightsRecord& b) { return a.exDate < b.exDate; });
    return out;
}

// --- base/finance.fin -------------------------------------------------------

FinanceFile ParseFinanceFile(ByteSpan bytes) {
    FinanceFile out;
    ByteReader r(bytes);
    uint32_t magic = r.get<uint32_t>();
    uint32_t recordSize = r.get<uint32_t>();
    if (!r.ok() || magic != kFinanceMagic || recordSize != kFinanceRecordSize) return out;
    out.valid = true;
    while (r.has(kFinanceRecordSize)) {
        MarketCode market = r.get<uint16_t>();
        uint16_t reportKind = r.get<uint16_t>();
        char code[10];
        for (char& c : code) c = static_cast<char>(r.get<uint8_t>());
        FinanceBlock block;
        block.updateDate = r.get<uint32_t>();
        for (float& f : block.figures) f = r.get<float>();
        block.reportKind = static_cast<float>(reportKind);
        SecurityId id = IdFromField(market, code, sizeof code);
        if (UsableId(id)) out.finance[id] = block;
    }
    out.truncated = !r.atEnd();
    return out;
}

CapitalChange CapitalFromFinance(const FinanceBlock& finance, uint16_t securityClass) {
    CapitalChange change;
    change.day = MakeStoreTime(1980, 1, 1);
    if (securityClass == kClassIndex) return change;
    // Figures are in 万股 (10,000 shares); a lot is 100 shares, 10 units for bonds.
    double unit = securityClass == kClassBond ? 1000.0 : 100.0;
    float circulatingShares =
        finance.figures[securityClass == kClassBShare ? kFigureBShares : kFigureFloatAShares];
    float totalShares = finance.figures[kFigureTotalShares];
    auto lots = [&](float v) { return std::isfinite(v) ? static_cast<float>(double(v) * 10000.0 / unit) : 0.0f; };
    change.circulating = lots(circulatingShares);
    change.total = lots(totalShares);
    return change;
}

// --- base/gbbg.dat ----------------------------------------------------------

CapitalChangeFile ParseCapitalChangeFile(ByteSpan bytes) {
    CapitalChangeFile out;
    ByteReader r(bytes);
    ByteSpan tag = r.bytes(4);
    uint32_t securityCount = r.get<uint32_t>();
    uint32_t changeCount = r.get<uint32_t>();
    uint16_t version = r.get<uint16_t>();
    uint16_t skipBlocks = r.get<uint16_t>();
    if (!r.ok() || std::memcmp(tag.data(), "GBBG", 4) != 0 || version != kCapitalFileVersion) return out;

    // 16 + 64K + 12S + 28C, each step checked so that no count can wrap the sum.
    uint64_t need = 16;
    uint64_t part = 0;
    if (__builtin_mul_overflow(uint64_t{64}, uint64_t{skipBlocks}, &part) || __builtin_add_overflow(need, part, &need))
        return out;
    if (__builtin_mul_overflow(uint64_t{12}, uint64_t{securityCount}, &part) ||
        __builtin_add_overflow(need, part, &need))
        return out;
    if (__builtin_mul_overflow(uint64_t{28}, uint64_t{changeCount}, &part) ||
        __builtin_add_overflow(need, part, &need))
        return out;
    if (need > bytes.size()) return out;
    if (!r.skip(size_t{64} * skipBlocks)) return out;

    std::map<SecurityId, std::vector<CapitalChange>, SecurityIdLess> changes;
    int skipped = 0;
    for (uint32_t s = 0; s < securityCount; ++s) {
        if (!r.has(12)) return out;
        r.skip(2);
        uint16_t n = r.get<uint16_t>();
        MarketCode market = r.get<uint16_t>();
        char code[6];
        for (char& c : code) c = static_cast<char>(r.get<uint8_t>());
        // The group's own count must fit in what is left of the file.
        if (size_t{n} * 28 > r.remaining()) return out;
        SecurityId id = IdFromField(market, code, sizeof code);
        std::vector<CapitalChange>* list = UsableId(id) ? &changes[id] : nullptr;
        for (uint16_t i = 0; i < n; ++i) {
            int year = r.get<uint16_t>();
            int month = r.get<uint8_t>();
            int day = r.get<uint8_t>();
            r.skip(4);
            float total = r.get<float>();
            float circulating = r.get<float>();
            r.skip(12);
            if (!list) continue;
            bool dateOk = year >= 1900 && year <= 2200 && month >= 1 && month <= 12 && day >= 1 &&
                          day <= DaysInMonth(year, month);
            if (!dateOk || !std::isfinite(total) || !std::isfinite(circulating) || total < 0 || circulating < 0) {
                ++skipped;
                continue;
            }
            CapitalChange change;
            change.day = MakeStoreTime(year, month, day);
            change.circulating = circulating * 100.0f;  // 万股 to lots
            change.total = total * 100.0f;
            list->push_back(change);
        }
    }
    if (!r.ok()) return out;
    for (auto& [id, list] : changes)
        std::stable_sort(list.begin(), list.end(),
                         [](const CapitalChange& a, const CapitalChange& b) { return a.day < b.day; });
    out.valid = true;
    out.changes = std::move(changes);
    out.skippedRecords = skipped;
    return out;
}

// --- Loading into the store ---------------------------------------------------

namespace {

// Reads the file and records its checksum; nullopt (status Missing) when it cannot be read.
std::optional<Bytes> ReadBaseFile(MarketStore& store, const std::string& path, BaseFile kind, BaseFileLoad& load) {
    auto bytes = ReadWholeFile(path);
    if (!bytes) return std::nullopt;
    load.checksum = Crc32(*bytes);
    store.SetBaseFileChecksum(kind, load.checksum);
    load.status = BaseFileStatus::Invalid;
    return bytes;
}

}  // namespace

BaseFileLoad LoadFinance(MarketStore& store, const std::string& path) {
    BaseFileLoad load;
    auto bytes = ReadBaseFile(store, path, BaseFile::Finance, load);
    if (!bytes) return load;
    FinanceFile file = ParseFinanceFile(*bytes);
    if (!file.valid) return load;
    load.status = BaseFileStatus::Loaded;
    for (const auto& [id, finance] : file.finance) {
        std::optional<CodeEntry> entry = store.GetCodeEntry(id);
        if (!entry) {
            ++load.unknown;
            continue;
        }
        store.SetFinance(entry->id, finance);
        CapitalChange change = CapitalFromFinance(finance, entry->securityClass);
        store.SetCapitalChanges(entry->id, {change});
        // A security without any capital yet gets the one the finance figures imply;
        // capital that came from the server or gbbg.dat is not overwritten.
        std::optional<QuoteSnapshot> quote = store.GetQuote(entry->id);
        if (quote && quote->capital.circulating == 0 && quote->capital.total == 0)
            store.SetCapital(entry->id, change.circulating, change.total);
        ++load.securities;
    }
    return load;
}

BaseFileLoad LoadPower(MarketStore& store, const std::string& path) {
    BaseFileLoad load;
    auto bytes = ReadBaseFile(store, path, BaseFile::Power, load);
    if (!bytes) return load;
    PowerFile file = ParsePowerFile(*bytes);
    if (!file.valid) return load;
    load.status = BaseFileStatus::Loaded;
    for (auto& [id, records] : file.exRights) {
        std::optional<CodeEntry> entry = store.GetCodeEntry(id);
        if (!entry) {
            ++load.unknown;
            continue;
        }
        store.SetExRights(entry->id, std::move(records));
        ++load.securities;
    }
    return load;
}

BaseFileLoad LoadCapitalChanges(MarketStore& store, const std::string& path) {
    BaseFileLoad load;
    auto bytes = ReadBaseFile(store, path, BaseFile::CapitalChanges, load);
    if (!bytes) return load;
    CapitalChangeFile file = ParseCapitalChangeFile(*bytes);
    if (!file.valid) return load;
    load.status = BaseFileStatus::Loaded;
    for (auto& [id, changes] : file.changes) {
        std::optional<CodeEntry> entry = store.GetCodeEntry(id);
        if (!entry) {
            ++load.unknown;
            continue;
        }
        if (!changes.empty()) store.SetCapital(entry->id, changes.back().circulating, changes.back().total);
        store.SetCapitalChanges(entry->id, std::move(changes));
        ++load.securities;
    }
    return load;
}

void LoadBaseFiles(MarketStore& store, const AppPaths& paths) {
    LoadFinance(store, paths.financeFile());
    LoadPower(store, paths.powerFile());
    LoadCapitalChanges(store, paths.capitalChangeFile());
}

}  // namespace tessaro
