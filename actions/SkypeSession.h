#pragma once
// The link to the chat client for the chat-message action, over D-Bus on the session bus: the
// client offers the text-command interface (service "com.Skype.API", object "/com/Skype", method
// Invoke(s) -> s); we answer its notifications at "/com/Skype/Client" (method Notify(s)). Replies
// to our commands and the client's notifications go into one reply queue, counted by a semaphore,
// from which the waiting code takes them oldest first and drops what it does not look for.
//
// A connection lives for one execution of the action, on the thread that runs the chain. It uses
// a connection of its own to the bus, so it needs no main loop on that thread: notifications are
// taken by a message filter on GDBus's worker thread, which is why the queue is locked. Each wait
// (attach, chat creation, message) lasts at most the wait time-out, 10000 ms unless a test sets it;
// the waits for the client's notifications also end when the chain runner cuts the running actions
// short (ActionCutShort). A single D-Bus call still runs to its own time-out.
//
// Attach status, as the client's answers map onto it: -1 nothing heard yet; 1 our request is
// waiting for the user's authorisation (its answer has not come); 0 attached (the client answered
// "OK" to "NAME Tavrix"); 2 refused ("ERROR 68"); 3 interface not available (the client answered
// another error, or its bus name offers no such method); 0x8001 the client has just appeared on the
// bus, whereupon the request is sent again.

#include "platform/Sync.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

typedef struct _GDBusConnection GDBusConnection;

class CSkypeConnection {
public:
    static constexpr uint32_t kDefaultWaitMs = 10000;
    static constexpr int kStatusAttached = 0;
    static constexpr int kStatusPending = 1;
    static constexpr int kStatusRefused = 2;
    static constexpr int kStatusNotAvailable = 3;
    static constexpr int kStatusAvailable = 0x8001;

    static constexpr const char* kServiceName = "com.Skype.API";
    static constexpr const char* kObjectPath = "/com/Skype";
    static constexpr const char* kInterface = "com.Skype.API";
    static constexpr const char* kClientObjectPath = "/com/Skype/Client";
    static constexpr const char* kClientInterface = "com.Skype.API.Client";
    static constexpr const char* kApplicationName = "Tavrix";

    explicit CSkypeConnection(uint32_t waitMs = DefaultWaitMs());
    ~CSkypeConnection();
    CSkypeConnection(const CSkypeConnection&) = delete;
    CSkypeConnection& operator=(const CSkypeConnection&) = delete;

    // Returns when the client has attached us, or throws CSkypeEx.
    void Attach();
    // "CHAT CREATE " + recipient; returns the chat identifier, or throws.
    std::string CreateChat(const std::string& recipient);
    // "CHATMESSAGE " + chat + " " + text; true when the client reports the message as being sent,
    // false when it answers with an error (GetLastError() then holds that answer). Throws on time-out
    // or when the client is gone.
    bool SendChatMessage(const std::string& chatId, const std::string& text);
    // Leaves the bus; no notification reaches this object afterwards. Called again, does nothing.
    void Close();

    int GetAttachStatus() const;
    // The client's error answer of the last SendChatMessage that returned false.
    const std::string& GetLastError() const { return m_lastError; }

    // The wait time-out of new connections (tests shorten it).
    static void SetDefaultWaitMs(uint32_t waitMs) { s_defaultWaitMs = waitMs; }
    static uint32_t DefaultWaitMs() { return s_defaultWaitMs; }

    struct Shared; // state shared with the message filter

private:
    std::string Invoke(const std::string& command, uint32_t timeoutMs, const char* timeoutMessage);
    // Takes the oldest reply, waiting until the deadline (a tick); false when the time is up.
    bool NextReply(uint32_t startTick, std::string& reply);

    static std::atomic<uint32_t> s_defaultWaitMs;
    const uint32_t m_waitMs;
    GDBusConnection* m_connection = nullptr;
    unsigned m_filterId = 0;
    std::shared_ptr<Shared> m_shared;
    std::string m_lastError;
};
