#pragma once
// Helpers for the rows of the dialogs' forms. A label's "&" marks its mnemonic only when the
// label has a buddy (the field the mnemonic moves to); without one, Qt shows the "&" as it is.
// QFormLayout gives a label a buddy only when the row's field is a widget, so a row whose field is
// a layout (a field with a button or a value beside it) names its buddy here. GUI thread only.

#include <QFormLayout>
#include <QLabel>
#include <QString>
#include <QWidget>

namespace FormRows {

// Adds the row "text  field" with the label's mnemonic moving the focus to buddy.
inline QLabel* AddRow(QFormLayout* form, const QString& text, QLayout* field, QWidget* buddy) {
    auto* label = new QLabel(text, buddy->parentWidget());
    label->setBuddy(buddy);
    form->addRow(label, field);
    return label;
}

// Text from outside the program (a device's or an encoder's name) as a label or button text: its
// "&" shown as written, never taken for a mnemonic.
inline QString Literal(QString text) {
    return text.replace('&', QStringLiteral("&&"));
}

} // namespace FormRows
