#include "app/qt/HotKeyEdit.h"

#include <QKeyEvent>

CHotKeyEdit::CHotKeyEdit(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true); // typed text never lands here: keys are taken whole
    setPlaceholderText("None");
}

void CHotKeyEdit::SetHotKey(const CHotKey& hotKey) {
    m_hotKey = hotKey;
    setText(hotKey.ToText());
    emit HotKeyChanged();
}

void CHotKeyEdit::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_Meta:
    case Qt::Key_AltGr:
    case Qt::Key_unknown:
        return; // a modifier alone: wait for the key
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::ShiftModifier) {
            QLineEdit::keyPressEvent(event); // leaves the field
            return;
        }
        break;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        if (event->modifiers() == Qt::NoModifier) {
            SetHotKey(CHotKey());
            return;
        }
        break;
    default:
        break;
    }
    const CHotKey hotKey = CHotKey::FromQt(key, event->modifiers());
    if (!hotKey.IsEmpty()) {
        SetHotKey(hotKey);
    }
}
