// The chart window's formula and block commands offscreen: the formula set's notices redraw the
// panes that show an edited formula and drop a deleted one; the context menu's formula items,
// 系统指示 / 关闭指示 and the block items.
#include <QDoubleSpinBox>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <thread>

#include "chart/chart_commands.h"
#include "chart/kline_content.h"
#include "chart/qt/chart_dialogs.h"
#include "formula/compiler.h"
#include "formula/formula_management.h"

#include "chart/qt/chart_window_fixture.h"

namespace tessaro::chart {
namespace {

QAction* Find(QMenu& menu, const QString& text) {
    for (QAction* a : menu.actions())
        if (a->text() == text) return a;
    return nullptr;
}

class YesPromptForFormulas : public FormulaPrompt {
public:
    void Message(std::string_view) override {}
    Answer Ask(std::string_view, bool) override { return Answer::Yes; }
    std::optional<std::string> Input(std::string_view, std::string_view, std::string_view, bool) override {
        return std::nullopt;
    }
};

class ChartCommandsQt : public ChartWindowFixture {
protected:
    void SetUp() override {
        Market({"SH600519"}, 1500);
        FormulaRecord mine;
        mine.type = kFormulaSubPane;
        mine.setName("MYIND");
        mine.source = "A:C;";
        mine.sourceOrigin = kSourceUser;
        ASSERT_EQ(CompileFormula(mine), 0);
        formulas.Put(mine);
        formulas.SetSourcePath(kSourceUser, dir.path() + "/user.fml");
    }
    std::unique_ptr<ChartWidget> Widget() { return ChartWindowFixture::Widget(false, blocks.get()); }
    const PaneIndicator* Slot(ChartWidget& w, const char* name) {
        for (const GraphPane& pane : w.view().picture(0).panes)
            for (const PaneIndicator& s : pane.indicators)
                if (s.formula.nameText() == name) return &s;
        return nullptr;
    }
    std::unique_ptr<BlockSet> blocks;
};

TEST_F(ChartCommandsQt, FormulaNoticesRedrawEditedFormulasAndDropDeletedOnes) {
    auto w = Widget();
    ASSERT_TRUE(w->AddFormula(kFormulaSubPane, "MYIND"));
    const PaneIndicator* slot = Slot(*w, "MYIND");
    ASSERT_TRUE(slot && slot->result);
    const float close = w->view().picture(0).series.bars.back().close;  // today's quote is the last bar
    EXPECT_FLOAT_EQ(slot->result->lines[0].points.back().value, close);
    const QImage before = w->canvas().image().copy();

    // Edited in the set (as the editor's OK does): the window evaluates and draws it again.
    FormulaRecord edited = *formulas.Find(kFormulaSubPane, "MYIND");
    edited.source = "A:C*3;";
    ASSERT_EQ(CompileFormula(edited), 0);
    formulas.Put(edited);
    formulas.Notify(FormulaNotice{kNoticeFormulaChanged, kFormulaSubPane, "MYIND", {}, nullptr});
    slot = Slot(*w, "MYIND");
    ASSERT_TRUE(slot && slot->result);
    EXPECT_FLOAT_EQ(slot->result->lines[0].points.back().value, close * 3);
    EXPECT_NE(w->canvas().image(), before) << "the pane was drawn again";

    // A notice from another thread is handled on the window's own.
    edited.source = "A:C*4;";
    ASSERT_EQ(CompileFormula(edited), 0);
    formulas.Put(edited);
    std::thread([this] { formulas.Notify(FormulaNotice{kNoticeFormulaChanged, kFormulaSubPane, "MYIND", {}, nullptr}); })
        .join();
    Spin(50);
    slot = Slot(*w, "MYIND");
    ASSERT_TRUE(slot && slot->result);
    EXPECT_FLOAT_EQ(slot->result->lines[0].points.back().value, close * 4);

    // Deleted through the manager: the slot goes, the pane and its other formulas stay.
    const size_t panes = w->view().picture(0).panes.size();
    YesPromptForFormulas yes;
    FormulaManager manager(formulas, yes);
    ASSERT_TRUE(manager.Delete(kFormulaSubPane, "MYIND"));
    EXPECT_EQ(Slot(*w, "MYIND"), nullptr);
    EXPECT_EQ(w->view().picture(0).panes.size(), panes);
    EXPECT_NE(Slot(*w, "VOL"), nullptr);
}

TEST_F(ChartCommandsQt, TheSelectedFormulasMenuEditsItsTextParametersAndComment) {
    auto w = Widget();
    ASSERT_TRUE(w->AddFormula(kFormulaSubPane, "KDJ"));
    ASSERT_TRUE(w->AddFormula(kFormulaSubPane, "MYIND"));
    const int pane = FindIndicator(w->view(), 0, kFormulaSubPane, "KDJ");
    ASSERT_GT(pane, 0);
    const auto& held = w->view().picture(0).panes[static_cast<size_t>(pane)].indicators;
    int kdj = -1, mine = -1;
    for (size_t i = 0; i < held.size(); ++i) {
        if (held[i].formula.nameText() == "KDJ") kdj = static_cast<int>(i);
        if (held[i].formula.nameText() == "MYIND") mine = static_cast<int>(i);
    }
    ASSERT_GE(kdj, 0);
    ASSERT_GE(mine, 0);

    // A right click on the name selects it; the menu offers its items.
    const Rect name = held[static_cast<size_t>(kdj)].nameRect;
    const QPoint at((name.left + name.right) / 2, (name.top + name.bottom) / 2);
    Mouse(*w, QEvent::MouseButtonPress, at, Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(w->selectedSlot(), kdj);
    EXPECT_EQ(w->activePane(), pane);
    QMenu menu;
    w->FillMenu(&menu);
    for (const char* text : {"K线坐标", "系统指示", "关闭指示", "加入到自选股", "从板块中删除", "修改公式KDJ", "调整KDJ参数",
                             "公式KDJ注释", "删除公式KDJ"})
        EXPECT_NE(Find(menu, QString::fromUtf8(text)), nullptr) << text;
    // K线坐标 is on at first and the item switches it off.
    ASSERT_TRUE(Find(menu, QStringLiteral("K线坐标"))->isChecked());
    Find(menu, QStringLiteral("K线坐标"))->trigger();
    EXPECT_FALSE(w->view().options().klineScale);

    // 调整KDJ参数: the first parameter from 9 to 5 evaluates the slot at once; Cancel gives 9 back.
    const PaneIndicator* slot = Slot(*w, "KDJ");
    ASSERT_TRUE(slot && slot->result);
    const float before = slot->result->lines[0].points.back().value;
    WhenModal([](QWidget* modal) {
        auto* dialog = qobject_cast<ParameterDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        ASSERT_GE(dialog->count(), 1);
        EXPECT_EQ(dialog->spin(0)->value(), 9);
        dialog->spin(0)->setValue(5);
        dialog->grab().save(QStringLiteral(TESSARO_BINARY_DIR "/chart_parameter_dialog.png"));
        dialog->accept();
    });
    Find(menu, QStringLiteral("调整KDJ参数"))->trigger();
    slot = Slot(*w, "KDJ");
    EXPECT_EQ(slot->formula.params[0].defaultValue, 5);
    ASSERT_TRUE(slot->result);
    EXPECT_NE(slot->result->lines[0].points.back().value, before);
    EXPECT_EQ(formulas.Find(kFormulaSubPane, "KDJ")->params[0].defaultValue, 9) << "the set keeps its defaults";
    WhenModal([](QWidget* modal) {
        auto* dialog = qobject_cast<ParameterDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->spin(0)->value(), 5) << "it starts from the slot's values";
        dialog->spin(0)->setValue(20);
        dialog->reject();
    });
    Find(menu, QStringLiteral("调整KDJ参数"))->trigger();
    EXPECT_EQ(Slot(*w, "KDJ")->formula.params[0].defaultValue, 5);

    // 公式KDJ注释: the comment is stored in the set.
    WhenModal([](QWidget* modal) {
        auto* dialog = qobject_cast<CommentDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->edit()->setPlainText(QStringLiteral("随机指标\n第二行"));
        dialog->accept();
    });
    Find(menu, QStringLiteral("公式KDJ注释"))->trigger();
    EXPECT_EQ(formulas.Find(kFormulaSubPane, "KDJ")->comment, Utf8ToGbk("随机指标\r\n第二行"));

    // 修改公式MYIND: the editor's OK stores the text and the window evaluates it again.
    w->SelectSlot(pane, mine);
    QMenu second;
    w->FillMenu(&second);
    EXPECT_EQ(Find(second, QStringLiteral("调整MYIND参数")), nullptr) << "no parameters, no item";
    WhenModal([](QWidget* modal) {
        auto* editor = qobject_cast<FormulaEditDialog*>(modal);
        ASSERT_NE(editor, nullptr);
        editor->textEdit()->setPlainText(QStringLiteral("A:C*5;"));
        editor->grab().save(QStringLiteral(TESSARO_BINARY_DIR "/chart_formula_editor.png"));
        editor->accept();
    });
    Find(second, QStringLiteral("修改公式MYIND"))->trigger();
    slot = Slot(*w, "MYIND");
    ASSERT_TRUE(slot && slot->result);
    EXPECT_FLOAT_EQ(slot->result->lines[0].points.back().value, w->view().picture(0).series.bars.back().close * 5);

    // 删除公式: KDJ goes; the last formula of a sub-chart takes the sub-chart with it after the question.
    const size_t panes = w->view().picture(0).panes.size();
    ASSERT_TRUE(w->DeleteFormula(pane, kdj));
    EXPECT_EQ(Slot(*w, "KDJ"), nullptr);
    const int last = static_cast<int>(panes) - 1;  // MACD alone
    ASSERT_EQ(w->view().picture(0).panes[static_cast<size_t>(last)].indicators.size(), 1u);
    EXPECT_FALSE(w->DeleteFormula(last, 0, [] { return false; }));
    EXPECT_EQ(w->view().picture(0).panes.size(), panes);
    EXPECT_TRUE(w->DeleteFormula(last, 0, [] { return true; }));
    EXPECT_EQ(w->view().picture(0).panes.size(), panes - 1);
}

TEST_F(ChartCommandsQt, SignalSystemAndTheUsersBlocks) {
    FormulaRecord up;
    up.type = kFormulaSelection;
    up.setName("UP");
    up.source = "C>REF(C,1);";
    ASSERT_EQ(CompileFormula(up), 0);
    formulas.Put(up);
    blocks = std::make_unique<BlockSet>(*paths);
    blocks->BuildSystemBlocks();
    ASSERT_TRUE(blocks->CreateSelfSelectedBlocks());
    auto w = Widget();

    // Ctrl+V offers the signal formulas; the choice goes into the main pane.
    WhenModal([](QWidget* modal) {
        auto* picker = qobject_cast<SignalFormulaPicker*>(modal);
        ASSERT_NE(picker, nullptr);
        EXPECT_TRUE(picker->chosen()) << "the first formula is chosen at the start";
        // Only signal formulas are offered: one branch per manager tab; UP is picked.
        const QList<QTreeWidgetItem*> found = picker->tree()->findItems(QStringLiteral("UP"), Qt::MatchStartsWith | Qt::MatchRecursive);
        ASSERT_EQ(found.size(), 1);
        EXPECT_EQ(found[0]->parent()->text(0), QStringLiteral("选股系统"));
        picker->tree()->setCurrentItem(found[0]);
        picker->grab().save(QStringLiteral(TESSARO_BINARY_DIR "/chart_signal_picker.png"));
        const auto chosen = picker->chosen();
        ASSERT_TRUE(chosen);
        EXPECT_EQ(chosen->second, "UP");
        picker->accept();
    });
    QKeyEvent ctrlV(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier);
    QCoreApplication::sendEvent(w.get(), &ctrlV);
    EXPECT_EQ(FindIndicator(w->view(), 0, kFormulaSelection, "UP"), 0);
    const PaneIndicator* slot = Slot(*w, "UP");
    ASSERT_TRUE(slot && slot->result);
    QKeyEvent altV(QEvent::KeyPress, Qt::Key_V, Qt::AltModifier);
    QCoreApplication::sendEvent(w.get(), &altV);
    EXPECT_EQ(FindIndicator(w->view(), 0, kFormulaSelection, "UP"), -1);
    EXPECT_EQ(w->CloseSignals(), 0);

    // 加入到自选股 and 从板块中删除 for the shown security.
    const std::string first = Utf8ToGbk("自选股1");
    std::string message;
    EXPECT_TRUE(w->AddToUserBlockNamed(first, message));
    SecurityId id;
    ParseSecurityText("SH600519", id);
    EXPECT_EQ(UserBlocksHolding(blocks->Blocks(), id), std::vector<std::string>{first});
    EXPECT_EQ(w->RemoveFromUserBlocksNamed({first}, message), 1);
    EXPECT_TRUE(UserBlocksHolding(blocks->Blocks(), id).empty());
}

}  // namespace
}  // namespace tessaro::chart
