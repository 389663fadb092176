#include "cli_parsing.h"

#include <charconv>

#include "market/exrights_adjust.h"
#include "session/session.h"

namespace tessaro::cli {

std::string ResolveDirOption(const std::optional<std::string>& option) { return ResolveSessionAppDir(option); }

std::string ResolveDir(Args& args) { return ResolveDirOption(args.option("appdir")); }

bool ParseInteger(const std::string& text, long long lo, long long hi, long long& out) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && out >= lo && out <= hi;
}

Period ParsePeriodText(const std::string& text) { return PeriodFromText(text); }

Period ParseHistoryPeriod(const std::string& text) {
    Period period = PeriodFromDirName(text);
    if (period == kPeriodInvalid) period = PeriodFromText(text);
    return PeriodDirName(period).empty() ? kPeriodInvalid : period;
}

bool ParseAdjustOption(const std::optional<std::string>& adjust, int& flags) {
    flags = 0;
    if (!adjust || *adjust == "forward") return true;
    if (*adjust == "backward") {
        flags = kExRightsBackward;
        return true;
    }
    if (*adjust == "none") {
        flags = kExRightsNone;
        return true;
    }
    return false;
}

}  // namespace tessaro::cli
