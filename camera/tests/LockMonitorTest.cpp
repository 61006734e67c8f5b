// The session lock monitor against a private dbus-daemon and a scripted lock source on it that
// plays login1 (own session path, Lock/Unlock, LockedHint) and the screen savers (ActiveChanged).

#include "camera/LockMonitor.h"
#include "persistence/MiscSettings.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr const char* kOwnSession = "/org/freedesktop/login1/session/_32";
constexpr const char* kOtherSession = "/org/freedesktop/login1/session/c7";

// A dbus-daemon of the test's own.
class PrivateBus {
public:
    PrivateBus() {
        FILE* out = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
        if (!out) {
            return;
        }
        char address[512] = {};
        char pid[32] = {};
        if (std::fgets(address, sizeof address, out) && std::fgets(pid, sizeof pid, out)) {
            m_address = address;
            while (!m_address.empty() && m_address.back() == '\n') {
                m_address.pop_back();
            }
            m_pid = std::atoi(pid);
        }
        pclose(out);
    }
    ~PrivateBus() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
        }
    }
    const std::string& Address() const { return m_address; }

private:
    std::string m_address;
    int m_pid = -1;
};

const char* kManagerXml = "<node><interface name='org.freedesktop.login1.Manager'>"
                          "<method name='GetSessionByPID'><arg type='u' direction='in'/>"
                          "<arg type='o' direction='out'/></method>"
                          "<method name='GetSession'><arg type='s' direction='in'/>"
                          "<arg type='o' direction='out'/></method>"
                          "</interface></node>";

// The scripted signal source: owns names, answers login1's session look-up on a thread of its own
// and emits the signals the tests ask for.
class ScriptedLockSource {
public:
    ScriptedLockSource(const std::string& address, bool playLogin1) {
        m_context = g_main_context_new();
        m_loop = g_main_loop_new(m_context, FALSE);
        std::mutex lock;
        std::condition_variable ready;
        bool done = false;
        m_thread = std::thread([&, address, playLogin1] {
            g_main_context_push_thread_default(m_context);
            m_bus = g_dbus_connection_new_for_address_sync(
                address.c_str(),
                static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                  G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, nullptr);
            if (m_bus && playLogin1) {
                GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kManagerXml, nullptr);
                static const GDBusInterfaceVTable vtable = {&OnManagerCall, nullptr, nullptr, {}};
                g_dbus_connection_register_object(m_bus, "/org/freedesktop/login1", node->interfaces[0],
                                                  &vtable, nullptr, nullptr, nullptr);
                g_dbus_node_info_unref(node);
                Own("org.freedesktop.login1");
            }
            {
                std::lock_guard<std::mutex> guard(lock);
                done = true;
            }
            ready.notify_all();
            g_main_loop_run(m_loop);
            if (m_bus) {
                g_dbus_connection_close_sync(m_bus, nullptr, nullptr);
                g_object_unref(m_bus);
            }
            g_main_context_pop_thread_default(m_context);
        });
        std::unique_lock<std::mutex> guard(lock);
        ready.wait(guard, [&] { return done; });
    }
    ~ScriptedLockSource() {
        g_main_context_invoke(
            m_context,
            [](gpointer loop) -> gboolean {
                g_main_loop_quit(static_cast<GMainLoop*>(loop));
                return G_SOURCE_REMOVE;
            },
            m_loop);
        m_thread.join();
        g_main_loop_unref(m_loop);
        g_main_context_unref(m_context);
    }

    bool Own(const char* name) {
        GVariant* reply = g_dbus_connection_call_sync(m_bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                      "org.freedesktop.DBus", "RequestName",
                                                      g_variant_new("(su)", name, 4u), G_VARIANT_TYPE("(u)"),
                                                      G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (reply) {
            g_variant_unref(reply);
        }
        return reply != nullptr;
    }
    void Emit(const char* path, const char* interface, const char* member, GVariant* parameters) {
        ASSERT_TRUE(
            g_dbus_connection_emit_signal(m_bus, nullptr, path, interface, member, parameters, nullptr));
        g_dbus_connection_flush_sync(m_bus, nullptr, nullptr);
    }
    void Login1(const char* path, const char* member) {
        Emit(path, "org.freedesktop.login1.Session", member, nullptr);
    }
    void LockedHint(const char* path, bool locked) {
        GVariantBuilder changed;
        g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&changed, "{sv}", "LockedHint", g_variant_new_boolean(locked));
        Emit(path, "org.freedesktop.DBus.Properties", "PropertiesChanged",
             g_variant_new("(sa{sv}as)", "org.freedesktop.login1.Session", &changed, nullptr));
    }
    void ActiveChanged(const char* interface, bool active) {
        Emit("/org/freedesktop/ScreenSaver", interface, "ActiveChanged", g_variant_new("(b)", active));
    }

private:
    static void OnManagerCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                              GVariant*, GDBusMethodInvocation* invocation, gpointer) {
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", kOwnSession));
    }

    GMainContext* m_context;
    GMainLoop* m_loop;
    GDBusConnection* m_bus = nullptr;
    std::thread m_thread;
};

// Collects the lock messages the monitor delivers.
class Messages {
public:
    CLockMonitor::MessageCallback Callback() {
        return [this](uintptr_t wParam) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_values.push_back(wParam);
            m_changed.notify_all();
        };
    }
    // The messages once there are `count` of them (waiting up to 10 s).
    std::vector<uintptr_t> WaitFor(size_t count) {
        std::unique_lock<std::mutex> guard(m_lock);
        m_changed.wait_for(guard, std::chrono::seconds(10), [&] { return m_values.size() >= count; });
        return m_values;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<uintptr_t> m_values;
};

using V = std::vector<uintptr_t>;

} // namespace

TEST(LockMonitorTest, TheLockMessageBecomesHintsSevenAndEightAndOtherValuesAreIgnored) {
    EXPECT_EQ(CLockMonitor::HintForLockMessage(1), 7);
    EXPECT_EQ(CLockMonitor::HintForLockMessage(2), 8);
    EXPECT_FALSE(CLockMonitor::HintForLockMessage(0).has_value());
    EXPECT_FALSE(CLockMonitor::HintForLockMessage(3).has_value());
}

TEST(LockMonitorTest, ScreenSaverActivityBecomesLockAndUnlockMessages) {
    PrivateBus bus;
    ASSERT_FALSE(bus.Address().empty()) << "dbus-daemon could not start";
    ScriptedLockSource source(bus.Address(), false);
    ASSERT_TRUE(source.Own("org.freedesktop.ScreenSaver"));
    Messages messages;
    CLockMonitor monitor(messages.Callback(), {"-", bus.Address()});
    ASSERT_TRUE(monitor.Start());

    // Another program on the bus, which does not own the screen saver's name, is not heard.
    ScriptedLockSource intruder(bus.Address(), false);
    intruder.ActiveChanged("org.freedesktop.ScreenSaver", false);
    source.ActiveChanged("org.freedesktop.ScreenSaver", true);
    EXPECT_EQ(messages.WaitFor(1), V({1}));
    intruder.ActiveChanged("org.freedesktop.ScreenSaver", true);
    source.ActiveChanged("org.freedesktop.ScreenSaver", false);
    EXPECT_EQ(messages.WaitFor(2), V({1, 2}));
    // GNOME's screen saver is heard as well, from the owner of its name.
    source.ActiveChanged("org.gnome.ScreenSaver", true);
    ASSERT_TRUE(source.Own("org.gnome.ScreenSaver"));
    source.ActiveChanged("org.gnome.ScreenSaver", true);
    EXPECT_EQ(messages.WaitFor(3), V({1, 2, 1}));
    monitor.Stop();
}

TEST(LockMonitorTest, OwnLoginSessionsLockSignalsCountAndOtherSessionsDoNot) {
    PrivateBus bus;
    ASSERT_FALSE(bus.Address().empty());
    ScriptedLockSource login1(bus.Address(), true);
    Messages messages;
    CLockMonitor monitor(messages.Callback(), {bus.Address(), "-"});
    ASSERT_TRUE(monitor.Start());

    // An unlock without a lock before it is delivered; another session's signals are not, nor
    // those of a program that does not own login1's name.
    ScriptedLockSource intruder(bus.Address(), false);
    intruder.Login1(kOwnSession, "Lock");
    intruder.LockedHint(kOwnSession, true);
    login1.Login1(kOtherSession, "Lock");
    login1.Login1(kOwnSession, "Unlock");
    EXPECT_EQ(messages.WaitFor(1), V({2}));
    login1.Login1(kOwnSession, "Lock");
    EXPECT_EQ(messages.WaitFor(2), V({2, 1}));
    // The hint that follows the same lock adds nothing; a change of it is a message.
    login1.LockedHint(kOwnSession, true);
    login1.LockedHint(kOtherSession, false);
    login1.LockedHint(kOwnSession, false);
    EXPECT_EQ(messages.WaitFor(3), V({2, 1, 2}));
    login1.Login1(kOwnSession, "Unlock");
    login1.Login1(kOwnSession, "Lock");
    EXPECT_EQ(messages.WaitFor(4), V({2, 1, 2, 1}));
}

TEST(LockMonitorTest, MalformedSignalsChangeNothing) {
    PrivateBus bus;
    ASSERT_FALSE(bus.Address().empty());
    ScriptedLockSource source(bus.Address(), false);
    ASSERT_TRUE(source.Own("org.freedesktop.ScreenSaver"));
    Messages messages;
    CLockMonitor monitor(messages.Callback(), {"-", bus.Address()});
    ASSERT_TRUE(monitor.Start());
    source.Emit("/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged",
                g_variant_new("(s)", "yes"));
    source.Emit("/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", nullptr);
    source.ActiveChanged("org.freedesktop.ScreenSaver", true);
    EXPECT_EQ(messages.WaitFor(1), V({1}));
}

TEST(LockMonitorTest, InstalledMeansASignalSourceHasAnOwner) {
    PrivateBus system;
    PrivateBus session;
    ASSERT_FALSE(system.Address().empty());
    ASSERT_FALSE(session.Address().empty());
    const CLockMonitor::Buses buses{system.Address(), session.Address()};
    EXPECT_FALSE(CLockMonitor::IsLockNotificationInstalled(buses));
    {
        ScriptedLockSource saver(session.Address(), false);
        ASSERT_TRUE(saver.Own("org.gnome.ScreenSaver"));
        EXPECT_TRUE(CLockMonitor::IsLockNotificationInstalled(buses));
    }
    {
        ScriptedLockSource login1(system.Address(), true);
        EXPECT_TRUE(CLockMonitor::IsLockNotificationInstalled(buses));
    }
    // Buses that cannot be reached: no source, no failure.
    EXPECT_FALSE(CLockMonitor::IsLockNotificationInstalled({"unix:path=/nonexistent/bus", "-"}));
    Messages messages;
    CLockMonitor monitor(messages.Callback(), {"unix:path=/nonexistent/bus", "-"});
    EXPECT_FALSE(monitor.Start());
    monitor.Stop();
}

TEST(LockMonitorTest, TheSettingsProbeAsksTheDefaultBuses) {
    PrivateBus session;
    ASSERT_FALSE(session.Address().empty());
    ScriptedLockSource saver(session.Address(), false);
    ASSERT_TRUE(saver.Own("org.freedesktop.ScreenSaver"));
    setenv("DBUS_SESSION_BUS_ADDRESS", session.Address().c_str(), 1);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system_bus", 1);
    CLockMonitor::RegisterSettingsProbe();
    CMiscSettings settings;
    settings.ProbeLockNotification();
    EXPECT_TRUE(settings.GetLockNotificationInstalled());
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    CMiscSettings::SetLockNotificationProbe({});
}
