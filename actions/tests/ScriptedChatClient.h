#pragma once
// Test peers for the chat action: a private D-Bus session daemon, and a scripted chat client on it
// that owns "com.Skype.API", offers Invoke(s) -> s at "/com/Skype" and can call Notify(s) on the
// application at "/com/Skype/Client", as the real client's text protocol does.

#include "PeerProcess.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GMainContext GMainContext;
typedef struct _GMainLoop GMainLoop;
typedef struct _GVariant GVariant;
typedef struct _GDBusMethodInvocation GDBusMethodInvocation;

// dbus-daemon --session on its own socket; DBUS_SESSION_BUS_ADDRESS points at it while it runs.
class CPrivateBus {
public:
    bool Start();
    void Stop();
    ~CPrivateBus() { Stop(); }
    const std::string& Address() const { return m_address; }

private:
    std::string m_address;
    int m_pid = -1;
};

class CScriptedChatClient {
public:
    // The answer to one command; none leaves the call unanswered (until the client stops).
    using Script = std::function<std::optional<std::string>(
        CScriptedChatClient& client, const std::string& sender, const std::string& command)>;

    // offerApi false: own the name but offer no object (an incompatible program).
    CScriptedChatClient(std::string address, Script script, bool offerApi = true);
    ~CScriptedChatClient() { Stop(); }
    bool Start();
    void Stop();

    // Calls Notify(text) on the application (from within a script: on the client's thread). False
    // when the application refused it.
    bool Notify(const std::string& destination, const std::string& text);
    std::vector<std::string> Commands();

private:
    void Run();
    static void OnMethodCall(GDBusConnection*, const char* sender, const char*, const char*, const char*,
                             GVariant* parameters, GDBusMethodInvocation* invocation, void* data);

    std::string m_address;
    Script m_script;
    bool m_offerApi;
    std::mutex m_lock;
    std::vector<std::string> m_commands;
    std::vector<GDBusMethodInvocation*> m_pending; // unanswered invocations
    GMainContext* m_context = nullptr;
    GMainLoop* m_loop = nullptr;
    GDBusConnection* m_connection = nullptr;
    std::thread m_thread;
    bool m_started = false;
    std::mutex m_readyLock;
    std::condition_variable m_ready;
    int m_state = 0; // 0 starting, 1 running, -1 failed
};
