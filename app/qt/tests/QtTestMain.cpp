// The test program's entry point: the desktop's own application object (with its event boundary)
// on the offscreen platform (no display needed), so that widgets and dialogs can be created and
// driven with QTest; settings, user database and traces in private folders.

#include "app/qt/TavrixApp.h"
#include "camera/tests/PrivateXdgFolders.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    CTavrixApp application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
