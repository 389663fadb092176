// The three base files that feed ex-rights, finance and capital figures into
// the market store at start-up and whenever the server replaces them:
// base/Power.pwr (ex-rights events), base/finance.fin (finance blocks) and
// base/gbbg.dat (capital changes).
//
// Each loader first parses the file's bytes into a plain result (pure, bounded,
// safe on any input), then applies it to the store and records the file's
// checksum there.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/paths.h"
#include "market/records.h"
#include "platform/security_id.h"
#include "platform/bytes.h"

namespace tessaro {

class MarketStore;

// Orders securities by market, then by code with ASCII letters folded.
struct SecurityIdLess {
    bool operator()(const SecurityId& a, const SecurityId& b) const;
};

// --- base/Power.pwr ---------------------------------------------------------

inline constexpr uint32_t kPowerMagic1 = 0xFF43C832;
inline constexpr uint32_t kPowerMagic2 = 0xFFCC83DD;
inline constexpr uint32_t kPowerGroupMarker = 0xFFFFFFFF;

// An ex-rights record the adjustment can use: finite values, not all four
// (nearly) zero, and a share divisor 1 + 送股 + 配股 that is clearly positive.
bool IsUsableExRights(const ExRightsRecord& record);

struct PowerFile {
    bool valid = false;  // header recognised
    // Each listed security with its usable records sorted by ex-date.
    std::map<SecurityId, std::vector<ExRightsRecord>, SecurityIdLess> exRights;
    int skippedRecords = 0;  // all-zero or unusable records
    bool truncated = false;  // a record or group ran past the end and was dropped
};
PowerFile ParsePowerFile(ByteSpan bytes);

// --- base/finance.fin -------------------------------------------------------

inline constexpr uint32_t kFinanceMagic = 0x223FD90C;
inline constexpr uint32_t kFinanceRecordSize = 166;

struct FinanceFile {
    bool valid = false;
    std::map<SecurityId, FinanceBlock, SecurityIdLess> finance;  // the last record of a security wins
    bool truncated = false;
};
FinanceFile ParseFinanceFile(ByteSpan bytes);

// The capital-change list a finance block implies for a security of class
// `securityClass`: one entry dated 1980-01-01, circulating capital from B股
// (B shares) or 流通A股, total from 总股本, in lots (÷10 for bonds, 0 for indexes).
CapitalChange CapitalFromFinance(const FinanceBlock& finance, uint16_t securityClass);
inline constexpr int kFigureTotalShares = 0;  // 总股本
inline constexpr int kFigureBShares = 4;      // B股
inline constexpr int kFigureFloatAShares = 6; // 流通A股

// --- base/gbbg.dat ----------------------------------------------------------

inline constexpr uint16_t kCapitalFileVersion = 20050;

struct CapitalChangeFile {
    bool valid = false;  // false: the whole file is ignored
    // Each listed security with its changes (lots) sorted by day.
    std::map<SecurityId, std::vector<CapitalChange>, SecurityIdLess> changes;
    int skippedRecords = 0;  // records with an impossible date or value
};
CapitalChangeFile ParseCapitalChangeFile(ByteSpan bytes);

// --- Loading into the store ---------------------------------------------------

enum class BaseFileStatus { Missing, Invalid, Loaded };

struct BaseFileLoad {
    BaseFileStatus status = BaseFileStatus::Missing;
    uint32_t checksum = 0;  // of the whole file, when it could be read
    int securities = 0;     // securities of the file applied to the store
    int unknown = 0;        // securities of the file the store does not know
};

// Start-up order: finance, power, capital changes. Each records the file's
// checksum in the store when the file could be read.
BaseFileLoad LoadFinance(MarketStore& store, const std::string& path);
BaseFileLoad LoadPower(MarketStore& store, const std::string& path);
BaseFileLoad LoadCapitalChanges(MarketStore& store, const std::string& path);
// The three in start-up order from base/; fits MarketStore::SetBaseFileLoader.
void LoadBaseFiles(MarketStore& store, const AppPaths& paths);

}  // namespace tessaro
