#include "ui/model/commands.h"

#include <algorithm>

namespace tessaro {
namespace {

using C = CommandId;
using N = CommandNeed;
using M = MenuId;

std::vector<CommandInfo> BuildTable() {
    return {
        // 文件(&F)
        {C::SelectSecurity, "选择股票(&S)", "F2", M::File, kInAllBars, N::Tool},
        {C::Open, "打开(&O)", "Return", M::File, kInQuoteList, N::ActiveView, ViewKind::Chart, true},
        {C::OpenNewWindow, "打开新窗口(&N)", "Ctrl+Return", M::File, kInQuoteList, N::ActiveView, ViewKind::Chart},
        {C::AddToOwnStocks, "加入自选股(&A)", "Ctrl+A", M::File, kInViewBars, N::ActiveView, ViewKind::QuoteList, true},
        {C::DeleteFromBlock, "从板块中删除(&D)", "Ctrl+X", M::File, kInQuoteList, N::ActiveView},
        {C::Exit, "退出(&Q)", "Alt+F4", M::File, kInAllBars, N::MainWindow, ViewKind::QuoteList, true},
        // 查看(&V)
        {C::PriceBoard, "动态显示牌(&B)", "", M::View, kInAllBars, N::OpensView, ViewKind::QuoteList},
        {C::News, "公告新闻(&N)", "F9", M::View, kInViewBars, N::OpensView, ViewKind::Text, true},
        {C::CompanyInfo, "基本资料(&C)", "F10", M::View, kInViewBars, N::OpensView, ViewKind::Text},
        {C::DynamicRanking, "动态排行(&R)", "Ctrl+R", M::View, kInAllBars, N::OpensView, ViewKind::QuoteList, true},
        {C::TickDetail, "分手明细(&V)", "Ctrl+V", M::View, kInViewBars, N::OpensView, ViewKind::QuoteList},
        {C::PriceDetail, "分价明细(&P)", "Ctrl+P", M::View, kInViewBars, N::OpensView, ViewKind::QuoteList},
        {C::RankingShA, "沪A综合排名(&1)", "", M::View, kInAllBars, N::OpensView, ViewKind::QuoteList, true},
        {C::RankingShB, "沪B综合排名(&2)", "", M::View, kInAllBars, N::OpensView, ViewKind::QuoteList},
        {C::RankingSzA, "深A综合排名(&3)", "", M::View, kInAllBars, N::OpensView, ViewKind::QuoteList},
        {C::RankingSzB, "深B综合排名(&4)", "", M::View, kInAllBars, N::OpensView, ViewKind::QuoteList},
        {C::RankingA, "A股综合排名(&5)", "", M::View, kInAllBars, N::OpensView, ViewKind::QuoteList},
        {C::RankingB, "B股综合排名(&6)", "", M::View, kInAllBars, N::OpensView, ViewKind::QuoteList},
        {C::FullScreen, "全屏显示(&F)", "", M::View, kInAllBars, N::MainWindow, ViewKind::QuoteList, true, true},
        {C::StatusBar, "状态栏(&S)", "", M::View, kInAllBars, N::MainWindow, ViewKind::QuoteList, false, true},
        // 工具(&T)
        {C::Options, "系统选项(&O)", "Ctrl+O", M::Tools, kInAllBars, N::Tool},
        {C::Connect, kConnectText, "", M::Tools, kInAllBars, N::MainWindow},
        {C::Download, "盘后数据下载(&L)", "Ctrl+Q", M::Tools, kInAllBars, N::Tool},
        {C::LocalData, "本地数据管理(&D)", "", M::Tools, kInAllBars, N::Tool},
        {C::RefreshToday, "刷新当日行情", "", M::Tools, kInAllBars, N::MainWindow},
        {C::FormulaManager, "公式管理器(F)", "Ctrl+F", M::Tools, kInAllBars, N::Tool, ViewKind::QuoteList, true},
        {C::Screening, "选股系统(&X)", "Ctrl+G", M::Tools, kInAllBars, N::Tool},
        {C::PhaseStatistics, "阶段统计&S", "", M::Tools, kInAllBars, N::Tool},
        {C::CapitalRanking, "资金火眼猎庄榜(&A)", "Ctrl+U", M::Tools, kInAllBars, N::Tool},
        {C::Blocks, "板块管理(&B)", "", M::Tools, kInAllBars, N::Tool, ViewKind::QuoteList, true},
        {C::Portfolio, "投资管理(&Z)", "Ctrl+Z", M::Tools, kInAllBars, N::Tool},
        {C::Calculator, "计算器(&C)", "", M::Tools, kInAllBars, N::MainWindow},
        // 帮助(&H)
        {C::Help, "帮助(&H)", "F1", M::Help, kInAllBars, N::MainWindow},
        {C::About, "关于(&A)", "", M::Help, kInAllBars, N::MainWindow, ViewKind::QuoteList, true},
        // 视频教学(&I): a top-level item of its own.
        {C::VideoTutorials, "视频教学(&I)", "", M::Video, kInAllBars, N::Tool},
    };
}

}  // namespace

const std::vector<CommandInfo>& CommandTable() {
    static const std::vector<CommandInfo> table = BuildTable();
    return table;
}

const CommandInfo& Command(CommandId id) {
    const auto& table = CommandTable();
    auto it = std::find_if(table.begin(), table.end(), [id](const CommandInfo& c) { return c.id == id; });
    return *it;  // every id is in the table (checked by the tests)
}

std::string_view MenuTitle(MenuId menu) {
    switch (menu) {
        case M::File: return "文件(&F)";
        case M::View: return "查看(&V)";
        case M::Tools: return "工具(&T)";
        case M::Help: return "帮助(&H)";
        case M::Picture: return "画面(&P)";
        case M::Video: return "视频教学(&I)";
    }
    return {};
}

std::vector<MenuId> MenusOfBar(MenuBarKind bar) {
    if (bar == MenuBarKind::Chart) return {M::File, M::View, M::Picture, M::Tools, M::Help, M::Video};
    return {M::File, M::View, M::Tools, M::Help, M::Video};
}

std::vector<CommandId> CommandsOf(MenuBarKind bar, MenuId menu) {
    unsigned bit = bar == MenuBarKind::NoView ? kInNoView : bar == MenuBarKind::QuoteList ? kInQuoteList : kInChart;
    std::vector<CommandId> out;
    for (const CommandInfo& c : CommandTable())
        if (c.menu == menu && (c.bars & bit)) out.push_back(c.id);
    return out;
}

MenuBarKind BarForActiveView(const ViewKind* activeKind) {
    if (!activeKind) return MenuBarKind::NoView;
    switch (*activeKind) {
        case ViewKind::QuoteList: return MenuBarKind::QuoteList;
        case ViewKind::Chart: return MenuBarKind::Chart;
        case ViewKind::Text: return MenuBarKind::NoView;  // text windows carry no commands of their own
    }
    return MenuBarKind::NoView;
}

bool CommandEnabled(CommandId id, const CommandAvailability& available) {
    const CommandInfo& c = Command(id);
    switch (c.need) {
        case N::MainWindow:
            if (id == C::Calculator) return available.calculatorFound;
            if (id == C::Help) return available.helpFileFound;
            return true;
        case N::OpensView: return available.openable.count(id) > 0;
        case N::ActiveView: return available.activeViewHandles.count(id) > 0;
        case N::Tool: return available.tools.count(id) > 0;
    }
    return false;
}

const std::vector<DrawingToolInfo>& DrawingTools() {
    static const std::vector<DrawingToolInfo> tools = {
        {0, "取消画线"}, {1, "线段"},     {2, "射线"},   {3, "直线"},     {4, "水平线"},   {5, "平行线"},
        {6, "栅型线"},   {7, "黄金分割线"}, {8, "波浪线"}, {9, "百分比线"}, {13, "周期线"},  {14, "神秘数字线"},
        {15, "文字"},    {16, "江恩线"},   {17, "矩形"},   {18, "圆弧"},    {19, "同心圆弧"}, {20, "上箭头"},
        {21, "下箭头"},
    };
    return tools;
}

bool RankingForTypedCode(int code, CommandId& out) {
    if (code < 81 || code > 86) return false;
    out = static_cast<CommandId>(static_cast<int>(C::RankingShA) + (code - 81));
    return true;
}

std::string_view RankingBlock(CommandId id) {
    switch (id) {
        case C::RankingShA: return "沪市A股";
        case C::RankingShB: return "沪市B股";
        case C::RankingSzA: return "深市A股";
        case C::RankingSzB: return "深市B股";
        case C::RankingA: return "沪深A股";
        case C::RankingB: return "沪深B股";
        default: return {};
    }
}

}  // namespace tessaro
