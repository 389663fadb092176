// Colour schemes: four built-in sets of 32 colours and 5 fonts, one of them active.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tessaro {

// 0x00BBGGRR, as the screen's colour values are stored.
using ColorRef = uint32_t;
constexpr ColorRef Rgb(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<ColorRef>(r) | static_cast<ColorRef>(g) << 8 | static_cast<ColorRef>(b) << 16;
}

// The 32 colours of a scheme, in stored order.
enum SchemeColor : int {
    kColorBackground = 0,    // 背景
    kColorAxis = 1,          // 坐标: frames, grid and axis labels
    kColorBigTitle = 2,      // 大标题
    kColorRising = 3,        // 阳线
    kColorFalling = 4,       // 阴线
    kColorUsBar = 5,         // 美国线: US bars and the price line
    kColorTrendLine = 6,     // 趋势线
    kColorChartText = 7,     // 图形文字
    kColorHighlight = 8,     // 突出背景
    kColorListFrame = 9,     // 列表框线
    kColorListUp = 10,       // 列表上涨
    kColorListFlat = 11,     // 列表平盘
    kColorListDown = 12,     // 列表下跌
    kColorTrappedChips = 13, // 套牢盘
    kColorProfitChips = 14,  // 获利盘
    kColorAverageCost = 15,  // 平均成本
    kColorIndicator1 = 16,   // 第1条指标线 .. 第16条指标线 are 16..31
    kSchemeColorCount = 32,
};
// Colour of the n-th indicator line (n from 1; taken modulo 16).
constexpr int IndicatorColor(int n) { return kColorIndicator1 + ((n - 1) % 16 + 16) % 16; }

// The 5 fonts of a scheme.
enum SchemeFont : int {
    kFontList = 0,      // quote list
    kFontChart = 1,     // 图形字体: chart texts
    kFontBigTitle = 2,  // big titles
    kFontInfo = 3,      // information panel
    kFontTicker = 4,    // ticker and status bar
    kSchemeFontCount = 5,
};

#pragma pack(push, 1)
// 60 bytes: a font description in the stored layout (face name GBK).
struct LogFont {
    int32_t height = 0;  // negative: character height in pixels
    int32_t width = 0;
    int32_t escapement = 0;
    int32_t orientation = 0;
    int32_t weight = 400;  // 400 normal, 700 bold
    uint8_t italic = 0;
    uint8_t underline = 0;
    uint8_t strikeOut = 0;
    uint8_t charSet = 0;
    uint8_t outPrecision = 0;
    uint8_t clipPrecision = 0;
    uint8_t quality = 0;
    uint8_t pitchAndFamily = 0;
    char faceName[32] = {};
};
static_assert(sizeof(LogFont) == 60);

// 444 bytes: name, 32 colours, 5 fonts.
struct ColorScheme {
    char name[16] = {};  // GBK
    ColorRef colors[kSchemeColorCount] = {};
    LogFont fonts[kSchemeFontCount] = {};
};
static_assert(sizeof(ColorScheme) == 444);
static_assert(sizeof(ColorScheme::colors) == 128 && sizeof(ColorScheme::fonts) == 300);
#pragma pack(pop)

inline constexpr int kSchemeCount = 4;

// The built-in schemes in order: "经典(大)", "经典", "时尚", "白黑".
std::array<ColorScheme, kSchemeCount> BuiltInSchemes();

// The index of the scheme with this GBK name; 0 (the first) when none has it.
int FindScheme(const std::array<ColorScheme, kSchemeCount>& schemes, std::string_view gbkName);

}  // namespace tessaro
