#pragma once
// CErrorDialog: the modal dialog "Tavrix - Error" that shows the first record of a reported
// exception in six read-only fields: "Error" (the message, in bold 12-pixel Arial, as its label),
// "Lowlevel Error", "Source File", "Exception Class", "Souce Line" and "Additional Info", and one
// "OK" button. Shown by CQtErrorDisplay on the GUI thread.

#include "foundation/Exceptions.h"

#include <QDialog>

class QLineEdit;

class CErrorDialog : public QDialog {
    Q_OBJECT
public:
    explicit CErrorDialog(const CErrorEntry& entry, QWidget* parent = nullptr);

    // The field shown under a label ("Error", "Lowlevel Error", ...), or null.
    QLineEdit* Field(const QString& label) const;
};
