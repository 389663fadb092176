#include "market/bars_csv.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "platform/byte_order_mark.h"
#include "platform/store_time.h"
#include "platform/text.h"

namespace tessaro {
namespace {

bool Fail(Series& out, std::string* error, size_t line, const std::string& why) {
    out.clear();  // all or nothing
    if (error) *error = "line " + std::to_string(line) + ": " + why;
    return false;
}

bool ParseNumber(std::string_view text, float& out) {
    text = TrimAscii(text);
    if (text.empty()) return false;
    if (text.front() == '+') text.remove_prefix(1);
    double v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return false;
    if (std::fabs(v) > 3.4e38) return false;  // beyond single precision
    out = static_cast<float>(v);
    return true;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
        size_t comma = line.find(',', start);
        fields.push_back(line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return fields;
}

}  // namespace

bool ParseBarsCsv(std::string_view text, Series& out, std::string* error) {
    return ParseBarsCsv(text, out, error, BarsCsvOptions{});
}

bool ParseBarsCsv(std::string_view text, Series& out, std::string* error, const BarsCsvOptions& options) {
    out.clear();
    text = SkipByteOrderMark(text);
    size_t lineNo = 0;
    bool first = true;
    while (!text.empty()) {
        size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (TrimAscii(line).empty()) continue;
        if (first) {
            first = false;
            char c = TrimAscii(line).front();
            if (c < '0' || c > '9') continue;  // the header
        }
        std::vector<std::string_view> f = SplitFields(line);
        if (f.size() != 7) return Fail(out, error, lineNo, "expected 7 fields (date,open,high,low,close,volume,amount)");
        KLineRecord bar;
        StoreTime t = 0;
        if (!ParseStoreTime(TrimAscii(f[0]), t)) return Fail(out, error, lineNo, "bad date '" + std::string(f[0]) + "'");
        float v[6];
        for (int k = 0; k < 6; ++k)
            if (!ParseNumber(f[static_cast<size_t>(k) + 1], v[k]))
                return Fail(out, error, lineNo, "bad number '" + std::string(f[static_cast<size_t>(k) + 1]) + "'");
        if (options.increasingDates && !out.bars.empty() && t <= out.bars.back().time)
            return Fail(out, error, lineNo, "dates must increase");
        static const char* const kNames[6] = {"open", "high", "low", "close", "volume", "amount"};
        for (int k = 0; k < 6; ++k)
            if (v[k] < 0) return Fail(out, error, lineNo, std::string("negative ") + kNames[k]);
        if (v[1] < v[2]) return Fail(out, error, lineNo, "high below low");
        bar.time = t;
        bar.open = v[0];
        bar.high = v[1];
        bar.low = v[2];
        bar.close = v[3];
        bar.volume = v[4];
        bar.amount = v[5];
        out.push(bar);
    }
    return true;
}

}  // namespace tessaro
