// Views of several pictures: the picture a click makes active and how its title shows it, which
// pictures a period switch and Page Up/Down reach, and the settings a single picture leaves as
// the defaults of new pictures.
#include <gtest/gtest.h>

#include "chart/multi_picture.h"
#include "platform/text.h"

#include "chart/chart_test_support.h"

namespace tessaro::chart {
namespace {

class MultiPictureTest : public StandardChartSuite {
protected:
    void SetUp() override {
        for (int i = 0; i < 6; ++i) {
            CodeEntry e;
            e.id = MakeSecurityId(kMarketSH, std::to_string(600100 + i));
            e.securityClass = kClassAShare;
            CopyToField(e.name, "S" + std::to_string(i));
            data.AddSecurity(e, *bars_);
            list.push_back(e);
        }
        options.scheme = BuiltInSchemes()[0];
        options.visibleBars = 60;
        view = std::make_unique<ChartView>(source, options);
        view->Resize(800, 600);
        view->SetPanes(0, {{{3, "MA"}}, {{4, "VOL"}}, {{4, "KDJ"}}});
        view->SetSecurity(0, list[0]);
        view->Update(0);
    }
    // The fill colours of a picture's main pane list.
    bool HasHighlight(int picture) const {
        DisplayList probe;
        probe.FillRect({0, 0, 1, 1}, options.scheme.colors[kColorHighlight]);
        std::string fill = probe.ToText();
        fill = fill.substr(fill.find("fill="));
        return view->picture(picture).panes[0].list.ToText().find(fill) != std::string::npos;
    }
    static std::vector<std::string> Names(const GraphPane& pane) {
        std::vector<std::string> out;
        for (const PaneIndicator& s : pane.indicators) out.emplace_back(s.formula.nameText());
        return out;
    }

    MemoryEvalData data;
    FormulaChartSource source{*formulas_, data};
    ChartOptions options;
    std::vector<CodeEntry> list;
    std::unique_ptr<ChartView> view;
};

TEST_F(MultiPictureTest, AClickedPictureBecomesActiveAndItsTitleIsHighlighted) {
    SystemSettings defaults;
    ApplyPlan(*view, MultiStockPlan(list, list[0], 4, kPeriodDay), defaults);
    view->Update(0);
    ASSERT_EQ(view->pictureCount(), 4);
    // 2 x 2 grid of 400 x 300: the picture under each corner, none outside.
    EXPECT_EQ(PictureAt(*view, 10, 10), 0);
    EXPECT_EQ(PictureAt(*view, 399, 299), 0);
    EXPECT_EQ(PictureAt(*view, 400, 10), 1);
    EXPECT_EQ(PictureAt(*view, 10, 300), 2);
    EXPECT_EQ(PictureAt(*view, 799, 599), 3);
    EXPECT_EQ(PictureAt(*view, 800, 10), -1);
    EXPECT_EQ(PictureAt(*view, -1, 10), -1);

    EXPECT_EQ(view->active(), 0);
    EXPECT_TRUE(HasHighlight(0));
    EXPECT_FALSE(HasHighlight(3));
    EXPECT_FALSE(view->SetActive(3).empty());
    EXPECT_EQ(view->active(), 3);
    EXPECT_TRUE(HasHighlight(3));
    EXPECT_FALSE(HasHighlight(0));
    // The same picture again, or one that does not exist, changes nothing.
    EXPECT_TRUE(view->SetActive(3).empty());
    EXPECT_TRUE(view->SetActive(4).empty());
    EXPECT_TRUE(view->SetActive(-1).empty());
    EXPECT_EQ(view->active(), 3);

    // A period switch reaches every picture of a 多股票组合 view, only the active one otherwise.
    EXPECT_EQ(PeriodTargets(*view, Combination::kMultiStock), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(PeriodTargets(*view, Combination::kMultiPeriod), std::vector<int>{3});
    EXPECT_EQ(PeriodTargets(*view, Combination::kSingle), std::vector<int>{3});

    // One picture: no highlight at all.
    ApplyPlan(*view, {{list[2], kPeriodDay, 2}}, defaults);
    view->Update(0);
    EXPECT_EQ(view->active(), 0);
    EXPECT_FALSE(HasHighlight(0));
}

TEST_F(MultiPictureTest, PageKeysStepEachStockPictureOrEveryPeriodPictureTogether) {
    SystemSettings defaults;
    const NextSecurityFn next = [&](const CodeEntry& from, int step) -> std::optional<CodeEntry> {
        const int at = StepInList(list, from.id, step);
        if (at < 0) return std::nullopt;
        return list[static_cast<size_t>(at)];
    };
    ApplyPlan(*view, MultiStockPlan(list, list[2], 4, kPeriodDay), defaults);  // S2 .. S5
    view->SetActive(1);
    auto targets = SecurityStepTargets(*view, Combination::kMultiStock, 1, next);
    ASSERT_EQ(targets.size(), 4u);
    EXPECT_TRUE(SameSecurity(targets[0].second.id, list[3].id));
    EXPECT_TRUE(SameSecurity(targets[3].second.id, list[0].id));  // S5 wraps to S0

    ApplyPlan(*view, MultiPeriodPlan(list[5], 4), defaults);
    view->SetActive(2);
    targets = SecurityStepTargets(*view, Combination::kMultiPeriod, -1, next);
    ASSERT_EQ(targets.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(targets[static_cast<size_t>(i)].first, i);
        EXPECT_TRUE(SameSecurity(targets[static_cast<size_t>(i)].second.id, list[4].id));
    }
    targets = SecurityStepTargets(*view, Combination::kSingle, 1, next);
    ASSERT_EQ(targets.size(), 1u);
    EXPECT_EQ(targets[0].first, 2);
    // A security without a neighbour goes nowhere.
    EXPECT_TRUE(SecurityStepTargets(*view, Combination::kSingle, 1, [](const CodeEntry&, int) {
                    return std::optional<CodeEntry>{};
                }).empty());
}

TEST_F(MultiPictureTest, PageKeysTakeTheFirstListHoldingTheSecurity) {
    // The view's list lacks S3; the user block holds S1, S3, S5; the code table all six.
    const std::vector<CodeEntry> view{list[0], list[1]}, block{list[1], list[3], list[5]};
    EXPECT_TRUE(SameSecurity(NextInLists({&view, &block, &list}, list[3], 1)->id, list[5].id));
    EXPECT_TRUE(SameSecurity(NextInLists({&view, &block, &list}, list[5], 1)->id, list[1].id));  // wraps
    EXPECT_TRUE(SameSecurity(NextInLists({&view, &block, &list}, list[1], -1)->id, list[0].id));  // the view's list first
    EXPECT_TRUE(SameSecurity(NextInLists({&view, &block, &list}, list[4], -1)->id, list[3].id));  // the table
    EXPECT_FALSE(NextInLists({&view, nullptr}, list[4], 1));
    const std::vector<CodeEntry> alone{list[2]};
    EXPECT_TRUE(SameSecurity(NextInLists({&alone}, list[2], 1)->id, list[2].id));  // a list of one
}

TEST_F(MultiPictureTest, ASinglePicturesSettingsBecomeTheDefaultsOfNewPictures) {
    GraphPicture& p = view->picture(0);
    view->SetPeriod(0, kPeriodWeek);
    view->SetScaleMode(0, 0, kScalePercentage);
    view->SetKLineKind("BAR");
    view->Update(0);
    view->MoveOrZoom(MoveKey::kZoomIn);  // 60 -> 40
    const int visible = p.scale.visible;
    ASSERT_EQ(visible, 40);

    SystemSettings s;
    s.kLinePanes[4].clear();
    s.kLinePanes[4].add(4, "RSI");  // a pane the picture does not show keeps its list
    ASSERT_TRUE(KeepPictureDefaults(*view, s));
    EXPECT_EQ(s.cycle, 9u);
    EXPECT_EQ(s.coordType, 2u);
    EXPECT_EQ(s.formula0, "BAR");
    EXPECT_EQ(s.ruler, 40u);
    EXPECT_EQ(s.areas, 3u);
    EXPECT_EQ(s.kLinePanes[0].count, 1);
    EXPECT_EQ(s.kLinePanes[0].types[0], 3);
    EXPECT_EQ(s.kLinePanes[0].name(0), "MA");
    EXPECT_EQ(s.kLinePanes[2].name(0), "KDJ");
    EXPECT_EQ(s.kLinePanes[4].name(0), "RSI");
    EXPECT_EQ(FormatPaneList(s.kLinePanes[1]), "4\tVOL\t");

    // The defaults build the same picture again.
    ChartView other(source, options);
    other.Resize(800, 600);
    other.SetSecurity(0, list[1]);
    ApplyPictureDefaults(other, 0, s);
    ASSERT_EQ(other.picture(0).panes.size(), 3u);
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(Names(other.picture(0).panes[k]), Names(p.panes[k]));
    EXPECT_EQ(other.picture(0).panes[0].scaleMode & 3, kScalePercentage);
    EXPECT_EQ(other.picture(0).scale.visible, 40);

    // With several pictures the defaults stay as they are.
    SystemSettings before = s;
    ApplyPlan(*view, MultiPeriodPlan(list[0], 9), s);
    view->SetScaleMode(0, 0, kScaleNormal);
    EXPECT_FALSE(KeepPictureDefaults(*view, s));
    EXPECT_EQ(s.coordType, before.coordType);
    EXPECT_EQ(s.areas, before.areas);
    // Each picture of the plan starts from the defaults with the plan's pane count.
    ASSERT_EQ(view->pictureCount(), 9);
    EXPECT_EQ(view->picture(8).panes.size(), 1u);
    EXPECT_EQ(Names(view->picture(8).panes[0]), std::vector<std::string>{"MA"});
    EXPECT_EQ(view->picture(8).scale.visible, 40);
}

TEST_F(MultiPictureTest, DefaultPanesKeepWithinSixPanesAndThirtyItems) {
    SystemSettings s;
    s.areas = 0;  // a stored 0 or a hostile count never gives an empty or seventh pane
    EXPECT_EQ(DefaultPanes(s).size(), 1u);
    s.areas = 99;
    EXPECT_EQ(DefaultPanes(s).size(), 6u);
    s.kLinePanes[1].count = 1000;  // a count beyond the array is held to 30
    EXPECT_EQ(DefaultPanes(s)[1].size(), 30u);
    s.kLinePanes[2].count = -5;
    EXPECT_TRUE(DefaultPanes(s)[2].empty());
    // A pane of 29 slots is kept whole; the saved list holds 30 at most.
    GraphPicture p;
    p.panes.resize(1);
    for (int i = 0; i < 29; ++i) {
        PaneIndicator slot;
        slot.formula.type = 4;
        slot.formula.setName("F" + std::to_string(i));
        p.panes[0].indicators.push_back(std::move(slot));
    }
    const PaneFormulaLists lists = CapturePaneLists(p, DefaultKLinePanes());
    EXPECT_EQ(lists[0].count, 29);
    EXPECT_EQ(lists[0].name(28), "F28");
    EXPECT_EQ(lists[1].name(0), "VOL");
}

}  // namespace
}  // namespace tessaro::chart
