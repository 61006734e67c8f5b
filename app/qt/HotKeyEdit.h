#pragma once
// CHotKeyEdit: the options dialog's field for the global hot key. It shows the key as text and
// takes the next key pressed while it has the focus, with the Shift, Control and Alt keys held
// with it. Backspace or Delete without a modifier empties it. GUI thread only.

#include "app/qt/HotKey.h"

#include <QLineEdit>

class CHotKeyEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit CHotKeyEdit(QWidget* parent = nullptr);

    void SetHotKey(const CHotKey& hotKey);
    const CHotKey& GetHotKey() const { return m_hotKey; }

signals:
    void HotKeyChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    CHotKey m_hotKey;
};
