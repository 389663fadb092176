// The main window's commands as data: menu texts, shortcuts, the menu each sits
// in, the menu bars that show it, and what must exist for it to be enabled.
//
// There are three menu bars, chosen by the kind of the active view: none open,
// a quote list active, a chart active. They share "文件(&F)", "查看(&V)",
// "工具(&T)", "帮助(&H)" and the top-level "视频教学(&I)"; the chart's bar adds
// "画面(&P)", whose items the chart view supplies.
//
// A command is enabled only when something can carry it out: the main window
// itself, a registered view of the kind it opens, the active view, or a tool
// window registered for it. A command whose window does not exist yet is shown
// disabled, never as an item that does nothing.
#pragma once

#include <cstdint>
#include <set>
#include <string_view>
#include <vector>

namespace tessaro {

// View kinds of the view registry.
enum class ViewKind : int { QuoteList = 1, Chart = 2, Text = 3 };

enum class MenuBarKind { NoView, QuoteList, Chart };

enum class MenuId { File, View, Tools, Help, Picture, Video };

enum class CommandId : int {
    SelectSecurity,   // 选择股票(&S) F2
    PriceBoard,       // 动态显示牌(&B)
    Open,             // 打开(&O) Enter
    OpenNewWindow,    // 打开新窗口(&N) Ctrl+Enter
    AddToOwnStocks,   // 加入自选股(&A) Ctrl+A
    DeleteFromBlock,  // 从板块中删除(&D) Ctrl+X
    Exit,             // 退出(&Q) Alt+F4
    News,             // 公告新闻(&N) F9
    CompanyInfo,      // 基本资料(&C) F10
    DynamicRanking,   // 动态排行(&R) Ctrl+R
    TickDetail,       // 分手明细(&V) Ctrl+V
    PriceDetail,      // 分价明细(&P) Ctrl+P
    RankingShA,       // 沪A综合排名(&1) .. B股综合排名(&6), typed as 81..86
    RankingShB,
    RankingSzA,
    RankingSzB,
    RankingA,
    RankingB,
    FullScreen,       // 全屏显示(&F), checked while on
    StatusBar,        // 状态栏(&S), checked while shown
    Options,          // 系统选项(&O) Ctrl+O
    Connect,          // 连接行情主站  (&R) / 断开行情主站  (&R)
    Download,         // 盘后数据下载(&L) Ctrl+Q
    LocalData,        // 本地数据管理(&D)
    RefreshToday,     // 刷新当日行情
    FormulaManager,   // 公式管理器(F) Ctrl+F
    Screening,        // 选股系统(&X) Ctrl+G
    PhaseStatistics,  // 阶段统计&S
    CapitalRanking,   // 资金火眼猎庄榜(&A) Ctrl+U
    Calculator,       // 计算器(&C)
    Blocks,           // 板块管理(&B)
    Portfolio,        // 投资管理(&Z) Ctrl+Z
    Help,             // 帮助(&H) F1
    About,            // 关于(&A)
    VideoTutorials,   // 视频教学(&I)
    kCount,
};
inline constexpr int kCommandCount = static_cast<int>(CommandId::kCount);

// Who carries a command out.
enum class CommandNeed {
    MainWindow,  // the main window itself (exit, full screen, connect, ...)
    OpensView,   // opens or activates a view of `viewKind`: needs its factory
    ActiveView,  // acts on the active view: needs one that handles it
    Tool,        // a tool window registered for the command
};

// Bits of the menu bars a command appears in.
enum : unsigned {
    kInNoView = 1u << 0,
    kInQuoteList = 1u << 1,
    kInChart = 1u << 2,
    kInAllBars = kInNoView | kInQuoteList | kInChart,
    kInViewBars = kInQuoteList | kInChart,
};

struct CommandInfo {
    CommandId id;
    std::string_view text;      // menu text (UTF-8)
    std::string_view shortcut;  // Qt key sequence text ("F2", "Ctrl+Return"); empty: none
    MenuId menu;
    unsigned bars;
    CommandNeed need;
    ViewKind viewKind = ViewKind::QuoteList;  // OpensView: the kind opened
    bool separatorBefore = false;             // starts a new group in its menu
    bool checkable = false;
};

// Every command, in menu order.
const std::vector<CommandInfo>& CommandTable();
const CommandInfo& Command(CommandId id);

// The title of a menu ("文件(&F)", ...), and the menus of a bar in order.
std::string_view MenuTitle(MenuId menu);
std::vector<MenuId> MenusOfBar(MenuBarKind bar);
// The commands a bar shows in one menu, in order.
std::vector<CommandId> CommandsOf(MenuBarKind bar, MenuId menu);

// The bar for the active view's kind (none: no view open).
MenuBarKind BarForActiveView(const ViewKind* activeKind);

// The connect command's text by connection state.
inline constexpr std::string_view kConnectText = "连接行情主站  (&R)";
inline constexpr std::string_view kDisconnectText = "断开行情主站  (&R)";

// What exists to carry commands out.
struct CommandAvailability {
    std::set<CommandId> openable;            // OpensView commands a registered view supports
    std::set<CommandId> activeViewHandles;   // commands the active view carries out
    std::set<CommandId> tools;               // tool windows registered
    bool calculatorFound = false;            // a calculator program exists
    bool helpFileFound = false;              // the help file exists
};

bool CommandEnabled(CommandId id, const CommandAvailability& available);

// The drawing toolbar's tools: the drawing kind (0 cancels the tool in use) and its
// name, in toolbar order; the bar groups them in threes.
struct DrawingToolInfo {
    int kind;
    std::string_view name;
};
const std::vector<DrawingToolInfo>& DrawingTools();

// The comprehensive ranking typed as 81..86: its command, or nothing.
bool RankingForTypedCode(int code, CommandId& out);
// The block a comprehensive ranking command ranks ("沪市A股", ...), empty otherwise.
std::string_view RankingBlock(CommandId id);

}  // namespace tessaro
