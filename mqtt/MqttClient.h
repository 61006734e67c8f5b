#pragma once
// CMqttClient: one connection to an MQTT broker on libmosquitto, for the node's own messages, the
// publish action and the fleet commands.
//
// libmosquitto runs its own network thread (mosquitto_loop_start), which connects, re-connects
// with a growing delay (1 s doubling up to 30 s) and calls the handlers given here. Publish never
// waits for the network: while the broker is gone the messages wait in a bounded queue in memory
// (the oldest dropped and counted) and go out, in order, as soon as the connection is back. Every
// message is sent with QoS 1. The log says when the broker went and when it came back; the
// password is never written anywhere.
//
// Threads: Publish, IsConnected and GetStats from any thread; Start and Stop from the owner's
// thread. The handlers run on the network thread and must not call Stop.
// Locks: m_lock (the queue and the connection flag) is taken before libmosquitto's own locks,
// never the other way round; m_ackLock is innermost.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;

class CMqttClient {
public:
    struct COptions {
        std::string host;
        uint16_t port = 1883;
        std::string user;
        std::string password;
        bool tls = false;
        std::string clientId;
        // False: the broker keeps the subscriptions and the QoS 1 messages for this client id
        // while it is away.
        bool cleanSession = true;
        // The last will: sent by the broker when the connection breaks without a goodbye.
        std::string willTopic;
        std::string willPayload;
        bool willRetain = true;
        size_t queueLimit = 1000;
        int keepAliveSeconds = 30;
        unsigned reconnectMinSeconds = 1;
        unsigned reconnectMaxSeconds = 30;
    };
    struct CStats {
        uint64_t published = 0; // handed to the connection
        uint64_t queued = 0;    // waiting now for the broker
        uint64_t dropped = 0;   // dropped from a full queue since the start
        uint64_t connects = 0;  // successful connections
    };
    // text, error: where the client's news go (the notification log, standard error).
    using LogFn = std::function<void(const std::string& text, bool error)>;
    using MessageFn =
        std::function<void(const std::string& topic, const std::string& payload, bool retained)>;

    CMqttClient(COptions options, LogFn log);
    ~CMqttClient();
    CMqttClient(const CMqttClient&) = delete;
    CMqttClient& operator=(const CMqttClient&) = delete;

    // Before Start: messages of the subscribed topics; called after each successful connect,
    // once the subscriptions are sent and before the queue is sent (the node announces itself
    // there).
    void SetMessageHandler(MessageFn handler) { m_onMessage = std::move(handler); }
    void SetConnectHandler(std::function<void()> handler) { m_onConnect = std::move(handler); }
    // Subscribed now when connected, and again after every re-connect.
    void Subscribe(const std::string& pattern);

    // Starts the network thread and the first connection attempt. False with the reason when the
    // client cannot be set up at all (bad options); an unreachable broker is not a failure: the
    // client keeps trying.
    bool Start(std::string* error = nullptr);
    // Publishes the goodbye (if given, waiting for the broker's acknowledgement up to the time
    // given), disconnects and ends the network thread. Runs once.
    void Stop(const std::string& goodbyeTopic = {}, const std::string& goodbyePayload = {},
              int waitMs = 2000);

    // QoS 1; never blocks on the network.
    void Publish(const std::string& topic, const std::string& payload, bool retain);
    // Publishes and waits until the broker acknowledged it; false on time-out or when the broker
    // is not connected.
    bool PublishAndWait(const std::string& topic, const std::string& payload, bool retain, int waitMs);
    bool IsConnected() const;
    bool WaitConnected(int waitMs) const;
    CStats GetStats() const;
    const COptions& GetOptions() const { return m_options; }
    std::string BrokerText() const;

private:
    struct CMessage {
        std::string topic;
        std::string payload;
        bool retain = false;
    };
    static void OnConnect(mosquitto* mosq, void* self, int rc);
    static void OnDisconnect(mosquitto* mosq, void* self, int rc);
    static void OnPublish(mosquitto* mosq, void* self, int mid);
    static void OnMessage(mosquitto* mosq, void* self, const mosquitto_message* message);
    void HandleConnect(int rc);
    void HandleDisconnect(int rc);
    // With m_lock held.
    bool SendLocked(const CMessage& message, int* mid);
    void QueueLocked(CMessage message);
    bool TryConnect();
    bool StartLoop(std::string* error);
    void Log(const std::string& text, bool error) const;
    void LogFailureOnce(const std::string& text);

    const COptions m_options;
    LogFn m_log;
    MessageFn m_onMessage;
    std::function<void()> m_onConnect;
    mosquitto* m_mosq = nullptr;
    bool m_started = false;
    bool m_stopped = false;
    std::thread m_starter; // first connection attempts, until one gets under way

    mutable std::mutex m_lock; // guards everything below up to m_ackLock
    mutable std::condition_variable m_connectedChanged;
    bool m_connected = false;
    bool m_everConnected = false;
    bool m_stopping = false;
    bool m_loopRunning = false;
    bool m_lost = false;       // the broker went after a connection; cleared when it is back
    std::string m_lastFailure; // the last failure logged, so that retries do not repeat it
    uint64_t m_droppedSinceLoss = 0;
    std::deque<CMessage> m_queue;
    std::vector<std::string> m_subscriptions;
    CStats m_stats;

    std::mutex m_ackLock; // innermost: the acknowledgements awaited by PublishAndWait
    std::condition_variable m_acked;
    std::set<int> m_ackedMids;
};
