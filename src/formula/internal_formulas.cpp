#include "formula/internal_formulas.h"

#include "formula/formula_cipher.h"
#include "platform/text.h"

namespace tessaro {
namespace {

constexpr uint16_t kStyleColourStick = 3;
constexpr uint16_t kStyleVolumeStick = 4;

FormulaRecord Internal(uint32_t type, const char* name, const char* description, const char* group,
                       uint32_t usage, uint32_t period) {
    FormulaRecord r;
    r.type = type;
    r.setName(name);
    r.description = Utf8ToGbk(description);
    r.group = Utf8ToGbk(group);
    r.usageFlags = usage;
    r.defaultPeriod = period;
    r.lockChecksum = kBuiltInLockMarker;
    r.sourceOrigin = 3;
    return r;
}

void AddLine(FormulaRecord& r, const char* name, uint16_t style = kStylePlainLine) {
    OutputLineDesc d;
    d.setName(Utf8ToGbk(name));
    d.style = style;
    r.outputs.push_back(d);
}

}  // namespace

std::vector<FormulaRecord> InternalIndicators() {
    std::vector<FormulaRecord> out;
    out.push_back(Internal(kFormulaInternal, "BAR", "美国线", "内部指标", kUsageNotTimeSharing, 8));
    out.push_back(Internal(kFormulaInternal, "K", "蜡烛线", "内部指标", kUsageNotTimeSharing, 8));
    out.push_back(Internal(kFormulaInternal, "PRICE", "价位线", "内部指标", kUsageNotTimeSharing, 8));

    FormulaRecord tend = Internal(kFormulaInternal, "TEND", "分时走势", "内部指标", kUsageTimeSharingOnly, 14);
    AddLine(tend, "趋势线");
    AddLine(tend, "均价");
    out.push_back(tend);

    FormulaRecord tendv = Internal(kFormulaSubPane, "TENDV", "成交量", "", kUsageTimeSharingOnly, 14);
    AddLine(tendv, "成交量", kStyleVolumeStick);
    out.push_back(tendv);

    FormulaRecord zdl = Internal(kFormulaSubPane, "ZDL", "涨跌率", "", kUsageTimeSharingOnly | kUsageNotForOthers, 14);
    AddLine(zdl, "涨家数", kStylePlainLine);
    AddLine(zdl, "跌家数");
    AddLine(zdl, "", kStyleColourStick);
    zdl.comment = Utf8ToGbk(
        "该指标由一条上涨家数线和一条下跌家数线组成。\r\n使用方法：该指标主要通过当天各自市场的涨跌家数，"
        "分析当天各自市场所有股票的涨跌家数对比和趋势。用以辅助对已经决定当天买或卖的盘中时机参考。\r\n"
        "注意：该指标只适用与大盘指数分时，不适用个股。");
    out.push_back(zdl);

    FormulaRecord chips = Internal(kFormulaSubPane, "#CMFB", "筹码分布", "右图指标", 0, 8);
    AddLine(chips, "套牢盘(%)");
    AddLine(chips, "获利盘(%)");
    AddLine(chips, "主流成本");
    AddLine(chips, "套牢成本");
    chips.comment = Utf8ToGbk(
        "由于右图指标算法复杂度高、计算量大，故计算时需指定计算的具体时间(如某一日)，"
        "因此在K线图上只能看到最后的一组数据，通常只通过右图用鼠标移动查看。");
    out.push_back(chips);
    return out;
}

}  // namespace tessaro
