// The boss key: a global hot key when the session runs on X11 (the key is
// grabbed on the root window, so it arrives whichever window has the focus);
// elsewhere (Wayland, offscreen) a shortcut of the main window, which only
// works while one of the program's windows has the focus.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>

class QWidget;
class QShortcut;

namespace tessaro {

class BossKey : public QObject {
    Q_OBJECT
public:
    // Registers the hot key (modifiers as "bkModifiers", key as "bkVirtualCode")
    // for `window`; `pressed` runs on each press. Unregistered by the destructor.
    BossKey(QWidget* window, uint32_t modifiers, uint32_t virtualKey, std::function<void()> pressed);
    ~BossKey() override;

    // True when the key is grabbed globally (X11), false for a window shortcut.
    bool global() const { return global_; }
    // The key as a key sequence text ("Alt+S").
    const std::string& keyText() const { return keyText_; }
    // Runs the press as the hot key would (tests).
    void trigger() { if (pressed_) pressed_(); }

private:
    class X11Grab;
    std::function<void()> pressed_;
    std::unique_ptr<X11Grab> grab_;
    QShortcut* shortcut_ = nullptr;
    bool global_ = false;
    std::string keyText_;
};

}  // namespace tessaro
