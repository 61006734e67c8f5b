#include "actions/SkypeSession.h"

#include "actions/ActionAbort.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "platform/Time.h"

#include <gio/gio.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <sstream>
#include <vector>

std::atomic<uint32_t> CSkypeConnection::s_defaultWaitMs{CSkypeConnection::kDefaultWaitMs};

struct CSkypeConnection::Shared {
    // The semaphore's maximum; further replies are dropped rather than queued without bound.
    static constexpr int32_t kMaxQueued = 10000;

    std::mutex lock; // guards replies and client
    std::deque<std::string> replies;
    std::string client; // unique bus name of the client that attached us
    std::atomic<int> status{-1};
    platform::CSemaphore replySemaphore{0, kMaxQueued};
    platform::CEvent attachEvent{false, false};

    void Queue(std::string text) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (replies.size() >= static_cast<size_t>(kMaxQueued)) {
                return;
            }
            replies.push_back(std::move(text));
        }
        replySemaphore.Release();
    }
    bool FromClient(const char* sender) {
        std::lock_guard<std::mutex> guard(lock);
        return sender && !client.empty() && client == sender;
    }
};

namespace {

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    std::string word;
    while (in >> word) {
        words.push_back(word);
    }
    return words;
}

uint32_t ElapsedSince(uint32_t startTick) {
    return platform::GetTickCount32() - startTick;
}

// Waits for a semaphore or event up to timeoutMs in short steps; false after the time-out or once
// the running actions are cut short.
template <class T>
bool WaitOrCut(T& object, uint32_t timeoutMs) {
    const uint32_t startTick = platform::GetTickCount32();
    for (;;) {
        const uint32_t elapsed = ElapsedSince(startTick);
        if (ActionCutShort() || elapsed >= timeoutMs) {
            return false;
        }
        if (object.Wait(std::min<uint32_t>(timeoutMs - elapsed, 100))) {
            return true;
        }
    }
}

// Runs on GDBus's worker thread for every message of our connection.
GDBusMessage* OnMessage(GDBusConnection* connection, GDBusMessage* message, gboolean incoming,
                        gpointer data) {
    if (!incoming) {
        return message;
    }
    auto& shared = **static_cast<std::shared_ptr<CSkypeConnection::Shared>*>(data);
    const GDBusMessageType type = g_dbus_message_get_message_type(message);
    if (type == G_DBUS_MESSAGE_TYPE_METHOD_CALL &&
        g_strcmp0(g_dbus_message_get_path(message), CSkypeConnection::kClientObjectPath) == 0) {
        GVariant* body = g_dbus_message_get_body(message);
        GDBusMessage* reply = nullptr;
        if (g_strcmp0(g_dbus_message_get_member(message), "Notify") != 0 || !body ||
            !g_variant_is_of_type(body, G_VARIANT_TYPE("(s)"))) {
            reply = g_dbus_message_new_method_error(message, "org.freedesktop.DBus.Error.UnknownMethod", "%s",
                                                    "Only Notify(s) is offered here");
        } else if (!shared.FromClient(g_dbus_message_get_sender(message))) {
            // Only the client that attached us may talk to us.
            reply = g_dbus_message_new_method_error(message, "org.freedesktop.DBus.Error.AccessDenied", "%s",
                                                    "Not attached to this sender");
        } else {
            const gchar* text = nullptr;
            g_variant_get(body, "(&s)", &text);
            TRACE("CSkypeConnection: notification '%s'", text);
            shared.Queue(text);
            reply = g_dbus_message_new_method_reply(message);
        }
        if (!(g_dbus_message_get_flags(message) & G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED)) {
            g_dbus_connection_send_message(connection, reply, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr,
                                           nullptr);
        }
        g_object_unref(reply);
        g_object_unref(message);
        return nullptr;
    }
    if (type == G_DBUS_MESSAGE_TYPE_SIGNAL &&
        g_strcmp0(g_dbus_message_get_member(message), "NameOwnerChanged") == 0 &&
        g_strcmp0(g_dbus_message_get_sender(message), "org.freedesktop.DBus") == 0) {
        GVariant* body = g_dbus_message_get_body(message);
        if (body && g_variant_is_of_type(body, G_VARIANT_TYPE("(sss)"))) {
            const gchar *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
            g_variant_get(body, "(&s&s&s)", &name, &oldOwner, &newOwner);
            if (g_strcmp0(name, CSkypeConnection::kServiceName) == 0 && newOwner && *newOwner) {
                TRACE("CSkypeConnection: the client appeared as %s", newOwner);
                shared.status = CSkypeConnection::kStatusAvailable;
                shared.attachEvent.Set();
            }
        }
    }
    return message;
}

bool IsTimeout(const GError* error) {
    return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMED_OUT);
}

bool IsNoOwner(const GError* error) {
    return g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER);
}

// Calls Invoke(command) on destination and waits up to timeoutMs. Returns the reply message
// (a method return or an error reply turned into *error), or null with *error set.
GDBusMessage* CallInvoke(GDBusConnection* connection, const char* destination, const std::string& command,
                         uint32_t timeoutMs, GError** error) {
    GDBusMessage* call = g_dbus_message_new_method_call(destination, CSkypeConnection::kObjectPath,
                                                        CSkypeConnection::kInterface, "Invoke");
    g_dbus_message_set_body(call, g_variant_new("(s)", command.c_str()));
    g_dbus_message_set_flags(call, G_DBUS_MESSAGE_FLAGS_NO_AUTO_START);
    GDBusMessage* reply = g_dbus_connection_send_message_with_reply_sync(
        connection, call, G_DBUS_SEND_MESSAGE_FLAGS_NONE, static_cast<gint>(timeoutMs ? timeoutMs : 1),
        nullptr, nullptr, error);
    g_object_unref(call);
    if (reply && g_dbus_message_to_gerror(reply, error)) {
        g_object_unref(reply);
        return nullptr;
    }
    return reply;
}

std::string ReplyText(GDBusMessage* reply) {
    GVariant* body = g_dbus_message_get_body(reply);
    if (!body || !g_variant_is_of_type(body, G_VARIANT_TYPE("(s)"))) {
        return {};
    }
    const gchar* text = nullptr;
    g_variant_get(body, "(&s)", &text);
    return text ? text : "";
}

} // namespace

CSkypeConnection::CSkypeConnection(uint32_t waitMs) : m_waitMs(waitMs) {}

CSkypeConnection::~CSkypeConnection() {
    Close();
}

int CSkypeConnection::GetAttachStatus() const {
    return m_shared ? m_shared->status.load() : -1;
}

void CSkypeConnection::Attach() {
    TRACE("CSkypeConnection::Attach() called");
    Close();
    m_shared = std::make_shared<Shared>();
    GError* error = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (address) {
        m_connection = g_dbus_connection_new_for_address_sync(
            address,
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        g_free(address);
    }
    if (!m_connection) {
        TRACE("CSkypeConnection::Attach() no session bus: %s", error ? error->message : "");
        g_clear_error(&error);
        THROW_SKYPE("Unable to create connection window");
    }
    g_dbus_connection_set_exit_on_close(m_connection, FALSE);
    m_filterId = g_dbus_connection_add_filter(
        m_connection, OnMessage, new std::shared_ptr<Shared>(m_shared),
        [](gpointer data) { delete static_cast<std::shared_ptr<Shared>*>(data); });

    // Hear about the client appearing on the bus (it may start after us).
    std::string rule =
        std::string("type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                    "member='NameOwnerChanged',arg0='") +
        kServiceName + "'";
    GVariant* result = g_dbus_connection_call_sync(
        m_connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "AddMatch",
        g_variant_new("(s)", rule.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, static_cast<gint>(m_waitMs),
        nullptr, &error);
    if (!result) {
        TRACE("CSkypeConnection::Attach() AddMatch failed: %s", error ? error->message : "");
        g_clear_error(&error);
        THROW_SKYPE("Unable to register skype messages");
    }
    g_variant_unref(result);

    const uint32_t startTick = platform::GetTickCount32();
    const std::string request = std::string("NAME ") + kApplicationName;
    for (;;) {
        uint32_t elapsed = ElapsedSince(startTick);
        if (elapsed >= m_waitMs) {
            THROW_SKYPE("Timeout attaching to Skype");
        }
        m_shared->status = kStatusPending;
        GDBusMessage* reply = CallInvoke(m_connection, kServiceName, request,
                                         static_cast<uint32_t>(ActionTimeLeftMs(m_waitMs - elapsed)), &error);
        if (reply) {
            std::string text = ReplyText(reply);
            std::string sender = g_dbus_message_get_sender(reply) ? g_dbus_message_get_sender(reply) : "";
            g_object_unref(reply);
            TRACE("CSkypeConnection::Attach() answer '%s' from %s", text.c_str(), sender.c_str());
            std::vector<std::string> words = Words(text);
            if (words.size() == 1 && words[0] == "OK") {
                {
                    std::lock_guard<std::mutex> guard(m_shared->lock);
                    m_shared->client = sender;
                }
                m_shared->status = kStatusAttached;
                return;
            }
            if (words.size() >= 2 && words[0] == "ERROR" && words[1] == "68") {
                m_shared->status = kStatusRefused;
                THROW_SKYPE("Connection refused from Skype");
            }
            m_shared->status = kStatusNotAvailable;
            THROW_SKYPE("Skype API not available");
        }
        TRACE("CSkypeConnection::Attach() no answer: %s", error ? error->message : "");
        const bool timeout = IsTimeout(error);
        const bool noOwner = IsNoOwner(error);
        const bool closed = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CLOSED);
        g_clear_error(&error);
        if (timeout) {
            THROW_SKYPE("Timeout attaching to Skype");
        }
        if (closed) {
            THROW_SKYPE("Unable to boradcast to Skype");
        }
        if (!noOwner) {
            m_shared->status = kStatusNotAvailable;
            THROW_SKYPE("Skype API not available");
        }
        // The client is not running: wait for it to appear, then ask again.
        if (m_shared->status.load() != kStatusAvailable) {
            m_shared->status = -1;
        }
        elapsed = ElapsedSince(startTick);
        if (elapsed >= m_waitMs || !WaitOrCut(m_shared->attachEvent, m_waitMs - elapsed)) {
            THROW_SKYPE("Timeout attaching to Skype");
        }
    }
}

std::string CSkypeConnection::Invoke(const std::string& command, uint32_t timeoutMs,
                                     const char* timeoutMessage) {
    std::string client;
    if (m_shared) {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        client = m_shared->client;
    }
    if (!m_connection || client.empty()) {
        if (m_shared) {
            m_shared->status = -1;
        }
        THROW_SKYPE("Disconnected from Skype during send");
    }
    GError* error = nullptr;
    GDBusMessage* reply = CallInvoke(m_connection, client.c_str(), command,
                                     static_cast<uint32_t>(ActionTimeLeftMs(timeoutMs)), &error);
    if (!reply) {
        TRACE("CSkypeConnection: command failed: %s", error ? error->message : "");
        const bool timeout = IsTimeout(error);
        g_clear_error(&error);
        if (timeout) {
            THROW_SKYPE(timeoutMessage);
        }
        m_shared->status = -1;
        THROW_SKYPE("Disconnected from Skype during send");
    }
    std::string text = ReplyText(reply);
    g_object_unref(reply);
    TRACE("CSkypeConnection: reply '%s'", text.c_str());
    m_shared->Queue(text);
    return text;
}

bool CSkypeConnection::NextReply(uint32_t startTick, std::string& reply) {
    uint32_t elapsed = ElapsedSince(startTick);
    if (elapsed >= m_waitMs || !WaitOrCut(m_shared->replySemaphore, m_waitMs - elapsed)) {
        return false;
    }
    std::lock_guard<std::mutex> guard(m_shared->lock);
    if (m_shared->replies.empty()) {
        reply.clear();
        return true;
    }
    reply = std::move(m_shared->replies.front());
    m_shared->replies.pop_front();
    return true;
}

std::string CSkypeConnection::CreateChat(const std::string& recipient) {
    TRACE("CSkypeConnection::CreateChat() with %s", recipient.c_str());
    const uint32_t startTick = platform::GetTickCount32();
    Invoke("CHAT CREATE " + recipient, m_waitMs, "Timeout waiting for CHAT response");
    std::string reply;
    for (;;) {
        if (!NextReply(startTick, reply)) {
            THROW_SKYPE("Timeout waiting for CHAT response");
        }
        std::vector<std::string> words = Words(reply);
        if (words.size() >= 4 && words[0] == "CHAT" && words[2] == "STATUS" && words[3] == "DIALOG") {
            return words[1];
        }
        // The client's refusal ends the wait at once instead of running into the time-out.
        if (!words.empty() && words[0] == "ERROR") {
            THROW_SKYPE("Unable to create chat: " + reply);
        }
    }
}

bool CSkypeConnection::SendChatMessage(const std::string& chatId, const std::string& text) {
    TRACE("CSkypeConnection::SendChatMessage() to chat %s", chatId.c_str());
    const uint32_t startTick = platform::GetTickCount32();
    m_lastError.clear();
    Invoke("CHATMESSAGE " + chatId + " " + text, m_waitMs, "Timeout waiting for CHATMESSAGE response");
    std::string reply;
    for (;;) {
        if (!NextReply(startTick, reply)) {
            THROW_SKYPE("Timeout waiting for CHATMESSAGE response");
        }
        std::vector<std::string> words = Words(reply);
        if (words.size() >= 4 && words[0] == "MESSAGE" && words[2] == "STATUS" && words[3] == "SENDING") {
            return true;
        }
        if (!words.empty() && words[0] == "ERROR") {
            m_lastError = reply;
            return false;
        }
    }
}

void CSkypeConnection::Close() {
    if (m_connection) {
        TRACE("CSkypeConnection::Close() called");
        if (m_filterId) {
            g_dbus_connection_remove_filter(m_connection, m_filterId);
            m_filterId = 0;
        }
        g_dbus_connection_close_sync(m_connection, nullptr, nullptr);
        g_object_unref(m_connection);
        m_connection = nullptr;
    }
}
