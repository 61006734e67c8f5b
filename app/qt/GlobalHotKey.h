#pragma once
// CGlobalHotKey: the system-wide hot key that shows the hidden main window again. On an X11
// display the key is grabbed on the root window (with and without Caps Lock and Num Lock, so that
// their state does not matter) and its presses are picked out of Qt's stream of X events. Where
// the platform cannot grab keys (Wayland, no display), the first attempt writes one line to the
// notification log saying so, and the hot key stays without effect.
//
// GUI thread only; the main frame owns it.

#include "app/qt/HotKey.h"

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>

class CGlobalHotKey : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit CGlobalHotKey(QObject* parent = nullptr);
    ~CGlobalHotKey() override;

    // Grabs the key, releasing the one grabbed before. True when the key is grabbed; an empty
    // hot key releases the grab and returns false.
    bool Register(const CHotKey& hotKey);
    void Unregister();
    bool IsRegistered() const { return m_keyCode != 0; }
    // Whether this platform can grab keys at all.
    static bool PlatformCanGrab();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void Activated();

private:
    CHotKey m_hotKey;
    uint8_t m_keyCode = 0;  // X key code grabbed, 0 none
    uint16_t m_x11Mask = 0; // modifier mask of the grab
    bool m_filterInstalled = false;
    static bool s_unavailableLogged;
};
