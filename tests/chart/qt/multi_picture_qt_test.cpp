// The chart window with several pictures, offscreen: a click makes a picture active and the
// crosshair, keys and menus then act on it; a period switch reaches every picture of a
// 多股票组合 view and only the active one of a 多周期组合 view; the single picture's settings
// become the defaults the new pictures start from.
#include "chart/kline_content.h"

#include "chart/qt/chart_window_fixture.h"

namespace tessaro::chart {
namespace {

QPoint InsideMainPane(const GraphPicture& p) {
    return {RoundPixel(p.panes[0].rects.draw.left) + 30, RoundPixel(p.panes[0].rects.draw.top) + 20};
}

class MultiPictureQt : public ChartWindowFixture {
protected:
    void SetUp() override { Market({"SH600519", "SH600600", "SH600601", "SH600602"}, 100); }
    std::unique_ptr<ChartWidget> Widget() { return ChartWindowFixture::Widget(true); }
};

TEST_F(MultiPictureQt, AClickedPictureTakesTheCrosshairKeysMenusAndPeriods) {
    auto w = Widget();
    Key(*w, Qt::Key_W, Qt::AltModifier);  // 多股票组合 of the four securities
    ASSERT_EQ(w->view().pictureCount(), 4);
    EXPECT_EQ(w->activePicture(), 0);

    // A click in the fourth picture makes it active and puts the crosshair there.
    Click(*w, InsideMainPane(w->view().picture(3)));
    EXPECT_EQ(w->activePicture(), 3);
    EXPECT_EQ(w->view().active(), 3);
    ASSERT_TRUE(w->cursor().on);
    EXPECT_EQ(w->cursor().picture, 3);
    const int bar = w->cursor().bar;
    Key(*w, Qt::Key_Left);
    EXPECT_EQ(w->cursor().picture, 3);
    EXPECT_EQ(w->cursor().bar, bar - 1);
    // The mouse over another picture does not take the crosshair away from the active one.
    Mouse(*w, QEvent::MouseMove, InsideMainPane(w->view().picture(0)), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(w->cursor().picture, 3);

    // A formula from the menu goes to the active picture only.
    ASSERT_TRUE(w->AddFormula(kFormulaSubPane, "KDJ"));
    EXPECT_GE(FindIndicator(w->view(), 3, kFormulaSubPane, "KDJ"), 0);
    EXPECT_EQ(FindIndicator(w->view(), 0, kFormulaSubPane, "KDJ"), -1);
    // Escape closes the crosshair; the title the window shows is the active picture's security.
    Key(*w, Qt::Key_Escape);
    EXPECT_FALSE(w->cursor().on);

    // F8 in a 多股票组合 view: every picture takes the next period.
    Key(*w, Qt::Key_F8);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(w->view().picture(i).period, kPeriodWeek) << i;
    Key(*w, Qt::Key_PageDown);  // every picture steps on its own
    EXPECT_EQ(w->view().picture(0).security.id.codeText(), "600600");
    EXPECT_EQ(w->view().picture(3).security.id.codeText(), "600519");

    // 多周期组合: F8 changes the active picture only; Page Down moves them all together.
    Key(*w, Qt::Key_Space);
    Key(*w, Qt::Key_W, Qt::ControlModifier);
    ASSERT_EQ(w->view().pictureCount(), 4);
    Click(*w, InsideMainPane(w->view().picture(2)));
    EXPECT_EQ(w->activePicture(), 2);
    const Period first = w->view().picture(0).period;
    Key(*w, Qt::Key_F8);
    EXPECT_EQ(w->view().picture(2).period, NextPeriod(kPeriodMin5));
    EXPECT_EQ(w->view().picture(0).period, first);
    Key(*w, Qt::Key_PageDown);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(w->view().picture(i).security.id.codeText(), "600600") << i;
    Spin(50);
    w->grab().save(QStringLiteral(TESSARO_BINARY_DIR "/chart_multi_active.png"));
}

TEST_F(MultiPictureQt, EveryPictureAsksForItsDataInOneRoundTheActiveOneLast) {
    auto w = Widget();
    std::vector<ChartWidget::DataNeed> needs;
    w->SetDataRequester([&](const ChartWidget::DataNeed& n) { needs.push_back(n); });
    Key(*w, Qt::Key_W, Qt::AltModifier);
    Click(*w, InsideMainPane(w->view().picture(2)));
    needs.clear();
    Spin(250);
    ASSERT_EQ(needs.size(), 4u);
    for (size_t i = 0; i < needs.size(); ++i) EXPECT_EQ(needs[i].first, i == 0) << i;
    EXPECT_TRUE(SameSecurity(needs.back().security.id, w->view().picture(2).security.id));
    EXPECT_TRUE(SameSecurity(needs.front().security.id, w->view().picture(0).security.id));
}

TEST_F(MultiPictureQt, TheSinglePicturesSettingsAreKeptAsDefaults) {
    auto w = Widget();
    ASSERT_TRUE(w->AddFormula(kFormulaSubPane, "KDJ"));  // joins the volume pane
    w->SetMainPercentage(true);
    w->SetPeriod(kPeriodMonth);
    const size_t panes = w->view().picture(0).panes.size();
    Key(*w, Qt::Key_W, Qt::AltModifier);
    ASSERT_EQ(w->view().pictureCount(), 4);
    EXPECT_EQ(defaults.cycle, 10u);
    EXPECT_EQ(defaults.coordType, 2u);
    EXPECT_EQ(defaults.areas, panes);
    EXPECT_EQ(FormatPaneList(defaults.kLinePanes[1]), "4\tVOL\t4\tKDJ\t");
    // The new pictures start from them: KDJ in the second pane, percentage mode, the period.
    EXPECT_GE(FindIndicator(w->view(), 3, kFormulaSubPane, "KDJ"), 0);
    EXPECT_EQ(w->view().picture(3).panes[0].scaleMode & 3, kScalePercentage);
    EXPECT_EQ(w->view().picture(3).period, kPeriodMonth);

    // Changes made to the pictures of the combination are not kept.
    w->SetMainPercentage(false);
    w->SetPeriod(kPeriodDay);
    Key(*w, Qt::Key_Space);
    ASSERT_EQ(w->view().pictureCount(), 1);
    EXPECT_EQ(w->view().picture(0).panes.size(), panes);
    EXPECT_GE(FindIndicator(w->view(), 0, kFormulaSubPane, "KDJ"), 0);
    EXPECT_EQ(defaults.coordType, 2u);

    // Closing the window with one picture keeps its settings.
    w->SetPeriod(kPeriodWeek);
    w.reset();
    EXPECT_EQ(defaults.cycle, 9u);
}

TEST_F(MultiPictureQt, TheSavedPaneListsAreWhatTheNextWindowAndSessionShow) {
    defaults.areas = 3;
    defaults.kLinePanes[2].clear();
    defaults.kLinePanes[2].add(4, "KDJ");
    defaults.formula0 = "BAR";
    defaults.ruler = 50;
    defaults.coordType = 2;
    auto w = Widget();
    const GraphPicture& p = w->view().picture(0);
    ASSERT_EQ(p.panes.size(), 3u);
    EXPECT_EQ(p.panes[0].indicators.at(0).formula.nameText(), "MA");
    EXPECT_EQ(p.panes[1].indicators.at(0).formula.nameText(), "VOL");
    EXPECT_EQ(p.panes[2].indicators.at(0).formula.nameText(), "KDJ");
    EXPECT_EQ(p.kline.formula.nameText(), "BAR");
    EXPECT_EQ(p.scale.visible, 50);
    EXPECT_EQ(p.panes[0].scaleMode & 3, kScalePercentage);

    // The user's change is kept when the window closes, and the settings carry it to the next
    // session (formulas missing from the set are left out when read).
    ASSERT_TRUE(w->AddFormula(kFormulaSubPane, "RSI"));  // joins the volume pane
    w.reset();
    EXPECT_EQ(FormatPaneList(defaults.kLinePanes[1]), "4\tVOL\t4\tRSI\t");
    defaults.kLinePanes[3].clear();
    defaults.kLinePanes[3].add(4, "GONE");
    SettingsStore saved;
    SaveSettings(saved, defaults);
    SystemSettings next;
    LoadSettings(saved, next, [this](int32_t type, std::string_view name) {
        return formulas.Contains(static_cast<uint32_t>(type), name);
    });
    EXPECT_EQ(FormatPaneList(next.kLinePanes[1]), "4\tVOL\t4\tRSI\t");
    EXPECT_EQ(next.kLinePanes[3].count, 0);
    EXPECT_EQ(next.areas, 3u);
    EXPECT_EQ(next.formula0, "BAR");
    defaults = next;
    w = Widget();
    ASSERT_EQ(w->view().picture(0).panes.size(), 3u);
    EXPECT_GE(FindIndicator(w->view(), 0, kFormulaSubPane, "RSI"), 0);
}

TEST_F(MultiPictureQt, PriceAxisDragInPercentageModeAndTheBandsText) {
    auto w = Widget();
    w->SetMainPercentage(true);
    const GraphPane& main = w->view().picture(0).panes[0];
    const float before = main.reference;
    ASSERT_NE(before, 0);
    const float scale = main.map.scale;
    const QPoint axis(RoundPixel(main.rects.rightAxis.left) + 10, RoundPixel((main.rects.draw.top + main.rects.draw.bottom) / 2));
    // A move of 1 pixel is no drag; then 40 pixels down in four steps.
    Mouse(*w, QEvent::MouseButtonPress, axis, Qt::LeftButton, Qt::LeftButton);
    Mouse(*w, QEvent::MouseMove, axis + QPoint(0, 1), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(main.reference, before);
    for (int i = 1; i <= 4; ++i) Mouse(*w, QEvent::MouseMove, axis + QPoint(0, 10 * i), Qt::NoButton, Qt::LeftButton);
    Mouse(*w, QEvent::MouseButtonRelease, axis + QPoint(0, 40), Qt::LeftButton, Qt::NoButton);
    EXPECT_NEAR(main.reference, before - 40 / scale, 0.002f * before);
    EXPECT_FALSE(w->cursor().on) << "the drag is no click on a bar";

    // A rubber band shows its bars' times and count, inverted.
    const QPoint from(RoundPixel(main.rects.draw.left) + 60, RoundPixel(main.rects.draw.top) + 40);
    Mouse(*w, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    Mouse(*w, QEvent::MouseMove, from + QPoint(150, 120), Qt::NoButton, Qt::LeftButton);
    const QImage shown = w->grab().toImage();
    shown.save(QStringLiteral(TESSARO_BINARY_DIR "/chart_rubber_band.png"));
    int inverted = 0;
    const QImage& back = w->canvas().image();
    for (int y = from.y() + 2; y < from.y() + 16; ++y)
        for (int x = from.x() + 3; x < from.x() + 80; ++x)
            if (shown.pixel(x, y) != back.pixel(x, y)) ++inverted;
    EXPECT_GT(inverted, 20) << "the text is drawn inverted inside the band";
    Mouse(*w, QEvent::MouseButtonRelease, from + QPoint(150, 120), Qt::LeftButton, Qt::NoButton);
}

}  // namespace
}  // namespace tessaro::chart
