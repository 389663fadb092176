#include "platform/period.h"

#include <charconv>
#include <ostream>

#include "platform/text.h"

namespace tessaro {
namespace {

struct PeriodInfo {
    Period period;
    std::string_view keyword;
    std::string_view name;
    std::string_view shortName;
    std::string_view dirName;
};

constexpr PeriodInfo kPeriods[kPeriodCount] = {
    {kPeriodTick, "tick", "分笔成交", "分笔", ""},
    {kPeriodMin1, "min1", "1分钟线", "1分钟", "min"},
    {kPeriodMin5, "min5", "5分钟线", "5分钟", "fiv"},
    {kPeriodMin15, "min15", "15分钟线", "15分钟", ""},
    {kPeriodMin30, "min30", "30分钟线", "30分钟", ""},
    {kPeriodMin60, "min60", "60分钟线", "60分钟", ""},
    {kPeriodDay, "day", "日线", "日线", "day"},
    {kPeriodWeek, "week", "周线", "周线", ""},
    {kPeriodMonth, "month", "月线", "月线", ""},
    {kPeriodQuarter, "QUARTER", "季线", "季线", ""},
    {kPeriodYear, "YEAR", "年线", "年线", ""},
    {kPeriodMultiDay, "MULTI", "多日线", "多日线", ""},
    {kPeriodTime, "TIME", "分时", "分时线", ""},
};

const PeriodInfo* Find(Period p) {
    if (!IsValidPeriod(p)) return nullptr;
    return &kPeriods[PeriodNumber(p) - PeriodNumber(kPeriodTick)];
}

}  // namespace

Period PeriodFromKeyword(std::string_view keyword) {
    for (const PeriodInfo& info : kPeriods)
        if (EqualsNoCase(keyword, info.keyword)) return info.period;
    return kPeriodInvalid;
}

std::string_view PeriodKeyword(Period p) {
    const PeriodInfo* info = Find(p);
    return info ? info->keyword : std::string_view();
}

std::string_view PeriodName(Period p) {
    const PeriodInfo* info = Find(p);
    return info ? info->name : std::string_view();
}

std::string_view PeriodShortName(Period p) {
    const PeriodInfo* info = Find(p);
    return info ? info->shortName : std::string_view();
}

std::string_view PeriodDirName(Period p) {
    const PeriodInfo* info = Find(p);
    return info ? info->dirName : std::string_view();
}

Period PeriodFromDirName(std::string_view name) {
    if (name.empty()) return kPeriodInvalid;
    for (const PeriodInfo& info : kPeriods)
        if (info.dirName == name) return info.period;
    return kPeriodInvalid;
}

std::ostream& operator<<(std::ostream& out, Period p) { return out << PeriodNumber(p); }

Period PeriodFromText(std::string_view text) {
    Period p = PeriodFromKeyword(text);
    if (p != kPeriodInvalid) return p;
    int n = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size()) return kPeriodInvalid;
    return PeriodFromNumber(n);
}

}  // namespace tessaro
