// The main window's keys on a real X server with Qt's plain X11 key bindings (no desktop
// environment's theme): Full Screen on F11 and File Close on Ctrl+W, whatever the platform's own
// tables hold. Runs in the X11 test program (GlobalHotKeyX11Test.cpp starts it under xvfb-run).

#include "app/TavrixAppCore.h"
#include "app/qt/MainFrame.h"
#include "app/qt/RecentFileList.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(MainFrameKeysX11, FullScreenIsOnF11AndCloseOnCtrlW) {
    QTemporaryDir dir;
    CMessageDispatcher dispatcher;
    CTavrixAppCore core(dispatcher);
    CRecentFileList recent(dir.filePath("Tavrix.conf").toStdString());
    CMainFrame frame(core, dispatcher, recent);
    EXPECT_TRUE(frame.FullScreenAction()->shortcuts().contains(QKeySequence(Qt::Key_F11)))
        << QKeySequence::listToString(frame.FullScreenAction()->shortcuts()).toStdString();
    EXPECT_TRUE(frame.CloseAction()->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_W)))
        << QKeySequence::listToString(frame.CloseAction()->shortcuts()).toStdString();

    frame.show();
    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    QTest::keyClick(&frame, Qt::Key_F11);
    QElapsedTimer timer;
    timer.start();
    while (!frame.isFullScreen() && timer.elapsed() < 10000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_TRUE(frame.isFullScreen());
}

} // namespace
