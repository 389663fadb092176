// The player's one top-level window: restores its size from config.ini, is filled by the player
// control, opens links from its command line and from later starts, and saves its size on close.
#pragma once

#include "player/stand_in_player.h"
#include "player/window_config.h"

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

namespace zuvo {

inline constexpr int kMinimumWindowSide = 325;

class PlayerWindow : public QWidget {
    Q_OBJECT
public:
    // Creates the control; nullptr when it cannot be created (the window then stays empty).
    using ControlFactory = std::function<PlayerControlWidget*(QWidget* parent)>;

    // `configPath` may be empty (nothing is read or written). `commandLine` is the process command
    // line without the program name; its link is opened once the control exists.
    PlayerWindow(ControlFactory factory, std::string configPath, std::string commandLine,
                 QWidget* parent = nullptr);
    ~PlayerWindow() override;

    // A command line handed over by a later start: the window comes to the front and, when the
    // command line is not empty, it replaces the stored one and its link is opened.
    void ReceiveCommandLine(const std::string& commandLine);
    // Opens the link of the stored command line on the control.
    LinkOutcome OpenStoredLink();
    // Shows the window if hidden (or minimised) and brings it to the front.
    void ShowAndRaise();
    // Where closing may write the size (see SaveWindowSize); by default the config file's directory.
    void SetWritableRoots(std::vector<std::string> roots) { writableRoots_ = std::move(roots); }

    const std::string& commandLine() const { return commandLine_; }
    PlayerControlWidget* control() const { return control_; }
    // The last size the window had while neither maximised, minimised nor full screen.
    WindowSize rememberedSize() const { return remembered_; }
    // The size to give a window whose stored size is `stored`: at least the minimum, at most the
    // whole desktop (a saved size from a larger screen must not produce a giant window).
    static WindowSize FitToDesktop(WindowSize stored);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void RememberSizeIfRestored();
    void ReleaseControl();

    std::string configPath_;
    std::vector<std::string> writableRoots_;
    std::string commandLine_;
    PlayerControlWidget* control_ = nullptr;
    WindowSize remembered_;
};

// The window icon, drawn at 16 x 16 and 32 x 32.
QIcon PlayerIcon();

}  // namespace zuvo
