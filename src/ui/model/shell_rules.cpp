#include "ui/model/shell_rules.h"

#include <cmath>
#include <cstdio>

#include "platform/store_time.h"
#include "platform/text.h"

namespace tessaro {

StatusPaneWidths ComputeStatusPaneWidths(int e, int w) {
    StatusPaneWidths out;
    out.sh = w + 7 * e + (7 * e + 5) + (w + 6 * e + 5);
    out.sz = w + 8 * e + (8 * e + 5) + (w + 6 * e + 5);
    out.connection = 5 * w;
    return out;
}

std::string_view IndexPaneCaption(bool sh) { return sh ? "上证" : "深证"; }

IndexPaneText FormatIndexPane(bool sh, const std::optional<QuoteSnapshot>& quote) {
    IndexPaneText out;
    out.caption = std::string(IndexPaneCaption(sh));
    float last = quote ? quote->bar.close : 0.0f;
    if (!quote || !std::isfinite(last) || last <= 0.0f) {
        out.last = "-";
        return out;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f", double(last));
    out.last = buf;
    float prev = quote->prevClose;
    double change = (std::isfinite(prev) && prev > 0.0f) ? double(last) - double(prev) : 0.0;
    std::snprintf(buf, sizeof buf, "%+.2f", change);
    out.change = buf;
    out.direction = change > 0.000001 ? 1 : change < -0.000001 ? -1 : 0;
    double amount = std::isfinite(quote->bar.amount) && quote->bar.amount > 0 ? double(quote->bar.amount) / 1e8 : 0.0;
    std::snprintf(buf, sizeof buf, "%.0f亿", amount);
    out.amount = buf;
    return out;
}

std::string ConnectionPaneText(ConnectionPaneState state, std::string_view serverName) {
    switch (state) {
        case ConnectionPaneState::Connected: return std::string(serverName);
        case ConnectionPaneState::Connecting: return "正在连接...";
        case ConnectionPaneState::NoSocket: return "连接已断开";
    }
    return {};
}

std::string TickerTextFromFile(std::string_view gbkBytes) {
    std::string text = GbkToUtf8(gbkBytes);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\r' || c == '\n' || c == '\t') {
            if (!out.empty() && out.back() != ' ') out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    size_t begin = out.find_first_not_of(' ');
    if (begin == std::string::npos) return {};
    size_t end = out.find_last_not_of(' ');
    return out.substr(begin, end - begin + 1);
}

void Ticker::SetGeometry(int paneWidth, int textWidth) {
    int width = paneWidth < 0 ? 0 : paneWidth;
    textWidth_ = textWidth < 0 ? 0 : textWidth;
    // Not yet moved: the text waits at the (new) right edge.
    if (!placed_ || x_ == paneWidth_) x_ = width;
    paneWidth_ = width;
    placed_ = true;
}

void Ticker::Step(bool pointerOverStatusBar) {
    if (pointerOverStatusBar || textWidth_ == 0) return;
    --x_;
    // Restart at the right edge only once the last pixel of the text has left.
    if (x_ + textWidth_ <= 0) x_ = paneWidth_;
}

WindowAction OnBossHotKey(bool bossKeyEnabled, bool windowVisible) {
    if (windowVisible && bossKeyEnabled) return WindowAction::Hide;
    return WindowAction::ShowWithoutActivating;
}

WindowAction OnTrayPress(TrayButton button, bool windowVisible) {
    if (button != TrayButton::Left) return WindowAction::Nothing;
    return windowVisible ? WindowAction::Hide : WindowAction::ShowWithoutActivating;
}

namespace {
// Virtual-key codes: '0'..'9' 0x30-0x39, 'A'..'Z' 0x41-0x5A, F1..F12 0x70-0x7B.
std::optional<uint32_t> VirtualKeyToKeysym(uint32_t vk) {
    if (vk >= 0x30 && vk <= 0x39) return vk;                // XK_0..XK_9
    if (vk >= 0x41 && vk <= 0x5A) return vk - 0x41 + 0x61;  // XK_a..XK_z
    if (vk >= 0x70 && vk <= 0x7B) return 0xFFBE + (vk - 0x70);  // XK_F1..XK_F12
    return std::nullopt;
}
std::optional<std::string> VirtualKeyName(uint32_t vk) {
    if ((vk >= 0x30 && vk <= 0x39) || (vk >= 0x41 && vk <= 0x5A)) return std::string(1, char(vk));
    if (vk >= 0x70 && vk <= 0x7B) return "F" + std::to_string(vk - 0x70 + 1);
    return std::nullopt;
}
}  // namespace

std::optional<X11HotKey> HotKeyToX11(uint32_t modifiers, uint32_t virtualKey) {
    auto keysym = VirtualKeyToKeysym(virtualKey);
    if (!keysym) return std::nullopt;
    X11HotKey out;
    out.keysym = *keysym;
    if (modifiers & 1) out.modifiers |= 8;   // Alt: Mod1Mask
    if (modifiers & 2) out.modifiers |= 4;   // Ctrl: ControlMask
    if (modifiers & 4) out.modifiers |= 1;   // Shift: ShiftMask
    if (modifiers & 8) out.modifiers |= 64;  // Win: Mod4Mask
    return out;
}

std::string HotKeyText(uint32_t modifiers, uint32_t virtualKey) {
    auto name = VirtualKeyName(virtualKey);
    if (!name) return {};
    std::string out;
    if (modifiers & 2) out += "Ctrl+";
    if (modifiers & 1) out += "Alt+";
    if (modifiers & 4) out += "Shift+";
    if (modifiers & 8) out += "Meta+";
    return out + *name;
}

Rect FullScreenState::Enter(const WindowPlacement& current, const Rect& workArea, const FrameExtents& frame) {
    if (!saved_) saved_ = current;  // a second Enter keeps the first placement
    return Rect{workArea.x - frame.left, workArea.y - frame.top - frame.menu, workArea.width + frame.left + frame.right,
                workArea.height + frame.top + frame.menu + frame.bottom};
}

std::optional<WindowPlacement> FullScreenState::Leave() {
    auto out = saved_;
    saved_.reset();
    return out;
}

std::string_view SuppressionValueName(uint16_t code, bool refused) {
    if (code == 0x4001 && !refused) return "disloginmessage";
    if (code == 0x9001) return "dismessage";
    return {};
}

MessageShow DecideMessageShow(uint16_t code, bool refused, uint32_t storedUnixTime, int64_t nowUnix) {
    if (SuppressionValueName(code, refused).empty()) return MessageShow::Plain;
    if (storedUnixTime == 0) return MessageShow::WithCheckBox;
    // Calendar days in market time.
    StoreTime stored = StoreTimeFromUnix(int64_t(storedUnixTime));
    StoreTime now = StoreTimeFromUnix(nowUnix);
    return StartOfDay(stored) == StartOfDay(now) ? MessageShow::Drop : MessageShow::WithCheckBox;
}

}  // namespace tessaro
