#include "formula/formula_management_dialogs.h"

#include <algorithm>
#include <cmath>

#include "platform/text.h"

namespace tessaro {

std::string_view FormulaPeriodCaption(int period) {
    static constexpr std::string_view kCaptions[kFormulaPeriodCount] = {
        "分笔", "1分钟", "5分钟", "15分钟", "30分钟", "60分钟", "日线",
        "周线", "月线", "季线", "年线", "多日线", "分时线"};
    if (period < kFirstFormulaPeriod || period > kLastFormulaPeriod) return {};
    return kCaptions[period - kFirstFormulaPeriod];
}

PeriodSettings PeriodSettings::Of(const FormulaRecord& record) {
    PeriodSettings s;
    for (int p = kFirstFormulaPeriod; p <= kLastFormulaPeriod; ++p)
        s.disabled[static_cast<size_t>(p - kFirstFormulaPeriod)] = record.periodDisabled(PeriodFromNumber(p));
    s.noIndexes = (record.usageFlags & kUsageNotForIndexes) != 0;
    s.noStocks = (record.usageFlags & kUsageNotForOthers) != 0;
    int def = static_cast<int>(record.defaultPeriod);
    s.defaultPeriod = (def >= kFirstFormulaPeriod && def <= kLastFormulaPeriod) ? def : 0;
    return s;
}

std::vector<int> PeriodSettings::selectablePeriods() const {
    std::vector<int> out;
    for (int p = kFirstFormulaPeriod; p <= kLastFormulaPeriod; ++p)
        if (!disabled[static_cast<size_t>(p - kFirstFormulaPeriod)]) out.push_back(p);
    return out;
}

void PeriodSettings::applyTo(FormulaRecord& record) const {
    for (int p = kFirstFormulaPeriod; p <= kLastFormulaPeriod; ++p)
        record.setPeriodDisabled(PeriodFromNumber(p), disabled[static_cast<size_t>(p - kFirstFormulaPeriod)]);
    record.usageFlags = noIndexes ? (record.usageFlags | kUsageNotForIndexes) : (record.usageFlags & ~kUsageNotForIndexes);
    record.usageFlags = noStocks ? (record.usageFlags | kUsageNotForOthers) : (record.usageFlags & ~kUsageNotForOthers);
    std::vector<int> allowed = selectablePeriods();
    bool ok = std::find(allowed.begin(), allowed.end(), defaultPeriod) != allowed.end();
    record.defaultPeriod = ok ? static_cast<uint32_t>(defaultPeriod) : 0u;
}

bool SetSelectionSignal(FormulaRecord& record, uint32_t icon, uint32_t colour, uint32_t pricePosition) {
    if (icon >= kSignalIconCount) return false;
    record.signalIcon = icon;
    record.signalColour = colour;
    record.signalPosition = pricePosition;
    return true;
}

ParameterDialogModel::ParameterDialogModel(FormulaSet& set, FormulaPrompt& prompt, uint32_t type,
                                           std::string_view nameGbk, ChangedFn onChanged, const void* window)
    : set_(set), prompt_(prompt), window_(window), type_(type), name_(nameGbk), onChanged_(std::move(onChanged)) {
    if (std::optional<FormulaRecord> r = set_.Find(type, nameGbk)) {
        params_ = r->params;
        comment_ = r->comment;
        valid_ = true;
    }
}

std::string ParameterDialogModel::commentText() const { return "注释:\r\n" + GbkToUtf8(comment_); }

bool ParameterDialogModel::Change(size_t index, float value) {
    if (index >= params_.size() || !std::isfinite(value)) return false;
    FormulaParam& p = params_[index];
    const float lo = p.min, hi = p.max;
    float v = value;
    if (lo <= hi) v = std::clamp(v, lo, hi);
    if (v == p.defaultValue) return true;
    p.defaultValue = v;
    if (onChanged_) onChanged_(static_cast<int>(index), v);
    return true;
}

bool ParameterDialogModel::Spin(size_t index, bool up) {
    if (index >= params_.size()) return false;
    const float step = params_[index].step > 0 ? params_[index].step : 1.0f;
    const float current = params_[index].defaultValue;
    return Change(index, up ? current + step : current - step);
}

bool ParameterDialogModel::SetAsDefault() {
    if (!valid_) return false;
    if (prompt_.Ask("真的要将这些值设为公式的默认参数值吗?", false) != FormulaPrompt::Answer::Yes) return false;
    uint32_t source = kSourceUser;
    bool found = set_.Update(type_, name_, [&](FormulaRecord& r) {
        for (size_t i = 0; i < r.params.size() && i < params_.size(); ++i) {
            float v = params_[i].defaultValue;
            float lo = r.params[i].min, hi = r.params[i].max;
            r.params[i].defaultValue = lo <= hi ? std::clamp(v, lo, hi) : v;
        }
        source = r.sourceOrigin;
    });
    if (!found) return false;
    std::string why;
    // The program's own formulas have no file; their new defaults last for this session.
    if (source != kSourceBuiltIn) {
        set_.MarkDirty(source);
        if (!set_.SaveSource(source, &why)) prompt_.Message("公式文件保存失败: " + why);
    }
    set_.Notify(FormulaNotice{kNoticeFormulaChanged, type_, name_, {}, window_});
    return true;
}

void ParameterDialogModel::RestoreDefaults() {
    std::optional<FormulaRecord> r = set_.Find(type_, name_);
    if (!r) return;
    for (size_t i = 0; i < params_.size() && i < r->params.size(); ++i) {
        float v = r->params[i].defaultValue;
        if (params_[i].defaultValue == v) continue;
        params_[i].defaultValue = v;
        if (onChanged_) onChanged_(static_cast<int>(i), v);
    }
}

}  // namespace tessaro
