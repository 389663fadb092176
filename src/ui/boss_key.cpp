#include "ui/boss_key.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

#include "ui/model/shell_rules.h"

#ifdef TESSARO_HAVE_X11
#include <X11/Xlib.h>
#include <xcb/xcb.h>
#endif

namespace tessaro {

#ifdef TESSARO_HAVE_X11
// The key grabbed on the root window, with every combination of the lock
// modifiers (Caps Lock, Num Lock) so that they do not hide the key.
class BossKey::X11Grab : public QAbstractNativeEventFilter {
public:
    static std::unique_ptr<X11Grab> Create(const X11HotKey& key, std::function<void()> pressed) {
        auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (!x11 || !x11->display()) return nullptr;
        Display* display = x11->display();
        KeyCode code = XKeysymToKeycode(display, KeySym(key.keysym));
        if (code == 0) return nullptr;
        auto grab = std::unique_ptr<X11Grab>(new X11Grab(display, code, key.modifiers, std::move(pressed)));
        Window root = DefaultRootWindow(display);
        // Another program holding the key makes the server refuse the grab (BadAccess);
        // Xlib's own handler would end the program, so the refusal is caught here.
        XSync(display, False);
        grabFailed = false;
        XErrorHandler previous = XSetErrorHandler(OnGrabError);
        for (unsigned extra : kLockMasks)
            XGrabKey(display, code, key.modifiers | extra, root, True, GrabModeAsync, GrabModeAsync);
        XSync(display, False);
        XSetErrorHandler(previous);
        if (grabFailed) {
            for (unsigned extra : kLockMasks) XUngrabKey(display, code, key.modifiers | extra, root);
            XSync(display, False);
            grab->released_ = true;
            return nullptr;
        }
        QCoreApplication::instance()->installNativeEventFilter(grab.get());
        return grab;
    }

    ~X11Grab() override {
        if (released_) return;
        QCoreApplication::instance()->removeNativeEventFilter(this);
        Window root = DefaultRootWindow(display_);
        for (unsigned extra : kLockMasks) XUngrabKey(display_, code_, modifiers_ | extra, root);
        XSync(display_, False);
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        auto* event = static_cast<xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7F) != XCB_KEY_PRESS) return false;
        auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
        unsigned state = key->state & ~(LockMask | Mod2Mask);
        if (key->detail != code_ || state != modifiers_) return false;
        if (pressed_) pressed_();
        return true;
    }

private:
    static constexpr unsigned kLockMasks[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
    static inline bool grabFailed = false;
    static int OnGrabError(Display*, XErrorEvent* error) {
        if (error->error_code == BadAccess) grabFailed = true;
        return 0;
    }
    bool released_ = false;
    X11Grab(Display* display, KeyCode code, unsigned modifiers, std::function<void()> pressed)
        : display_(display), code_(code), modifiers_(modifiers), pressed_(std::move(pressed)) {}
    Display* display_;
    KeyCode code_;
    unsigned modifiers_;
    std::function<void()> pressed_;
};
#else
class BossKey::X11Grab {};
#endif

BossKey::BossKey(QWidget* window, uint32_t modifiers, uint32_t virtualKey, std::function<void()> pressed)
    : QObject(window), pressed_(std::move(pressed)), keyText_(HotKeyText(modifiers, virtualKey)) {
#ifdef TESSARO_HAVE_X11
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (auto key = HotKeyToX11(modifiers, virtualKey)) {
            grab_ = X11Grab::Create(*key, [this] { trigger(); });
            global_ = grab_ != nullptr;
        }
    }
#endif
    if (!global_) {
        std::string text = HotKeyText(modifiers, virtualKey);
        if (!text.empty()) {
            shortcut_ = new QShortcut(QKeySequence(QString::fromStdString(text)), window);
            shortcut_->setContext(Qt::ApplicationShortcut);
            connect(shortcut_, &QShortcut::activated, this, [this] { trigger(); });
        }
    }
}

BossKey::~BossKey() = default;

}  // namespace tessaro
