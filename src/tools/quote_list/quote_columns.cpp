#include "tools/quote_list/quote_columns.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "app/settings.h"
#include "market/quote_fields.h"
#include "platform/text.h"

namespace tessaro {

namespace {

constexpr int kDefaultOrder[] = {kFieldOpen,     kFieldLast,     kFieldChange,     kFieldVolume,  kFieldLastVolume,
                                 kFieldHigh,     kFieldLow,      kFieldBidPrice1,  kFieldAskPrice1,
                                 kFieldChangePct, kFieldTurnover, kFieldPe,        kFieldSpeed,   kFieldAmplitude,
                                 kFieldAmount,   kFieldVolumeRatio, kFieldBidRatio, kFieldPrevClose};

std::vector<std::string> SplitComma(std::string_view text) {
    std::vector<std::string> out;
    if (text.empty()) return out;
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        out.emplace_back(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return out;
}

// The caption as stored: at most 31 GBK bytes, never splitting a character.
std::string CaptionUtf8(std::string_view utf8) { return GbkToUtf8(CutGbk(Utf8ToGbk(utf8), kMaxColumnCaptionBytes)); }

}  // namespace

std::string FitNumberText(const std::string& text, double value, int width, const TextWidthFn& measure) {
    if (measure(text) <= width) return text;
    if (!std::isfinite(value)) return {};  // no 万 or 亿 of NaN
    for (auto [scale, unit] : {std::pair{1e4, "万"}, std::pair{1e8, "亿"}}) {
        if (std::fabs(value) < scale) continue;
        for (int decimals = 2; decimals >= 0; --decimals) {
            char shorter[64];
            std::snprintf(shorter, sizeof shorter, "%.*f%s", decimals, value / scale, unit);
            if (measure(shorter) <= width) return shorter;
        }
    }
    return {};
}

int PlainTextWidth(std::string_view utf8) {
    int width = 0;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        width += n == 1 ? 7 : 14;
        i += n;
    }
    return width;
}

bool SecurityIdLess(const SecurityId& a, const SecurityId& b) {
    if (a.market != b.market) return a.market < b.market;
    return CompareNoCase(a.codeText(), b.codeText()) < 0;
}

void SortIndicatorResults(std::vector<FormulaRow>& results) {
    std::stable_sort(results.begin(), results.end(),
                     [](const FormulaRow& a, const FormulaRow& b) { return SecurityIdLess(a.entry.id, b.entry.id); });
}

std::optional<float> IndicatorValue(const QuoteColumn& column, const SecurityId& id) {
    auto it = std::lower_bound(column.results.begin(), column.results.end(), id,
                               [](const FormulaRow& r, const SecurityId& key) { return SecurityIdLess(r.entry.id, key); });
    if (it == column.results.end() || !SameSecurity(it->entry.id, id)) return std::nullopt;
    const float value = it->result;  // a copy: the 50-byte record is packed
    return value;
}

QuoteColumns::QuoteColumns(TextWidthFn textWidth) : textWidth_(textWidth ? std::move(textWidth) : PlainTextWidth) {
    for (int i = 0; i < kFixedColumnCount; ++i) fixedCaptions_[i] = std::string(QuoteFieldName(kFieldNumber + i));
    SetDefaults();
}

int QuoteColumns::defaultWidth() const { return 8 * textWidth_("0"); }

QuoteColumn QuoteColumns::FieldColumn(int field) const {
    QuoteColumn c;
    c.kind = ColumnKind::Field;
    c.field = field;
    c.caption = std::string(QuoteFieldName(field));
    c.width = defaultWidth();
    return c;
}

void QuoteColumns::SetDefaults() {
    columns_.clear();
    for (int f : kDefaultOrder) columns_.push_back(FieldColumn(f));
    for (int f = 0; f < kFieldNumber; ++f)
        if (std::find(std::begin(kDefaultOrder), std::end(kDefaultOrder), f) == std::end(kDefaultOrder))
            columns_.push_back(FieldColumn(f));
    for (int i = 0; i < kFixedColumnCount; ++i) fixed_[i] = textWidth_(fixedCaptions_[i]) + 5;
}

void QuoteColumns::Load(const SettingsStore& settings) {
    SetDefaults();
    const std::string key = SettingsKey(kSettingsSubKey);
    if (std::optional<std::string> names = settings.getString(key, kColumnNamesValue); names && !names->empty()) {
        std::string_view gbk = CutGbk(*names, kMaxColumnNamesBytes);
        std::vector<std::string> widths;
        if (auto w = settings.getString(key, kColumnWidthsValue)) widths = SplitComma(*w);
        std::vector<QuoteColumn> loaded;
        std::vector<std::string> parts = SplitComma(gbk);
        for (size_t i = 0; i < parts.size(); ++i) {
            std::string caption = CaptionUtf8(GbkToUtf8(parts[i]));
            if (caption.empty()) continue;  // ",," or a trailing comma
            int field = FindQuoteField(caption);
            QuoteColumn c = FieldColumn(field >= 0 && field < kFieldNumber ? field : 0);
            c.caption = caption;  // an unknown name keeps its caption and shows field 0
            if (i < widths.size()) {
                char* end = nullptr;
                long w = std::strtol(widths[i].c_str(), &end, 10);
                if (end != widths[i].c_str()) c.width = static_cast<int>(std::clamp<long>(w, kMinColumnWidth, 10000));
            }
            loaded.push_back(std::move(c));
        }
        if (!loaded.empty()) columns_ = std::move(loaded);
    }
    for (int i = 0; i < kFixedColumnCount; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, kFixedWidthValue.data(), static_cast<unsigned>(i));
        if (std::optional<uint32_t> w = settings.getDword(key, name); w && *w != 0)
            fixed_[i] = static_cast<int>(std::clamp<uint32_t>(*w, kMinColumnWidth, 10000));
    }
}

void QuoteColumns::Save(SettingsStore& settings) const {
    const std::string key = SettingsKey(kSettingsSubKey);
    std::string names, widths;
    for (const QuoteColumn& c : columns_) {
        std::string gbk = Utf8ToGbk(c.caption);
        if (names.size() + gbk.size() + (names.empty() ? 0 : 1) > kMaxColumnNamesBytes) break;
        if (!names.empty()) {
            names += ',';
            widths += ',';
        }
        names += gbk;
        widths += std::to_string(std::max(c.width, kMinColumnWidth));
    }
    settings.setString(key, kColumnNamesValue, names);
    settings.setString(key, kColumnWidthsValue, widths);
    for (int i = 0; i < kFixedColumnCount; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, kFixedWidthValue.data(), static_cast<unsigned>(i));
        if (fixed_[i] > 0) settings.setDword(key, name, static_cast<uint32_t>(fixed_[i]));
    }
}

void QuoteColumns::setFixedWidth(int i, int width) {
    if (i >= 0 && i < kFixedColumnCount) fixed_[i] = std::max(width, kMinColumnWidth);
}

bool QuoteColumns::SetField(size_t column, int field) {
    if (column >= columns_.size() || field < 0 || field >= kFieldNumber) return false;
    int width = columns_[column].width;
    columns_[column] = FieldColumn(field);
    columns_[column].width = width;
    return true;
}

bool QuoteColumns::Insert(size_t before, int field) {
    if (before > columns_.size() || field < 0 || field >= kFieldNumber) return false;
    columns_.insert(columns_.begin() + static_cast<std::ptrdiff_t>(before), FieldColumn(field));
    return true;
}

bool QuoteColumns::Add(int field) { return Insert(columns_.size(), field); }

bool QuoteColumns::Remove(size_t column) {
    if (column >= columns_.size()) return false;
    columns_.erase(columns_.begin() + static_cast<std::ptrdiff_t>(column));
    return true;
}

void QuoteColumns::SetWidth(size_t column, int width) {
    if (column < columns_.size()) columns_[column].width = std::max(width, kMinColumnWidth);
}

bool QuoteColumns::SetIndicator(size_t column, std::string captionUtf8, std::string formulaGbk, size_t line,
                                std::vector<FormulaRow> results) {
    if (column >= columns_.size()) return false;
    QuoteColumn& c = columns_[column];
    c.kind = ColumnKind::Indicator;
    c.field = 0;
    c.caption = CaptionUtf8(captionUtf8);
    c.formula = std::move(formulaGbk);
    c.line = line;
    SortIndicatorResults(results);
    c.results = std::move(results);
    return true;
}

}  // namespace tessaro
