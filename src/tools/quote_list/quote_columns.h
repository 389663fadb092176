// The columns of the quote list: three fixed columns (编号, 股票代码, 股票名称) and the
// scrolling columns, each a field of the quote field catalogue or an indicator column
// holding the values of the last formula batch. Loaded from and saved to the settings
// values "BrandColName_", "BrandColWidth_" and "BrandFixColWidth_0..2".
//
// Widths are pixels; the model asks the view for text widths through TextWidthFn so
// that the width rules (caption + 5 for fixed columns, 8 digits for scrolling ones)
// follow the list font.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/security_id.h"
#include "platform/settings_store.h"
#include "tools/blocks/block_index.h"

namespace tessaro {

inline constexpr int kMinColumnWidth = 20;
inline constexpr int kFixedColumnCount = 3;
inline constexpr size_t kMaxColumnNamesBytes = 2048;
inline constexpr size_t kMaxColumnCaptionBytes = 31;  // GBK bytes

inline constexpr std::string_view kColumnNamesValue = "BrandColName_";
inline constexpr std::string_view kColumnWidthsValue = "BrandColWidth_";
inline constexpr std::string_view kFixedWidthValue = "BrandFixColWidth_%u";

// Pixel width of a UTF-8 text in the list font.
using TextWidthFn = std::function<int(std::string_view utf8)>;
// A rough measure for programs without a font: 7 pixels per character, 14 per CJK character.
int PlainTextWidth(std::string_view utf8);

// A number's text that fits `width` pixels: `text` itself when it fits, else the value in 万 or
// 亿 with as many decimals as fit; "" when nothing fits. A cut number would show wrong digits.
std::string FitNumberText(const std::string& text, double value, int width, const TextWidthFn& measure);

enum class ColumnKind { Field, Indicator };

struct QuoteColumn {
    ColumnKind kind = ColumnKind::Field;
    int field = 0;          // the catalogue field shown (field columns)
    std::string caption;    // UTF-8, at most 31 GBK bytes
    int width = 0;          // pixels
    // Indicator columns: the formula batch's results, sorted by SecurityId.
    std::string formula;    // GBK formula name
    size_t line = 0;
    std::vector<FormulaRow> results;
};

// Orders FormulaRow results for the binary search of IndicatorValue.
bool SecurityIdLess(const SecurityId& a, const SecurityId& b);
void SortIndicatorResults(std::vector<FormulaRow>& results);
// The result of a security, or nullopt when the batch did not cover it.
std::optional<float> IndicatorValue(const QuoteColumn& column, const SecurityId& id);

class QuoteColumns {
public:
    explicit QuoteColumns(TextWidthFn textWidth = PlainTextWidth);

    // The default set: 今开, 最新, 涨跌, 总手, 现手, 最高, 最低, 买一价, 卖一价, 涨幅, 换手率,
    // 市盈率, 涨速, 振幅, 总额, 量比, 委比, 昨收, then every other field but 80-82 in
    // catalogue order; every width 8 digits.
    void SetDefaults();
    // Reads the three values under Settings; missing values give the defaults. A name
    // that is not a field becomes a column of field 0 keeping its caption; widths below
    // 20 become 20, missing widths the default.
    void Load(const SettingsStore& settings);
    // Writes them back (names cut so the list fits 2048 bytes; widths in the same order).
    void Save(SettingsStore& settings) const;

    int fixedWidth(int i) const { return fixed_[i]; }
    void setFixedWidth(int i, int width);
    const std::string& fixedCaption(int i) const { return fixedCaptions_[i]; }
    int defaultWidth() const;

    size_t size() const { return columns_.size(); }
    const QuoteColumn& at(size_t i) const { return columns_[i]; }
    QuoteColumn& at(size_t i) { return columns_[i]; }
    const std::vector<QuoteColumn>& columns() const { return columns_; }

    // The column menu's operations. SetField turns a column (of either kind) into a
    // field column with the field's name as caption. False for a bad position or field.
    bool SetField(size_t column, int field);
    bool Insert(size_t before, int field);  // "插入列"
    bool Add(int field);                    // "添加列"
    bool Remove(size_t column);             // "删除列"
    void SetWidth(size_t column, int width);
    // Makes the column an indicator column over the batch results.
    bool SetIndicator(size_t column, std::string captionUtf8, std::string formulaGbk, size_t line,
                      std::vector<FormulaRow> results);

private:
    QuoteColumn FieldColumn(int field) const;

    TextWidthFn textWidth_;
    std::vector<QuoteColumn> columns_;
    int fixed_[kFixedColumnCount] = {};
    std::string fixedCaptions_[kFixedColumnCount];
};

// The column menu: "基本行情" holds fields 0-40, "财务数据" 41-79.
inline constexpr int kMenuQuoteFieldsLast = 40;
inline constexpr int kMenuFinanceFieldsLast = 79;

}  // namespace tessaro
