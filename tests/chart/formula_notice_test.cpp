// The chart following the formula set: a formula edited in the editor is taken by every slot
// that holds it and evaluated afresh, a deleted one leaves its panes, and the parameter dialog's
// changes reach the slots' copies only.
#include <gtest/gtest.h>

#include "chart/kline_content.h"
#include "formula/compiler.h"
#include "formula/formula_management.h"
#include "formula/formula_management_editor.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"

#include "chart/chart_test_support.h"

namespace tessaro::chart {
namespace {

class YesFormulaPrompt : public FormulaPrompt {
public:
    void Message(std::string_view text) override { messages.emplace_back(text); }
    Answer Ask(std::string_view text, bool) override {
        messages.emplace_back(text);
        return Answer::Yes;
    }
    std::optional<std::string> Input(std::string_view, std::string_view, std::string_view, bool) override {
        return std::nullopt;
    }
    std::vector<std::string> messages;
};

// What the chart window does with a notice.
class ChartObserver : public FormulaObserver {
public:
    ChartObserver(ChartView& view, FormulaSet& set) : view_(view), set_(set) {}
    void OnFormulaNotice(const FormulaNotice& n) override {
        if (n.code != kNoticeFormulaChanged && n.code != kNoticeFormulaDeleted) return;
        touched = ApplyFormulaChange(view_, n.type, n.name,
                                     n.code == kNoticeFormulaDeleted ? std::nullopt : set_.Find(n.type, n.name));
        for (const PaneRef& r : touched) view_.Update(2, r.picture, r.pane);
    }
    std::vector<PaneRef> touched;

private:
    ChartView& view_;
    FormulaSet& set_;
};

class FormulaNoticeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { bars_ = Load600519DayBars().release(); }
    static void TearDownTestSuite() { delete bars_; }
    void SetUp() override {
        ASSERT_GT(bars_->size(), 20u);
        formulas = MakeStandardFormulas();
        formulas->SetSourcePath(kSourceUser, dir.path() + "/user.fml");
        FormulaRecord mine;
        mine.type = kFormulaSubPane;
        mine.setName("MYIND");
        mine.source = "A:MA(C,N);";
        FormulaParam n;
        n.setName("N");
        n.min = 1;
        n.max = 100;
        n.defaultValue = 5;
        mine.params.push_back(n);
        mine.sourceOrigin = kSourceUser;
        ASSERT_EQ(CompileFormula(mine), 0);
        formulas->Put(mine);

        ParseSecurityText("SH600519", moutai.id);
        moutai.securityClass = kClassAShare;
        data.AddSecurity(moutai, *bars_);
        options.scheme = BuiltInSchemes()[0];
        options.visibleBars = 60;
        source = std::make_unique<FormulaChartSource>(*formulas, data);
        view = std::make_unique<ChartView>(*source, options);
        view->Resize(800, 600);
        view->SetPanes(0, {{{3, "MA"}}, {{4, "VOL"}, {4, "MYIND"}, {4, "KDJ"}}});
        view->SetSecurity(0, moutai);
        view->SetPictureCount(2);  // the second picture takes the first one's panes
        view->Update(0);
        observer = std::make_unique<ChartObserver>(*view, *formulas);
        formulas->AddObserver(observer.get());
    }
    void TearDown() override { formulas->RemoveObserver(observer.get()); }

    const PaneIndicator* Slot(int picture, const char* name) const {
        for (const PaneIndicator& s : view->picture(picture).panes[1].indicators)
            if (s.formula.nameText() == name) return &s;
        return nullptr;
    }
    // The slot's first line at the last bar.
    float LastValue(int picture, const char* name) const {
        const PaneIndicator* s = Slot(picture, name);
        if (!s || !s->result || s->result->lines.empty()) return NAN;
        return s->result->lines[0].points.back().value;
    }
    // The mean of the last n closes, by hand.
    float MeanOfLast(size_t n) const {
        double sum = 0;
        for (size_t i = bars_->size() - n; i < bars_->size(); ++i) sum += bars_->bars[i].close;
        return static_cast<float>(sum / static_cast<double>(n));
    }
    std::vector<std::string> Names(int picture) const {
        std::vector<std::string> out;
        for (const PaneIndicator& s : view->picture(picture).panes[1].indicators) out.emplace_back(s.formula.nameText());
        return out;
    }

    static inline Series* bars_ = nullptr;
    TempDir dir;
    std::unique_ptr<FormulaSet> formulas;
    MemoryEvalData data;
    std::unique_ptr<FormulaChartSource> source;
    ChartOptions options;
    CodeEntry moutai;
    std::unique_ptr<ChartView> view;
    std::unique_ptr<ChartObserver> observer;
    YesFormulaPrompt prompt;
};

TEST_F(FormulaNoticeTest, AnEditedFormulaIsTakenByEverySlotAndEvaluatedAfresh) {
    ASSERT_NEAR(LastValue(0, "MYIND"), MeanOfLast(5), 0.01);
    ASSERT_NEAR(LastValue(1, "MYIND"), MeanOfLast(5), 0.01);

    FormulaEditorModel editor(*formulas, prompt);
    ASSERT_TRUE(editor.OpenExisting(kFormulaSubPane, "MYIND"));
    editor.text = "A:C*2;";
    ASSERT_TRUE(editor.Ok()) << (prompt.messages.empty() ? "" : prompt.messages.back());
    EXPECT_EQ(observer->touched, (std::vector<PaneRef>{{0, 1}, {1, 1}}));
    const float close = bars_->bars.back().close;
    EXPECT_FLOAT_EQ(LastValue(0, "MYIND"), close * 2);
    EXPECT_FLOAT_EQ(LastValue(1, "MYIND"), close * 2);
    // Its neighbours keep their places.
    EXPECT_EQ(Names(0), (std::vector<std::string>{"VOL", "MYIND", "KDJ"}));
    // A formula nobody shows changes nothing here.
    EXPECT_TRUE(ApplyFormulaChange(*view, kFormulaSubPane, "RSI", formulas->Find(kFormulaSubPane, "RSI")).empty());
}

TEST_F(FormulaNoticeTest, ADeletedFormulaLeavesItsPanesAndTheOthersStay) {
    FormulaManager manager(*formulas, prompt);
    ASSERT_TRUE(manager.Delete(kFormulaSubPane, "MYIND"));
    EXPECT_EQ(observer->touched, (std::vector<PaneRef>{{0, 1}, {1, 1}}));
    EXPECT_EQ(Names(0), (std::vector<std::string>{"VOL", "KDJ"}));
    EXPECT_EQ(Names(1), (std::vector<std::string>{"VOL", "KDJ"}));
    EXPECT_EQ(view->picture(0).panes.size(), 2u);
    // A deleted formula nobody shows changes nothing in the chart.
    observer->touched = {{9, 9}};
    ASSERT_TRUE(manager.Delete(kFormulaSubPane, "RSI"));
    EXPECT_TRUE(observer->touched.empty());
    EXPECT_EQ(Names(0), (std::vector<std::string>{"VOL", "KDJ"}));
    // A changed notice whose formula is no longer in the set drops the slots too, and the K-line
    // formula is never taken away.
    EXPECT_EQ(ApplyFormulaChange(*view, kFormulaSubPane, "KDJ", std::nullopt).size(), 2u);
    EXPECT_EQ(Names(0), std::vector<std::string>{"VOL"});
    ApplyFormulaChange(*view, kFormulaInternal, view->picture(0).kline.formula.nameText(), std::nullopt);
    EXPECT_EQ(view->picture(0).kline.formula.nameText(), "K");
}

TEST_F(FormulaNoticeTest, ParameterChangesReachTheSlotsCopiesOnly) {
    EXPECT_EQ(SlotParameters(view->picture(0), 1, kFormulaSubPane, "MYIND"), std::vector<float>{5});
    EXPECT_EQ(SetFormulaParameter(*view, kFormulaSubPane, "MYIND", 0, 10), (std::vector<PaneRef>{{0, 1}, {1, 1}}));
    view->Update(2);
    EXPECT_NEAR(LastValue(0, "MYIND"), MeanOfLast(10), 0.01);
    EXPECT_EQ(SlotParameters(view->picture(1), 1, kFormulaSubPane, "MYIND"), std::vector<float>{10});
    EXPECT_EQ(formulas->Find(kFormulaSubPane, "MYIND")->params[0].defaultValue, 5);  // the set keeps its own
    // A parameter the formula does not have, or a value that is no number, changes nothing.
    EXPECT_TRUE(SetFormulaParameter(*view, kFormulaSubPane, "MYIND", 1, 3).empty());
    EXPECT_TRUE(SetFormulaParameter(*view, kFormulaSubPane, "MYIND", -1, 3).empty());
    EXPECT_TRUE(SetFormulaParameter(*view, kFormulaSubPane, "MYIND", 0, NAN).empty());
    EXPECT_TRUE(SlotParameters(view->picture(0), 0, kFormulaSubPane, "MYIND").empty());
    EXPECT_TRUE(SlotParameters(view->picture(0), 7, kFormulaSubPane, "MYIND").empty());
}

}  // namespace
}  // namespace tessaro::chart
