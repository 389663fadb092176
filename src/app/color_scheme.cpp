#include "app/color_scheme.h"

#include "platform/text.h"

namespace tessaro {

namespace {

constexpr uint8_t kGb2312CharSet = 134;
constexpr uint8_t kAnsiCharSet = 0;

LogFont MakeFont(std::string_view utf8Face, int32_t height, int32_t weight) {
    LogFont f;
    f.height = height;
    f.weight = weight;
    std::string face = Utf8ToGbk(utf8Face);
    f.charSet = utf8Face == "Arial" || utf8Face == "System" ? kAnsiCharSet : kGb2312CharSet;
    CopyToField(f.faceName, face);
    return f;
}

struct Palette {
    ColorRef background, axis, bigTitle, rising, falling, usBar, trendLine, chartText, highlight, listFrame,
        listUp, listFlat, listDown, trapped, profit, averageCost;
    ColorRef indicators[16];
};

ColorScheme MakeScheme(std::string_view utf8Name, const Palette& p, int fontSize) {
    ColorScheme s;
    CopyToField(s.name, Utf8ToGbk(utf8Name));
    const ColorRef first[16] = {p.background, p.axis,      p.bigTitle, p.rising,    p.falling,  p.usBar,
                                p.trendLine,  p.chartText, p.highlight, p.listFrame, p.listUp,   p.listFlat,
                                p.listDown,   p.trapped,   p.profit,   p.averageCost};
    for (int i = 0; i < 16; ++i) s.colors[i] = first[i];
    for (int i = 0; i < 16; ++i) s.colors[kColorIndicator1 + i] = p.indicators[i];
    s.fonts[kFontList] = MakeFont("宋体", -fontSize, 400);
    s.fonts[kFontChart] = MakeFont("Arial", -fontSize, 400);
    s.fonts[kFontBigTitle] = MakeFont("楷体_GB2312", -(fontSize + 6), 700);
    s.fonts[kFontInfo] = MakeFont("宋体", -fontSize, 400);
    s.fonts[kFontTicker] = MakeFont("System", -fontSize, 700);
    return s;
}

// Indicator lines on a dark background: white, yellow, magenta, green, then softer tones.
// 趋势线 (the time-sharing price line) stays apart from 第2条指标线 (its average line).
constexpr Palette kDark = {
    Rgb(0, 0, 0),       Rgb(192, 0, 0),     Rgb(255, 255, 0),   Rgb(255, 60, 60),  Rgb(0, 255, 255),
    Rgb(192, 192, 192), Rgb(255, 255, 255), Rgb(192, 192, 192), Rgb(0, 0, 128),    Rgb(128, 0, 0),
    Rgb(255, 60, 60),   Rgb(255, 255, 255), Rgb(0, 230, 0),     Rgb(0, 128, 255),  Rgb(255, 0, 0),
    Rgb(255, 255, 0),
    {Rgb(255, 255, 255), Rgb(255, 255, 0), Rgb(255, 0, 255), Rgb(0, 255, 0), Rgb(0, 255, 255),
     Rgb(255, 128, 0), Rgb(128, 128, 255), Rgb(255, 128, 192), Rgb(128, 255, 128), Rgb(192, 192, 0),
     Rgb(0, 192, 192), Rgb(192, 0, 192), Rgb(255, 192, 128), Rgb(128, 192, 255), Rgb(192, 128, 64),
     Rgb(160, 160, 160)},
};

constexpr Palette kFashion = {
    Rgb(0, 24, 48),     Rgb(64, 96, 160),   Rgb(255, 220, 120), Rgb(255, 80, 80),  Rgb(80, 220, 160),
    Rgb(200, 200, 220), Rgb(240, 240, 255), Rgb(210, 210, 230), Rgb(32, 64, 112),  Rgb(48, 72, 120),
    Rgb(255, 80, 80),   Rgb(230, 230, 240), Rgb(80, 220, 160),  Rgb(64, 160, 255), Rgb(255, 96, 64),
    Rgb(255, 220, 120),
    {Rgb(240, 240, 255), Rgb(255, 220, 120), Rgb(240, 120, 240), Rgb(120, 240, 120), Rgb(120, 220, 255),
     Rgb(255, 160, 64), Rgb(160, 160, 255), Rgb(255, 160, 200), Rgb(160, 255, 160), Rgb(220, 220, 96),
     Rgb(96, 220, 220), Rgb(220, 96, 220), Rgb(255, 200, 160), Rgb(160, 200, 255), Rgb(220, 160, 96),
     Rgb(176, 176, 192)},
};

constexpr Palette kWhiteBlack = {
    Rgb(255, 255, 255), Rgb(96, 96, 96),    Rgb(0, 0, 160),     Rgb(220, 0, 0),    Rgb(0, 128, 0),
    Rgb(0, 0, 0),       Rgb(0, 0, 160),     Rgb(0, 0, 0),       Rgb(220, 230, 250), Rgb(160, 160, 160),
    Rgb(220, 0, 0),     Rgb(0, 0, 0),       Rgb(0, 128, 0),     Rgb(0, 96, 200),   Rgb(220, 0, 0),
    Rgb(160, 96, 0),
    {Rgb(0, 0, 0), Rgb(200, 140, 0), Rgb(192, 0, 192), Rgb(0, 140, 0), Rgb(0, 120, 200), Rgb(220, 90, 0),
     Rgb(80, 80, 200), Rgb(200, 60, 120), Rgb(60, 160, 60), Rgb(140, 140, 0), Rgb(0, 140, 140),
     Rgb(140, 0, 140), Rgb(200, 120, 60), Rgb(60, 120, 200), Rgb(140, 90, 40), Rgb(112, 112, 112)},
};

}  // namespace

std::array<ColorScheme, kSchemeCount> BuiltInSchemes() {
    return {
        MakeScheme("经典(大)", kDark, 16),
        MakeScheme("经典", kDark, 12),
        MakeScheme("时尚", kFashion, 12),
        MakeScheme("白黑", kWhiteBlack, 12),
    };
}

int FindScheme(const std::array<ColorScheme, kSchemeCount>& schemes, std::string_view gbkName) {
    for (int i = 0; i < kSchemeCount; ++i)
        if (FieldText(schemes[i].name) == gbkName) return i;
    return 0;
}

}  // namespace tessaro
