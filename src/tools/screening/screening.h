// Stock screening: the range of securities, the remembered settings per formula, the
// screening run and the saving of its hits into a block. The window comes with the
// other analysis windows; everything it decides lives here.
//
// The run walks the securities of the range on worker threads. Each worker keeps one
// FormulaEvaluator (its column pool stays warm) and takes the next security from a
// shared counter, so a thread that drew cheap securities takes more of them. Every
// examined security gives one result record; records reach the sink in the order of
// the range, whatever thread finished them. The stop flag is tested between
// securities; a stopped run delivers the records of the unbroken prefix it finished.
// Names are GBK; messages UTF-8.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formula/compiled_formula.h"
#include "formula/eval_data_source.h"
#include "formula/eval_result.h"
#include "formula/formula_set.h"
#include "platform/security_id.h"
#include "platform/settings_store.h"
#include "tools/blocks/block_set.h"

namespace tessaro {

// The range is kept as the value "SelStkRange" of the Settings key.
inline constexpr std::string_view kSelStkRangeValue = "SelStkRange";
inline constexpr std::string_view kDefaultScreeningRange = "沪深A股,";  // UTF-8
inline constexpr std::string_view kScreeningDone = "选股完成(共选中%u只)!";
inline constexpr std::string_view kScreeningStopped = "选股被终止(暂选中%u只)!";
inline constexpr std::string_view kScreeningStopQuestion = "真的要停止选股吗?";
inline constexpr std::string_view kScreeningHit = "选中";
inline constexpr std::string_view kScreeningStatus = "%s %s %s";

// ---- The range -------------------------------------------------------------------------

// The range text (GBK) from the settings; "沪深A股," when the value is missing or empty.
std::string LoadScreeningRange(const SettingsStore& settings);
void SaveScreeningRange(SettingsStore& settings, std::string_view rangeGbk);
// The names of a range text, each once, in order; empty pieces are dropped.
std::vector<std::string> SplitScreeningRange(std::string_view rangeGbk);
// Appends `nameGbk` with a trailing comma unless the range names it already
// (case-insensitively). Returns whether the text changed.
bool AddToScreeningRange(std::string& rangeGbk, std::string_view nameGbk);
// The securities of the named blocks, each once, in block order then member order; a
// name that is no block is passed over and returned in `unknown` when given.
std::vector<SecurityId> ScreeningSecurities(const BlockSet& blocks, std::span<const std::string> namesGbk,
                                            std::vector<std::string>* unknown = nullptr);

// ---- Remembered settings -----------------------------------------------------------------

inline constexpr size_t kScreeningNameBytes = 63;      // in a 64-byte field
inline constexpr size_t kScreeningMaxParams = 64;

struct ScreeningSettings {
    int32_t formulaType = 0;
    std::string formulaName;         // GBK
    std::vector<int32_t> params;     // at most 64
    int32_t period = 8;
    int32_t line = 0;                // condition-line index
    std::string description;         // GBK
};

// One record per formula for the life of the window, found by type and
// case-insensitive name.
class RememberedScreeningSettings {
public:
    const ScreeningSettings* Find(int32_t type, std::string_view nameGbk) const;
    // Creates the record on first use, else replaces it. Names and descriptions are
    // cut to 63 bytes (never half a character) and parameters to 64.
    void Store(ScreeningSettings settings);
    size_t size() const { return records_.size(); }

private:
    std::vector<ScreeningSettings> records_;
};

// A copy of `formula` whose parameter defaults are `values` (in parameter order; values
// beyond its parameters are ignored, missing ones keep the default), each held inside
// the parameter's range.
FormulaRecord WithParameters(const FormulaRecord& formula, std::span<const float> values);

// ---- The run -----------------------------------------------------------------------------

struct ScreeningRequest {
    FormulaRecord formula;           // with the chosen parameters as defaults
    Period period = kPeriodDay;
    int loadOptions = 0;             // series loader flags (ex-rights mode)
    size_t line = 0;                 // the condition line
    // The historical window: a hit is any bar whose day lies in [from, to]. Both 0:
    // the last bar decides.
    StoreTime from = 0;
    StoreTime to = 0;
    unsigned threads = 1;            // 0: every core
};

struct ScreeningRecord {
    CodeEntry security;
    bool hit = false;
    int position = 0;                // 0-100
    std::string formulaName;         // GBK
    Period period = kPeriodDay;
    std::vector<uint32_t> hitTimes;  // the bars that met the condition
};

struct ScreeningOutcome {
    size_t examined = 0;  // records delivered
    size_t hits = 0;
    bool stopped = false;
};

// Called in range order, from whichever worker completed the prefix, one call at a time.
using ScreeningSink = std::function<void(const ScreeningRecord&)>;

// Whether a line meets the condition: its value is non-zero (|x| > 0.000001) at the
// last bar, or, with a window, at any bar whose day lies inside it (the points carry
// their bars' times). The hitting bars' times go to `hitTimes`.
bool ScreeningLineHits(const OutputLine& line, StoreTime from, StoreTime to, std::vector<uint32_t>* hitTimes);

// Screens `securities`. `running` is the stop signal: the run ends early once it is false.
ScreeningOutcome RunScreening(const FormulaSet& formulas, EvalDataSource& data, const ScreeningRequest& request,
                              std::span<const CodeEntry> securities, const std::atomic<bool>& running,
                              const ScreeningSink& sink);

// The end of a run. A run that ended by itself writes the hits into `blockGbk` (created
// as a screening-result block, or its members replaced) and says "选股完成(共选中%u只)!";
// a stopped run leaves every block alone and says "选股被终止(暂选中%u只)!". `saved` is
// false when the block file could not be written (the message then says so).
struct ScreeningFinish {
    std::string message;  // UTF-8
    bool saved = false;
};
ScreeningFinish FinishScreening(BlockSet& blocks, std::string_view blockGbk, std::span<const SecurityId> hits,
                                bool stopped);

}  // namespace tessaro
