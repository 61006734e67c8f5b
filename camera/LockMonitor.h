#pragma once
// CLockMonitor: turns the desktop session's lock and unlock signals on D-Bus into the lock
// message (wParam 1 locked, 2 unlocked) for the shells, which pass it to every camera view of
// every open document as view update hint 7 or 8; a camera view then calls WindowsLockChanged.
//
// Sources, any of which may be present:
//   system bus   org.freedesktop.login1: the Lock and Unlock signals of this process's login
//                session, and changes of the session's LockedHint property (of every session
//                when this process belongs to none, as a service does);
//   session bus  ActiveChanged(b) of org.freedesktop.ScreenSaver and org.gnome.ScreenSaver.
// A lock is usually announced by several of them at once; only changes of the state are
// delivered, so that one lock gives one message. The first message after start is always
// delivered.
//
// The monitor runs a GLib main loop on a thread of its own and calls the callback there; the Qt
// shell forwards it to the GUI thread as a queued call, the headless shell to its own loop.
// "Installed" (the settings' lockNotificationInstalled) means one of these services has an owner.

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

typedef struct _GMainContext GMainContext;
typedef struct _GMainLoop GMainLoop;
typedef struct _GDBusConnection GDBusConnection;

class CLockMonitor {
public:
    // wParam values of the lock message and the view update hints they become.
    static constexpr uintptr_t kLockMessageLocked = 1;
    static constexpr uintptr_t kLockMessageUnlocked = 2;
    static constexpr int kHintWindowsLocked = 7;
    static constexpr int kHintWindowsUnlocked = 8;
    // The start-up notification log line when a source is present.
    static constexpr const char* kInstalledLogText =
        "Automatic Lock/Unlock activation has been installed. Feature available.";

    using MessageCallback = std::function<void(uintptr_t wParam)>;

    // Bus addresses; empty means the default system or session bus, "-" leaves that bus out.
    struct Buses {
        std::string systemBusAddress;
        std::string sessionBusAddress;
    };

    explicit CLockMonitor(MessageCallback callback);
    CLockMonitor(MessageCallback callback, Buses buses);
    ~CLockMonitor();
    CLockMonitor(const CLockMonitor&) = delete;
    CLockMonitor& operator=(const CLockMonitor&) = delete;

    // Connects and subscribes on the monitor thread; true when at least one bus was reached.
    bool Start();
    // Unsubscribes, closes the connections and ends the thread. Also done by the destructor.
    void Stop();

    // The lock message's handler: 1 gives hint 7, 2 gives hint 8, any other value nothing.
    static std::optional<int> HintForLockMessage(uintptr_t wParam);

    // Whether a source of lock notifications is present on these buses.
    static bool IsLockNotificationInstalled(const Buses& buses = {});
    // Hands IsLockNotificationInstalled (default buses) to the settings as their lock probe. Call
    // at start-up before the settings are loaded.
    static void RegisterSettingsProbe();

    // Called from the signal handlers of the monitor thread.
    void Deliver(bool locked);

private:
    void Run(std::promise<bool>& started);
    void SubscribeSystemBus();
    void SubscribeSessionBus();
    void CloseBuses();

    MessageCallback m_callback;
    Buses m_buses;
    std::thread m_thread;
    std::mutex m_startLock; // guards start and stop
    GMainContext* m_context = nullptr;
    GMainLoop* m_loop = nullptr;
    GDBusConnection* m_systemBus = nullptr;       // monitor thread only
    GDBusConnection* m_sessionBus = nullptr;      // monitor thread only
    std::vector<unsigned> m_systemSubscriptions;  // monitor thread only
    std::vector<unsigned> m_sessionSubscriptions; // monitor thread only
    std::optional<bool> m_lastLocked;             // monitor thread only
};
