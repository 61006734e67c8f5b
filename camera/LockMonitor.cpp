#include "camera/LockMonitor.h"

#include "foundation/Tracer.h"
#include "persistence/MiscSettings.h"

#include <gio/gio.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kLogin1Name = "org.freedesktop.login1";
constexpr const char* kSessionInterface = "org.freedesktop.login1.Session";
constexpr const char* kScreenSaverNames[] = {"org.freedesktop.ScreenSaver", "org.gnome.ScreenSaver"};
constexpr int kCallTimeoutMs = 2000;

bool SocketExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// The address of a bus: the given one, else the standard variables and sockets. Never starts a
// bus of its own (GLib would try to autolaunch a session bus where none runs).
std::string ResolveAddress(const std::string& given, bool systemBus) {
    if (given == "-") {
        return {};
    }
    if (!given.empty()) {
        return given;
    }
    if (systemBus) {
        if (const char* value = std::getenv("DBUS_SYSTEM_BUS_ADDRESS"); value && *value) {
            return value;
        }
        return SocketExists("/run/dbus/system_bus_socket") ? "unix:path=/run/dbus/system_bus_socket" : "";
    }
    if (const char* value = std::getenv("DBUS_SESSION_BUS_ADDRESS"); value && *value) {
        return value;
    }
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        const std::string socket = std::string(runtime) + "/bus";
        if (SocketExists(socket)) {
            return "unix:path=" + socket;
        }
    }
    return {};
}

GDBusConnection* ConnectTo(const std::string& address) {
    if (address.empty()) {
        return nullptr;
    }
    GError* error = nullptr;
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!bus) {
        TRACE("CLockMonitor: cannot connect to bus %s: %s", address.c_str(), error ? error->message : "?");
        g_clear_error(&error);
        return nullptr;
    }
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    return bus;
}

bool NameHasOwner(GDBusConnection* bus, const char* name) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "NameHasOwner",
                                                  g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"),
                                                  G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
    if (!reply) {
        g_clear_error(&error);
        return false;
    }
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned != FALSE;
}

// The object path of this process's login session, or empty when it belongs to none.
std::string OwnSessionPath(GDBusConnection* bus) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, kLogin1Name, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "GetSessionByPID",
        g_variant_new("(u)", static_cast<guint32>(getpid())), G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE,
        kCallTimeoutMs, nullptr, &error);
    g_clear_error(&error);
    if (!reply) {
        if (const char* id = std::getenv("XDG_SESSION_ID"); id && *id) {
            reply = g_dbus_connection_call_sync(bus, kLogin1Name, "/org/freedesktop/login1",
                                                "org.freedesktop.login1.Manager", "GetSession",
                                                g_variant_new("(s)", id), G_VARIANT_TYPE("(o)"),
                                                G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
            g_clear_error(&error);
        }
    }
    if (!reply) {
        return {};
    }
    const gchar* path = nullptr;
    g_variant_get(reply, "(&o)", &path);
    std::string result = path ? path : "";
    g_variant_unref(reply);
    return result;
}

void OnLogin1Signal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* member,
                    GVariant*, gpointer self) {
    static_cast<CLockMonitor*>(self)->Deliver(g_strcmp0(member, "Lock") == 0);
}

void OnSessionPropertiesChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                GVariant* parameters, gpointer self) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)"))) {
        return;
    }
    GVariant* changed = g_variant_get_child_value(parameters, 1);
    gboolean locked = FALSE;
    const bool present = g_variant_lookup(changed, "LockedHint", "b", &locked);
    g_variant_unref(changed);
    if (present) {
        static_cast<CLockMonitor*>(self)->Deliver(locked != FALSE);
    }
}

void OnActiveChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                     GVariant* parameters, gpointer self) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) {
        return; // a malformed signal changes nothing
    }
    gboolean active = FALSE;
    g_variant_get(parameters, "(b)", &active);
    static_cast<CLockMonitor*>(self)->Deliver(active != FALSE);
}

} // namespace

CLockMonitor::CLockMonitor(MessageCallback callback) : CLockMonitor(std::move(callback), Buses{}) {}

CLockMonitor::CLockMonitor(MessageCallback callback, Buses buses)
    : m_callback(std::move(callback)), m_buses(std::move(buses)) {}

CLockMonitor::~CLockMonitor() {
    Stop();
}

std::optional<int> CLockMonitor::HintForLockMessage(uintptr_t wParam) {
    switch (wParam) {
    case kLockMessageLocked:
        return kHintWindowsLocked;
    case kLockMessageUnlocked:
        return kHintWindowsUnlocked;
    default:
        return std::nullopt;
    }
}

bool CLockMonitor::Start() {
    std::lock_guard<std::mutex> lock(m_startLock);
    if (m_thread.joinable()) {
        return m_systemBus || m_sessionBus;
    }
    m_context = g_main_context_new();
    m_loop = g_main_loop_new(m_context, FALSE);
    m_lastLocked.reset();
    auto started = std::make_shared<std::promise<bool>>();
    auto result = started->get_future();
    m_thread = std::thread([this, started] { Run(*started); });
    return result.get();
}

void CLockMonitor::Stop() {
    std::lock_guard<std::mutex> lock(m_startLock);
    if (!m_thread.joinable()) {
        return;
    }
    // Quit from within the loop: a quit that came before the loop started running would be lost.
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
    m_loop = nullptr;
    m_context = nullptr;
}

void CLockMonitor::Run(std::promise<bool>& started) {
    // Signal callbacks run in the main context that is the thread's default when subscribing.
    g_main_context_push_thread_default(m_context);
    m_systemBus = ConnectTo(ResolveAddress(m_buses.systemBusAddress, true));
    m_sessionBus = ConnectTo(ResolveAddress(m_buses.sessionBusAddress, false));
    if (m_systemBus) {
        SubscribeSystemBus();
    }
    if (m_sessionBus) {
        SubscribeSessionBus();
    }
    // One round trip per bus: the daemon has then installed the match rules, so that a signal
    // sent after Start returns is heard.
    for (GDBusConnection* bus : {m_systemBus, m_sessionBus}) {
        if (bus) {
            (void)NameHasOwner(bus, "org.freedesktop.DBus");
        }
    }
    TRACE("CLockMonitor::Run() listening, system bus %s, session bus %s", m_systemBus ? "yes" : "no",
          m_sessionBus ? "yes" : "no");
    started.set_value(m_systemBus || m_sessionBus);
    g_main_loop_run(m_loop);
    CloseBuses();
    // Let callbacks already queued for this context run down before it is released.
    while (g_main_context_iteration(m_context, FALSE)) {
    }
    g_main_context_pop_thread_default(m_context);
}

void CLockMonitor::SubscribeSystemBus() {
    const std::string session = OwnSessionPath(m_systemBus);
    // Without a session of its own (a service) the monitor follows every session.
    const gchar* path = session.empty() ? nullptr : session.c_str();
    // Only the owner of login1's name is heard: any local process may send signals on the system
    // bus, and a forged unlock would switch cameras off.
    for (const char* member : {"Lock", "Unlock"}) {
        m_systemSubscriptions.push_back(g_dbus_connection_signal_subscribe(
            m_systemBus, kLogin1Name, kSessionInterface, member, path, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            &OnLogin1Signal, this, nullptr));
    }
    m_systemSubscriptions.push_back(g_dbus_connection_signal_subscribe(
        m_systemBus, kLogin1Name, "org.freedesktop.DBus.Properties", "PropertiesChanged", path,
        kSessionInterface, G_DBUS_SIGNAL_FLAGS_NONE, &OnSessionPropertiesChanged, this, nullptr));
    TRACE("CLockMonitor: following login session %s", session.empty() ? "(all)" : session.c_str());
}

void CLockMonitor::SubscribeSessionBus() {
    // Each screen saver owns the bus name of its interface; only that owner is heard.
    for (const char* name : kScreenSaverNames) {
        m_sessionSubscriptions.push_back(
            g_dbus_connection_signal_subscribe(m_sessionBus, name, name, "ActiveChanged", nullptr, nullptr,
                                               G_DBUS_SIGNAL_FLAGS_NONE, &OnActiveChanged, this, nullptr));
    }
}

void CLockMonitor::CloseBuses() {
    for (GDBusConnection** bus : {&m_systemBus, &m_sessionBus}) {
        if (!*bus) {
            continue;
        }
        auto& subscriptions = *bus == m_systemBus ? m_systemSubscriptions : m_sessionSubscriptions;
        for (unsigned id : subscriptions) {
            g_dbus_connection_signal_unsubscribe(*bus, id);
        }
        subscriptions.clear();
        g_dbus_connection_close_sync(*bus, nullptr, nullptr);
        g_object_unref(*bus);
        *bus = nullptr;
    }
}

void CLockMonitor::Deliver(bool locked) {
    // Several sources announce the same lock; only a change of the state is passed on.
    if (m_lastLocked == locked) {
        return;
    }
    m_lastLocked = locked;
    TRACE("CLockMonitor::Deliver() session %s", locked ? "locked" : "unlocked");
    if (m_callback) {
        m_callback(locked ? kLockMessageLocked : kLockMessageUnlocked);
    }
}

bool CLockMonitor::IsLockNotificationInstalled(const Buses& buses) {
    bool present = false;
    if (GDBusConnection* system = ConnectTo(ResolveAddress(buses.systemBusAddress, true))) {
        present = NameHasOwner(system, kLogin1Name);
        g_dbus_connection_close_sync(system, nullptr, nullptr);
        g_object_unref(system);
    }
    if (!present) {
        if (GDBusConnection* session = ConnectTo(ResolveAddress(buses.sessionBusAddress, false))) {
            for (const char* name : kScreenSaverNames) {
                present = present || NameHasOwner(session, name);
            }
            g_dbus_connection_close_sync(session, nullptr, nullptr);
            g_object_unref(session);
        }
    }
    return present;
}

void CLockMonitor::RegisterSettingsProbe() {
    CMiscSettings::SetLockNotificationProbe([] { return IsLockNotificationInstalled(); });
}
