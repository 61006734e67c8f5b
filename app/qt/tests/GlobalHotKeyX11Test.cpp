// The global hot key on a real X server: the grab is taken on the root window (another program
// can then not grab the same key), refused with a log line when another program holds the key,
// and released again. Without a display of its own the test program runs itself under xvfb-run.

#include "app/qt/GlobalHotKey.h"
#include "camera/tests/PrivateXdgFolders.h"
#include "persistence/NotificationLog.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

// Last: Xlib's macros (None, Bool, ...) would clash with the headers above.
#include <X11/Xlib.h>

namespace {

// A second X client, as another program on the same display.
class OtherProgram {
public:
    OtherProgram() : m_display(XOpenDisplay(nullptr)) {}
    ~OtherProgram() {
        if (m_display) {
            XCloseDisplay(m_display);
        }
    }
    // Whether this client can grab the key (releasing it again at once).
    bool CanGrab(const CHotKey& hotKey) { return Grab(hotKey, true); }
    bool Hold(const CHotKey& hotKey) { return Grab(hotKey, false); }

private:
    bool Grab(const CHotKey& hotKey, bool release) {
        const KeyCode code = XKeysymToKeycode(m_display, hotKey.ToKeySym());
        const Window root = DefaultRootWindow(m_display);
        const unsigned int modifiers = hotKey.ToX11Modifiers();
        s_failed = false;
        XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent*) {
            s_failed = true; // BadAccess: another client holds the key
            return 0;
        });
        XGrabKey(m_display, code, modifiers, root, True, GrabModeAsync, GrabModeAsync);
        XSync(m_display, False);
        const bool grabbed = !s_failed;
        if (grabbed && release) {
            XUngrabKey(m_display, code, modifiers, root);
            XSync(m_display, False);
        }
        XSetErrorHandler(previous);
        return grabbed;
    }
    static inline bool s_failed = false;
    Display* m_display;
};

TEST(GlobalHotKeyX11, GrabsTheKeyOnTheDisplayAndReleasesIt) {
    ASSERT_TRUE(CGlobalHotKey::PlatformCanGrab());
    const CHotKey hotKey(67, CHotKey::kShift | CHotKey::kControl | CHotKey::kAlt);
    OtherProgram other;
    ASSERT_TRUE(other.CanGrab(hotKey));
    {
        CGlobalHotKey grab;
        ASSERT_TRUE(grab.Register(hotKey));
        EXPECT_TRUE(grab.IsRegistered());
        EXPECT_FALSE(other.CanGrab(hotKey)) << "the key belongs to Tavrix now";
        // Another key replaces the first.
        ASSERT_TRUE(grab.Register(CHotKey(0x74, CHotKey::kControl)));
        EXPECT_TRUE(other.CanGrab(hotKey));
    }
    EXPECT_TRUE(other.CanGrab(CHotKey(0x74, CHotKey::kControl))) << "released when the frame goes";
}

TEST(GlobalHotKeyX11, AKeyHeldByAnotherProgramIsRefusedWithALogLine) {
    const CHotKey hotKey(68, CHotKey::kControl | CHotKey::kAlt);
    OtherProgram other;
    ASSERT_TRUE(other.Hold(hotKey));
    CNotificationLog::Instance().Clear();
    CGlobalHotKey grab;
    EXPECT_FALSE(grab.Register(hotKey));
    EXPECT_FALSE(grab.IsRegistered());
    const auto entries = CNotificationLog::Instance().GetEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].text, "The global hot key Ctrl+Alt+D is used by another program.");
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr || std::getenv("TAVRIX_XVFB_CHILD") == nullptr) {
        // A display of its own, so that grabs never touch the user's desktop.
        ::setenv("TAVRIX_XVFB_CHILD", "1", 1);
        std::vector<char*> args = {const_cast<char*>("xvfb-run"), const_cast<char*>("-a"),
                                   const_cast<char*>("-s"), const_cast<char*>("-screen 0 640x480x24")};
        args.insert(args.end(), argv, argv + argc);
        args.push_back(nullptr);
        ::execvp("xvfb-run", args.data());
        std::perror("xvfb-run");
        return 1;
    }
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
