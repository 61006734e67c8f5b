#include "ScriptedChatClient.h"

#include <gio/gio.h>

#include <csignal>
#include <cstdlib>

bool CPrivateBus::Start() {
    CPeerProcess starter;
    if (!starter.Start(
            {"/usr/bin/dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"})) {
        return false;
    }
    std::optional<std::string> address = starter.ReadLine(10000);
    std::optional<std::string> pid = starter.ReadLine(10000);
    if (!address || !pid || address->empty()) {
        return false;
    }
    m_address = *address;
    m_pid = std::atoi(pid->c_str());
    setenv("DBUS_SESSION_BUS_ADDRESS", m_address.c_str(), 1);
    return m_pid > 0;
}

void CPrivateBus::Stop() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        m_pid = -1;
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
}

namespace {
const char* kIntrospection =
    "<node><interface name='com.Skype.API'><method name='Invoke'>"
    "<arg type='s' name='request' direction='in'/><arg type='s' name='response' direction='out'/>"
    "</method></interface></node>";
}

CScriptedChatClient::CScriptedChatClient(std::string address, Script script, bool offerApi)
    : m_address(std::move(address)), m_script(std::move(script)), m_offerApi(offerApi) {}

bool CScriptedChatClient::Start() {
    m_started = true;
    m_context = g_main_context_new();
    m_loop = g_main_loop_new(m_context, FALSE);
    m_thread = std::thread([this] { Run(); });
    std::unique_lock<std::mutex> guard(m_readyLock);
    m_ready.wait(guard, [this] { return m_state != 0; });
    return m_state == 1;
}

void CScriptedChatClient::Run() {
    g_main_context_push_thread_default(m_context);
    GError* error = nullptr;
    m_connection = g_dbus_connection_new_for_address_sync(
        m_address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    int state = -1;
    if (m_connection) {
        g_dbus_connection_set_exit_on_close(m_connection, FALSE);
        if (m_offerApi) {
            static const GDBusInterfaceVTable vtable = {
                &CScriptedChatClient::OnMethodCall, nullptr, nullptr, {}};
            GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
            g_dbus_connection_register_object(m_connection, "/com/Skype", node->interfaces[0], &vtable, this,
                                              nullptr, nullptr);
            g_dbus_node_info_unref(node);
        }
        GVariant* result = g_dbus_connection_call_sync(
            m_connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", "com.Skype.API", 4u /* do not queue */),
            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
        if (result) {
            guint32 reply = 0;
            g_variant_get(result, "(u)", &reply);
            g_variant_unref(result);
            state = reply == 1 ? 1 : -1;
        }
    }
    g_clear_error(&error);
    auto announce = [](gpointer data) -> gboolean {
        auto* client = static_cast<CScriptedChatClient*>(data);
        {
            std::lock_guard<std::mutex> guard(client->m_readyLock);
            client->m_state = 1;
        }
        client->m_ready.notify_all();
        return G_SOURCE_REMOVE;
    };
    if (state == 1) {
        // Announced from inside the running loop, so that a quit can never come before the run.
        GSource* idle = g_idle_source_new();
        g_source_set_callback(idle, announce, this, nullptr);
        g_source_attach(idle, m_context);
        g_source_unref(idle);
        g_main_loop_run(m_loop);
    } else {
        std::lock_guard<std::mutex> guard(m_readyLock);
        m_state = -1;
        m_ready.notify_all();
    }
    for (GDBusMethodInvocation* invocation : m_pending) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.Failed",
                                                   "client stopped");
    }
    m_pending.clear();
    if (m_connection) {
        g_dbus_connection_close_sync(m_connection, nullptr, nullptr);
        g_object_unref(m_connection);
        m_connection = nullptr;
    }
    g_main_context_pop_thread_default(m_context);
}

void CScriptedChatClient::OnMethodCall(GDBusConnection*, const char* sender, const char*, const char*,
                                       const char*, GVariant* parameters, GDBusMethodInvocation* invocation,
                                       void* data) {
    auto* client = static_cast<CScriptedChatClient*>(data);
    const gchar* command = nullptr;
    g_variant_get(parameters, "(&s)", &command);
    {
        std::lock_guard<std::mutex> guard(client->m_lock);
        client->m_commands.push_back(command);
    }
    std::optional<std::string> answer = client->m_script(*client, sender, command);
    if (answer) {
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", answer->c_str()));
    } else {
        client->m_pending.push_back(invocation);
    }
}

bool CScriptedChatClient::Notify(const std::string& destination, const std::string& text) {
    GError* error = nullptr;
    GVariant* result = g_dbus_connection_call_sync(
        m_connection, destination.c_str(), "/com/Skype/Client", "com.Skype.API.Client", "Notify",
        g_variant_new("(s)", text.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    g_clear_error(&error);
    if (!result) {
        return false;
    }
    g_variant_unref(result);
    return true;
}

std::vector<std::string> CScriptedChatClient::Commands() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_commands;
}

void CScriptedChatClient::Stop() {
    if (!m_started) {
        return;
    }
    m_started = false;
    g_main_loop_quit(m_loop);
    g_main_context_wakeup(m_context);
    if (m_thread.joinable()) {
        m_thread.join();
    }
    g_main_loop_unref(m_loop);
    g_main_context_unref(m_context);
}
