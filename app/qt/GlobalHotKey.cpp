#include "app/qt/GlobalHotKey.h"

#include "foundation/Tracer.h"
#include "persistence/NotificationLog.h"

#include <QCoreApplication>
#include <QGuiApplication>

#ifdef TAVRIX_HAVE_X11
#include <X11/Xlib.h>
#include <xcb/xcb.h>
#endif

namespace {
#ifdef TAVRIX_HAVE_X11
// Caps Lock (LockMask) and Num Lock (Mod2Mask on common layouts) must not hide the hot key.
constexpr uint16_t kIgnoredLocks[] = {0, 2 /*LockMask*/, 16 /*Mod2Mask*/, 2 | 16};

QNativeInterface::QX11Application* X11() {
    auto* app = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return app && app->display() && app->connection() ? app : nullptr;
}
#endif
} // namespace

bool CGlobalHotKey::s_unavailableLogged = false;

CGlobalHotKey::CGlobalHotKey(QObject* parent) : QObject(parent) {}

CGlobalHotKey::~CGlobalHotKey() {
    Unregister();
    if (m_filterInstalled && QCoreApplication::instance()) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

bool CGlobalHotKey::PlatformCanGrab() {
#ifdef TAVRIX_HAVE_X11
    return X11() != nullptr;
#else
    return false;
#endif
}

bool CGlobalHotKey::Register(const CHotKey& hotKey) {
    Unregister();
    if (hotKey.IsEmpty()) {
        return false;
    }
    if (!PlatformCanGrab()) {
        if (!s_unavailableLogged) {
            s_unavailableLogged = true;
            CNotificationLog::Instance().AddEntry(
                "", "",
                "The global hot key " + hotKey.ToText().toStdString() +
                    " is not available: this platform does not let programs grab keys (no X11 display).");
        }
        TRACE("CGlobalHotKey::Register() no X11 display: hot key %s not grabbed",
              hotKey.ToText().toUtf8().constData());
        return false;
    }
#ifdef TAVRIX_HAVE_X11
    QNativeInterface::QX11Application* x11 = X11();
    Display* display = x11->display();
    xcb_connection_t* connection = x11->connection();
    const uint32_t keySym = hotKey.ToKeySym();
    const KeyCode keyCode = keySym ? XKeysymToKeycode(display, keySym) : 0;
    if (keyCode == 0) {
        CNotificationLog::Instance().AddEntry(
            "", "", "The global hot key " + hotKey.ToText().toStdString() + " has no key on this keyboard.");
        return false;
    }
    const xcb_window_t root = DefaultRootWindow(display);
    const uint16_t mask = static_cast<uint16_t>(hotKey.ToX11Modifiers());
    bool grabbed = true;
    for (const uint16_t locks : kIgnoredLocks) {
        xcb_void_cookie_t cookie = xcb_grab_key_checked(connection, 1, root, mask | locks, keyCode,
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t* error = xcb_request_check(connection, cookie)) {
            free(error);
            grabbed = false;
        }
    }
    if (!grabbed) {
        for (const uint16_t locks : kIgnoredLocks) {
            xcb_ungrab_key(connection, keyCode, root, mask | locks);
        }
        xcb_flush(connection);
        CNotificationLog::Instance().AddEntry(
            "", "", "The global hot key " + hotKey.ToText().toStdString() + " is used by another program.");
        return false;
    }
    xcb_flush(connection);
    m_hotKey = hotKey;
    m_keyCode = keyCode;
    m_x11Mask = mask;
    if (!m_filterInstalled) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_filterInstalled = true;
    }
    TRACE("CGlobalHotKey::Register() grabbed %s (key code %u)", hotKey.ToText().toUtf8().constData(),
          static_cast<unsigned>(keyCode));
    return true;
#else
    return false;
#endif
}

void CGlobalHotKey::Unregister() {
#ifdef TAVRIX_HAVE_X11
    if (m_keyCode != 0) {
        if (QNativeInterface::QX11Application* x11 = X11()) {
            const xcb_window_t root = DefaultRootWindow(x11->display());
            xcb_connection_t* connection = x11->connection();
            for (const uint16_t locks : kIgnoredLocks) {
                xcb_ungrab_key(connection, m_keyCode, root, m_x11Mask | locks);
            }
            // A round trip: once it returns the server has released the key, so another program
            // (or a new registration) can take it at once.
            free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
        }
    }
#endif
    m_keyCode = 0;
    m_x11Mask = 0;
    m_hotKey = CHotKey();
}

bool CGlobalHotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
#ifdef TAVRIX_HAVE_X11
    if (m_keyCode == 0 || eventType != "xcb_generic_event_t" || message == nullptr) {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS) {
        return false;
    }
    const auto* press = static_cast<const xcb_key_press_event_t*>(message);
    const uint16_t relevant = press->state & (1 | 4 | 8); // Shift, Control, Mod1
    if (press->detail == m_keyCode && relevant == m_x11Mask) {
        emit Activated();
        return true;
    }
#else
    (void)eventType;
    (void)message;
#endif
    return false;
}
