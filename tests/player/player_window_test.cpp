// The main window and the stand-in control, offscreen.
#include "player/file_io.h"
#include "player/player_window.h"
#include "player/trace_log.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace zuvo {
namespace {

PlayerWindow::ControlFactory StandInFactory(TraceLog* trace = nullptr) {
    return [trace](QWidget* parent) { return new StandInPlayer(trace, parent); };
}

StandInPlayer* StandIn(const PlayerWindow& w) {
    return dynamic_cast<StandInPlayer*>(w.control());
}

struct WindowFixture : ::testing::Test {
    QTemporaryDir dir;
    std::string config() const { return dir.path().toStdString() + "/zuvoplayer/config.ini"; }
    QSize desktop() const { return QGuiApplication::primaryScreen()->virtualGeometry().size(); }
};

TEST_F(WindowFixture, OpensTheStartLinkOnTheStandIn) {
    PlayerWindow w(StandInFactory(), config(),
                   "-zuvopurl \"zuvop2p://Volume=30|playmode=Live|nat=n|cgi=c|action=a|infostring=%E4%B8%AD\"");
    EXPECT_EQ(w.objectName(), "ZuvoPlayerMain");
    ASSERT_NE(StandIn(w), nullptr);
    const auto& props = StandIn(w)->properties();
    EXPECT_EQ(std::get<std::uint32_t>(props.at("volume")), 30u);
    EXPECT_EQ(std::get<std::string>(props.at("playmode")), "Live");
    EXPECT_EQ(std::get<std::string>(props.at("infostring")), "中\"");
    EXPECT_EQ(StandIn(w)->startCalls(), 1);
    // The widget shows what it received.
    QTreeWidget* table = StandIn(w)->table();
    ASSERT_EQ(table->topLevelItemCount(), 6);
    EXPECT_EQ(table->topLevelItem(0)->text(0), "volume");
    EXPECT_EQ(table->topLevelItem(0)->text(2), "30");
    EXPECT_TRUE(StandIn(w)->status()->text().contains("called"));
}

TEST_F(WindowFixture, LaterCommandLinesReplaceTheStoredOneAndKeepOtherProperties) {
    PlayerWindow w(StandInFactory(), config(), "-zuvopurl zuvop2p://volume=30|mute=1");
    w.ReceiveCommandLine("-zuvopurl zuvop2p://volume=40|nat=a|cgi=b");
    EXPECT_EQ(w.commandLine(), "-zuvopurl zuvop2p://volume=40|nat=a|cgi=b");
    const auto& props = StandIn(w)->properties();
    EXPECT_EQ(std::get<std::uint32_t>(props.at("volume")), 40u);
    EXPECT_TRUE(std::get<bool>(props.at("mute")));  // not named by the second link: kept
    EXPECT_EQ(StandIn(w)->startCalls(), 0);          // only two counted parameters
    EXPECT_EQ(StandIn(w)->table()->topLevelItemCount(), 4);  // volume updated in place
    // An empty command line only brings the window to the front.
    w.ReceiveCommandLine("");
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.commandLine(), "-zuvopurl zuvop2p://volume=40|nat=a|cgi=b");
}

TEST_F(WindowFixture, RejectedPropertyIsSkippedAndTraced) {
    QTemporaryDir traceDir;
    const std::string tracePath = traceDir.path().toStdString() + "/trace.txt";
    {
        TraceLog trace(tracePath);
        PlayerWindow w(StandInFactory(&trace), config(),
                       "-zuvopurl zuvop2p://volume=300|statestring=a\nb\\c|nat=1|cgi=2|action=3|mute=0");
        EXPECT_EQ(StandIn(w)->properties().count("volume"), 0u);
        EXPECT_FALSE(std::get<bool>(StandIn(w)->properties().at("mute")));
    }
    EXPECT_EQ(ReadSmallFile(tracePath).text,
              "reject volume number 300\n"
              "set statestring text a\\nb\\\\c\n"
              "set nat counted 1\nset cgi counted 2\nset action counted 3\n"
              "set mute flag false\n"
              "call Start\n");
}

TEST_F(WindowFixture, WithoutAControlTheWindowIsEmptyAndLinksAreIgnored) {
    PlayerWindow w([](QWidget*) -> PlayerControlWidget* { return nullptr; }, config(),
                   "-zuvopurl zuvop2p://volume=3|nat=a|cgi=b|action=c");
    EXPECT_EQ(w.control(), nullptr);
    EXPECT_TRUE(w.findChildren<QWidget*>().isEmpty());
    EXPECT_FALSE(w.OpenStoredLink().opened);
    w.ReceiveCommandLine("-zuvopurl zuvop2p://volume=4");
    EXPECT_EQ(w.commandLine(), "-zuvopurl zuvop2p://volume=4");
    EXPECT_FALSE(w.OpenStoredLink().opened);
}

TEST_F(WindowFixture, SizeComesFromConfigWithDefaultsAndMinimum) {
    {
        PlayerWindow w(StandInFactory(), config(), "");
        const WindowSize expected = PlayerWindow::FitToDesktop({800, 600});
        EXPECT_EQ(w.size(), QSize(expected.width, expected.height));
        EXPECT_EQ(w.minimumSize(), QSize(325, 325));
    }
    ASSERT_TRUE(WriteFileAtomically(config(), "[default]\nwidth=100\nheight=abc\n"));
    PlayerWindow small(StandInFactory(), config(), "");
    EXPECT_EQ(small.size(), QSize(325, 325));
    // A size from a larger desktop never makes a window larger than this one.
    ASSERT_TRUE(WriteFileAtomically(config(), "[default]\nwidth=99999999999\nheight=70000\n"));
    PlayerWindow huge(StandInFactory(), config(), "");
    EXPECT_LE(huge.width(), std::max(325, desktop().width()));
    EXPECT_LE(huge.height(), std::max(325, desktop().height()));
    EXPECT_EQ(PlayerWindow::FitToDesktop({0, 0}), (WindowSize{325, 325}));
}

TEST_F(WindowFixture, CannotBeResizedBelowTheMinimum) {
    PlayerWindow w(StandInFactory(), config(), "");
    w.show();
    w.resize(100, 50);
    EXPECT_EQ(w.size(), QSize(325, 325));
    EXPECT_EQ(w.rememberedSize(), (WindowSize{325, 325}));
}

TEST_F(WindowFixture, CloseSavesTheLastRestoredSizeEvenWhenMaximised) {
    {
        PlayerWindow w(StandInFactory(), config(), "");
        w.show();
        w.resize(500, 400);
        EXPECT_EQ(w.rememberedSize(), (WindowSize{500, 400}));
        w.showMaximized();
        QApplication::processEvents();
        ASSERT_TRUE(w.isMaximized());
        EXPECT_NE(w.size(), QSize(500, 400)) << "the maximised size arrived";
        EXPECT_EQ(w.rememberedSize(), (WindowSize{500, 400}));  // but is not remembered
        EXPECT_TRUE(w.close());
        EXPECT_EQ(w.control(), nullptr);  // released on close
    }
    EXPECT_EQ(ReadSmallFile(config()).text, "[default]\nwidth=500\nheight=400\n");
    PlayerWindow again(StandInFactory(), config(), "");
    EXPECT_EQ(again.size(), QSize(500, 400));
}

TEST_F(WindowFixture, IconHasBothSizes) {
    const QIcon icon = PlayerIcon();
    const QList<QSize> sizes = icon.availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
}

// Chinese values must be readable on screen: a CJK font is installed and used for them.
TEST_F(WindowFixture, ChineseTextIsRenderedWithACjkFont) {
    EXPECT_FALSE(QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty());
    PlayerWindow w(StandInFactory(), config(), "-zuvopurl zuvop2p://infostring=%E4%B8%AD%E6%96%87%E8%A7%86%E9%A2%91");
    w.resize(400, 400);
    QTreeWidget* table = StandIn(w)->table();
    ASSERT_EQ(table->topLevelItemCount(), 1);
    EXPECT_EQ(table->topLevelItem(0)->text(2), QString::fromUtf8("中文视频"));
    QLabel label(QString::fromUtf8("中文视频"));
    label.resize(200, 60);
    QImage image(label.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    label.render(&image);
    int dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) dark += qGray(image.pixel(x, y)) < 128;
    }
    EXPECT_GT(dark, 40);  // glyphs, not nothing
    // Every character has a glyph in the font chosen for it (no fallback boxes).
    const QString cjkFamily = QFontDatabase::families(QFontDatabase::SimplifiedChinese).value(0);
    const QFontMetrics cjk{QFont(cjkFamily)};
    for (QChar c : QString::fromUtf8("中文视频")) EXPECT_TRUE(cjk.inFont(c)) << cjkFamily.toStdString();
}

}  // namespace
}  // namespace zuvo
