#pragma once
// CHotKey: the global hot key as the settings store it ("InvHK_VirtualKeyCode", "InvHK_Modifiers":
// a virtual-key code of the Windows keyboard layout and the modifier flags 1 Shift, 2 Control,
// 4 Alt), and its translations: to and from Qt's key codes (the options dialog's key field), to
// an X11 key symbol and modifier mask (the grab), and to a readable text ("Ctrl+Alt+Shift+C").
// Keys outside the table (letters, digits, function keys, navigation and punctuation keys) have no
// translation. A plain value; any thread.

#include <QKeyCombination>
#include <QString>

#include <cstdint>

class CHotKey {
public:
    static constexpr uint16_t kShift = 1;
    static constexpr uint16_t kControl = 2;
    static constexpr uint16_t kAlt = 4;
    // The hot key the options dialog proposes when none is stored: Control+Shift+Alt+C.
    static constexpr uint16_t kProposedVirtualKey = 67;
    static constexpr uint16_t kProposedModifiers = kShift | kControl | kAlt;

    CHotKey() = default;
    CHotKey(uint16_t virtualKey, uint16_t modifiers) : m_virtualKey(virtualKey), m_modifiers(modifiers & 7) {}

    bool IsEmpty() const { return m_virtualKey == 0; }
    uint16_t GetVirtualKey() const { return m_virtualKey; }
    uint16_t GetModifiers() const { return m_modifiers; }

    // From a key event's key and modifiers; empty when the key has no virtual-key code here.
    static CHotKey FromQt(int qtKey, Qt::KeyboardModifiers modifiers);
    // Qt's key and modifiers; Qt::Key_unknown for a code outside the table.
    QKeyCombination ToQt() const;
    // The X11 key symbol (0 when there is none) and modifier mask (ShiftMask 1, ControlMask 4,
    // Mod1Mask 8).
    uint32_t ToKeySym() const;
    uint32_t ToX11Modifiers() const;
    // "Ctrl+Alt+Shift+C"; empty for an empty hot key; "Key 0xNN" for a code outside the table.
    QString ToText() const;

    bool operator==(const CHotKey&) const = default;

private:
    uint16_t m_virtualKey = 0;
    uint16_t m_modifiers = 0;
};
