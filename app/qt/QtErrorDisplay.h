#pragma once
// CQtErrorDisplay: how reported exceptions and message boxes reach the user in the desktop shell.
// Registered as the error display while the Qt application runs. Whatever thread reports, the
// dialog is queued to the GUI thread and shown there; the reporting thread never waits for it (a
// record thread may be reporting while the GUI thread waits for that very thread).
//
// Showing is queued even on the GUI thread, so that a report inside an event handler never opens
// a nested event loop in the middle of that handler's work.

#include "foundation/ErrorReport.h"

#include <QObject>

#include <functional>

class CQtErrorDisplay : public QObject, public IErrorDisplay {
    Q_OBJECT
public:
    // Registers itself as the error display; the destructor unregisters it.
    explicit CQtErrorDisplay(QObject* parent = nullptr);
    ~CQtErrorDisplay() override;

    void ShowErrorDialog(const CErrorEntry& entry) override;
    void ShowMessageBox(const std::string& text) override;

    // The window the dialogs are centred on (the main frame), or none.
    void SetParentWindow(QWidget* window) { m_parentWindow = window; }

private:
    QWidget* m_parentWindow = nullptr; // GUI thread only
};
