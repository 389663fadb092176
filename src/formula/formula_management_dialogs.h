// The small formula dialogs without their windows: period settings ("公式周期设置"), the
// selection signal ("选择指示") and the parameter dialog ("改变公式参数").
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "formula/formula_management.h"

namespace tessaro {

// ---- Period settings ----

inline constexpr int kFirstFormulaPeriod = 2;   // 分笔
inline constexpr int kLastFormulaPeriod = 14;   // 分时线
inline constexpr int kFormulaPeriodCount = 13;

// "分笔", "1分钟", ... "分时线" for periods 2..14; "" otherwise.
std::string_view FormulaPeriodCaption(int period);

struct PeriodSettings {
    std::array<bool, kFormulaPeriodCount> disabled{};  // index period - 2 ("禁用周期")
    bool noIndexes = false;                            // "禁用证券类型" "指数": bit 0
    bool noStocks = false;                             // "个股": bit 1
    int defaultPeriod = 0;                             // 0: none chosen

    static PeriodSettings Of(const FormulaRecord& record);
    // The periods the "默认周期" list offers: those not disabled.
    std::vector<int> selectablePeriods() const;
    // Writes bits 30..18, 0 and 1 of the usage flags (other bits kept) and the default
    // period, which becomes 0 when none or a disabled one is chosen.
    void applyTo(FormulaRecord& record) const;
};

// ---- Selection signal ----

inline constexpr uint32_t kSignalIconCount = 7;

// Stores icon (0..6), colour and price position; false (record unchanged) for another icon.
bool SetSelectionSignal(FormulaRecord& record, uint32_t icon, uint32_t colour, uint32_t pricePosition);

// ---- Parameter dialog ----

// Shows a copy of a formula's parameters; every change is sent to the owner as
// "WM_FPCHANGED" (parameter index, new value).
class ParameterDialogModel {
public:
    using ChangedFn = std::function<void(int index, float value)>;

    ParameterDialogModel(FormulaSet& set, FormulaPrompt& prompt, uint32_t type, std::string_view nameGbk,
                         ChangedFn onChanged, const void* window = nullptr);

    bool valid() const { return valid_; }
    const std::vector<FormulaParam>& params() const { return params_; }
    // "注释:\r\n%s" with the formula's comment (UTF-8).
    std::string commentText() const;

    // Sets a shown value, kept within the parameter's [min, max]; false for a bad index or a
    // value that is no number.
    bool Change(size_t index, float value);
    // One spin step (the parameter's step) up or down.
    bool Spin(size_t index, bool up);
    // "设为默认参数&S": asks "真的要将这些值设为公式的默认参数值吗?" and on Yes writes the
    // shown values as the formula's defaults and saves its source at once.
    bool SetAsDefault();
    // "恢复默认参数&R": the shown values go back to the set's defaults.
    void RestoreDefaults();

private:
    FormulaSet& set_;
    FormulaPrompt& prompt_;
    const void* window_;
    uint32_t type_;
    std::string name_;
    ChangedFn onChanged_;
    std::vector<FormulaParam> params_;
    std::string comment_;
    bool valid_ = false;
};

}  // namespace tessaro
