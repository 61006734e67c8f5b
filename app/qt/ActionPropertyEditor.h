#pragma once
// CActionPropertyEditor: the property grid of the chain editor: one row per entry of an event
// action's property table, with the row's label and an editor chosen by the property's type:
//   1 text      a line edit
//   2 integer   a spin box over the whole 32-bit range
//   3 file path a line edit with a button that opens a file chooser
//   4 password  a line edit that masks what is typed
//   5 boolean   a check box (stored as 1 or 0)
// Every change is written into the action at once (the action lives in the sheet's copy of the
// document). Return (or Enter) in the grid edits a cell, as in a spreadsheet: on a row it puts the
// cursor into that row's editor, inside an editor it moves on to the next row's; it never reaches
// the dialog, whose default button it would press. GUI thread only.

#include <QTableWidget>

#include <cstdint>

class CSEventAction;

class CActionPropertyEditor : public QTableWidget {
    Q_OBJECT
public:
    explicit CActionPropertyEditor(QWidget* parent = nullptr);

    // Shows the properties of the action (null: none). The action must outlive the editor's use.
    void SetAction(CSEventAction* action);
    CSEventAction* GetAction() const { return m_action; }

    // The editor for a property type, filled from and writing to the action's property key.
    static QWidget* CreatePropertyEditor(int32_t type, CSEventAction& action, const std::string& key,
                                         QWidget* parent);
    // The editor of a row, or null.
    QWidget* Editor(int row) const { return cellWidget(row, 1); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Puts the keyboard focus into a row's editor; false for a row without one.
    bool FocusEditor(int row);
    // The row whose editor holds `widget`, or -1.
    int RowOf(const QObject* widget) const;

    CSEventAction* m_action = nullptr;
};

// The file path editor: a line edit and a "..." button with a file chooser.
class CFilePathEdit : public QWidget {
    Q_OBJECT
public:
    explicit CFilePathEdit(QWidget* parent = nullptr);
    QString Text() const;
    void SetText(const QString& text);
    class QLineEdit* LineEdit() const {
        return m_edit;
    }

signals:
    void TextChanged(const QString& text);

private:
    class QLineEdit* m_edit;
};
