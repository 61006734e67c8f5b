#pragma once
// Runs slow work (opening a capture device to read its formats, waiting for a camera's next
// frame, building the system report) on a pool thread, so that the GUI thread never waits for it,
// and hands the result back on the GUI thread. When the receiving widget is gone by then, the
// result is dropped. The pool is Qt's global one, which the application waits for on exit.
//
// Run is called on the GUI thread; work runs on a pool thread, done on the GUI thread. An exception
// that escapes the work is written to the notification log and done is not called.

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include "foundation/ErrorReport.h"
#include "foundation/Exceptions.h"
#include "persistence/NotificationLog.h"

#include <exception>
#include <memory>
#include <utility>

namespace BackgroundTask {

template <class Receiver, class Work, class Done>
void Run(Receiver* receiver, Work work, Done done) {
    QPointer<Receiver> guard(receiver);
    QThreadPool::globalInstance()->start([guard, work = std::move(work), done = std::move(done)]() mutable {
        using Result = decltype(work());
        std::shared_ptr<Result> result;
        try {
            result = std::make_shared<Result>(work());
        } catch (const CBaseException& exception) {
            CNotificationLog::Instance().AddEntry("", "", ExceptionLogText(exception));
            return;
        } catch (const std::exception& exception) {
            CNotificationLog::Instance().AddEntry("", "",
                                                  std::string("Unexpected error: ") + exception.what());
            return;
        }
        // Queued on the application object, which outlives every window; the receiver is checked
        // there, on the GUI thread, where it is destroyed.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, result, done = std::move(done)]() mutable {
                if (guard) {
                    done(*guard, std::move(*result));
                }
            },
            Qt::QueuedConnection);
    });
}

} // namespace BackgroundTask
