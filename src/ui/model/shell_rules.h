// The main window's rules without Qt: the status bar's pane widths and index
// texts, the ticker, the boss key and the tray icon, full-screen placement and
// the day-long suppression of server messages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "market/records.h"

namespace tessaro {

// ---- Status bar ---------------------------------------------------------------

enum StatusPane : int { kPaneLogo = 0, kPaneSh = 1, kPaneSz = 2, kPaneTicker = 3, kPaneConnection = 4, kStatusPaneCount = 5 };

// The fixed pane widths: e is the width of the letter "e", w the width of two
// characters of the caption text, both in the status font. The logo and the
// ticker share what is left (the logo as wide as the bar is high).
struct StatusPaneWidths {
    int sh = 0, sz = 0, connection = 0;
};
StatusPaneWidths ComputeStatusPaneWidths(int e, int w);
// The bar's height: the status font's character height plus 4.
inline int StatusBarHeight(int charHeight) { return charHeight + 4; }

// An index pane: its caption and the three figures of the index's snapshot.
struct IndexPaneText {
    std::string caption;  // "上证" / "深证"
    std::string last;     // "3245.67"; "-" before any quote
    std::string change;   // "+12.34"
    std::string amount;   // "1234亿"
    int direction = 0;    // +1 rise, -1 fall, 0 level (the colour)
};
// The caption of the pane of the Shanghai (sh = true) or Shenzhen index.
std::string_view IndexPaneCaption(bool sh);
IndexPaneText FormatIndexPane(bool sh, const std::optional<QuoteSnapshot>& quote);

// The connection pane: the server's name while connected, "正在连接..." while a
// socket exists but is not connected, "连接已断开" without a socket.
enum class ConnectionPaneState { NoSocket, Connecting, Connected };
std::string ConnectionPaneText(ConnectionPaneState state, std::string_view serverName);

// The ticker line from the bytes of base/scrollmessage.txt (GBK): line breaks
// and tabs become spaces, surrounding blanks go.
std::string TickerTextFromFile(std::string_view gbkBytes);

// The ticker: the text's left edge moves one pixel left per 20 ms step (not
// while the pointer is over the status bar) and restarts at the pane's right
// edge once the whole text has left the pane. Until it first moves, the text
// waits at the right edge however the pane is resized.
class Ticker {
public:
    void SetGeometry(int paneWidth, int textWidth);
    void Step(bool pointerOverStatusBar);
    int x() const { return x_; }
    int paneWidth() const { return paneWidth_; }

private:
    int paneWidth_ = 0;
    int textWidth_ = 0;
    int x_ = 0;
    bool placed_ = false;
};

// ---- Boss key and tray ---------------------------------------------------------

enum class WindowAction { Nothing, Hide, ShowWithoutActivating };

// The boss key's hot key arrived: a visible window is hidden when "bBossKey"
// is on; in every other case the window is shown without activation.
WindowAction OnBossHotKey(bool bossKeyEnabled, bool windowVisible);

enum class TrayButton { Left, Right, Middle, Double };
// A left-button press hides a visible window and shows a hidden one without
// activating it; the icon reacts to nothing else.
WindowAction OnTrayPress(TrayButton button, bool windowVisible);

// The hot key of "bkModifiers" (1 Alt, 2 Ctrl, 4 Shift, 8 Win) and
// "bkVirtualCode" as X11 modifier bits and keysym; nullopt for a key code that
// has no keysym here.
struct X11HotKey {
    uint32_t modifiers = 0;  // ShiftMask 1, ControlMask 4, Mod1Mask 8, Mod4Mask 64
    uint32_t keysym = 0;
};
std::optional<X11HotKey> HotKeyToX11(uint32_t modifiers, uint32_t virtualKey);
// The same as a key sequence text for a window shortcut ("Alt+S").
std::string HotKeyText(uint32_t modifiers, uint32_t virtualKey);

// ---- Full screen ------------------------------------------------------------------

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};
struct WindowPlacement {
    Rect normal;             // the restored (not maximised) geometry
    bool maximized = false;
    friend bool operator==(const WindowPlacement&, const WindowPlacement&) = default;
};
// What hides above the client area when the window covers the work area: the
// frame's left/top/right/bottom borders (the caption counted in top) and the
// menu bar.
struct FrameExtents {
    int left = 0, top = 0, right = 0, bottom = 0;
    int menu = 0;
};

class FullScreenState {
public:
    bool on() const { return saved_.has_value(); }
    // Turning on: remembers the placement and returns the frame rectangle that
    // puts the client area (below the menu) over the whole work area.
    Rect Enter(const WindowPlacement& current, const Rect& workArea, const FrameExtents& frame);
    // Turning off: the placement to restore (nullopt when not on).
    std::optional<WindowPlacement> Leave();

private:
    std::optional<WindowPlacement> saved_;
};

// ---- Server messages --------------------------------------------------------------

enum class MessageShow { Drop, WithCheckBox, Plain };
// Settings value ("disloginmessage" or "dismessage", under Settings) that
// holds the suppression of a message kind; empty for kinds never suppressed.
std::string_view SuppressionValueName(uint16_t code, bool refused);
// A notice with an accepted login (0x4001, not refused) and a server notice
// (0x9001) are shown with "今日不再显示" unless the box was ticked on the same
// calendar day (market time); every other message is shown plainly.
MessageShow DecideMessageShow(uint16_t code, bool refused, uint32_t storedUnixTime, int64_t nowUnix);
// What to store after the dialog: the present time when the box was ticked, else 0.
inline uint32_t SuppressionAfterDialog(bool ticked, int64_t nowUnix) {
    return ticked ? static_cast<uint32_t>(nowUnix) : 0;
}

}  // namespace tessaro
