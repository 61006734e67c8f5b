#include "foundation/ErrorReport.h"

#include "foundation/Tracer.h"
#include "network/NetworkSourceName.h"
#include "persistence/ConfigMgrImpl.h"
#include "persistence/NotificationLog.h"

#include <cstdio>
#include <shared_mutex>

namespace {

// Shared while a display is in use, exclusive while it is replaced.
std::shared_mutex g_displayLock;
IErrorDisplay* g_display = nullptr;
ErrorReportObserver g_observer; // under g_displayLock

// The headless form of the dialog: its labels and fields, one a line.
void WriteDialogToStandardError(const CErrorEntry& entry) {
    std::string text = "Tavrix - Error\n";
    text += "Error: " + entry.message + "\n";
    text += "Lowlevel Error: " + entry.internal + "\n";
    text += "Source File: " + entry.file + "\n";
    text += "Exception Class: " + entry.className + "\n";
    text += "Souce Line: " + std::to_string(entry.line) + "\n";
    text += "Additional Info: " + entry.info + "\n";
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

} // namespace

void SetErrorReportObserver(ErrorReportObserver observer) {
    std::unique_lock<std::shared_mutex> lock(g_displayLock);
    g_observer = std::move(observer);
}

void SetErrorDisplay(IErrorDisplay* display) {
    std::unique_lock<std::shared_mutex> lock(g_displayLock);
    g_display = display;
}

std::string ExceptionLogText(const CBaseException& exception) {
    const CErrorEntry& first = exception.First();
    std::string text = first.message;
    if (!first.internal.empty()) {
        text += ";" + first.internal;
    }
    if (!first.info.empty()) {
        text += ";" + first.info;
    }
    return text;
}

void ReportException(const CBaseException& exception, const std::string& docName,
                     const std::string& camName) {
    // A network camera's address in a message carries no password.
    const std::string text = MaskPasswords(ExceptionLogText(exception));
    TRACE("ReportException() %s", text.c_str());
    CNotificationLog::Instance().AddEntry(docName, camName, text);
    std::shared_lock<std::shared_mutex> lock(g_displayLock);
    if (g_observer) {
        g_observer(text, docName, camName);
    }
    if (CConfigMgrImpl::Instance().GetNotificationSettings().GetUnattendedMode()) {
        return;
    }
    if (g_display) {
        g_display->ShowErrorDialog(exception.First());
    } else {
        WriteDialogToStandardError(exception.First());
    }
}

void ShowMessageBox(const std::string& text) {
    TRACE("ShowMessageBox() %s", text.c_str());
    std::shared_lock<std::shared_mutex> lock(g_displayLock);
    if (g_display) {
        g_display->ShowMessageBox(text);
    } else {
        std::fputs((text + "\n").c_str(), stderr);
        std::fflush(stderr);
    }
}
