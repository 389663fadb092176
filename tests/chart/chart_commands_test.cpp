// The chart's formula and block commands: the context menu's captions for a selected formula,
// 系统指示 replacing a signal formula of its type and 关闭指示 clearing them, deleting one formula
// (the last of a sub-chart asks first), and adding to or removing from the user's blocks with
// the block files written.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "chart/chart_commands.h"
#include "formula/compiler.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"

#include "chart/chart_test_support.h"

namespace tessaro::chart {
namespace {

FormulaRecord Made(uint32_t type, const char* name, const char* text) {
    FormulaRecord f;
    f.type = type;
    f.setName(name);
    f.source = text;
    EXPECT_EQ(CompileFormula(f), 0) << name;
    return f;
}

std::vector<std::string> Names(const GraphPane& pane) {
    std::vector<std::string> out;
    for (const PaneIndicator& s : pane.indicators) out.emplace_back(s.formula.nameText());
    return out;
}

class ChartCommandsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { formulas_ = MakeStandardFormulas().release(); }
    static void TearDownTestSuite() { delete formulas_; }
    void SetUp() override {
        options.scheme = BuiltInSchemes()[0];
        view = std::make_unique<ChartView>(source, options);
        view->Resize(640, 400);
        view->SetPanes(0, {{{3, "MA"}}, {{4, "VOL"}}, {{4, "MACD"}, {4, "KDJ"}}});
    }
    static inline FormulaSet* formulas_ = nullptr;
    MemoryEvalData data;
    FormulaChartSource source{*formulas_, data};
    ChartOptions options;
    std::unique_ptr<ChartView> view;
};

TEST_F(ChartCommandsTest, MenuCaptionsOfASelectedFormula) {
    const FormulaMenuCaptions macd = FormulaMenuTexts(*formulas_->Find(4, "MACD"));
    EXPECT_EQ(macd.edit, "修改公式MACD");
    EXPECT_EQ(macd.parameters, "调整MACD参数");
    EXPECT_EQ(macd.comment, "公式MACD注释");
    EXPECT_EQ(macd.remove, "删除公式MACD");
    FormulaRecord plain = Made(4, "ABC", "A:C;");  // without parameters there is no 调整 item
    EXPECT_EQ(FormulaMenuTexts(plain).parameters, "");
    plain.setName(Utf8ToGbk("量价"));
    EXPECT_EQ(FormulaMenuTexts(plain).edit, "修改公式量价");
}

TEST_F(ChartCommandsTest, SignalSystemReplacesItsTypeAndCloseClearsThemAll) {
    const FormulaRecord up = Made(kFormulaSelection, "UP", "C>REF(C,1);");
    FormulaRecord down = Made(kFormulaSelection, "DOWN", "C<REF(C,1);");
    down.signalIcon = 2;
    down.signalColour = 0xFF0000;
    const FormulaRecord colour = Made(kFormulaColourKLine, "RED", "C>O;");
    const FormulaRecord combined = Made(kFormulaSubPane, "NOTSIG", "A:C;");
    EXPECT_EQ(SignalSystemChoices({up, combined, colour}).size(), 2u);
    EXPECT_EQ(PlaceSignalFormula(*view, 0, up), AddResult::kAdded);
    EXPECT_EQ(PlaceSignalFormula(*view, 0, colour), AddResult::kAdded);
    EXPECT_EQ(PlaceSignalFormula(*view, 0, down), AddResult::kAdded);  // replaces UP, keeps RED
    EXPECT_EQ(Names(view->picture(0).panes[0]), (std::vector<std::string>{"MA", "RED", "DOWN"}));
    EXPECT_EQ(PlaceSignalFormula(*view, 0, combined), AddResult::kDisabled);  // not a signal formula
    EXPECT_EQ(PlaceSignalFormula(*view, 3, up), AddResult::kDisabled);        // no such picture
    // The title strip shows each signal's icon in its colour: DOWN's triangle (icon 2) in blue.
    view->Update(0);
    DisplayList probe;
    probe.FillRect({0, 0, 1, 1}, 0xFF0000);
    std::string blue = probe.ToText().substr(probe.ToText().find("fill="));
    blue.pop_back();  // the line's end
    const RectF& titleF = view->picture(0).panes[0].rects.title;
    const Rect title{RoundPixel(titleF.left), RoundPixel(titleF.top), RoundPixel(titleF.right), RoundPixel(titleF.bottom)};
    bool legend = false;
    std::istringstream lines(view->picture(0).panes[0].list.ToText());
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("polygon", 0) != 0 || line.find(blue) == std::string::npos) continue;
        int x = 0, y = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "polygon %d,%d", &x, &y), 2);
        legend = y >= title.top && y + 6 <= title.bottom;
    }
    EXPECT_TRUE(legend) << "the icon lies inside the title strip";
    EXPECT_EQ(CloseSignalFormulas(*view, 0), 2);
    EXPECT_EQ(Names(view->picture(0).panes[0]), std::vector<std::string>{"MA"});
    EXPECT_EQ(CloseSignalFormulas(*view, 0), 0);
}

TEST_F(ChartCommandsTest, DeletingAFormulaAsksBeforeTheLastOfASubChart) {
    EXPECT_EQ(RemoveFormulaSlot(*view, 0, 2, 0), SlotRemoval::kRemoved);
    EXPECT_EQ(Names(view->picture(0).panes[2]), std::vector<std::string>{"KDJ"});
    EXPECT_EQ(RemoveFormulaSlot(*view, 0, 2, 0), SlotRemoval::kAskDeletePane);
    EXPECT_EQ(Names(view->picture(0).panes[2]), std::vector<std::string>{"KDJ"});  // still there
    EXPECT_EQ(RemoveFormulaSlot(*view, 0, 0, 0), SlotRemoval::kRemoved);  // the main pane stays
    EXPECT_TRUE(view->picture(0).panes[0].indicators.empty());
    EXPECT_EQ(RemoveFormulaSlot(*view, 0, 0, 0), SlotRemoval::kNone);
    EXPECT_EQ(RemoveFormulaSlot(*view, 0, 6, 0), SlotRemoval::kNone);
    EXPECT_EQ(RemoveFormulaSlot(*view, 0, 1, -1), SlotRemoval::kNone);
    EXPECT_EQ(RemoveFormulaSlot(*view, 2, 1, 0), SlotRemoval::kNone);
}

TEST(ChartBlockCommands, AddToAUserBlockAndRemoveFromTheOnesHoldingIt) {
    TempDir dir;
    AppPaths paths(dir.path());
    BlockSet set(paths);
    set.BuildSystemBlocks();
    ASSERT_TRUE(set.CreateSelfSelectedBlocks());
    YesPrompt yes;
    BlockManager manager(set, yes);
    ASSERT_TRUE(manager.Create("mine", kBlockScreening).ok());
    SecurityId id;
    ParseSecurityText("SH600519", id);
    const std::string first = Utf8ToGbk("自选股1"), second = Utf8ToGbk("自选股2");

    const std::vector<std::string> names = UserBlockNames(set.Blocks());
    EXPECT_EQ(names.size(), 10u);  // 自选股1..9 and the screening block, no rule blocks
    EXPECT_TRUE(UserBlocksHolding(set.Blocks(), id).empty());
    std::string message;
    EXPECT_TRUE(AddToUserBlock(manager, set, first, id, message));
    EXPECT_FALSE(AddToUserBlock(manager, set, first, id, message));  // held already
    EXPECT_TRUE(message.empty());
    EXPECT_TRUE(AddToUserBlock(manager, set, "mine", id, message));
    EXPECT_FALSE(AddToUserBlock(manager, set, Utf8ToGbk("沪市A股"), id, message));  // a rule block
    EXPECT_FALSE(AddToUserBlock(manager, set, "nothere", id, message));
    EXPECT_EQ(UserBlocksHolding(set.Blocks(), id), (std::vector<std::string>{first, "mine"}));

    // The files hold it: a fresh set reads it back.
    {
        BlockSet again(paths);
        again.BuildSystemBlocks();
        again.LoadBlockFiles();
        EXPECT_EQ(UserBlocksHolding(again.Blocks(), id).size(), 2u);
    }
    // Removed from the ticked blocks that hold it; a block without it is passed over.
    EXPECT_EQ(RemoveFromUserBlocks(manager, set, {first, second, Utf8ToGbk("沪市A股")}, id, message), 1);
    EXPECT_EQ(UserBlocksHolding(set.Blocks(), id), std::vector<std::string>{"mine"});
    EXPECT_EQ(RemoveFromUserBlocks(manager, set, {first}, id, message), 0);
    BlockSet reread(paths);
    reread.BuildSystemBlocks();
    reread.LoadBlockFiles();
    EXPECT_EQ(UserBlocksHolding(reread.Blocks(), id), std::vector<std::string>{"mine"});
}

}  // namespace
}  // namespace tessaro::chart
