#pragma once
// Reporting of exceptions at the boundaries where work is started (the shells' event loops, the
// record threads, the view's camera set-up): a notification log entry and, unless the program runs
// unattended, the error dialog. Also the message boxes through which document and user database
// errors reach the user.
//
// The dialog and the message boxes are shown by the shell: the Qt shell registers an
// IErrorDisplay; without one (the headless shell) they go to standard error. Any thread may report;
// a display must not make the reporting thread wait for the user interface thread (a worker posts
// the dialog to the GUI thread and goes on).

#include "foundation/Exceptions.h"

#include <functional>
#include <string>

class IErrorDisplay {
public:
    virtual ~IErrorDisplay() = default;
    // The error dialog "Tavrix - Error" with the fields of the exception's first record: "Error"
    // (message), "Lowlevel Error" (internal text), "Source File", "Exception Class", "Souce Line"
    // and "Additional Info".
    virtual void ShowErrorDialog(const CErrorEntry& entry) = 0;
    // A message box with one text and an OK button.
    virtual void ShowMessageBox(const std::string& text) = 0;
};

// Called for every reported exception, after its log entry and whether or not a dialog follows,
// on the reporting thread; it must not block. The headless shell writes reported errors to
// standard error with it. An empty observer removes it.
using ErrorReportObserver =
    std::function<void(const std::string& logText, const std::string& docName, const std::string& camName)>;
void SetErrorReportObserver(ErrorReportObserver observer);

// Registers the display (null: back to standard error). Registering waits until no other thread is
// inside the previous display, so a shell may destroy its display after unregistering it.
void SetErrorDisplay(IErrorDisplay* display);

// The log text of an exception: the message, then ";" and the internal text when it is not empty,
// then ";" and the info when it is not empty.
std::string ExceptionLogText(const CBaseException& exception);

// Adds the log text to the notification log with the document and camera names (either may be
// empty) and, when the notification setting "UnattendedMode" is off, shows the error dialog.
void ReportException(const CBaseException& exception, const std::string& docName, const std::string& camName);

// Shows a message box (or writes the text to standard error without a display).
void ShowMessageBox(const std::string& text);
