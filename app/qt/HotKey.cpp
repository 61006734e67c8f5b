#include "app/qt/HotKey.h"

#include <QKeySequence>

namespace {

struct KeyRow {
    uint16_t virtualKey;
    int qtKey;
    uint32_t keySym;
};

// Keys that are not letters, digits or function keys (those are computed).
constexpr KeyRow kKeys[] = {
    {0x08, Qt::Key_Backspace, 0xFF08},    {0x09, Qt::Key_Tab, 0xFF09},
    {0x0D, Qt::Key_Return, 0xFF0D},       {0x13, Qt::Key_Pause, 0xFF13},
    {0x1B, Qt::Key_Escape, 0xFF1B},       {0x20, Qt::Key_Space, 0x0020},
    {0x21, Qt::Key_PageUp, 0xFF55},       {0x22, Qt::Key_PageDown, 0xFF56},
    {0x23, Qt::Key_End, 0xFF57},          {0x24, Qt::Key_Home, 0xFF50},
    {0x25, Qt::Key_Left, 0xFF51},         {0x26, Qt::Key_Up, 0xFF52},
    {0x27, Qt::Key_Right, 0xFF53},        {0x28, Qt::Key_Down, 0xFF54},
    {0x2D, Qt::Key_Insert, 0xFF63},       {0x2E, Qt::Key_Delete, 0xFFFF},
    {0x91, Qt::Key_ScrollLock, 0xFF14},   {0xBA, Qt::Key_Semicolon, 0x003B},
    {0xBB, Qt::Key_Equal, 0x003D},        {0xBC, Qt::Key_Comma, 0x002C},
    {0xBD, Qt::Key_Minus, 0x002D},        {0xBE, Qt::Key_Period, 0x002E},
    {0xBF, Qt::Key_Slash, 0x002F},        {0xC0, Qt::Key_QuoteLeft, 0x0060},
    {0xDB, Qt::Key_BracketLeft, 0x005B},  {0xDC, Qt::Key_Backslash, 0x005C},
    {0xDD, Qt::Key_BracketRight, 0x005D}, {0xDE, Qt::Key_Apostrophe, 0x0027},
};

constexpr uint16_t kVkF1 = 0x70;
constexpr uint16_t kVkF24 = 0x87;

} // namespace

CHotKey CHotKey::FromQt(int qtKey, Qt::KeyboardModifiers modifiers) {
    uint16_t flags = 0;
    if (modifiers & Qt::ShiftModifier) {
        flags |= kShift;
    }
    if (modifiers & Qt::ControlModifier) {
        flags |= kControl;
    }
    if (modifiers & Qt::AltModifier) {
        flags |= kAlt;
    }
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) {
        return CHotKey(static_cast<uint16_t>('A' + (qtKey - Qt::Key_A)), flags);
    }
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
        return CHotKey(static_cast<uint16_t>('0' + (qtKey - Qt::Key_0)), flags);
    }
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) {
        return CHotKey(static_cast<uint16_t>(kVkF1 + (qtKey - Qt::Key_F1)), flags);
    }
    if (qtKey == Qt::Key_Enter) {
        qtKey = Qt::Key_Return;
    }
    for (const KeyRow& row : kKeys) {
        if (row.qtKey == qtKey) {
            return CHotKey(row.virtualKey, flags);
        }
    }
    return CHotKey();
}

QKeyCombination CHotKey::ToQt() const {
    Qt::KeyboardModifiers modifiers;
    if (m_modifiers & kShift) {
        modifiers |= Qt::ShiftModifier;
    }
    if (m_modifiers & kControl) {
        modifiers |= Qt::ControlModifier;
    }
    if (m_modifiers & kAlt) {
        modifiers |= Qt::AltModifier;
    }
    int key = Qt::Key_unknown;
    if (m_virtualKey >= 'A' && m_virtualKey <= 'Z') {
        key = Qt::Key_A + (m_virtualKey - 'A');
    } else if (m_virtualKey >= '0' && m_virtualKey <= '9') {
        key = Qt::Key_0 + (m_virtualKey - '0');
    } else if (m_virtualKey >= kVkF1 && m_virtualKey <= kVkF24) {
        key = Qt::Key_F1 + (m_virtualKey - kVkF1);
    } else {
        for (const KeyRow& row : kKeys) {
            if (row.virtualKey == m_virtualKey) {
                key = row.qtKey;
                break;
            }
        }
    }
    return QKeyCombination(modifiers, static_cast<Qt::Key>(key));
}

uint32_t CHotKey::ToKeySym() const {
    if (m_virtualKey >= 'A' && m_virtualKey <= 'Z') {
        return 'a' + (m_virtualKey - 'A'); // XK_a ...
    }
    if (m_virtualKey >= '0' && m_virtualKey <= '9') {
        return m_virtualKey; // XK_0 ... have the ASCII values
    }
    if (m_virtualKey >= kVkF1 && m_virtualKey <= kVkF24) {
        return 0xFFBE + (m_virtualKey - kVkF1); // XK_F1 ...
    }
    for (const KeyRow& row : kKeys) {
        if (row.virtualKey == m_virtualKey) {
            return row.keySym;
        }
    }
    return 0;
}

uint32_t CHotKey::ToX11Modifiers() const {
    uint32_t mask = 0;
    if (m_modifiers & kShift) {
        mask |= 1u; // ShiftMask
    }
    if (m_modifiers & kControl) {
        mask |= 4u; // ControlMask
    }
    if (m_modifiers & kAlt) {
        mask |= 8u; // Mod1Mask
    }
    return mask;
}

QString CHotKey::ToText() const {
    if (IsEmpty()) {
        return QString();
    }
    const QKeyCombination combination = ToQt();
    if (combination.key() == Qt::Key_unknown) {
        return QString("Key 0x%1").arg(m_virtualKey, 2, 16, QLatin1Char('0'));
    }
    return QKeySequence(combination).toString(QKeySequence::PortableText);
}
