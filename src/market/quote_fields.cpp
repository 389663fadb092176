#include "market/quote_fields.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "market/periods.h"
#include "platform/store_time.h"
#include "platform/text.h"

namespace tessaro {
namespace {

constexpr double kZero = 0.00001;

constexpr std::string_view kNames[kQuoteFieldCount] = {
    "昨收", "今开", "最高", "最低", "最新", "涨幅", "总手", "现手", "总额", "均价",
    "涨跌", "振幅", "换手率", "委比", "委差", "5日均量", "量比", "涨速", "内盘", "外盘",
    "买一价", "买二价", "买三价", "买四价", "买五价", "买一量", "买二量", "买三量", "买四量", "买五量",
    "卖一价", "卖二价", "卖三价", "卖四价", "卖五价", "卖一量", "卖二量", "卖三量", "卖四量", "卖五量",
    "市盈率", "更新日期",
    "总股本", "国家股", "发起法人股", "法人股", "B股", "H股", "流通A股", "职工股", "A2转配股",
    "总资产", "流动资产", "固定资产", "无形资产", "长期投资", "流动负债", "长期负债", "资本公积金",
    "每股公积金", "股东权益", "主营收入", "主营利润", "其他利润", "营业利润", "投资收益", "补贴收入",
    "营业外收支", "上年损益调整", "利润总额", "税后利润", "净利润", "未分配利润", "每股未分配",
    "每股收益", "每股净资产", "调整每股净资", "股东权益比", "净资收益率",
    "年/中/季报", "编号", "股票代码", "股票名称",
};

// Finance figures (index into FinanceBlock::figures).
constexpr int kFigureEps = 32;  // 每股收益

bool Missing(double v) { return !std::isfinite(v) || std::fabs(v) <= kZero; }

int Sign(double v) { return v > kZero ? 1 : v < -kZero ? -1 : 0; }

// "%" + "+"? + "0." + decimals + "f" + "%%"?
QuoteCell Number(double v, int decimals, bool sign, bool percent, int colorSign) {
    QuoteCell cell;
    if (Missing(v)) return cell;
    decimals = std::clamp(decimals, 0, 6);
    char format[16];
    std::snprintf(format, sizeof format, "%%%s0.%df%s", sign ? "+" : "", decimals, percent ? "%%" : "");
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    cell.present = true;
    cell.value = v;
    cell.text = text;
    cell.colorSign = colorSign;
    return cell;
}

QuoteCell Text(std::string text, double value = 0) {
    QuoteCell cell;
    if (text.empty()) return cell;
    cell.present = true;
    cell.value = value;
    cell.text = std::move(text);
    return cell;
}

// The decimals of finance figure f (0..36): the nine capital items 1, the per-share
// items 3, the others the security's price decimals.
int FigureDecimals(int f, int priceDecimals) {
    if (f <= 8) return 1;
    if (f == 17 || f == 31 || f == 32 || f == 33 || f == 34) return 3;
    return priceDecimals;
}

// 市盈率 annualises the earnings per share by the report kind.
double EarningsFactor(float reportKind) {
    if (reportKind == 1.0f) return 2;
    if (reportKind == 2.0f) return 4;
    if (reportKind == 3.0f) return 2;
    if (reportKind == 4.0f) return 4.0 / 3.0;
    return 1;
}

std::string UpdateDateText(uint32_t v) {
    if (v == 0) return {};
    CivilDate date;
    // A stored YYYYMMDD number is taken as it stands; otherwise the value is a time in
    // seconds since 1970 UTC shown as the market's calendar date.
    if (v >= 19000101 && v <= 29991231 && v % 100 >= 1 && v % 100 <= 31 && v / 100 % 100 >= 1 &&
        v / 100 % 100 <= 12) {
        date = CivilDate{static_cast<int>(v / 10000), static_cast<int>(v / 100 % 100), static_cast<int>(v % 100)};
    } else {
        date = CivilFromDay(static_cast<int32_t>(StoreDay(StoreTimeFromUnix(v))));
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04u%02u%02u", static_cast<unsigned>(date.year),
                  static_cast<unsigned>(date.month), static_cast<unsigned>(date.day));
    return text;
}

// Packed security number: a Shenzhen code n is n, a Shanghai code n is 1000000 + n; -1
// for a code that is not six digits or another market.
int64_t PackedNumber(const SecurityId& id) {
    std::string_view code = id.codeText();
    if (code.size() != 6) return -1;
    int64_t n = 0;
    for (char c : code) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    if (id.market == kMarketSZ) return n;
    if (id.market == kMarketSH) return 1000000 + n;
    return -1;
}

}  // namespace

std::string_view QuoteFieldName(int index) {
    return index >= 0 && index < kQuoteFieldCount ? kNames[index] : std::string_view();
}

int FindQuoteField(std::string_view utf8Name) {
    std::string_view name = TrimAscii(utf8Name);
    for (int i = 0; i < kQuoteFieldCount; ++i)
        if (EqualsNoCase(name, kNames[i])) return i;
    return -1;
}

int FindQuoteFieldGbk(std::string_view gbkName) { return FindQuoteField(GbkToUtf8(gbkName)); }

int LotSizeOfClass(int securityClass) {
    if (securityClass == kClassIndex) return 0;
    if (securityClass == kClassBond) return 10;
    return 100;
}

QuoteCell ComputeQuoteField(int index, const StockRecord& record, int priceDecimals) {
    const int pd = std::clamp(priceDecimals, 0, 6);
    const QuoteSnapshot& q = record.quote;
    const double prevClose = q.prevClose;
    const double last = q.bar.close;
    auto vsPrev = [&](double v) { return Missing(prevClose) ? 0 : Sign(v - prevClose); };
    auto price = [&](double v) { return Number(v, pd, false, false, vsPrev(v)); };

    if (index >= kFieldBidPrice1 && index < kFieldBidPrice1 + 5) return price(q.book.bidPrice[index - 20]);
    if (index >= kFieldBidVolume1 && index < kFieldBidVolume1 + 5)
        return Number(q.book.bidVolume[index - 25], 0, false, false, 1);
    if (index >= kFieldAskPrice1 && index < kFieldAskPrice1 + 5) return price(q.book.askPrice[index - 30]);
    if (index >= kFieldAskVolume1 && index < kFieldAskVolume1 + 5)
        return Number(q.book.askVolume[index - 35], 0, false, false, -1);
    if (index >= kFieldFinance1 && index < kFieldFinance1 + kFinanceFigures) {
        int f = index - kFieldFinance1;
        double v = record.finance.figures[f];
        return Number(v, FigureDecimals(f, pd), false, false, Sign(v));
    }

    switch (index) {
        case kFieldPrevClose: return Number(prevClose, pd, false, false, 0);
        case kFieldOpen: return price(q.bar.open);
        case kFieldHigh: return price(q.bar.high);
        case kFieldLow: return price(q.bar.low);
        case kFieldLast: return price(last);
        case kFieldChangePct:
            if (Missing(last) || Missing(prevClose)) return {};
            return Number((last - prevClose) / prevClose * 100, 2, true, true, vsPrev(last));
        case kFieldChange:
            if (Missing(last) || Missing(prevClose)) return {};
            return Number(last - prevClose, pd, true, false, vsPrev(last));
        case kFieldVolume: return Number(q.bar.volume, 0, false, false, 0);
        case kFieldLastVolume:
            return Number(q.lastTrade.volume, 0, false, false, q.lastTrade.direction > 0   ? 1
                                                               : q.lastTrade.direction < 0 ? -1
                                                                                           : 0);
        case kFieldAmount: {
            QuoteCell cell = Number(q.bar.amount / 10000.0, 0, false, false, 0);
            if (cell.present) cell.value = q.bar.amount;
            return cell;
        }
        case kFieldAvgPrice: {
            int lot = LotSizeOfClass(record.entry.securityClass);
            if (lot == 0 || Missing(q.bar.volume) || Missing(q.bar.amount)) return {};
            double avg = double(q.bar.amount) / (double(q.bar.volume) * lot);
            return price(avg);
        }
        case kFieldAmplitude:
            if (Missing(prevClose) || Missing(q.bar.high) || Missing(q.bar.low)) return {};
            return Number((double(q.bar.high) - q.bar.low) / prevClose * 100, 2, false, true, 0);
        case kFieldTurnover:
            if (Missing(q.capital.circulating)) return {};
            return Number(q.bar.volume / double(q.capital.circulating) * 100, 2, false, true, 0);
        case kFieldBidRatio:
        case kFieldBidDiff: {
            double bid = 0, ask = 0;
            for (int i = 0; i < 5; ++i) {
                bid += q.book.bidVolume[i];
                ask += q.book.askVolume[i];
            }
            if (index == kFieldBidDiff) return Number(bid - ask, 0, true, false, Sign(bid - ask));
            if (Missing(bid + ask)) return {};
            double ratio = (bid - ask) / (bid + ask) * 100;
            return Number(ratio, 2, true, true, Sign(ratio));
        }
        case kFieldAvgVolume5: return Number(q.avgVolume5, 0, false, false, 0);
        case kFieldVolumeRatio: {
            if (Missing(q.avgVolume5)) return {};
            int slot = MinuteSlotIndex(TimeOfDay(q.bar.time), true);
            double ratio = double(q.bar.volume) * kTradingMinutes / ((slot + 1) * double(q.avgVolume5));
            return Number(ratio, 2, false, false, 0);
        }
        case kFieldSpeed: {
            if (Missing(last) || Missing(q.price5MinAgo)) return {};
            double speed = (last - q.price5MinAgo) / last * 100;
            return Number(speed, 2, true, true, Sign(speed));
        }
        case kFieldSellSide: return Number(q.lastTrade.sellVolume, 0, false, false, -1);
        case kFieldBuySide: return Number(q.lastTrade.buyVolume, 0, false, false, 1);
        case kFieldPe: {
            double product = double(record.finance.figures[kFigureEps]) * EarningsFactor(record.finance.reportKind);
            if (Missing(product) || Missing(last)) return {};
            return Number(last / product, 2, false, false, 0);
        }
        case kFieldUpdateDate: return Text(UpdateDateText(record.finance.updateDate), record.finance.updateDate);
        case kFieldReportKind: {
            static constexpr std::string_view kKinds[6] = {"年报", "中报", "一季报", "二季报", "三季报", "四季报"};
            float kind = record.finance.reportKind;
            for (int k = 0; k < 6; ++k)
                if (kind == static_cast<float>(k)) return Text(std::string(kKinds[k]), k);
            return {};
        }
        case kFieldNumber: {
            int64_t n = PackedNumber(record.entry.id);
            if (n < 0) return {};
            return Text(std::to_string(n), static_cast<double>(n));
        }
        case kFieldCode: return Text(std::string(record.entry.id.codeText()));
        case kFieldName: return Text(GbkToUtf8(record.entry.nameText()));
        default: return {};
    }
}

}  // namespace tessaro
