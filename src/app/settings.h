// The system settings record: defaults, loading from and saving to the settings
// store, trading sessions, download chunk lengths, colour schemes and the
// formula lists of the chart panes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/color_scheme.h"
#include "platform/settings_store.h"
#include "platform/text.h"

namespace tessaro {

// ---- Chart pane formula lists ----------------------------------------------

// The formulas of one chart pane: up to 30 (type, name) items, names GBK of
// at most 31 bytes.
struct PaneFormulaList {
    static constexpr int kMaxItems = 30;
    static constexpr size_t kMaxNameBytes = 31;

    int32_t count = 0;
    int32_t types[kMaxItems] = {};
    char names[kMaxItems][32] = {};

    // Appends an item; false (list unchanged) when full or the name is empty or
    // longer than 31 bytes.
    bool add(int32_t type, std::string_view gbkName);
    std::string_view name(int i) const { return FieldText(names[i]); }
    void clear() { *this = PaneFormulaList{}; }
    friend bool operator==(const PaneFormulaList& a, const PaneFormulaList& b);
};

inline constexpr int kPaneCount = 6;
using PaneFormulaLists = std::array<PaneFormulaList, kPaneCount>;

// The settings value holds at most 1023 bytes.
inline constexpr size_t kMaxSettingText = 1023;

// Does the formula set hold a formula of this type and (GBK) name?
using FormulaExistsFn = std::function<bool(int32_t type, std::string_view gbkName)>;

// The text of a pane list: "%d\t%s\t" per item. Only whole items that fit in
// 1023 bytes are written.
std::string FormatPaneList(const PaneFormulaList& list);
// Reads a pane list text: items whose formula does not exist (when `exists` is
// given), malformed items and names over 31 bytes are dropped; at most 30
// items are kept. A text over 1023 bytes is read up to its last whole field.
PaneFormulaList ParsePaneList(std::string_view text, const FormulaExistsFn& exists);

// Built-in lists: K-line panes "MA" (type 3), "VOL", "AMOUNT", "MACD", "KDJ",
// "MACD" (type 4); time-sharing pane 0 empty, panes 1-5 "TENDV" (type 4).
PaneFormulaLists DefaultKLinePanes();
PaneFormulaLists DefaultTimePanes();

// ---- The settings record ----------------------------------------------------

// A trading session in seconds after midnight.
struct TradingSession {
    int32_t start = 0;
    int32_t end = 0;
};

struct SystemSettings {
    // Colour schemes ("Settings\Aspect2"): the active one by index.
    std::array<ColorScheme, kSchemeCount> schemes = BuiltInSchemes();
    int activeScheme = 0;

    // Boss key: written by the options dialog, never by SaveSettings.
    bool bossKey = false;              // "bBossKey"
    uint32_t bossKeyModifiers = 1;     // "bkModifiers" (1 = Alt)
    uint32_t bossKeyVirtualCode = 83;  // "bkVirtualCode" ('S')

    bool statusBar = true;        // "StatusBar"
    bool stkInfo = true;          // "StkInfo"
    uint32_t stkInfoWidth = 275;  // "StkInfoWidth2" (non-zero only)
    uint8_t purview = 0;          // "Purview" (low byte): ex-rights flags of the charts
    bool hcoord = true;           // "Hcoord"
    bool vcoord = false;          // "Vcoord1"
    bool emptyOver = true;        // "EmptyOver"
    bool autoSelStk = true;       // "AutoSelStk"
    uint32_t multiDay = 5;        // "MultiDay" (non-zero only)
    uint32_t multiPics = 9;       // "MultiPics" (non-zero only)
    uint32_t cycle = 8;           // "Cycle" (non-zero only): default chart period
    uint32_t coordType = 1;       // "CoordType" (non-zero only)
    std::string formula0 = "K";         // "Formula0" (GBK, at most 31 bytes)
    std::string formula0Time = "TEND";  // "Formula0_Time"
    uint32_t ruler = 100;         // "Ruler"
    uint32_t daysTime = 1;        // "Days_time"
    uint32_t areas = 2;           // "Areas" (non-zero only)
    uint32_t areasTime = 2;       // "Areas_Time" (non-zero only)
    PaneFormulaLists kLinePanes = DefaultKLinePanes();  // "AreaFormulaRec0".."5"
    PaneFormulaLists timePanes = DefaultTimePanes();    // "AreaFormulaRec_Time0".."5"
    uint32_t exitTipTime = 0;     // "ExitTipTime": trading date of the last day-data question

    // Not stored: set at every start.
    int sessionCount = 2;
    std::array<TradingSession, 3> sessions = {{{34200, 41400}, {46800, 54000}, {0, 0}}};
    int32_t dayChunkDays = 1460;  // after-hours download chunk of day data
    int32_t min5ChunkDays = 20;   // and of five-minute data (the login reply may replace both)

    const ColorScheme& scheme() const { return schemes[static_cast<size_t>(activeScheme)]; }
    // Seconds of trading per day over the sessions (14400 by default).
    int32_t tradingSeconds() const;
    int32_t tradingMinutes() const { return tradingSeconds() / 60; }
};

// Resets `out` to the defaults and reads every stored value over them.
// DWORDs are read only when present; "non-zero only" values keep the default
// when 0 is stored; booleans are on for any non-zero value. Pane lists keep
// only the items `exists` confirms (every item when it is empty).
void LoadSettings(const SettingsStore& store, SystemSettings& out, const FormulaExistsFn& exists = {});

// Writes every value of the record except the boss-key values and
// "ExitTipTime" (and never "path", "exe", "version", "subversion", "defdec"),
// creating keys as needed. The caller saves the store to its file.
void SaveSettings(SettingsStore& store, const SystemSettings& settings);

// What the options dialog writes when the user changes the boss key.
void SaveBossKey(SettingsStore& store, const SystemSettings& settings);

// Records the trading date at which the day-data question was asked.
void SaveExitTipTime(SettingsStore& store, uint32_t tradingDate);

// Settings key names.
inline constexpr std::string_view kSettingsSubKey = "Settings";
inline constexpr std::string_view kAspectSubKey = "Settings\\Aspect2";

}  // namespace tessaro
